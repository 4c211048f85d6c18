#include "NumberText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

namespace {

struct ScanCase {
    const char* text;
    bool found;
    double value;   // exact decimal value the text names
    int consumed;   // characters up to the end of the number
};

// Decimal numbers as "%lf" reads them in the C locale; hexadecimal forms,
// infinities and NaNs are no numbers in a file.
const ScanCase kCases[] = {
    {"12", true, 12.0, 2},
    {"  -0.25xyz", true, -0.25, 7},
    {"\t+3.5e2 7", true, 350.0, 7},
    {".5", true, 0.5, 2},
    {"5.", true, 5.0, 2},
    {"1e", true, 1.0, 1},
    {"1e+", true, 1.0, 1},
    {"2E-3", true, 0.002, 4},
    {"1,5", true, 1.0, 1},
    {"0x10", true, 0.0, 1},
    {"1e999", true, HUGE_VAL, 5},
    {"-", false, 0.0, 0},
    {"+-5", false, 0.0, 0},
    {".", false, 0.0, 0},
    {"inf", false, 0.0, 0},
    {"nan", false, 0.0, 0},
    {"   ", false, 0.0, 0},
    {"", false, 0.0, 0},
};

void ExpectScans(const ScanCase& c, bool bounded)
{
    SCOPED_TRACE(std::string("\"") + c.text + (bounded ? "\" bounded" : "\""));
    const char* p = c.text;
    double value = -7.0;
    const bool found = ScanNumber(p, bounded ? c.text + std::strlen(c.text) : nullptr, value);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(p - c.text, c.consumed);
    EXPECT_EQ(value, c.found ? c.value : -7.0);
}

TEST(NumberText, ScansDecimalNumbersInTheCLocaleWhateverTheProcessLocale)
{
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr)
            continue;
        for (const ScanCase& c : kCases) {
            ExpectScans(c, false);
            ExpectScans(c, true);
        }
    }
    std::setlocale(LC_ALL, "C");
}

TEST(NumberText, ABoundedScanStopsAtItsEnd)
{
    const char text[] = "12345";
    const char* p = text;
    double value = 0.0;
    ASSERT_TRUE(ScanNumber(p, text + 3, value));
    EXPECT_EQ(value, 123.0);
    EXPECT_EQ(p, text + 3);

    // A number longer than any short buffer is read whole.
    const std::string longNumber = "0." + std::string(300, '0') + "125";
    p = longNumber.c_str();
    ASSERT_TRUE(ScanNumber(p, nullptr, value));
    EXPECT_EQ(value, 1.25e-301);
    EXPECT_EQ(p, longNumber.c_str() + longNumber.size());
}

} // namespace
