#include "ProjectImageList.h"

#include <gtest/gtest.h>

#include <cmath>

#include "BinArchive.h"
#include "Camera.h"
#include "ArchiveRun.h"


namespace {

CProjectImage* AddImage(CProjectImageList& list, const char* name, const char* camera = "CAM")
{
    CProjectImage* image = list.AddNew();
    image->name = name;
    image->cameraName = camera;
    return image;
}

void AddResidual(CProjectImage& image, const char* label, double vx, double vy, double x = 0.0)
{
    CImageObservation o(CNameBuffer(label), x, 0.0);
    o.vx = vx;
    o.vy = vy;
    image.targets.AddSorted(o);
}

} // namespace

TEST(ProjectImageList, NamesNeighboursAndCounts)
{
    CProjectImageList list;
    AddImage(list, "Image001");
    AddImage(list, "Image002", "OTHER");
    AddImage(list, "image003");
    EXPECT_EQ(list.FindIndexByName("Image002"), 1);
    EXPECT_EQ(list.FindIndexByName("image002"), -1); // exact text
    EXPECT_EQ(list.FindByName("Image009"), nullptr);

    EXPECT_EQ(list.GetNext(list.GetAt(0)), list.GetAt(1));
    EXPECT_EQ(list.GetNext(list.GetAt(2)), nullptr);
    EXPECT_EQ(list.GetPrevious(list.GetAt(0)), nullptr);
    EXPECT_EQ(list.GetPrevious(list.GetAt(2)), list.GetAt(1));
    CProjectImage stranger;
    stranger.name = "Elsewhere";
    EXPECT_EQ(list.GetNext(&stranger), list.GetAt(0));
    EXPECT_EQ(list.GetPrevious(&stranger), nullptr);

    list.RenameCamera("CAM", "NEW");
    EXPECT_STREQ(list.GetAt(0)->cameraName.GetText(), "NEW");
    EXPECT_STREQ(list.GetAt(1)->cameraName.GetText(), "OTHER");
    EXPECT_STREQ(list.GetAt(2)->cameraName.GetText(), "NEW");

    // Enabled, oriented and at least three observations, usable or not.
    for (int i = 0; i < 3; ++i) list.GetAt(i)->oriented = true;
    AddResidual(*list.GetAt(0), "A", 0, 0);
    AddResidual(*list.GetAt(0), "B", 0, 0);
    for (const char* l : {"A", "B", "C"}) AddResidual(*list.GetAt(1), l, 0, 0);
    for (int i = 0; i < 3; ++i) list.GetAt(1)->targets.GetAt(i)->rejected = true;
    for (const char* l : {"A", "B", "C", "D"}) AddResidual(*list.GetAt(2), l, 0, 0);
    list.GetAt(2)->enabled = false;
    EXPECT_EQ(list.CountUsableImages(), 1);
    EXPECT_EQ(list.GetObservationCount(), 9);

    list.SetObservationSigmas(0.002);
    EXPECT_EQ(list.GetAt(2)->targets.GetAt(3)->sigmaX, 0.002);
    EXPECT_EQ(list.GetAt(0)->targets.GetAt(0)->sigmaY, 0.002);

    list.GetAt(1)->SetPosition(1.0, -2.0, 3.0);
    list.ScaleStations(2.0);
    EXPECT_EQ(list.GetAt(1)->Y, -4.0);

}

TEST(ImagePtrArray, OverallRmsWeightsImagesByTheirObservations)
{
    CProjectImageList list;
    CProjectImage* one = AddImage(list, "I1");
    CProjectImage* two = AddImage(list, "I2");
    CProjectImage* off = AddImage(list, "I3");
    one->oriented = two->oriented = off->oriented = true;
    AddResidual(*one, "A", 0.001, 0.002);
    for (const char* l : {"A", "B", "C"}) AddResidual(*two, l, 0.003, -0.001);
    AddResidual(*two, "D", 9.0, 9.0);
    two->targets.GetAt(3)->rejected = true;
    AddResidual(*off, "A", 5.0, 5.0);
    off->enabled = false;

    CImagePtrArray images;
    list.GetPointerArray(images);
    ASSERT_EQ(images.GetSize(), 3);
    EXPECT_EQ(images.FindPtr(two), 1);
    EXPECT_EQ(images.FindPtr(nullptr), -1);
    EXPECT_EQ(images.CountUsableObservations(), 4);

    double rms = 0.0;
    ASSERT_TRUE(images.GetRmsX(rms));
    EXPECT_NEAR(rms, std::sqrt((0.001 * 0.001 + 3 * 0.003 * 0.003) / 4), 1e-15);
    ASSERT_TRUE(images.GetRmsY(rms));
    EXPECT_NEAR(rms, std::sqrt((0.002 * 0.002 + 3 * 0.001 * 0.001) / 4), 1e-15);
    ASSERT_TRUE(images.GetRmsXY(rms));
    EXPECT_NEAR(rms, std::sqrt((1e-6 + 4e-6 + 3 * (9e-6 + 1e-6)) / 8), 1e-15);

    // Nothing usable to average gives false and zero.
    CImagePtrArray none;
    none.Add(off);
    for (bool (CImagePtrArray::*get)(double&) const : {&CImagePtrArray::GetRmsX, &CImagePtrArray::GetRmsY,
                                                        &CImagePtrArray::GetRmsXY}) {
        rms = 3.0;
        EXPECT_FALSE((none.*get)(rms));
        EXPECT_EQ(rms, 0.0);
    }

    images.ClearResidualsAndRejections();
    EXPECT_EQ(two->targets.GetAt(3)->vx, 0.0);
    EXPECT_FALSE(two->targets.GetAt(3)->rejected);
    one->corrections[3] = 0.5;
    EXPECT_TRUE(images.ResetStationValues());
    EXPECT_EQ(one->corrections[3], 0.0);
}

TEST(ImagePtrArray, MaxRadialDistancePerCamera)
{
    CCameraList cameras;
    CCamera* c1 = cameras.AddNew();
    c1->identifier = "C1";
    c1->parameters[CAM_XP] = 1.0;
    CCamera* c2 = cameras.AddNew();
    c2->identifier = "C2";

    CProjectImageList list;
    AddResidual(*AddImage(list, "I1", "C1"), "A", 0, 0, 4.0);  // 3 from C1's principal point
    AddResidual(*AddImage(list, "I2", "C2"), "A", 0, 0, -2.5); // 2.5
    AddResidual(*AddImage(list, "I3", "NONE"), "A", 0, 0, 50.0);
    CImagePtrArray images;
    list.GetPointerArray(images);
    EXPECT_DOUBLE_EQ(images.GetMaxRadialDistance(cameras), 3.0);
    EXPECT_DOUBLE_EQ(list.GetAt(1)->targets.GetAt(0)->GetRadialDistance(), 2.5);
    EXPECT_EQ(list.GetAt(2)->targets.GetAt(0)->GetRadialDistance(), 0.0);
}

TEST(ProjectImageListArchive, ThreeImagesRoundTripInOrder)
{
    CProjectImageList list;
    for (const char* n : {"B", "A", "C"}) {
        CProjectImage* image = AddImage(list, n);
        image->SetPose(1, 2, 3, 0.1, 0.2, 0.3);
        AddResidual(*image, "P1", 0.0, 0.0, 7.0);
    }
    const std::string bytes = ExpectStoresAndReadsBack(list, [](const CProjectImageList& back) {
        ASSERT_EQ(back.GetSize(), 3);
        EXPECT_STREQ(back.GetAt(0)->name.GetText(), "B");
        EXPECT_STREQ(back.GetAt(1)->name.GetText(), "A");
        EXPECT_STREQ(back.GetAt(2)->name.GetText(), "C");
        EXPECT_EQ(back.GetAt(2)->targets.GetAt(0)->x, 7.0);
    }, 4);
    EXPECT_EQ(bytes.substr(0, 8), RecordBytes().Int(10).Int(3).Str());
    LoadArchive negative(RecordBytes().Int(10).Int(-3).Str());
    CProjectImageList none;
    int v = -1;
    EXPECT_FALSE(none.Serialize(negative.Get(), &v));
    EXPECT_EQ(none.GetSize(), 0);
}
