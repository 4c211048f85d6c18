#include "RelativeOrientationDlg.h"

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "Controls.h"
#include "Hooks.h"
#include "Hub.h"
#include "ImageView.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"
#include "ProjectImage.h"
#include "ProjectSettings.h"
#include "RelativeOrientation.h"
#include "TriangulationJob.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kBaseLength = 1000.0;       // mm between the two stations
constexpr double kCheckRejectionLimit = 1000.0; // mm: the check rejects nothing

const char* const kIdentical = "Identical images are selected.\nChange selection.";

} // namespace

// --- the tables ----------------------------------------------------------------

std::vector<CRelOrientRow> BuildRelOrientRows(const CObservationList& left, const CObservationList& right)
{
    struct Entry {
        const CImageObservation* o;
        bool left;
    };
    std::vector<Entry> entries;
    entries.reserve(std::size_t(left.GetSize() + right.GetSize()));
    for (int side = 0; side < 2; ++side) {
        const CObservationList& list = side == 0 ? left : right;
        for (int i = 0; i < list.GetSize(); ++i)
            if (const CImageObservation* o = list.GetAt(i); o && !o->disabled)
                entries.push_back({o, side == 0});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.o->label < b.o->label; });
    std::vector<CRelOrientRow> rows;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        CRelOrientRow row;
        row.label = entries[i].o->label;
        (entries[i].left ? row.left : row.right) = entries[i].o;
        // The next entry joins the row when it has the label and the other side.
        if (i + 1 < entries.size() && !(row.label < entries[i + 1].o->label) &&
            entries[i + 1].left != entries[i].left) {
            (entries[i + 1].left ? row.left : row.right) = entries[i + 1].o;
            ++i;
        }
        rows.push_back(row);
    }
    return rows;
}

int CountRelOrientPairs(const std::vector<CRelOrientRow>& rows)
{
    return int(std::count_if(rows.begin(), rows.end(), [](const CRelOrientRow& r) { return r.left && r.right; }));
}

CRelOrientResiduals FormatRelOrientResiduals(const std::vector<CRelOrientRow>& rows)
{
    CRelOrientResiduals table;
    double sum[2] = {0.0, 0.0};
    char text[64];
    for (const CRelOrientRow& row : rows) {
        table.label.push_back(FromCp1252(row.label.GetText()));
        for (int side = 0; side < 2; ++side) {
            const CImageObservation* o = side == 0 ? row.left : row.right;
            QString cell = QStringLiteral("No");
            if (o) {
                const double length = std::sqrt(o->vx * o->vx + o->vy * o->vy);
                sum[side] += length * length;
                std::snprintf(text, sizeof text, "%2.2lf", length * 1000.0);
                cell = QString::fromLatin1(text);
            }
            (side == 0 ? table.left : table.right).push_back(cell);
        }
    }
    const double n = rows.empty() ? 1.0 : double(rows.size());
    std::snprintf(text, sizeof text, "%2.3lf", std::sqrt(sum[0] / n) * 1000.0);
    table.rmsLeft = QString::fromLatin1(text);
    std::snprintf(text, sizeof text, "%2.3lf", std::sqrt(sum[1] / n) * 1000.0);
    table.rmsRight = QString::fromLatin1(text);
    return table;
}

CRelOrientLayout ComputeRelOrientLayout(const QSize& mainClient, const QSize& dialog)
{
    const int width = mainClient.width() - 4;
    const int height = mainClient.height() - 53;
    // A main window smaller than the dialog still gets visible windows.
    const int h = std::max(height - dialog.height(), 40);
    const int w = std::max(width / 2, 40);
    CRelOrientLayout layout;
    layout.left = QRect(0, 0, w, h);
    layout.right = QRect(w, 0, w, h);
    layout.dialog = QPoint((width - dialog.width()) / 2, h + 40);
    return layout;
}

// --- the dialog ----------------------------------------------------------------

CRelativeOrientationDlg::CRelativeOrientationDlg(CKestrelonView* owner)
    : CRelativeOrientationDlgBase(308, owner), m_Accept(new QPushButton(QStringLiteral("Accept"))),
      m_Compute(new QPushButton(QStringLiteral("Compute RO"))), m_PointTable(new QTreeWidget),
      m_LeftCombo(new CComboBoxImage), m_RightCombo(new CComboBoxImage), m_pOwner(owner),
      m_pDocument(GetActiveKestrelonDoc())
{
    setWindowTitle(QStringLiteral("Relative Orientation"));
    setModal(false);
    m_Accept->setObjectName(IdName(1));
    m_Compute->setObjectName(IdName(1382));
    m_PointTable->setObjectName(IdName(1046));
    m_PointTable->setRootIsDecorated(false);
    m_PointTable->setSelectionMode(QAbstractItemView::NoSelection);
    m_PointTable->setUniformRowHeights(true);
    m_LeftCombo->setObjectName(IdName(1377));
    m_RightCombo->setObjectName(IdName(1378));
    auto* scan = new QPushButton(QStringLiteral("Scan Images"));
    scan->setObjectName(IdName(1393));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(IdName(2));

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_Compute, 0, 0);
    grid->addWidget(m_Accept, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Left Image")), 0, 1);
    grid->addWidget(m_LeftCombo, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Right Image")), 0, 2);
    grid->addWidget(m_RightCombo, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Measured Points")), 0, 3);
    grid->addWidget(m_PointTable, 1, 3, 3, 1);
    grid->addWidget(scan, 0, 4);
    grid->addWidget(cancel, 1, 4);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(3, 1);
    m_PointTable->setMinimumWidth(40 + 59 + 59 + 24);
    m_LeftCombo->setMinimumWidth(140);
    m_RightCombo->setMinimumWidth(140);
    resize(660, 170);

    QObject::connect(m_Compute, &QPushButton::clicked, this, [this] { OnComputeRO(); });
    QObject::connect(m_Accept, &QPushButton::clicked, this, [this] { OnOK(); });
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    QObject::connect(scan, &QPushButton::clicked, this, [this] { OnScanImages(); });
    QObject::connect(m_LeftCombo, &QComboBox::activated, this, [this](int) { OnSelectImage(true); });
    QObject::connect(m_RightCombo, &QComboBox::activated, this, [this](int) { OnSelectImage(false); });
}

CRelativeOrientationDlg::~CRelativeOrientationDlg()
{
    // Destroyed with its owner: windows still open may close again.
    for (bool left : {true, false})
        if (CImageView* view = GetView(left)) {
            view->relativeOrientationMode = false;
            view->UpdateTitle();
        }
}

bool CRelativeOrientationDlg::CreateModeless()
{
    return OnInitDialog();
}

void CRelativeOrientationDlg::Refresh(int, int, int)
{
    if (!m_bStarted) {
        Start(nullptr, nullptr);
        return;
    }
    SyncCombos();
    RefreshPointTable();
}

void CRelativeOrientationDlg::SyncCombos()
{
    for (bool left : {true, false}) {
        CComboBoxImage* combo = left ? m_LeftCombo : m_RightCombo;
        combo->Fill(m_pDocument);
        if (CImageView* view = GetView(left))
            combo->SelectImage(view->GetImageRecord());
    }
}

CImageView* CRelativeOrientationDlg::GetView(bool left) const
{
    CMDIChildWnd* frame = GetFrame(left);
    return frame ? dynamic_cast<CImageView*>(frame->GetActiveView()) : nullptr;
}

bool CRelativeOrientationDlg::InProject(const CProjectImage* image) const
{
    if (!image || !m_pDocument)
        return false;
    for (int i = 0; i < m_pDocument->images.GetSize(); ++i)
        if (m_pDocument->images.GetAt(i) == image)
            return true;
    return false;
}

void CRelativeOrientationDlg::Start(CProjectImage* left, CProjectImage* right)
{
    m_bStarted = true;
    CKestrelonDoc* doc = m_pDocument;
    if (!doc)
        return;
    if (!left && doc->images.GetSize() > 0)
        left = doc->images.GetAt(0);
    if (!right && doc->images.GetSize() > 1)
        right = doc->images.GetAt(1);
    for (int side = 0; side < 2; ++side) {
        CImageView* view = OpenImageWindow(doc, side == 0 ? left : right);
        CMDIChildWnd* frame = view ? view->GetParentFrame() : nullptr;
        (side == 0 ? m_pLeftFrame : m_pRightFrame) = frame;
        if (view) {
            view->relativeOrientationMode = true;
            view->UpdateTitle();
        }
    }
    LayOut();
    m_LeftCombo->Fill(doc);
    m_LeftCombo->SelectImage(left);
    m_RightCombo->Fill(doc);
    m_RightCombo->SelectImage(right);
    RefreshPointTable();
    m_Accept->setEnabled(false);
}

void CRelativeOrientationDlg::LayOut()
{
    CMainFrame* main = AfxGetMainFrame();
    if (!main)
        return;
    const CRelOrientLayout layout = ComputeRelOrientLayout(main->size(), size());
    // No window stays maximised: a maximised one would cover the pair, and
    // activating a window would maximise it too.
    if (QMdiArea* area = main->GetMdiArea())
        for (QMdiSubWindow* w : area->subWindowList())
            if (w->isMaximized())
                w->showNormal();
    for (int side = 0; side < 2; ++side) {
        CMDIChildWnd* frame = GetFrame(side == 0);
        if (!frame)
            continue;
        frame->showNormal();
        frame->setGeometry(side == 0 ? layout.left : layout.right);
        if (QMdiArea* area = frame->mdiArea())
            area->setActiveSubWindow(frame);
        frame->raise();
    }
    move(main->mapToGlobal(layout.dialog));
}

void CRelativeOrientationDlg::SetColumns(const char* a, int wa, const char* b, int wb, const char* c, int wc)
{
    m_PointTable->clear();
    m_PointTable->setColumnCount(3);
    m_PointTable->setHeaderLabels({QString::fromLatin1(a), QString::fromLatin1(b), QString::fromLatin1(c)});
    const int widths[3] = {wa, wb, wc};
    for (int i = 0; i < 3; ++i) {
        m_PointTable->setColumnWidth(i, widths[i]);
        m_PointTable->headerItem()->setTextAlignment(i, Qt::AlignCenter);
    }
}

std::vector<CRelOrientRow> CRelativeOrientationDlg::CurrentRows() const
{
    CImageView* leftView = GetView(true);
    CImageView* rightView = GetView(false);
    const CProjectImage* left = leftView ? leftView->GetImageRecord() : nullptr;
    const CProjectImage* right = rightView ? rightView->GetImageRecord() : nullptr;
    const CObservationList none;
    return BuildRelOrientRows(left ? left->targets : none, right ? right->targets : none);
}

void CRelativeOrientationDlg::AddTableRow(const QString& a, const QString& b, const QString& c)
{
    auto* item = new QTreeWidgetItem(QStringList{a, b, c});
    for (int i = 0; i < 3; ++i)
        item->setTextAlignment(i, Qt::AlignCenter);
    m_PointTable->addTopLevelItem(item);
}

void CRelativeOrientationDlg::RefreshPointTable()
{
    SetColumns("Point", 40, "Left", 59, "Right", 59);
    const std::vector<CRelOrientRow> rows = CurrentRows();
    const QString yes = QStringLiteral("Yes"), no = QStringLiteral("No");
    for (const CRelOrientRow& row : rows)
        AddTableRow(FromCp1252(row.label.GetText()), row.left ? yes : no, row.right ? yes : no);
    EnableCompute(rows);
}

bool CRelativeOrientationDlg::SameImages() const
{
    CImageView* leftView = GetView(true);
    CImageView* rightView = GetView(false);
    return leftView && rightView && leftView->GetImageRecord() == rightView->GetImageRecord();
}

void CRelativeOrientationDlg::EnableCompute(const std::vector<CRelOrientRow>& rows)
{
    CImageView* leftView = GetView(true);
    CImageView* rightView = GetView(false);
    const bool twoImages = leftView && rightView && leftView->GetImageRecord() && rightView->GetImageRecord();
    m_Compute->setEnabled(twoImages && !SameImages() && CountRelOrientPairs(rows) >= 6);
}

void CRelativeOrientationDlg::ShowIdenticalImages()
{
    if (SameImages())
        AfxMessageBox(kIdentical, MB_OK | MB_ICONEXCLAMATION, "Relative Orientation");
}

void CRelativeOrientationDlg::OnSelectImage(bool left)
{
    CComboBoxImage* combo = left ? m_LeftCombo : m_RightCombo;
    if (!InProject(combo->GetSelectedImage())) {
        // The image left the project after the list was filled.
        SyncCombos();
        return;
    }
    if (CImageView* view = GetView(left)) {
        view->SetImage(combo->GetSelectedImage());
        view->Redraw();
    }
    RefreshPointTable();
    m_Accept->setEnabled(false);
    ShowIdenticalImages();
}

void CRelativeOrientationDlg::OnImageChanged(std::uintptr_t view)
{
    // Only the dialog's own views are followed; any other pointer is never used.
    CImageView* side = nullptr;
    CComboBoxImage* combo = nullptr;
    for (int s = 0; s < 2 && !side; ++s) {
        CImageView* own = GetView(s == 0);
        if (own && std::uintptr_t(static_cast<CImageViewBase*>(own)) == view) {
            side = own;
            combo = s == 0 ? m_LeftCombo : m_RightCombo;
        }
    }
    if (side)
        combo->SelectImage(side->GetImageRecord());
    RefreshPointTable();
    ShowIdenticalImages();
}

void CRelativeOrientationDlg::OnScanImages()
{
    CImageView* views[2] = {GetView(true), GetView(false)};
    bool measured = false;
    for (CImageView* view : views)
        if (view && view->GetImageRecord() && view->GetImageRecord()->targets.GetSize() > 0)
            measured = true;
    if (measured && AfxMessageBox("Autoscan will overwrite previously measured points. Continue?", MB_YESNO) != IDYES)
        return;
    for (bool left : {true, false})
        if (CImageView* view = GetView(left)) // a scan's message may close the other window
            view->RunAutoScan();
    RefreshPointTable();
}

void CRelativeOrientationDlg::RememberPose(CProjectImage* image)
{
    for (const SavedPose& s : m_Saved)
        if (s.image == image)
            return;
    m_Saved.push_back({image, image->X, image->Y, image->Z, image->rotation, image->oriented});
}

void CRelativeOrientationDlg::RestorePoses()
{
    for (const SavedPose& s : m_Saved)
        if (InProject(s.image)) {
            s.image->SetPosition(s.X, s.Y, s.Z);
            s.image->rotation = s.rotation;
            s.image->oriented = s.oriented;
        }
    m_Saved.clear();
}

void CRelativeOrientationDlg::OnComputeRO()
{
    UpdateData(true);
    auto failed = [] { AfxMessageBox("Computation failed!", MB_OK | MB_ICONSTOP, "RO Orientation"); };
    CKestrelonDoc* doc = m_pDocument;
    CImageView* leftView = GetView(true);
    CImageView* rightView = GetView(false);
    CProjectImage* left = leftView ? leftView->GetImageRecord() : nullptr;
    CProjectImage* right = rightView ? rightView->GetImageRecord() : nullptr;
    CCamera* leftCamera = doc && left ? doc->cameras.FindByName(left->cameraName.GetText()) : nullptr;
    CCamera* rightCamera = doc && right ? doc->cameras.FindByName(right->cameraName.GetText()) : nullptr;
    if (!left || !right || left == right || !leftCamera || !rightCamera) {
        failed();
        return;
    }
    RememberPose(left);
    RememberPose(right);
    m_ROPointSet.RemoveAll();
    CRelativeOrientation orientation(*left, *right, *leftCamera, *rightCamera, m_ROPointSet, kBaseLength);
    if (!orientation.Run()) {
        failed();
        return;
    }
    // The check triangulation leaves the residuals on the observations.
    CImagePtrArray pair;
    pair.Add(left);
    pair.Add(right);
    CCameraList cameras;
    cameras.AddCopy(*leftCamera);
    cameras.AddCopy(*rightCamera);
    CPointSet check(0);
    CProjectSettings settings;
    settings.rejectionLimit = kCheckRejectionLimit;
    CAdjustmentSummary summary;
    CTriangulationJob job(pair, check, cameras, settings, summary);
    int count = 0;
    double rms = 0.0;
    if (!job.Run(count, rms)) {
        failed();
        return;
    }
    m_pComputedLeft = left;
    m_pComputedRight = right;
    m_Accept->setEnabled(true);
    ShowResidualTable();
}

void CRelativeOrientationDlg::ShowResidualTable()
{
    SetColumns("Point", 36, "Left vxy", 61, "Right vxy", 61);
    const std::vector<CRelOrientRow> rows = CurrentRows();
    const CRelOrientResiduals table = FormatRelOrientResiduals(rows);
    for (std::size_t i = 0; i < table.label.size(); ++i)
        AddTableRow(table.label[i], table.left[i], table.right[i]);
    AddTableRow(QStringLiteral("RMS"), table.rmsLeft, table.rmsRight);
    EnableCompute(rows);
}

void CRelativeOrientationDlg::OnOK()
{
    CKestrelonDoc* doc = m_pDocument;
    if (!doc || !InProject(m_pComputedLeft) || !InProject(m_pComputedRight)) {
        Close();
        return;
    }
    CPointSet* set = doc->GetROPointSet();
    if (set) {
        set->RemoveAll();
        for (int i = 0; i < m_ROPointSet.GetSize(); ++i)
            if (const CObjectPoint* p = m_ROPointSet.GetAt(i))
                set->AddCopy(*p);
        for (int i = 0; i < doc->pointSets.GetSize(); ++i)
            if (CPointSet* other = doc->pointSets.GetAt(i))
                other->isDriver = false;
        set->isDriver = true;
    }
    for (int i = 0; i < doc->images.GetSize(); ++i)
        if (CProjectImage* image = doc->images.GetAt(i))
            image->oriented = image == m_pComputedLeft || image == m_pComputedRight;
    m_Saved.clear(); // the new poses stay
    doc->AcceptROArray();
    SendHubMessage(UM_REFRESH_IMAGES);
    Close();
}

void CRelativeOrientationDlg::OnCancel()
{
    RestorePoses();
    Close();
}

void CRelativeOrientationDlg::Close()
{
    if (m_bClosing)
        return;
    m_bClosing = true;
    for (bool left : {true, false})
        if (CImageView* view = GetView(left))
            view->relativeOrientationMode = false;
    for (bool left : {true, false})
        if (CMDIChildWnd* frame = GetFrame(left))
            delete frame; // no question, nothing saved
    if (m_pOwner)
        m_pOwner->DestroyRelativeOrientationDialog();
    else
        deleteLater();
}

void InstallRelativeOrientationDialog()
{
    CKestrelonView::SetRelativeOrientationFactory(
        [](CKestrelonView* owner) -> CRelativeOrientationDlgBase* { return new CRelativeOrientationDlg(owner); });
}
