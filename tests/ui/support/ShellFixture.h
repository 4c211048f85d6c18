// A started application with its dialogs answered by the test: message
// boxes from a queue of answers, file dialogs from a queue of paths, the
// desktop opener recorded. The profile lives in a temporary folder.
#pragma once

#include "Dialog.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "KestrelonApp.h"
#include "MainFrame.h"
#include "Message.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the application with the arguments after the program name.
    CKestrelonApp* Start(const QStringList& arguments = {QStringLiteral("--nosplash")});
    // Ends it as the program does: the main window closes, then the exit.
    void Stop();
    CMainFrame* Frame() const { return app ? app->GetMainWnd() : nullptr; }
    // Writes the sample project into a fresh folder and returns its path.
    QString WriteSample(const QString& name = QStringLiteral("sample"));
    // The texts of the message boxes shown since the last call.
    std::vector<std::string> TakeMessages();
    // Writes a desktop opener (an empty xdg-open) into a folder of the
    // scratch space and returns the folder: start with it as PATH to have
    // the opener found.
    QString MakeDesktopOpener();
    // Lets queued events and deferred deletions run.
    static void Settle();
    // Chooses the command's menu entry as the user does: the entry must be
    // enabled; the command runs before this returns.
    void MenuCommand(int id);
    // Starts the application with a new, empty project, kept in doc.
    void NewProject();
    // Types the text into the dialog's line edit as a user would.
    static void Type(CDialog& d, int id, const QString& text);
    // Clicks OK; with a message, checks that it was shown and the dialog
    // stayed open, then cancels it. Returns the dialog's result.
    int ClickOk(CDialog& d, const char* message);

    QTemporaryDir scratch;
    std::unique_ptr<CKestrelonApp> app;
    CKestrelonDoc* doc = nullptr; // set by NewProject
    std::deque<int> answers;      // message box answers, oldest first
    std::deque<QString> files;    // file dialog answers ("" = Cancel)
    int fileDialogs = 0;
    CFileDialogRequest lastFileDialog; // what the last file dialog asked
    QStringList opened;           // paths given to the desktop opener
    // Modal dialogs answered in turn, oldest first; each returns the dialog's
    // result. Without one, "Define Project Units" takes its OK and other
    // dialogs run.
    std::deque<std::function<int(CDialog&)>> dialogs;
};

// The folder the tests write their pictures into.
QString TestOutputFolder();
