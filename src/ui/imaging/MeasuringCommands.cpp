// The commands that open the automatic measurement, the matching dialog and
// the AutoScan dialog.
#include "AutoMeasurementDlg.h"
#include "AutoScanDlg.h"
#include "CorrespondenceDialogs.h"
#include "CorrespondenceJob.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "Message.h"

void CKestrelonDoc::OnAutomaticMeasurement()
{
    if (GetPathName().IsEmpty()) {
        AfxMessageBox("Save Project First", MB_OK | MB_ICONINFORMATION);
        return;
    }
    CAutoMeasurementDlg dialog(nullptr);
    dialog.DoModal();
}

void CKestrelonDoc::OnFindCorrespondingPoints()
{
    CImagePtrArray found;
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (!image || !image->enabled || !image->oriented)
            continue;
        // A target not yet identified carries a label below zero.
        for (int k = 0; k < image->targets.GetSize(); ++k)
            if (CCorrespondenceJob::IsUnassigned(*image->targets.GetAt(k))) {
                found.Add(image);
                break;
            }
    }
    CPointSet* triangulate = GetTriangulatePointSet();
    CFindCorrespondingPointsDlg dialog(found, &cameras, triangulate, nullptr);
    dialog.DoModal();
}

void CKestrelonView::OnAutoScanAllImages()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    int observations = 0;
    for (int i = 0; i < doc->images.GetSize(); ++i)
        if (const CProjectImage* image = doc->images.GetAt(i); image && image->enabled)
            observations += image->targets.GetSize();
    if (observations != 0 && AfxMessageBox("Previous measurements will be deleted", MB_OKCANCEL) != IDOK)
        return;
    CAutoScanDlg dialog(nullptr);
    dialog.SetImages(doc->images);
    dialog.DoModal();
}
