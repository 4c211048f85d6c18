#include "TargetRenderer.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "DisplayImage.h"

namespace {

// The x interval of an ellipse on the line y = yy; false when it misses.
bool EllipseChord(double cx, double cy, double a, double b, double rotation, double yy, double& xa,
                  double& xb)
{
    if (a <= 0.0 || b <= 0.0)
        return false;
    const double c = std::cos(rotation);
    const double s = std::sin(rotation);
    const double dy = yy - cy;
    // ((dx c + dy s) / a)^2 + ((-dx s + dy c) / b)^2 <= 1, a quadratic in dx
    const double qa = c * c / (a * a) + s * s / (b * b);
    const double qb = dy * c * s * (1.0 / (a * a) - 1.0 / (b * b));
    const double qc = dy * dy * (s * s / (a * a) + c * c / (b * b)) - 1.0;
    const double disc = qb * qb - qa * qc;
    if (disc <= 0.0)
        return false;
    const double root = std::sqrt(disc);
    xa = cx + (-qb - root) / qa;
    xb = cx + (-qb + root) / qa;
    return true;
}

// The x interval of a strip on the line y = yy.
bool BarChord(const RenderedTarget& t, double yy, double xMax, double& xa, double& xb)
{
    const double c = std::cos(t.rotation);
    const double s = std::sin(t.rotation);
    const double dy = yy - t.y;
    const double half = 0.5 * t.barWidth;
    // distance across the bar: -s dx + c dy
    if (std::fabs(s) < 1e-12) {
        if (std::fabs(c * dy) > half)
            return false;
        xa = 0.0;
        xb = xMax;
        return true;
    }
    const double p = (c * dy - half) / s;
    const double q = (c * dy + half) / s;
    xa = t.x + std::min(p, q);
    xb = t.x + std::max(p, q);
    return true;
}

// Adds weight times the overlap of [xa, xb] with each pixel of the row.
void AddSpan(double* row, int width, double xa, double xb, double weight)
{
    xa = std::max(xa, 0.0);
    xb = std::min(xb, double(width));
    if (xb <= xa)
        return;
    const int first = static_cast<int>(std::floor(xa));
    const int last = std::min(static_cast<int>(std::floor(xb)), width - 1);
    for (int c = first; c <= last; ++c) {
        const double overlap = std::min(xb, c + 1.0) - std::max(xa, double(c));
        if (overlap > 0.0)
            row[c] += weight * overlap;
    }
}

void AddEllipse(std::vector<double>& cover, int width, int height, int subRows, double cx, double cy, double a,
                double b, double rotation, double weight)
{
    const double reach = std::max(a, b);
    const int firstRow = std::max(0, static_cast<int>(std::floor(cy - reach)));
    const int lastRow = std::min(height - 1, static_cast<int>(std::floor(cy + reach)));
    for (int r = firstRow; r <= lastRow; ++r)
        for (int i = 0; i < subRows; ++i) {
            const double yy = r + (i + 0.5) / subRows;
            double xa = 0.0;
            double xb = 0.0;
            if (EllipseChord(cx, cy, a, b, rotation, yy, xa, xb))
                AddSpan(&cover[size_t(r) * width], width, xa, xb, weight / subRows);
        }
}

// Separable convolution with a sampled, normalised Gaussian; zero outside.
void Blur(std::vector<double>& image, int width, int height, double sigma)
{
    if (sigma <= 0.0)
        return;
    const int radius = static_cast<int>(std::ceil(4.0 * sigma));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double total = 0.0;
    for (int k = -radius; k <= radius; ++k)
        total += kernel[size_t(k + radius)] = std::exp(-0.5 * k * k / (sigma * sigma));
    for (double& w : kernel)
        w /= total;
    std::vector<double> tmp(image.size(), 0.0);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            double v = 0.0;
            for (int k = -radius; k <= radius; ++k) {
                const int cc = c + k;
                if (cc >= 0 && cc < width)
                    v += kernel[size_t(k + radius)] * image[size_t(r) * width + cc];
            }
            tmp[size_t(r) * width + c] = v;
        }
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            double v = 0.0;
            for (int k = -radius; k <= radius; ++k) {
                const int rr = r + k;
                if (rr >= 0 && rr < height)
                    v += kernel[size_t(k + radius)] * tmp[size_t(rr) * width + c];
            }
            image[size_t(r) * width + c] = v;
        }
}

// One target's coverage blurred as a continuous picture: the coverage is
// taken on a grid kFine times finer than the pixels, blurred there, and
// summed into pixels, over a box around the target large enough for the blur.
constexpr int kFine = 4;

std::vector<double> BlurredCoverage(const RenderedTarget& t, int width, int height, double sigma)
{
    int c0 = 0, r0 = 0, c1 = width, r1 = height;
    if (t.kind != TargetKind::Bar) {
        const double reach = std::max(t.semiAxisA, t.semiAxisB) + 4.0 * sigma + 2.0;
        c0 = std::max(0, static_cast<int>(std::floor(t.x - reach)));
        r0 = std::max(0, static_cast<int>(std::floor(t.y - reach)));
        c1 = std::min(width, static_cast<int>(std::ceil(t.x + reach)));
        r1 = std::min(height, static_cast<int>(std::ceil(t.y + reach)));
    }
    std::vector<double> cover(size_t(width) * height, 0.0);
    if (c1 <= c0 || r1 <= r0)
        return cover;
    RenderedTarget fine = t;
    fine.x = (t.x - c0) * kFine;
    fine.y = (t.y - r0) * kFine;
    fine.semiAxisA *= kFine;
    fine.semiAxisB *= kFine;
    fine.barWidth *= kFine;
    const int fw = (c1 - c0) * kFine;
    const int fh = (r1 - r0) * kFine;
    std::vector<double> grid = CoverageOf(fine, fw, fh, 16);
    Blur(grid, fw, fh, sigma * kFine);
    const double share = 1.0 / (kFine * kFine);
    for (int fr = 0; fr < fh; ++fr)
        for (int fc = 0; fc < fw; ++fc)
            cover[size_t(r0 + fr / kFine) * width + c0 + fc / kFine] += share * grid[size_t(fr) * fw + fc];
    return cover;
}

// The targets' part of the image, without the background.
std::vector<double> TargetSignal(const TargetScene& scene)
{
    std::vector<double> signal(size_t(scene.width) * scene.height, 0.0);
    for (const RenderedTarget& t : scene.targets) {
        const std::vector<double> cover = scene.blurSigma > 0.0
            ? BlurredCoverage(t, scene.width, scene.height, scene.blurSigma)
            : CoverageOf(t, scene.width, scene.height);
        for (size_t i = 0; i < signal.size(); ++i)
            signal[i] += t.amplitude * cover[i];
    }
    return signal;
}

class CPictureDisplayImage : public CDisplayImage {
public:
    bool SetPicture(const TestPicture& p)
    {
        const int bits = p.samples == 3 ? 24 : 8;
        if (!AllocateHeader(bits))
            return false;
        SetHeaderWidth(p.width);
        SetHeaderHeight(p.height);
        if (bits == 8) {
            SetColorsUsed(256);
            for (int i = 0; i < 256; ++i)
                fileColorHeader->colors[size_t(i)] = CRgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
        SetSizeImage(GetImageBytes());
        if (!AllocatePixels())
            return false;
        const int stride = GetBytesPerLine();
        uint8_t* pixels = MutablePixels();
        std::fill(pixels, pixels + size_t(stride) * p.height, uint8_t(0));
        for (int row = 0; row < p.height; ++row) {
            uint8_t* line = pixels + size_t(p.height - 1 - row) * stride;
            for (int x = 0; x < p.width; ++x) {
                if (bits == 8) {
                    line[x] = p.At(row, x);
                } else {
                    line[3 * x] = p.At(row, x, 2);
                    line[3 * x + 1] = p.At(row, x, 1);
                    line[3 * x + 2] = p.At(row, x, 0);
                }
            }
        }
        FinishLoad("picture.bmp", 0);
        return true;
    }
};

} // namespace

std::vector<double> CoverageOf(const RenderedTarget& t, int width, int height, int subRows)
{
    std::vector<double> cover(size_t(width) * height, 0.0);
    switch (t.kind) {
    case TargetKind::Ellipse:
        AddEllipse(cover, width, height, subRows, t.x, t.y, t.semiAxisA, t.semiAxisB, t.rotation, 1.0);
        break;
    case TargetKind::Annulus:
        AddEllipse(cover, width, height, subRows, t.x, t.y, t.semiAxisA, t.semiAxisB, t.rotation, 1.0);
        AddEllipse(cover, width, height, subRows, t.x, t.y, t.semiAxisA * t.innerRatio, t.semiAxisB * t.innerRatio,
                   t.rotation, -1.0);
        break;
    case TargetKind::Bar:
        for (int r = 0; r < height; ++r)
            for (int i = 0; i < subRows; ++i) {
                double xa = 0.0;
                double xb = 0.0;
                if (BarChord(t, r + (i + 0.5) / subRows, width, xa, xb))
                    AddSpan(&cover[size_t(r) * width], width, xa, xb, 1.0 / subRows);
            }
        break;
    }
    return cover;
}

std::vector<double> RenderNoiseFree(const TargetScene& scene)
{
    std::vector<double> image = TargetSignal(scene);
    for (int r = 0; r < scene.height; ++r)
        for (int c = 0; c < scene.width; ++c)
            image[size_t(r) * scene.width + c] += scene.background
                + scene.slopeX * (c + 0.5 - 0.5 * scene.width) + scene.slopeY * (r + 0.5 - 0.5 * scene.height);
    return image;
}

TargetScene DarkDiscScene(int width, int height, const std::vector<std::pair<double, double>>& centres,
                          double radius, double blurSigma, double noiseSigma)
{
    TargetScene scene;
    scene.width = width;
    scene.height = height;
    scene.background = 220.0;
    scene.blurSigma = blurSigma;
    scene.noiseSigma = noiseSigma;
    for (const auto& [x, y] : centres) {
        RenderedTarget target;
        target.x = x;
        target.y = y;
        target.semiAxisA = target.semiAxisB = radius;
        target.amplitude = -180.0;
        scene.targets.push_back(target);
    }
    return scene;
}

TestPicture RenderScene(const TargetScene& scene)
{
    const std::vector<double> ideal = RenderNoiseFree(scene);
    std::mt19937 random(scene.seed);
    std::normal_distribution<double> noise(0.0, scene.noiseSigma > 0.0 ? scene.noiseSigma : 1.0);
    TestPicture picture;
    picture.width = scene.width;
    picture.height = scene.height;
    picture.samples = scene.samples == 3 ? 3 : 1;
    picture.values.reserve(ideal.size() * size_t(picture.samples));
    for (double v : ideal) {
        if (scene.noiseSigma > 0.0)
            v += noise(random);
        const uint8_t grey = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        for (int s = 0; s < picture.samples; ++s)
            picture.values.push_back(grey);
    }
    return picture;
}

bool WritePicture(const std::string& path, const TestPicture& picture)
{
    const bool tiff = path.size() >= 4 && path.compare(path.size() - 4, 4, ".tif") == 0;
    if (!tiff)
        return WriteBytes(path, MakeTestBmp(picture, {}));
    TiffLayout layout;
    layout.photometric = picture.samples == 3 ? 2 : 1; // RGB or MinIsBlack
    return WriteTestTiff(path, picture, layout);
}

double CentreBound::Radial() const { return std::sqrt(varX + varY); }

CentreBound CramerRaoBound(const TargetScene& scene, std::size_t index)
{
    if (scene.noiseSigma <= 0.0)
        return {};
    const double h = 0.01;
    auto shifted = [&](double dx, double dy) {
        TargetScene moved = scene;
        moved.targets = {scene.targets.at(index)};
        moved.targets[0].x += dx;
        moved.targets[0].y += dy;
        return TargetSignal(moved);
    };
    const std::vector<double> xPlus = shifted(h, 0.0), xMinus = shifted(-h, 0.0);
    const std::vector<double> yPlus = shifted(0.0, h), yMinus = shifted(0.0, -h);
    double ixx = 0.0, iyy = 0.0, ixy = 0.0;
    for (size_t i = 0; i < xPlus.size(); ++i) {
        const double gx = (xPlus[i] - xMinus[i]) / (2.0 * h);
        const double gy = (yPlus[i] - yMinus[i]) / (2.0 * h);
        ixx += gx * gx;
        iyy += gy * gy;
        ixy += gx * gy;
    }
    const double s2 = scene.noiseSigma * scene.noiseSigma;
    ixx /= s2;
    iyy /= s2;
    ixy /= s2;
    const double det = ixx * iyy - ixy * ixy;
    CentreBound bound;
    bound.varX = iyy / det;
    bound.varY = ixx / det;
    bound.covXY = -ixy / det;
    return bound;
}

std::unique_ptr<CDisplayImage> MakeDisplayImage(const TestPicture& picture)
{
    auto image = std::make_unique<CPictureDisplayImage>();
    if (!image->SetPicture(picture))
        return nullptr;
    return image;
}
