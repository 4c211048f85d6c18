#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include "ObjectPoint.h"
#include "RecordBytes.h"

namespace {

void ExpectDiagonal(const CMatrix& m, double a, double b, double c)
{
    ASSERT_EQ(m.GetRows(), 3);
    ASSERT_EQ(m.GetCols(), -1);
    EXPECT_DOUBLE_EQ(m.GetAt(0, 0), a);
    EXPECT_DOUBLE_EQ(m.GetAt(1, 1), b);
    EXPECT_DOUBLE_EQ(m.GetAt(2, 2), c);
    EXPECT_EQ(m.GetAt(0, 1), 0.0);
    EXPECT_EQ(m.GetAt(0, 2), 0.0);
    EXPECT_EQ(m.GetAt(1, 2), 0.0);
}

void ExpectZero(const CMatrix& m) { ExpectDiagonal(m, 0.0, 0.0, 0.0); }

// The part of a point record that every version holds, with fixed values.
void AppendCommonPart(RecordBytes& b)
{
    b.Byte(1).Byte(0).Byte(1).Byte(0);       // updated, inUse, unsolved, selected
    b.String("ab-");                         // sightings
    b.Triple(1.5, -2.25, 3.125);             // X, Y, Z
    b.Triple(0.1, 0.2, 0.3);                 // correction sum
    b.Triple(0.2, 0.3, 0.4);                 // first spare triple
    b.Triple(0.05, 0.5, 5.0);                // a-priori sigmas
    b.Double(1.75);                          // rms
    b.Triple(0.01, 0.02, 0.03);              // second spare triple
    b.Int(3).Int(4);                         // used rays, rays
    b.String("p_7");                         // label
    b.Int(3).Int(2).Int(-1).Int(5);          // observation index table
}

void ExpectCommonPart(const CObjectPoint& p)
{
    EXPECT_TRUE(p.updated);
    EXPECT_FALSE(p.inUse);
    EXPECT_TRUE(p.unsolved);
    EXPECT_FALSE(p.selected);
    EXPECT_STREQ(p.sightings.GetText(), "ab-");
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, -2.25);
    EXPECT_EQ(p.z, 3.125);
    EXPECT_EQ(p.correctionSum[2], 0.3);
    EXPECT_EQ(p.aprioriSigma[0], 0.05);
    EXPECT_EQ(p.aprioriSigma[2], 5.0);
    EXPECT_EQ(p.rms, 1.75);
    EXPECT_EQ(p.usedRayCount, 3);
    EXPECT_EQ(p.rayCount, 4);
    EXPECT_STREQ(p.label.GetText(), "P_7");
    ASSERT_EQ(p.observationIndex.GetSize(), 3);
    EXPECT_EQ(p.observationIndex[1], -1);
    EXPECT_EQ(p.observationIndex[2], 5);
}

// Loads a record with the given version word setting; checks that every
// byte was used.
CObjectPoint LoadPoint(const std::string& bytes, int version, bool discrepancySet)
{
    LoadArchive ar(bytes);
    CObjectPoint p;
    int v = version;
    p.Serialize(ar.Get(), &v, discrepancySet);
    EXPECT_FALSE(ar.Get().fail());
    EXPECT_EQ(ar.Position(), static_cast<std::streamoff>(bytes.size()));
    EXPECT_EQ(v, version);
    return p;
}

CObjectPoint RichPoint()
{
    CObjectPoint p("Q12", 10.0, -20.0, 30.5);
    p.rayCount = 7;
    p.usedRayCount = 6;
    p.rms = 2.5;
    p.inUse = false;
    p.unsolved = true;
    p.updated = true;
    p.selected = true;
    p.aprioriSigma[0] = 0.001;
    p.correctionSum[1] = -0.25;
    p.SetNormal(0.0, 3.0, 4.0);
    p.radius = 1.25;
    p.discrepancy[0] = 0.5;
    p.discrepancy[2] = -0.125;
    p.limitingCovariance.SetAt(4.0, 0, 0);
    p.limitingCovariance.SetAt(0.5, 1, 2);
    p.covariance.SetAt(9.0, 2, 2);
    p.covariance.SetAt(-0.75, 0, 1);
    p.observationIndex.SetSize(2);
    p.observationIndex[0] = 3;
    p.observationIndex[1] = -1;
    p.sightings = "x.x";
    return p;
}

NEWMAT::Matrix Translation(double tx, double ty, double tz)
{
    NEWMAT::Matrix t(4, 4);
    t = 0.0;
    t(1, 1) = t(2, 2) = t(3, 3) = t(4, 4) = 1.0;
    t(1, 4) = tx;
    t(2, 4) = ty;
    t(3, 4) = tz;
    return t;
}

NEWMAT::Matrix RotationZ(double degrees)
{
    const double a = degrees * M_PI / 180.0;
    NEWMAT::Matrix t = Translation(0, 0, 0);
    t(1, 1) = std::cos(a);
    t(1, 2) = -std::sin(a);
    t(2, 1) = std::sin(a);
    t(2, 2) = std::cos(a);
    return t;
}

} // namespace

TEST(ObjectPoint, DefaultsAndConstructors)
{
    CObjectPoint p;
    EXPECT_TRUE(p.inUse);
    EXPECT_FALSE(p.unsolved || p.updated || p.selected);
    EXPECT_EQ(p.aprioriSigma[1], 0.01);
    // 0.01 is below the control limit: a default point is fully controlled.
    EXPECT_EQ(p.CountControlCoordinates(), 3);
    p.aprioriSigma[0] = 0.05;
    p.aprioriSigma[1] = 0.050001;
    p.aprioriSigma[2] = 0.0;
    EXPECT_EQ(p.CountControlCoordinates(), 2);
    EXPECT_FALSE(p.HasNormal());
    ExpectZero(p.limitingCovariance);
    ExpectZero(p.covariance);
    EXPECT_STREQ(p.label.GetText(), "");

    EXPECT_STREQ(CObjectPoint("pt_1-a", 1, 2, 3).label.GetText(), "PT_1-A");
    EXPECT_STREQ(CObjectPoint("ABCDEFGHIJKLMNOPQ", 1, 2, 3).label.GetText(), "");
    EXPECT_STREQ(CObjectPoint("P 1", 1, 2, 3).label.GetText(), "");
    CObjectPoint fromLabel(CNameBuffer("T9"), 4, 5, 6);
    EXPECT_STREQ(fromLabel.GetLabel().GetText(), "T9");
    EXPECT_EQ(fromLabel.z, 6.0);

    p.SetLabelText("good");
    p.SetLabelText("bad label");
    EXPECT_STREQ(p.label.GetText(), "GOOD");
}

TEST(ObjectPoint, SigmaSettersTouchOnlyTheirRowAndColumn)
{
    CObjectPoint p;
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j)
            p.covariance.SetAt(1.0 + i + 10 * j, i, j);
    p.SetSigmaY(0.2);
    EXPECT_EQ(p.covariance.GetAt(0, 0), 1.0);
    EXPECT_EQ(p.covariance.GetAt(0, 2), 21.0);
    EXPECT_EQ(p.covariance.GetAt(2, 2), 23.0);
    EXPECT_DOUBLE_EQ(p.covariance.GetAt(1, 1), 0.04);
    EXPECT_EQ(p.covariance.GetAt(0, 1), 0.0);
    EXPECT_EQ(p.covariance.GetAt(2, 1), 0.0);

    p.SetSigmas(1.0, 2.0, 3.0);
    ExpectDiagonal(p.covariance, 1.0, 4.0, 9.0);
    p.SetCovarianceSigmas(0.5, 0.25, 2.0);
    ExpectDiagonal(p.limitingCovariance, 0.25, 0.0625, 4.0);
}

// A covariance emptied or cut below 3 x 3 gets room for its sigmas again.
TEST(ObjectPoint, SigmaSettersMakeRoomInASmallCovariance)
{
    const struct {
        int rows, cols;
    } shapes[] = {{0, -1}, {0, 0}, {2, -1}, {2, 2}, {3, 2}};
    for (const auto& shape : shapes) {
        CObjectPoint p;
        ASSERT_TRUE(p.covariance.Resize(shape.rows, shape.cols));
        p.SetSigmaZ(0.5);
        ASSERT_GE(p.covariance.GetRows(), 3) << shape.rows << " x " << shape.cols;
        ExpectDiagonal(p.covariance, 0.0, 0.0, 0.25);
        ASSERT_TRUE(p.covariance.Resize(shape.rows, shape.cols));
        p.SetSigmas(1.0, 2.0, 3.0);
        ExpectDiagonal(p.covariance, 1.0, 4.0, 9.0);
    }
}

TEST(ObjectPoint, NormalIsStoredAsUnitVectorAndZeroMeansNone)
{
    CObjectPoint p;
    p.SetNormal(0.0, 3.0, -4.0);
    EXPECT_DOUBLE_EQ(p.normal[1], 0.6);
    EXPECT_DOUBLE_EQ(p.normal[2], -0.8);
    EXPECT_TRUE(p.HasNormal());

    p.SetNormal(0.0, 0.0, 0.0);
    EXPECT_FALSE(p.HasNormal());
    EXPECT_EQ(p.normal[0], 0.0);

    // Integer vectors of integer length: every component is exactly its
    // value divided by that length, also for huge and tiny vectors (whose
    // squares overflow or underflow) to one unit in the last place.
    const int quadruples[][4] = {{3, 4, 12, 13}, {4, 4, 7, 9},   {2, 6, 9, 11},
                                 {2, 10, 11, 15}, {1, 12, 12, 17}, {8, 9, 12, 17}};
    for (const auto& q : quadruples)
        for (double scale : {1.0, -1.0, 1e300, 1e-300}) {
            p.SetNormal(q[0] * scale, q[1] * scale, q[2] * scale);
            for (int a = 0; a < 3; ++a) {
                const double expected = std::copysign(static_cast<double>(q[a]) / q[3], scale);
                if (scale == 1.0 || scale == -1.0)
                    EXPECT_EQ(p.normal[a], expected) << q[a] << " of " << q[3];
                else
                    EXPECT_NEAR(p.normal[a], expected, 2e-16) << q[a] << " of " << q[3] << " times " << scale;
            }
        }
    p.SetNormal(NAN, 1.0, 0.0);
    EXPECT_FALSE(p.HasNormal());

    CVector v(3);
    v[2] = 2.0;
    p.SetNormalFromVector(v);
    EXPECT_EQ(p.normal[2], 1.0);
}

TEST(ObjectPoint, CopiesAreEqualAndEveryFieldTakesPartInEquality)
{
    const CObjectPoint a = RichPoint();
    CObjectPoint b(a);
    EXPECT_TRUE(a.IsEqual(b));
    CObjectPoint c;
    c = a;
    EXPECT_FALSE(c != a);
    // Deep copy: changing the copy's matrix or table leaves the original.
    c.covariance.SetAt(1.0, 1, 1);
    c.observationIndex[0] = 9;
    EXPECT_EQ(a.covariance.GetAt(1, 1), 0.0);
    EXPECT_EQ(a.observationIndex[0], 3);

    using Change = void (*)(CObjectPoint&);
    const Change changes[] = {
        [](CObjectPoint& p) { p.SetLabelText("Q13"); },
        [](CObjectPoint& p) { p.rayCount++; },
        [](CObjectPoint& p) { p.usedRayCount++; },
        [](CObjectPoint& p) { p.sightings = "x.y"; },
        [](CObjectPoint& p) { p.rms += 1; },
        [](CObjectPoint& p) { p.inUse = !p.inUse; },
        [](CObjectPoint& p) { p.unsolved = !p.unsolved; },
        [](CObjectPoint& p) { p.updated = !p.updated; },
        [](CObjectPoint& p) { p.selected = !p.selected; },
        [](CObjectPoint& p) { p.observationIndex[1] = 0; },
        [](CObjectPoint& p) { p.observationIndex.SetSize(3); },
        [](CObjectPoint& p) { p.x += 1; },
        [](CObjectPoint& p) { p.z += 1; },
        [](CObjectPoint& p) { p.limitingCovariance.SetAt(1.0, 2, 0); },
        [](CObjectPoint& p) { p.covariance.SetAt(1.0, 1, 1); },
        [](CObjectPoint& p) { p.correctionSum[2] = 1; },
        [](CObjectPoint& p) { p.aprioriSigma[2] = 1; },
        [](CObjectPoint& p) { p.normal[0] = 1; },
        [](CObjectPoint& p) { p.discrepancy[1] = 1; },
        [](CObjectPoint& p) { p.radius = 0; },
    };
    for (size_t i = 0; i < sizeof changes / sizeof changes[0]; ++i) {
        CObjectPoint d(a);
        changes[i](d);
        EXPECT_FALSE(d.IsEqual(a)) << "change " << i;
    }
}

TEST(ObjectPoint, CopyDataFromTakesOnlyTheNumbers)
{
    const CObjectPoint source = RichPoint();
    CObjectPoint p("KEEP", 0, 0, 0);
    p.rayCount = 2;
    p.SetSigmaX(0.0);
    p.CopyDataFrom(source);
    EXPECT_STREQ(p.label.GetText(), "KEEP");
    EXPECT_EQ(p.rayCount, 2);
    EXPECT_TRUE(p.inUse);
    EXPECT_EQ(p.observationIndex.GetSize(), 0);
    EXPECT_EQ(p.x, 10.0);
    EXPECT_EQ(p.aprioriSigma[0], 0.001);
    EXPECT_EQ(p.radius, 1.25);
    EXPECT_EQ(p.covariance, source.covariance);
    EXPECT_EQ(p.limitingCovariance, source.limitingCovariance);
    EXPECT_EQ(p.discrepancy[2], -0.125);
}

TEST(ObjectPoint, QuarterTurnAboutZ)
{
    CObjectPoint p("A", 1.0, 2.0, 3.0);
    p.SetNormal(1.0, 0.0, 0.0);
    p.SetSigmas(1.0, 2.0, 3.0);
    p.SetCovarianceSigmas(0.5, 1.0, 1.0);
    p.discrepancy[0] = 0.5;
    p.correctionSum[1] = 0.25;
    p.radius = 4.0;
    ASSERT_TRUE(p.Transform(RotationZ(90.0)));
    EXPECT_NEAR(p.x, -2.0, 1e-12);
    EXPECT_NEAR(p.y, 1.0, 1e-12);
    EXPECT_NEAR(p.z, 3.0, 1e-12);
    EXPECT_NEAR(p.normal[0], 0.0, 1e-12);
    EXPECT_NEAR(p.normal[1], 1.0, 1e-12);
    // The X and Y variances change places.
    EXPECT_NEAR(p.covariance.GetAt(0, 0), 4.0, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(1, 1), 1.0, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(0, 1), 0.0, 1e-12);
    EXPECT_NEAR(p.limitingCovariance.GetAt(0, 0), 1.0, 1e-12);
    EXPECT_NEAR(p.limitingCovariance.GetAt(1, 1), 0.25, 1e-12);
    EXPECT_NEAR(p.discrepancy[1], 0.5, 1e-12);
    EXPECT_NEAR(p.correctionSum[0], -0.25, 1e-12);
    EXPECT_EQ(p.radius, 4.0);
    EXPECT_EQ(p.aprioriSigma[0], 0.01);

    CObjectPoint noNormal("B", 0, 0, 0);
    noNormal.Transform(RotationZ(30.0));
    EXPECT_FALSE(noNormal.HasNormal());
}

TEST(ObjectPoint, GeneralTransformAgreesWithHandProducts)
{
    // Rotation about X by 30 degrees, then a shift; the covariance has
    // off-diagonal terms.
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    NEWMAT::Matrix t = Translation(5.0, -1.0, 2.0);
    t(2, 2) = c;
    t(2, 3) = -s;
    t(3, 2) = s;
    t(3, 3) = c;
    CObjectPoint p("A", 1.0, 2.0, 3.0);
    p.covariance.SetAt(4.0, 0, 0);
    p.covariance.SetAt(1.0, 0, 1);
    p.covariance.SetAt(3.0, 1, 1);
    p.covariance.SetAt(0.5, 1, 2);
    p.covariance.SetAt(2.0, 2, 2);
    ASSERT_TRUE(p.Transform(t));
    EXPECT_NEAR(p.x, 6.0, 1e-12);
    EXPECT_NEAR(p.y, 2 * c - 3 * s - 1.0, 1e-12);
    EXPECT_NEAR(p.z, 2 * s + 3 * c + 2.0, 1e-12);
    // R C R' worked by hand for this R (rows (1,0,0), (0,c,-s), (0,s,c)).
    EXPECT_NEAR(p.covariance.GetAt(0, 0), 4.0, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(0, 1), c * 1.0, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(0, 2), s * 1.0, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(1, 1), c * c * 3 - 2 * c * s * 0.5 + s * s * 2, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(2, 2), s * s * 3 + 2 * s * c * 0.5 + c * c * 2, 1e-12);
    EXPECT_NEAR(p.covariance.GetAt(1, 2), c * s * 3 + (c * c - s * s) * 0.5 - s * c * 2, 1e-12);
}

TEST(ObjectPoint, TransformRefusesAMatrixOfAnotherShape)
{
    CObjectPoint p = RichPoint();
    const CObjectPoint before = p;
    NEWMAT::Matrix wrong(3, 3);
    wrong = 1.0;
    EXPECT_FALSE(p.Transform(wrong));
    EXPECT_TRUE(p.IsEqual(before));
}

TEST(ObjectPoint, RotatedEllipsoidGivesItsAxes)
{
    // C = R diag(1, 4, 16) R' with R the rotation by 30 degrees about Z.
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    const double r[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    const double d[3] = {16.0, 1.0, 4.0};
    CObjectPoint p;
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) {
            double v = 0;
            for (int k = 0; k < 3; ++k)
                v += r[i][k] * d[k] * r[j][k];
            p.covariance.SetAt(v, i, j);
        }
    NEWMAT::DiagonalMatrix values;
    NEWMAT::Matrix vectors;
    EXPECT_FALSE(CObjectPoint().GetErrorEllipsoid(values, vectors)); // zero covariance
    ASSERT_TRUE(p.GetErrorEllipsoid(values, vectors));
    EXPECT_NEAR(values(1), 1.0, 1e-12);
    EXPECT_NEAR(values(2), 4.0, 1e-12);
    EXPECT_NEAR(values(3), 16.0, 1e-12);
    // Eigenvector of 1 is R's second column, of 4 the third, of 16 the first.
    const int column[3] = {1, 2, 0};
    for (int k = 0; k < 3; ++k) {
        double dot = 0;
        for (int i = 0; i < 3; ++i)
            dot += vectors(i + 1, k + 1) * r[i][column[k]];
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-12) << "axis " << k;
    }
}

TEST(ObjectPointArchive, NewestRecordRoundTrips)
{
    CObjectPoint p = RichPoint();
    StoreArchive out;
    int v = -1;
    p.Serialize(out.Get(), &v, false);
    const std::string bytes = out.Bytes();
    // Version word, discrepancy, two matrices, radius, normal, four flags,
    // "x.x", three triples, sigmas, rms, a triple, two ints, "Q12", two ints.
    EXPECT_EQ(bytes.size(), 4u + 24 + 2 * 56 + 8 + 24 + 4 + 7 + 72 + 24 + 8 + 24 + 8 + 7 + 12);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x0d\0\0\0", 4));

    CObjectPoint back = LoadPoint(bytes, -1, false);
    EXPECT_TRUE(back.IsEqual(p));
    // The discrepancy-set flag changes nothing for the newest record.
    EXPECT_TRUE(LoadPoint(bytes, -1, true).IsEqual(p));
}

// Every record version built by hand: the head each version has before the
// common part, read with the version word or with the project's version passed.
TEST(ObjectPointArchive, EveryVersionBuiltByHand)
{
    struct Case {
        int word;    // version word written (-1: none)
        int passed;  // version passed in
        bool discrepancySet;
        double radius, normal[3], discrepancy[3], limiting[3], covariance[3];
    };
    const double s1[3] = {0.2 * 0.2, 0.3 * 0.3, 0.4 * 0.4}, s2[3] = {1e-4, 4e-4, 9e-4};
    const auto head = [](RecordBytes& b, int v) {
        if (v == 13)
            b.Triple(0.5, 0.25, -1.0);
        if (v >= 12 && v <= 13)
            b.Sym3(1, 0, 0, 1, 0, 1).Sym3(2, 0, 0, 2, 0, 2);
        if (v >= 11 && v <= 13)
            b.Double(0.75);
        if (v >= 9 && v <= 13)
            b.Triple(0, 0, 1);
    };
    const Case cases[] = {
        {13, -1, false, 0.75, {0, 0, 1}, {0.5, 0.25, -1.0}, {1, 1, 1}, {2, 2, 2}},
        {12, -1, true, 0.75, {0, 0, 1}, {0.01, 0.02, 0.03}, {1, 1, 1}, {2, 2, 2}},
        {12, -1, false, 0.75, {0, 0, 1}, {0, 0, 0}, {1, 1, 1}, {s2[0], s2[1], s2[2]}},
        {11, -1, false, 0.75, {0, 0, 1}, {0, 0, 0}, {s1[0], s1[1], s1[2]}, {s2[0], s2[1], s2[2]}},
        {10, -1, true, 0, {0, 0, 1}, {0.01, 0.02, 0.03}, {s1[0], s1[1], s1[2]}, {0, 0, 0}},
        {9, -1, true, 0, {0, 0, 1}, {0.01, 0.02, 0.03}, {s1[0], s1[1], s1[2]}, {0, 0, 0}},
        {-1, 9, false, 0, {0, 0, 1}, {0, 0, 0}, {s1[0], s1[1], s1[2]}, {s2[0], s2[1], s2[2]}},
        {-1, 8, false, 0, {0, 0, 0}, {0, 0, 0}, {s1[0], s1[1], s1[2]}, {s2[0], s2[1], s2[2]}},
        {-1, 2, false, 0, {0, 0, 0}, {0, 0, 0}, {s1[0], s1[1], s1[2]}, {s2[0], s2[1], s2[2]}},
        {14, -1, false, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, // unknown: no head
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word == -1 ? c.passed : c.word);
        RecordBytes b;
        if (c.word != -1)
            b.Int(c.word);
        head(b, c.word == -1 ? c.passed : c.word);
        AppendCommonPart(b);
        const CObjectPoint p = LoadPoint(b.Str(), c.passed, c.discrepancySet);
        ExpectCommonPart(p);
        EXPECT_EQ(p.radius, c.radius);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(p.normal[i], c.normal[i]);
            EXPECT_EQ(p.discrepancy[i], c.discrepancy[i]);
        }
        ExpectDiagonal(p.limitingCovariance, c.limiting[0], c.limiting[1], c.limiting[2]);
        ExpectDiagonal(p.covariance, c.covariance[0], c.covariance[1], c.covariance[2]);
    }
    // The newest record: off-diagonal elements in their places.
    RecordBytes b;
    b.Int(13).Triple(0.5, 0.25, -1.0).Sym3(1, 2, 3, 4, 5, 6).Sym3(7, 8, 9, 10, 11, 12).Double(2.5).Triple(0, 0, 1);
    AppendCommonPart(b);
    const CObjectPoint p = LoadPoint(b.Str(), -1, false);
    EXPECT_EQ(p.limitingCovariance.GetAt(2, 0), 3.0);
    EXPECT_EQ(p.limitingCovariance.GetAt(1, 2), 5.0);
    EXPECT_EQ(p.covariance.GetAt(0, 1), 8.0);
    EXPECT_EQ(p.covariance.GetAt(2, 2), 12.0);
}

TEST(ObjectPointArchive, RecordCutShortKeepsTheRestAsItWas)
{
    RecordBytes b;
    b.Int(11).Double(0.75).Triple(0, 1, 0);
    AppendCommonPart(b);
    const std::string cut = b.Str().substr(0, 4 + 8 + 24 + 4 + 7 + 12);  // ends inside Y
    LoadArchive ar(cut);
    CObjectPoint p;
    int v = -1;
    p.Serialize(ar.Get(), &v, false);
    EXPECT_TRUE(ar.Get().fail());
    EXPECT_EQ(p.radius, 0.75);
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, 0.0);
    EXPECT_STREQ(p.label.GetText(), "");
    EXPECT_EQ(p.aprioriSigma[0], 0.01);
    ExpectZero(p.covariance);
    ExpectZero(p.limitingCovariance);
}

TEST(ObjectPointArchive, CovarianceOfAnotherShapeFailsTheRecord)
{
    RecordBytes b;
    b.Int(13).Triple(0, 0, 0);
    b.Int(2).Int(-1).Triple(1, 2, 3);  // a 2x2 matrix has no place in a point
    b.Sym3(1, 0, 0, 1, 0, 1).Double(0).Triple(0, 0, 0);
    AppendCommonPart(b);
    LoadArchive ar(b.Str());
    CObjectPoint p;
    int v = -1;
    p.Serialize(ar.Get(), &v, false);
    EXPECT_TRUE(ar.Get().fail());
    ExpectZero(p.limitingCovariance);
    ExpectZero(p.covariance);

    // A huge table count fails without allocating.
    RecordBytes big;
    big.Int(8);
    AppendCommonPart(big);
    std::string bytes = big.Str();
    bytes.replace(bytes.size() - 16, 4, std::string("\xff\xff\xff\x7f", 4));
    LoadArchive ar2(bytes);
    CObjectPoint q;
    int v2 = -1;
    q.Serialize(ar2.Get(), &v2, false);
    EXPECT_TRUE(ar2.Get().fail());
    EXPECT_EQ(q.observationIndex.GetSize(), 0);
}
