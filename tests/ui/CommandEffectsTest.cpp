// Every command the menus and the toolbar offer enabled, on the sample with
// an image window open, does something a user can see: a dialog, a message,
// a file or folder dialog, the desktop opener, a window, a changed picture,
// a changed check mark, file or project state. An enabled command that does
// nothing is a fault of its update rule.
#include "ShellFixture.h"

#include "Hooks.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QTest>
#include <QToolBar>

#include <map>
#include <set>

namespace command_effects_test {

// What a user can see of the application at one moment.
struct Picture {
    bool modified = false;
    QString title;
    std::vector<QMdiSubWindow*> windows;
    QMdiSubWindow* active = nullptr;
    std::set<QWidget*> topLevels;
    std::map<int, int> checks; // command id -> checked (0/1), -1 not checkable
    bool toolBar = false, statusBar = false;
    QStringList panes;
    QImage frame;
    QStringList files;
    QString clipboard;

    bool operator==(const Picture& o) const
    {
        return modified == o.modified && title == o.title && windows == o.windows && active == o.active &&
               topLevels == o.topLevels && checks == o.checks && toolBar == o.toolBar && statusBar == o.statusBar &&
               panes == o.panes && frame == o.frame && files == o.files && clipboard == o.clipboard;
    }
};

// The actions of the menu bar (every level) and of the toolbar with their ids.
std::map<int, QAction*> OfferedActions(CMainFrame* frame)
{
    std::map<int, QAction*> found;
    std::vector<QMenu*> menus;
    for (QAction* a : frame->menuBar()->actions())
        if (a->menu())
            menus.push_back(a->menu());
    while (!menus.empty()) {
        QMenu* menu = menus.back();
        menus.pop_back();
        emit menu->aboutToShow(); // the menu's update rules
        for (QAction* a : menu->actions()) {
            if (a->menu())
                menus.push_back(a->menu());
            else if (int id = ActionId(a))
                found[id] = a;
        }
    }
    if (QToolBar* bar = frame->GetToolBar())
        for (QAction* a : bar->actions())
            if (int id = ActionId(a))
                found[id] = a;
    return found;
}

class CommandEffects : public ShellFixture {
protected:
    // The sample with the first image in a window of its own; moved on, the
    // image is zoomed in and the view left in zoom-in mode, so that commands
    // that set what the window already shows have something to change.
    void OpenSampleWithImage(bool movedOn = false)
    {
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        CImageView* view = OpenImageWindow(doc, doc->images.GetAt(0));
        ASSERT_NE(view, nullptr);
        Settle();
        if (movedOn) {
            view->SetMode(CImageView::MODE_ZOOM_IN);
            const QPoint centre = view->viewport()->rect().center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
            Settle();
        }
        TakeMessages();
        Frame()->UpdateCmdUI();
    }

    Picture Take()
    {
        Settle();
        Picture p;
        CMainFrame* frame = Frame();
        if (!frame)
            return p;
        frame->UpdateCmdUI();
        if (CKestrelonDoc* d = GetActiveKestrelonDoc()) {
            p.modified = d->IsModified();
            p.title = d->GetTitle();
        }
        for (QMdiSubWindow* w : frame->GetMdiArea()->subWindowList())
            p.windows.push_back(w);
        p.active = frame->GetMdiArea()->activeSubWindow();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                p.topLevels.insert(w);
        for (const auto& [id, action] : OfferedActions(frame))
            p.checks[id] = action->isCheckable() ? int(action->isChecked()) : -1;
        p.toolBar = frame->GetToolBar() && frame->GetToolBar()->isVisible();
        p.statusBar = frame->statusBar()->isVisible();
        for (int i = 0; i < 5; ++i)
            p.panes << frame->GetPaneText(i);
        p.frame = frame->isVisible() ? frame->grab().toImage() : QImage();
        QDirIterator it(QFileInfo(sample).absolutePath(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo f(it.next());
            p.files << f.filePath() + ' ' + QString::number(f.size()) + ' ' +
                           QString::number(f.lastModified().toMSecsSinceEpoch());
        }
        p.files.sort();
        p.clipboard = QApplication::clipboard()->text();
        return p;
    }

    QString sample;
};

TEST_F(CommandEffects, EveryEnabledCommandDoesSomethingObservable)
{
    sample = WriteSample();
    ASSERT_NO_FATAL_FAILURE(OpenSampleWithImage());
    std::map<int, QString> offered;
    for (const auto& [id, action] : OfferedActions(Frame()))
        if (action->isEnabled())
            offered[id] = action->text().isEmpty() ? action->toolTip() : action->text();
    Stop();
    ASSERT_GT(offered.size(), 10u);

    // A command idle on the plain sample gets a second try after the view
    // moved on; idle in both states it fails.
    QStringList idle;
    for (bool movedOn : {false, true}) {
    std::map<int, QString> tried;
    tried.swap(offered);
    for (const auto& [id, text] : tried) {
        SCOPED_TRACE(std::to_string(id) + " " + text.toStdString() + (movedOn ? " moved on" : ""));
        sample = WriteSample(QStringLiteral("sample%1%2").arg(id).arg(movedOn ? "b" : ""));
        ASSERT_NO_FATAL_FAILURE(OpenSampleWithImage(movedOn));
        QAction* action = Frame()->GetAction(id);
        if (!action->isEnabled()) {
            if (movedOn)
                offered[id] = text; // no second try: still idle
            Stop();
            continue;
        }
        const Picture before = Take();

        // Every way a command can answer the user is recorded and closed.
        int shown = 0;
        SetModalDialogHook([&shown](CDialog&) {
            ++shown;
            return int(QDialog::Rejected);
        });
        SetFolderDialogHook([&shown](QWidget*, const QString&, const QString&) {
            ++shown;
            return QString();
        });
        SetColourDialogHook([&shown](QWidget*, QColor&) {
            ++shown;
            return false;
        });
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&shown] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++shown;
                modal->close();
            }
        });
        watchdog.start(50);
        fileDialogs = 0;
        opened.clear();

        Frame()->OnCommandId(id);
        const Picture after = Take();
        watchdog.stop();
        const std::vector<std::string> messages = TakeMessages();
        SetFolderDialogHook(nullptr);
        SetColourDialogHook(nullptr);
        dialogs.clear();

        const bool answered = shown > 0 || !messages.empty() || fileDialogs > 0 || !opened.isEmpty();
        if (!answered && after == before)
            offered[id] = text;
        Stop();
        // The fixture's own answers again for the next start.
        SetModalDialogHook(nullptr);
        TearDown();
        SetUp();
    }
    }
    for (const auto& [id, text] : offered)
        idle << QStringLiteral("%1 %2").arg(id).arg(text);
    EXPECT_TRUE(idle.isEmpty()) << "enabled commands without an effect:\n" << idle.join('\n').toStdString();
}

} // namespace command_effects_test
