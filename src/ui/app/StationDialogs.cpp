#include "StationDialogs.h"

#include "Camera.h"
#include "Frames.h"
#include "Hooks.h"
#include "Hub.h"
#include "MainFrame.h"
#include "Message.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "StationOpenGL.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 4.0 * std::atan(1.0);
const double kToDegrees = 180.0 / kPi;
const double kToRadians = kPi * 0.005555555555555556;

constexpr int kFieldIds[6] = {1041, 1042, 1043, 1044, 1045, 1046};
constexpr double kMaxViewAspect = 3.0; // width to height of the station view, either way
constexpr int kSigmaIds[6] = {1109, 1141, 1142, 1143, 1144, 1145};
const char* const kRowNames[6] = {"X", "Y", "Z", "Azimuth", "Elevation", "Roll"};

QLineEdit* NewEdit(int id)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(id));
    return edit;
}

QPushButton* NewButton(int id, const char* text)
{
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(IdName(id));
    button->setAutoDefault(false);
    return button;
}

// The "Station Id" row shared by both dialogs.
void AddStationIdRow(QGridLayout* grid, int row)
{
    grid->addWidget(new QLabel(QStringLiteral("Station Id")), row, 0);
    auto* id = NewEdit(1691);
    grid->addWidget(id, row, 1);
}

} // namespace

// ---------------------------------------------------------------------------
// CEditCameraStationDlg

CEditCameraStationDlg::CEditCameraStationDlg(CProjectImage* image, QWidget* parent, CProjectDocument* doc)
    : CDialog(IDD, parent), m_pImage(image), m_pDoc(doc ? doc : GetActiveProjectDoc()),
      m_ViewButton(NewButton(ID_SHOW_VIEW, "Show View >>"))
{
    setWindowTitle(QStringLiteral("EDIT CAMERA STATION"));
    if (m_pImage) {
        m_workingStation.X = m_pImage->X;
        m_workingStation.Y = m_pImage->Y;
        m_workingStation.Z = m_pImage->Z;
        m_workingStation.rotation = m_pImage->rotation;
        m_strStationId = FromCp1252(m_pImage->name.GetText());
        m_dX = m_pImage->X;
        m_dY = m_pImage->Y;
        m_dZ = m_pImage->Z;
        m_dAzimuth = m_pImage->GetAzimuth() * kToDegrees;
        m_dElevation = m_pImage->GetElevation() * kToDegrees;
        m_dRoll = m_pImage->GetRoll() * kToDegrees;
        for (int i = 0; i < 6; ++i)
            m_dSigma[i] = m_pImage->aprioriSigma[i];
        m_bAcceptResected = m_pImage->oriented ? 1 : 0;
        if (m_pDoc) {
            m_pCamera = m_pDoc->cameras.FindByName(m_pImage->cameraName.GetText());
            m_pDriverSet = m_pDoc->pointSets.GetDriverSet();
        }
    }

    // The fields on a panel of their own; the station window lies beside it.
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    AddStationIdRow(grid, 0);
    grid->addWidget(new QLabel(QStringLiteral("Current Value")), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sigma")), 1, 2);
    for (int i = 0; i < 6; ++i) {
        grid->addWidget(new QLabel(QString::fromLatin1(kRowNames[i])), i + 2, 0);
        QLineEdit* field = NewEdit(kFieldIds[i]);
        grid->addWidget(field, i + 2, 1);
        grid->addWidget(NewEdit(kSigmaIds[i]), i + 2, 2);
    }
    auto* accept = new QCheckBox(QStringLiteral("Accept as Resected"));
    accept->setObjectName(IdName(1288));
    grid->addWidget(accept, 8, 1, 1, 2);
    auto* ok = NewButton(1, "OK");
    ok->setDefault(true);
    auto* cancel = NewButton(2, "Cancel");
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_ViewButton, &QPushButton::clicked, this, [this] { OnShowView(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(m_ViewButton);
    grid->setRowStretch(9, 1);
    grid->addLayout(buttons, 10, 0, 1, 3);
    const QSize size = panel->sizeHint().expandedTo(QSize(380, 330));
    panel->setGeometry(0, 0, size.width(), size.height());
    resize(size);
}

CEditCameraStationDlg::~CEditCameraStationDlg()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool CEditCameraStationDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nCollapsedWidth = width();
    m_nCollapsedHeight = height();
    const double sensorWidth = m_pCamera ? 2.0 * m_pCamera->GetHalfSensorWidth() : 0.0;
    const double sensorHeight = m_pCamera ? 2.0 * m_pCamera->GetHalfSensorHeight() : 0.0;
    m_nViewHeight = m_nCollapsedHeight - 60;
    // The view has the sensor's shape within 3:1 either way: a pixel count or
    // size typed wrong must not make it wider than a screen, or overflow.
    const double viewWidth = sensorHeight > 0.0 ? m_nViewHeight / sensorHeight * sensorWidth : 0.0;
    m_nViewWidth = std::isfinite(viewWidth) && viewWidth > 0.0
                       ? int(std::clamp(viewWidth, m_nViewHeight / kMaxViewAspect, m_nViewHeight * kMaxViewAspect))
                       : 0;
    m_nExpandedWidth = m_nViewWidth + m_nCollapsedWidth + 30;
    m_nExpandedHeight = m_nCollapsedHeight;
    // Like a dialog template: the user does not size it.
    setFixedSize(m_nCollapsedWidth, m_nCollapsedHeight);
    // Without the camera's sensor and principal distance there is no view:
    // the dialog edits the numbers alone.
    const bool viewable = m_pCamera && m_nViewWidth > 0 && m_pCamera->parameters[CAM_C] > 0.0;
    if (viewable && !m_pStationWnd) {
        m_pStationWnd = new CStationOpenGL(this);
        m_pStationWnd->setObjectName(QStringLiteral("id1"));
        m_pStationWnd->setGeometry(m_nCollapsedWidth + 10, 10, m_nViewWidth, m_nCollapsedHeight - 60);
        m_pStationWnd->SetScene(&m_workingStation, m_pCamera, m_pDriverSet);
        m_pStationWnd->SetChangedHandler([this] { RefreshFields(); });
        m_pStationWnd->show();
    }
    m_ViewButton->setEnabled(m_pStationWnd != nullptr);
    qApp->installEventFilter(this);
    return true;
}

void CEditCameraStationDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1691, m_strStationId);
    DDX_Text(dx, 1041, m_dX);
    DDX_Text(dx, 1042, m_dY);
    DDX_Text(dx, 1043, m_dZ);
    DDX_Text(dx, 1044, m_dAzimuth);
    DDX_Text(dx, 1045, m_dElevation);
    DDX_Text(dx, 1046, m_dRoll);
    for (int i = 0; i < 6; ++i)
        DDX_Text(dx, kSigmaIds[i], m_dSigma[i]);
    DDX_Check(dx, 1288, m_bAcceptResected);
}

void CEditCameraStationDlg::WorkingStationFromFields()
{
    m_workingStation.X = m_dX;
    m_workingStation.Y = m_dY;
    m_workingStation.Z = m_dZ;
    m_workingStation.SetRotation(m_dAzimuth * kToRadians, m_dElevation * kToRadians, m_dRoll * kToRadians);
}

void CEditCameraStationDlg::OnFieldKillFocus()
{
    // A failed exchange moves the focus back to its field: no second round.
    if (m_bExchanging)
        return;
    m_bExchanging = true;
    const bool ok = UpdateData(true);
    m_bExchanging = false;
    if (!ok)
        return;
    WorkingStationFromFields();
    if (m_nViewShown && m_pStationWnd)
        m_pStationWnd->OnPaint();
}

void CEditCameraStationDlg::RefreshFields()
{
    m_dX = m_workingStation.X;
    m_dY = m_workingStation.Y;
    m_dZ = m_workingStation.Z;
    m_dAzimuth = m_workingStation.GetAzimuth() * kToDegrees;
    m_dElevation = m_workingStation.GetElevation() * kToDegrees;
    m_dRoll = m_workingStation.GetRoll() * kToDegrees;
    UpdateData(false);
}

void CEditCameraStationDlg::OnShowView()
{
    if (!m_pStationWnd)
        return;
    if (m_nViewShown) {
        m_ViewButton->setText(QStringLiteral("Show View >>"));
        setFixedSize(m_nCollapsedWidth, m_nCollapsedHeight);
        m_nViewShown = 0;
        return;
    }
    if (isVisible()) {
        // A window whose OpenGL cannot be set up is dropped: the numbers stay editable.
        m_pStationWnd->grabFramebuffer();
        if (!m_pStationWnd->isValid()) {
            delete m_pStationWnd;
            m_pStationWnd = nullptr;
            m_ViewButton->setEnabled(false);
            return;
        }
    }
    m_ViewButton->setText(QStringLiteral("<< Hide View"));
    if (!m_bExpandedOnce) {
        // Centred on the main window, at the dialog's height.
        if (CMainFrame* main = AfxGetMainFrame()) {
            const QRect frame = main->frameGeometry();
            move(frame.left() + (frame.width() - m_nExpandedWidth) / 2, pos().y());
        }
        m_bExpandedOnce = true;
    }
    setFixedSize(m_nExpandedWidth, m_nExpandedHeight);
    m_nViewShown = 1;
}

bool CEditCameraStationDlg::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::KeyPress && widget && (widget == this || isAncestorOf(widget))) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && m_nViewShown && m_pStationWnd) {
            m_pStationWnd->OnChar(key == Qt::Key_Up ? CStationOpenGL::VK_UP_CODE : CStationOpenGL::VK_DOWN_CODE);
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut && widget && isAncestorOf(widget)) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // Only a move to another control of the dialog; not when a message
        // box or another window takes the focus.
        const bool field = std::find(std::begin(kFieldIds), std::end(kFieldIds), widget->objectName().mid(2).toInt()) !=
                           std::end(kFieldIds);
        if (field && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OnFieldKillFocus();
    }
    return CDialog::eventFilter(watched, event);
}

void CEditCameraStationDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    if (m_pImage) {
        m_pImage->SetPosition(m_dX, m_dY, m_dZ);
        m_pImage->SetRotation(m_dAzimuth * kToRadians, m_dElevation * kToRadians, m_dRoll * kToRadians);
        for (int i = 0; i < 6; ++i)
            m_pImage->aprioriSigma[i] = m_dSigma[i];
        const bool allZero = m_dX == 0.0 && m_dY == 0.0 && m_dZ == 0.0 && m_dAzimuth == 0.0 && m_dElevation == 0.0 &&
                             m_dRoll == 0.0;
        if (allZero && m_bAcceptResected)
            m_pImage->oriented = AfxMessageBox("All values 0!!! Set As Resected???", MB_YESNO) == IDYES;
        else
            m_pImage->oriented = m_bAcceptResected != 0;
    }
    if (m_pDoc)
        m_pDoc->SetModifiedFlag(true);
    // The image's icon and the right pane's list show the new station.
    SendHubMessage(UM_REFRESH_IMAGES_AND_LIST);
    SendHubMessage(UM_RECREATE_GL_CONTEXT);
    EndDialog(IDOK);
}

void CEditCameraStationDlg::OnCancel()
{
    SendHubMessage(UM_RECREATE_GL_CONTEXT);
    EndDialog(IDCANCEL);
}

// ---------------------------------------------------------------------------
// CResectStationDlg

CResectStationDlg::CResectStationDlg(CProjectImage* image, QWidget* parent, CProjectDocument* doc)
    : CDialog(IDD, parent), m_pImage(image), m_pDoc(doc ? doc : GetActiveProjectDoc())
{
    setWindowTitle(QStringLiteral("Resect Camera Station"));
    if (m_pImage) {
        m_strStationId = FromCp1252(m_pImage->name.GetText());
        m_dX = m_pImage->X;
        m_dY = m_pImage->Y;
        m_dZ = m_pImage->Z;
    }
    auto* grid = new QGridLayout(this);
    AddStationIdRow(grid, 0);
    auto* group = new QGroupBox(QStringLiteral("Initial X,Y,Z"));
    auto* inner = new QGridLayout(group);
    for (int i = 0; i < 3; ++i) {
        inner->addWidget(new QLabel(QString::fromLatin1(kRowNames[i])), i, 0);
        inner->addWidget(NewEdit(kFieldIds[i]), i, 1);
    }
    auto* useGiven = new QCheckBox(QStringLiteral("Use Given X,Y,Z"));
    useGiven->setObjectName(IdName(1112));
    inner->addWidget(useGiven, 3, 0, 1, 2);
    grid->addWidget(group, 1, 0, 1, 2);
    auto* ok = NewButton(1, "OK");
    ok->setDefault(true);
    auto* cancel = NewButton(2, "Cancel");
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
}

void CResectStationDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1691, m_strStationId);
    DDX_Text(dx, 1041, m_dX);
    DDX_Text(dx, 1042, m_dY);
    DDX_Text(dx, 1043, m_dZ);
    DDX_Check(dx, 1112, m_bUseGiven);
}

void CResectStationDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    if (m_pImage) {
        m_pImage->SetPosition(m_dX, m_dY, m_dZ);
        if (m_pDoc)
            m_pDoc->SetModifiedFlag(true);
    }
    EndDialog(IDOK);
}
