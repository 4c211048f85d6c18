// Helpers for tests of text reports: whole-file reads and the masking of the
// date line.
#pragma once

#include <fstream>
#include <string>

#include "TestFiles.h"

using TestFolder = kestrelon::test::TempFolder;

// The whole file; false when it cannot be opened.
inline bool ReadWholeFile(const std::string& path, std::string& out)
{
    if (!std::ifstream(path, std::ios::binary))
        return false;
    out = kestrelon::test::ReadFileBytes(path);
    return true;
}

// True when s is exactly a report date: "dd Month, yyyy   hh:mm:ss".
inline bool IsReportDateText(const std::string& s)
{
    auto digit = [&](size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
    if (!digit(0) || !digit(1) || s.size() < 4 || s[2] != ' ' || s[3] < 'A' || s[3] > 'Z')
        return false;
    size_t i = 4;
    while (i < s.size() && s[i] >= 'a' && s[i] <= 'z')
        ++i;
    const char* tail = ", 0000   00:00:00";
    if (i == 4 || s.size() - i != 17)
        return false;
    for (size_t k = 0; k < 17; ++k) {
        const char c = s[i + k];
        if (tail[k] == '0' ? (c < '0' || c > '9') : c != tail[k])
            return false;
    }
    return true;
}

// Replaces every line that holds "prefix" followed by a report date
// right-aligned to end at column `end` (end 0: no alignment, the date right
// after the prefix) by the prefix and "@DATE@". Lines end in CR LF.
inline std::string MaskDateLines(const std::string& text, const std::string& prefix, int end)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find("\r\n", start);
        const bool last = stop == std::string::npos;
        if (last)
            stop = text.size();
        std::string line = text.substr(start, stop - start);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            size_t p = prefix.size();
            while (end > 0 && p < line.size() && line[p] == ' ')
                ++p;
            if (IsReportDateText(line.substr(p)) && (end == 0 || static_cast<int>(line.size()) == end))
                line = prefix + "@DATE@";
        }
        out += line;
        if (!last)
            out += "\r\n";
        start = last ? stop : stop + 2;
    }
    return out;
}
