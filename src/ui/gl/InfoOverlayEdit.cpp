#include "InfoOverlayEdit.h"

#include <QFontMetrics>

namespace {
constexpr int kBorder = 1; // one border line, pixels
}

CInfoOverlayEdit::CInfoOverlayEdit(QWidget* parent) : QLabel(parent)
{
    setFrameShape(QFrame::Box);
    setLineWidth(kBorder);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setTextInteractionFlags(Qt::NoTextInteraction);
    const QFontMetrics metrics(font());
    m_nWindowHeight = metrics.height() + metrics.leading() + 6 * kBorder;
    hide();
}

void CInfoOverlayEdit::SetText(const QString& text)
{
    if (text == m_previous)
        return;
    m_previous = m_current;
    m_current = text;
}

QPoint CInfoOverlayEdit::Place(const QPoint& cursor, int estimatedWidth, int lineHeight, const QSize& parent)
{
    int x = cursor.x() + 20;
    int y = cursor.y() + 20;
    if (x + estimatedWidth > parent.width())
        x = parent.width() - estimatedWidth;
    if (y + lineHeight > parent.height())
        y = parent.height() - lineHeight;
    return {x, y};
}

bool CInfoOverlayEdit::ShowAt(const QPoint& cursor)
{
    if (m_current == m_previous)
        return false;
    m_bShown = false;
    hide();
    const QFontMetrics metrics(font());
    const int extent = metrics.horizontalAdvance(m_current);
    const int estimated = metrics.averageCharWidth() * int(m_current.size());
    const QSize parent = parentWidget() ? parentWidget()->size() : QSize(0, 0);
    const QPoint at = Place(cursor, estimated, metrics.height(), parent);
    setText(m_current);
    setGeometry(at.x(), at.y(), extent + 6 * kBorder, m_nWindowHeight);
    m_bShown = true;
    show();
    raise();
    return true;
}

void CInfoOverlayEdit::HideLabel()
{
    m_bShown = false;
    hide();
}
