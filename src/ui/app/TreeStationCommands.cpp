// The tree's station commands: the exterior orientation dialog of an image,
// and the export and import of station files.
#include "KestrelonView.h"

#include "FileIO.h"
#include "FilePath.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
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
    if (dlg.DoModal() == IDOK)
        RefreshImageIcons();
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
    ImportStationText(bytes, dlg.m_nFormat, dlg.m_bAcceptResected != 0, *doc, camera->identifier.GetText(),
                      [this](CProjectImage* image) { AddImageItem(image); });
}
