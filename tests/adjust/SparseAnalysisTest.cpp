// The sparse system's analysis and its element lists: the factor the
// analysis plans holds exactly the elements that a dense symbolic
// elimination in the same order fills, and the system written out dense
// holds each stored element where the element lookup finds it.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "Matrix.h"
#include "SparseNormals.h"

namespace sparse_analysis_test {

enum Shape { kChain, kGrid, kStar };

struct Pattern {
    std::vector<int> sizes;
    std::vector<std::pair<int32_t, int32_t>> links;
};

// Nodes of 1 to 10 unknowns. A chain with random links; a grid linking
// each node to those within two steps (images seeing common points); or a
// star, one node (a camera) linked to every other, plus a chain.
Pattern MakePattern(unsigned seed, int nodes, Shape shape)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> size(1, 10), pick(0, nodes - 1);
    Pattern p;
    for (int a = 0; a < nodes; ++a)
        p.sizes.push_back(size(rng));
    const int width = 8;
    for (int a = 0; a < nodes; ++a)
        for (int b = 0; b < a; ++b) {
            const bool near = std::abs(a % width - b % width) <= 2 && std::abs(a / width - b / width) <= 2;
            if ((shape == kGrid && near) || (shape != kGrid && b + 1 == a) || (shape == kStar && b == 0))
                p.links.emplace_back(a, b);
        }
    if (shape == kChain)
        for (int k = 0; k < nodes; ++k)
            p.links.emplace_back(pick(rng), pick(rng));
    return p;
}

// Elements of the Cholesky factor (diagonal included) of a matrix whose
// elements are those the system stores, eliminating in the system's order:
// each elimination links every pair of the later unknowns it touches.
double FilledEntries(CSparseNormals& system)
{
    const int n = system.Order();
    std::vector<int> unknownAt(static_cast<size_t>(n));
    for (int u = 0; u < n; ++u)
        unknownAt[static_cast<size_t>(system.EliminationPosition(u))] = u;
    std::vector<std::vector<char>> filled(static_cast<size_t>(n), std::vector<char>(static_cast<size_t>(n), 0));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            filled[static_cast<size_t>(i)][static_cast<size_t>(j)] =
                system.Entry(unknownAt[static_cast<size_t>(i)], unknownAt[static_cast<size_t>(j)]) != nullptr;
    double entries = 0.0;
    std::vector<int> below;
    for (int k = 0; k < n; ++k) {
        below.clear();
        for (int i = k + 1; i < n; ++i)
            if (filled[static_cast<size_t>(i)][static_cast<size_t>(k)])
                below.push_back(i);
        entries += 1.0 + static_cast<double>(below.size());
        for (int i : below)
            for (int j : below)
                filled[static_cast<size_t>(i)][static_cast<size_t>(j)] = 1;
    }
    return entries;
}

struct Case {
    unsigned seed;
    int nodes;
    Shape shape;
};
const Case kCases[] = {{1u, 30, kChain}, {2u, 90, kChain}, {3u, 64, kGrid}, {4u, 120, kGrid}, {5u, 40, kStar}};

// The system of one case on its pattern, its elements zero.
void BuildCase(const Case& c, CSparseNormals& system)
{
    Pattern p = MakePattern(c.seed, c.nodes, c.shape);
    ASSERT_TRUE(system.Build(p.sizes, p.links));
}

TEST(BundleSparseAnalysis, PlannedFactorHoldsTheElementsOfTheDenseElimination)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.seed);
        CSparseNormals system;
        ASSERT_NO_FATAL_FAILURE(BuildCase(c, system));
        ASSERT_TRUE(system.Analyse());
        // Each node's unknowns follow each other, in their order.
        for (int u = 0; u + 1 < system.Order(); ++u) {
            if (system.NodeOf(u) == system.NodeOf(u + 1)) {
                EXPECT_EQ(system.EliminationPosition(u + 1), system.EliminationPosition(u) + 1);
            }
        }
        EXPECT_EQ(system.FactorEntries(), FilledEntries(system));
    }
}

TEST(BundleSparseAnalysis, DenseCopyHoldsEachStoredElementWhereTheLookupFindsIt)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.seed);
        CSparseNormals system;
        ASSERT_NO_FATAL_FAILURE(BuildCase(c, system));
        const int n = system.Order();
        for (int r = 0; r < n; ++r) {
            for (int col = r; col < n; ++col)
                if (double* cell = system.Entry(r, col))
                    *cell = 1.0 + r * n + col;
            system.Rhs(r) = -1.0 - r;
        }
        system.SquareSum() = 0.5;
        CMatrix dense(n + 1, -1);
        ASSERT_EQ(dense.GetRows(), n + 1);
        system.CopyToPacked(dense.GetRowTable());
        double* const* T = dense.GetRowTable();
        for (int r = 0; r < n; ++r) {
            for (int col = r; col < n; ++col)
                ASSERT_EQ(T[r][col - r], system.Entry(r, col) != nullptr ? 1.0 + r * n + col : 0.0) << r << "," << col;
            EXPECT_EQ(T[r][n - r], -1.0 - r);
        }
        EXPECT_EQ(T[n][0], 0.5);
    }
}

} // namespace sparse_analysis_test
