#include <cmath>
#include <memory>
#include <random>

#include <gtest/gtest.h>
#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include "ObjectPoint.h"
#include "PointSet.h"
#include "Similarity3D.h"

namespace {

struct Truth {
    double s;
    double omega, phi, kappa;
    double t[3];
};

// Control and secondary sets related by Xs = s R^T Xc + T plus noise;
// flat puts every control point in the plane z = 0.
void MakeSets(std::mt19937& rng, int n, const Truth& truth, double noise, bool flat, CPointSet& control,
              CPointSet& secondary)
{
    std::uniform_real_distribution<double> coord(-500.0, 500.0);
    std::normal_distribution<double> err(0.0, noise);
    double r[3][3];
    BuildRotation(truth.omega, truth.phi, truth.kappa, r);
    for (int i = 0; i < n; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "P%03d", i);
        const double c[3] = {coord(rng), coord(rng), flat ? 0.0 : coord(rng)};
        control.AddCopy(CObjectPoint(label, c[0], c[1], c[2]));
        double s[3];
        for (int k = 0; k < 3; ++k)
            s[k] = truth.s * (r[0][k] * c[0] + r[1][k] * c[1] + r[2][k] * c[2]) + truth.t[k] + err(rng);
        secondary.AddCopy(CObjectPoint(label, s[0], s[1], s[2]));
    }
}

// Least-squares minimum of sum |s M a - b|^2 over the accepted pairs (a, b
// reduced to their centroids): M from the eigenvector of the largest
// eigenvalue of the quaternion matrix, s = sum b.Ma / sum |a|^2.
struct ClosedForm {
    double s;
    double m[3][3]; // secondary = s M control + t
    double t[3];
};

ClosedForm Solve(const C3DTransformation& tr)
{
    int n = 0;
    double mc[3] = {}, ms[3] = {};
    for (int i = 0; i < tr.GetCommonPointCount(); ++i) {
        const CTransformPointPair* p = tr.GetPair(i);
        if (p->rejected)
            continue;
        ++n;
        const double c[3] = {p->control->x, p->control->y, p->control->z};
        const double s[3] = {p->point->x, p->point->y, p->point->z};
        for (int k = 0; k < 3; ++k) {
            mc[k] += c[k];
            ms[k] += s[k];
        }
    }
    for (int k = 0; k < 3; ++k) {
        mc[k] /= n;
        ms[k] /= n;
    }
    double S[3][3] = {}, aa = 0.0;
    for (int i = 0; i < tr.GetCommonPointCount(); ++i) {
        const CTransformPointPair* p = tr.GetPair(i);
        if (p->rejected)
            continue;
        const double a[3] = {p->control->x - mc[0], p->control->y - mc[1], p->control->z - mc[2]};
        const double b[3] = {p->point->x - ms[0], p->point->y - ms[1], p->point->z - ms[2]};
        for (int j = 0; j < 3; ++j) {
            aa += a[j] * a[j];
            for (int k = 0; k < 3; ++k)
                S[j][k] += a[j] * b[k];
        }
    }
    NEWMAT::SymmetricMatrix q(4);
    q(1, 1) = S[0][0] + S[1][1] + S[2][2];
    q(2, 1) = S[1][2] - S[2][1];
    q(3, 1) = S[2][0] - S[0][2];
    q(4, 1) = S[0][1] - S[1][0];
    q(2, 2) = S[0][0] - S[1][1] - S[2][2];
    q(3, 2) = S[0][1] + S[1][0];
    q(4, 2) = S[2][0] + S[0][2];
    q(3, 3) = -S[0][0] + S[1][1] - S[2][2];
    q(4, 3) = S[1][2] + S[2][1];
    q(4, 4) = -S[0][0] - S[1][1] + S[2][2];
    NEWMAT::DiagonalMatrix values;
    NEWMAT::Matrix vectors;
    NEWMAT::EigenValues(q, values, vectors); // ascending
    const double w = vectors(1, 4), x = vectors(2, 4), y = vectors(3, 4), z = vectors(4, 4);
    ClosedForm f;
    const double m[3][3] = {{w * w + x * x - y * y - z * z, 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), w * w - x * x + y * y - z * z, 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), w * w - x * x - y * y + z * z}};
    double bma = 0.0;
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) {
            f.m[j][k] = m[j][k];
            bma += m[k][j] * S[j][k];
        }
    f.s = bma / aa;
    for (int k = 0; k < 3; ++k)
        f.t[k] = ms[k] - f.s * (m[k][0] * mc[0] + m[k][1] * mc[1] + m[k][2] * mc[2]);
    return f;
}

struct RandomCase {
    int points;
    double noise;
    bool flat;
    int outliers; // points moved far beyond the cutoff
};

} // namespace

TEST(Similarity, AgreesWithTheClosedFormMinimumOnRandomControlSets)
{
    const RandomCase cases[] = {{4, 0.01, false, 0},  {5, 0.05, false, 0}, {12, 0.02, false, 0},
                                {50, 0.01, false, 0}, {6, 0.02, true, 0},  {30, 0.05, true, 0},
                                {20, 0.02, false, 2}, {40, 0.01, true, 3}};
    std::mt19937 rng(36);
    std::uniform_real_distribution<double> angle(-3.0, 3.0), half(-1.4, 1.4), shift(-1000.0, 1000.0),
        scale(0.2, 5.0);
    for (const RandomCase& rc : cases) {
        for (int run = 0; run < 5; ++run) {
            SCOPED_TRACE(testing::Message() << rc.points << " points, flat " << rc.flat << ", run " << run);
            const Truth truth{scale(rng), angle(rng), half(rng), angle(rng), {shift(rng), shift(rng), shift(rng)}};
            CPointSet control, secondary, result;
            MakeSets(rng, rc.points, truth, rc.noise, rc.flat, control, secondary);
            for (int i = 0; i < rc.outliers; ++i)
                secondary.GetAt(3 + i)->x += 50.0 * truth.s;
            secondary.AddCopy(CObjectPoint("ZZ_FREE", 10.0, 20.0, 30.0)); // no control partner

            C3DTransformation tr(&secondary, &control, &result);
            tr.cutoff = 5.0 * truth.s;
            ASSERT_TRUE(tr.Compute()) << GeometryStatusText(tr.statusId);
            EXPECT_EQ(SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL, tr.statusId);
            EXPECT_EQ(rc.outliers, tr.GetRejectedCount());
            const ClosedForm f = Solve(tr);
            EXPECT_NEAR(f.s, tr.scale, 1e-9 * f.s);
            const double t[3] = {tr.X0, tr.Y0, tr.Z0};
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(f.t[k], t[k], 1e-9 * (std::fabs(f.t[k]) + 500.0 * f.s));
                for (int j = 0; j < 3; ++j)
                    EXPECT_NEAR(f.m[j][k], tr.R[k][j], 1e-9);
            }
            ASSERT_EQ(secondary.GetSize(), result.GetSize());
            for (int i = 0; i < secondary.GetSize(); ++i) {
                const CObjectPoint* s = secondary.GetAt(i);
                const CObjectPoint* r = result.FindPoint(s->label);
                ASSERT_NE(nullptr, r);
                const double d[3] = {s->x - f.t[0], s->y - f.t[1], s->z - f.t[2]};
                const double x[3] = {r->x, r->y, r->z};
                for (int k = 0; k < 3; ++k) {
                    const double expect = (f.m[0][k] * d[0] + f.m[1][k] * d[1] + f.m[2][k] * d[2]) / f.s;
                    EXPECT_NEAR(expect, x[k], 1e-9 * (std::fabs(expect) + 1000.0));
                }
            }
            if (rc.outliers > 0) {
                EXPECT_GT(tr.discrepancyRmsAll[3], tr.discrepancyRms[3]);
            }
        }
    }
}

TEST(Similarity, EdgeCases)
{
    struct Case {
        const char* name;
        int points;
        int moved;         // index of a point moved by 10 units, or -1
        int fixedScale;
        int maxIterations; // 0 keeps the default
        int status;
        int iterations;    // 0 when not checked
        int rejected;
    };
    const Case cases[] = {
        {"three points", 3, -1, 0, 0, SimilarityOutcome::IDS_NOT_ENOUGH_COMMON_POINTS, 0, 0},
        {"identical sets", 6, -1, 0, 0, SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL, 4, 0},
        {"displaced point", 8, 2, 0, 0, SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL, 0, 1},
        {"held scale", 8, -1, 1, 0, SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL, 0, 0},
        {"converged at the maximum", 6, -1, 0, 4, SimilarityOutcome::IDS_MAX_ITERATIONS_EXCEEDED, 4, 0},
    };
    // Corners of a box and two inner points: not in one plane.
    const double base[8][3] = {{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {0, 0, 100},
                               {100, 100, 0}, {100, 0, 100}, {30, 60, 20}, {70, 20, 80}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPointSet control, secondary, result;
        for (int i = 0; i < c.points; ++i) {
            char label[16];
            std::snprintf(label, sizeof label, "%d", i + 1);
            control.AddCopy(CObjectPoint(label, base[i][0], base[i][1], base[i][2]));
            // Held scale: the secondary set is twice as large.
            const double f = c.fixedScale ? 2.0 : 1.0;
            secondary.AddCopy(CObjectPoint(label, f * base[i][0] + (i == c.moved ? 10.0 : 0.0), f * base[i][1],
                                           f * base[i][2]));
        }
        C3DTransformation tr(&secondary, &control, &result);
        tr.cutoff = c.fixedScale ? 1000.0 : 1.0;
        tr.fixedScale = c.fixedScale;
        if (c.maxIterations > 0)
            tr.maxIterations = c.maxIterations;
        EXPECT_EQ(c.status == SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL, tr.Compute());
        EXPECT_EQ(c.status, tr.statusId) << GeometryStatusText(tr.statusId);
        if (c.iterations > 0) {
            EXPECT_EQ(c.iterations, tr.iterations);
        }
        EXPECT_EQ(c.rejected, tr.GetRejectedCount());
        if (c.status != SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL)
            continue;
        if (c.moved >= 0) {
            EXPECT_TRUE(tr.GetPair(c.moved)->rejected);
            EXPECT_NEAR(0.0, tr.discrepancyRms[3], 1e-9);
            // The moved pair alone carries the all-pair RMS: 10 units in x over 3n values.
            EXPECT_NEAR(10.0 / std::sqrt(3.0 * c.points), tr.discrepancyRmsAll[3], 1e-9);
        } else if (c.fixedScale) {
            char printed[32];
            std::snprintf(printed, sizeof printed, "%.6f", 1.0 / tr.scale);
            EXPECT_STREQ("1.000000", printed);
            const int n = c.points;
            EXPECT_NEAR(tr.sigma0 * tr.sigma0 * (3 * n - 7), tr.rms * tr.rms * 3 * n, 1e-9 * tr.rms * tr.rms * 3 * n);
            EXPECT_GT(tr.rms, 1.0);
        } else {
            EXPECT_NEAR(0.0, tr.rms, 1e-12);
            EXPECT_NEAR(0.0, tr.sigma0, 1e-12);
            EXPECT_NEAR(1.0, tr.scale, 1e-12);
            EXPECT_NEAR(0.0, std::fabs(tr.X0) + std::fabs(tr.Y0) + std::fabs(tr.Z0), 1e-9);
            EXPECT_NEAR(0.0, std::fabs(tr.GetOmega()) + std::fabs(tr.GetPhi()) + std::fabs(tr.GetKappa()), 1e-12);
        }
    }
}

TEST(Similarity, AnglesReadBackFromTheRotation)
{
    const double angles[][3] = {{0.3, -0.2, 2.9}, {-2.5, 1.2, -0.4}, {0.0, 2.0 * std::atan(1.0), 0.7}};
    for (const auto& a : angles) {
        double r[3][3], back[3][3];
        BuildRotation(a[0], a[1], a[2], r);
        double o, p, k;
        ReadAngles(r, o, p, k);
        ASSERT_TRUE(std::isfinite(o) && std::isfinite(p) && std::isfinite(k));
        BuildRotation(o, p, k, back);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(r[i][j], back[i][j], 1e-12);
    }
}

#include "BestFit.h"

namespace similarity_outcome_ids_test {

// Both outcome tables in one file: the shared ids agree, each in its scope.
TEST(OutcomeIds, BothTablesCanBeUsedTogether)
{
    EXPECT_EQ(int(BestFitOutcome::IDS_INSUFFICIENT_POINTS), int(SimilarityOutcome::IDS_INSUFFICIENT_POINTS));
    EXPECT_EQ(int(BestFitOutcome::IDS_ADJUSTMENT_FAILED), int(SimilarityOutcome::IDS_ADJUSTMENT_FAILED));
    EXPECT_EQ(int(BestFitOutcome::IDS_ADJUSTMENT_DIVERGING), int(SimilarityOutcome::IDS_ADJUSTMENT_DIVERGING));
    EXPECT_EQ(int(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED), int(SimilarityOutcome::IDS_BEST_FIT_PLANE_FAILED));
    EXPECT_STREQ(BestFitOutcomeText(BestFitOutcome::IDS_INSUFFICIENT_POINTS),
                 GeometryStatusText(SimilarityOutcome::IDS_INSUFFICIENT_POINTS));
}

} // namespace similarity_outcome_ids_test
