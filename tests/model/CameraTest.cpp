#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Camera.h"
#include "ArchiveRun.h"
#include "RecordBytes.h"

namespace {

// Pixel size 2^-7 mm: every conversion below is exact in binary.
constexpr double kPix = 0.0078125;

CCamera MakeCamera(const char* id, int xPixels, int yPixels)
{
    CCamera c;
    c.identifier = id;
    c.XPixels = xPixels;
    c.YPixels = yPixels;
    c.XPixelSize = kPix;
    c.YPixelSize = kPix;
    return c;
}

void ExpectSigmas(const CCamera& c, const double (&expected)[10])
{
    for (int i = 0; i < 10; ++i) EXPECT_EQ(c.sigmas[i], expected[i]) << "parameter " << i;
}

CImageObservation Mark(const char* label, double x, double y) { return CImageObservation(CNameBuffer(label), x, y); }

} // namespace

TEST(Camera, PixelAndImageCoordinatesOddAndEvenCounts)
{
    // Odd width: the half is the integer 1500, so column 1500 is x = 0.
    const CCamera odd = MakeCamera("odd", 3001, 2001), even = MakeCamera("even", 4000, 3000);
    struct Case {
        const CCamera* camera;
        double column, row, x, y;
    };
    const Case cases[] = {{&odd, 1500.0, 1000.0, 0.0, 0.0},
                          {&odd, 0.0, 0.0, -1500 * kPix, 1000 * kPix},
                          {&odd, 3001.0, 2001.0, 1501 * kPix, -1001 * kPix},
                          {&even, 2000.0, 1500.0, 0.0, 0.0},
                          {&even, 0.5, 2999.5, -1999.5 * kPix, -1499.5 * kPix}};
    for (const Case& c : cases) {
        double x = 1, y = 1, col = 0, row = 0;
        c.camera->PixelToImage(c.column, c.row, x, y);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
        c.camera->ImageToPixel(c.x, c.y, col, row);
        EXPECT_EQ(col, c.column);
        EXPECT_EQ(row, c.row);
    }
    // Non-square pixels and the sensor sizes.
    CCamera rect = MakeCamera("rect", 10, 6);
    rect.XPixelSize = 0.01;
    rect.YPixelSize = 0.02;
    double x = 0, y = 0;
    rect.PixelToImage(7.0, 1.0, x, y);
    EXPECT_DOUBLE_EQ(x, 0.02);
    EXPECT_DOUBLE_EQ(y, 0.04);
    EXPECT_DOUBLE_EQ(rect.GetHalfSensorDiagonal(), std::sqrt(0.05 * 0.05 + 0.06 * 0.06));
    EXPECT_DOUBLE_EQ(rect.GetPixelDiagonal(), std::sqrt(0.0001 + 0.0004));
}

TEST(Camera, FrameTestOnPixelCentres)
{
    for (int width : {100, 101}) {
        CCamera c = MakeCamera("f", width, 80);
        const int half = width / 2;
        auto inFrame = [&](double column, double row, double margin) {
            double x = 0, y = 0;
            c.PixelToImage(column, row, x, y);
            return c.IsInFrame(x, y, margin);
        };
        EXPECT_TRUE(inFrame(0.5, 0.5, 0.0)) << width;
        EXPECT_TRUE(inFrame(width + 0.5, 80.5, 0.0)) << width;
        EXPECT_FALSE(inFrame(0.5 - kPix, 40.0, 0.0)) << width;
        EXPECT_FALSE(inFrame(width + 0.5 + kPix, 40.0, 0.0)) << width;
        EXPECT_FALSE(inFrame(40.0, 0.5 - kPix, 0.0)) << width;
        EXPECT_FALSE(inFrame(40.0, 80.5 + kPix, 0.0)) << width;
        EXPECT_TRUE(inFrame(half, 40.0, 0.0)) << width;
        // A margin of 0.25 widens every side by a quarter of the sensor.
        EXPECT_TRUE(inFrame(0.5 - width * 0.25, 0.5 - 20.0, 0.25)) << width;
        EXPECT_FALSE(inFrame(0.5 - width * 0.25 - kPix, 40.0, 0.25)) << width;
        EXPECT_TRUE(inFrame(0.5 + width * 1.25, 0.5 + 100.0, 0.25)) << width;
        EXPECT_FALSE(inFrame(40.0, 0.5 + 100.0 + kPix, 0.25)) << width;
    }
}

TEST(Camera, CalibrationModesSetExactlyTheirSigmas)
{
    const double F = 1000.0, X = 1e-16;
    CCamera c;
    c.SetCalibrationMode(0);
    ExpectSigmas(c, {X, X, X, X, X, X, X, X, X, X});
    EXPECT_EQ(c.CountConstrainedParameters(), 10);
    c.SetCalibrationMode(1);
    ExpectSigmas(c, {F, F, F, F, F, F, F, F, F, F});
    EXPECT_EQ(c.CountConstrainedParameters(), 0);
    c.SetCalibrationMode(2);
    ExpectSigmas(c, {F, F, F, F, X, X, X, X, X, X});
    EXPECT_EQ(c.CountConstrainedParameters(), 6);
    c.SetCalibrationMode(3);
    EXPECT_EQ(c.calibrationMode, 3);
    ExpectSigmas(c, {F, F, F, F, X, X, X, X, X, X});
    c.SetCalibrationMode(4);
    ExpectSigmas(c, {F, F, F, X, X, X, X, X, X, X});
    EXPECT_EQ(c.CountConstrainedParameters(), 7);

    c.sigmas[CAM_C] = 0.01;
    c.SetCalibrationMode(9); // stored, nothing else changes
    EXPECT_EQ(c.calibrationMode, 9);
    ExpectSigmas(c, {0.01, F, F, X, X, X, X, X, X, X});
    EXPECT_EQ(c.CountConstrainedParameters(), 8);
    c.sigmas[CAM_XP] = 999.999;
    EXPECT_EQ(c.CountConstrainedParameters(), 9);

    CCamera d;
    d.parameters[CAM_C] = 50.0;
    d.CopySigmas(c);
    EXPECT_EQ(d.calibrationMode, 9);
    EXPECT_EQ(d.sigmas[CAM_XP], 999.999);
    EXPECT_EQ(d.parameters[CAM_C], 50.0);
}

// The defaults: calibration mode 1, every sigma free, everything else zero or
// empty; Reset brings them back and keeps the fiducial marks.
TEST(Camera, DefaultsCopyEqualityAndFiducials)
{
    const CCamera fresh;
    EXPECT_EQ(fresh.calibrationMode, 1);
    EXPECT_EQ(fresh.sigmas[CAM_B2], 1000.0);
    EXPECT_EQ(fresh.CountConstrainedParameters(), 0);
    EXPECT_TRUE(fresh.identifier.IsEmpty() && fresh.calibrationTime.IsEmpty());
    EXPECT_EQ(fresh.XPixels + fresh.YPixels + fresh.calibrationRedundancy, 0);
    EXPECT_FALSE(fresh.modified);

    CCamera a = MakeCamera("A", 10, 10);
    a.parameters[CAM_K1] = 1e-5;
    a.corrections[CAM_C] = 0.25;
    a.calibrationRedundancy = 40;
    a.modified = true;
    a.fiducials.AddSorted(Mark("F1", 1, 1));
    a.fiducials.AddSorted(Mark("F2", 2, 2));
    CCamera b = MakeCamera("B", 1, 1);
    for (const char* l : {"OLD", "OLD2", "OLD3"}) b.fiducials.AddSorted(Mark(l, 9, 9));
    b = a;
    EXPECT_FALSE(b.modified); // the flag is not copied
    EXPECT_EQ(b.calibrationRedundancy, 40);
    ASSERT_EQ(b.fiducials.GetSize(), 2);
    EXPECT_NE(b.fiducials.GetAt(0), a.fiducials.GetAt(0));
    EXPECT_TRUE(b.IsEqual(a));
    // Fiducial contents are not compared, only their number; the blocks bit for bit.
    b.fiducials.GetAt(0)->x = 100.0;
    EXPECT_TRUE(b.IsEqual(a));
    b.fiducials.DeleteAll();
    EXPECT_FALSE(b.IsEqual(a));
    b = a;
    b.corrections[CAM_B2] = -0.0;
    EXPECT_FALSE(b.IsEqual(a));
    b = a;
    b.lensType = "x";
    EXPECT_FALSE(b.IsEqual(a));
    EXPECT_EQ(a.FindFiducial(CNameBuffer("F2"))->x, 2.0);
    EXPECT_EQ(a.FindFiducial(CNameBuffer("F3")), nullptr);

    a.SetCalibrationMode(0);
    a.Reset();
    EXPECT_EQ(a.fiducials.GetSize(), 2);
    a.fiducials.DeleteAll();
    EXPECT_TRUE(a.IsEqual(fresh));
    EXPECT_EQ(a.calibrationMode, 1);
    EXPECT_FALSE(a.modified);

    CDynString text("Cameras: ");
    EXPECT_STREQ(MakeCamera("Nikon 1", 1, 1).GetIdentifier(text).GetText(), "Cameras: Nikon 1");
    EXPECT_STREQ(text.GetText(), "Cameras: Nikon 1");
}

TEST(CameraList, FindsByExactIdentifier)
{
    CCameraList list;
    list.AddCopy(MakeCamera("Cam1", 1, 1));
    list.AddCopy(MakeCamera("cam1", 2, 2));
    list.AddCopy(MakeCamera("Cam10", 3, 3));
    EXPECT_EQ(list.FindIndexByName("cam1"), 1);
    EXPECT_EQ(list.FindByName("Cam10")->XPixels, 3);
    for (const char* missing : {"Cam", "Cam1 ", static_cast<const char*>(nullptr)})
        EXPECT_EQ(list.FindByName(missing), nullptr);
    EXPECT_TRUE(list.RemoveByName("Cam1"));
    EXPECT_FALSE(list.RemoveByName("Cam1"));

    CCameraList copy(list);
    EXPECT_FALSE(copy != list);
    EXPECT_NE(copy.GetAt(0), list.GetAt(0));
    copy.GetAt(1)->corrections[CAM_C] = 1.0;
    EXPECT_TRUE(copy != list);
    EXPECT_TRUE(copy.ClearCorrections());
    EXPECT_FALSE(copy != list);
}

// ---------------------------------------------------------------------------
// Archive

namespace {

CCamera FullCamera()
{
    CCamera c = MakeCamera("DCS 460 #2", 3060, 2036);
    c.cameraType = "DCS 460";
    c.serialNumber = "SN-4711";
    c.lensType = "28mm";
    c.lensSerialNumber = "L-1";
    c.calibrationTime = "6 December 2026";
    c.XPixelSize = 0.009;
    c.YPixelSize = 0.0091;
    c.SetCalibrationMode(2);
    for (int i = 0; i < 10; ++i) {
        c.parameters[i] = 1.0 + i;
        c.postSigmas[i] = 0.01 * i;
        c.corrections[i] = -0.001 * i;
    }
    c.maxRadialDistance = 17.5;
    c.calibrationRedundancy = 321;
    c.fiducials.AddSorted(Mark("F2", -5.0, 5.0));
    c.fiducials.AddSorted(Mark("F1", 5.0, -5.0));
    return c;
}

// The camera's fields from the strings on, as the table lays them out.
void AppendCameraTail(RecordBytes& b)
{
    b.String("Id").String("Type").String("Serial").String("Lens").String("LensSerial").String("Time");
    b.Int(4);        // calibration mode
    b.Double(12.5);  // maximum radial distance
    for (int i = 0; i < 10; ++i) b.Double(i).Double(100.0 + i).Double(200.0 + i).Double(300.0 + i);
    b.Double(0.006).Double(0.007);
    b.Int(1024).Int(768);
}

void ExpectCameraTail(const CCamera& c)
{
    EXPECT_STREQ(c.identifier.GetText(), "Id");
    EXPECT_STREQ(c.cameraType.GetText(), "Type");
    EXPECT_STREQ(c.serialNumber.GetText(), "Serial");
    EXPECT_STREQ(c.lensType.GetText(), "Lens");
    EXPECT_STREQ(c.lensSerialNumber.GetText(), "LensSerial");
    EXPECT_STREQ(c.calibrationTime.GetText(), "Time");
    EXPECT_EQ(c.calibrationMode, 4);
    EXPECT_EQ(c.maxRadialDistance, 12.5);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(c.parameters[i], i);
        EXPECT_EQ(c.sigmas[i], 100.0 + i);
        EXPECT_EQ(c.postSigmas[i], 200.0 + i);
        EXPECT_EQ(c.corrections[i], 300.0 + i);
    }
    EXPECT_EQ(c.XPixelSize, 0.006);
    EXPECT_EQ(c.YPixelSize, 0.007);
    EXPECT_EQ(c.XPixels, 1024);
    EXPECT_EQ(c.YPixels, 768);
}

} // namespace

TEST(CameraArchive, NewestLayoutMatchesFieldTable)
{
    RecordBytes b;
    b.Int(11).Int(77);         // version, redundancy
    b.Int(10).Int(1);          // fiducial list: version, count
    b.Int(11).Byte(0).String("M1");
    for (int i = 0; i < 7; ++i) b.Double(i == 0 ? 1.5 : (i == 1 ? -2.5 : 0.0));
    b.Byte(0).Double(-1.0).Double(-1.0).Byte(0).Byte(0).Byte(0).Byte(0);
    AppendCameraTail(b);

    LoadArchive load(b.Str());
    CCamera c;
    int own = -1;
    ASSERT_TRUE(c.Serialize(load.Get(), &own));
    EXPECT_EQ(load.Get().RemainingBytes(), 0);
    EXPECT_EQ(c.calibrationRedundancy, 77);
    ExpectCameraTail(c);
    ASSERT_EQ(c.fiducials.GetSize(), 1);
    EXPECT_EQ(c.fiducials.GetAt(0)->y, -2.5);

    // And what storing that camera writes is these very bytes.
    StoreArchive store;
    ASSERT_TRUE(c.Serialize(store.Get(), &own));
    EXPECT_EQ(store.Bytes(), b.Str());
}

TEST(CameraArchive, OldProjectVersionReadsNoRedundancy)
{
    for (int v : {0, 9, 10}) {
        RecordBytes b;
        b.Int(1); // fiducial list count, no list version
        if (v >= 8) b.Byte(0);
        b.String("M1");
        for (int i = 0; i < 7; ++i) b.Double(0.5);
        b.Byte(0).Double(-1.0).Double(-1.0).Byte(0).Byte(0).Byte(0).Byte(0);
        AppendCameraTail(b);

        LoadArchive load(b.Str());
        CCamera c;
        c.calibrationRedundancy = 0;
        int passed = v;
        ASSERT_TRUE(c.Serialize(load.Get(), &passed)) << "version " << v;
        EXPECT_EQ(load.Get().RemainingBytes(), 0) << "version " << v;
        EXPECT_EQ(c.calibrationRedundancy, 0);
        ExpectCameraTail(c);
        ASSERT_EQ(c.fiducials.GetSize(), 1);
        EXPECT_STREQ(c.fiducials.GetAt(0)->label.GetText(), "M1");
    }
}

TEST(CameraArchive, ListWithPassedVersionHasNoVersionWords)
{
    RecordBytes b;
    b.Int(2);
    for (int k = 0; k < 2; ++k) {
        b.Int(0); // no fiducials
        AppendCameraTail(b);
    }
    LoadArchive load(b.Str());
    CCameraList list;
    int passed = 9;
    ASSERT_TRUE(list.Serialize(load.Get(), &passed));
    ASSERT_EQ(list.GetSize(), 2);
    ExpectCameraTail(*list.GetAt(1));
}

TEST(CameraArchive, AbsurdCountsFailCleanly)
{
    int own = -1;
    for (int count : {0x7FFFFFFF, 1000000, 2, -1}) {
        RecordBytes b;
        b.Int(10).Int(count);
        // One real camera follows; any claim beyond it cannot fit.
        StoreArchive one;
        CCamera c = FullCamera();
        ASSERT_TRUE(c.Serialize(one.Get(), &own));
        b.Raw(one.Bytes());
        LoadArchive load(b.Str());
        CCameraList list;
        EXPECT_FALSE(list.Serialize(load.Get(), &own)) << count;
        EXPECT_LE(list.GetSize(), 1);
    }
    {
        // A fiducial count beyond the file.
        RecordBytes b;
        b.Int(11).Int(0).Int(10).Int(50000000);
        LoadArchive load(b.Str());
        CCamera c;
        EXPECT_FALSE(c.Serialize(load.Get(), &own));
        EXPECT_EQ(c.fiducials.GetSize(), 0);
    }
    {
        // A good list reads back equal; every truncation fails without a crash.
        CCameraList list, back;
        list.AddCopy(FullCamera());
        list.AddCopy(MakeCamera("second", 640, 480));
        LoadBytes(StoredRecord(list, own), [&](CBinArchive& ar) { ASSERT_TRUE(back.Serialize(ar, &own)); });
        ASSERT_TRUE(back.IsEqual(list));
        EXPECT_EQ(back.GetAt(0)->calibrationRedundancy, 321);
        EXPECT_STREQ(back.GetAt(0)->calibrationTime.GetText(), "6 December 2026");
        EXPECT_STREQ(back.GetAt(0)->fiducials.GetAt(0)->label.GetText(), "F1");
        ExpectEveryTruncationFails(
            StoredRecord(list, own), [&](CBinArchive& ar) { return CCameraList().Serialize(ar, &own); }, 3);
    }
}
