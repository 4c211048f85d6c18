#include "CmdTarget.h"

#include <QAction>

void CCmdUI::Enable(bool on)
{
    enabled = on;
    if (m_pAction)
        m_pAction->setEnabled(on);
}

void CCmdUI::SetCheck(int value)
{
    check = value;
    if (m_pAction) {
        m_pAction->setCheckable(true);
        m_pAction->setChecked(value != 0);
    }
}

void CCmdUI::SetText(const QString& value)
{
    textSet = true;
    text = value;
    if (m_pAction)
        m_pAction->setText(value);
}

bool CCmdTarget::OnCmdMsg(int id, CCmdUI* ui)
{
    if (ui) {
        auto u = updates.find(id);
        if (u != updates.end()) {
            ui->Enable(true);
            u->second(ui);
            return true;
        }
        if (commands.count(id)) {
            ui->Enable(true);
            return true;
        }
        return false;
    }
    auto c = commands.find(id);
    if (c == commands.end())
        return false;
    Handler h = c->second; // the handler may change the table
    h();
    return true;
}

bool RouteCmdMsg(std::initializer_list<CCmdTarget*> chain, int id, CCmdUI* ui)
{
    for (CCmdTarget* target : chain)
        if (target && target->OnCmdMsg(id, ui))
            return true;
    if (ui)
        ui->Enable(false);
    return false;
}

int ActionId(const QAction* action)
{
    return action ? action->data().toInt() : 0;
}

QString IdName(int id)
{
    return QStringLiteral("id%1").arg(id);
}
