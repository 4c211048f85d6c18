// The tree's station commands: the exterior orientation dialog of an image,
// the resection of one image, and the export and import of station files.
#include "KestrelonView.h"

#include "Camera.h"
#include "DynString.h"
#include "FileIO.h"
#include "FilePath.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "PointSet.h"
#include "Resection.h"
#include "StationDialogs.h"
#include "StationImportDlg.h"
#include "TreeMenus.h"

#include <QFileInfo>

namespace {

// Station files larger than this are refused.
constexpr std::uint64_t kMaxStationFileBytes = 64u * 1024u * 1024u;

QString ProjectFolder(const CKestrelonDoc* doc)
{
    return doc ? FromCp1252(doc->GetProjectDirectory().GetText()) : QString();
}

} // namespace

void CKestrelonView::InstallStationCommands()
{
    OnCommand(ID_TREE_EDIT_EO, [this] { OnEditExteriorOrientation(); });
    OnCommand(ID_TREE_RESECT, [this] { OnResectImage(); });
    OnCommand(ID_TREE_EXPORT_STATIONS, [this] { OnExportStationData(); });
    OnCommand(ID_TREE_IMPORT_STATIONS, [this] { OnImportStationData(); });
}

void CKestrelonView::OnEditExteriorOrientation()
{
    CProjectImage* image = CaretImage();
    if (!image) {
        AfxMessageBox("Image Not in Project");
        return;
    }
    CEditCameraStationDlg dlg(image, nullptr, GetDocument());
    if (dlg.DoModal() != IDOK)
        return;
    RefreshImageIcons();
    // The right pane lists the images of the image's camera with the new station.
    CKestrelonDoc* doc = GetDocument();
    if (CCamera* camera = doc ? doc->cameras.FindByName(image->GetCameraName().GetText()) : nullptr) {
        m_pSelectedCamera = camera;
        SwitchPane(PANE_PROJECT_IMAGES, true);
    }
}

void CKestrelonView::OnResectImage()
{
    CKestrelonDoc* doc = GetDocument();
    CProjectImage* image = CaretImage();
    if (!doc || !image) {
        AfxMessageBox("Image Not in Project");
        return;
    }
    CResectStationDlg dlg(image, nullptr, doc);
    if (dlg.DoModal() != IDOK)
        return;
    CPointSet* driver = doc->pointSets.GetDriverSet();
    if (!driver) {
        AfxMessageBox("No Driver Present");
        return;
    }
    const CCamera* camera = doc->cameras.FindByName(image->GetCameraName().GetText());
    doc->summary.status = kResectionFailed;
    if (camera) {
        if (dlg.m_bUseGiven)
            RefineResection(*image, *camera, *driver, doc->settings, doc->summary);
        else
            ResectImage(*image, *camera, *driver, doc->settings, doc->summary);
    }
    // The pose and the flag changed: the project has to be saved again.
    doc->SetModifiedFlag(true);
    image->oriented = doc->summary.status == kResectionSuccess;
    RefreshImageIcons();
    if (image->oriented) {
        CDynString text;
        text.Format(" Name        RMS(um)     Pts \n%10s     %2.3f        %3d ", image->name.GetText(), doc->summary.rms,
                    doc->summary.usedPoints);
        AfxMessageBox(text.GetText(), MB_ICONINFORMATION);
    } else if (camera && doc->summary.status == kResectionTooFewPoints) {
        AfxMessageBox("Not enough common points for resection.", MB_ICONERROR);
    } else {
        AfxMessageBox("Resection failed.");
    }
}

void CKestrelonView::OnExportStationData()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    CFilePath title(ToCp1252(doc->GetTitleWithoutMark()).c_str());
    CFileDialogRequest request;
    request.open = false;
    request.title = QStringLiteral("Export Station Data");
    request.folder = ProjectFolder(doc);
    request.fileName = FromCp1252(title.GetTitle().GetText()) + QStringLiteral(".eof");
    request.filter = QStringLiteral("Export Station Files (*.eof);;All Files (*.*) (*)");
    request.defaultSuffix = QStringLiteral("eof");
    const QString path = AfxGetFileName(window(), request);
    if (path.isEmpty())
        return;
    const std::string file = ToCp1252(path);
    std::string error;
    if (!WriteStationFile(file.c_str(), doc->images, error)) {
        const std::string text = "Could not write file '" + file + "'";
        AfxMessageBox(text.c_str(), MB_ICONERROR, "Kestrelon");
    }
}

void CKestrelonView::OnImportStationData()
{
    CKestrelonDoc* doc = GetDocument();
    CCamera* camera = GetSelectedCamera();
    if (!doc || !camera)
        return;
    CFileDialogRequest request;
    request.open = true;
    request.title = QStringLiteral("Import Station Data");
    request.folder = ProjectFolder(doc);
    request.filter = QStringLiteral("Import Station Files (*.eof);;All Files (*.*) (*)");
    request.defaultSuffix = QStringLiteral("eof");
    const QString path = AfxGetFileName(window(), request);
    if (path.isEmpty())
        return;
    const std::string file = ToCp1252(path);
    std::string bytes, error;
    if (!ReadRegularFile(file, bytes, kMaxStationFileBytes, error)) {
        const std::string text = "Could not open file '" + file + "'";
        AfxMessageBox(text.c_str(), MB_ICONERROR, "Kestrelon");
        return;
    }
    CStationImportDlg dlg(nullptr);
    if (dlg.DoModal() != IDOK)
        return;
    const CStationImportResult result =
        ImportStationText(bytes, dlg.m_nFormat, dlg.m_bAcceptResected != 0, *doc, camera->identifier.GetText(),
                          [this](CProjectImage* image) { AddImageItem(image); });
    ReportStationImport(file.c_str(), result);
}
