#include "DynString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Fmt(const char* format, ...)
{
    CDynString s;
    va_list args;
    va_start(args, format);
    s.AppendFormatV(format, args);
    va_end(args);
    return s.GetText();
}

// Restores the process locale when a test changes it.
class LocaleGuard {
public:
    LocaleGuard() : saved(std::setlocale(LC_ALL, nullptr)) {}
    ~LocaleGuard() { std::setlocale(LC_ALL, saved.c_str()); }

private:
    std::string saved;
};

} // namespace

// Assignment and appending with sources that overlap the target.
TEST(DynStringStorage, AssignmentAndAppendingFromItself)
{
    CDynString s("hello");
    CDynString copy(s);
    EXPECT_TRUE(copy == s);
    EXPECT_NE(copy.GetText(), s.GetText());
    EXPECT_TRUE(s.Assign(nullptr));
    EXPECT_STREQ(s.GetText(), "hello");
    s = "hi";
    s = s;
    EXPECT_STREQ(s.GetText(), "hi");
    s.Assign(s.GetText() + 1);
    EXPECT_STREQ(s.GetText(), "i");
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());

    s.AllocBuffer(0); // no buffer at all
    EXPECT_STREQ(s.GetText(), "");
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.Find('a'), -1);
    s += "abc";
    EXPECT_STREQ(s.GetText(), "abc");

    std::string expected = "abc";
    for (int i = 0; i < 50; ++i) {
        s += i % 2 ? "xy" : "z";
        expected += i % 2 ? "xy" : "z";
    }
    s += 'd';
    EXPECT_EQ(s.GetText(), expected + "d");
    CDynString t("abc");
    t += t; // appending itself, needing a new buffer
    EXPECT_STREQ(t.GetText(), "abcabc");
    t = "ab";
    t += t.GetText(); // in place
    EXPECT_STREQ(t.GetText(), "abab");
}

TEST(DynStringStorage, ConcatenationAndComparison)
{
    CDynString a("ab");
    const CDynString b = a + "cd" + CDynString("ef");
    EXPECT_STREQ(b.GetText(), "abcdef");
    EXPECT_STREQ(a.GetText(), "ab");
    EXPECT_TRUE(a == "ab");
    EXPECT_TRUE(a != "abc");
    EXPECT_TRUE(CDynString() == static_cast<const char*>(nullptr));
    EXPECT_FALSE(a == CDynString("aB"));

    // IsEqual tells a missing buffer from "".
    CDynString none;
    none.AllocBuffer(0);
    EXPECT_TRUE(none.IsEqual(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(none.IsEqual(""));
    EXPECT_FALSE(CDynString().IsEqual(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(CDynString().IsEqual(""));
    EXPECT_FALSE(CDynString().IsEqual(none));
    EXPECT_TRUE(a.IsEqual(CDynString("ab")));

    std::ostringstream os;
    os << b;
    EXPECT_EQ(os.str(), "abcdef");
}

TEST(DynStringSearch, FindAndSlices)
{
    const CDynString s("abcabc");
    EXPECT_EQ(s.Find('c'), 2);
    EXPECT_EQ(s.ReverseFind('c'), 5);
    EXPECT_EQ(s.Find('z'), -1);
    EXPECT_EQ(s.Find('\0'), -1);
    EXPECT_EQ(s.Find("ca"), 2);
    EXPECT_EQ(s.Find("bc"), 1);
    EXPECT_EQ(s.Find("abc"), 0);
    EXPECT_EQ(s.Find("cab!"), -1);
    EXPECT_EQ(s.Find(""), 0);
    EXPECT_EQ(s.Find("abcabcx"), -1);
    EXPECT_EQ(CDynString("c").Find("c"), 0);

    EXPECT_STREQ(s.Left(2).GetText(), "ab");
    EXPECT_STREQ(s.Right(2).GetText(), "bc");
    EXPECT_STREQ(s.Mid(1, 3).GetText(), "bca");
    EXPECT_STREQ(s.Mid(2, 1).GetText(), "");
    // Counts beyond the text are clamped.
    EXPECT_STREQ(s.Left(10).GetText(), "abcabc");
    EXPECT_STREQ(s.Right(-1).GetText(), "");
    EXPECT_STREQ(s.Mid(4, 99).GetText(), "bc");
}

TEST(DynStringSearch, Center)
{
    CDynString s("abc");
    s.Center(7);
    EXPECT_STREQ(s.GetText(), "  abc");
    CDynString t("abc");
    t.Center(4);
    EXPECT_STREQ(t.GetText(), "abc");
    t.Center(2);
    EXPECT_STREQ(t.GetText(), "abc");
}

TEST(DynStringFormat, LiteralsPercentsAndUnknownConversions)
{
    EXPECT_EQ(Fmt("%d%%", 5), "5%");
    EXPECT_EQ(Fmt("abc%"), "abc");
    EXPECT_EQ(Fmt("abc%5.2"), "abc");
    EXPECT_EQ(Fmt("%q"), "q");
    EXPECT_EQ(Fmt("%-08q|%d", 3), "q|3"); // flags dropped, no argument taken
    EXPECT_EQ(Fmt("%n%S"), "nS");
    EXPECT_EQ(Fmt("plain"), "plain");
    EXPECT_EQ(Fmt(""), "");

    CDynString s("old");
    s.Format("%s-%d", "new", 1);
    EXPECT_STREQ(s.GetText(), "new-1");
    s.AppendFormat("+%c", 'x');
    EXPECT_STREQ(s.GetText(), "new-1+x");
}

TEST(DynStringFormat, AppendsAfterFormingTheWholeText)
{
    // Arguments and formats that point into the string's own buffer.
    CDynString s("ab");
    s.AppendFormat("%s|%s", s.GetText(), s.GetText());
    EXPECT_STREQ(s.GetText(), "abab|ab");
    CDynString f("x%d");
    f.AppendFormat(f.GetText(), 5);
    EXPECT_STREQ(f.GetText(), "x%dx5");

}

TEST(DynStringFormat, IntegersStringsAndCharacters)
{
    EXPECT_EQ(Fmt("%5.2f|%-4s|", 3.14159, "x"), " 3.14|x   |");
    EXPECT_EQ(Fmt("%d %i %u %o %x %X", -7, 42, 3u, 8, 255, 255), "-7 42 3 10 ff FF");
    EXPECT_EQ(Fmt("%u", -1), "4294967295");
    EXPECT_EQ(Fmt("%+05d|%-5d|% d|%#x|%.3d", 42, 42, 42, 255, 7), "+0042|42   | 42|0xff|007");
    EXPECT_EQ(Fmt("%c%C%3c", 'a', 'B', 'z'), "aB  z");
    EXPECT_EQ(Fmt("%.2s|%5s|%s", "abcdef", "ab", static_cast<const char*>(nullptr)), "ab|   ab|(null)");
    EXPECT_EQ(Fmt("[%c]", 0), "[]");
    EXPECT_EQ(Fmt("%hd", 70000), "4464");
    EXPECT_EQ(Fmt("%d", INT32_MIN), "-2147483648");
}

TEST(DynStringFormat, SizeLettersDoNotWidenTheArgumentFetch)
{
    // Every integer is an int and every floating value a double, so the
    // arguments after an l, L or h stay aligned.
    EXPECT_EQ(Fmt("%ld|%s|%lf|%Lf|%lu|%lx", -5, "t", 2.5, 0.25, 7, -1), "-5|t|2.500000|0.250000|7|ffffffff");
    EXPECT_EQ(Fmt("%lld %hhd %d", 1, 2, 3), "1 2 3");
    EXPECT_EQ(Fmt("%le %lg", 1.0, 0.5), "1.000000e+000 0.5");
}

TEST(DynStringFormat, StarTakesWidthAndPrecisionArguments)
{
    EXPECT_EQ(Fmt("%*d|%-*d|%.*f", 5, 42, 4, 7, 2, 3.14159), "   42|7   |3.14");
    EXPECT_EQ(Fmt("%*d|", -4, 7), "7   |");
    EXPECT_EQ(Fmt("%.*f", -1, 1.5), "1.500000");
    EXPECT_EQ(Fmt("%*.*s|%d", 6, 2, "abcdef", 9), "    ab|9");
    EXPECT_EQ(Fmt("%*.*E", 14, 4, 12345.678), "   1.2346E+004");
}

TEST(DynStringFormat, ExponentsHaveAtLeastThreeDigits)
{
    EXPECT_EQ(Fmt("%.4E", 12345.678), "1.2346E+004");
    EXPECT_EQ(Fmt("%14.4E|", 12345.678), "   1.2346E+004|");
    EXPECT_EQ(Fmt("%-14.4E|", 12345.678), "1.2346E+004   |");
    EXPECT_EQ(Fmt("%e", 0.0), "0.000000e+000");
    EXPECT_EQ(Fmt("%.2e", -1.5e-7), "-1.50e-007");
    EXPECT_EQ(Fmt("%e", 1e100), "1.000000e+100");
    EXPECT_EQ(Fmt("%.3e", 2.5e-300), "2.500e-300");
    EXPECT_EQ(Fmt("%+.2e", 1.0), "+1.00e+000");
    EXPECT_EQ(Fmt("%012.3e", -1.0), "-01.000e+000");
    EXPECT_EQ(Fmt("%011.3e", 1.0), "01.000e+000");
    EXPECT_EQ(Fmt("%g", 1e-5), "1e-005");
    EXPECT_EQ(Fmt("%g", 123456789.0), "1.23457e+008");
    EXPECT_EQ(Fmt("%G", 1e20), "1E+020");
    EXPECT_EQ(Fmt("%g|%g|%g", 0.0001, 100000.0, 0.5), "0.0001|100000|0.5");
    EXPECT_EQ(Fmt("%12g|", 1e-10), "      1e-010|");
    EXPECT_EQ(Fmt("%#.3g", 1.0), "1.00");
    EXPECT_EQ(Fmt("%10.3f|", -2.0), "    -2.000|");
    // Non-finite values have no exponent to widen and are never zero-padded.
    EXPECT_EQ(Fmt("%08e", HUGE_VAL), "     inf");
}

TEST(DynStringFormat, FixedPointIsTheCFormattersTextForEveryValue)
{
    // Ties, signed zeros, tiny and huge values, and a spread of magnitudes.
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 1e15 + 0.5, 4503599627370497.5,
                                  1e-320, -1e-310, 1e22, 1.7976931348623157e308, 123456.789, -0.0049999999};
    std::mt19937_64 gen(16);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-25, 25);
    for (int i = 0; i < 3000; ++i)
        values.push_back(mantissa(gen) * std::pow(10.0, exponent(gen)));
    const char* formats[] = {"%f", "%.0f", "%.1f", "%.3f", "%20.12f", "%20.13f", "%15.6f", "%8.17f", "%3.25f"};
    char expected[1024];
    for (double v : values) {
        for (const char* f : formats) {
            std::snprintf(expected, sizeof expected, f, v);
            CDynString s;
            s.Format(f, v);
            ASSERT_STREQ(s.GetText(), expected) << f << " of " << v;
        }
    }
}

TEST(DynStringFormat, LongConversionsAreNeitherCutNorOverflowing)
{
    const std::string longText(1000, 'k');
    EXPECT_EQ(Fmt("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(Fmt("%300d", 1), std::string(299, ' ') + "1");
    EXPECT_EQ(Fmt("%.400f", 1.0).size(), 402u);
    // A width too large to be real is limited, not overflowed.
    const std::string huge = "%" + std::string(200, '9') + "d";
    EXPECT_EQ(Fmt("%s", Fmt(huge.c_str(), 1).c_str()).size(), 100000u);
}

TEST(DynStringFormat, OverlongSpecificationStopsAndAppendsTheRest)
{
    // The gathered conversion reaches 255 characters ('%' included): no
    // conversion, the rest of the format follows as it is.
    const std::string format = "x%" + std::string(300, '1') + "d";
    const std::string expected = "x" + std::string(300 - 254, '1') + "d";
    EXPECT_EQ(Fmt(format.c_str(), 5), expected);
}

TEST(DynStringFormat, OutputIsTheSameUnderADecimalCommaLocale)
{
    LocaleGuard guard;
    const char* format = "%.3f|%13.4E|%g|%d|%s";
    const std::string inC = Fmt(format, 1234.5, -0.000123, 2.75, 1000000, "a.b");
    EXPECT_EQ(inC, "1234.500| -1.2300E-004|2.75|1000000|a.b");
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5"); // the locale really is in force
    EXPECT_EQ(Fmt(format, 1234.5, -0.000123, 2.75, 1000000, "a.b"), inC);
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // and is left in force for the caller
}

TEST(DynStringFormat, ThreadsFormatIndependently)
{
    const char* mantissas[4] = {"1.50E+000", "3.00E+000", "4.50E+000", "6.00E+000"};
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches, &mantissas] {
            for (int i = 0; i < 2000; ++i) {
                CDynString s;
                s.Format("%d:%.2E:%s", t * 100000 + i, 1.5 * (t + 1), t % 2 ? "odd" : "even");
                const std::string expected =
                    std::to_string(t * 100000 + i) + ":" + mantissas[t] + ":" + (t % 2 ? "odd" : "even");
                if (expected != s.GetText())
                    ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}
