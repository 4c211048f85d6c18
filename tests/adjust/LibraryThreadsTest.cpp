// The optimised BLAS works on the calling thread after the first call of
// each entry point that reaches it, whatever the processor. Each case runs
// in a fresh process (a death test re-executed), where nothing has touched
// the library yet; the library is first given more than one thread, as it
// takes on a machine of several cores.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <vector>

#include "AdjustmentEngine.h"
#include "BlasRoutines.h"
#include "BundleNetwork.h"
#include "SparseNormals.h"
#include "SupernodalFactor.h"

using namespace bundletest;

namespace library_threads_test {

enum Outcome { OK = 0, ENTRY_FAILED = 2, LIBRARY_THREADED = 3, NOT_THREADED_BEFORE = 4 };

// A = [4 2 2; 2 5 3; 2 3 6] = L L' with L = [2 0 0; 1 2 0; 1 1 2], one
// supernode of three columns.
bool FactorOneSupernode()
{
    const int64_t super[2] = {0, 3}, rowStart[2] = {0, 3}, rows[3] = {0, 1, 2}, valueStart[2] = {0, 9};
    const int64_t Ap[4] = {0, 3, 5, 6}, Ai[6] = {0, 1, 2, 1, 2, 2};
    const double Ax[6] = {4.0, 2.0, 2.0, 5.0, 3.0, 6.0};
    CSupernodalFactor factor;
    if (!factor.Build(3, 1, super, rowStart, rows, valueStart))
        return false;
    std::vector<double> Lx(9, 0.0);
    if (factor.Factorize(Ap, Ai, Ax, Lx.data(), 1) != -1)
        return false;
    const double expected[6][2] = {{0, 2.0}, {1, 1.0}, {2, 1.0}, {4, 2.0}, {5, 1.0}, {8, 2.0}};
    for (const auto& e : expected)
        if (std::abs(Lx[static_cast<size_t>(e[0])] - e[1]) > 1e-15)
            return false;
    return true;
}

// Two nodes of three unknowns, linked by zero blocks: the inverse is the
// reciprocal diagonal.
bool InvertTwoNodes()
{
    CSparseNormals system;
    std::vector<std::pair<int32_t, int32_t>> links{{1, 0}};
    if (!system.Build({3, 3}, links) || !system.Analyse())
        return false;
    for (int r = 0; r < 6; ++r) {
        *system.Entry(r, r) = r + 2.0;
        system.Rhs(r) = 1.0;
    }
    system.SquareSum() = 10.0;
    if (!system.Factorize(1) || !system.InvertOnPattern(1))
        return false;
    for (int r = 0; r < 6; ++r) {
        double value = 0.0;
        if (!system.InverseAt(r, r, value) || std::abs(value - 1.0 / (r + 2.0)) > 1e-15)
            return false;
    }
    return true;
}

bool AdjustDense()
{
    Network net;
    NetworkOptions o;
    BuildRing(net, 6, 20, o);
    AddControl(net, 4, 0.005);
    CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    engine.SetSolver(CAdjustmentEngine::SOLVER_DENSE);
    return engine.RunBundle() && !engine.IsSparseSystem();
}

[[noreturn]] void RunFresh(bool (*entry)())
{
    using SetThreads = void (*)(int);
    if (blas::LibraryThreads() == 1)
        if (void* f = dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))
            reinterpret_cast<SetThreads>(f)(2);
    if (blas::LibraryThreads() == 1)
        std::_Exit(NOT_THREADED_BEFORE);
    if (!entry())
        std::_Exit(ENTRY_FAILED);
    std::_Exit(blas::LibraryThreads() == 1 ? OK : LIBRARY_THREADED);
}

TEST(LibraryThreads, EveryEntryPointKeepsTheBlasOnTheCallingThread)
{
    if (blas::LibraryThreads() == 0)
        GTEST_SKIP() << "no optimised BLAS in this process";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char* name;
        bool (*entry)();
    } cases[] = {
        {"supernodal factor", FactorOneSupernode},
        {"inverse on the pattern", InvertTwoNodes},
        {"dense adjustment", AdjustDense},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(RunFresh(c.entry), testing::ExitedWithCode(OK), "");
    }
}

} // namespace library_threads_test
