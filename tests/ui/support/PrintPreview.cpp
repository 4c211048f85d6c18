#include "PrintPreview.h"

#include <QAction>
#include <QApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTest>
#include <QTimer>

bool OnPrintPreview(QAction* entry, const std::function<void(QPrintPreviewDialog&, QPrintPreviewWidget*)>& steps)
{
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (shown || !dialog || !QTest::qWaitForWindowExposed(dialog))
            return;
        shown = true;
        QTest::qWait(100);
        steps(*dialog, dialog->findChild<QPrintPreviewWidget*>());
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    poll.start();
    QTimer::singleShot(10000, [&] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    entry->trigger();
    poll.stop();
    return shown;
}
