// New project images from the 3D view: a station at the eye of the view,
// looking the view's way or turned onto the one selected point, with the
// observations the camera would make of the displayed points.
#include "3DView.h"

#include "CameraDialogs.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "StationMath.h"
#include "SyntheticImageGenerator.h"

#include <cmath>
#include <string>

namespace {

CKestrelonDoc* DocumentOf(C3DView& view)
{
    auto* doc = dynamic_cast<CKestrelonDoc*>(view.GetDocument());
    return doc ? doc : GetActiveKestrelonDoc();
}

// The first point of the set in set order whose selected flag is set.
const CObjectPoint* FirstSelected(const CPointSet* set)
{
    for (int i = 0; set && i < set->GetSize(); ++i)
        if (set->GetAt(i)->selected)
            return set->GetAt(i);
    return nullptr;
}

} // namespace

CCamera* C3DView::GetCameraForNewImage()
{
    CKestrelonDoc* doc = DocumentOf(*this);
    if (!doc || doc->cameras.GetSize() == 0) {
        AfxMessageBox("Add camera to project first", MB_ICONSTOP, "3D View");
        return nullptr;
    }
    if (doc->cameras.GetSize() == 1)
        return doc->cameras.GetAt(0);
    CCameraSelectionDlg dialog(&doc->cameras, this);
    if (dialog.DoModal() != QDialog::Accepted)
        return nullptr;
    const int index = dialog.GetSelectedIndex();
    return index >= 0 && index < doc->cameras.GetSize() ? doc->cameras.GetAt(index) : nullptr;
}

bool C3DView::SetImageFromView(CProjectImage& image, const CCamera& camera) const
{
    // The stored matrix is column-major: R(r, c) is element 4c + r.
    double R[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            R[r][c] = m_storedMatrix[4 * c + r];
    // The distance at which the camera's picture covers the view's height.
    const double halfHeight = camera.GetHalfSensorHeight();
    const double d = camera.parameters[CAM_C] * m_dEyeDistance *
                     std::tan(m_dFieldOfView * std::acos(-1.0) / 360.0) / halfHeight;
    if (!(halfHeight > 0.0) || !(d > 0.0) || !std::isfinite(d))
        return false;
    // The pan of the current motion and the pan a later turn folded into
    // the stored matrix both move the eye.
    const double t[3] = {-double(m_fPanX) - m_storedMatrix[12], -double(m_fPanY) - m_storedMatrix[13], d};
    double position[3];
    for (int k = 0; k < 3; ++k)
        position[k] = m_centre[k] + R[0][k] * t[0] + R[1][k] * t[1] + R[2][k] * t[2];
    image.SetCameraName(camera.identifier.GetText());
    image.SetPosition(position[0], position[1], position[2]);
    // The view's rotation, also when the view looks straight along z (the
    // angles read from it then carry the whole turn in the azimuth); OpenGL
    // kept it in single precision, so the image takes the nearest rotation.
    OrthonormalizeRotation(R);
    SetStationRotation(image, R);
    return true;
}

void C3DView::OnCreateImage()
{
    CreateImage(false);
}

void C3DView::OnCreateImageByAimPoint()
{
    if (!m_pPointSet || DocumentBusy() || m_pPointSet->GetSelectedCount() != 1)
        return;
    CreateImage(true);
}

void C3DView::CreateImage(bool aim)
{
    CKestrelonDoc* doc = DocumentOf(*this);
    if (!doc || DocumentBusy())
        return;
    CCamera* camera = GetCameraForNewImage();
    if (!camera)
        return;
    CProjectImage pose;
    if (!SetImageFromView(pose, *camera)) {
        const std::string text = "The camera " + std::string(camera->identifier.GetText()) +
                                 " has no sensor height or principal distance.";
        AfxMessageBox(text.c_str(), MB_ICONSTOP, "3D View");
        return;
    }
    if (aim) {
        const CObjectPoint* target = FirstSelected(m_pPointSet);
        const double at[3] = {target->x, target->y, target->z};
        // A point on the station itself leaves the view's direction.
        AimStationAt(pose, at);
    }

    CProjectImage* image = doc->AddNewImage("");
    image->SetCameraName(pose.GetCameraName().GetText());
    image->SetPosition(pose.X, pose.Y, pose.Z);
    double R[3][3];
    pose.GetRotation(R);
    SetStationRotation(*image, R);
    const CDynString folder = doc->GetProjectDirectory();
    const std::string file = std::string(image->name.GetText()) + ".icf";
    image->SetFilePath((folder.IsEmpty() ? file : std::string(folder.GetText()) + "/" + file).c_str());
    image->oriented = true;
    if (m_pPointSet) {
        CSyntheticImageGenerator generator(*m_pPointSet, *image, *camera, doc->settings.defaultImageSigma);
        generator.SetParameters(doc->targetNormal[0], doc->targetNormal[1], doc->targetNormal[2], doc->targetRadius);
        generator.SetMaxViewAngle(doc->maxViewingAngle);
        generator.Render(CSyntheticImageGenerator::kProjectedCentre, CSyntheticImageGenerator::kExact, 0, 1, 0,
                         CSyntheticImageGenerator::kOwnOrDefaultNormal, 0);
    }
    SendHubMessage(UM_IMAGE_CREATED, 0, reinterpret_cast<std::intptr_t>(image));
    doc->SetModifiedFlag(true);
    Redraw();
}
