// The image handle: loading by file kind, reference counting and the
// forwarding that does nothing without a picture.
#include "ImageFiles.h"
#include "ImageHandle.h"
#include "ProjectImage.h"

#include <gtest/gtest.h>

namespace {

TEST(ImageHandle, LoadsByFileKindAndFailsWithoutAPicture)
{
    TempFolder folder;
    const TestPicture picture = MakePicture(40, 30, 1, 3);
    ASSERT_TRUE(WriteBytes(folder.File("a.bmp"), MakeTestBmp(picture, {})));
    ASSERT_TRUE(WriteTestTiff(folder.File("a.tif"), picture, {}));
    ASSERT_TRUE(WriteBytes(folder.File("a.png"), MakeTestBmp(picture, {})));
    const struct {
        const char* name;
        bool loads;
    } cases[] = {{"a.bmp", true}, {"a.tif", true}, {"a.png", false}, {"missing.bmp", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CProjectImage image;
        image.SetFilePath(folder.File(c.name).c_str());
        CImageHandle handle(&image, nullptr);
        int width = -1, height = -1;
        handle.GetSize(width, height);
        EXPECT_EQ(handle.GetPicture() != nullptr, c.loads);
        EXPECT_EQ(width, c.loads ? 40 : 0);
        EXPECT_EQ(height, c.loads ? 30 : 0);
        // Forwarding without a picture does nothing; with one it reaches it.
        const unsigned before = handle.GetGeneration();
        handle.ZoomAt({20, 15}, {0, 0, 40, 30}, true);
        EXPECT_EQ(handle.GetGeneration() != before, c.loads);
        if (c.loads) {
            EXPECT_EQ(handle.GetPicture()->GetZoom(), 2);
        }
        handle.FullView();
        double column = 0.0, row = 0.0;
        EXPECT_EQ(handle.ViewToImage({10, 10}, {0, 0, 40, 30}, column, row), c.loads);
    }
}

TEST(ImageHandle, ReleaseDropsThePictureWhenNoReferenceIsLeft)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("a.bmp"), MakeTestBmp(MakePicture(16, 8, 1, 1), {})));
    CProjectImage image;
    image.SetFilePath(folder.File("a.bmp").c_str());
    CImageHandle unused(&image, nullptr);
    ASSERT_NE(unused.GetPicture(), nullptr);
    unused.Release(); // count 0: released at once
    EXPECT_EQ(unused.GetPicture(), nullptr);

    CImageHandle shared(&image, nullptr);
    shared.AddRef();
    shared.AddRef();
    shared.Release();
    EXPECT_NE(shared.GetPicture(), nullptr);
    shared.Release();
    EXPECT_EQ(shared.GetPicture(), nullptr);
    EXPECT_TRUE(shared.Load(nullptr));
    EXPECT_NE(shared.GetPicture(), nullptr);
}

// Panning a zoomed picture keeps the visible part's size and keeps it inside
// the picture; the whole picture does not move.
TEST(ImageHandle, ScrollToPansTheZoomedPictureInsideItsEdges)
{
    TempFolder folder;
    ASSERT_TRUE(WriteBytes(folder.File("a.bmp"), MakeTestBmp(MakePicture(40, 30, 1, 3), {})));
    CProjectImage image;
    image.SetFilePath(folder.File("a.bmp").c_str());
    CImageHandle handle(&image, nullptr);
    ASSERT_NE(handle.GetPicture(), nullptr);
    CIntRect visible;
    unsigned before = handle.GetGeneration();
    handle.ScrollTo(5, 5);
    handle.GetPicture()->GetVisibleRect(visible);
    EXPECT_EQ(visible.left, 0);
    EXPECT_EQ(visible.top, 0);
    EXPECT_EQ(handle.GetGeneration(), before);
    handle.ZoomAt({20, 15}, {0, 0, 40, 30}, true); // 20 x 15 pixels shown
    const struct {
        int left, top;
        int expectLeft, expectTop;
    } moves[] = {{3, 4, 3, 4}, {-7, 2, 0, 2}, {35, 40, 20, 15}, {20, 15, 20, 15}};
    for (const auto& m : moves) {
        before = handle.GetGeneration();
        CIntRect old;
        handle.GetPicture()->GetVisibleRect(old);
        handle.ScrollTo(m.left, m.top);
        handle.GetPicture()->GetVisibleRect(visible);
        EXPECT_EQ(visible.left, m.expectLeft) << m.left;
        EXPECT_EQ(visible.top, m.expectTop) << m.top;
        EXPECT_EQ(visible.Width(), 20);
        EXPECT_EQ(visible.Height(), 15);
        // Drawers see a new generation only when the picture moved.
        EXPECT_EQ(handle.GetGeneration() != before, old.left != visible.left || old.top != visible.top);
    }
}

} // namespace
