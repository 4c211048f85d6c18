// The measuring object of an image window: turns a click into labelled
// observations of the image (centroided, manual, a row of targets, plumb
// lines, a region centre checked twice), predicts where known points fall
// once the image is oriented, labels scanned targets by those predictions
// and measures the points not yet measured ("driveback").
#pragma once

#include <functional>
#include <memory>

#include "CentroidSettings.h"
#include "DisplayImage.h"
#include "ImageObservation.h"
#include "NameBuffer.h"

class CCamera;
class CObjectPoint;
class CPointSet;
class CProjectDocument;
class CProjectImage;
class CMeasurementTool;

// Kinds of measurement a click makes.
enum MeasurementKind : int {
    MEASURE_AUTO_CENTROID = 0,
    MEASURE_MANUAL = 1,
    MEASURE_ROW = 2,
    MEASURE_VERTICAL_PLUMB = 3,
    MEASURE_HORIZONTAL_PLUMB = 4,
    MEASURE_REGION_CHECKED = 5
};

// The question "Kestrelon - Measure New Point": returns IDYES or IDNO;
// replaceOld holds the check box "Replace Old Observation." (in: its
// initial state, out: as left by the user). The shell installs its dialog;
// without a handler the answer is No.
using MeasureNewPointHandler = std::function<int(bool& replaceOld)>;
MeasureNewPointHandler SetMeasureNewPointHandler(MeasureNewPointHandler handler);
int AskMeasureNewPoint(bool& replaceOld);

// An observation counts as unidentified (a target without a point) when the
// trailing number of its label is below zero.
bool IsUnidentifiedLabel(const CNameBuffer& label);

// A chain of line targets along the line through two clicks.
class CPlumbLineMeasurement {
public:
    CPlumbLineMeasurement(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                          const CIntRect& clientRect, bool horizontal, int maxPoints, const CNameBuffer& label);

    // Keeps the first, then the second client point; a third is ignored.
    void AddPoint(CIntPoint point);
    // Points given: 0, 1 or 2.
    int State() const { return pointCount; }
    // Measures along the line through the two points; the number of
    // observations stored (0 without two points, picture or camera).
    int Measure();
    // Forgets both points.
    void Clear() { pointCount = 0; }

    const CNameBuffer& GetLabel() const { return label; }
    bool IsHorizontal() const { return direction == 1; }

private:
    // Centroid of the line target at pixel (column, row) and, on success,
    // the stored observation; false when nothing was stored.
    bool MeasureAt(int column, int row, const CCentroidSettings& settings, double& outColumn, double& outRow);

    CProjectImage* image;
    const CCamera* camera;
    CMeasurementTool* tool;
    CIntPoint first;
    CIntPoint second;
    int pointCount = 0;
    CIntRect clientRect;
    int maxPoints;
    int direction; // 0 vertical, 1 horizontal
    CNameBuffer label;
};

class CMeasurementTool {
public:
    // The option pointers are the document's "ask before re-measuring a
    // label" and "ask when a point lands on a labelled one" bytes; null
    // counts as off. The second form keeps copies of what it stores in the
    // view's own list (the list Undo pops).
    CMeasurementTool(CProjectImage* image, const CCamera* camera, CDisplayImage* picture,
                     const bool* askBeforeRemeasure, const bool* askOnNearPoint);
    CMeasurementTool(CProjectImage* image, const CCamera* camera, CDisplayImage* picture,
                     CObservationList* ownList, const bool* askBeforeRemeasure, const bool* askOnNearPoint);
    ~CMeasurementTool();
    CMeasurementTool(const CMeasurementTool&) = delete;
    CMeasurementTool& operator=(const CMeasurementTool&) = delete;

    // The document whose settings apply: the default image sigma, the
    // driveback distance threshold and the maximum plumb-line observations.
    // Without one: 0.0005 mm, 10 pixels and 20.
    void SetDocument(const CProjectDocument* document);

    void SetKind(int value) { kind = value; }
    int GetKind() const { return kind; }

    // One click at a client point of the view; label and increment are the
    // view's (the label is copied). True when the kind's measurement
    // succeeded (kinds 0 and 1 also when storing was declined).
    bool Measure(const CNameBuffer& viewLabel, int increment, CIntPoint point, const CIntRect& clientRect);

    // The centroid operator on the picture at the pixel; true with the
    // centre (pixel units, pixel centres at +0.5) on success. Null settings:
    // the process-wide record.
    bool Centroid(int column, int row, double& outColumn, double& outRow,
                  const CCentroidSettings* settings = nullptr) const;

    // Stores a copy in the image after the near-point check; false when the
    // user declined.
    bool StoreObservation(const CImageObservation& observation);

    // Collinearity with lens distortion: true when the point falls inside
    // the sensor, with its label and predicted x, y (mm) in the observation.
    bool PredictPoint(const CObjectPoint& point, CImageObservation& observation) const;

    // Labels the image's unidentified targets by the predicted positions of
    // the set's points; false without a camera.
    bool IdentifyScannedTargets(CPointSet& points);
    // Measures the set's points that the image lacks at their predicted
    // positions and enables the image; false without a camera.
    bool DriveBack(CPointSet& points, double sigma);

    // The plumb-line measurement in progress, or null; discarding deletes it.
    CPlumbLineMeasurement* GetPlumbLine() const { return plumbLine.get(); }
    void DiscardPlumbLine() { plumbLine.reset(); }

    CDisplayImage* GetPicture() const { return picture; }
    CObservationList* GetOwnList() const { return ownList; }
    double GetDefaultSigma() const;
    double GetDrivebackThreshold() const;
    int GetMaxPlumbObservations() const;

    // A client point as a picture position (doubles); false without a
    // picture or for an empty client rectangle.
    bool ClientToPixel(CIntPoint point, const CIntRect& clientRect, double& column, double& row) const;
    // A centroided observation at the pixel position, converted by the camera.
    CImageObservation MakeObservation(const CNameBuffer& label, double column, double row, bool centroided) const;
    // Inserts a copy into the image's observations in label order and one
    // into the own list.
    void Keep(const CImageObservation& observation);

    // Counts the changes this tool made to the image's observations: a caller
    // compares it before and after a measurement to learn whether anything
    // was stored, replaced or removed.
    unsigned GetChangeCount() const { return changes; }

private:
    bool MeasurePoint(const CNameBuffer& label, CIntPoint point, const CIntRect& clientRect);
    bool MeasureRow(int increment, CIntPoint point, const CIntRect& clientRect);
    bool MeasurePlumb(const CNameBuffer& viewLabel, CIntPoint point, const CIntRect& clientRect);
    bool RegionCentre(int column, int row, double& outColumn, double& outRow) const;
    // The label for an empty label box: -(n + 1), counted down until free.
    CNameBuffer NextUnusedNegativeLabel() const;

    CDisplayImage* picture;
    CProjectImage* image;
    const CCamera* camera;
    int kind = MEASURE_AUTO_CENTROID;
    CNameBuffer label;
    CObservationList* ownList = nullptr;
    std::unique_ptr<CPlumbLineMeasurement> plumbLine;
    const bool* askBeforeRemeasure;
    const bool* askOnNearPoint;
    const CProjectDocument* document = nullptr;
    unsigned changes = 0;
};
