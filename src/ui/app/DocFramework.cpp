#include "DocFramework.h"

#include "Hooks.h"
#include "Message.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QMdiArea>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <set>

namespace {

QMdiArea* theMdiArea = nullptr;

std::set<CDocument*>& LiveDocuments()
{
    static std::set<CDocument*> documents;
    return documents;
}

} // namespace

QMdiArea* AfxGetMdiArea()
{
    return theMdiArea;
}

void AfxSetMdiArea(QMdiArea* area)
{
    theMdiArea = area;
}

bool IsLiveDocument(const CDocument* document)
{
    return LiveDocuments().count(const_cast<CDocument*>(document)) != 0;
}

int AfxGetOpenDocumentCount()
{
    return int(LiveDocuments().size());
}

// ---------------------------------------------------------------------------
// CView

CView::~CView()
{
    if (document)
        document->RemoveView(this);
}

CMDIChildWnd* CView::GetParentFrame() const
{
    for (QWidget* w = const_cast<CView*>(this)->GetWidget(); w; w = w->parentWidget())
        if (auto* frame = dynamic_cast<CMDIChildWnd*>(w))
            return frame;
    return nullptr;
}

void CView::OnUpdate(CView*, long)
{
    GetWidget()->update();
}

// ---------------------------------------------------------------------------
// CDocument

CDocument::CDocument()
{
    LiveDocuments().insert(this);
    OnCommand(57603, [this] { OnFileSave(); });
    OnCommand(57604, [this] { OnFileSaveAs(); });
    OnCommand(57602, [this] { OnFileClose(); });
}

CDocument::~CDocument()
{
    LiveDocuments().erase(this);
    if (docTemplate)
        docTemplate->RemoveDocument(this);
    for (CView* v : views)
        v->document = nullptr;
}

void CDocument::SetTitle(const QString& text)
{
    title = text;
    for (CMDIChildWnd* frame : GetFrames())
        if (frame->m_bAddToTitle)
            frame->setWindowTitle(text);
}

bool CDocument::DoSave(const QString& path, bool replace)
{
    QString name = path;
    if (name.isEmpty()) {
        CFileDialogRequest request;
        request.open = false;
        request.title = replace ? QStringLiteral("Save As") : QStringLiteral("Save a Copy");
        QString proposed = GetDocumentPath();
        if (proposed.isEmpty() && replace) {
            proposed = title;
            if (proposed.endsWith('*'))
                proposed.chop(1);
            const int cut = proposed.indexOf(QRegularExpression(QStringLiteral("[:/\\\\]")));
            if (cut >= 0)
                proposed.truncate(cut);
            proposed = proposed.trimmed();
            if (docTemplate)
                proposed += docTemplate->GetDocString(CDocTemplate::filterExt);
        }
        request.fileName = proposed;
        if (docTemplate) {
            request.filter = docTemplate->GetDocString(CDocTemplate::filterName);
            request.defaultSuffix = docTemplate->GetDocString(CDocTemplate::filterExt).mid(1);
        }
        name = AfxGetFileName(AfxGetMdiArea(), request);
        if (name.isEmpty())
            return false;
    }
    bool ok;
    {
        CWaitCursor wait;
        // A failed save leaves no partial file (the project file is written
        // to a temporary file and renamed), so nothing is removed here.
        ok = OnSaveDocument(name);
    }
    if (!ok)
        return false;
    if (replace)
        SetDocumentPath(name);
    return true;
}

bool CDocument::SaveModified()
{
    if (!IsModified())
        return true;
    QString name = GetDocumentPath();
    name = name.isEmpty() ? title : QFileInfo(name).fileName();
    if (name.endsWith('*'))
        name.chop(1);
    const QString question = QStringLiteral("Save changes to %1?").arg(name);
    switch (AfxMessageBox(ToCp1252(question).c_str(), MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDCANCEL:
        return false;
    case IDYES:
        return DoSave(GetDocumentPath(), true);
    default:
        return true;
    }
}

void CDocument::OnCloseDocument()
{
    if (closing)
        return;
    closing = true;
    const bool autoDelete = m_bAutoDelete;
    m_bAutoDelete = false;
    for (CMDIChildWnd* frame : GetFrames()) {
        frame->SetActiveView(nullptr);
        delete frame; // its views leave the document
    }
    m_bAutoDelete = autoDelete;
    if (m_bAutoDelete)
        delete this;
    else
        closing = false;
}

void CDocument::AddView(CView* view)
{
    if (std::find(views.begin(), views.end(), view) != views.end())
        return;
    if (view->document)
        view->document->RemoveView(view);
    views.push_back(view);
    view->document = this;
}

void CDocument::RemoveView(CView* view)
{
    auto it = std::find(views.begin(), views.end(), view);
    if (it == views.end())
        return;
    views.erase(it);
    view->document = nullptr;
    if (views.empty() && m_bAutoDelete && !closing) {
        // The view is being destroyed: close the document once that is done.
        CDocument* self = this;
        closing = true;
        QTimer::singleShot(0, [self] {
            if (!LiveDocuments().count(self))
                return;
            self->closing = false;
            if (self->views.empty())
                self->OnCloseDocument();
        });
    }
}

std::vector<CMDIChildWnd*> CDocument::GetFrames() const
{
    std::vector<CMDIChildWnd*> frames;
    for (CView* v : views)
        if (CMDIChildWnd* f = v->GetParentFrame())
            if (std::find(frames.begin(), frames.end(), f) == frames.end())
                frames.push_back(f);
    return frames;
}

void CDocument::UpdateAllViews(CView* sender, long hint)
{
    for (CView* v : std::vector<CView*>(views))
        if (v != sender)
            v->OnUpdate(sender, hint);
}

void CDocument::OnFileSave()
{
    DoSave(GetDocumentPath(), true);
}

void CDocument::OnFileSaveAs()
{
    DoSave(QString(), true);
}

void CDocument::OnFileClose()
{
    if (SaveModified())
        OnCloseDocument();
}

// ---------------------------------------------------------------------------
// CMDIChildWnd

CMDIChildWnd::CMDIChildWnd()
{
    setAttribute(Qt::WA_DeleteOnClose);
}

CMDIChildWnd::~CMDIChildWnd() = default;

bool CMDIChildWnd::OnCreateClient(CCreateContext& context)
{
    if (!context.newView)
        return false;
    CView* view = context.newView(this);
    if (!view)
        return false;
    if (context.document)
        context.document->AddView(view);
    setWidget(view->GetWidget());
    SetActiveView(view);
    return true;
}

CView* CMDIChildWnd::GetActiveView() const
{
    // The view holding the focus, else the one set last.
    if (QWidget* focus = QApplication::focusWidget()) {
        for (QWidget* w = focus; w && w != this; w = w->parentWidget()) {
            if (auto* view = dynamic_cast<CView*>(w))
                if (view->GetParentFrame() == this)
                    return view;
        }
    }
    return activeView;
}

CDocument* CMDIChildWnd::GetActiveDocument() const
{
    if (CView* view = GetActiveView())
        if (view->GetDocument())
            return view->GetDocument();
    return document;
}

bool CMDIChildWnd::RouteCmdMsg(int id, CCmdUI* ui)
{
    CView* view = GetActiveView();
    CDocument* doc = GetActiveDocument();
    for (CCmdTarget* target : {static_cast<CCmdTarget*>(view), static_cast<CCmdTarget*>(doc),
                               static_cast<CCmdTarget*>(this)})
        if (target && target->OnCmdMsg(id, ui))
            return true;
    return false;
}

bool CMDIChildWnd::OnClose()
{
    CDocument* doc = GetActiveDocument();
    if (!doc)
        return true;
    const auto frames = doc->GetFrames();
    if (frames.size() <= 1) {
        // The document's last frame: closing it closes the document.
        if (!doc->SaveModified())
            return false;
        QTimer::singleShot(0, [doc] {
            if (LiveDocuments().count(doc))
                doc->OnCloseDocument();
        });
    }
    return true;
}

void CMDIChildWnd::closeEvent(QCloseEvent* event)
{
    if (OnClose())
        QMdiSubWindow::closeEvent(event);
    else
        event->ignore();
}

void CMDIChildWnd::changeEvent(QEvent* event)
{
    QMdiSubWindow::changeEvent(event);
    // The sub-window's own state changes inside a change come as overrides.
    if (event->type() != QEvent::WindowStateChange || static_cast<QWindowStateChangeEvent*>(event)->isOverride())
        return;
    const Qt::WindowStates before = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    const Qt::WindowStates now = windowState();
    if (now & (Qt::WindowMaximized | Qt::WindowMinimized))
        return;
    // A frame maximised from its start would come back at whatever size it
    // had before its parent was laid out.
    if ((before & Qt::WindowMaximized) && !hadNormalGeometry) {
        const QRect normal = DefaultNormalRect();
        if (normal.isValid())
            setGeometry(normal);
    }
    hadNormalGeometry = true;
}

// ---------------------------------------------------------------------------
// CDocTemplate

CDocTemplate::CDocTemplate(int id, const char* docString, DocumentFactory doc, FrameFactory frame, ViewFactory view)
    : resourceId(id), docStrings(QString::fromLatin1(docString).split('\n')), newDocument(std::move(doc)),
      newFrame(std::move(frame)), newView(std::move(view))
{
}

QString CDocTemplate::GetDocString(DocStringIndex index) const
{
    return int(index) < docStrings.size() ? docStrings[int(index)] : QString();
}

CDocument* CDocTemplate::CreateNewDocument()
{
    CDocument* doc = newDocument ? newDocument() : nullptr;
    if (doc) {
        doc->docTemplate = this;
        documents.push_back(doc);
    }
    return doc;
}

void CDocTemplate::RemoveDocument(CDocument* document)
{
    documents.erase(std::remove(documents.begin(), documents.end(), document), documents.end());
}

CMDIChildWnd* CDocTemplate::CreateNewFrame(CDocument* document)
{
    QMdiArea* area = AfxGetMdiArea();
    if (!area || !newFrame)
        return nullptr;
    CMDIChildWnd* frame = newFrame();
    if (!frame)
        return nullptr;
    frame->document = document;
    frame->PreCreateWindow(area, AfxGetOpenDocumentCount());
    CCreateContext context;
    context.document = document;
    context.docTemplate = this;
    context.newView = newView;
    if (!frame->OnCreateClient(context)) {
        delete frame;
        return nullptr;
    }
    area->addSubWindow(frame);
    if (document && frame->m_bAddToTitle)
        frame->setWindowTitle(document->GetTitle());
    return frame;
}

void CDocTemplate::InitialUpdateFrame(CMDIChildWnd* frame, CDocument*)
{
    if (!frame)
        return;
    for (CView* v : std::vector<CView*>(frame->GetActiveDocument() ? frame->GetActiveDocument()->GetViews()
                                                                   : std::vector<CView*>()))
        if (v->GetParentFrame() == frame)
            v->OnInitialUpdate();
    if (!frame->isVisible()) {
        // The geometry first: showing activates the frame, which maximises
        // it at once when the active frame is maximised.
        if (frame->createRect.isValid())
            frame->setGeometry(frame->createRect);
        frame->show();
        if (frame->maximizeOnShow)
            frame->showMaximized();
        frame->hadNormalGeometry = !(frame->windowState() & Qt::WindowMaximized);
    }
    if (QMdiArea* area = AfxGetMdiArea())
        area->setActiveSubWindow(frame);
}

CDocument* CDocTemplate::OpenDocumentFile(const QString& path)
{
    CDocument* doc = CreateNewDocument();
    if (!doc)
        return nullptr;
    const bool autoDelete = doc->m_bAutoDelete;
    doc->m_bAutoDelete = false; // a failed frame must not delete it
    CMDIChildWnd* frame = CreateNewFrame(doc);
    doc->m_bAutoDelete = autoDelete;
    if (!frame) {
        delete doc;
        return nullptr;
    }
    if (path.isEmpty()) {
        doc->SetTitle(GetDocString(docName) + QString::number(++untitledCount));
        if (!doc->OnNewDocument()) {
            doc->OnCloseDocument();
            return nullptr;
        }
    } else {
        CWaitCursor wait;
        if (!doc->OnOpenDocument(path)) {
            doc->OnCloseDocument();
            return nullptr;
        }
        doc->SetDocumentPath(path);
    }
    InitialUpdateFrame(frame, doc);
    return doc;
}

// ---------------------------------------------------------------------------
// CDocManager

CDocManager::~CDocManager()
{
    for (CDocTemplate* t : templates)
        delete t;
}

void CDocManager::AddDocTemplate(CDocTemplate* docTemplate)
{
    templates.push_back(docTemplate);
}

void CDocManager::OnFileNew()
{
    if (CDocTemplate* t = GetFirstTemplate())
        t->OpenDocumentFile(QString());
}

CDocument* CDocManager::FindOpenDocument(const QString& path) const
{
    const QString wanted = QFileInfo(path).absoluteFilePath();
    for (CDocument* doc : GetDocuments()) {
        const QString own = doc->GetDocumentPath();
        if (!own.isEmpty() && QFileInfo(own).absoluteFilePath() == wanted)
            return doc;
    }
    return nullptr;
}

CDocument* CDocManager::OpenDocumentFile(const QString& path)
{
    if (CDocument* open = FindOpenDocument(path)) {
        const auto frames = open->GetFrames();
        if (!frames.empty() && AfxGetMdiArea())
            AfxGetMdiArea()->setActiveSubWindow(frames.front());
        return open;
    }
    CDocTemplate* t = GetFirstTemplate();
    return t ? t->OpenDocumentFile(path) : nullptr;
}

int CDocManager::GetOpenDocumentCount() const
{
    return int(GetDocuments().size());
}

std::vector<CDocument*> CDocManager::GetDocuments() const
{
    std::vector<CDocument*> all;
    for (CDocTemplate* t : templates)
        all.insert(all.end(), t->GetDocuments().begin(), t->GetDocuments().end());
    return all;
}

bool CDocManager::SaveAllModified()
{
    for (CDocument* doc : GetDocuments())
        if (!doc->SaveModified())
            return false;
    return true;
}

void CDocManager::CloseAllDocuments()
{
    for (CDocument* doc : GetDocuments())
        doc->OnCloseDocument();
}
