// The numeric supernodal factorisation on hand-made supernodal structures
// (chains, independent subtrees below a separator, random trees; supernodes
// small enough for one product per descendant and large enough to be cut
// into tiles), against a long-double dense Cholesky factor of the same
// matrix, and the same factor to the bit for every number of workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "SupernodalFactor.h"

namespace bundle_supernodal_factor_test {

// Supernodes given by their widths and parents (each parent after its
// children); each supernode's rows below its columns are the first column
// of its parent, `extra` random columns of its ancestors, and what its
// children's rows need there. A's lower triangle fills the whole structure
// with random values and a dominant diagonal, so its factor has exactly this
// structure.
struct Structure {
    int64_t order = 0;
    std::vector<int64_t> super, rowStart, rows, valueStart, Ap, Ai;
    std::vector<double> Ax;
    std::vector<std::vector<long double>> dense; // A, full
};

Structure MakeStructure(const std::vector<int>& widths, const std::vector<int>& parent, int extra, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int count = static_cast<int>(widths.size());
    Structure s;
    s.super.assign(1, 0);
    for (int w : widths)
        s.super.push_back(s.super.back() + w);
    s.order = s.super.back();
    std::vector<std::set<int64_t>> below(static_cast<size_t>(count));
    for (int t = 0; t < count; ++t) {
        const int p = parent[static_cast<size_t>(t)];
        if (p < 0)
            continue;
        below[static_cast<size_t>(t)].insert(s.super[static_cast<size_t>(p)]);
        std::vector<int64_t> ancestors;
        for (int a = p; a >= 0; a = parent[static_cast<size_t>(a)])
            for (int64_t c = s.super[static_cast<size_t>(a)]; c < s.super[static_cast<size_t>(a) + 1]; ++c)
                ancestors.push_back(c);
        for (int k = 0; k < extra; ++k)
            below[static_cast<size_t>(t)].insert(ancestors[rng() % ancestors.size()]);
    }
    // Closure: a supernode's rows beyond its parent's columns are its
    // parent's rows too.
    for (int t = 0; t < count; ++t) {
        const int p = parent[static_cast<size_t>(t)];
        if (p >= 0)
            for (int64_t r : below[static_cast<size_t>(t)])
                if (r >= s.super[static_cast<size_t>(p) + 1])
                    below[static_cast<size_t>(p)].insert(r);
    }
    const size_t n = static_cast<size_t>(s.order);
    s.dense.assign(n, std::vector<long double>(n, 0.0L));
    s.rowStart.assign(1, 0);
    s.valueStart.assign(1, 0);
    for (int t = 0; t < count; ++t) {
        const int64_t first = s.super[static_cast<size_t>(t)], end = s.super[static_cast<size_t>(t) + 1];
        for (int64_t c = first; c < end; ++c)
            s.rows.push_back(c);
        s.rows.insert(s.rows.end(), below[static_cast<size_t>(t)].begin(), below[static_cast<size_t>(t)].end());
        s.rowStart.push_back(static_cast<int64_t>(s.rows.size()));
        const int64_t height = s.rowStart.back() - s.rowStart[s.rowStart.size() - 2];
        s.valueStart.push_back(s.valueStart.back() + height * (end - first));
        for (int64_t c = first; c < end; ++c)
            for (int64_t q = s.rowStart[static_cast<size_t>(t)]; q < s.rowStart.back(); ++q) {
                const int64_t r = s.rows[static_cast<size_t>(q)];
                if (r > c)
                    s.dense[static_cast<size_t>(r)][static_cast<size_t>(c)] =
                        s.dense[static_cast<size_t>(c)][static_cast<size_t>(r)] = u(rng);
            }
    }
    for (size_t r = 0; r < n; ++r) {
        long double sum = 1.0L + std::fabs(u(rng));
        for (size_t c = 0; c < n; ++c)
            sum += c == r ? 0.0L : std::fabs(s.dense[r][c]);
        s.dense[r][r] = sum;
    }
    s.Ap.assign(1, 0);
    for (size_t c = 0; c < n; ++c) {
        for (size_t r = c; r < n; ++r)
            if (s.dense[r][c] != 0.0L) {
                s.Ai.push_back(static_cast<int64_t>(r));
                s.Ax.push_back(static_cast<double>(s.dense[r][c]));
            }
        s.Ap.push_back(static_cast<int64_t>(s.Ai.size()));
    }
    return s;
}

// The dense factor in long double (A exactly as given to the factorisation).
std::vector<std::vector<long double>> DenseCholesky(const Structure& s)
{
    const size_t n = static_cast<size_t>(s.order);
    std::vector<std::vector<long double>> L(n, std::vector<long double>(n, 0.0L));
    for (size_t j = 0; j < n; ++j) {
        long double d = static_cast<double>(s.dense[j][j]);
        for (size_t k = 0; k < j; ++k)
            d -= L[j][k] * L[j][k];
        L[j][j] = std::sqrt(d);
        for (size_t i = j + 1; i < n; ++i) {
            long double v = static_cast<double>(s.dense[i][j]);
            for (size_t k = 0; k < j; ++k)
                v -= L[i][k] * L[j][k];
            L[i][j] = v / L[j][j];
        }
    }
    return L;
}

std::vector<double> Factor(const Structure& s, int workers, int64_t& result)
{
    CSupernodalFactor f;
    const int64_t count = static_cast<int64_t>(s.super.size()) - 1;
    EXPECT_TRUE(f.Build(s.order, count, s.super.data(), s.rowStart.data(), s.rows.data(), s.valueStart.data()));
    std::vector<double> Lx(static_cast<size_t>(s.valueStart.back()), -7.0); // stale values must not survive
    result = f.Factorize(s.Ap.data(), s.Ai.data(), s.Ax.data(), Lx.data(), workers);
    return Lx;
}

struct Case {
    const char* name;
    std::vector<int> widths, parent;
    int extra;
};

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    cases.push_back({"one dense supernode, cut into tiles", {520}, {-1}, 0});
    cases.push_back({"two subtrees below a separator", {40, 280, 60, 270, 300}, {1, 4, 3, 4, -1}, 200});
    cases.push_back({"chain of supernodes", {150, 140, 130, 200}, {1, 2, 3, -1}, 250});
    // A tree in postorder: each supernode adopts up to three of the latest
    // subtrees still without a parent; the last adopts all that are left.
    std::vector<int> widths, parent, open;
    std::mt19937 rng(5u);
    for (int t = 0; t < 60; ++t) {
        widths.push_back(1 + static_cast<int>(rng() % 24));
        parent.push_back(-1);
        for (int k = t + 1 < 60 ? static_cast<int>(rng() % 4) : 60; k > 0 && !open.empty(); --k) {
            parent[static_cast<size_t>(open.back())] = t;
            open.pop_back();
        }
        open.push_back(t);
    }
    cases.push_back({"random tree of small supernodes", widths, parent, 6});
    return cases;
}

TEST(BundleSupernodalFactor, EqualsTheDenseFactorForAnyWorkerCount)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const Structure s = MakeStructure(c.widths, c.parent, c.extra, 11u);
        const auto L = DenseCholesky(s);
        int64_t result = 0;
        const std::vector<double> one = Factor(s, 1, result);
        ASSERT_EQ(result, -1);
        for (size_t t = 0; t + 1 < s.super.size(); ++t) {
            const int64_t height = s.rowStart[t + 1] - s.rowStart[t];
            for (int64_t j = s.super[t]; j < s.super[t + 1]; ++j)
                for (int64_t q = j - s.super[t]; q < height; ++q) {
                    const size_t r = static_cast<size_t>(s.rows[static_cast<size_t>(s.rowStart[t] + q)]);
                    const double got = one[static_cast<size_t>(s.valueStart[t] + (j - s.super[t]) * height + q)];
                    const long double want = L[r][static_cast<size_t>(j)];
                    ASSERT_LE(std::fabs(got - want), 1e-13 * std::sqrt(s.dense[r][r])) << r << ", " << j;
                }
        }
        // Outside the structure the dense factor has no element, and the
        // number of stored elements is that of its lower triangle.
        size_t inside = 0, nonzero = 0;
        for (size_t t = 0; t + 1 < s.super.size(); ++t)
            for (int64_t j = s.super[t]; j < s.super[t + 1]; ++j)
                inside += static_cast<size_t>(s.rowStart[t + 1] - s.rowStart[t] - (j - s.super[t]));
        for (size_t r = 0; r < L.size(); ++r)
            for (size_t j = 0; j <= r; ++j)
                nonzero += L[r][j] != 0.0L ? 1 : 0;
        EXPECT_EQ(inside, nonzero);
        for (int workers : {2, 3, 8}) {
            const std::vector<double> many = Factor(s, workers, result);
            EXPECT_EQ(result, -1);
            EXPECT_EQ(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(double))) << workers << " workers";
        }
    }
}

TEST(BundleSupernodalFactor, ReportsAPivotThatIsNotPositive)
{
    // The separator's diagonal element at `column` made negative: the
    // factorisation stops at or before it, in its supernode, for any number
    // of workers; a leaf's turns the failure to that leaf.
    const struct {
        int64_t column;
        int64_t first, end; // the supernode's columns
    } cases[] = {{800, 650, 950}, {660, 650, 950}, {500, 380, 650}, {350, 320, 380}, {5, 0, 40}};
    for (const auto& one : cases) {
        SCOPED_TRACE(one.column);
        Structure s = MakeStructure({40, 280, 60, 270, 300}, {1, 4, 3, 4, -1}, 200, 11u);
        for (int64_t p = s.Ap[static_cast<size_t>(one.column)]; p < s.Ap[static_cast<size_t>(one.column) + 1]; ++p)
            if (s.Ai[static_cast<size_t>(p)] == one.column)
                s.Ax[static_cast<size_t>(p)] = -1.0;
        for (int workers : {1, 2, 8}) {
            int64_t result = -1;
            Factor(s, workers, result);
            EXPECT_GE(result, one.first) << workers << " workers";
            EXPECT_LE(result, one.column) << workers << " workers";
        }
    }
}

} // namespace bundle_supernodal_factor_test
