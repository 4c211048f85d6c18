#include <algorithm>
#include "MainFrame.h"

#include "Controls.h"
#include "Frames.h"
#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "Message.h"
#include "Resources.h"
#include "ToolbarPictures.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

CMainFrame* theMainFrame = nullptr;

// Keeps an edit's text in one letter case as it is typed.
void ForceCase(QLineEdit* edit, bool upper)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, upper](const QString& text) {
        const QString changed = upper ? text.toUpper() : text.toLower();
        if (changed != text) {
            const int cursor = edit->cursorPosition();
            edit->setText(changed);
            edit->setCursorPosition(cursor);
        }
    });
}

} // namespace

CMainFrame* AfxGetMainFrame()
{
    return theMainFrame;
}

// ---------------------------------------------------------------------------
// CMainToolBar

CMainToolBar::CMainToolBar(QWidget* parent) : QToolBar(parent)
{
    setObjectName(IdName(59392));
    setMovable(false);
    setIconSize(QSize(16, 16));
}

bool CMainToolBar::Init(CMainFrame* frame)
{
    for (int slot = 0; slot < kToolbarSlotCount; ++slot) {
        const ToolbarSlot& s = kToolbarSlots[slot];
        if (s.id) {
            QAction* action = frame->GetAction(s.id);
            action->setIcon(ToolbarPicture(s.id));
            action->setToolTip(QString::fromLatin1(s.tooltip));
            addAction(action);
            continue;
        }
        if (s.width == 0) {
            addSeparator();
            continue;
        }
        QWidget* control = nullptr;
        switch (slot) {
        case 22:
        {
            auto* label = new CEditLabel(this);
            control = m_PointLabel = label;
            m_PointLabel->setObjectName(IdName(IDC_POINT_LABEL));
            m_PointLabel->setToolTip(QStringLiteral("Point ID"));
            m_PointLabel->setAlignment(Qt::AlignRight);
            ForceCase(m_PointLabel, true);
            label->onReturn = [] { SendHubMessage(UM_RELABEL_PICKED, IDC_POINT_LABEL, 0); };
            break;
        }
        case 24:
        case 26: {
            auto* edit = new QLineEdit(this);
            edit->setObjectName(IdName(slot == 24 ? IDC_POINT_INCREMENT : IDC_CENTROID_WINDOW));
            edit->setToolTip(slot == 24 ? QStringLiteral("Point Increment") : QStringLiteral("Centroid window"));
            edit->setAlignment(Qt::AlignRight);
            ForceCase(edit, false);
            (slot == 24 ? m_PointIncrement : m_CentroidWindow) = edit;
            if (slot == 26)
                // Every change of the text goes to the active project.
                QObject::connect(edit, &QLineEdit::textChanged, edit, [] {
                    if (CKestrelonDoc* doc = GetActiveKestrelonDoc())
                        doc->OnCentroidWindowChange();
                });
            control = edit;
            break;
        }
        case 28:
        {
            auto* quality = new CImageQualityCombo(this);
            quality->Initialize(0);
            control = m_ImageQuality = quality;
            m_ImageQuality->setObjectName(IdName(IDC_IMAGE_QUALITY));
            m_ImageQuality->setToolTip(QStringLiteral("Image Quality Selection"));
            break;
        }
        default:
            control = new QWidget(this);
            break;
        }
        // The quality box is never narrower than its longest entry needs.
        control->ensurePolished();
        control->setFixedWidth(slot == 28 ? std::max(s.width, control->sizeHint().width()) : s.width);
        addWidget(control);
    }
    return m_PointLabel && m_PointIncrement && m_CentroidWindow && m_ImageQuality;
}

// ---------------------------------------------------------------------------
// CMainFrame

namespace {

// Opens the file with the desktop's default application; when none opens
// it, a message names the file and its folder.
void OpenWithDesktopOrSay(const QString& path)
{
    if (AfxOpenWithDesktop(path))
        return;
    const QFileInfo file(path);
    const QString text = QStringLiteral("Cannot open %1 in the folder %2:\nno application of the desktop opens it.")
                             .arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath()));
    AfxMessageBox(ToCp1252(text).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// Opens the user guide beside the program; when the guide or the desktop's
// opener is missing, a message says which and how to mend it.
void OpenManual(const QString& programDirectory, const QString& opener)
{
    const QString guide = QDir(programDirectory).filePath(QStringLiteral("KestrelonGuide.pdf"));
    QStringList missing;
    if (!QFileInfo::exists(guide)) {
        QString text = QStringLiteral("The user guide KestrelonGuide.pdf is not in the folder %1.\n")
                           .arg(QDir::toNativeSeparators(programDirectory));
        // A program run from its build folder: the command that makes the guide.
        const QString build = QFileInfo(programDirectory).absolutePath();
        if (QFileInfo::exists(build + QStringLiteral("/CMakeCache.txt")))
            text += QStringLiteral("Make it with: cmake --build %1 --target kestrelon_guide")
                        .arg(QDir::toNativeSeparators(build));
        else
            text += QStringLiteral("The build makes it with the target kestrelon_guide.");
        missing << text;
    }
    if (opener.isEmpty())
        missing << QStringLiteral("The desktop has no opener for documents (xdg-open was not found when Kestrelon "
                                  "started).\nInstall xdg-utils and start Kestrelon again.");
    if (!missing.isEmpty()) {
        AfxMessageBox(ToCp1252(missing.join(QStringLiteral("\n\n"))).c_str(), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    OpenWithDesktopOrSay(guide);
}

} // namespace

CMainFrame::CMainFrame()
{
    theMainFrame = this;
    setObjectName(IdName(IDR_MAINFRAME));
    setWindowTitle(QStringLiteral("Kestrelon"));
    setAcceptDrops(true);

    for (int id : {ID_RESULTS_RESECTION, ID_RESULTS_BUNDLE, ID_RESULTS_CAMERA, ID_RESULTS_RESIDUALS,
                   ID_RESULTS_CORRELATIONS, ID_RESULTS_TRANS, ID_RESULTS_TRIANGULATE}) {
        OnCommand(id, [this, id] { OpenResultFile(id); });
        OnUpdate(id, [this, id](CCmdUI* ui) {
            const QString path = ResultFilePath(id);
            ui->Enable(!path.isEmpty() && QFileInfo::exists(path));
        });
    }
    // Manual stays enabled: a missing guide or opener is named when chosen.
    OnCommand(ID_HELP_MANUAL, [] {
        if (CKestrelonApp* app = AfxGetApp())
            OpenManual(app->GetProgramDirectory(), app->GetPdfReaderPath());
    });
    OnUpdate(ID_HELP_MANUAL, [](CCmdUI* ui) { ui->Enable(AfxGetApp() != nullptr); });
    OnCommand(ID_VIEW_TOOLBAR, [this] {
        if (toolBar)
            toolBar->setVisible(!toolBar->isVisible());
    });
    OnUpdate(ID_VIEW_TOOLBAR, [this](CCmdUI* ui) { ui->SetCheck(toolBar && toolBar->isVisible()); });
    OnCommand(ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
    OnUpdate(ID_VIEW_STATUS_BAR, [this](CCmdUI* ui) { ui->SetCheck(statusBar()->isVisible()); });
    OnCommand(ID_APP_EXIT, [this] { close(); });
}

CMainFrame::~CMainFrame()
{
    AfxSetMdiArea(nullptr);
    if (theMainFrame == this)
        theMainFrame = nullptr;
}

bool CMainFrame::LoadFrame()
{
    mdiArea = new QMdiArea(this);
    mdiArea->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdiArea);
    AfxSetMdiArea(mdiArea);
    connect(mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        UpdateMenuBar();
        if (auto* child = dynamic_cast<CMDIChildWnd*>(window))
            if (CView* view = child->GetActiveView())
                view->OnActivateView();
    });

    toolBar = new CMainToolBar(this);
    addToolBar(Qt::TopToolBarArea, toolBar);
    if (!toolBar->Init(this))
        return false;
    for (QWidget* control : {static_cast<QWidget*>(toolBar->m_PointLabel), static_cast<QWidget*>(toolBar->m_PointIncrement),
                             static_cast<QWidget*>(toolBar->m_CentroidWindow), static_cast<QWidget*>(toolBar->m_ImageQuality)})
        control->setEnabled(false);

    QStatusBar* bar = statusBar();
    bar->setObjectName(IdName(59393));
    bar->setSizeGripEnabled(true);
    const int ids[5] = {0, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_PANE_3, ID_PANE_4};
    for (int i = 0; i < 5; ++i) {
        panes[i] = new QLabel(bar);
        panes[i]->setObjectName(i ? IdName(ids[i]) : QStringLiteral("pane0"));
        if (i == 0) {
            bar->addWidget(panes[i], 1);
            continue;
        }
        panes[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 1 || i == 2) {
            panes[i]->setMinimumWidth(panes[i]->fontMetrics().horizontalAdvance(QStringLiteral("NUM")) + 8);
        } else {
            panes[i]->setFixedWidth(i == 3 ? 125 : 85);
        }
        bar->addPermanentWidget(panes[i]);
    }

    SetLockIndicators(false, false);
    qApp->installEventFilter(this);

    CSplashWindow::ShowSplashScreen(this);
    UpdateMenuBar();

    auto* idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, [this] { UpdateCmdUI(); });
    idle->start(250);
    return true;
}

CMDIChildWnd* CMainFrame::MDIGetActive() const
{
    return mdiArea ? dynamic_cast<CMDIChildWnd*>(mdiArea->currentSubWindow()) : nullptr;
}

CProjectFrame* CMainFrame::GetProjectFrame() const
{
    CMDIChildWnd* child = MDIGetActive();
    if (!child)
        return nullptr;
    if (auto* frame = dynamic_cast<CProjectFrame*>(child))
        return frame;
    // An image frame: the project frame of the same document.
    CDocument* doc = child->GetActiveDocument();
    if (!doc)
        return nullptr;
    for (CMDIChildWnd* f : doc->GetFrames())
        if (auto* frame = dynamic_cast<CProjectFrame*>(f))
            return frame;
    return nullptr;
}

CKestrelonView* CMainFrame::GetProjectTreeView() const
{
    CProjectFrame* frame = GetProjectFrame();
    return frame ? frame->GetTreeView() : nullptr;
}

QAction* CMainFrame::GetAction(int id)
{
    auto it = actions.find(id);
    if (it != actions.end())
        return it->second;
    auto* action = new QAction(this);
    action->setObjectName(IdName(id));
    action->setData(id);
    action->setEnabled(false);
    connect(action, &QAction::triggered, this, [this, id] { OnCommandId(id); });
    actions[id] = action;
    return action;
}

void CMainFrame::OnCommandId(int id)
{
    CCmdUI ui(id);
    if (!RouteCommand(id, &ui) || !ui.enabled)
        return; // a disabled command does not run
    RouteCommand(id, nullptr);
}

bool CMainFrame::RouteCommand(int id, CCmdUI* ui)
{
    if (CMDIChildWnd* child = MDIGetActive())
        if (child->RouteCmdMsg(id, ui))
            return true;
    return RouteCmdMsg({this, AfxGetApp()}, id, ui);
}

void CMainFrame::UpdateCmdUI()
{
    // A job writes the project's records: the commands keep their states until it ends.
    if (CKestrelonDoc* doc = GetActiveKestrelonDoc(); doc && doc->IsJobRunning())
        return;
    for (auto& [id, action] : actions) {
        CCmdUI ui(id, action);
        RouteCommand(id, &ui);
    }
    // The toolbar's embedded controls follow the rules of the active view;
    // a control nothing rules keeps its state.
    if (!toolBar)
        return;
    const std::pair<int, QWidget*> controls[] = {{IDC_POINT_LABEL, toolBar->m_PointLabel},
                                                 {IDC_POINT_INCREMENT, toolBar->m_PointIncrement},
                                                 {IDC_CENTROID_WINDOW, toolBar->m_CentroidWindow},
                                                 {IDC_IMAGE_QUALITY, toolBar->m_ImageQuality}};
    for (const auto& [id, control] : controls) {
        CCmdUI ui(id);
        if (control && RouteCommand(id, &ui))
            control->setEnabled(ui.enabled);
    }
}

void CMainFrame::UpdateMenuBar()
{
    const MenuEntry* table = kMainMenu;
    int count = kMainMenuCount;
    if (CMDIChildWnd* child = MDIGetActive())
        if (CDocument* doc = child->GetActiveDocument())
            if (CDocTemplate* t = doc->GetDocTemplate()) {
                int n = 0;
                if (const MenuEntry* menu = t->GetMenu(n)) {
                    table = menu;
                    count = n;
                }
            }
    if (table != currentMenu)
        BuildMenu(table, count);
}

void CMainFrame::BuildMenu(const MenuEntry* table, int count)
{
    currentMenu = table;
    QMenuBar* bar = menuBar();
    bar->clear();
    std::vector<QMenu*> stack;
    for (int i = 0; i < count; ++i) {
        const MenuEntry& e = table[i];
        stack.resize(size_t(e.level));
        const bool popup = e.text && e.id == 0;
        if (!e.text) {
            if (!stack.empty())
                stack.back()->addSeparator();
            continue;
        }
        const QString text = QString::fromLatin1(e.text);
        if (popup) {
            QMenu* menu = stack.empty() ? bar->addMenu(text) : stack.back()->addMenu(text);
            connect(menu, &QMenu::aboutToShow, this, [this, menu] {
                for (QAction* a : menu->actions())
                    if (int id = ActionId(a)) {
                        CCmdUI ui(id, a);
                        RouteCommand(id, &ui);
                    }
            });
            stack.push_back(menu);
            continue;
        }
        if (stack.empty())
            continue;
        QAction* action = GetAction(e.id);
        const int tab = text.indexOf('\t');
        if (!(e.id >= ID_FILE_MRU_FILE1 && e.id < ID_FILE_MRU_FILE1 + kRecentFileCount))
            action->setText(tab < 0 ? text : text.left(tab));
        if (tab >= 0)
            action->setShortcut(QKeySequence(text.mid(tab + 1)));
        stack.back()->addAction(action);
    }
}

void CMainFrame::SetPaneText(int pane, const QString& text)
{
    if (pane >= 0 && pane < 5 && panes[pane]) {
        QLabel* label = panes[pane];
        label->setText(text);
        // The fixed panes widen for a longer text ("Image 10 of 10") and
        // keep that width, so their neighbours do not move at every change.
        if ((pane == 3 || pane == 4) && label->sizeHint().width() > label->width())
            label->setFixedWidth(label->sizeHint().width());
        label->repaint();
    }
}

QString CMainFrame::GetPaneText(int pane) const
{
    return pane >= 0 && pane < 5 && panes[pane] ? panes[pane]->text() : QString();
}

QString CMainFrame::ResultFilePath(int id) const
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc)
        return QString();
    QString folder;
    const char* name = nullptr;
    switch (id) {
    case ID_RESULTS_RESECTION: name = "Resection.txt"; break;
    case ID_RESULTS_TRANS: name = "Trans.txt"; break;
    case ID_RESULTS_TRIANGULATE: name = "Triangulate.txt"; break;
    case ID_RESULTS_BUNDLE: name = "Bundle.txt"; break;
    case ID_RESULTS_CAMERA: name = "Camera.txt"; break;
    case ID_RESULTS_RESIDUALS: name = "Residuals.txt"; break;
    case ID_RESULTS_CORRELATIONS: name = "Correlations.txt"; break;
    default: return QString();
    }
    if (id == ID_RESULTS_RESECTION || id == ID_RESULTS_TRANS || id == ID_RESULTS_TRIANGULATE)
        folder = FromCp1252(doc->GetProjectFolder().GetText());
    else
        folder = FromCp1252(doc->settings.projectPath.GetFolder().GetText());
    if (folder.isEmpty())
        return QString();
    return folder + '/' + QString::fromLatin1(name);
}

void CMainFrame::SetLockIndicators(bool capsLock, bool numLock)
{
    if (panes[1])
        panes[1]->setText(capsLock ? QStringLiteral("CAP") : QString());
    if (panes[2])
        panes[2]->setText(numLock ? QStringLiteral("NUM") : QString());
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    // The X keyboard state of a key event: the lock bit is caps lock, the
    // second modifier num lock. On the lock key itself the press carries the
    // state before the toggle and the release the state after it.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const quint32 state = static_cast<QKeyEvent*>(event)->nativeModifiers();
        constexpr quint32 kLockMask = 0x02;
        constexpr quint32 kMod2Mask = 0x10;
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            SetLockIndicators((state & kLockMask) != 0, (state & kMod2Mask) != 0);
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::OpenResultFile(int id)
{
    const QString path = ResultFilePath(id);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    OpenWithDesktopOrSay(path);
}

void CMainFrame::RefreshRightPane()
{
    if (CProjectFrame* frame = GetProjectFrame())
        if (CView* right = frame->GetRightPane())
            SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

std::intptr_t CMainFrame::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case UM_STATUS_TEXT:
        if (lParam && statusBar()->isVisible()) {
            SetPaneText(0, FromCp1252(reinterpret_cast<const char*>(lParam)));
            return lParam;
        }
        return 0;
    case UM_IMAGE_QUALITY: {
        CMDIChildWnd* child = MDIGetActive();
        auto* view = child ? dynamic_cast<CImageViewBase*>(child->GetActiveView()) : nullptr;
        CProjectImage* image = view ? view->GetImageRecord() : nullptr;
        if (image && wParam <= 2) {
            const bool qualitySet = wParam != 0;
            const bool high = wParam == 1 ? true : wParam == 2 ? false : image->highQuality;
            if (image->qualitySet != qualitySet || image->highQuality != high) {
                image->qualitySet = qualitySet;
                image->highQuality = high;
                if (CDocument* doc = view->GetDocument())
                    doc->SetModifiedFlag(true);
            }
        }
        if (CKestrelonView* tree = GetProjectTreeView())
            tree->OnHubMessage(UM_REFRESH_IMAGES_AND_LIST, 0, 0);
        return 0;
    }
    case UM_REDRAW_IMAGE_VIEWS:
    case UM_REDRAW_IMAGE: {
        CMDIChildWnd* child = MDIGetActive();
        CDocument* doc = child ? child->GetActiveDocument() : nullptr;
        if (doc)
            for (CView* v : doc->GetViews())
                if (auto* imageView = dynamic_cast<CImageViewBase*>(v)) {
                    if (message == UM_REDRAW_IMAGE_VIEWS) {
                        imageView->Redraw();
                    } else if (imageView->GetImageRecord() == reinterpret_cast<CProjectImage*>(lParam)) {
                        imageView->Redraw();
                        break;
                    }
                }
        if (CKestrelonView* tree = GetProjectTreeView())
            tree->OnHubMessage(message, wParam, lParam);
        return 0;
    }
    case UM_RECREATE_GL_CONTEXT:
    case UM_RELABEL_PICKED:
        if (CProjectFrame* frame = GetProjectFrame())
            if (CView* right = frame->GetRightPane())
                return right->OnHubMessage(message, wParam, lParam);
        return 0;
    default:
        if (CKestrelonView* tree = GetProjectTreeView())
            return tree->OnHubMessage(message, wParam, lParam);
        return 0;
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    CKestrelonApp* app = AfxGetApp();
    if (app && app->GetDocManager() && !app->GetDocManager()->SaveAllModified()) {
        event->ignore();
        return;
    }
    if (app && app->GetDocManager())
        app->GetDocManager()->CloseAllDocuments();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    CKestrelonApp* app = AfxGetApp();
    if (!app)
        return;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            app->OpenDocumentFile(url.toLocalFile());
    event->acceptProposedAction();
}
