#include "NameBuffer.h"

#include <gtest/gtest.h>

#include <utility>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const std::vector<CNameBuffer>& labels)
{
    std::vector<std::string> out;
    for (const auto& l : labels)
        out.emplace_back(l.GetText());
    return out;
}

std::vector<CNameBuffer> Labels(const std::vector<const char*>& texts)
{
    std::vector<CNameBuffer> out;
    for (const char* t : texts) {
        out.emplace_back(t);
        EXPECT_STREQ(out.back().GetText(), t) << "invalid test label";
    }
    return out;
}

} // namespace

TEST(NameBufferValidation, SetUpperCasesValidTextsAndRefusesOthers)
{
    CNameBuffer l;
    EXPECT_STREQ(l.GetText(), "");
    EXPECT_TRUE(l.Set("pt_1-a"));
    EXPECT_STREQ(l.GetText(), "PT_1-A");

    for (const char* bad : {"PT 1", "A.B", "ÄB", "a/b", "x\t", "ABCDEFGHIJKLMNOPQ"}) {
        EXPECT_FALSE(l.Set(bad)) << bad;
        EXPECT_STREQ(l.GetText(), "PT_1-A") << bad;
    }
    EXPECT_FALSE(l.Set(nullptr));
    EXPECT_TRUE(l.Set("abcdefghijklmnop")); // 16 characters
    EXPECT_STREQ(l.GetText(), "ABCDEFGHIJKLMNOP");
    EXPECT_TRUE(l.Set(""));
    EXPECT_STREQ(l.GetText(), "");

    EXPECT_FALSE(CNameBuffer::HasInvalidChar(""));
    EXPECT_FALSE(CNameBuffer::HasInvalidChar("azAZ09_-"));
    // Characters next to the valid ranges.
    for (const char* bad : {"@", "[", "`", "{", "/", ":", "\x80", "\xff"})
        EXPECT_TRUE(CNameBuffer::HasInvalidChar(bad)) << static_cast<int>(static_cast<unsigned char>(bad[0]));
}

TEST(NameBufferValidation, ConstructorsAssignmentAndCopies)
{
    EXPECT_STREQ(CNameBuffer("bad label").GetText(), "");
    EXPECT_STREQ(CNameBuffer("p7").GetText(), "P7");

    CNameBuffer l("A1");
    const CNameBuffer result = (l = "b2");
    EXPECT_STREQ(l.GetText(), "B2");
    EXPECT_STREQ(result.GetText(), "B2");
    l = "no good";
    EXPECT_STREQ(l.GetText(), "B2");

    CNameBuffer other("C3");
    l = other;
    EXPECT_STREQ(l.GetText(), "C3");
    EXPECT_TRUE(l.Copy(CNameBuffer("d4")));
    EXPECT_STREQ(l.GetText(), "D4");
    const CNameBuffer copy(l);
    EXPECT_TRUE(copy == l);
    EXPECT_FALSE(copy != l);
    EXPECT_TRUE(CNameBuffer("x") != CNameBuffer("xy"));
}

TEST(NameBufferValidation, StartsWith)
{
    const CNameBuffer l("PT12");
    EXPECT_TRUE(l.StartsWith(CNameBuffer("PT")));
    EXPECT_TRUE(l.StartsWith(CNameBuffer("PT12")));
    EXPECT_FALSE(l.StartsWith(CNameBuffer("PT123")));
    EXPECT_FALSE(l.StartsWith(CNameBuffer("T")));
    EXPECT_FALSE(l.StartsWith(CNameBuffer()));
}

TEST(NameBufferNumber, FindNumberStartAndGetNumber)
{
    struct Case {
        const char* label;
        int start;
        int number;
    };
    const Case cases[] = {
        {"P-12", 1, -12}, {"P12-", 4, 0}, {"123", 0, 123}, {"A-B", 3, 0}, {"", 0, 0},
        {"-5", 0, -5},    {"P--3", 2, -3}, {"A007", 1, 7},  {"X", 1, 0},  {"T_9", 2, 9},
    };
    for (const Case& c : cases) {
        const CNameBuffer l(c.label);
        EXPECT_EQ(l.FindNumberStart(), c.start) << c.label;
        EXPECT_EQ(l.GetNumber(), c.number) << c.label;
    }
    // Numbers beyond the int range saturate.
    EXPECT_EQ(CNameBuffer("P9999999999999").GetNumber(), INT_MAX);
    EXPECT_EQ(CNameBuffer("-999999999999999").GetNumber(), INT_MIN);
    EXPECT_EQ(CNameBuffer("2147483647").GetNumber(), INT_MAX);
    EXPECT_EQ(CNameBuffer("Q-2147483648").GetNumber(), INT_MIN);
}

TEST(NameBufferNumber, SetNumberAndIncrements)
{
    CNameBuffer l("ABCDEFGHIJKLMNO1");
    EXPECT_FALSE(l.SetNumber(100));
    EXPECT_STREQ(l.GetText(), "ABCDEFGHIJKLMNO1");
    EXPECT_TRUE(l.SetNumber(9));
    EXPECT_STREQ(l.GetText(), "ABCDEFGHIJKLMNO9");

    CNameBuffer p("P-12");
    EXPECT_TRUE(p.SetNumber(5));
    EXPECT_STREQ(p.GetText(), "P5");
    EXPECT_TRUE(p.SetNumber(-40));
    EXPECT_STREQ(p.GetText(), "P-40");
    EXPECT_TRUE(p.SetNumber(INT_MIN));
    EXPECT_STREQ(p.GetText(), "P-2147483648");

    CNameBuffer t("T9");
    EXPECT_STREQ((t++).GetText(), "T10"); // the copy is taken after the change
    EXPECT_STREQ(t.GetText(), "T10");
    CNameBuffer a("B10");
    EXPECT_STREQ(a.AddToNumber(-15).GetText(), "B-5");
    EXPECT_STREQ(a.AddToNumber(1000).GetText(), "B995");

    // Increments; a full label whose number grows a digit stays as it was, and
    // numbers beyond the int range are added to exactly.
    const std::pair<const char*, const char*> increments[] = {
        {"T", "T1"},
        {"A009", "A10"},
        {"N-1", "N0"},
        {"ABCDEFGHIJKLMNO9", "ABCDEFGHIJKLMNO9"},
        {"P999999999999999", "P999999999999999"},
        {"P123456789012345", "P123456789012346"},
        {"P2147483647", "P2147483648"},
    };
    for (const auto& [before, after] : increments) {
        CNameBuffer l(before);
        l++;
        EXPECT_STREQ(l.GetText(), after) << before;
    }
}

TEST(NameBufferOrder, SortExampleAndBasicRules)
{
    std::vector<CNameBuffer> labels = Labels({"P10", "P2", "Q1", "P", "P-1"});
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(Texts(labels), (std::vector<std::string>{"P-1", "P", "P2", "P10", "Q1"}));

    const CNameBuffer p2("P2"), p10("P10"), p("P"), p1("P1");
    EXPECT_TRUE(p2 < p10);
    EXPECT_FALSE(p10 < p2);
    EXPECT_TRUE(p10 >= p2);
    EXPECT_TRUE(p < p1);
    EXPECT_FALSE(p2 < p2);
    EXPECT_TRUE(p2 >= p2);
    EXPECT_TRUE(CNameBuffer("AB9") < CNameBuffer("ABC1"));  // prefix "AB" is shorter
    EXPECT_TRUE(CNameBuffer("ABC") < CNameBuffer("ABD1"));  // prefix characters decide first
    EXPECT_TRUE(CNameBuffer("9") < CNameBuffer("A"));       // empty prefix first
    EXPECT_TRUE(CNameBuffer("-3") < CNameBuffer("2"));
    EXPECT_TRUE(CNameBuffer("P-10") < CNameBuffer("P-2"));  // larger magnitude negatives first
}

TEST(NameBufferOrder, TiesAreBrokenByBytes)
{
    const CNameBuffer a01("A01"), a1("A1"), p("P"), p0("P0"), pm0("P-0");
    EXPECT_TRUE(a01 < a1);
    EXPECT_FALSE(a1 < a01);
    EXPECT_TRUE(p < pm0); // -0 is 0: a tie, "P" has the smaller bytes
    EXPECT_TRUE(p < p0);
    EXPECT_TRUE(pm0 < p0);
    EXPECT_FALSE(p0 < p);

    // Every pair of distinct labels is ordered one way exactly.
    const std::vector<CNameBuffer> set = Labels({"A01", "A1", "A001", "P", "P0", "P-0", "P00", "P-00", "B-1", "B-01"});
    for (const auto& x : set) {
        for (const auto& y : set) {
            if (x == y)
                EXPECT_FALSE(x < y);
            else
                EXPECT_NE(x < y, y < x) << x.GetText() << " " << y.GetText();
        }
    }
}

TEST(NameBufferOrder, HugeNumbersOrderByValue)
{
    std::vector<CNameBuffer> labels =
        Labels({"P99999999999", "P100000000000", "P4294967296", "P2147483648", "P2147483647", "P-99999999999",
                "P-100000000000", "P-2147483649", "P0099999999999", "P12"});
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(Texts(labels), (std::vector<std::string>{"P-100000000000", "P-99999999999", "P-2147483649", "P12",
                                                       "P2147483647", "P2147483648", "P4294967296",
                                                       "P0099999999999", "P99999999999", "P100000000000"}));
}

TEST(NameBufferOrder, ShuffledListsSortTheSameAndSearchBinarily)
{
    std::vector<CNameBuffer> labels;
    const char* prefixes[] = {"", "P", "PT", "P-", "Q_", "A", "AB-"};
    for (const char* prefix : prefixes) {
        for (const char* number : {"", "0", "00", "1", "01", "2", "10", "-1", "-01", "-10", "123456789012"}) {
            const std::string text = std::string(prefix) + number;
            if (!text.empty())
                labels.emplace_back(text.c_str());
        }
    }
    // Drop duplicates made by different spellings of the same text.
    std::sort(labels.begin(), labels.end(),
              [](const CNameBuffer& a, const CNameBuffer& b) { return std::strcmp(a.GetText(), b.GetText()) < 0; });
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());

    std::vector<CNameBuffer> reference = labels;
    std::sort(reference.begin(), reference.end());
    ASSERT_TRUE(std::is_sorted(reference.begin(), reference.end()));

    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<CNameBuffer> shuffled = labels;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::sort(shuffled.begin(), shuffled.end());
        ASSERT_EQ(Texts(shuffled), Texts(reference)) << "round " << round;
        // Sorting a sorted list again changes nothing.
        std::stable_sort(shuffled.begin(), shuffled.end());
        ASSERT_EQ(Texts(shuffled), Texts(reference));
    }
    for (const CNameBuffer& l : labels) {
        const auto it = std::lower_bound(reference.begin(), reference.end(), l);
        ASSERT_TRUE(it != reference.end() && *it == l) << l.GetText();
    }
    EXPECT_FALSE(std::binary_search(reference.begin(), reference.end(), CNameBuffer("P3")));
}

namespace name_buffer_sort_key_test {

int Sign(int v) { return (v > 0) - (v < 0); }

// Every pair of a pool rich in ties, signs, leading zeros, digit-only and
// 16-character labels: memcmp of the keys gives the natural order exactly.
TEST(NameBufferSortKey, KeysCompareAsTheNaturalOrder)
{
    std::vector<CNameBuffer> labels;
    for (const char* prefix : {"", "P", "PT", "P-", "Q_", "A", "AB-", "ZZZZZZZZ", "-"}) {
        for (const char* number : {"", "0", "00", "-0", "1", "01", "2", "9", "10", "-1", "-01", "-2", "-10",
                                   "99999999", "-99999999", "1234567", "0000009"}) {
            CNameBuffer label;
            if (label.Set((std::string(prefix) + number).c_str()) && label.GetText()[0] != '\0')
                labels.push_back(label);
        }
    }
    labels.emplace_back("1234567890123456");
    labels.emplace_back("A-00000000000001");
    labels.emplace_back("ABCDEFGHIJKLMNOP");
    std::mt19937 rng(3);
    const char alphabet[] = "AB01-_9";
    for (int i = 0; i < 300; ++i) {
        std::string text;
        for (int n = 1 + int(rng() % 16); n > 0; --n) text += alphabet[rng() % 7];
        labels.emplace_back(text.c_str());
    }
    for (const CNameBuffer& a : labels) {
        unsigned char ka[CNameBuffer::kSortKeyBytes];
        a.GetSortKey(ka);
        for (const CNameBuffer& b : labels) {
            unsigned char kb[CNameBuffer::kSortKeyBytes];
            b.GetSortKey(kb);
            const int expected = a < b ? -1 : (b < a ? 1 : 0);
            ASSERT_EQ(Sign(std::memcmp(ka, kb, sizeof ka)), expected) << a.GetText() << " vs " << b.GetText();
        }
    }
}

// Only watched labels count their changes, by every way a text changes;
// copies of a watched label are not watched.
TEST(NameBufferSortKey, WatchedLabelsCountEveryChange)
{
    CNameBuffer watched("P1");
    watched.Watch();
    CNameBuffer plain("P1");
    const std::vector<std::pair<const char*, void (*)(CNameBuffer&)>> changes = {
        {"Set", [](CNameBuffer& l) { l.Set("Q2"); }},
        {"assign text", [](CNameBuffer& l) { l = "Q3"; }},
        {"assign label", [](CNameBuffer& l) { l = CNameBuffer("Q4"); }},
        {"Copy", [](CNameBuffer& l) { l.Copy(CNameBuffer("Q5")); }},
        {"SetNumber", [](CNameBuffer& l) { l.SetNumber(7); }},
        {"increment", [](CNameBuffer& l) { l++; }},
        {"AddToNumber", [](CNameBuffer& l) { l.AddToNumber(-3); }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.first);
        uint64_t before = CNameBuffer::WatchedChanges();
        change.second(plain);
        EXPECT_EQ(CNameBuffer::WatchedChanges(), before);
        change.second(watched);
        EXPECT_GT(CNameBuffer::WatchedChanges(), before);
        before = CNameBuffer::WatchedChanges();
        CNameBuffer copy(watched);
        copy.Set("R1");
        CNameBuffer assigned;
        assigned = watched;
        assigned.Set("R2");
        EXPECT_EQ(CNameBuffer::WatchedChanges(), before);
    }
}

} // namespace name_buffer_sort_key_test
