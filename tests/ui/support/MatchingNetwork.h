// A project for the matching and automatic-measurement tests: oriented
// images on a ring around random object points, seen by a distortion-free
// camera, every projection stored as an unassigned target ("-1", "-2", ...
// in shuffled order). The truth and the source of every target are kept.
#pragma once

#include "PointSet.h"

#include <string>
#include <vector>

#include <unordered_map>

class CImageObservation;
class CProjectDocument;

struct MatchingNetworkOptions {
    int images = 6;
    int points = 60;
    double radius = 350.0;      // points lie in a ball of this radius around the origin
    double distance = 3000.0;   // stations lie this far from the origin
    double separation = 20.0;   // smallest distance between two points
    double imageSeparation = 0.0; // smallest distance of two projections, pixels
    double noisePixels = 0.0;   // standard deviation of the image coordinates
    unsigned seed = 3;
    double focal = 50.0;        // mm
    double pixel = 0.005;       // mm
    int columns = 4000, rows = 3000;
    double heightFactor = 0.3;  // station heights, as a fraction of the distance
    // An EO device of five points above the ball, with a ring below its centre.
    bool device = false;
    // Store every projection as an unassigned target (else the images have none).
    bool targets = true;
};

class CMatchingNetwork {
public:
    static constexpr const char* kCamera = "NET";

    // Adds the camera, the images (enabled, oriented, scanned) and their
    // targets to the document.
    void Build(CProjectDocument& doc, const MatchingNetworkOptions& options = MatchingNetworkOptions());

    // Index of the truth point an observation was made of (-1: none).
    int SourceOf(const CImageObservation* o) const;
    // Every observation labelled l in the images comes from one truth point,
    // and no two labels share a source; the map gets label -> source.
    bool ConsistentLabels(const CProjectDocument& doc, std::unordered_map<std::string, int>& sourceOf) const;

    // Writes <folder>/<image name>.tif for every image as its true pose sees
    // the scene: black discs on a grey ground at the truth and device
    // points, a black ring at the ring point; the images point at them.
    // False with a message when a picture cannot be written.
    bool WritePictures(CProjectDocument& doc, const std::string& folder, std::string& error) const;

    // The station of image k as it was built.
    void TrueStation(int k, double station[3]) const
    {
        station[0] = poses[size_t(k)].X, station[1] = poses[size_t(k)].Y, station[2] = poses[size_t(k)].Z;
    }

    CPointSet truth;   // labels T1, T2, ...
    CPointSet device;  // E1 .. E5, also the document's EO device
    double ring[3] = {0.0, 0.0, 0.0};
    static constexpr double kDiscPixels = 4.0;
    static constexpr double kRingOuter = 13.0, kRingInner = 7.0;

private:
    struct Pose {
        double X, Y, Z;
        double R[3][3];
    };
    std::vector<Pose> poses; // the true poses
    MatchingNetworkOptions options;
    std::unordered_map<const CImageObservation*, int> sources;
};
