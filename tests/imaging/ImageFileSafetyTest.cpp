// The image readers given a pipe, a folder or a device fail at once, and a
// picture saved on a full disk leaves the old file as it was.
#include "BmpDisplayImage.h"
#include "FileIO.h"
#include "ImageFiles.h"
#include "JpegFileReader.h"
#include "Message.h"
#include "TiffDisplayImage.h"
#include "TiffFileReader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct ImageReaderCase {
    const char* name;
    std::function<bool(const std::string& path)> read;
};

TEST(ImageFileSafety, EveryImageReaderRefusesPipesFoldersAndDevicesAtOnce)
{
    const ImageReaderCase readers[] = {
        {"BMP picture", [](const std::string& p) { return CBmpDisplayImage().Load(p.c_str(), 0) == 1; }},
        {"TIFF picture", [](const std::string& p) { return CTiffDisplayImage().Load(p.c_str(), 0) == 1; }},
        {"BMP size", [](const std::string& p) {
             int w = 0, h = 0;
             return CBmpDisplayImage().ReadSize(p.c_str(), w, h) == 1;
         }},
        {"TIFF size", [](const std::string& p) {
             int w = 0, h = 0;
             return CTiffDisplayImage().ReadSize(p.c_str(), w, h) == 1;
         }},
        {"TIFF file", [](const std::string& p) { return CTiffFileReader(p.c_str()).Open(); }},
        {"JPEG file", [](const std::string& p) { return CJpegFileReader(p.c_str()).Open(); }},
    };
    TempFolder temp;
    const std::string pipe = temp.File("pipe.tif");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string folder = temp.File("folder.tif");
    std::filesystem::create_directory(folder);
    for (const ImageReaderCase& reader : readers) {
        for (const std::string& path : {pipe, folder, std::string("/dev/zero")}) {
            SCOPED_TRACE(std::string(reader.name) + " on " + path);
            // A reader that blocks or reads for ever ends the test here.
            alarm(10);
            EXPECT_FALSE(reader.read(path));
            alarm(0);
        }
    }
    TakeCapturedMessages();
}

TEST(ImageFileSafety, SavingOnAFullDiskKeepsTheOldPicture)
{
    TempFolder temp;
    const std::string source = temp.File("grey.bmp");
    const std::string target = temp.File("saved.bmp");
    ASSERT_TRUE(WriteBytes(source, MakeTestBmp(MakePicture(5, 3, 1, 7), BmpLayout{})));
    CBmpDisplayImage picture;
    ASSERT_EQ(picture.Load(source.c_str(), 0), 1);
    const std::vector<uint8_t> oldBytes = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteBytes(target, oldBytes));

    const FileWriteFunction old = SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    EXPECT_EQ(picture.SaveAsBmp(target.c_str()), 0);
    SetFileWriteFunction(old);
    EXPECT_EQ(picture.GetSaveError(), SystemErrorText(ENOSPC));
    EXPECT_EQ(ReadBytes(target), oldBytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.File("")),
                            std::filesystem::directory_iterator()),
              2);

    // Saved for real it reads back with the same grey values.
    ASSERT_EQ(picture.SaveAsBmp(target.c_str()), 1);
    EXPECT_EQ(picture.GetSaveError(), "");
    CBmpDisplayImage again;
    ASSERT_EQ(again.Load(target.c_str(), 0), 1);
    for (int line = 0; line < 3; ++line) {
        uint8_t a[8] = {}, b[8] = {};
        ASSERT_EQ(picture.GetGreyRow(line, a), again.GetGreyRow(line, b));
        EXPECT_EQ(std::string(a, a + 5), std::string(b, b + 5));
    }
    TakeCapturedMessages();
}

} // namespace
