#include "SparseNormals.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include <suitesparse/cholmod.h>

#include "Matrix.h"
#include "Vector.h"

static_assert(sizeof(SuiteSparse_long) == sizeof(int64_t), "CHOLMOD's long is 64 bits");

namespace {

// The pivot test of the root-free factorisation.
constexpr double kTinyPivot = 1e-100;

// The library's own OpenMP loops (copies between its work areas) would run
// on threads of its runtime that spin between regions beside the engine's
// workers: every parallel region of the process runs on one thread. The
// runtime comes with the library, so it is found at run time.
void KeepLibraryOnOneThread()
{
    static std::once_flag once;
    std::call_once(once, [] {
        using SetLevels = void (*)(int);
        if (void* f = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
            reinterpret_cast<SetLevels>(f)(0);
    });
}

} // namespace

struct CSparseNormals::Library {
    cholmod_common common;
    cholmod_factor* factor = nullptr;
    bool started = false;

    Library()
    {
        KeepLibraryOnOneThread();
        started = cholmod_l_start(&common) != 0;
        common.print = 0;
        common.error_handler = nullptr;
        common.supernodal = CHOLMOD_SUPERNODAL;
        // One ordering, always the same: the same factor on every run.
        common.nmethods = 1;
        common.method[0].ordering = CHOLMOD_AMD;
        common.postorder = 1;
        common.final_ll = 1;
    }
    ~Library()
    {
        if (factor != nullptr)
            cholmod_l_free_factor(&factor, &common);
        if (started)
            cholmod_l_finish(&common);
    }
};

CSparseNormals::CSparseNormals() : lib(new Library) {}

CSparseNormals::~CSparseNormals() = default;

bool CSparseNormals::Build(const std::vector<int>& sizes, std::vector<std::pair<int32_t, int32_t>>& links)
{
    try {
        const int nodes = static_cast<int>(sizes.size());
        nodeSize = sizes;
        nodeStart.assign(static_cast<size_t>(nodes) + 1, 0);
        for (int a = 0; a < nodes; ++a)
            nodeStart[static_cast<size_t>(a) + 1] = nodeStart[static_cast<size_t>(a)] + sizes[static_cast<size_t>(a)];
        order = nodeStart.back();
        rowNode.resize(static_cast<size_t>(order));
        for (int a = 0; a < nodes; ++a)
            for (int r = nodeStart[static_cast<size_t>(a)]; r < nodeStart[static_cast<size_t>(a) + 1]; ++r)
                rowNode[static_cast<size_t>(r)] = a;

        for (auto& link : links)
            if (link.first > link.second)
                std::swap(link.first, link.second);
        std::sort(links.begin(), links.end());
        links.erase(std::unique(links.begin(), links.end()), links.end());

        adjacencyStart.assign(static_cast<size_t>(nodes) + 1, 0);
        lowerStart.assign(static_cast<size_t>(nodes) + 1, 0);
        for (const auto& link : links) {
            if (link.first == link.second || link.first < 0 || link.second >= nodes)
                continue;
            ++adjacencyStart[static_cast<size_t>(link.first) + 1];
            ++lowerStart[static_cast<size_t>(link.second) + 1];
        }
        for (int a = 0; a < nodes; ++a) {
            adjacencyStart[static_cast<size_t>(a) + 1] += adjacencyStart[static_cast<size_t>(a)];
            lowerStart[static_cast<size_t>(a) + 1] += lowerStart[static_cast<size_t>(a)];
        }
        adjacency.assign(static_cast<size_t>(adjacencyStart.back()), 0);
        adjacencyOffset.assign(adjacency.size(), 0);
        lower.assign(static_cast<size_t>(lowerStart.back()), 0);
        {
            std::vector<int64_t> fill(adjacencyStart.begin(), adjacencyStart.end() - 1);
            std::vector<int64_t> fillLower(lowerStart.begin(), lowerStart.end() - 1);
            // Links are sorted, so each node's neighbours come out ascending.
            for (const auto& link : links) {
                if (link.first == link.second || link.first < 0 || link.second >= nodes)
                    continue;
                adjacency[static_cast<size_t>(fill[static_cast<size_t>(link.first)]++)] = link.second;
                lower[static_cast<size_t>(fillLower[static_cast<size_t>(link.second)]++)] = link.first;
            }
        }
        std::vector<int> others(static_cast<size_t>(nodes), 0); // columns of a row beyond its own node
        for (int a = 0; a < nodes; ++a) {
            int offset = 0;
            for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
                adjacencyOffset[static_cast<size_t>(t)] = offset;
                offset += sizes[static_cast<size_t>(adjacency[static_cast<size_t>(t)])];
            }
            others[static_cast<size_t>(a)] = offset;
        }

        rowStart.assign(static_cast<size_t>(order) + 1, 0);
        for (int r = 0; r < order; ++r) {
            const int a = rowNode[static_cast<size_t>(r)];
            const int own = nodeStart[static_cast<size_t>(a) + 1] - r;
            rowStart[static_cast<size_t>(r) + 1] = rowStart[static_cast<size_t>(r)] + own + others[static_cast<size_t>(a)];
        }
        columnIndex.resize(static_cast<size_t>(rowStart.back()));
        for (int r = 0; r < order; ++r) {
            const int a = rowNode[static_cast<size_t>(r)];
            int64_t e = rowStart[static_cast<size_t>(r)];
            for (int c = r; c < nodeStart[static_cast<size_t>(a) + 1]; ++c)
                columnIndex[static_cast<size_t>(e++)] = c;
            for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
                const int b = adjacency[static_cast<size_t>(t)];
                for (int c = nodeStart[static_cast<size_t>(b)]; c < nodeStart[static_cast<size_t>(b) + 1]; ++c)
                    columnIndex[static_cast<size_t>(e++)] = c;
            }
        }
        values.assign(columnIndex.size(), 0.0);
        rhs.assign(static_cast<size_t>(order), 0.0);
        squareSum = 0.0;
    } catch (const std::bad_alloc&) {
        return false;
    }
    factored = false;
    return true;
}

double* CSparseNormals::Entry(int r, int c)
{
    if (r > c)
        std::swap(r, c);
    if (r < 0 || c >= order)
        return nullptr;
    const int a = rowNode[static_cast<size_t>(r)];
    const int b = rowNode[static_cast<size_t>(c)];
    const int64_t base = rowStart[static_cast<size_t>(r)];
    if (a == b)
        return &values[static_cast<size_t>(base + (c - r))];
    const auto first = adjacency.begin() + adjacencyStart[static_cast<size_t>(a)];
    const auto last = adjacency.begin() + adjacencyStart[static_cast<size_t>(a) + 1];
    const auto found = std::lower_bound(first, last, b);
    if (found == last || *found != b)
        return nullptr;
    const int own = nodeStart[static_cast<size_t>(a) + 1] - r;
    const int64_t offset = adjacencyOffset[static_cast<size_t>(found - adjacency.begin())];
    return &values[static_cast<size_t>(base + own + offset + (c - nodeStart[static_cast<size_t>(b)]))];
}

void CSparseNormals::Zero()
{
    std::fill(values.begin(), values.end(), 0.0);
    std::fill(rhs.begin(), rhs.end(), 0.0);
    squareSum = 0.0;
    factored = false;
}

void CSparseNormals::Hold(int index)
{
    if (index < 0 || index >= order)
        return;
    const int a = rowNode[static_cast<size_t>(index)];
    for (int64_t e = rowStart[static_cast<size_t>(index)]; e < rowStart[static_cast<size_t>(index) + 1]; ++e)
        values[static_cast<size_t>(e)] = 0.0;
    values[static_cast<size_t>(rowStart[static_cast<size_t>(index)])] = 1.0;
    rhs[static_cast<size_t>(index)] = 0.0;
    for (int k = nodeStart[static_cast<size_t>(a)]; k < index; ++k)
        *Entry(k, index) = 0.0;
    for (int64_t t = lowerStart[static_cast<size_t>(a)]; t < lowerStart[static_cast<size_t>(a) + 1]; ++t) {
        const int b = lower[static_cast<size_t>(t)];
        for (int k = nodeStart[static_cast<size_t>(b)]; k < nodeStart[static_cast<size_t>(b) + 1]; ++k)
            *Entry(k, index) = 0.0;
    }
}

namespace {

// The stored upper triangle, row by row, is the lower triangle column by
// column: the form the library takes, without a copy.
cholmod_sparse View(int order, std::vector<int64_t>& start, std::vector<int64_t>& index, std::vector<double>& values)
{
    cholmod_sparse A;
    std::memset(&A, 0, sizeof A);
    A.nrow = static_cast<size_t>(order);
    A.ncol = static_cast<size_t>(order);
    A.nzmax = values.size();
    A.p = start.data();
    A.i = index.data();
    A.x = values.data();
    A.stype = -1;
    A.itype = CHOLMOD_LONG;
    A.xtype = CHOLMOD_REAL;
    A.dtype = CHOLMOD_DOUBLE;
    A.sorted = 1;
    A.packed = 1;
    return A;
}

} // namespace

bool CSparseNormals::Analyse()
{
    if (!lib->started || order < 1)
        return false;
    if (lib->factor != nullptr)
        cholmod_l_free_factor(&lib->factor, &lib->common);
    cholmod_common& c = lib->common;
    // The fill-reducing order of the blocks, each block's unknowns kept
    // together in their order: a block of the inverse is then found by one
    // search.
    const int nodes = static_cast<int>(nodeSize.size());
    std::vector<int64_t> nodeColumn(static_cast<size_t>(nodes) + 1, 0), nodeRow;
    try {
        for (int a = 0; a < nodes; ++a) {
            nodeRow.push_back(a);
            for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t)
                nodeRow.push_back(adjacency[static_cast<size_t>(t)]);
            nodeColumn[static_cast<size_t>(a) + 1] = static_cast<int64_t>(nodeRow.size());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<double> ones(nodeRow.size(), 1.0);
    cholmod_sparse B = View(nodes, nodeColumn, nodeRow, ones);
    std::vector<int64_t> nodeOrder(static_cast<size_t>(nodes));
    std::vector<int64_t> unknownOrder;
    if (nodes > 0 && cholmod_l_amd(&B, nullptr, 0, nodeOrder.data(), &c)) {
        for (int64_t a : nodeOrder)
            for (int r = nodeStart[static_cast<size_t>(a)]; r < nodeStart[static_cast<size_t>(a) + 1]; ++r)
                unknownOrder.push_back(r);
    }
    cholmod_sparse A = View(order, rowStart, columnIndex, values);
    if (static_cast<int>(unknownOrder.size()) == order) {
        c.method[0].ordering = CHOLMOD_GIVEN;
        lib->factor = cholmod_l_analyze_p(&A, unknownOrder.data(), nullptr, 0, &c);
        c.method[0].ordering = CHOLMOD_AMD;
    } else {
        lib->factor = cholmod_l_analyze(&A, &c);
    }
    if (lib->factor == nullptr || c.status < 0)
        return false;
    factorEntries = lib->common.lnz;
    factorFlops = lib->common.fl;
    const SuiteSparse_long* perm = static_cast<const SuiteSparse_long*>(lib->factor->Perm);
    position.assign(static_cast<size_t>(order), 0);
    for (int k = 0; k < order; ++k)
        position[static_cast<size_t>(perm[k])] = k;
    contiguous = true;
    for (int r = 0; r + 1 < order && contiguous; ++r)
        if (rowNode[static_cast<size_t>(r)] == rowNode[static_cast<size_t>(r) + 1])
            contiguous = position[static_cast<size_t>(r) + 1] == position[static_cast<size_t>(r)] + 1;
    return true;
}

bool CSparseNormals::Factorize()
{
    factored = false;
    inverseValue.clear();
    if (lib->factor == nullptr && !Analyse())
        return false;
    try {
        scale.resize(static_cast<size_t>(order));
        for (int r = 0; r < order; ++r) {
            const double d = Diagonal(r);
            if (!(d > 0.0) || !std::isfinite(d))
                return false;
            scale[static_cast<size_t>(r)] = 1.0 / std::sqrt(d);
        }
        for (int r = 0; r < order; ++r) {
            const double sr = scale[static_cast<size_t>(r)];
            for (int64_t e = rowStart[static_cast<size_t>(r)]; e < rowStart[static_cast<size_t>(r) + 1]; ++e)
                values[static_cast<size_t>(e)] *= sr * scale[static_cast<size_t>(columnIndex[static_cast<size_t>(e)])];
        }
        cholmod_common& c = lib->common;
        cholmod_sparse A = View(order, rowStart, columnIndex, values);
        if (!cholmod_l_factorize(&A, lib->factor, &c) || c.status != CHOLMOD_OK)
            return false;

        // Pivots of the unscaled system: the root-free form's d = l^2 / s^2.
        const cholmod_factor& L = *lib->factor;
        const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
        const SuiteSparse_long* pi = static_cast<const SuiteSparse_long*>(L.pi);
        const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
        const SuiteSparse_long* perm = static_cast<const SuiteSparse_long*>(L.Perm);
        const double* x = static_cast<const double*>(L.x);
        pivots.assign(static_cast<size_t>(order) + 1, 0.0);
        for (size_t s = 0; s < L.nsuper; ++s) {
            const SuiteSparse_long rows = pi[s + 1] - pi[s];
            for (SuiteSparse_long j = super[s]; j < super[s + 1]; ++j) {
                const SuiteSparse_long local = j - super[s];
                const double l = x[px[s] + local * rows + local];
                const double sj = scale[static_cast<size_t>(perm[j])];
                const double d = l * l / (sj * sj);
                pivots[static_cast<size_t>(j)] = d;
                if (!(std::fabs(d) >= kTinyPivot))
                    return false;
            }
        }

        // The reduced right-hand side z = L^-1 P S b, and the last pivot
        // c - z'z.
        cholmod_dense* b = cholmod_l_allocate_dense(static_cast<size_t>(order), 1, static_cast<size_t>(order),
                                                    CHOLMOD_REAL, &c);
        if (b == nullptr)
            return false;
        double* bx = static_cast<double*>(b->x);
        for (int r = 0; r < order; ++r)
            bx[r] = rhs[static_cast<size_t>(r)] * scale[static_cast<size_t>(r)];
        cholmod_dense* pb = cholmod_l_solve(CHOLMOD_P, lib->factor, b, &c);
        cholmod_l_free_dense(&b, &c);
        if (pb == nullptr)
            return false;
        cholmod_dense* z = cholmod_l_solve(CHOLMOD_L, lib->factor, pb, &c);
        cholmod_l_free_dense(&pb, &c);
        if (z == nullptr)
            return false;
        const double* zx = static_cast<const double*>(z->x);
        reduced.assign(zx, zx + order);
        cholmod_l_free_dense(&z, &c);
        double last = squareSum;
        for (double v : reduced)
            last -= v * v;
        pivots[static_cast<size_t>(order)] = last;
        if (!(std::fabs(last) >= kTinyPivot))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    factored = true;
    return true;
}

bool CSparseNormals::Solve(CVector& x) const
{
    if (!factored)
        return false;
    cholmod_common& c = lib->common;
    cholmod_dense* z = cholmod_l_allocate_dense(static_cast<size_t>(order), 1, static_cast<size_t>(order),
                                                CHOLMOD_REAL, &c);
    if (z == nullptr)
        return false;
    std::copy(reduced.begin(), reduced.end(), static_cast<double*>(z->x));
    cholmod_dense* y = cholmod_l_solve(CHOLMOD_Lt, lib->factor, z, &c);
    cholmod_l_free_dense(&z, &c);
    if (y == nullptr)
        return false;
    cholmod_dense* u = cholmod_l_solve(CHOLMOD_Pt, lib->factor, y, &c);
    cholmod_l_free_dense(&y, &c);
    if (u == nullptr)
        return false;
    if (x.GetSize() < order && !x.Resize(order)) {
        cholmod_l_free_dense(&u, &c);
        return false;
    }
    const double* ux = static_cast<const double*>(u->x);
    bool finite = true;
    for (int r = 0; r < order; ++r) {
        x[r] = ux[r] * scale[static_cast<size_t>(r)];
        finite = finite && std::isfinite(x[r]);
    }
    cholmod_l_free_dense(&u, &c);
    return finite;
}

// Z = A^-1 on the pattern of L (A = L L', scaled and permuted), from the last
// column back: Z(i, j) = -(1 / l_jj) sum_k Z(i, k) l_kj over the rows k of
// column j, Z(j, j) = 1 / l_jj^2 - (1 / l_jj) sum_k l_kj Z(k, j). The rows of
// column j below its diagonal are a clique of the factor's pattern, so every
// Z(i, k) needed is formed already.
bool CSparseNormals::InvertOnPattern()
{
    inverseValue.clear();
    if (!factored)
        return false;
    cholmod_common& c = lib->common;
    cholmod_factor* F = cholmod_l_copy_factor(lib->factor, &c);
    if (F == nullptr)
        return false;
    if (!cholmod_l_change_factor(CHOLMOD_REAL, 1, 0, 1, 1, F, &c)) {
        cholmod_l_free_factor(&F, &c);
        return false;
    }
    bool ok = true;
    try {
        const SuiteSparse_long* Lp = static_cast<const SuiteSparse_long*>(F->p);
        const SuiteSparse_long* Li = static_cast<const SuiteSparse_long*>(F->i);
        const double* Lx = static_cast<const double*>(F->x);
        const size_t n = static_cast<size_t>(order);
        inverseStart.assign(Lp, Lp + n + 1);
        inverseRow.assign(Li, Li + Lp[n]);
        std::vector<double> l(Lx, Lx + Lp[n]);
        // Rows below the diagonal ascending in every column.
        for (size_t j = 0; j < n; ++j) {
            const int64_t p0 = inverseStart[j] + 1, p1 = inverseStart[j + 1];
            bool sorted = true;
            for (int64_t e = p0 + 1; e < p1 && sorted; ++e)
                sorted = inverseRow[static_cast<size_t>(e - 1)] < inverseRow[static_cast<size_t>(e)];
            if (sorted)
                continue;
            std::vector<std::pair<int64_t, double>> column;
            for (int64_t e = p0; e < p1; ++e)
                column.emplace_back(inverseRow[static_cast<size_t>(e)], l[static_cast<size_t>(e)]);
            std::sort(column.begin(), column.end());
            for (int64_t e = p0; e < p1; ++e) {
                inverseRow[static_cast<size_t>(e)] = column[static_cast<size_t>(e - p0)].first;
                l[static_cast<size_t>(e)] = column[static_cast<size_t>(e - p0)].second;
            }
        }
        inverseValue.assign(l.size(), 0.0);
        std::vector<double> y;
        for (size_t jj = n; jj-- > 0;) {
            const int64_t p0 = inverseStart[jj];
            const int64_t m = inverseStart[jj + 1] - p0 - 1;
            const double ljj = l[static_cast<size_t>(p0)];
            const int64_t* rows = &inverseRow[static_cast<size_t>(p0) + 1];
            const double* lj = &l[static_cast<size_t>(p0) + 1];
            y.assign(static_cast<size_t>(m), 0.0);
            for (int64_t q = 0; q < m; ++q) {
                const int64_t col = rows[q];
                int64_t t = q;
                for (int64_t e = inverseStart[static_cast<size_t>(col)]; e < inverseStart[static_cast<size_t>(col) + 1] && t < m;
                     ++e) {
                    const int64_t r = inverseRow[static_cast<size_t>(e)];
                    while (t < m && rows[t] < r)
                        ++t;
                    if (t == m || rows[t] != r)
                        continue;
                    const double z = inverseValue[static_cast<size_t>(e)];
                    y[static_cast<size_t>(t)] += lj[q] * z;
                    if (t != q)
                        y[static_cast<size_t>(q)] += lj[t] * z;
                    ++t;
                }
            }
            double s = 0.0;
            for (int64_t p = 0; p < m; ++p) {
                const double z = -y[static_cast<size_t>(p)] / ljj;
                inverseValue[static_cast<size_t>(p0 + 1 + p)] = z;
                s += lj[p] * z;
            }
            const double zjj = 1.0 / (ljj * ljj) - s / ljj;
            inverseValue[static_cast<size_t>(p0)] = zjj;
            if (!std::isfinite(zjj)) {
                ok = false;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    cholmod_l_free_factor(&F, &c);
    if (!ok)
        inverseValue.clear();
    return ok;
}

bool CSparseNormals::InverseAt(int i, int j, double& out) const
{
    out = 0.0;
    if (inverseValue.empty() || i < 0 || j < 0 || i >= order || j >= order)
        return false;
    int64_t a = position[static_cast<size_t>(i)], b = position[static_cast<size_t>(j)];
    if (a < b)
        std::swap(a, b);
    const int64_t p0 = inverseStart[static_cast<size_t>(b)];
    int64_t e = p0;
    if (a != b) {
        const auto first = inverseRow.begin() + p0 + 1;
        const auto last = inverseRow.begin() + inverseStart[static_cast<size_t>(b) + 1];
        const auto found = std::lower_bound(first, last, a);
        if (found == last || *found != a)
            return false;
        e = found - inverseRow.begin();
    }
    out = inverseValue[static_cast<size_t>(e)] * scale[static_cast<size_t>(i)] * scale[static_cast<size_t>(j)];
    return true;
}

bool CSparseNormals::InvertWhole(CMatrix& out) const
{
    if (!factored)
        return false;
    if (!out.Resize(order, -1) || out.GetRows() != order)
        return false;
    cholmod_common& c = lib->common;
    const int width = 64;
    for (int j0 = 0; j0 < order; j0 += width) {
        const int w = std::min(width, order - j0);
        cholmod_dense* b = cholmod_l_zeros(static_cast<size_t>(order), static_cast<size_t>(w), CHOLMOD_REAL, &c);
        if (b == nullptr)
            return false;
        double* bx = static_cast<double*>(b->x);
        for (int k = 0; k < w; ++k)
            bx[static_cast<size_t>(k) * static_cast<size_t>(order) + static_cast<size_t>(j0 + k)] =
                scale[static_cast<size_t>(j0 + k)];
        cholmod_dense* x = cholmod_l_solve(CHOLMOD_A, lib->factor, b, &c);
        cholmod_l_free_dense(&b, &c);
        if (x == nullptr)
            return false;
        const double* xx = static_cast<const double*>(x->x);
        for (int k = 0; k < w; ++k) {
            const int j = j0 + k;
            const double* column = xx + static_cast<size_t>(k) * static_cast<size_t>(order);
            for (int i = 0; i <= j; ++i)
                out.SetAt(column[i] * scale[static_cast<size_t>(i)], i, j);
        }
        cholmod_l_free_dense(&x, &c);
    }
    return true;
}

bool CSparseNormals::InverseBlock(int nodeI, int nodeJ, double* out) const
{
    const int si = nodeSize[static_cast<size_t>(nodeI)], sj = nodeSize[static_cast<size_t>(nodeJ)];
    const int i0 = nodeStart[static_cast<size_t>(nodeI)], j0 = nodeStart[static_cast<size_t>(nodeJ)];
    if (!contiguous) {
        for (int u = 0; u < si; ++u)
            for (int t = 0; t < sj; ++t)
                if (!InverseAt(i0 + u, j0 + t, out[u * sj + t]))
                    return false;
        return true;
    }
    if (inverseValue.empty())
        return false;
    const int64_t pi = position[static_cast<size_t>(i0)], pj = position[static_cast<size_t>(j0)];
    if (nodeI == nodeJ) {
        // Column pi + t holds rows pi + t, pi + t + 1, ... first.
        for (int t = 0; t < sj; ++t)
            for (int u = t; u < si; ++u) {
                const double z = inverseValue[static_cast<size_t>(inverseStart[static_cast<size_t>(pi + t)] + (u - t))] *
                                 scale[static_cast<size_t>(i0 + u)] * scale[static_cast<size_t>(j0 + t)];
                out[u * sj + t] = z;
                out[t * sj + u] = z;
            }
        return true;
    }
    // Z(late + u, early + t): in column early + t, whose rows are those of
    // column early without its first t.
    const bool iLate = pi > pj;
    const int64_t late = iLate ? pi : pj, early = iLate ? pj : pi;
    const int lateSize = iLate ? si : sj, earlySize = iLate ? sj : si;
    const auto first = inverseRow.begin() + inverseStart[static_cast<size_t>(early)];
    const auto last = inverseRow.begin() + inverseStart[static_cast<size_t>(early) + 1];
    const auto found = std::lower_bound(first, last, late);
    if (found == last || *found != late || (last - found) < lateSize)
        return false;
    const int64_t offset = found - first;
    for (int t = 0; t < earlySize; ++t) {
        const double* z = &inverseValue[static_cast<size_t>(inverseStart[static_cast<size_t>(early + t)] + offset - t)];
        for (int u = 0; u < lateSize; ++u) {
            const int iu = iLate ? u : t, jt = iLate ? t : u;
            out[iu * sj + jt] = z[u] * scale[static_cast<size_t>(i0 + iu)] * scale[static_cast<size_t>(j0 + jt)];
        }
    }
    return true;
}
