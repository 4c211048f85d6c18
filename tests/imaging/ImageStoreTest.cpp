// The paged image store: what stays in memory, the paging file, eviction and
// the grey conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "ImageStore.h"
#include "ImageTestFiles.h"
#include "Message.h"

namespace {

struct PagingCase {
    const char* name;
    int lines, width, samples, bits;
    std::vector<std::string> existing; // files already in $TMPDIR
    const char* pagingFile;            // "" when all lines stay in memory
    int residentLimit;
};

TEST(ImageStore, PagesPlanesBeyondTheBudgetThroughAnExclusiveFileInTmpdir)
{
    const std::vector<PagingCase> cases = {
        {"2000 x 1000 grey", 1000, 2000, 1, 8, {}, "", 1000},
        {"4000 x 3000 colour", 3000, 4000, 3, 8, {}, "img1.tmp", 682},
        {"4000 x 3000 colour, 16 bits", 3000, 4000, 3, 16, {}, "img1.tmp", 341},
        {"img1 and img2 taken", 3000, 4000, 3, 8, {"img1.tmp", "img2.tmp"}, "img3.tmp", 682},
    };
    for (const PagingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        for (const std::string& name : c.existing)
            std::ofstream(folder.Path(name)) << "taken";
        {
            CImageStore store;
            ASSERT_TRUE(store.Create(c.lines, c.width, c.samples, c.bits));
            EXPECT_EQ(store.GetResidentLimit(), c.residentLimit);
            std::vector<std::string> expected = c.existing;
            if (*c.pagingFile) {
                EXPECT_EQ(store.GetTempFileName(), folder.Path(c.pagingFile));
                expected.push_back(c.pagingFile);
            }
            EXPECT_EQ(folder.Files(), expected);

            // A value of line 0 survives its eviction; values written last
            // on every line read back after all were evicted once more.
            const int top = c.bits == 16 ? 65535 : 255;
            store.SetPixel(c.samples - 1, 0, 7, top - 1);
            for (int line = 1; line < c.lines; ++line)
                store.SetPixel(line % c.samples, line, line % c.width, line % top);
            EXPECT_EQ(store.GetPixel(c.samples - 1, 0, 7), top - 1);
            int wrong = 0;
            for (int line = 1; line < c.lines; ++line)
                wrong += store.GetPixel(line % c.samples, line, line % c.width) != line % top;
            EXPECT_EQ(wrong, 0);
            EXPECT_EQ(store.GetPixel(0, 1, 0), 0); // never written: 0
        }
        EXPECT_EQ(folder.Files(), c.existing);
    }
}

TEST(ImageStore, RefusesWhatItCannotHoldBeforeAnythingIsWritten)
{
    struct Case {
        const char* name;
        int lines, width, samples, bits;
        bool tmpdirMissing;
    };
    const Case cases[] = {
        {"side above 65535", 10, 65536, 1, 8, false},
        {"plane above 1 GiB", 65535, 65535, 1, 16, false},
        {"no paging file", 3000, 4000, 3, 8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        QuietMessages quiet;
        if (c.tmpdirMissing)
            ::setenv("TMPDIR", folder.Path("missing").c_str(), 1);
        CImageStore store;
        EXPECT_FALSE(store.Create(c.lines, c.width, c.samples, c.bits));
        EXPECT_EQ(TakeCapturedMessages().size(), 1u);
        EXPECT_TRUE(folder.Files().empty());
        store.SetPixel(0, 0, 0, 5);
        EXPECT_EQ(store.GetPixel(0, 0, 0), 0);
    }
}

TEST(ImageStore, OutsideTheImageReadsZeroAndWritesNothing)
{
    CImageStore store;
    EXPECT_EQ(store.GetPixel(0, 0, 0), 0); // empty store
    ASSERT_TRUE(store.Create(4, 5, 3, 8));
    const int outside[][3] = {{-1, 0, 0}, {3, 0, 0}, {0, -1, 0}, {0, 4, 0}, {0, 0, -1}, {0, 0, 5}};
    for (const auto& p : outside) {
        store.SetPixel(p[0], p[1], p[2], 9);
        EXPECT_EQ(store.GetPixel(p[0], p[1], p[2]), 0);
    }
    int sum = 0;
    for (int s = 0; s < 3; ++s)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                sum += store.GetPixel(s, y, x);
    EXPECT_EQ(sum, 0);
}

TEST(ImageStore, ConvertsColourToGreyByTheRoundedMean)
{
    // Hand-computed: (10 + 20 + 30) / 3 = 20, 1 / 3 rounds to 0, 765 / 3 = 255,
    // 16 bits: (1 + 2 + 2) / 3 = 1.67 rounds to 2.
    struct Case {
        int bits, s0, s1, s2, grey;
    };
    const Case cases[] = {{8, 10, 20, 30, 20}, {8, 0, 0, 1, 0}, {8, 255, 255, 255, 255}, {16, 1, 2, 2, 2},
                          {16, 65535, 65535, 65535, 65535}};
    ScratchFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s0 << " " << c.s1 << " " << c.s2);
        // Paged: the pixels sit at both ends and the middle of 3000 lines.
        CImageStore colour, grey;
        ASSERT_TRUE(colour.Create(3000, 4000, 3, c.bits));
        const int lines[] = {0, 1500, 2999};
        for (int line : lines) {
            colour.SetPixel(0, line, 3999 - line, c.s0);
            colour.SetPixel(1, line, 3999 - line, c.s1);
            colour.SetPixel(2, line, 3999 - line, c.s2);
        }
        ASSERT_TRUE(colour.ConvertToGrey(grey));
        EXPECT_FALSE(grey.IsColor());
        EXPECT_EQ(grey.GetHeight(), 3000);
        EXPECT_EQ(grey.GetBitsPerSample(), c.bits);
        for (int line : lines)
            EXPECT_EQ(grey.GetPixel(0, line, 3999 - line), c.grey);
        EXPECT_EQ(grey.GetPixel(0, 1, 1), 0);

        // A grey store does not convert and leaves the target as it was.
        EXPECT_FALSE(grey.ConvertToGrey(colour));
        EXPECT_TRUE(colour.IsColor());
        EXPECT_EQ(colour.GetPixel(2, 0, 3999), c.s2);
    }
}

} // namespace
