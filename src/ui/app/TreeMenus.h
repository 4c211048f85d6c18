// The tree's context menus: the popups of menu 154 that the project tree
// uses, as data tables, and the menu operations that trim them. Positions
// count separators and submenus, as the menu's own positions do.
#pragma once

#include "CmdTarget.h"

class QAction;
class QMenu;
class QString;
class QWidget;

// Commands of the tree's popups.
enum TreeCommand : int {
    ID_TREE_CREATE_EMPTY_IMAGES = 332,
    ID_TREE_EXPORT_STATIONS = 334,
    ID_TREE_IMPORT_STATIONS = 335,
    ID_TREE_ADD_STATIONS_AS_POINTS = 338,
    ID_TREE_MAKE_COPY = 339,
    ID_TREE_EXPORT_DXF = 341,
    ID_TREE_INTENSITY_TEXT = 381,
    ID_TREE_EDIT_EO = 32851,
    ID_TREE_DB_VIEW_CAMERA = 32862,
    ID_TREE_DB_REMOVE_CAMERA = 32867,
    ID_TREE_DELETE_ALL_OBS = 32876,
    ID_TREE_DELETE_IMAGE = 32878,
    ID_TREE_DISPLAY_IMAGE = 32879,
    ID_TREE_PRJ_VIEW_CAMERA = 32881,
    ID_TREE_PRJ_REMOVE_CAMERA = 32883,
    ID_TREE_DB_ADD_CAMERA = 32884,
    ID_TREE_BRIGHTNESS_BASE = 32899,
    ID_TREE_IMAGE_COORD_DIR = 32934,
    ID_TREE_DB_ADD_SCALEBAR = 32935,
    ID_TREE_DB_REMOVE_SCALEBAR = 32937,
    ID_TREE_RESECT = 32948,
    ID_TREE_IMAGE_FILE_DIR = 32949,
    ID_TREE_DISABLE_IMAGE = 32965,
    ID_TREE_IMPORT_DRIVEBACK = 32968,
    ID_TREE_IMPORT_CONTROL = 32969,
    ID_TREE_TRANSFORM = 32970,
    ID_TREE_IMPORT_3D = 32972,
    ID_TREE_SET_DRIVER = 32974,
    ID_TREE_SET_CONTROL = 32975,
    ID_TREE_GRAPHIC_VIEW = 32979,
    ID_TREE_NEW_3D = 33003,
    ID_TREE_INCREASE_RESIDUALS = 33011,
    ID_TREE_DECREASE_RESIDUALS = 33012,
    ID_TREE_DISTORTION_PROFILES = 33014,
    ID_TREE_VIEW_RESIDUALS = 33017,
    ID_TREE_AUTOSCAN_ALL = 33026,
    ID_TREE_IMPORT_EO_DEVICE = 33039,
    ID_TREE_QUALITY = 33048,
    ID_TREE_UPDATE_DB_CAMERA = 33049,
    ID_TREE_BALANCED_DISTORTION = 33069,
    ID_TREE_DB_REMOVE_EO_DEVICE = 33072,
    ID_TREE_DB_EO_PROPERTIES = 33073,
    ID_TREE_DB_ADD_EO_DEVICE = 33074,
    ID_TREE_DB_IMPORT_EO_DEVICE = 33075,
    ID_TREE_SET_PROPERTIES = 33076,
    ID_TREE_COMPARE = 33079,
    ID_TREE_ALIGN_TO_CAMERA = 33082,
    ID_TREE_OPEN_SELECTED = 33096,
};

// Commands of the main menu that the tree takes or turns off.
enum TreeMainMenuCommand : int {
    ID_TREE_MAGNIFIED_VIEW = 32809,
    ID_TREE_DRIVEBACK = 32872,
    ID_TREE_FULL_VIEW = 32896,
};

// Popup positions in menu 154.
enum TreePopupPosition : int {
    POPUP_DB_CAMERA = 0,
    POPUP_IMAGE = 1,
    POPUP_DB_ROOT = 3,
    POPUP_PRJ_CAMERA = 5,
    POPUP_DB_SCALEBAR_ROOT = 6,
    POPUP_DB_SCALEBAR = 7,
    POPUP_3D_DATA = 8,
    POPUP_POINT_SET = 9,
    POPUP_DB_EO_DEVICE = 17,
    POPUP_DB_EO_DEVICE_ROOT = 18,
};

// One popup: level 0 entries are its items, level 1 entries the items of the
// submenu opened by the level 0 entry before them (id 0, with a text).
struct TreePopup {
    int position;
    const char* title;
    const MenuEntry* entries;
    int count;
};
extern const TreePopup kTreePopups[];
extern const int kTreePopupCount;

// The popup at that position of menu 154 as a new menu; null for a position
// the tree does not use. Each item's action carries its command id.
QMenu* LoadTreePopup(int position, QWidget* parent);

// The menu operations of the trimming, each on the menu's own items.
void DeleteMenuAt(QMenu* menu, int position);
bool DeleteMenuCommand(QMenu* menu, int id);
QAction* InsertMenuAt(QMenu* menu, int position, int id, const QString& text);
void EnableMenuCommand(QMenu* menu, int id, bool enabled);
void EnableMenuAt(QMenu* menu, int position, bool enabled);
void CheckMenuAt(QMenu* menu, int position, bool checked);
// The command's action anywhere in the menu or its submenus; null when none.
QAction* FindMenuCommand(QMenu* menu, int id);

// What a drop does, by where the dragged item hangs and where it lands.
enum TreeNode : int { NODE_OTHER, NODE_DATABASE, NODE_CAMERA_DB, NODE_SCALEBAR_DB, NODE_EO_DB, NODE_PROJECT,
                      NODE_3D_DATA, NODE_SCALEBARS };
enum DropAction : int { DROP_NOTHING, DROP_BEEP, DROP_CAMERA_TO_PROJECT, DROP_SCALEBAR_TO_PROJECT,
                        DROP_EO_DEVICE_TO_PROJECT, DROP_CAMERA_TO_DATABASE, DROP_EO_DEVICE_TO_DATABASE };
// draggedParent: the node the dragged item hangs under; eoDevice: the dragged
// item shows the project EO device's icon; target: the node dropped on;
// ownBranch: the target is the dragged item, inside it or its parent.
DropAction GetDropAction(TreeNode draggedParent, bool eoDevice, TreeNode target, bool ownBranch);

// The tree's beep; tests install a hook in place of QApplication::beep.
using TreeBeepHook = void (*)();
TreeBeepHook SetTreeBeepHook(TreeBeepHook hook);
void TreeBeep();
