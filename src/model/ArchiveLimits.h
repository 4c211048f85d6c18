// Small helpers for records that read from an archive.
#pragma once

#include <cstdint>
#include <ios>

#include "BinArchive.h"

inline bool ArchiveFailed(const CBinArchive& ar)
{
    return ar.fail();
}

inline void MarkArchiveFailed(CBinArchive& ar)
{
    ar.setstate(std::ios::failbit);
}

// True when count elements of at least elementBytes each fit in what is left
// of the archive; otherwise the archive is marked failed.
inline bool CountFits(CBinArchive& ar, int64_t count, int64_t elementBytes)
{
    return ar.CheckCount(count, elementBytes);
}
