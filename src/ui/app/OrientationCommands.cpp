#include "OrientationCommands.h"

#include "Controls.h"
#include "Hooks.h"
#include "Hub.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MeasurementTool.h"
#include "Message.h"
#include "Resection.h"
#include "StationDialogs.h"
#include "TriangulationJob.h"

#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidgetItem>

#include <cstdio>

namespace {

QString FormatLine(const char* format, const CProjectImage& image, double rms = 0.0, int used = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, image.name.GetText(), rms, used);
    return QString::fromLatin1(text);
}

bool AskRmsQuestion(double rms)
{
    char text[96];
    std::snprintf(text, sizeof text, "Resection RMS: %f\nContinue?\n", rms);
    return AfxMessageBox(text, MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

// Selects the set's item under "3D Data", which the right pane then lists.
void SelectResultSetItem(CKestrelonView* tree, const char* title)
{
    if (tree)
        tree->SelectPointSetItem(QString::fromLatin1(title));
}

} // namespace

// ---------------------------------------------------------------------------
// CResectionSummaryDlg

CResectionSummaryDlg::CResectionSummaryDlg(QWidget* parent) : CDialog(310, parent), m_List(new QListWidget)
{
    setWindowTitle(QStringLiteral("Resection Summary"));
    m_List->setObjectName(IdName(1379));
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    m_List->setFont(fixed);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(IdName(1));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Station")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("RMS(um)")), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Used Points")), 0, 2);
    grid->addWidget(m_List, 1, 0, 1, 3);
    grid->addWidget(ok, 2, 1);
    resize(352, 312);
}

bool CResectionSummaryDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_List->clear();
    m_List->addItems(m_Lines);
    return true;
}

// ---------------------------------------------------------------------------
// Resection commands of the document

void CKestrelonDoc::ResectImageForDriveback(CProjectImage& image, CCamera& camera, CMeasurementTool& tool)
{
    CPointSet* driver = pointSets.GetDriverSet();
    if (!driver) {
        AfxMessageBox("No Driver Present");
        return;
    }
    auto measure = [&] {
        if (image.scanned)
            tool.IdentifyScannedTargets(*driver);
        else
            tool.DriveBack(*driver, settings.defaultImageSigma);
    };
    if (ResectImage(image, camera, *driver, settings, summary)) {
        image.oriented = true;
        SetModifiedFlag(true);
        if (AskRmsQuestion(summary.rms))
            measure();
    } else if (summary.status == kResectionTooFewPoints) {
        AfxMessageBox("Not enough common points for resection.", MB_OK | MB_ICONSTOP);
    } else if (AfxMessageBox("Closed Form Failed.\nAttempt with Given X,Y,Z?", MB_YESNO | MB_ICONINFORMATION) ==
               IDYES) {
        // The user may give the start station; the refinement runs either way.
        CResectStationDlg start(&image, nullptr, this);
        start.m_bUseGiven = 1;
        start.DoModal();
        RefineResection(image, camera, *driver, settings, summary);
        SetModifiedFlag(true);
        if (summary.status != kResectionSuccess) {
            image.oriented = false;
            AfxMessageBox("Resection failed.");
        } else {
            image.oriented = true;
            if (AskRmsQuestion(summary.rms))
                measure();
        }
    }
    SendHubMessage(UM_REFRESH_IMAGES);
}

void CKestrelonDoc::ResectAllImages()
{
    CWaitCursor wait;
    CPointSet* driver = pointSets.GetDriverSet();
    if (!driver) {
        AfxMessageBox("No Driver Present");
        return;
    }
    CResectionSummaryDlg dialog(nullptr);
    bool changed = false;
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (!image || !image->enabled || image->targets.GetSize() < 3)
            continue;
        const CCamera* camera = cameras.FindByName(image->GetCameraName().GetText());
        bool ok = false;
        summary.status = kResectionFailed;
        if (camera) {
            if (image->oriented) {
                RefineResection(*image, *camera, *driver, settings, summary);
                ok = summary.status == kResectionSuccess;
            } else {
                ok = ResectImage(*image, *camera, *driver, settings, summary);
            }
        }
        if (ok) {
            dialog.AddLine(FormatLine("%10s        %2.3f       %3d ", *image, summary.rms, summary.usedPoints));
            image->oriented = true;
            changed = true;
        } else {
            const bool fewPoints = camera && summary.status == kResectionTooFewPoints;
            dialog.AddLine(FormatLine(fewPoints ? "%10s  FAILED (Not enough common points)" : "%10s  FAILED ", *image));
            changed = changed || image->oriented;
            image->oriented = false;
        }
    }
    if (changed)
        SetModifiedFlag(true);
    dialog.DoModal();
    WriteResectionReport();
}

bool CKestrelonDoc::AddDatabaseCameraToProject(CDynString identifier)
{
    CKestrelonApp* app = AfxGetApp();
    const CCamera* record = app ? app->FindDatabaseCamera(identifier.GetText()) : nullptr;
    if (!record)
        return false;
    if (cameras.FindByName(identifier.GetText())) {
        char text[96];
        std::snprintf(text, sizeof text, "Replace camera <%s>?", identifier.GetText());
        if (AfxMessageBox(text, MB_YESNO | MB_ICONINFORMATION) != IDYES)
            return false;
        cameras.RemoveByName(identifier.GetText());
    }
    cameras.AddCopy(*record);
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, 0);
    return true;
}

// ---------------------------------------------------------------------------
// Triangulation

void CKestrelonDoc::OnTriangulate()
{
    if (GetPathName().IsEmpty()) {
        AfxMessageBox("Save Project First", MB_OK | MB_ICONINFORMATION);
        return;
    }
    CImagePtrArray offered;
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (image && image->enabled && image->oriented && image->GetEnabledObservationCount() > 0)
            offered.Add(image);
    }
    if (offered.GetSize() < 2)
        return;
    CTriangulateDlg dialog(nullptr);
    dialog.SetImages(&offered);
    const bool accepted = dialog.DoModal() == QDialog::Accepted;
    for (int i = 0; i < offered.GetSize(); ++i)
        offered.GetAt(i)->enabled = true;
    CKestrelonView* tree = GetProjectTreeView();
    if (tree)
        tree->RefreshImageBranches();
    UpdateAllViews(nullptr, 0);
    // The rebuild forgets the selection that Accept made.
    if (accepted)
        SelectResultSetItem(tree, "Triangulate");
}

bool CKestrelonDoc::TriangulatePoints(double& rms)
{
    if (!CollectTriangulationImages())
        return false;
    CPointSet* set = pointSets.GetTriangulateSet();
    if (!set) {
        if (CPointSet* old = pointSets.FindSetByTitle("Intersected")) {
            for (CView* v : GetViews())
                if (auto* tree = dynamic_cast<CKestrelonView*>(v))
                    tree->ForgetRecord(old);
            pointSets.Remove(old);
        }
        set = GetTriangulatePointSet();
    }
    rms = -1.0;
    if (!set)
        return false;
    CTriangulationJob job(imagePtrs, *set, cameras, settings, summary);
    int count = 0;
    const bool ok = job.Run(count, rms);
    if (ok && count != 0)
        job.WriteReport();
    return ok && count != 0;
}

bool CKestrelonDoc::ShowTriangulationResults()
{
    CPointSet* set = pointSets.GetTriangulateSet();
    if (!set)
        return true;
    set->WriteXyzFile(set->GetName().GetText(), 12, 13, 7);
    WriteTriangulationReport(*set);
    SetModifiedFlag(true);
    imagePtrs.RemoveAll();
    CKestrelonView* tree = GetProjectTreeView();
    if (tree)
        tree->SetSelectedPointSet(set);
    UpdateAllViews(nullptr, 0);
    SelectResultSetItem(tree, "Triangulate");
    return true;
}

CTriangulateDlg::CTriangulateDlg(QWidget* parent)
    : CDialog(261, parent), m_ImageList(new CImageSelectListCtrl), m_Accept(new QPushButton(QStringLiteral("Accept")))
{
    setWindowTitle(QStringLiteral("Triangulate"));
    m_ImageList->setObjectName(IdName(1284));
    m_ImageList->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* intersect = new QPushButton(QStringLiteral("Intersect"));
    intersect->setObjectName(IdName(1285));
    m_Accept->setObjectName(IdName(1));
    auto* reject = new QPushButton(QStringLiteral("Reject"));
    reject->setObjectName(IdName(2));
    auto* rms = new QLineEdit;
    rms->setObjectName(IdName(1171));
    rms->setReadOnly(true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Right-Click to enable / disable pictures")), 0, 0);
    grid->addWidget(m_ImageList, 1, 0, 6, 1);
    grid->addWidget(intersect, 1, 1);
    grid->addWidget(m_Accept, 2, 1);
    grid->addWidget(reject, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("RMS of Residuals (um)")), 4, 1);
    grid->addWidget(rms, 5, 1);
    grid->setRowStretch(6, 1);
    resize(398, 314);
    QObject::connect(intersect, &QPushButton::clicked, this, [this] { OnIntersect(); });
    QObject::connect(m_Accept, &QPushButton::clicked, this, &QDialog::accept);
    QObject::connect(reject, &QPushButton::clicked, this, &QDialog::reject);
    QObject::connect(m_ImageList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("IntersectImageControl"));
        QAction* on = menu.addAction(QStringLiteral("Enable for Intersection"));
        on->setData(33038);
        QAction* off = menu.addAction(QStringLiteral("Disable for Intersection"));
        off->setData(33040);
        if (QAction* chosen = menu.exec(m_ImageList->viewport()->mapToGlobal(at)))
            OnEnableImages(chosen == on);
    });
}

CTriangulateDlg::~CTriangulateDlg() = default;

void CTriangulateDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1171, m_strRMS);
}

bool CTriangulateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (const CPointSet* set = doc ? doc->pointSets.GetTriangulateSet() : nullptr) {
        m_pBackup = std::make_unique<CPointSet>();
        for (int i = 0; i < set->GetSize(); ++i)
            m_pBackup->AddCopy(*set->GetAt(i));
    }
    m_Accept->setEnabled(false);
    if (m_pImages) {
        m_ImageList->SetImages(m_pImages);
        m_ImageList->Fill();
    }
    UpdateData(false);
    return true;
}

void CTriangulateDlg::OnIntersect()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    double rms = -1.0;
    if (!doc || !doc->TriangulatePoints(rms)) {
        AfxMessageBox("Triangulation Failed");
        return;
    }
    m_Accept->setEnabled(true);
    char text[32];
    std::snprintf(text, sizeof text, "%8.3lf", rms * 1000.0);
    m_strRMS = QString::fromLatin1(text);
    UpdateData(false);
}

void CTriangulateDlg::OnEnableImages(bool enable)
{
    if (!m_pImages)
        return;
    for (int row = 0; row < m_ImageList->rowCount(); ++row) {
        if (!m_ImageList->selectionModel()->isRowSelected(row, QModelIndex()) || row >= m_pImages->GetSize())
            continue;
        m_pImages->GetAt(row)->enabled = enable;
        m_ImageList->selectionModel()->select(m_ImageList->model()->index(row, 0),
                                              QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
    m_ImageList->viewport()->update();
}

void CTriangulateDlg::OnOK()
{
    if (CKestrelonDoc* doc = GetActiveKestrelonDoc())
        doc->ShowTriangulationResults();
    CDialog::OnOK();
}

void CTriangulateDlg::OnCancel()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (doc && m_pBackup) {
        if (CPointSet* set = doc->pointSets.GetTriangulateSet()) {
            set->RemoveAll();
            for (int i = 0; i < m_pBackup->GetSize(); ++i)
                set->AddCopy(*m_pBackup->GetAt(i));
        }
        m_pBackup->RemoveAll();
    }
    if (doc)
        doc->DiscardEmptyTriangulateSet();
    CDialog::OnCancel();
}
