#include "AutoMeasurementDlg.h"

#include "BundleJob.h"
#include "CentroidSettings.h"
#include "Clock.h"
#include "Controls.h"
#include "CorrespondenceJob.h"
#include "DisplayImage.h"
#include "Hooks.h"
#include "ImageView.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "MeasurementTool.h"
#include "Message.h"
#include "MessageHub.h"
#include "SettingsDialogs.h"
#include "TargetDetector.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Check boxes of the steps, by state.
int StepCheck(int step)
{
    switch (step) {
    case CAutoMeasurementDlg::SCAN: return 1324;
    case CAutoMeasurementDlg::FIND_POINTS: return 1325;
    case CAutoMeasurementDlg::FAST_BUNDLE: return 1326;
    case CAutoMeasurementDlg::POSTPROCESSING: return 1338;
    case CAutoMeasurementDlg::FINAL_BUNDLE: return 1332;
    default: return 0;
    }
}

const char* const kStepTexts[5][3] = {
    {"------- Start Scanning Images -----------------\r\n", "------- Scanning Images Stoped ----------------\r\n",
     "------- Scanning Images Finished --------------\r\n"},
    {"------- Start Find Corresponding Points -------\r\n", "------- Find Corresponding Points Stopped------\r\n",
     "------- Find Corresponding Points Finished ----\r\n"},
    {"------- Start Fast Bundle ---------------------\r\n", "------- Fast Bundle Stoped --------------------\r\n",
     "------- Fast Bundle Finished ------------------\r\n"},
    {"------- Start Post-Processing -----------------\r\n", "------- Post-Processing Stoped ----------------\r\n",
     "------- Post-Processing Finished --------------\r\n"},
    {"------- Start Final Bundle --------------------\r\n", "------- Final Bundle Stoped -------------------\r\n",
     "------- Final Bundle Finished -----------------\r\n"},
};

QCheckBox* NewCheck(int id, const char* text)
{
    auto* box = new QCheckBox(QString::fromLatin1(text));
    box->setObjectName(IdName(id));
    return box;
}

QPushButton* NewButton(int id, const char* text)
{
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(IdName(id));
    button->setAutoDefault(false);
    return button;
}

QLabel* NewStatic(int id, const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setObjectName(IdName(id));
    return label;
}

// Every control the dependent-control table names, with its condition.
struct Dependent {
    int id;
    int first;
    int second; // 0: the first check alone
};
const Dependent kDependents[] = {
    {1328, 1324, 0}, {1342, 1324, 0}, {1329, 1324, 0}, {1335, 1325, 0}, {1336, 1326, 0},
    {1337, 1326, 0}, {1352, 1326, 1337}, {1353, 1326, 1337}, {1333, 1338, 0}, {1334, 1338, 0},
    {1356, 1338, 1333}, {1355, 1338, 1333}, {1357, 1338, 1333}, {1354, 1332, 0},
};

const int kStepChecks[] = {1324, 1325, 1326, 1338, 1332};

} // namespace

const char* CAutoMeasurementDlg::StepText(int step, int variant)
{
    if (step < SCAN || step > FINAL_BUNDLE || variant < 0 || variant > 2)
        return "";
    return kStepTexts[step - SCAN][variant];
}

CAutoMeasurementDlg::CAutoMeasurementDlg(QWidget* parent) : CDialog(288, parent)
{
    setWindowTitle(QStringLiteral("Automatic Measurement"));
    m_Timer.setInterval(100);
    QObject::connect(&m_Timer, &QTimer::timeout, this, [this] { OnTimer(); });

    m_pQuality = new CImageQualityCombo;
    m_pQuality->setObjectName(IdName(1342));
    m_pRmsThreshold = new CNumberEdit(1);
    m_pRmsThreshold->setObjectName(IdName(1353));
    m_pDistance = new CNumberEdit(2);
    m_pDistance->setObjectName(IdName(1355));

    auto* steps = new QGridLayout;
    int row = 0;
    auto* scanPrefs = NewButton(1328, "Scan Preferences");
    steps->addWidget(NewCheck(1324, "Scan Images"), row, 0);
    steps->addWidget(m_pQuality, row, 1);
    steps->addWidget(scanPrefs, row++, 2);
    steps->addWidget(NewCheck(1329, "Stop if not all images are resected"), row++, 1, 1, 2);
    auto* findPrefs = NewButton(1335, "Find Points Preferences");
    steps->addWidget(NewCheck(1325, "Find Corresponding Points"), row, 0);
    steps->addWidget(findPrefs, row++, 2);
    steps->addWidget(NewCheck(1326, "Fast Bundle Adjustment"), row++, 0);
    steps->addWidget(NewCheck(1336, "Fix camera parameters except c, Xp and Yp"), row++, 1, 1, 2);
    steps->addWidget(NewCheck(1337, "Use fast convergence"), row++, 1, 1, 2);
    steps->addWidget(NewStatic(1352, "Residual RMS threshold"), row, 1);
    steps->addWidget(m_pRmsThreshold, row++, 2);
    steps->addWidget(NewCheck(1338, "Postprocessing"), row++, 0);
    steps->addWidget(NewCheck(1333, "Merge identical points "), row++, 1, 1, 2);
    steps->addWidget(NewCheck(1334, "Remove matched points with only 2 non-rejected observations"), row++, 1, 1, 2);
    auto* distanceRow = new QHBoxLayout;
    distanceRow->addWidget(NewStatic(1356, "Distance threshold"));
    distanceRow->addWidget(m_pDistance);
    distanceRow->addWidget(NewStatic(1357, ""));
    steps->addLayout(distanceRow, row++, 1, 1, 2);
    auto* controls = NewButton(1354, "Adjustment Controls");
    steps->addWidget(NewCheck(1332, "Final Bundle Adjustment"), row, 0);
    steps->addWidget(controls, row++, 2);

    auto* status = new QGroupBox(QStringLiteral("Status"));
    auto* statusLayout = new QVBoxLayout(status);
    m_pStatus = new QPlainTextEdit;
    m_pStatus->setObjectName(IdName(1340));
    m_pStatus->setReadOnly(true);
    m_pStatus->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pStatus->setMinimumSize(420, 200);
    statusLayout->addWidget(m_pStatus);

    m_pStart = NewButton(1330, "Start");
    m_pStop = NewButton(1331, "Stop");
    m_pClose = NewButton(2, "Close");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_pStart, m_pStop, m_pClose})
        buttons->addWidget(b);
    buttons->addStretch();

    auto* left = new QVBoxLayout;
    left->addLayout(steps);
    left->addWidget(status);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(buttons);

    QObject::connect(m_pStart, &QPushButton::clicked, this, [this] { OnStart(); });
    QObject::connect(m_pStop, &QPushButton::clicked, this, [this] { OnStop(); });
    QObject::connect(m_pClose, &QPushButton::clicked, this, [this] { OnCancel(); });
    QObject::connect(scanPrefs, &QPushButton::clicked, this, [this] { OnScanPreferences(); });
    QObject::connect(findPrefs, &QPushButton::clicked, this, [this] { OnFindPointsPreferences(); });
    QObject::connect(controls, &QPushButton::clicked, this, [this] { OnAdjustmentControls(); });
    for (int id : {1324, 1325, 1326, 1337, 1338, 1333, 1332})
        QObject::connect(Item<QCheckBox>(id), &QCheckBox::clicked, this, [this] { EnableDependentControls(); });
}

CAutoMeasurementDlg::~CAutoMeasurementDlg()
{
    m_bClosing = true;
    m_Timer.stop();
    if (m_pStepThread) {
        // The worker may be sending to this dialog: events are served until it ends.
        m_bStop.store(true, std::memory_order_release);
        WaitForWorker(*m_pStepThread);
        m_pStepThread.reset();
        if (m_pDoc)
            m_pDoc->EndJob();
    }
    RestoreCameras();
    CloseScanWindow();
}

bool CAutoMeasurementDlg::IsChecked(int id) const
{
    const QCheckBox* box = Item<QCheckBox>(id);
    return box && box->isChecked();
}

bool CAutoMeasurementDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pDoc = GetActiveKestrelonDoc();
    int enabled = 0;
    bool needScan = false;
    if (m_pDoc)
        for (int i = 0; i < m_pDoc->images.GetSize(); ++i) {
            const CProjectImage* image = m_pDoc->images.GetAt(i);
            if (!image || !image->enabled)
                continue;
            ++enabled;
            needScan = needScan || !(image->scanned && image->oriented);
        }
    Item<QCheckBox>(1324)->setChecked(needScan);
    if (!needScan && enabled > 0)
        AppendStatus(QString::asprintf(" All %d Images already scanned and resected. No scanning needed.\r\n", enabled));
    for (int id : {1325, 1326, 1336, 1337, 1338, 1333, 1334, 1332, 1329})
        Item<QCheckBox>(id)->setChecked(true);
    if (m_pDoc)
        m_pRmsThreshold->SetValue(m_pDoc->settings.absoluteConvergenceLimit);
    m_pStop->setEnabled(false);
    m_pQuality->Initialize(1);
    m_pQuality->setCurrentIndex(0);
    double factor = 1.0;
    if (m_pDoc)
        m_pDoc->GetUnitConversionFactor(0, factor);
    m_pDistance->SetValue(5.0 * factor);
    if (m_pDoc)
        SetWindowText(GetDlgItem(1357), FromCp1252(m_pDoc->GetUnitName(true).GetText()));
    EnableDependentControls();
    return true;
}

void CAutoMeasurementDlg::EnableDependentControls()
{
    for (const Dependent& d : kDependents)
        GetDlgItem(d.id)->setEnabled(IsChecked(d.first) && (d.second == 0 || IsChecked(d.second)));
}

void CAutoMeasurementDlg::EnableAll(bool enable)
{
    for (QWidget* w : findChildren<QWidget*>())
        if (w->objectName().startsWith(QLatin1String("id")) && w != m_pStatus)
            w->setEnabled(enable);
}

// --- protocol ---------------------------------------------------------------

void CAutoMeasurementDlg::AppendStatus(const QString& text)
{
    m_strStatus += text;
    QString shown = m_strStatus;
    shown.remove(QLatin1Char('\r'));
    m_pStatus->setPlainText(shown);
    m_pStatus->verticalScrollBar()->setValue(m_pStatus->verticalScrollBar()->maximum());
}

void CAutoMeasurementDlg::ReplaceLastStatusLine(const QString& text)
{
    m_strStatus.truncate(m_strStatus.lastIndexOf(QLatin1Char('\n')) + 1);
    AppendStatus(text);
}

void CAutoMeasurementDlg::Append(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    SendHubMessage(AM_APPEND_STATUS, 0, reinterpret_cast<std::intptr_t>(bytes.constData()), AsHubTarget());
}

void CAutoMeasurementDlg::Replace(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    SendHubMessage(AM_REPLACE_LAST_LINE, 0, reinterpret_cast<std::intptr_t>(bytes.constData()), AsHubTarget());
}

void CAutoMeasurementDlg::StepLine(int step, int variant)
{
    const char* text = StepText(step, variant);
    if (variant == 0) {
        m_nStepStart.store(GetTickCount(), std::memory_order_relaxed);
        Append(QString::fromLatin1(text));
        return;
    }
    const uint32_t elapsed = GetTickCount() - m_nStepStart.load(std::memory_order_relaxed);
    QString line = QString::fromLatin1(text);
    line.chop(2);
    Append(QString::asprintf("%s (%.1f sec)\r\n", line.toLatin1().constData(), elapsed * 0.001));
}

void CAutoMeasurementDlg::PassStop(CJobProgress& progress) const
{
    // Also before a phase starts, so that a stop already asked for runs no work.
    if (StopRequested())
        progress.RequestStop();
}

void CAutoMeasurementDlg::EndStep(bool failedOtherwise)
{
    const int step = GetState();
    const bool stopped = StopRequested();
    StepLine(step, stopped ? 1 : 2);
    // The worker's last act: the dialog may join its thread once this arrives.
    PostHubMessage(stopped || failedOtherwise ? UM_STEP_FAILED : UM_STEP_DONE, 0, 0, AsHubTarget());
}

std::intptr_t CAutoMeasurementDlg::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case AM_APPEND_STATUS:
        AppendStatus(QString::fromLatin1(reinterpret_cast<const char*>(lParam)));
        return 1;
    case AM_REPLACE_LAST_LINE:
        ReplaceLastStatusLine(QString::fromLatin1(reinterpret_cast<const char*>(lParam)));
        return 1;
    case AM_SET_SCAN_IMAGE:
        if (m_pScanWindow)
            return m_pScanWindow->SetImage(reinterpret_cast<CProjectImage*>(lParam)) ? 1 : 0;
        return 1;
    case AM_START_TIMER:
        m_nTimerStep = int(wParam);
        m_dLastFraction = 0.0;
        m_nLastIteration = 0;
        m_Timer.start();
        return 1;
    case AM_KILL_TIMER:
        m_nTimerStep = 0;
        m_Timer.stop();
        return 1;
    case UM_STEP_DONE:
        if (!m_bClosing)
            OnStepDone();
        return 0;
    case UM_STEP_FAILED:
        if (!m_bClosing)
            OnStepFailed();
        return 0;
    default:
        return 0;
    }
}

void CAutoMeasurementDlg::OnTimer()
{
    switch (m_nTimerStep) {
    case FIND_POINTS:
        if (const CCorrespondenceWorker* job = m_pCorrespondenceJob.load(std::memory_order_acquire)) {
            const double fraction = CJobProgress::Ratio(job->GetProgress().GetLinked(), m_nUnassigned.load());
            if (fraction > m_dLastFraction) {
                ReplaceLastStatusLine(QString::asprintf("   %4.1f finished", fraction * 100.0));
                m_dLastFraction = fraction;
            }
        }
        break;
    case FAST_BUNDLE:
    case FINAL_BUNDLE:
        if (CBundleJob* job = m_pBundleJob.load(std::memory_order_acquire)) {
            const CAdjustmentProgress& progress = job->GetProgress();
            const int iteration = progress.iteration;
            if (iteration > m_nLastIteration && !StopRequested()) {
                m_nLastIteration = iteration;
                if (iteration > 1)
                    AppendStatus(QString::asprintf("  Residual RMS=%6.2f \r\n", double(progress.residualRmsMicrons)));
                AppendStatus(QString::asprintf("   %2d. Bundle Iteration. ", iteration));
            }
        }
        break;
    case POSTPROCESSING:
        if (const CCorrespondenceWorker* job = m_pCorrespondenceJob.load(std::memory_order_acquire))
            ReplaceLastStatusLine(QString::asprintf("   %4.1f finished", job->GetProgress().GetFraction() * 100.0));
        break;
    default:
        break;
    }
}

// --- the run ------------------------------------------------------------------

void CAutoMeasurementDlg::OnStart()
{
    if (IsRunning())
        return;
    m_nState = STARTED;
    m_bStop = false;
    CloseScanWindow();
    m_bModified = false;
    m_strStatus.clear();
    m_pStatus->clear();
    m_nRunStart = GetTickCount();
    // "Close" and the steps are disabled from the start, not only once the first step runs.
    EnableAll(false);
    m_pStop->setEnabled(true);
    setCursor(Qt::BusyCursor);
    m_pStatus->viewport()->setCursor(Qt::WaitCursor);
    PostHubMessage(UM_STEP_DONE, 0, 0, AsHubTarget());
}

void CAutoMeasurementDlg::OnStop()
{
    m_bStop.store(true, std::memory_order_release);
    m_pStop->setEnabled(false);
}

void CAutoMeasurementDlg::JoinStepThread()
{
    if (!m_pStepThread)
        return;
    // Its 0x449 or 0x448, its last act, has arrived: the join is short.
    m_pStepThread->Join();
    m_pStepThread.reset();
    if (m_pDoc) {
        m_pDoc->EndJob();
        m_pDoc->UpdateAllViews();
    }
    SendHubMessage(UM_REFRESH_IMAGES_AND_LIST);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
}

void CAutoMeasurementDlg::OnStepDone()
{
    EnableAll(false);
    m_pStop->setEnabled(!StopRequested());
    if (m_bModified.exchange(false) && m_pDoc)
        m_pDoc->SetModifiedFlag(true);
    JoinStepThread();
    bool started = false;
    switch (GetState()) {
    case STARTED:
        if (IsChecked(1324)) {
            started = StartStep(SCAN);
            break;
        }
        started = StartFirstOf({FIND_POINTS, FAST_BUNDLE, POSTPROCESSING, FINAL_BUNDLE});
        break;
    case SCAN:
        if (m_bMovedForScan) {
            move(x() + 250, y());
            m_bMovedForScan = false;
        }
        CloseScanWindow();
        started = StartFirstOf({FIND_POINTS, FAST_BUNDLE, POSTPROCESSING, FINAL_BUNDLE});
        break;
    case FIND_POINTS:
        started = StartFirstOf({FAST_BUNDLE, POSTPROCESSING, FINAL_BUNDLE});
        break;
    case FAST_BUNDLE:
        started = StartFirstOf({POSTPROCESSING, FINAL_BUNDLE});
        break;
    case POSTPROCESSING:
        started = StartFirstOf({FINAL_BUNDLE});
        break;
    default:
        break;
    }
    if (!started) {
        m_nState = IDLE;
        FinishRun();
    }
}

void CAutoMeasurementDlg::OnStepFailed()
{
    if (m_bModified.exchange(false) && m_pDoc)
        m_pDoc->SetModifiedFlag(true);
    JoinStepThread();
    if (m_bMovedForScan) {
        move(x() + 250, y());
        m_bMovedForScan = false;
    }
    CloseScanWindow();
    m_nState = IDLE;
    FinishRun();
}

void CAutoMeasurementDlg::FinishRun()
{
    QApplication::beep();
    AppendStatus(QString::asprintf("Process finished after %.1f sec.\r\n", (GetTickCount() - m_nRunStart) * 0.001));
    unsetCursor();
    m_pStatus->viewport()->unsetCursor();
    m_pStop->setEnabled(false);
    m_pStart->setEnabled(true);
    m_pClose->setEnabled(true);
    for (int id : kStepChecks)
        GetDlgItem(id)->setEnabled(true);
    EnableDependentControls();
}

bool CAutoMeasurementDlg::StartFirstOf(std::initializer_list<int> steps)
{
    for (int step : steps)
        if (IsChecked(StepCheck(step)))
            return StartStep(step);
    return false;
}

bool CAutoMeasurementDlg::StartStep(int step)
{
    if (!m_pDoc)
        return false;
    switch (step) {
    case SCAN: return StartScan();
    case FIND_POINTS: return StartFindPoints();
    case FAST_BUNDLE: return StartFastBundle();
    case POSTPROCESSING: return StartPostprocessing();
    case FINAL_BUNDLE: return StartFinalBundle();
    default: return false;
    }
}

bool CAutoMeasurementDlg::StartWorker(int state, unsigned (CAutoMeasurementDlg::*body)())
{
    m_nState = state;
    m_pStepThread = std::make_unique<CWorkerThread>();
    m_pDoc->BeginJob();
    if (m_pStepThread->Start([this, body] { return (this->*body)(); }))
        return true;
    m_pStepThread.reset();
    m_pDoc->EndJob();
    return false;
}

void CAutoMeasurementDlg::CloseScanWindow()
{
    if (!m_pScanWindow)
        return;
    if (CMDIChildWnd* frame = m_pScanWindow->GetParentFrame())
        frame->close();
    m_pScanWindow = nullptr;
}

void CAutoMeasurementDlg::RestoreCameras()
{
    if (!m_pDoc)
        return;
    for (int i = 0; i < m_SavedCameras.GetSize(); ++i) {
        const CCamera* saved = m_SavedCameras.GetAt(i);
        if (CCamera* camera = m_pDoc->cameras.FindByName(saved->identifier.GetText())) {
            for (int k = 0; k < CAM_PARAMETER_COUNT; ++k)
                camera->sigmas[k] = saved->sigmas[k];
            camera->calibrationMode = saved->calibrationMode;
        }
    }
    m_SavedCameras.RemoveAll();
}

// --- scanning -----------------------------------------------------------------

bool CAutoMeasurementDlg::StartScan()
{
    m_Images.RemoveAll();
    for (int i = 0; i < m_pDoc->images.GetSize(); ++i)
        if (CProjectImage* image = m_pDoc->images.GetAt(i); image && image->enabled)
            m_Images.Add(image);
    if (m_Images.GetSize() == 0) {
        AfxMessageBox("No Images to Scan");
        return false;
    }
    if (m_pDoc->eoDevice.GetSize() == 0 &&
        AfxMessageBox("No EO device existing. So no exterior orientation \ncan be determined automatically. "
                      "Continue anyway?",
                      MB_YESNO) != IDYES)
        return false;
    const int quality = m_pQuality->currentIndex();
    if (quality == 1 || quality == 2)
        for (int i = 0; i < m_Images.GetSize(); ++i) {
            m_Images.GetAt(i)->highQuality = quality == 1;
            m_Images.GetAt(i)->qualitySet = true;
        }
    m_Options.stopIfNotResected = IsChecked(1329);
    if (CImageView* view = OpenImageWindow(m_pDoc, m_Images.GetAt(0))) {
        m_pScanWindow = view;
        move(x() - 250, y());
        m_bMovedForScan = true;
        CMDIChildWnd* frame = view->GetParentFrame();
        CMainFrame* main = AfxGetMainFrame();
        if (frame && main && main->GetMdiArea()) {
            frame->showNormal();
            const QRect own = frameGeometry();
            const QPoint corner =
                main->GetMdiArea()->viewport()->mapFromGlobal(QPoint(own.right() + 1, own.top() - 70));
            frame->setGeometry(QRect(corner, own.size()));
            frame->raise();
        }
    }
    if (StartWorker(SCAN, &CAutoMeasurementDlg::ScanWorker))
        return true;
    if (m_bMovedForScan) {
        move(x() + 250, y());
        m_bMovedForScan = false;
    }
    CloseScanWindow();
    return false;
}

unsigned CAutoMeasurementDlg::ScanWorker()
{
    StepLine(SCAN, 0);
    const int n = m_Images.GetSize();
    const bool invert = GetCentroidSettings().invert != 0;
    for (int i = 0; i < n; ++i) {
        if (StopRequested()) {
            StepLine(SCAN, 1);
            PostHubMessage(UM_STEP_FAILED, 0, 0, AsHubTarget());
            return 0;
        }
        Append(QString::asprintf("  Scan Image %2d of %2d...", i + 1, n));
        CProjectImage* image = m_Images.GetAt(i);
        const CCamera* camera = m_pDoc->cameras.FindByName(image->GetCameraName().GetText());
        if (!camera)
            continue;
        const bool shown = SendHubMessage(AM_SET_SCAN_IMAGE, 0, reinterpret_cast<std::intptr_t>(image),
                                          AsHubTarget()) != 0;
        image->scanned = false;
        image->oriented = false;
        const char* path = image->GetFilePath().GetText();
        std::unique_ptr<CDisplayImage> picture = CreateDisplayImage(path);
        if (!shown || !picture || !picture->Load(path, 0))
            continue;
        image->targets.RemoveAll();
        CMeasurementTool tool(image, camera, picture.get(), nullptr, nullptr);
        tool.SetDocument(m_pDoc);
        std::unique_ptr<CTargetDetector> detector(m_pDoc->CreateTargetDetector(image, camera, &tool, invert));
        if (!detector || detector->Run(false) == 0)
            continue;
        image->scanned = true;
        SendHubMessage(UM_REDRAW_IMAGE, 0, reinterpret_cast<std::intptr_t>(image));
        SendHubMessage(UM_REFRESH_IMAGES);
        Append(QStringLiteral(" finished.\r\n"));
        Append(QString::asprintf(image->oriented ? "      %3d Point(s) found. Resection successful.\r\n"
                                                 : "      %3d Point(s) found. Resection FAILED!\r\n",
                                 image->targets.GetSize()));
    }
    m_bModified = true;
    StepLine(SCAN, 2);
    bool allOriented = true;
    for (int i = 0; i < n; ++i)
        allOriented = allOriented && m_Images.GetAt(i)->oriented;
    PostHubMessage(m_Options.stopIfNotResected && !allOriented ? UM_STEP_FAILED : UM_STEP_DONE, 0, 0,
                   AsHubTarget());
    return 0;
}

// --- finding corresponding points ----------------------------------------------

bool CAutoMeasurementDlg::StartFindPoints()
{
    m_Images.RemoveAll();
    for (int i = 0; i < m_pDoc->images.GetSize(); ++i)
        if (CProjectImage* image = m_pDoc->images.GetAt(i); image && image->enabled && image->oriented)
            m_Images.Add(image);
    if (m_Images.GetSize() < 3) {
        AfxMessageBox("Not enough Images for Finding Corresponding Points");
        return false;
    }
    // The set is made here, not on the worker: the tree reads the set list.
    m_Options.points = m_pDoc->GetTriangulatePointSet();
    m_Options.maximumDistance = 0.0;
    for (double& c : m_Options.referencePoint)
        c = 0.0;
    if (m_pDoc->onlyNearEODevice && m_pDoc->eoDevice.GetSize() > 0) {
        m_Options.maximumDistance = m_pDoc->eoDevice.GetExtentDiagonal() * m_pDoc->maxDistanceToEODevice;
        CObjectPoint centroid;
        if (m_pDoc->eoDevice.GetCentroid(centroid)) {
            m_Options.referencePoint[0] = centroid.x;
            m_Options.referencePoint[1] = centroid.y;
            m_Options.referencePoint[2] = centroid.z;
        }
    }
    m_Options.prefix = m_pDoc->newPointPrefix;
    return StartWorker(FIND_POINTS, &CAutoMeasurementDlg::FindPointsWorker);
}

unsigned CAutoMeasurementDlg::FindPointsWorker()
{
    StepLine(FIND_POINTS, 0);
    const double gon = CCorrespondenceJob::kRadiansPerGon;
    CPointSet* points = m_Options.points;
    auto job = std::make_unique<CCorrespondenceWorker>(
        &m_Images, &m_pDoc->cameras, points, m_pDoc->maxEpipolarAngleDiff * gon, m_pDoc->minIntersectionAngle * gon,
        m_pDoc->maxDrivebackError, true, m_pDoc->acceptTwoRayPoints != 0, m_Options.prefix, m_Options.referencePoint,
        m_Options.maximumDistance);
    const int unassigned = job->CountUnassignedObservations();
    m_nUnassigned = unassigned;
    const int before = points->GetSize();
    Append(QString::asprintf(" %4d Scaned Image Points in %2d Image(s).\r\n", unassigned, m_Images.GetSize()));
    m_pCorrespondenceJob = job.get();
    PassStop(job->GetProgress());
    std::unique_ptr<CWorkerThread> thread = job->StartFindCorrespondingPointsThread();
    Append(QString::asprintf("   %4.1f finished", 0.0));
    SendHubMessage(AM_START_TIMER, FIND_POINTS, 0, AsHubTarget());
    while (!job->GetProgress().IsDone()) {
        PassStop(job->GetProgress());
        Sleep(10);
    }
    SendHubMessage(AM_KILL_TIMER, 0, 0, AsHubTarget());
    thread.reset();
    const int linked = job->GetProgress().GetLinked();
    m_pCorrespondenceJob = nullptr;
    job.reset();
    Replace(QString::asprintf(" %4d Object Points found.\r\n", points->GetSize() - before));
    Append(QString::asprintf("  For %d Image Points no Correspondence found.\r\n", unassigned - linked));
    SendHubMessage(UM_REFRESH_POINT_SETS);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    EndStep();
    return 0;
}

// --- bundle steps ---------------------------------------------------------------

void CAutoMeasurementDlg::TakeAdjustmentImages()
{
    m_Images.RemoveAll();
    for (int i = 0; i < m_pDoc->imagePtrs.GetSize(); ++i)
        m_Images.Add(m_pDoc->imagePtrs.GetAt(i));
}

bool CAutoMeasurementDlg::CollectBundleStepImages()
{
    // The document's checks before a bundle, with their own messages.
    if (!m_pDoc->CollectBundleImages()) {
        m_pDoc->imagePtrs.RemoveAll();
        return false;
    }
    TakeAdjustmentImages();
    return true;
}

void CAutoMeasurementDlg::PrepareBundleSets()
{
    // Made here, not on the worker: the tree reads the set list.
    m_Options.points = m_pDoc->GetBundlePointSet();
    m_Options.control = m_pDoc->pointSets.GetControlSet();
    m_pDoc->settings.freeNetwork = !(m_Options.control && m_Options.control->GetSize() > 2);
    m_pDoc->settings.SetUnitLabel(m_pDoc->GetUnitName(false));
}

bool CAutoMeasurementDlg::StartFastBundle()
{
    if (!CollectBundleStepImages())
        return false;
    if (IsChecked(1336)) {
        // Every camera must exist before any is changed.
        for (int i = 0; i < m_Images.GetSize(); ++i)
            if (!m_pDoc->cameras.FindByName(m_Images.GetAt(i)->GetCameraName().GetText()))
                return false;
        m_SavedCameras.RemoveAll();
        for (int i = 0; i < m_Images.GetSize(); ++i) {
            CCamera* camera = m_pDoc->cameras.FindByName(m_Images.GetAt(i)->GetCameraName().GetText());
            if (!m_SavedCameras.FindByName(camera->identifier.GetText())) {
                m_SavedCameras.AddCopy(*camera);
                camera->SetCalibrationMode(4);
            }
        }
    }
    if (IsChecked(1337)) {
        m_pDoc->settings.absoluteConvergence = true;
        m_pDoc->settings.absoluteConvergenceLimit = m_pRmsThreshold->GetValue();
    }
    PrepareBundleSets();
    if (StartWorker(FAST_BUNDLE, &CAutoMeasurementDlg::BundleWorker))
        return true;
    RestoreCameras();
    m_pDoc->settings.absoluteConvergence = false;
    return false;
}

bool CAutoMeasurementDlg::StartFinalBundle()
{
    if (!CollectBundleStepImages())
        return false;
    m_SavedCameras.RemoveAll();
    m_pDoc->settings.absoluteConvergence = false;
    PrepareBundleSets();
    return StartWorker(FINAL_BUNDLE, &CAutoMeasurementDlg::BundleWorker);
}

unsigned CAutoMeasurementDlg::BundleWorker()
{
    const int step = GetState();
    StepLine(step, 0);
    CPointSet* points = m_Options.points;
    auto job = std::make_unique<CBundleJob>(&m_Images, points, m_Options.control, &m_pDoc->cameras,
                                            &m_pDoc->scaleBars, &m_pDoc->settings, &m_pDoc->summary);
    job->GetProgress().Reset();
    m_pBundleJob = job.get();
    SendHubMessage(AM_START_TIMER, step, 0, AsHubTarget());
    if (StopRequested())
        job->GetProgress().RequestAbort();
    if (job->StartThread())
        while (!job->GetProgress().IsDone()) {
            if (StopRequested())
                job->GetProgress().RequestAbort();
            Sleep(10);
        }
    SendHubMessage(AM_KILL_TIMER, 0, 0, AsHubTarget());
    job->Join();
    // Read after the timer was killed on the user-interface thread.
    if (m_nLastIteration > 0)
        Append(QString::asprintf("  Residual RMS=%6.2f \r\n", double(job->GetProgress().residualRmsMicrons)));
    m_pBundleJob = nullptr;
    job.reset();
    RestoreCameras();
    m_pDoc->settings.absoluteConvergence = false;
    for (int i = points->GetSize() - 1; i >= 0; --i)
        if (points->GetAt(i)->rayCount < m_pDoc->settings.minimumRays)
            points->RemoveAt(i, 1);
    points->Save(12, 13, 7);
    m_bModified = true;
    if (!points->isDriver)
        m_pDoc->ToggleDriverSet(ResultSets::kBundle);
    SendHubMessage(UM_REFRESH_POINT_SETS);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    EndStep();
    return 0;
}

// --- postprocessing -------------------------------------------------------------

bool CAutoMeasurementDlg::StartPostprocessing()
{
    CPointSet* bundle = m_pDoc->FindPointSet(ResultSets::kBundle);
    if (!bundle) {
        AfxMessageBox("Run Bundle First!");
        return false;
    }
    if (bundle->GetSize() == 0) {
        AfxMessageBox("No Points in Bundle Array.");
        return false;
    }
    const int n = m_pDoc->imagePtrs.GetSize();
    if (n == 0 || bundle->GetAt(0)->observationIndex.GetSize() != n) {
        AfxMessageBox("Run Bundle First!");
        return false;
    }
    TakeAdjustmentImages();
    m_Options.points = bundle;
    m_Options.prefix = m_pDoc->newPointPrefix;
    m_Options.mergeDistance = m_pDistance->GetValue();
    m_Options.merge = IsChecked(1333);
    m_Options.removeTwoRay = IsChecked(1334);
    return StartWorker(POSTPROCESSING, &CAutoMeasurementDlg::PostprocessingWorker);
}

unsigned CAutoMeasurementDlg::PostprocessingWorker()
{
    StepLine(POSTPROCESSING, 0);
    auto job = std::make_unique<CCorrespondenceWorker>(&m_Images, &m_pDoc->cameras, m_Options.points,
                                                       m_Options.prefix, m_Options.mergeDistance);
    auto runPhase = [&](std::unique_ptr<CWorkerThread> thread, const char* title) {
        Append(QString::fromLatin1(title));
        Append(QString::asprintf("   %4.1f finished", 0.0));
        SendHubMessage(AM_START_TIMER, POSTPROCESSING, 0, AsHubTarget());
        while (!job->GetProgress().IsDone()) {
            PassStop(job->GetProgress());
            Sleep(10);
        }
        SendHubMessage(AM_KILL_TIMER, 0, 0, AsHubTarget());
        thread.reset();
    };
    m_pCorrespondenceJob = job.get();
    bool unsorted = false;
    if (m_Options.merge) {
        // A two-ray removal that follows still reads the bundle's indices and sorts every list.
        const bool sortLists = !m_Options.removeTwoRay;
        PassStop(job->GetProgress());
        runPhase(job->StartMergePointsThread(sortLists), "   Merging Points....\r\n");
        Replace(QString::asprintf("   %4d Points merged.\r\n", job->GetProgress().GetMerged()));
        SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
        unsorted = !sortLists;
    }
    if (!StopRequested() && m_Options.removeTwoRay) {
        runPhase(job->StartRemoveTwoRayPointsThread(), "   Remove Two Ray Points....\r\n");
        Replace(QString::asprintf("   %4d Points removed.\r\n", job->GetProgress().GetRemoved()));
        SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
        unsorted = false;
    }
    // A stop between the phases leaves the merged lists to be sorted here.
    if (unsorted)
        for (int i = 0; i < m_Images.GetSize(); ++i)
            m_Images.GetAt(i)->targets.SortByLabel();
    m_pCorrespondenceJob = nullptr;
    job.reset();
    m_bModified = true;
    EndStep();
    return 0;
}

// --- buttons ----------------------------------------------------------------------

void CAutoMeasurementDlg::OnScanPreferences()
{
    if (m_pDoc && !IsRunning())
        m_pDoc->RunPreferences(5);
}

void CAutoMeasurementDlg::OnFindPointsPreferences()
{
    if (m_pDoc && !IsRunning())
        m_pDoc->RunPreferences(6);
}

void CAutoMeasurementDlg::OnAdjustmentControls()
{
    if (!m_pDoc || IsRunning())
        return;
    const double sigma = m_pDoc->settings.defaultImageSigma;
    CAdjustmentControlsDlg dialog(this);
    dialog.DoModal();
    if (m_pDoc->settings.defaultImageSigma != sigma)
        m_pDoc->images.SetObservationSigmas(m_pDoc->settings.defaultImageSigma);
}

void CAutoMeasurementDlg::OnCancel()
{
    // The step's worker uses the dialog until its last message.
    if (IsRunning() || m_pStepThread)
        return;
    CDialog::OnCancel();
}
