// Tree commands that bring image and point files into the project, make a
// point set the driver or copy it, and add a bar to the scale-bar database.
#include "KestrelonView.h"

#include "Camera.h"
#include "Controls.h"
#include "DeviceDialogs.h"
#include "DirSearch.h"
#include "Frames.h"
#include "Hooks.h"
#include "ImageCommands.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "ListViews.h"
#include "Message.h"
#include "PointSet.h"
#include "ProjectImage.h"

#include <string>
#include <vector>

namespace {

QString ProjectFolderOf(const CKestrelonDoc* doc)
{
    return doc ? FromCp1252(doc->GetProjectDirectory().GetText()) : QString();
}

} // namespace

void CKestrelonView::InstallFileCommands()
{
    OnCommand(32949, [this] { OnSetImageFileDirectory(); });
    OnCommand(32934, [this] { OnSetImageCoordinateFileDirectory(); });
    OnCommand(32972, [this] { OnImport3DDataFile(); });
    OnCommand(32968, [this] { OnImportDrivebackFile(); });
    OnCommand(32969, [this] { OnImportControlPointsFile(); });
    OnCommand(33039, [this] { OnImportEODeviceFile(); });
    OnCommand(32974, [this] { OnSetAsDriver(); });
    OnCommand(339, [this] { OnMakeCopy(); });
    OnCommand(32935, [this] { OnAddScaleBarToDatabase(); });
    OnCommand(33074, [this] { OnAddEODeviceToDatabase(); });
    OnCommand(33075, [this] { OnImportEODeviceToDatabase(); });
    InstallStationCommands();
    OnCommand(33026, [this] { OnAutoScanAllImages(); });
}

void CKestrelonView::OnSetImageFileDirectory()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    CFileDirectoryDialog dialog(window(), QStringLiteral("Select Image File Directory"), ProjectFolderOf(doc));
    if (!dialog.DoModal())
        return;
    const CDynString folder(ToCp1252(dialog.GetDirectory()).c_str());
    CWaitCursor wait;
    ConvertJpegImages(folder);
    CCamera* camera = doc->cameras.FindByName(ToCp1252(GetSelectedItemText()).c_str());
    if (!camera)
        return;
    std::vector<std::string> import, already, mismatch;
    for (const char* extension : {"bmp", "dib", "tif"}) {
        CDirSearch search;
        for (bool found = search.FindFirst(folder, extension); found; found = search.FindNext()) {
            const std::string path = search.GetText();
            bool fits = true;
            if (CheckImageFitsCamera(path.c_str(), *camera, fits, false))
                (doc->ImageExists(path.c_str(), *camera) ? already : import).push_back(path);
            else if (!fits)
                mismatch.push_back(path);
        }
    }
    if (!mismatch.empty()) {
        std::string names = "The resolution of the image(s) ";
        for (const std::string& path : mismatch)
            names += "'" + std::string(CFilePath(path.c_str()).GetFileName().GetText()) + "', ";
        names.resize(names.size() - 2);
        CDynString text;
        text.Format("%s\n does not fit to the camera '%s'.", names.c_str(), camera->identifier.GetText());
        AfxMessageBox(text.GetText(), MB_OK);
    }
    if (!already.empty()) {
        CDynString text;
        text.Format("%d Image(s) have already been imported.\nImport them again?", int(already.size()));
        if (AfxMessageBox(text.GetText(), MB_YESNO | MB_DEFBUTTON2) == IDYES)
            import.insert(import.end(), already.begin(), already.end());
    }
    if (import.empty()) {
        AfxMessageBox("No image files found or imported");
        return;
    }
    for (const std::string& path : import) {
        CProjectImage* image = doc->AddNewImage("");
        if (!image)
            continue;
        image->SetCameraName(camera->identifier.GetText());
        image->SetFilePath(path.c_str());
    }
    doc->UpdateAllViews(nullptr, 0);
}

void CKestrelonView::OnSetImageCoordinateFileDirectory()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    CFileDirectoryDialog dialog(window(), QStringLiteral("Select Image Coordinate File Directory"),
                                ProjectFolderOf(doc));
    if (!dialog.DoModal())
        return;
    const CDynString folder(ToCp1252(dialog.GetDirectory()).c_str());
    CDirSearch search;
    if (!search.FindFirst(folder, "icf")) {
        AfxMessageBox("No image coordinate files found");
        return;
    }
    const std::string caretName = ToCp1252(GetSelectedItemText());
    do {
        const std::string path = search.GetText();
        CCamera* camera = doc->cameras.FindByName(path.c_str());
        if (!camera)
            camera = doc->cameras.FindByName(caretName.c_str());
        CProjectImage* image = doc->AddNewImage("");
        if (!image)
            continue;
        if (camera)
            image->SetCameraName(camera->identifier.GetText());
        image->SetFilePath(path.c_str());
        image->ReadIcfFile(CFilePath(path.c_str()), doc->settings.defaultImageSigma);
    } while (search.FindNext());
    doc->UpdateAllViews(nullptr, 0);
}

void CKestrelonView::AfterPointSetImport(bool imported)
{
    CKestrelonDoc* doc = GetDocument();
    if (!imported || !doc)
        return;
    doc->UpdateAllViews(nullptr, 0);
    const CPointSet* selected = GetSelectedPointSet();
    const QString name = selected ? FromCp1252(selected->name.GetTitle().GetText()) : QString();
    QTreeWidgetItem* item = Find3DDataItem(name);
    if (!item)
        item = FindProjectScaleBarItem(name);
    if (item)
        setCurrentItem(item);
    if (m_h3DData)
        m_h3DData->setExpanded(true);
}

void CKestrelonView::OnImport3DDataFile()
{
    if (CKestrelonDoc* doc = GetDocument())
        AfterPointSetImport(doc->Import3DDataFile());
}

void CKestrelonView::OnImportDrivebackFile()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    doc->ClearResectedFlags();
    AfterPointSetImport(doc->ImportDrivebackFile());
}

void CKestrelonView::OnImportControlPointsFile()
{
    if (CKestrelonDoc* doc = GetDocument())
        AfterPointSetImport(doc->ImportControlPointsFile());
}

void CKestrelonView::OnImportEODeviceFile()
{
    if (CKestrelonDoc* doc = GetDocument())
        AfterPointSetImport(doc->ImportEODeviceFile());
}

void CKestrelonView::OnSetAsDriver()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    doc->ToggleDriverSet(ToCp1252(GetSelectedItemText()).c_str());
    doc->ClearResectedFlags();
    doc->SetModifiedFlag(true);
    RefreshPointSetIcons();
    RefreshImageIcons();
}

void CKestrelonView::OnMakeCopy()
{
    CKestrelonDoc* doc = GetDocument();
    const CPointSet* source = GetSelectedPointSet();
    if (!doc || !source)
        return;
    const std::string title = source->name.GetTitle().GetText();
    std::string candidate = title + "Copy";
    for (int n = 1; doc->FindPointSet(candidate.c_str()); ++n)
        candidate = title + "Copy" + std::to_string(n);
    CPointSet* copy = doc->pointSets.AddCopy(*source);
    copy->isDriver = false;
    copy->isControl = false;
    copy->isEODevice = false;
    copy->name.SetTitle(candidate.c_str());
    copy->name.SetExtension("xyz");
    if (!copy->Save(12, 13, 7)) {
        const std::string text = std::string("The file ") + copy->name.GetText() + " could not be written.";
        AfxMessageBox(text.c_str(), MB_ICONERROR);
    }
    Rebuild3DDataBranch();
    doc->SetModifiedFlag(true);
}

void CKestrelonView::OnAddScaleBarToDatabase()
{
    CKestrelonApp* app = AfxGetApp();
    if (!app)
        return;
    CScaleBarList& database = app->scaleBarDatabase;
    CScaleBar* bar = database.AddNew();
    bar->name = "New Scale Bar";
    bar->version = 0;
    bar->calibratedLength = 0.0;
    bar->calibratedTemperature = 0.0;
    bar->standardDeviation = 0.0;
    CScaleBarsDlg dialog(&database, database.GetSize() - 1);
    dialog.DoModal();
    if (!dialog.WasInitialBarSaved()) {
        database.RemoveAt(database.GetSize() - 1, 1);
        app->FlushDatabases();
    }
    UpdateProjectFrames();
    if (m_hScaleBarDatabase) {
        DeleteChildItems(m_hScaleBarDatabase);
        BuildScaleBarDatabaseBranch();
    }
    RefreshScaleBarDatabaseList();
}

void CKestrelonView::OnAddEODeviceToDatabase()
{
    CKestrelonApp* app = AfxGetApp();
    CKestrelonDoc* doc = GetDocument();
    if (!app || !m_hEODeviceDatabase)
        return;
    // A name in use (in any letter case, as the profile's sections compare)
    // gets its number raised, so that the new record has a name of its own.
    auto taken = [app](const CDynString& name) {
        for (int i = 0; i < app->eoDeviceDatabase.GetSize(); ++i)
            if (const CEODevice* d = app->eoDeviceDatabase.GetAt(i);
                d && QString::compare(FromCp1252(d->GetName().GetText()), FromCp1252(name.GetText()),
                                      Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    CFilePath name("New EO Device");
    while (taken(name.GetTitle()) && name.IncrementNumber()) {
    }
    CEODevice* device = app->eoDeviceDatabase.AddNew();
    device->SetName(name.GetTitle().GetText());
    device->SetUnit(doc ? doc->GetUnitName(false).GetText() : "");
    device->modified = true;
    DeleteChildItems(m_hEODeviceDatabase);
    BuildEODeviceDatabaseBranch();
    m_hEODeviceDatabase->setExpanded(true);
    if (const int n = m_hEODeviceDatabase->childCount())
        setCurrentItem(m_hEODeviceDatabase->child(n - 1));
    OnDatabaseEODeviceProperties();
    UpdateProjectFrames();
    app->FlushDatabases();
}

void CKestrelonView::OnImportEODeviceToDatabase()
{
    CKestrelonApp* app = AfxGetApp();
    if (!app)
        return;
    CFileDialogRequest request;
    request.title = QStringLiteral("Browse EO Device Files");
    request.folder = ProjectFolderOf(GetDocument());
    request.filter = QStringLiteral("EO Device Files (*.eod)");
    request.defaultSuffix = QStringLiteral("eod");
    const QString path = AfxGetFileName(this, request);
    if (path.isEmpty() || !app->ImportEODevice(ToCp1252(path).c_str()))
        return;
    if (m_hEODeviceDatabase) {
        DeleteChildItems(m_hEODeviceDatabase);
        BuildEODeviceDatabaseBranch();
        m_hEODeviceDatabase->setExpanded(true);
    }
    UpdateProjectFrames();
}
