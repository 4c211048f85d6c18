// Command routing: every menu command and toolbar button is a QAction named
// "id" + its command id. A command is offered to a chain of targets (focused
// pane, document, child frame, main frame, application), each with its own
// tables of command and update handlers; the first that knows the id takes it.
#pragma once

#include <QString>

#include <functional>
#include <map>

class QAction;
class QMenu;
class QWidget;

// What an update handler sets on a command's menu item or button.
class CCmdUI {
public:
    explicit CCmdUI(int id, QAction* action = nullptr) : m_nID(id), m_pAction(action) {}

    void Enable(bool on = true);
    void SetCheck(int check = 1);
    void SetText(const QString& text);

    const int m_nID;
    QAction* const m_pAction; // null when the state is only asked for
    bool enabled = false;
    int check = -1; // -1: not set
    bool textSet = false;
    QString text;
};

class CCmdTarget {
public:
    using Handler = std::function<void()>;
    using UpdateHandler = std::function<void(CCmdUI*)>;

    virtual ~CCmdTarget() = default;

    void OnCommand(int id, Handler handler) { commands[id] = std::move(handler); }
    void OnUpdate(int id, UpdateHandler handler) { updates[id] = std::move(handler); }
    // True when this target runs the command; an update rule of a command
    // that nothing runs yet uses it to stay disabled.
    bool HasCommandHandler(int id) const { return commands.count(id) != 0; }

    // With ui null runs the command; with ui runs its update handler (a
    // command without one is enabled). True when this target knows the id.
    virtual bool OnCmdMsg(int id, CCmdUI* ui);

private:
    std::map<int, Handler> commands;
    std::map<int, UpdateHandler> updates;
};

// Offers the id to each target in turn; a null entry is skipped. True when
// one of them took it. With ui and no taker, the command is disabled.
bool RouteCmdMsg(std::initializer_list<CCmdTarget*> chain, int id, CCmdUI* ui);

// A menu as a data table: popups open a level, items carry their command id,
// separators have id 0 and no text.
struct MenuEntry {
    int level;        // 0: a popup of the menu bar; 1: an entry of it; ...
    const char* text; // "&Project"; null for a separator
    int id;           // command id; 0 for a popup or separator
};
constexpr int kMenuPopup = 0;

// The command id an action carries, or 0.
int ActionId(const QAction* action);
// Object name of the action or control of an id: "id" + the number.
QString IdName(int id);
