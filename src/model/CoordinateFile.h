// Line scanning of 3D coordinate files (reader and writer are members of
// CPointSet).
#pragma once

#include <cstddef>
#include <istream>

// Reads lines of at most maxLength characters from a stream. A line ends at
// "\n"; a "\r" before it (or at the end of the data) is dropped and never
// counts toward the limit; the rest of a longer line is skipped. A NUL byte
// ends the line's text.
class CXyzLineReader
{
public:
    CXyzLineReader(std::istream& in, int maxLength);

    // Reads the next line into buffer (maxLength + 1 bytes, NUL-terminated).
    // Returns false when nothing is left to read. After the last line of
    // data that ends with "\n" one more, empty, line is returned, as a
    // line-by-line read until the end of the file sees it.
    bool Next(char* buffer);
    // True when the stream reported an error other than reaching its end.
    bool Failed() const { return failed; }

private:
    std::istream& in;
    int maxLength;
    bool done = false;
    bool failed = false;
};

// The fields of one coordinate line: the label token and up to ten numbers.
struct CXyzFields
{
    static constexpr int kMaxNumbers = 10;
    // The label token when it has at most 16 characters, else "" and
    // labelTooLong set.
    char label[17] = {0};
    bool labelTooLong = false;
    double d[kMaxNumbers] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
};

// Scans a line as "%s" followed by up to ten "%lf" in the C locale. Returns
// the number of fields converted, or -1 for a line with no field at all.
int ScanXyzLine(const char* line, CXyzFields& fields);
