// The user-interface services that tests replace: file, folder and colour
// dialogs, opening a file with the desktop's default application and the
// wait cursor. Message boxes go through AfxMessageBox of the platform layer;
// InstallQtMessageBoxes shows them as QMessageBox.
#pragma once

#include <QColor>
#include <QString>

#include <functional>

class QWidget;

struct CFileDialogRequest {
    bool open = true;      // false: a save dialog
    QString title;
    QString folder;        // initial folder
    QString fileName;      // initial name
    QString filter;        // "Kestrelon Projects (*.kst)"
    QString defaultSuffix; // "kst"
};

// Returns the chosen path, or "" for Cancel.
using FileDialogHook = std::function<QString(QWidget* parent, const CFileDialogRequest& request)>;
using FolderDialogHook = std::function<QString(QWidget* parent, const QString& title, const QString& folder)>;
// Edits the colour; false for Cancel.
using ColourDialogHook = std::function<bool(QWidget* parent, QColor& colour)>;
// Opens the absolute path with the desktop's default; false when that failed.
using OpenWithDesktopHook = std::function<bool(const QString& absolutePath)>;
// Called with true when a wait cursor starts and false when it ends.
using WaitCursorHook = std::function<void(bool on)>;

// Each setter installs a hook (null: the standard Qt behaviour) and returns the old one.
FileDialogHook SetFileDialogHook(FileDialogHook hook);
FolderDialogHook SetFolderDialogHook(FolderDialogHook hook);
ColourDialogHook SetColourDialogHook(ColourDialogHook hook);
OpenWithDesktopHook SetOpenWithDesktopHook(OpenWithDesktopHook hook);
WaitCursorHook SetWaitCursorHook(WaitCursorHook hook);

QString AfxGetFileName(QWidget* parent, const CFileDialogRequest& request);
QString AfxGetFolder(QWidget* parent, const QString& title, const QString& folder);
bool AfxGetColour(QWidget* parent, QColor& colour);
// The path is made absolute against the working directory, which stays as it is.
bool AfxOpenWithDesktop(const QString& path);

// A wait cursor for the object's lifetime; it ends on every way out.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Shows the platform's message boxes as QMessageBox (caption "Kestrelon"
// unless given); a box asked for on a worker thread is shown on the
// user-interface thread while the worker waits.
void InstallQtMessageBoxes();

// Texts of files are cp1252 bytes; they are converted only here.
QString FromCp1252(const char* bytes);
QString FromCp1252(const std::string& bytes);
// Characters without a cp1252 byte become '?'.
std::string ToCp1252(const QString& text);

// Start-up order of the process: the default OpenGL format before the
// QApplication exists, the C locale for numbers and dates right after it.
void SetDefaultOpenGLFormat();
void RestoreCLocale();
