#include "CentroidWindow.h"

#include "ImageView.h"

#include <QCloseEvent>
#include <QPainter>
#include <QTimer>

CCentroidWindow::CCentroidWindow(CImageView* owner) : QWidget(owner, Qt::Tool), view(owner)
{
    setObjectName(QStringLiteral("id109"));
    setWindowTitle(QStringLiteral("Centroid Window"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(200, 200);
}

void CCentroidWindow::PlaceAtView()
{
    const QPoint bottomLeft = view->viewport()->mapToGlobal(view->viewport()->rect().bottomLeft());
    const QRect frame = frameGeometry();
    move(bottomLeft.x(), bottomLeft.y() - frame.height() + 1);
}

void CCentroidWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    view->DrawMagnified(painter, rect());
}

void CCentroidWindow::mouseDoubleClickEvent(QMouseEvent*)
{
    QTimer::singleShot(0, view, [v = view] { v->CloseCentroidWindow(); });
}

void CCentroidWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    QTimer::singleShot(0, view, [v = view] { v->CloseCentroidWindow(); });
}
