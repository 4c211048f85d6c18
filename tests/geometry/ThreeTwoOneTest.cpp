// 3-2-1 alignment checked against frames known in advance: points are laid
// out in the wanted frame (origin, a point on the chosen axis, a point in the
// chosen plane), carried into the world by a rotation built from an axis and
// an angle, and the computed transformation must bring them back.
#include "ThreeTwoOne.h"

#include "Rotations.h"

#include <gtest/gtest.h>

#include <newmat/newmat.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using kestrelon::test::AxisAngle;
using NEWMAT::Matrix;

namespace {

const double kPi = 3.14159265358979323846;

Matrix Column(const double p[3])
{
    Matrix c(4, 1);
    c(1, 1) = p[0];
    c(2, 1) = p[1];
    c(3, 1) = p[2];
    c(4, 1) = 1.0;
    return c;
}

double Determinant(const double m[3][3])
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The axis assignment: row axis = (s1, 0, 0), row plane = (0, s2, 0), the
// remaining row (0, 0, +-1) with the sign that makes the determinant +1.
Matrix AxisAssignment(int axis, int s1, int plane, int s2)
{
    double m[3][3] = {};
    m[axis][0] = s1;
    m[plane][1] = s2;
    m[3 - axis - plane][2] = 1.0;
    if (Determinant(m) < 0.0)
        m[3 - axis - plane][2] = -1.0;
    Matrix M(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M(i + 1, j + 1) = m[i][j];
    return M;
}

// P' = T P for a point given by its three coordinates.
void Apply(const Matrix& T, const double p[3], double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = T(i + 1, 1) * p[0] + T(i + 1, 2) * p[1] + T(i + 1, 3) * p[2] + T(i + 1, 4);
}

const char* const kLetters[] = {"X", "Y", "Z"};

} // namespace

// All 24 choices of signed axis and signed plane, each with random triples:
// the result is the known frame, a proper rotation that puts the origin at
// 0, the axis point on the chosen side of the axis at its distance, and the
// plane point in the plane on the chosen side of the second axis.
TEST(ThreeTwoOne, EveryAxisAndPlaneChoiceFindsTheKnownFrame)
{
    std::mt19937 random(321);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> length(0.5, 20.0);
    int choices = 0;
    for (int axis = 0; axis < 3; ++axis) {
        for (int s1 : {1, -1}) {
            for (int plane = 0; plane < 3; ++plane) {
                if (plane == axis)
                    continue;
                for (int s2 : {1, -1}) {
                    ++choices;
                    const Matrix M = AxisAssignment(axis, s1, plane, s2);
                    for (int trial = 0; trial < 20; ++trial) {
                        SCOPED_TRACE(testing::Message() << (s1 > 0 ? "+" : "-") << kLetters[axis] << " plane "
                                                        << (s2 > 0 ? "+" : "-") << kLetters[plane] << " #" << trial);
                        // The points in the wanted frame.
                        const double d = length(random);
                        double local[3][3] = {};
                        local[1][axis] = s1 * d;
                        local[2][axis] = 10.0 * unit(random);
                        local[2][plane] = s2 * length(random);
                        // The wanted transformation P' = G P + q, and the world points P = G^T (P' - q).
                        double n[3] = {unit(random), unit(random), unit(random)};
                        const double nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                        for (double& v : n)
                            v /= nl;
                        double G[3][3];
                        AxisAngle(n, kPi * unit(random), G);
                        const double q[3] = {100.0 * unit(random), 100.0 * unit(random), 100.0 * unit(random)};
                        double world[3][3];
                        for (int k = 0; k < 3; ++k)
                            for (int i = 0; i < 3; ++i)
                                world[k][i] = G[0][i] * (local[k][0] - q[0]) + G[1][i] * (local[k][1] - q[1]) +
                                              G[2][i] * (local[k][2] - q[2]);

                        Matrix T;
                        ASSERT_TRUE(ComputeThreeTwoOneTransformation(M, T, Column(world[0]), Column(world[1]),
                                                                     Column(world[2])));
                        ASSERT_EQ(T.Nrows(), 4);
                        ASSERT_EQ(T.Ncols(), 4);
                        double Q[3][3];
                        for (int i = 0; i < 3; ++i) {
                            for (int j = 0; j < 3; ++j) {
                                Q[i][j] = T(i + 1, j + 1);
                                EXPECT_NEAR(Q[i][j], G[i][j], 1e-12);
                            }
                            EXPECT_NEAR(T(i + 1, 4), q[i], 1e-10);
                            EXPECT_EQ(T(4, i + 1), 0.0);
                        }
                        EXPECT_EQ(T(4, 4), 1.0);
                        for (int i = 0; i < 3; ++i)
                            for (int j = 0; j < 3; ++j)
                                EXPECT_NEAR(Q[i][0] * Q[j][0] + Q[i][1] * Q[j][1] + Q[i][2] * Q[j][2],
                                            i == j ? 1.0 : 0.0, 1e-12);
                        EXPECT_NEAR(Determinant(Q), 1.0, 1e-12);

                        double mapped[3][3];
                        for (int k = 0; k < 3; ++k)
                            Apply(T, world[k], mapped[k]);
                        const int third = 3 - axis - plane;
                        for (int i = 0; i < 3; ++i)
                            EXPECT_NEAR(mapped[0][i], 0.0, 1e-10);
                        EXPECT_NEAR(mapped[1][axis], s1 * d, 1e-10);
                        EXPECT_NEAR(mapped[1][plane], 0.0, 1e-10);
                        EXPECT_NEAR(mapped[1][third], 0.0, 1e-10);
                        EXPECT_GT(s2 * mapped[2][plane], 0.0);
                        EXPECT_NEAR(mapped[2][third], 0.0, 1e-10);
                    }
                }
            }
        }
    }
    EXPECT_EQ(choices, 24);
}

// The two worked cases: +X / +Y is the pure translation by -p0, -X / +Y the
// half turn about Y after it; the inverse translation gives p0 back.
TEST(ThreeTwoOne, WorkedCasesAndInverseTranslation)
{
    const double p0[3] = {1.0, 2.0, 3.0}, pa[3] = {2.0, 2.0, 3.0}, pp[3] = {1.0, 3.0, 3.0};
    const double yAxis[3] = {0.0, 1.0, 0.0};
    struct Case {
        int s1;
        double turn; // about Y
    };
    for (const Case& c : {Case{1, 0.0}, Case{-1, kPi}}) {
        SCOPED_TRACE(c.s1);
        double G[3][3];
        AxisAngle(yAxis, c.turn, G);
        Matrix T;
        ASSERT_TRUE(ComputeThreeTwoOneTransformation(AxisAssignment(0, c.s1, 1, 1), T, Column(p0), Column(pa),
                                                     Column(pp)));
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(T(i + 1, j + 1), G[i][j], 1e-15);
            EXPECT_NEAR(T(i + 1, 4), -(G[i][0] * p0[0] + G[i][1] * p0[1] + G[i][2] * p0[2]), 1e-14);
        }
        Matrix back;
        ASSERT_TRUE(InverseTranslation(back, T));
        ASSERT_EQ(back.Nrows(), 3);
        ASSERT_EQ(back.Ncols(), 1);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(back(i + 1, 1), p0[i], 1e-14);
    }
}

// Points on one line, two labels at one place, or a coordinate that is not
// a number give no frame: both functions fail and leave their result as it
// was. Points just off the line still make a frame.
TEST(ThreeTwoOne, PointsOnOneLineAreRefused)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        double p0[3], pa[3], pp[3];
        bool accepted;
    };
    const Case cases[] = {
        {"on one line", {1, 2, 3}, {2, 4, 7}, {3.5, 7, 13}, false},
        {"plane point behind the origin", {1, 2, 3}, {2, 4, 7}, {-1, -2, -5}, false},
        {"axis point at the origin", {1, 2, 3}, {1, 2, 3}, {5, 0, 1}, false},
        {"plane point at the origin", {1, 2, 3}, {5, 0, 1}, {1, 2, 3}, false},
        {"plane point at the axis point", {1, 2, 3}, {5, 0, 1}, {5, 0, 1}, false},
        {"all at one place", {4, 4, 4}, {4, 4, 4}, {4, 4, 4}, false},
        {"off the line by 1e-12", {0, 0, 0}, {1000, 0, 0}, {2000, 1e-9, 0}, false},
        {"a coordinate not a number", {0, 0, 0}, {1, 0, 0}, {0, nan, 0}, false},
        {"off the line by 1e-6", {0, 0, 0}, {1000, 0, 0}, {2000, 2e-3, 0}, true},
    };
    const Matrix M = AxisAssignment(0, 1, 1, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ArePointsOnOneLine(Column(c.p0), Column(c.pa), Column(c.pp)), !c.accepted);
        Matrix frame(2, 2), T(2, 2);
        frame = 7.0;
        T = 7.0;
        EXPECT_EQ(ComputeLocalFrame(frame, Column(c.p0), Column(c.pa), Column(c.pp)), c.accepted);
        EXPECT_EQ(ComputeThreeTwoOneTransformation(M, T, Column(c.p0), Column(c.pa), Column(c.pp)), c.accepted);
        if (!c.accepted) {
            for (const Matrix* m : {&frame, &T}) {
                ASSERT_EQ(m->Nrows(), 2);
                EXPECT_EQ(m->Sum(), 28.0);
            }
        }
    }
}

// The vector helpers on hand-worked values, and the shapes they leave alone.
TEST(ThreeTwoOne, VectorHelpers)
{
    const double a[3] = {1, 2, 3}, b[3] = {-2, 0.5, 4};
    const double axb[3] = {2 * 4 - 3 * 0.5, 3 * -2 - 1 * 4, 1 * 0.5 - 2 * -2};
    Matrix c4;
    CrossProduct4(c4, Column(a), Column(b));
    ASSERT_EQ(c4.Nrows(), 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(c4(i + 1, 1), axb[i]);
    EXPECT_EQ(c4(4, 1), 1.0);

    Matrix ra(1, 3), rb(1, 3), c3;
    for (int i = 0; i < 3; ++i) {
        ra(1, i + 1) = a[i];
        rb(1, i + 1) = b[i];
    }
    CrossProduct3(c3, ra, rb);
    ASSERT_EQ(c3.Nrows(), 1);
    ASSERT_EQ(c3.Ncols(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(c3(1, i + 1), axb[i]);

    // Wrong shapes: nothing is written.
    Matrix untouched(2, 2);
    untouched = 5.0;
    CrossProduct4(untouched, ra, rb);
    CrossProduct3(untouched, Column(a), Column(b));
    EXPECT_FALSE(InverseTranslation(untouched, ra));
    EXPECT_FALSE(ComputeThreeTwoOneTransformation(ra, untouched, Column(a), Column(b), Column(axb)));
    EXPECT_FALSE(ComputeLocalFrame(untouched, ra, Column(b), Column(axb)));
    EXPECT_EQ(untouched.Nrows(), 2);
    EXPECT_EQ(untouched.Sum(), 20.0);

    struct Norm {
        std::vector<double> in, out;
        int cols;
    };
    const Norm norms[] = {
        {{3, 4, 0, 1}, {0.6, 0.8, 0, 1}, 1},
        {{0, 0, 0, 1}, {0, 0, 0, 1}, 1},
        {{0, 2, 0}, {0, 1, 0}, 1},
        {{3, 4, 0, 1}, {3, 4, 0, 1}, 2},
    };
    for (const Norm& n : norms) {
        Matrix v(int(n.in.size()) / n.cols, n.cols);
        v << n.in.data();
        NormalizeColumn(v);
        int k = 0;
        for (int i = 1; i <= v.Nrows(); ++i)
            for (int j = 1; j <= v.Ncols(); ++j)
                EXPECT_DOUBLE_EQ(v(i, j), n.out[k++]);
    }
}
