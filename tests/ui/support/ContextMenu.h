// The user's way to a command of a context menu.
#pragma once

class QTreeWidget;
class QTreeWidgetItem;

// Right-clicks the item and chooses the command with the id in the menu that
// opens, as the user does (the command runs before this returns). False when
// no menu opened or it had no such enabled command.
bool ChooseFromContextMenu(QTreeWidget* tree, QTreeWidgetItem* item, int id);
