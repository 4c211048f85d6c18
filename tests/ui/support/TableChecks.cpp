#include "TableChecks.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdlib>

namespace {

std::string Line(const QString& what, int column, const QString& text, int need, int room)
{
    return QStringLiteral("%1 of column %2 \"%3\": %4 px in %5 px\n")
        .arg(what)
        .arg(column)
        .arg(text)
        .arg(need)
        .arg(room)
        .toStdString();
}

} // namespace

std::string CutCells(const QTableView* table)
{
    std::string cut;
    const QAbstractItemModel* model = table->model();
    const QHeaderView* header = table->horizontalHeader();
    const int cellMargins = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
    const int grid = table->showGrid() ? 1 : 0;
    const int headerMargins = 2 * table->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < model->columnCount(); ++c) {
        if (header->isSectionHidden(c))
            continue;
        const int width = header->sectionSize(c);
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        const int titleWidth = header->fontMetrics().horizontalAdvance(title);
        if (!header->isHidden() && titleWidth > width - headerMargins)
            cut += Line(QStringLiteral("header"), c, title, titleWidth, width - headerMargins);
        for (int r = 0; r < model->rowCount(); ++r) {
            const QModelIndex index = model->index(r, c);
            const QString text = index.data().toString();
            const QVariant font = index.data(Qt::FontRole);
            const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : table->font());
            const int need = metrics.horizontalAdvance(text);
            if (need > width - grid - cellMargins)
                cut += Line(QStringLiteral("row %1").arg(r), c, text, need, width - grid - cellMargins);
        }
        const int left = header->sectionViewportPosition(c);
        if (left < 0 || left + width > table->viewport()->width())
            cut += QStringLiteral("column %1 at %2 to %3 outside the visible 0 to %4\n")
                       .arg(c)
                       .arg(left)
                       .arg(left + width)
                       .arg(table->viewport()->width())
                       .toStdString();
    }
    return cut;
}

std::string CaptionOffColumns(const QLabel* caption, const QTableView* table, int first, int last)
{
    if (!caption->isVisible())
        return "the caption is hidden";
    int textWidth = 0;
    for (const QString& line : caption->text().split(QLatin1Char('\n')))
        textWidth = std::max(textWidth, caption->fontMetrics().horizontalAdvance(line));
    const QRect contents = caption->contentsRect();
    int textLeft = contents.left();
    if (caption->alignment() & Qt::AlignHCenter)
        textLeft = contents.left() + (contents.width() - textWidth) / 2;
    else if (caption->alignment() & Qt::AlignRight)
        textLeft = contents.right() + 1 - textWidth;
    const int left = caption->mapToGlobal(QPoint(textLeft, 0)).x();
    const int right = left + textWidth;
    const QHeaderView* header = table->horizontalHeader();
    const int columnsLeft = header->viewport()->mapToGlobal(QPoint(header->sectionViewportPosition(first), 0)).x();
    const int columnsRight =
        header->viewport()->mapToGlobal(QPoint(header->sectionViewportPosition(last) + header->sectionSize(last), 0)).x();
    const bool within = left >= columnsLeft && right <= columnsRight;
    const bool centred = std::abs((left + right) - (columnsLeft + columnsRight)) <= 4;
    if (within && centred)
        return {};
    return QStringLiteral("text at %1 to %2, columns %3 to %4 at %5 to %6")
        .arg(left)
        .arg(right)
        .arg(first)
        .arg(last)
        .arg(columnsLeft)
        .arg(columnsRight)
        .toStdString();
}

QRect WindowRect(const QWidget* widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint()), widget->size());
}

void ClickCheckBox(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
}
