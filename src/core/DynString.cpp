#include "DynString.h"

#include "NumberText.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <ostream>
#include <string>

CDynString::CDynString()
{
    AllocBuffer(1);
}

CDynString::CDynString(const char* s)
{
    AllocBuffer(1);
    Assign(s);
}

CDynString::CDynString(const CDynString& other)
{
    AllocBuffer(1);
    Assign(other.GetText());
}

CDynString::~CDynString()
{
    delete[] text;
    text = nullptr;
    capacity = 0;
}

bool CDynString::Assign(const char* s)
{
    if (!s)
        return true;
    const size_t len = std::strlen(s);
    if (capacity <= 0 || static_cast<size_t>(capacity) <= len) {
        char* buffer = new char[len + 1];
        std::memcpy(buffer, s, len + 1);
        delete[] text;
        text = buffer;
        capacity = static_cast<int>(len + 1);
        return true;
    }
    std::memmove(text, s, len + 1);
    return true;
}

void CDynString::AllocBuffer(int n)
{
    delete[] text;
    text = nullptr;
    capacity = 0;
    if (n <= 0)
        return;
    text = new char[n];
    text[0] = '\0';
    capacity = n;
}

CDynString& CDynString::operator=(const CDynString& other)
{
    Assign(other.GetText());
    return *this;
}

CDynString& CDynString::operator=(const char* other)
{
    Assign(other);
    return *this;
}

void CDynString::AppendBytes(const char* s, int n)
{
    if (n <= 0)
        return;
    if (capacity <= 0 || !text) {
        std::string copy(s, static_cast<size_t>(n));
        Assign(copy.c_str());
        return;
    }
    const int len = GetLength();
    const int newLen = len + n;
    if (capacity > newLen) {
        std::memmove(text + len, s, static_cast<size_t>(n));
        text[newLen] = '\0';
        return;
    }
    char* buffer = new char[static_cast<size_t>(newLen) + 1];
    std::memcpy(buffer, text, static_cast<size_t>(len));
    std::memcpy(buffer + len, s, static_cast<size_t>(n));
    buffer[newLen] = '\0';
    delete[] text;
    text = buffer;
    capacity = newLen + 1;
}

CDynString& CDynString::operator+=(const char* other)
{
    if (other)
        AppendBytes(other, static_cast<int>(std::strlen(other)));
    return *this;
}

CDynString& CDynString::operator+=(const CDynString& other)
{
    return *this += other.GetText();
}

CDynString& CDynString::operator+=(char c)
{
    const char s[2] = {c, '\0'};
    return *this += s;
}

CDynString CDynString::operator+(const CDynString& other) const
{
    CDynString result(*this);
    result += other;
    return result;
}

CDynString CDynString::operator+(const char* other) const
{
    CDynString result(*this);
    result += other;
    return result;
}

const char* CDynString::GetText() const
{
    return (text && capacity > 0) ? text : "";
}

int CDynString::GetLength() const
{
    return (text && capacity > 0) ? static_cast<int>(std::strlen(text)) : 0;
}

bool CDynString::IsEmpty() const
{
    return !text || capacity <= 0 || text[0] == '\0';
}

void CDynString::Empty()
{
    if (text && capacity > 0)
        text[0] = '\0';
}

bool CDynString::operator==(const CDynString& other) const
{
    return std::strcmp(GetText(), other.GetText()) == 0;
}

bool CDynString::operator==(const char* other) const
{
    return std::strcmp(GetText(), other ? other : "") == 0;
}

bool CDynString::IsEqual(const char* other) const
{
    const bool hasBuffer = text && capacity > 0;
    if (!other || !hasBuffer)
        return !other && !hasBuffer;
    return std::strcmp(text, other) == 0;
}

bool CDynString::IsEqual(const CDynString& other) const
{
    const bool otherHasBuffer = other.text && other.capacity > 0;
    return IsEqual(otherHasBuffer ? other.text : nullptr);
}

int CDynString::Find(char c) const
{
    const char* s = GetText();
    const char* hit = std::strchr(s, c);
    return (hit && c != '\0') ? static_cast<int>(hit - s) : -1;
}

int CDynString::Find(const char* needle) const
{
    if (!needle)
        return -1;
    const int len = GetLength();
    const int n = static_cast<int>(std::strlen(needle));
    if (n > len)
        return -1;
    const char* s = GetText();
    for (int i = 0; i <= len - n; ++i) {
        if (std::memcmp(s + i, needle, static_cast<size_t>(n)) == 0)
            return i;
    }
    return -1;
}

int CDynString::ReverseFind(char c) const
{
    const char* s = GetText();
    const char* hit = std::strrchr(s, c);
    return (hit && c != '\0') ? static_cast<int>(hit - s) : -1;
}

CDynString CDynString::Left(int n) const
{
    const int len = GetLength();
    if (n < 0)
        n = 0;
    if (n > len)
        n = len;
    CDynString result;
    result.AppendBytes(GetText(), n);
    return result;
}

CDynString CDynString::Right(int n) const
{
    const int len = GetLength();
    if (n < 0)
        n = 0;
    if (n > len)
        n = len;
    CDynString result;
    result.AppendBytes(GetText() + (len - n), n);
    return result;
}

CDynString CDynString::Mid(int first, int last) const
{
    const int len = GetLength();
    if (first < 0)
        first = 0;
    if (last > len - 1)
        last = len - 1;
    CDynString result;
    if (first <= last)
        result.AppendBytes(GetText() + first, last - first + 1);
    return result;
}

void CDynString::Center(int width)
{
    if (!text || capacity <= 0)
        return;
    const int len = GetLength();
    if (len >= width)
        return;
    const int blanks = (width - len) / 2;
    if (blanks == 0)
        return;
    std::string centred(static_cast<size_t>(blanks), ' ');
    centred += text;
    Assign(centred.c_str());
}

std::ostream& operator<<(std::ostream& os, const CDynString& s)
{
    return os << s.GetText();
}

// ---------------------------------------------------------------------------
// Formatting engine

namespace {

// Longest conversion text gathered, '%' included.
constexpr size_t kMaxSpecLength = 255;
// Widths and precisions are limited so that a stray number cannot demand a
// huge allocation.
constexpr int kMaxFieldSize = 100000;

const char kSpecChars[] = "-+0 #*.123456789hlL";

// Switches the calling thread to the C locale for the lifetime of the object.
class ClassicLocaleScope {
public:
    ClassicLocaleScope()
    {
        if (locale_t loc = ClassicLocale())
            previous = uselocale(loc);
    }
    ~ClassicLocaleScope()
    {
        if (previous)
            uselocale(previous);
    }
    ClassicLocaleScope(const ClassicLocaleScope&) = delete;
    ClassicLocaleScope& operator=(const ClassicLocaleScope&) = delete;

private:
    locale_t previous = static_cast<locale_t>(nullptr);
};

struct ConversionSpec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alt = false;
    bool shortInt = false;
    int width = -1;     // -1: none
    int precision = -1; // -1: none
};

void AddDigit(int& value, char digit)
{
    if (value < 0)
        value = 0;
    value = value * 10 + (digit - '0');
    if (value > kMaxFieldSize)
        value = kMaxFieldSize;
}

int ClampField(int value)
{
    return value > kMaxFieldSize ? kMaxFieldSize : value;
}

// Reads the gathered characters between '%' and the conversion letter the way
// printf does. Every '*' takes the next int argument.
ConversionSpec ParseSpec(const std::string& chars, va_list& args)
{
    enum { Flags, Width, Precision, Size } state = Flags;
    ConversionSpec conv;
    for (char c : chars) {
        switch (c) {
        case '-':
        case '+':
        case ' ':
        case '#':
            if (state == Flags) {
                if (c == '-')
                    conv.left = true;
                else if (c == '+')
                    conv.plus = true;
                else if (c == ' ')
                    conv.space = true;
                else
                    conv.alt = true;
            }
            break;
        case '*': {
            const int value = va_arg(args, int);
            if (state == Flags || (state == Width && conv.width < 0)) {
                if (value < 0) {
                    conv.left = true;
                    conv.width = value == INT32_MIN ? kMaxFieldSize : ClampField(-value);
                } else {
                    conv.width = ClampField(value);
                }
                state = Width;
            } else if (state == Precision) {
                conv.precision = value < 0 ? -1 : ClampField(value);
            }
            break;
        }
        case '.':
            if (state == Flags || state == Width) {
                state = Precision;
                conv.precision = 0;
            }
            break;
        case 'h':
        case 'l':
        case 'L':
            if (c == 'h')
                conv.shortInt = true;
            state = Size;
            break;
        default: // digits
            if (c == '0' && state == Flags)
                conv.zero = true;
            else if (state == Flags || state == Width) {
                state = Width;
                AddDigit(conv.width, c);
            } else if (state == Precision) {
                AddDigit(conv.precision, c);
            }
            break;
        }
    }
    return conv;
}

// Builds a printf format for one conversion from the parsed fields.
std::string BuildFormat(const ConversionSpec& conv, bool withWidth, bool withPrecision, const char* size,
                        char conversion)
{
    std::string f = "%";
    if (withWidth && conv.left)
        f += '-';
    if (conv.plus)
        f += '+';
    if (conv.space)
        f += ' ';
    if (conv.alt)
        f += '#';
    if (withWidth && conv.zero)
        f += '0';
    if (withWidth && conv.width >= 0)
        f += std::to_string(conv.width);
    if (withPrecision && conv.precision >= 0) {
        f += '.';
        f += std::to_string(conv.precision);
    }
    f += size;
    f += conversion;
    return f;
}

template <typename T>
std::string Print(const std::string& format, T value)
{
    char small[256];
    const int n = std::snprintf(small, sizeof small, format.c_str(), value);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&out[0], out.size(), format.c_str(), value);
    out.resize(static_cast<size_t>(n));
    return out;
}

// Appends the printed value to out without a text of its own in between
// (the conversions that cannot produce a NUL byte).
template <typename T>
void AppendPrinted(std::string& out, const std::string& format, T value)
{
    char small[256];
    const int n = std::snprintf(small, sizeof small, format.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small)
        out.append(small, static_cast<size_t>(n));
    else
        out += Print(format, value);
}

// "%W.Pf" without flags, as the C formatter writes it (the shortest exact
// decimal, rounded half to even), but several times faster: coordinate
// files and reports hold millions of these. False for anything else.
bool AppendFixed(std::string& out, const ConversionSpec& conv, double value)
{
    if (conv.left || conv.plus || conv.space || conv.zero || conv.alt || !std::isfinite(value))
        return false;
    char digits[400];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                      conv.precision < 0 ? 6 : conv.precision);
    if (result.ec != std::errc())
        return false;
    const size_t length = static_cast<size_t>(result.ptr - digits);
    if (conv.width > 0 && static_cast<size_t>(conv.width) > length)
        out.append(static_cast<size_t>(conv.width) - length, ' ');
    out.append(digits, length);
    return true;
}

// Gives the exponent of an e-style number at least three digits.
void WidenExponent(std::string& s)
{
    const size_t e = s.find_first_of("eE");
    if (e == std::string::npos || e + 1 >= s.size() || (s[e + 1] != '+' && s[e + 1] != '-'))
        return;
    const size_t digits = s.size() - (e + 2);
    if (digits < 3)
        s.insert(e + 2, 3 - digits, '0');
}

// Pads a converted value to the field width; zeros go after a sign.
void PadToWidth(std::string& s, const ConversionSpec& conv, bool zeroAllowed)
{
    if (conv.width < 0 || s.size() >= static_cast<size_t>(conv.width))
        return;
    const size_t fill = static_cast<size_t>(conv.width) - s.size();
    if (conv.left)
        s.append(fill, ' ');
    else if (conv.zero && zeroAllowed) {
        const size_t pos = (!s.empty() && (s[0] == '+' || s[0] == '-' || s[0] == ' ')) ? 1 : 0;
        s.insert(pos, fill, '0');
    } else
        s.insert(0, fill, ' ');
}

std::string ConvertFloating(const ConversionSpec& conv, char conversion, double value)
{
    if (conversion == 'f')
        return Print(BuildFormat(conv, true, true, "", conversion), value);
    // The width is applied after the exponent has its three digits.
    std::string s = Print(BuildFormat(conv, false, true, "", conversion), value);
    WidenExponent(s);
    PadToWidth(s, conv, std::isfinite(value));
    return s;
}

std::string ConvertPointer(const ConversionSpec& conv, const void* p)
{
    char digits[2 * sizeof(uintptr_t) + 1];
    std::snprintf(digits, sizeof digits, "%0*llX", static_cast<int>(2 * sizeof(uintptr_t)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    std::string s = digits;
    PadToWidth(s, conv, false);
    return s;
}

} // namespace

void CDynString::Format(const char* format, ...)
{
    Empty();
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
}

void CDynString::AppendFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AppendFormatV(format, args);
    va_end(args);
}

void CDynString::AppendFormatV(const char* format, va_list argList)
{
    if (!format)
        return;
    ClassicLocaleScope classic;
    va_list args;
    va_copy(args, argList);
    // The text is formed completely before it is appended, so a format or an
    // argument that points into this string's own buffer stays valid. The
    // buffer ends up exactly as after appending one conversion at a time.
    std::string out;

    const char* p = format;
    for (;;) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out += p;
            break;
        }
        out.append(p, static_cast<size_t>(percent - p));

        // Gather the conversion.
        std::string gathered;
        const char* q = percent + 1;
        bool tooLong = false;
        while (*q && std::strchr(kSpecChars, *q)) {
            gathered += *q++;
            if (gathered.size() + 1 >= kMaxSpecLength) {
                tooLong = true;
                break;
            }
        }
        if (tooLong) {
            out += q;
            break;
        }
        if (*q == '\0')
            break; // the format ends inside the conversion

        const char conversion = *q;
        p = q + 1;
        std::string converted;
        switch (conversion) {
        case 's': {
            ConversionSpec conv = ParseSpec(gathered, args);
            const char* s = va_arg(args, const char*);
            AppendPrinted(out, BuildFormat(conv, true, true, "", 's'), s ? s : "(null)");
            continue;
        }
        case 'c':
        case 'C': {
            ConversionSpec conv = ParseSpec(gathered, args);
            const int value = va_arg(args, int);
            converted = Print(BuildFormat(conv, true, false, "", 'c'), static_cast<int>(static_cast<unsigned char>(value)));
            break;
        }
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            ConversionSpec conv = ParseSpec(gathered, args);
            const int value = va_arg(args, int);
            const std::string f = BuildFormat(conv, true, true, conv.shortInt ? "h" : "", conversion);
            if (conversion == 'd' || conversion == 'i')
                converted = Print(f, value);
            else
                converted = Print(f, static_cast<unsigned>(value));
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G': {
            ConversionSpec conv = ParseSpec(gathered, args);
            const double value = va_arg(args, double);
            if (conversion == 'f') {
                if (!AppendFixed(out, conv, value))
                    AppendPrinted(out, BuildFormat(conv, true, true, "", conversion), value);
                continue;
            }
            converted = ConvertFloating(conv, conversion, value);
            break;
        }
        case 'p': {
            ConversionSpec conv = ParseSpec(gathered, args);
            const void* value = va_arg(args, const void*);
            converted = ConvertPointer(conv, value);
            break;
        }
        default:
            // Any other character stands for itself; no argument is taken.
            converted.assign(1, conversion);
            break;
        }
        // Appended as text: a converted NUL character ends the conversion.
        out += converted.c_str();
    }
    va_end(args);
    AppendBytes(out.data(), static_cast<int>(out.size()));
}
