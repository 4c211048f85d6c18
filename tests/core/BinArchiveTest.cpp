#include "BinArchive.h"
#include "DynString.h"
#include "NameBuffer.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// Largest single allocation made while a test watches, to prove that a lying
// count is never used to size a buffer.
static std::size_t g_largestAllocation = 0;

static void* TrackedAllocation(std::size_t size)
{
    if (size > g_largestAllocation)
        g_largestAllocation = size;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size) { return TrackedAllocation(size); }
void* operator new[](std::size_t size) { return TrackedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<unsigned char>;

std::string TempPath(const char* name)
{
    static const kestrelon::test::TempFolder folder;
    return folder.File(name);
}

Bytes ReadFile(const std::string& path)
{
    const std::string bytes = kestrelon::test::ReadFileBytes(path);
    return Bytes(bytes.begin(), bytes.end());
}

std::string AsText(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Bytes to read, as an archive over memory.
struct MemoryArchive {
    explicit MemoryArchive(const Bytes& bytes)
        : buffer(AsText(bytes), std::ios::in | std::ios::binary), archive(&buffer, std::ios::in | std::ios::binary)
    {
    }
    std::stringbuf buffer;
    CBinArchive archive;
};

Bytes IntBytes(std::int32_t v)
{
    auto u = static_cast<std::uint32_t>(v);
    return {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u >> 16),
            static_cast<unsigned char>(u >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes TextBytes(const char* text)
{
    return Bytes(text, text + std::strlen(text));
}

TEST(BinArchiveTest, WritesTheExactBytesOfEveryPrimitive)
{
    std::string path = TempPath("primitives.bin");
    {
        CBinArchive out(path.c_str(), std::ios::out);
        ASSERT_TRUE(out.good());
        out.WriteDouble(1.0).WriteInt(1).WriteInt(-1);
        out.WriteByte(true).WriteByte(false).WriteByte('A').WriteByte(0xE9);
        out.WriteString(CDynString("abc")).WriteString(CDynString(""));
        out.WriteName(CNameBuffer("p_1")).WriteName(CNameBuffer());
        out.WriteDouble(-2.5).WriteInt(0x12345678);
    }
    Bytes expected{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F, // 1.0
                   0x01, 0x00, 0x00, 0x00,                         // 1
                   0xFF, 0xFF, 0xFF, 0xFF,                         // -1
                   0x01, 0x00, 0x41, 0xE9,                         // bytes
                   0x03, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63,       // "abc"
                   0x00, 0x00, 0x00, 0x00,                         // ""
                   0x03, 0x00, 0x00, 0x00, 0x50, 0x5F, 0x31,       // label P_1
                   0x00, 0x00, 0x00, 0x00,                         // empty label
                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0xC0, // -2.5
                   0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(ReadFile(path), expected);

    // Storing truncates an existing file.
    {
        CBinArchive out(path.c_str(), std::ios::out | std::ios::binary);
        out.WriteInt(7);
    }
    EXPECT_EQ(ReadFile(path), IntBytes(7));
}

TEST(BinArchiveTest, StoringIsDecidedByTheOpenMode)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive out(&buffer, std::ios::out | std::ios::binary);
    EXPECT_TRUE(out.IsStoring());
    out.WriteString(CDynString("abc"));
    EXPECT_EQ(buffer.str(), AsText(IntBytes(3) + TextBytes("abc")));
    EXPECT_FALSE(CBinArchive(&buffer, std::ios::in | std::ios::binary).IsStoring());
    EXPECT_FALSE(CBinArchive(&buffer, std::ios::in).IsStoring());
    EXPECT_TRUE(CBinArchive(&buffer, std::ios::out).IsStoring());
}

TEST(BinArchiveTest, ValuesRoundTripThroughAFile)
{
    std::string path = TempPath("roundtrip.bin");
    const double doubles[] = {0.0, -0.0, 1e-310, -123456.789e-3, std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::infinity()};
    const std::int32_t ints[] = {0, INT32_MIN, INT32_MAX, -2, 65536};
    const char* highText = "caf\xE9 \xB0 100%";
    {
        CBinArchive out(path.c_str(), std::ios::out);
        for (double d : doubles)
            out.WriteDouble(d);
        out.WriteDouble(std::nan(""));
        for (std::int32_t i : ints)
            out.WriteInt(i);
        out.WriteString(CDynString(highText)).WriteName(CNameBuffer("Target-17")).WriteByte(200);
    }
    CBinArchive in(path.c_str(), std::ios::in);
    for (double d : doubles) {
        double read = 42.0;
        in.ReadDouble(read);
        EXPECT_EQ(std::memcmp(&read, &d, sizeof d), 0) << d;
    }
    double nan = 0.0;
    in.ReadDouble(nan);
    EXPECT_TRUE(std::isnan(nan));
    for (std::int32_t i : ints) {
        std::int32_t read = 42;
        in.ReadInt(read);
        EXPECT_EQ(read, i);
    }
    CDynString text;
    CNameBuffer name;
    unsigned char byte = 0;
    in.ReadString(text).ReadName(name).ReadByte(byte);
    EXPECT_STREQ(text.GetText(), highText);
    EXPECT_STREQ(name.GetText(), "TARGET-17");
    EXPECT_EQ(byte, 200);
    EXPECT_TRUE(in.good());
    EXPECT_EQ(in.RemainingBytes(), 0);
}

TEST(BinArchiveTest, FlagsAndCharactersGoThroughAnUnsignedByte)
{
    MemoryArchive m(Bytes{0x00, 0x01, 0x02, 0xFF, 0xE9, 0x7F});
    bool flags[4] = {true, false, false, false};
    for (bool& f : flags)
        m.archive.ReadBool(f);
    EXPECT_FALSE(flags[0]);
    EXPECT_TRUE(flags[1]);
    EXPECT_TRUE(flags[2]);
    EXPECT_TRUE(flags[3]);
    char c = 0;
    m.archive.ReadByte(c);
    EXPECT_EQ(static_cast<unsigned char>(c), 0xE9);
    unsigned char u = 0;
    m.archive.ReadByte(u);
    EXPECT_EQ(u, 0x7F);
    bool untouched = true;
    m.archive.ReadBool(untouched);
    EXPECT_TRUE(untouched);
    EXPECT_TRUE(m.archive.fail());
}

TEST(BinArchiveTest, LabelsAreValidatedOnTheWayIn)
{
    Bytes bytes = IntBytes(3) + TextBytes("p_1") + IntBytes(17) + TextBytes("ABCDEFGHIJKLMNOPQ") + IntBytes(4) +
                  TextBytes("A B1") + IntBytes(2) + TextBytes("ok");
    MemoryArchive m(bytes);
    CNameBuffer first, tooLong("KEEP1"), invalid("KEEP2"), last;
    m.archive.ReadName(first).ReadName(tooLong).ReadName(invalid).ReadName(last);
    EXPECT_STREQ(first.GetText(), "P_1");
    EXPECT_STREQ(tooLong.GetText(), "KEEP1");
    EXPECT_STREQ(invalid.GetText(), "KEEP2");
    // The rejected labels' bytes were consumed: the next record is in step.
    EXPECT_STREQ(last.GetText(), "OK");
    EXPECT_TRUE(m.archive.good());
}

TEST(BinArchiveTest, LyingCountsFailCleanlyWithoutAllocating)
{
    struct Case {
        const char* what;
        std::int32_t count;
    };
    for (Case c : {Case{"huge", 0x7fffffff}, Case{"negative", -1}, Case{"most negative", INT32_MIN},
                   Case{"one more than left", 4}}) {
        SCOPED_TRACE(c.what);
        MemoryArchive forString(IntBytes(c.count) + TextBytes("abc"));
        CDynString text("old");
        g_largestAllocation = 0;
        forString.archive.ReadString(text);
        EXPECT_LT(g_largestAllocation, 4096u);
        EXPECT_STREQ(text.GetText(), "");
        EXPECT_TRUE(forString.archive.fail());

        MemoryArchive forName(IntBytes(c.count) + TextBytes("abc"));
        CNameBuffer name("OLD");
        g_largestAllocation = 0;
        forName.archive.ReadName(name);
        EXPECT_LT(g_largestAllocation, 4096u);
        EXPECT_STREQ(name.GetText(), "");
        EXPECT_TRUE(forName.archive.fail());

        // Later reads leave their targets alone.
        std::int32_t value = 5;
        forName.archive.ReadInt(value);
        EXPECT_EQ(value, 5);
        CDynString after("kept");
        forName.archive.ReadString(after);
        EXPECT_STREQ(after.GetText(), "kept");
    }

    // A count that exactly fits is fine.
    MemoryArchive exact(IntBytes(3) + TextBytes("abc"));
    CDynString text;
    exact.archive.ReadString(text);
    EXPECT_STREQ(text.GetText(), "abc");
    EXPECT_TRUE(exact.archive.good());
}

TEST(BinArchiveTest, LyingCountInAFileOnDisk)
{
    std::string path = TempPath("lying.bin");
    {
        std::ofstream raw(path, std::ios::binary);
        Bytes bytes = IntBytes(0x7fffffff) + TextBytes("short");
        raw.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    CBinArchive in(path.c_str(), std::ios::in);
    EXPECT_EQ(in.RemainingBytes(), 9);
    CDynString text("old");
    g_largestAllocation = 0;
    in.ReadString(text);
    EXPECT_LT(g_largestAllocation, 1u << 20);
    EXPECT_STREQ(text.GetText(), "");
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(in.RemainingBytes(), 0);
}

TEST(BinArchiveTest, TruncatedPrimitivesFailAndLeaveTargetsUnchanged)
{
    MemoryArchive m(Bytes{0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB});
    std::int32_t whole = 0;
    m.archive.ReadInt(whole);
    EXPECT_EQ(whole, 0x04030201);
    EXPECT_EQ(m.archive.RemainingBytes(), 2);

    std::int32_t partial = 99;
    m.archive.ReadInt(partial);
    EXPECT_EQ(partial, 99);
    EXPECT_TRUE(m.archive.fail());
    EXPECT_TRUE(m.archive.eof());

    double d = 1.5;
    CNameBuffer name("SAME");
    m.archive.ReadDouble(d).ReadName(name);
    EXPECT_EQ(d, 1.5);
    EXPECT_STREQ(name.GetText(), "SAME");

    // A string whose count is whole but whose bytes are cut short.
    MemoryArchive cut(IntBytes(2) + TextBytes("x"));
    CDynString shortText("old");
    cut.archive.ReadString(shortText);
    EXPECT_TRUE(cut.archive.fail());
    EXPECT_STREQ(shortText.GetText(), "");

    // A count cut short.
    MemoryArchive cutCount(Bytes{0x05, 0x00});
    CDynString noCount("old");
    cutCount.archive.ReadString(noCount);
    EXPECT_TRUE(cutCount.archive.fail());
    EXPECT_STREQ(noCount.GetText(), "");
}

TEST(BinArchiveTest, CheckCountGuardsCollectionReaders)
{
    MemoryArchive m(IntBytes(2) + Bytes(16, 0));
    std::int32_t count = 0;
    m.archive.ReadInt(count);
    EXPECT_EQ(m.archive.RemainingBytes(), 16);
    EXPECT_TRUE(m.archive.CheckCount(count, 8));
    EXPECT_TRUE(m.archive.CheckCount(16, 0)); // sizes below 1 count as 1
    EXPECT_TRUE(m.archive.CheckCount(0, 1000));

    EXPECT_FALSE(m.archive.CheckCount(3, 8));
    EXPECT_TRUE(m.archive.fail());
    // Once failed, nothing passes.
    EXPECT_FALSE(m.archive.CheckCount(0, 1));

    MemoryArchive negative(Bytes(16, 0));
    EXPECT_FALSE(negative.archive.CheckCount(-1, 1));
}

TEST(BinArchiveTest, RemainingBytesFollowsSeeksAndMissingFiles)
{
    MemoryArchive m(TextBytes("Kestrelon header") + IntBytes(13));
    char header[8];
    m.archive.read(header, sizeof header);
    EXPECT_EQ(m.archive.RemainingBytes(), 12);
    // A reader that looks for a header and goes back to the start.
    m.archive.seekg(0);
    EXPECT_EQ(m.archive.RemainingBytes(), 20);

    std::string missing = TempPath("no/such/folder/file.bin");
    CBinArchive in(missing.c_str(), std::ios::in);
    EXPECT_TRUE(in.fail());
    EXPECT_EQ(in.RemainingBytes(), 0);
    std::int32_t value = 3;
    in.ReadInt(value);
    EXPECT_EQ(value, 3);
    CBinArchive out(missing.c_str(), std::ios::out);
    EXPECT_TRUE(out.fail());
    out.WriteInt(1).WriteString(CDynString("x")); // does nothing, no crash

    // A reader that opens its file itself.
    std::string path = TempPath("later.bin");
    {
        CBinArchive writer(path.c_str(), std::ios::out);
        writer.WriteInt(21);
    }
    CBinArchive reader;
    EXPECT_TRUE(reader.Open(path.c_str(), std::ios::in));
    EXPECT_EQ(reader.RemainingBytes(), 4);
    reader.ReadInt(value);
    EXPECT_EQ(value, 21);
}

} // namespace
