// Element access and the row kernel shared by the matrix routines. Internal
// to the matrix sources.
#pragma once

#include "Matrix.h"

namespace matrix_detail {

inline int Width(const CMatrix& m)
{
    return m.IsSymmetric() ? m.GetRows() : m.GetCols();
}

// Full operand: element (i, j) of a row table.
struct FullAccess
{
    double* const* r;
    double operator()(int i, int j) const { return r[i][j]; }
};

// Packed symmetric operand: elements below the diagonal read their mirror.
struct PackedAccess
{
    double* const* r;
    double operator()(int i, int j) const { return i <= j ? r[i][j - i] : r[j][i - j]; }
};

// The transpose of another accessor.
template <class A>
struct Transposed
{
    A a;
    double operator()(int i, int j) const { return a(j, i); }
};

// Calls f with the accessor that fits the matrix's form.
template <class F>
inline auto WithAccess(const CMatrix& m, F&& f)
{
    if (m.IsSymmetric())
        return f(PackedAccess{m.GetRowTable()});
    return f(FullAccess{m.GetRowTable()});
}

// dst[j - j0] += f * sum over k < K of c(k) * b(k, j), for j0 <= j < j1.
// Each sum runs over k in ascending order before it is added to dst.
template <class C, class B>
inline void RowCombine(double* dst, int j0, int j1, int K, const C& c, const B& b, double f)
{
    int j = j0;
    for (; j + 4 <= j1; j += 4) {
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int k = 0; k < K; ++k) {
            const double ck = c(k);
            s0 += ck * b(k, j);
            s1 += ck * b(k, j + 1);
            s2 += ck * b(k, j + 2);
            s3 += ck * b(k, j + 3);
        }
        double* d = dst + (j - j0);
        d[0] += f * s0;
        d[1] += f * s1;
        d[2] += f * s2;
        d[3] += f * s3;
    }
    for (; j < j1; ++j) {
        double s = 0.0;
        for (int k = 0; k < K; ++k)
            s += c(k) * b(k, j);
        dst[j - j0] += f * s;
    }
}

} // namespace matrix_detail
