#include "KestrelonDoc.h"

#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonView.h"
#include "MainFrame.h"
#include "3DView.h"
#include "BestFitReports.h"
#include "BundleDialogs.h"
#include "MeasurementDialogs.h"
#include "SettingsDialogs.h"
#include "BundleReport.h"
#include "CentroidSettings.h"
#include "DisplayImage.h"
#include "FileIO.h"
#include "FileSystem.h"
#include "Frames.h"
#include "GeometryReports.h"
#include "Message.h"
#include "TargetDetector.h"
#include "TextFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

CKestrelonDoc::CKestrelonDoc()
{
    InstallCommands();
}

QString CKestrelonDoc::GetDocumentPath() const
{
    return FromCp1252(GetPathName().GetText());
}

void CKestrelonDoc::SetDocumentPath(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    SetPathName(ToCp1252(absolute).c_str());
    SetTitle(QFileInfo(absolute).fileName() + (IsModified() ? QStringLiteral("*") : QString()));
    titleMarked = IsModified();
    if (CKestrelonApp* app = AfxGetApp())
        app->AddToRecentFileList(absolute);
}

void CKestrelonDoc::SetModifiedFlag(bool modified)
{
    QString title = GetTitleWithoutMark();
    if (!title.isEmpty()) {
        if (modified)
            title += '*';
        SetTitle(title);
        titleMarked = modified;
    }
    CProjectDocument::SetModifiedFlag(modified);
}

bool CKestrelonDoc::OnNewDocument()
{
    CDefineProjectUnitsDlg dialog(AfxGetMainFrame());
    if (dialog.DoModal() != QDialog::Accepted)
        return false;
    if (dialog.m_nUnit >= 0 && dialog.m_nUnit < kUnitCount)
        unitIndex = dialog.m_nUnit;
    eoDevice.SetUnit(GetUnitName(false).GetText());
    SetModifiedFlag(false);
    return true;
}

bool CKestrelonDoc::OnOpenDocument(const QString& path)
{
    const CProjectFileResult result = CProjectDocument::OnOpenDocument(ToCp1252(path).c_str());
    if (!result.ok)
        return false;
    if (result.changedByLoad)
        loadedUnchanged = 0;
    SetModifiedFlag(!loadedUnchanged);
    return true;
}

bool CKestrelonDoc::OnSaveDocument(const QString& path)
{
    savedInThisRun = 1;
    const CFilePath settingsPath = settings.projectPath;
    const CProjectFileResult result = CProjectDocument::OnSaveDocument(ToCp1252(path).c_str());
    if (!result.ok) {
        // The project stays where it was.
        settings.projectPath = settingsPath;
        return false;
    }
    SetModifiedFlag(false);
    if (CKestrelonView* tree = GetProjectTreeView()) {
        const CFilePath saved(ToCp1252(path).c_str());
        tree->UpdateProjectItemText(&saved);
    }
    return true;
}

C3DView* CKestrelonDoc::Find3DView() const
{
    for (CView* view : GetViews())
        if (auto* found = dynamic_cast<C3DView*>(view))
            return found;
    return nullptr;
}

void CKestrelonDoc::PointSetsRemoved()
{
    // Workers never touch a window.
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    for (CView* view : GetViews())
        if (auto* tree = dynamic_cast<CKestrelonView*>(view))
            if (auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame()))
                frame->ReleaseRemovedRecords();
}

bool CKestrelonDoc::HoldsPointSet(const CPointSet* set) const
{
    if (!set)
        return false;
    if (set == &eoDevice)
        return true;
    for (int i = 0; i < pointSets.GetSize(); ++i)
        if (pointSets.GetAt(i) == set)
            return true;
    if (const CKestrelonApp* app = AfxGetApp())
        for (int i = 0; i < app->eoDeviceDatabase.GetSize(); ++i)
            if (app->eoDeviceDatabase.GetAt(i) == set)
                return true;
    return false;
}

bool CKestrelonDoc::SaveProject()
{
    const QString path = GetDocumentPath();
    return path.isEmpty() ? DoSave(QString(), true) : DoSave(path, false);
}

CKestrelonDoc* GetActiveKestrelonDoc()
{
    CMainFrame* frame = AfxGetMainFrame();
    CMDIChildWnd* child = frame ? frame->MDIGetActive() : nullptr;
    return child ? dynamic_cast<CKestrelonDoc*>(child->GetActiveDocument()) : nullptr;
}

QString CKestrelonDoc::GetTitleWithoutMark() const
{
    QString title = GetTitle();
    if (titleMarked && title.endsWith('*'))
        title.chop(1);
    return title;
}

// ---------------------------------------------------------------------------
// Command map

int CKestrelonDoc::CountImages(const std::function<bool(const CProjectImage&)>& test) const
{
    int n = 0;
    for (int i = 0; i < images.GetSize(); ++i)
        if (const CProjectImage* image = images.GetAt(i))
            n += test(*image) ? 1 : 0;
    return n;
}

void CKestrelonDoc::InstallCommands()
{
    auto measured = [](const CProjectImage& m) {
        return m.enabled && m.oriented && m.GetEnabledObservationCount() > 0;
    };
    auto ready = [](const CProjectImage& m) { return m.enabled && m.oriented && m.targets.GetSize() > 0; };
    auto enabled = [](const CProjectImage& m) { return m.enabled; };

    OnCommand(32798, [this] { OnOutputObservations(); });
    OnUpdate(32798, [this](CCmdUI* ui) { ui->Enable(images.GetObservationCount() != 0); });
    OnUpdate(33042, [this, measured](CCmdUI* ui) { ui->Enable(CountImages(measured) >= 2); });
    OnUpdate(32874, [this](CCmdUI* ui) { ui->Enable(images.CountUsableImages() >= 2); });
    OnUpdate(359, [this](CCmdUI* ui) { ui->Enable(images.CountUsableImages() >= 2); });
    // Enabled by their rules once something runs them.
    OnUpdate(33045, [this, ready](CCmdUI* ui) {
        const CPointSet* set = pointSets.GetTriangulateSet();
        ui->Enable(HasCommandHandler(33045) &&
                   ((set && set->HasLabelWithPrefix(newPointPrefix)) || CountImages(ready) >= 2));
    });
    OnUpdate(33064, [this, enabled](CCmdUI* ui) { ui->Enable(HasCommandHandler(33064) && CountImages(enabled) >= 1); });
    OnCommand(33077, [this] { OnRelativeOrientation(); });
    OnCommand(32789, [this] { OnCentroidInfo(); });
    OnCommand(32873, [this] { OnAdjustmentControls(); });
    OnCommand(316, [this] { OnComputeTargetEllipses(); });
    OnCommand(317, [this] { OnComputeTargetNormals(); });
    OnCommand(32887, [this] { OnPreferences(); });
    OnCommand(33084, [this] { OnPointStatus(); });
    OnCommand(32874, [this] { OnRunBundle(); });
    OnCommand(33042, [this] { OnTriangulate(); });
    OnCommand(359, [this] { OnSimulationBundle(); });
    OnCommand(33085, [this] { OnSimulateImages(); });
    OnCommand(363, [this] { OnSimulateImagesExtended(); });
    OnCommand(33064, [this] { OnAutomaticMeasurement(); });
    OnCommand(33045, [this] { OnFindCorrespondingPoints(); });
    OnUpdate(33077, [this, enabled](CCmdUI* ui) {
        ui->Enable(CKestrelonView::HasRelativeOrientationDialog() && CountImages(enabled) >= 2);
    });
}

void CKestrelonDoc::OnOutputObservations()
{
    if (images.GetObservationCount() == 0)
        return;
    const CDynString folder = GetProjectDirectory();
    if (folder.IsEmpty()) {
        AfxMessageBox("Save Project First");
        return;
    }
    for (int i = 0; i < images.GetSize(); ++i) {
        const CProjectImage* image = images.GetAt(i);
        if (!image || image->targets.GetSize() == 0)
            continue;
        const std::string path = std::string(folder.GetText()) + "/" + image->GetFilePath().GetTitle().GetText() + ".icf";
        CTextFile file(path.c_str(), std::ios::out);
        if (!file)
            continue;
        image->WriteObservations(file, image->transformation);
    }
}

void CKestrelonDoc::OnCentroidWindowChange()
{
    CMainFrame* frame = AfxGetMainFrame();
    CMainToolBar* bar = frame ? frame->GetToolBar() : nullptr;
    QLineEdit* edit = bar ? bar->m_CentroidWindow : nullptr;
    if (!edit || !bar->isVisible())
        return;
    const std::string text = edit->text().left(15).toStdString();
    if (SetCentroidWindowSize(std::atoi(text.c_str()), 0))
        return;
    // Putting the current size back must not run this handler again.
    const bool blocked = edit->blockSignals(true);
    edit->setText(QString::number(GetCentroidSettings().windowSize));
    edit->blockSignals(blocked);
}

void CKestrelonDoc::OnRelativeOrientation()
{
    if (CKestrelonView* tree = GetProjectTreeView())
        tree->ShowRelativeOrientationDialog();
}

// ---------------------------------------------------------------------------
// Services

CDynString CKestrelonDoc::GetProjectDirectory() const
{
    return GetPathName().GetFolder();
}

bool CKestrelonDoc::CollectTriangulationImages()
{
    imagePtrs.RemoveAll();
    if (images.GetSize() < 2) {
        AfxMessageBox("insufficient images");
        return false;
    }
    if (CountImages([](const CProjectImage& m) { return m.enabled && m.oriented; }) < 2) {
        AfxMessageBox("Insufficient enabled and/or resected images");
        return false;
    }
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (image && image->enabled && image->oriented && image->GetEnabledObservationCount() > 0)
            imagePtrs.Add(image);
    }
    return true;
}

bool CKestrelonDoc::CollectBundleImages()
{
    imagePtrs.RemoveAll();
    if (images.GetSize() < 2) {
        AfxMessageBox("insufficient images");
        return false;
    }
    const int usable = images.CountUsableImages();
    if (usable < 2) {
        AfxMessageBox("Insufficient enabled and/or resected images");
        return false;
    }
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (image->enabled && image->oriented && image->targets.GetSize() >= 3)
            imagePtrs.Add(image);
    }
    if (!HasRollDiversity(imagePtrs))
        return AfxMessageBox("Insufficient roll diversity\nSelf-calibration may be weak\nContinue?", MB_YESNO) == IDYES;
    if (usable < 4) {
        CDynString text;
        text.Format("Only %d images\nSelf-calibration may be weak\nContinue?", usable);
        return AfxMessageBox(text.GetText(), MB_YESNO) == IDYES;
    }
    return true;
}

bool CKestrelonDoc::HasRollDiversity(const CDynArray<CProjectImage>& list)
{
    if (list.GetSize() < 2)
        return false;
    const double pi = 4.0 * std::atan(1.0);
    int count[4] = {0, 0, 0, 0};
    double largest = -1.0, smallest = 10.0, largestQ1 = -1.0, smallestQ4 = 10.0;
    for (int i = 0; i < list.GetSize(); ++i) {
        const CProjectImage* image = list.GetAt(i);
        if (!image)
            continue;
        double roll = image->GetRoll();
        if (roll < 0.0)
            roll += 2.0 * pi;
        const int q = roll < pi / 2 ? 0 : roll < pi ? 1 : roll < 1.5 * pi ? 2 : 3;
        ++count[q];
        largest = std::max(largest, roll);
        smallest = std::min(smallest, roll);
        if (q == 0)
            largestQ1 = std::max(largestQ1, roll);
        if (q == 3)
            smallestQ4 = std::min(smallestQ4, roll);
    }
    const int occupied = (count[0] > 0) + (count[1] > 0) + (count[2] > 0) + (count[3] > 0);
    if (occupied >= 3)
        return true;
    if (occupied <= 1)
        return false;
    if ((count[0] && count[2]) || (count[1] && count[3]))
        return true;
    if (count[0] && count[3])
        return smallestQ4 - largestQ1 <= 1.5 * pi;
    return largest - smallest >= pi / 2;
}

void CKestrelonDoc::ClearResectedFlags()
{
    for (int i = 0; i < images.GetSize(); ++i)
        if (CProjectImage* image = images.GetAt(i))
            image->oriented = false;
}

bool CKestrelonDoc::ComputeTriangulationStatistics(const CPointSet& set)
{
    const int large = CAdjustmentSummary::kLargestTotal;
    const int small = CAdjustmentSummary::kSmallestTotal;
    double total[3] = {0.0, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        summary.rmsTotal[a] = 0.0;
        summary.extremes[large][a] = 0.0;
        summary.extremes[small][a] = 100.0;
        summary.extremeLabels[large][a] = CNameBuffer();
        summary.extremeLabels[small][a] = CNameBuffer();
    }
    auto variance = [](const CObjectPoint& p, int a) { return report::Element(p.covariance, a, a); };
    for (int i = 0; i < set.GetSize(); ++i)
        if (const CObjectPoint* p = set.GetAt(i))
            if (p->inUse)
                for (int a = 0; a < 3; ++a)
                    total[a] += variance(*p, a);
    const int used = set.GetUsedCount();
    if (used > 0)
        for (int a = 0; a < 3; ++a)
            summary.rmsTotal[a] = std::sqrt(total[a] / used);
    // The point's residual figure already holds its RMS: it is left alone.
    for (int i = 0; i < set.GetSize(); ++i) {
        const CObjectPoint* p = set.GetAt(i);
        if (!p || !p->inUse || p->rayCount < settings.minimumRays)
            continue;
        for (int a = 0; a < 3; ++a) {
            const double s = std::sqrt(std::max(variance(*p, a), 0.0));
            if (s > summary.extremes[large][a]) {
                summary.extremes[large][a] = s;
                summary.extremeLabels[large][a] = p->label;
            }
            if (s < summary.extremes[small][a]) {
                summary.extremes[small][a] = s;
                summary.extremeLabels[small][a] = p->label;
            }
        }
    }
    return true;
}

bool CKestrelonDoc::AddScaleBarToProject(const char* name)
{
    CKestrelonApp* app = AfxGetApp();
    if (!scaleBars.FindByName(name))
        if (const CScaleBar* bar = app ? app->scaleBarDatabase.FindByName(name) : nullptr)
            scaleBars.AddCopy(*bar);
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, 0);
    return true;
}

int CKestrelonDoc::CountIcfImages() const
{
    return CountImages([](const CProjectImage& m) {
        const std::string name = m.GetFileName().GetText();
        return name.size() >= 3 && name.compare(name.size() - 3, 3, "icf") == 0;
    });
}

int CKestrelonDoc::CountPictureImages() const
{
    return images.GetSize() - CountIcfImages();
}

bool CKestrelonDoc::DiscardEmptyTriangulateSet()
{
    CPointSet* set = pointSets.GetTriangulateSet();
    if (set && set->GetSize() == 0) {
        for (CView* v : GetViews())
            if (auto* tree = dynamic_cast<CKestrelonView*>(v))
                tree->ForgetRecord(set);
        pointSets.Remove(set);
    }
    imagePtrs.RemoveAll();
    return true;
}

bool CKestrelonDoc::AcceptROArray()
{
    CPointSet* set = pointSets.GetROArraySet();
    if (!set)
        return true;
    set->WriteXyzFile(set->GetName().GetText(), 12, 13, 7);
    SetModifiedFlag(true);
    CKestrelonView* tree = GetProjectTreeView();
    if (tree)
        tree->SetSelectedPointSet(set);
    UpdateAllViews(nullptr, 0);
    if (tree)
        tree->SelectPointSetItem(QStringLiteral("ROArray"));
    return true;
}

bool CKestrelonDoc::ImageExists(const char* filePath, const CCamera& camera) const
{
    const std::string path = filePath ? filePath : "";
    const std::string id = camera.identifier.GetText();
    return CountImages([&](const CProjectImage& m) {
               return path == m.GetFilePath().GetText() && id == m.cameraName.GetText();
           }) > 0;
}

void CKestrelonDoc::ForgetImage(const CProjectImage* image)
{
    for (int i = imagePtrs.GetSize() - 1; i >= 0; --i)
        if (imagePtrs.GetAt(i) == image)
            imagePtrs.RemoveAt(i, 1);
}

// ---------------------------------------------------------------------------

namespace {

ImageSizeReader& SizeReader()
{
    static ImageSizeReader reader;
    return reader;
}

} // namespace

ImageSizeReader SetImageSizeReader(ImageSizeReader reader)
{
    std::swap(SizeReader(), reader);
    return reader;
}

bool ReadImageFileSize(const char* path, int& width, int& height)
{
    if (!path)
        return false;
    if (SizeReader())
        return SizeReader()(path, width, height);
    // Without an installed reader the display image reads the file's header.
    const std::unique_ptr<CDisplayImage> picture = CreateDisplayImage(path);
    return picture && picture->ReadSize(path, width, height) == 1;
}

bool CheckImageFitsCamera(const char* path, const CCamera& camera, bool& fits, bool verbose)
{
    fits = true;
    int width = 0, height = 0;
    if (!ReadImageFileSize(path, width, height))
        return false;
    if (width == camera.XPixels && height == camera.YPixels)
        return true;
    fits = false;
    if (verbose) {
        const std::string text = std::string("The dimension of the image '") + (path ? path : "") +
                                 "'\ndoesn't fit to the camera '" + camera.identifier.GetText() + "'";
        AfxMessageBox(text.c_str());
    }
    return false;
}

bool IsImageFileDisplayable(const CProjectImage& image)
{
    const std::string path = image.GetFilePath().GetText();
    const std::size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    return FileExists(path.c_str()) && (extension == "bmp" || extension == "tif" || extension == "dib");
}

// --- Result files of the geometry tools -----------------------------------------

CFilePath CKestrelonDoc::GetResectionReportPath() const
{
    return GetResultFilePath(GetPathName(), kResectionReportName);
}
CFilePath CKestrelonDoc::GetTransformationReportPath() const
{
    return GetResultFilePath(GetPathName(), kTransformationReportName);
}
CFilePath CKestrelonDoc::GetTriangulationReportPath() const
{
    return GetResultFilePath(GetPathName(), kTriangulationReportName);
}
CFilePath CKestrelonDoc::GetTransformedPointsPath() const
{
    return GetResultFilePath(GetPathName(), kTransformedPointsName);
}
CFilePath CKestrelonDoc::GetComparePointsPath() const
{
    return GetResultFilePath(GetPathName(), kComparePointsName);
}
CFilePath CKestrelonDoc::GetBestFitPlaneReportPath() const
{
    return GetResultFilePath(GetPathName(), kBestFitPlaneReportName);
}
CFilePath CKestrelonDoc::GetBestFitSphereReportPath() const
{
    return GetResultFilePath(GetPathName(), kBestFitSphereReportName);
}
CFilePath CKestrelonDoc::GetBestFitLineReportPath() const
{
    return GetResultFilePath(GetPathName(), kBestFitLineReportName);
}
CFilePath CKestrelonDoc::GetBestFitCircleReportPath() const
{
    return GetResultFilePath(GetPathName(), kBestFitCircleReportName);
}

bool CKestrelonDoc::WriteTransformationReport(const CPointSet& control, const CPointSet& toTransform,
                                              const CPointSet& result, const C3DTransformation& transformation)
{
    return ::WriteTransformationReport(GetPathName(), control, toTransform, result, transformation);
}

bool CKestrelonDoc::WriteResectionReport()
{
    return ::WriteResectionReport(*this);
}

bool CKestrelonDoc::WriteTriangulationReport(const CPointSet& set)
{
    ComputeTriangulationStatistics(set);
    return ::WriteTriangulationReport(*this, GetTitleWithoutMark().toUtf8().constData(), set);
}

// Best-fit reports.

bool CKestrelonDoc::WriteBestFitPlaneReport(const CBestFitPlane& fit) const
{
    return ::WriteBestFitPlaneReport(*this, fit);
}

bool CKestrelonDoc::WriteBestFitSphereReport(const CBestFitSphere& fit) const
{
    return ::WriteBestFitSphereReport(*this, fit);
}

bool CKestrelonDoc::WriteBestFitCircleReport(const CBestFitCircle& fit) const
{
    return ::WriteBestFitCircleReport(*this, fit);
}

bool CKestrelonDoc::WriteBestFitLineReport(const CBestFitLine& fit) const
{
    return ::WriteBestFitLineReport(*this, fit);
}

// ---------------------------------------------------------------------------
// Settings dialogs

void CKestrelonDoc::OnCentroidInfo()
{
    CCentroidParametersDlg dialog(nullptr);
    dialog.DoModal();
    CMainFrame* frame = AfxGetMainFrame();
    CMainToolBar* bar = frame ? frame->GetToolBar() : nullptr;
    if (bar && bar->isVisible() && bar->m_CentroidWindow) {
        const bool blocked = bar->m_CentroidWindow->blockSignals(true);
        bar->m_CentroidWindow->setText(QString::number(GetCentroidSettings().windowSize));
        bar->m_CentroidWindow->blockSignals(blocked);
    }
}

void CKestrelonDoc::OnAdjustmentControls()
{
    const double sigma = settings.defaultImageSigma;
    CAdjustmentControlsDlg dialog(nullptr);
    dialog.DoModal();
    if (settings.defaultImageSigma != sigma)
        images.SetObservationSigmas(settings.defaultImageSigma);
}

// ---------------------------------------------------------------------------
// Bundle runs

namespace {

// The steps both bundle commands take before their dialog; null when the
// run is not to start.
CPointSet* PrepareBundle(CKestrelonDoc& doc)
{
    if (!doc.CollectBundleImages()) {
        doc.imagePtrs.RemoveAll();
        return nullptr;
    }
    if (doc.GetDocumentPath().isEmpty()) {
        AfxMessageBox("Save Project First", MB_OK | MB_ICONINFORMATION);
        return nullptr;
    }
    CPointSet* bundle = doc.GetBundlePointSet();
    const CPointSet* control = doc.pointSets.GetControlSet();
    doc.settings.freeNetwork = !(control && control->GetSize() >= 3);
    doc.settings.SetUnitLabel(doc.GetUnitName(false));
    return bundle;
}

} // namespace

void CKestrelonDoc::OnRunBundle()
{
    CPointSet* bundle = PrepareBundle(*this);
    if (!bundle)
        return;
    CBundleAdjustmentDlg dialog(imagePtrs, cameras, *bundle, pointSets.GetControlSet(), scaleBars, settings, summary);
    dialog.DoModal();
}

void CKestrelonDoc::OnSimulationBundle()
{
    CPointSet* bundle = PrepareBundle(*this);
    if (!bundle)
        return;
    CBundleSimulationDlg dialog(imagePtrs, cameras, *bundle, pointSets.GetControlSet(), scaleBars, settings, summary);
    simulationRunning = 1;
    settings.simulation = true;
    dialog.DoModal();
    settings.simulation = false;
    simulationRunning = 0;
}

// ---------------------------------------------------------------------------
// Imports of point files

namespace {

bool RequireSavedProject(const CKestrelonDoc& doc)
{
    if (!doc.GetDocumentPath().isEmpty())
        return true;
    AfxMessageBox("Save Project First", MB_OK | MB_ICONINFORMATION);
    return false;
}

QString Absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

CFilePath CKestrelonDoc::MakeImportDestination(const QString& chosen, const char* extension) const
{
    CFilePath destination(GetProjectFolder());
    destination += "/";
    destination += ToCp1252(QFileInfo(chosen).completeBaseName()).c_str();
    destination += ".";
    destination += extension;
    const QString self = Absolute(chosen);
    for (;;) {
        const QString candidate = Absolute(FromCp1252(destination.GetText()));
        const bool fileTaken = candidate != self && QFileInfo::exists(candidate);
        if (!FindPointSet(destination.GetTitle().GetText()) && !fileTaken)
            return destination;
        if (!destination.IncrementNumber())
            return destination;
    }
}

bool CKestrelonDoc::CopyForImport(const QString& chosen, const CFilePath& destination, bool& copied)
{
    copied = false;
    const QString target = Absolute(FromCp1252(destination.GetText()));
    if (target == Absolute(chosen))
        return true;
    // The copy never replaces an existing file.
    std::string error;
    if (!CopyRegularFile(ToCp1252(chosen), ToCp1252(target), error))
        return false;
    copied = true;
    return true;
}

bool CKestrelonDoc::Import3DFile(bool driveback, bool control)
{
    if (!RequireSavedProject(*this))
        return false;
    CFileDialogRequest request;
    request.title = QStringLiteral("Browse 3D Data Files");
    request.folder = FromCp1252(GetProjectFolder().GetText());
    request.fileName = QStringLiteral("*.xyz");
    request.filter = QStringLiteral("3D Files (*.xyz)");
    request.defaultSuffix = QStringLiteral("xyz");
    const QString chosen = AfxGetFileName(AfxGetMainFrame(), request);
    if (chosen.isEmpty())
        return false;

    QFileInfo info(chosen);
    const CFilePath destination = MakeImportDestination(chosen, ToCp1252(info.suffix()).c_str());
    bool copied = false;
    if (!CopyForImport(chosen, destination, copied))
        return false;

    CPointSet* set = pointSets.AddNew();
    set->isDriver = driveback;
    set->isControl = control;
    int fields = 0;
    if (set->ReadXyzFile(destination.GetText(), &fields)) {
        if (control && fields == 4)
            AfxMessageBox("Sigmas missing. Assigning default sigmas to control file.");
        set->SetName(destination);
        if (CKestrelonView* tree = GetProjectTreeView())
            tree->SetSelectedPointSet(set);
        SetModifiedFlag(true);
        return true;
    }
    AfxMessageBox("Input Failed");
    if (copied)
        QFile::remove(FromCp1252(destination.GetText()));
    pointSets.RemoveAt(pointSets.GetSize() - 1, 1);
    return false;
}

bool CKestrelonDoc::ImportDrivebackFile()
{
    CPointSet* old = pointSets.GetDriverSet();
    if (old)
        old->isDriver = false;
    const bool ok = Import3DFile(true, false);
    if (!ok && old)
        old->isDriver = true;
    return ok;
}

bool CKestrelonDoc::ImportControlPointsFile()
{
    CPointSet* old = pointSets.GetControlSet();
    if (old)
        old->isControl = false;
    const bool ok = Import3DFile(false, true);
    // A failed import leaves the old control set in its role.
    if (!ok && old)
        old->isControl = true;
    return ok;
}

bool CKestrelonDoc::Import3DDataFile()
{
    return Import3DFile(false, false);
}

bool CKestrelonDoc::ImportEODeviceFile()
{
    if (!RequireSavedProject(*this))
        return false;
    CFileDialogRequest request;
    request.title = QStringLiteral("Browse EO Device Files");
    request.folder = FromCp1252(GetProjectFolder().GetText());
    request.fileName = QStringLiteral("*.eod");
    request.filter = QStringLiteral("EO Device Files (*.eod)");
    request.defaultSuffix = QStringLiteral("EOD");
    const QString chosen = AfxGetFileName(AfxGetMainFrame(), request);
    if (chosen.isEmpty())
        return false;

    const CFilePath destination = MakeImportDestination(chosen, "eod");
    bool copied = false;
    if (!CopyForImport(chosen, destination, copied))
        return false;

    // The project's device is replaced only by one that has loaded.
    CPointSet loaded;
    if (!loaded.Load(destination.GetText())) {
        AfxMessageBox("Input Failed");
        if (copied)
            QFile::remove(FromCp1252(destination.GetText()));
        return false;
    }
    eoDevice.CopyFrom(loaded);
    eoDevice.name = destination;
    eoDevice.isEODevice = true;
    // The device's unit is the project's, as a project load sets it.
    eoDevice.SetUnit(GetUnitName(false).GetText());
    if (CKestrelonView* tree = GetProjectTreeView())
        tree->SetSelectedPointSet(&eoDevice);
    SetModifiedFlag(true);
    return true;
}

bool CKestrelonDoc::CreateEmpty3DDataFile()
{
    if (!RequireSavedProject(*this))
        return false;
    CFilePath path(GetProjectFolder());
    path += "/3DDataFile.xyz";
    while (FindPointSet(path.GetTitle().GetText()))
        path.IncrementNumber();
    // A file of that name that already exists is the user's: never opened here.
    std::string error;
    if (!CreateNewFile(path.GetText(), error)) {
        AfxMessageBox("File Creation Error");
        return false;
    }
    CPointSet* set = pointSets.AddNew();
    set->SetName(path);
    set->isDriver = false;
    set->isControl = false;
    SetModifiedFlag(true);
    return true;
}

CTargetDetector* CKestrelonDoc::CreateTargetDetector(CProjectImage* image, const CCamera* camera,
                                                     CMeasurementTool* tool, bool invert)
{
    return ::CreateTargetDetector(this, image, camera, tool, invert);
}
