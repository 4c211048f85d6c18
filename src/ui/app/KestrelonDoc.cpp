#include "KestrelonDoc.h"

#include "Hooks.h"
#include "KestrelonApp.h"
#include "MainFrame.h"

#include <QFileInfo>

CKestrelonDoc::CKestrelonDoc() = default;

QString CKestrelonDoc::GetDocumentPath() const
{
    return FromCp1252(GetPathName().GetText());
}

void CKestrelonDoc::SetDocumentPath(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    SetPathName(ToCp1252(absolute).c_str());
    SetTitle(QFileInfo(absolute).fileName() + (IsModified() ? QStringLiteral("*") : QString()));
    if (CKestrelonApp* app = AfxGetApp())
        app->AddToRecentFileList(absolute);
}

void CKestrelonDoc::SetModifiedFlag(bool modified)
{
    QString title = GetTitle();
    if (!title.isEmpty()) {
        if (title.endsWith('*'))
            title.chop(1);
        if (modified)
            title += '*';
        SetTitle(title);
    }
    CProjectDocument::SetModifiedFlag(modified);
}

bool CKestrelonDoc::OnNewDocument()
{
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
    const CProjectFileResult result = CProjectDocument::OnSaveDocument(ToCp1252(path).c_str());
    if (!result.ok)
        return false;
    SetModifiedFlag(false);
    return true;
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
