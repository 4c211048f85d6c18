// Small builders for the geometry dialogs: controls named "id" + their id.
#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace dialog_layout {

inline QLineEdit* Edit(int id, bool readOnly = false)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(QStringLiteral("id%1").arg(id));
    edit->setReadOnly(readOnly);
    return edit;
}

// A label and an edit on one row of the grid.
inline QLineEdit* Row(QGridLayout* grid, int row, int column, const QString& label, int id, bool readOnly = false)
{
    grid->addWidget(new QLabel(label), row, column);
    QLineEdit* edit = Edit(id, readOnly);
    grid->addWidget(edit, row, column + 1);
    return edit;
}

inline QPushButton* Button(const QString& text, int id)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QStringLiteral("id%1").arg(id));
    return button;
}

} // namespace dialog_layout
