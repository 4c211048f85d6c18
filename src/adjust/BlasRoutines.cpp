#include "BlasRoutines.h"

#include <dlfcn.h>

#include <mutex>

namespace blas {

namespace {

using Potrf_t = void (*)(const char*, const int*, double*, const int*, int*, size_t);

Potrf_t FindPotrf()
{
    static const Potrf_t potrf = reinterpret_cast<Potrf_t>(dlsym(RTLD_DEFAULT, "dpotrf_"));
    return potrf;
}

} // namespace

// The libraries come with the factorisation library, so their controls are
// found at run time. An optimised BLAS would otherwise spread a call over
// its own pool, beside the engine's workers that call it at once; the
// factorisation library's OpenMP loops likewise run on one thread.
void KeepOnCallingThread()
{
    static std::once_flag once;
    std::call_once(once, [] {
        using SetLevels = void (*)(int);
        if (void* f = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
            reinterpret_cast<SetLevels>(f)(0);
        using SetThreads = void (*)(int);
        if (void* f = dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))
            reinterpret_cast<SetThreads>(f)(1);
    });
}

int LibraryThreads()
{
    using GetThreads = int (*)();
    if (void* f = dlsym(RTLD_DEFAULT, "openblas_get_num_threads"))
        return reinterpret_cast<GetThreads>(f)();
    return 0;
}

bool HavePotrf()
{
    return FindPotrf() != nullptr;
}

bool Potrf(int64_t n, double* a, int64_t lda, int& info)
{
    const Potrf_t potrf = FindPotrf();
    if (potrf == nullptr)
        return false;
    KeepOnCallingThread();
    const char uplo = 'L';
    const int N = static_cast<int>(n), LD = static_cast<int>(lda);
    info = 0;
    potrf(&uplo, &N, a, &LD, &info, 1);
    return true;
}

} // namespace blas
