// The lines of a text file, as every text reader of the system takes them.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// Calls sink(line, length) for each line of the text in order, passing every
// line whole, however long. A line ends at "\n"; one "\r" before it (or at
// the end of the text) is dropped. A last line without a line end counts; a
// text that ends with "\n" has no empty line after it. A sink that returns
// false ends the walk. Returns the number of lines passed; the number of a
// line, from 1, is its place in that count.
template <typename Sink>
int ForEachTextLine(const char* data, std::size_t size, Sink&& sink)
{
    int lines = 0;
    std::size_t start = 0;
    while (data != nullptr && start < size) {
        const void* found = std::memchr(data + start, '\n', size - start);
        const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : size;
        std::size_t length = end - start;
        if (length > 0 && data[start + length - 1] == '\r')
            --length;
        ++lines;
        if (!sink(data + start, length))
            break;
        start = end + 1;
    }
    return lines;
}

// The line numbers for a message: "Line 3", "Lines 1 and 3",
// "Lines 1, 2, 5 and 9", and past `listed` numbers "Lines 1, 2, ..., 10 and
// 4 more".
std::string FormatLineNumbers(const std::vector<int>& lines, std::size_t listed = 10);
