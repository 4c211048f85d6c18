#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ProjectSettings.h"
#include "ArchiveRun.h"

namespace {

// Every field of the record as numbers, in declaration order, so that two
// records can be compared whole (texts compared separately).
std::vector<double> Numbers(const CProjectSettings& s)
{
    return {s.defaultImageSigma, double(s.keepRejectionLimitFixed), double(s.freeNetwork),
            double(s.standardFolding), double(s.rigorousScale), double(s.flag5), double(s.minimumRays),
            double(s.totalErrorPropagation), double(s.absoluteConvergence), s.absoluteConvergenceLimit,
            s.rejectionFactor, s.rejectionOffset, s.convergenceLimit, double(s.maxIterations),
            s.rejectionLimit, s.triangulationConvergenceLimit, double(s.triangulationMaxIterations),
            s.resectionRejectionLimit, s.resectionConvergenceLimit, double(s.resectionMaxIterations),
            double(s.correctCentreEccentricity), double(s.correctRetroTargetShift),
            double(s.writeResiduals), double(s.writeCameraParameters), double(s.writeCorrelations),
            double(s.writeRotationAngles), double(s.writeRotationMatrices), double(s.writeCovariances),
            double(s.simulation), double(s.useEllipseCentres)};
}

// A stored record of version v written out by hand from the field table, with
// a value that differs from the default in every field.
RecordBytes HandRecord(int v)
{
    RecordBytes b;
    if (v == 13)
        b.Byte(1);                    // writeCovariances
    if (v >= 12)
        b.Byte(1).Byte(1);              // simulation, useEllipseCentres
    if (v >= 11)
        b.Byte(1).Byte(1);              // correctCentreEccentricity, correctRetroTargetShift
    if (v >= 4)
        b.Byte(1).Double(0.25);          // absoluteConvergence, absoluteConvergenceLimit
    b.Double(0.002)                    // defaultImageSigma
        .Byte(1)                      // keepRejectionLimitFixed
        .Byte(0)                      // freeNetwork
        .Byte(1)                      // rigorousScale
        .Byte(0x5A)                   // flag5
        .Int(5)                     // minimumRays
        .Byte(0)                      // totalErrorPropagation
        .Double(2.5)                   // rejectionFactor
        .Double(0.004)                 // rejectionOffset
        .Double(7e-06)                 // convergenceLimit
        .Int(12)                    // maxIterations
        .Double(0.3)                   // rejectionLimit
        .Double(3e-05)                 // triangulationConvergenceLimit
        .Int(25)                    // triangulationMaxIterations
        .Double(1.75)                  // resectionRejectionLimit
        .Double(0.0003)                // resectionConvergenceLimit
        .Int(40)                    // resectionMaxIterations
        .Byte(0)                      // writeResiduals
        .Byte(0)                      // writeCameraParameters
        .Byte(1)                      // writeCorrelations
        .Byte(1)                      // writeRotationAngles
        .Byte(1);                     // writeRotationMatrices
    return b;
}

// Checks the values of HandRecord(v); the fields that version v lacks must
// still hold what `before` held.
void ExpectHandValues(const CProjectSettings& s, int v, const CProjectSettings& before)
{
    SCOPED_TRACE("version " + std::to_string(v));
    EXPECT_EQ(s.writeCovariances, v == 13 ? true : before.writeCovariances);
    EXPECT_EQ(s.simulation, v >= 12 ? true : before.simulation);
    EXPECT_EQ(s.useEllipseCentres, v >= 12 ? true : before.useEllipseCentres);
    EXPECT_EQ(s.correctCentreEccentricity, v >= 11 ? true : before.correctCentreEccentricity);
    EXPECT_EQ(s.correctRetroTargetShift, v >= 11 ? true : before.correctRetroTargetShift);
    EXPECT_EQ(s.absoluteConvergence, v >= 4 ? true : before.absoluteConvergence);
    EXPECT_EQ(s.absoluteConvergenceLimit, v >= 4 ? 0.25 : before.absoluteConvergenceLimit);
    EXPECT_EQ(s.defaultImageSigma, 0.002);
    EXPECT_TRUE(s.keepRejectionLimitFixed);
    EXPECT_FALSE(s.freeNetwork);
    EXPECT_TRUE(s.rigorousScale);
    EXPECT_EQ(s.flag5, 0x5A);
    EXPECT_EQ(s.minimumRays, 5);
    EXPECT_FALSE(s.totalErrorPropagation);
    EXPECT_EQ(s.rejectionFactor, 2.5);
    EXPECT_EQ(s.rejectionOffset, 0.004);
    EXPECT_EQ(s.convergenceLimit, 7e-06);
    EXPECT_EQ(s.maxIterations, 12);
    EXPECT_EQ(s.rejectionLimit, 0.3);
    EXPECT_EQ(s.triangulationConvergenceLimit, 3e-05);
    EXPECT_EQ(s.triangulationMaxIterations, 25);
    EXPECT_EQ(s.resectionRejectionLimit, 1.75);
    EXPECT_EQ(s.resectionConvergenceLimit, 0.0003);
    EXPECT_EQ(s.resectionMaxIterations, 40);
    EXPECT_FALSE(s.writeResiduals);
    EXPECT_FALSE(s.writeCameraParameters);
    EXPECT_TRUE(s.writeCorrelations);
    EXPECT_TRUE(s.writeRotationAngles);
    EXPECT_TRUE(s.writeRotationMatrices);
    // Never stored: untouched by any load.
    EXPECT_EQ(s.standardFolding, before.standardFolding);
    EXPECT_STREQ(s.projectPath.GetText(), before.projectPath.GetText());
    EXPECT_STREQ(s.unitName.GetText(), before.unitName.GetText());
}

constexpr int32_t kSentinel = 0x5EA1ED;

// Reads bytes + a trailing sentinel int; checks the record consumed exactly
// its own bytes. Returns Serialize's result.
bool ReadRecord(CProjectSettings& s, const std::string& bytes, int version)
{
    RecordBytes all;
    all.Raw(bytes).Int(kSentinel);
    bool ok = false;
    LoadBytes(all.Str(), [&](CBinArchive& ar) {
        ok = s.Serialize(ar, &version);
        int32_t after = 0;
        ar.ReadInt(after);
        EXPECT_EQ(after, kSentinel) << "record did not end where its bytes end";
    });
    return ok;
}

} // namespace

// The defaults, in the order of Numbers(); SetDefaults brings every one back.
TEST(ProjectSettings, DefaultsTable)
{
    const std::vector<double> defaults = {0.0005, 0, 1, 1, 0, 0, 2, 1, 0, 0.5, 3.0, 0.0005, 5e-06, 10, 0.1,
                                          1e-05, 20, 1.5, 0.0001, 30, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0};
    CProjectSettings s;
    EXPECT_EQ(Numbers(s), defaults);
    EXPECT_TRUE(s.projectPath.IsEmpty() && s.unitName.IsEmpty());
    s.SetProjectPath("/data/job/site.kst");
    s.SetUnitLabel("mm");
    EXPECT_STREQ(s.projectPath.GetText(), "/data/job/site.kst");
    EXPECT_STREQ(s.unitName.GetText(), "mm");
    ASSERT_TRUE(ReadRecord(s, HandRecord(13).Str(), 13));
    s.standardFolding = false;
    s.SetDefaults();
    EXPECT_EQ(Numbers(s), defaults);
    EXPECT_TRUE(s.projectPath.IsEmpty() && s.unitName.IsEmpty());
}

// The writer produces exactly the hand-built record; every version, with its
// version passed or read from the record, reads its fields and keeps the rest.
TEST(ProjectSettings, EveryVersionAgainstTheHandBuiltRecord)
{
    CProjectSettings s;
    ASSERT_TRUE(ReadRecord(s, HandRecord(13).Str(), 13));
    s.flag5 = 0x5A;
    s.SetProjectPath("/never/stored.kst");
    s.standardFolding = false;
    EXPECT_EQ(StoreBytes([&](CBinArchive& ar) { EXPECT_TRUE(s.Serialize(ar, nullptr)); }),
              RecordBytes().Int(13).Raw(HandRecord(13).Str()).Str());

    for (int v = 0; v <= 13; ++v) {
        const std::string withWord = RecordBytes().Int(v).Raw(HandRecord(v).Str()).Str();
        for (bool passed : {true, false}) {
            CProjectSettings fresh;
            ASSERT_TRUE(ReadRecord(fresh, passed ? HandRecord(v).Str() : withWord, passed ? v : -1)) << v;
            ExpectHandValues(fresh, v, CProjectSettings());
        }
        // Missing fields keep what the record held before, not the defaults.
        CProjectSettings changed;
        changed.writeCovariances = changed.simulation = changed.correctRetroTargetShift = true;
        changed.absoluteConvergence = true;
        changed.absoluteConvergenceLimit = 9.0;
        changed.standardFolding = false;
        changed.SetProjectPath("C:\\old\\p.kst");
        const CProjectSettings before = changed;
        ASSERT_TRUE(ReadRecord(changed, HandRecord(v).Str(), v));
        ExpectHandValues(changed, v, before);

        // Every truncation fails and changes nothing.
        ExpectEveryTruncationFails(withWord, [&](CBinArchive& ar) {
            CProjectSettings cut;
            cut.SetProjectPath("/p.kst");
            int version = -1;
            const bool ok = cut.Serialize(ar, &version);
            EXPECT_EQ(Numbers(cut), Numbers(CProjectSettings()));
            EXPECT_STREQ(cut.projectPath.GetText(), "/p.kst");
            return ok;
        });
    }
    // Unknown versions read nothing beyond the version word (passed: nothing).
    for (int v : {14, 1000, -7}) {
        CProjectSettings u;
        u.minimumRays = 4;
        EXPECT_TRUE(ReadRecord(u, RecordBytes().Int(v).Str(), -1)) << v;
        EXPECT_EQ(u.minimumRays, 4);
        EXPECT_EQ(u.defaultImageSigma, 0.0005);
    }
    CProjectSettings u;
    EXPECT_TRUE(ReadRecord(u, {}, 14));
}

// Each flag has its own byte; any non-zero byte reads as true and is written as 1.
TEST(ProjectSettings, EachFlagHasItsOwnByte)
{
    struct Flag {
        size_t offset; // after the version word
        bool CProjectSettings::*field;
    };
    const Flag flags[] = {
        {0, &CProjectSettings::writeCovariances},       {1, &CProjectSettings::simulation},
        {2, &CProjectSettings::useEllipseCentres},      {3, &CProjectSettings::correctCentreEccentricity},
        {4, &CProjectSettings::correctRetroTargetShift}, {5, &CProjectSettings::absoluteConvergence},
        {22, &CProjectSettings::keepRejectionLimitFixed}, {23, &CProjectSettings::freeNetwork},
        {24, &CProjectSettings::rigorousScale},         {30, &CProjectSettings::totalErrorPropagation},
        {99, &CProjectSettings::writeResiduals},        {100, &CProjectSettings::writeCameraParameters},
        {101, &CProjectSettings::writeCorrelations},    {102, &CProjectSettings::writeRotationAngles},
        {103, &CProjectSettings::writeRotationMatrices},
    };
    std::string allClear = HandRecord(13).Str();
    for (const Flag& f : flags)
        allClear[f.offset] = '\0';
    for (const Flag& one : flags) {
        SCOPED_TRACE(one.offset);
        std::string record = allClear;
        record[one.offset] = static_cast<char>(0x80 | one.offset);
        CProjectSettings s;
        ASSERT_TRUE(ReadRecord(s, record, 13));
        for (const Flag& f : flags)
            EXPECT_EQ(s.*(f.field), &f == &one) << f.offset;
        const std::string out = StoreBytes([&](CBinArchive& ar) { s.Serialize(ar, nullptr); });
        ASSERT_EQ(out.size(), 108u);
        for (const Flag& f : flags)
            EXPECT_EQ(out[4 + f.offset], &f == &one ? 1 : 0) << f.offset;
    }
    std::string r = HandRecord(13).Str();
    r[25] = '\x00'; // flag5: kept as read
    CProjectSettings s;
    ASSERT_TRUE(ReadRecord(s, r, 13));
    EXPECT_EQ(s.flag5, 0);
}
