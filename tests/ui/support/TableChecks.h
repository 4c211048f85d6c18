// What a user sees of the tables and check boxes of a dialog: texts cut
// short, captions beside their columns, the spot where a click ticks a box.
#pragma once

#include <QRect>

#include <string>

class QCheckBox;
class QLabel;
class QTableView;
class QWidget;

// The cells and headers of the table whose texts do not fit their columns
// (the text's width by the table's font against the column's width less the
// cell margins), and the columns that lie outside the table's visible part,
// one line each; empty when every text shows whole.
std::string CutCells(const QTableView* table);

// Where the caption's text does not stand over the columns first to last of
// the table (its horizontal extent within theirs and centred over them);
// empty when it does.
std::string CaptionOffColumns(const QLabel* caption, const QTableView* table, int first, int last);

// The widget's rectangle in its window's coordinates.
QRect WindowRect(const QWidget* widget);

// Clicks the box's indicator with the left mouse button.
void ClickCheckBox(QCheckBox* box);
