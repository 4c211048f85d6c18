// The user's ways with menus and tree items: a command of a context menu,
// a drag with the mouse.
#pragma once

#include <functional>

class QAction;
class QTreeWidget;
class QTreeWidgetItem;

// Runs open (which makes a popup menu appear, as a right click does) and
// chooses in that menu the first enabled entry that match accepts, with the
// keyboard. False when no menu opened or none of its enabled entries matched.
bool ChooseFromPopup(const std::function<void()>& open, const std::function<bool(const QAction*)>& match);

// Right-clicks the item and chooses the command with the id in the menu that
// opens, as the user does (the command runs before this returns). False when
// no menu opened or it had no such enabled command.
bool ChooseFromContextMenu(QTreeWidget* tree, QTreeWidgetItem* item, int id);

// Drags the item onto the other with the mouse: press, move, release. The
// check, when given, runs over the target before the button is released.
void DragItem(QTreeWidget* tree, QTreeWidgetItem* from, QTreeWidgetItem* onto,
              const std::function<void()>& beforeRelease = {});
