#include "ShellFixture.h"

#include "CentroidSettings.h"
#include "SampleProject.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>

void ShellFixture::SetUp()
{
    ASSERT_TRUE(scratch.isValid());
    const QString config = scratch.filePath(QStringLiteral("config"));
    QDir().mkpath(config);
    setenv("XDG_CONFIG_HOME", config.toLocal8Bit().constData(), 1);
    // The centroid settings are the process's, and a project's load replaces
    // them: each test starts from the defaults, as a started program does.
    GetCentroidSettings() = CCentroidSettings();
    TakeCapturedMessages();
    SetMessageBoxHandler([this](const char*, const char*, unsigned type) {
        if (answers.empty())
            return DefaultMessageAnswer(type);
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    });
    SetFileDialogHook([this](QWidget*, const CFileDialogRequest& request) {
        ++fileDialogs;
        lastFileDialog = request;
        if (files.empty())
            return QString();
        const QString path = files.front();
        files.pop_front();
        return path;
    });
    SetModalDialogHook([this](CDialog& dialog) {
        if (!dialogs.empty()) {
            const auto answer = std::move(dialogs.front());
            dialogs.pop_front();
            return answer(dialog);
        }
        if (dialog.GetResourceId() == 245) {
            dialog.OnOK();
            return dialog.result();
        }
        return -1;
    });
    SetOpenWithDesktopHook([this](const QString& path) {
        opened << path;
        return true;
    });
}

void ShellFixture::NewProject()
{
    ASSERT_TRUE(Start());
    app->OnFileNew();
    Settle();
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
}

void ShellFixture::Type(CDialog& d, int id, const QString& text)
{
    auto* edit = d.Item<QLineEdit>(id);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

int ShellFixture::ClickOk(CDialog& d, const char* message)
{
    d.Item<QAbstractButton>(IDOK)->click();
    if (message) {
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{message});
        EXPECT_TRUE(d.isVisible());
        d.OnCancel();
    }
    return d.result();
}

void ShellFixture::TearDown()
{
    Stop();
    SetMessageBoxHandler(nullptr);
    SetFileDialogHook(nullptr);
    SetModalDialogHook(nullptr);
    SetOpenWithDesktopHook(nullptr);
    unsetenv("XDG_CONFIG_HOME");
}

CKestrelonApp* ShellFixture::Start(const QStringList& arguments)
{
    app = std::make_unique<CKestrelonApp>();
    if (!app->InitInstance(QStringList{QStringLiteral("kestrelon")} + arguments)) {
        app.reset();
        return nullptr;
    }
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    Settle();
    return app.get();
}

void ShellFixture::Stop()
{
    if (!app)
        return;
    if (Frame())
        Frame()->close();
    Settle();
    app->ExitInstance();
    app.reset();
    Settle();
}

QString ShellFixture::WriteSample(const QString& name)
{
    const QString folder = scratch.filePath(name);
    std::string message;
    EXPECT_TRUE(WriteSampleProject(folder.toStdString(), message)) << message;
    return folder + QStringLiteral("/Sample.kst");
}

QString ShellFixture::MakeDesktopOpener()
{
    const QString bin = scratch.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    QFile opener(bin + QStringLiteral("/xdg-open"));
    EXPECT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return bin;
}

std::vector<std::string> ShellFixture::TakeMessages()
{
    std::vector<std::string> texts;
    for (const CapturedMessage& m : TakeCapturedMessages())
        texts.push_back(m.text);
    return texts;
}

void ShellFixture::Settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QTest::qWait(1);
    }
}

void ShellFixture::MenuCommand(int id)
{
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(id)->isEnabled()) << id;
    Frame()->GetAction(id)->trigger();
    Settle();
}

QString TestOutputFolder()
{
    const QString folder = QStringLiteral(KESTRELON_TEST_OUTPUT);
    QDir().mkpath(folder);
    return folder;
}
