#include "Preferences.h"

#include "CorrespondingPointsPage.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "SettingsDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cfloat>
#include <cmath>

QColor ColourToQColor(int32_t colour)
{
    return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

int32_t QColorToColour(const QColor& colour)
{
    return MakeColour(colour.red(), colour.green(), colour.blue());
}

CColourSwatch::CColourSwatch(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(40, 20);
}

void CColourSwatch::SetColour(int32_t value)
{
    colour = value;
    update();
}

void CColourSwatch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::black);
    painter.setBrush(ColourToQColor(colour));
    // A rectangle from (1, 1) to (width - 1, height - 1), the right and
    // bottom edges excluded.
    painter.drawRect(1, 1, width() - 3, height() - 3);
}

namespace {

template <class T>
T* Make(int id, const QString& text = QString())
{
    T* w = new T;
    w->setObjectName(IdName(id));
    if constexpr (std::is_base_of_v<QAbstractButton, T> || std::is_same_v<T, QLabel>)
        w->setText(text);
    if constexpr (std::is_same_v<T, QPushButton>)
        w->setAutoDefault(false);
    return w;
}

QLineEdit* Edit(int id)
{
    return Make<QLineEdit>(id);
}

// A row of the grid: the label text, then the control.
void Row(QGridLayout* grid, const QString& text, QWidget* control)
{
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(text), row, 0);
    grid->addWidget(control, row, 1);
}

// A single-precision number shown with six significant digits.
void DDX_Float(CDataExchange* dx, int id, float& value)
{
    if (dx->Failed())
        return;
    QWidget* c = dx->PrepareCtrl(id);
    if (!c)
        return;
    if (!dx->m_bSaveAndValidate) {
        SetWindowText(c, QString::number(double(value), 'g', FLT_DIG));
        return;
    }
    double parsed = 0.0;
    if (!ReadCDouble(GetWindowText(c), parsed) || std::fabs(parsed) > FLT_MAX)
        return dx->Fail(QStringLiteral("Please enter a number."));
    const float old = value;
    float* where = &value;
    dx->Keep(where, [where, old] { *where = old; });
    value = float(parsed);
}

} // namespace

// --- Project -----------------------------------------------------------------

CProjectPrefPage::CProjectPrefPage() : CPropertyPage(115, QStringLiteral("Project"))
{
    auto* layout = new QVBoxLayout(this);
    auto* saveGrid = new QGridLayout;
    auto* autoSave = Make<QCheckBox>(1062, QStringLiteral("Auto Save On"));
    saveGrid->addWidget(autoSave, 0, 0, 1, 2);
    Row(saveGrid, QStringLiteral("Period (sec)"), Edit(1063));
    layout->addLayout(saveGrid);
    QObject::connect(autoSave, &QCheckBox::clicked, this, [this] { OnAutoSave(); });

    layout->addWidget(Make<QCheckBox>(1213, QStringLiteral("Store Image Thumbnails in Document")));
    auto* type = new QGroupBox(QStringLiteral("Thumbnail Type"));
    auto* typeGrid = new QGridLayout(type);
    typeGrid->addWidget(Make<QRadioButton>(1216, QStringLiteral("Resolution")), 0, 0);
    typeGrid->addWidget(Edit(1214), 0, 1);
    typeGrid->addWidget(new QLabel(QStringLiteral("X")), 0, 2);
    typeGrid->addWidget(Edit(1315), 0, 3);
    typeGrid->addWidget(Make<QRadioButton>(1217, QStringLiteral("Scale")), 1, 0);
    typeGrid->addWidget(Edit(1218), 1, 1);
    typeGrid->addWidget(new QLabel(QStringLiteral("%")), 1, 2);
    layout->addWidget(type);
    layout->addStretch();
}

void CProjectPrefPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1062, m_bAutoSave);
    DDX_Text(dx, 1063, m_nAutoSavePeriod);
    DDV_MinMaxInt(dx, m_nAutoSavePeriod, 30, 600);
    DDX_Check(dx, 1213, m_bStoreThumbnails);
    DDX_Radio(dx, 1216, m_nThumbnailType);
    DDX_Text(dx, 1214, m_nThumbnailWidth);
    DDX_Text(dx, 1315, m_nThumbnailHeight);
    DDX_Text(dx, 1218, m_nThumbnailScale);
}

bool CProjectPrefPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    GetDlgItem(1063)->setEnabled(m_bAutoSave != 0);
    return true;
}

void CProjectPrefPage::OnAutoSave()
{
    UpdateData(true);
    GetDlgItem(1063)->setEnabled(m_bAutoSave != 0);
}

// --- Image Preferences ------------------------------------------------------------

CImagePrefPage::CImagePrefPage() : CPropertyPage(1543, QStringLiteral("Image Preferences"))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Make<QCheckBox>(1204, QStringLiteral("Number Points")));
    auto* overlay = new QGroupBox(QStringLiteral("Target Overlay"));
    auto* overlayLayout = new QVBoxLayout(overlay);
    overlayLayout->addWidget(Make<QRadioButton>(1306, QStringLiteral("Blob")));
    overlayLayout->addWidget(Make<QRadioButton>(1307, QStringLiteral("Cross")));
    layout->addWidget(overlay);

    auto* grid = new QGridLayout;
    const struct {
        const char* text;
        int swatch, button;
    } rows[] = {{"Centroid", 1209, 1208}, {"Manual", 1210, 1211}, {"Fiducial", 1212, 1213}, {"Residual Vector", 1240, 1241}};
    for (int r = 0; r < 4; ++r) {
        grid->addWidget(new QLabel(QString::fromLatin1(rows[r].text)), r, 0);
        auto* swatch = new CColourSwatch;
        swatch->setObjectName(IdName(rows[r].swatch));
        grid->addWidget(swatch, r, 1);
        auto* change = Make<QPushButton>(rows[r].button, QStringLiteral("Change"));
        const int id = rows[r].button;
        QObject::connect(change, &QPushButton::clicked, this, [this, id] { OnChangeColour(id); });
        grid->addWidget(change, r, 2);
    }
    layout->addLayout(grid);
    layout->addStretch();
}

void CImagePrefPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1204, m_bNumberPoints);
    DDX_Radio(dx, 1306, m_nTargetOverlay);
}

bool CImagePrefPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    ShowColours();
    return true;
}

int32_t* CImagePrefPage::ColourOf(int buttonId)
{
    switch (buttonId) {
    case 1208: return &m_crCentroid;
    case 1211: return &m_crManual;
    case 1213: return &m_crFiducial;
    case 1241: return &m_crResidualVector;
    default: return nullptr;
    }
}

void CImagePrefPage::OnChangeColour(int buttonId)
{
    int32_t* colour = ColourOf(buttonId);
    if (!colour)
        return;
    QColor chosen = ColourToQColor(*colour);
    if (!AfxGetColour(this, chosen) || !chosen.isValid())
        return;
    *colour = QColorToColour(chosen);
    ShowColours();
}

void CImagePrefPage::ShowColours()
{
    const struct {
        int id;
        int32_t colour;
    } swatches[] = {{1209, m_crCentroid}, {1210, m_crManual}, {1212, m_crFiducial}, {1240, m_crResidualVector}};
    for (const auto& s : swatches)
        if (auto* swatch = Item<CColourSwatch>(s.id))
            swatch->SetColour(s.colour);
}

// --- Digitizing --------------------------------------------------------------------

CDigitizingPage::CDigitizingPage() : CPropertyPage(110, QStringLiteral("Digitizing"))
{
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QGroupBox(QStringLiteral("Prompt before ..."));
    auto* promptLayout = new QVBoxLayout(prompt);
    promptLayout->addWidget(Make<QCheckBox>(1211, QStringLiteral("Adding Duplicate Pt Coordinates")));
    promptLayout->addWidget(Make<QCheckBox>(1210, QStringLiteral("Overwriting Duplicate Pt Numbers")));
    layout->addWidget(prompt);
    auto* grid = new QGridLayout;
    Row(grid, QStringLiteral("Duplicate Tolerance (um)"), Edit(1212));
    Row(grid, QStringLiteral("Max Plumb Obs Per Line"), Edit(1061));
    layout->addLayout(grid);
    layout->addStretch();
}

void CDigitizingPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1211, m_bAddDuplicateCoordinates);
    DDX_Check(dx, 1210, m_bOverwriteDuplicateNumbers);
    DDX_Float(dx, 1212, m_fDuplicateTolerance);
    DDX_Text(dx, 1061, m_nMaxPlumbObsPerLine);
    DDV_MinMaxInt(dx, m_nMaxPlumbObsPerLine, 2, 25);
}

// --- Output ------------------------------------------------------------------------

COutputPage::COutputPage() : CPropertyPage(1243, QStringLiteral("Output"))
{
    auto* layout = new QVBoxLayout(this);
    auto* box = new QGroupBox(QStringLiteral("Bundle Adjustment Output ..."));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->addWidget(Make<QCheckBox>(1683, QStringLiteral("Image Coordinate Residuals")));
    boxLayout->addWidget(Make<QCheckBox>(1587, QStringLiteral("Adjusted Camera Parameters")));
    boxLayout->addWidget(Make<QCheckBox>(1090, QStringLiteral("Parameter Correlations")));
    boxLayout->addWidget(Make<QCheckBox>(1094, QStringLiteral("Image Rotation Matrices")));
    boxLayout->addWidget(Make<QCheckBox>(1095, QStringLiteral("Omega, Phi, Kappa Rotation Angles")));
    boxLayout->addWidget(Make<QCheckBox>(1096, QStringLiteral("Covariance Matrices of 3D Points and Stations")));
    layout->addWidget(box);
    layout->addWidget(Make<QCheckBox>(1303, QStringLiteral("Show Thumbnails on Print")));
    layout->addStretch();
}

void COutputPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1683, m_bResiduals);
    DDX_Check(dx, 1587, m_bCameraParameters);
    DDX_Check(dx, 1090, m_bCorrelations);
    DDX_Check(dx, 1094, m_bRotationMatrices);
    DDX_Check(dx, 1095, m_bRotationAngles);
    DDX_Check(dx, 1096, m_bCovariances);
}

bool COutputPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    GetDlgItem(1303)->setEnabled(false);
    return true;
}

// --- Project Units -------------------------------------------------------------------

CProjectUnitsPage::CProjectUnitsPage() : CPropertyPage(1555, QStringLiteral("Project Units"))
{
    auto* layout = new QVBoxLayout(this);
    auto* box = new QGroupBox;
    auto* boxLayout = new QVBoxLayout(box);
    AddUnitButtons(boxLayout, 1245);
    layout->addWidget(box);
    layout->addStretch();
}

void CProjectUnitsPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Radio(dx, 1245, m_nUnit);
}

// --- Image Scanning ------------------------------------------------------------------

CImageScanningPage::CImageScanningPage() : CPropertyPage(1556, QStringLiteral("Image Scanning"))
{
    auto* layout = new QGridLayout(this);
    auto* top = new QGridLayout;
    auto* method = Make<QComboBox>(1403);
    method->addItem(QStringLiteral("Standard"));
    Row(top, QStringLiteral("Method"), method);
    layout->addLayout(top, 0, 0);

    auto* eo = new QGroupBox(QStringLiteral("EO Device Dection"));
    auto* eoGrid = new QGridLayout(eo);
    Row(eoGrid, QStringLiteral("Minimum Size"), Edit(1313));
    layout->addWidget(eo, 0, 1);

    auto* area = new QGroupBox(QStringLiteral("Target Area Range"));
    auto* areaGrid = new QGridLayout(area);
    Row(areaGrid, QStringLiteral("Minimum"), Edit(1259));
    Row(areaGrid, QStringLiteral("Maximum"), Edit(1275));
    layout->addWidget(area, 1, 0);

    auto* blobs = new QGroupBox(QStringLiteral("Optimizing Blobs"));
    auto* blobGrid = new QGridLayout(blobs);
    Row(blobGrid, QStringLiteral("Min. target error"), Edit(1314));
    Row(blobGrid, QStringLiteral("Deviation factor"), Edit(1315));
    Row(blobGrid, QStringLiteral("Driveback distance threshold"), Edit(1276));
    layout->addWidget(blobs, 1, 1);

    const struct {
        const char* title;
        int area, optimizing, ellipse, refuse, jump, ratio, grey;
    } sets[] = {{"High Quality Image Scanning", 1320, 1318, 1207, 1319, 1311, 1312, 1310},
                {"Low Quality Image Scanning", 1321, 1316, 1206, 1317, 1322, 1323, 1324}};
    for (int s = 0; s < 2; ++s) {
        auto* box = new QGroupBox(QString::fromLatin1(sets[s].title));
        auto* grid = new QGridLayout(box);
        grid->addWidget(Make<QCheckBox>(sets[s].area, QStringLiteral("Aera range check")), 0, 0, 1, 2);
        grid->addWidget(Make<QCheckBox>(sets[s].optimizing, QStringLiteral("Optimizing blobs")), 1, 0, 1, 2);
        grid->addWidget(Make<QCheckBox>(sets[s].ellipse, QStringLiteral("Ellipse fit")), 2, 0, 1, 2);
        grid->addWidget(Make<QCheckBox>(sets[s].refuse, QStringLiteral("Refuse moving centroid")), 3, 0, 1, 2);
        Row(grid, QStringLiteral("Target jump"), Edit(sets[s].jump));
        Row(grid, QStringLiteral("Target/Image ratio"), Edit(sets[s].ratio));
        Row(grid, QStringLiteral("Min. grey value"), Edit(sets[s].grey));
        layout->addWidget(box, 2, s);
    }
    layout->addWidget(Make<QCheckBox>(1309, QStringLiteral("Debug scanning")), 3, 0);
}

void CImageScanningPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1313, m_nEODeviceMinSize);
    DDV_MinMaxInt(dx, m_nEODeviceMinSize, 0, 1000);
    DDX_Text(dx, 1259, m_nTargetAreaMin);
    DDX_Text(dx, 1275, m_nTargetAreaMax);
    DDX_Check(dx, 1320, m_bHighAreaCheck);
    DDX_Check(dx, 1318, m_bHighOptimizing);
    DDX_Check(dx, 1207, m_bHighEllipseFit);
    DDX_Check(dx, 1319, m_bHighRefuseMoving);
    DDX_Text(dx, 1311, m_nHighTargetJump);
    DDV_MinMaxInt(dx, m_nHighTargetJump, 0, 255);
    DDX_Text(dx, 1312, m_dHighTargetImageRatio);
    DDV_MinMaxDouble(dx, m_dHighTargetImageRatio, 0.0, 1.0);
    DDX_Text(dx, 1310, m_nHighMinGrey);
    DDV_MinMaxInt(dx, m_nHighMinGrey, 0, 255);
    DDX_Check(dx, 1321, m_bLowAreaCheck);
    DDX_Check(dx, 1316, m_bLowOptimizing);
    DDX_Check(dx, 1206, m_bLowEllipseFit);
    DDX_Check(dx, 1317, m_bLowRefuseMoving);
    DDX_Text(dx, 1322, m_nLowTargetJump);
    DDV_MinMaxInt(dx, m_nLowTargetJump, 0, 255);
    DDX_Text(dx, 1323, m_dLowTargetImageRatio);
    DDV_MinMaxDouble(dx, m_dLowTargetImageRatio, 0.0, 1.0);
    DDX_Text(dx, 1324, m_nLowMinGrey);
    DDV_MinMaxInt(dx, m_nLowMinGrey, 0, 255);
    DDX_Text(dx, 1314, m_nMinTargetError);
    DDV_MinMaxInt(dx, m_nMinTargetError, 0, 100);
    DDX_Text(dx, 1315, m_dDeviationFactor);
    DDX_Text(dx, 1276, m_dDrivebackThreshold);
    DDV_MinMaxDouble(dx, m_dDrivebackThreshold, 0.0, 10.0);
    if (dx->Failed())
        return;
    // The hidden box is set and read directly.
    if (auto* debug = Item<QCheckBox>(1309)) {
        if (dx->m_bSaveAndValidate)
            m_bDebugScanning = debug->isChecked() ? 1 : 0;
        else
            debug->setChecked(m_bDebugScanning != 0);
    }
    if (dx->m_bSaveAndValidate)
        m_nMethod = Item<QComboBox>(1403)->currentIndex();
}

bool CImageScanningPage::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    Item<QComboBox>(1403)->setCurrentIndex(0);
    GetDlgItem(1309)->hide();
    return true;
}

// --- Image Simulation ---------------------------------------------------------------

CSimulationPreferences::CSimulationPreferences(const CProjectDocument* doc)
    : CPropertyPage(357, QStringLiteral("Image Simulation")), m_pDoc(doc)
{
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Maximum target viewing angle")), 0, 0);
    grid->addWidget(Edit(1412), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("degree")), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Target radius")), 1, 0);
    grid->addWidget(Edit(1398), 1, 1);
    grid->addWidget(Make<QLabel>(1401), 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Target normal")), 2, 0);
    auto* normal = new QHBoxLayout;
    for (int id : {1291, 1292, 1293})
        normal->addWidget(Edit(id));
    grid->addLayout(normal, 2, 1, 1, 2);
    layout->addLayout(grid);
    layout->addStretch();
}

void CSimulationPreferences::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1412, m_dMaxViewingAngle);
    DDX_Text(dx, 1398, m_dTargetRadius);
    DDX_Text(dx, 1291, m_dNormalX);
    DDX_Text(dx, 1292, m_dNormalY);
    DDX_Text(dx, 1293, m_dNormalZ);
}

bool CSimulationPreferences::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    const CProjectDocument* doc = m_pDoc ? m_pDoc : GetActiveProjectDoc();
    if (doc)
        SetWindowText(GetDlgItem(1401), FromCp1252(doc->GetUnitName(false).GetText()));
    return true;
}

// --- The sheet ------------------------------------------------------------------------

void CKestrelonDoc::OnPreferences()
{
    RunPreferences(0);
}

void CKestrelonDoc::RunPreferences(int page)
{
    const double pi = 4.0 * std::atan(1.0);
    CPropertySheet sheet(QStringLiteral("Kestrelon Preferences"), nullptr, page);
    auto* project = new CProjectPrefPage;
    auto* image = new CImagePrefPage;
    auto* digitizing = new CDigitizingPage;
    auto* output = new COutputPage;
    auto* units = new CProjectUnitsPage;
    auto* scanning = new CImageScanningPage;
    auto* matching = new CCorrespondingPointsPage(this);
    auto* simulation = new CSimulationPreferences(this);

    project->m_bAutoSave = autoSave;
    project->m_nAutoSavePeriod = autoSavePeriod;
    project->m_bStoreThumbnails = storeThumbnails;
    project->m_nThumbnailType = thumbnailType;
    project->m_nThumbnailWidth = thumbnailWidth;
    project->m_nThumbnailHeight = thumbnailHeight;
    project->m_nThumbnailScale = thumbnailScale;

    image->m_bNumberPoints = numberPoints;
    image->m_nTargetOverlay = targetOverlay;
    image->m_crCentroid = centroidColour;
    image->m_crManual = manualColour;
    image->m_crFiducial = fiducialColour;
    image->m_crResidualVector = residualVectorColour;

    digitizing->m_bAddDuplicateCoordinates = addDuplicateCoordinates;
    digitizing->m_bOverwriteDuplicateNumbers = overwriteDuplicateNumbers;
    digitizing->m_fDuplicateTolerance = float(duplicateTolerance);
    digitizing->m_nMaxPlumbObsPerLine = maxPlumbObsPerLine;

    output->m_bResiduals = settings.writeResiduals;
    output->m_bCameraParameters = settings.writeCameraParameters;
    output->m_bCorrelations = settings.writeCorrelations;
    output->m_bRotationMatrices = settings.writeRotationMatrices;
    output->m_bRotationAngles = settings.writeRotationAngles;
    output->m_bCovariances = settings.writeCovariances;

    units->m_nUnit = unitIndex;

    scanning->m_nMethod = scanMethod;
    scanning->m_nEODeviceMinSize = eoDeviceMinSize;
    scanning->m_nTargetAreaMin = targetAreaMin;
    scanning->m_nTargetAreaMax = targetAreaMax;
    scanning->m_bDebugScanning = scanFlags[0];
    scanning->m_bHighAreaCheck = scanFlags[1];
    scanning->m_bHighOptimizing = scanFlags[2];
    scanning->m_bHighEllipseFit = scanFlags[3];
    scanning->m_bHighRefuseMoving = scanFlags[4];
    scanning->m_bLowAreaCheck = scanFlags[5];
    scanning->m_bLowOptimizing = scanFlags[6];
    scanning->m_bLowEllipseFit = scanFlags[7];
    scanning->m_bLowRefuseMoving = scanFlags[8];
    scanning->m_nHighTargetJump = highTargetJump;
    scanning->m_dHighTargetImageRatio = highTargetImageRatio;
    scanning->m_nHighMinGrey = highMinGrey;
    scanning->m_nLowTargetJump = lowTargetJump;
    scanning->m_dLowTargetImageRatio = lowTargetImageRatio;
    scanning->m_nLowMinGrey = lowMinGrey;
    scanning->m_nMinTargetError = minTargetError;
    scanning->m_dDeviationFactor = deviationFactor;
    scanning->m_dDrivebackThreshold = drivebackThreshold;

    matching->m_dEpipolarDifference = maxEpipolarAngleDiff;
    matching->m_dDrivebackError = maxDrivebackError;
    matching->m_dMinIntersectionAngle = minIntersectionAngle;
    matching->m_bCloseToEODevice = onlyNearEODevice;
    matching->m_dDistanceInSizes = maxDistanceToEODevice;
    matching->m_bAcceptTwoRays = acceptTwoRayPoints;
    matching->m_strPrefix = FromCp1252(newPointPrefix.GetText());

    simulation->m_dMaxViewingAngle = maxViewingAngle * 180.0 / pi;
    simulation->m_dTargetRadius = targetRadius;
    simulation->m_dNormalX = targetNormal[0];
    simulation->m_dNormalY = targetNormal[1];
    simulation->m_dNormalZ = targetNormal[2];

    for (CPropertyPage* p : {static_cast<CPropertyPage*>(project), static_cast<CPropertyPage*>(image),
                             static_cast<CPropertyPage*>(digitizing), static_cast<CPropertyPage*>(output),
                             static_cast<CPropertyPage*>(units), static_cast<CPropertyPage*>(scanning),
                             static_cast<CPropertyPage*>(matching), static_cast<CPropertyPage*>(simulation)})
        sheet.AddPage(p);
    if (sheet.DoModal() != QDialog::Accepted)
        return;

    auto flag = [](int value) { return value == 1; };
    autoSave = flag(project->m_bAutoSave);
    autoSavePeriod = project->m_nAutoSavePeriod;
    storeThumbnails = flag(project->m_bStoreThumbnails);
    thumbnailType = project->m_nThumbnailType;
    thumbnailWidth = project->m_nThumbnailWidth;
    thumbnailHeight = project->m_nThumbnailHeight;
    thumbnailScale = project->m_nThumbnailScale;

    numberPoints = flag(image->m_bNumberPoints);
    targetOverlay = image->m_nTargetOverlay;
    centroidColour = image->m_crCentroid;
    manualColour = image->m_crManual;
    fiducialColour = image->m_crFiducial;
    residualVectorColour = image->m_crResidualVector;

    addDuplicateCoordinates = flag(digitizing->m_bAddDuplicateCoordinates);
    overwriteDuplicateNumbers = flag(digitizing->m_bOverwriteDuplicateNumbers);
    duplicateTolerance = digitizing->m_fDuplicateTolerance;
    maxPlumbObsPerLine = digitizing->m_nMaxPlumbObsPerLine;

    settings.writeResiduals = flag(output->m_bResiduals);
    settings.writeCameraParameters = flag(output->m_bCameraParameters);
    settings.writeCorrelations = flag(output->m_bCorrelations);
    settings.writeRotationMatrices = flag(output->m_bRotationMatrices);
    settings.writeRotationAngles = flag(output->m_bRotationAngles);
    settings.writeCovariances = flag(output->m_bCovariances);

    const int previousUnit = unitIndex;
    if (units->m_nUnit >= 0 && units->m_nUnit < kUnitCount)
        unitIndex = units->m_nUnit;

    scanMethod = scanning->m_nMethod;
    eoDeviceMinSize = scanning->m_nEODeviceMinSize;
    targetAreaMin = scanning->m_nTargetAreaMin;
    targetAreaMax = scanning->m_nTargetAreaMax;
    const int flags[9] = {scanning->m_bDebugScanning, scanning->m_bHighAreaCheck, scanning->m_bHighOptimizing,
                          scanning->m_bHighEllipseFit, scanning->m_bHighRefuseMoving, scanning->m_bLowAreaCheck,
                          scanning->m_bLowOptimizing, scanning->m_bLowEllipseFit, scanning->m_bLowRefuseMoving};
    for (int i = 0; i < 9; ++i)
        scanFlags[i] = flag(flags[i]);
    highTargetJump = scanning->m_nHighTargetJump;
    highTargetImageRatio = scanning->m_dHighTargetImageRatio;
    highMinGrey = scanning->m_nHighMinGrey;
    lowTargetJump = scanning->m_nLowTargetJump;
    lowTargetImageRatio = scanning->m_dLowTargetImageRatio;
    lowMinGrey = scanning->m_nLowMinGrey;
    minTargetError = scanning->m_nMinTargetError;
    deviationFactor = scanning->m_dDeviationFactor;
    drivebackThreshold = scanning->m_dDrivebackThreshold;

    maxEpipolarAngleDiff = matching->m_dEpipolarDifference;
    maxDrivebackError = matching->m_dDrivebackError;
    minIntersectionAngle = matching->m_dMinIntersectionAngle;
    onlyNearEODevice = flag(matching->m_bCloseToEODevice);
    maxDistanceToEODevice = matching->m_dDistanceInSizes;
    acceptTwoRayPoints = flag(matching->m_bAcceptTwoRays);
    // A prefix that is no valid label leaves the old one.
    newPointPrefix = ToCp1252(matching->m_strPrefix).c_str();

    maxViewingAngle = pi * simulation->m_dMaxViewingAngle * (1.0 / 180.0);
    targetRadius = simulation->m_dTargetRadius;
    targetNormal[0] = simulation->m_dNormalX;
    targetNormal[1] = simulation->m_dNormalY;
    targetNormal[2] = simulation->m_dNormalZ;

    if (unitIndex != previousUnit)
        ApplyPreferences(previousUnit);
    UpdateAllViews(nullptr, 0);
    SetModifiedFlag(true);
}
