#include "Vector.h"

#include "Matrix.h"
#include "MatrixAccess.h"

#include <cmath>
#include <cstring>
#include <new>
#include <utility>

using namespace matrix_detail;

namespace {

inline int MinSize(int a, int b)
{
    return a < b ? a : b;
}

} // namespace

// ---------------------------------------------------------------------------
// CValueBuffer

CValueBuffer::CValueBuffer(const CValueBuffer& other)
{
    if (other.m_size > 0) {
        m_data = new (std::nothrow) double[static_cast<size_t>(other.m_size)];
        if (m_data) {
            m_size = other.m_size;
            std::memcpy(m_data, other.m_data, static_cast<size_t>(m_size) * sizeof(double));
        }
    }
}

CValueBuffer::~CValueBuffer()
{
    Free();
}

void CValueBuffer::Free()
{
    delete[] m_data;
    m_data = nullptr;
    m_size = 0;
}

bool CValueBuffer::Resize(int n)
{
    if (n < 0)
        return false;
    if (n == m_size)
        return true;
    if (n == 0) {
        Free();
        return true;
    }
    double* block = new (std::nothrow) double[static_cast<size_t>(n)]();
    if (!block)
        return false;
    const int keep = MinSize(n, m_size);
    if (keep > 0)
        std::memcpy(block, m_data, static_cast<size_t>(keep) * sizeof(double));
    delete[] m_data;
    m_data = block;
    m_size = n;
    return true;
}

// ---------------------------------------------------------------------------
// CVector

CVector::CVector(int n)
{
    Resize(n);
}

CVector::CVector(CVector&& other) noexcept
{
    std::swap(m_size, other.m_size);
    std::swap(m_data, other.m_data);
}

CVector::~CVector()
{
    Free();
}

CVector& CVector::operator=(const CVector& other)
{
    if (this == &other)
        return *this;
    if (other.m_size == m_size) {
        if (m_size)
            std::memcpy(m_data, other.m_data, static_cast<size_t>(m_size) * sizeof(double));
        return *this;
    }
    CVector copy(other);
    if (copy.m_size != other.m_size)
        return *this;   // allocation failed: keep the old values
    std::swap(m_size, copy.m_size);
    std::swap(m_data, copy.m_data);
    return *this;
}

CVector& CVector::operator=(CVector&& other) noexcept
{
    std::swap(m_size, other.m_size);
    std::swap(m_data, other.m_data);
    return *this;
}

CVector& CVector::operator=(const CMatrix& m)
{
    if (!Resize(m.GetRows()))
        return *this;
    if (Width(m) == 0) {
        Zero();
        return *this;
    }
    for (int i = 0; i < m_size; ++i)
        m_data[i] = m.GetAt(i, 0);
    return *this;
}

void CVector::Zero()
{
    if (m_size)
        std::memset(m_data, 0, static_cast<size_t>(m_size) * sizeof(double));
}

double CVector::Norm() const
{
    double s = 0.0;
    for (int i = 0; i < m_size; ++i)
        s += m_data[i] * m_data[i];
    return std::sqrt(s);
}

double CVector::Dot(const CVector& b) const
{
    const int n = MinSize(m_size, b.m_size);
    double s = 0.0;
    for (int i = 0; i < n; ++i)
        s += m_data[i] * b.m_data[i];
    return s;
}

double CVector::GetMin(int* index) const
{
    if (m_size == 0) {
        if (index)
            *index = -1;
        return 0.0;
    }
    int best = 0;
    for (int i = 1; i < m_size; ++i)
        if (m_data[i] < m_data[best])
            best = i;
    if (index)
        *index = best;
    return m_data[best];
}

void CVector::Scale(double f)
{
    for (int i = 0; i < m_size; ++i)
        m_data[i] *= f;
}

CVector& CVector::operator+=(const CVector& b)
{
    const int n = MinSize(m_size, b.m_size);
    for (int i = 0; i < n; ++i)
        m_data[i] += b.m_data[i];
    return *this;
}

CVector& CVector::operator-=(const CVector& b)
{
    const int n = MinSize(m_size, b.m_size);
    for (int i = 0; i < n; ++i)
        m_data[i] -= b.m_data[i];
    return *this;
}

CVector CVector::operator+(const CVector& b) const
{
    CVector r(*this);
    r += b;
    return r;
}

CVector CVector::operator-(const CVector& b) const
{
    CVector r(*this);
    r -= b;
    return r;
}

CVector CVector::operator*(double f) const
{
    CVector r(*this);
    r.Scale(f);
    return r;
}

bool CVector::SetCross(const CVector& a, const CVector& b)
{
    if (a.m_size < 3 || b.m_size < 3)
        return false;
    const double x = a.m_data[1] * b.m_data[2] - a.m_data[2] * b.m_data[1];
    const double y = a.m_data[2] * b.m_data[0] - a.m_data[0] * b.m_data[2];
    const double z = a.m_data[0] * b.m_data[1] - a.m_data[1] * b.m_data[0];
    if (!Resize(3))
        return false;
    m_data[0] = x;
    m_data[1] = y;
    m_data[2] = z;
    return true;
}

void CVector::Normalize()
{
    const double n = Norm();
    for (int i = 0; i < m_size; ++i)
        m_data[i] /= n;
}

double CVector::AngleTo(const CVector& b) const
{
    CVector c;
    if (!c.SetCross(*this, b))
        return 0.0;
    return std::atan2(c.Norm(), Dot(b));
}

bool CVector::MakePerpendicularAxes(CVector& u, CVector& v)
{
    if (m_size < 3)
        return false;
    CVector axis(3);
    axis[0] = 1.0;
    u.SetCross(axis, *this);
    if (u.Norm() < 1e-7) {
        axis[0] = 0.0;
        axis[1] = 1.0;
        u.SetCross(axis, *this);
    }
    u.Normalize();
    v.SetCross(*this, u);
    Normalize();
    return true;
}

bool CVector::AccumulateAtv(const CMatrix& a, const CVector& x, double sign)
{
    if (a.IsSymmetric() || a.GetRows() != x.m_size || m_size != a.GetCols())
        return false;
    // this(j) += sign * sum over i of A(i, j) x(i), one sum per element.
    const FullAccess A{a.GetRowTable()};
    const double* xv = x.m_data;
    auto c = [xv](int k) { return xv[k]; };
    RowCombine(m_data, 0, m_size, x.m_size, c, A, sign);
    return true;
}

bool CVector::AddAtv(const CMatrix& a, const CVector& x)
{
    return AccumulateAtv(a, x, 1.0);
}

bool CVector::SubtractAtv(const CMatrix& a, const CVector& x)
{
    return AccumulateAtv(a, x, -1.0);
}

bool CVector::AddAtSv(const CMatrix& a, const CMatrix& s, const CVector& x)
{
    if (a.IsSymmetric() || a.GetRows() != x.m_size || !s.IsSymmetric() || s.GetRows() != a.GetRows() ||
        m_size != a.GetCols())
        return false;
    CMatrix ats(a.GetCols(), a.GetRows());
    if (ats.GetRows() != a.GetCols() || !ats.AddAtS(a, s))
        return false;
    return AccumulateAv(ats, x, 1.0);
}

bool CVector::AddSv(const CMatrix& s, const CVector& x)
{
    if (!s.IsSymmetric() || s.GetRows() != x.m_size || m_size != x.m_size)
        return false;
    const PackedAccess S{s.GetRowTable()};
    const double* xv = x.m_data;
    for (int i = 0; i < m_size; ++i) {
        double sum = 0.0;
        for (int k = 0; k < m_size; ++k)
            sum += S(i, k) * xv[k];
        m_data[i] += sum;
    }
    return true;
}

bool CVector::AccumulateAv(const CMatrix& a, const CVector& x, double sign)
{
    if (a.IsSymmetric() || a.GetCols() != x.m_size || m_size != a.GetRows())
        return false;
    double* const* rows = a.GetRowTable();
    const double* xv = x.m_data;
    const int n = x.m_size;
    for (int i = 0; i < m_size; ++i) {
        const double* r = rows[i];
        double sum = 0.0;
        for (int k = 0; k < n; ++k)
            sum += r[k] * xv[k];
        m_data[i] += sign * sum;
    }
    return true;
}

bool CVector::AddAv(const CMatrix& a, const CVector& x)
{
    return AccumulateAv(a, x, 1.0);
}

bool CVector::SubtractAv(const CMatrix& a, const CVector& x)
{
    return AccumulateAv(a, x, -1.0);
}

// ---------------------------------------------------------------------------
// CValueSeries

CValueSeries::~CValueSeries() = default;

double CValueSeries::Mean() const
{
    if (m_size == 0)
        return 0.0;
    double s = 0.0;
    for (int i = 0; i < m_size; ++i)
        s += m_data[i];
    return s / m_size;
}

double CValueSeries::StdDev(double mean) const
{
    if (m_size <= 1)
        return 0.0;
    double s = 0.0;
    for (int i = 0; i < m_size; ++i) {
        const double d = m_data[i] - mean;
        s += d * d;
    }
    return std::sqrt(s / (m_size - 1));
}

double CValueSeries::Max() const
{
    if (m_size == 0)
        return 0.0;
    double m = m_data[0];
    for (int i = 1; i < m_size; ++i)
        if (m_data[i] > m)
            m = m_data[i];
    return m;
}

// ---------------------------------------------------------------------------
// CIndexArray and CIntVector

CIndexArray::CIndexArray(const CIndexArray& other)
{
    *this = other;
}

CIndexArray::~CIndexArray()
{
    Free();
}

void CIndexArray::Free()
{
    delete[] m_data;
    m_data = nullptr;
    m_count = 0;
}

CIndexArray& CIndexArray::operator=(const CIndexArray& other)
{
    if (this == &other)
        return *this;
    if (other.m_count == 0) {
        Free();
        return *this;
    }
    int32_t* block = new (std::nothrow) int32_t[static_cast<size_t>(other.m_count)];
    if (!block)
        return *this;
    std::memcpy(block, other.m_data, static_cast<size_t>(other.m_count) * sizeof(int32_t));
    delete[] m_data;
    m_data = block;
    m_count = other.m_count;
    return *this;
}

bool CIndexArray::SetSize(int n)
{
    if (n < 0)
        return false;
    if (n == m_count)
        return true;
    if (n == 0) {
        Free();
        return true;
    }
    int32_t* block = new (std::nothrow) int32_t[static_cast<size_t>(n)]();
    if (!block)
        return false;
    const int keep = MinSize(n, m_count);
    if (keep > 0)
        std::memcpy(block, m_data, static_cast<size_t>(keep) * sizeof(int32_t));
    delete[] m_data;
    m_data = block;
    m_count = n;
    return true;
}

CIntVector::~CIntVector() = default;
