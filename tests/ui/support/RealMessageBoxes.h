// The program's message boxes shown as the real Qt boxes while an object of
// this class lives; each box is answered as soon as it is up, and the
// window it belongs to is recorded.
#pragma once

#include "Message.h"

#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWindow>

#include <vector>

class RealMessageBoxes {
public:
    explicit RealMessageBoxes(QMessageBox::StandardButton answer);
    ~RealMessageBoxes();
    RealMessageBoxes(const RealMessageBoxes&) = delete;
    RealMessageBoxes& operator=(const RealMessageBoxes&) = delete;

    struct Box {
        QString text;
        QPointer<QWidget> parent;        // the box's parent widget
        QPointer<QWindow> transientFor;  // the window the box stays above
        QPixmap picture;
    };
    std::vector<Box> shown;

private:
    MessageBoxHandler old;
    QTimer poll;
};
