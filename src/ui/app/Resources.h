// Resource ids and fixed texts of the application shell.
#pragma once

#include "CmdTarget.h"

enum : int {
    IDR_MAINFRAME = 119,
    IDR_PROJECTTYPE = 125,
    IDD_ABOUTBOX = 100,

    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_CONTEXT_HELP = 57669,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,

    ID_RESECT_ALL = 32870,
    ID_HELP_MANUAL = 33043,
    ID_RESULTS_RESECTION = 32942,
    ID_RESULTS_BUNDLE = 32889,
    ID_RESULTS_CAMERA = 32890,
    ID_RESULTS_RESIDUALS = 32897,
    ID_RESULTS_CORRELATIONS = 32940,
    ID_RESULTS_TRANS = 32971,
    ID_RESULTS_TRIANGULATE = 33041,

    IDC_POINT_LABEL = 1854,
    IDC_POINT_INCREMENT = 1855,
    IDC_CENTROID_WINDOW = 1856,
    IDC_IMAGE_QUALITY = 1857,

    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
    ID_PANE_3 = 59144,
    ID_PANE_4 = 59143,
};

constexpr int kRecentFileCount = 4;

// Document string of the project template.
extern const char kProjectDocString[];

// The menus: 119 without a project, 125 with one.
extern const MenuEntry kMainMenu[];
extern const int kMainMenuCount;
extern const MenuEntry kProjectMenu[];
extern const int kProjectMenuCount;

// The 33 toolbar slots: a command id, or a separator (id 0) of a width (0: standard).
struct ToolbarSlot {
    int id;
    int width;
    const char* tooltip;
};
extern const ToolbarSlot kToolbarSlots[];
constexpr int kToolbarSlotCount = 33;
