// Point scenes with known geometry for the best-fit tests, and the
// principal axes of a point cloud computed independently with Newmat.
#pragma once

#include <array>
#include <random>
#include <vector>

#include "ObjectPoint.h"

using Vec3 = std::array<double, 3>;

// Appends selected points "P1", "P2", ... at the given coordinates.
void AddPoints(CObjectPointList& list, const std::vector<Vec3>& coords);

// Centroid and eigenvectors (columns, ascending eigenvalues) of the
// centred scatter of the points of the list whose status byte is clear
// (all points when all is set).
struct PrincipalAxes {
    Vec3 centroid{};
    Vec3 values{};
    std::array<Vec3, 3> axes{}; // axes[k] is the k-th eigenvector
};
PrincipalAxes ComputePrincipalAxes(const CObjectPointList& list, bool all = false);

// Two unit vectors perpendicular to n and to each other.
void PerpendicularPair(const Vec3& n, Vec3& e1, Vec3& e2);

double Dot(const Vec3& a, const Vec3& b);
Vec3 Sub(const Vec3& a, const Vec3& b);
double Norm(const Vec3& a);
Vec3 Of(const CObjectPoint& p);

// Points on a circle (centre, unit normal, radius) at n angles spread over
// span radians, with Gaussian noise of the given sigma on every coordinate.
std::vector<Vec3> CirclePoints(const Vec3& centre, const Vec3& normal, double radius, int n, double span, double noise,
                               std::mt19937& rng);
