#include "ContextMenu.h"

#include "CmdTarget.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

bool ChooseFromPopup(const std::function<void()>& open, const std::function<bool(const QAction*)>& match)
{
    bool chosen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        for (QAction* action : menu->actions())
            if (action->isEnabled() && match(action)) {
                menu->setActiveAction(action);
                chosen = true;
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        menu->close();
    });
    poll.start();
    open();
    poll.stop();
    return chosen;
}

bool ChooseFromContextMenu(QTreeWidget* tree, QTreeWidgetItem* item, int id)
{
    if (!tree || !item)
        return false;
    tree->scrollToItem(item);
    const QPoint at = tree->visualItemRect(item).center();
    return ChooseFromPopup(
        [&] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(tree->viewport(), &event);
        },
        [id](const QAction* action) { return ActionId(action) == id; });
}

void DragItem(QTreeWidget* tree, QTreeWidgetItem* from, QTreeWidgetItem* onto,
              const std::function<void()>& beforeRelease)
{
    tree->scrollToItem(from);
    const QPoint a = tree->visualItemRect(from).center();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, a);
    QTest::mouseMove(tree->viewport(), a + QPoint(0, 12));
    tree->scrollToItem(onto);
    const QPoint b = tree->visualItemRect(onto).center();
    QTest::mouseMove(tree->viewport(), b);
    if (beforeRelease)
        beforeRelease();
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, b);
}
