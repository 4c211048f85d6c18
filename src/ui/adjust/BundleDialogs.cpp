#include "BundleDialogs.h"

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "BundleJob.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "Message.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "SettingsDialogs.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Texts of the phase codes 0 to 12.
const char* const kPhaseTexts[] = {
    "Merging Data",
    "Triangulating",
    "Forming Normal Equations",
    "Matrix Decomposition",
    "Solving Normal Equations",
    "Inverting Normal Equations",
    "Computing Covariance Matrix",
    "Error Propagation",
    "Computing RMS of Standard Errors",
    "Computing Correlation Matrix",
    "Generating Sight List",
    "Post Bundle Scaling",
    "Rigorous Scaling",
};

const char* const kIterationLimitMessage =
    "Bundle adjustment has run for %d iteration(s)\nbut has not yet converged.\n\nTo re-run to convergence, "
    "\nincrease 'Maximum Iterations'";

QPushButton* MakeButton(int id, const QString& text)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QStringLiteral("id%1").arg(id));
    button->setAutoDefault(false);
    return button;
}

QGroupBox* Group(const QString& title, QGridLayout*& grid)
{
    auto* box = new QGroupBox(title);
    grid = new QGridLayout(box);
    return box;
}

// The rows of every box stay together at its top when the dialog grows.
void KeepRowsTogether(QWidget& dialog)
{
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>())
        if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
            grid->setRowStretch(grid->rowCount(), 1);
}

// A traffic light of 32 x 97 pixels with the lamp of index lit (0 red, 1 green, 2 yellow).
QPixmap DrawLight(int lit)
{
    QPixmap picture(32, 97);
    picture.fill(QColor(192, 192, 192));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 40));
    painter.drawRoundedRect(QRectF(1, 1, 30, 95), 6, 6);
    // Red at the top, yellow in the middle, green at the bottom.
    const QColor on[3] = {QColor(255, 0, 0), QColor(0, 220, 0), QColor(255, 210, 0)};
    const QColor off[3] = {QColor(90, 20, 20), QColor(20, 80, 20), QColor(90, 80, 20)};
    const int row[3] = {0, 2, 1};
    for (int lamp = 0; lamp < 3; ++lamp) {
        painter.setBrush(lamp == lit ? on[lamp] : off[lamp]);
        painter.drawEllipse(QPointF(16, 17 + 31 * row[lamp]), 11, 11);
    }
    return picture;
}

QString Int(int value)
{
    return QString::number(value);
}

} // namespace

const char* const CBundleRunDlg::kSuccessful = "Adjustment successful";
const char* const CBundleRunDlg::kAborted = "Adjustment Aborted";
const char* const CBundleRunDlg::kFailed = "Adjustment failed!";

// --- both dialogs ------------------------------------------------------------

CBundleRunDlg::CBundleRunDlg(int resourceId, CImagePtrArray& images, CCameraList& cameras, CPointSet& points,
                             CPointSet* control, CScaleBarList& scaleBars, CProjectSettings& settings,
                             CAdjustmentSummary& summary, QWidget* parent)
    : CDialog(resourceId, parent),
      m_Images(images),
      m_Cameras(cameras),
      m_Points(points),
      m_pControl(control),
      m_ScaleBars(scaleBars),
      m_Settings(settings),
      m_Summary(summary),
      m_pJob(std::make_unique<CBundleJob>(&images, &points, control, &cameras, &scaleBars, &settings, &summary))
{
    m_Timer.setInterval(100);
    QObject::connect(&m_Timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_pGo = MakeButton(1191, QStringLiteral("&Go"));
    m_pGo->setDefault(true);
    m_pAccept = MakeButton(1, QStringLiteral("&Accept"));
    m_pReject = MakeButton(2, QStringLiteral("&Reject"));
    QObject::connect(m_pGo, &QPushButton::clicked, this, [this] { OnGo(); });
    QObject::connect(m_pAccept, &QPushButton::clicked, this, [this] { OnOK(); });
    QObject::connect(m_pReject, &QPushButton::clicked, this, [this] { OnCancel(); });
}

CBundleRunDlg::~CBundleRunDlg()
{
    m_Timer.stop();
    if (m_bRunning) {
        m_pJob->GetProgress().RequestAbort();
        WaitForThread();
        if (m_pDoc)
            m_pDoc->EndJob();
    }
    m_pJob.reset();
}

void CBundleRunDlg::WaitForThread()
{
    // The worker may be waiting for the user-interface thread (a message it
    // sends), so events are served until it has ended.
    while (m_pJob && m_pJob->GetExitCode() == STILL_ACTIVE) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    if (m_pJob)
        m_pJob->Join();
}

QLabel* CBundleRunDlg::AddStatic(int id)
{
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("id%1").arg(id));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setMinimumWidth(60);
    label->setMargin(1);
    // One line high, whatever room its row gets, the value centred in it.
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel* CBundleRunDlg::AddStatusStatic()
{
    QLabel* label = AddStatic(1205);
    int widest = 0;
    for (const char* text : kPhaseTexts)
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(QString::fromLatin1(text)));
    for (const char* text : {kSuccessful, kAborted, kFailed})
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(QString::fromLatin1(text)));
    label->setMinimumWidth(widest + 2 * (label->frameWidth() + label->margin()) + 4);
    return label;
}

bool CBundleRunDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pDoc = GetActiveKestrelonDoc();
    m_pAccept->setEnabled(false);
    m_strImages = Int(m_Images.GetSize());
    m_strPoints = Int(m_Points.GetSize());
    m_strScaleBars = Int(m_ScaleBars.GetSize());
    m_strControl = m_pControl && m_pControl->GetSize() > 0 ? Int(m_pControl->GetSize()) : QStringLiteral("Free Net");
    return true;
}

void CBundleRunDlg::SaveProjectState()
{
    m_pSavedImages = std::make_unique<CProjectImageList>();
    for (int i = 0; i < m_Images.GetSize(); ++i)
        m_pSavedImages->AddCopy(*m_Images.GetAt(i));
    m_pSavedPoints = std::make_unique<CPointSet>(m_Points);
    m_pSavedCameras = std::make_unique<CCameraList>(m_Cameras);
}

void CBundleRunDlg::RestorePoses()
{
    if (!m_pSavedImages)
        return;
    for (int i = 0; i < m_pSavedImages->GetSize() && i < m_Images.GetSize(); ++i) {
        const CProjectImage* saved = m_pSavedImages->GetAt(i);
        if (CProjectImage* image = m_Images.GetAt(i))
            image->SetPose(saved->X, saved->Y, saved->Z, saved->GetAzimuth(), saved->GetElevation(),
                           saved->GetRoll());
    }
}

void CBundleRunDlg::ShowMembers()
{
    auto set = [this](int id, const QString& text) {
        if (QWidget* w = GetDlgItem(id))
            SetWindowText(w, text);
    };
    set(1168, m_strImages);
    set(1169, m_strPoints);
    set(1200, m_strControl);
    set(1201, m_strScaleBars);
    set(1205, m_strStatus);
    set(1573, m_strDegreesOfFreedom);
    set(1202, m_strRmsX);
    set(1203, m_strRmsY);
    set(1204, m_strRmsZ);
    ShowStatistics();
}

void CBundleRunDlg::OnGo()
{
    if (m_bRunning) {
        m_pJob->GetProgress().RequestAbort();
        return;
    }
    if (!m_pJob)
        return;
    m_pAccept->setEnabled(false);
    m_pReject->setEnabled(false);
    EnableOptions(false);
    m_pGo->setText(QStringLiteral("Cancel"));
    m_pJob->GetProgress().Reset();
    if (!m_pJob->StartThread()) {
        m_pGo->setText(QStringLiteral("&Go"));
        m_pReject->setEnabled(true);
        EnableOptions(true);
        AfxMessageBox("The adjustment could not be started", MB_OK | MB_ICONERROR);
        return;
    }
    m_bRunning = true;
    if (m_pDoc)
        m_pDoc->BeginJob();
    m_Timer.start();
}

void CBundleRunDlg::OnTimer()
{
    if (!m_pJob)
        return;
    CAdjustmentProgress& progress = m_pJob->GetProgress();
    if (m_bRunning && progress.IsDone()) {
        if (m_pJob->GetExitCode() == STILL_ACTIVE)
            return;
        EndRun();
    }
    UpdateStatistics();
}

void CBundleRunDlg::EndRun()
{
    m_pJob->Join();
    m_Timer.stop();
    m_bRunning = false;
    if (m_pDoc)
        m_pDoc->EndJob();
    m_pGo->setText(QStringLiteral("&Go"));
    m_pReject->setEnabled(true);
    EnableOptions(true);
    if (m_bCloseWhenEnded) {
        // The user closed the dialog during the run: it ends as Reject.
        OnCancel();
        return;
    }
    const int status = m_Summary.status;
    if (status == BUNDLE_ITERATION_LIMIT) {
        const QByteArray text = QString::asprintf(kIterationLimitMessage, int(m_pJob->GetProgress().iteration)).toLatin1();
        AfxMessageBox(text.constData(), MB_OK | MB_ICONINFORMATION);
    }
    ShowRunEnd(status);
    m_pAccept->setEnabled(status == BUNDLE_CONVERGED || status == BUNDLE_ITERATION_LIMIT);
}

void CBundleRunDlg::UpdatePhaseText()
{
    const CAdjustmentProgress& progress = m_pJob->GetProgress();
    if (!progress.IsDone()) {
        const int phase = progress.phase;
        if (phase >= 0 && phase <= 12)
            m_strStatus = QString::fromLatin1(kPhaseTexts[phase]);
        return;
    }
    if (progress.IsAbortRequested())
        m_strStatus = QString::fromLatin1(kAborted);
    else
        m_strStatus = QString::fromLatin1(IsSuccessText(m_Summary.status) ? kSuccessful : kFailed);
}

void CBundleRunDlg::UpdateStatistics()
{
    const CAdjustmentProgress& progress = m_pJob->GetProgress();
    // Both dialogs: the points of the run, also once it has ended.
    m_strPoints = Int(progress.pointCount);
    m_strDegreesOfFreedom = Int(progress.degreesOfFreedom);
    m_strRmsX = QString::asprintf("%6.3f", double(progress.rmsStdErrorX));
    m_strRmsY = QString::asprintf("%6.3f", double(progress.rmsStdErrorY));
    m_strRmsZ = QString::asprintf("%6.3f", double(progress.rmsStdErrorZ));
    FormatStatistics(progress);
    UpdatePhaseText();
    ShowMembers();
}

void CBundleRunDlg::OnOK()
{
    if (m_bRunning || !m_pAccept->isEnabled())
        return;
    CKestrelonDoc* doc = m_pDoc ? m_pDoc : GetActiveKestrelonDoc();
    for (int i = m_Points.GetSize() - 1; i >= 0; --i)
        if (m_Points.GetAt(i)->usedRayCount < m_Settings.minimumRays)
            m_Points.RemoveAt(i, 1);
    m_Points.Save(12, 13, 7);
    if (doc) {
        doc->SetModifiedFlag(true);
        if (!m_Points.isDriver)
            doc->ToggleDriverSet(ResultSets::kBundle);
    }
    if (m_Cameras.GetSize() > 0) {
        CCamera* camera = m_Cameras.GetAt(0);
        const double d = m_Images.GetMaxRadialDistance(m_Cameras);
        if (d != 0.0)
            camera->maxRadialDistance = d;
        camera->modified = true;
    }
    CKestrelonView* tree = GetProjectTreeView();
    if (tree) {
        tree->SetSelectedPointSet(&m_Points);
        tree->RefreshImageBranches();
    }
    if (doc)
        doc->UpdateAllViews();
    if (tree)
        tree->SelectPointSetItem(QString::fromLatin1(ResultSets::kBundle));
    QDialog::done(QDialog::Accepted);
}

void CBundleRunDlg::OnCancel()
{
    if (m_bRunning) {
        // Nothing may change while the worker uses it: the run is asked to
        // stop and the dialog ends when the timer has seen its end.
        m_pJob->GetProgress().RequestAbort();
        m_bCloseWhenEnded = true;
        return;
    }
    RestoreProjectState();
    QDialog::done(QDialog::Rejected);
}

// --- Bundle Adjustment -------------------------------------------------------

CBundleAdjustmentDlg::CBundleAdjustmentDlg(CImagePtrArray& images, CCameraList& cameras, CPointSet& points,
                                           CPointSet* control, CScaleBarList& scaleBars, CProjectSettings& settings,
                                           CAdjustmentSummary& summary, QWidget* parent)
    : CBundleRunDlg(112, images, cameras, points, control, scaleBars, settings, summary, parent)
{
    setWindowTitle(QStringLiteral("Bundle Adjustment"));
    m_Lights[RED] = DrawLight(RED);
    m_Lights[GREEN] = DrawLight(GREEN);
    m_Lights[YELLOW] = DrawLight(YELLOW);

    QGridLayout* g = nullptr;
    auto* summaryBox = Group(QStringLiteral("Summary"), g);
    const std::pair<int, const char*> summaryFields[] = {
        {1168, "Images"}, {1169, "Points"}, {1200, "Control Points"}, {1201, "Scalebars"}};
    int row = 0;
    for (const auto& f : summaryFields) {
        g->addWidget(new QLabel(QString::fromLatin1(f.second)), row, 0);
        g->addWidget(AddStatic(f.first), row++, 1);
    }

    auto* statusBox = Group(QStringLiteral("Status"), g);
    g->addWidget(AddStatusStatic(), 0, 0, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("Iteration")), 1, 0);
    g->addWidget(AddStatic(1167), 1, 1);

    auto* processingBox = Group(QStringLiteral("Processing"), g);
    g->addWidget(new QLabel(QStringLiteral("Point")), 0, 0);
    g->addWidget(AddStatic(1176), 0, 1);
    g->addWidget(new QLabel(QStringLiteral("Label")), 1, 0);
    g->addWidget(AddStatic(1177), 1, 1);

    auto* statisticsBox = Group(QStringLiteral("Statistics"), g);
    const std::pair<int, const char*> statisticsFields[] = {{1172, "Rejection Limit"}, {1170, "Rejections"},
                                                            {1573, "Degrees of\nFreedom"}, {1171, "Residual RMS"},
                                                            {1174, "Sigma0"}};
    row = 0;
    for (const auto& f : statisticsFields) {
        g->addWidget(new QLabel(QString::fromLatin1(f.second)), row, 0);
        g->addWidget(AddStatic(f.first), row++, 1);
    }
    auto* rmsBox = new QGroupBox(QStringLiteral("RMS of Object Coordinate Standard Errors"));
    auto* rms = new QGridLayout(rmsBox);
    const std::pair<int, const char*> axes[] = {{1202, "X"}, {1203, "Y"}, {1204, "Z"}};
    for (int a = 0; a < 3; ++a) {
        rms->addWidget(new QLabel(QString::fromLatin1(axes[a].second)), 0, a);
        rms->addWidget(AddStatic(axes[a].first), 1, a);
    }
    g->addWidget(rmsBox, row, 0, 1, 2);

    m_pLight = new QLabel;
    m_pLight->setObjectName(QStringLiteral("id1208"));
    m_pLight->setFixedSize(32, 97);

    auto* controls = MakeButton(1206, QStringLiteral("Adjustment\nControls"));
    QObject::connect(controls, &QPushButton::clicked, this, [this] { OnAdjustmentControls(); });

    auto* left = new QVBoxLayout;
    left->addWidget(summaryBox);
    left->addWidget(statusBox);
    left->addWidget(processingBox);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_pGo, m_pAccept, m_pReject, controls})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(m_pLight, 0, Qt::AlignHCenter);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(statisticsBox);
    layout->addLayout(buttons);
    KeepRowsTogether(*this);
}

bool CBundleAdjustmentDlg::OnInitDialog()
{
    CBundleRunDlg::OnInitDialog();
    m_strRejectionLimit = QString::asprintf("%4.2f", m_Settings.rejectionLimit * 1000.0);
    ShowLight(YELLOW);
    SaveProjectState();
    ShowMembers();
    return true;
}

void CBundleAdjustmentDlg::OnGo()
{
    if (!m_bRunning && m_pJob)
        ShowLight(YELLOW);
    CBundleRunDlg::OnGo();
}

void CBundleAdjustmentDlg::ShowLight(Light light)
{
    m_pLight->setPixmap(m_Lights[light]);
}

void CBundleAdjustmentDlg::ShowStatistics()
{
    auto set = [this](int id, const QString& text) { SetWindowText(GetDlgItem(id), text); };
    set(1167, m_strIteration);
    set(1176, m_strPoint);
    set(1177, m_strLabel);
    set(1172, m_strRejectionLimit);
    set(1170, m_strRejections);
    set(1171, m_strResidualRms);
    set(1174, m_strSigma0);
}

void CBundleAdjustmentDlg::FormatStatistics(const CAdjustmentProgress& progress)
{
    m_strIteration = Int(progress.iteration);
    // A point is being processed only while the run goes on (-1: none yet).
    const bool processing = !progress.IsDone() && progress.pointNumber >= 0;
    m_strPoint = processing ? Int(progress.pointNumber) : QString();
    m_strLabel = processing ? QString::fromLatin1(progress.GetPointLabel().GetText()) : QString();
    m_strSigma0 = QString::asprintf("%6.2f", double(progress.sigma0));
    m_strRejections = Int(progress.rejectedCount);
    m_strRejectionLimit = QString::asprintf("%4.2f", double(progress.rejectionLimitMicrons));
    m_strResidualRms = QString::asprintf("%2.2f", double(progress.residualRmsMicrons));
}

void CBundleAdjustmentDlg::ShowRunEnd(int status)
{
    ShowLight(status == BUNDLE_CONVERGED ? GREEN : status == BUNDLE_ITERATION_LIMIT ? YELLOW : RED);
}

bool CBundleAdjustmentDlg::IsSuccessText(int status) const
{
    return status == BUNDLE_CONVERGED || status == BUNDLE_ITERATION_LIMIT;
}

void CBundleAdjustmentDlg::EnableOptions(bool enable)
{
    GetDlgItem(1206)->setEnabled(enable);
}

void CBundleAdjustmentDlg::RestoreProjectState()
{
    m_Summary.status = BUNDLE_NOT_FINISHED;
    RestorePoses();
    if (m_pSavedCameras)
        for (int i = 0; i < m_pSavedCameras->GetSize() && i < m_Cameras.GetSize(); ++i)
            for (int k = 0; k < CAM_PARAMETER_COUNT; ++k)
                m_Cameras.GetAt(i)->parameters[k] = m_pSavedCameras->GetAt(i)->parameters[k];
    m_Points.RemoveAll();
    if (m_pSavedPoints)
        for (int i = 0; i < m_pSavedPoints->GetSize(); ++i)
            m_Points.AddCopy(*m_pSavedPoints->GetAt(i));
}

void CBundleAdjustmentDlg::OnAdjustmentControls()
{
    if (m_bRunning)
        return;
    const double sigma = m_Settings.defaultImageSigma;
    CAdjustmentControlsDlg dialog(this);
    dialog.DoModal();
    m_strRejectionLimit = QString::asprintf("%4.2f", m_Settings.rejectionLimit * 1000.0);
    SetWindowText(GetDlgItem(1172), m_strRejectionLimit);
    if (m_Settings.defaultImageSigma != sigma)
        m_Images.SetObservationSigmas(m_Settings.defaultImageSigma);
}

// --- Simulation Bundle -------------------------------------------------------

CBundleSimulationDlg::CBundleSimulationDlg(CImagePtrArray& images, CCameraList& cameras, CPointSet& points,
                                           CPointSet* control, CScaleBarList& scaleBars, CProjectSettings& settings,
                                           CAdjustmentSummary& summary, QWidget* parent)
    : CBundleRunDlg(351, images, cameras, points, control, scaleBars, settings, summary, parent)
{
    setWindowTitle(QStringLiteral("Simulation Bundle"));
    QGridLayout* g = nullptr;
    auto* options = Group(QStringLiteral("Options"), g);
    g->addWidget(new QLabel(QStringLiteral("Image Coordinate Sigma")), 0, 0);
    auto* sigma = new QLineEdit;
    sigma->setObjectName(QStringLiteral("id1322"));
    QObject::connect(sigma, &QLineEdit::editingFinished, this, [this] { OnKillFocusImageSigma(); });
    g->addWidget(sigma, 0, 1);
    auto* unit = new QLabel;
    unit->setObjectName(QStringLiteral("id1401"));
    g->addWidget(unit, 0, 2);

    auto* statistics = Group(QStringLiteral("Statistics"), g);
    g->addWidget(new QLabel(QStringLiteral("Degrees of\nFreedom")), 0, 0);
    g->addWidget(AddStatic(1573), 0, 1);
    auto* rmsBox = new QGroupBox(QStringLiteral("RMS of Object Coordinate Standard Errors"));
    auto* rms = new QGridLayout(rmsBox);
    const std::pair<int, const char*> axes[] = {{1202, "X"}, {1203, "Y"}, {1204, "Z"}};
    for (int a = 0; a < 3; ++a) {
        rms->addWidget(new QLabel(QString::fromLatin1(axes[a].second)), 0, a);
        rms->addWidget(AddStatic(axes[a].first), 1, a);
    }
    g->addWidget(rmsBox, 1, 0, 1, 2);

    auto* summaryBox = Group(QStringLiteral("Summary"), g);
    const std::pair<int, const char*> summaryFields[] = {
        {1168, "Images"}, {1169, "Points"}, {1200, "Control Points"}, {1201, "Scalebars"}};
    int row = 0;
    for (const auto& f : summaryFields) {
        g->addWidget(new QLabel(QString::fromLatin1(f.second)), row, 0);
        g->addWidget(AddStatic(f.first), row++, 1);
    }

    auto* status = new QHBoxLayout;
    status->addWidget(new QLabel(QStringLiteral("Status")));
    status->addWidget(AddStatusStatic(), 1);

    auto* left = new QVBoxLayout;
    left->addWidget(options);
    left->addWidget(statistics);
    left->addLayout(status);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_pGo, m_pAccept, m_pReject})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(summaryBox);
    layout->addLayout(buttons);
    KeepRowsTogether(*this);
}

void CBundleSimulationDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1322, m_dImageSigma);
}

bool CBundleSimulationDlg::OnInitDialog()
{
    CBundleRunDlg::OnInitDialog();
    if (CProjectDocument* doc = GetActiveProjectDoc()) {
        m_dImageSigma = doc->settings.defaultImageSigma;
        m_strUnit = QString::fromLatin1(doc->GetUnitName(false).GetText());
    }
    SetWindowText(GetDlgItem(1401), m_strUnit);
    SaveProjectState();
    UpdateData(false);
    ShowMembers();
    return true;
}

void CBundleSimulationDlg::OnKillFocusImageSigma()
{
    if (m_bRunning || !UpdateData(true))
        return;
    m_Images.SetObservationSigmas(m_dImageSigma);
    CProjectDocument* doc = m_pDoc ? m_pDoc : GetActiveProjectDoc();
    if (doc && doc->settings.defaultImageSigma != m_dImageSigma) {
        doc->settings.defaultImageSigma = m_dImageSigma;
        doc->SetModifiedFlag(true);
    }
}

void CBundleSimulationDlg::ShowStatistics() {}

void CBundleSimulationDlg::ShowRunEnd(int) {}

bool CBundleSimulationDlg::IsSuccessText(int status) const
{
    return status == BUNDLE_CONVERGED;
}

void CBundleSimulationDlg::EnableOptions(bool enable)
{
    GetDlgItem(1322)->setEnabled(enable);
}

void CBundleSimulationDlg::RestoreProjectState()
{
    // The saved values go back into the project's own records, which the
    // project and its views keep pointing to.
    RestorePoses();
    if (m_pSavedCameras)
        for (int i = 0; i < m_pSavedCameras->GetSize() && i < m_Cameras.GetSize(); ++i)
            *m_Cameras.GetAt(i) = *m_pSavedCameras->GetAt(i);
    if (m_pSavedPoints)
        m_Points = *m_pSavedPoints;
}
