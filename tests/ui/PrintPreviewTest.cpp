// Project > Print Preview: the entry sits under Print..., needs an image
// window, and shows the image window's page.
#include "ShellFixture.h"
#include "PrintPreview.h"

#include "ImageView.h"
#include "Resources.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>

namespace {

class PrintPreview : public ShellFixture {
protected:
    // The entries of the menu bar's Project menu.
    QList<QAction*> ProjectMenu() const
    {
        const QList<QAction*> bar = Frame()->menuBar()->actions();
        return bar.isEmpty() || !bar.first()->menu() ? QList<QAction*>() : bar.first()->menu()->actions();
    }
    QAction* ProjectMenuEntry(int id) const
    {
        for (QAction* action : ProjectMenu())
            if (action->data().toInt() == id)
                return action;
        return nullptr;
    }
};

} // namespace

TEST_F(PrintPreview, TheProjectMenuShowsTheImageWindowsPage)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    CKestrelonDoc* project = GetActiveKestrelonDoc();
    ASSERT_NE(project, nullptr);

    QStringList texts;
    for (QAction* action : ProjectMenu())
        if (!action->isSeparator())
            texts << action->text();
    const int print = int(texts.indexOf(QStringLiteral("&Print...")));
    ASSERT_GE(print, 0) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(texts.mid(print, 3),
              (QStringList{"&Print...", "Print Pre&view", "P&rint Setup..."}));
    QAction* entry = ProjectMenuEntry(ID_FILE_PRINT_PREVIEW);
    ASSERT_NE(entry, nullptr);

    // Without an image window there is nothing to preview.
    Frame()->UpdateCmdUI();
    EXPECT_FALSE(entry->isEnabled());

    CImageView* view = OpenImageWindow(project, project->images.GetAt(0));
    ASSERT_NE(view, nullptr);
    Settle();
    Frame()->UpdateCmdUI();
    // The image window's menu is the same table: its entry is found again.
    entry = ProjectMenuEntry(ID_FILE_PRINT_PREVIEW);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->isEnabled());

    int pages = -1;
    EXPECT_TRUE(OnPrintPreview(entry, [&](QPrintPreviewDialog& dialog, QPrintPreviewWidget* preview) {
        pages = preview ? preview->pageCount() : -1;
        EXPECT_TRUE(dialog.grab().save(TestOutputFolder() + QStringLiteral("/PrintPreview.png")));
    }));
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
