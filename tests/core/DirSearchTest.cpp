#include "DirSearch.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh folder with helpers to make entries in it.
struct TempFolder : kestrelon::test::TempFolder {
    TempFolder() : kestrelon::test::TempFolder("kestrelon-dirsearch"), path(Path()) {}
    void File(const std::string& name) const { Write(name, "x"); }
    void Folder(const std::string& name) const { fs::create_directory(path + "/" + name); }

    std::string path;
};

// Sets an environment variable for the lifetime of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name(name)
    {
        if (const char* old = std::getenv(name)) {
            had = true;
            saved = old;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (had)
            ::setenv(name, saved.c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    const char* name;
    bool had = false;
    std::string saved;
};

std::vector<std::string> Walk(CDirSearch& search, const std::string& folder, const char* extension)
{
    std::vector<std::string> found;
    if (search.FindFirst(folder.c_str(), extension)) {
        do
            found.emplace_back(search.GetText());
        while (search.FindNext() && found.size() < 100);
    }
    return found;
}

} // namespace

TEST(DirSearch, WalksMatchingEntriesSortedCaseInsensitively)
{
    TempFolder t;
    ASSERT_FALSE(t.path.empty());
    for (const char* name : {"b.TIF", "a.tif", "C.Tif", "d.tiff", "e.jpg", "tif", "x.tif.bak", "B2.tif"})
        t.File(name);
    t.Folder("sub.tif");
    t.Folder("other");

    CDirSearch search;
    const std::string f = t.path + "/";
    EXPECT_EQ(Walk(search, t.path, "tif"),
              (std::vector<std::string>{f + "a.tif", f + "b.TIF", f + "B2.tif", f + "C.Tif", f + "sub.tif"}));
    EXPECT_FALSE(search.IsSearchOpen());
    EXPECT_FALSE(search.FindNext()); // closed at the end of the list

    // A folder that already ends with a separator gets no second one.
    EXPECT_EQ(Walk(search, f, "JPG"), (std::vector<std::string>{f + "e.jpg"}));
    EXPECT_EQ(Walk(search, t.path, "").size(), 2u); // "tif" and "other": names without a dot
}

TEST(DirSearch, FailuresAndRestarts)
{
    TempFolder t;
    t.File("one.tif");
    t.File("two.tif");

    CDirSearch search("keep");
    EXPECT_FALSE(search.FindFirst("", "tif"));
    EXPECT_FALSE(search.FindFirst((t.path + "/missing").c_str(), "tif"));
    EXPECT_FALSE(search.FindFirst(t.path.c_str(), "png"));
    EXPECT_STREQ(search.GetText(), "keep");
    EXPECT_FALSE(search.FindNext());

    ASSERT_TRUE(search.FindFirst(t.path.c_str(), "tif"));
    EXPECT_EQ(std::string(search.GetText()), t.path + "/one.tif");
    // A new search starts over.
    ASSERT_TRUE(search.FindFirst(t.path.c_str(), "tif"));
    EXPECT_EQ(std::string(search.GetText()), t.path + "/one.tif");
    // The next entry goes into the folder of the current path.
    search = "elsewhere/x.tif";
    ASSERT_TRUE(search.FindNext());
    EXPECT_STREQ(search.GetText(), "elsewhere/two.tif");
    // A path without folder ends the walk.
    ASSERT_TRUE(search.FindFirst(t.path.c_str(), "tif"));
    search = "x.tif";
    EXPECT_FALSE(search.FindNext());
}

TEST(DirSearch, WalksTheRootFolder)
{
    // Entries of "/" have an empty folder text; the walk still goes on.
    CDirSearch search;
    const std::vector<std::string> found = Walk(search, "/", "*");
    ASSERT_GE(found.size(), 2u);
    for (const std::string& path : found)
        EXPECT_EQ(path.rfind('/'), 0u) << path;
}

TEST(DirSearch, Exists)
{
    TempFolder t;
    t.File("here.txt");
    EXPECT_TRUE(CDirSearch((t.path + "/here.txt").c_str()).Exists());
    EXPECT_TRUE(CDirSearch(t.path.c_str()).Exists());
    EXPECT_FALSE(CDirSearch((t.path + "/gone.txt").c_str()).Exists());
    EXPECT_FALSE(CDirSearch("").Exists());
    EXPECT_FALSE(CDirSearch("C:\\no\\such\\file.txt").Exists());
}

TEST(DirSearch, WindowsFolderIsTheProfileFolder)
{
    TempFolder t;
    {
        EnvVar xdg("XDG_CONFIG_HOME", (t.path + "/cfg").c_str());
        CDirSearch p("Kestrelon.ini");
        ASSERT_TRUE(p.SetWindowsFolder());
        EXPECT_EQ(std::string(p.GetText()), t.path + "/cfg/kestrelon/Kestrelon.ini");
        EXPECT_TRUE(fs::is_directory(t.path + "/cfg/kestrelon"));
    }
    {
        EnvVar xdg("XDG_CONFIG_HOME", nullptr);
        EnvVar home("HOME", t.path.c_str());
        CDirSearch p("E:\\win\\Kestrelon.ini");
        ASSERT_TRUE(p.SetWindowsFolder());
        EXPECT_EQ(std::string(p.GetText()), t.path + "/.config/kestrelon/Kestrelon.ini");
    }
    {
        // A relative value is not used.
        EnvVar xdg("XDG_CONFIG_HOME", "relative/cfg");
        EnvVar home("HOME", t.path.c_str());
        CDirSearch p("Kestrelon.ini");
        ASSERT_TRUE(p.SetWindowsFolder());
        EXPECT_EQ(std::string(p.GetText()), t.path + "/.config/kestrelon/Kestrelon.ini");
    }
    {
        // A folder that cannot be made: the path stays as it was.
        t.File("blocker");
        EnvVar xdg("XDG_CONFIG_HOME", (t.path + "/blocker").c_str());
        CDirSearch p("Kestrelon.ini");
        EXPECT_FALSE(p.SetWindowsFolder());
        EXPECT_STREQ(p.GetText(), "Kestrelon.ini");
    }
}
