#include "SparseNormals.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include <suitesparse/cholmod.h>

#include "BlasRoutines.h"
#include "DenseKernels.h"
#include "Matrix.h"
#include "Vector.h"
#include "Workers.h"

static_assert(sizeof(SuiteSparse_long) == sizeof(int64_t), "CHOLMOD's long is 64 bits");

namespace {

// The pivot test of the root-free factorisation.
constexpr double kTinyPivot = 1e-100;

} // namespace

struct CSparseNormals::Library {
    cholmod_common common;
    cholmod_factor* factor = nullptr;
    bool started = false;

    Library()
    {
        blas::KeepOnCallingThread();
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
    DropInverse();
    factored = restorable = false;
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
        if (!std::is_sorted(links.begin(), links.end()))
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
        columnIndex.clear();
        values.assign(static_cast<size_t>(rowStart.back()), 0.0);
        rhs.assign(static_cast<size_t>(order), 0.0);
        squareSum = 0.0;
    } catch (const std::bad_alloc&) {
        return false;
    }
    factored = false;
    return true;
}

// Each stored element's column, listed only where it is read element by
// element: a row's own node's later columns, then each linked node's.
template <typename Visit>
void CSparseNormals::ForEachColumn(int r, Visit visit) const
{
    const int a = rowNode[static_cast<size_t>(r)];
    int64_t e = rowStart[static_cast<size_t>(r)];
    for (int c = r; c < nodeStart[static_cast<size_t>(a) + 1]; ++c)
        visit(e++, c);
    for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
        const int b = adjacency[static_cast<size_t>(t)];
        for (int c = nodeStart[static_cast<size_t>(b)]; c < nodeStart[static_cast<size_t>(b) + 1]; ++c)
            visit(e++, c);
    }
}

bool CSparseNormals::ListColumns()
{
    if (columnIndex.size() == values.size())
        return true;
    try {
        columnIndex.resize(values.size());
    } catch (const std::bad_alloc&) {
        columnIndex.clear();
        return false;
    }
    for (int r = 0; r < order; ++r)
        ForEachColumn(r, [&](int64_t e, int c) { columnIndex[static_cast<size_t>(e)] = c; });
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
    factored = restorable = false;
}

void CSparseNormals::Hold(int index)
{
    if (index < 0 || index >= order)
        return;
    const int a = rowNode[static_cast<size_t>(index)];
    for (int64_t e = rowStart[static_cast<size_t>(index)]; e < rowStart[static_cast<size_t>(index) + 1]; ++e)
        values[static_cast<size_t>(e)] = 0.0;
    values[static_cast<size_t>(rowStart[static_cast<size_t>(index)])] = 1.0;
    restorable = false;
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
    DropInverse();
    factored = restorable = false;
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
    if (static_cast<int>(unknownOrder.size()) == order) {
        std::vector<int64_t> patternStart, patternRow;
        if (!FactorPattern(nodeOrder, patternStart, patternRow))
            return false;
        std::vector<double> unit(patternRow.size(), 1.0);
        cholmod_sparse P = View(order, patternStart, patternRow, unit);
        c.method[0].ordering = CHOLMOD_GIVEN;
        lib->factor = cholmod_l_analyze_p(&P, unknownOrder.data(), nullptr, 0, &c);
        c.method[0].ordering = CHOLMOD_AMD;
    } else {
        if (!ListColumns())
            return false;
        cholmod_sparse A = View(order, rowStart, columnIndex, values);
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

// A pattern whose factor, with the nodes eliminated in `nodeOrder` and each
// node's unknowns together in their order, is the system's own: the factor's
// pattern is made of whole nodes, so a node's first unknown carries its
// links (all the unknowns of each node eliminated later, one of each node
// eliminated earlier) and its later unknowns only their diagonal. Far fewer
// elements than the system, for the analysis to read.
bool CSparseNormals::FactorPattern(const std::vector<int64_t>& nodeOrder, std::vector<int64_t>& start,
                                   std::vector<int64_t>& row) const
{
    try {
        const int nodes = static_cast<int>(nodeSize.size());
        std::vector<int64_t> rank(static_cast<size_t>(nodes));
        for (size_t k = 0; k < nodeOrder.size(); ++k)
            rank[static_cast<size_t>(nodeOrder[k])] = static_cast<int64_t>(k);
        start.assign(static_cast<size_t>(order) + 1, 0);
        size_t count = static_cast<size_t>(order);
        for (int a = 0; a < nodes; ++a) {
            if (nodeSize[static_cast<size_t>(a)] < 1)
                continue;
            count += static_cast<size_t>(nodeSize[static_cast<size_t>(a)] - 1);
            for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
                const int b = adjacency[static_cast<size_t>(t)];
                count += rank[static_cast<size_t>(b)] > rank[static_cast<size_t>(a)]
                             ? static_cast<size_t>(nodeSize[static_cast<size_t>(b)])
                             : static_cast<size_t>(nodeSize[static_cast<size_t>(a)]);
            }
        }
        row.clear();
        row.reserve(count);
        for (int a = 0; a < nodes; ++a) {
            const int first = nodeStart[static_cast<size_t>(a)];
            const int end = nodeStart[static_cast<size_t>(a) + 1];
            const int64_t ra = rank[static_cast<size_t>(a)];
            for (int u = first; u < end; ++u) {
                if (u == first) {
                    for (int v = first; v < end; ++v)
                        row.push_back(v);
                } else {
                    row.push_back(u);
                }
                for (int64_t t = adjacencyStart[static_cast<size_t>(a)]; t < adjacencyStart[static_cast<size_t>(a) + 1]; ++t) {
                    const int b = adjacency[static_cast<size_t>(t)];
                    if (rank[static_cast<size_t>(b)] > ra) {
                        if (u == first)
                            for (int v = nodeStart[static_cast<size_t>(b)]; v < nodeStart[static_cast<size_t>(b) + 1]; ++v)
                                row.push_back(v);
                    } else if (nodeSize[static_cast<size_t>(b)] > 0) {
                        row.push_back(nodeStart[static_cast<size_t>(b)]);
                    }
                }
                start[static_cast<size_t>(u) + 1] = static_cast<int64_t>(row.size());
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
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
    if (!ListColumns())
        return false;
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
        ForEachColumn(r, [&](int64_t e, int c) { row[c - r] = values[static_cast<size_t>(e)]; });
        row[order - r] = rhs[static_cast<size_t>(r)];
    }
    T[order][0] = squareSum;
}

bool CSparseNormals::Factorize(int workers)
{
    DropInverse();
    return FactorizeSystem(workers);
}

void CSparseNormals::DropInverse()
{
    inverseValue = nullptr;
    inverseInFactor = false;
    std::vector<double>().swap(inverseKept);
}

bool CSparseNormals::RestoreFactor(bool keep, int workers)
{
    if (!inverseInFactor)
        return factored;
    if (!restorable)
        return false;
    const cholmod_factor& L = *lib->factor;
    if (keep && inverseValue != nullptr) {
        try {
            const double* x = static_cast<const double*>(L.x);
            inverseKept.assign(x, x + L.xsize);
        } catch (const std::bad_alloc&) {
            inverseKept.clear();
        }
    }
    inverseInFactor = false;
    inverseValue = inverseKept.empty() ? nullptr : inverseKept.data();
    return FactorizeSystem(workers);
}

bool CSparseNormals::FactorizeSystem(int workers)
{
    factored = false;
    notPositive = false;
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

bool CSparseNormals::Solve(CVector& x)
{
    if (!RestoreFactor(true))
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
    RestoreFactor(false, workers);
    DropInverse();
    if (!factored || lib->factor == nullptr || !lib->factor->is_super)
        return false;
    const cholmod_factor& L = *lib->factor;
    const size_t nsuper = L.nsuper;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* pi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    // Z takes the place of L: a supernode reads its own columns of L before
    // it writes them, and only the Z of the supernodes of its rows.
    double* const zx = static_cast<double*>(L.x);
    const double* lx = zx;
    try {
        columnSuper.assign(static_cast<size_t>(order), 0);
        for (size_t t = 0; t < nsuper; ++t)
            for (SuiteSparse_long j = super[t]; j < super[t + 1]; ++j)
                columnSuper[static_cast<size_t>(j)] = static_cast<int64_t>(t);
        // Where each node's rows lie in each supernode, for the
        // propagation's look-ups, while it stays small.
        nodePlace.clear();
        const size_t nodes = nodeSize.size();
        if (contiguous && nsuper * nodes <= (size_t(1) << 24)) {
            const SuiteSparse_long* perm = static_cast<const SuiteSparse_long*>(L.Perm);
            nodePlace.assign(nsuper * nodes, kNoPlace);
            for (size_t t = 0; t < nsuper; ++t) {
                int32_t* place = &nodePlace[t * nodes];
                for (SuiteSparse_long k = pi[t]; k < pi[t + 1]; ++k) {
                    const SuiteSparse_long row = ls[k];
                    const int node = rowNode[static_cast<size_t>(perm[row])];
                    if (place[node] == kNoPlace)
                        place[node] = static_cast<int32_t>(
                            (k - pi[t]) - (row - position[static_cast<size_t>(nodeStart[static_cast<size_t>(node)])]));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        nodePlace.clear();
        return false;
    }
    inverseInFactor = true;
    restorable = true;
    factored = false;
    // Work areas are taken uninitialised: every element read is written
    // first, and the pages are first touched by the pieces that use them.
    struct Buffer {
        std::unique_ptr<double[]> values;
        size_t size = 0;
        void Reserve(size_t n)
        {
            if (n > size) {
                values.reset(new double[n]);
                size = n;
            }
        }
        double* data() { return values.get(); }
        double& operator[](size_t i) { return values[i]; }
    };
    struct Work {
        Buffer Y, Zrr, Zrs, Linv;
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
        h.Zx = zx + px[si];
        return h;
    };
    auto chunks = [&](const Shape& h) { return (h.nR + kChunk - 1) / kChunk; };
    auto prepare = [&](const Shape& h, Work& w) {
        const size_t nr = static_cast<size_t>(h.nR), nc = static_cast<size_t>(h.nscol);
        w.Y.Reserve(nr * nc);
        w.Zrr.Reserve(nr * nr);
        w.Linv.Reserve(nc * nc);
        w.Zrs.Reserve(nc * nc);
    };
    // Rows r0 .. r1 - 1 of Y = L_RS L_SS^-1 (column-major nR x nscol), by
    // the product with L_SS^-1, formed before: the triangular product runs
    // at about twice the speed of the solve.
    auto rowsOfY = [&](const Shape& h, Work& w, int64_t r0, int64_t r1) {
        for (int64_t k = 0; k < h.nscol; ++k)
            std::copy(h.Lx + h.nscol + r0 + k * h.nsrow, h.Lx + h.nscol + r1 + k * h.nsrow,
                      w.Y.data() + static_cast<size_t>(r0 + k * h.nR));
        blas::Trmm('R', 'L', 'N', 'N', r1 - r0, h.nscol, 1.0, w.Linv.data(), h.nscol, w.Y.data() + r0, h.nR);
    };
    // Columns j0 .. j1 - 1 of Z_RR's lower triangle (column j from its
    // diagonal down), gathered from the supernodes of the rows R; `pos` is
    // the caller's own.
    auto gather = [&](const Shape& h, Work& w, std::vector<int64_t>& pos, int64_t j0, int64_t j1) -> bool {
        const int64_t nR = h.nR;
        const SuiteSparse_long* R = h.R;
        double* Zrr = w.Zrr.data();
        for (int64_t j = j0; j < j1;) {
            const int64_t t = columnSuper[static_cast<size_t>(R[j])];
            int64_t jEnd = j + 1;
            while (jEnd < j1 && R[jEnd] < super[t + 1])
                ++jEnd;
            const SuiteSparse_long* tr = ls + pi[t];
            const int64_t tn = pi[t + 1] - pi[t];
            const double* zt = zx + px[t];
            // Rows j .. nR - 1 in the supernode's column, as runs of
            // rows that follow each other in both: (row, place, length).
            pos.clear();
            int64_t idx = 0;
            for (int64_t i = j; i < nR; ++i) {
                while (idx < tn && tr[idx] < R[i])
                    ++idx;
                if (idx == tn || tr[idx] != R[i])
                    return false;
                const size_t runs = pos.size();
                if (runs > 0 && pos[runs - 3] + pos[runs - 1] == i && pos[runs - 2] + pos[runs - 1] == idx)
                    ++pos[runs - 1];
                else
                    pos.insert(pos.end(), {i, idx, 1});
            }
            for (int64_t jj = j; jj < jEnd; ++jj) {
                const double* column = zt + (R[jj] - super[t]) * tn;
                double* into = Zrr + jj * nR;
                for (size_t k = 0; k < pos.size(); k += 3) {
                    const int64_t i0 = pos[k], end = i0 + pos[k + 2];
                    if (end <= jj)
                        continue;
                    const int64_t from = std::max(i0, jj);
                    std::copy(column + pos[k + 1] + (from - i0), column + pos[k + 1] + (end - i0), into + from);
                }
            }
            j = jEnd;
        }
        return true;
    };
    // Rows r0 .. r1 - 1 of Z_RS = -Z_RR Y, into the rows below the
    // supernode's own; Z_RR by its lower triangle: the rows' part left of
    // the chunk, the chunk's own symmetric block, and the part below the
    // chunk taken transposed.
    auto rowsOfZ = [&](const Shape& h, Work& w, int64_t r0, int64_t r1) {
        const int64_t nR = h.nR;
        const double* Zrr = w.Zrr.data();
        double* C = h.Zx + h.nscol + r0;
        if (r0 > 0)
            blas::Gemm('N', 'N', r1 - r0, h.nscol, r0, -1.0, Zrr + r0, nR, w.Y.data(), nR, 0.0, C, h.nsrow);
        blas::Symm('L', 'L', r1 - r0, h.nscol, -1.0, Zrr + r0 + r0 * nR, nR, w.Y.data() + r0, nR, r0 > 0 ? 1.0 : 0.0,
                   C, h.nsrow);
        if (r1 < nR)
            blas::Gemm('T', 'N', r1 - r0, h.nscol, nR - r1, -1.0, Zrr + r1 + r0 * nR, nR, w.Y.data() + r1, nR, 1.0, C,
                       h.nsrow);
    };
    // Column chunks (L_SS^-1, Z_SS) are narrower: the first ones carry the
    // most work.
    constexpr int64_t kColumnChunk = 64;
    auto columnChunks = [&](const Shape& h) { return (h.nscol + kColumnChunk - 1) / kColumnChunk; };
    auto columnEnd = [&](const Shape& h, int64_t k) { return std::min(h.nscol, (k + 1) * kColumnChunk); };
    // Column chunk k of L_SS^-1 (lower; rows above the chunk stay zero).
    auto columnsOfInverse = [&](const Shape& h, Work& w, int64_t k) {
        const int64_t nscol = h.nscol, c0 = k * kColumnChunk, c1 = columnEnd(h, k);
        for (int64_t c = c0; c < c1; ++c) {
            std::fill(w.Linv.data() + c * nscol, w.Linv.data() + (c + 1) * nscol, 0.0);
            w.Linv[static_cast<size_t>(c + c * nscol)] = 1.0;
        }
        blas::Trsm('L', 'L', 'N', 'N', nscol - c0, c1 - c0, 1.0, h.Lx + c0 + c0 * h.nsrow, h.nsrow,
                   w.Linv.data() + c0 + c0 * nscol, nscol);
    };
    // Column chunk k of Z_SS = L^-T L^-1 (its lower triangle), wider: the
    // chunk's own block by a rank update, the rows below it by the
    // triangular product with the rest of L^-1, both at about twice the
    // speed of general products on small tiles.
    constexpr int64_t kOwnChunk = 128;
    auto ownChunks = [&](const Shape& h) { return (h.nscol + kOwnChunk - 1) / kOwnChunk; };
    auto columnsOfOwn = [&](const Shape& h, Work& w, int64_t k) {
        const int64_t nscol = h.nscol, j0 = k * kOwnChunk, j1 = std::min(nscol, j0 + kOwnChunk);
        const double* l = w.Linv.data();
        blas::Syrk('L', 'T', j1 - j0, nscol - j0, 1.0, l + j0 + j0 * nscol, nscol, 0.0, h.Zx + j0 + j0 * h.nsrow,
                   h.nsrow);
        if (j1 == nscol)
            return;
        for (int64_t c = j0; c < j1; ++c)
            std::copy(l + j1 + c * nscol, l + nscol + c * nscol, h.Zx + j1 + c * h.nsrow);
        blas::Trmm('L', 'L', 'T', 'N', nscol - j1, j1 - j0, 1.0, l + j1 + j1 * nscol, nscol, h.Zx + j1 + j0 * h.nsrow,
                   h.nsrow);
    };
    // Column chunk k of Z_SS minus Y' Z_RS; the elements above the diagonal
    // back to zero.
    auto columnsOfCorrection = [&](const Shape& h, Work& w, int64_t k) -> bool {
        const int64_t nscol = h.nscol, c0 = k * kColumnChunk, c1 = columnEnd(h, k);
        if (h.nR > 0)
            blas::Gemm('T', 'N', nscol - c0, c1 - c0, h.nR, 1.0, w.Y.data() + c0 * h.nR, h.nR,
                       h.Zx + nscol + c0 * h.nsrow, h.nsrow, 0.0, w.Zrs.data() + c0 + c0 * nscol, nscol);
        bool finite = true;
        for (int64_t c = c0; c < c1; ++c) {
            double* z = h.Zx + c * h.nsrow;
            for (int64_t m = c0; m < c; ++m)
                z[m] = 0.0;
            if (h.nR > 0)
                for (int64_t m = c; m < nscol; ++m)
                    z[m] -= w.Zrs[static_cast<size_t>(m + c * nscol)];
            finite = finite && std::isfinite(z[c]);
        }
        return finite;
    };

    // A supernode's work in steps of independent pieces whose calls depend
    // only on its sizes, so that the result does not depend on which
    // worker does which piece, nor on how many there are: (0) L_SS^-1's column chunks and the gathering of
    // Z_RR by chunks of its columns; (1) Y's row chunks and Z_SS's own
    // tiles; (2) Z_RS's row chunks; (3) Z_SS's correction by column chunks.
    constexpr int kSteps = 4;
    auto pieces = [&](const Shape& h, int step) -> int64_t {
        const int64_t parts = chunks(h), columnParts = columnChunks(h);
        switch (step) {
        case 0: return columnParts + parts;
        case 1: return parts + ownChunks(h);
        case 2: return parts;
        default: return columnParts;
        }
    };
    auto piece = [&](const Shape& h, Work& w, std::vector<int64_t>& pos, int step, int64_t p) -> bool {
        const int64_t parts = chunks(h), columnParts = columnChunks(h);
        if (step == 0) {
            if (p < columnParts) {
                columnsOfInverse(h, w, p);
                return true;
            }
            p -= columnParts;
            return gather(h, w, pos, p * kChunk, std::min(h.nR, (p + 1) * kChunk));
        }
        if (step == 1) {
            if (p < parts) {
                rowsOfY(h, w, p * kChunk, std::min(h.nR, (p + 1) * kChunk));
                return true;
            }
            columnsOfOwn(h, w, p - parts);
            return true;
        }
        if (step == 2) {
            rowsOfZ(h, w, p * kChunk, std::min(h.nR, (p + 1) * kChunk));
            return true;
        }
        return columnsOfCorrection(h, w, p);
    };
    // One supernode on one worker, once those of its rows are done.
    auto invert = [&](size_t si, Work& w) -> bool {
        const Shape h = shape(si);
        prepare(h, w);
        bool good = true;
        for (int step = 0; step < kSteps && good; ++step)
            for (int64_t p = 0, n = pieces(h, step); p < n && good; ++p)
                good = piece(h, w, w.pos, step, p);
        return good;
    };
    // Its multiply-adds, roughly.
    auto work = [&](size_t si) {
        const Shape h = shape(si);
        const double r = static_cast<double>(h.nR), c = static_cast<double>(h.nscol);
        return r * r * c + r * c * c + c * c * c / 2.0;
    };

    // Each supernode needs the supernodes of its rows, its ancestors in the
    // tree of supernodes: it is ready once its parent is done. Large
    // supernodes are cut into their pieces, shared by all workers; the
    // others are done whole by one worker. Ready work is taken heaviest
    // path first.
    std::vector<int64_t> parent(nsuper, -1), childStart(nsuper + 1, 0), child(nsuper);
    for (size_t si = 0; si < nsuper; ++si) {
        const int64_t nscol = super[si + 1] - super[si];
        const int64_t nsrow = pi[si + 1] - pi[si];
        if (nsrow > nscol) {
            parent[si] = columnSuper[static_cast<size_t>(ls[pi[si] + nscol])];
            ++childStart[static_cast<size_t>(parent[si]) + 1];
        }
    }
    for (size_t si = 0; si < nsuper; ++si)
        childStart[si + 1] += childStart[si];
    {
        std::vector<int64_t> fill(childStart.begin(), childStart.end() - 1);
        for (size_t si = 0; si < nsuper; ++si)
            if (parent[si] >= 0)
                child[static_cast<size_t>(fill[static_cast<size_t>(parent[si])]++)] = static_cast<int64_t>(si);
    }
    std::atomic<bool> ok{true};
    const int team = std::max(1, workers);
    if (team == 1) {
        // Children come before their parents in the factor's order.
        Work w;
        try {
            for (size_t si = nsuper; si-- > 0 && ok;)
                if (!invert(si, w))
                    ok = false;
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    } else {
        // The heaviest path from each supernode down to a leaf.
        std::vector<double> path(nsuper, 0.0);
        for (size_t si = 0; si < nsuper; ++si) {
            path[si] += work(si);
            if (parent[si] >= 0)
                path[static_cast<size_t>(parent[si])] =
                    std::max(path[static_cast<size_t>(parent[si])], path[si]);
        }
        struct Task {
            double priority;
            int64_t super;
            int step; // -1: the whole supernode
            int64_t piece;
            bool operator<(const Task& o) const
            {
                if (priority != o.priority)
                    return priority < o.priority;
                if (super != o.super)
                    return super < o.super;
                return piece > o.piece;
            }
        };
        std::vector<Task> queue; // a heap
        std::vector<int64_t> left(nsuper, 0); // pieces of the current step not yet done
        std::vector<std::unique_ptr<Work>> own(nsuper), spare; // spare: areas of supernodes done, for reuse
        int64_t remaining = static_cast<int64_t>(nsuper);
        std::mutex lock;
        std::condition_variable wake;
        auto split = [&](size_t si) {
            const Shape h = shape(si);
            return chunks(h) + columnChunks(h) >= 3 && work(si) >= 2e6;
        };
        auto push = [&](const Task& t) {
            queue.push_back(t);
            std::push_heap(queue.begin(), queue.end());
        };
        // Under the lock: the pieces of a step (false when it has none).
        auto steps = [&](size_t si, int step) {
            left[si] = pieces(shape(si), step);
            for (int64_t p = 0; p < left[si]; ++p)
                push(Task{path[si], static_cast<int64_t>(si), step, p});
            return left[si] > 0;
        };
        // A supernode that has become ready.
        auto start = [&](size_t si) {
            if (split(si)) {
                if (spare.empty()) {
                    own[si].reset(new Work);
                } else {
                    own[si] = std::move(spare.back());
                    spare.pop_back();
                }
                prepare(shape(si), *own[si]);
                for (int step = 0; step < kSteps; ++step)
                    if (steps(si, step))
                        return false;
                return true;
            }
            push(Task{path[si], static_cast<int64_t>(si), -1, 0});
            return false;
        };
        // Under the lock: the supernode's next step, or, once it is done,
        // its children.
        auto release = [&](size_t si, int step) {
            for (; step < kSteps; ++step)
                if (steps(si, step))
                    return;
            std::vector<size_t> done{si};
            while (!done.empty()) {
                const size_t d = done.back();
                done.pop_back();
                if (own[d])
                    spare.push_back(std::move(own[d]));
                --remaining;
                for (int64_t c = childStart[d]; c < childStart[d + 1]; ++c) {
                    const size_t ci = static_cast<size_t>(child[static_cast<size_t>(c)]);
                    if (start(ci))
                        done.push_back(ci);
                }
            }
        };
        try {
            std::lock_guard<std::mutex> guard(lock);
            for (size_t si = 0; si < nsuper; ++si)
                if (parent[si] < 0 && start(si))
                    release(si, kSteps);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        RunOnWorkers(team, [&](int, int, CWorkerBarrier&) {
            Work w;
            std::vector<int64_t> pos;
            std::unique_lock<std::mutex> guard(lock);
            for (;;) {
                wake.wait(guard, [&] { return !queue.empty() || remaining == 0 || !ok; });
                if (remaining == 0 || !ok)
                    break;
                std::pop_heap(queue.begin(), queue.end());
                const Task t = queue.back();
                queue.pop_back();
                guard.unlock();
                const size_t si = static_cast<size_t>(t.super);
                bool good = false;
                try {
                    good = t.step < 0 ? invert(si, w) : piece(shape(si), *own[si], pos, t.step, t.piece);
                } catch (const std::bad_alloc&) {
                    good = false;
                }
                guard.lock();
                if (!good) {
                    ok = false;
                    wake.notify_all();
                    break;
                }
                try {
                    const size_t before = queue.size();
                    if (t.step < 0)
                        release(si, kSteps);
                    else if (--left[si] == 0)
                        release(si, t.step + 1);
                    if (remaining == 0 || queue.size() > before + 1)
                        wake.notify_all();
                    else if (queue.size() > before)
                        wake.notify_one();
                } catch (const std::bad_alloc&) {
                    ok = false;
                    wake.notify_all();
                    break;
                }
            }
        });
    }
    if (!ok)
        return false;
    inverseValue = zx;
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
    if (inverseValue == nullptr || i < 0 || j < 0 || i >= order || j >= order)
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

bool CSparseNormals::InvertWhole(CMatrix& out)
{
    if (!RestoreFactor(true))
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
    if (!contiguous || inverseValue == nullptr) {
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

// For columns k = t .. t1 - 1 of a block of `size` columns, and each row r
// of Ms (rows `stride` apart, from the block's first column on):
// A(r, k) = dots(k - t, r) + the sum over u > k of z(u) Ms(r, u)
// + Z(k, k) Ms(r, k) / 2, where z is column k of Z from the block's first
// row (columns `rowsOf` apart, the block at `first`). Each sum is taken in
// ascending u, row by row: the rows only share the loads. `Rows` fixes
// the row count at compile time (0: `rows`).
template <int Rows>
inline void OwnRows(const double* zc, int64_t rowsOf, int64_t first, int t, int t1, int size, const double* Ms,
                    size_t stride, const double* dots, double* A, int rows = Rows)
{
    const int nr = Rows > 0 ? Rows : rows;
    for (int k = t; k < t1; ++k) {
        const double* z = zc + (k - t) * rowsOf + first;
        double sum[6];
        for (int r = 0; r < nr; ++r)
            sum[r] = dots[(k - t) * nr + r];
        for (int u = k + 1; u < size; ++u) {
            const double zu = z[u];
            for (int r = 0; r < nr; ++r)
                sum[r] += zu * Ms[static_cast<size_t>(r) * stride + static_cast<size_t>(u)];
        }
        const double half = 0.5 * z[k];
        for (int r = 0; r < nr; ++r)
            A[static_cast<size_t>(r) * stride + static_cast<size_t>(k)] =
                sum[r] + half * Ms[static_cast<size_t>(r) * stride + static_cast<size_t>(k)];
    }
}

} // namespace

bool CSparseNormals::InverseCongruence(const double* const* M, const int32_t* cols, int count, int rows,
                                       double* out) const
{
    if (!contiguous || inverseValue == nullptr || rows < 1 || rows > 6 || count < 1)
        return false;
    struct Block {
        int64_t position; // elimination position of its first unknown
        int column;       // its first column in M
        int size;
        int node;
    };
    // Per thread, kept from call to call: the calls come by the thousand.
    thread_local struct Scratch {
        std::vector<Block> blocks;
        std::vector<double> Ms, A, dots;
        std::vector<int64_t> at;
        std::vector<int32_t> column, size;
    } scratch;
    std::vector<Block>& blocks = scratch.blocks;
    blocks.clear();
    int largest = 0;
    for (int c = 0; c < count;) {
        if (cols[c] < 0 || cols[c] >= order)
            return false;
        const int node = rowNode[static_cast<size_t>(cols[c])];
        const int size = nodeSize[static_cast<size_t>(node)];
        const int first = nodeStart[static_cast<size_t>(node)];
        for (int k = 0; k < size; ++k)
            if (c + k >= count || cols[c + k] != first + k)
                return false;
        blocks.push_back(Block{position[static_cast<size_t>(first)], c, size, node});
        largest = std::max(largest, size);
        c += size;
    }
    // M scaled to the factorised system, row by row (row s at Ms + s count).
    const size_t n = static_cast<size_t>(count);
    std::vector<double>& Ms = scratch.Ms;
    std::vector<double>& A = scratch.A;
    Ms.resize(n * static_cast<size_t>(rows));
    A.resize(Ms.size());
    scratch.dots.resize(static_cast<size_t>(largest) * static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const double* from = M[r];
        double* into = Ms.data() + static_cast<size_t>(r) * n;
        for (int c = 0; c < count; ++c)
            into[c] = from[c] * scale[static_cast<size_t>(cols[c])];
    }
    const cholmod_factor& L = *lib->factor;
    const SuiteSparse_long* super = static_cast<const SuiteSparse_long*>(L.super);
    const SuiteSparse_long* spi = static_cast<const SuiteSparse_long*>(L.pi);
    const SuiteSparse_long* px = static_cast<const SuiteSparse_long*>(L.px);
    const SuiteSparse_long* ls = static_cast<const SuiteSparse_long*>(L.s);
    // Blocks in elimination order: each column c of a block holds the
    // rows of the later blocks, and of its own from the diagonal on, each
    // block's rows one after the other; they are found by one pass along
    // the supernode's rows. With a[c] = the sum over those rows r below c
    // of Z(r, c) Ms(r), and A(c) = a[c] + Z(c, c) Ms(c) / 2,
    // M Q M' = Ms A' + A Ms'.
    std::sort(blocks.begin(), blocks.end(), [](const Block& x, const Block& y) { return x.position < y.position; });
    const size_t nb = blocks.size();
    std::vector<int64_t>& at = scratch.at;
    at.resize(nb);
    scratch.column.resize(nb);
    scratch.size.resize(nb);
    for (size_t b = 0; b < nb; ++b) {
        scratch.column[b] = blocks[b].column;
        scratch.size[b] = blocks[b].size;
    }
    double* dots = scratch.dots.data();
    int64_t walked = -1; // the supernode whose rows at[] holds
    for (size_t a = 0; a < nb; ++a) {
        const Block& early = blocks[a];
        for (int t = 0; t < early.size;) {
            const int64_t column = early.position + t;
            const int64_t st = columnSuper[static_cast<size_t>(column)];
            int t1 = t + 1;
            while (t1 < early.size && columnSuper[static_cast<size_t>(early.position + t1)] == st)
                ++t1;
            const SuiteSparse_long* first = ls + spi[st];
            const SuiteSparse_long* last = ls + spi[st + 1];
            // Blocks that follow each other in one supernode share the walk.
            if (st != walked && !nodePlace.empty()) {
                const int32_t* place = &nodePlace[static_cast<size_t>(st) * nodeSize.size()];
                const int64_t rowsHere = last - first;
                for (size_t b = a; b < nb; ++b) {
                    const int u0 = b == a ? t : 0;
                    const int64_t p = place[blocks[b].node];
                    if (p == kNoPlace || p + u0 < 0 || p + u0 >= rowsHere ||
                        first[p + u0] != static_cast<SuiteSparse_long>(blocks[b].position + u0))
                        return false;
                    at[b] = p;
                }
                walked = st;
            } else if (st != walked) {
                const SuiteSparse_long* from = first;
                for (size_t b = a; b < nb; ++b) {
                    const int u0 = b == a ? t : 0;
                    const SuiteSparse_long row = static_cast<SuiteSparse_long>(blocks[b].position + u0);
                    const SuiteSparse_long* found = std::lower_bound(from, last, row);
                    if (found == last || *found != row)
                        return false;
                    at[b] = (found - first) - u0; // where the block's first row would be
                    from = found;
                }
                walked = st;
            }
            const int64_t rowsOf = last - first;
            const double* zc = &inverseValue[static_cast<size_t>(px[st] + (column - super[st]) * rowsOf)];
            densekernel::RunDots(zc, rowsOf, t1 - t, at.data() + a + 1, scratch.column.data() + a + 1,
                                 scratch.size.data() + a + 1, static_cast<int>(nb - a - 1), Ms.data(), count, rows,
                                 dots);
            // The block's own rows, and its diagonal.
            if (rows == 3)
                OwnRows<3>(zc, rowsOf, at[a], t, t1, early.size, Ms.data() + early.column, n, dots,
                           A.data() + early.column);
            else
                OwnRows<0>(zc, rowsOf, at[a], t, t1, early.size, Ms.data() + early.column, n, dots,
                           A.data() + early.column, rows);
            t = t1;
        }
    }
    // P = Ms A' (the rows of Ms as columns over one run), then P + P'.
    double P[36];
    const int64_t whole = 0;
    const int32_t from = 0;
    densekernel::RunDots(Ms.data(), count, rows, &whole, &from, &count, 1, A.data(), count, rows, P);
    for (int r = 0; r < rows; ++r)
        for (int s = r; s < rows; ++s) {
            const double sum = P[r * rows + s] + P[s * rows + r];
            out[r * rows + s] = sum;
            out[s * rows + r] = sum;
        }
    return true;
}
