// Every dialog of the menus, opened on the sample as the user does, shows
// its texts and values whole and no control over another, at its size and
// grown; each page of a sheet too. Each leaves its picture.
#include "ShellFixture.h"

#include "ContextMenu.h"
#include "MenuDialogs.h"
#include "WholeTexts.h"

#include "CmdTarget.h"
#include "ImageView.h"

#include <QAction>
#include <QFileInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <string>
#include <vector>

namespace {

// The rows whose window is one of the program's dialogs (not a message box
// or the toolkit's printer dialogs) and that need no run first.
std::vector<MenuDialogRow> ProgramDialogRows()
{
    std::vector<MenuDialogRow> rows;
    for (const MenuDialogRow& row : MenuDialogRows()) {
        const std::string title = row.title;
        if (row.pressFirst || title == "Page Setup" || title == "Print" || title == "Print Preview" ||
            title == "Kestrelon")
            continue;
        rows.push_back(row);
    }
    // The test's own answer takes the place of the one the fixture gives it.
    rows.push_back({"New Project", "Define Project Units", 57600, MAIN_MENU});
    return rows;
}

class DialogLayout : public ShellFixture, public ::testing::WithParamInterface<MenuDialogRow> {
protected:
    void Check(QWidget& window, const QString& picture)
    {
        Settle();
        ExpectWholeAndSave(window, QStringLiteral("/Dialog-%1.png").arg(picture));
    }

    // The window and, for a sheet, each of its pages, the next one chosen by
    // the arrow key on the tabs.
    void CheckPages(QWidget& window, const QString& name)
    {
        Check(window, name);
        for (QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
            QTabBar* bar = tabs->tabBar();
            for (int i = 1; i < bar->count(); ++i) {
                QTest::keyClick(bar, Qt::Key_Right);
                EXPECT_EQ(tabs->currentIndex(), i) << qPrintable(bar->tabText(i));
                Check(window, name + QStringLiteral("-%1").arg(i));
            }
        }
    }
};

} // namespace

TEST_P(DialogLayout, TextsAreWholeAndControlsApart)
{
    const MenuDialogRow& row = GetParam();
    const QString sample = WriteSample();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    PrepareSampleForMenuRows(*app);
    files.push_back(QFileInfo(sample).absolutePath() + QStringLiteral("/Control.xyz")); // Transform's file
    CImageView* view = nullptr;
    if (row.place == IMAGE_WINDOW_MENU || row.place == IMAGE_CONTEXT_MENU) {
        CKestrelonDoc* project = GetActiveKestrelonDoc();
        view = OpenImageWindow(project, project->images.GetAt(0));
        ASSERT_NE(view, nullptr);
        Settle();
    }
    const QString name = QString::fromStdString(MenuRowName(row));
    bool shown = false;
    dialogs.push_back([&](CDialog& d) {
        shown = true;
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        EXPECT_EQ(d.windowTitle(), QString::fromLatin1(row.title));
        CheckPages(d, name);
        d.resize(d.size() + QSize(200, 150));
        Check(d, name + QStringLiteral("-Grown"));
        return int(QDialog::Rejected);
    });
    if (row.place == MAIN_MENU || row.place == IMAGE_WINDOW_MENU)
        OpenMenuPlace(Frame(), row, view);
    else
        EXPECT_TRUE(ChooseFromPopup([&] { OpenMenuPlace(Frame(), row, view); },
                                    [&](const QAction* action) { return ActionId(action) == row.command; }));
    Settle();
    EXPECT_TRUE(shown);
    dialogs.clear();
}

INSTANTIATE_TEST_SUITE_P(MenuDialogs, DialogLayout, ::testing::ValuesIn(ProgramDialogRows()),
                         [](const ::testing::TestParamInfo<MenuDialogRow>& info) { return MenuRowName(info.param); });
