#include "ImageCommands.h"

#include "Camera.h"
#include "Controls.h"
#include "EllipseRecord.h"
#include "FileIO.h"
#include "FileSystem.h"
#include "Frames.h"
#include "Hooks.h"
#include "ImageObservation.h"
#include "ImageStore.h"
#include "ImageView.h"
#include "JpegConversion.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "OkCancelButtons.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SyntheticImageGenerator.h"
#include "TextFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double kPi = 4.0 * std::atan(1.0);

template <class T>
T* Named(T* widget, int id)
{
    widget->setObjectName(IdName(id));
    return widget;
}

void Enable(CDialog* dialog, int id, bool on)
{
    if (QWidget* w = dialog->GetDlgItem(id))
        w->setEnabled(on);
}

bool Checked(CDialog* dialog, int id)
{
    auto* box = dialog->Item<QCheckBox>(id);
    return box && box->isChecked();
}

// The selected set of a point-set combo, found by its title.
CPointSet* SelectedSet(const CKestrelonDoc* doc, const QComboBox* combo)
{
    if (!doc || !combo || combo->currentIndex() < 0)
        return nullptr;
    return doc->pointSets.FindSetByTitle(ToCp1252(combo->currentText()).c_str());
}

// The point sets with the driver set chosen, and the document's viewing angle in degrees.
void ShowSimulationSource(CComboBoxPointSet* sets, CNumberEdit* angle, CKestrelonDoc* doc)
{
    sets->Fill(doc);
    sets->SelectDriverSet(doc);
    angle->SetValue(doc->maxViewingAngle * 180.0 / kPi);
}

QString ProjectFolder(const CKestrelonDoc* doc)
{
    return doc ? FromCp1252(doc->GetProjectDirectory().GetText()) : QString();
}

// <folder>/<image name><ending>; the root folder gets no second "/".
std::string SimulatedFilePath(const CDynString& folder, const CProjectImage& image, const char* ending)
{
    std::string path = folder.GetText();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + image.name.GetText() + ending;
}

// What the pictures of a simulation are drawn with.
struct SimulationTargets {
    double normal[3];
    double radius;
    double angle; // radians
    int method;
    int steps;
    int source;
};

// Before a picture is written: false, after a message naming the set, when
// a picture would show none of the targets that lie in its view (targets
// without a usable radius), or when no picture would show any target.
bool SimulatedPicturesShowTargets(CKestrelonDoc* doc, const CPointSet& set, const QString& title,
                                  const SimulationTargets& t)
{
    QStringList blank;
    int drawn = 0;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        CProjectImage* image = doc->images.GetAt(i);
        const CCamera* camera = image ? doc->cameras.FindByName(image->cameraName.GetText()) : nullptr;
        if (!camera)
            continue;
        CSyntheticImageGenerator generator(set, *image, *camera, doc->settings.defaultImageSigma);
        generator.SetParameters(t.normal[0], t.normal[1], t.normal[2], t.radius);
        generator.SetMaxViewAngle(t.angle);
        int inView = 0, shown = 0;
        generator.CountTargets(t.method, t.steps, t.source, inView, shown);
        drawn += shown;
        if (inView > 0 && shown == 0)
            blank << FromCp1252(image->name.GetText());
    }
    if (blank.isEmpty() && drawn > 0)
        return true;
    if (blank.size() > 5)
        blank = blank.mid(0, 5) << QStringLiteral("...");
    const QString where = blank.isEmpty() ? QStringLiteral("no image sees one of its targets")
                                          : QStringLiteral("its targets do not show in ") + blank.join(QStringLiteral(", "));
    const QString text = QStringLiteral("The 3D array %1 would give pictures without targets: %2.\n"
                                        "Check the target radius and normal of its points and the default target "
                                        "information of the project preferences.\nNo image was simulated.")
                             .arg(title, where);
    AfxMessageBox(ToCp1252(text).c_str(), MB_ICONERROR);
    return false;
}

} // namespace

// --- JPEG conversion -----------------------------------------------------------

int ConvertJpegImages(const CDynString& folder)
{
    CDirSearch search;
    if (!search.FindFirst(folder, "jpg"))
        return 0;
    CJpegConversionDlg dialog;
    dialog.SetDirectory(folder);
    dialog.OnInitDialog();
    dialog.show();
    dialog.Convert();
    return 0;
}

CJpegConversionDlg::CJpegConversionDlg(QWidget* parent) : CDialog(265, parent)
{
    setWindowTitle(QStringLiteral("Converting JPEG Images"));
    auto* layout = new QVBoxLayout(this);
    m_ctlProgress = Named(new QProgressBar, 1292);
    layout->addWidget(m_ctlProgress);
    setMinimumWidth(320);
}

bool CJpegConversionDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    UpdateData(false);
    return true;
}

void CJpegConversionDlg::DoDataExchange(CDataExchange*) {}

int CJpegConversionDlg::CountJpegFiles()
{
    int n = 0;
    for (bool found = m_dirSearch.FindFirst(m_folder, "jpg"); found; found = m_dirSearch.FindNext())
        ++n;
    return n;
}

void CJpegConversionDlg::Convert()
{
    const int n = CountJpegFiles();
    m_ctlProgress->setRange(0, n);
    m_ctlProgress->setValue(0);
    UpdateData(false);
    int i = 0;
    for (bool found = m_dirSearch.FindFirst(m_folder, "jpg"); found; found = m_dirSearch.FindNext()) {
        CFilePath target(m_dirSearch.GetText());
        target.SetExtension("tif");
        CDirSearch probe(target.GetText());
        if (!probe.Exists())
            ConvertJpegToGreyTiff(m_dirSearch.GetText());
        m_ctlProgress->setValue(++i);
        UpdateData(false);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

// --- Ellipse files --------------------------------------------------------------

std::string FormatEllipseLine(const char* label, double x, double y, double major, double minor, double rotation)
{
    double degrees = rotation * 180.0 / kPi;
    if (rotation < 0.0)
        degrees += 180.0;
    char line[160];
    std::snprintf(line, sizeof line, "%16s%15.6f%15.6f%15.6f%15.6f%15.6f", label, x, y, major, minor, degrees);
    return line;
}

bool WriteEllipseFile(const CProjectImage& image, const CDynString& folder)
{
    std::string text;
    for (int i = 0; i < image.targets.GetSize(); ++i) {
        const CImageObservation* o = image.GetObservationAt(i);
        const CTargetEllipse* e = o ? o->GetEllipse() : nullptr;
        if (!e)
            continue;
        text += FormatEllipseLine(o->label.GetText(), o->x, o->y, e->major, e->minor, e->rotation);
        text += "\r\n";
    }
    if (text.empty())
        return true;
    const std::string path = SimulatedFilePath(folder, image, "_ellipses.txt");
    std::string error;
    if (WriteFileAtomically(path, text.data(), text.size(), error))
        return true;
    const std::string message = "The file " + path + " could not be written: " + error + ".";
    AfxMessageBox(message.c_str(), MB_ICONERROR);
    return false;
}

// --- The folder of the pictures ----------------------------------------------------

bool SimulatedImageFolder(const CKestrelonDoc& doc, const QString& typed, CDynString& folder)
{
    if (typed.trimmed().isEmpty()) {
        AfxMessageBox("Enter the folder in which the images are to be created.", MB_ICONERROR);
        return false;
    }
    const QString project = ProjectFolder(&doc);
    if (QDir::isRelativePath(typed) && project.isEmpty()) {
        const std::string text = "The folder " + ToCp1252(typed) +
                                 " is taken in the project folder: save the project first, or enter a full path.";
        AfxMessageBox(text.c_str(), MB_ICONERROR);
        return false;
    }
    const QString path = QDir::cleanPath(QDir(project).absoluteFilePath(typed));
    const QFileInfo info(path);
    if (!info.isDir()) {
        const std::string name = ToCp1252(path);
        const std::string text = info.exists() ? name + " is not a folder." : "The folder " + name + " does not exist.";
        AfxMessageBox(text.c_str(), MB_ICONERROR);
        return false;
    }
    folder = ToCp1252(path).c_str();
    return true;
}

bool MayReplaceSimulatedFiles(const CKestrelonDoc& doc, const CDynString& folder, bool ellipses)
{
    int replaced = 0;
    for (int i = 0; i < doc.images.GetSize(); ++i) {
        const CProjectImage* image = doc.images.GetAt(i);
        if (!image || !doc.cameras.FindByName(image->cameraName.GetText()))
            continue; // no picture is made without the camera
        replaced += IsRegularFile(SimulatedFilePath(folder, *image, ".tif").c_str());
        if (ellipses)
            replaced += IsRegularFile(SimulatedFilePath(folder, *image, "_ellipses.txt").c_str());
    }
    if (replaced == 0)
        return true;
    CDynString text;
    if (replaced == 1)
        text.Format("1 image file in the folder %s would be replaced.\nContinue?", folder.GetText());
    else
        text.Format("%d image files in the folder %s would be replaced.\nContinue?", replaced, folder.GetText());
    return AfxMessageBox(text.GetText(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// --- Saving a rendered picture ----------------------------------------------------

bool SaveSimulatedPicture(CKestrelonDoc& doc, CProjectImage& image, CImageStore& picture, const CDynString& folder)
{
    std::vector<CMDIChildWnd*> frames;
    bool wasOpen = false;
    for (CView* v : doc.GetViews()) {
        auto* imageView = dynamic_cast<CImageViewBase*>(v);
        if (!imageView || imageView->GetImageRecord() != &image)
            continue;
        wasOpen = true;
        CMDIChildWnd* frame = imageView->GetParentFrame();
        if (frame && std::find(frames.begin(), frames.end(), frame) == frames.end())
            frames.push_back(frame);
    }
    for (CMDIChildWnd* frame : frames)
        delete frame;
    const std::string path = SimulatedFilePath(folder, image, ".tif");
    std::string error;
    const bool written = WriteGreyTiffFile(picture, path.c_str(), error);
    if (written) {
        image.SetFilePath(path.c_str());
    } else {
        const std::string message = "The image file " + path + " could not be written" +
                                    (error.empty() ? std::string(".") : ": " + error + ".");
        AfxMessageBox(message.c_str(), MB_ICONERROR);
    }
    if (wasOpen)
        OpenImageWindow(&doc, &image);
    return written;
}

// --- Simple dialog ------------------------------------------------------------------

CSimulateImagesSimpleDlg::CSimulateImagesSimpleDlg(QWidget* parent) : CDialog(362, parent)
{
    setWindowTitle(QStringLiteral("Simulate Images"));
    auto* grid = new QGridLayout(this);
    m_PointSets = Named(new CComboBoxPointSet, 1383);
    m_ViewingAngle = Named(new CNumberEdit(2), 1412);
    grid->addWidget(new QLabel(QStringLiteral("3D Array")), 0, 0);
    grid->addWidget(m_PointSets, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Maximum target viewing angle")), 1, 0);
    grid->addWidget(m_ViewingAngle, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("degrees")), 1, 2);
    auto* create = Named(new QCheckBox(QStringLiteral("Create Images in Directory")), 1411);
    grid->addWidget(create, 2, 0);
    grid->addWidget(Named(new QLineEdit, 1396), 2, 1);
    auto* browse = Named(new QPushButton(QStringLiteral("...")), 1397);
    grid->addWidget(browse, 2, 2);
    grid->addWidget(Named(new QCheckBox(QStringLiteral("store ellipse information of")), 1414), 3, 0);
    grid->addWidget(NewOkCancelButtons(this), 4, 0, 1, 3);
    connect(create, &QCheckBox::clicked, this, [this] { OnCreateImages(); });
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
}

void CSimulateImagesSimpleDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1411, m_bCreateImages);
    DDX_Text(dx, 1396, m_strDirectory);
}

bool CSimulateImagesSimpleDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc)
        return false;
    ShowSimulationSource(m_PointSets, m_ViewingAngle, doc);
    SetWindowText(GetDlgItem(1396), ProjectFolder(doc));
    UpdateData(true);
    EnableImageControls();
    return true;
}

void CSimulateImagesSimpleDlg::EnableImageControls()
{
    for (int id : {1396, 1397, 1414})
        Enable(this, id, m_bCreateImages != 0);
}

void CSimulateImagesSimpleDlg::OnCreateImages()
{
    UpdateData(true);
    EnableImageControls();
}

void CSimulateImagesSimpleDlg::OnBrowse()
{
    BrowseImageDirectory(this);
}

void BrowseImageDirectory(CDialog* dialog)
{
    CFileDialogRequest request;
    request.open = false;
    request.title = QStringLiteral("Select Image File Directory");
    request.folder = GetWindowText(dialog->GetDlgItem(1396));
    request.fileName = QStringLiteral("Image Files");
    request.filter = QStringLiteral("Image Files (*.tif *.bmp *.dib *.jpg);;TIFF Images (*.tif);;"
                                    "Bitmap Images (*.bmp *.dib);;JPEG Images (*.jpg);;All Files (*)");
    const QString chosen = AfxGetFileName(dialog, request);
    if (chosen.isEmpty())
        return;
    SetWindowText(dialog->GetDlgItem(1396), FromCp1252(CFilePath(ToCp1252(chosen).c_str()).GetFolder().GetText()));
}

void CSimulateImagesSimpleDlg::OnOK()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc || m_PointSets->currentIndex() < 0)
        return;
    CWaitCursor wait;
    if (!UpdateData(true))
        return;
    CPointSet* set = SelectedSet(doc, m_PointSets);
    if (!set)
        return;
    CDynString folder;
    if (m_bCreateImages && !SimulatedImageFolder(*doc, m_strDirectory, folder))
        return;
    if (!set->HasNormals() &&
        AfxMessageBox("The selected 3D array does not contain target information. Default\n"
                      "target information as set in the project peferences is used.",
                      MB_OKCANCEL | MB_ICONQUESTION, "Kestrelon") != IDOK)
        return;
    const bool storeEllipses = Checked(this, 1414);
    const double angle = m_ViewingAngle->GetValue() * kPi / 180.0;
    // Nothing is written, and no observation changes, when the pictures
    // would not show the targets.
    const SimulationTargets targets{{doc->targetNormal[0], doc->targetNormal[1], doc->targetNormal[2]},
                                    doc->targetRadius,
                                    angle,
                                    CSyntheticImageGenerator::kExact,
                                    0,
                                    CSyntheticImageGenerator::kOwnOrDefaultNormal};
    if (m_bCreateImages && (!SimulatedPicturesShowTargets(doc, *set, m_PointSets->currentText(), targets) ||
                            !MayReplaceSimulatedFiles(*doc, folder, storeEllipses)))
        return;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        CProjectImage* image = doc->images.GetAt(i);
        const CCamera* camera = image ? doc->cameras.FindByName(image->cameraName.GetText()) : nullptr;
        if (!camera)
            continue; // the generator needs the image's camera
        CSyntheticImageGenerator generator(*set, *image, *camera, doc->settings.defaultImageSigma);
        generator.SetParameters(doc->targetNormal[0], doc->targetNormal[1], doc->targetNormal[2], doc->targetRadius);
        generator.SetMaxViewAngle(angle);
        if (m_bCreateImages) {
            if (!generator.Render(CSyntheticImageGenerator::kProjectedCentre, CSyntheticImageGenerator::kExact, 0, 1,
                                  storeEllipses, CSyntheticImageGenerator::kOwnOrDefaultNormal, 1))
                continue;
            SaveSimulatedPicture(*doc, *image, generator.GetStore(), folder);
            if (storeEllipses)
                WriteEllipseFile(*image, folder);
        } else {
            generator.Render(CSyntheticImageGenerator::kProjectedCentre, CSyntheticImageGenerator::kLinear, 0, 1,
                             storeEllipses, CSyntheticImageGenerator::kOwnOrDefaultNormal, 0);
        }
    }
    doc->SetModifiedFlag(true);
    CDialog::OnOK();
}

// --- Extended dialog -------------------------------------------------------------------

CSimulateImagesDlg::CSimulateImagesDlg(QWidget* parent) : CDialog(314, parent)
{
    setWindowTitle(QStringLiteral("Simulate Images"));
    auto* grid = new QGridLayout(this);
    int row = 0;
    m_PointSets = Named(new CComboBoxPointSet, 1383);
    grid->addWidget(new QLabel(QStringLiteral("3D Array")), row, 0);
    grid->addWidget(m_PointSets, row++, 1, 1, 3);
    auto* own = Named(new QRadioButton(QStringLiteral("Use 3D array target information")), 1385);
    auto* custom = Named(new QRadioButton(QStringLiteral("Use costum target information")), 1040);
    grid->addWidget(own, row++, 0, 1, 4);
    grid->addWidget(custom, row++, 0, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Target normal")), row, 0);
    const char* axes[] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        auto* box = new QHBoxLayout;
        box->addWidget(new QLabel(QString::fromLatin1(axes[k])));
        box->addWidget(Named(new QLineEdit, 1291 + k));
        grid->addLayout(box, row, 1 + k);
    }
    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Target radius")), row, 0);
    grid->addWidget(Named(new QLineEdit, 1398), row, 1);
    grid->addWidget(Named(new QLabel(QStringLiteral("[Unit]")), 1401), row++, 2);
    m_ViewingAngle = Named(new CNumberEdit(2), 1412);
    grid->addWidget(new QLabel(QStringLiteral("Maximum target viewing angle")), row, 0);
    grid->addWidget(m_ViewingAngle, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("degrees")), row++, 2);
    auto* observations = Named(new QCheckBox(QStringLiteral("Create Observations")), 1407);
    grid->addWidget(observations, row++, 0, 1, 4);
    const char* centres[] = {"using real target centre", "using real ellipse centre", "using computed centroid"};
    auto* centreGroup = new QGroupBox;
    auto* centreLayout = new QVBoxLayout(centreGroup);
    for (int k = 0; k < 3; ++k)
        centreLayout->addWidget(Named(new QRadioButton(QString::fromLatin1(centres[k])), 1041 + k));
    grid->addWidget(centreGroup, row++, 0, 1, 4);
    auto* store = Named(new QCheckBox(QStringLiteral("store ellipse information of")), 1414);
    auto* kind = Named(new QComboBox, 1415);
    grid->addWidget(store, row, 0);
    grid->addWidget(kind, row++, 1, 1, 2);
    auto* images = Named(new QCheckBox(QStringLiteral("Create Images in Directory")), 1411);
    grid->addWidget(images, row, 0);
    grid->addWidget(Named(new QLineEdit, 1396), row, 1, 1, 2);
    grid->addWidget(Named(new QPushButton(QStringLiteral("...")), 1397), row++, 3);
    auto* method = Named(new QComboBox, 1403);
    grid->addWidget(Named(new QLabel(QStringLiteral("Ellipse Rasterizing Method")), 1417), row, 0);
    grid->addWidget(method, row++, 1, 1, 3);
    grid->addWidget(Named(new QLabel(QStringLiteral("Integration steps")), 1404), row, 0);
    grid->addWidget(Named(new QLineEdit, 1402), row++, 1);
    grid->addWidget(NewOkCancelButtons(this), row, 0, 1, 4);

    for (QRadioButton* b : {own, custom})
        connect(b, &QRadioButton::clicked, this, [this] { OnTargetInformation(); });
    for (int k = 0; k < 3; ++k)
        connect(Item<QRadioButton>(1041 + k), &QRadioButton::clicked, this, [this] { OnCentre(); });
    connect(method, qOverload<int>(&QComboBox::activated), this, [this] { OnMethod(); });
    connect(store, &QCheckBox::clicked, this, [this] { OnStoreEllipses(); });
    connect(observations, &QCheckBox::clicked, this, [this] { OnCreateObservations(); });
    connect(images, &QCheckBox::clicked, this, [this] { OnCreateImages(); });
    connect(Item<QPushButton>(1397), &QPushButton::clicked, this, [this] { BrowseImageDirectory(this); });
}

void CSimulateImagesDlg::DoDataExchange(CDataExchange* dx)
{
    // The two target-information buttons have ids that do not run on.
    auto* own = Item<QRadioButton>(1385);
    auto* custom = Item<QRadioButton>(1040);
    if (dx->m_bSaveAndValidate)
        m_nTargetInformation = own->isChecked() ? 0 : custom->isChecked() ? 1 : -1;
    else
        (m_nTargetInformation == 0 ? own : custom)->setChecked(true);
    DDX_Text(dx, 1291, m_dNormal[0]);
    DDX_Text(dx, 1292, m_dNormal[1]);
    DDX_Text(dx, 1293, m_dNormal[2]);
    DDX_Text(dx, 1398, m_dRadius);
    DDX_Check(dx, 1407, m_bCreateObservations);
    DDX_Radio(dx, 1041, m_nCentre);
    DDX_Check(dx, 1411, m_bCreateImages);
    DDX_Text(dx, 1396, m_strDirectory);
}

bool CSimulateImagesDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc)
        return false;
    ShowSimulationSource(m_PointSets, m_ViewingAngle, doc);
    m_strDirectory = ProjectFolder(doc);
    const double* n = doc->targetNormal;
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k)
        m_dNormal[k] = length > 0.0 ? n[k] / length : n[k];
    m_dRadius = doc->targetRadius;
    UpdateData(false);
    SetWindowText(GetDlgItem(1401), FromCp1252(doc->GetUnitName(false).GetText()));
    SetWindowText(GetDlgItem(1402), QStringLiteral("10"));
    auto* method = Item<QComboBox>(1403);
    method->addItems({QStringLiteral("Linear Interpolation"), QStringLiteral("Numerical Integration"),
                      QStringLiteral("Rigorus Ellipse Equation")});
    method->setCurrentIndex(2);
    auto* kind = Item<QComboBox>(1415);
    kind->addItem(QStringLiteral("Real Ellipse"));
    kind->setCurrentIndex(0);
    const CPointSet* set = SelectedSet(doc, m_PointSets);
    if (set && set->HasNormals()) {
        m_nTargetInformation = 0;
        UpdateData(false);
    }
    OnMethod();
    OnTargetInformation();
    OnCreateObservations();
    OnCentre();
    return true;
}

void CSimulateImagesDlg::OnTargetInformation()
{
    UpdateData(true);
    for (int id : {1291, 1292, 1293, 1398})
        Enable(this, id, m_nTargetInformation == 1);
}

void CSimulateImagesDlg::OnMethod()
{
    UpdateData(true);
    auto* method = Item<QComboBox>(1403);
    const bool on = method->currentIndex() == 1 && method->isEnabled();
    Enable(this, 1402, on);
    Enable(this, 1404, on);
}

void CSimulateImagesDlg::OnStoreEllipses()
{
    UpdateData(true);
    Enable(this, 1415, m_bCreateObservations && Checked(this, 1414));
}

void CSimulateImagesDlg::OnCentre()
{
    UpdateData(true);
    const bool on = !(m_bCreateImages == 0 && m_nCentre != 2);
    Enable(this, 1403, on);
    Enable(this, 1417, on);
    OnMethod();
}

void CSimulateImagesDlg::OnCreateObservations()
{
    UpdateData(true);
    for (int id : {1041, 1042, 1043, 1414})
        Enable(this, id, m_bCreateObservations != 0);
    OnStoreEllipses();
    Enable(this, 1, m_bCreateObservations || m_bCreateImages);
}

void CSimulateImagesDlg::OnCreateImages()
{
    UpdateData(true);
    Enable(this, 1396, m_bCreateImages != 0);
    Enable(this, 1397, m_bCreateImages != 0);
    Enable(this, 1, m_bCreateObservations || m_bCreateImages);
    OnCentre();
}

void CSimulateImagesDlg::OnOK()
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    if (!doc || m_PointSets->currentIndex() < 0)
        return;
    CWaitCursor wait;
    if (!UpdateData(true))
        return;
    CPointSet* set = SelectedSet(doc, m_PointSets);
    if (!set)
        return;
    CDynString folder;
    if (m_bCreateImages && !SimulatedImageFolder(*doc, m_strDirectory, folder))
        return;
    const int method = Item<QComboBox>(1403)->currentIndex();
    int steps = 0;
    std::sscanf(ToCp1252(GetWindowText(GetDlgItem(1402))).c_str(), "%d", &steps);
    const double angle = m_ViewingAngle->GetValue() * kPi / 180.0;
    const SimulationTargets targets{{m_dNormal[0], m_dNormal[1], m_dNormal[2]}, m_dRadius, angle, method, steps,
                                    m_nTargetInformation};
    if (m_bCreateImages && (!SimulatedPicturesShowTargets(doc, *set, m_PointSets->currentText(), targets) ||
                            !MayReplaceSimulatedFiles(*doc, folder, false)))
        return;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        CProjectImage* image = doc->images.GetAt(i);
        const CCamera* camera = image ? doc->cameras.FindByName(image->cameraName.GetText()) : nullptr;
        if (!camera)
            continue;
        CSyntheticImageGenerator generator(*set, *image, *camera, doc->settings.defaultImageSigma);
        generator.SetParameters(m_dNormal[0], m_dNormal[1], m_dNormal[2], m_dRadius);
        generator.SetMaxViewAngle(angle);
        if (!generator.Render(m_nCentre, method, steps, m_bCreateObservations != 0, Checked(this, 1414),
                              m_nTargetInformation, m_bCreateImages))
            continue;
        if (m_bCreateImages)
            SaveSimulatedPicture(*doc, *image, generator.GetStore(), folder);
    }
    doc->SetModifiedFlag(true);
    CDialog::OnOK();
}

// --- Commands of the document --------------------------------------------------------

void CKestrelonDoc::OnSimulateImages()
{
    CSimulateImagesSimpleDlg dialog;
    dialog.DoModal();
}

void CKestrelonDoc::OnSimulateImagesExtended()
{
    CSimulateImagesDlg dialog;
    dialog.DoModal();
}
