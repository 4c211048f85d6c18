#include "SparseNormals.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include <suitesparse/cholmod.h>

#include "BlasRoutines.h"
#include "Matrix.h"
#include "Vector.h"
#include "Workers.h"

static_assert(sizeof(SuiteSparse_long) == sizeof(int64_t), "CHOLMOD's long is 64 bits");

namespace {

// The pivot test of the root-free factorisation.
constexpr double kTinyPivot = 1e-100;

} // namespace

namespace {
namespace blas {

inline void Gemm(char ta, char tb, int64_t m, int64_t n, int64_t k, double alpha, const double* a, int64_t lda,
                 const double* b, int64_t ldb, double beta, double* c, int64_t ldc)
{
    const int M = static_cast<int>(m), N = static_cast<int>(n), K = static_cast<int>(k);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb), LC = static_cast<int>(ldc);
    dgemm_(&ta, &tb, &M, &N, &K, &alpha, a, &LA, b, &LB, &beta, c, &LC, 1, 1);
}

inline void Trsm(char side, char uplo, char ta, char diag, int64_t m, int64_t n, double alpha, const double* a,
                 int64_t lda, double* b, int64_t ldb)
{
    const int M = static_cast<int>(m), N = static_cast<int>(n);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb);
    dtrsm_(&side, &uplo, &ta, &diag, &M, &N, &alpha, a, &LA, b, &LB, 1, 1, 1, 1);
}

inline void Syrk(char uplo, char trans, int64_t n, int64_t k, double alpha, const double* a, int64_t lda,
                 double beta, double* c, int64_t ldc)
{
    const int N = static_cast<int>(n), K = static_cast<int>(k);
    const int LA = static_cast<int>(lda), LC = static_cast<int>(ldc);
    dsyrk_(&uplo, &trans, &N, &K, &alpha, a, &LA, &beta, c, &LC, 1, 1);
}

} // namespace blas

// The library's own OpenMP loops (copies between its work areas) would run
// on threads of its runtime that spin between regions beside the engine's
// workers: every parallel region of the process runs on one thread. The
// runtime comes with the library, so it is found at run time; so is the
// thread count of an optimised BLAS.
void KeepLibraryOnOneThread()
{
    static std::once_flag once;
    std::call_once(once, [] {
        using SetLevels = void (*)(int);
        if (void* f = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
            reinterpret_cast<SetLevels>(f)(0);
        // An optimised BLAS, where it serves the library, runs on the
        // calling thread too.
        using SetThreads = void (*)(int);
        if (void* f = dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))
            reinterpret_cast<SetThreads>(f)(1);
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
        // One ordering, always the same: the same factor on every run (the
        // blocks' order is chosen before, see OrderNodes).
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

// The fill-reducing order of the graph of the blocks: minimum degree or
// nested dissection, whichever makes the fewer operations on that graph (a
// choice that depends on the graph alone, so the same on every run).
bool OrderNodes(cholmod_sparse& B, std::vector<int64_t>& nodeOrder, cholmod_common& c)
{
    c.nmethods = 2;
    c.method[0].ordering = CHOLMOD_AMD;
    c.method[1].ordering = CHOLMOD_NESDIS;
    c.supernodal = CHOLMOD_SIMPLICIAL;
    cholmod_factor* F = cholmod_l_analyze(&B, &c);
    c.nmethods = 1;
    c.method[0].ordering = CHOLMOD_AMD;
    c.supernodal = CHOLMOD_SUPERNODAL;
    if (F != nullptr && c.status == CHOLMOD_OK) {
        const SuiteSparse_long* perm = static_cast<const SuiteSparse_long*>(F->Perm);
        std::copy(perm, perm + nodeOrder.size(), nodeOrder.begin());
        cholmod_l_free_factor(&F, &c);
        return true;
    }
    if (F != nullptr)
        cholmod_l_free_factor(&F, &c);
    return cholmod_l_amd(&B, nullptr, 0, nodeOrder.data(), &c) != 0;
}

} // namespace

bool CSparseNormals::Analyse()
{
    if (!lib->started || order < 1)
        return false;
    if (lib->factor != nullptr)
        cholmod_l_free_factor(&lib->factor, &lib->common);
    numericReady = 0;
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
    if (nodes > 0 && OrderNodes(B, nodeOrder, c)) {
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
    return BuildPermuted();
}

// The same where each node's unknowns follow each other in elimination
// order: a column's rows are its node's later unknowns, then the unknowns of
// each linked node eliminated later, in their order, so they come out
// sorted, node by node.
bool CSparseNormals::BuildPermutedByNodes()
{
    struct Later {
        int64_t rank; // elimination position of the node's first unknown
        int32_t node;
        bool upper;   // stored in this node's rows (else in the other's)
        int32_t offset;
    };
    try {
        const int nodes = static_cast<int>(nodeSize.size());
        const size_t n = static_cast<size_t>(order);
        std::vector<int64_t> rank(static_cast<size_t>(nodes));
        for (int a = 0; a < nodes; ++a)
            rank[static_cast<size_t>(a)] =
                nodeSize[static_cast<size_t>(a)] > 0 ? position[static_cast<size_t>(nodeStart[static_cast<size_t>(a)])] : -1;
        std::vector<int64_t> laterStart(static_cast<size_t>(nodes) + 1, 0);
        std::vector<Later> later;
        for (int a = 0; a < nodes; ++a) {
            const int64_t ra = rank[static_cast<size_t>(a)];
            const size_t first = later.size();
            for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
                const int32_t b = adjacency[static_cast<size_t>(t)];
                if (rank[static_cast<size_t>(b)] > ra)
                    later.push_back(Later{rank[static_cast<size_t>(b)], b, true, adjacencyOffset[static_cast<size_t>(t)]});
            }
            for (int64_t t = lowerStart[static_cast<size_t>(a)]; t < lowerStart[static_cast<size_t>(a) + 1]; ++t) {
                const int32_t b = lower[static_cast<size_t>(t)];
                if (rank[static_cast<size_t>(b)] <= ra)
                    continue;
                const auto begin = adjacency.begin() + adjacencyStart[static_cast<size_t>(b)];
                const auto end = adjacency.begin() + adjacencyStart[static_cast<size_t>(b) + 1];
                const auto found = std::lower_bound(begin, end, a);
                if (found == end || *found != a)
                    return false;
                later.push_back(Later{rank[static_cast<size_t>(b)], b, false,
                                      adjacencyOffset[static_cast<size_t>(found - adjacency.begin())]});
            }
            std::sort(later.begin() + static_cast<std::ptrdiff_t>(first), later.end(),
                      [](const Later& x, const Later& y) { return x.rank < y.rank; });
            laterStart[static_cast<size_t>(a) + 1] = static_cast<int64_t>(later.size());
        }
        permStart.assign(n + 1, 0);
        for (int a = 0; a < nodes; ++a) {
            int64_t columns = 0;
            for (int64_t e = laterStart[static_cast<size_t>(a)]; e < laterStart[static_cast<size_t>(a) + 1]; ++e)
                columns += nodeSize[static_cast<size_t>(later[static_cast<size_t>(e)].node)];
            const int size = nodeSize[static_cast<size_t>(a)];
            for (int i = 0; i < size; ++i)
                permStart[static_cast<size_t>(rank[static_cast<size_t>(a)] + i) + 1] = size - i + columns;
        }
        for (size_t j = 0; j < n; ++j)
            permStart[j + 1] += permStart[j];
        if (permStart[n] != static_cast<int64_t>(values.size()))
            return false;
        permRow.resize(values.size());
        permSource.resize(values.size());
        for (int a = 0; a < nodes; ++a) {
            const int size = nodeSize[static_cast<size_t>(a)];
            const int64_t ra = rank[static_cast<size_t>(a)];
            for (int i = 0; i < size; ++i) {
                const int u = nodeStart[static_cast<size_t>(a)] + i;
                const int64_t rowU = rowStart[static_cast<size_t>(u)];
                int64_t k = permStart[static_cast<size_t>(ra + i)];
                for (int j = i; j < size; ++j, ++k) {
                    permRow[static_cast<size_t>(k)] = ra + j;
                    permSource[static_cast<size_t>(k)] = rowU + (j - i);
                }
                const int64_t beyondU = rowU + (size - i);
                for (int64_t e = laterStart[static_cast<size_t>(a)]; e < laterStart[static_cast<size_t>(a) + 1]; ++e) {
                    const Later& l = later[static_cast<size_t>(e)];
                    const int first = nodeStart[static_cast<size_t>(l.node)];
                    const int sizeB = nodeSize[static_cast<size_t>(l.node)];
                    for (int j = 0; j < sizeB; ++j, ++k) {
                        permRow[static_cast<size_t>(k)] = l.rank + j;
                        permSource[static_cast<size_t>(k)] =
                            l.upper ? beyondU + l.offset + j
                                    : rowStart[static_cast<size_t>(first + j)] + (sizeB - j) + l.offset + i;
                    }
                }
            }
        }
        permScale.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The lower triangle of the system in elimination order, column by column,
// rows ascending: the numeric factorisation reads it as it stands, where it
// would otherwise transpose the system twice on every call.
bool CSparseNormals::BuildPermuted()
{
    if (contiguous && BuildPermutedByNodes())
        return true;
    try {
        const size_t n = static_cast<size_t>(order);
        permStart.assign(n + 1, 0);
        for (int r = 0; r < order; ++r) {
            const int64_t pr = position[static_cast<size_t>(r)];
            for (int64_t e = rowStart[static_cast<size_t>(r)]; e < rowStart[static_cast<size_t>(r) + 1]; ++e)
                ++permStart[static_cast<size_t>(std::min(pr, position[static_cast<size_t>(columnIndex[static_cast<size_t>(e)])])) + 1];
        }
        for (size_t j = 0; j < n; ++j)
            permStart[j + 1] += permStart[j];
        permRow.resize(values.size());
        permSource.resize(values.size());
        std::vector<int64_t> fill(permStart.begin(), permStart.end() - 1);
        for (int r = 0; r < order; ++r) {
            const int64_t pr = position[static_cast<size_t>(r)];
            for (int64_t e = rowStart[static_cast<size_t>(r)]; e < rowStart[static_cast<size_t>(r) + 1]; ++e) {
                const int64_t pc = position[static_cast<size_t>(columnIndex[static_cast<size_t>(e)])];
                const int64_t k = fill[static_cast<size_t>(std::min(pr, pc))]++;
                permRow[static_cast<size_t>(k)] = std::max(pr, pc);
                permSource[static_cast<size_t>(k)] = e;
            }
        }
        std::vector<std::pair<int64_t, int64_t>> column;
        for (size_t j = 0; j < n; ++j) {
            const int64_t first = permStart[j], end = permStart[j + 1];
            bool sorted = true;
            for (int64_t k = first + 1; k < end && sorted; ++k)
                sorted = permRow[static_cast<size_t>(k - 1)] < permRow[static_cast<size_t>(k)];
            if (sorted)
                continue;
            column.clear();
            for (int64_t k = first; k < end; ++k)
                column.emplace_back(permRow[static_cast<size_t>(k)], permSource[static_cast<size_t>(k)]);
            std::sort(column.begin(), column.end());
            for (int64_t k = first; k < end; ++k) {
                permRow[static_cast<size_t>(k)] = column[static_cast<size_t>(k - first)].first;
                permSource[static_cast<size_t>(k)] = column[static_cast<size_t>(k - first)].second;
            }
        }
        permScale.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        permStart.clear();
        permRow.clear();
        permSource.clear();
        return false;
    }
    return true;
}

void CSparseNormals::CopyToPacked(double* const* T) const
{
    for (int r = 0; r < order; ++r) {
        double* row = T[r];
        std::fill(row, row + (order - r), 0.0);
        for (int64_t e = rowStart[static_cast<size_t>(r)]; e < rowStart[static_cast<size_t>(r) + 1]; ++e)
            row[columnIndex[static_cast<size_t>(e)] - r] = values[static_cast<size_t>(e)];
        row[order - r] = rhs[static_cast<size_t>(r)];
    }
    T[order][0] = squareSum;
}

bool CSparseNormals::Factorize(int workers)
{
    factored = false;
    notPositive = false;
    inverseValue.clear();
    if (lib->factor == nullptr && !Analyse())
        return false;
    if (permStart.size() != static_cast<size_t>(order) + 1)
        return false;
    try {
        scale.resize(static_cast<size_t>(order));
        for (int r = 0; r < order; ++r) {
            const double d = Diagonal(r);
            if (!(d > 0.0) || !std::isfinite(d))
                return false;
            scale[static_cast<size_t>(r)] = 1.0 / std::sqrt(d);
        }
        // The scaling in elimination order: the factorisation scales each
        // element as it places it.
        const cholmod_factor& L = *lib->factor;
        const SuiteSparse_long* perm = static_cast<const SuiteSparse_long*>(L.Perm);
        for (int k = 0; k < order; ++k)
            permScale[static_cast<size_t>(k)] = scale[static_cast<size_t>(perm[k])];
        cholmod_common& c = lib->common;
        if (L.xtype == CHOLMOD_PATTERN && !cholmod_l_change_factor(CHOLMOD_REAL, 1, 1, 1, 1, lib->factor, &c))
            return false;
        if (numericReady == 0) {
            // The factor's structure, for the numeric phase on the workers;
            // where it cannot be had, the library's own.
            static_assert(sizeof(SuiteSparse_long) == sizeof(int64_t), "");
            numericReady =
                L.is_super && L.xtype == CHOLMOD_REAL &&
                        numeric.Build(order, static_cast<int64_t>(L.nsuper), static_cast<const int64_t*>(L.super),
                                      static_cast<const int64_t*>(L.pi), static_cast<const int64_t*>(L.s),
                                      static_cast<const int64_t*>(L.px))
                    ? 1
                    : -1;
        }
        const int64_t failed =
            numericReady > 0 ? numeric.Factorize(permStart.data(), permRow.data(), permSource.data(), values.data(),
                                                 permScale.data(), static_cast<double*>(L.x), workers)
                             : -2;
        if (failed >= 0) {
            notPositive = true;
            return false;
        }
        if (failed == -2) {
            // Where the workers' factorisation cannot run (memory, no
            // LAPACK), the library's own numeric phase takes the scaled
            // system as it reads it: the lower triangle in elimination
            // order, column by column.
            std::vector<double> scaled(values.size());
            for (int j = 0; j < order; ++j) {
                const double sj = permScale[static_cast<size_t>(j)];
                for (int64_t k = permStart[static_cast<size_t>(j)]; k < permStart[static_cast<size_t>(j) + 1]; ++k)
                    scaled[static_cast<size_t>(k)] = values[static_cast<size_t>(permSource[static_cast<size_t>(k)])] *
                                                     (permScale[static_cast<size_t>(permRow[static_cast<size_t>(k)])] * sj);
            }
            cholmod_sparse S = View(order, permStart, permRow, scaled);
            double beta[2] = {0.0, 0.0};
            c.status = CHOLMOD_OK;
            if (!cholmod_l_super_numeric(&S, nullptr, beta, lib->factor, &c) || c.status != CHOLMOD_OK) {
                notPositive = c.status == CHOLMOD_NOT_POSDEF;
                return false;
            }
        }

        // Pivots of the unscaled system: the root-free form's d = l^2 / s^2.
        const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
        const SuiteSparse_long* pi = static_cast<const SuiteSparse_long*>(L.pi);
        const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
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

// Z = A^-1 on the pattern of L (A = L L', scaled and permuted), supernode
// by supernode from the last: with S the supernode's columns and R the rows
// below them, Y = L_RS L_SS^-1, Z_RS = -Z_RR Y and
// Z_SS = (L_SS L_SS')^-1 - Y' Z_RS. The rows R are a clique of the factor's
// pattern, so Z_RR is formed already (in the supernodes of those rows).
// Z is kept in the factor's own layout.
bool CSparseNormals::InvertOnPattern(int workers)
{
    inverseValue.clear();
    if (!factored || lib->factor == nullptr || !lib->factor->is_super)
        return false;
    const cholmod_factor& L = *lib->factor;
    const size_t nsuper = L.nsuper;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* pi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    const double* lx = static_cast<const double*>(L.x);
    try {
        columnSuper.assign(static_cast<size_t>(order), 0);
        for (size_t t = 0; t < nsuper; ++t)
            for (SuiteSparse_long j = super[t]; j < super[t + 1]; ++j)
                columnSuper[static_cast<size_t>(j)] = static_cast<int64_t>(t);
        inverseValue.assign(L.xsize, 0.0);
    } catch (const std::bad_alloc&) {
        inverseValue.clear();
        return false;
    }
    // A supernode's work in parts whose calls depend only on its sizes (so
    // the result does not depend on how many workers share it): the rows of
    // Y and of Z_RS in chunks, the gathering of Z_RR, Z_SS's own term, then
    // Z_SS's correction.
    struct Work {
        std::vector<double> Y, Zrr, Zrs, Linv;
        std::vector<int64_t> pos;
    };
    constexpr int64_t kChunk = 128;
    struct Shape {
        int64_t nscol, nsrow, nR;
        const SuiteSparse_long* R;
        const double* Lx;
        double* Zx;
    };
    auto shape = [&](size_t si) {
        Shape h;
        h.nscol = super[si + 1] - super[si];
        h.nsrow = pi[si + 1] - pi[si];
        h.nR = h.nsrow - h.nscol;
        h.R = ls + pi[si] + h.nscol;
        h.Lx = lx + px[si];
        h.Zx = &inverseValue[static_cast<size_t>(px[si])];
        return h;
    };
    auto chunks = [&](const Shape& h) { return (h.nR + kChunk - 1) / kChunk; };
    auto prepare = [&](const Shape& h, Work& w) {
        const size_t nr = static_cast<size_t>(h.nR), nc = static_cast<size_t>(h.nscol);
        w.Y.resize(nr * nc);
        w.Zrr.resize(nr * nr);
        w.Linv.resize(nc * nc);
        w.Zrs.resize(nc * nc);
    };
    // Rows r0 .. r1 - 1 of Y = L_RS L_SS^-1 (column-major nR x nscol).
    auto rowsOfY = [&](const Shape& h, Work& w, int64_t r0, int64_t r1) {
        for (int64_t k = 0; k < h.nscol; ++k)
            std::copy(h.Lx + h.nscol + r0 + k * h.nsrow, h.Lx + h.nscol + r1 + k * h.nsrow,
                      w.Y.data() + static_cast<size_t>(r0 + k * h.nR));
        blas::Trsm('R', 'L', 'N', 'N', r1 - r0, h.nscol, 1.0, h.Lx, h.nsrow, w.Y.data() + r0, h.nR);
    };
    // Z_RR gathered from the supernodes of the rows R.
    auto gather = [&](const Shape& h, Work& w) -> bool {
        const int64_t nR = h.nR;
        const SuiteSparse_long* R = h.R;
        std::vector<double>& Zrr = w.Zrr;
        std::vector<int64_t>& pos = w.pos;
        for (int64_t j = 0; j < nR;) {
            const int64_t t = columnSuper[static_cast<size_t>(R[j])];
            int64_t j1 = j + 1;
            while (j1 < nR && R[j1] < super[t + 1])
                ++j1;
            const SuiteSparse_long* tr = ls + pi[t];
            const int64_t tn = pi[t + 1] - pi[t];
            const double* zt = &inverseValue[static_cast<size_t>(px[t])];
            pos.assign(static_cast<size_t>(nR - j), 0);
            int64_t idx = 0;
            for (int64_t i = j; i < nR; ++i) {
                while (idx < tn && tr[idx] < R[i])
                    ++idx;
                if (idx == tn || tr[idx] != R[i])
                    return false;
                pos[static_cast<size_t>(i - j)] = idx;
            }
            for (int64_t jj = j; jj < j1; ++jj) {
                const double* column = zt + (R[jj] - super[t]) * tn;
                for (int64_t i = jj; i < nR; ++i) {
                    const double z = column[pos[static_cast<size_t>(i - j)]];
                    Zrr[static_cast<size_t>(i + jj * nR)] = z;
                    Zrr[static_cast<size_t>(jj + i * nR)] = z;
                }
            }
            j = j1;
        }
        return true;
    };
    // Rows r0 .. r1 - 1 of Z_RS = -Z_RR Y, into the rows below the
    // supernode's own.
    auto rowsOfZ = [&](const Shape& h, Work& w, int64_t r0, int64_t r1) {
        blas::Gemm('N', 'N', r1 - r0, h.nscol, h.nR, -1.0, w.Zrr.data() + r0, h.nR, w.Y.data(), h.nR, 0.0,
                   h.Zx + h.nscol + r0, h.nsrow);
    };
    auto columnChunks = [&](const Shape& h) { return (h.nscol + kChunk - 1) / kChunk; };
    // Columns c0 .. c1 - 1 of L_SS^-1 (lower; rows above c0 stay zero).
    auto columnsOfInverse = [&](const Shape& h, Work& w, int64_t c0, int64_t c1) {
        const int64_t nscol = h.nscol;
        for (int64_t k = c0; k < c1; ++k) {
            std::fill(w.Linv.begin() + k * nscol, w.Linv.begin() + (k + 1) * nscol, 0.0);
            w.Linv[static_cast<size_t>(k + k * nscol)] = 1.0;
        }
        blas::Trsm('L', 'L', 'N', 'N', nscol - c0, c1 - c0, 1.0, h.Lx + c0 + c0 * h.nsrow, h.nsrow,
                   w.Linv.data() + c0 + c0 * nscol, nscol);
    };
    // Columns c0 .. c1 - 1 of Z_SS = L^-T L^-1 (from row c0 down; the
    // elements above the diagonal are cleared after).
    auto columnsOfOwn = [&](const Shape& h, Work& w, int64_t c0, int64_t c1) {
        const int64_t nscol = h.nscol;
        const double* l = w.Linv.data() + c0 + c0 * nscol;
        blas::Gemm('T', 'N', nscol - c0, c1 - c0, nscol - c0, 1.0, l, nscol, l, nscol, 0.0, h.Zx + c0 + c0 * h.nsrow,
                   h.nsrow);
    };
    // Columns c0 .. c1 - 1 of Z_SS minus Y' Z_RS; the elements above the
    // diagonal back to zero.
    auto columnsOfCorrection = [&](const Shape& h, Work& w, int64_t c0, int64_t c1) -> bool {
        const int64_t nscol = h.nscol;
        if (h.nR > 0)
            blas::Gemm('T', 'N', nscol - c0, c1 - c0, h.nR, 1.0, w.Y.data() + c0 * h.nR, h.nR,
                       h.Zx + nscol + c0 * h.nsrow, h.nsrow, 0.0, w.Zrs.data() + c0 + c0 * nscol, nscol);
        bool finite = true;
        for (int64_t k = c0; k < c1; ++k) {
            double* z = h.Zx + k * h.nsrow;
            for (int64_t m = c0; m < k; ++m)
                z[m] = 0.0;
            if (h.nR > 0)
                for (int64_t m = k; m < nscol; ++m)
                    z[m] -= w.Zrs[static_cast<size_t>(m + k * nscol)];
            finite = finite && std::isfinite(z[k]);
        }
        return finite;
    };
    // One supernode on one worker, once those of its rows are done.
    auto invert = [&](size_t si, Work& w) -> bool {
        const Shape h = shape(si);
        prepare(h, w);
        const int64_t parts = chunks(h), columnParts = columnChunks(h);
        for (int64_t c = 0; c < parts; ++c)
            rowsOfY(h, w, c * kChunk, std::min(h.nR, (c + 1) * kChunk));
        if (!gather(h, w))
            return false;
        for (int64_t c = 0; c < columnParts; ++c)
            columnsOfInverse(h, w, c * kChunk, std::min(h.nscol, (c + 1) * kChunk));
        for (int64_t c = 0; c < parts; ++c)
            rowsOfZ(h, w, c * kChunk, std::min(h.nR, (c + 1) * kChunk));
        for (int64_t c = 0; c < columnParts; ++c)
            columnsOfOwn(h, w, c * kChunk, std::min(h.nscol, (c + 1) * kChunk));
        bool finite = true;
        for (int64_t c = 0; c < columnParts; ++c)
            finite = columnsOfCorrection(h, w, c * kChunk, std::min(h.nscol, (c + 1) * kChunk)) && finite;
        return finite;
    };
    // Supernodes of several chunks (rows below or own columns) are shared
    // by all workers where their level has fewer supernodes than workers.
    auto shared = [&](size_t si, int64_t levelCount) {
        const Shape h = shape(si);
        return workers > 1 && levelCount < workers && chunks(h) + columnChunks(h) >= 3;
    };

    // Supernodes by their depth in the tree of supernodes: those of one
    // depth need only their ancestors, and are formed in parallel.
    std::vector<int32_t> depth(nsuper, 0);
    int32_t deepest = 0;
    for (size_t si = nsuper; si-- > 0;) {
        const int64_t nscol = super[si + 1] - super[si];
        const int64_t nsrow = pi[si + 1] - pi[si];
        if (nsrow > nscol) {
            const int64_t parent = columnSuper[static_cast<size_t>(ls[pi[si] + nscol])];
            depth[si] = depth[static_cast<size_t>(parent)] + 1;
            deepest = std::max(deepest, depth[si]);
        }
    }
    std::vector<int64_t> levelStart(static_cast<size_t>(deepest) + 2, 0), levelNode(nsuper);
    for (size_t si = 0; si < nsuper; ++si)
        ++levelStart[static_cast<size_t>(depth[si]) + 1];
    for (size_t d = 0; d + 1 < levelStart.size(); ++d)
        levelStart[d + 1] += levelStart[d];
    {
        std::vector<int64_t> fill(levelStart.begin(), levelStart.end() - 1);
        for (size_t si = 0; si < nsuper; ++si)
            levelNode[static_cast<size_t>(fill[static_cast<size_t>(depth[si])]++)] = static_cast<int64_t>(si);
    }
    std::atomic<bool> ok{true};
    std::atomic<int64_t> next{0};
    Work common;
    RunOnWorkers(std::max(1, workers), [&](int worker, int, CWorkerBarrier& barrier) {
        Work w;
        auto sync = [&] {
            barrier.Wait();
            if (worker == 0)
                next = 0;
            barrier.Wait();
        };
        for (size_t d = 0; d + 1 < levelStart.size(); ++d) {
            const int64_t begin = levelStart[d], end = levelStart[d + 1];
            for (int64_t e = next.fetch_add(1); ok && begin + e < end; e = next.fetch_add(1)) {
                const size_t si = static_cast<size_t>(levelNode[static_cast<size_t>(begin + e)]);
                if (shared(si, end - begin))
                    continue;
                try {
                    if (!invert(si, w))
                        ok = false;
                } catch (const std::bad_alloc&) {
                    ok = false;
                }
            }
            sync();
            for (int64_t e = begin; e < end && ok; ++e) {
                const size_t si = static_cast<size_t>(levelNode[static_cast<size_t>(e)]);
                if (!shared(si, end - begin))
                    continue;
                const Shape h = shape(si);
                const int64_t parts = chunks(h);
                if (worker == 0) {
                    try {
                        prepare(h, common);
                    } catch (const std::bad_alloc&) {
                        ok = false;
                    }
                }
                sync();
                if (!ok)
                    break;
                // Y by chunks of rows, the gathering of Z_RR and L_SS^-1 by
                // chunks of columns; then Z_RS by chunks of rows and Z_SS's
                // own term by chunks of columns; then Z_SS's correction.
                const int64_t columnParts = columnChunks(h);
                for (int64_t c = next.fetch_add(1); c < parts + 1 + columnParts; c = next.fetch_add(1)) {
                    if (c < parts) {
                        rowsOfY(h, common, c * kChunk, std::min(h.nR, (c + 1) * kChunk));
                    } else if (c == parts) {
                        try {
                            if (!gather(h, common))
                                ok = false;
                        } catch (const std::bad_alloc&) {
                            ok = false;
                        }
                    } else {
                        const int64_t k = c - parts - 1;
                        columnsOfInverse(h, common, k * kChunk, std::min(h.nscol, (k + 1) * kChunk));
                    }
                }
                sync();
                if (!ok)
                    break;
                for (int64_t c = next.fetch_add(1); c < parts + columnParts; c = next.fetch_add(1)) {
                    if (c < parts) {
                        rowsOfZ(h, common, c * kChunk, std::min(h.nR, (c + 1) * kChunk));
                    } else {
                        const int64_t k = c - parts;
                        columnsOfOwn(h, common, k * kChunk, std::min(h.nscol, (k + 1) * kChunk));
                    }
                }
                sync();
                for (int64_t k = next.fetch_add(1); k < columnParts; k = next.fetch_add(1))
                    if (!columnsOfCorrection(h, common, k * kChunk, std::min(h.nscol, (k + 1) * kChunk)))
                        ok = false;
                sync();
            }
        }
    });
    if (!ok) {
        inverseValue.clear();
        return false;
    }
    return true;
}

// Where Z(a, b) (elimination positions, a >= b) is kept; -1 outside the pattern.
int64_t CSparseNormals::InverseIndex(int64_t a, int64_t b) const
{
    const cholmod_factor& L = *lib->factor;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* pi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    const int64_t t = columnSuper[static_cast<size_t>(b)];
    const SuiteSparse_long* first = ls + pi[t];
    const SuiteSparse_long* last = ls + pi[t + 1];
    const SuiteSparse_long* found = std::lower_bound(first, last, static_cast<SuiteSparse_long>(a));
    if (found == last || *found != a)
        return -1;
    return px[t] + (b - super[t]) * (last - first) + (found - first);
}

bool CSparseNormals::InverseAt(int i, int j, double& out) const
{
    out = 0.0;
    if (inverseValue.empty() || i < 0 || j < 0 || i >= order || j >= order)
        return false;
    int64_t a = position[static_cast<size_t>(i)], b = position[static_cast<size_t>(j)];
    if (a < b)
        std::swap(a, b);
    const int64_t e = InverseIndex(a, b);
    if (e < 0)
        return false;
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
    if (!contiguous || inverseValue.empty()) {
        for (int u = 0; u < si; ++u)
            for (int t = 0; t < sj; ++t)
                if (!InverseAt(i0 + u, j0 + t, out[u * sj + t]))
                    return false;
        return true;
    }
    const int64_t pi = position[static_cast<size_t>(i0)], pj = position[static_cast<size_t>(j0)];
    // Each column of the earlier block holds the later block's rows one
    // after the other (those of its own block from its diagonal on).
    const bool iLate = pi >= pj;
    const int64_t late = iLate ? pi : pj, early = iLate ? pj : pi;
    const int lateSize = iLate ? si : sj, earlySize = iLate ? sj : si;
    // The later block's rows sit at the same place in every column of one
    // supernode: one search per supernode the earlier block's columns meet.
    const cholmod_factor& L = *lib->factor;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* spi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    int64_t lastSuper = -1, lateAt = 0, rowsOf = 0;
    for (int t = 0; t < earlySize; ++t) {
        const int u0 = nodeI == nodeJ ? t : 0;
        const int64_t column = early + t;
        const int64_t st = columnSuper[static_cast<size_t>(column)];
        if (st != lastSuper) {
            const SuiteSparse_long* first = ls + spi[st];
            const SuiteSparse_long* last = ls + spi[st + 1];
            const SuiteSparse_long* found = std::lower_bound(first, last, static_cast<SuiteSparse_long>(late + u0));
            if (found == last || *found != late + u0)
                return false;
            lastSuper = st;
            rowsOf = last - first;
            lateAt = (found - first) - u0; // where row `late` would be
        }
        const int64_t e = px[st] + (column - super[st]) * rowsOf + lateAt;
        const double* z = &inverseValue[static_cast<size_t>(e)];
        for (int u = u0; u < lateSize; ++u) {
            const int iu = iLate ? u : t, jt = iLate ? t : u;
            const double v = z[u] * scale[static_cast<size_t>(i0 + iu)] * scale[static_cast<size_t>(j0 + jt)];
            out[iu * sj + jt] = v;
            if (nodeI == nodeJ)
                out[jt * sj + iu] = v;
        }
    }
    return true;
}

namespace {

// W = Z Ms' for one column ce of Z's lower part (rows u0 .. size - 1 of a
// later block, z[u]; `diagonal` the row that is ce itself, or -1): row u
// adds z[u] Ms(ce) to W's row u, and z[u] Ms(u) to W's row ce.
template <int R>
inline void AccumulateColumn(const double* z, int u0, int size, int diagonal, const double* me, double* we,
                             const double* ml, double* wl)
{
    double e[R];
    for (int s = 0; s < R; ++s)
        e[s] = 0.0;
    for (int u = u0; u < size; ++u) {
        const double v = z[u];
        for (int s = 0; s < R; ++s)
            wl[u * R + s] += v * me[s];
        if (u != diagonal)
            for (int s = 0; s < R; ++s)
                e[s] += v * ml[u * R + s];
    }
    for (int s = 0; s < R; ++s)
        we[s] += e[s];
}

} // namespace

bool CSparseNormals::InverseCongruence(const double* const* M, const int32_t* cols, int count, int rows,
                                       double* out) const
{
    if (!contiguous || inverseValue.empty() || rows < 1 || rows > 6 || count < 1)
        return false;
    struct Block {
        int64_t position; // elimination position of its first unknown
        int column;       // its first column in M
        int size;
    };
    std::vector<Block> blocks;
    for (int c = 0; c < count;) {
        if (cols[c] < 0 || cols[c] >= order)
            return false;
        const int node = rowNode[static_cast<size_t>(cols[c])];
        const int size = nodeSize[static_cast<size_t>(node)];
        const int first = nodeStart[static_cast<size_t>(node)];
        for (int k = 0; k < size; ++k)
            if (c + k >= count || cols[c + k] != first + k)
                return false;
        blocks.push_back(Block{position[static_cast<size_t>(first)], c, size});
        c += size;
    }
    // M scaled to the factorised system, column by column; W = Z Ms'.
    std::vector<double> Ms(static_cast<size_t>(count) * static_cast<size_t>(rows));
    std::vector<double> W(Ms.size(), 0.0);
    for (int c = 0; c < count; ++c)
        for (int r = 0; r < rows; ++r)
            Ms[static_cast<size_t>(c * rows + r)] = M[r][c] * scale[static_cast<size_t>(cols[c])];
    const cholmod_factor& L = *lib->factor;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* spi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    // Blocks in elimination order: each block's columns hold the later
    // blocks' rows, found by one pass along the supernode's rows (its own
    // from the diagonal on).
    std::sort(blocks.begin(), blocks.end(), [](const Block& x, const Block& y) { return x.position < y.position; });
    std::vector<int64_t> lateAt(blocks.size());
    for (size_t a = 0; a < blocks.size(); ++a) {
        const Block& early = blocks[a];
        int64_t lastSuper = -1, rowsOf = 0;
        for (int t = 0; t < early.size; ++t) {
            const int64_t column = early.position + t;
            const int64_t st = columnSuper[static_cast<size_t>(column)];
            if (st != lastSuper) {
                const SuiteSparse_long* first = ls + spi[st];
                const SuiteSparse_long* last = ls + spi[st + 1];
                const SuiteSparse_long* from = first;
                for (size_t b = a; b < blocks.size(); ++b) {
                    const int u0 = b == a ? t : 0;
                    const SuiteSparse_long row = static_cast<SuiteSparse_long>(blocks[b].position + u0);
                    const SuiteSparse_long* found = std::lower_bound(from, last, row);
                    if (found == last || *found != row)
                        return false;
                    lateAt[b] = (found - first) - u0; // where the block's first row would be
                    from = found;
                }
                lastSuper = st;
                rowsOf = last - first;
            }
            const double* zc = &inverseValue[static_cast<size_t>(px[st] + (column - super[st]) * rowsOf)];
            const int ce = early.column + t;
            double* we = &W[static_cast<size_t>(ce * rows)];
            const double* me = &Ms[static_cast<size_t>(ce * rows)];
            for (size_t b = a; b < blocks.size(); ++b) {
                const Block& late = blocks[b];
                const bool own = b == a;
                double* wl = &W[static_cast<size_t>(late.column * rows)];
                const double* ml = &Ms[static_cast<size_t>(late.column * rows)];
                const double* z = zc + lateAt[b];
                if (rows == 3)
                    AccumulateColumn<3>(z, own ? t : 0, late.size, own ? t : -1, me, we, ml, wl);
                else
                    AccumulateColumn<6>(z, own ? t : 0, late.size, own ? t : -1, me, we, ml, wl);
            }
        }
    }
    for (int r = 0; r < rows; ++r)
        for (int s = 0; s < rows; ++s) {
            double sum = 0.0;
            for (int c = 0; c < count; ++c)
                sum += Ms[static_cast<size_t>(c * rows + r)] * W[static_cast<size_t>(c * rows + s)];
            out[r * rows + s] = sum;
        }
    return true;
}
