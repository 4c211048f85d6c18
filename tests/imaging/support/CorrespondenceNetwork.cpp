#include "CorrespondenceNetwork.h"

#include "TestVectors.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>

#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"

using kestrelon::test::Cross;
using kestrelon::test::Unit;

CCorrespondenceNetwork::CCorrespondenceNetwork(const NetworkOptions& options)
    : options(options), generator(options.seed)
{
    CCamera* camera = cameras.AddNew();
    camera->identifier = "NET";
    for (double& p : camera->parameters)
        p = 0.0;
    camera->parameters[CAM_C] = kFocal;
    camera->XPixels = 4000;
    camera->YPixels = 3000;
    camera->XPixelSize = kPixel;
    camera->YPixelSize = kPixel;

    // Stations on a ring around the origin at changing heights, each looking
    // at the origin; camera z points back from the scene.
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < options.images; ++k) {
        CProjectImage* image = images.AddNew();
        const double a = 2.0 * pi * k / std::max(options.images, 4) + 0.3;
        const double h = (k % 3 - 1) * 0.35 * options.distance;
        image->X = options.distance * std::cos(a);
        image->Y = options.distance * std::sin(a);
        image->Z = h;
        double z[3] = {image->X, image->Y, image->Z};
        Unit(z);
        const double up[3] = {0.1 * std::sin(a * 3.0), 0.05, 1.0};
        double x[3], y[3];
        Cross(up, z, x);
        Unit(x);
        Cross(z, x, y);
        image->rotation.Resize(3, 3);
        for (int j = 0; j < 3; ++j) {
            image->rotation.SetAt(x[j], 0, j);
            image->rotation.SetAt(y[j], 1, j);
            image->rotation.SetAt(z[j], 2, j);
        }
        image->SetCameraName("NET");
        image->enabled = true;
        image->oriented = true;
        imagePtrs.Add(image);
    }

    // Points in the ball that every image sees inside its frame.
    std::uniform_real_distribution<double> u(-options.radius, options.radius);
    const double halfWidth = camera->XPixels * kPixel * 0.5 * 0.98, halfHeight = camera->YPixels * kPixel * 0.5 * 0.98;
    while (truth.GetSize() < options.points) {
        const double P[3] = {u(generator), u(generator), u(generator)};
        if (P[0] * P[0] + P[1] * P[1] + P[2] * P[2] > options.radius * options.radius)
            continue;
        bool seen = true;
        for (int k = 0; k < options.images && seen; ++k) {
            double ix = 0.0, iy = 0.0;
            seen = Project(k, P, ix, iy) && std::fabs(ix) < halfWidth && std::fabs(iy) < halfHeight;
        }
        if (!seen)
            continue;
        char label[16];
        std::snprintf(label, sizeof label, "T%d", truth.GetSize() + 1);
        truth.AddCopy(CObjectPoint(label, P[0], P[1], P[2]));
    }

    // Every projection, in shuffled order, as "-1", "-2", ...
    std::normal_distribution<double> noise(0.0, options.noisePixels * kPixel);
    for (int k = 0; k < options.images; ++k) {
        std::vector<int> order(static_cast<std::size_t>(truth.GetSize()));
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), generator);
        CProjectImage* image = images.GetAt(k);
        int number = 0;
        for (int i : order) {
            const CObjectPoint* p = truth.GetAt(i);
            const double P[3] = {p->x, p->y, p->z};
            double ix = 0.0, iy = 0.0;
            Project(k, P, ix, iy);
            if (options.noisePixels > 0.0) {
                ix += noise(generator);
                iy += noise(generator);
            }
            char label[16];
            std::snprintf(label, sizeof label, "%d", --number);
            CImageObservation* o = image->targets.AddNew();
            o->label = CNameBuffer(label);
            o->SetXY(ix, iy);
            sources[o] = i;
        }
        image->targets.SortByLabel();
    }
}

bool CCorrespondenceNetwork::Project(int image, const double P[3], double& x, double& y) const
{
    const CProjectImage* im = images.GetAt(image);
    double u[3];
    for (int i = 0; i < 3; ++i)
        u[i] = im->rotation.GetAt(i, 0) * (P[0] - im->X) + im->rotation.GetAt(i, 1) * (P[1] - im->Y) +
               im->rotation.GetAt(i, 2) * (P[2] - im->Z);
    if (!(u[2] < 0.0))
        return false;
    x = -kFocal * u[0] / u[2];
    y = -kFocal * u[1] / u[2];
    return true;
}

bool CCorrespondenceNetwork::AddTarget(int image, const double P[3], int source)
{
    double x = 0.0, y = 0.0;
    if (!Project(image, P, x, y))
        return false;
    CProjectImage* im = images.GetAt(image);
    int lowest = 0;
    for (int i = 0; i < im->targets.GetSize(); ++i)
        lowest = std::min(lowest, im->targets.GetAt(i)->label.GetNumber());
    char label[16];
    std::snprintf(label, sizeof label, "%d", lowest - 1);
    CImageObservation* o = im->targets.AddNew();
    o->label = CNameBuffer(label);
    o->SetXY(x, y);
    sources[o] = source;
    im->targets.SortByLabel();
    return true;
}

int CCorrespondenceNetwork::SourceOf(const CImageObservation* o) const
{
    auto it = sources.find(o);
    return it == sources.end() ? -1 : it->second;
}

void CCorrespondenceNetwork::LabelFromTruth(int first, int last)
{
    for (int k = first; k <= last; ++k) {
        CProjectImage* image = images.GetAt(k);
        for (int i = 0; i < image->targets.GetSize(); ++i) {
            CImageObservation* o = image->targets.GetAt(i);
            const int source = SourceOf(o);
            if (source >= 0)
                o->SetLabel(truth.GetAt(source)->label);
        }
        image->targets.SortByLabel();
    }
}

void CCorrespondenceNetwork::IndexRays(CObjectPoint& point) const
{
    point.observationIndex.SetSize(images.GetSize());
    point.rayCount = 0;
    for (int k = 0; k < images.GetSize(); ++k) {
        const CProjectImage* image = images.GetAt(k);
        point.observationIndex[k] = -1;
        for (int i = 0; i < image->targets.GetSize(); ++i)
            if (image->targets.GetAt(i)->label == point.label) {
                point.observationIndex[k] = i;
                ++point.rayCount;
                break;
            }
    }
}

bool ListsSorted(const CImagePtrArray& images)
{
    for (int k = 0; k < images.GetSize(); ++k) {
        const CObservationList& list = images.GetAt(k)->targets;
        for (int i = 1; i < list.GetSize(); ++i)
            if (list.GetAt(i)->label < list.GetAt(i - 1)->label)
                return false;
    }
    return true;
}

bool ListsSortedAndNumbered(const CImagePtrArray& images)
{
    for (int k = 0; k < images.GetSize(); ++k) {
        const CObservationList& list = images.GetAt(k)->targets;
        std::set<int> numbers;
        int unassigned = 0;
        for (int i = 0; i < list.GetSize(); ++i) {
            const CNameBuffer& label = list.GetAt(i)->label;
            if (i > 0 && label < list.GetAt(i - 1)->label)
                return false;
            if (label.GetNumber() < 0) {
                ++unassigned;
                numbers.insert(-label.GetNumber());
            }
        }
        if (static_cast<int>(numbers.size()) != unassigned ||
            (unassigned > 0 && (*numbers.begin() != 1 || *numbers.rbegin() != unassigned)))
            return false;
    }
    return true;
}

int CountStrayLabels(const CImagePtrArray& images, const CPointSet& points)
{
    std::set<std::string> held;
    for (int i = 0; i < points.GetSize(); ++i)
        held.insert(points.GetAt(i)->label.GetText());
    int stray = 0;
    for (int k = 0; k < images.GetSize(); ++k) {
        const CObservationList& list = images.GetAt(k)->targets;
        for (int i = 0; i < list.GetSize(); ++i) {
            const CNameBuffer& label = list.GetAt(i)->label;
            if (label.GetNumber() >= 0 && !held.count(label.GetText()))
                ++stray;
        }
    }
    return stray;
}
