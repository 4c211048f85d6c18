#include "TransformationDialog.h"

#include "DialogLayout.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"
#include "PointSet.h"
#include "Similarity3D.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QVBoxLayout>

#include <memory>

using namespace dialog_layout;

namespace {

QString Fixed(double value)
{
    return QString::asprintf("%9.6f", value);
}

// The file dialog of the transformation and of the comparison.
QString ChooseXyzFile(const CKestrelonDoc& doc, const char* title)
{
    CFileDialogRequest request;
    request.title = QString::fromLatin1(title);
    request.folder = FromCp1252(doc.GetProjectFolder().GetText());
    request.fileName = QStringLiteral("*.xyz");
    request.filter = QStringLiteral("Transform Control Files (*.xyz)");
    request.defaultSuffix = QStringLiteral("xyz");
    return AfxGetFileName(AfxGetMainFrame(), request);
}

// The result files go into the project folder: an unsaved project has none.
bool HasProjectFolder(const CKestrelonDoc& doc)
{
    if (!doc.GetDocumentPath().isEmpty())
        return true;
    AfxMessageBox("Save Project First", MB_OK | MB_ICONINFORMATION);
    return false;
}

// The chosen file as a set named with its path; null when it cannot be read.
std::unique_ptr<CPointSet> LoadChosen(const QString& chosen)
{
    auto set = std::make_unique<CPointSet>();
    const std::string path = ToCp1252(chosen);
    if (!set->Load(path.c_str()))
        return nullptr;
    set->SetName(CDynString(path.c_str()));
    return set;
}

} // namespace

C3DTransformationDlg::C3DTransformationDlg(C3DTransformation* transformation, QWidget* parent)
    : CDialog(1547, parent), transformation(transformation)
{
    setWindowTitle(QStringLiteral("3D Transformation"));
    auto* layout = new QVBoxLayout(this);

    auto* files = new QGridLayout;
    Row(files, 0, 0, QStringLiteral("Control File"), kControlFile, true);
    Row(files, 1, 0, QStringLiteral("Secondary File"), kSecondaryFile);
    Row(files, 2, 0, QStringLiteral("Transformed File"), kTransformedFile);
    layout->addLayout(files);

    auto* numbers = new QGridLayout;
    auto* pointsBox = new QGroupBox(QStringLiteral("Points"));
    auto* pointsGrid = new QGridLayout(pointsBox);
    Row(pointsGrid, 0, 0, QStringLiteral("Common"), kCommon);
    Row(pointsGrid, 1, 0, QStringLiteral("Rejected"), kRejected);
    numbers->addWidget(pointsBox, 0, 0, 3, 2);
    Row(numbers, 0, 2, QStringLiteral("Iterations"), kIterations);
    Row(numbers, 1, 2, QStringLiteral("Cutoff"), kCutoff);
    auto* hold = new QCheckBox(QStringLiteral("Hold Scale"));
    hold->setObjectName(QStringLiteral("id%1").arg(kHoldScale));
    numbers->addWidget(hold, 2, 3);
    Row(numbers, 3, 0, QStringLiteral("Residual RMS"), kResidualRms);
    Row(numbers, 3, 2, QStringLiteral("Sigma0"), kSigma0);
    layout->addLayout(numbers);

    // A group box title holds one line: the two-line title is a label in the box.
    auto* rmsBox = new QGroupBox;
    auto* rmsGrid = new QGridLayout(rmsBox);
    rmsGrid->addWidget(new QLabel(QStringLiteral("RMS of Differences Between Control and\nTransformed Coordinates")), 0, 0,
                       1, 4);
    const struct {
        const char* text;
        int id;
    } columns[] = {{"X", kRmsX}, {"Y", kRmsY}, {"Z", kRmsZ}, {"XYZ", kRmsXYZ}};
    for (int i = 0; i < 4; ++i) {
        rmsGrid->addWidget(new QLabel(QString::fromLatin1(columns[i].text)), 1, i);
        rmsGrid->addWidget(Edit(columns[i].id), 2, i);
    }
    layout->addWidget(rmsBox);
    layout->addWidget(Edit(kStatus, true));

    auto* buttons = new QDialogButtonBox;
    QPushButton* go = Button(QStringLiteral("&Go"), kGo);
    buttons->addButton(go, QDialogButtonBox::ActionRole);
    buttons->addButton(Button(QStringLiteral("Accept"), IDOK), QDialogButtonBox::AcceptRole);
    buttons->addButton(Button(QStringLiteral("Cancel"), IDCANCEL), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QObject::connect(go, &QPushButton::clicked, this, [this] { OnGo(); });
    QObject::connect(hold, &QCheckBox::clicked, this, [this] { OnHoldScale(); });
    layout->addWidget(buttons);
}

void C3DTransformationDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, kIterations, iterations);
    DDX_Text(dx, kCommon, commonPoints);
    DDX_Text(dx, kControlFile, controlFile);
    DDX_Text(dx, kTransformedFile, transformedFile);
    DDX_Text(dx, kRejected, rejectedPoints);
    DDX_Text(dx, kSecondaryFile, secondaryFile);
    DDX_Text(dx, kCutoff, cutoff);
    DDX_Check(dx, kHoldScale, holdScale);
    DDX_Text(dx, kResidualRms, residualRms);
    DDX_Text(dx, kSigma0, sigma0);
    DDX_Text(dx, kRmsX, rmsX);
    DDX_Text(dx, kRmsXYZ, rmsXYZ);
    DDX_Text(dx, kRmsY, rmsY);
    DDX_Text(dx, kRmsZ, rmsZ);
}

bool C3DTransformationDlg::OnInitDialog()
{
    if (auto* doc = GetActiveKestrelonDoc())
        transformedFile = FromCp1252(doc->GetTransformedPointsPath().GetText());
    if (transformation) {
        holdScale = transformation->fixedScale;
        cutoff = transformation->cutoff;
        commonPoints = transformation->GetCommonPointCount();
        controlFile = FromCp1252(transformation->GetControlSetName().GetText());
        secondaryFile = FromCp1252(transformation->GetTransformSetName().GetText());
    }
    GetDlgItem(IDOK)->hide();
    UpdateData(false);
    return true;
}

void C3DTransformationDlg::OnHoldScale()
{
    if (UpdateData(true) && transformation)
        transformation->fixedScale = holdScale;
}

void C3DTransformationDlg::OnGo()
{
    if (!UpdateData(true) || !transformation)
        return;
    transformation->Reset();
    GetDlgItem(IDOK)->hide();
    transformation->cutoff = cutoff;
    const bool ok = transformation->Compute();
    iterations = transformation->iterations;
    rejectedPoints = transformation->GetRejectedCount();
    residualRms = Fixed(transformation->rms);
    rmsX = Fixed(transformation->discrepancyRms[0]);
    rmsY = Fixed(transformation->discrepancyRms[1]);
    rmsZ = Fixed(transformation->discrepancyRms[2]);
    rmsXYZ = Fixed(transformation->discrepancyRms[3]);
    sigma0 = Fixed(transformation->sigma0);
    SetWindowText(GetDlgItem(kStatus), QString::fromLatin1(GeometryStatusText(transformation->statusId)));
    if (ok)
        GetDlgItem(IDOK)->show();
    UpdateData(false);
}

bool CKestrelonDoc::Run3DTransformation(std::string setName)
{
    CWaitCursor wait;
    CPointSet* toTransform = pointSets.FindByName(setName.c_str());
    if (!toTransform || !HasProjectFolder(*this))
        return false;
    const QString chosen = ChooseXyzFile(*this, "Select Control for 3D Transformation");
    if (chosen.isEmpty())
        return false;
    std::unique_ptr<CPointSet> control = LoadChosen(chosen);
    if (!control)
        return false;
    CPointSet result;
    result.isDiscrepancySet = true;
    const CFilePath resultPath = GetTransformedPointsPath();
    result.SetName(CDynString(resultPath.GetText()));

    C3DTransformation transformation(toTransform, control.get(), &result);
    C3DTransformationDlg dialog(&transformation, AfxGetMainFrame());
    if (dialog.DoModal() != QDialog::Accepted)
        return false;
    const CPointSet* stored = pointSets.ReplaceTransSet(result);
    std::string error;
    if (!stored->WriteXyzFile(resultPath.GetText(), 12, 13, 7, &error))
        AfxMessageBox(("Can't write " + std::string(resultPath.GetText()) + ": " + error).c_str(), MB_OK | MB_ICONERROR);
    SetModifiedFlag(true);
    WriteTransformationReport(*control, *toTransform, result, transformation);
    UpdateAllViews();
    return true;
}

bool CKestrelonDoc::CompareWith3DFile(std::string setName)
{
    CWaitCursor wait;
    CPointSet* project = pointSets.FindByName(setName.c_str());
    if (!project || !HasProjectFolder(*this))
        return false;
    const QString chosen = ChooseXyzFile(*this, "Select 3D File to Compare with");
    if (chosen.isEmpty())
        return false;
    std::unique_ptr<CPointSet> file = LoadChosen(chosen);
    if (!file)
        return false;
    CPointSet result;
    const CFilePath resultPath = GetComparePointsPath();
    result.SetName(CDynString(resultPath.GetText()));
    for (int i = 0; i < project->GetSize(); ++i) {
        const CObjectPoint* p = project->GetAt(i);
        const CObjectPoint* q = p ? file->FindPoint(p->label) : nullptr;
        if (!q)
            continue;
        CObjectPoint d(p->label, p->x, p->y, p->z);
        d.discrepancy[0] = q->x - p->x;
        d.discrepancy[1] = q->y - p->y;
        d.discrepancy[2] = q->z - p->z;
        result.AddPointSorted(d);
    }
    if (result.GetSize() == 0) {
        AfxMessageBox("No Identical Points found", MB_OK);
        return false;
    }
    // Written as stored, with the discrepancy flag: the file keeps the differences.
    const CPointSet* stored = pointSets.ReplaceCompareSet(result);
    std::string error;
    if (!stored->WriteXyzFile(resultPath.GetText(), 12, 13, 7, &error))
        AfxMessageBox(("Can't write " + std::string(resultPath.GetText()) + ": " + error).c_str(), MB_OK | MB_ICONERROR);
    SetModifiedFlag(true);
    UpdateAllViews();
    return true;
}
