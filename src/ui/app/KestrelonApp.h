// The application object: the profile databases, the document templates,
// the main frame, the recent-file list and the splash window.
#pragma once

#include "CmdTarget.h"
#include "Dialog.h"
#include "DocFramework.h"
#include "ProfileDatabases.h"

#include <QObject>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

class CMainFrame;
class QPrinter;

class CKestrelonApp : public QObject, public CProfileDatabases, public CCmdTarget {
public:
    CKestrelonApp();
    ~CKestrelonApp() override;

    // Start-up; false ends the program before the event loop. Arguments:
    // the program, then "--nosplash" and a project file, both optional.
    bool InitInstance(const QStringList& arguments);
    // Saves the modified database records and the recent-file list.
    int ExitInstance();

    CDocManager* GetDocManager() const { return docManager; }
    // The template of image windows; not registered with the document manager.
    CDocTemplate* GetImageTemplate() const { return imageTemplate; }
    CMainFrame* GetMainWnd() const { return m_pMainWnd; }
    const QString& GetProgramDirectory() const { return programDirectory; }
    // The folder where the program's own files (the user guide) are looked for.
    void SetProgramDirectory(const QString& folder) { programDirectory = folder; }
    const QString& GetPdfReaderPath() const { return pdfReaderPath; }

    // Opens a project (an open one is activated); null when that failed.
    CDocument* OpenDocumentFile(const QString& path);
    const QStringList& GetRecentFiles() const { return recentFiles; }
    void AddToRecentFileList(const QString& path);

    CCamera* FindDatabaseCamera(const char* name) const { return cameraDatabase.FindByName(name); }

    void OnFileNew();
    void OnFileOpen();
    void OnAppAbout();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Every project frame lets go of deleted records before the write.
    void DatabasesChanged() override;

private:
    void LoadRecentFiles();
    void WriteRecentFiles(CProfileStore& profile) const;
    void OpenRecentFile(int index);
    // True when the quit has to wait for nested event loops to end.
    bool DeferQuit();

    CDocTemplate* imageTemplate = nullptr;
    CDocManager* docManager = nullptr;
    CMainFrame* m_pMainWnd = nullptr;
    QString programDirectory;
    QString pdfReaderPath;
    QStringList recentFiles;
    QPrinter* printer = nullptr;
    int quitRetries = 0;
};

CKestrelonApp* AfxGetApp();

// The picture shown for three seconds while the main frame is created; the
// first key or mouse press hides it and is swallowed.
class CSplashWindow : public QWidget {
public:
    static void EnableSplashScreen(bool enable);
    static void ShowSplashScreen(QWidget* parent);
    // True when the event hid the splash (the event is consumed).
    static bool PreTranslateAppMessage(QEvent* event);
    static CSplashWindow* Instance();
    void HideSplashScreen();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    explicit CSplashWindow(QWidget* parent);
    ~CSplashWindow() override;
    QPixmap bitmap;
};

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
