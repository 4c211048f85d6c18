// The numeric phase of a supernodal Cholesky factorisation L L' = A, on the
// structure of a symbolic analysis, on the engine's worker threads. A
// supernode's work is cut into parts whose calls depend only on its sizes
// (tiles of its rows and columns), so the factor is the same to the bit
// for any number of workers. Independent subtrees of the supernodal
// elimination tree go to the workers whole; the supernodes above them are
// shared part by part between all the workers.
#pragma once

#include <cstdint>
#include <vector>

class CSupernodalFactor {
public:
    // The structure of `nsuper` supernodes of a factor of order `order`:
    // supernode t holds columns super[t] .. super[t + 1] - 1 and rows
    // rows[rowStart[t] .. rowStart[t + 1] - 1] (ascending, its own columns
    // first), kept column by column from valueStart[t] of the factor's
    // values. Supernodes come after all their descendants. False when memory
    // fails.
    bool Build(int64_t order, int64_t nsuper, const int64_t* super, const int64_t* rowStart, const int64_t* rows,
               const int64_t* valueStart);
    int64_t Supernodes() const { return nsuper; }

    // Factorises A, given as its lower triangle column by column (each
    // column's rows at or below its diagonal, ascending, within the
    // structure), into the factor's values Lx, on up to `workers` threads.
    // Returns -1, or a column at which a pivot was not positive (Lx is then
    // incomplete), or -2 when memory fails or LAPACK is not to be had.
    int64_t Factorize(const int64_t* Ap, const int64_t* Ai, const double* Ax, double* Lx, int workers) const;
    // The same where element p of A is source[Asource[p]] scaled by
    // scale[row] * scale[column]: the scaling done as the elements are
    // placed.
    int64_t Factorize(const int64_t* Ap, const int64_t* Ai, const int64_t* Asource, const double* source,
                      const double* scale, double* Lx, int workers) const;

private:
    struct Update {
        int64_t source; // the descendant supernode
        int64_t first;  // its first row among the target's columns (index into its rows)
        int64_t end;    // one past its last such row
    };
    struct Context;
    int64_t Run(const int64_t* Ap, const int64_t* Ai, const double* Ax, const int64_t* Asource, const double* source,
                const double* scale, double* Lx, int workers) const;

    int64_t order = 0;
    int64_t nsuper = 0;
    std::vector<int64_t> super, rowStart, rows, valueStart;
    std::vector<int64_t> parent;      // -1 at a root
    std::vector<int64_t> subtreeSize; // supernodes in the subtree of each (itself included)
    std::vector<double> subtreeCost;
    std::vector<char> tiled;          // cut into tiles
    std::vector<int64_t> updateStart; // per target, its updates in ascending source order
    std::vector<Update> updates;
    int64_t largestBuffer = 0;
    int64_t largestRows = 0;

    // A supernode's parts, each on a tile of its rows and columns, run in
    // this order by one worker or shared.
    int64_t BlockWidth(int64_t t) const;
    int64_t TileHeight(int64_t t) const;
    int64_t ColumnBlocks(int64_t t) const;
    int64_t RowTiles(int64_t t) const;
    void TileRows(int64_t t, int64_t tile, int64_t& r0, int64_t& r1) const;
    void Assemble(Context& x, int64_t t, int64_t block, int64_t tile) const;
    bool FactorBlock(Context& x, int64_t t, int64_t block) const;
    void SolveTile(Context& x, int64_t t, int64_t block, int64_t tile) const;
    void UpdateTile(Context& x, int64_t t, int64_t block, int64_t later, int64_t tile) const;
    bool FactorWhole(Context& x, int64_t t) const;
};
