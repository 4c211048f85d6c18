// The centroid operator: from a rough pixel position to the sub-pixel centre
// of the target there. It reads a square window of grey values from a
// display image, removes the background, computes a weighted centroid, keeps
// only the target's pixels, re-centres and repeats, and finally tests the
// target's size and shape. Failures put their reason on the status line and
// return a code. Built on the caller's stack for one measurement; it
// allocates nothing.
#pragma once

#include <cstdint>

#include "CentroidSettings.h"

class CDisplayImage;

class CCentroidOperator {
public:
    static constexpr int kMaxWindow = CCentroidSettings::kMaxWindowSize;
    static constexpr int kMaxBorderSamples = 512;

    // Measures the target at pixel (column, row). 0 on success with the centre
    // in image coordinates (pixel centres at +0.5); any other code leaves x
    // and y untouched. The settings are read once at the start, so a caller
    // on another thread can pass its own copy.
    int Compute(const CDisplayImage& image, int column, int row, double& x, double& y,
                const CCentroidSettings& settings = GetCentroidSettings());

private:
    bool LoadWindow(const CDisplayImage& image, int size);
    void InvertWindow();
    int CollectBorderSamples(char targetType);
    // The background level t in 0..255, or a failure code other than 0
    // (status sent); edgeFlag is set when the noise loop found no clean border.
    int FindThreshold(const CCentroidSettings& s, int& threshold, int& edgeFlag);
    void SubtractThreshold(int threshold);
    bool ComputeWeightedCentroid(char weighting);
    int IsolateBlob(int seedColumn, int seedRow);
    int TraceLine(char targetType, int seedColumn, int seedRow);
    int CountEdges(char targetType) const;
    bool TestShape(double xyRatio) const;

    // Window pixel, 0 outside the W x H window.
    int At(int r, int c) const
    {
        return (r < 0 || c < 0 || r >= windowHeight || c >= windowWidth) ? 0 : window[r][c];
    }
    // Clears the pixel when non-zero; returns 1 when it did.
    int Clear(int r, int c)
    {
        if (window[r][c] == 0)
            return 0;
        window[r][c] = 0;
        return 1;
    }

    uint8_t window[kMaxWindow][kMaxWindow];
    uint8_t borderSamples[kMaxBorderSamples];
    int32_t x0 = 0, y0 = 0;                 // image position of window pixel (0, 0)
    int32_t x1 = 0, y1 = 0;                 // x0 + window width, y0 + window height
    int32_t centreColumn = 0, centreRow = 0; // the pixel the window is centred on
    double centroidX = 0.0, centroidY = 0.0;

    int windowWidth = 0;
    int windowHeight = 0;
    int blobWidth = 0;
    int blobHeight = 0;
    double fillRatio = 0.0;
    int lineWidth = 0;
};
