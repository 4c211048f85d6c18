// Guard for records read from an archive that may be truncated or hostile:
// a matrix's shape is checked before the matrix allocates anything.
#pragma once

#include <cstdint>

#include "BinArchive.h"

namespace archive_guard {

// Looks at the shape words of a stored matrix without consuming them: true
// when the shape is rows x cols (cols -1: packed symmetric) for one of the
// accepted sizes and its values fit in the bytes left.
inline bool PeekMatrixShape(CBinArchive& ar, const int* acceptedRows, int acceptedCount)
{
    if (ar.fail()) return false;
    const std::streampos here = ar.tellg();
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    ar.ReadInt(rows);
    ar.ReadInt(cols);
    if (ar.fail()) return false;
    const std::int64_t left = ar.RemainingBytes();
    ar.seekg(here);
    if (ar.fail()) return false;
    bool accepted = false;
    for (int i = 0; i < acceptedCount; ++i)
        if (rows == acceptedRows[i]) accepted = true;
    if (!accepted) return false;
    std::int64_t values = 0;
    if (cols == -1)
        values = static_cast<std::int64_t>(rows) * (rows + 1) / 2;
    else if (cols == rows || (rows == 0 && cols >= 0))
        values = static_cast<std::int64_t>(rows) * cols;
    else
        return false;
    return values * 8 <= left;
}

} // namespace archive_guard
