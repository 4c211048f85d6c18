// Text output and the archive form of matrices and int vectors.
#include "BinArchive.h"
#include "DynString.h"
#include "Matrix.h"
#include "TextFile.h"
#include "Vector.h"

#include <cstdio>

void CMatrix::Print() const
{
    CDynString text;
    text.Format("Matrix (%d x %d)\n", m_rows, IsSymmetric() ? m_rows : m_cols);
    std::fputs(text.GetText(), stdout);
    const int width = IsSymmetric() ? m_rows : m_cols;
    for (int i = 0; i < m_rows; ++i) {
        CDynString line;
        for (int j = 0; j < width; ++j)
            line.AppendFormat(" %12.4f", GetAt(i, j));
        line.AppendFormat("\n");
        std::fputs(line.GetText(), stdout);
    }
    std::fflush(stdout);
}

bool CMatrix::WriteText(const char* path) const
{
    CTextFile file(path, std::ios::out);
    if (!file)
        return false;
    const int width = IsSymmetric() ? m_rows : m_cols;
    for (int i = 0; i < m_rows; ++i) {
        CDynString line;
        for (int j = 0; j < width; ++j)
            line.AppendFormat("%.16e\t", GetAt(i, j));
        file.WriteLine(line);
    }
    file.close();
    return static_cast<bool>(file);
}

// rows, cols (-1 for the packed form), then the stored doubles row by row.
bool CMatrix::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(m_rows);
        ar.WriteInt(IsSymmetric() ? -1 : m_cols);
        for (int i = 0; i < m_rows; ++i) {
            const double* row = m_rowData[i];
            const int len = GetRowLength(i);
            for (int j = 0; j < len; ++j)
                ar.WriteDouble(row[j]);
        }
        return static_cast<bool>(ar);
    }
    std::int32_t rows = 0, cols = 0;
    ar.ReadInt(rows).ReadInt(cols);
    if (!ar)
        return false;
    if (cols < -1) {
        ar.setstate(std::ios::failbit);
        return false;
    }
    // A negative row count or more values than bytes left fail the archive
    // before anything is allocated. Rows without values (no columns) still
    // cost a row pointer each; their count may not exceed the bytes left either.
    const std::int64_t count = cols < 0 ? static_cast<std::int64_t>(rows) * (static_cast<std::int64_t>(rows) + 1) / 2
                                        : static_cast<std::int64_t>(rows) * cols;
    if (rows < 0 || !ar.CheckCount(count, 8) || (cols == 0 && !ar.CheckCount(rows, 1))) {
        ar.setstate(std::ios::failbit);
        return false;
    }
    if (!Resize(rows, cols)) {
        ar.setstate(std::ios::failbit);
        return false;
    }
    for (int i = 0; i < m_rows; ++i) {
        double* row = m_rowData[i];
        const int len = GetRowLength(i);
        for (int j = 0; j < len; ++j)
            ar.ReadDouble(row[j]);
    }
    if (!ar) {
        if (!Resize(0, 0))
            Zero();
        return false;
    }
    return true;
}

bool CIntVector::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(m_count);
        for (int i = 0; i < m_count; ++i)
            ar.WriteInt(m_data[i]);
        return static_cast<bool>(ar);
    }
    std::int32_t count = 0;
    ar.ReadInt(count);
    if (!ar.CheckCount(count, 4) || !SetSize(count)) {
        ar.setstate(std::ios::failbit);
        SetSize(0);
        return false;
    }
    for (int i = 0; i < m_count; ++i)
        ar.ReadInt(m_data[i]);
    if (!ar) {
        SetSize(0);
        return false;
    }
    return true;
}
