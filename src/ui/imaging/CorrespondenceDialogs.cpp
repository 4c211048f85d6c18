#include "CorrespondenceDialogs.h"

#include "Clock.h"
#include "Controls.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "MessageHub.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

QPushButton* NewButton(int id, const char* text)
{
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(IdName(id));
    button->setAutoDefault(false);
    return button;
}

QLineEdit* NewEdit(int id, bool readOnly = false)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(id));
    edit->setReadOnly(readOnly);
    return edit;
}

QLabel* NewStatic(int id, const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text));
    if (id)
        label->setObjectName(IdName(id));
    return label;
}

QCheckBox* NewCheck(int id, const char* text)
{
    auto* box = new QCheckBox(QString::fromLatin1(text));
    box->setObjectName(IdName(id));
    return box;
}

// Rows of a list in ascending order.
std::vector<int> SelectedRowsOf(const QTableView* list)
{
    std::set<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    return {rows.begin(), rows.end()};
}

} // namespace

bool IsNewPointLabel(const CNameBuffer& label, const CNameBuffer& prefix)
{
    const std::string text = label.GetText();
    const std::string start = prefix.GetText();
    if (start.empty() || text.size() <= start.size() || text.compare(0, start.size(), start) != 0)
        return false;
    for (size_t i = start.size(); i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// --- Computation Progress ---------------------------------------------------

CComputationProgressDlg::CComputationProgressDlg(CImagePtrArray* images, CCameraList* cameras, CPointSet* points,
                                                 double epipolarTolerance, double minimumAngle,
                                                 double driveBackTolerance, bool driveBack, bool acceptTwoRay,
                                                 const CNameBuffer& prefix, const double referencePoint[3],
                                                 double maximumDistance, bool startWithBackProjection,
                                                 CMessageTarget* owner)
    : CDialog(293, nullptr),
      m_ReferencePoint{referencePoint[0], referencePoint[1], referencePoint[2]},
      m_bStartWithBackProjection(startWithBackProjection),
      m_Worker(images, cameras, points, epipolarTolerance, minimumAngle, driveBackTolerance, driveBack,
               acceptTwoRay, prefix, m_ReferencePoint, maximumDistance),
      m_pPoints(points),
      m_pOwner(owner)
{
    setWindowTitle(QStringLiteral("Computation Progress"));
    m_Timer.setInterval(100);
    QObject::connect(&m_Timer, &QTimer::timeout, this, [this] { OnTimer(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(NewEdit(1359, true));
    auto* status = new QGroupBox(QStringLiteral("Status"));
    auto* inner = new QVBoxLayout(status);
    inner->addWidget(NewEdit(1340, true));
    layout->addWidget(status);
    m_pBar = new QProgressBar;
    m_pBar->setObjectName(IdName(1360));
    layout->addWidget(m_pBar);
}

CComputationProgressDlg::~CComputationProgressDlg()
{
    m_Timer.stop();
    if (m_RunThread.IsActive()) {
        // The run may be sending to this dialog: events are served until it ends.
        RequestStop();
        WaitForWorker(m_RunThread);
    }
    m_RunThread.Join();
}

bool CComputationProgressDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pBar->setRange(0, 100);
    m_nTimerId = 100;
    m_nBackProjected = 0;
    m_nNewPoints = 0;
    return true;
}

bool CComputationProgressDlg::Run()
{
    OnInitDialog();
    show();
    m_Timer.start();
    m_pProgress.store(&m_Worker.GetProgress(), std::memory_order_release);
    if (m_RunThread.Start([this] { return RunThreadProc(); }))
        return true;
    m_pProgress.store(nullptr, std::memory_order_release);
    PostHubMessage(UM_STEP_DONE, 0, 0, m_pOwner ? m_pOwner->AsHubTarget() : nullptr);
    return false;
}

void CComputationProgressDlg::ShowPhase(const char* text)
{
    SendHubMessage(PM_SET_THREAD_TEXT, 0, reinterpret_cast<std::intptr_t>(text), AsHubTarget());
    SendHubMessage(PM_SET_PROGRESS, 0, 0, AsHubTarget());
}

void CComputationProgressDlg::RunPhase(std::unique_ptr<CWorkerThread> thread)
{
    CJobProgress& progress = m_Worker.GetProgress();
    if (!thread)
        return;
    while (!progress.IsDone()) {
        if (m_bStop.load(std::memory_order_acquire))
            progress.RequestStop();
        Sleep(10);
    }
    thread->Join();
}

unsigned CComputationProgressDlg::RunThreadProc()
{
    CJobProgress& progress = m_Worker.GetProgress();
    if (m_bStartWithBackProjection) {
        progress.Reset();
        ShowPhase("Back-projection");
        RunPhase(m_Worker.StartBackProjectionThread());
    }
    m_nBackProjected.store(progress.GetBackProjected(), std::memory_order_release);
    const int before = m_pPoints ? m_pPoints->GetSize() : 0;
    if (!m_bStop.load(std::memory_order_acquire)) {
        progress.Reset();
        ShowPhase("Find corresponding points");
        RunPhase(m_Worker.StartFindCorrespondingPointsThread());
    }
    m_pProgress.store(nullptr, std::memory_order_release);
    m_nNewPoints.store((m_pPoints ? m_pPoints->GetSize() : 0) - before, std::memory_order_release);
    // The run's last act: the owner may join the thread once this arrives.
    PostHubMessage(UM_STEP_DONE, 0, 0, m_pOwner ? m_pOwner->AsHubTarget() : nullptr);
    return 0;
}

std::intptr_t CComputationProgressDlg::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case PM_SET_THREAD_TEXT:
        SetWindowText(GetDlgItem(1359), QString::fromLatin1(reinterpret_cast<const char*>(lParam)));
        update();
        return 1;
    case PM_SET_PROGRESS:
        m_pBar->setValue(int(wParam));
        update();
        return 1;
    default:
        return 0;
    }
}

void CComputationProgressDlg::OnTimer()
{
    const CJobProgress* progress = m_pProgress.load(std::memory_order_acquire);
    if (progress) {
        QString text;
        switch (progress->GetState()) {
        case CJobProgress::kLinking:
            text = QString::asprintf("%5d Observation linked", progress->GetLinked());
            break;
        case CJobProgress::kBackProjecting:
            text = QString::asprintf("%5d Points back-projected", progress->GetBackProjected());
            break;
        case CJobProgress::kSorting:
            text = QStringLiteral("Sorting Observations");
            break;
        default:
            break;
        }
        m_pBar->setValue(int(progress->GetFraction() * 100.0));
        SetWindowText(GetDlgItem(1340), text);
        update();
        return;
    }
    m_Timer.stop();
    m_nTimerId = 0;
}

// --- Find corresponding Points ----------------------------------------------

CFindCorrespondingPointsDlg::CFindCorrespondingPointsDlg(const CImagePtrArray& images, CCameraList* cameras,
                                                         CPointSet* points, QWidget* parent)
    : CDialog(267, parent), m_pCameras(cameras), m_pPoints(points)
{
    for (int i = 0; i < images.GetSize(); ++i)
        m_ImagesForCalculation.Add(images.GetAt(i));
    setWindowTitle(QStringLiteral("Find corresponding Points"));

    m_pUnusedList = new CImageSelectListCtrl;
    m_pUnusedList->setObjectName(IdName(1295));
    m_pCalculationList = new CImageSelectListCtrl;
    m_pCalculationList->setObjectName(IdName(1296));
    for (CImageSelectListCtrl* list : {m_pUnusedList, m_pCalculationList}) {
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    auto* toCalculation = NewButton(1297, "<");
    auto* toUnused = NewButton(1298, ">");
    QObject::connect(toCalculation, &QPushButton::clicked, this, [this] { OnMoveToCalculation(); });
    QObject::connect(toUnused, &QPushButton::clicked, this, [this] { OnMoveToUnused(); });

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Images for Calculation")), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("Non Used Images")), 0, 2);
    lists->addWidget(m_pCalculationList, 1, 0);
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    moves->addWidget(toCalculation);
    moves->addWidget(toUnused);
    moves->addStretch();
    lists->addLayout(moves, 1, 1);
    lists->addWidget(m_pUnusedList, 1, 2);

    auto* values = new QGridLayout;
    const struct {
        const char* text;
        int id;
        const char* unit;
    } rows[] = {{"Max. epipolar angle diff.", 1300, "[grad]"},
                {"Max. error for back projection", 1305, "[pixel]"},
                {"Min. point intersection angle", 1309, "[grad]"},
                {"Prefix of new points", 1358, ""}};
    int row = 0;
    for (const auto& r : rows) {
        values->addWidget(NewStatic(0, r.text), row, 0);
        values->addWidget(NewEdit(r.id), row, 1);
        values->addWidget(NewStatic(0, r.unit), row++, 2);
    }
    values->addWidget(NewStatic(1307, "Max 3D dist. from EOdevice"), row, 0);
    auto* distance = NewEdit(1306);
    values->addWidget(distance, row, 1);
    values->addWidget(NewStatic(1308, "(in EOdevice sizes)"), row++, 2);
    QObject::connect(distance, &QLineEdit::editingFinished, this, [this] { OnDistanceKillFocus(); });
    values->addWidget(NewCheck(1301, "Back projection"), row++, 0, 1, 3);
    values->addWidget(NewCheck(1304, "Start with back projection"), row++, 0, 1, 3);
    values->addWidget(NewCheck(1302, "Accept 2 image points"), row++, 0, 1, 3);

    m_pStart = NewButton(1, "Start Matching");
    m_pStart->setDefault(true);
    auto* remove = NewButton(1303, "Remove Found Points");
    auto* close = NewButton(2, "Close");
    QObject::connect(m_pStart, &QPushButton::clicked, this, [this] { OnStartMatching(); });
    QObject::connect(remove, &QPushButton::clicked, this, [this] { OnRemoveFoundPoints(); });
    QObject::connect(close, &QPushButton::clicked, this, [this] { OnCancel(); });
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_pStart, remove, close})
        buttons->addWidget(b);
    buttons->addStretch();

    auto* left = new QVBoxLayout;
    left->addLayout(lists);
    left->addLayout(values);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(buttons);
}

CFindCorrespondingPointsDlg::~CFindCorrespondingPointsDlg()
{
    if (m_pProgress) {
        m_pProgress->RequestStop();
        m_pProgress.reset();
        if (m_pDoc)
            m_pDoc->EndJob();
    }
}

void CFindCorrespondingPointsDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1300, m_dEpipolarDifference);
    DDX_Check(dx, 1301, m_bBackProjection);
    DDX_Check(dx, 1302, m_bAcceptTwoImagePoints);
    DDX_Text(dx, 1305, m_dBackProjectionError);
    DDX_Check(dx, 1304, m_bStartWithBackProjection);
    DDX_Text(dx, 1309, m_dMinIntersectionAngle);
    DDX_Text(dx, 1358, m_strPrefix);
}

bool CFindCorrespondingPointsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_pDoc = GetActiveKestrelonDoc();
    m_pCalculationList->SetImages(&m_ImagesForCalculation);
    m_pCalculationList->Fill();
    m_pUnusedList->SetImages(&m_ImagesLeftOut);
    m_pUnusedList->Fill();
    if (m_pDoc) {
        m_dEpipolarDifference = m_pDoc->maxEpipolarAngleDiff;
        m_dBackProjectionError = m_pDoc->maxDrivebackError;
        m_strPrefix = FromCp1252(m_pDoc->newPointPrefix.GetText());
        m_dMinIntersectionAngle = m_pDoc->minIntersectionAngle;
    }
    m_bBackProjection = 1;
    m_bAcceptTwoImagePoints = 0;
    m_bStartWithBackProjection = 1;
    if (!m_pDoc || m_pDoc->eoDevice.GetSize() == 0) {
        for (int id : {1306, 1307, 1308})
            GetDlgItem(id)->setEnabled(false);
    } else {
        SetWindowText(GetDlgItem(1306), QStringLiteral("20.0"));
    }
    if (m_ImagesForCalculation.GetSize() < 3) {
        m_bAcceptTwoImagePoints = 1;
        GetDlgItem(1302)->setEnabled(false);
    }
    UpdateData(false);
    m_bRunning = false;
    return true;
}

void CFindCorrespondingPointsDlg::OnMoveToCalculation()
{
    if (m_bRunning)
        return;
    const std::vector<int> rows = SelectedRowsOf(m_pUnusedList);
    for (int row : rows)
        m_pCalculationList->AddImage(m_ImagesLeftOut.GetAt(row));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        m_pUnusedList->RemoveImage(*it);
}

void CFindCorrespondingPointsDlg::OnMoveToUnused()
{
    if (m_bRunning)
        return;
    const std::vector<int> rows = SelectedRowsOf(m_pCalculationList);
    for (int row : rows)
        m_pUnusedList->AddImage(m_ImagesForCalculation.GetAt(row));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        m_pCalculationList->RemoveImage(*it);
}

void CFindCorrespondingPointsDlg::EnableForRun(bool running)
{
    // The run's workers read the image lists: they stay as they are.
    for (int id : {1303, 2, 1297, 1298})
        GetDlgItem(id)->setEnabled(!running);
    m_pStart->setText(running ? QStringLiteral("Stop Thread") : QStringLiteral("Start Matching"));
    m_pStart->setEnabled(true);
}

void CFindCorrespondingPointsDlg::OnStartMatching()
{
    if (m_bRunning) {
        m_bRunning = false;
        m_pStart->setText(QStringLiteral("Start Matching"));
        m_pStart->setEnabled(false);
        if (m_pProgress)
            m_pProgress->RequestStop();
        return;
    }
    if (m_pProgress || !UpdateData(true))
        return;
    if (m_ImagesForCalculation.GetSize() < 2) {
        AfxMessageBox("Not enough images for calculation");
        return;
    }
    CNameBuffer prefix;
    if (!prefix.Set(ToCp1252(m_strPrefix).c_str()) || std::string(prefix.GetText()).empty()) {
        const std::string text = "Invalid point label " + ToCp1252(m_strPrefix);
        AfxMessageBox(text.c_str());
        return;
    }
    m_RunPrefix = prefix;
    EnableForRun(true);
    double reference[3] = {0.0, 0.0, 0.0};
    double distance = 0.0;
    if (m_pDoc && m_pDoc->eoDevice.GetSize() > 0) {
        CObjectPoint centroid;
        if (m_pDoc->eoDevice.GetCentroid(centroid)) {
            reference[0] = centroid.x;
            reference[1] = centroid.y;
            reference[2] = centroid.z;
        }
        const std::string text = ToCp1252(GetWindowText(GetDlgItem(1306)).left(20));
        distance = std::strtod(text.c_str(), nullptr) * m_pDoc->eoDevice.GetExtentDiagonal();
    }
    const double gon = CCorrespondenceJob::kRadiansPerGon;
    m_pProgress = std::make_unique<CComputationProgressDlg>(
        &m_ImagesForCalculation, m_pCameras, m_pPoints, m_dEpipolarDifference * gon, m_dMinIntersectionAngle * gon,
        m_dBackProjectionError, m_bBackProjection != 0, m_bAcceptTwoImagePoints != 0, prefix, reference, distance,
        m_bStartWithBackProjection != 0, this);
    if (m_pDoc)
        m_pDoc->BeginJob();
    m_bRunning = true;
    m_pProgress->Run();
}

std::intptr_t CFindCorrespondingPointsDlg::OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    if (message == UM_STEP_DONE)
        OnMatchingDone();
    return 0;
}

void CFindCorrespondingPointsDlg::OnMatchingDone()
{
    if (!m_pProgress)
        return;
    m_bRunning = false;
    m_strResult = QString::asprintf("%d point(s) backprojected.\n%d new point(s) found.",
                                    m_pProgress->GetBackProjectedCount(), m_pProgress->GetNewPointCount());
    // 0x449 was the run thread's last act: the dialog joins it as it goes.
    m_pProgress.reset();
    if (m_pDoc)
        m_pDoc->EndJob();
    AfxMessageBox(ToCp1252(m_strResult).c_str());
    EnableForRun(false);
    SendHubMessage(UM_REFRESH_POINT_SETS);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    if (m_pDoc) {
        m_pDoc->SetModifiedFlag(true);
        m_pDoc->UpdateAllViews();
    }
}

void CFindCorrespondingPointsDlg::OnRemoveFoundPoints()
{
    if (m_bRunning || !UpdateData(true))
        return;
    // The points of this dialog's last run; before any run, those of the
    // prefix in the box.
    CNameBuffer prefix = m_RunPrefix;
    if (prefix.GetText()[0] == '\0' && !prefix.Set(ToCp1252(m_strPrefix).c_str()))
        return;
    for (int i = 0; i < m_ImagesForCalculation.GetSize(); ++i) {
        CProjectImage* image = m_ImagesForCalculation.GetAt(i);
        if (!image)
            continue;
        // Unassigned again: "-1", "-2", ... whatever the old label's letters.
        int number = -1;
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            CImageObservation* o = image->targets.GetAt(k);
            if (o && (IsNewPointLabel(o->label, prefix) || CCorrespondenceJob::IsUnassigned(*o)))
                o->label = CNameBuffer(std::to_string(number--).c_str());
        }
        image->targets.SortByLabel();
    }
    if (m_pPoints)
        for (int i = m_pPoints->GetSize() - 1; i >= 0; --i)
            if (IsNewPointLabel(m_pPoints->GetAt(i)->label, prefix))
                m_pPoints->RemoveAt(i, 1);
    SendHubMessage(UM_REFRESH_POINT_SETS);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    if (m_pDoc)
        m_pDoc->SetModifiedFlag(true);
}

void CFindCorrespondingPointsDlg::OnDistanceKillFocus()
{
    const std::string text = ToCp1252(GetWindowText(GetDlgItem(1306)).left(20));
    float value = 0.0f;
    if (std::sscanf(text.c_str(), "%f", &value) != 1)
        value = 0.0f;
    SetWindowText(GetDlgItem(1306), QString::asprintf("%-2.2f", double(value)));
}

void CFindCorrespondingPointsDlg::OnCancel()
{
    // The run's workers use the dialog's lists until it reports its end.
    if (m_bRunning || m_pProgress)
        return;
    CDialog::OnCancel();
}
