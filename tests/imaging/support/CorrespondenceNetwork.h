// A network of oriented images around random object points, seen by a
// distortion-free camera, with every projection stored as an unassigned
// target ("-1", "-2", ... in shuffled order): the truth of the
// correspondence tests and benchmarks.
#pragma once

#include <random>
#include <unordered_map>
#include <vector>

#include "Camera.h"
#include "PointSet.h"
#include "ProjectImageList.h"

struct NetworkOptions {
    int images = 5;
    int points = 200;
    double radius = 350.0;    // the points lie in a ball of this radius around the origin
    double distance = 3000.0; // stations lie this far from the origin, around it
    double noisePixels = 0.0; // standard deviation of the image coordinates, pixels
    unsigned seed = 1;
};

class CCorrespondenceNetwork {
public:
    static constexpr double kFocal = 50.0;
    static constexpr double kPixel = 0.005;

    explicit CCorrespondenceNetwork(const NetworkOptions& options);
    CCorrespondenceNetwork(const CCorrespondenceNetwork&) = delete;
    CCorrespondenceNetwork& operator=(const CCorrespondenceNetwork&) = delete;

    // Exact image coordinates of an object point; false behind the camera.
    bool Project(int image, const double P[3], double& x, double& y) const;
    // Adds a target at the projection of P (no noise) with the next free
    // negative label and sorts the list; it belongs to truth point `source`
    // (-1: none). False when P is not in front of the camera.
    bool AddTarget(int image, const double P[3], int source);

    // The truth point that an observation was made of (-1: none).
    int SourceOf(const CImageObservation* o) const;
    // Labels every target of the images [first, last] with its truth
    // point's label from `truth`.
    void LabelFromTruth(int first, int last);
    // Fills the point's ray count and per-image indices from the labels the
    // images hold now, as a bundle adjustment leaves them.
    void IndexRays(CObjectPoint& point) const;

    NetworkOptions options;
    CCameraList cameras;
    CProjectImageList images;
    CImagePtrArray imagePtrs;
    CPointSet truth; // labels T1, T2, ...
    std::mt19937 generator;

private:
    std::unordered_map<const CImageObservation*, int> sources;
};

// True when every list of the images is in label order.
bool ListsSorted(const CImagePtrArray& images);
// True when every list of the images is in label order and its unassigned
// targets carry "-1", "-2", ... in list order of their numbers' magnitudes.
bool ListsSortedAndNumbered(const CImagePtrArray& images);
// Labels carried by observations that are neither unassigned nor in the set.
int CountStrayLabels(const CImagePtrArray& images, const CPointSet& points);
