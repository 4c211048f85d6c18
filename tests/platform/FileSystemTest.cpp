#include "FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
