#include "FileIO.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <istream>
#include <string>
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
