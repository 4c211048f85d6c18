#include "MeasurementTool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "Camera.h"
#include "CentroidOperator.h"
#include "ImageRowCache.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "RegionGrid.h"

namespace {

std::mutex& HandlerLock()
{
    static std::mutex m;
    return m;
}

MeasureNewPointHandler& Handler()
{
    static MeasureNewPointHandler handler;
    return handler;
}

int Round(double v) { return int(std::floor(v + 0.5)); }

// A candidate of the matching by prediction; unidentified as its source says.
struct Candidate {
    CImageObservation* observation;
    bool unidentified;
};

// Scans the candidates from the last to the first: identified ones are
// dropped, the nearest unidentified one within 5 d (strictly nearer than any
// before it, starting from 1000.0) is the best. A best within d leaves the
// candidates and is returned; else null.
CImageObservation* MatchPrediction(std::vector<Candidate>& candidates, double x, double y, double d)
{
    double best = 1000.0;
    int bestIndex = -1;
    for (int i = int(candidates.size()) - 1; i >= 0; --i) {
        if (!candidates[i].unidentified) {
            candidates.erase(candidates.begin() + i);
            if (bestIndex > i)
                --bestIndex;
            continue;
        }
        const CImageObservation* o = candidates[i].observation;
        const double distance = std::sqrt((o->x - x) * (o->x - x) + (o->y - y) * (o->y - y));
        if (distance <= 5.0 * d && distance < best) {
            best = distance;
            bestIndex = i;
        }
    }
    if (bestIndex < 0 || !(best <= d))
        return nullptr;
    CImageObservation* match = candidates[bestIndex].observation;
    candidates.erase(candidates.begin() + bestIndex);
    return match;
}

} // namespace

MeasureNewPointHandler SetMeasureNewPointHandler(MeasureNewPointHandler handler)
{
    std::lock_guard<std::mutex> lock(HandlerLock());
    std::swap(Handler(), handler);
    return handler;
}

int AskMeasureNewPoint(bool& replaceOld)
{
    MeasureNewPointHandler handler;
    {
        std::lock_guard<std::mutex> lock(HandlerLock());
        handler = Handler();
    }
    if (!handler)
        return IDNO;
    return handler(replaceOld) == IDYES ? IDYES : IDNO;
}

bool IsUnidentifiedLabel(const CNameBuffer& label) { return label.GetNumber() < 0; }

// ---------------------------------------------------------------------------
// CMeasurementTool

CMeasurementTool::CMeasurementTool(CProjectImage* image, const CCamera* camera, CDisplayImage* picture,
                                   const bool* askBeforeRemeasure, const bool* askOnNearPoint)
    : CMeasurementTool(image, camera, picture, nullptr, askBeforeRemeasure, askOnNearPoint)
{
}

CMeasurementTool::CMeasurementTool(CProjectImage* image, const CCamera* camera, CDisplayImage* picture,
                                   CObservationList* ownList, const bool* askBeforeRemeasure,
                                   const bool* askOnNearPoint)
    : picture(picture), image(image), camera(camera), ownList(ownList), askBeforeRemeasure(askBeforeRemeasure),
      askOnNearPoint(askOnNearPoint)
{
}

CMeasurementTool::~CMeasurementTool() = default;

void CMeasurementTool::SetDocument(const CProjectDocument* doc) { document = doc; }

double CMeasurementTool::GetDefaultSigma() const
{
    return document ? document->settings.defaultImageSigma : 0.0005;
}

double CMeasurementTool::GetDrivebackThreshold() const
{
    return document ? document->drivebackThreshold : 10.0;
}

int CMeasurementTool::GetMaxPlumbObservations() const { return document ? document->maxPlumbObsPerLine : 20; }

bool CMeasurementTool::ClientToPixel(CIntPoint point, const CIntRect& clientRect, double& column,
                                     double& row) const
{
    return picture != nullptr && picture->ViewToImage(point, clientRect, column, row);
}

CImageObservation CMeasurementTool::MakeObservation(const CNameBuffer& name, double column, double row,
                                                    bool centroided) const
{
    double x = 0.0, y = 0.0;
    if (camera)
        camera->PixelToImage(column, row, x, y);
    const double sigma = GetDefaultSigma();
    CImageObservation o(name, x, y, sigma, sigma, column, row);
    o.measured = centroided;
    return o;
}

void CMeasurementTool::Keep(const CImageObservation& observation)
{
    image->targets.AddSorted(observation);
    if (ownList)
        ownList->AddCopy(observation);
    ++changes;
}

bool CMeasurementTool::Centroid(int column, int row, double& outColumn, double& outRow,
                                const CCentroidSettings* settings) const
{
    if (picture == nullptr)
        return false;
    CCentroidOperator op;
    return op.Compute(*picture, column, row, outColumn, outRow, settings ? *settings : GetCentroidSettings()) == 0;
}

CNameBuffer CMeasurementTool::NextUnusedNegativeLabel() const
{
    CNameBuffer result;
    for (int n = -(image->targets.GetSize() + 1);; --n) {
        result.SetNumber(n);
        if (image->FindObservation(result) == nullptr)
            return result;
    }
}

bool CMeasurementTool::Measure(const CNameBuffer& viewLabel, int increment, CIntPoint point,
                               const CIntRect& clientRect)
{
    if (image == nullptr)
        return false;
    switch (kind) {
    case MEASURE_AUTO_CENTROID:
    case MEASURE_MANUAL:
    case MEASURE_REGION_CHECKED:
        return MeasurePoint(viewLabel, point, clientRect);
    case MEASURE_ROW:
        return MeasureRow(increment, point, clientRect);
    case MEASURE_VERTICAL_PLUMB:
    case MEASURE_HORIZONTAL_PLUMB:
        return MeasurePlumb(viewLabel, point, clientRect);
    default:
        return false;
    }
}

bool CMeasurementTool::MeasurePoint(const CNameBuffer& viewLabel, CIntPoint point, const CIntRect& clientRect)
{
    if (camera == nullptr || picture == nullptr)
        return false;
    double column = 0.0, row = 0.0;
    if (!ClientToPixel(point, clientRect, column, row))
        return false;

    // The label, and the old observation of that label out of the way.
    label = viewLabel;
    if (label.GetText()[0] == '\0')
        label = NextUnusedNegativeLabel();
    std::unique_ptr<CImageObservation> old;
    if (const CImageObservation* existing = image->FindObservation(label)) {
        if (askBeforeRemeasure && *askBeforeRemeasure &&
            AfxMessageBox("Point label already exists. Delete old point?\n(Otherwise no point will be measured)",
                          MB_YESNOCANCEL | MB_ICONQUESTION) != IDYES)
            return false;
        old = std::make_unique<CImageObservation>(*existing);
        image->RemoveObservation(label);
    }

    bool success = false;
    bool stored = false;
    if (kind == MEASURE_MANUAL) {
        success = true;
        const CImageObservation o = MakeObservation(label, column, row, false);
        stored = StoreObservation(o);
        if (stored && ownList)
            ownList->AddCopy(o);
    } else {
        const int c = Round(column), r = Round(row);
        double foundColumn = 0.0, foundRow = 0.0;
        success = kind == MEASURE_AUTO_CENTROID ? Centroid(c, r, foundColumn, foundRow)
                                                : RegionCentre(c, r, foundColumn, foundRow);
        if (success) {
            const CImageObservation o = MakeObservation(label, foundColumn, foundRow, true);
            stored = StoreObservation(o);
            if (stored && ownList)
                ownList->AddCopy(o);
        }
    }
    // Nothing measured: the old observation stays.
    if (!stored && old)
        image->targets.AddSorted(*old);
    return success;
}

bool CMeasurementTool::RegionCentre(int column, int row, double& outColumn, double& outRow) const
{
    CImageRowCache cache(picture, 10, GetCentroidSettings().invert != 0);
    double c1 = 0.0, r1 = 0.0, c2 = 0.0, r2 = 0.0;
    {
        CRegionGrid grid(&cache);
        if (!grid.MeasureTarget(column, row, c1, r1))
            return false;
    }
    CRegionGrid grid(&cache);
    if (!grid.MeasureTarget(Round(c1), Round(r1), c2, r2))
        return false;
    if (std::hypot(c2 - c1, r2 - r1) > 0.005)
        return false;
    outColumn = c2;
    outRow = r2;
    return true;
}

bool CMeasurementTool::StoreObservation(const CImageObservation& observation)
{
    const double radius = camera ? camera->GetPixelDiagonal() : 0.0;
    const int near = image->FindNearestObservation(observation, radius);
    if (near >= 0) {
        const CImageObservation* old = image->GetObservationAt(near);
        if (!IsUnidentifiedLabel(old->label) && askOnNearPoint && *askOnNearPoint) {
            bool replaceOld = true;
            if (AskMeasureNewPoint(replaceOld) != IDYES)
                return false;
            if (replaceOld)
                image->RemoveObservationAt(near);
        } else {
            image->RemoveObservationAt(near);
        }
    }
    image->targets.AddSorted(observation);
    ++changes;
    return true;
}

bool CMeasurementTool::MeasureRow(int increment, CIntPoint point, const CIntRect& clientRect)
{
    if (ownList == nullptr || ownList->GetSize() == 0)
        return false;
    const CImageObservation* start = ownList->GetAt(ownList->GetUpperBound());
    label = start->label;
    double prevColumn = start->pixelColumn, prevRow = start->pixelRow;
    if (picture == nullptr || camera == nullptr)
        return true;
    const int width = picture->GetWidth(), height = picture->GetHeight();

    double column = 0.0, row = 0.0, lastColumn = 0.0, lastRow = 0.0;
    if (!ClientToPixel(point, clientRect, column, row) || !Centroid(Round(column), Round(row), lastColumn, lastRow))
        return true;
    std::vector<std::pair<double, double>> stored;
    const auto store = [&](double c, double r) {
        label.AddToNumber(increment);
        Keep(MakeObservation(label, c, r, true));
        stored.emplace_back(c, r);
    };
    store(lastColumn, lastRow);
    for (;;) {
        const int nextColumn = Round(2.0 * lastColumn - prevColumn);
        const int nextRow = Round(2.0 * lastRow - prevRow);
        if (nextColumn < 1 || nextRow < 1 || nextColumn >= width || nextRow >= height)
            break;
        double c = 0.0, r = 0.0;
        if (!Centroid(nextColumn, nextRow, c, r))
            break;
        // A centre found before in this run ends it, or two targets that
        // find each other would be stored without end.
        bool repeated = false;
        for (const auto& s : stored)
            repeated = repeated || (std::fabs(c - s.first) < 0.001 && std::fabs(r - s.second) < 0.001);
        if (repeated)
            break;
        store(c, r);
        prevColumn = lastColumn;
        prevRow = lastRow;
        lastColumn = c;
        lastRow = r;
    }
    return true;
}

bool CMeasurementTool::MeasurePlumb(const CNameBuffer& viewLabel, CIntPoint point, const CIntRect& clientRect)
{
    if (!plumbLine) {
        int number = viewLabel.GetNumber();
        if (number < 0)
            number = 1;
        char text[32];
        std::snprintf(text, sizeof text, "%s%d", kind == MEASURE_HORIZONTAL_PLUMB ? "HP_" : "VP_", number);
        CNameBuffer start;
        start.Set(text);
        plumbLine = std::make_unique<CPlumbLineMeasurement>(image, camera, this, clientRect,
                                                            kind == MEASURE_HORIZONTAL_PLUMB,
                                                            GetMaxPlumbObservations(), start);
    }
    plumbLine->AddPoint(point);
    if (plumbLine->State() < 2)
        return true;
    const int stored = plumbLine->Measure();
    plumbLine.reset();
    return stored > 0;
}

bool CMeasurementTool::PredictPoint(const CObjectPoint& point, CImageObservation& observation) const
{
    if (camera == nullptr || image == nullptr)
        return false;
    double R[3][3];
    image->GetRotation(R);
    const double d[3] = {point.x - image->X, point.y - image->Y, point.z - image->Z};
    const double u = R[0][0] * d[0] + R[0][1] * d[1] + R[0][2] * d[2];
    const double v = R[1][0] * d[0] + R[1][1] * d[1] + R[1][2] * d[2];
    const double w = R[2][0] * d[0] + R[2][1] * d[1] + R[2][2] * d[2];
    // A point behind the camera (or in its plane) is not seen.
    if (!(w < 0.0))
        return false;
    const double* p = camera->parameters;
    const double s = p[CAM_C] / w;
    const double x = p[CAM_XP] - s * u;
    const double y = p[CAM_YP] - s * v;
    const double r2 = x * x + y * y;
    const double f = p[CAM_K1] * r2 + p[CAM_K2] * r2 * r2 + p[CAM_K3] * r2 * r2 * r2;
    const double xd = x - f * x - (p[CAM_P1] * (r2 + 2.0 * x * x) + 2.0 * p[CAM_P2] * x * y) -
                      (p[CAM_B1] * x + p[CAM_B2] * y);
    const double yd = y - f * y - (p[CAM_P2] * (r2 + 2.0 * y * y) + 2.0 * p[CAM_P1] * x * y);
    if (!(std::fabs(xd) < camera->GetHalfSensorWidth() && std::fabs(yd) < camera->GetHalfSensorHeight()))
        return false;
    observation.SetLabel(point.label);
    observation.x = xd;
    observation.y = yd;
    return true;
}

bool CMeasurementTool::IdentifyScannedTargets(CPointSet& points)
{
    if (camera == nullptr || image == nullptr)
        return false;
    const double d = std::max(camera->XPixelSize, camera->YPixelSize) * GetDrivebackThreshold();
    std::vector<Candidate> candidates;
    for (int i = 0; i < image->targets.GetSize(); ++i) {
        CImageObservation* o = image->targets.GetAt(i);
        candidates.push_back({o, IsUnidentifiedLabel(o->label)});
    }
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* point = points.GetAt(i);
        CImageObservation prediction;
        if (!PredictPoint(*point, prediction))
            continue;
        if (CImageObservation* match = MatchPrediction(candidates, prediction.x, prediction.y, d))
            match->SetLabel(point->label);
    }
    image->RemoveCloseObservations(camera->GetPixelDiagonal());
    image->RemoveDuplicateLabels();
    ++changes;
    return true;
}

bool CMeasurementTool::DriveBack(CPointSet& points, double sigma)
{
    if (camera == nullptr || image == nullptr)
        return false;
    const double d = std::max(camera->XPixelSize, camera->YPixelSize) * GetDrivebackThreshold();
    const bool transformed = image->transformation.GetSize() == 4 || image->transformation.GetSize() == 6;
    CObservationList predictions;
    CObservationList found;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* point = points.GetAt(i);
        if (image->FindObservation(point->label) != nullptr)
            continue;
        CImageObservation prediction;
        if (!PredictPoint(*point, prediction))
            continue;
        if (transformed)
            image->TransformObservation(prediction);
        predictions.AddCopy(prediction);
        double column = 0.0, row = 0.0;
        camera->ImageToPixel(prediction.x, prediction.y, column, row);
        double foundColumn = 0.0, foundRow = 0.0;
        if (!Centroid(Round(column), Round(row), foundColumn, foundRow))
            continue;
        char text[32];
        std::snprintf(text, sizeof text, "-%s", point->label.GetText());
        double x = 0.0, y = 0.0;
        camera->PixelToImage(foundColumn, foundRow, x, y);
        CImageObservation target(CNameBuffer(text), x, y, sigma, sigma, foundColumn, foundRow);
        target.measured = true;
        found.AddCopy(target);
    }
    found.RemoveCloseDuplicates(camera->GetPixelDiagonal());

    // Every found target is unidentified until a prediction claims it.
    std::vector<Candidate> candidates;
    for (int i = 0; i < found.GetSize(); ++i)
        candidates.push_back({found.GetAt(i), true});
    for (int i = 0; i < predictions.GetSize(); ++i) {
        const CImageObservation* prediction = predictions.GetAt(i);
        CImageObservation* match = MatchPrediction(candidates, prediction->x, prediction->y, d);
        if (match == nullptr)
            continue;
        match->SetLabel(prediction->label);
        Keep(*match);
    }
    image->RemoveCloseObservations(camera->GetPixelDiagonal());
    image->RemoveDuplicateLabels();
    image->enabled = true;
    ++changes;
    return true;
}

// ---------------------------------------------------------------------------
// CPlumbLineMeasurement

CPlumbLineMeasurement::CPlumbLineMeasurement(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                                             const CIntRect& clientRect, bool horizontal, int maxPoints,
                                             const CNameBuffer& label)
    : image(image), camera(camera), tool(tool), clientRect(clientRect), maxPoints(maxPoints),
      direction(horizontal ? 1 : 0), label(label)
{
}

void CPlumbLineMeasurement::AddPoint(CIntPoint point)
{
    if (pointCount == 0)
        first = point;
    else if (pointCount == 1)
        second = point;
    else
        return;
    ++pointCount;
}

bool CPlumbLineMeasurement::MeasureAt(int column, int row, const CCentroidSettings& settings, double& outColumn,
                                      double& outRow)
{
    const CDisplayImage* picture = tool->GetPicture();
    if (column < 0 || row < 0 || column >= picture->GetWidth() || row >= picture->GetHeight())
        return false;
    if (!tool->Centroid(column, row, outColumn, outRow, &settings))
        return false;
    label.AddToNumber(100);
    tool->Keep(tool->MakeObservation(label, outColumn, outRow, true));
    return true;
}

int CPlumbLineMeasurement::Measure()
{
    if (pointCount < 2 || tool->GetPicture() == nullptr || camera == nullptr || image == nullptr)
        return 0;
    double c1 = 0.0, r1 = 0.0, c2 = 0.0, r2 = 0.0;
    if (!tool->ClientToPixel(first, clientRect, c1, r1) || !tool->ClientToPixel(second, clientRect, c2, r2))
        return 0;
    const int firstColumn = Round(c1), firstRow = Round(r1);
    const int secondColumn = Round(c2), secondRow = Round(r2);

    // The operator gets a copy with the line type; the process-wide record
    // is left as it is.
    CCentroidSettings settings = GetCentroidSettings();
    settings.targetType = direction == 1 ? 'h' : 'v';
    int stored = 0;
    double c = 0.0, r = 0.0;
    stored += MeasureAt(firstColumn, firstRow, settings, c, r) ? 1 : 0;
    stored += MeasureAt(secondColumn, secondRow, settings, c, r) ? 1 : 0;

    const int stepColumn = secondColumn - firstColumn, stepRow = secondRow - firstRow;
    const int further = maxPoints < 3 ? 0 : maxPoints - 3 + 1;
    const int half = settings.windowSize / 2;
    int column = secondColumn, row = secondRow;
    for (int i = 0; i < further; ++i) {
        const int nextColumn = column + stepColumn, nextRow = row + stepRow;
        if (nextColumn >= camera->XPixels - half || nextColumn <= half || nextRow >= camera->YPixels - half ||
            nextRow <= half)
            break;
        if (MeasureAt(nextColumn, nextRow, settings, c, r)) {
            ++stored;
            column = Round(c);
            row = Round(r);
        } else {
            column = nextColumn;
            row = nextRow;
        }
    }
    Clear();
    return stored;
}
