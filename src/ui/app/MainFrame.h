// The main window: MDI area, toolbar, status bar, the menus of the command
// tables, the routing of commands and the hub of user messages.
#pragma once

#include "CmdTarget.h"
#include "MessageHub.h"

#include <QMainWindow>
#include <QToolBar>

#include <map>

class CKestrelonView;
class CMDIChildWnd;
class CMainFrame;
class CProjectFrame;
class QComboBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMenu;

class CMainToolBar : public QToolBar {
public:
    explicit CMainToolBar(QWidget* parent);
    // The 33 slots with their pictures and the four embedded controls; false on failure.
    bool Init(CMainFrame* frame);

    QLineEdit* m_PointLabel = nullptr;     // 1854
    QLineEdit* m_PointIncrement = nullptr; // 1855
    QLineEdit* m_CentroidWindow = nullptr; // 1856
    QComboBox* m_ImageQuality = nullptr;   // 1857
};

class CMainFrame : public QMainWindow, public CCmdTarget, public CMessageTarget {
public:
    CMainFrame();
    ~CMainFrame() override;

    // Creates the toolbar, status bar and splash; false when that fails.
    bool LoadFrame();

    QMdiArea* GetMdiArea() const { return mdiArea; }
    // The active child: the MDI area's current window (also while the main
    // window is inactive), or null.
    CMDIChildWnd* MDIGetActive() const;
    // The project frame of the active document, and its tree view.
    CProjectFrame* GetProjectFrame() const;
    CKestrelonView* GetProjectTreeView() const;

    // The action of a command id (made on first use; object name "id" + id).
    QAction* GetAction(int id);
    // Runs the command through the routing chain.
    void OnCommandId(int id);
    // Offers the id to the active child's view, document and frame, then to
    // this frame and to the application; disables it when nobody takes it.
    bool RouteCommand(int id, CCmdUI* ui);
    // Runs every command's update handler.
    void UpdateCmdUI();
    // Shows the menu of the active child's template, else the main menu.
    void UpdateMenuBar();
    const MenuEntry* GetCurrentMenu() const { return currentMenu; }

    CMainToolBar* GetToolBar() const { return toolBar; }
    void SetPaneText(int pane, const QString& text);
    QString GetPaneText(int pane) const;
    // The caps lock and num lock panes show their text while the lock is on.
    void SetLockIndicators(bool capsLock, bool numLock);

    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

protected:
    // Follows the lock keys through the keyboard state of every key event.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenu(const MenuEntry* table, int count);
    void OpenResultFile(int id);
    QString ResultFilePath(int id) const;
    void RefreshRightPane();

    QMdiArea* mdiArea = nullptr;
    CMainToolBar* toolBar = nullptr;
    QLabel* panes[5] = {};
    std::map<int, QAction*> actions;
    const MenuEntry* currentMenu = nullptr;
};

CMainFrame* AfxGetMainFrame();
