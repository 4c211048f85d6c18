// Line scanning of 3D coordinate files (reader and writer are members of
// CPointSet).
#pragma once

#include <cstddef>

// The fields of one coordinate line: the label token and up to ten numbers.
struct CXyzFields
{
    static constexpr int kMaxNumbers = 10;
    // The label token when it has at most 16 characters, else "" and
    // labelTooLong set.
    char label[17] = {0};
    bool labelTooLong = false;
    double d[kMaxNumbers] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // Text is left after the fields converted (a word, or an eleventh number).
    bool moreText = false;
};

// Scans a line as "%s" followed by up to ten "%lf" in the C locale. Returns
// the number of fields converted, or -1 for a line with no field at all.
int ScanXyzLine(const char* line, CXyzFields& fields);
