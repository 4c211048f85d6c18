#include "AutoScanDlg.h"

#include "Controls.h"
#include "Frames.h"
#include "Hub.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "TargetDetector.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QMdiArea>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

namespace {

// Row pictures: enabled, disabled, being scanned.
std::vector<QIcon> ScanIcons()
{
    std::vector<QIcon> icons;
    for (QColor colour : {QColor(0, 160, 0), QColor(200, 0, 0), QColor(0, 0, 220)}) {
        QPixmap picture(16, 16);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setBrush(colour);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(3, 3, 10, 10);
        icons.emplace_back(picture);
    }
    return icons;
}

// Shows the image in a window already open on it, else in the scan's own
// window (opened for the first image that needs one).
void ShowScannedImage(CKestrelonDoc* doc, CProjectImage* image, QPointer<CImageView>& own)
{
    CImageView* view = nullptr;
    for (CView* v : doc->GetViews())
        if (auto* open = dynamic_cast<CImageView*>(v); open && open->GetImageRecord() == image)
            view = open;
    if (!view && own) {
        view = own;
        view->SetImage(image);
    }
    if (!view)
        own = view = OpenImageWindow(doc, image);
    if (!view)
        return;
    if (CMDIChildWnd* frame = view->GetParentFrame())
        if (QMdiArea* area = frame->mdiArea())
            area->setActiveSubWindow(frame);
    view->viewport()->repaint();
}

} // namespace

CAutoScanDlg::CAutoScanDlg(QWidget* parent) : CDialog(246, parent), m_pList(new CImageSelectListCtrl)
{
    setWindowTitle(QStringLiteral("AutoScan"));
    m_pList->setObjectName(IdName(1274));
    auto* start = new QPushButton(QStringLiteral("&Start Scan"));
    start->setObjectName(IdName(1263));
    start->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(IdName(1));
    close->setDefault(true);
    auto* display = new QCheckBox(QStringLiteral("Display Images During Scan"));
    display->setObjectName(IdName(1260));
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pList, 0, 0, 3, 1);
    grid->addWidget(start, 0, 1);
    grid->addWidget(close, 1, 1);
    grid->addWidget(display, 3, 0);
    grid->setRowStretch(2, 1);
    resize(368, 318);
    QObject::connect(start, &QPushButton::clicked, this, [this] { OnStartScan(); });
    QObject::connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void CAutoScanDlg::SetImages(const CProjectImageList& images)
{
    m_Images.RemoveAll();
    for (int i = 0; i < images.GetSize(); ++i)
        m_Images.Add(images.GetAt(i));
}

void CAutoScanDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1260, m_bDisplayImages);
}

bool CAutoScanDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pList->SetImages(&m_Images);
    m_pList->SetIcons(ScanIcons());
    m_pList->Fill();
    UpdateData(false);
    return true;
}

void CAutoScanDlg::OnStartScan()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc || !UpdateData(true))
        return;
    CAutoScanCallbacks callbacks;
    // With "Display Images During Scan" each image is shown while it is
    // scanned: in a window already open on it, else in one window of the
    // scan's own.
    QPointer<CImageView> own;
    CProjectImage* scanning = nullptr;
    callbacks.selectImage = [this, doc, &own, &scanning](int index) {
        // The list holds the project's images in their order.
        CProjectImage* image = index >= 0 ? doc->images.GetAt(index) : nullptr;
        m_pList->SetSelection(image ? m_Images.FindPtr(image) : -1);
        m_pList->Fill();
        m_pList->repaint();
        scanning = image;
        if (m_bDisplayImages && image)
            ShowScannedImage(doc, image, own);
    };
    callbacks.imageScanned = [doc, this, &scanning](CProjectImage& image) {
        PostHubMessage(UM_REFRESH_IMAGES_AND_LIST);
        if (!m_bDisplayImages || &image != scanning)
            return;
        // Its window shows the targets found.
        for (CView* v : doc->GetViews())
            if (auto* view = dynamic_cast<CImageView*>(v); view && view->GetImageRecord() == &image)
                view->viewport()->repaint();
    };
    callbacks.refresh = [doc] {
        if (CKestrelonView* tree = GetProjectTreeView())
            tree->RefreshImageBranches();
        doc->UpdateAllViews();
    };
    AutoScanImages(*doc, callbacks);
    m_pList->Fill();
    GetDlgItem(1263)->setEnabled(false);
}
