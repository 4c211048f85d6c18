// Vectors of doubles and of ints.
#pragma once

#include "OwningArray.h"

#include <cassert>
#include <cstdint>

class CMatrix;
class CBinArchive;

// Storage of a vector of doubles.
class CValueBuffer
{
public:
    CValueBuffer() = default;
    CValueBuffer(const CValueBuffer& other);
    ~CValueBuffer();

    // Keeps the leading values and zero-fills the growth; 0 frees the block.
    // false (nothing changed) for a negative size or a failed allocation.
    bool Resize(int n);
    int GetSize() const { return m_size; }
    double* GetData() { return m_data; }
    const double* GetData() const { return m_data; }

    double& operator[](int i)
    {
        assert(i >= 0 && i < m_size);
        return m_data[i];
    }
    double operator[](int i) const
    {
        assert(i >= 0 && i < m_size);
        return m_data[i];
    }

protected:
    CValueBuffer& operator=(const CValueBuffer&) = delete;
    void Free();

    int m_size = 0;
    double* m_data = nullptr;
};

class CVector : public CValueBuffer
{
public:
    CVector() = default;
    explicit CVector(int n);
    CVector(const CVector& other) = default;
    CVector(CVector&& other) noexcept;
    virtual ~CVector();

    CVector& operator=(const CVector& other);
    CVector& operator=(CVector&& other) noexcept;
    // The values of the matrix's first column.
    CVector& operator=(const CMatrix& m);

    void Zero();
    double Norm() const;
    // Element-wise operations run over the common length of both vectors.
    double Dot(const CVector& b) const;
    double GetMin(int* index) const;
    void Scale(double f);
    CVector& operator+=(const CVector& b);
    CVector& operator-=(const CVector& b);
    CVector operator+(const CVector& b) const;
    CVector operator-(const CVector& b) const;
    CVector operator*(double f) const;

    // 3D operations; false when an operand has fewer than 3 values.
    bool SetCross(const CVector& a, const CVector& b);
    void Normalize();
    double AngleTo(const CVector& b) const;
    bool MakePerpendicularAxes(CVector& u, CVector& v);

    // Products with matrices; false (nothing changed) on a shape mismatch.
    bool AddAtv(const CMatrix& a, const CVector& x);
    bool SubtractAtv(const CMatrix& a, const CVector& x);
    bool AddAtSv(const CMatrix& a, const CMatrix& s, const CVector& x);
    bool AddSv(const CMatrix& s, const CVector& x);
    bool AddAv(const CMatrix& a, const CVector& x);
    bool SubtractAv(const CMatrix& a, const CVector& x);

private:
    bool AccumulateAtv(const CMatrix& a, const CVector& x, double sign);
    bool AccumulateAv(const CMatrix& a, const CVector& x, double sign);
};

// A series of values with its statistics.
class CValueSeries : public CVector
{
public:
    CValueSeries() = default;
    explicit CValueSeries(int n) : CVector(n) {}
    virtual ~CValueSeries();
    using CVector::operator=;

    double Mean() const;
    // Sample standard deviation about the given mean; 0.0 for fewer than 2 values.
    double StdDev(double mean) const;
    double Max() const;
};

// Storage of a vector of 32-bit ints.
class CIndexArray
{
public:
    CIndexArray() = default;
    CIndexArray(const CIndexArray& other);
    ~CIndexArray();
    CIndexArray& operator=(const CIndexArray& other);

    bool SetSize(int n);
    int GetSize() const { return m_count; }
    int32_t* GetData() { return m_data; }
    const int32_t* GetData() const { return m_data; }

    int32_t& operator[](int i)
    {
        assert(i >= 0 && i < m_count);
        return m_data[i];
    }
    int32_t operator[](int i) const
    {
        assert(i >= 0 && i < m_count);
        return m_data[i];
    }

protected:
    void Free();

    int m_count = 0;
    int32_t* m_data = nullptr;
};

class CIntVector : public CIndexArray
{
public:
    CIntVector() = default;
    CIntVector(const CIntVector& other) = default;
    CIntVector& operator=(const CIntVector& other) = default;
    virtual ~CIntVector();

    // Count, then each int. A load whose count is negative or larger than the
    // rest of the archive fails: the vector is emptied and the archive marked failed.
    bool Serialize(CBinArchive& ar);
};

// Owning array of vectors (work vectors of the adjustments). A new element is
// an empty vector.
class CVectorArray : public COwningArray<CVector>
{
public:
    explicit CVectorArray(int growBy = 0) : COwningArray<CVector>(growBy) {}
};
