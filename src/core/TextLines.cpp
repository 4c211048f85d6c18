#include "TextLines.h"

#include <algorithm>

std::string FormatLineNumbers(const std::vector<int>& lines, std::size_t listed)
{
    const std::size_t shown = std::min(lines.size(), std::max<std::size_t>(listed, 1));
    std::string text = lines.size() == 1 ? "Line " : "Lines ";
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == shown && lines.size() == shown ? " and " : ", ";
        text += std::to_string(lines[i]);
    }
    if (lines.size() > shown)
        text += " and " + std::to_string(lines.size() - shown) + " more";
    return text;
}
