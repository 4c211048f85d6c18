// Synthetic targets of known truth for the measuring code: filled ellipses
// (circles), annuli and straight bars rendered by area coverage, a Gaussian
// blur, Gaussian noise and 8-bit quantisation, on a flat or sloping
// background. Also the Cramer-Rao bound of a target's centre under this
// model. Files of the pictures are written by ImageFiles (BMP byte by byte,
// TIFF through libtiff).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ImageFiles.h"

class CDisplayImage;

enum class TargetKind { Ellipse, Annulus, Bar };

// Image coordinates: pixel (column c, row r) covers [c, c + 1) x [r, r + 1),
// so its centre is (c + 0.5, r + 0.5); y grows downwards.
struct RenderedTarget {
    TargetKind kind = TargetKind::Ellipse;
    double x = 0.0;          // centre (a point on the centre line for a bar)
    double y = 0.0;
    double semiAxisA = 5.0;  // along the rotation direction (outer for an annulus)
    double semiAxisB = 5.0;  // across it
    double rotation = 0.0;   // radians from the x axis towards +y; a bar's direction
    double innerRatio = 0.5; // annulus: inner semi-axes over outer ones
    double barWidth = 4.0;   // bar: full width across its direction
    double amplitude = 180.0; // target grey minus background (negative: dark target)
};

struct TargetScene {
    int width = 96;
    int height = 96;
    double background = 20.0;
    double slopeX = 0.0; // background change per pixel, about the image centre
    double slopeY = 0.0;
    std::vector<RenderedTarget> targets;
    double blurSigma = 0.0;  // pixels
    double noiseSigma = 0.0; // grey levels
    unsigned seed = 1;
    int samples = 1;         // 3: a colour picture with equal R, G and B
};

// Share of each pixel covered by the target, top row first. Each pixel row
// is integrated exactly along x on subRows lines across it.
std::vector<double> CoverageOf(const RenderedTarget& target, int width, int height, int subRows = 64);

// Grey values before noise and quantisation, top row first.
std::vector<double> RenderNoiseFree(const TargetScene& scene);

// Dark discs (amplitude -180) on a light background (grey 220), as the
// centroid settings expect by default; centres as (x, y) pairs.
TargetScene DarkDiscScene(int width, int height, const std::vector<std::pair<double, double>>& centres,
                          double radius, double blurSigma, double noiseSigma);

// The 8-bit picture: noise added, rounded, held to 0..255.
TestPicture RenderScene(const TargetScene& scene);

// Writes the picture as a BMP (byte by byte) or, for a name ending in
// ".tif", as a TIFF through libtiff; false when it cannot be written.
bool WritePicture(const std::string& path, const TestPicture& picture);

// Lower bound of the covariance of an unbiased estimate of the centre of
// target index: the inverse Fisher information of the noise-free image's
// derivatives with respect to the centre, for Gaussian noise of the scene's
// sigma, amplitude and background known. Zero without noise.
struct CentreBound {
    double varX = 0.0;
    double varY = 0.0;
    double covXY = 0.0;
    double Radial() const; // square root of varX + varY
};
CentreBound CramerRaoBound(const TargetScene& scene, std::size_t index = 0);

// A display image holding the picture in memory, laid out as a loaded one
// (bottom-up rows padded to 4 bytes; 8 bits with a grey table, or 24 bits
// blue-green-red). Null when it cannot be made.
std::unique_ptr<CDisplayImage> MakeDisplayImage(const TestPicture& picture);
