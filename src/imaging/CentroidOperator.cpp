#include "CentroidOperator.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "DisplayImage.h"
#include "Message.h"

namespace {

int Fail(int code, const char* reason)
{
    SetStatusText((std::string("Centroid FAILED!! - ") + reason).c_str());
    return code;
}

// A threshold brought to a grey level: outside 0..255 (or not a number) it
// is held at the nearest end.
int ToGrey(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 255.0)
        return 255;
    return static_cast<int>(value);
}

bool IsLineType(char type) { return type == 'h' || type == 'v' || type == 'l' || type == 't'; }

} // namespace

int CCentroidOperator::Compute(const CDisplayImage& image, int column, int row, double& x, double& y,
                               const CCentroidSettings& shared)
{
    const CCentroidSettings s = shared;
    centreColumn = column;
    centreRow = row;
    int pass = 0;
    int size = ClampCentroidWindowSize(s.windowSize);
    int edges = 0;
    for (;;) {
        if (!LoadWindow(image, size))
            return Fail(3, "FCB");
        const int half = size / 2;
        x0 = std::max(centreColumn - half, 0);
        y0 = std::max(centreRow - half, 0);
        x1 = centreColumn + half;
        y1 = centreRow + half;
        windowWidth = x1 - x0;
        windowHeight = y1 - y0;
        if (s.invert)
            InvertWindow();
        if (windowWidth < 6 || windowHeight < 6)
            return Fail(-2, "Window Too Small");

        int threshold = 0;
        int edgeFlag = 0;
        if (const int code = FindThreshold(s, threshold, edgeFlag))
            return code;
        SubtractThreshold(threshold);
        if (!ComputeWeightedCentroid(s.weighting))
            return Fail(-1, "Comp Centroid");

        const int seedColumn = static_cast<int>(centroidX);
        const int seedRow = static_cast<int>(centroidY);
        if (window[seedRow][seedColumn] == 0) {
            size -= 2; // the window is larger than the target
            continue;
        }
        int cleared = 0;
        if (s.targetType == 'c')
            cleared = IsolateBlob(seedColumn, seedRow);
        else if (IsLineType(s.targetType))
            cleared = TraceLine(s.targetType, seedColumn, seedRow);
        else
            return Fail(-1, "LineTest");
        if (cleared > 0 && !ComputeWeightedCentroid(s.weighting))
            return Fail(-1, "CompCentorid");

        edges = edgeFlag + CountEdges(s.targetType);
        centroidX += x0;
        centroidY += y0;
        centreColumn = static_cast<int>(centroidX);
        centreRow = static_cast<int>(centroidY);
        if (edges == 0 && pass > 0)
            break;
        if (++pass >= 3)
            break;
    }

    if (s.thresholdMethod != 'p') {
        if (edges > 0)
            return Fail(-2, "Edge int");
        if (s.targetType == 'c') {
            if (blobWidth < s.minTargetSize || blobHeight < s.minTargetSize)
                return Fail(-1, "Shape");
            if (s.shapeTesting && windowWidth > 7 && windowHeight > 7 && !TestShape(s.xyRatio))
                return Fail(-3, "Shape");
        } else if (lineWidth < s.minTargetSize) {
            return Fail(-1, "Shape");
        }
    }
    x = centroidX;
    y = centroidY;
    return 0;
}

bool CCentroidOperator::LoadWindow(const CDisplayImage& image, int size)
{
    const int64_t imageWidth = image.GetHeaderWidth();
    const int64_t imageHeight = image.GetHeaderHeight();
    const int bits = image.GetBitCount();
    const uint8_t* pixels = image.GetPixelBits();
    if ((bits != 8 && bits != 24) || !pixels)
        return false;
    // An image smaller than the window cannot hold it.
    if (size < 1 || size > kMaxWindow || imageWidth < size || imageHeight < size)
        return false;
    const int64_t bytesPerLine = ((bits * imageWidth + 31) >> 5) * 4;
    if (bytesPerLine * imageHeight > image.GetImageBytes())
        return false;

    // Move the centre so that the window lies inside the image. Where the
    // image is exactly as wide as an even window, the usual move would start
    // the window one pixel outside; it then starts at the image's edge.
    const int half = size / 2;
    auto place = [half](int64_t centre, int64_t extent) {
        if (centre - half < 0)
            centre = half;
        else if (centre + half >= extent)
            centre = extent - 1 - half;
        if (centre - half < 0)
            centre = half;
        return static_cast<int32_t>(centre);
    };
    centreColumn = place(centreColumn, imageWidth);
    centreRow = place(centreRow, imageHeight);
    const int64_t left = centreColumn - half;
    const int64_t top = centreRow - half;

    for (int r = 0; r < size; ++r) {
        const uint8_t* line = pixels + (imageHeight - 1 - (top + r)) * bytesPerLine;
        uint8_t* out = window[r];
        if (bits == 8) {
            std::copy(line + left, line + left + size, out);
        } else {
            const uint8_t* p = line + left * 3;
            for (int c = 0; c < size; ++c, p += 3)
                out[c] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
        }
    }
    return true;
}

void CCentroidOperator::InvertWindow()
{
    for (int r = 0; r < windowHeight; ++r)
        for (int c = 0; c < windowWidth; ++c)
            window[r][c] = static_cast<uint8_t>(255 - window[r][c]);
}

int CCentroidOperator::CollectBorderSamples(char targetType)
{
    const int W = windowWidth;
    const int H = windowHeight;
    int n = 0;
    auto take = [&](int r, int c) { borderSamples[n++] = window[r][c]; };
    switch (targetType) {
    case 'c':
        for (int r = 0; r < H; ++r) {
            take(r, 0);
            take(r, W - 1);
        }
        for (int c = 1; c < W - 1; ++c) {
            take(0, c);
            take(H - 1, c);
        }
        break;
    case 'v':
        for (int r = 0; r < H; ++r) {
            take(r, 0);
            take(r, W - 1);
        }
        break;
    case 'h':
        for (int c = 1; c < W; ++c) {
            take(0, c);
            take(H - 1, c);
        }
        break;
    case 'l':
        take(H - 1, 0);
        take(H - 2, 0);
        take(H - 1, 1);
        take(0, W - 1);
        take(0, W - 2);
        take(1, W - 1);
        break;
    case 't':
        take(H - 1, W - 1);
        take(H - 2, W - 1);
        take(H - 1, W - 2);
        take(0, 0);
        take(0, 1);
        take(1, 0);
        break;
    default:
        break;
    }
    return n;
}

int CCentroidOperator::FindThreshold(const CCentroidSettings& s, int& threshold, int& edgeFlag)
{
    const char method = s.thresholdMethod;
    if (method == 'p') {
        threshold = ToGrey(std::trunc(s.thresholdValue));
        return 0;
    }
    int maximum = 0;
    int minimum = 255;
    int64_t sum = 0;
    for (int r = 0; r < windowHeight; ++r)
        for (int c = 0; c < windowWidth; ++c) {
            const int v = window[r][c];
            maximum = std::max(maximum, v);
            minimum = std::min(minimum, v);
            sum += v;
        }
    const int mean = static_cast<int>(sum / (int64_t(windowWidth) * windowHeight));
    if (maximum - minimum < s.minGreyRange)
        return Fail(1, "Range Too Small");
    const int count = CollectBorderSamples(s.targetType);

    switch (method) {
    case 'b': {
        const int largest = count > 0 ? *std::max_element(borderSamples, borderSamples + count) : 0;
        threshold = ToGrey(largest + std::trunc(s.thresholdValue));
        if (threshold >= maximum)
            return Fail(1, "One Color Window");
        return 0;
    }
    case 'r': {
        // Drop the brightest border samples until the rest looks like clean
        // background, but keep at least half of them.
        int histogram[256] = {};
        int64_t total = 0;
        int64_t squares = 0;
        for (int i = 0; i < count; ++i) {
            ++histogram[borderSamples[i]];
            total += borderSamples[i];
            squares += int64_t(borderSamples[i]) * borderSamples[i];
        }
        int n = count;
        int top = 255;
        double m = 0.0;
        double sd = 0.0;
        for (;;) {
            if (n > 0) {
                m = double(total) / n;
                const double q = double(squares) - n * m * m;
                sd = (q > 0.0 && n > 1) ? std::sqrt(q / (n - 1)) : 0.0;
            }
            if (m + 3.0 * sd < maximum - s.minGreyRange || n == count / 2)
                break;
            while (histogram[top] == 0)
                --top;
            --histogram[top];
            total -= top;
            squares -= int64_t(top) * top;
            --n;
        }
        if (n == count / 2)
            edgeFlag = 1;
        threshold = ToGrey(std::ceil(m + 3.0 * sd));
        if (threshold >= maximum)
            return Fail(1, "One Color Window");
        return 0;
    }
    case 's':
        threshold = ToGrey(minimum + (maximum - minimum) * s.thresholdValue);
        return 0;
    case 'w':
        threshold = ToGrey((mean + minimum) * 0.5);
        return 0;
    default:
        threshold = 0; // a method letter that does not exist removes nothing
        return 0;
    }
}

void CCentroidOperator::SubtractThreshold(int threshold)
{
    for (int r = 0; r < windowHeight; ++r)
        for (int c = 0; c < windowWidth; ++c) {
            const int v = window[r][c];
            window[r][c] = static_cast<uint8_t>(v > threshold ? v - threshold : 0);
        }
}

bool CCentroidOperator::ComputeWeightedCentroid(char weighting)
{
    if (windowWidth < 1 || windowHeight < 1)
        return false;
    // 64 bits: squared weights over a 128 x 128 window pass 32 bits.
    int64_t sum = 0;
    int64_t sumX = 0;
    int64_t sumY = 0;
    for (int r = 0; r < windowHeight; ++r) {
        int64_t rowSum = 0;
        for (int c = 0; c < windowWidth; ++c) {
            const int v = window[r][c];
            if (v == 0)
                continue;
            const int64_t w = weighting == '0' ? 1 : weighting == '2' ? int64_t(v) * v : v;
            rowSum += w;
            sumX += (c + 1) * w;
        }
        sum += rowSum;
        sumY += (r + 1) * rowSum;
    }
    if (sum == 0)
        return false;
    centroidX = double(sumX) / double(sum) - 0.5;
    centroidY = double(sumY) / double(sum) - 0.5;
    return true;
}

namespace {

// One step of the tracking along a line: when the pixel at p is 0, move to
// the neighbour towards the line's start, else towards its end, when that
// one is set; else tracking ends. Returns true when it ended here.
template <typename Pixel>
bool TrackingStep(const Pixel& at, int& p, bool& tracking)
{
    if (!tracking || at(p) != 0)
        return false;
    if (at(p - 1) != 0)
        --p;
    else if (at(p + 1) != 0)
        ++p;
    else {
        tracking = false;
        return true;
    }
    return false;
}

} // namespace

int CCentroidOperator::IsolateBlob(int sc, int sr)
{
    const int W = windowWidth;
    const int H = windowHeight;
    int cleared = 0;
    int left = sc;   // smallest left end
    int right = sc;  // largest right end
    int topRow = 0;
    int bottomRow = H - 1;

    // Scans from p in direction step up to the limit (inclusive): while
    // tracking, the first 0 pixel is the end and what lies beyond is
    // cleared; without tracking everything is cleared.
    auto scanRow = [&](int r, int from, int step, int limit, bool tracking, bool& found) {
        int end = 0;
        found = false;
        for (int c = from; step < 0 ? c >= limit : c <= limit; c += step) {
            if (tracking && !found) {
                if (window[r][c] == 0) {
                    end = c;
                    found = true;
                }
            } else {
                cleared += Clear(r, c);
            }
        }
        return end;
    };
    auto scanColumn = [&](int c, int from, int step, int limit, bool tracking, bool& found) {
        int end = 0;
        found = false;
        for (int r = from; step < 0 ? r >= limit : r <= limit; r += step) {
            if (tracking && !found) {
                if (window[r][c] == 0) {
                    end = r;
                    found = true;
                }
            } else {
                cleared += Clear(r, c);
            }
        }
        return end;
    };

    auto rowSweep = [&](int from, int step, int& limitRow) {
        int k = sc;
        bool tracking = true;
        for (int r = from; r >= 0 && r < H; r += step) {
            if (TrackingStep([&](int c) { return At(r, c); }, k, tracking))
                limitRow = r;
            bool foundA = false;
            bool foundB = false;
            int a = scanRow(r, k, -1, 0, tracking, foundA);
            int b = scanRow(r, k, +1, W - 1, tracking, foundB);
            if (!tracking)
                continue;
            if (!foundA)
                a = -1;
            else
                left = std::min(left, a);
            if (!foundB)
                b = W;
            else
                right = std::max(right, b);
            k = std::clamp((a + b) / 2, 0, W - 1);
        }
    };
    rowSweep(sr, -1, topRow);
    rowSweep(sr + 1, +1, bottomRow);

    auto columnSweep = [&](int from, int to, int step) {
        int j = sr;
        bool tracking = true;
        for (int c = from; step < 0 ? c >= to : c <= to; c += step) {
            TrackingStep([&](int r) { return At(r, c); }, j, tracking);
            bool foundU = false;
            bool foundD = false;
            int u = scanColumn(c, j, -1, topRow, tracking, foundU);
            int d = scanColumn(c, j, +1, bottomRow, tracking, foundD);
            if (!tracking)
                continue;
            if (!foundU)
                u = topRow;
            if (!foundD)
                d = bottomRow;
            j = (u + d) / 2;
        }
    };
    columnSweep(sc, left, -1);
    columnSweep(sc + 1, right, +1);

    blobWidth = right - left - 1;
    blobHeight = bottomRow - topRow - 1;
    fillRatio = 0.0;
    if (right - left > 1 && bottomRow - topRow > 1) {
        int set = 0;
        for (int r = topRow; r <= bottomRow; ++r)
            for (int c = left; c <= right; ++c)
                set += window[r][c] != 0;
        fillRatio = double(set) / (double(blobWidth) * blobHeight);
    }
    return cleared;
}

int CCentroidOperator::TraceLine(char targetType, int sc, int sr)
{
    const int W = windowWidth;
    const int H = windowHeight;
    int cleared = 0;
    int width = std::max(W, H);

    // One row (or column) across the line: the ends are the first 0 pixels
    // on either side of p; beyond them, or everywhere once tracking is off,
    // pixels are cleared.
    auto scan = [&](auto pixel, int p, int extent, bool tracking, int& lower, int& upper) {
        bool foundLower = false;
        bool foundUpper = false;
        lower = -1;
        upper = extent;
        for (int i = p; i >= 0; --i) {
            uint8_t& v = pixel(i);
            if (tracking && !foundLower) {
                if (v == 0) {
                    lower = i;
                    foundLower = true;
                }
            } else if (v != 0) {
                v = 0;
                ++cleared;
            }
        }
        for (int i = p; i < extent; ++i) {
            uint8_t& v = pixel(i);
            if (tracking && !foundUpper) {
                if (v == 0) {
                    upper = i;
                    foundUpper = true;
                }
            } else if (v != 0) {
                v = 0;
                ++cleared;
            }
        }
        return foundLower && foundUpper;
    };

    if (targetType == 'v' || targetType == 'l' || targetType == 't') {
        for (int step : {-1, +1}) {
            int k = sc;
            bool tracking = true;
            for (int r = sr; r >= 0 && r < H; r += step) {
                TrackingStep([&](int c) { return At(r, c); }, k, tracking);
                int a = 0;
                int b = 0;
                const bool both = scan([&](int c) -> uint8_t& { return window[r][c]; }, k, W, tracking, a, b);
                if (tracking) {
                    k = std::clamp((a + b) / 2, 0, W - 1);
                    if (both)
                        width = std::min(width, b - a - 1);
                }
            }
        }
    }
    if (targetType == 'h' || targetType == 'l' || targetType == 't') {
        for (int step : {-1, +1}) {
            int j = sr;
            bool tracking = true;
            for (int c = sc; c >= 0 && c < W; c += step) {
                TrackingStep([&](int r) { return At(r, c); }, j, tracking);
                int u = 0;
                int d = 0;
                const bool both = scan([&](int r) -> uint8_t& { return window[r][c]; }, j, H, tracking, u, d);
                if (tracking) {
                    j = std::clamp((u + d) / 2, 0, H - 1);
                    if (both)
                        width = std::min(width, d - u - 1);
                }
            }
        }
    }
    lineWidth = width;
    return cleared;
}

int CCentroidOperator::CountEdges(char targetType) const
{
    const int W = windowWidth;
    const int H = windowHeight;
    int edges = 0;
    if (targetType == 'c' || targetType == 'v')
        for (int r = 0; r < H; ++r)
            edges += window[r][0] != 0 || window[r][W - 1] != 0;
    if (targetType == 'c' || targetType == 'h')
        for (int c = 0; c < W; ++c)
            edges += window[0][c] != 0 || window[H - 1][c] != 0;
    if (targetType == 'l') {
        edges += window[H - 1][0] != 0 || window[H - 2][0] != 0 || window[H - 1][1] != 0;
        edges += window[0][W - 1] != 0 || window[0][W - 2] != 0 || window[1][W - 1] != 0;
    }
    if (targetType == 't') {
        edges += window[H - 1][W - 1] != 0 || window[H - 2][W - 1] != 0 || window[H - 1][W - 2] != 0;
        edges += window[0][0] != 0 || window[0][1] != 0 || window[1][0] != 0;
    }
    return edges;
}

bool CCentroidOperator::TestShape(double xyRatio) const
{
    if (blobHeight < 1)
        return false;
    const double ratio = double(blobWidth) / blobHeight;
    if (ratio * xyRatio < 1.0 || ratio > xyRatio)
        return false;
    if (blobWidth > 7 && blobHeight > 7 && (fillRatio < 0.5 || fillRatio > 1.0))
        return false;
    return true;
}
