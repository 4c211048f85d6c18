// Small dense algebra of the best fits: the augmented normal equations of
// up to six unknowns, the symmetric 3x3 eigen problem and the scatter of a
// point list.
#pragma once

#include <cmath>

class CObjectPointArray;

namespace fit {

constexpr int kMaxUnknowns = 6;

// Normal equations N·x = b of n unknowns, accumulated from design rows, with
// the sum of squared misclosures.
class CNormals {
public:
    explicit CNormals(int n) : n(n) { Clear(); }

    void Clear();
    // Adds row^T·row and row^T·misclosure with the given weight.
    void Add(const double* row, double misclosure, double weight = 1.0);
    // Adds rows^T·W·rows and rows^T·W·w for a block of k rows (row-major
    // k x n) and a symmetric k x k weight W (row-major).
    void AddBlock(int k, const double* rows, const double* weight, const double* w);

    // Root-free factorisation and back substitution. False when a pivot is
    // not positive or falls below 1e-12 of its diagonal element before
    // elimination, or when a result is not finite. reduced receives the sum
    // of squares left after the solution (clamped at 0).
    bool Solve(double* x, double* reduced = nullptr) const;

    double vv = 0.0;

private:
    int n;
    double N[kMaxUnknowns][kMaxUnknowns];
    double b[kMaxUnknowns];
};

// Eigenvalues of a symmetric 3x3 matrix in ascending order, eigenvectors in
// the columns of vectors (Jacobi rotations). False on non-finite input.
bool SymmetricEigen3(const double S[3][3], double values[3], double vectors[3][3]);

// The centroid of the points and their centred scatter Σ(p − c)(p − c)^T;
// flagged points are taken when all is set, else only those whose rejected
// flag is clear. Returns the number of points taken.
int CentredScatter(const CObjectPointArray& points, bool all, double centroid[3], double S[3][3]);

// Inverse of a symmetric 3x3 matrix by cofactors; false when the
// determinant is not above 1e-12 of the product of the diagonal.
bool InvertSymmetric3(const double M[3][3], double inv[3][3]);

inline bool AllFinite(const double* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}

} // namespace fit
