#include "NameBuffer.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLabelChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_' || c == '-';
}

char ToUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The trailing number of a label as sign and digits without leading zeros.
// A label without number counts as 0; -0 counts as 0.
struct NumberText {
    bool negative = false;
    const char* digits = "";
    size_t count = 0;
};

NumberText ReadNumber(const char* label, int start)
{
    NumberText n;
    const char* p = label + start;
    if (*p == '-') {
        n.negative = true;
        ++p;
    }
    while (*p == '0' && IsDigit(p[1]))
        ++p;
    n.digits = p;
    n.count = std::strlen(p);
    if (n.count == 0 || (n.count == 1 && *p == '0'))
        n.negative = false; // no number, or zero
    if (n.count == 0) {
        n.digits = "0";
        n.count = 1;
    }
    return n;
}

// -1, 0 or 1 as a is less than, equal to or greater than b.
int CompareNumbers(const NumberText& a, const NumberText& b)
{
    if (a.negative != b.negative)
        return a.negative ? -1 : 1;
    int magnitude = 0;
    if (a.count != b.count)
        magnitude = a.count < b.count ? -1 : 1;
    else {
        const int c = std::memcmp(a.digits, b.digits, a.count);
        magnitude = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return a.negative ? -magnitude : magnitude;
}

std::atomic<uint64_t> watchedChanges{0};

} // namespace

uint64_t CNameBuffer::WatchedChanges()
{
    return watchedChanges.load(std::memory_order_acquire);
}

void CNameBuffer::Changed()
{
    if (watched)
        watchedChanges.fetch_add(1, std::memory_order_acq_rel);
}

CNameBuffer::CNameBuffer()
{
    std::memset(text, 0, sizeof text);
}

CNameBuffer::CNameBuffer(const char* s) : CNameBuffer()
{
    Set(s);
}

CNameBuffer::CNameBuffer(const CNameBuffer& other) : CNameBuffer()
{
    Set(other.text);
}

bool CNameBuffer::HasInvalidChar(const char* s)
{
    if (!s)
        return false;
    for (; *s; ++s) {
        if (!IsLabelChar(*s))
            return true;
    }
    return false;
}

bool CNameBuffer::Set(const char* s)
{
    if (!s || std::strlen(s) > static_cast<size_t>(kMaxLength) || HasInvalidChar(s))
        return false;
    std::memset(text, 0, sizeof text);
    for (int i = 0; s[i]; ++i)
        text[i] = ToUpper(s[i]);
    Changed();
    return true;
}

CNameBuffer CNameBuffer::operator=(const char* s)
{
    Set(s);
    return *this;
}

CNameBuffer& CNameBuffer::operator=(const CNameBuffer& other)
{
    Copy(other);
    return *this;
}

bool CNameBuffer::Copy(const CNameBuffer& other)
{
    if (this != &other) {
        std::memcpy(text, other.text, kMaxLength + 1);
        text[kMaxLength] = '\0';
        Changed();
    }
    return true;
}

bool CNameBuffer::operator==(const CNameBuffer& other) const
{
    return std::strcmp(text, other.text) == 0;
}

bool CNameBuffer::StartsWith(const CNameBuffer& other) const
{
    const size_t n = std::strlen(other.text);
    return n > 0 && std::strncmp(text, other.text, n) == 0;
}

int CNameBuffer::FindNumberStart() const
{
    const int len = static_cast<int>(std::strlen(text));
    int i = len - 1;
    while (i >= 0 && IsDigit(text[i]))
        --i;
    if (i == len - 1)
        return len; // no trailing digit
    if (i < 0)
        return 0;
    return text[i] == '-' ? i : i + 1;
}

bool CNameBuffer::operator<(const CNameBuffer& other) const
{
    const int order = std::strcmp(text, other.text);
    if (order == 0)
        return false;
    const int pa = FindNumberStart();
    const int pb = other.FindNumberStart();
    for (int i = 0; i < pa && i < pb; ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]);
        const unsigned char b = static_cast<unsigned char>(other.text[i]);
        if (a != b)
            return a < b;
    }
    if (pa != pb)
        return pa < pb;
    const int byNumber = CompareNumbers(ReadNumber(text, pa), ReadNumber(other.text, pb));
    if (byNumber != 0)
        return byNumber < 0;
    return order < 0;
}

void CNameBuffer::GetSortKey(unsigned char (&key)[kSortKeyBytes]) const
{
    // Prefix (16, zero-padded: a shorter prefix sorts first), the number's
    // sign (negative first), digit count and digits (both reversed for a
    // negative number), then the text itself (16 + 1) for the tie.
    std::memset(key, 0, sizeof key);
    const int start = FindNumberStart();
    std::memcpy(key, text, static_cast<size_t>(start));
    const NumberText number = ReadNumber(text, start);
    key[16] = number.negative ? 0 : 1;
    key[17] = static_cast<unsigned char>(number.negative ? 255 - number.count : number.count);
    for (size_t i = 0; i < number.count && i < 16; ++i) {
        const unsigned char d = static_cast<unsigned char>(number.digits[i]);
        key[18 + i] = number.negative ? static_cast<unsigned char>(255 - d) : d;
    }
    std::memcpy(key + 34, text, kMaxLength + 1);
}

long long CNameBuffer::GetNumber64() const
{
    const char* p = text + FindNumberStart();
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    long long value = 0;
    for (; IsDigit(*p); ++p) {
        if (value > (LLONG_MAX - 9) / 10)
            return negative ? LLONG_MIN : LLONG_MAX; // only for a label longer than allowed
        value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

int CNameBuffer::GetNumber() const
{
    const long long value = GetNumber64();
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool CNameBuffer::SetNumber64(long long n)
{
    const int prefix = FindNumberStart();
    char number[24];
    const int digits = std::snprintf(number, sizeof number, "%lld", n);
    if (digits < 0 || prefix + digits > kMaxLength)
        return false;
    std::memcpy(text + prefix, number, static_cast<size_t>(digits) + 1);
    std::memset(text + prefix + digits, 0, sizeof text - static_cast<size_t>(prefix + digits));
    Changed();
    return true;
}

bool CNameBuffer::SetNumber(int n)
{
    return SetNumber64(n);
}

CNameBuffer CNameBuffer::operator++(int)
{
    return AddToNumber(1);
}

CNameBuffer CNameBuffer::AddToNumber(int n)
{
    const long long value = GetNumber64();
    const bool overflow = (n > 0 && value > LLONG_MAX - n) || (n < 0 && value < LLONG_MIN - n);
    if (!overflow)
        SetNumber64(value + n);
    return *this;
}
