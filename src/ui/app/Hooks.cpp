#include "Hooks.h"

#include "DocFramework.h"
#include "Message.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMessageBox>
#include <QPointer>
#include <QSurfaceFormat>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <clocale>

namespace {

struct Hooks {
    FileDialogHook file;
    FolderDialogHook folder;
    ColourDialogHook colour;
    OpenWithDesktopHook open;
    WaitCursorHook wait;
};

Hooks& TheHooks()
{
    static Hooks h;
    return h;
}

template <class T>
T Swap(T& slot, T hook)
{
    std::swap(slot, hook);
    return hook;
}

// Unicode of the cp1252 bytes 0x80..0x9F; 0 where the code page has none.
const char16_t kHigh[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                            0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

// The window a message box belongs to, so that it stays above it: the
// topmost modal dialog; else the active dialog; else the dialog of the
// program that is up (the one shown last when several are); else the
// active window, or the main window.
QWidget* MessageBoxParent()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    QWidget* active = QApplication::activeWindow();
    if (qobject_cast<QDialog*>(active))
        return active;
    QWidget* dialog = nullptr;
    qsizetype latest = -1;
    const QWindowList windows = QGuiApplication::topLevelWindows(); // in the order they were made
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!qobject_cast<QDialog*>(w) || !w->isVisible() || !w->windowHandle())
            continue;
        const qsizetype at = windows.indexOf(w->windowHandle());
        if (at > latest) {
            latest = at;
            dialog = w;
        }
    }
    if (dialog)
        return dialog;
    if (active)
        return active;
    QMdiArea* area = AfxGetMdiArea();
    return area ? area->window() : nullptr;
}

int ShowBox(const char* text, const char* caption, unsigned type)
{
    // On the heap: the box goes with its parent should that close meanwhile.
    QPointer<QMessageBox> owned = new QMessageBox(MessageBoxParent());
    QMessageBox& box = *owned;
    box.setWindowTitle(FromCp1252(caption));
    box.setText(FromCp1252(text));
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    QList<QMessageBox::StandardButton> buttons;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: buttons = {QMessageBox::Ok, QMessageBox::Cancel}; break;
    case MB_YESNOCANCEL: buttons = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}; break;
    case MB_YESNO: buttons = {QMessageBox::Yes, QMessageBox::No}; break;
    default: buttons = {QMessageBox::Ok}; break;
    }
    for (auto b : buttons)
        box.addButton(b);
    const int def = int((type & MB_DEFMASK) >> 8);
    if (def < buttons.size())
        box.setDefaultButton(buttons[def]);
    const int chosen = box.exec();
    if (owned)
        delete owned.data();
    switch (chosen) {
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    default: return DefaultMessageAnswer(type);
    }
}

} // namespace

FileDialogHook SetFileDialogHook(FileDialogHook hook) { return Swap(TheHooks().file, std::move(hook)); }
FolderDialogHook SetFolderDialogHook(FolderDialogHook hook) { return Swap(TheHooks().folder, std::move(hook)); }
ColourDialogHook SetColourDialogHook(ColourDialogHook hook) { return Swap(TheHooks().colour, std::move(hook)); }
OpenWithDesktopHook SetOpenWithDesktopHook(OpenWithDesktopHook hook) { return Swap(TheHooks().open, std::move(hook)); }
WaitCursorHook SetWaitCursorHook(WaitCursorHook hook) { return Swap(TheHooks().wait, std::move(hook)); }

QString AfxGetFileName(QWidget* parent, const CFileDialogRequest& r)
{
    if (TheHooks().file)
        return TheHooks().file(parent, r);
    QFileDialog dialog(parent, r.title, r.folder, r.filter);
    dialog.setAcceptMode(r.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(r.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!r.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(r.defaultSuffix);
    if (!r.fileName.isEmpty() && !r.fileName.contains('*'))
        dialog.selectFile(r.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString AfxGetFolder(QWidget* parent, const QString& title, const QString& folder)
{
    if (TheHooks().folder)
        return TheHooks().folder(parent, title, folder);
    return QFileDialog::getExistingDirectory(parent, title, folder);
}

bool AfxGetColour(QWidget* parent, QColor& colour)
{
    if (TheHooks().colour)
        return TheHooks().colour(parent, colour);
    const QColor chosen = QColorDialog::getColor(colour, parent);
    if (!chosen.isValid())
        return false;
    colour = chosen;
    return true;
}

bool AfxOpenWithDesktop(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (TheHooks().open)
        return TheHooks().open(absolute);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

CWaitCursor::CWaitCursor()
{
    if (TheHooks().wait)
        TheHooks().wait(true);
    else
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

CWaitCursor::~CWaitCursor()
{
    if (TheHooks().wait)
        TheHooks().wait(false);
    else
        QApplication::restoreOverrideCursor();
}

void InstallQtMessageBoxes()
{
    SetMessageBoxHandler([](const char* text, const char* caption, unsigned type) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return DefaultMessageAnswer(type);
        if (QThread::currentThread() == app->thread())
            return ShowBox(text, caption, type);
        int answer = DefaultMessageAnswer(type);
        QMetaObject::invokeMethod(
            app, [&] { answer = ShowBox(text, caption, type); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}

QString FromCp1252(const char* bytes)
{
    QString out;
    if (!bytes)
        return out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; ++p) {
        const unsigned c = *p;
        if (c >= 0x80 && c < 0xA0)
            out += QChar(kHigh[c - 0x80] ? kHigh[c - 0x80] : c);
        else
            out += QChar(c);
    }
    return out;
}

QString FromCp1252(const std::string& bytes)
{
    return FromCp1252(bytes.c_str());
}

std::string ToCp1252(const QString& text)
{
    std::string out;
    out.reserve(size_t(text.size()));
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
            out += char(u);
            continue;
        }
        // Bytes the code page leaves undefined came in as themselves.
        char byte = (u < 0xA0 && kHigh[u - 0x80] == 0) ? char(u) : '?';
        for (int i = 0; i < 32 && byte == '?'; ++i)
            if (kHigh[i] == u && u != 0) {
                byte = char(0x80 + i);
                break;
            }
        out += byte;
    }
    return out;
}

void SetDefaultOpenGLFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);
}

void RestoreCLocale()
{
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
}
