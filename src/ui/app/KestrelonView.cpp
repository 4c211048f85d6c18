#include "KestrelonView.h"

#include "Frames.h"
#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"

#include <QHeaderView>

CKestrelonView::CKestrelonView(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
}

CKestrelonDoc* CKestrelonView::GetDocument() const
{
    return dynamic_cast<CKestrelonDoc*>(CView::GetDocument());
}

void CKestrelonView::OnUpdate(CView*, long)
{
    clear();
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    QString title = doc->GetTitle();
    if (title.endsWith('*'))
        title.chop(1);
    auto* root = new QTreeWidgetItem(this, {title});
    auto* images = new QTreeWidgetItem(root, {QStringLiteral("Images")});
    for (int i = 0; i < doc->images.GetSize(); ++i)
        if (const CProjectImage* image = doc->images.GetAt(i))
            new QTreeWidgetItem(images, {FromCp1252(image->name.GetText())});
    auto* sets = new QTreeWidgetItem(root, {QStringLiteral("3D Data")});
    for (int i = 0; i < doc->pointSets.GetSize(); ++i)
        if (const CPointSet* set = doc->pointSets.GetAt(i))
            new QTreeWidgetItem(sets, {FromCp1252(set->GetName().GetTitle().GetText())});
    expandAll();
}

std::intptr_t CKestrelonView::OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    switch (message) {
    case UM_REFRESH_IMAGES:
    case UM_REFRESH_POINT_SETS:
    case UM_IMAGE_CREATED:
        OnUpdate(nullptr, 0);
        break;
    case UM_REFRESH_IMAGES_AND_LIST:
    case UM_REDRAW_IMAGE_VIEWS:
        if (message == UM_REFRESH_IMAGES_AND_LIST)
            OnUpdate(nullptr, 0);
        if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
            if (CView* right = frame->GetRightPane())
                SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
        break;
    default:
        break;
    }
    return 0;
}

CDBaseCamerasListView::CDBaseCamerasListView(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setHeaderLabels({QStringLiteral("Camera")});
}

void CDBaseCamerasListView::OnUpdate(CView*, long)
{
    clear();
    CKestrelonApp* app = AfxGetApp();
    if (!app)
        return;
    for (int i = 0; i < app->cameraDatabase.GetSize(); ++i)
        if (const CCamera* camera = app->cameraDatabase.GetAt(i))
            new QTreeWidgetItem(this, {FromCp1252(camera->identifier.GetText())});
}

std::intptr_t CDBaseCamerasListView::OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    if (message == UM_REFRESH_LIST)
        OnUpdate(nullptr, 0);
    return 0;
}
