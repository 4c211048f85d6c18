#include "NumberText.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

locale_t ClassicLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool ScanNumber(const char*& p, const char* end, double& value)
{
    auto more = [end](const char* q) { return end != nullptr ? q < end && *q != '\0' : *q != '\0'; };
    const char* q = p;
    while (more(q) && IsBlank(*q))
        ++q;
    const char* start = q;
    if (more(q) && (*q == '+' || *q == '-'))
        ++q;
    int digits = 0;
    while (more(q) && IsDigit(*q)) {
        ++q;
        ++digits;
    }
    if (more(q) && *q == '.') {
        ++q;
        while (more(q) && IsDigit(*q)) {
            ++q;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (more(q) && (*q == 'e' || *q == 'E')) {
        const char* e = q + 1;
        if (more(e) && (*e == '+' || *e == '-'))
            ++e;
        if (more(e) && IsDigit(*e)) {
            while (more(e) && IsDigit(*e))
                ++e;
            q = e;
        }
    }
    // The token is converted on its own, so the text need not end behind it.
    const std::size_t length = static_cast<std::size_t>(q - start);
    char small[128];
    std::string large;
    char* token = small;
    if (length < sizeof small) {
        std::copy(start, q, small);
        small[length] = '\0';
    } else {
        large.assign(start, q);
        token = &large[0];
    }
    value = strtod_l(token, nullptr, ClassicLocale());
    p = q;
    return true;
}
