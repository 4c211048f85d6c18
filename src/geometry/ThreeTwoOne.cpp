#include "ThreeTwoOne.h"

#include <cmath>

#include <newmat/newmat.h>

#include "NewmatLock.h"

using NEWMAT::Matrix;

namespace {

bool IsColumn4(const Matrix& m)
{
    return m.Nrows() == 4 && m.Ncols() == 1;
}

double Length3(double x, double y, double z)
{
    return std::sqrt(x * x + y * y + z * z);
}

} // namespace

bool ArePointsOnOneLine(const Matrix& p0, const Matrix& pa, const Matrix& pp)
{
    NewmatLock lock;
    try {
        double a[3], b[3];
        for (int i = 0; i < 3; ++i) {
            a[i] = pa(i + 1, 1) - p0(i + 1, 1);
            b[i] = pp(i + 1, 1) - p0(i + 1, 1);
        }
        const double n = Length3(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
        // Written so that a non-finite coordinate counts as on one line too.
        return !(n > 1e-9 * Length3(a[0], a[1], a[2]) * Length3(b[0], b[1], b[2]));
    } catch (const RBD_COMMON::BaseException&) {
        return true;
    }
}

void CrossProduct4(Matrix& result, const Matrix& a, const Matrix& b)
{
    NewmatLock lock;
    try {
        if (!IsColumn4(a) || !IsColumn4(b))
            return;
        Matrix c(4, 1);
        c(1, 1) = a(2, 1) * b(3, 1) - a(3, 1) * b(2, 1);
        c(2, 1) = a(3, 1) * b(1, 1) - a(1, 1) * b(3, 1);
        c(3, 1) = a(1, 1) * b(2, 1) - a(2, 1) * b(1, 1);
        c(4, 1) = 1.0;
        result = c;
    } catch (const RBD_COMMON::BaseException&) {
    }
}

void CrossProduct3(Matrix& result, const Matrix& a, const Matrix& b)
{
    NewmatLock lock;
    try {
        if (a.Nrows() != 1 || a.Ncols() != 3 || b.Nrows() != 1 || b.Ncols() != 3)
            return;
        Matrix c(1, 3);
        c(1, 1) = a(1, 2) * b(1, 3) - a(1, 3) * b(1, 2);
        c(1, 2) = a(1, 3) * b(1, 1) - a(1, 1) * b(1, 3);
        c(1, 3) = a(1, 1) * b(1, 2) - a(1, 2) * b(1, 1);
        result = c;
    } catch (const RBD_COMMON::BaseException&) {
    }
}

void NormalizeColumn(Matrix& v)
{
    NewmatLock lock;
    try {
        if (v.Ncols() != 1 || v.Nrows() < 3)
            return;
        const double length = Length3(v(1, 1), v(2, 1), v(3, 1));
        if (length == 0.0)
            return;
        for (int i = 1; i <= 3; ++i)
            v(i, 1) /= length;
    } catch (const RBD_COMMON::BaseException&) {
    }
}

bool InverseTranslation(Matrix& result, const Matrix& T)
{
    NewmatLock lock;
    try {
        if (T.Nrows() != 4 || T.Ncols() != 4)
            return false;
        const Matrix R = T.SubMatrix(1, 3, 1, 3);
        const Matrix t = T.SubMatrix(1, 3, 4, 4);
        const Matrix inverse = -(R.t() * t);
        result = inverse;
        return true;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}

bool ComputeLocalFrame(Matrix& result, const Matrix& p0, const Matrix& pa, const Matrix& pp)
{
    NewmatLock lock;
    try {
        if (!IsColumn4(p0) || !IsColumn4(pa) || !IsColumn4(pp))
            return false;
        if (ArePointsOnOneLine(p0, pa, pp))
            return false;
        Matrix A = pa - p0;
        Matrix B = pp - p0;
        A(4, 1) = 0.0;
        B(4, 1) = 0.0;
        Matrix n(4, 1), w(4, 1);
        CrossProduct4(n, A, B);
        CrossProduct4(w, n, A);
        NormalizeColumn(A);
        NormalizeColumn(w);
        NormalizeColumn(n);

        Matrix frame(4, 4);
        frame = 0.0;
        frame.SubMatrix(1, 1, 1, 3) = A.SubMatrix(1, 3, 1, 1).t();
        frame.SubMatrix(2, 2, 1, 3) = w.SubMatrix(1, 3, 1, 1).t();
        frame.SubMatrix(3, 3, 1, 3) = n.SubMatrix(1, 3, 1, 1).t();
        frame(4, 4) = 1.0;
        const Matrix translation = -frame * p0;
        frame.SubMatrix(1, 3, 4, 4) = translation.SubMatrix(1, 3, 1, 1);
        result = frame;
        return true;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}

bool ComputeThreeTwoOneTransformation(const Matrix& M, Matrix& result, const Matrix& p0, const Matrix& pa,
                                      const Matrix& pp)
{
    NewmatLock lock;
    try {
        if (M.Nrows() != 3 || M.Ncols() != 3)
            return false;
        Matrix frame;
        if (!ComputeLocalFrame(frame, p0, pa, pp))
            return false;
        const Matrix R = frame.SubMatrix(1, 3, 1, 3);
        Matrix origin;
        if (!InverseTranslation(origin, frame))
            return false;
        const Matrix Q = M * R;
        const Matrix q = -(Q * origin);
        Matrix T(4, 4);
        T = 0.0;
        T.SubMatrix(1, 3, 1, 3) = Q;
        T.SubMatrix(1, 3, 4, 4) = q;
        T(4, 4) = 1.0;
        result = T;
        return true;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}
