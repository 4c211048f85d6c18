#include "FitScenes.h"

#include <cmath>
#include <string>

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

void AddPoints(CObjectPointList& list, const std::vector<Vec3>& coords)
{
    for (const Vec3& c : coords) {
        const std::string label = "P" + std::to_string(list.GetSize() + 1);
        CObjectPoint* p = list.AddCopy(CObjectPoint(label.c_str(), c[0], c[1], c[2]));
        p->selected = true;
    }
}

PrincipalAxes ComputePrincipalAxes(const CObjectPointList& list, bool all)
{
    PrincipalAxes out;
    int n = 0;
    for (int i = 0; i < list.GetSize(); ++i)
        if (all || !list.GetAt(i)->unsolved) {
            const Vec3 p = Of(*list.GetAt(i));
            for (int k = 0; k < 3; ++k)
                out.centroid[k] += p[k];
            ++n;
        }
    for (int k = 0; k < 3; ++k)
        out.centroid[k] /= n;
    NEWMAT::SymmetricMatrix s(3);
    s = 0.0;
    for (int i = 0; i < list.GetSize(); ++i)
        if (all || !list.GetAt(i)->unsolved) {
            const Vec3 d = Sub(Of(*list.GetAt(i)), out.centroid);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c <= r; ++c)
                    s(r + 1, c + 1) += d[r] * d[c];
        }
    NEWMAT::DiagonalMatrix values;
    NEWMAT::Matrix vectors;
    NEWMAT::EigenValues(s, values, vectors);
    for (int k = 0; k < 3; ++k) {
        out.values[k] = values(k + 1);
        for (int r = 0; r < 3; ++r)
            out.axes[k][r] = vectors(r + 1, k + 1);
    }
    return out;
}

void PerpendicularPair(const Vec3& n, Vec3& e1, Vec3& e2)
{
    const Vec3 a = std::fabs(n[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    e1 = {a[1] * n[2] - a[2] * n[1], a[2] * n[0] - a[0] * n[2], a[0] * n[1] - a[1] * n[0]};
    const double l = Norm(e1);
    for (double& v : e1)
        v /= l;
    e2 = {n[1] * e1[2] - n[2] * e1[1], n[2] * e1[0] - n[0] * e1[2], n[0] * e1[1] - n[1] * e1[0]};
}

double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 Sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Norm(const Vec3& a) { return std::sqrt(Dot(a, a)); }
Vec3 Of(const CObjectPoint& p) { return {p.x, p.y, p.z}; }

std::vector<Vec3> CirclePoints(const Vec3& centre, const Vec3& normal, double radius, int n, double span, double noise,
                               std::mt19937& rng)
{
    std::normal_distribution<double> g(0.0, noise);
    Vec3 e1, e2;
    PerpendicularPair(normal, e1, e2);
    std::vector<Vec3> out;
    for (int i = 0; i < n; ++i) {
        const double t = span * i / n;
        Vec3 p;
        for (int k = 0; k < 3; ++k)
            p[k] = centre[k] + radius * (std::cos(t) * e1[k] + std::sin(t) * e2[k]) + (noise > 0 ? g(rng) : 0.0);
        out.push_back(p);
    }
    return out;
}
