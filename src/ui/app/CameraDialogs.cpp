#include "CameraDialogs.h"

#include "Camera.h"
#include "Controls.h"
#include "FiducialDialogs.h"
#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "ProfileDatabases.h"
#include "ProjectImage.h"
#include "Statistics.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <climits>
#include <set>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

template <class T>
T* Make(int id, const QString& text = QString())
{
    T* w = new T;
    w->setObjectName(QStringLiteral("id%1").arg(id));
    if constexpr (std::is_same_v<T, QLabel> || std::is_base_of_v<QAbstractButton, T>)
        w->setText(text);
    return w;
}

template <>
QGroupBox* Make<QGroupBox>(int id, const QString& text)
{
    auto* w = new QGroupBox(text);
    w->setObjectName(QStringLiteral("id%1").arg(id));
    return w;
}

QPushButton* Button(int id, const QString& text)
{
    auto* b = Make<QPushButton>(id, text);
    b->setAutoDefault(false);
    return b;
}

QDialogButtonBox* OkCancel(QDialog* dialog, const QString& ok = QStringLiteral("OK"))
{
    auto* box = new QDialogButtonBox;
    QPushButton* okButton = box->addButton(ok, QDialogButtonBox::AcceptRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    okButton->setObjectName(QStringLiteral("id1"));
    cancel->setObjectName(QStringLiteral("id2"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

void Highlight(QWidget* control)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Base, CameraHighlightColour());
    control->setPalette(palette);
}

QString Cell(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

// Rows in the order of the value members: c, xp, yp, K1 .. B2.
const char* const kRowTitles[10] = {"(c)", "(Xp)", "(Yp)", "(K1)", "(K2)", "(K3)", "(P1)", "(P2)", "(B1)", "(B2)"};
const int kValueIds[10] = {1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1203, 1205};
const int kSigmaIds[10] = {1016, 1025, 1017, 1018, 1019, 1022, 1023, 1024, 1204, 1206};
const int kFixIds[10] = {1583, 1584, 1185, 1186, 1187, 1188, 1189, 1190, 1191, 1192};

// Camera type, lens type and their serial numbers in rows 1 and 2.
void AddIdentityRows(QGridLayout* grid)
{
    grid->addWidget(new QLabel(QStringLiteral("Type / ")), 1, 0);
    grid->addWidget(Make<QLineEdit>(1753), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Serial #")), 1, 2);
    grid->addWidget(Make<QLineEdit>(1002), 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Lens Type / ")), 2, 0);
    grid->addWidget(Make<QLineEdit>(1003), 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Serial #")), 2, 2);
    grid->addWidget(Make<QLineEdit>(1582), 2, 3);
}

// Sensor size in pixels and pixel size in mm, four rows from `first` on.
void AddSizeRows(QGridLayout* grid, int first)
{
    grid->addWidget(new QLabel(QStringLiteral("Sensor Size")), first, 1);
    grid->addWidget(new QLabel(QStringLiteral("Pixel Size")), first, 2);
    grid->addWidget(new QLabel(QStringLiteral("(pixels)")), first + 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("(mm)")), first + 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("H")), first + 2, 0);
    grid->addWidget(Make<QLineEdit>(1004), first + 2, 1);
    grid->addWidget(Make<QLineEdit>(1006), first + 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("V")), first + 3, 0);
    grid->addWidget(Make<QLineEdit>(1005), first + 3, 1);
    grid->addWidget(Make<QLineEdit>(1007), first + 3, 2);
}

QString ValueText(int parameter, double value)
{
    return Cell(parameter < CAM_K1 ? "%12.6f" : "%10.4e", value);
}

void MessageBox(const QString& text, unsigned type = MB_OK)
{
    AfxMessageBox(ToCp1252(text).c_str(), type);
}

// The camera and lens texts of a camera dialog into the camera.
template <class Dialog>
void StoreNames(const Dialog& d, CCamera& c)
{
    c.cameraType = ToCp1252(d.m_strCameraType).c_str();
    c.serialNumber = ToCp1252(d.m_strSerial).c_str();
    c.lensType = ToCp1252(d.m_strLensType).c_str();
    c.lensSerialNumber = ToCp1252(d.m_strLensSerial).c_str();
}

template <class Dialog>
void CopySizesAndValues(const Dialog& d, CCamera& c)
{
    c.XPixelSize = d.m_dHorizontalPixelSize;
    c.YPixelSize = d.m_dVerticalPixelSize;
    c.XPixels = int(d.m_nHorizontalPixels);
    c.YPixels = int(d.m_nVerticalPixels);
    for (int i = 0; i < 10; ++i)
        c.parameters[i] = CameraValueFromText(d.m_strValues[i]);
}

} // namespace

QColor CameraHighlightColour()
{
    return QColor(0, 255, 255);
}

double CameraValueFromText(const QString& text)
{
    const std::string bytes = text.toLatin1().toStdString();
    return std::strtod(bytes.c_str(), nullptr);
}

bool AcceptCameraIdentifier(const QString& identifier, const CCameraList* list, const CCamera* except)
{
    const std::string name = ToCp1252(identifier);
    if (!CProfileDatabases::IsValidDatabaseName(name.c_str())) {
        MessageBox(QStringLiteral("Camera identifier <%1> cannot be kept in the database: a name must not be empty, "
                                  "begin or end with a blank, or hold a ',', '[', ']', '=' or a line break.")
                       .arg(identifier),
                   MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (list) {
        for (int i = 0; i < list->GetSize(); ++i) {
            const CCamera* other = list->GetAt(i);
            if (!other || other == except)
                continue;
            if (FromCp1252(other->identifier.GetText()).compare(identifier, Qt::CaseInsensitive) == 0) {
                MessageBox(QStringLiteral("Camera identifier <%1> is taken by camera <%2>. Change name!")
                               .arg(identifier, FromCp1252(other->identifier.GetText())),
                           MB_OK | MB_ICONEXCLAMATION);
                return false;
            }
        }
    }
    return true;
}

// --- Camera DataBase ----------------------------------------------------------

CCameraDataDlg::CCameraDataDlg(CCameraList* cameras, int index, int projectFlag, QWidget* parent)
    : CDialog(102, parent), m_bProject(projectFlag), m_pCameras(cameras),
      m_pCamera(cameras && index >= 0 && index < cameras->GetSize() ? cameras->GetAt(index) : nullptr)
{
    Build();
}

CCameraDataDlg::CCameraDataDlg(CCamera* camera, QWidget* parent) : CDialog(102, parent), m_bProject(1), m_pCamera(camera)
{
    // A new identifier is checked against the cameras of the active project that holds it.
    if (CKestrelonDoc* doc = GetActiveKestrelonDoc())
        for (int i = 0; i < doc->cameras.GetSize(); ++i)
            if (doc->cameras.GetAt(i) == camera)
                m_pOwner = &doc->cameras;
    Build();
}

void CCameraDataDlg::Build()
{
    setWindowTitle(QStringLiteral("Camera DataBase"));
    auto* top = new QGridLayout;
    auto* combo = Make<QComboBox>(1000);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    top->addWidget(new QLabel(QStringLiteral("Camera Id")), 0, 0);
    top->addWidget(combo, 0, 1);
    top->addWidget(new QLabel(QStringLiteral("Time")), 0, 2);
    top->addWidget(Make<QLabel>(1202), 0, 3);
    AddIdentityRows(top);

    auto* sizes = new QGridLayout;
    AddSizeRows(sizes, 0);

    // Row 0 holds the title of "Sigmas Option", row 1 the headings, rows 2
    // to 11 the parameters. The group box frames the Fix column from behind,
    // so that each box shares the row of its parameter.
    auto* params = new QGridLayout;
    auto* options = Make<QGroupBox>(1062, QStringLiteral("Sigmas Option"));
    params->addWidget(options, 0, 3, 12, 1);
    params->setRowMinimumHeight(0, options->fontMetrics().height());
    params->addWidget(new QLabel(QStringLiteral("Current Value")), 1, 1);
    params->addWidget(new QLabel(QStringLiteral("Sigma")), 1, 2);
    params->addWidget(Make<QLabel>(1063, QStringLiteral("Fix")), 1, 3, Qt::AlignCenter);
    for (int i = 0; i < 10; ++i) {
        params->addWidget(new QLabel(QString::fromLatin1(kRowTitles[i])), i + 2, 0);
        params->addWidget(Make<QLineEdit>(kValueIds[i]), i + 2, 1);
        params->addWidget(Make<QLineEdit>(kSigmaIds[i]), i + 2, 2);
        auto* box = Make<QCheckBox>(kFixIds[i]);
        params->addWidget(box, i + 2, 3, Qt::AlignCenter);
        connect(box, &QCheckBox::clicked, this, [this, i] { OnFixClicked(i); });
    }
    // Height beyond the rows' own goes below them.
    params->setRowStretch(12, 1);

    auto* buttons = new QVBoxLayout;
    const struct {
        int id;
        const char* text;
        int mode;
    } modes[] = {{1211, "Fix All", 0}, {1208, "Free All", 1}, {1212, "Fix K1 - B2", 4}, {1209, "Fix K2 - B2", 2}};
    for (const auto& m : modes) {
        QPushButton* b = Button(m.id, QString::fromLatin1(m.text));
        const int mode = m.mode;
        connect(b, &QPushButton::clicked, this, [this, mode] { OnCalibrationMode(mode); });
        buttons->addWidget(b);
    }
    QPushButton* fiducials = Button(1119, QStringLiteral("Fiducials"));
    connect(fiducials, &QPushButton::clicked, this, [this] {
        if (!m_pCamera)
            return;
        CFiducialsDlg dialog(m_pCamera, this);
        dialog.DoModal();
    });
    buttons->addWidget(fiducials);
    buttons->addStretch();
    QPushButton* save = Button(1031, QStringLiteral("Save"));
    connect(save, &QPushButton::clicked, this, [this] { OnSave(); });
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(save);
    auto* saveTexts = new QVBoxLayout;
    saveTexts->addWidget(Make<QLabel>(1032, QStringLiteral("Save changes")));
    saveTexts->addWidget(Make<QLabel>(1033, QStringLiteral("to this")));
    saveTexts->addWidget(Make<QLabel>(1034, QStringLiteral("camera")));
    saveRow->addLayout(saveTexts);
    buttons->addLayout(saveRow);

    auto* middle = new QHBoxLayout;
    middle->addLayout(params);
    middle->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(sizes);
    layout->addLayout(middle);
    layout->addWidget(OkCancel(this, QStringLiteral("&Ok")));

    options->lower();

    for (int id : {1004, 1005, 1006, 1007, 1008})
        Highlight(GetDlgItem(id));
    connect(combo, qOverload<int>(&QComboBox::activated), this, [this](int index) { OnSelchangeCamera(index); });
}

void CCameraDataDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1753, m_strCameraType);
    DDX_Text(dx, 1000, m_strIdentifier);
    DDX_Text(dx, 1202, m_strCalibrationTime);
    DDX_Text(dx, 1582, m_strLensSerial);
    DDX_Text(dx, 1003, m_strLensType);
    DDX_Text(dx, 1004, m_nHorizontalPixels);
    DDX_Text(dx, 1005, m_nVerticalPixels);
    DDX_Text(dx, 1007, m_dVerticalPixelSize);
    DDX_Text(dx, 1006, m_dHorizontalPixelSize);
    DDX_Text(dx, 1002, m_strSerial);
    for (int i = 0; i < 10; ++i)
        DDX_Text(dx, kSigmaIds[i], m_dSigmas[i]);
    for (int i = 0; i < 10; ++i)
        DDX_Text(dx, kValueIds[i], m_strValues[i]);
}

void CCameraDataDlg::FillFromCamera()
{
    const CCamera& c = *m_pCamera;
    m_strIdentifier = FromCp1252(c.identifier.GetText());
    m_strCameraType = FromCp1252(c.cameraType.GetText());
    m_strSerial = FromCp1252(c.serialNumber.GetText());
    m_strLensType = FromCp1252(c.lensType.GetText());
    m_strLensSerial = FromCp1252(c.lensSerialNumber.GetText());
    m_strCalibrationTime = FromCp1252(c.calibrationTime.GetText());
    m_dHorizontalPixelSize = c.XPixelSize;
    m_dVerticalPixelSize = c.YPixelSize;
    m_nHorizontalPixels = c.XPixels;
    m_nVerticalPixels = c.YPixels;
    m_nCalibrationMode = c.calibrationMode;
    for (int i = 0; i < 10; ++i) {
        m_strValues[i] = ValueText(i, c.parameters[i]);
        m_dSigmas[i] = c.sigmas[i];
    }
    UpdateData(false);
}

void CCameraDataDlg::SetFixBoxesFromMode()
{
    for (int i = 0; i < 10; ++i) {
        bool fixed;
        switch (m_nCalibrationMode) {
        case 0: fixed = true; break;
        case 1: fixed = false; break;
        case 2: fixed = i >= CAM_K2; break;
        case 4: fixed = i >= CAM_K1; break;
        default: continue; // set one by one
        }
        Item<QCheckBox>(kFixIds[i])->setChecked(fixed);
    }
}

void CCameraDataDlg::SetFixBoxesFromSigmas()
{
    for (int i = 0; i < 10; ++i) {
        if (m_pCamera->sigmas[i] >= CAMERA_SIGMA_FREE)
            Item<QCheckBox>(kFixIds[i])->setChecked(false);
        else if (m_pCamera->sigmas[i] <= CAMERA_SIGMA_FIXED)
            Item<QCheckBox>(kFixIds[i])->setChecked(true);
    }
}

bool CCameraDataDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pCamera)
        for (int id = 1031; id <= 1034; ++id)
            GetDlgItem(id)->hide();
    if (m_bProject == 0) {
        for (int id : {1211, 1208, 1209, 1212, 1062, 1063})
            GetDlgItem(id)->hide();
        for (int id : kFixIds)
            GetDlgItem(id)->hide();
    }
    if (!m_pCamera)
        return true;
    if (m_pCameras) {
        auto* combo = Item<QComboBox>(1000);
        for (int i = 0; i < m_pCameras->GetSize(); ++i)
            combo->addItem(FromCp1252(m_pCameras->GetAt(i)->identifier.GetText()));
        FillFromCamera();
        combo->setCurrentIndex(combo->findText(m_strIdentifier));
        SetFixBoxesFromSigmas();
    } else {
        FillFromCamera();
    }
    return true;
}

void CCameraDataDlg::OnSelchangeCamera(int index)
{
    if (!m_pCameras || index < 0 || index >= m_pCameras->GetSize())
        return;
    m_pCamera = m_pCameras->GetAt(index);
    FillFromCamera();
    SetFixBoxesFromMode();
    SetFixBoxesFromSigmas();
    UpdateData(false);
}

void CCameraDataDlg::OnCalibrationMode(int mode)
{
    if (!m_pCamera || !UpdateData(true))
        return;
    m_nCalibrationMode = mode;
    m_pCamera->SetCalibrationMode(mode);
    for (int i = 0; i < 10; ++i)
        m_dSigmas[i] = m_pCamera->sigmas[i];
    SetFixBoxesFromMode();
    UpdateData(false);
}

void CCameraDataDlg::OnFixClicked(int parameter)
{
    if (!m_pCamera)
        return;
    const bool fixed = Item<QCheckBox>(kFixIds[parameter])->isChecked();
    m_pCamera->sigmas[parameter] = fixed ? CAMERA_SIGMA_FIXED : CAMERA_SIGMA_FREE;
    m_dSigmas[parameter] = m_pCamera->sigmas[parameter];
    Item<QLineEdit>(kSigmaIds[parameter])->setText(fixed ? QStringLiteral("1e-16") : QStringLiteral("1000"));
}

bool CCameraDataDlg::StoreIdentification()
{
    CCamera& c = *m_pCamera;
    const QString old = FromCp1252(c.identifier.GetText());
    if (m_strIdentifier != old && !AcceptCameraIdentifier(m_strIdentifier, m_pCameras ? m_pCameras : m_pOwner, m_pCamera)) {
        m_strIdentifier = old;
        Item<QComboBox>(1000)->setCurrentText(old);
        return false;
    }
    const std::string identifier = ToCp1252(m_strIdentifier);
    // The images of a renamed project camera keep it.
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    const CCameraList* list = m_pCameras ? m_pCameras : m_pOwner;
    if (doc && list == &doc->cameras && identifier != c.identifier.GetText()) {
        for (int i = 0; i < doc->images.GetSize(); ++i) {
            CProjectImage* image = doc->images.GetAt(i);
            if (image && image->GetCameraName() == c.identifier)
                image->SetCameraName(identifier.c_str());
        }
        doc->SetModifiedFlag(true);
    }
    c.identifier = identifier.c_str();
    StoreNames(*this, c);
    if (m_pCameras) {
        // The combo lists the identifiers.
        auto* combo = Item<QComboBox>(1000);
        const int index = m_pCameras->FindIndexByName(c.identifier.GetText());
        if (index >= 0 && index < combo->count())
            combo->setItemText(index, m_strIdentifier);
    }
    return true;
}

void CCameraDataDlg::StoreSizesAndValues()
{
    CopySizesAndValues(*this, *m_pCamera);
    m_pCamera->modified = true;
}

void CCameraDataDlg::OnSave()
{
    if (!m_pCamera || !UpdateData(true))
        return;
    if (!StoreIdentification())
        return;
    StoreSizesAndValues();
    for (int i = 0; i < 10; ++i)
        m_pCamera->sigmas[i] = m_dSigmas[i];
    AfxMessageBox("Camera parameters have been recorded", MB_OK);
    if (CProfileDatabases* databases = GetAppDatabases())
        databases->FlushDatabases();
}

void CCameraDataDlg::OnOK()
{
    if (!m_pCameras && m_pCamera) {
        if (!UpdateData(true) || !StoreIdentification())
            return;
        StoreSizesAndValues();
    }
    EndDialog(QDialog::Accepted);
}

// --- Camera Input -------------------------------------------------------------

CCameraInputDlg::CCameraInputDlg(CCamera* camera, QWidget* parent) : CDialog(1554, parent), m_pCamera(camera)
{
    setWindowTitle(QStringLiteral("Camera Input"));
    auto* top = new QGridLayout;
    top->addWidget(new QLabel(QStringLiteral("Camera Id")), 0, 0);
    top->addWidget(Make<QLineEdit>(1000), 0, 1);
    AddIdentityRows(top);
    AddSizeRows(top, 3);

    // The parameters in columns 0 and 1; beside them "Metric" on the heading
    // row, the fiducial list over the rows below and the import button on
    // the last. The list and the button keep their room while hidden, so
    // that nothing moves when "Metric" changes.
    auto* params = new QGridLayout;
    params->addWidget(new QLabel(QStringLiteral("Parameters")), 0, 1);
    for (int i = 0; i < 10; ++i) {
        params->addWidget(new QLabel(QString::fromLatin1(kRowTitles[i])), i + 1, 0);
        params->addWidget(Make<QLineEdit>(kValueIds[i]), i + 1, 1);
    }
    auto* metric = Make<QCheckBox>(1212, QStringLiteral("Metric"));
    connect(metric, &QCheckBox::clicked, this, [this] { OnMetric(); });
    params->addWidget(metric, 0, 2);
    m_pList = new QTableWidget;
    m_pList->setObjectName(QStringLiteral("id1214"));
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->verticalHeader()->hide();
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The popup "FiducialListDummy".
        QMenu menu(this);
        menu.addAction(QStringLiteral("Add"), this, [this] { OnAddFiducial(); })->setData(33009);
        menu.addAction(QStringLiteral("Edit"))->setEnabled(false);
        menu.addAction(QStringLiteral("Delete"), this, [this] { OnDeleteFiducials(); })->setData(33007);
        menu.exec(m_pList->viewport()->mapToGlobal(at));
    });
    connect(m_pList, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { OnEditFiducial(row); });
    params->addWidget(m_pList, 1, 2, 9, 1);
    QPushButton* import = Button(1121, QStringLiteral("&Import Fiducials"));
    connect(import, &QPushButton::clicked, this, [this] { OnImportFiducials(); });
    params->addWidget(import, 10, 2);
    for (QWidget* w : {static_cast<QWidget*>(m_pList), static_cast<QWidget*>(import)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(params);
    layout->addWidget(OkCancel(this, QStringLiteral("&Ok")));
    for (int id : {1000, 1004, 1005, 1006, 1007, 1008})
        Highlight(GetDlgItem(id));
}

void CCameraInputDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1000, m_strIdentifier);
    DDX_Text(dx, 1753, m_strCameraType);
    DDX_Text(dx, 1002, m_strSerial);
    DDX_Text(dx, 1003, m_strLensType);
    DDX_Text(dx, 1582, m_strLensSerial);
    DDX_Text(dx, 1004, m_nHorizontalPixels);
    DDX_Text(dx, 1005, m_nVerticalPixels);
    DDX_Text(dx, 1006, m_dHorizontalPixelSize);
    DDX_Text(dx, 1007, m_dVerticalPixelSize);
    for (int i = 0; i < 10; ++i)
        DDX_Text(dx, kValueIds[i], m_strValues[i]);
    DDX_Check(dx, 1212, m_bMetric);
}

void CCameraInputDlg::ShowFiducials(bool show)
{
    m_pList->setVisible(show);
    GetDlgItem(1121)->setVisible(show);
}

bool CCameraInputDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    ShowFiducials(false);
    return true;
}

void CCameraInputDlg::OnMetric()
{
    if (!m_bMetric) {
        m_bMetric = 1;
        ShowFiducials(true);
        RefillFiducials();
        return;
    }
    if (m_pCamera && m_pCamera->fiducials.GetSize() > 0 &&
        AfxMessageBox("Fiducials will be deleted\nContinue?", MB_YESNO) != IDYES) {
        Item<QCheckBox>(1212)->setChecked(true);
        return;
    }
    m_pList->setRowCount(0);
    if (m_pCamera)
        m_pCamera->fiducials.DeleteAll();
    ShowFiducials(false);
    m_bMetric = 0;
}

void CCameraInputDlg::RefillFiducials()
{
    FillFiducialList(m_pList, m_pCamera);
}

void CCameraInputDlg::OnImportFiducials()
{
    if (!m_pCamera)
        return;
    CFileDialogRequest request;
    request.defaultSuffix = QStringLiteral("xy");
    request.fileName = QStringLiteral("*.xy");
    request.filter = QStringLiteral("Fiducial Files (*.xy);;All Files(*.*) (*)");
    const QString path = AfxGetFileName(this, request);
    if (path.isEmpty())
        return;
    m_pCamera->fiducials.ReadXyFile(CFilePath(ToCp1252(path).c_str()));
    RefillFiducials();
}

void CCameraInputDlg::OnAddFiducial()
{
    if (m_pCamera && AddFiducialMark(*m_pCamera, this))
        RefillFiducials();
}

void CCameraInputDlg::OnDeleteFiducials()
{
    if (m_pCamera && DeleteFiducialMarks(*m_pCamera, SelectedFiducialRows(m_pList)))
        RefillFiducials();
}

void CCameraInputDlg::OnEditFiducial(int row)
{
    if (m_pCamera && EditFiducialMark(*m_pCamera, row, this))
        RefillFiducials();
}

void CCameraInputDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    const struct {
        bool missing;
        const char* text;
    } checks[] = {
        {m_strIdentifier.isEmpty(), "Camera Id Missing"},
        {m_nHorizontalPixels == 0, "Horizontal Sensor Size Missing"},
        {m_nVerticalPixels == 0, "Vertical Sensor Size Missing"},
        {m_dHorizontalPixelSize == 0.0, "Horizontal Pixel Size Missing"},
        {m_dVerticalPixelSize == 0.0, "Vertical Pixel Size Missing"},
        {m_strValues[CAM_C].isEmpty(), "Focal Length Missing"},
    };
    for (const auto& check : checks)
        if (check.missing) {
            AfxMessageBox(check.text, MB_OK);
            return;
        }
    if (!m_pCamera) {
        EndDialog(QDialog::Accepted);
        return;
    }
    const CProfileDatabases* databases = GetAppDatabases();
    if (!AcceptCameraIdentifier(m_strIdentifier, databases ? &databases->cameraDatabase : nullptr, m_pCamera)) {
        m_strIdentifier = FromCp1252(m_pCamera->identifier.GetText());
        Item<QLineEdit>(1000)->setText(m_strIdentifier);
        return;
    }
    CCamera& c = *m_pCamera;
    c.identifier = ToCp1252(m_strIdentifier).c_str();
    StoreNames(*this, c);
    CopySizesAndValues(*this, c);
    EndDialog(QDialog::Accepted);
}

// --- Add/Edit Fiducial/Reseau ---------------------------------------------------

CFiducialEditDlg::CFiducialEditDlg(QWidget* parent) : CDialog(1553, parent)
{
    setWindowTitle(QStringLiteral("Add/Edit Fiducial/Reseau"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Label")), 0, 0);
    grid->addWidget(Make<QLineEdit>(1100), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("x")), 1, 0);
    grid->addWidget(Make<QLineEdit>(1055), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("y")), 2, 0);
    grid->addWidget(Make<QLineEdit>(1056), 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));
}

void CFiducialEditDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1100, m_strLabel);
    DDX_Text(dx, 1055, m_dX);
    DDX_Text(dx, 1056, m_dY);
}

// --- fiducial lists -------------------------------------------------------------

void FillFiducialList(QTableWidget* list, const CCamera* camera)
{
    list->setRowCount(0);
    list->setColumnCount(0);
    list->setColumnCount(3);
    list->setHorizontalHeaderLabels({QStringLiteral("Label"), QStringLiteral("x"), QStringLiteral("y")});
    const CObservationList* marks = camera ? &camera->fiducials : nullptr;
    list->setRowCount(marks ? marks->GetSize() : 0);
    for (int i = 0; i < list->rowCount(); ++i) {
        const CImageObservation* m = marks->GetAt(i);
        const QString texts[3] = {FromCp1252(m->label.GetText()), Cell("%6.3f", m->x), Cell("%6.3f", m->y)};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setTextAlignment(Qt::AlignCenter);
            list->setItem(i, c, item);
        }
    }
    FitColumnsToContents(list);
}

std::vector<int> SelectedFiducialRows(const QTableWidget* list)
{
    std::set<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        rows.insert(index.row());
    return std::vector<int>(rows.begin(), rows.end());
}

bool AddFiducialMark(CCamera& camera, QWidget* parent)
{
    CFiducialEditDlg edit(parent);
    if (edit.DoModal() != QDialog::Accepted)
        return false;
    CImageObservation mark;
    mark.label = CNameBuffer(ToCp1252(edit.m_strLabel).c_str());
    // A text that is no label gives no mark.
    if (mark.label.GetText()[0] == '\0')
        return false;
    mark.SetXY(edit.m_dX, edit.m_dY);
    camera.fiducials.AddSorted(mark);
    return true;
}

bool EditFiducialMark(CCamera& camera, int index, QWidget* parent)
{
    if (index < 0 || index >= camera.fiducials.GetSize())
        return false;
    // Rows follow the camera's order, so a repeated label edits its own mark.
    CImageObservation* mark = camera.fiducials.GetAt(index);
    CFiducialEditDlg edit(parent);
    edit.m_strLabel = FromCp1252(mark->label.GetText());
    edit.m_dX = mark->x;
    edit.m_dY = mark->y;
    if (edit.DoModal() != QDialog::Accepted)
        return false;
    // A text that is no label keeps the old one.
    const CNameBuffer label(ToCp1252(edit.m_strLabel).c_str());
    if (label.GetText()[0] != '\0')
        mark->label = label;
    mark->SetXY(edit.m_dX, edit.m_dY);
    // Lookups by label need the list in label order.
    camera.fiducials.SortByLabel();
    return true;
}

bool DeleteFiducialMarks(CCamera& camera, const std::vector<int>& rows)
{
    if (rows.empty())
        return false;
    if (AfxMessageBox("Delete Selected Points?", MB_YESNO) != IDYES)
        return false;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        if (*row >= 0 && *row < camera.fiducials.GetSize())
            camera.fiducials.RemoveAt(*row, 1);
    return true;
}

// --- Balanced Distortion --------------------------------------------------------

CBalancedDistortionDlg::CBalancedDistortionDlg(double balancedRadius, double maximumRadius, double step,
                                               QWidget* parent)
    : CDialog(300, parent), m_dBalancedRadius(balancedRadius), m_dMaximumRadius(maximumRadius), m_dStep(step)
{
    setWindowTitle(QStringLiteral("Balanced Distortion"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Balanced Radius")), 0, 0);
    grid->addWidget(Make<QLineEdit>(1361), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Maximum Radius")), 1, 0);
    grid->addWidget(Make<QLineEdit>(1362), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Step")), 2, 0);
    grid->addWidget(Make<QLineEdit>(1363), 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(new QLabel(QStringLiteral("Computed results are stored in output file Balance.txt")));
    layout->addWidget(OkCancel(this));
}

void CBalancedDistortionDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1361, m_dBalancedRadius);
    DDV_MinMaxDouble(dx, m_dBalancedRadius, 0.0, 1000.0);
    DDX_Text(dx, 1362, m_dMaximumRadius);
    DDV_MinMaxDouble(dx, m_dMaximumRadius, 0.001, 1000.0);
    DDX_Text(dx, 1363, m_dStep);
    DDV_MinMaxDouble(dx, m_dStep, 0.001, 1000.0);
}

// --- Statistical Camera Comparision ---------------------------------------------

CCameraCompareDlg::CCameraCompareDlg(CCamera* camera1, CCamera* camera2, QWidget* parent)
    : CDialog(370, parent), m_pCamera1(camera1), m_pCamera2(camera2)
{
    setWindowTitle(QStringLiteral("Statistical Camera Comparision "));
    auto* cameras = new QHBoxLayout;
    const int ids[2][2] = {{1419, 1323}, {1420, 1324}};
    for (int n = 0; n < 2; ++n) {
        auto* group = new QGroupBox(QStringLiteral("Camera %1").arg(n + 1));
        auto* grid = new QGridLayout(group);
        auto* name = Make<QLineEdit>(ids[n][0]);
        name->setReadOnly(true);
        grid->addWidget(name, 0, 0, 1, 2);
        grid->addWidget(new QLabel(QStringLiteral("Calibration redundancy")), 1, 0);
        grid->addWidget(Make<QLineEdit>(ids[n][1]), 1, 1);
        cameras->addWidget(group);
    }
    auto* probability = new QHBoxLayout;
    probability->addWidget(new QLabel(QStringLiteral("Test Probability")));
    probability->addWidget(Make<QLineEdit>(1291));
    QPushButton* recompute = Button(1406, QStringLiteral("Re-Compute"));
    connect(recompute, &QPushButton::clicked, this, [this] { Compute(); });
    probability->addWidget(recompute);
    m_pList = new CEditableListCtrl;
    m_pList->setObjectName(QStringLiteral("id1421"));
    auto* done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("id1"));
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(cameras);
    layout->addLayout(probability);
    layout->addWidget(m_pList);
    layout->addWidget(done, 0, Qt::AlignRight);
    resize(520, 420);
}

void CCameraCompareDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1419, m_strCamera1);
    DDX_Text(dx, 1420, m_strCamera2);
    DDX_Text(dx, 1323, m_nRedundancy1);
    DDV_MinMaxInt(dx, m_nRedundancy1, 0, INT_MAX);
    DDX_Text(dx, 1324, m_nRedundancy2);
    DDV_MinMaxInt(dx, m_nRedundancy2, 0, INT_MAX);
    DDX_Text(dx, 1291, m_dProbability);
    DDV_MinMaxDouble(dx, m_dProbability, 0.0, 1.0);
}

bool CCameraCompareDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pCamera1 || !m_pCamera2)
        return true;
    m_strCamera1 = FromCp1252(m_pCamera1->identifier.GetText());
    m_strCamera2 = FromCp1252(m_pCamera2->identifier.GetText());
    m_nRedundancy1 = m_pCamera1->calibrationRedundancy;
    m_nRedundancy2 = m_pCamera2->calibrationRedundancy;
    Item<QLineEdit>(1323)->setReadOnly(m_nRedundancy1 != 0);
    Item<QLineEdit>(1324)->setReadOnly(m_nRedundancy2 != 0);
    UpdateData(false);
    m_pList->setColumnCount(6);
    m_pList->setHorizontalHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Value 1"),
                                        QStringLiteral("Sigma 1"), QStringLiteral("Value 2"),
                                        QStringLiteral("Sigma 2"), QStringLiteral("Identical")});
    FitColumnsToContents(m_pList);
    Compute();
    return true;
}

void CCameraCompareDlg::Compute()
{
    if (!m_pCamera1 || !m_pCamera2 || !UpdateData(true))
        return;
    static const char* const titles[10] = {"c", "Xp", "Yp", "K1", "K2", "K3", "P1", "P2", "B1", "B2"};
    m_pList->setRowCount(10);
    for (int i = 0; i < 10; ++i) {
        const double v1 = m_pCamera1->parameters[i];
        const double s1 = m_pCamera1->postSigmas[i];
        const double v2 = m_pCamera2->parameters[i];
        const double s2 = m_pCamera2->postSigmas[i];
        const char* valueFormat = i < CAM_K1 ? "%12.6f" : "%10.4e";
        const char* sigmaFormat = i < CAM_K1 ? "%f" : "%10.4e";
        // A parameter without a sigma (not estimated) cannot be tested.
        QString identical = QStringLiteral("---");
        if (m_nRedundancy1 + m_nRedundancy2 - 2 >= 1 && s1 != 0.0 && s2 != 0.0)
            identical = TwoSampleTTest(v1, s1, m_nRedundancy1, v2, s2, m_nRedundancy2, m_dProbability)
                            ? QStringLiteral("YES")
                            : QStringLiteral("NO");
        const QString cells[6] = {QString::fromLatin1(titles[i]), Cell(valueFormat, v1), Cell(sigmaFormat, s1),
                                  Cell(valueFormat, v2),           Cell(sigmaFormat, s2), identical};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QStandardItem(cells[c]);
            item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : (Qt::AlignRight | Qt::AlignVCenter));
            m_pList->setItem(i, c, item);
        }
    }
    FitColumnsToContents(m_pList);
}

// --- Select Camera ---------------------------------------------------------------

CCameraSelectionDlg::CCameraSelectionDlg(const CCameraList* cameras, QWidget* parent)
    : CDialog(358, parent), m_pCameras(cameras)
{
    setWindowTitle(QStringLiteral("Select Camera"));
    auto* combo = new CComboBoxCamera;
    combo->setObjectName(QStringLiteral("id1383"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(combo);
    layout->addWidget(OkCancel(this));
}

bool CCameraSelectionDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nSelected = -1;
    auto* combo = Item<CComboBoxCamera>(1383);
    combo->Fill(m_pCameras);
    combo->setCurrentIndex(-1);
    return true;
}

void CCameraSelectionDlg::OnOK()
{
    m_nSelected = Item<CComboBoxCamera>(1383)->currentIndex();
    EndDialog(QDialog::Accepted);
}
