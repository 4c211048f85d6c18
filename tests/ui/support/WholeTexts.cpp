#include "WholeTexts.h"

#include "ShellFixture.h"
#include "TableChecks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

namespace {

std::string Describe(const QWidget* w, const QString& text)
{
    QString name = w->objectName();
    return std::string(w->metaObject()->className()) + (name.isEmpty() ? "" : " " + name.toStdString()) + " \"" +
           text.toStdString() + "\"";
}

// Shown text: a single '&' marks a mnemonic.
QString Shown(QString text)
{
    text.replace(QRegularExpression(QStringLiteral("&(?!&)")), QString());
    return text.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

int Widest(const QFontMetrics& metrics, const QString& text)
{
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

bool IsNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?\\s*$"));
    return number.match(text).hasMatch();
}

void CheckItemView(const QAbstractItemView* view, std::vector<std::string>& cut)
{
    const QAbstractItemModel* model = view->model();
    if (!model)
        return;
    const int margin = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    const int rows = std::min(model->rowCount(), 500);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < model->columnCount(); ++c) {
            const QModelIndex index = model->index(r, c);
            const QString text = index.data(Qt::DisplayRole).toString();
            const QRect box = view->visualRect(index);
            if (text.isEmpty() || box.width() <= 0)
                continue;
            QFont font = view->font();
            if (index.data(Qt::FontRole).canConvert<QFont>())
                font = index.data(Qt::FontRole).value<QFont>();
            int needed = Widest(QFontMetrics(font), text) + margin;
            if (!index.data(Qt::DecorationRole).isNull())
                needed += view->iconSize().isValid() ? view->iconSize().width() + 4 : 20;
            if (needed > box.width())
                cut.push_back(Describe(view, text) + " in row " + std::to_string(r) + ", column " +
                              std::to_string(c));
        }
}

void CheckHeader(const QHeaderView* header, std::vector<std::string>& cut)
{
    const QAbstractItemModel* model = header->model();
    if (!model || !header->isVisible())
        return;
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int count = header->orientation() == Qt::Horizontal ? model->columnCount() : model->rowCount();
    for (int s = 0; s < count; ++s) {
        if (header->isSectionHidden(s))
            continue;
        const QString text = model->headerData(s, header->orientation(), Qt::DisplayRole).toString();
        if (!text.isEmpty() && Widest(header->fontMetrics(), text) + margin > header->sectionSize(s))
            cut.push_back(Describe(header, text) + " section " + std::to_string(s));
    }
}

bool IsControl(const QWidget* w)
{
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractItemView*>(w) ||
           (qobject_cast<const QLabel*>(w) && !static_cast<const QLabel*>(w)->text().isEmpty());
}

} // namespace

std::vector<std::string> CutTexts(const QWidget* window)
{
    std::vector<std::string> cut;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->width() <= 0 || w->height() <= 0)
            continue;
        const QFontMetrics metrics = w->fontMetrics();
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText ||
                (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
                continue;
            const QSize need = label->minimumSizeHint();
            const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                                : need.width() <= label->width() && need.height() <= label->height();
            if (!fits)
                cut.push_back(Describe(label, label->text()));
        } else if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
            if (!box->text().isEmpty() && box->sizeHint().width() > box->width())
                cut.push_back(Describe(box, box->text()));
        } else if (const auto* radio = qobject_cast<const QRadioButton*>(w)) {
            if (!radio->text().isEmpty() && radio->sizeHint().width() > radio->width())
                cut.push_back(Describe(radio, radio->text()));
        } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
            int needed = Widest(metrics, Shown(button->text())) +
                         2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) / 2;
            if (!button->icon().isNull())
                needed += button->iconSize().width() + 4;
            if (!button->text().isEmpty() && needed > button->width())
                cut.push_back(Describe(button, button->text()));
        } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
            if (!group->title().isEmpty() && Widest(metrics, Shown(group->title())) + 8 > group->width())
                cut.push_back(Describe(group, group->title()));
        } else if (const auto* bar = qobject_cast<const QTabBar*>(w)) {
            const int space = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
            for (int i = 0; i < bar->count(); ++i) {
                const QRect tab = bar->tabRect(i);
                if (tab.left() < 0 || tab.right() >= bar->width() ||
                    Widest(metrics, Shown(bar->tabText(i))) + space > tab.width() + 1)
                    cut.push_back(Describe(bar, bar->tabText(i)));
            }
        } else if (const auto* header = qobject_cast<const QHeaderView*>(w)) {
            if (!qobject_cast<const QTableView*>(header->parentWidget())) // a table's own check takes it
                CheckHeader(header, cut);
        } else if (const auto* table = qobject_cast<const QTableView*>(w)) {
            for (const QString& line : QString::fromStdString(CutCells(table)).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                cut.push_back(Describe(table, line));
        } else if (const auto* view = qobject_cast<const QAbstractItemView*>(w)) {
            CheckItemView(view, cut);
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
            if (qobject_cast<const QComboBox*>(edit->parentWidget()) ||
                qobject_cast<const QAbstractSpinBox*>(edit->parentWidget()))
                continue;
            const int frame = edit->hasFrame() ? 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
            const QMargins m = edit->textMargins();
            if ((edit->isReadOnly() || IsNumber(edit->text())) && !edit->text().isEmpty() &&
                metrics.horizontalAdvance(edit->text()) + frame + 4 + m.left() + m.right() > edit->width())
                cut.push_back(Describe(edit, edit->text()));
        } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            const QString text = combo->currentText();
            int needed = metrics.horizontalAdvance(text) + 2 * combo->style()->pixelMetric(QStyle::PM_ComboBoxFrameWidth) + 20;
            if (!combo->itemIcon(combo->currentIndex()).isNull())
                needed += combo->iconSize().width() + 4;
            if (!text.isEmpty() && needed > combo->width())
                cut.push_back(Describe(combo, text));
        }
    }
    return cut;
}

std::vector<std::string> OverlappingControls(const QWidget* window)
{
    std::vector<const QWidget*> controls;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || !IsControl(w))
            continue;
        bool inner = false; // a part of another control (a combo's edit, a view's editor)
        for (const QWidget* up = w->parentWidget(); up && up != window; up = up->parentWidget())
            inner = inner || IsControl(up);
        if (!inner)
            controls.push_back(w);
    }
    std::vector<std::string> overlaps;
    for (std::size_t i = 0; i < controls.size(); ++i)
        for (std::size_t k = i + 1; k < controls.size(); ++k) {
            const QRect both = WindowRect(controls[i]).intersected(WindowRect(controls[k]));
            if (both.width() > 1 && both.height() > 1)
                overlaps.push_back(Describe(controls[i], controls[i]->property("text").toString()) + " over " +
                                   Describe(controls[k], controls[k]->property("text").toString()));
        }
    return overlaps;
}

void ExpectWholeAndSave(QWidget& window, const QString& file)
{
    for (const std::string& text : CutTexts(&window))
        ADD_FAILURE() << qPrintable(file) << ": cut: " << text;
    for (const std::string& pair : OverlappingControls(&window))
        ADD_FAILURE() << qPrintable(file) << ": overlap: " << pair;
    EXPECT_TRUE(window.grab().save(TestOutputFolder() + file)) << qPrintable(file);
}
