#include "SettingsDialogs.h"

#include "ProjectDocument.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

template <class T>
T* Make(int id, const QString& text = QString())
{
    T* w = new T;
    w->setObjectName(QStringLiteral("id%1").arg(id));
    if constexpr (!std::is_same_v<T, QLineEdit>)
        w->setText(text);
    return w;
}

QDialogButtonBox* OkCancel(QDialog* dialog, bool cancel = true)
{
    auto* box = new QDialogButtonBox(cancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("id1"));
    if (cancel)
        box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("id2"));
    return box;
}

// Fields shown in thousandths of the stored value.
constexpr double kShown = 1000.0;
constexpr double kStored = 0.001;

} // namespace

void AddUnitButtons(QBoxLayout* layout, int firstId)
{
    const char* const names[] = {"millimetres", "centimetres", "metres", "inches", "feet", "yards"};
    for (int i = 0; i < 6; ++i)
        layout->addWidget(Make<QRadioButton>(firstId + i, QString::fromLatin1(names[i])));
}

// --- Adjustment Control Variables --------------------------------------------

CAdjustmentControlsDlg::CAdjustmentControlsDlg(QWidget* parent) : CDialog(108, parent)
{
    setWindowTitle(QStringLiteral("Adjustment Control Variables"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Bundle")), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Triangulation")), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Resection")), 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Convergence Limit")), 1, 0);
    grid->addWidget(Make<QLineEdit>(1102), 1, 1);
    grid->addWidget(Make<QLineEdit>(1116), 1, 2);
    grid->addWidget(Make<QLineEdit>(1105), 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Maximum Iterations")), 2, 0);
    grid->addWidget(Make<QLineEdit>(1117), 2, 1);
    grid->addWidget(Make<QLineEdit>(1119), 2, 2);
    grid->addWidget(Make<QLineEdit>(1106), 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("Rejection Limit")), 3, 0);
    grid->addWidget(Make<QCheckBox>(1183, QStringLiteral("fixed")), 3, 1);
    grid->addWidget(Make<QLineEdit>(1120), 3, 2);
    grid->addWidget(Make<QLineEdit>(1104), 3, 3);

    auto* options = new QGroupBox(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("id1122"));
    auto* lower = new QGridLayout(options);
    lower->addWidget(new QLabel(QStringLiteral("Default Image Coordinate Sigma")), 0, 0);
    lower->addWidget(Make<QLineEdit>(1149), 0, 1);
    lower->addWidget(new QLabel(QStringLiteral("Minimum Acceptable Rays")), 1, 0);
    lower->addWidget(Make<QLineEdit>(1182), 1, 1);
    lower->addWidget(Make<QCheckBox>(1114, QStringLiteral("Total Error Propagation")), 2, 0, 1, 2);
    auto* datum = new QGroupBox(QStringLiteral("Bundle Adjustment"));
    auto* datumLayout = new QVBoxLayout(datum);
    datumLayout->addWidget(Make<QRadioButton>(1037, QStringLiteral("Free Network")));
    datumLayout->addWidget(Make<QRadioButton>(1123, QStringLiteral("Controlled")));
    lower->addWidget(datum, 3, 0, 1, 2);
    lower->addWidget(Make<QCheckBox>(1103, QStringLiteral("Rigorous Scale")), 4, 0, 1, 2);
    lower->addWidget(Make<QCheckBox>(1405, QStringLiteral("Correct Geometric Centre Eccentricity")), 5, 0, 1, 2);
    lower->addWidget(Make<QCheckBox>(1324, QStringLiteral("Correct Retro-Reflectiv Target Shift")), 6, 0, 1, 2);
    lower->addWidget(Make<QCheckBox>(1325, QStringLiteral("Use Ellipse Centres as Observations")), 7, 0, 1, 2);

    auto* criteria = Make<QPushButton>(1184, QStringLiteral("Rejection Criteria"));
    criteria->setAutoDefault(false);
    QObject::connect(criteria, &QPushButton::clicked, this, [this] { OnRejectionCriteria(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(options);
    layout->addWidget(criteria);
    layout->addWidget(OkCancel(this));
}

void CAdjustmentControlsDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1102, m_dBundleConvergence);
    DDX_Text(dx, 1117, m_nBundleIterations);
    DDX_Check(dx, 1114, m_bTotalErrorPropagation);
    DDX_Text(dx, 1182, m_nMinimumRays);
    DDX_Text(dx, 1120, m_dRejectionLimit);
    DDX_Text(dx, 1119, m_nTriangulationIterations);
    DDX_Text(dx, 1116, m_dTriangulationConvergence);
    DDX_Text(dx, 1105, m_dResectionConvergence);
    DDX_Text(dx, 1106, m_nResectionIterations);
    DDX_Text(dx, 1104, m_dResectionRejection);
    DDX_Text(dx, 1149, m_dDefaultSigma);
    DDX_Check(dx, 1183, m_bLimitFixed);
    DDX_Check(dx, 1037, m_bFreeNetwork);
    DDX_Check(dx, 1123, m_bControlled);
    DDX_Check(dx, 1103, m_bRigorousScale);
    DDX_Check(dx, 1405, m_bEccentricity);
    DDX_Check(dx, 1324, m_bTargetShift);
    DDX_Check(dx, 1325, m_bEllipseCentres);
}

bool CAdjustmentControlsDlg::OnInitDialog()
{
    CProjectDocument* doc = GetActiveProjectDoc();
    if (doc) {
        const CProjectSettings& s = doc->settings;
        m_dBundleConvergence = s.convergenceLimit * kShown;
        m_nBundleIterations = s.maxIterations;
        m_bTotalErrorPropagation = s.totalErrorPropagation ? 1 : 0;
        m_nMinimumRays = s.minimumRays;
        m_dRejectionLimit = s.rejectionLimit * kShown;
        m_nTriangulationIterations = s.triangulationMaxIterations;
        m_dTriangulationConvergence = s.triangulationConvergenceLimit * kShown;
        m_dResectionConvergence = s.resectionConvergenceLimit * kShown;
        m_nResectionIterations = s.resectionMaxIterations;
        m_dResectionRejection = s.resectionRejectionLimit * kShown;
        m_dDefaultSigma = s.defaultImageSigma;
        m_bLimitFixed = s.keepRejectionLimitFixed ? 1 : 0;
        m_bFreeNetwork = s.freeNetwork ? 1 : 0;
        m_bControlled = s.freeNetwork ? 0 : 1;
        m_bRigorousScale = s.rigorousScale ? 1 : 0;
    }
    m_bEccentricity = m_bTargetShift = m_bEllipseCentres = 0;
    for (int id : {1405, 1324, 1325})
        GetDlgItem(id)->setEnabled(false);
    if (!doc || doc->scaleBars.GetSize() == 0)
        GetDlgItem(1103)->hide();
    const CPointSet* control = doc ? doc->pointSets.GetControlSet() : nullptr;
    if (!control || control->GetSize() == 0)
        GetDlgItem(1123)->hide();
    UpdateData(false);
    return true;
}

void CAdjustmentControlsDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    if (CProjectDocument* doc = GetActiveProjectDoc()) {
        CProjectSettings& s = doc->settings;
        const CProjectSettings before = s;
        s.convergenceLimit = m_dBundleConvergence * kStored;
        s.maxIterations = m_nBundleIterations;
        s.minimumRays = m_nMinimumRays;
        s.rejectionLimit = m_dRejectionLimit * kStored;
        s.triangulationMaxIterations = m_nTriangulationIterations;
        s.triangulationConvergenceLimit = m_dTriangulationConvergence * kStored;
        s.resectionConvergenceLimit = m_dResectionConvergence * kStored;
        s.resectionMaxIterations = m_nResectionIterations;
        s.resectionRejectionLimit = m_dResectionRejection * kStored;
        s.defaultImageSigma = m_dDefaultSigma;
        s.keepRejectionLimitFixed = m_bLimitFixed == 1;
        s.totalErrorPropagation = m_bTotalErrorPropagation == 1;
        s.freeNetwork = m_bFreeNetwork == 1;
        s.rigorousScale = m_bRigorousScale == 1;
        s.correctCentreEccentricity = m_bEccentricity == 1;
        s.correctRetroTargetShift = m_bTargetShift == 1;
        s.useEllipseCentres = m_bEllipseCentres == 1;
        // The settings are saved with the project.
        const bool changed = before.convergenceLimit != s.convergenceLimit || before.maxIterations != s.maxIterations ||
                             before.minimumRays != s.minimumRays || before.rejectionLimit != s.rejectionLimit ||
                             before.triangulationMaxIterations != s.triangulationMaxIterations ||
                             before.triangulationConvergenceLimit != s.triangulationConvergenceLimit ||
                             before.resectionConvergenceLimit != s.resectionConvergenceLimit ||
                             before.resectionMaxIterations != s.resectionMaxIterations ||
                             before.resectionRejectionLimit != s.resectionRejectionLimit ||
                             before.defaultImageSigma != s.defaultImageSigma ||
                             before.keepRejectionLimitFixed != s.keepRejectionLimitFixed ||
                             before.totalErrorPropagation != s.totalErrorPropagation ||
                             before.freeNetwork != s.freeNetwork || before.rigorousScale != s.rigorousScale ||
                             before.correctCentreEccentricity != s.correctCentreEccentricity ||
                             before.correctRetroTargetShift != s.correctRetroTargetShift ||
                             before.useEllipseCentres != s.useEllipseCentres;
        if (changed)
            doc->SetModifiedFlag(true);
    }
    EndDialog(QDialog::Accepted);
}

void CAdjustmentControlsDlg::OnRejectionCriteria()
{
    CRejectionLimitDlg dialog(nullptr);
    dialog.DoModal();
}

// --- Modify Rejection Limit Criteria ----------------------------------------

CRejectionLimitDlg::CRejectionLimitDlg(QWidget* parent) : CDialog(113, parent)
{
    setWindowTitle(QStringLiteral("Modify Rejection Limit Criteria"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Criteria for Rejection Limit Computation")), 0, 0, 1, 4);
    layout->addWidget(new QLabel(QStringLiteral("NEW RMS = (OLD RMS)*FACTOR + AMOUNT ADDED")), 1, 0, 1, 4);
    layout->addWidget(new QLabel(QStringLiteral("NEW RMS = (OLD RMS)  *")), 2, 0);
    layout->addWidget(Make<QLineEdit>(1853), 2, 1);
    layout->addWidget(new QLabel(QStringLiteral("+")), 2, 2);
    layout->addWidget(Make<QLineEdit>(1686), 2, 3);
    layout->addWidget(OkCancel(this), 3, 0, 1, 4);
}

void CRejectionLimitDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1686, m_dAmountAdded);
    DDX_Text(dx, 1853, m_dFactor);
}

bool CRejectionLimitDlg::OnInitDialog()
{
    if (CProjectDocument* doc = GetActiveProjectDoc()) {
        m_dAmountAdded = doc->settings.rejectionOffset;
        m_dFactor = doc->settings.rejectionFactor;
    }
    UpdateData(false);
    return true;
}

void CRejectionLimitDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    if (CProjectDocument* doc = GetActiveProjectDoc()) {
        CProjectSettings& s = doc->settings;
        const bool changed = s.rejectionOffset != m_dAmountAdded || s.rejectionFactor != m_dFactor;
        s.rejectionOffset = m_dAmountAdded;
        s.rejectionFactor = m_dFactor;
        if (changed)
            doc->SetModifiedFlag(true);
    }
    EndDialog(QDialog::Accepted);
}

// --- Define Project Units -----------------------------------------------------

CDefineProjectUnitsDlg::CDefineProjectUnitsDlg(QWidget* parent) : CDialog(245, parent)
{
    setWindowTitle(QStringLiteral("Define Project Units"));
    auto* layout = new QVBoxLayout(this);
    AddUnitButtons(layout, 1257);
    layout->addWidget(OkCancel(this, false));
}

void CDefineProjectUnitsDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Radio(dx, 1257, m_nUnit);
}
