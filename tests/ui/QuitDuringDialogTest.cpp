// The application quits (as logging out of the desktop does) while a modal
// dialog of a menu is open: the dialog ends, its caller goes on, and the
// program ends with status 0. Each row runs in a child process of its own,
// which runs the event loop as the program does.
#include "ShellFixture.h"

#include "MenuDialogs.h"

#include "ImageView.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

// The child's exit codes when the row did not come to the quit.
constexpr int kNoDialog = 3;
constexpr int kWrongDialog = 4;

class QuitDuringDialog : public ShellFixture, public ::testing::WithParamInterface<MenuDialogRow> {
protected:
    // Ends the child. Its exit skips the fixture's clean-up, so the scratch
    // folder (which also holds the child's TMPDIR) goes first.
    [[noreturn]] void EndChild(int status)
    {
        scratch.remove();
        std::_Exit(status);
    }

    // The child: opens the sample, opens the row's dialog as a user does,
    // quits once the dialog shows, and ends with the event loop's status.
    [[noreturn]] void RunChild(const MenuDialogRow& row)
    {
        const QString temp = scratch.filePath(QStringLiteral("tmp"));
        QDir().mkpath(temp);
        setenv("TMPDIR", temp.toLocal8Bit().constData(), 1);
        const QString sample = WriteSample();
        if (!Start({QStringLiteral("--nosplash"), sample}))
            EndChild(kNoDialog);
        PrepareSampleForMenuRows(*app);
        // A run that goes on until it is stopped: the quit comes while it runs.
        if (row.pressFirst) {
            GetActiveKestrelonDoc()->settings.convergenceLimit = 0.0;
            GetActiveKestrelonDoc()->settings.maxIterations = 100000;
        }
        // "Transform" asks for the file to transform onto.
        files.push_back(QFileInfo(sample).absolutePath() + QStringLiteral("/Control.xyz"));
        bool quitAsked = false;
        bool pressed = false;
        bool wrong = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                // The user picks the entry of the context menu.
                for (QAction* action : menu->actions())
                    if (action->data().toInt() == row.command && action->isEnabled()) {
                        menu->setActiveAction(action);
                        QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
                        return;
                    }
                return;
            }
            QWidget* modal = QApplication::activeModalWidget();
            if (quitAsked || !modal || !modal->isVisible())
                return;
            if (row.pressFirst && !pressed) {
                pressed = true;
                if (auto* button = modal->findChild<QAbstractButton*>(IdName(row.pressFirst)))
                    QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
            quitAsked = true;
            wrong = modal->windowTitle() != QString::fromLatin1(row.title);
            if (wrong)
                std::fprintf(stderr, "modal window: %s\n", qPrintable(modal->windowTitle()));
            QCoreApplication::quit();
        });
        poll.start();
        // A row whose dialog never shows ends the child.
        QTimer::singleShot(15000, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            std::fprintf(stderr, "no quit; modal window: %s\n", modal ? qPrintable(modal->windowTitle()) : "none");
            EndChild(kNoDialog);
        });
        CImageView* view = nullptr;
        if (row.place == IMAGE_WINDOW_MENU || row.place == IMAGE_CONTEXT_MENU) {
            CKestrelonDoc* doc = GetActiveKestrelonDoc();
            view = OpenImageWindow(doc, doc->images.GetAt(0));
            if (!view)
                EndChild(kNoDialog);
        }
        QTimer::singleShot(0, Frame(), [&] { OpenMenuPlace(Frame(), row, view); });
        const int status = QApplication::exec();
        poll.stop();
        app->ExitInstance();
        app.reset();
        EndChild(!quitAsked ? kNoDialog : wrong ? kWrongDialog : status);
    }
};

} // namespace

TEST_P(QuitDuringDialog, TheProgramEndsInOrder)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunChild(GetParam()), ::testing::ExitedWithCode(0), "") << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(MenuDialogs, QuitDuringDialog, ::testing::ValuesIn(MenuDialogRows()),
                         [](const ::testing::TestParamInfo<MenuDialogRow>& info) { return MenuRowName(info.param); });
