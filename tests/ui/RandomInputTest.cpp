// A random user on the sample project: a seeded stream of clicks,
// double-clicks, right-clicks, typed text and numbers (valid and invalid) and
// key presses on visible, enabled widgets of the main window and of every
// window, dialog and menu that opens from them. The events go through the
// window system's path (QWindow), so that modal dialogs block the windows
// under them, right presses open context menus and shortcuts fire as for a
// user. Each event is scheduled by a timer, so that the nested event loop of
// a modal dialog runs the next one. File and folder dialogs answer Cancel;
// Exit, Close and New are never chosen.
//
// It fails on a crash, a sanitizer report or an event loop that does not
// come back within 10 s, and prints its seed and the last events first.
//   KESTRELON_RANDOM_SEEDS   seeds to run, e.g. "7" or "1,5,9" or "1-20"
//   KESTRELON_RANDOM_EVENTS  events per seed
//   KESTRELON_RANDOM_SECONDS time limit of one seed's stream
//   KESTRELON_RANDOM_VERBOSE 1: every event to stderr as it is sent
// Each seed is a test of its own (RandomInput/RandomUser.OnTheSample/seedN);
// CTest lists seeds 1 and 2, other seeds run from the program itself.
#include "ShellFixture.h"

#include "CameraDialogs.h"
#include "CmdTarget.h"
#include "Controls.h"
#include "Dialog.h"
#include "Hooks.h"
#include "ImageView.h"
#include "Message.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QColor>
#include <QColorDialog>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWheelEvent>
#include <QWindow>

#include <atomic>
#include <cxxabi.h>
#include <typeinfo>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

// The sanitizers' runtime, when the program has one.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));
extern "C" void __sanitizer_print_stack_trace() __attribute__((weak));

namespace random_input_test {

constexpr int kStallMs = 10000; // an event loop gone this long is a hang

// --- The log of the last events, printed on every way the process dies ------

constexpr int kLogLines = 40;
constexpr int kLineWidth = 320;

struct EventLog {
    char header[160] = "";
    char lines[kLogLines][kLineWidth] = {};
    std::atomic<long> count{0};
    std::atomic<bool> printed{false};
};
EventLog theLog;

void WriteAll(const char* text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= size_t(n);
    }
}

// Async-signal-safe: only writes what is formatted already.
void PrintLog()
{
    if (theLog.printed.exchange(true))
        return;
    WriteAll("\n==== random input: ");
    WriteAll(theLog.header);
    WriteAll(", the last events (newest last):\n");
    const long n = theLog.count.load();
    for (long i = n > kLogLines ? n - kLogLines : 0; i < n; ++i) {
        WriteAll("  ");
        WriteAll(theLog.lines[i % kLogLines]);
        WriteAll("\n");
    }
    WriteAll("==== end of the random input's log\n");
}

bool verbose = false; // every event to stderr as it is sent

void Record(const std::string& line)
{
    if (verbose)
        std::fprintf(stderr, "%s\n", line.c_str());
    const long n = theLog.count.load();
    std::snprintf(theLog.lines[n % kLogLines], kLineWidth, "%s", line.c_str());
    theLog.count.store(n + 1);
}

void OnFatalSignal(int signal)
{
    PrintLog();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Prints where the user-interface thread is and keeps it there until the
// watchdog ends the process.
void OnStackRequest(int)
{
    WriteAll("==== the user-interface thread is here:\n");
    if (__sanitizer_print_stack_trace) {
        __sanitizer_print_stack_trace();
    } else {
        void* frames[64];
        backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
    }
    for (;;)
        pause();
}

// --- The watchdog: a thread that ends the process when the user-interface
// thread stops serving its event loop, or the stream stops moving. ----------

std::atomic<long long> lastBeat{0};  // ms; the event loop ran a timer
std::atomic<long long> lastEvent{0}; // ms; the stream went on
std::atomic<bool> armed{false};     // the event loop is watched
std::atomic<bool> streaming{false}; // the stream is watched too
std::atomic<const char*> phase{"start"};
pthread_t uiThread;

long long NowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void Beat()
{
    lastBeat.store(NowMs());
}

void* Watch(void*)
{
    for (;;) {
        timespec pause{0, 100 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        if (!armed.load())
            continue;
        const long long now = NowMs();
        const bool loopGone = now - lastBeat.load() > kStallMs;
        const bool streamStuck = streaming.load() && now - lastEvent.load() > kStallMs;
        if (!loopGone && !streamStuck)
            continue;
        WriteAll(loopGone ? "\n==== random input: the event loop did not come back within 10 s ("
                          : "\n==== random input: no event could be sent for 10 s (");
        WriteAll(phase.load());
        WriteAll(")\n");
        PrintLog();
        pthread_kill(uiThread, SIGUSR2);
        timespec wait{2, 0};
        nanosleep(&wait, nullptr);
        std::abort();
    }
    return nullptr;
}

// Watches the event loop, which beats through a timer, for its lifetime.
class Watchdog {
public:
    Watchdog()
    {
        Beat();
        QObject::connect(&heartbeat, &QTimer::timeout, [] { Beat(); });
        heartbeat.start(100);
        armed.store(true);
    }
    ~Watchdog()
    {
        armed.store(false);
        streaming.store(false);
    }

private:
    QTimer heartbeat;
};

void InstallHandlers()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    uiThread = pthread_self();
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(PrintLog);
    else
        for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            std::signal(s, OnFatalSignal);
    std::signal(SIGABRT, OnFatalSignal);
    std::signal(SIGUSR2, OnStackRequest);
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, Watch, nullptr) == 0)
        pthread_detach(watcher);
}

// --- Settings from the environment ---------------------------------------------

int EnvInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// The seeds CI runs, or those of KESTRELON_RANDOM_SEEDS ("7", "1,5,9", "1-20").
std::vector<unsigned> Seeds()
{
    const char* v = std::getenv("KESTRELON_RANDOM_SEEDS");
    if (!v || !*v)
        return {1, 2};
    std::vector<unsigned> seeds;
    for (const QString& part : QString::fromLatin1(v).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList range = part.trimmed().split(QLatin1Char('-'));
        const unsigned first = range[0].toUInt();
        const unsigned last = range.size() > 1 ? range[1].toUInt() : first;
        for (unsigned s = first; s <= last && seeds.size() < 10000; ++s)
            seeds.push_back(s);
    }
    return seeds;
}

// --- The random user ------------------------------------------------------------

QString Clip(QString text, int n = 40)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text.size() > n ? text.left(n) + QStringLiteral("...") : text;
}

// The most derived class: the program's classes have no meta-object of their own.
QString ClassName(const QObject* o)
{
    const char* mangled = typeid(*o).name();
    int status = 0;
    char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    const QString s = QString::fromLatin1(status == 0 && name ? name : mangled);
    std::free(name);
    return s;
}

// "QPushButton 'OK' id1 in CCameraInputDlg 'Camera Input'"
QString Describe(const QWidget* w)
{
    if (!w)
        return QStringLiteral("nothing");
    QString d = ClassName(w);
    if (auto* area = qobject_cast<const QAbstractScrollArea*>(w->parentWidget()); area && area->viewport() == w) {
        d = QStringLiteral("the view of ") + ClassName(area);
        w = area;
    }
    QString text;
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text().isEmpty() ? b->toolTip() : b->text();
    else if (auto* e = qobject_cast<const QLineEdit*>(w))
        text = e->text();
    else if (auto* c = qobject_cast<const QComboBox*>(w))
        text = c->currentText();
    if (!text.isEmpty())
        d += QStringLiteral(" '") + Clip(text) + QLatin1Char('\'');
    if (!w->objectName().isEmpty())
        d += QLatin1Char(' ') + w->objectName();
    const QWidget* top = w->window();
    if (top != w) {
        d += QStringLiteral(" in ") + ClassName(top);
        QString title = top->windowTitle();
        if (auto* box = qobject_cast<const QMessageBox*>(top))
            title = box->text();
        if (!title.isEmpty())
            d += QStringLiteral(" '") + Clip(title) + QLatin1Char('\'');
    }
    return d;
}

// Commands a random user never chooses: they end the program or the project.
bool Forbidden(const QAction* a)
{
    const int id = ActionId(a);
    if (id == 57665 || id == 57602 || id == 57600) // Exit, Close, New
        return true;
    const QString text = a->text().remove(QLatin1Char('&'));
    for (const char* word : {"Exit", "Close", "Quit"})
        if (text.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    return false;
}

// Qt's own dialogs, answered with Cancel (Escape): printing, page setup,
// file and colour choice are not the program's.
bool StandardDialog(const QWidget* w)
{
    return qobject_cast<const QPrintDialog*>(w) || qobject_cast<const QPageSetupDialog*>(w) ||
           qobject_cast<const QPrintPreviewDialog*>(w) || qobject_cast<const QFileDialog*>(w) ||
           qobject_cast<const QColorDialog*>(w);
}

// A window's title bar and the maximised window's buttons in the menu bar:
// they close windows (the project window's close ends the project).
bool TitleBar(const QWidget* w)
{
    return qobject_cast<const QMdiSubWindow*>(w) ||
           QByteArray(w->metaObject()->className()).startsWith("QMdi::");
}

// The buttons that end a dialog.
bool EndsDialog(const QAbstractButton* b)
{
    QString text = b->text();
    text.remove(QLatin1Char('&'));
    for (const char* word : {"OK", "Cancel", "Close", "Yes", "No", "Accept", "Reject", "Done", "Apply"})
        if (text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

class UserStream {
public:
    UserStream(unsigned seed, int events, int seconds, QWidget* mainWindow)
        : rng(seed), limit(events), seconds(seconds), mainWindow(mainWindow)
    {
        closer.setInterval(20);
        QObject::connect(&closer, &QTimer::timeout, [this] { CloseOne(); });
    }

    // Runs the stream; returns with every dialog and menu it left closed.
    void Run()
    {
        clock.start();
        lastEvent.store(NowMs());
        streaming.store(true);
        Schedule();
        loop.exec();
    }
    int Sent() const { return sent; }
    qint64 Elapsed() const { return clock.elapsed(); }

private:
    struct Nest {
        QWidget* modal;
        QWidget* popup;
    };

    int Pick(int n) { return n <= 1 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
    template <class T>
    const T& OneOf(const std::vector<T>& v)
    {
        return v[size_t(Pick(int(v.size())))];
    }

    void Schedule(int ms = 1) { QTimer::singleShot(ms, &closer, [this] { Step(); }); }

    void Step()
    {
        Beat();
        if (finished)
            return;
        QWidget* modal = QApplication::activeModalWidget();
        QWidget* popup = QApplication::activePopupWidget();
        // Inside a loop that an event of ours started: only a new modal
        // dialog or menu takes input (other loops, e.g. waiting for a worker
        // or QTest's own after an event, would not see a user's events).
        if (!nests.empty() && !(modal && modal != nests.back().modal) && !(popup && popup != nests.back().popup)) {
            Schedule(5);
            return;
        }
        if (sent >= limit || clock.elapsed() > qint64(seconds) * 1000) {
            finished = true;
            streaming.store(false);
            phase.store("closing the windows the stream left open");
            closer.start();
            return;
        }
        Schedule();
        nests.push_back({modal, popup});
        ++sent;
        lastEvent.store(NowMs());
        Perform(modal, popup);
        nests.pop_back();
        lastEvent.store(NowMs());
    }

    void Log(const QString& what)
    {
        Record(QStringLiteral("#%1 %2").arg(sent).arg(what).toStdString());
    }

    // Closes the topmost menu or dialog; ends the run when none is left.
    void CloseOne()
    {
        Beat();
        lastEvent.store(NowMs());
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            quiet = 0;
        } else if (QWidget* modal = QApplication::activeModalWidget()) {
            if (auto* d = qobject_cast<QDialog*>(modal))
                d->reject();
            else
                modal->close();
            quiet = 0;
        } else if (nests.empty() && ++quiet > 3) {
            closer.stop();
            loop.quit();
        }
    }

    void Perform(QWidget* modal, QWidget* popup)
    {
        if (popup) {
            InPopup(popup);
            return;
        }
        if (modal && StandardDialog(modal)) {
            Key(modal, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("Cancel"));
            return;
        }
        QWidget* top = modal ? modal->window() : ChooseWindow();
        if (!top)
            return;
        const int kind = Pick(100);
        if (kind < 5 && modal) {
            LeaveDialog(modal);
        } else if (kind < 8 && !modal) {
            OpenMenu(top);
        } else if (kind < 12) {
            Wheel(top);
        } else if (kind < 44) {
            Mouse(top, Qt::LeftButton, false);
        } else if (kind < 56) {
            Mouse(top, Qt::LeftButton, true);
        } else if (kind < 67) {
            Mouse(top, Qt::RightButton, false);
        } else if (kind < 85) {
            TypeText(top);
        } else {
            PressKey(top);
        }
    }

    QWidget* ChooseWindow()
    {
        std::vector<QWidget*> windows;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || !w->windowHandle() || w->windowType() == Qt::ToolTip ||
                w->windowType() == Qt::Popup || w->windowType() == Qt::SplashScreen)
                continue;
            windows.push_back(w);
            if (w == mainWindow) // the main window gets most of the events
                windows.insert(windows.end(), 3, w);
        }
        return windows.empty() ? nullptr : OneOf(windows);
    }

    // Widgets of the window a user can reach, with weights by kind.
    std::vector<QWidget*> Reachable(QWidget* top, bool (*want)(QWidget*))
    {
        std::vector<QWidget*> found;
        QList<QWidget*> all = top->findChildren<QWidget*>();
        all.prepend(top);
        for (QWidget* w : all) {
            if (w->window() != top || !w->isVisible() || !w->isEnabled() || w->visibleRegion().isEmpty())
                continue;
            if (TitleBar(w))
                continue;
            if (auto* b = qobject_cast<QToolButton*>(w))
                if (b->defaultAction() && Forbidden(b->defaultAction()))
                    continue;
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                if (top == mainWindow && b->text().contains(QLatin1String("Close"), Qt::CaseInsensitive))
                    continue;
            if (!want(w))
                continue;
            // Controls count more than labels and frames.
            int weight = 1;
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QTabBar*>(w) ||
                qobject_cast<QAbstractItemView*>(w->parentWidget()))
                weight = 8;
            else if (w->focusPolicy() != Qt::NoFocus || qobject_cast<QAbstractScrollArea*>(w->parentWidget()))
                weight = 4;
            found.insert(found.end(), weight, w);
        }
        return found;
    }

    static bool Clickable(QWidget* w)
    {
        if (qobject_cast<QMenuBar*>(w))
            return false; // menus open by OpenMenu
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w->parentWidget()))
            return w == area->viewport(); // the view, not its frame
        if (qobject_cast<QAbstractScrollArea*>(w))
            return false;
        return w->focusPolicy() != Qt::NoFocus || qobject_cast<QAbstractButton*>(w) ||
               qobject_cast<QTabBar*>(w) || qobject_cast<QScrollBar*>(w) || qobject_cast<QHeaderView*>(w) ||
               w->metaObject()->className() == QByteArray("QSplitterHandle") || w->children().isEmpty();
    }

    static QLineEdit* TextField(QWidget* w)
    {
        if (auto* e = qobject_cast<QLineEdit*>(w))
            return e->isReadOnly() ? nullptr : e;
        return nullptr;
    }
    static bool Typeable(QWidget* w)
    {
        if (TextField(w))
            return true;
        if (auto* t = qobject_cast<QPlainTextEdit*>(w))
            return !t->isReadOnly();
        if (auto* t = qobject_cast<QTextEdit*>(w))
            return !t->isReadOnly();
        return false;
    }

    // A point on the widget: on an item of a view, a tab, or anywhere.
    QPoint Where(QWidget* w)
    {
        if (auto* view = qobject_cast<QAbstractItemView*>(w->parentWidget());
            view && w == view->viewport() && view->model() && Chance(0.85)) {
            std::vector<QRect> items;
            QAbstractItemModel* model = view->model();
            std::vector<QModelIndex> parents{view->rootIndex()};
            auto* tree = qobject_cast<QTreeView*>(view);
            while (!parents.empty() && items.size() < 400) {
                const QModelIndex parent = parents.back();
                parents.pop_back();
                const int rows = std::min(model->rowCount(parent), 200);
                const int columns = std::max(1, model->columnCount(parent));
                for (int r = 0; r < rows; ++r) {
                    const QModelIndex index = model->index(r, Pick(columns), parent);
                    const QRect rect = view->visualRect(index);
                    if (rect.isValid() && w->rect().intersects(rect))
                        items.push_back(rect & w->rect());
                    if (tree && tree->isExpanded(model->index(r, 0, parent)))
                        parents.push_back(model->index(r, 0, parent));
                }
            }
            if (!items.empty()) {
                const QRect r = OneOf(items);
                return QPoint(r.left() + Pick(r.width()), r.top() + Pick(r.height()));
            }
        }
        const QRect r = w->visibleRegion().boundingRect();
        if (auto* tabs = qobject_cast<QTabBar*>(w); tabs && tabs->count() > 0) {
            const QPoint tab = tabs->tabRect(Pick(tabs->count())).center();
            if (r.contains(tab))
                return tab;
        }
        return QPoint(r.left() + Pick(r.width()), r.top() + Pick(r.height()));
    }

    // The point in the window's coordinates, or false where a click there
    // would reach something a user must not touch (a window's title bar with
    // its Close button, the point table).
    bool InWindow(QWidget* top, QWidget* w, QPoint local, QPoint& at)
    {
        at = w->mapTo(top, local);
        QWidget* hit = top->childAt(at);
        if (!hit)
            hit = top;
        return !TitleBar(hit);
    }

    Qt::KeyboardModifiers RandomModifiers()
    {
        const int m = Pick(100);
        return m < 12 ? Qt::ShiftModifier : m < 20 ? Qt::ControlModifier : Qt::NoModifier;
    }

    void Mouse(QWidget* top, Qt::MouseButton button, bool twice)
    {
        const std::vector<QWidget*> targets = Reachable(top, Clickable);
        if (targets.empty())
            return;
        QWidget* w = OneOf(targets);
        QPoint at;
        if (!InWindow(top, w, Where(w), at))
            return Log(QStringLiteral("(skipped a click on a title bar)"));
        const Qt::KeyboardModifiers mods = RandomModifiers();
        QWidget* hit = top->childAt(at);
        const char* what = button == Qt::RightButton ? "right-click" : twice ? "double-click" : "click";
        Log(QStringLiteral("%1%2 at %3,%4 on %5")
                .arg(QLatin1String(what))
                .arg(mods & Qt::ShiftModifier     ? QStringLiteral(" +Shift")
                     : mods & Qt::ControlModifier ? QStringLiteral(" +Ctrl")
                                                  : QString())
                .arg(at.x())
                .arg(at.y())
                .arg(Describe(hit ? hit : w)));
        QPointer<QWidget> guard(top);
        QWindow* window = top->windowHandle();
        QTest::mouseMove(window, at);
        if (!guard)
            return;
        if (twice)
            QTest::mouseDClick(window, button, mods, at);
        else
            QTest::mouseClick(window, button, mods, at);
    }

    // A button that ends the dialog, or Escape.
    void LeaveDialog(QWidget* modal)
    {
        std::vector<QAbstractButton*> buttons;
        for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
            if (b->window() == modal && b->isVisible() && b->isEnabled() && EndsDialog(b))
                buttons.push_back(b);
        QPoint at;
        if (buttons.empty() || Chance(0.2) || !InWindow(modal, buttons[0], {}, at))
            return Key(modal, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("Escape"));
        QAbstractButton* b = OneOf(buttons);
        if (!InWindow(modal, b, b->rect().center(), at))
            return;
        Log(QStringLiteral("click at %1,%2 on %3").arg(at.x()).arg(at.y()).arg(Describe(b)));
        QTest::mouseClick(modal->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    }

    // A turn of the mouse wheel over a widget, sent to the widget under the
    // pointer as the window system would.
    void Wheel(QWidget* top)
    {
        const std::vector<QWidget*> targets = Reachable(top, Clickable);
        if (targets.empty())
            return;
        QWidget* w = OneOf(targets);
        QPoint at;
        if (!InWindow(top, w, Where(w), at))
            return;
        QWidget* hit = top->childAt(at);
        if (!hit)
            hit = top;
        const int notches = Chance(0.5) ? 1 : -1;
        const Qt::KeyboardModifiers mods = RandomModifiers();
        Log(QStringLiteral("wheel %1%2 at %3,%4 on %5")
                .arg(notches > 0 ? QStringLiteral("up") : QStringLiteral("down"))
                .arg(mods & Qt::ControlModifier ? QStringLiteral(" +Ctrl")
                     : mods & Qt::ShiftModifier ? QStringLiteral(" +Shift")
                                                : QString())
                .arg(at.x())
                .arg(at.y())
                .arg(Describe(hit)));
        const QPointF local = hit->mapFrom(top, at);
        QWheelEvent wheel(local, top->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(hit, &wheel);
    }

    void OpenMenu(QWidget* top)
    {
        auto* bar = top->findChild<QMenuBar*>();
        if (!bar || !bar->isVisible())
            return Mouse(top, Qt::LeftButton, false);
        std::vector<QAction*> menus;
        for (QAction* a : bar->actions())
            if (a->menu() && a->isVisible() && a->isEnabled())
                menus.push_back(a);
        if (menus.empty())
            return;
        QAction* a = OneOf(menus);
        const QPoint at = bar->mapTo(top, bar->actionGeometry(a).center());
        Log(QStringLiteral("open the menu '%1'").arg(a->text().remove(QLatin1Char('&'))));
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    }

    void InPopup(QWidget* popup)
    {
        QWindow* window = popup->windowHandle();
        if (auto* menu = qobject_cast<QMenu*>(popup); menu && !Chance(0.08)) {
            std::vector<QAction*> actions;
            for (QAction* a : menu->actions())
                if (a->isVisible() && a->isEnabled() && !a->isSeparator() && !Forbidden(a) &&
                    !menu->actionGeometry(a).isEmpty())
                    actions.push_back(a);
            if (!actions.empty() && window) {
                QAction* a = OneOf(actions);
                const QPoint at = menu->actionGeometry(a).center();
                Log(QStringLiteral("choose '%1'%2 in a menu")
                        .arg(Clip(QString(a->text().isEmpty() ? a->toolTip() : a->text()).remove(QLatin1Char('&'))))
                        .arg(ActionId(a) ? QStringLiteral(" (%1)").arg(ActionId(a)) : QString()));
                QTest::mouseMove(window, at);
                if (QApplication::activePopupWidget() == popup)
                    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
                return;
            }
        }
        if (auto* view = popup->findChild<QAbstractItemView*>(); view && view->isVisible() && Chance(0.85)) {
            QPoint at;
            if (InWindow(popup, view->viewport(), Where(view->viewport()), at) && window) {
                Log(QStringLiteral("pick at %1,%2 in the list of %3").arg(at.x()).arg(at.y()).arg(Describe(popup)));
                QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
                return;
            }
        }
        Key(popup, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("Escape"));
    }

    QString RandomText(bool numberOnly)
    {
        static const std::vector<QString> numbers = {
            "0", "1", "2", "5", "10", "100", "-1", "-5", "3.5", "0.001", "-0.25", "12.345", "1e3", "2.5e-2",
            "1000000", "360", "90", "4", "8", "0.5"};
        static const std::vector<QString> invalid = {
            "", "abc", "1.2.3", "--1", "1e999", "-1e999", "nan", "inf", "99999999999999999999", " ", "1,5",
            "0x1F", "-", ".", "e", "12abc", "%s%n%d", "\\", "/", "..", "P1", "\xc3\xbc\xe2\x82\xac",
            "a very long text that does not fit anywhere in a single field of a dialog at all, twice over "
            "and a little more, to see what a field and the file it goes to make of it"};
        if (numberOnly || Chance(0.5)) {
            if (Chance(0.3))
                return QString::number(std::uniform_real_distribution<double>(-1e4, 1e4)(rng), 'g', Pick(9) + 1);
            return OneOf(numbers);
        }
        return OneOf(invalid);
    }

    void TypeText(QWidget* top)
    {
        const std::vector<QWidget*> fields = Reachable(top, Typeable);
        if (fields.empty())
            return PressKey(top);
        QWidget* w = OneOf(fields);
        QPoint at;
        if (!InWindow(top, w, w->rect().center(), at))
            return;
        const QString text = RandomText(false);
        const bool replace = Chance(0.75);
        const int end = Pick(10); // 0-3 Return, 4-6 Tab, else nothing
        Log(QStringLiteral("type '%1'%2%3 into %4")
                .arg(Clip(text))
                .arg(replace ? QStringLiteral(" over all") : QString())
                .arg(end < 4 ? QStringLiteral(" +Return") : end < 7 ? QStringLiteral(" +Tab") : QString())
                .arg(Describe(w)));
        QPointer<QWidget> guard(top);
        QWindow* window = top->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
        if (!guard)
            return;
        if (replace && guard)
            QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        for (QChar c : text) {
            if (!guard || QApplication::activeModalWidget() != nests.back().modal)
                return; // the keys opened a window: the stream goes on there
            qt_handleKeyEvent(window, QEvent::KeyPress, c.toUpper().unicode() < 128 ? c.toUpper().unicode() : 0,
                              Qt::NoModifier, QString(c));
            qt_handleKeyEvent(window, QEvent::KeyRelease, c.toUpper().unicode() < 128 ? c.toUpper().unicode() : 0,
                              Qt::NoModifier, QString(c));
        }
        if (guard && end < 7 && QApplication::activeModalWidget() == nests.back().modal)
            QTest::keyClick(window, end < 4 ? Qt::Key_Return : Qt::Key_Tab);
    }

    void Key(QWidget* top, Qt::Key key, Qt::KeyboardModifiers mods, const QString& name)
    {
        Log(QStringLiteral("key %1 to %2").arg(name).arg(Describe(top->focusWidget() ? top->focusWidget() : top)));
        if (QWindow* window = top->windowHandle())
            QTest::keyClick(window, key, mods);
    }

    void PressKey(QWidget* top)
    {
        struct K {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            const char* name;
        };
        static const std::vector<K> keys = {
            {Qt::Key_Return, Qt::NoModifier, "Return"},  {Qt::Key_Enter, Qt::NoModifier, "Enter"},
            {Qt::Key_Escape, Qt::NoModifier, "Escape"},  {Qt::Key_Tab, Qt::NoModifier, "Tab"},
            {Qt::Key_Backtab, Qt::ShiftModifier, "Shift+Tab"}, {Qt::Key_Space, Qt::NoModifier, "Space"},
            {Qt::Key_Up, Qt::NoModifier, "Up"},          {Qt::Key_Down, Qt::NoModifier, "Down"},
            {Qt::Key_Left, Qt::NoModifier, "Left"},      {Qt::Key_Right, Qt::NoModifier, "Right"},
            {Qt::Key_PageUp, Qt::NoModifier, "PageUp"},  {Qt::Key_PageDown, Qt::NoModifier, "PageDown"},
            {Qt::Key_Home, Qt::NoModifier, "Home"},      {Qt::Key_End, Qt::NoModifier, "End"},
            {Qt::Key_Delete, Qt::NoModifier, "Delete"},  {Qt::Key_Backspace, Qt::NoModifier, "Backspace"},
            {Qt::Key_Insert, Qt::NoModifier, "Insert"},  {Qt::Key_F1, Qt::NoModifier, "F1"},
            {Qt::Key_F2, Qt::NoModifier, "F2"},          {Qt::Key_F5, Qt::NoModifier, "F5"},
            {Qt::Key_Down, Qt::ShiftModifier, "Shift+Down"}, {Qt::Key_Up, Qt::ControlModifier, "Ctrl+Up"},
            {Qt::Key_S, Qt::ControlModifier, "Ctrl+S"},  {Qt::Key_O, Qt::ControlModifier, "Ctrl+O"},
            {Qt::Key_P, Qt::ControlModifier, "Ctrl+P"},  {Qt::Key_Return, Qt::AltModifier, "Alt+Return"},
            {Qt::Key_Z, Qt::AltModifier, "Alt+Z"},       {Qt::Key_U, Qt::AltModifier, "Alt+U"},
            {Qt::Key_Q, Qt::AltModifier, "Alt+Q"},       {Qt::Key_Y, Qt::AltModifier, "Alt+Y"},
            {Qt::Key_D, Qt::AltModifier, "Alt+D"},       {Qt::Key_A, Qt::AltModifier, "Alt+A"},
            {Qt::Key_E, Qt::AltModifier, "Alt+E"},       {Qt::Key_V, Qt::AltModifier, "Alt+V"},
            {Qt::Key_H, Qt::AltModifier, "Alt+H"},       {Qt::Key_X, Qt::AltModifier, "Alt+X"},
            {Qt::Key_R, Qt::AltModifier, "Alt+R"},       {Qt::Key_M, Qt::AltModifier, "Alt+M"},
            {Qt::Key_Equal, Qt::AltModifier, "Alt+="},   {Qt::Key_Minus, Qt::AltModifier, "Alt+-"},
        };
        const K& k = OneOf(keys);
        Key(top, k.key, k.mods, QString::fromLatin1(k.name));
    }

    std::mt19937 rng;
    const int limit;
    const int seconds;
    QWidget* const mainWindow;
    int sent = 0;
    int quiet = 0;
    bool finished = false;
    std::vector<Nest> nests;
    QElapsedTimer clock;
    QTimer closer;
    QEventLoop loop;
};

// --- The test ----------------------------------------------------------------------

class RandomUser : public ShellFixture, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomUser, OnTheSample)
{
    const unsigned seed = GetParam();
    const int events = EnvInt("KESTRELON_RANDOM_EVENTS", 2000);
    const int seconds = EnvInt("KESTRELON_RANDOM_SECONDS", 40);
    InstallHandlers();
    verbose = EnvInt("KESTRELON_RANDOM_VERBOSE", 0) != 0;
    theLog.count.store(0);
    theLog.printed.store(false);
    std::snprintf(theLog.header, sizeof theLog.header,
                  "seed %u (rerun: KESTRELON_RANDOM_SEEDS=%u KESTRELON_RANDOM_EVENTS=%d)", seed, seed, events);
    std::printf("[ random   ] seed %u, %d events, at most %d s\n", seed, events, seconds);
    std::fflush(stdout);

    Watchdog watchdog;
    phase.store("opening the sample");
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    Frame()->resize(1200, 900);
    Frame()->activateWindow();
    Settle();

    // Message boxes as the program shows them, for the user to answer; other
    // dialogs run; file and folder dialogs answer Cancel (the fixture's file
    // queue is empty); colours are picked now and then.
    InstallQtMessageBoxes();
    SetModalDialogHook([](CDialog&) { return -1; });
    SetFolderDialogHook([](QWidget*, const QString&, const QString&) { return QString(); });
    std::mt19937 colours(seed);
    SetColourDialogHook([&colours](QWidget*, QColor& colour) {
        if (colours() % 2)
            return false;
        colour = QColor::fromRgb(colours() & 0xffffff);
        return true;
    });

    phase.store("the random stream");
    UserStream user(seed, events, seconds, Frame());
    user.Run();

    // Still running, on the project: nothing closed it.
    phase.store("ending the program");
    ASSERT_NE(Frame(), nullptr);
    EXPECT_NE(GetActiveKestrelonDoc(), nullptr);
    Frame()->grab().save(TestOutputFolder() + QStringLiteral("/RandomInput-seed%1.png").arg(seed));
    std::printf("[ random   ] seed %u: %d events in %.1f s ran clean\n", seed, user.Sent(), user.Elapsed() / 1000.0);
    std::fflush(stdout);
    SetMessageBoxHandler([](const char*, const char*, unsigned type) { return DefaultMessageAnswer(type); });
    SetModalDialogHook([](CDialog&) { return int(QDialog::Rejected); });
    Stop();
    theLog.printed.store(true); // the stream is over: a report at the exit is not its own
}

INSTANTIATE_TEST_SUITE_P(RandomInput, RandomUser, ::testing::ValuesIn(Seeds()),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "seed" + std::to_string(info.param);
                         });

} // namespace random_input_test
