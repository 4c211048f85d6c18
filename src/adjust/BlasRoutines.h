// The BLAS routines the sparse factorisation and inverse call themselves
// (the library the factorisation uses serves them: an optimised BLAS on one
// thread per call, or the reference BLAS): column-major, Fortran calling
// convention. Every call runs on the calling thread: the wrappers keep the
// libraries' own thread pools out of it before their first call.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* b, const int* ldb, const double* beta, double* c,
            const int* ldc, size_t, size_t);
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m, const int* n,
            const double* alpha, const double* a, const int* lda, double* b, const int* ldb, size_t, size_t, size_t,
            size_t);
void dtrmm_(const char* side, const char* uplo, const char* transa, const char* diag, const int* m, const int* n,
            const double* alpha, const double* a, const int* lda, double* b, const int* ldb, size_t, size_t, size_t,
            size_t);
void dsymm_(const char* side, const char* uplo, const int* m, const int* n, const double* alpha, const double* a,
            const int* lda, const double* b, const int* ldb, const double* beta, double* c, const int* ldc, size_t,
            size_t);
void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k, const double* alpha, const double* a,
            const int* lda, const double* beta, double* c, const int* ldc, size_t, size_t);
}

// The same with 64-bit sizes, for callers that index with them.
namespace blas {

// Puts an optimised BLAS (and the OpenMP runtime of the factorisation
// library) on the calling thread, once per process; every wrapper below
// calls it, and so does everything else that reaches those libraries.
void KeepOnCallingThread();

// The thread count the optimised BLAS reports, or 0 without one.
int LibraryThreads();

// LAPACK's Cholesky factorisation of a lower triangle, found at run time
// (it comes with the factorisation library or the optimised BLAS); false
// when there is none, else `info` holds LAPACK's answer.
bool Potrf(int64_t n, double* a, int64_t lda, int& info);

// True when LAPACK's Cholesky factorisation is there.
bool HavePotrf();

inline void Gemm(char ta, char tb, int64_t m, int64_t n, int64_t k, double alpha, const double* a, int64_t lda,
                 const double* b, int64_t ldb, double beta, double* c, int64_t ldc)
{
    KeepOnCallingThread();
    const int M = static_cast<int>(m), N = static_cast<int>(n), K = static_cast<int>(k);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb), LC = static_cast<int>(ldc);
    dgemm_(&ta, &tb, &M, &N, &K, &alpha, a, &LA, b, &LB, &beta, c, &LC, 1, 1);
}

inline void Trsm(char side, char uplo, char ta, char diag, int64_t m, int64_t n, double alpha, const double* a,
                 int64_t lda, double* b, int64_t ldb)
{
    KeepOnCallingThread();
    const int M = static_cast<int>(m), N = static_cast<int>(n);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb);
    dtrsm_(&side, &uplo, &ta, &diag, &M, &N, &alpha, a, &LA, b, &LB, 1, 1, 1, 1);
}

inline void Trmm(char side, char uplo, char ta, char diag, int64_t m, int64_t n, double alpha, const double* a,
                 int64_t lda, double* b, int64_t ldb)
{
    KeepOnCallingThread();
    const int M = static_cast<int>(m), N = static_cast<int>(n);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb);
    dtrmm_(&side, &uplo, &ta, &diag, &M, &N, &alpha, a, &LA, b, &LB, 1, 1, 1, 1);
}

inline void Symm(char side, char uplo, int64_t m, int64_t n, double alpha, const double* a, int64_t lda,
                 const double* b, int64_t ldb, double beta, double* c, int64_t ldc)
{
    KeepOnCallingThread();
    const int M = static_cast<int>(m), N = static_cast<int>(n);
    const int LA = static_cast<int>(lda), LB = static_cast<int>(ldb), LC = static_cast<int>(ldc);
    dsymm_(&side, &uplo, &M, &N, &alpha, a, &LA, b, &LB, &beta, c, &LC, 1, 1);
}

inline void Syrk(char uplo, char trans, int64_t n, int64_t k, double alpha, const double* a, int64_t lda,
                 double beta, double* c, int64_t ldc)
{
    KeepOnCallingThread();
    const int N = static_cast<int>(n), K = static_cast<int>(k);
    const int LA = static_cast<int>(lda), LC = static_cast<int>(ldc);
    dsyrk_(&uplo, &trans, &N, &K, &alpha, a, &LA, &beta, c, &LC, 1, 1);
}

} // namespace blas
