#include "TreeMenus.h"

#include <QApplication>
#include <QMenu>

namespace {

QAction* MakeAction(QMenu* menu, int id, const QString& text)
{
    auto* action = new QAction(text, menu);
    action->setData(id);
    action->setObjectName(IdName(id));
    return action;
}

const MenuEntry kDBCamera[] = {
    {0, "View Camera Data\tAlt+Return", ID_TREE_DB_VIEW_CAMERA},
    {0, "Remove This Camera From Database", ID_TREE_DB_REMOVE_CAMERA},
    {0, "Distortion Profiles", ID_TREE_DISTORTION_PROFILES},
};
const MenuEntry kImage[] = {
    {0, "Edit Exterior Orientation\tAlt+Return", ID_TREE_EDIT_EO},
    {0, "Resect", ID_TREE_RESECT},
    {0, "Delete All Observations", ID_TREE_DELETE_ALL_OBS},
    {0, "Delete Image", ID_TREE_DELETE_IMAGE},
    {0, "Display Image", ID_TREE_DISPLAY_IMAGE},
    {0, "Disable Image", ID_TREE_DISABLE_IMAGE},
    {0, "Low Quality Image", ID_TREE_QUALITY},
    {0, "Brightness", 0},
    {1, "base", ID_TREE_BRIGHTNESS_BASE},
    {0, "Align to Camera", ID_TREE_ALIGN_TO_CAMERA},
    {0, nullptr, 0},
    {0, "View Residuals", ID_TREE_VIEW_RESIDUALS},
    {0, "Increase Residuals\tAlt + =", ID_TREE_INCREASE_RESIDUALS},
    {0, "Decrease Residuals\tAlt + -", ID_TREE_DECREASE_RESIDUALS},
    {0, nullptr, 0},
    {0, "Output View as Intensity Text file", ID_TREE_INTENSITY_TEXT},
};
const MenuEntry kDBRoot[] = {
    {0, "Add Camera to Database", ID_TREE_DB_ADD_CAMERA},
};
const MenuEntry kPRJCamera[] = {
    {0, "View Camera Data\tAlt+Return", ID_TREE_PRJ_VIEW_CAMERA},
    {0, "Remove Camera From Project", ID_TREE_PRJ_REMOVE_CAMERA},
    {0, "Distortion Profiles", ID_TREE_DISTORTION_PROFILES},
    {0, "Generate Balanced Distortion Profile...", ID_TREE_BALANCED_DISTORTION},
    {0, "Update Camera in Database", ID_TREE_UPDATE_DB_CAMERA},
    {0, nullptr, 0},
    {0, "Set Image File Directory", ID_TREE_IMAGE_FILE_DIR},
    {0, "Set Image Coordinate File Directory", ID_TREE_IMAGE_COORD_DIR},
    {0, nullptr, 0},
    {0, "Create Empty Images", ID_TREE_CREATE_EMPTY_IMAGES},
    {0, "Export Station Data", ID_TREE_EXPORT_STATIONS},
    {0, "Import Station Data", ID_TREE_IMPORT_STATIONS},
    {0, nullptr, 0},
    {0, "AutoScan All Images", ID_TREE_AUTOSCAN_ALL},
};
const MenuEntry kDBScaleBarRoot[] = {
    {0, "Add ScaleBar to DataBase", ID_TREE_DB_ADD_SCALEBAR},
};
const MenuEntry kDBScaleBar[] = {
    {0, "Remove ScaleBar from Database", ID_TREE_DB_REMOVE_SCALEBAR},
};
const MenuEntry kPRJ3DData[] = {
    {0, "Import", 0},
    {1, "3D Data File", ID_TREE_IMPORT_3D},
    {1, "Driveback File", ID_TREE_IMPORT_DRIVEBACK},
    {1, "Control Points File", ID_TREE_IMPORT_CONTROL},
    {1, "EO Device", ID_TREE_IMPORT_EO_DEVICE},
    {0, "New", ID_TREE_NEW_3D},
};
const MenuEntry k3DPt[] = {
    {0, "Set as", 0},
    {1, "Driver", ID_TREE_SET_DRIVER},
    {1, "Control", ID_TREE_SET_CONTROL},
    {0, "Transform", ID_TREE_TRANSFORM},
    {0, "Compare", ID_TREE_COMPARE},
    {0, "Graphic View", ID_TREE_GRAPHIC_VIEW},
    {0, "Export DXF...", ID_TREE_EXPORT_DXF},
    {0, nullptr, 0},
    {0, "Properties\tAlt+Return", ID_TREE_SET_PROPERTIES},
    {0, "Add Stations as Points", ID_TREE_ADD_STATIONS_AS_POINTS},
    {0, "Make Copy", ID_TREE_MAKE_COPY},
};
const MenuEntry kDBEODevice[] = {
    {0, "Remove EO Device from Database", ID_TREE_DB_REMOVE_EO_DEVICE},
    {0, nullptr, 0},
    {0, "Properties\tAlt+Return", ID_TREE_DB_EO_PROPERTIES},
};
const MenuEntry kDBEODeviceRoot[] = {
    {0, "Add EODevice to DataBase", ID_TREE_DB_ADD_EO_DEVICE},
    {0, "Import EO Device", ID_TREE_DB_IMPORT_EO_DEVICE},
};

#define POPUP(pos, title, table) {pos, title, table, int(sizeof(table) / sizeof(table[0]))}

} // namespace

const TreePopup kTreePopups[] = {
    POPUP(POPUP_DB_CAMERA, "DBCamera Dummy", kDBCamera),
    POPUP(POPUP_IMAGE, "Image Dummy", kImage),
    POPUP(POPUP_DB_ROOT, "DBRoot Dummy", kDBRoot),
    POPUP(POPUP_PRJ_CAMERA, "PRJCamera Dummy", kPRJCamera),
    POPUP(POPUP_DB_SCALEBAR_ROOT, "DBScaleBarRoot", kDBScaleBarRoot),
    POPUP(POPUP_DB_SCALEBAR, "DBScaleBarDummy", kDBScaleBar),
    POPUP(POPUP_3D_DATA, "PRJ3DDData Dummy", kPRJ3DData),
    POPUP(POPUP_POINT_SET, "3DPt Dummy", k3DPt),
    POPUP(POPUP_DB_EO_DEVICE, "DBEODevice", kDBEODevice),
    POPUP(POPUP_DB_EO_DEVICE_ROOT, "DBEODeviceRoot", kDBEODeviceRoot),
};
const int kTreePopupCount = int(sizeof(kTreePopups) / sizeof(kTreePopups[0]));

QMenu* LoadTreePopup(int position, QWidget* parent)
{
    for (const TreePopup& popup : kTreePopups) {
        if (popup.position != position)
            continue;
        auto* menu = new QMenu(QString::fromLatin1(popup.title), parent);
        QMenu* sub = nullptr;
        for (int i = 0; i < popup.count; ++i) {
            const MenuEntry& e = popup.entries[i];
            if (e.level == 1 && sub) {
                sub->addAction(MakeAction(sub, e.id, QString::fromLatin1(e.text)));
            } else if (!e.text) {
                menu->addSeparator();
            } else if (e.id == kMenuPopup) {
                sub = menu->addMenu(QString::fromLatin1(e.text));
            } else {
                menu->addAction(MakeAction(menu, e.id, QString::fromLatin1(e.text)));
            }
        }
        return menu;
    }
    return nullptr;
}

namespace {
QAction* At(QMenu* menu, int position)
{
    const QList<QAction*> actions = menu ? menu->actions() : QList<QAction*>();
    return position >= 0 && position < actions.size() ? actions[position] : nullptr;
}
} // namespace

void DeleteMenuAt(QMenu* menu, int position)
{
    if (QAction* action = At(menu, position)) {
        menu->removeAction(action);
        if (QMenu* sub = action->menu())
            sub->deleteLater();
        else if (action->parent() == menu)
            delete action;
    }
}

bool DeleteMenuCommand(QMenu* menu, int id)
{
    for (QAction* action : menu->actions()) {
        if (!action->menu() && ActionId(action) == id) {
            menu->removeAction(action);
            if (action->parent() == menu)
                delete action;
            return true;
        }
        if (action->menu() && DeleteMenuCommand(action->menu(), id))
            return true;
    }
    return false;
}

QAction* InsertMenuAt(QMenu* menu, int position, int id, const QString& text)
{
    QAction* action = MakeAction(menu, id, text);
    menu->insertAction(At(menu, position), action);
    return action;
}

QAction* FindMenuCommand(QMenu* menu, int id)
{
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = FindMenuCommand(sub, id))
                return found;
        } else if (ActionId(action) == id && !action->isSeparator()) {
            return action;
        }
    }
    return nullptr;
}

void EnableMenuCommand(QMenu* menu, int id, bool enabled)
{
    if (QAction* action = FindMenuCommand(menu, id))
        action->setEnabled(enabled);
}

void EnableMenuAt(QMenu* menu, int position, bool enabled)
{
    if (QAction* action = At(menu, position))
        action->setEnabled(enabled);
}

void CheckMenuAt(QMenu* menu, int position, bool checked)
{
    if (QAction* action = At(menu, position)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

DropAction GetDropAction(TreeNode draggedParent, bool eoDevice, TreeNode target, bool ownBranch)
{
    if (ownBranch)
        return DROP_NOTHING;
    auto onto = [target](std::initializer_list<TreeNode> allowed, DropAction action) {
        for (TreeNode node : allowed)
            if (node == target)
                return action;
        return DROP_BEEP;
    };
    switch (draggedParent) {
    case NODE_CAMERA_DB:
        return onto({NODE_PROJECT}, DROP_CAMERA_TO_PROJECT);
    case NODE_SCALEBAR_DB:
        return onto({NODE_PROJECT, NODE_SCALEBARS}, DROP_SCALEBAR_TO_PROJECT);
    case NODE_EO_DB:
        return onto({NODE_PROJECT, NODE_3D_DATA}, DROP_EO_DEVICE_TO_PROJECT);
    case NODE_PROJECT:
        return onto({NODE_CAMERA_DB, NODE_DATABASE}, DROP_CAMERA_TO_DATABASE);
    default:
        return eoDevice ? onto({NODE_EO_DB, NODE_DATABASE}, DROP_EO_DEVICE_TO_DATABASE) : DROP_NOTHING;
    }
}

namespace {
TreeBeepHook g_beepHook = nullptr;
}

TreeBeepHook SetTreeBeepHook(TreeBeepHook hook)
{
    TreeBeepHook old = g_beepHook;
    g_beepHook = hook;
    return old;
}

void TreeBeep()
{
    if (g_beepHook)
        g_beepHook();
    else
        QApplication::beep();
}
