#include "FilePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Folder(const char* p) { return CFilePath(p).GetFolder().GetText(); }
std::string FileName(const char* p) { return CFilePath(p).GetFileName().GetText(); }
std::string Title(const char* p) { return CFilePath(p).GetTitle().GetText(); }
std::string Extension(const char* p) { return CFilePath(p).GetExtension().GetText(); }

template <typename Op>
std::string After(const char* path, Op op)
{
    CFilePath p(path);
    EXPECT_TRUE(op(p));
    return p.GetText();
}

} // namespace

TEST(FilePathSplit, WindowsPaths)
{
    EXPECT_EQ(Folder("E:\\old\\pic.tif"), "E:\\old");
    EXPECT_EQ(FileName("E:\\old\\pic.tif"), "pic.tif");
    EXPECT_EQ(Title("E:\\old\\pic.tif"), "pic");
    EXPECT_EQ(Extension("E:\\old\\pic.tif"), "tif");

    EXPECT_EQ(Folder("E:file.txt"), "E:");
    EXPECT_EQ(FileName("E:file.txt"), "E:file.txt");
    EXPECT_EQ(Folder("file.txt"), "");
    EXPECT_EQ(Folder("E"), "");
    EXPECT_EQ(Extension("E:\\a.b\\c"), "");
    EXPECT_EQ(Title("E:\\d\\x.y.z"), "x.y");
    EXPECT_EQ(Extension("E:\\d\\x.y.z"), "z");
    EXPECT_EQ(Title("E:\\old\\"), "");
    EXPECT_EQ(FileName("E:\\old\\"), "");
    EXPECT_EQ(Extension("E:\\a\\b."), "");
    EXPECT_EQ(Title("E:\\a\\b."), "b");
}

TEST(FilePathSplit, ForwardAndMixedSeparators)
{
    EXPECT_EQ(Folder("/home/u/pic.tif"), "/home/u");
    EXPECT_EQ(Title("/home/u/pic.tif"), "pic");
    EXPECT_EQ(Extension("/home/u.d/pic"), "");
    EXPECT_EQ(Folder("/pic.tif"), "");
    // The later of the two separators splits.
    EXPECT_EQ(Folder("C:\\dir/sub\\file.tif"), "C:\\dir/sub");
    EXPECT_EQ(FileName("C:\\dir/sub\\file.tif"), "file.tif");
    EXPECT_EQ(Folder("a\\b/c.d"), "a\\b");
    EXPECT_EQ(FileName("/x.y\\z"), "z");
    EXPECT_EQ(Extension("/x.y\\z"), "");
    EXPECT_EQ(Extension("a\\b.c/d"), "");
}

TEST(FilePathRebuild, SetFolder)
{
    auto setFolder = [](const char* folder) { return [folder](CFilePath& p) { return p.SetFolder(folder); }; };
    EXPECT_EQ(After("E:\\old\\pic.tif", setFolder("D:\\new")), "D:\\new\\pic.tif");
    EXPECT_EQ(After("E:\\old\\", setFolder("D:\\new")), "D:\\new\\");
    EXPECT_EQ(After("E:\\old\\pic.tif", setFolder("D:\\new\\")), "D:\\new\\pic.tif");
    EXPECT_EQ(After("E:\\a\\b", setFolder("D:\\new")), "D:\\new\\b.");
    EXPECT_EQ(After("E:\\old\\pic.tif", setFolder("D:")), "D:\\pic.tif");
    EXPECT_EQ(After("/old/pic.tif", setFolder("/data/new")), "/data/new/pic.tif");
    EXPECT_EQ(After("/old/pic.tif", setFolder("/data/new/")), "/data/new/pic.tif");
    // A folder brings its own kind of separator.
    EXPECT_EQ(After("E:\\old\\pic.tif", setFolder("/data")), "/data/pic.tif");
    EXPECT_EQ(After("/old/pic.tif", setFolder("C:\\x")), "C:\\x\\pic.tif");
    // Without separators of its own, the folder gets the path's kind.
    EXPECT_EQ(After("E:\\old\\pic.tif", setFolder("rel")), "rel\\pic.tif");
    EXPECT_EQ(After("pic.tif", setFolder("rel")), "rel/pic.tif");
    // An empty folder leaves the bare file name.
    EXPECT_EQ(After("/old/pic.tif", setFolder("")), "pic.tif");
}

TEST(FilePathRebuild, SetTitleExtensionAndFileName)
{
    auto title = [](const char* t) { return [t](CFilePath& p) { return p.SetTitle(t); }; };
    auto ext = [](const char* e) { return [e](CFilePath& p) { return p.SetExtension(e); }; };
    auto name = [](const char* n) { return [n](CFilePath& p) { return p.SetFileName(n); }; };

    EXPECT_EQ(After("E:\\a\\b.txt", title("c")), "E:\\a\\c.txt");
    EXPECT_EQ(After("/a/b.txt", title("c")), "/a/c.txt");
    EXPECT_EQ(After("E:\\a\\b", title("c")), "E:\\a\\c.");
    EXPECT_EQ(After("E:file.txt", title("c")), "E:\\c.txt");
    // A path without folder gains a leading separator.
    EXPECT_EQ(After("b.txt", title("c")), "/c.txt");

    EXPECT_EQ(After("E:\\a\\b", ext("")), "E:\\a\\b.");
    EXPECT_EQ(After("E:\\a\\b.tif", ext("jpg")), "E:\\a\\b.jpg");
    EXPECT_EQ(After("/a/b.c.tif", ext("jpg")), "/a/b.c.jpg");
    EXPECT_EQ(After("/a.d/b", ext("x")), "/a.d/b.x");

    EXPECT_EQ(After("E:\\a\\b.tif", name("x.y")), "E:\\a\\x.y");
    EXPECT_EQ(After("/a/b.tif", name("x")), "/a/x");
    EXPECT_EQ(After("C:\\dir/sub\\f.tif", name("g.tif")), "C:\\dir/sub\\g.tif");
    EXPECT_EQ(After("C:\\dir\\sub/f.tif", name("g.tif")), "C:\\dir\\sub/g.tif");
}

TEST(FilePathRebuild, IncrementNumber)
{
    auto inc = [](CFilePath& p) { return p.IncrementNumber(); };
    EXPECT_EQ(After("E:\\p\\img0099.tif", inc), "E:\\p\\img0100.tif");
    EXPECT_EQ(After("/p/IMG009.tif", inc), "/p/IMG010.tif");
    EXPECT_EQ(After("/p/IMG99.tif", inc), "/p/IMG100.tif");
    EXPECT_EQ(After("/p/A.tif", inc), "/p/A1.tif");
    EXPECT_EQ(After("/p/7.tif", inc), "/p/8.tif");
    EXPECT_EQ(After("/p/x7", inc), "/p/x8.");
    EXPECT_EQ(After("/p/R1.5.tif", inc), "/p/R1.6.tif");
    // Digit runs longer than any machine integer still count up.
    EXPECT_EQ(After("/p/N99999999999999999999999.tif", inc), "/p/N100000000000000000000000.tif");
    EXPECT_EQ(After("/p/N00000000000000000000009.tif", inc), "/p/N00000000000000000000010.tif");

    for (const char* noTitle : {"E:\\old\\", "/p/.tif", ""}) {
        CFilePath p(noTitle);
        EXPECT_FALSE(p.IncrementNumber()) << noTitle;
        EXPECT_STREQ(p.GetText(), noTitle);
    }
}

TEST(FilePathRebuild, CopiesAreIndependent)
{
    CFilePath a("/a/b.c");
    CFilePath b(a);
    b.SetTitle("z");
    EXPECT_STREQ(a.GetText(), "/a/b.c");
    EXPECT_STREQ(b.GetText(), "/a/z.c");
    a = b;
    EXPECT_STREQ(a.GetText(), "/a/z.c");
    a = CDynString("q.r");
    EXPECT_STREQ(a.GetExtension().GetText(), "r");
}
