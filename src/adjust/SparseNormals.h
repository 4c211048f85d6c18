// A reduced normal system stored by its structure: blocks of unknowns
// (cameras, stations, points) and only the blocks that are not zero, with
// its right-hand side and weighted square sum kept apart. It is factorised
// by a supernodal sparse Cholesky on the system scaled to a unit diagonal,
// solved, and inverted on the pattern of its factor (every element of the
// inverse where the factor has an element: each block of the system among
// them).
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "SupernodalFactor.h"

class CMatrix;
class CVector;

class CSparseNormals {
public:
    CSparseNormals();
    ~CSparseNormals();
    CSparseNormals(const CSparseNormals&) = delete;
    CSparseNormals& operator=(const CSparseNormals&) = delete;

    // The pattern: nodeSize[a] unknowns per node, in order of the unknowns;
    // links are pairs of nodes whose block is not zero (any order, repeats
    // allowed; each node's own block is always there). False when memory
    // fails.
    bool Build(const std::vector<int>& nodeSize, std::vector<std::pair<int32_t, int32_t>>& links);
    int Order() const { return order; }
    // Stored elements of the upper triangle.
    size_t Entries() const { return values.size(); }

    // Element (r, c) of the symmetric system (either triangle); null outside
    // the pattern. Along a row of the upper triangle the columns of one node,
    // and of neighbouring nodes that are both linked, follow each other.
    double* Entry(int r, int c);
    // Row r's first stored element, its diagonal: element (r, c) of another
    // row r' of the same node is Entry(r, c) + (RowBegin(r') - RowBegin(r))
    // - (r' - r) for c beyond the node.
    double* RowBegin(int r) { return &values[static_cast<size_t>(rowStart[static_cast<size_t>(r)])]; }
    double& Rhs(int r) { return rhs[static_cast<size_t>(r)]; }
    double& SquareSum() { return squareSum; }
    double Diagonal(int r) const { return values[static_cast<size_t>(rowStart[static_cast<size_t>(r)])]; }
    void Zero();
    // Row and column of unknown `index` zero, with a unit pivot.
    void Hold(int index);

    // Fill-reducing ordering and the factor's structure, once per pattern:
    // its stored elements and the operations of its factorisation.
    bool Analyse();
    double FactorEntries() const { return factorEntries; }
    double FactorFlops() const { return factorFlops; }

    // Factorises the system scaled to a unit diagonal (the system itself is
    // left as it is) and reduces the right-hand side. False when a diagonal element is not
    // positive, when the factorisation meets a pivot that is not positive,
    // or when a pivot of the unscaled system (that of the root-free form on
    // the permuted system, the right-hand side's last row included) is below
    // 1e-100 in magnitude.
    bool Factorize(int workers = 1);
    // True when the last factorisation met a pivot that is not positive.
    bool NotPositiveDefinite() const { return notPositive; }
    // Writes the unscaled system into packed rows of order + 1 (each row from
    // its diagonal, the right-hand side in column `order`, the square sum in
    // the last row).
    void CopyToPacked(double* const* T) const;
    // The pivots of the last factorisation, unscaled, in elimination order.
    const std::vector<double>& Pivots() const { return pivots; }
    // The solution of the factorised system into x[0 .. order - 1].
    bool Solve(CVector& x);

    // The inverse on the pattern of the factor (after Factorize), on up to
    // `workers` threads (the same result for any number); false when it
    // cannot be formed or a value is not finite. It is formed over the
    // factor, so a later Solve, InvertWhole or InvertOnPattern forms the
    // factor again from the system as it then stands.
    bool InvertOnPattern(int workers = 1);
    // Element (i, j) of the inverse; false (out 0) outside what was formed.
    bool InverseAt(int i, int j, double& out) const;
    // The block of the inverse between the unknowns of nodes i and j (each
    // block of the system is formed), row by row into out (size i x size
    // j); false when it was not formed.
    bool InverseBlock(int nodeI, int nodeJ, double* out) const;
    // out (rows x rows, full) = M Q M' for the inverse Q on the columns cols
    // of M (rows x count, at most 6 rows), straight from the formed
    // inverse; false, nothing written, unless cols are whole blocks of
    // unknowns, each in its order, and the inverse is formed on them.
    bool InverseCongruence(const double* const* M, const int32_t* cols, int count, int rows, double* out) const;
    // Where the analysis eliminates `unknown` (0 first).
    int64_t EliminationPosition(int unknown) const { return position[static_cast<size_t>(unknown)]; }
    int NodeOf(int unknown) const { return rowNode[static_cast<size_t>(unknown)]; }
    int NodeStart(int node) const { return nodeStart[static_cast<size_t>(node)]; }
    int NodeSize(int node) const { return nodeSize[static_cast<size_t>(node)]; }
    // The whole inverse as a packed symmetric matrix (after Factorize).
    bool InvertWhole(CMatrix& out);

private:
    struct Library;
    std::unique_ptr<Library> lib;

    int order = 0;
    std::vector<int> nodeSize;
    std::vector<int> nodeStart;
    std::vector<int32_t> rowNode;
    std::vector<int64_t> rowStart;       // per row, its first stored element; order + 1 entries
    std::vector<int64_t> columnIndex;    // per stored element, its column; listed when needed
    template <typename Visit>
    void ForEachColumn(int r, Visit visit) const;
    bool ListColumns();
    std::vector<double> values;
    std::vector<int64_t> adjacencyStart; // per node, its linked nodes after it
    std::vector<int32_t> adjacency;
    std::vector<int32_t> adjacencyOffset; // columns before the linked node in a row's other nodes
    std::vector<int64_t> lowerStart;     // per node, its linked nodes before it
    std::vector<int32_t> lower;
    std::vector<double> rhs;
    double squareSum = 0.0;

    std::vector<double> scale;           // 1 / sqrt of the diagonal
    // The system as the factorisation takes it: the lower triangle in
    // elimination order, column by column, each element values[permSource[k]]
    // (scaled by permScale of its row and column, the scaling in elimination
    // order).
    std::vector<int64_t> permStart, permRow, permSource;
    std::vector<double> permScale;
    bool BuildPermuted();
    bool FactorPattern(const std::vector<int64_t>& nodeOrder, std::vector<int64_t>& start,
                       std::vector<int64_t>& row) const;
    bool BuildPermutedByNodes();
    CSupernodalFactor numeric;
    int numericReady = 0;                // 1 built, -1 not to be had: the library's own numeric phase
    std::vector<double> reduced;         // the reduced right-hand side, in elimination order
    std::vector<double> pivots;
    double factorEntries = 0.0;
    double factorFlops = 0.0;
    bool factored = false;
    bool notPositive = false;

    // Where Z(a, b) (elimination positions, a >= b) is kept; -1 when it is
    // outside the pattern.
    int64_t InverseIndex(int64_t a, int64_t b) const;
    // The inverse on the pattern of the factor, in the factor's supernodal
    // layout: formed in the factor's own storage (no other store to fault
    // in and clear), and moved apart when the factor is needed again, which
    // is then formed anew from the system; null when not formed.
    const double* inverseValue = nullptr;
    bool inverseInFactor = false;
    std::vector<double> inverseKept;
    bool FactorizeSystem(int workers);
    // The factor back where it holds the inverse (the inverse kept apart
    // when `keep`); false when it cannot be formed.
    bool RestoreFactor(bool keep, int workers = 1);
    bool restorable = false;             // the system is the one last factorised
    void DropInverse();
    // The supernode of each column.
    std::vector<int64_t> columnSuper;
    std::vector<int64_t> position;       // elimination position of each unknown
    // Per supernode and node, where the node's first unknown would be among
    // the supernode's rows (the node's rows follow each other there);
    // kNoPlace where the node has no rows. Left empty when too large.
    static constexpr int32_t kNoPlace = INT32_MIN;
    std::vector<int32_t> nodePlace;
    bool contiguous = false;             // each node's unknowns follow each other in that order
};
