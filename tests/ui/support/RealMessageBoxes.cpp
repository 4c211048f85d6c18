#include "RealMessageBoxes.h"

#include "Hooks.h"

#include <QAbstractButton>
#include <QApplication>

RealMessageBoxes::RealMessageBoxes(QMessageBox::StandardButton answer)
{
    old = SetMessageBoxHandler(nullptr);
    InstallQtMessageBoxes();
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [this, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("answered").toBool())
            return;
        box->setProperty("answered", true);
        shown.push_back({box->text(), box->parentWidget(), box->windowHandle() ? box->windowHandle()->transientParent() : nullptr,
                         box->grab()});
        QAbstractButton* button = box->button(answer);
        if (!button)
            button = box->buttons().value(0);
        if (button)
            button->click();
    });
    poll.start();
}

RealMessageBoxes::~RealMessageBoxes()
{
    poll.stop();
    SetMessageBoxHandler(old);
}
