// Dense matrix of doubles held by row pointers. A column count of -1 marks a
// symmetric matrix of which only the upper triangle is stored, row by row:
// row i holds the elements (i, i) .. (i, rows - 1), the diagonal first.
#pragma once

#include "OwningArray.h"

#include <cassert>
#include <cstddef>

class CVector;
class CBinArchive;
class CMatrixBlock;

class CMatrix
{
public:
    CMatrix();
    CMatrix(int rows, int cols);
    CMatrix(const CMatrix& other);
    CMatrix(CMatrix&& other) noexcept;
    explicit CMatrix(const CVector& v);
    ~CMatrix();

    // Assigning to a view copies the values into the viewed elements when the
    // shapes agree and is refused (nothing changes) otherwise.
    CMatrix& operator=(const CMatrix& other);
    CMatrix& operator=(CMatrix&& other) noexcept;
    CMatrix& operator=(const CVector& v);

    // Shape and storage.
    bool Resize(int rows, int cols);
    bool ResizePreserve(int rows, int cols);
    void Zero();
    bool IsSymmetric() const { return m_cols == -1; }
    bool IsView() const { return m_view; }
    int GetRows() const { return m_rows; }
    int GetCols() const { return m_cols; }
    // Number of doubles held: rows x cols, or n (n + 1) / 2 when packed.
    size_t GetStoredCount() const;
    // Number of doubles held in one row.
    int GetRowLength(int row) const { return m_cols < 0 ? m_rows - row : m_cols; }

    double GetAt(int row, int col) const
    {
        if (m_cols < 0 && row > col) {
            int t = row;
            row = col;
            col = t;
        }
        assert(row >= 0 && row < m_rows && col >= 0 && col < (m_cols < 0 ? m_rows : m_cols));
        return m_cols < 0 ? m_rowData[row][col - row] : m_rowData[row][col];
    }
    void SetAt(double value, int row, int col) { *GetElementPtr(row, col) = value; }
    double* GetElementPtr(int row, int col)
    {
        if (m_cols < 0 && row > col) {
            int t = row;
            row = col;
            col = t;
        }
        assert(row >= 0 && row < m_rows && col >= 0 && col < (m_cols < 0 ? m_rows : m_cols));
        return m_cols < 0 ? m_rowData[row] + (col - row) : m_rowData[row] + col;
    }
    const double* GetElementPtr(int row, int col) const
    {
        return const_cast<CMatrix*>(this)->GetElementPtr(row, col);
    }
    // The row pointers (null when there are no rows).
    double* const* GetRowTable() const { return m_rowData; }
    // Address of double col of a row as stored; packed rows count from their diagonal.
    double* GetRowPtrUnmapped(int row, int col) const
    {
        assert(row >= 0 && row < m_rows);
        return m_rowData[row] + col;
    }

    bool SetDiagonal(double value);
    bool HasNonNegativeDiagonal() const;
    bool GetBlock(CMatrix& dest, int first, int last) const;
    bool SetColumns(const CVector& a, const CVector& b, const CVector& c);
    bool Transpose();

    // Element-wise arithmetic over the stored elements; both operands must have
    // the same shape and form (a mismatch leaves this unchanged).
    CMatrix& operator+=(const CMatrix& other);
    CMatrix& operator-=(const CMatrix& other);
    CMatrix operator+(const CMatrix& other) const;
    CMatrix operator-(const CMatrix& other) const;
    bool Scale(double f);
    CMatrix operator*(double f) const;
    bool operator==(const CMatrix& other) const;
    bool operator!=(const CMatrix& other) const { return !(*this == other); }
    bool MultiplyRight(const CMatrix& b);
    CMatrix& operator*=(const CMatrix& b);
    friend CMatrix operator*(const CMatrix& a, const CMatrix& b);

    // Accumulators: each adds into this matrix; a packed target receives the
    // upper triangle (j >= i) only. Operands may be full or packed. A call
    // whose operands do not fit the target adds nothing and returns false.
    bool AddAtA(const CMatrix& a, int sign);                 // sign * A'A
    bool AddAAt(const CMatrix& a, int factor);               // factor * AA'
    bool AddProduct(const CMatrix& a, const CMatrix& b, int mode, int factor);
    bool AddProductSym(const CMatrix& a, const CMatrix& b);  // + AB, packed target
    bool SubtractProductSym(const CMatrix& a, const CMatrix& b);
    bool AddCongruence(const CMatrix& a, const CMatrix& s);  // A S A'
    bool AddAtS(const CMatrix& a, const CMatrix& s);         // A' S, full target
    double AddQuadraticForm(const CVector& v, const CMatrix& s);
    bool AddBlock(const CMatrix& b, int row, int offset);

    // Factorisations, solvers and inverses on packed matrices (Factorize.cpp).
    // `workers` threads share the factorisations and the symmetric inverse;
    // every count gives the same result to the last bit.
    bool CholeskyDecompose();
    bool SolveAugmentedCholesky(CVector& x) const;
    bool LdltDecompose(int workers = 1);
    bool SolveAugmentedUnit(CVector& x) const;
    // Both solvers above: unitDiagonal for the U'DU factor, else U'U.
    bool SolveAugmented(CVector& x, bool unitDiagonal) const;
    bool InvertSymmetric(bool alreadyFactored, int workers = 1);
    bool InvertUpperFactor();
    bool MultiplyFactorInverse();
    bool InvertAugmentedFactor();
    bool Invert3x3();
    bool SetRotationFromTo(CVector a, CVector b);

    // Output.
    void Print() const;
    bool WriteText(const char* path) const;
    bool Serialize(CBinArchive& ar);

protected:
    void FreeStorage();
    bool Allocate(int rows, int cols);
    void CopyValuesFrom(const CMatrix& other);
    bool SameShape(const CMatrix& other) const
    {
        return m_rows == other.m_rows && m_cols == other.m_cols;
    }
    bool AddSymProduct(const CMatrix& a, const CMatrix& b, bool subtract);

    int m_rows = 0;
    int m_cols = 0;
    double** m_rowData = nullptr;
    double* m_block = nullptr;   // the values of all rows, owned unless a view
    bool m_view = false;         // rows point into another matrix's storage

    friend class CMatrixBlock;
};

// A view of a block of another matrix. Its rows point into the source's
// storage; it never frees or reallocates that storage, and it stays valid
// while the source keeps its storage. It serves as an ordinary operand and
// as the target of every accumulator.
class CMatrixBlock : public CMatrix
{
public:
    CMatrixBlock();
    virtual ~CMatrixBlock();
    CMatrixBlock(const CMatrixBlock&) = delete;
    CMatrixBlock& operator=(const CMatrixBlock& other)
    {
        CMatrix::operator=(other);
        return *this;
    }
    using CMatrix::operator=;

    // A full nrows x ncols view. A full source: element (i, j) is source
    // element (row + i, col + j). A packed source: element (i, j) is source
    // element (row + i, row + col + j), col counting from the block's first
    // row; the block must lie in the stored upper triangle.
    bool Attach(const CMatrix& source, int row, int col, int nrows, int ncols);
    // A packed nrows x nrows view whose row i starts at the source's stored
    // double col of row row + i; with col 0 the diagonal block at (row, row).
    bool AttachSymmetric(const CMatrix& source, int row, int col, int nrows, int ncols);

private:
    bool SetRows(double** table, int rows, int cols);
};

// Owning array of matrices (work blocks of the adjustments). A new element is
// an empty 0 x 0 matrix.
class CMatrixArray : public COwningArray<CMatrix>
{
public:
    explicit CMatrixArray(int growBy = 0) : COwningArray<CMatrix>(growBy) {}
};
