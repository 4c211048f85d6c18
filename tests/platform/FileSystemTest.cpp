#include "FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

TEST(FileSystemPattern, ExtensionMatching)
{
    EXPECT_TRUE(MatchesExtensionPattern("a.tif", "tif"));
    EXPECT_TRUE(MatchesExtensionPattern("A.TIF", "tif"));
    EXPECT_TRUE(MatchesExtensionPattern("a.Tif", "TIF"));
    EXPECT_TRUE(MatchesExtensionPattern("a.b.tif", "tif"));
    EXPECT_TRUE(MatchesExtensionPattern(".tif", "tif"));
    EXPECT_FALSE(MatchesExtensionPattern("a.tiff", "tif"));
    EXPECT_FALSE(MatchesExtensionPattern("a.tif.bak", "tif"));
    EXPECT_FALSE(MatchesExtensionPattern("atif", "tif"));
    EXPECT_FALSE(MatchesExtensionPattern("tif", "tif"));
    EXPECT_FALSE(MatchesExtensionPattern("", "tif"));

    EXPECT_TRUE(MatchesExtensionPattern("noext", ""));
    EXPECT_FALSE(MatchesExtensionPattern("a.b", ""));
    EXPECT_TRUE(MatchesExtensionPattern("anything.at.all", "*"));
    EXPECT_TRUE(MatchesExtensionPattern("noext", "*"));
    EXPECT_TRUE(MatchesExtensionPattern("a.tif", "t?f"));
    EXPECT_TRUE(MatchesExtensionPattern("a.tiff", "ti*"));
    EXPECT_FALSE(MatchesExtensionPattern("a.jpg", "ti*"));
    // Back-tracking over many candidate dots and stars stays correct.
    const std::string many = std::string(2000, '.') + "x";
    EXPECT_TRUE(MatchesExtensionPattern(many.c_str(), "*.*.*x"));
    EXPECT_FALSE(MatchesExtensionPattern(many.c_str(), "*.*.*y"));
}

TEST(FileSystemPattern, EntryOrder)
{
    std::vector<std::string> names = {"b.tif", "B1.tif", "a.tif", "A.tif", "_x.tif", "C.tif", "a"};
    std::sort(names.begin(), names.end(), FolderEntryLess);
    EXPECT_EQ(names, (std::vector<std::string>{"_x.tif", "a", "A.tif", "a.tif", "b.tif", "B1.tif", "C.tif"}));
}

TEST(FileSystemSearch, ListsAndCloses)
{
    std::string pattern = (fs::temp_directory_path() / "kestrelon-fs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    const std::string dir = pattern;
    for (const char* n : {"Z.TXT", "y.txt", "x.dat"})
        std::ofstream(dir + "/" + n) << "1";

    CFolderSearch search;
    std::string name;
    ASSERT_TRUE(search.Open(dir, "txt", name));
    EXPECT_EQ(name, "y.txt");
    ASSERT_TRUE(search.Next(name));
    EXPECT_EQ(name, "Z.TXT");
    EXPECT_FALSE(search.Next(name));
    search.Close();
    EXPECT_FALSE(search.IsOpen());
    EXPECT_FALSE(search.Next(name));
    EXPECT_FALSE(search.Open(dir + "/nope", "txt", name));

    EXPECT_TRUE(FileExists((dir + "/x.dat").c_str()));
    EXPECT_FALSE(FileExists((dir + "/w.dat").c_str()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
    fs::remove_all(dir);
}

TEST(FileSystemProfile, FolderFromEnvironment)
{
    std::string pattern = (fs::temp_directory_path() / "kestrelon-prof-XXXXXX").string();
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    const std::string dir = pattern;
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";

    std::string folder;
    ::setenv("XDG_CONFIG_HOME", (dir + "/a/b/").c_str(), 1);
    ASSERT_TRUE(GetProfileFolder(folder));
    EXPECT_EQ(folder, dir + "/a/b/kestrelon");
    EXPECT_TRUE(fs::is_directory(folder));

    // A relative or empty value is not used.
    ::setenv("HOME", dir.c_str(), 1);
    for (const char* ignored : {"relative/cfg", ""}) {
        ::setenv("XDG_CONFIG_HOME", ignored, 1);
        ASSERT_TRUE(GetProfileFolder(folder));
        EXPECT_EQ(folder, dir + "/.config/kestrelon");
    }

    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
    fs::remove_all(dir);
}
