#include "SupernodalFactor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <thread>

#include "BlasRoutines.h"
#include "Workers.h"

namespace {

// Rows and columns of a supernode's tiles, and the work (multiply-adds)
// above which a supernode is cut into them.
constexpr double kTiledWork = 3e7;
constexpr int64_t kTile = 128;

// C (m x n) = alpha A B' + beta C.
void GemmNT(int64_t m, int64_t n, int64_t k, double alpha, const double* a, int64_t lda, const double* b, int64_t ldb,
            double beta, double* c, int64_t ldc)
{
    if (m <= 0 || n <= 0)
        return;
    blas::Gemm('N', 'T', m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

// Lower triangle of C (n x n) = alpha A A' + beta C.
void SyrkLN(int64_t n, int64_t k, double alpha, const double* a, int64_t lda, double beta, double* c, int64_t ldc)
{
    if (n <= 0)
        return;
    blas::Syrk('L', 'N', n, k, alpha, a, lda, beta, c, ldc);
}

// Waits until all workers have arrived, spinning: the steps it separates
// take a fraction of a millisecond, less than a sleeping thread takes to wake.
class CSpinBarrier {
public:
    void SetCount(int workers) { count = workers; }
    void Wait()
    {
        const unsigned generation = passed.load(std::memory_order_acquire);
        if (arrived.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
            arrived.store(0, std::memory_order_relaxed);
            passed.fetch_add(1, std::memory_order_release);
            return;
        }
        for (int spins = 0; passed.load(std::memory_order_acquire) == generation; ++spins)
            if (spins > 200)
                std::this_thread::yield();
    }

private:
    std::atomic<int> arrived{0};
    std::atomic<unsigned> passed{0};
    int count = 1;
};

} // namespace

struct CSupernodalFactor::Context {
    const int64_t* Ap;
    const int64_t* Ai;
    const double* Ax;
    const int64_t* Asource;
    const double* source;
    const double* scale;
    double* Lx;
    std::vector<int64_t> map; // row -> its place among the current target's rows
    int64_t mapped = -1;      // the target whose rows map holds
    std::vector<double> buffer;
    std::vector<int64_t> place;
};

bool CSupernodalFactor::Build(int64_t n, int64_t count, const int64_t* sup, const int64_t* rs, const int64_t* rw,
                              const int64_t* vs)
{
    try {
        order = n;
        nsuper = count;
        super.assign(sup, sup + count + 1);
        rowStart.assign(rs, rs + count + 1);
        rows.assign(rw, rw + rs[count]);
        valueStart.assign(vs, vs + count + 1);
        std::vector<int64_t> columnSuper(static_cast<size_t>(n), 0);
        for (int64_t t = 0; t < count; ++t)
            for (int64_t j = super[t]; j < super[t + 1]; ++j)
                columnSuper[static_cast<size_t>(j)] = t;

        // The tree, the size and work of each subtree, and which
        // descendants update each supernode, in ascending order.
        parent.assign(static_cast<size_t>(count), -1);
        subtreeSize.assign(static_cast<size_t>(count), 1);
        subtreeCost.assign(static_cast<size_t>(count), 0.0);
        updateStart.assign(static_cast<size_t>(count) + 1, 0);
        tiled.assign(static_cast<size_t>(count), 0);
        largestBuffer = kTile * kTile;
        largestRows = kTile;
        for (int64_t t = 0; t < count; ++t) {
            const int64_t cols = super[t + 1] - super[t];
            const int64_t height = rowStart[t + 1] - rowStart[t];
            const double c = static_cast<double>(cols), below = static_cast<double>(height - cols);
            subtreeCost[static_cast<size_t>(t)] += c * c * c / 3.0 + c * c * below + c * below * below + height;
            int64_t last = -1;
            for (int64_t q = rowStart[t] + cols; q < rowStart[t + 1]; ++q) {
                const int64_t target = columnSuper[static_cast<size_t>(rows[static_cast<size_t>(q)])];
                if (target != last)
                    ++updateStart[static_cast<size_t>(target) + 1];
                last = target;
            }
            tiled[static_cast<size_t>(t)] = c * c * c / 3.0 + c * c * below + c * below * below > kTiledWork;
            if (!tiled[static_cast<size_t>(t)]) {
                largestBuffer = std::max(largestBuffer, std::max(cols, height - cols) * cols);
                largestRows = std::max(largestRows, std::max(cols, height - cols));
            }
            if (height > cols)
                parent[static_cast<size_t>(t)] = columnSuper[static_cast<size_t>(rows[static_cast<size_t>(rowStart[t] + cols)])];
            const int64_t p = parent[static_cast<size_t>(t)];
            if (p >= 0) {
                if (p <= t) {
                    nsuper = 0;
                    return false;
                }
                subtreeSize[static_cast<size_t>(p)] += subtreeSize[static_cast<size_t>(t)];
                subtreeCost[static_cast<size_t>(p)] += subtreeCost[static_cast<size_t>(t)];
            }
        }
        // Each subtree is a run of supernodes ending at its root.
        std::vector<int64_t> firstOf(static_cast<size_t>(count));
        for (int64_t t = 0; t < count; ++t)
            firstOf[static_cast<size_t>(t)] = t;
        for (int64_t t = 0; t < count; ++t) {
            if (firstOf[static_cast<size_t>(t)] != t - subtreeSize[static_cast<size_t>(t)] + 1) {
                nsuper = 0;
                return false;
            }
            const int64_t p = parent[static_cast<size_t>(t)];
            if (p >= 0)
                firstOf[static_cast<size_t>(p)] = std::min(firstOf[static_cast<size_t>(p)], firstOf[static_cast<size_t>(t)]);
        }
        for (int64_t t = 0; t < count; ++t)
            updateStart[static_cast<size_t>(t) + 1] += updateStart[static_cast<size_t>(t)];
        updates.assign(static_cast<size_t>(updateStart[static_cast<size_t>(count)]), Update{0, 0, 0});
        std::vector<int64_t> fill(updateStart.begin(), updateStart.end() - 1);
        for (int64_t t = 0; t < count; ++t) {
            const int64_t cols = super[t + 1] - super[t];
            const int64_t height = rowStart[t + 1] - rowStart[t];
            for (int64_t q = cols; q < height;) {
                const int64_t target = columnSuper[static_cast<size_t>(rows[static_cast<size_t>(rowStart[t] + q)])];
                int64_t end = q;
                while (end < height && columnSuper[static_cast<size_t>(rows[static_cast<size_t>(rowStart[t] + end)])] == target)
                    ++end;
                updates[static_cast<size_t>(fill[static_cast<size_t>(target)]++)] = Update{t, q, end};
                q = end;
            }
        }
    } catch (const std::bad_alloc&) {
        nsuper = 0;
        return false;
    }
    return true;
}

// A supernode whose work is large enough to be shared is cut into tiles of
// kTile rows and columns; any other is one block of columns over one tile of
// the rows below them (the library's own calls).
int64_t CSupernodalFactor::BlockWidth(int64_t t) const
{
    return tiled[static_cast<size_t>(t)] ? kTile : std::max<int64_t>(1, super[t + 1] - super[t]);
}

int64_t CSupernodalFactor::TileHeight(int64_t t) const
{
    const int64_t below = rowStart[t + 1] - rowStart[t] - (super[t + 1] - super[t]);
    return tiled[static_cast<size_t>(t)] ? kTile : std::max<int64_t>(1, below);
}

int64_t CSupernodalFactor::ColumnBlocks(int64_t t) const
{
    const int64_t w = BlockWidth(t);
    return (super[t + 1] - super[t] + w - 1) / w;
}

// Tiles of rows: one beside each block of columns, then those below the
// supernode's columns.
int64_t CSupernodalFactor::RowTiles(int64_t t) const
{
    const int64_t cols = super[t + 1] - super[t];
    const int64_t h = TileHeight(t);
    return ColumnBlocks(t) + (rowStart[t + 1] - rowStart[t] - cols + h - 1) / h;
}

void CSupernodalFactor::TileRows(int64_t t, int64_t tile, int64_t& r0, int64_t& r1) const
{
    const int64_t cols = super[t + 1] - super[t];
    const int64_t blocks = ColumnBlocks(t);
    if (tile < blocks) {
        r0 = tile * BlockWidth(t);
        r1 = std::min(cols, r0 + BlockWidth(t));
    } else {
        r0 = cols + (tile - blocks) * TileHeight(t);
        r1 = std::min(rowStart[t + 1] - rowStart[t], r0 + TileHeight(t));
    }
}

// Tile (tile, block) of supernode t: the matrix's elements there, less the
// products of every descendant's rows that fall in it.
void CSupernodalFactor::Assemble(Context& x, int64_t t, int64_t block, int64_t tile) const
{
    const int64_t first = super[t];
    const int64_t cols = super[t + 1] - first;
    const int64_t height = rowStart[t + 1] - rowStart[t];
    const int64_t c0 = block * BlockWidth(t), c1 = std::min(cols, c0 + BlockWidth(t));
    int64_t r0 = 0, r1 = 0;
    TileRows(t, tile, r0, r1);
    double* L = x.Lx + valueStart[t];
    if (x.mapped != t) {
        for (int64_t q = 0; q < height; ++q)
            x.map[static_cast<size_t>(rows[static_cast<size_t>(rowStart[t] + q)])] = q;
        x.mapped = t;
    }
    const int64_t* map = x.map.data();
    // The diagonal tile clears the block's columns above it too.
    for (int64_t j = c0; j < c1; ++j)
        std::fill(L + j * height + (tile == block ? 0 : r0), L + j * height + r1, 0.0);
    // Rows of the tile: those whose place lies in r0 .. r1 - 1 (places
    // ascend with the rows).
    const int64_t rowFirst = rows[static_cast<size_t>(rowStart[t] + r0)];
    const int64_t rowLast = rows[static_cast<size_t>(rowStart[t] + r1 - 1)];
    for (int64_t j = c0; j < c1; ++j) {
        double* column = L + j * height;
        const int64_t* begin = x.Ai + x.Ap[first + j];
        const int64_t* end = x.Ai + x.Ap[first + j + 1];
        const int64_t* from = std::lower_bound(begin, end, rowFirst);
        if (x.Asource == nullptr) {
            for (const int64_t* p = from; p != end && *p <= rowLast; ++p)
                column[map[*p]] = x.Ax[p - x.Ai];
        } else {
            const double sj = x.scale[first + j];
            for (const int64_t* p = from; p != end && *p <= rowLast; ++p)
                column[map[*p]] = x.source[x.Asource[p - x.Ai]] * (x.scale[*p] * sj);
        }
    }
    for (int64_t u = updateStart[static_cast<size_t>(t)]; u < updateStart[static_cast<size_t>(t) + 1]; ++u) {
        const Update& up = updates[static_cast<size_t>(u)];
        const int64_t d = up.source;
        const int64_t dCols = super[d + 1] - super[d];
        const int64_t dHeight = rowStart[d + 1] - rowStart[d];
        const int64_t* dRows = &rows[static_cast<size_t>(rowStart[d])];
        // The descendant's rows among the block's columns, and among the
        // tile's rows.
        const int64_t q0 = std::lower_bound(dRows + up.first, dRows + up.end, first + c0) - dRows;
        const int64_t q1 = std::lower_bound(dRows + q0, dRows + up.end, first + c1) - dRows;
        if (q1 == q0)
            continue;
        const int64_t p0 = tile == block ? q0 : std::lower_bound(dRows + q0, dRows + dHeight, rowFirst) - dRows;
        const int64_t p1 = tile == block ? q1 : std::upper_bound(dRows + p0, dRows + dHeight, rowLast) - dRows;
        if (p1 == p0)
            continue;
        const int64_t m = p1 - p0, n = q1 - q0;
        const double* D = x.Lx + valueStart[d];
        double* C = x.buffer.data();
        if (tile == block)
            SyrkLN(n, dCols, 1.0, D + q0, dHeight, 0.0, C, m);
        else
            GemmNT(m, n, dCols, 1.0, D + p0, dHeight, D + q0, dHeight, 0.0, C, m);
        // Each row's place in the supernode, looked up once.
        int64_t* place = x.place.data();
        for (int64_t i = 0; i < m; ++i)
            place[i] = map[dRows[p0 + i]];
        for (int64_t j = 0; j < n; ++j) {
            double* target = L + (dRows[q0 + j] - first) * height;
            const double* source = C + j * m;
            for (int64_t i = tile == block ? j : 0; i < m; ++i)
                target[place[i]] -= source[i];
        }
    }
}

bool CSupernodalFactor::FactorBlock(Context& x, int64_t t, int64_t block) const
{
    const int64_t cols = super[t + 1] - super[t];
    const int64_t height = rowStart[t + 1] - rowStart[t];
    const int64_t c0 = block * BlockWidth(t), c1 = std::min(cols, c0 + BlockWidth(t));
    double* L = x.Lx + valueStart[t];
    int info = 0;
    return blas::Potrf(c1 - c0, L + c0 + c0 * height, height, info) && info == 0;
}

// Tile (tile, block) below the block's diagonal: L_TB = A_TB L_BB^-T.
void CSupernodalFactor::SolveTile(Context& x, int64_t t, int64_t block, int64_t tile) const
{
    const int64_t cols = super[t + 1] - super[t];
    const int64_t height = rowStart[t + 1] - rowStart[t];
    const int64_t c0 = block * BlockWidth(t), c1 = std::min(cols, c0 + BlockWidth(t));
    int64_t r0 = 0, r1 = 0;
    TileRows(t, tile, r0, r1);
    double* L = x.Lx + valueStart[t];
    blas::Trsm('R', 'L', 'T', 'N', r1 - r0, c1 - c0, 1.0, L + c0 + c0 * height, height, L + r0 + c0 * height, height);
}

// Tile (tile, later) of a later block of columns, less block `block`'s share.
void CSupernodalFactor::UpdateTile(Context& x, int64_t t, int64_t block, int64_t later, int64_t tile) const
{
    const int64_t cols = super[t + 1] - super[t];
    const int64_t height = rowStart[t + 1] - rowStart[t];
    const int64_t c0 = block * BlockWidth(t), c1 = std::min(cols, c0 + BlockWidth(t));
    const int64_t e0 = later * BlockWidth(t), e1 = std::min(cols, e0 + BlockWidth(t));
    int64_t r0 = 0, r1 = 0;
    TileRows(t, tile, r0, r1);
    double* L = x.Lx + valueStart[t];
    if (tile == later)
        SyrkLN(e1 - e0, c1 - c0, -1.0, L + e0 + c0 * height, height, 1.0, L + e0 + e0 * height, height);
    else
        GemmNT(r1 - r0, e1 - e0, c1 - c0, -1.0, L + r0 + c0 * height, height, L + e0 + c0 * height, height, 1.0,
               L + r0 + e0 * height, height);
}

// The parts of supernode t, each a tile, in the order one worker runs them.
bool CSupernodalFactor::FactorWhole(Context& x, int64_t t) const
{
    const int64_t blocks = ColumnBlocks(t), tiles = RowTiles(t);
    for (int64_t b = 0; b < blocks; ++b)
        for (int64_t i = b; i < tiles; ++i)
            Assemble(x, t, b, i);
    for (int64_t b = 0; b < blocks; ++b) {
        if (!FactorBlock(x, t, b))
            return false;
        for (int64_t i = b + 1; i < tiles; ++i)
            SolveTile(x, t, b, i);
        for (int64_t e = b + 1; e < blocks; ++e)
            for (int64_t i = e; i < tiles; ++i)
                UpdateTile(x, t, b, e, i);
    }
    return true;
}

int64_t CSupernodalFactor::Factorize(const int64_t* Ap, const int64_t* Ai, const double* Ax, double* Lx,
                                     int workers) const
{
    return Run(Ap, Ai, Ax, nullptr, nullptr, nullptr, Lx, workers);
}

int64_t CSupernodalFactor::Factorize(const int64_t* Ap, const int64_t* Ai, const int64_t* Asource,
                                     const double* source, const double* scale, double* Lx, int workers) const
{
    return Run(Ap, Ai, nullptr, Asource, source, scale, Lx, workers);
}

int64_t CSupernodalFactor::Run(const int64_t* Ap, const int64_t* Ai, const double* Ax, const int64_t* Asource,
                               const double* source, const double* scale, double* Lx, int workers) const
{
    if (!blas::HavePotrf())
        return -2;
    blas::KeepOnCallingThread();
    workers = std::max(1, workers);
    // Subtrees small enough to go to one worker each; the supernodes above
    // them are shared (ascending, each after its descendants).
    std::vector<int64_t> subtrees, shared;
    try {
        double total = 0.0;
        for (int64_t t = 0; t < nsuper; ++t)
            if (parent[static_cast<size_t>(t)] < 0) {
                subtrees.push_back(t);
                total += subtreeCost[static_cast<size_t>(t)];
            }
        if (workers > 1) {
            const double limit = total / (4.0 * workers);
            auto heavier = [&](int64_t a, int64_t b) {
                return subtreeCost[static_cast<size_t>(a)] < subtreeCost[static_cast<size_t>(b)];
            };
            std::vector<std::vector<int64_t>> children(static_cast<size_t>(nsuper));
            for (int64_t t = 0; t < nsuper; ++t)
                if (parent[static_cast<size_t>(t)] >= 0)
                    children[static_cast<size_t>(parent[static_cast<size_t>(t)])].push_back(t);
            std::make_heap(subtrees.begin(), subtrees.end(), heavier);
            while (!subtrees.empty() && subtreeCost[static_cast<size_t>(subtrees.front())] > limit) {
                std::pop_heap(subtrees.begin(), subtrees.end(), heavier);
                const int64_t t = subtrees.back();
                subtrees.pop_back();
                shared.push_back(t);
                for (int64_t c : children[static_cast<size_t>(t)]) {
                    subtrees.push_back(c);
                    std::push_heap(subtrees.begin(), subtrees.end(), heavier);
                }
            }
            std::sort(shared.begin(), shared.end());
        }
        // The heaviest first.
        std::sort(subtrees.begin(), subtrees.end(), [&](int64_t a, int64_t b) {
            const double ca = subtreeCost[static_cast<size_t>(a)], cb = subtreeCost[static_cast<size_t>(b)];
            return ca != cb ? ca > cb : a < b;
        });
    } catch (const std::bad_alloc&) {
        return -2;
    }

    std::atomic<int64_t> next(0);
    std::atomic<int64_t> failed(-1);
    std::atomic<bool> memory(false);
    auto fail = [&](int64_t column) {
        int64_t none = -1;
        failed.compare_exchange_strong(none, column);
    };
    CSpinBarrier barrier;
    // Units 0 .. units - 1 of a step, each run once by whichever worker takes
    // it; every step ends at the barrier, and each worker counts the steps
    // itself, so the counter of the next step is cleared during this one.
    std::atomic<int64_t> tickets[2];
    tickets[0] = 0;
    tickets[1] = 0;
    std::vector<int64_t> steps(static_cast<size_t>(workers), 0);
    auto deal = [&](int w, int64_t units, const auto& run) {
        const int64_t step = steps[static_cast<size_t>(w)]++;
        if (w == 0)
            tickets[(step + 1) % 2] = 0;
        for (int64_t k = tickets[step % 2]++; k < units; k = tickets[step % 2]++)
            run(k);
    };
    RunOnWorkers(workers, [&](int w, int count, CWorkerBarrier& start) {
        Context x{Ap, Ai, Ax, Asource, source, scale, Lx, {}, -1, {}, {}};
        try {
            x.map.assign(static_cast<size_t>(order), 0);
            x.buffer.assign(static_cast<size_t>(largestBuffer), 0.0);
            x.place.assign(static_cast<size_t>(largestRows), 0);
        } catch (const std::bad_alloc&) {
            memory = true;
        }
        if (w == 0)
            barrier.SetCount(count);
        start.Wait();
        if (memory)
            return;
        for (;;) {
            const int64_t k = next.fetch_add(1);
            if (k >= static_cast<int64_t>(subtrees.size()) || failed >= 0)
                break;
            const int64_t root = subtrees[static_cast<size_t>(k)];
            for (int64_t t = root - subtreeSize[static_cast<size_t>(root)] + 1; t <= root; ++t)
                if (!FactorWhole(x, t)) {
                    fail(super[t]);
                    break;
                }
        }
        for (int64_t t : shared) {
            barrier.Wait();
            if (failed >= 0)
                return;
            // The tiles of each step, taken by whichever worker is free.
            const int64_t blocks = ColumnBlocks(t), tiles = RowTiles(t);
            deal(w, (2 * tiles - blocks + 1) * blocks / 2, [&](int64_t k) {
                int64_t b = 0;
                while (k >= tiles - b) {
                    k -= tiles - b;
                    ++b;
                }
                Assemble(x, t, b, b + k);
            });
            barrier.Wait();
            if (w == 0 && !FactorBlock(x, t, 0))
                fail(super[t]);
            barrier.Wait();
            if (failed >= 0)
                return;
            for (int64_t b = 0; b < blocks; ++b) {
                deal(w, tiles - b - 1, [&](int64_t k) { SolveTile(x, t, b, b + 1 + k); });
                barrier.Wait();
                // Tiles (i, e) for b < e <= i; the first is the next block's
                // diagonal tile, whose factorisation follows it at once.
                const int64_t later = blocks - b - 1;
                deal(w, (2 * (tiles - b - 1) - later + 1) * later / 2, [&](int64_t k) {
                    int64_t e = b + 1;
                    while (k >= tiles - e) {
                        k -= tiles - e;
                        ++e;
                    }
                    UpdateTile(x, t, b, e, e + k);
                    if (k == 0 && e == b + 1 && !FactorBlock(x, t, e))
                        fail(super[t] + e * BlockWidth(t));
                });
                barrier.Wait();
                if (failed >= 0)
                    return;
            }
        }
    });
    if (memory)
        return -2;
    return failed.load();
}
