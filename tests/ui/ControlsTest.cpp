// The number field and the grid list's cell editor, driven by real mouse and
// key events.
#include "Controls.h"
#include "MessageHub.h"
#include "ProjectDocument.h"
#include "ProjectBuilder.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

// A window that can take the focus, with two children.
struct Window {
    Window()
    {
        auto* layout = new QVBoxLayout(&top);
        layout->addWidget(other = new QLineEdit);
        top.resize(400, 300);
    }
    void Show()
    {
        top.show();
        QApplication::setActiveWindow(&top);
        top.activateWindow();
        (void)QTest::qWaitForWindowActive(&top);
    }
    QWidget top;
    QLineEdit* other = nullptr;
};

TEST(NumberEdit, TypedChangesNotifyOnceEachAndLeavingShowsTheDecimals)
{
    Window w;
    auto* edit = new CNumberEdit(2);
    w.top.layout()->addWidget(edit);
    std::vector<unsigned> codes;
    edit->notify = [&](unsigned code, CNumberEdit* control) {
        EXPECT_EQ(control, edit);
        codes.push_back(code);
    };
    w.Show();
    edit->SetValue(3.0);
    EXPECT_EQ(edit->text(), QStringLiteral("3.00"));
    EXPECT_TRUE(codes.empty());

    edit->setFocus();
    edit->clear();
    codes.clear();
    QTest::keyClicks(edit, QStringLiteral("1.5"));
    EXPECT_EQ(codes, std::vector<unsigned>(3, kNumberEditChanged));
    w.other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(edit->text(), QStringLiteral("1.50"));
    EXPECT_EQ(codes.size(), 3u);

    const struct {
        const char* text;
        double value;
        const char* shown;
    } cases[] = {{"0.1", double(0.1f), "0.10"}, {"abc", 0.0, "0.00"}, {"-2.345", double(-2.345f), "-2.35"}};
    for (const auto& c : cases) {
        edit->setText(QString::fromLatin1(c.text));
        EXPECT_EQ(edit->GetValue(), c.value) << c.text;
        edit->SetValue(edit->GetValue());
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.shown)) << c.text;
    }
}

class EditableList : public ::testing::Test {
protected:
    void SetUp() override
    {
        list = new CEditableListCtrl;
        w.top.layout()->addWidget(list);
        list->setColumnCount(3);
        list->setRowCount(3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                list->setItem(r, c, new QTableWidgetItem(QString("r%1c%2").arg(r).arg(c)));
        list->onEndLabelEdit = [this](int row, int column, const QString* text) {
            ends.push_back({row, column, text ? std::optional<QString>(*text) : std::nullopt});
        };
        w.Show();
    }
    QPoint Cell(int row, int column) const { return list->visualRect(list->model()->index(row, column)).center(); }
    void Click(int row, int column)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, Cell(row, column));
        QApplication::processEvents();
    }
    struct End {
        int row, column;
        std::optional<QString> text;
        bool operator==(const End& o) const { return row == o.row && column == o.column && text == o.text; }
    };
    std::vector<End> ends; // outlives the window, whose closing ends an open edit
    Window w;
    CEditableListCtrl* list = nullptr;
};

TEST_F(EditableList, TheFirstClickSelectsTheSecondEdits)
{
    Click(1, 2);
    EXPECT_EQ(list->ActiveEditor(), nullptr);
    EXPECT_TRUE(list->selectionModel()->isRowSelected(1, {}));
    Click(1, 2);
    ASSERT_NE(list->ActiveEditor(), nullptr);
    EXPECT_EQ(list->ActiveEditor()->text(), QStringLiteral("r1c2"));
    EXPECT_TRUE(list->ActiveEditor()->hasFocus());
}

TEST_F(EditableList, EscapeEndsWithoutTextEnterAndLeavingWithIt)
{
    // Each way of ending: the keys typed, then how the edit ends.
    const struct {
        int row;
        Qt::Key key; // Key_unknown: the focus moves to another field
        std::optional<QString> text;
    } cases[] = {{0, Qt::Key_Escape, std::nullopt},
                 {1, Qt::Key_Return, QStringLiteral("typed1")},
                 {2, Qt::Key_unknown, QStringLiteral("typed2")}};
    for (const auto& c : cases) {
        Click(c.row, 1);
        Click(c.row, 1);
        ASSERT_NE(list->ActiveEditor(), nullptr);
        QTest::keyClicks(list->ActiveEditor(), QString("typed%1").arg(c.row));
        if (c.key == Qt::Key_unknown)
            w.other->setFocus();
        else
            QTest::keyClick(list->ActiveEditor(), c.key);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(list->ActiveEditor(), nullptr) << c.row;
    }
    EXPECT_EQ(ends, (std::vector<End>{{0, 1, std::nullopt}, {1, 1, QStringLiteral("typed1")},
                                      {2, 1, QStringLiteral("typed2")}}));
}

struct Recorder : CMessageTarget {
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t) override
    {
        got.emplace_back(message, wParam);
        return 0;
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> got;
};

TEST(ToolbarControls, QualityChoicesAreReportedInMode0OnlyAndReturnInTheLabelField)
{
    Recorder recorder;
    InstallMessageHub(&recorder);
    Window w;
    auto* combo = new CImageQualityCombo;
    auto* label = new CEditLabel;
    w.top.layout()->addWidget(combo);
    w.top.layout()->addWidget(label);
    w.Show();
    const struct {
        int mode;
        const char* first;
        std::vector<std::pair<unsigned, std::uintptr_t>> posted;
    } cases[] = {{0, "Image Quality Not Set", {{UM_IMAGE_QUALITY, 1}, {UM_IMAGE_QUALITY, 2}}},
                 {1, "Automatic Image Quality", {}}};
    for (const auto& c : cases) {
        recorder.got.clear();
        combo->Initialize(c.mode);
        EXPECT_EQ(combo->count(), 3);
        EXPECT_EQ(combo->itemText(0), QString::fromLatin1(c.first));
        EXPECT_EQ(combo->itemText(2), QStringLiteral("Image Quality Low"));
        combo->setCurrentIndex(2); // from code: not reported
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Up);
        QTest::keyClick(combo, Qt::Key_Down);
        QApplication::processEvents();
        EXPECT_EQ(recorder.got, c.posted) << c.mode;
    }
    int returns = 0;
    label->onReturn = [&] { ++returns; };
    label->setFocus();
    QTest::keyClicks(label, QStringLiteral("P7"));
    QTest::keyClick(label, Qt::Key_Return);
    EXPECT_EQ(returns, 1);
    EXPECT_EQ(label->text(), QStringLiteral("P7"));
    SetHubMainTarget(nullptr);
}

TEST(ImageSelectList, RowsShowFileNamesCountsIconsAndDisabledColours)
{
    CProjectDocument doc;
    CImagePtrArray images;
    for (int i = 0; i < 3; ++i) {
        CProjectImage* image = AddImage(doc, {"Cam", i != 1, false, 2 * i});
        image->SetFilePath(("/data/shots/pic" + std::to_string(i) + ".tif").c_str());
        images.Add(image);
    }
    CImageSelectListCtrl list;
    EXPECT_FALSE(list.SetImages(nullptr));
    ASSERT_TRUE(list.SetImages(&images));
    list.SetSelection(2);
    list.Fill();
    ASSERT_EQ(list.rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        char points[16];
        std::snprintf(points, sizeof points, "%5d", 2 * r);
        EXPECT_EQ(list.item(r, 0)->text(), QString("pic%1.tif").arg(r));
        EXPECT_EQ(list.item(r, 1)->text(), QString::fromLatin1(points));
        EXPECT_EQ(list.RowIcon(r), r == 2 ? 2 : r == 1 ? 1 : 0);
        const bool disabled = r == 1;
        EXPECT_EQ(list.item(r, 0)->background().color() == QColor(255, 0, 0), disabled) << r;
        EXPECT_EQ(list.item(r, 0)->foreground().color() == QColor(255, 255, 0), disabled) << r;
    }
    list.RemoveImage(2);
    EXPECT_EQ(list.GetSelection(), -1);
    EXPECT_EQ(list.rowCount(), 2);
    list.RemoveImage(0);
    list.RemoveImage(0);
    EXPECT_EQ(list.rowCount(), 0);
}

TEST(UnitCombo, SelectsByExactLabel)
{
    CComboBoxUnit units;
    units.Fill();
    EXPECT_EQ(units.GetUnit(), QStringLiteral("mm"));
    const struct {
        const char* text;
        int index;
        const char* after;
    } cases[] = {{"ft", 4, "ft"}, {"FT", -1, "ft"}, {"yds", 5, "yds"}, {"m", 2, "m"}, {"km", -1, "m"}};
    for (const auto& c : cases) {
        EXPECT_EQ(units.SelectUnit(QString::fromLatin1(c.text)), c.index) << c.text;
        EXPECT_EQ(units.GetUnit(), QString::fromLatin1(c.after)) << c.text;
    }
}

} // namespace
