// The image view's commands on the image's measurements and on its state:
// deletion, undo, labels, resection, EO device, AutoScan, driveback,
// brightness, residuals, the intensity text file, the frame's aspect,
// interior orientation, plumb lines and epipolar lines.
#include "ImageView.h"

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "CentroidSettings.h"
#include "EpipolarLine.h"
#include "FiducialDialogs.h"
#include "FileIO.h"
#include "Hooks.h"
#include "Hub.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "PointDialogs.h"
#include "ProjectImage.h"
#include "Resection.h"
#include "TargetDetector.h"

#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

CImageView::ResectStationPrompt& StationPrompt()
{
    static CImageView::ResectStationPrompt prompt;
    return prompt;
}

void ShowResectionFailure(int status)
{
    if (status == kResectionTooFewPoints)
        AfxMessageBox("Not enough common points for resection.", MB_OK | MB_ICONERROR);
    else
        AfxMessageBox("Resection failed.", MB_OK);
}

} // namespace

CImageView::ResectStationPrompt CImageView::SetResectStationPrompt(ResectStationPrompt prompt)
{
    std::swap(StationPrompt(), prompt);
    return prompt;
}

// --- deleting and undoing -------------------------------------------------------

bool CImageView::ClientToImage(const QPoint& point, const QRect& client, double& x, double& y) const
{
    if (!camera)
        return false;
    if (handle && handle->GetPicture()) {
        double column = 0.0, row = 0.0;
        if (!handle->ViewToImage({point.x(), point.y()}, CIntRect{client.left(), client.top(), client.right() + 1,
                                                                   client.bottom() + 1},
                                 column, row))
            return false;
        camera->PixelToImage(column, row, x, y);
        return true;
    }
    // The inverse of the coordinate page's mapping.
    double e[4];
    ShownExtent(e);
    if (client.width() <= 0 || client.height() <= 0)
        return false;
    const double right = client.left() + client.width();
    x = e[1] - (right - point.x()) / client.width() * (e[1] - e[0]);
    y = e[3] - double(point.y() - client.top()) / client.height() * (e[3] - e[2]);
    return true;
}

void CImageView::DeleteByArea(const QRect& rect)
{
    if (!image || !camera || rect.isEmpty())
        return;
    const QRect client = viewport()->rect();
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    if (!ClientToImage(rect.topLeft(), client, x0, y0) || !ClientToImage(rect.bottomRight(), client, x1, y1))
        return;
    const double xMin = std::min(x0, x1), xMax = std::max(x0, x1);
    const double yMin = std::min(y0, y1), yMax = std::max(y0, y1);
    CObservationList& source = interiorOrientationMode ? image->fiducials : image->targets;
    CObservationList inside;
    for (int i = 0; i < source.GetSize(); ++i) {
        const CImageObservation* o = source.GetAt(i);
        if (o && o->x >= xMin && o->x <= xMax && o->y >= yMin && o->y <= yMax)
            inside.AddSorted(*o);
    }
    if (inside.GetSize() > 0) {
        if (interiorOrientationMode) {
            image->RemoveFiducialObservationsIn(inside);
            UpdateInteriorOrientationResults();
            if (image->fiducials.GetSize() < 4)
                image->transformAccepted = false;
        } else {
            image->RemoveObservationsIn(inside);
            if (image->targets.GetSize() < 3)
                image->oriented = false;
            image->scanned = false;
        }
        ownList.RemoveMatching(inside);
    }
    Redraw();
}

void CImageView::DeleteByLabel()
{
    CKestrelonDoc* doc = GetDoc();
    if (!image || !doc)
        return;
    CDeletePointDlg dialog(this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    const std::string text = ToCp1252(dialog.label);
    image->RemoveObservationByText(text.c_str());
    ownList.RemoveByText(text.c_str());
    doc->SetModifiedFlag(true);
    doc->UpdateAllViews();
    Redraw();
}

void CImageView::DeleteAll()
{
    if (!image)
        return;
    if (AfxMessageBox("Confirm\nDelete all measurements?", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    if (interiorOrientationMode) {
        image->fiducials.DeleteAll();
        UpdateInteriorOrientationResults();
    } else {
        image->RemoveAllObservations();
        image->scanned = false;
    }
    ownList.RemoveAll();
    if (CKestrelonDoc* doc = GetDoc())
        doc->SetModifiedFlag(true);
    Redraw();
}

void CImageView::Undo()
{
    if (!image || ownList.GetSize() == 0)
        return;
    const CNameBuffer last = ownList.GetAt(ownList.GetSize() - 1)->GetLabel();
    bool found;
    if (interiorOrientationMode) {
        found = image->RemoveFiducialObservation(last);
        if (found) {
            UpdateInteriorOrientationResults();
            if (image->fiducials.GetSize() < 4)
                image->transformAccepted = false;
        }
    } else {
        found = image->RemoveObservation(last);
    }
    if (!found)
        return;
    ownList.RemoveAt(ownList.GetSize() - 1, 1);
    if (CKestrelonDoc* doc = GetDoc())
        doc->SetModifiedFlag(true);
    Redraw();
}

void CImageView::SkipPoint(int sign)
{
    label.AddToNumber(sign * increment);
    if (label.GetNumber() < 0)
        label.SetNumber(0);
    UpdateDialogBar();
}

// --- orientation ----------------------------------------------------------------

void CImageView::Resect()
{
    CKestrelonDoc* doc = GetDoc();
    CPointSet* driver = doc ? doc->pointSets.GetDriverSet() : nullptr;
    if (!image || !camera || !driver)
        return;
    bool fromGivenStation = false;
    if (StationPrompt() && StationPrompt()(*image, fromGivenStation) != IDOK)
        return;
    CAdjustmentSummary summary;
    if (fromGivenStation)
        RefineResection(*image, *camera, *driver, doc->settings, summary);
    else
        ResectImage(*image, *camera, *driver, doc->settings, summary);
    doc->SetModifiedFlag(true);
    if (summary.status == kResectionSuccess) {
        image->oriented = true;
        char text[160];
        std::snprintf(text, sizeof text, "| Sta  RMS(um)  Pts |\n| %5s      %2.3f       %3d ", image->name.GetText(),
                      summary.rms, summary.usedPoints);
        AfxMessageBox(text, MB_OK | MB_ICONINFORMATION);
    } else {
        image->oriented = false;
        ShowResectionFailure(summary.status);
    }
    Redraw();
}

void CImageView::ToggleEODevice()
{
    CKestrelonDoc* doc = GetDoc();
    eoDeviceMode = !eoDeviceMode;
    if (eoDeviceMode) {
        if (doc && doc->eoDevice.GetSize() > 0)
            label = doc->eoDevice.GetAt(0)->label;
        if (image)
            image->oriented = false;
    }
    UpdateDialogBar();
}

void CImageView::ResectFromEODevice()
{
    CKestrelonDoc* doc = GetDoc();
    if (!doc || !image || !camera || doc->eoDevice.GetSize() == 0)
        return;
    CAdjustmentSummary summary;
    if (ResectImage(*image, *camera, doc->eoDevice, doc->settings, summary)) {
        image->oriented = true;
        doc->SetModifiedFlag(true);
        PostHubMessage(UM_REFRESH_IMAGES);
    } else {
        image->oriented = false;
        ShowResectionFailure(summary.status);
        PostHubMessage(UM_REFRESH_IMAGES);
    }
    Redraw();
}

// --- AutoScan and driveback ---------------------------------------------------------

void CImageView::OnAutoScan()
{
    if (!image)
        return;
    if (image->targets.GetSize() > 0 &&
        AfxMessageBox("Previous measurements will be deleted", MB_OKCANCEL) != IDOK)
        return;
    RunAutoScan();
}

bool CImageView::RunAutoScan()
{
    CKestrelonDoc* doc = GetDoc();
    if (!doc || !image || !camera || !handle || !tool)
        return false;
    CWaitCursor wait;
    image->RemoveAllObservations();
    std::unique_ptr<CTargetDetector> detector(
        doc->CreateTargetDetector(image, camera, tool.get(), GetCentroidSettings().invert != 0));
    image->oriented = false;
    const bool scanned = detector && detector->Run(true) != 0;
    if (scanned)
        image->scanned = true;
    else
        AfxMessageBox("Scan Failure");
    detector.reset();
    doc->SetModifiedFlag(true);
    PostHubMessage(UM_REFRESH_IMAGES_AND_LIST);
    Redraw();
    return scanned;
}

void CImageView::Driveback()
{
    CKestrelonDoc* doc = GetDoc();
    if (!doc || !image || !camera || !tool)
        return;
    const unsigned changesBefore = tool->GetChangeCount();
    doc->ResectImageForDriveback(*image, *camera, *tool);
    if (tool && tool->GetChangeCount() != changesBefore)
        doc->SetModifiedFlag(true);
    Redraw();
}

// --- picture and overlays ---------------------------------------------------------------

void CImageView::Brightness(int id)
{
    if (!handle)
        return;
    static const double values[7] = {-2.0, 1.0, -1.0, 0.5, 2.0, 4.0, 8.0};
    if (id < 32899 || id > 32905)
        return;
    const double value = values[id - 32899];
    handle->Enhance(value);
    brightnessGain = value > 0.0 && id >= 32902 ? value : 1.0;
    Redraw();
}

void CImageView::ToggleResidualView()
{
    residualView = !residualView;
    if (residualView) {
        targetOverlay = -1;
        numberPoints = false;
    } else {
        ReadOverlayPreferences();
    }
    UpdateStatusPanes();
    Redraw();
}

void CImageView::OnOutputIntensity()
{
    CKestrelonDoc* doc = GetDoc();
    if (!handle || !handle->GetPicture() || !image)
        return;
    CFileDialogRequest request;
    request.open = false;
    request.title = QStringLiteral("Output Current View as Intensity Text File");
    request.filter = QStringLiteral("Text Files (*.txt);;All Files (*.*) (*)");
    request.defaultSuffix = QStringLiteral("txt");
    request.folder = doc ? FromCp1252(doc->GetProjectDirectory().GetText()) : QString();
    request.fileName = FromCp1252(image->name.GetText()) + QStringLiteral(".txt");
    const QString path = AfxGetFileName(this, request);
    if (!path.isEmpty())
        WriteIntensityFile(path);
}

bool CImageView::WriteIntensityFile(const QString& path)
{
    CDisplayImage* picture = handle ? handle->GetPicture() : nullptr;
    if (!picture)
        return false;
    CIntRect visible;
    picture->GetVisibleRect(visible);
    // Inclusive bounds, held inside the picture.
    const int left = std::max(0, visible.left), top = std::max(0, visible.top);
    const int right = std::min(visible.right, picture->GetWidth() - 1);
    const int bottom = std::min(visible.bottom, picture->GetHeight() - 1);
    const std::string name = ToCp1252(path);
    CAtomicFile file;
    bool ok = file.Open(name);
    std::string line;
    for (int row = top; ok && row <= bottom; ++row) {
        line.clear();
        char field[16];
        for (int column = left; column <= right; ++column) {
            std::snprintf(field, sizeof field, "%4d", picture->GetGrey(row, column));
            line += field;
        }
        line += "\r\n";
        ok = file.Write(line.data(), line.size());
    }
    // A failed step leaves the old file as it was.
    ok = file.Commit() && ok;
    if (!ok) {
        const std::string text = "The intensity file could not be written:\n" + name + "\n" + file.GetError();
        AfxMessageBox(text.c_str(), MB_OK | MB_ICONERROR);
    }
    return ok;
}

void CImageView::CorrectImageRatio()
{
    CMDIChildWnd* frame = GetParentFrame();
    if (!frame || !frame->widget())
        return;
    int width = 0, height = 0;
    if (handle)
        handle->GetSize(width, height);
    if ((width <= 0 || height <= 0) && camera)
        width = camera->XPixels, height = camera->YPixels;
    if (width <= 0 || height <= 0)
        return;
    const QSize client = viewport()->size();
    const double f = std::min(double(client.width()) / width, double(client.height()) / height);
    shrinkToFit = true;
    const QSize wanted(std::max(1, int(width * f)), std::max(1, int(height * f)));
    frame->resize(frame->size() + (wanted - client));
}

// --- interior orientation ------------------------------------------------------------

CInteriorOrientationDlg* CImageView::GetInteriorOrientationDlg()
{
    auto* frame = dynamic_cast<CChildFrame*>(GetParentFrame());
    return frame ? dynamic_cast<CInteriorOrientationDlg*>(frame->GetInteriorOrientationDlg(image, camera)) : nullptr;
}

void CImageView::UpdateInteriorOrientationResults()
{
    if (CInteriorOrientationDlg* dialog = GetInteriorOrientationDlg()) {
        dialog->ComputeTransformation(image, camera);
        dialog->RefreshResults();
    }
}

void CImageView::EnterInteriorOrientation()
{
    interiorOrientationMode = true;
    ownList.RemoveAll();
    SetMode(MODE_ZOOM_IN);
    autoMode = false;
    GetInteriorOrientationDlg();
}

void CImageView::EndInteriorOrientation()
{
    ownList.RemoveAll();
    interiorOrientationMode = false;
    autoMode = true;
    SetMode(MODE_DIGITIZE);
    Redraw();
}

void CImageView::TogglePlumbLine(int direction)
{
    if (!(plumbLineMode && plumbDirection == 1 - direction))
        plumbLineMode = !plumbLineMode;
    if (tool)
        tool->DiscardPlumbLine();
    plumbDirection = plumbLineMode ? direction : -1;
}

// --- epipolar lines ---------------------------------------------------------------------

void CImageView::ShowEpipolarLines()
{
    CKestrelonDoc* doc = GetDoc();
    if (!doc || !image || !camera)
        return;
    CEpipolarPointDlg dialog(this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    const CNameBuffer point(ToCp1252(dialog.label).c_str());
    epipolarLines.clear();
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* other = doc->images.GetAt(i);
        if (!other || other->name == image->name)
            continue;
        const CCamera* otherCamera = doc->cameras.FindByName(other->GetCameraName().GetText());
        CEpipolarLine line;
        if (otherCamera && ComputeEpipolarLine(line, *other, *otherCamera, *image, *camera, point))
            epipolarLines.emplace_back(line.column1, line.row1, line.column2, line.row2);
    }
    viewport()->update();
}

QPointF CImageView::PictureToClient(double column, double row, const QRect& client) const
{
    CDisplayImage* picture = handle ? handle->GetPicture() : nullptr;
    if (!picture)
        return QPointF(column, row);
    CIntRect visible;
    picture->GetVisibleRect(visible);
    if (visible.Width() <= 0 || visible.Height() <= 0)
        return QPointF(column, row);
    // The inverse of the picture's client-to-pixel conversion.
    return QPointF(client.left() + (column - visible.left) / visible.Width() * client.width(),
                   client.top() + (row - visible.top) / visible.Height() * client.height());
}

void CImageView::DrawEpipolarLines(QPainter& painter, const QRect& client)
{
    painter.setPen(QPen(QColor(255, 255, 255), 0));
    for (const QLineF& line : epipolarLines)
        painter.drawLine(PictureToClient(line.x1(), line.y1(), client).toPoint(),
                         PictureToClient(line.x2(), line.y2(), client).toPoint());
}

// --- command table ------------------------------------------------------------------------

void CImageView::RegisterImageCommands()
{
    auto any = [this](CCmdUI* ui) { ui->Enable(HasObservations()); };
    CCmdTarget::OnCommand(32819, [this] { DeleteByLabel(); });
    CCmdTarget::OnUpdate(32819, any);
    CCmdTarget::OnCommand(32820, [this] { DeleteAll(); });
    CCmdTarget::OnUpdate(32820, any);
    CCmdTarget::OnCommand(32876, [this] { DeleteAll(); });
    for (int id : {32990, 32793})
        CCmdTarget::OnCommand(id, [this] { SkipPoint(1); });
    CCmdTarget::OnCommand(32991, [this] { SkipPoint(-1); });
    CCmdTarget::OnCommand(32948, [this] { Resect(); });
    CCmdTarget::OnUpdate(32948, [this](CCmdUI* ui) {
        CKestrelonDoc* doc = GetDoc();
        ui->Enable(doc && doc->pointSets.GetDriverSet() && image && image->targets.GetSize() >= 4);
    });
    CCmdTarget::OnCommand(33038, [this] { ToggleEODevice(); });
    CCmdTarget::OnUpdate(33038, [this](CCmdUI* ui) { ui->Enable(GetDoc() && GetDoc()->eoDevice.GetSize() > 0); });
    CCmdTarget::OnCommand(33025, [this] { OnAutoScan(); });
    CCmdTarget::OnCommand(32872, [this] { Driveback(); });
    CCmdTarget::OnUpdate(32872, [this](CCmdUI* ui) {
        CKestrelonDoc* doc = GetDoc();
        const CPointSet* driver = doc ? doc->pointSets.GetDriverSet() : nullptr;
        ui->Enable(driver && driver->GetSize() > 3 && image && image->targets.GetSize() > 3);
    });
    for (int id = 32899; id <= 32905; ++id)
        CCmdTarget::OnCommand(id, [this, id] { Brightness(id); });
    CCmdTarget::OnCommand(33017, [this] { ToggleResidualView(); });
    CCmdTarget::OnUpdate(33017, [this](CCmdUI* ui) {
        ui->Enable();
        ui->SetCheck(residualView);
    });
    CCmdTarget::OnCommand(381, [this] { OnOutputIntensity(); });
    CCmdTarget::OnUpdate(381, [this](CCmdUI* ui) { ui->Enable(image && handle && handle->GetPicture()); });
    CCmdTarget::OnCommand(33089, [this] { CorrectImageRatio(); });
    CCmdTarget::OnCommand(32945, [this] { EnterInteriorOrientation(); });
    CCmdTarget::OnUpdate(32945, [this](CCmdUI* ui) {
        ui->Enable(camera && camera->fiducials.GetSize() > 0);
        ui->SetCheck(interiorOrientationMode);
    });
    for (int direction : {0, 1}) {
        const int id = direction == 0 ? 32885 : 32886;
        CCmdTarget::OnCommand(id, [this, direction] { TogglePlumbLine(direction); });
        CCmdTarget::OnUpdate(id, [this, direction](CCmdUI* ui) {
            ui->Enable();
            ui->SetCheck(plumbLineMode && plumbDirection == direction);
        });
    }
    CCmdTarget::OnCommand(32931, [this] { ShowEpipolarLines(); });
    CCmdTarget::OnUpdate(32931, [this](CCmdUI* ui) { ui->Enable(image && camera && GetDoc()); });
}
