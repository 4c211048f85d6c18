#include "Matrix.h"

#include "MatrixAccess.h"
#include "Vector.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

using namespace matrix_detail;

namespace {

size_t StoredCount(int rows, int cols)
{
    if (rows <= 0)
        return 0;
    const size_t n = static_cast<size_t>(rows);
    return cols < 0 ? n * (n + 1) / 2 : n * static_cast<size_t>(cols);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and storage

CMatrix::CMatrix() = default;

CMatrix::CMatrix(int rows, int cols)
{
    Resize(rows, cols);
}

CMatrix::CMatrix(const CMatrix& other)
{
    if (Allocate(other.m_rows, other.m_cols))
        CopyValuesFrom(other);
}

CMatrix::CMatrix(CMatrix&& other) noexcept
{
    if (other.m_view) {
        if (Allocate(other.m_rows, other.m_cols))
            CopyValuesFrom(other);
        return;
    }
    std::swap(m_rows, other.m_rows);
    std::swap(m_cols, other.m_cols);
    std::swap(m_rowData, other.m_rowData);
    std::swap(m_block, other.m_block);
}

CMatrix::CMatrix(const CVector& v)
{
    if (Allocate(v.GetSize(), 1))
        for (int i = 0; i < m_rows; ++i)
            m_rowData[i][0] = v[i];
}

CMatrix::~CMatrix()
{
    FreeStorage();
}

void CMatrix::FreeStorage()
{
    delete[] m_rowData;
    if (!m_view)
        delete[] m_block;
    m_rowData = nullptr;
    m_block = nullptr;
}

size_t CMatrix::GetStoredCount() const
{
    return StoredCount(m_rows, m_cols);
}

// Frees the old storage and allocates zero-filled storage of the given shape.
// On a failed allocation the matrix is left empty (0 x 0) and false returned.
bool CMatrix::Allocate(int rows, int cols)
{
    assert(!m_view);
    FreeStorage();
    if (cols < 0)
        cols = -1;
    if (rows < 0)
        rows = 0;
    m_rows = rows;
    m_cols = cols;
    if (rows == 0)
        return true;
    const size_t count = StoredCount(rows, cols);
    double** table = new (std::nothrow) double*[static_cast<size_t>(rows)];
    double* block = count ? new (std::nothrow) double[count]() : nullptr;
    if (!table || (count && !block)) {
        delete[] table;
        delete[] block;
        m_rows = 0;
        m_cols = 0;
        return false;
    }
    size_t offset = 0;
    for (int i = 0; i < rows; ++i) {
        table[i] = count ? block + offset : nullptr;
        offset += static_cast<size_t>(cols < 0 ? rows - i : cols);
    }
    m_rowData = table;
    m_block = block;
    return true;
}

// Copies the stored values of a matrix of the same shape, row by row.
void CMatrix::CopyValuesFrom(const CMatrix& other)
{
    assert(SameShape(other));
    for (int i = 0; i < m_rows; ++i) {
        const size_t len = static_cast<size_t>(GetRowLength(i));
        if (len)
            std::memmove(m_rowData[i], other.m_rowData[i], len * sizeof(double));
    }
}

CMatrix& CMatrix::operator=(const CMatrix& other)
{
    if (this == &other)
        return *this;
    if (m_view) {
        if (SameShape(other))
            CopyValuesFrom(other);
        return *this;
    }
    if (SameShape(other)) {
        CopyValuesFrom(other);
        return *this;
    }
    if (Allocate(other.m_rows, other.m_cols))
        CopyValuesFrom(other);
    return *this;
}

CMatrix& CMatrix::operator=(CMatrix&& other) noexcept
{
    if (this == &other)
        return *this;
    if (m_view || other.m_view)
        return *this = static_cast<const CMatrix&>(other);
    std::swap(m_rows, other.m_rows);
    std::swap(m_cols, other.m_cols);
    std::swap(m_rowData, other.m_rowData);
    std::swap(m_block, other.m_block);
    return *this;
}

CMatrix& CMatrix::operator=(const CVector& v)
{
    if (!Resize(v.GetSize(), 1))
        return *this;
    for (int i = 0; i < m_rows; ++i)
        m_rowData[i][0] = v[i];
    return *this;
}

bool CMatrix::Resize(int rows, int cols)
{
    if (cols < 0)
        cols = -1;
    if (rows < 0)
        return false;
    if (rows == m_rows && cols == m_cols) {
        Zero();
        return true;
    }
    if (m_view)
        return false;
    return Allocate(rows, cols);
}

bool CMatrix::ResizePreserve(int rows, int cols)
{
    if (cols < 0)
        cols = -1;
    if (rows < 0)
        return false;
    if (rows == m_rows && cols == m_cols)
        return true;
    if (m_view)
        return false;
    CMatrix old(std::move(*this));
    if (!Allocate(rows, cols)) {
        *this = std::move(old);
        return false;
    }
    const int r = rows < old.m_rows ? rows : old.m_rows;
    if (old.m_cols == m_cols) {
        // Same form: each row keeps its leading values, so every element
        // (i, j) inside both shapes keeps its place.
        for (int i = 0; i < r; ++i) {
            int len = GetRowLength(i);
            const int oldLen = old.GetRowLength(i);
            if (oldLen < len)
                len = oldLen;
            if (len > 0)
                std::memcpy(m_rowData[i], old.m_rowData[i], static_cast<size_t>(len) * sizeof(double));
        }
    } else {
        const int w = Width(*this) < Width(old) ? Width(*this) : Width(old);
        for (int i = 0; i < r; ++i)
            for (int j = IsSymmetric() ? i : 0; j < w; ++j)
                m_rowData[i][IsSymmetric() ? j - i : j] = old.GetAt(i, j);
    }
    return true;
}

void CMatrix::Zero()
{
    for (int i = 0; i < m_rows; ++i) {
        const size_t len = static_cast<size_t>(GetRowLength(i));
        if (len)
            std::memset(m_rowData[i], 0, len * sizeof(double));
    }
}

bool CMatrix::SetDiagonal(double value)
{
    if (!IsSymmetric() && m_rows != m_cols)
        return false;
    for (int i = 0; i < m_rows; ++i)
        m_rowData[i][IsSymmetric() ? 0 : i] = value;
    return true;
}

bool CMatrix::HasNonNegativeDiagonal() const
{
    if (!IsSymmetric())
        return false;
    for (int i = 0; i < m_rows; ++i)
        if (m_rowData[i][0] < 0.0)
            return false;
    return true;
}

bool CMatrix::GetBlock(CMatrix& dest, int first, int last) const
{
    if (first < 0 || last < first || last >= m_rows || last >= Width(*this) || &dest == this)
        return false;
    const int n = last - first + 1;
    if (!dest.Resize(n, IsSymmetric() ? -1 : n))
        return false;
    for (int i = 0; i < n; ++i) {
        const int len = dest.GetRowLength(i);
        const double* src = IsSymmetric() ? m_rowData[first + i] : m_rowData[first + i] + first;
        std::memcpy(dest.m_rowData[i], src, static_cast<size_t>(len) * sizeof(double));
    }
    return true;
}

bool CMatrix::SetColumns(const CVector& a, const CVector& b, const CVector& c)
{
    if (a.GetSize() != 3 || b.GetSize() != 3 || c.GetSize() != 3)
        return false;
    const double va[3] = {a[0], a[1], a[2]};
    const double vb[3] = {b[0], b[1], b[2]};
    const double vc[3] = {c[0], c[1], c[2]};
    if (!Resize(3, 3))
        return false;
    for (int i = 0; i < 3; ++i) {
        m_rowData[i][0] = va[i];
        m_rowData[i][1] = vb[i];
        m_rowData[i][2] = vc[i];
    }
    return true;
}

bool CMatrix::Transpose()
{
    if (IsSymmetric())
        return true;
    if (m_rows == m_cols) {
        for (int i = 0; i < m_rows; ++i)
            for (int j = i + 1; j < m_cols; ++j)
                std::swap(m_rowData[i][j], m_rowData[j][i]);
        return true;
    }
    if (m_view)
        return false;
    CMatrix t(m_cols, m_rows);
    if (t.m_rows != m_cols || t.m_cols != m_rows)
        return false;
    for (int i = 0; i < m_rows; ++i)
        for (int j = 0; j < m_cols; ++j)
            t.m_rowData[j][i] = m_rowData[i][j];
    *this = std::move(t);
    return true;
}

// ---------------------------------------------------------------------------
// Arithmetic

CMatrix& CMatrix::operator+=(const CMatrix& other)
{
    if (!SameShape(other))
        return *this;
    for (int i = 0; i < m_rows; ++i) {
        double* d = m_rowData[i];
        const double* s = other.m_rowData[i];
        const int len = GetRowLength(i);
        for (int j = 0; j < len; ++j)
            d[j] += s[j];
    }
    return *this;
}

CMatrix& CMatrix::operator-=(const CMatrix& other)
{
    if (!SameShape(other))
        return *this;
    for (int i = 0; i < m_rows; ++i) {
        double* d = m_rowData[i];
        const double* s = other.m_rowData[i];
        const int len = GetRowLength(i);
        for (int j = 0; j < len; ++j)
            d[j] -= s[j];
    }
    return *this;
}

CMatrix CMatrix::operator+(const CMatrix& other) const
{
    CMatrix r(*this);
    r += other;
    return r;
}

CMatrix CMatrix::operator-(const CMatrix& other) const
{
    CMatrix r(*this);
    r -= other;
    return r;
}

bool CMatrix::Scale(double f)
{
    for (int i = 0; i < m_rows; ++i) {
        double* d = m_rowData[i];
        const int len = GetRowLength(i);
        for (int j = 0; j < len; ++j)
            d[j] *= f;
    }
    return true;
}

CMatrix CMatrix::operator*(double f) const
{
    CMatrix r(*this);
    r.Scale(f);
    return r;
}

bool CMatrix::operator==(const CMatrix& other) const
{
    if (IsSymmetric() != other.IsSymmetric() || !SameShape(other))
        return false;
    for (int i = 0; i < m_rows; ++i) {
        const double* a = m_rowData[i];
        const double* b = other.m_rowData[i];
        const int len = GetRowLength(i);
        for (int j = 0; j < len; ++j)
            if (a[j] != b[j])
                return false;
    }
    return true;
}

bool CMatrix::MultiplyRight(const CMatrix& b)
{
    if (m_cols != b.m_rows)
        return false;
    const CMatrix a(*this);
    // b may be this matrix or a view into its storage, which the resize frees.
    const bool aliased = &b == this ||
        (b.m_view && b.m_rows > 0 && m_block && b.m_rowData[0] >= m_block &&
         b.m_rowData[0] < m_block + GetStoredCount());
    if (aliased) {
        const CMatrix bb(b);
        if (!Resize(m_rows, bb.m_cols))
            return false;
        Zero();
        return AddProduct(a, bb, 0, 1);
    }
    if (!Resize(m_rows, b.m_cols))
        return false;
    Zero();
    return AddProduct(a, b, 0, 1);
}

CMatrix& CMatrix::operator*=(const CMatrix& b)
{
    MultiplyRight(b);
    return *this;
}

CMatrix operator*(const CMatrix& a, const CMatrix& b)
{
    CMatrix r(a);
    r.MultiplyRight(b);
    return r;
}

// ---------------------------------------------------------------------------
// Accumulators

namespace {

// Adds f * C B into the target rows 0 .. nRows-1 and columns 0 .. nCols-1
// (j >= i for a packed target), where C(i, k) and B(k, j) are accessors and
// k runs over 0 .. K-1.
template <class C, class B>
void Accumulate(CMatrix& t, int nRows, int nCols, int K, const C& c, const B& b, double f)
{
    double* const* rows = t.GetRowTable();
    const bool packed = t.IsSymmetric();
    for (int i = 0; i < nRows; ++i) {
        const int j0 = packed ? i : 0;
        auto ci = [&c, i](int k) { return c(i, k); };
        RowCombine(rows[i], j0, nCols, K, ci, b, f);
    }
}

// True when a result of nRows x nCols fits into the target (a packed target
// also needs a square result).
bool Fits(const CMatrix& t, int nRows, int nCols, bool square)
{
    if (nRows < 0 || nCols < 0 || t.GetRows() < nRows || Width(t) < nCols)
        return false;
    return !(t.IsSymmetric() && square && nRows != nCols);
}

} // namespace

bool CMatrix::AddAtA(const CMatrix& a, int sign)
{
    if (sign != 1 && sign != -1)
        return true;
    const int n = Width(a);
    if (!Fits(*this, n, n, true))
        return false;
    WithAccess(a, [&](auto A) {
        Accumulate(*this, n, n, a.m_rows, Transposed<decltype(A)>{A}, A, static_cast<double>(sign));
    });
    return true;
}

bool CMatrix::AddAAt(const CMatrix& a, int factor)
{
    const int n = a.m_rows;
    if (!Fits(*this, n, n, true))
        return false;
    WithAccess(a, [&](auto A) {
        Accumulate(*this, n, n, Width(a), A, Transposed<decltype(A)>{A}, static_cast<double>(factor));
    });
    return true;
}

bool CMatrix::AddProduct(const CMatrix& a, const CMatrix& b, int mode, int factor)
{
    if (mode < 0 || mode > 2)
        return true;
    const int ar = a.m_rows, ac = Width(a), br = b.m_rows, bc = Width(b);
    const double f = static_cast<double>(factor);
    switch (mode) {
    case 0:
        if (ac != br || !Fits(*this, ar, bc, true))
            return false;
        WithAccess(a, [&](auto A) {
            WithAccess(b, [&](auto B) { Accumulate(*this, ar, bc, ac, A, B, f); });
        });
        break;
    case 1:
        if (ar != br || !Fits(*this, ac, bc, true))
            return false;
        WithAccess(a, [&](auto A) {
            WithAccess(b, [&](auto B) {
                Accumulate(*this, ac, bc, ar, Transposed<decltype(A)>{A}, B, f);
            });
        });
        break;
    default:
        if (ac != bc || !Fits(*this, ar, br, true))
            return false;
        WithAccess(a, [&](auto A) {
            WithAccess(b, [&](auto B) {
                Accumulate(*this, ar, br, ac, A, Transposed<decltype(B)>{B}, f);
            });
        });
        break;
    }
    return true;
}

bool CMatrix::AddSymProduct(const CMatrix& a, const CMatrix& b, bool subtract)
{
    const int ac = Width(a);
    if (ac != b.m_rows || a.m_rows != Width(b) || m_rows != a.m_rows || !IsSymmetric())
        return false;
    WithAccess(a, [&](auto A) {
        WithAccess(b, [&](auto B) { Accumulate(*this, m_rows, m_rows, ac, A, B, subtract ? -1.0 : 1.0); });
    });
    return true;
}

bool CMatrix::AddProductSym(const CMatrix& a, const CMatrix& b)
{
    return AddSymProduct(a, b, false);
}

bool CMatrix::SubtractProductSym(const CMatrix& a, const CMatrix& b)
{
    return AddSymProduct(a, b, true);
}

bool CMatrix::AddCongruence(const CMatrix& a, const CMatrix& s)
{
    const int p = Width(a);
    if (!s.IsSymmetric() || (s.m_rows != p && s.m_rows != p + 1) || !IsSymmetric() || m_rows != a.m_rows)
        return false;
    // Row i of A S first, then its products with the rows of A.
    double local[32];
    std::vector<double> heap;
    double* w = local;
    if (p > 32) {
        heap.resize(static_cast<size_t>(p));
        w = heap.data();
    }
    const PackedAccess S{s.m_rowData};
    WithAccess(a, [&](auto A) {
        for (int i = 0; i < m_rows; ++i) {
            for (int l = 0; l < p; ++l) {
                double sum = 0.0;
                for (int k = 0; k < p; ++k)
                    sum += A(i, k) * S(k, l);
                w[l] = sum;
            }
            auto wk = [w](int k) { return w[k]; };
            RowCombine(m_rowData[i], i, m_rows, p, wk, Transposed<decltype(A)>{A}, 1.0);
        }
    });
    return true;
}

bool CMatrix::AddAtS(const CMatrix& a, const CMatrix& s)
{
    if (!s.IsSymmetric() || a.m_rows != s.m_rows || m_rows != Width(a) || m_cols != a.m_rows)
        return false;
    WithAccess(a, [&](auto A) {
        Accumulate(*this, m_rows, m_cols, a.m_rows, Transposed<decltype(A)>{A}, PackedAccess{s.m_rowData}, 1.0);
    });
    return true;
}

double CMatrix::AddQuadraticForm(const CVector& v, const CMatrix& s)
{
    if (m_rows == 0 || Width(*this) == 0)
        return 0.0;
    int n = v.GetSize();
    if (s.m_rows < n)
        n = s.m_rows;
    if (Width(s) < n)
        n = Width(s);
    const double* x = v.GetData();
    double q = 0.0;
    WithAccess(s, [&](auto S) {
        for (int j = 0; j < n; ++j) {
            double w = 0.0;
            for (int i = 0; i < n; ++i)
                w += x[i] * S(i, j);
            q += w * x[j];
        }
    });
    m_rowData[0][0] += q;
    return m_rowData[0][0];
}

bool CMatrix::AddBlock(const CMatrix& b, int row, int offset)
{
    const int br = b.m_rows, bc = Width(b);
    if (row < 0 || br == 0)
        return row >= 0;
    if (b.IsSymmetric()) {
        if (row + br > m_rows || row + br > Width(*this))
            return false;
        for (int i = 0; i < br; ++i) {
            const double* s = b.m_rowData[i];
            for (int j = i; j < br; ++j)
                *GetElementPtr(row + i, row + j) += s[j - i];
        }
        return true;
    }
    const int c0 = IsSymmetric() ? row + offset : offset;
    if (c0 < 0 || row + br > m_rows || c0 + bc > Width(*this))
        return false;
    for (int i = 0; i < br; ++i) {
        const double* s = b.m_rowData[i];
        for (int j = 0; j < bc; ++j)
            *GetElementPtr(row + i, c0 + j) += s[j];
    }
    return true;
}

// ---------------------------------------------------------------------------
// Block views

CMatrixBlock::CMatrixBlock()
{
    m_view = true;
}

CMatrixBlock::~CMatrixBlock() = default;

bool CMatrixBlock::SetRows(double** table, int rows, int cols)
{
    delete[] m_rowData;
    m_rowData = table;
    m_rows = rows;
    m_cols = cols;
    return true;
}

bool CMatrixBlock::Attach(const CMatrix& source, int row, int col, int nrows, int ncols)
{
    if (row < 0 || col < 0 || nrows < 0 || ncols < 0 || row + nrows > source.m_rows)
        return false;
    if (source.IsSymmetric()) {
        // Every element must lie in the stored upper triangle and inside the rows.
        if ((nrows > 0 && col < nrows - 1) || row + col + ncols > source.m_rows)
            return false;
    } else if (col + ncols > source.m_cols) {
        return false;
    }
    double** table = nullptr;
    if (nrows > 0) {
        table = new (std::nothrow) double*[static_cast<size_t>(nrows)];
        if (!table)
            return false;
        for (int i = 0; i < nrows; ++i)
            table[i] = source.IsSymmetric() ? source.GetRowPtrUnmapped(row + i, col - i)
                                            : source.GetRowPtrUnmapped(row + i, col);
    }
    return SetRows(table, nrows, ncols);
}

bool CMatrixBlock::AttachSymmetric(const CMatrix& source, int row, int col, int nrows, int ncols)
{
    if (row < 0 || col < 0 || nrows < 0 || ncols < 0 || row + nrows > source.m_rows)
        return false;
    if (source.IsSymmetric()) {
        if (row + col + nrows > source.m_rows)
            return false;
    } else if (col + ncols > source.m_cols || col + nrows > source.m_cols) {
        return false;
    }
    double** table = nullptr;
    if (nrows > 0) {
        table = new (std::nothrow) double*[static_cast<size_t>(nrows)];
        if (!table)
            return false;
        for (int i = 0; i < nrows; ++i)
            table[i] = source.GetRowPtrUnmapped(row + i, col);
    }
    return SetRows(table, nrows, -1);
}
