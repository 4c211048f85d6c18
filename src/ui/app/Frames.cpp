#include "Frames.h"

#include "3DView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "MainFrame.h"
#include "Resources.h"

#include <QMdiArea>
#include <QSplitter>
#include <QTimer>

#include <algorithm>

namespace {

CChildFrame::InteriorOrientationFactory& Factory()
{
    static CChildFrame::InteriorOrientationFactory factory;
    return factory;
}

CView* ViewOf(QWidget* w)
{
    return dynamic_cast<CView*>(w);
}

} // namespace

// ---------------------------------------------------------------------------
// CProjectFrame

CProjectFrame::CProjectFrame()
{
    OnCommand(ID_RESECT_ALL, [this] {
        auto* doc = dynamic_cast<CKestrelonDoc*>(GetActiveDocument());
        if (!doc)
            return;
        doc->ResectAllImages();
        CKestrelonView* tree = GetTreeView();
        if (tree)
            tree->RefreshImageBranches();
        doc->UpdateAllViews(tree, 0);
    });
    OnUpdate(ID_RESECT_ALL, [this](CCmdUI* ui) {
        auto* doc = dynamic_cast<CKestrelonDoc*>(GetActiveDocument());
        const CPointSet* driver = doc ? doc->pointSets.GetDriverSet() : nullptr;
        ui->Enable(driver && driver->GetSize() > 0);
    });
}

void CProjectFrame::PreCreateWindow(QMdiArea*, int openDocuments)
{
    cascade = openDocuments;
    createRect = DefaultNormalRect();
    maximizeOnShow = true;
}

QRect CProjectFrame::DefaultNormalRect() const
{
    const int offset = 20 * cascade - 20;
    // The main window's client area: all of it but the menu bar.
    QSize client;
    if (CMainFrame* main = AfxGetMainFrame())
        client = QSize(main->width(), main->height() - (main->menuWidget() ? main->menuWidget()->height() : 0));
    else if (QMdiArea* area = AfxGetMdiArea())
        client = area->viewport()->size();
    return QRect(offset, offset, client.width() - offset - 4, client.height() - offset - 54);
}

bool CProjectFrame::OnCreateClient(CCreateContext& context)
{
    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    auto* tree = new CKestrelonView(splitter);
    auto* right = new CDBaseCamerasListView(splitter);
    tree->resize(300, 250);
    right->resize(300, 250);
    splitter->addWidget(tree);
    splitter->addWidget(right);
    // The tree keeps its width when the frame is resized; the right pane takes the rest.
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({300, 600});
    if (context.document) {
        context.document->AddView(tree);
        context.document->AddView(right);
    }
    setWidget(splitter);
    SetActiveView(right);
    return true;
}

bool CProjectFrame::OnClose()
{
    CDocument* doc = GetActiveDocument();
    if (!doc)
        return true;
    if (!doc->SaveModified())
        return false;
    QTimer::singleShot(0, [doc] {
        if (IsLiveDocument(doc))
            doc->OnCloseDocument();
    });
    return true;
}

CKestrelonView* CProjectFrame::GetTreeView() const
{
    return splitter ? dynamic_cast<CKestrelonView*>(splitter->widget(0)) : nullptr;
}

CView* CProjectFrame::GetRightPane() const
{
    return splitter && splitter->count() > 1 ? ViewOf(splitter->widget(1)) : nullptr;
}

bool CProjectFrame::SwitchRightView(int row, int column, const std::type_info& type,
                                    const std::function<CView*(QWidget*)>& make)
{
    if (!splitter || row != 0 || column < 0 || column >= splitter->count())
        return false;
    CView* old = ViewOf(splitter->widget(column));
    if (old && typeid(*old) == type)
        return false;
    CDocument* doc = old ? old->GetDocument() : GetActiveDocument();
    // The divider stays where the user left it.
    const QList<int> sizes = splitter->sizes();
    const bool autoDelete = doc ? doc->m_bAutoDelete : false;
    if (doc)
        doc->m_bAutoDelete = false; // removing the old view must not close the document
    if (old) {
        if (GetActiveView() == old)
            SetActiveView(nullptr);
        delete old->GetWidget();
    }
    if (doc)
        doc->m_bAutoDelete = autoDelete;
    CView* view = make(splitter);
    if (!view)
        return false;
    view->GetWidget()->resize(10, 10);
    splitter->insertWidget(column, view->GetWidget());
    splitter->setStretchFactor(column, column == 0 ? 0 : 1);
    if (sizes.size() == splitter->count())
        splitter->setSizes(sizes);
    if (doc)
        doc->AddView(view);
    SetActiveView(view);
    view->OnInitialUpdate();
    view->GetWidget()->update();
    return true;
}

void CProjectFrame::UpdateOtherProjectFrames()
{
    QMdiArea* area = AfxGetMdiArea();
    if (!area)
        return;
    // Every other open project, whatever its place in the window order.
    for (QMdiSubWindow* w : area->subWindowList()) {
        auto* other = dynamic_cast<CProjectFrame*>(w);
        CKestrelonView* tree = other && other != this ? other->GetTreeView() : nullptr;
        if (tree && tree->CView::GetDocument())
            tree->CView::GetDocument()->UpdateAllViews(nullptr, 0);
    }
}

void CProjectFrame::ReleaseRemovedRecords()
{
    CKestrelonView* tree = GetTreeView();
    if (tree)
        tree->ForgetRecord(nullptr);
    CView* right = GetRightPane();
    if (!right)
        return;
    if (auto* view = dynamic_cast<C3DView*>(right)) {
        auto* doc = dynamic_cast<CKestrelonDoc*>(view->GetDocument());
        if (doc && view->GetPointSet() && !doc->HoldsPointSet(view->GetPointSet()))
            view->OnUpdate(nullptr, 0);
        return;
    }
    SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

void CProjectFrame::RefreshCamerasList()
{
    CView* right = GetRightPane();
    if (dynamic_cast<CDBaseCamerasListView*>(right))
        SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

// ---------------------------------------------------------------------------
// CChildFrame

CChildFrame::InteriorOrientationFactory CChildFrame::SetInteriorOrientationFactory(InteriorOrientationFactory factory)
{
    std::swap(Factory(), factory);
    return factory;
}

CChildFrame::CChildFrame()
{
    // The image view names the window after its image.
    m_bAddToTitle = false;
    if (Factory())
        interiorOrientationDlg = Factory()(this);
}

CChildFrame::~CChildFrame()
{
    delete interiorOrientationDlg;
}

void CChildFrame::PreCreateWindow(QMdiArea* area, int)
{
    // Cascaded by the windows already open.
    const int offset = 20 * (area->subWindowList().size() % 8);
    cascade = QPoint(offset, offset);
    createRect = DefaultNormalRect();
}

QRect CChildFrame::DefaultNormalRect() const
{
    // Three quarters of the main window's client area.
    QMdiArea* area = AfxGetMdiArea();
    const QSize client = area ? area->viewport()->size() : QSize(640, 480);
    return QRect(cascade, QSize(std::max(client.width() * 3 / 4, 200), std::max(client.height() * 3 / 4, 150)));
}

bool CChildFrame::OnClose()
{
    if (auto* view = dynamic_cast<CImageViewBase*>(GetActiveView()))
        if (!view->QueryClose())
            return false;
    return CMDIChildWnd::OnClose();
}

std::intptr_t CChildFrame::OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    if (message != UM_END_INTERIOR_ORIENTATION)
        return 0;
    if (interiorOrientationDlg)
        interiorOrientationDlg->hide();
    if (auto* view = dynamic_cast<CImageViewBase*>(GetActiveView()))
        view->EndInteriorOrientation();
    return 0;
}

CInteriorOrientationDlgBase* CChildFrame::GetInteriorOrientationDlg(CProjectImage* image, CCamera* camera)
{
    if (!interiorOrientationDlg)
        return nullptr;
    if (interiorOrientationDlg->isVisible())
        return interiorOrientationDlg;
    return interiorOrientationDlg->CreateModeless(image, camera) ? interiorOrientationDlg : nullptr;
}
