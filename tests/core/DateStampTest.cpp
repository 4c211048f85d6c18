#include "DateStamp.h"
#include "DynString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <locale>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kHeaderFormat = "%d %B, %Y   %X";

// Pins the time zone to UTC and restores the process locale afterwards.
class DateStampTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        hadTz = tz != nullptr;
        if (hadTz)
            oldTz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        if (hadTz)
            setenv("TZ", oldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool hadTz = false;
    std::string oldTz;
};

TEST_F(DateStampTest, ReportHeaderFormat)
{
    // 1700000000 s is 2023-11-14 22:13:20 UTC.
    EXPECT_STREQ(CDateStamp(1700000000).Format(kHeaderFormat).GetText(), "14 November, 2023   22:13:20");
    EXPECT_STREQ(CDateStamp(0).Format(kHeaderFormat).GetText(), "01 January, 1970   00:00:00");
    // Beyond 2038: 4102444800 s is 2100-01-01 00:00:00 UTC.
    EXPECT_STREQ(CDateStamp(4102444800LL).Format(kHeaderFormat).GetText(), "01 January, 2100   00:00:00");
    EXPECT_STREQ(CDateStamp(1700000000).Format("%A %b %p").GetText(), "Tuesday Nov PM");
}

TEST_F(DateStampTest, SameTextUnderAGermanLocale)
{
    CDateStamp stamp(1700000000);
    std::string inC = stamp.Format(kHeaderFormat).GetText();
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    std::locale::global(std::locale("de_DE.UTF-8"));
    // The locale is really active: the C library now writes German.
    char german[64];
    std::tm t{};
    t.tm_mon = 2;
    std::strftime(german, sizeof german, "%B", &t);
    EXPECT_STREQ(german, "M\xC3\xA4rz");

    EXPECT_EQ(stamp.Format(kHeaderFormat).GetText(), inC);
    EXPECT_STREQ(stamp.Format("%B %X").GetText(), "November 22:13:20");
}

TEST_F(DateStampTest, NowIsTheCurrentTime)
{
    std::time_t before = std::time(nullptr);
    CDateStamp stamp = CDateStamp::Now();
    std::time_t after = std::time(nullptr);
    EXPECT_GE(stamp.GetTime(), static_cast<std::int64_t>(before));
    EXPECT_LE(stamp.GetTime(), static_cast<std::int64_t>(after));
    EXPECT_GE(CDateStamp().GetTime(), stamp.GetTime());
}

TEST_F(DateStampTest, OverlongResultIsEmpty)
{
    std::string format(300, 'x');
    EXPECT_STREQ(CDateStamp(0).Format(format.c_str()).GetText(), "");
    EXPECT_STREQ(CDateStamp(0).Format(std::string(255, 'y').c_str()).GetText(), std::string(255, 'y').c_str());
}

TEST_F(DateStampTest, ThreadsFormatIndependently)
{
    // Each thread formats its own day; a shared buffer would mix them up.
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            CDateStamp stamp(static_cast<std::int64_t>(t) * 86400);
            char expected[48];
            std::snprintf(expected, sizeof expected, "%02d January, 1970   00:00:00", t + 1);
            for (int i = 0; i < 2000; ++i)
                if (std::string(stamp.Format(kHeaderFormat).GetText()) != expected)
                    ++wrong[static_cast<std::size_t>(t)];
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

} // namespace
