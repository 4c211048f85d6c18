#include "KestrelonApp.h"

#include "CameraDialogs.h"
#include "Frames.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MainFrame.h"
#include "ImageView.h"
#include "MeasurementDialogs.h"
#include "Message.h"
#include <QStatusBar>
#include "Resources.h"
#include "StationDialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

CKestrelonApp* theApp = nullptr;
bool splashEnabled = true;
CSplashWindow* splashInstance = nullptr;

// The program's picture: a stylised kestrel eye over a target.
QPixmap ProgramPicture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 80, 30));
    p.drawEllipse(QRectF(0, 0, size, size));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6));
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(size * 0.38, size * 0.38, size * 0.24, size * 0.24));
    return pixmap;
}

} // namespace

CKestrelonApp* AfxGetApp()
{
    return theApp;
}

CKestrelonApp::CKestrelonApp()
{
    theApp = this;
    OnCommand(ID_FILE_NEW, [this] { OnFileNew(); });
    OnCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
    OnCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    OnCommand(ID_FILE_PRINT_SETUP, [this] {
        if (!printer)
            printer = new QPrinter();
        QPageSetupDialog(printer, m_pMainWnd).exec();
    });
    for (int i = 0; i < kRecentFileCount; ++i) {
        OnCommand(ID_FILE_MRU_FILE1 + i, [this, i] { OpenRecentFile(i); });
        OnUpdate(ID_FILE_MRU_FILE1 + i, [this, i](CCmdUI* ui) {
            if (recentFiles.isEmpty() && i == 0) {
                ui->SetText(QStringLiteral("Recent File"));
                ui->Enable(false);
                if (ui->m_pAction)
                    ui->m_pAction->setVisible(true);
                return;
            }
            const bool shown = i < recentFiles.size();
            if (ui->m_pAction)
                ui->m_pAction->setVisible(shown);
            if (shown)
                ui->SetText(QStringLiteral("&%1 %2").arg(i + 1).arg(recentFiles[i]));
            ui->Enable(shown);
        });
    }
}

CKestrelonApp::~CKestrelonApp()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (m_pMainWnd && docManager)
        docManager->CloseAllDocuments();
    delete m_pMainWnd;
    delete docManager;
    delete imageTemplate;
    delete printer;
    SetHubDispatcher(nullptr, nullptr);
    SetStatusTextHandler(nullptr);
    SetActiveProjectDocProvider(nullptr);
    InstallMeasureNewPointDialog(false);
    if (GetAppDatabases() == this)
        SetAppDatabases(nullptr);
    if (theApp == this)
        theApp = nullptr;
}

bool CKestrelonApp::InitInstance(const QStringList& arguments)
{
    // 1. Command line.
    QString file;
    bool showSplash = true;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--nosplash"))
            showSplash = false;
        else if (file.isEmpty())
            file = arguments[i];
    }
    CSplashWindow::EnableSplashScreen(showSplash);

    // 2, 3. Profile settings and databases.
    SetAppDatabases(this);
    if (!LoadDatabases())
        return false;
    LoadRecentFiles();
    SetStdProfileWriter([this](CProfileStore& profile) { WriteRecentFiles(profile); });
    SetCameraDialogHandler([](CCameraList& database, int index) {
        CCameraDataDlg dialog(&database, index, 0, AfxGetMainFrame());
        dialog.DoModal();
    });

    // 4, 5. The program's folder and the desktop's opener.
    programDirectory = QCoreApplication::applicationDirPath();
    pdfReaderPath = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));

    // 6, 7. Templates.
    docManager = new CDocManager;
    auto* projectTemplate = new CDocTemplate(
        IDR_PROJECTTYPE, kProjectDocString, [] { return new CKestrelonDoc; }, [] { return new CProjectFrame; },
        nullptr);
    projectTemplate->SetMenu(kProjectMenu, kProjectMenuCount);
    docManager->AddDocTemplate(projectTemplate);
    imageTemplate = new CDocTemplate(
        IDR_PROJECTTYPE, kProjectDocString, [] { return new CKestrelonDoc; }, [] { return new CChildFrame; },
        nullptr);
    imageTemplate->SetMenu(kProjectMenu, kProjectMenuCount);
    InstallImageView(imageTemplate);
    // The image view's Resect asks for the start station first.
    CImageView::SetResectStationPrompt([](CProjectImage& image, bool& fromGivenStation) {
        CResectStationDlg dlg(&image);
        const int result = dlg.DoModal();
        fromGivenStation = dlg.m_bUseGiven != 0;
        return result;
    });

    // 8, 9. Main frame.
    QApplication::setWindowIcon(QIcon(ProgramPicture(32)));
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    m_pMainWnd = new CMainFrame;
    if (!m_pMainWnd->LoadFrame())
        return false;
    InstallMessageHub(m_pMainWnd);
    SetStatusTextHandler([](const char* text) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        const QString value = FromCp1252(text);
        QMetaObject::invokeMethod(app, [value] {
            if (CMainFrame* frame = AfxGetMainFrame())
                if (frame->statusBar()->isVisible())
                    frame->SetPaneText(0, value);
        }, QThread::currentThread() == app->thread() ? Qt::DirectConnection : Qt::QueuedConnection);
    });
    SetActiveProjectDocProvider([]() -> CProjectDocument* { return GetActiveKestrelonDoc(); });
    InstallMeasureNewPointDialog();

    // 10. A project named on the command line.
    if (!file.isEmpty() && !OpenDocumentFile(file))
        return false;

    // 11.
    m_pMainWnd->showMaximized();
    m_pMainWnd->UpdateCmdUI();
    return true;
}

int CKestrelonApp::ExitInstance()
{
    WriteRecentFiles(GetProfile());
    // The last chance to keep the database changes: the user may free the
    // disk or the folder and try again.
    while (!SaveDatabases(0)) {
        const std::string text = GetWriteFailureText() + "\nThe database changes will be lost. Try again?";
        if (AfxMessageBox(text.c_str(), MB_YESNO | MB_ICONWARNING) != IDYES)
            break;
    }
    delete imageTemplate;
    imageTemplate = nullptr;
    return 0;
}

CDocument* CKestrelonApp::OpenDocumentFile(const QString& path)
{
    CDocument* doc = docManager ? docManager->OpenDocumentFile(path) : nullptr;
    if (m_pMainWnd)
        m_pMainWnd->UpdateMenuBar();
    return doc;
}

void CKestrelonApp::AddToRecentFileList(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recentFiles.removeAll(absolute);
    recentFiles.prepend(absolute);
    while (recentFiles.size() > kRecentFileCount)
        recentFiles.removeLast();
}

void CKestrelonApp::LoadRecentFiles()
{
    recentFiles.clear();
    for (int i = 0; i < kRecentFileCount; ++i) {
        const std::string key = "File" + std::to_string(i + 1);
        const std::string value = GetProfile().GetString(ProfileKeys::kRecentFileSection, key.c_str(), "");
        if (!value.empty())
            recentFiles.append(FromCp1252(value));
    }
}

void CKestrelonApp::WriteRecentFiles(CProfileStore& profile) const
{
    for (int i = 0; i < kRecentFileCount; ++i) {
        const std::string key = "File" + std::to_string(i + 1);
        const std::string value = i < recentFiles.size() ? ToCp1252(recentFiles[i]) : std::string();
        profile.WriteString(ProfileKeys::kRecentFileSection, key.c_str(), value.c_str());
    }
}

void CKestrelonApp::OpenRecentFile(int index)
{
    if (index < 0 || index >= recentFiles.size())
        return;
    const QString path = recentFiles[index];
    if (!OpenDocumentFile(path))
        recentFiles.removeAll(path);
}

void CKestrelonApp::OnFileNew()
{
    if (docManager)
        docManager->OnFileNew();
    if (m_pMainWnd)
        m_pMainWnd->UpdateMenuBar();
}

void CKestrelonApp::OnFileOpen()
{
    // The file first: Cancel changes nothing.
    CFileDialogRequest request;
    request.open = true;
    request.title = QStringLiteral("Open");
    CDocTemplate* t = docManager ? docManager->GetFirstTemplate() : nullptr;
    if (t) {
        request.filter = t->GetDocString(CDocTemplate::filterName);
        request.defaultSuffix = t->GetDocString(CDocTemplate::filterExt).mid(1);
    }
    CKestrelonDoc* active = GetActiveKestrelonDoc();
    if (active)
        request.folder = FromCp1252(active->GetProjectFolder().GetText());
    const QString path = AfxGetFileName(m_pMainWnd, request);
    if (path.isEmpty())
        return;
    // A project not saved in this run gives way to the opened one; when
    // modified it gets the save question first, and Cancel keeps it and opens
    // nothing. It is closed only once the other project has opened: a file
    // that cannot be read leaves it open and active as it was.
    active = GetActiveKestrelonDoc();
    if (active && docManager && docManager->FindOpenDocument(path) == active)
        active = nullptr; // the file is the active project itself
    if (active && active->savedInThisRun)
        active = nullptr;
    if (active && !active->SaveModified())
        return;
    QMdiSubWindow* activeFrame = AfxGetMdiArea() ? AfxGetMdiArea()->activeSubWindow() : nullptr;
    CDocument* opened = OpenDocumentFile(path);
    if (!opened) {
        if (activeFrame && AfxGetMdiArea() && AfxGetMdiArea()->subWindowList().contains(activeFrame))
            AfxGetMdiArea()->setActiveSubWindow(activeFrame);
        return;
    }
    if (active && opened != active && IsLiveDocument(active)) {
        active->OnCloseDocument();
        if (m_pMainWnd)
            m_pMainWnd->UpdateMenuBar();
    }
}

void CKestrelonApp::OnAppAbout()
{
    CAboutDlg dialog(m_pMainWnd);
    dialog.DoModal();
}

void CKestrelonApp::DatabasesChanged()
{
    // Every open project, so that no list paints a deleted record, also not
    // while a message of the write is up.
    if (QMdiArea* area = AfxGetMdiArea())
        for (QMdiSubWindow* window : area->subWindowList())
            if (auto* frame = dynamic_cast<CProjectFrame*>(window))
                frame->ReleaseRemovedRecords();
}

bool CKestrelonApp::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() && DeferQuit())
        return true;
    if (CSplashWindow::PreTranslateAppMessage(event))
        return true;
    return QObject::eventFilter(watched, event);
}

bool CKestrelonApp::DeferQuit()
{
    // The quit closes every window and document. Inside a nested event loop
    // (a modal dialog, a message box, a popup menu) the code that opened the
    // loop would go on with them gone: the popups and modal windows are
    // closed as if cancelled, and the quit is asked again once the loops have
    // returned to the main one.
    if (QThread::currentThread()->loopLevel() <= 1) {
        quitRetries = 0;
        return false;
    }
    while (QWidget* popup = QApplication::activePopupWidget())
        if (!popup->close())
            break;
    bool refused = false;
    while (QWidget* modal = QApplication::activeModalWidget())
        if (!modal->close()) {
            refused = true; // e.g. a run that ends itself once it has stopped
            break;
        }
    // A loop that does not end within the retries keeps the program running,
    // as a window that refuses to close does.
    constexpr int kRetryMs = 20;
    constexpr int kMaxRetries = 500;
    if (++quitRetries > kMaxRetries) {
        quitRetries = 0;
        return true;
    }
    QTimer::singleShot(refused ? 5 * kRetryMs : kRetryMs, this, [] { QCoreApplication::quit(); });
    return true;
}

// ---------------------------------------------------------------------------
// CSplashWindow

void CSplashWindow::EnableSplashScreen(bool enable)
{
    splashEnabled = enable;
}

CSplashWindow* CSplashWindow::Instance()
{
    return splashInstance;
}

void CSplashWindow::ShowSplashScreen(QWidget* parent)
{
    if (!splashEnabled || splashInstance)
        return;
    splashInstance = new CSplashWindow(parent);
    splashInstance->show();
    splashInstance->repaint();
}

CSplashWindow::CSplashWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("id105"));
    bitmap = QPixmap(420, 260);
    bitmap.fill(QColor(245, 240, 228));
    {
        QPainter p(&bitmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.drawPixmap(30, 80, ProgramPicture(100));
        QFont font = p.font();
        font.setPixelSize(40);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(90, 50, 20));
        p.drawText(QRect(150, 70, 260, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kestrelon"));
        font.setPixelSize(16);
        font.setBold(false);
        p.setFont(font);
        p.drawText(QRect(150, 130, 260, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Version 1.0"));
        p.setPen(QPen(QColor(90, 50, 20), 2));
        p.drawRect(QRect(1, 1, 418, 258));
    }
    setFixedSize(bitmap.size());
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    QTimer::singleShot(3000, this, [this] { HideSplashScreen(); });
}

CSplashWindow::~CSplashWindow()
{
    if (splashInstance == this)
        splashInstance = nullptr;
}

void CSplashWindow::HideSplashScreen()
{
    if (splashInstance == this)
        splashInstance = nullptr;
    hide();
    deleteLater();
    if (CMainFrame* frame = AfxGetMainFrame())
        frame->update();
}

bool CSplashWindow::PreTranslateAppMessage(QEvent* event)
{
    if (!splashInstance)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so that no shortcut fires; the key press then hides the splash.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
        splashInstance->HideSplashScreen();
        return true;
    default:
        return false;
    }
}

void CSplashWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, bitmap);
}

// ---------------------------------------------------------------------------
// CAboutDlg

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(IDD_ABOUTBOX, parent)
{
    setWindowTitle(QStringLiteral("About Kestrelon"));
    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramPicture(32));
    auto* text = new QLabel(QStringLiteral("Kestrelon Version 1.0"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(IdName(1));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(close, 0, Qt::AlignRight);
}
