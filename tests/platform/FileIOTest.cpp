#include "FileIO.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <istream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads and seeks at places around the reader's
// buffer boundaries; the file's own bytes are the truth.
TEST(FileInput, ReadsAndSeeksGiveTheFileBytesAcrossBufferBoundaries)
{
    const kestrelon::test::TempFolder folder;
    const std::string path = folder.File("input.bin");
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919u) >> 5);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    CFileInput file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.Size(), bytes.size());
    std::istream in(&file);

    struct Step {
        std::int64_t seek; // -1: read on from where the last step ended
        std::size_t count;
    };
    const Step steps[] = {{0, 10},         {-1, 65526},     {-1, 4},       {65530, 12},  {65530, 3},
                          {10, 200000},    {131070, 70000}, {199990, 20},  {70000, 1},   {-1, 65536 * 2},
                          {65535, 1},      {0, 0},          {200000, 5}};
    std::int64_t at = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("seek " + std::to_string(step.seek) + ", read " + std::to_string(step.count));
        if (step.seek >= 0) {
            in.clear();
            in.seekg(step.seek);
            at = step.seek;
        }
        ASSERT_EQ(static_cast<std::int64_t>(in.tellg()), at);
        std::string got(step.count, '\0');
        in.read(&got[0], static_cast<std::streamsize>(got.size()));
        const std::size_t expected =
            std::min<std::size_t>(step.count, bytes.size() - static_cast<std::size_t>(at));
        ASSERT_EQ(static_cast<std::size_t>(in.gcount()), expected);
        EXPECT_EQ(got.substr(0, expected), bytes.substr(static_cast<std::size_t>(at), expected));
        at += static_cast<std::int64_t>(expected);
        in.clear();
        EXPECT_EQ(static_cast<std::int64_t>(in.tellg()), at);
    }
}

TEST(FileInput, ASizeCapRefusesLargerFiles)
{
    const kestrelon::test::TempFolder folder;
    const std::string path = folder.File("cap.bin");
    std::ofstream(path, std::ios::binary) << std::string(1000, 'x');
    std::string bytes = "old";
    std::string error;
    EXPECT_FALSE(ReadRegularFile(path, bytes, 999, error));
    EXPECT_EQ(bytes, "old");
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(ReadRegularFile(path, bytes, 1000, error));
    EXPECT_EQ(bytes, std::string(1000, 'x'));
}

} // namespace

namespace file_io_rename_test {

using kestrelon::test::ReadFileBytes;
using kestrelon::test::TempFolder;

// What stands at the new name before a rename.
enum class Target { None, File, Folder, LinkToFile, DanglingLink };

TEST(FileRename, RenamesInOneStepAndRefusesWhatItMustNotReplace)
{
    const struct {
        const char* name;
        Target target;
        bool replace;
        bool sourceIsLink;
        bool ok;
    } cases[] = {
        {"free name", Target::None, false, false, true},
        {"file, no replace", Target::File, false, false, false},
        {"file, replace", Target::File, true, false, true},
        {"folder, replace", Target::Folder, true, false, false},
        {"link to a file, replace: the link stays", Target::LinkToFile, true, false, true},
        {"dangling link", Target::DanglingLink, true, false, false},
        {"source is a link", Target::None, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder temp;
        const std::string from = temp.Write("a.xyz", "new\r\n");
        const std::string to = temp.File("b.xyz");
        const std::string linked = temp.File("linked.xyz");
        std::string source = from;
        if (c.sourceIsLink) {
            source = temp.File("link-a.xyz");
            ASSERT_EQ(::symlink(from.c_str(), source.c_str()), 0);
        }
        switch (c.target) {
        case Target::None: break;
        case Target::File: temp.Write("b.xyz", "old\r\n"); break;
        case Target::Folder: ASSERT_EQ(::mkdir(to.c_str(), 0755), 0); break;
        case Target::LinkToFile:
            temp.Write("linked.xyz", "old\r\n");
            ASSERT_EQ(::symlink(linked.c_str(), to.c_str()), 0);
            break;
        case Target::DanglingLink: ASSERT_EQ(::symlink(linked.c_str(), to.c_str()), 0); break;
        }
        std::string error;
        EXPECT_EQ(RenameRegularFile(source, to, c.replace, error), c.ok);
        EXPECT_EQ(error.empty(), c.ok) << error;
        if (c.ok) {
            EXPECT_NE(::access(from.c_str(), F_OK), 0);
            EXPECT_EQ(ReadFileBytes(to), "new\r\n");
            if (c.target == Target::LinkToFile) {
                char buffer[4096];
                EXPECT_GT(::readlink(to.c_str(), buffer, sizeof buffer), 0);
                EXPECT_EQ(ReadFileBytes(linked), "new\r\n");
            }
        } else {
            EXPECT_EQ(ReadFileBytes(from), "new\r\n");
            if (c.target == Target::File) {
                EXPECT_EQ(ReadFileBytes(to), "old\r\n");
            }
            if (c.target == Target::DanglingLink) {
                EXPECT_NE(::access(linked.c_str(), F_OK), 0);
            }
        }
    }
}

TEST(FileRename, NewFilesNeverTouchWhatIsThere)
{
    TempFolder temp;
    std::string error;
    const std::string fresh = temp.File("new.xyz");
    EXPECT_TRUE(CreateNewFile(fresh, error)) << error;
    EXPECT_EQ(ReadFileBytes(fresh), "");
    const std::string kept = temp.Write("kept.xyz", "user data\r\n");
    EXPECT_FALSE(CreateNewFile(kept, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(kept), "user data\r\n");
    // A dangling link is refused, and nothing is made where it points.
    const std::string link = temp.File("link.xyz");
    ASSERT_EQ(::symlink(temp.File("elsewhere.xyz").c_str(), link.c_str()), 0);
    EXPECT_FALSE(CreateNewFile(link, error));
    EXPECT_NE(::access(temp.File("elsewhere.xyz").c_str(), F_OK), 0);
}

// A copy is made whole at a free name or not at all; nothing there is replaced.
TEST(FileRename, CopiesNeverReplaceAndFailWhole)
{
    TempFolder temp;
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31u);
    const std::string from = temp.Write("from.xyz", bytes);
    std::string error;
    EXPECT_TRUE(CopyRegularFile(from, temp.File("copy.xyz"), error)) << error;
    EXPECT_EQ(ReadFileBytes(temp.File("copy.xyz")), bytes);

    const std::string kept = temp.Write("kept.xyz", "user data\r\n");
    EXPECT_FALSE(CopyRegularFile(from, kept, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(kept), "user data\r\n");

    // A pipe is refused at once, as source or as target.
    const std::string pipe = temp.File("pipe.xyz");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(CopyRegularFile(pipe, temp.File("fromPipe.xyz"), error));
    EXPECT_FALSE(CopyRegularFile(from, pipe, error));

    // A full disk leaves no file behind.
    const FileWriteFunction previous = SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    EXPECT_FALSE(CopyRegularFile(from, temp.File("full.xyz"), error));
    SetFileWriteFunction(previous);
    EXPECT_EQ(error, SystemErrorText(ENOSPC));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp.Path()))
        entries += entry.path().filename() != "pipe.xyz";
    EXPECT_EQ(entries, 3); // from, copy and kept
}

} // namespace file_io_rename_test
