#include "MatchingNetwork.h"

#include "TestVectors.h"

#include "ProjectDocument.h"

#include "ImageStore.h"
#include "JpegConversion.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using kestrelon::test::Cross;
using kestrelon::test::Unit;

// Image coordinates of P in the image; false behind the camera.
bool Project(const CProjectImage& image, double focal, const double P[3], double& x, double& y)
{
    double u[3];
    for (int i = 0; i < 3; ++i)
        u[i] = image.rotation.GetAt(i, 0) * (P[0] - image.X) + image.rotation.GetAt(i, 1) * (P[1] - image.Y) +
               image.rotation.GetAt(i, 2) * (P[2] - image.Z);
    if (!(u[2] < 0.0))
        return false;
    x = -focal * u[0] / u[2];
    y = -focal * u[1] / u[2];
    return true;
}

} // namespace

void CMatchingNetwork::Build(CProjectDocument& doc, const MatchingNetworkOptions& chosen)
{
    options = chosen;
    const double kFocal = options.focal, kPixel = options.pixel;
    std::mt19937 generator(options.seed);
    CCamera* camera = doc.cameras.AddNew();
    camera->identifier = kCamera;
    for (double& p : camera->parameters)
        p = 0.0;
    camera->parameters[CAM_C] = kFocal;
    camera->XPixels = options.columns;
    camera->YPixels = options.rows;
    camera->XPixelSize = kPixel;
    camera->YPixelSize = kPixel;

    // Stations on a ring at changing heights, each looking at the origin and
    // turned by a quarter turn more than the one before (roll diversity).
    const double pi = 3.14159265358979323846;
    std::vector<CProjectImage*> images;
    for (int k = 0; k < options.images; ++k) {
        CProjectImage* image = doc.images.AddNew();
        image->name = ("Net" + std::to_string(k + 1)).c_str();
        const double a = 2.0 * pi * k / options.images + 0.3;
        image->X = options.distance * std::cos(a);
        image->Y = options.distance * std::sin(a);
        image->Z = (k % 3 - 1) * options.heightFactor * options.distance;
        double z[3] = {image->X, image->Y, image->Z};
        Unit(z);
        const double up[3] = {0.0, 0.0, 1.0};
        double x0[3], y0[3];
        Cross(up, z, x0);
        Unit(x0);
        Cross(z, x0, y0);
        const double roll = 0.5 * pi * (k % 4) + 0.1;
        double x[3], y[3];
        for (int j = 0; j < 3; ++j) {
            x[j] = std::cos(roll) * x0[j] + std::sin(roll) * y0[j];
            y[j] = -std::sin(roll) * x0[j] + std::cos(roll) * y0[j];
        }
        image->rotation.Resize(3, 3);
        for (int j = 0; j < 3; ++j) {
            image->rotation.SetAt(x[j], 0, j);
            image->rotation.SetAt(y[j], 1, j);
            image->rotation.SetAt(z[j], 2, j);
        }
        image->SetCameraName(kCamera);
        image->enabled = true;
        image->oriented = true;
        image->scanned = true;
        images.push_back(image);
        Pose pose{image->X, image->Y, image->Z, {}};
        for (int r = 0; r < 3; ++r)
            for (int j = 0; j < 3; ++j)
                pose.R[r][j] = image->rotation.GetAt(r, j);
        poses.push_back(pose);
    }

    // Points seen by every image inside the sensor, apart from each other.
    std::vector<std::vector<std::pair<double, double>>> projected;
    std::uniform_real_distribution<double> u(-options.radius, options.radius);
    const double half = 0.45 * camera->YPixels * kPixel;
    while (truth.GetSize() < options.points) {
        const double P[3] = {u(generator), u(generator), u(generator)};
        if (P[0] * P[0] + P[1] * P[1] + P[2] * P[2] > options.radius * options.radius)
            continue;
        bool usable = true;
        for (int i = 0; i < truth.GetSize() && usable; ++i) {
            const CObjectPoint* q = truth.GetAt(i);
            usable = std::hypot(P[0] - q->x, P[1] - q->y, P[2] - q->z) >= options.separation;
        }
        std::vector<std::pair<double, double>> at;
        for (CProjectImage* image : images) {
            double ix = 0.0, iy = 0.0;
            usable = usable && Project(*image, kFocal, P, ix, iy) && std::fabs(ix) < half && std::fabs(iy) < half;
            at.emplace_back(ix, iy);
        }
        // Apart in every picture too.
        const double apart = options.imageSeparation * kPixel;
        for (size_t k = 0; k < images.size() && usable && apart > 0.0; ++k)
            for (int i = 0; i < truth.GetSize() && usable; ++i)
                usable = std::hypot(at[k].first - projected[size_t(i)][k].first,
                                    at[k].second - projected[size_t(i)][k].second) >= apart;
        if (usable)
            projected.push_back(at);
        if (usable)
            truth.AddCopy(CObjectPoint(("T" + std::to_string(truth.GetSize() + 1)).c_str(), P[0], P[1], P[2]));
    }

    if (options.device) {
        // Five points above the ball, apart in depth; the ring below their centre.
        const double points[5][3] = {{0, 0, 470}, {70, 10, 480}, {-10, 85, 500}, {-60, -5, 520}, {5, -75, 475}};
        doc.eoDevice.SetName("Device");
        doc.eoDevice.SetIDShape(0);
        for (int i = 0; i < 5; ++i) {
            const CObjectPoint p(("E" + std::to_string(i + 1)).c_str(), points[i][0], points[i][1], points[i][2]);
            device.AddPointSorted(p);
            doc.eoDevice.AddPointSorted(p);
        }
        ring[0] = 0.0, ring[1] = 0.0, ring[2] = 420.0;
    }
    std::normal_distribution<double> noise(0.0, options.noisePixels * kPixel);
    const double sigma = doc.settings.defaultImageSigma;
    for (CProjectImage* image : images) {
        if (!options.targets) {
            image->scanned = false;
            image->oriented = false;
            continue;
        }
        std::vector<int> order(static_cast<size_t>(truth.GetSize()));
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), generator);
        int number = 0;
        for (int i : order) {
            const CObjectPoint* p = truth.GetAt(i);
            const double P[3] = {p->x, p->y, p->z};
            double ix = 0.0, iy = 0.0;
            Project(*image, kFocal, P, ix, iy);
            if (options.noisePixels > 0.0) {
                ix += noise(generator);
                iy += noise(generator);
            }
            double column = 0.0, row = 0.0;
            camera->ImageToPixel(ix, iy, column, row);
            CImageObservation* o = image->targets.AddNew();
            *o = CImageObservation(CNameBuffer(std::to_string(--number).c_str()), ix, iy, sigma, sigma, column, row);
            sources[o] = i;
        }
        image->targets.SortByLabel();
    }
}

int CMatchingNetwork::SourceOf(const CImageObservation* o) const
{
    const auto it = sources.find(o);
    return it == sources.end() ? -1 : it->second;
}

bool CMatchingNetwork::ConsistentLabels(const CProjectDocument& doc,
                                        std::unordered_map<std::string, int>& sourceOf) const
{
    sourceOf.clear();
    std::unordered_map<int, std::string> labelOf;
    for (int k = 0; k < doc.images.GetSize(); ++k) {
        const CObservationList& list = doc.images.GetAt(k)->targets;
        for (int i = 0; i < list.GetSize(); ++i) {
            const CImageObservation* o = list.GetAt(i);
            if (o->label.GetNumber() < 0)
                continue;
            const int source = SourceOf(o);
            const std::string label = o->label.GetText();
            const auto found = sourceOf.emplace(label, source);
            if (found.first->second != source)
                return false;
            const auto named = labelOf.emplace(source, label);
            if (named.first->second != label)
                return false;
        }
    }
    return true;
}

bool CMatchingNetwork::WritePictures(CProjectDocument& doc, const std::string& folder, std::string& error) const
{
    // A bright ground: the detector takes the dark discs from the histogram.
    const double kGround = 250.0;
    const CCamera* camera = doc.cameras.FindByName(kCamera);
    const int width = options.columns, height = options.rows;
    std::vector<const CObjectPoint*> discs;
    for (int i = 0; i < truth.GetSize(); ++i)
        discs.push_back(truth.GetAt(i));
    for (int i = 0; i < device.GetSize(); ++i)
        discs.push_back(device.GetAt(i));
    for (size_t k = 0; k < poses.size(); ++k) {
        CProjectImage* image = doc.images.GetAt(int(k));
        // Projections with the true pose, whatever the image holds now.
        CProjectImage posed;
        posed.X = poses[k].X, posed.Y = poses[k].Y, posed.Z = poses[k].Z;
        posed.rotation.Resize(3, 3);
        for (int r = 0; r < 3; ++r)
            for (int j = 0; j < 3; ++j)
                posed.rotation.SetAt(poses[k].R[r][j], r, j);
        std::vector<double> cover(size_t(width) * size_t(height), 0.0);
        // Coverage of a disc (inner 0) or ring, 4 x 4 samples per pixel.
        auto paint = [&](double column, double row, double outer, double inner) {
            const int c0 = std::max(0, int(column - outer) - 1), c1 = std::min(width - 1, int(column + outer) + 1);
            const int r0 = std::max(0, int(row - outer) - 1), r1 = std::min(height - 1, int(row + outer) + 1);
            for (int r = r0; r <= r1; ++r)
                for (int c = c0; c <= c1; ++c) {
                    int hits = 0;
                    for (int a = 0; a < 4; ++a)
                        for (int b = 0; b < 4; ++b) {
                            const double d = std::hypot(c + (b + 0.5) / 4.0 - column, r + (a + 0.5) / 4.0 - row);
                            hits += d <= outer && d >= inner;
                        }
                    double& v = cover[size_t(r) * size_t(width) + size_t(c)];
                    v = std::min(1.0, v + hits / 16.0);
                }
        };
        for (const CObjectPoint* p : discs) {
            const double P[3] = {p->x, p->y, p->z};
            double x = 0.0, y = 0.0, column = 0.0, row = 0.0;
            if (!Project(posed, options.focal, P, x, y))
                continue;
            camera->ImageToPixel(x, y, column, row);
            paint(column, row, kDiscPixels, -1.0);
        }
        if (options.device) {
            double x = 0.0, y = 0.0, column = 0.0, row = 0.0;
            if (Project(posed, options.focal, ring, x, y)) {
                camera->ImageToPixel(x, y, column, row);
                paint(column, row, kRingOuter, kRingInner);
            }
        }
        CImageStore store;
        if (!store.Create(height, width, 1, 8)) {
            error = "cannot make a picture store";
            return false;
        }
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                store.SetPixel(0, r, c, int(kGround - kGround * cover[size_t(r) * size_t(width) + size_t(c)] + 0.5));
        const std::string path = folder + "/" + image->name.GetText() + ".tif";
        if (!WriteGreyTiffFile(store, path.c_str(), error))
            return false;
        image->SetFilePath(path.c_str());
    }
    return true;
}
