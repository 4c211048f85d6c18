// The modal dialogs of the menus, each with the place where the user finds
// its command, and the user's way to that place on the sample project.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class CImageView;
class CKestrelonApp;
class CMainFrame;

// Where the user finds the command.
enum MenuPlace { MAIN_MENU, TREE_MENU, IMAGE_WINDOW_MENU, IMAGE_CONTEXT_MENU, PANE_MENU };

struct MenuDialogRow {
    const char* what;
    const char* title;              // of the modal window shown
    int command;                    // the command's id
    MenuPlace place;
    const char* treeItem = nullptr; // the tree item whose context menu holds the command
    const char* parent = nullptr;   // the item's parent, when the name is not unique
    int selectedRows = 0;           // PANE_MENU: the tree item's list, with its first rows selected
    int pressFirst = 0;             // a button of the dialog clicked before the test's step
};

const std::vector<MenuDialogRow>& MenuDialogRows();

void PrintTo(const MenuDialogRow& row, std::ostream* out);
// The row's name as a test name: its letters and digits.
std::string MenuRowName(const MenuDialogRow& row);

// What the rows need of the opened sample: a database camera for its context
// menu, and the database cameras list in the right pane.
void PrepareSampleForMenuRows(CKestrelonApp& app);

// Does what the user does to reach the command: triggers the main menu's
// action, or right-clicks the tree item, the image window (view must show
// one) or the item's list in the right pane with its first rows selected.
// For a context menu the menu opens; choosing its entry is the caller's.
void OpenMenuPlace(CMainFrame* frame, const MenuDialogRow& row, CImageView* view);
