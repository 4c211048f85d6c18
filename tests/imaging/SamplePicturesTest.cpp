#include "SamplePictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "ImageStore.h"
#include "ImageTestFiles.h"
#include "Intersection.h"
#include "ProjectImage.h"
#include "SampleProject.h"
#include "TiffFileReader.h"

// Every target that faces an image and projects inside its frame is a bright
// spot at its projected centre; the rest of the picture stays dark.
TEST(SamplePictures, TargetsAreBrightAtTheirProjectionsInEveryPicture)
{
    ScratchFolder folder;
    std::string message;
    ASSERT_TRUE(WriteSamplePictures(folder.Path(""), message)) << message;
    CSampleTruth truth;
    BuildSampleTruth(truth);
    const double limit = std::cos(70.0 * std::atan(1.0) / 45.0);
    for (int j = 0; j < CSampleTruth::kImageCount; ++j) {
        SCOPED_TRACE(j);
        const CSamplePose& pose = truth.poses[static_cast<size_t>(j)];
        CProjectImage image;
        image.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
        char name[32];
        std::snprintf(name, sizeof name, "Image%03d.tif", j + 1);
        CImageStore store;
        CTiffFileReader reader(folder.Path(name).c_str());
        ASSERT_TRUE(store.ReadFrom(reader));
        ASSERT_EQ(store.GetWidth(), truth.camera.XPixels);
        ASSERT_EQ(store.GetHeight(), truth.camera.YPixels);
        int seen = 0;
        for (int i = 0; i < truth.targets.GetSize(); ++i) {
            const CObjectPoint& p = *truth.targets.GetAt(i);
            const double d[3] = {pose.X - p.x, pose.Y - p.y, pose.Z - p.z};
            const double cosine = (d[0] * p.normal[0] + d[1] * p.normal[1] + d[2] * p.normal[2]) /
                                  std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            CImageObservation o;
            if (cosine < limit + 0.01 || !ProjectPointToImage(p, image, truth.camera, o, 0.9))
                continue;
            double column = 0.0, row = 0.0;
            truth.camera.ImageToPixel(o.x, o.y, column, row);
            EXPECT_GT(store.GetPixel(0, int(row), int(column)), 200) << p.label.GetText();
            ++seen;
        }
        EXPECT_GT(seen, 20);
        int bright = 0;
        for (int y = 0; y < store.GetHeight(); y += 7)
            for (int x = 0; x < store.GetWidth(); x += 7)
                bright += store.GetPixel(0, y, x) > 0;
        EXPECT_LT(bright, store.GetWidth() * store.GetHeight() / 49 / 100);
    }
}
