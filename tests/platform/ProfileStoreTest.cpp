#include "ProfileStore.h"
#include "FileIO.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using kestrelon::test::TempFolder;

std::string ReadAll(const fs::path& p)
{
    return kestrelon::test::ReadFileBytes(p.string());
}

void WriteAll(const fs::path& p, const std::string& s)
{
    kestrelon::test::WriteFileBytes(p.string(), s);
}

TEST(ProfileStore, WindowsStyleFileLoadsWithCaseInsensitiveNamesAndTrimmedValues)
{
    TempFolder tf;
    const fs::path dir = tf.Path();
    const fs::path file = dir / "Kestrelon.ini";
    WriteAll(file, "; written by hand\r\n"
                   "[Current Camera Database]\r\n"
                   "number of cameras = 2\r\n"
                   "  Camera Identifiers=CAM1,CAM2  \r\n"
                   "[CAM1]\r\n"
                   "c = \"  50.0 \"\r\n"
                   "XPixels=  -3000junk\r\n"
                   "no equals sign here\r\n"
                   "[cam1]\n"
                   "Extra=yes"); // LF line, and no line end at all
    CProfileStore s(file.string());
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.GetInt("CURRENT CAMERA DATABASE", "Number of Cameras"), 2);
    EXPECT_EQ(s.GetString("Current Camera Database", "camera identifiers"), "CAM1,CAM2");
    EXPECT_EQ(s.GetString("Cam1", "C"), "  50.0 "); // quotes protect inner blanks
    EXPECT_EQ(s.GetInt("CAM1", "XPixels"), -3000);
    EXPECT_EQ(s.GetString("CAM1", "Extra"), "yes"); // a repeated section header continues the section
    EXPECT_EQ(s.GetSectionNames().size(), 2u);
    EXPECT_EQ(s.GetString("CAM1", "missing", "dflt"), "dflt");
    EXPECT_EQ(s.GetInt("CAM1", "missing", 7), 7);
    EXPECT_EQ(s.GetInt("CAM2", "missing"), 0);
}

TEST(ProfileStore, IntsSaturateAndNonNumbersReadAsZero)
{
    CProfileStore s;
    s.FromText("[S]\nbig=99999999999\nneg=-99999999999\ntext=abc\nplus=+12\n");
    EXPECT_EQ(s.GetInt("S", "big"), 0x7fffffff);
    EXPECT_EQ(s.GetInt("S", "neg"), int(-0x7fffffff - 1));
    EXPECT_EQ(s.GetInt("S", "text", 5), 0);
    EXPECT_EQ(s.GetInt("S", "plus"), 12);
}

TEST(ProfileStore, WritesKeepFileOrderAndRoundTripThroughDiskWithCrLf)
{
    TempFolder tf;
    const fs::path dir = tf.Path();
    const fs::path file = dir / "sub" / "folder" / "Kestrelon.ini"; // folders created on flush
    CProfileStore s(file.string());
    EXPECT_FALSE(s.Load());
    s.WriteString("Recent File List", "File1", "/home/u/a.kst");
    s.WriteString("B", "x", "1");
    s.WriteInt("B", "y", -4);
    s.WriteString("recent file list", "FILE1", "/home/u/b.kst"); // overwrites in place
    ASSERT_TRUE(s.Flush());
    EXPECT_EQ(ReadAll(file), "[Recent File List]\r\nFile1=/home/u/b.kst\r\n[B]\r\nx=1\r\ny=-4\r\n");
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));

    CProfileStore r(file.string());
    ASSERT_TRUE(r.Load());
    EXPECT_EQ(r.ToText(), s.ToText());
}

TEST(ProfileStore, NullKeyDeletesSectionNullValueDeletesKey)
{
    CProfileStore s;
    s.FromText("[A]\nk=1\nj=2\n[B]\nk=3\n");
    s.WriteString("A", "k", nullptr);
    EXPECT_FALSE(s.HasKey("A", "k"));
    EXPECT_TRUE(s.HasKey("A", "j"));
    s.WriteString("b", nullptr, nullptr);
    EXPECT_FALSE(s.HasSection("B"));
    EXPECT_EQ(s.ToText(), "[A]\r\nj=2\r\n");
}

TEST(ProfileStore, LookupsStayRightAfterDeletesAndDuplicates)
{
    CProfileStore s;
    // Repeated sections merge, the first of duplicate keys wins whatever the case.
    s.FromText("[A]\nk1=1\nK1=dup\n[b]\nx=5\n[a]\nk2=2\nk3=3\n");
    EXPECT_EQ(s.GetSectionNames(), (std::vector<std::string>{"A", "b"}));
    EXPECT_EQ(s.GetString("a", "K1"), "1");
    // Deleting a key or a section leaves every other name findable.
    s.WriteString("A", "k1", nullptr);
    EXPECT_EQ(s.GetString("A", "k2"), "2");
    EXPECT_EQ(s.GetString("A", "k3"), "3");
    s.WriteString("A", "K3", "three");
    EXPECT_EQ(s.GetKeyNames("A"), (std::vector<std::string>{"k2", "k3"}));
    s.WriteString("A", nullptr, nullptr);
    EXPECT_EQ(s.GetString("B", "X"), "5");
    s.WriteString("C", "y", "6");
    s.WriteString("a", "z", "7");
    EXPECT_EQ(s.ToText(), "[b]\r\nx=5\r\n[C]\r\ny=6\r\n[a]\r\nz=7\r\n");
    // A name holding a NUL byte matches no name asked for.
    s.FromText(std::string("[S]\nk\0x=1\nk=2\n", 15));
    EXPECT_EQ(s.GetString("S", "k"), "2");
    EXPECT_EQ(s.GetKeyNames("S").size(), 2u);
}

TEST(ProfileStore, ManyKeysAndSectionsLoadWhole)
{
    // Tens of thousands of names, each found again afterwards.
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "[S" + std::to_string(i % 200) + "]\nKey " + std::to_string(i) + "=" + std::to_string(i) + "\n";
    CProfileStore s;
    s.FromText(text);
    EXPECT_EQ(s.GetSectionNames().size(), 200u);
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(s.GetInt(("s" + std::to_string(i % 200)).c_str(), ("KEY " + std::to_string(i)).c_str(), -1), i);
}

TEST(ProfileStore, OversizedOrEndlessFilesReadAsUnreadable)
{
    TempFolder tf;
    const fs::path dir = tf.Path();
    const fs::path big = dir / "big.ini";
    WriteAll(big, "[A]\nk=1\n");
    fs::resize_file(big, CProfileStore::kMaxFileBytes + 1); // sparse, costs no disk
    CProfileStore s;
    s.FromText("[Old]\nk=1\n");
    EXPECT_FALSE(s.Load(big.string()));
    EXPECT_TRUE(s.GetSectionNames().empty());
    // A device that never ends is not read at all.
    EXPECT_FALSE(s.Load("/dev/zero"));
    EXPECT_TRUE(s.GetSectionNames().empty());
    fs::resize_file(big, 8);
    EXPECT_TRUE(s.Load(big.string()));
    EXPECT_EQ(s.GetInt("A", "k"), 1);
}

TEST(ProfileStore, DeleteFileEmptiesStoreAndRemovesFile)
{
    TempFolder tf;
    const fs::path dir = tf.Path();
    const fs::path file = dir / "p.ini";
    WriteAll(file, "[A]\nk=1\n");
    CProfileStore s(file.string());
    ASSERT_TRUE(s.Load());
    EXPECT_TRUE(s.DeleteFile());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(s.HasSection("A"));
    EXPECT_TRUE(s.DeleteFile()); // nothing there: still fine
}

TEST(ProfileStore, FailedFlushLeavesOldFileIntact)
{
    TempFolder tf;
    const fs::path dir = tf.Path();
    // The folder of the target is a regular file: nothing can be created there.
    const fs::path blocker = dir / "blocker";
    WriteAll(blocker, "x");
    CProfileStore bad((blocker / "p.ini").string());
    bad.WriteString("A", "k", "v");
    EXPECT_FALSE(bad.Flush());
    EXPECT_TRUE(bad.IsModified());
    EXPECT_EQ(bad.GetLastError(), blocker.string() + ": " + SystemErrorText(ENOTDIR));
    EXPECT_EQ(bad.GetString("A", "k"), "v"); // kept for the next try

    // The target is a folder: the reason says so, and a later flush that
    // can write clears it.
    const fs::path folder = dir / "folder.ini";
    fs::create_directory(folder);
    CProfileStore blocked(folder.string());
    blocked.WriteString("A", "k", "v");
    EXPECT_FALSE(blocked.Flush());
    EXPECT_EQ(blocked.GetLastError(), "it is a folder, not a file");
    fs::remove(folder);
    EXPECT_TRUE(blocked.Flush());
    EXPECT_EQ(blocked.GetLastError(), "");
    EXPECT_EQ(ReadAll(folder), "[A]\r\nk=v\r\n");
    CProfileStore nowhere;
    EXPECT_FALSE(nowhere.Flush());
    EXPECT_FALSE(nowhere.GetLastError().empty());

    // A read-only folder: the temporary file cannot be made, the old file stays.
    if (geteuid() != 0) { // root ignores permissions
        const fs::path ro = dir / "ro";
        fs::create_directory(ro);
        WriteAll(ro / "p.ini", "[Old]\r\nk=1\r\n");
        chmod(ro.c_str(), 0555);
        CProfileStore s((ro / "p.ini").string());
        s.WriteString("New", "k", "2");
        EXPECT_FALSE(s.Flush());
        chmod(ro.c_str(), 0755);
        EXPECT_EQ(ReadAll(ro / "p.ini"), "[Old]\r\nk=1\r\n");
    }
}

} // namespace

TEST(ProfileStore, KeyNamesInFileOrder)
{
    CProfileStore s;
    s.FromText("[Recent File List]\r\nFile2=b\r\nfile1 = a\r\nFILE2=dup\r\n[Other]\r\nX=1\r\n");
    EXPECT_EQ(s.GetKeyNames("RECENT FILE LIST"), (std::vector<std::string>{"File2", "file1"}));
    EXPECT_TRUE(s.GetKeyNames("Missing").empty());
    EXPECT_TRUE(s.GetKeyNames(nullptr).empty());
    s.WriteString("Other", "X", nullptr);
    EXPECT_TRUE(s.GetKeyNames("Other").empty());
}
