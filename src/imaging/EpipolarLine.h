// The epipolar line of a labelled point: where the ray of its observation in
// one image runs in another image.
#pragma once

class CCamera;
class CNameBuffer;
class CProjectImage;

// End points (column, row) in pixels of the target image; all zero when
// cleared.
struct CEpipolarLine {
    double column1 = 0.0;
    double row1 = 0.0;
    double column2 = 0.0;
    double row2 = 0.0;
};

// 1 with the line where it crosses the target camera's sensor; 0 (line
// cleared) when the source image has no observation with the label, the ray
// has no line in the target image (it passes through the target's station
// or an image is not oriented), or the line misses the sensor or only
// touches a corner.
int ComputeEpipolarLine(CEpipolarLine& line, const CProjectImage& source, const CCamera& sourceCamera,
                        const CProjectImage& target, const CCamera& targetCamera, const CNameBuffer& label);
