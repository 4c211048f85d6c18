// The reduced system stored by its blocks and factorised sparse: the sparse
// system alone against the dense factorisation, solution and inverse of the
// same matrix, and whole adjustments on the sparse path against the dense
// path (every estimate and covariance to 1e-9 relative).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "DenseKernels.h"
#include "Matrix.h"
#include "SameResults.h"
#include "SparseNormals.h"
#include "Vector.h"

using namespace bundletest;

namespace bundle_sparse_system_test {

// A symmetric positive definite system on a block pattern: nodes of 3 to 10
// unknowns, each linked to the next and to a few at random, values random
// in the linked blocks, the diagonal dominant and of widely different
// sizes; the same system packed dense, augmented by its right-hand side and
// square sum.
struct TestSystem {
    std::vector<int> sizes;
    std::vector<std::pair<int32_t, int32_t>> links;
    CSparseNormals sparse;
    CMatrix dense;
    int order = 0;
};

// With `width` > 0 the nodes lie on a grid of that width and each is linked
// to every node within two steps along each axis (as images that see common
// points), which makes a factor with wide supernodes over many rows.
void BuildTestSystem(TestSystem& t, unsigned seed, int nodes, int width = 0)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> size(3, 10), pick(0, nodes - 1);
    for (int a = 0; a < nodes; ++a)
        t.sizes.push_back(size(rng));
    if (width > 0) {
        for (int a = 0; a < nodes; ++a)
            for (int b = 0; b < a; ++b)
                if (std::abs(a % width - b % width) <= 2 && std::abs(a / width - b / width) <= 2)
                    t.links.emplace_back(a, b);
    } else {
        for (int a = 0; a + 1 < nodes; ++a)
            t.links.emplace_back(a + 1, a);
        for (int k = 0; k < nodes; ++k)
            t.links.emplace_back(pick(rng), pick(rng));
    }
    std::vector<std::pair<int32_t, int32_t>> links = t.links;
    ASSERT_TRUE(t.sparse.Build(t.sizes, links));
    t.order = t.sparse.Order();
    const int n = t.order;
    t.dense.Resize(n + 1, -1);
    t.dense.Zero();
    std::vector<int> start(1, 0), node;
    for (int a = 0; a < nodes; ++a) {
        start.push_back(start.back() + t.sizes[static_cast<size_t>(a)]);
        node.insert(node.end(), static_cast<size_t>(t.sizes[static_cast<size_t>(a)]), a);
    }
    std::vector<double> rowSum(static_cast<size_t>(n), 0.0);
    for (int r = 0; r < n; ++r)
        for (int c = r + 1; c < n; ++c) {
            double* cell = t.sparse.Entry(r, c);
            if (cell == nullptr)
                continue;
            const double v = u(rng);
            *cell = v;
            t.dense.SetAt(v, r, c);
            rowSum[static_cast<size_t>(r)] += std::fabs(v);
            rowSum[static_cast<size_t>(c)] += std::fabs(v);
        }
    // Scaled by a factor per unknown, as units and weights scale a system.
    std::vector<double> f(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r)
        f[static_cast<size_t>(r)] = std::pow(10.0, 3.0 * u(rng));
    for (int r = 0; r < n; ++r) {
        const double diagonal = rowSum[static_cast<size_t>(r)] + 1.0 + std::fabs(u(rng));
        *t.sparse.Entry(r, r) = diagonal;
        t.dense.SetAt(diagonal, r, r);
    }
    for (int r = 0; r < n; ++r)
        for (int c = r; c < n; ++c) {
            double* cell = t.sparse.Entry(r, c);
            if (cell == nullptr)
                continue;
            *cell *= f[static_cast<size_t>(r)] * f[static_cast<size_t>(c)];
            t.dense.SetAt(*cell, r, c);
        }
    double square = 0.0;
    for (int r = 0; r < n; ++r) {
        const double b = u(rng) * f[static_cast<size_t>(r)];
        t.sparse.Rhs(r) = b;
        t.dense.SetAt(b, r, n);
        square += 10.0 * b * b / t.dense.GetAt(r, r);
    }
    t.sparse.SquareSum() = square + 1.0;
    t.dense.SetAt(square + 1.0, n, n);
}

void ExpectRelative(double a, double b, double tolerance, const char* what)
{
    EXPECT_LE(std::fabs(a - b), tolerance * std::max(std::fabs(a), std::fabs(b))) << what << ": " << a << " vs " << b;
}

TEST(BundleSparseSystem, FactorSolutionAndInverseEqualTheDenseOnes)
{
    // Small systems, and one whose factor has wide supernodes with many
    // rows below them (the inverse's dense products then work on blocks).
    const struct {
        unsigned seed;
        int nodes;
        int width;
    } cases[] = {{1u, 30, 0}, {2u, 30, 0}, {3u, 30, 0}, {4u, 160, 0}, {5u, 180, 12}};
    for (const auto& one : cases) {
        const unsigned seed = one.seed;
        SCOPED_TRACE(seed);
        TestSystem t;
        BuildTestSystem(t, seed, one.nodes, one.width);
        const int n = t.order;
        // Outside the pattern there is no element.
        int outside = 0;
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c)
                outside += t.sparse.Entry(r, c) == nullptr ? 1 : 0;
        EXPECT_GT(outside, 0);

        CMatrix normal(n, -1); // N alone, for the dense inverse
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c)
                normal.SetAt(t.dense.GetAt(r, c), r, c);
        ASSERT_TRUE(t.sparse.Analyse());
        ASSERT_TRUE(t.sparse.Factorize());
        ASSERT_TRUE(t.dense.LdltDecompose());
        CVector xs, xd(n);
        ASSERT_TRUE(t.sparse.Solve(xs));
        t.dense.SolveAugmentedUnit(xd);
        for (int r = 0; r < n; ++r)
            ExpectRelative(xs[r], xd[r], 1e-10, "solution");

        // The product of the pivots is the determinant whatever the order
        // of elimination; the last (the reduced square sum) is the same.
        const std::vector<double>& pivots = t.sparse.Pivots();
        ASSERT_EQ(static_cast<int>(pivots.size()), n + 1);
        double logSparse = 0.0, logDense = 0.0;
        for (int r = 0; r < n; ++r) {
            logSparse += std::log(pivots[static_cast<size_t>(r)]);
            logDense += std::log(t.dense.GetAt(r, r));
        }
        EXPECT_NEAR(logSparse, logDense, 1e-9 * std::fabs(logDense) + 1e-9);
        ExpectRelative(pivots[static_cast<size_t>(n)], t.dense.GetAt(n, n), 1e-9, "last pivot");

        ASSERT_TRUE(normal.InvertSymmetric(false));
        ASSERT_TRUE(t.sparse.InvertOnPattern());
        CMatrix whole;
        ASSERT_TRUE(t.sparse.InvertWhole(whole));
        int formed = 0;
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c) {
                const double q = normal.GetAt(r, c);
                const double scale = std::sqrt(normal.GetAt(r, r) * normal.GetAt(c, c));
                EXPECT_NEAR(whole.GetAt(r, c), q, 1e-10 * scale);
                double z = 0.0;
                if (t.sparse.InverseAt(r, c, z)) {
                    ++formed;
                    EXPECT_NEAR(z, q, 1e-10 * scale);
                } else {
                    // Every element of the system's pattern is formed.
                    EXPECT_EQ(t.sparse.Entry(r, c), nullptr);
                }

            }
        EXPECT_GE(formed, n);
        // Formed on several threads, the inverse is the same to the bit.
        std::vector<double> alone; // on one worker
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c) {
                double z = 0.0;
                if (t.sparse.InverseAt(r, c, z))
                    alone.push_back(z);
            }
        for (int workers : {2, 3, 8}) {
            SCOPED_TRACE(workers);
            ASSERT_TRUE(t.sparse.InvertOnPattern(workers));
            size_t k = 0;
            for (int r = 0; r < n; ++r)
                for (int c = r; c < n; ++c) {
                    double z = 0.0;
                    if (t.sparse.InverseAt(r, c, z)) {
                        ASSERT_LT(k, alone.size());
                        EXPECT_EQ(z, alone[k++]);
                    }
                }
            EXPECT_EQ(k, alone.size());
        }
        // Block by block, for every block of the system.
        std::vector<std::pair<int32_t, int32_t>> blocks = t.links;
        for (int a = 0; a < static_cast<int>(t.sizes.size()); ++a)
            blocks.emplace_back(a, a);
        for (const auto& link : blocks) {
            for (int pass = 0; pass < 2; ++pass) {
                const int a = pass == 0 ? link.first : link.second;
                const int b = pass == 0 ? link.second : link.first;
                double block[100];
                ASSERT_TRUE(t.sparse.InverseBlock(a, b, block));
                const int sa = t.sparse.NodeSize(a), sb = t.sparse.NodeSize(b);
                for (int u = 0; u < sa; ++u)
                    for (int v = 0; v < sb; ++v) {
                        const int r = t.sparse.NodeStart(a) + u, c = t.sparse.NodeStart(b) + v;
                        const double scale = std::sqrt(normal.GetAt(r, r) * normal.GetAt(c, c));
                        EXPECT_NEAR(block[u * sb + v], normal.GetAt(r, c), 1e-10 * scale);
                    }
            }
        }
        // M Q M' over the columns of two linked blocks (in either order),
        // or on the grid of up to nine blocks that all link each other (a
        // window of three by three, in scrambled order), 3 and 6 rows, at
        // every instruction set of the dense kernels, against the product
        // with the dense inverse; columns that are not whole blocks are
        // refused.
        std::vector<std::vector<int>> groups;
        for (size_t k = 0; k < t.links.size(); k += 7)
            if (t.links[k].first != t.links[k].second)
                groups.push_back({t.links[k].second, t.links[k].first});
        if (one.width > 0)
            for (int a = 0; a < one.nodes; a += 5) {
                std::vector<int> window;
                for (int dy = 0; dy < 3; ++dy)
                    for (int dx = 0; dx < 3; ++dx)
                        if (a % one.width + dx < one.width && a + dy * one.width + dx < one.nodes)
                            window.push_back(a + dy * one.width + dx);
                std::shuffle(window.begin(), window.end(), std::mt19937(seed + static_cast<unsigned>(a)));
                groups.push_back(window);
            }
        std::mt19937 rng(seed + 100);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int level = densekernel::LEVEL_BASELINE; level <= densekernel::MachineLevel(); ++level) {
            for (const std::vector<int>& group : groups) {
                densekernel::SetLevel(static_cast<densekernel::Level>(level));
                SCOPED_TRACE(testing::Message() << "level " << level << ", " << group.size() << " blocks");
                for (int rows : {3, 6}) {
                    std::vector<int32_t> cols;
                    for (int node : group)
                        for (int m = 0; m < t.sparse.NodeSize(node); ++m)
                            cols.push_back(t.sparse.NodeStart(node) + m);
                    const int count = static_cast<int>(cols.size());
                    CMatrix M(rows, count);
                    for (int r = 0; r < rows; ++r)
                        for (int c = 0; c < count; ++c)
                            M.SetAt(u(rng) / std::sqrt(normal.GetAt(cols[static_cast<size_t>(c)],
                                                                    cols[static_cast<size_t>(c)])),
                                    r, c);
                    double out[36];
                    ASSERT_TRUE(t.sparse.InverseCongruence(M.GetRowTable(), cols.data(), count, rows, out));
                    for (int r = 0; r < rows; ++r)
                        for (int q = 0; q < rows; ++q) {
                            long double sum = 0.0L;
                            for (int c = 0; c < count; ++c)
                                for (int d = 0; d < count; ++d)
                                    sum += static_cast<long double>(M.GetAt(r, c)) *
                                           normal.GetAt(cols[static_cast<size_t>(c)], cols[static_cast<size_t>(d)]) *
                                           M.GetAt(q, d);
                            const double size = std::sqrt(std::fabs(out[r * rows + r] * out[q * rows + q])) + 1e-300;
                            EXPECT_NEAR(out[r * rows + q], static_cast<double>(sum), 1e-9 * size) << rows << " rows";
                        }
                    std::swap(cols[0], cols[1]);
                    EXPECT_FALSE(t.sparse.InverseCongruence(M.GetRowTable(), cols.data(), count, rows, out));
                }
            }
        }
        densekernel::SetLevel(densekernel::MachineLevel());
    }
}

TEST(BundleSparseSystem, SingularSystemsFailTheFactorisation)
{
    {
        // An unknown without any term: a zero diagonal.
        TestSystem t;
        BuildTestSystem(t, 4, 12);
        for (int c = 0; c < t.order; ++c)
            if (double* cell = t.sparse.Entry(5, c))
                *cell = 0.0;
        EXPECT_FALSE(t.sparse.Factorize());
    }
    {
        // Two unknowns of one node with the same row: not positive definite.
        TestSystem t;
        BuildTestSystem(t, 5, 12);
        for (int c = 0; c < t.order; ++c) {
            double* a = t.sparse.Entry(0, c);
            double* b = t.sparse.Entry(1, c);
            if (a != nullptr && b != nullptr && c > 1)
                *b = *a;
        }
        *t.sparse.Entry(1, 1) = *t.sparse.Entry(0, 0);
        *t.sparse.Entry(0, 1) = *t.sparse.Entry(0, 0);
        EXPECT_FALSE(t.sparse.Factorize());
    }
    {
        // A system whose right-hand side it fits exactly: the square sum
        // reduces to zero, which the root-free form refuses too.
        TestSystem t;
        BuildTestSystem(t, 6, 12);
        for (int r = 0; r < t.order; ++r)
            t.sparse.Rhs(r) = 0.0;
        t.sparse.SquareSum() = 0.0;
        EXPECT_FALSE(t.sparse.Factorize());
    }
}

TEST(BundleSparseSystem, FactorisationLeavesTheSystemAndGivesOneResultForAnyWorkerCount)
{
    TestSystem t;
    BuildTestSystem(t, 4, 160);
    ASSERT_TRUE(t.sparse.Analyse());
    std::vector<double> before;
    for (int r = 0; r < t.order; ++r)
        for (int c = r; c < t.order; ++c)
            if (const double* cell = t.sparse.Entry(r, c))
                before.push_back(*cell);
    ASSERT_TRUE(t.sparse.Factorize(1));
    CVector one;
    ASSERT_TRUE(t.sparse.Solve(one));
    const std::vector<double> pivots = t.sparse.Pivots();
    // A not positive definite system (an element beyond the square root of
    // its two diagonal elements' product) says so, and leaves the system as
    // it is.
    double* cell = t.sparse.Entry(7, 8);
    ASSERT_NE(cell, nullptr);
    const double kept = *cell;
    const double beyond = 2.0 * std::sqrt(t.sparse.Diagonal(7) * t.sparse.Diagonal(8));
    *cell = beyond;
    EXPECT_FALSE(t.sparse.Factorize(4));
    EXPECT_TRUE(t.sparse.NotPositiveDefinite());
    EXPECT_EQ(*cell, beyond);
    *cell = kept;
    size_t k = 0;
    for (int r = 0; r < t.order; ++r)
        for (int c = r; c < t.order; ++c) {
            if (const double* cell = t.sparse.Entry(r, c)) {
                EXPECT_EQ(*cell, before[k++]);
            }
        }
    for (int workers : {1, 2, 3, 8}) {
        SCOPED_TRACE(workers);
        ASSERT_TRUE(t.sparse.Factorize(workers));
        EXPECT_FALSE(t.sparse.NotPositiveDefinite());
        CVector x;
        ASSERT_TRUE(t.sparse.Solve(x));
        for (int r = 0; r < t.order; ++r)
            EXPECT_EQ(x[r], one[r]);
        EXPECT_EQ(t.sparse.Pivots(), pivots);
    }
}

// The inverse is formed over the factor's storage: what needs the factor
// afterwards (a solution, the whole inverse, the inverse again) gets it
// formed anew from the unchanged system, and the inverse read before stays
// readable; once the system is cleared, there is no factor to be had.
TEST(BundleSparseSystem, FactorNeededAfterTheInverseIsFormedAgain)
{
    const struct {
        unsigned seed;
        int nodes;
        int width;
        int workers;
    } cases[] = {{6u, 30, 0, 1}, {7u, 120, 0, 3}, {8u, 100, 10, 1}, {9u, 100, 10, 8}};
    for (const auto& one : cases) {
        SCOPED_TRACE(one.seed);
        TestSystem t;
        BuildTestSystem(t, one.seed, one.nodes, one.width);
        const int n = t.order;
        CMatrix inverse(n, -1); // the dense truth
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c)
                inverse.SetAt(t.dense.GetAt(r, c), r, c);
        ASSERT_TRUE(inverse.InvertSymmetric(false));
        ASSERT_TRUE(t.dense.LdltDecompose());
        CVector truth(n);
        t.dense.SolveAugmentedUnit(truth);

        ASSERT_TRUE(t.sparse.Analyse());
        ASSERT_TRUE(t.sparse.Factorize(one.workers));
        CVector first;
        ASSERT_TRUE(t.sparse.Solve(first));
        ASSERT_TRUE(t.sparse.InvertOnPattern(one.workers));
        std::vector<double> formed; // the inverse on the pattern, row by row
        auto readInverse = [&](std::vector<double>& into) {
            into.clear();
            for (int r = 0; r < n; ++r)
                for (int c = r; c < n; ++c) {
                    double z = 0.0;
                    if (t.sparse.InverseAt(r, c, z))
                        into.push_back(z);
                }
        };
        readInverse(formed);
        ASSERT_GE(formed.size(), static_cast<size_t>(n));
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass);
            CVector x;
            ASSERT_TRUE(t.sparse.Solve(x));
            for (int r = 0; r < n; ++r) {
                EXPECT_EQ(x[r], first[r]);
                ExpectRelative(x[r], truth[r], 1e-10, "solution");
            }
            std::vector<double> again;
            readInverse(again);
            EXPECT_EQ(again, formed);
            CMatrix whole;
            ASSERT_TRUE(t.sparse.InvertWhole(whole));
            for (int r = 0; r < n; ++r)
                for (int c = r; c < n; ++c)
                    EXPECT_NEAR(whole.GetAt(r, c), inverse.GetAt(r, c),
                                1e-10 * std::sqrt(inverse.GetAt(r, r) * inverse.GetAt(c, c)));
            // Formed a second time, over the factor formed again.
            ASSERT_TRUE(t.sparse.InvertOnPattern(one.workers));
            readInverse(again);
            EXPECT_EQ(again, formed);
        }
        size_t k = 0;
        for (int r = 0; r < n; ++r)
            for (int c = r; c < n; ++c) {
                double z = 0.0;
                if (t.sparse.InverseAt(r, c, z)) {
                    EXPECT_NEAR(z, inverse.GetAt(r, c), 1e-10 * std::sqrt(inverse.GetAt(r, r) * inverse.GetAt(c, c)));
                    ++k;
                }
            }
        EXPECT_EQ(k, formed.size());
        // A cleared system has no factor; the inverse formed stays.
        t.sparse.Zero();
        CVector none;
        EXPECT_FALSE(t.sparse.Solve(none));
        std::vector<double> kept;
        readInverse(kept);
        EXPECT_EQ(kept, formed);
        EXPECT_FALSE(t.sparse.InvertOnPattern(one.workers));
    }
}

TEST(BundleSparseSystem, HeldUnknownGetsNoCorrection)
{
    TestSystem t;
    BuildTestSystem(t, 7, 10);
    t.sparse.Hold(4);
    ASSERT_TRUE(t.sparse.Factorize());
    CVector x;
    ASSERT_TRUE(t.sparse.Solve(x));
    EXPECT_EQ(x[4], 0.0);
    for (int c = 0; c < t.order; ++c) {
        if (const double* cell = t.sparse.Entry(4, c)) {
            EXPECT_EQ(*cell, c == 4 ? 1.0 : 0.0);
        }
    }
}

struct RunResult {
    std::unique_ptr<Network> net;
    bool sparse = false;
};

RunResult Adjust(const std::function<void(Network&)>& build, CAdjustmentEngine::ReducedSolver solver)
{
    RunResult result;
    result.net.reset(new Network);
    Network& net = *result.net;
    build(net);
    net.settings.totalErrorPropagation = true;
    net.settings.convergenceLimit = 1e-7;
    CAdjustmentEngine engine(&net.images, &net.points, net.settings.freeNetwork ? nullptr : &net.control,
                             &net.cameras, &net.scaleBars, &net.settings, &net.summary);
    engine.SetSolver(solver);
    EXPECT_TRUE(engine.RunBundle());
    result.sparse = engine.IsSparseSystem();
    return result;
}

TEST(BundleSparseSystem, SparsePathGivesTheDenseResults)
{
    NetworkOptions o;
    o.seed = 11;
    o.noise = 0.001;
    struct Case {
        const char* name;
        std::function<void(Network&)> build;
        bool standard;
    };
    const Case cases[] = {
        {"control points, points folded",
         [&](Network& n) {
             BuildBlock(n, 24, 500, o);
             AddControl(n, 10, 0.005);
         },
         true},
        {"control points, stations folded, two cameras",
         [&](Network& n) {
             BuildRing(n, 16, 28, o, 2);
             AddControl(n, 3, 0.005);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult dense = Adjust(c.build, CAdjustmentEngine::SOLVER_DENSE);
        RunResult sparse = Adjust(c.build, CAdjustmentEngine::SOLVER_SPARSE);
        EXPECT_FALSE(dense.sparse);
        EXPECT_TRUE(sparse.sparse);
        ASSERT_EQ(dense.net->settings.standardFolding, c.standard);
        ASSERT_EQ(dense.net->summary.status, BUNDLE_CONVERGED);
        ExpectSameResults(*sparse.net, *dense.net, 1e-9, true);
    }
}

// An image that loses every ray leaves its station singular: both storages
// fail the run alike and name the image.
TEST(BundleSparseSystem, SingularStationFailsAlikeOnBothStorages)
{
    std::string reasons[2];
    const CAdjustmentEngine::ReducedSolver solvers[2] = {CAdjustmentEngine::SOLVER_DENSE,
                                                         CAdjustmentEngine::SOLVER_SPARSE};
    for (int k = 0; k < 2; ++k) {
        Network net;
        NetworkOptions o;
        o.perturbCamera = false;
        BuildRing(net, 8, 40, o);
        AddControl(net, 4, 0.005);
        net.settings.rejectionLimit = 0.1;
        net.images.GetAt(3)->X += 0.8;
        CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars,
                                 &net.settings, &net.summary);
        engine.SetSolver(solvers[k]);
        ASSERT_TRUE(engine.RunBundle());
        EXPECT_EQ(engine.IsSparseSystem(), k == 1);
        EXPECT_EQ(net.summary.status, BUNDLE_FAILED);
        reasons[k] = engine.GetFailureReason();
    }
    EXPECT_NE(reasons[0].find("singular"), std::string::npos) << reasons[0];
    EXPECT_NE(reasons[0].find("Image004"), std::string::npos) << reasons[0];
    EXPECT_EQ(reasons[1], reasons[0]);
}

TEST(BundleSparseSystem, FillChoosesTheStorage)
{
    NetworkOptions o;
    o.seed = 3;
    o.noise = 0.001;
    // Every image sees every point: the reduced system is full.
    RunResult ring = Adjust(
        [&](Network& n) {
            BuildRing(n, 10, 60, o);
            AddControl(n, 5, 0.005);
        },
        CAdjustmentEngine::SOLVER_AUTO);
    EXPECT_FALSE(ring.sparse);
    EXPECT_EQ(ring.net->summary.status, BUNDLE_CONVERGED);
    // A free network's datum couples every unknown: dense even when forced.
    RunResult free = Adjust([&](Network& n) { BuildBlock(n, 20, 300, o); }, CAdjustmentEngine::SOLVER_SPARSE);
    EXPECT_FALSE(free.sparse);
    // A wide block of images, each point in a few neighbouring ones.
    RunResult strip = Adjust(
        [&](Network& n) {
            BuildBlock(n, 400, 3000, o);
            AddControl(n, 20, 0.005);
        },
        CAdjustmentEngine::SOLVER_AUTO);
    EXPECT_TRUE(strip.sparse);
    EXPECT_EQ(strip.net->summary.status, BUNDLE_CONVERGED);
}

} // namespace bundle_sparse_system_test
