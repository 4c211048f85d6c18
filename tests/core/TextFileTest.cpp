#include "DynString.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string TempPath(const char* name)
{
    static const kestrelon::test::TempFolder folder;
    return folder.File(name);
}

using kestrelon::test::ReadFileBytes;

TEST(TextFileTest, EveryLineEndsWithCarriageReturnLineFeedOnDisk)
{
    std::string path = TempPath("report.txt");
    {
        CTextFile file(path.c_str(), std::ios::out);
        ASSERT_TRUE(file.good());
        EXPECT_TRUE(file.WriteLine(CDynString("  Point        X")));
        EXPECT_TRUE(file.WriteLine(""));
        EXPECT_TRUE(file.WriteLine("P1\n"));        // a line end inside the text
        EXPECT_TRUE(file.WriteLine(CDynString())); // empty string
        file << "via stream\n" << 12 << '\n';
    }
    EXPECT_EQ(ReadFileBytes(path), "  Point        X\r\n\r\nP1\r\n\r\n\r\nvia stream\r\n12\r\n");

    // Opening again truncates.
    {
        CTextFile file(path.c_str(), std::ios::out);
        file.WriteLine("only");
    }
    EXPECT_EQ(ReadFileBytes(path), "only\r\n");
}

TEST(TextFileTest, LongLinesArriveWhole)
{
    std::string path = TempPath("long.txt");
    std::string line(100000, 'x');
    line[50000] = '\n';
    {
        CTextFile file(path.c_str(), std::ios::out);
        file.WriteLine(line.c_str());
    }
    std::string expected = line.substr(0, 50000) + "\r\n" + line.substr(50001) + "\r\n";
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(TextFileTest, AFileThatCannotBeOpenedStaysQuiet)
{
    std::string path = TempPath("missing/folder/report.txt");
    CTextFile file(path.c_str(), std::ios::out);
    EXPECT_TRUE(file.fail());
    EXPECT_TRUE(file.WriteLine("nothing"));
    EXPECT_EQ(file.GetMode(), std::ios::out);
    EXPECT_FALSE(std::ifstream(path).is_open());
}

} // namespace
