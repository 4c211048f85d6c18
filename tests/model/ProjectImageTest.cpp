#include "ProjectImage.h"

#include <gtest/gtest.h>

#include "Rotations.h"
#include "TestFiles.h"

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BinArchive.h"
#include "Camera.h"
#include "EllipseRecord.h"
#include "ImageTransform.h"
#include "PointSet.h"
#include "ArchiveRun.h"
#include "RecordBytes.h"
#include "TextFile.h"

namespace {

const double kPi = 3.14159265358979323846;

CImageObservation Obs(const char* label, double x, double y)
{
    return CImageObservation(CNameBuffer(label), x, y);
}

std::string TempPath(const char* name)
{
    static const kestrelon::test::TempFolder folder("kestrelon-image");
    return folder.File(name);
}

// Camera-frame vector R (P - X0) of an image.
void CameraFrame(const CProjectImage& image, const double P[3], double out[3])
{
    double R[3][3];
    image.GetRotation(R);
    const double d[3] = {P[0] - image.X, P[1] - image.Y, P[2] - image.Z};
    for (int i = 0; i < 3; ++i) out[i] = R[i][0] * d[0] + R[i][1] * d[1] + R[i][2] * d[2];
}

} // namespace

// ---------------------------------------------------------------------------
// Defaults, flags and orientation

TEST(ProjectImage, DefaultsAndQualityTexts)
{
    CProjectImage image;
    EXPECT_TRUE(image.enabled && !image.oriented && !image.scanned);
    EXPECT_STREQ(image.name.GetText(), " ");
    EXPECT_STREQ(image.cameraName.GetText(), " ");
    EXPECT_EQ(image.covariance.GetRows(), 6);
    EXPECT_EQ(image.GetConstrainedParameterCount(), 0);
    image.aprioriSigma[STA_ROLL] = 999.0;
    EXPECT_EQ(image.GetConstrainedParameterCount(), 1);
    EXPECT_STREQ(image.GetImageQualityText(), "Image Quality Not Set");
    image.qualitySet = true;
    EXPECT_STREQ(image.GetImageQualityText(), "Image Quality High");
    image.highQuality = false;
    EXPECT_STREQ(CProjectImage(image).GetImageQualityText(), "Image Quality Low");
}

TEST(ProjectImage, SingleAngleSettersKeepTheOtherTwo)
{
    CProjectImage image;
    image.SetRotation(0.3, -0.2, 1.1);
    image.SetAzimuth(-2.0);
    EXPECT_NEAR(image.GetAzimuth(), -2.0, 1e-12);
    EXPECT_NEAR(image.GetElevation(), -0.2, 1e-12);
    EXPECT_NEAR(image.GetRoll(), 1.1, 1e-12);
    image.SetElevation(0.7);
    image.SetRoll(-0.4);
    EXPECT_NEAR(image.GetAzimuth(), -2.0, 1e-12);
    EXPECT_NEAR(image.GetElevation(), 0.7, 1e-12);
    EXPECT_NEAR(image.GetRoll(), -0.4, 1e-12);
}

TEST(ProjectImage, PoseMatrixWorldTransformation)
{
    CProjectImage image;
    image.SetPose(10.0, -20.0, 5.0, 0.8, 0.3, -1.2);
    // Moving the world by a rigid T moves the station with it and leaves the
    // camera-frame view of every point unchanged; not oriented: unchanged.
    NEWMAT::Matrix T(4, 4);
    const double g = 0.6, cg = std::cos(g), sg = std::sin(g);
    const double rows[16] = {cg, -sg, 0.0, 3.0, sg, cg, 0.0, -7.0, 0.0, 0.0, 1.0, 2.5, 0.0, 0.0, 0.0, 1.0};
    T << rows;
    CProjectImage moved(image);
    EXPECT_FALSE(moved.ApplyTransformation(T));
    EXPECT_EQ(moved.X, 10.0);
    moved.oriented = true;
    ASSERT_TRUE(moved.ApplyTransformation(T));
    const double P[3] = {4.0, 30.0, -2.0};
    const double TP[3] = {cg * P[0] - sg * P[1] + 3.0, sg * P[0] + cg * P[1] - 7.0, P[2] + 2.5};
    double before[3], after[3];
    CameraFrame(image, P, before);
    CameraFrame(moved, TP, after);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(after[i], before[i], 1e-10);
    NEWMAT::Matrix wrong(3, 3);
    wrong = 0.0;
    EXPECT_FALSE(moved.SetFromPoseMatrix(wrong));
}

namespace {

using kestrelon::test::AxisAngle;
using kestrelon::test::Multiply;

// The pose matrix of a station at X with rotation R, built by hand.
NEWMAT::Matrix PoseOf(const double R[3][3], const double X[3])
{
    NEWMAT::Matrix m(4, 4);
    m = 0.0;
    for (int i = 0; i < 3; ++i) {
        m(i + 1, 1) = R[0][i];
        m(i + 1, 2) = R[1][i];
        m(i + 1, 3) = -R[2][i];
        m(i + 1, 4) = X[i];
    }
    m(4, 4) = 1.0;
    return m;
}

double LargestDifference(const CProjectImage& image, const double R[3][3], const double X[3])
{
    double largest = std::fmax(std::fabs(image.X - X[0]), std::fmax(std::fabs(image.Y - X[1]), std::fabs(image.Z - X[2])));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            largest = std::fmax(largest, std::fabs(image.rotation.GetAt(i, j) - R[i][j]));
    return largest;
}

} // namespace

// Every rotation survives its angles: stations looking straight down (R the
// identity turned about Z) or straight up (turned half round X first), with
// several turns about the viewing axis, near those directions and in
// general, set from a pose matrix, read back through the pose matrix, and
// carried through an exact change of the up axis and back.
TEST(ProjectImage, PoseMatrixKeepsEveryRotation)
{
    const double zAxis[3] = {0.0, 0.0, 1.0};
    const double xAxis[3] = {1.0, 0.0, 0.0};
    const double s = 1.0 / std::sqrt(14.0);
    const double general[3] = {s, 2.0 * s, -3.0 * s};
    struct Case {
        const double* before; // applied first (null: none)
        double beforeAngle;
        const double* axis;
        double angle;
    };
    std::vector<Case> cases;
    for (double turn : {0.0, 0.7, -2.4, kPi, 3.0}) {
        cases.push_back({nullptr, 0.0, zAxis, turn});     // straight down
        cases.push_back({xAxis, kPi, zAxis, turn});       // straight up
        cases.push_back({xAxis, 1e-3, zAxis, turn});      // nearly down
        cases.push_back({xAxis, kPi - 1e-3, zAxis, turn}); // nearly up
        cases.push_back({xAxis, 1.2, general, turn});     // general
    }
    // "Y up" to "Z up" and back: (x, y, z) -> (x, -z, y).
    NEWMAT::Matrix up(4, 4), down(4, 4);
    const double upRows[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    const double T[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    up << upRows;
    down = up.t();
    const double X[3] = {1.5, -2.0, 30.0};
    for (const Case& c : cases) {
        double R[3][3], first[3][3], turn[3][3];
        AxisAngle(c.axis, c.angle, turn);
        if (c.before) {
            AxisAngle(c.before, c.beforeAngle, first);
            Multiply(turn, first, R);
        } else {
            std::memcpy(R, turn, sizeof R);
        }
        CProjectImage image;
        ASSERT_TRUE(image.SetFromPoseMatrix(PoseOf(R, X)));
        EXPECT_LT(LargestDifference(image, R, X), 1e-12) << c.beforeAngle << " " << c.angle;

        NEWMAT::Matrix pose;
        image.GetPoseMatrix(pose);
        CProjectImage again;
        ASSERT_TRUE(again.SetFromPoseMatrix(pose));
        EXPECT_LT(LargestDifference(again, R, X), 1e-12) << c.beforeAngle << " " << c.angle;

        // The new frame sees the world turned: R T' and T X.
        double Tt[3][3], moved[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                Tt[i][j] = T[j][i];
        Multiply(R, Tt, moved);
        const double movedX[3] = {X[0], -X[2], X[1]};
        image.oriented = true;
        ASSERT_TRUE(image.ApplyTransformation(up));
        EXPECT_LT(LargestDifference(image, moved, movedX), 1e-12) << c.beforeAngle << " " << c.angle;
        ASSERT_TRUE(image.ApplyTransformation(down));
        EXPECT_LT(LargestDifference(image, R, X), 1e-12) << c.beforeAngle << " " << c.angle;
    }
}

TEST(ProjectImage, SigmasAndErrorEllipsoid)
{
    CProjectImage image;
    image.covariance.SetAt(-1e-12, 0, 0); // a rounding below zero gives 0
    EXPECT_EQ(image.GetSigmaX(), 0.0);
    NEWMAT::DiagonalMatrix values;
    NEWMAT::Matrix vectors;
    EXPECT_FALSE(CProjectImage().GetPositionErrorEllipsoid(values, vectors));
    // Variances 1 and 9 in the X-Y plane rotated by 45 degrees, 4 along Z.
    CProjectImage e;
    e.covariance.SetAt(5.0, 0, 0);
    e.covariance.SetAt(5.0, 1, 1);
    e.covariance.SetAt(4.0, 0, 1);
    e.covariance.SetAt(4.0, 2, 2);
    ASSERT_TRUE(e.GetPositionErrorEllipsoid(values, vectors));
    EXPECT_NEAR(values(1), 1.0, 1e-12);
    EXPECT_NEAR(values(2), 4.0, 1e-12);
    EXPECT_NEAR(values(3), 9.0, 1e-12);
    EXPECT_NEAR(std::fabs(vectors(1, 3)), std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(std::fabs(vectors(3, 2)), 1.0, 1e-12);
}

TEST(ProjectImage, TransformAndUntransformObservation)
{
    CProjectImage image;
    CImageObservation o = Obs("A", 1.0, 2.0);
    EXPECT_FALSE(image.TransformObservation(o));
    EXPECT_EQ(o.x, 1.0);

    image.transformation.Resize(6);
    const double a[6] = {2, 0.5, 1, -1, 3, -2};
    for (int i = 0; i < 6; ++i) image.transformation[i] = a[i];
    ASSERT_TRUE(image.TransformObservation(o));
    EXPECT_DOUBLE_EQ(o.x, 4.0);
    EXPECT_DOUBLE_EQ(o.y, 3.0);
    ASSERT_TRUE(image.UntransformObservation(o));
    EXPECT_NEAR(o.x, 1.0, 1e-15);
    EXPECT_NEAR(o.y, 2.0, 1e-15);

    // Fit that gave up: zero parameters are never inverted.
    image.transformation.Zero();
    EXPECT_FALSE(image.UntransformObservation(o));
    EXPECT_NEAR(o.x, 1.0, 1e-15);
}

// ---------------------------------------------------------------------------
// Target observations

TEST(ProjectImage, ObservationQueriesAndEdits)
{
    CProjectImage image;
    image.targets.AddSorted(Obs("P1", 0.0, 0.0));
    image.targets.AddSorted(Obs("P2", 1.0, 0.0));
    image.targets.AddSorted(Obs("P3", -1.0, 0.0));
    image.targets.AddSorted(Obs("P4", 5.0, 5.0));

    // Equal distances: the smaller index wins; beyond reach: -1.
    EXPECT_EQ(image.FindNearestObservation(Obs("Q", 0.0, 0.0), 0.5), 0);
    EXPECT_EQ(image.FindNearestObservation(Obs("Q", 0.0, 0.7), 1.0), 0);
    EXPECT_EQ(image.FindNearestObservation(Obs("Q", 0.0, 0.0001), 0.00001), -1);
    image.targets.GetAt(0)->x = 100.0;
    EXPECT_EQ(image.FindNearestObservation(Obs("Q", 0.0, 0.0), 1.0), 1);
    image.targets.GetAt(0)->x = 0.0;

    // Marks in label order, starting at a given one.
    EXPECT_EQ(image.FindNextMarkedObservation(nullptr), nullptr);
    EXPECT_EQ(image.CountMarkedObservations(), 0);
    ASSERT_TRUE(image.MarkObservation(CNameBuffer("P3")));
    ASSERT_TRUE(image.MarkObservation(CNameBuffer("P1")));
    EXPECT_FALSE(image.MarkObservation(CNameBuffer("Z9")));
    EXPECT_EQ(image.CountMarkedObservations(), 2);
    CImageObservation* first = image.FindNextMarkedObservation(nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->label.GetText(), "P1");
    CImageObservation* second = image.FindNextMarkedObservation(first);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->label.GetText(), "P3");
    EXPECT_EQ(image.FindNextMarkedObservation(second), nullptr);

    ASSERT_TRUE(image.MoveToFiducials(CNameBuffer("P2")));
    EXPECT_EQ(image.targets.GetSize(), 3);
    ASSERT_EQ(image.fiducials.GetSize(), 1);
    EXPECT_TRUE(image.fiducials.GetAt(0)->fiducial);
    EXPECT_EQ(image.fiducials.GetAt(0)->x, 1.0);
    EXPECT_FALSE(image.MoveToFiducials(CNameBuffer("P2")));

    EXPECT_TRUE(image.RemoveObservationAt(0));
    EXPECT_FALSE(image.RemoveObservationAt(7));
    EXPECT_FALSE(image.RemoveObservationAt(-1));
    EXPECT_EQ(image.GetObservationAt(5), nullptr);
}

TEST(ProjectImage, RemoveDuplicateLabelsKeepsTheLastOfEach)
{
    CProjectImage image;
    image.targets.AddCopy(Obs("B", 1.0, 0.0));
    image.targets.AddCopy(Obs("A", 2.0, 0.0));
    image.targets.AddCopy(Obs("B", 3.0, 0.0));
    image.targets.AddCopy(Obs("A", 4.0, 0.0));
    image.targets.AddCopy(Obs("B", 5.0, 0.0));
    image.targets.AddCopy(Obs("C", 6.0, 0.0));
    ASSERT_TRUE(image.RemoveDuplicateLabels());
    ASSERT_EQ(image.targets.GetSize(), 3);
    EXPECT_STREQ(image.targets.GetAt(0)->label.GetText(), "A");
    EXPECT_EQ(image.targets.GetAt(0)->x, 4.0);
    EXPECT_EQ(image.targets.GetAt(1)->x, 5.0);
    EXPECT_EQ(image.targets.GetAt(2)->x, 6.0);
}

TEST(ProjectImage, ResidualRmsAndCounts)
{
    CProjectImage image;
    double out = 7.0;
    EXPECT_FALSE(image.GetResidualRmsX(out));
    EXPECT_EQ(out, 0.0);
    const double v[4][2] = {{0.003, -0.001}, {-0.004, 0.002}, {100.0, 100.0}, {50.0, 50.0}};
    const char* labels[4] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i) {
        CImageObservation o = Obs(labels[i], i, 0.0);
        o.vx = v[i][0];
        o.vy = v[i][1];
        image.targets.AddSorted(o);
    }
    image.targets.GetAt(2)->rejected = true;
    image.targets.GetAt(3)->disabled = true;
    EXPECT_EQ(image.CountUsableObservations(), 2);
    EXPECT_EQ(image.CountDisabledObservations(), 1);
    EXPECT_EQ(image.GetEnabledObservationCount(), 3);
    ASSERT_TRUE(image.GetResidualRmsX(out));
    EXPECT_NEAR(out, std::sqrt((9e-6 + 16e-6) / 2), 1e-15);
    ASSERT_TRUE(image.GetResidualRmsY(out));
    EXPECT_NEAR(out, std::sqrt((1e-6 + 4e-6) / 2), 1e-15);
    ASSERT_TRUE(image.GetResidualRmsXY(out));
    EXPECT_NEAR(out, std::sqrt((9e-6 + 16e-6 + 1e-6 + 4e-6) / 4), 1e-15);

    CPointSet set;
    set.AddPointSorted(CObjectPoint("A", 0, 0, 0));
    set.AddPointSorted(CObjectPoint("C", 0, 0, 0));
    set.AddPointSorted(CObjectPoint("D", 0, 0, 0));
    EXPECT_EQ(image.CountObservedPoints(set), 2); // D is disabled

    image.ClearResiduals();
    image.ClearRejectedFlags();
    EXPECT_EQ(image.targets.GetAt(0)->vx, 0.0);
    EXPECT_FALSE(image.targets.GetAt(2)->rejected);

    CCamera camera;
    camera.parameters[CAM_XP] = -1.0;
    EXPECT_EQ(image.GetMaxRadialDistance(nullptr), 0.0);
    EXPECT_DOUBLE_EQ(image.GetMaxRadialDistance(&camera), 3.0); // C at x = 2; D (x = 3) disabled
    EXPECT_DOUBLE_EQ(image.targets.GetAt(1)->GetRadialDistance(), 2.0);
}

// ---------------------------------------------------------------------------
// Image coordinate files

// The reader as a table of lines: label, numbers and sigmas read, or skipped ("").
TEST(IcfImport, LinesTable)
{
    struct Line {
        std::string text;
        const char* label;
        double x = 0, y = 0, sx = 0, sy = 0;
    };
    const Line lines[] = {
        {"B2 1.0 2.0", "B2", 1.0, 2.0, 0.0005, 0.0005},
        {"A1 -3.5 4.25 0.001 0.002\r", "A1", -3.5, 4.25, 0.001, 0.002},
        {"FOUR 1 2 3", ""},                    // four fields
        {"P2 5 6 7 8 9", "P2", 5, 6, 7, 8},   // extra fields are ignored
        {"ONLY 1", ""},
        {"BAD*LABEL 1 2", ""},                 // invalid character
        {"ABCDEFGHIJKLMNOPQ 1 2", ""},         // 17 characters
        {"NANV nan 2", ""},
        {"", ""},
        {"b1 7 8", "B1", 7, 8, 0.0005, 0.0005},
        {"C 3 4" + std::string(174, ' '), "C", 3, 4, 0.0005, 0.0005}, // 179 characters: still read
    };
    for (const Line& line : lines) {
        SCOPED_TRACE(line.text);
        for (const char* end : {"\n", "\r\n", ""}) {
            const std::string text = "K 0 0\n" + line.text + end;
            CProjectImage image;
            ASSERT_TRUE(image.ReadIcfText(text.data(), text.size(), 0.0005));
            const bool read = line.label[0] != '\0';
            ASSERT_EQ(image.targets.GetSize(), read ? 2 : 1);
            if (!read)
                continue;
            const CImageObservation* o = image.targets.Find(CNameBuffer(line.label));
            ASSERT_NE(o, nullptr);
            EXPECT_EQ(o->x, line.x);
            EXPECT_EQ(o->y, line.y);
            EXPECT_EQ(o->sigmaX, line.sx);
            EXPECT_EQ(o->sigmaY, line.sy);
            double col, row;
            o->GetPixelPosition(col, row);
            EXPECT_EQ(col, -1.0);
            EXPECT_FALSE(o->rejected || o->measured || o->fiducial || o->marked || o->disabled);
        }
    }
    // Label order; repeated labels both stay; a line of 180 characters is read whole, and the lines after it.
    const std::string text = "P10 1 1\nB 0 0\nA 1 1\nA 2 2\nP2 1 1\n" + ("C 5 6" + std::string(175, ' ')) + "\r\nD 7 8\n";
    CProjectImage image;
    ASSERT_TRUE(image.ReadIcfText(text.data(), text.size(), 0.1));
    ASSERT_EQ(image.targets.GetSize(), 7);
    const char* order[7] = {"A", "A", "B", "C", "D", "P2", "P10"};
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(image.targets.GetAt(i)->label.GetText(), order[i]);
    EXPECT_EQ(image.targets.GetAt(0)->x + image.targets.GetAt(1)->x, 3.0);
}

TEST(IcfImport, FileThatCannotBeReadLeavesTheTargets)
{
    CProjectImage image;
    image.targets.AddSorted(Obs("KEEP", 1, 2));
    EXPECT_FALSE(image.ReadIcfFile(CFilePath(TempPath("no-such-dir/none.icf").c_str()), 0.1));
    ASSERT_EQ(image.targets.GetSize(), 1);

    const std::string path = TempPath("image_import.icf");
    kestrelon::test::WriteFileBytes(path, "Z9 1 2\r\nA1 3 4\r\n");
    ASSERT_TRUE(image.ReadIcfFile(CFilePath(path.c_str()), 0.1));
    ASSERT_EQ(image.targets.GetSize(), 2);
    EXPECT_STREQ(image.targets.GetAt(0)->label.GetText(), "A1");
    std::remove(path.c_str());

    // A readable file without a single observation empties the list.
    ASSERT_TRUE(image.ReadIcfText("", 0, 0.1));
    EXPECT_EQ(image.targets.GetSize(), 0);
}

TEST(IcfExport, FormatAndInverseTransformation)
{
    CProjectImage image;
    image.targets.AddSorted(Obs("P1", 1.5, -2.25));
    image.targets.AddSorted(Obs("LONGLABEL_123456", 1234.5678914, 0.0));

    std::ostringstream plain;
    image.WriteObservations(plain, CVector());
    EXPECT_EQ(plain.str(), "LONGLABEL_123456    1234.567891       0.000000\n"
                           "              P1       1.500000      -2.250000\n");

    // Affine x' = 2x + 1, y' = 3y - 2: the export shows the fiducial frame.
    CVector t(6);
    const double a[6] = {2, 0, 1, 0, 3, -2};
    for (int i = 0; i < 6; ++i) t[i] = a[i];
    std::ostringstream inv;
    WriteXy(inv, *image.targets.Find(CNameBuffer("P1")), t);
    EXPECT_EQ(inv.str(), "              P1       0.250000      -0.083333\n");
    EXPECT_EQ(image.targets.Find(CNameBuffer("P1"))->x, 1.5); // the observation is not changed

    CVector s(4);
    s[0] = 0;
    s[1] = 1;
    s[2] = 0;
    s[3] = 0; // quarter turn: (0, -1) comes from (1, 0)
    std::ostringstream sim;
    WriteXy(sim, Obs("Q", 0.0, -1.0), s);
    EXPECT_EQ(sim.str(), "               Q       1.000000       0.000000\n");
}

TEST(IcfExport, WrittenFileHasCrLfAndReadsBack)
{
    CProjectImage image;
    image.targets.AddSorted(Obs("T1", 1.0, 2.0));
    image.targets.AddSorted(Obs("T2", -3.0, 4.5));
    CVector t(4);
    t[0] = 1.001;
    t[1] = 0.002;
    t[2] = 0.1;
    t[3] = -0.2;
    const std::string path = TempPath("image_export.icf");
    {
        CTextFile file(path.c_str(), std::ios::out);
        ASSERT_TRUE(file.good());
        image.WriteObservations(file, t);
    }
    const std::string bytes = kestrelon::test::ReadFileBytes(path);
    EXPECT_EQ(bytes.size(), 2u * (16 + 15 + 15 + 2));
    EXPECT_EQ(bytes.substr(46, 2), "\r\n");
    EXPECT_EQ(bytes.substr(94, 2), "\r\n");

    CProjectImage back;
    ASSERT_TRUE(back.ReadIcfFile(CFilePath(path.c_str()), 0.0));
    ASSERT_EQ(back.targets.GetSize(), 2);
    image.transformation = t;
    for (int i = 0; i < 2; ++i) {
        CImageObservation o = *back.targets.GetAt(i);
        ASSERT_TRUE(image.TransformObservation(o)); // forward again: the measured values
        EXPECT_NEAR(o.x, image.targets.GetAt(i)->x, 2e-6);
        EXPECT_NEAR(o.y, image.targets.GetAt(i)->y, 2e-6);
    }
    std::remove(path.c_str());
}

// ---------------------------------------------------------------------------
// Archive

namespace {

// A label as the archive writes it.
RecordBytes& Name(RecordBytes& b, const char* text)
{
    return b.String(text);
}

// One observation of a record version before 8 (no ellipse byte).
void OldObservation(RecordBytes& b, const char* label, double x, double y)
{
    Name(b, label);
    b.Double(x).Double(y).Double(0.5).Double(0.01).Double(0.02).Double(0.003).Double(0.004);
    b.Byte(1);                    // rejected
    b.Double(11.0).Double(12.0);  // pixel position
    b.Byte(0).Byte(0).Byte(1).Byte(0); // measured, fiducial, disabled, marked
}

void ExpectOldObservation(const CImageObservation* o, const char* label, double x, double y)
{
    ASSERT_NE(o, nullptr);
    EXPECT_STREQ(o->label.GetText(), label);
    EXPECT_EQ(o->x, x);
    EXPECT_EQ(o->y, y);
    EXPECT_EQ(o->vx, 0.01);
    EXPECT_EQ(o->sigmaY, 0.004);
    EXPECT_TRUE(o->rejected);
    EXPECT_TRUE(o->disabled);
    EXPECT_FALSE(o->marked);
}

// The fields every layout shares from the fiducial list up to X, Y, Z.
void MiddleFields(RecordBytes& b)
{
    b.Int(1);
    OldObservation(b, "F1", -50.0, 50.0);
    b.Int(4).Double(1.0).Double(0.0).Double(0.25).Double(-0.5); // similarity
    b.Int(2);
    OldObservation(b, "T1", 1.0, 2.0);
    OldObservation(b, "T2", 3.0, 4.0);
    b.String("Image007").Int(42).Byte(0).Byte(1).Byte(1); // name, reserved, enabled, oriented, scanned
    b.Double(100.0).Double(200.0).Double(300.0);
}

void ExpectMiddleFields(const CProjectImage& image)
{
    ASSERT_EQ(image.fiducials.GetSize(), 1);
    ExpectOldObservation(image.fiducials.GetAt(0), "F1", -50.0, 50.0);
    ASSERT_EQ(image.transformation.GetSize(), 4);
    EXPECT_EQ(image.transformation[2], 0.25);
    EXPECT_EQ(image.transformation[3], -0.5);
    ASSERT_EQ(image.targets.GetSize(), 2);
    ExpectOldObservation(image.targets.GetAt(1), "T2", 3.0, 4.0);
    EXPECT_STREQ(image.name.GetText(), "Image007");
    EXPECT_EQ(image.reserved, 42);
    EXPECT_FALSE(image.enabled);
    EXPECT_TRUE(image.oriented);
    EXPECT_TRUE(image.scanned);
    EXPECT_EQ(image.X, 100.0);
    EXPECT_EQ(image.Z, 300.0);
}

void Tail(RecordBytes& b)
{
    b.String("CAM-A").String("C:\\photos\\img007.tif");
}

const double kOldR[9] = {0.6, 0.8, 0.0, -0.8, 0.6, 0.0, 0.0, 0.0, 1.0};

} // namespace

TEST(ProjectImageArchive, NewestRecordRoundTrips)
{
    CProjectImage image;
    image.SetFilePath("C:\\data\\img1.tif");
    image.name = "Image001";
    image.cameraName = "Cam 1";
    image.SetPose(1.5, -2.5, 3.5, 0.1, 0.2, 0.3);
    for (int i = 0; i < 6; ++i) {
        image.aprioriSigma[i] = 0.1 * (i + 1);
        image.corrections[i] = -0.01 * (i + 1);
        for (int j = i; j < 6; ++j) image.covariance.SetAt(1.0 + i + 0.1 * j, i, j);
    }
    image.transformAccepted = true;
    image.oriented = true;
    image.scanned = true;
    image.enabled = false;
    image.highQuality = false;
    image.qualitySet = true;
    image.reserved = -7;
    image.transformation.Resize(6);
    for (int i = 0; i < 6; ++i) image.transformation[i] = i + 0.5;
    CImageObservation t = Obs("T5", 1, 2);
    CTargetEllipse e;
    e.SetFromParameters(1, 2, 0.3, 0.2, 0.5);
    t.SetEllipse(e);
    image.targets.AddSorted(t);
    image.targets.AddSorted(Obs("T1", 3, 4));
    image.fiducials.AddSorted(Obs("F2", -5, 6));

    StoreArchive store;
    int v = -1;
    ASSERT_TRUE(image.Serialize(store.Get(), &v));
    const std::string bytes = store.Bytes();
    // Record version first, then the packed 6x6 covariance header.
    EXPECT_EQ(bytes.substr(0, 12), RecordBytes().Int(10).Int(6).Int(-1).Str());

    LoadArchive load(bytes);
    CProjectImage back;
    ASSERT_TRUE(back.Serialize(load.Get(), &v));
    EXPECT_EQ(load.Left(), 0);
    EXPECT_STREQ(back.filePath.GetText(), "C:\\data\\img1.tif");
    EXPECT_STREQ(back.name.GetText(), "Image001");
    EXPECT_STREQ(back.cameraName.GetText(), "Cam 1");
    EXPECT_EQ(back.X, 1.5);
    EXPECT_EQ(back.Y, -2.5);
    EXPECT_EQ(back.Z, 3.5);
    EXPECT_NEAR(back.GetRoll(), 0.3, 1e-15);
    EXPECT_TRUE(back.covariance == image.covariance);
    EXPECT_TRUE(back.rotation == image.rotation);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(back.aprioriSigma[i], image.aprioriSigma[i]);
        EXPECT_EQ(back.corrections[i], image.corrections[i]);
        EXPECT_EQ(back.transformation[i], image.transformation[i]);
    }
    EXPECT_TRUE(back.transformAccepted);
    EXPECT_TRUE(back.oriented);
    EXPECT_TRUE(back.scanned);
    EXPECT_FALSE(back.enabled);
    EXPECT_FALSE(back.highQuality);
    EXPECT_TRUE(back.qualitySet);
    EXPECT_EQ(back.reserved, -7);
    ASSERT_EQ(back.targets.GetSize(), 2);
    EXPECT_STREQ(back.targets.GetAt(1)->label.GetText(), "T5");
    ASSERT_NE(back.targets.GetAt(1)->GetEllipse(), nullptr);
    EXPECT_NEAR(back.targets.GetAt(1)->GetEllipse()->major, 0.3, 1e-15);
    ASSERT_EQ(back.fiducials.GetSize(), 1);
    EXPECT_EQ(back.fiducials.GetAt(0)->y, 6.0);
}

// Every older record version built by hand: version 0 has one flag byte and
// (sigma, variance, correction) triples; 1 to 3 the quality bytes; from 4 on
// the covariance and rotation are matrices at the front and the triples pairs.
TEST(ProjectImageArchive, OlderVersionsByHand)
{
    for (int version : {0, 1, 3, 4, 7}) {
        SCOPED_TRACE(version);
        const bool matrices = version >= 4;
        RecordBytes b;
        if (matrices) {
            b.Int(6).Int(-1);
            for (int k = 0; k < 21; ++k) b.Double(k == 0 ? 0.25 : (k == 6 ? 0.36 : 0.0)); // (0,0), (1,1)
            b.Int(3).Int(3).Doubles({kOldR[0], kOldR[1], kOldR[2], kOldR[3], kOldR[4], kOldR[5], kOldR[6], kOldR[7], kOldR[8]});
        }
        if (version == 0)
            b.Byte(1); // transform accepted; no quality bytes
        else
            b.Byte(1).Byte(0).Byte(0); // high quality, quality set, transform accepted
        MiddleFields(b);
        if (!matrices)
            for (double r : kOldR) b.Double(r);
        for (int i = 0; i < 6; ++i) {
            if (version == 0)
                b.Double(0.1 * (i + 1)).Double(0.04 * (i + 1)).Double(-0.5 * i); // sigma, variance, correction
            else if (!matrices)
                b.Double(7.0).Double(i == 2 ? -1.0 : 0.09).Double(0.125);
            else
                b.Double(1000.0 - i).Double(0.5 * i);
        }
        Tail(b);

        LoadArchive load(b.Str());
        CProjectImage image;
        image.highQuality = false; // a version-0 record leaves both quality bytes alone
        image.qualitySet = true;
        image.transformAccepted = version != 0;
        int v = version;
        ASSERT_TRUE(image.Serialize(load.Get(), &v));
        EXPECT_EQ(load.Left(), 0);
        EXPECT_EQ(image.highQuality, version != 0);
        EXPECT_EQ(image.qualitySet, version == 0);
        EXPECT_EQ(image.transformAccepted, version == 0);
        ExpectMiddleFields(image);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) EXPECT_EQ(image.rotation.GetAt(i, j), kOldR[3 * i + j]);
        EXPECT_STREQ(image.cameraName.GetText(), "CAM-A");
        EXPECT_STREQ(image.filePath.GetText(), "C:\\photos\\img007.tif");
        for (int i = 0; i < 6; ++i) {
            const double sigma = version == 0 ? 0.1 * (i + 1) : (matrices ? 1000.0 - i : 7.0);
            const double correction = version == 0 ? -0.5 * i : (matrices ? 0.5 * i : 0.125);
            const double variance = version == 0 ? 0.04 * (i + 1) : (matrices ? (i == 0 ? 0.25 : (i == 1 ? 0.36 : 0.0)) : (i == 2 ? 0.0 : 0.09));
            EXPECT_EQ(image.aprioriSigma[i], sigma);
            EXPECT_EQ(image.corrections[i], correction);
            EXPECT_EQ(image.covariance.GetAt(i, i), variance); // a negative legacy value gives 0
        }
        EXPECT_EQ(image.GetConstrainedParameterCount(), matrices ? 5 : 6);
    }
}

TEST(ProjectImageArchive, UnknownVersionReadsNothing)
{
    RecordBytes b;
    b.Int(11).Int(6).Int(-1);
    LoadArchive load(b.Str());
    CProjectImage image;
    image.name = "Kept";
    int v = -1;
    EXPECT_FALSE(image.Serialize(load.Get(), &v));
    EXPECT_EQ(load.Left(), 8);
    EXPECT_STREQ(image.name.GetText(), "Kept");
}

TEST(ProjectImageArchive, TruncatedAndHostileRecordsFailCleanly)
{
    CProjectImage image;
    image.SetPose(1, 2, 3, 0.1, 0.2, 0.3);
    image.targets.AddSorted(Obs("A", 1, 2));
    image.fiducials.AddSorted(Obs("F", 3, 4));
    image.transformation.Resize(4);
    ExpectEveryTruncationFails(StoredRecord(image), [](CBinArchive& ar) {
        CProjectImage back;
        int v = -1;
        const bool ok = back.Serialize(ar, &v);
        EXPECT_EQ(back.rotation.GetRows(), 3);
        EXPECT_EQ(back.covariance.GetRows(), 6);
        return ok;
    });

    // A transformation count far beyond the bytes left.
    RecordBytes b;
    b.Byte(0);
    b.Int(0);                   // no fiducials
    b.Int(0x7fffffff);          // parameter count
    b.Double(1.0);
    LoadArchive load(b.Str());
    CProjectImage back;
    int zero = 0;
    EXPECT_FALSE(back.Serialize(load.Get(), &zero));
    EXPECT_EQ(back.transformation.GetSize(), 0);

    // A rotation of the wrong shape is not taken.
    RecordBytes w;
    w.Int(10).Int(6).Int(-1);
    for (int k = 0; k < 21; ++k) w.Double(0.0);
    w.Int(2).Int(2).Double(1).Double(0).Double(0).Double(1);
    LoadArchive wl(w.Str());
    CProjectImage shaped;
    int own = -1;
    EXPECT_FALSE(shaped.Serialize(wl.Get(), &own));
    EXPECT_EQ(shaped.rotation.GetRows(), 3);
    EXPECT_EQ(shaped.rotation.GetCols(), 3);
}
