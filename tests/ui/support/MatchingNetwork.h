// A project for the matching and automatic-measurement tests: oriented
// images on a ring around random object points, seen by a distortion-free
// camera, every projection stored as an unassigned target ("-1", "-2", ...
// in shuffled order). The truth and the source of every target are kept.
#pragma once

#include "PointSet.h"

#include <string>

#include <unordered_map>

class CImageObservation;
class CProjectDocument;

struct MatchingNetworkOptions {
    int images = 6;
    int points = 60;
    double radius = 350.0;      // points lie in a ball of this radius around the origin
    double distance = 3000.0;   // stations lie this far from the origin
    double separation = 20.0;   // smallest distance between two points
    double noisePixels = 0.0;   // standard deviation of the image coordinates
    unsigned seed = 3;
};

class CMatchingNetwork {
public:
    static constexpr double kFocal = 50.0;
    static constexpr double kPixel = 0.005;
    static constexpr const char* kCamera = "NET";

    // Adds the camera, the images (enabled, oriented, scanned) and their
    // targets to the document.
    void Build(CProjectDocument& doc, const MatchingNetworkOptions& options = MatchingNetworkOptions());

    // Index of the truth point an observation was made of (-1: none).
    int SourceOf(const CImageObservation* o) const;
    // Every observation labelled l in the images comes from one truth point,
    // and no two labels share a source; the map gets label -> source.
    bool ConsistentLabels(const CProjectDocument& doc, std::unordered_map<std::string, int>& sourceOf) const;

    CPointSet truth; // labels T1, T2, ...

private:
    std::unordered_map<const CImageObservation*, int> sources;
};
