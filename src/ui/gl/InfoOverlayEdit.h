// A read-only label in the tooltip colours that an OpenGL window puts next
// to the cursor. It keeps the text shown and the one before, so that
// hovering the same object again leaves it in place.
#pragma once

#include <QLabel>
#include <QString>

class CInfoOverlayEdit : public QLabel {
public:
    explicit CInfoOverlayEdit(QWidget* parent = nullptr);

    // Height of the label: one line of the font and the borders.
    int GetWindowHeight() const { return m_nWindowHeight; }
    void SetText(const QString& text);
    // Moves the label 20 pixels right of and below the cursor, kept inside
    // the parent at its right and bottom edges, and shows it. False when the
    // text did not change (the label stays as it is).
    bool ShowAt(const QPoint& cursor);
    void HideLabel();

    const QString& GetCurrentText() const { return m_current; }
    const QString& GetPreviousText() const { return m_previous; }
    bool IsShown() const { return m_bShown; }

    // Where the label of a text extent goes for the cursor in a parent of
    // the size; no shift at the left or top edge.
    static QPoint Place(const QPoint& cursor, int estimatedWidth, int lineHeight, const QSize& parent);

private:
    bool m_bShown = false;
    int m_nWindowHeight = 0;
    QString m_current;
    QString m_previous;
};
