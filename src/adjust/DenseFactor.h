// The dense reduced system's root-free factorisation A = U'DU in place, in
// the packed form CMatrix::LdltDecompose leaves (row i: d(i), then U(i, j)
// for j > i), with the same tests: a negative first element or a pivot
// below 1e-100 in magnitude fails it. Panels of rows are factorised one
// after the other; each updates the rows below it on up to `workers`
// threads, in bands of rows. Every element takes its terms in the same
// order whatever the number of workers.
#pragma once

class CMatrix;

bool FactorPackedLdlt(CMatrix& A, int workers);
