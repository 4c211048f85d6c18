// The number field and the grid list's cell editor, driven by real mouse and
// key events.
#include "Controls.h"
#include "Hooks.h"
#include "MessageHub.h"
#include "ProjectDocument.h"
#include "ProjectBuilder.h"

#include <QApplication>
#include <QHeaderView>
#include <QFileInfo>
#include <QImage>
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
                list->setItem(r, c, new QStandardItem(QString("r%1c%2").arg(r).arg(c)));
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

// Texts and picture indexes of a combo, and whether every picture is
// transparent where its mask colour was painted (the corner).
struct ComboRows {
    QStringList texts;
    std::vector<int> icons;
};

ComboRows RowsOf(const QComboBox& combo)
{
    ComboRows rows;
    for (int i = 0; i < combo.count(); ++i) {
        rows.texts << combo.itemText(i);
        rows.icons.push_back(combo.itemData(i, kComboIconRole).toInt());
        const QImage picture = combo.itemIcon(i).pixmap(combo.iconSize()).toImage();
        EXPECT_EQ(picture.size(), combo.iconSize()) << i;
        EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0) << i;
    }
    return rows;
}

TEST(PictureCombos, CamerasPointSetsAndImagesInCollectionOrder)
{
    CProjectDocument doc;
    for (const char* id : {"CamB", "CamA", "CamC"})
        AddCamera(doc, id);
    const struct {
        const char* path;
        bool driver, control, device;
        int icon;
    } sets[] = {{"/p/plain.xyz", false, false, false, 0}, {"/p/drive.txt", true, false, false, 1},
                {"/p/ctrl.xyz", false, true, false, 2},   {"/p/both.xyz", true, true, false, 3},
                {"/p/dev.eod", false, false, true, 4},    {"", true, false, false, -1}};
    for (const auto& c : sets) {
        CPointSet* set = AddPointSet(doc, c.path);
        set->isDriver = c.driver, set->isControl = c.control, set->isEODevice = c.device;
    }
    for (bool resected : {false, true, true, false})
        AddImage(doc, {"CamA", true, resected, 0});

    CComboBoxCamera cameras;
    cameras.Fill(&doc.cameras);
    const ComboRows c = RowsOf(cameras);
    EXPECT_EQ(c.texts, QStringList({"CamB", "CamA", "CamC"}));
    EXPECT_EQ(c.icons, std::vector<int>(3, 0));

    CComboBoxPointSet pointSets;
    pointSets.Fill(&doc);
    const ComboRows p = RowsOf(pointSets);
    QStringList titles;
    std::vector<int> icons;
    for (const auto& set : sets)
        if (set.icon >= 0) {
            titles << QFileInfo(QString::fromLatin1(set.path)).completeBaseName();
            icons.push_back(set.icon);
        }
    EXPECT_EQ(p.texts, titles);
    EXPECT_EQ(p.icons, icons);
    EXPECT_EQ(pointSets.currentIndex(), 0);
    EXPECT_TRUE(pointSets.SelectDriverSet(&doc));
    EXPECT_EQ(pointSets.currentText(), QStringLiteral("drive"));
    EXPECT_FALSE(pointSets.SelectDriverSet(nullptr));

    CComboBoxImage images;
    images.Fill(&doc);
    const ComboRows i = RowsOf(images);
    EXPECT_EQ(i.texts, QStringList({"Image1", "Image2", "Image3", "Image4"}));
    EXPECT_EQ(i.icons, std::vector<int>({0, 1, 1, 0}));
    ASSERT_EQ(images.GetImages().size(), 4u);
    for (int k : {2, 0, 3}) {
        images.SelectImage(doc.images.GetAt(k));
        EXPECT_EQ(images.GetSelectedImage(), doc.images.GetAt(k)) << k;
    }
    CProjectImage stranger;
    images.SelectImage(&stranger);
    EXPECT_EQ(images.GetSelectedImage(), doc.images.GetAt(3));

    // A refill starts over; no project leaves the image combo empty.
    images.Fill(&doc);
    EXPECT_EQ(images.count(), 4);
    images.Fill(nullptr);
    EXPECT_EQ(images.count(), 0);
    EXPECT_TRUE(images.GetImages().empty());
    EXPECT_EQ(images.GetSelectedImage(), nullptr);
}

TEST(PictureCombos, KeysMoveTheImageSelection)
{
    CProjectDocument doc;
    for (int k = 0; k < 3; ++k)
        AddImage(doc, {"Cam", true, false, 0});
    Window window;
    auto* images = new CComboBoxImage;
    window.top.layout()->addWidget(images);
    images->Fill(&doc);
    window.Show();
    images->setFocus();
    const struct {
        Qt::Key key;
        int index;
    } steps[] = {{Qt::Key_Down, 1}, {Qt::Key_Down, 2}, {Qt::Key_Down, 2}, {Qt::Key_Up, 1}, {Qt::Key_Home, 0}};
    for (const auto& s : steps) {
        QTest::keyClick(images, s.key);
        EXPECT_EQ(images->GetSelectedImage(), doc.images.GetAt(s.index)) << s.index;
    }
}

TEST(FileDirectoryDialog, TheChosenFolderOrNothing)
{
    for (const QString& answer : {QStringLiteral("/data/moved"), QString()}) {
        QString askedTitle, askedFolder;
        const FolderDialogHook old = SetFolderDialogHook([&](QWidget*, const QString& title, const QString& folder) {
            askedTitle = title;
            askedFolder = folder;
            return answer;
        });
        CFileDirectoryDialog dialog(nullptr, QStringLiteral("Pick"), QStringLiteral("/start"));
        EXPECT_EQ(dialog.DoModal(), !answer.isEmpty());
        EXPECT_EQ(dialog.GetDirectory(), answer);
        EXPECT_EQ(askedTitle, QStringLiteral("Pick"));
        EXPECT_EQ(askedFolder, QStringLiteral("/start"));
        SetFolderDialogHook(old);
    }
}

} // namespace
