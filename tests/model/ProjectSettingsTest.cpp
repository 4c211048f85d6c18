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

TEST(ProjectSettings, NewSettingsHoldTheDefaults)
{
    CProjectSettings s;
    EXPECT_EQ(s.defaultImageSigma, 0.0005);
    EXPECT_FALSE(s.keepRejectionLimitFixed);
    EXPECT_TRUE(s.freeNetwork);
    EXPECT_TRUE(s.standardFolding);
    EXPECT_FALSE(s.rigorousScale);
    EXPECT_EQ(s.flag5, 0);
    EXPECT_EQ(s.minimumRays, 2);
    EXPECT_TRUE(s.totalErrorPropagation);
    EXPECT_FALSE(s.absoluteConvergence);
    EXPECT_EQ(s.absoluteConvergenceLimit, 0.5);
    EXPECT_EQ(s.rejectionFactor, 3.0);
    EXPECT_EQ(s.rejectionOffset, 0.0005);
    EXPECT_EQ(s.convergenceLimit, 5e-06);
    EXPECT_EQ(s.maxIterations, 10);
    EXPECT_EQ(s.rejectionLimit, 0.1);
    EXPECT_EQ(s.triangulationConvergenceLimit, 1e-05);
    EXPECT_EQ(s.triangulationMaxIterations, 20);
    EXPECT_EQ(s.resectionRejectionLimit, 1.5);
    EXPECT_EQ(s.resectionConvergenceLimit, 0.0001);
    EXPECT_EQ(s.resectionMaxIterations, 30);
    EXPECT_FALSE(s.correctCentreEccentricity);
    EXPECT_FALSE(s.correctRetroTargetShift);
    EXPECT_TRUE(s.writeResiduals);
    EXPECT_TRUE(s.writeCameraParameters);
    EXPECT_FALSE(s.writeCorrelations);
    EXPECT_FALSE(s.writeRotationAngles);
    EXPECT_FALSE(s.writeRotationMatrices);
    EXPECT_TRUE(s.projectPath.IsEmpty());
    EXPECT_FALSE(s.writeCovariances);
    EXPECT_TRUE(s.unitName.IsEmpty());
    EXPECT_FALSE(s.simulation);
    EXPECT_FALSE(s.useEllipseCentres);

    // SetDefaults brings back every one of them, texts included.
    const std::vector<double> defaults = Numbers(s);
    s.SetProjectPath("/data/job/site.kst");
    s.SetUnitLabel("mm");
    EXPECT_STREQ(s.projectPath.GetText(), "/data/job/site.kst");
    EXPECT_STREQ(s.unitName.GetText(), "mm");
    LoadBytes(HandRecord(13).Str(), [&](CBinArchive& ar) {
        int v = 13;
        s.Serialize(ar, &v);
    });
    s.standardFolding = false;
    ASSERT_NE(Numbers(s), defaults);
    s.SetDefaults();
    EXPECT_EQ(Numbers(s), defaults);
    EXPECT_TRUE(s.projectPath.IsEmpty());
    EXPECT_TRUE(s.unitName.IsEmpty());
}

TEST(ProjectSettings, NewestRecordHasTheFieldTablesSizeAndOrder)
{
    CProjectSettings s;
    LoadBytes(HandRecord(13).Str(), [&](CBinArchive& ar) {
        int v = 13;
        ASSERT_TRUE(s.Serialize(ar, &v));
    });
    s.flag5 = 0x5A;
    s.SetProjectPath("/never/stored.kst");
    s.SetUnitLabel("yds");
    s.standardFolding = false;

    const std::string b = StoreBytes([&](CBinArchive& ar) { EXPECT_TRUE(s.Serialize(ar, nullptr)); });
    ASSERT_EQ(b.size(), 108u);

    // Offsets worked out from the stored layout.
    EXPECT_EQ(I32At(b, 0), 13);
    EXPECT_EQ(b[4], 1);                         // writeCovariances
    EXPECT_EQ(b[5], 1);                         // simulation
    EXPECT_EQ(b[9], 1);                         // absoluteConvergence
    EXPECT_EQ(F64At(b, 10), 0.25);              // absoluteConvergenceLimit
    EXPECT_EQ(F64At(b, 18), 0.002);             // defaultImageSigma
    EXPECT_EQ(b[26], 1);                        // keepRejectionLimitFixed
    EXPECT_EQ(b[27], 0);                        // freeNetwork
    EXPECT_EQ(b[29], 0x5A);                     // flag5
    EXPECT_EQ(I32At(b, 30), 5);                 // minimumRays
    EXPECT_EQ(b[34], 0);                        // totalErrorPropagation
    EXPECT_EQ(F64At(b, 35), 2.5);               // rejectionFactor
    EXPECT_EQ(F64At(b, 51), 7e-06);             // convergenceLimit
    EXPECT_EQ(I32At(b, 59), 12);                // maxIterations
    EXPECT_EQ(F64At(b, 63), 0.3);               // rejectionLimit
    EXPECT_EQ(I32At(b, 79), 25);                // triangulationMaxIterations
    EXPECT_EQ(F64At(b, 83), 1.75);              // resectionRejectionLimit
    EXPECT_EQ(I32At(b, 99), 40);                // resectionMaxIterations
    EXPECT_EQ(b[103], 0);                       // writeResiduals
    EXPECT_EQ(b[107], 1);                       // writeRotationMatrices

    // The writer produces exactly the hand-built record.
    RecordBytes expected;
    expected.Int(13).Raw(HandRecord(13).Str());
    EXPECT_EQ(b, expected.Str());
}

TEST(ProjectSettings, NewestRecordRoundTrips)
{
    CProjectSettings s;
    LoadBytes(HandRecord(13).Str(), [&](CBinArchive& ar) {
        int v = 13;
        ASSERT_TRUE(s.Serialize(ar, &v));
    });
    s.rejectionLimit = 0.123456789012345;  // all 64 bits must survive

    const std::string b = StoreBytes([&](CBinArchive& ar) { s.Serialize(ar, nullptr); });

    CProjectSettings back;
    back.SetProjectPath("/mine.kst");
    back.SetUnitLabel("ft");
    back.standardFolding = false;
    int v = -1;
    ASSERT_TRUE(ReadRecord(back, b, v));
    std::vector<double> expected = Numbers(s);
    std::vector<double> got = Numbers(back);
    expected[3] = got[3] = 0;  // standardFolding is not stored
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(back.standardFolding);
    EXPECT_STREQ(back.projectPath.GetText(), "/mine.kst");
    EXPECT_STREQ(back.unitName.GetText(), "ft");

    // A default record round-trips to the defaults.
    CProjectSettings defaults, readBack;
    readBack.minimumRays = 99;
    ASSERT_TRUE(ReadRecord(readBack, StoreBytes([&](CBinArchive& ar) { defaults.Serialize(ar, nullptr); }), -1));
    EXPECT_EQ(Numbers(readBack), Numbers(defaults));
}

TEST(ProjectSettings, EveryOlderVersionReadsItsFieldsAndKeepsTheRest)
{
    for (int v = 0; v <= 13; ++v) {
        // A project file of this version passes its version (no version word) ...
        {
            CProjectSettings fresh;
            const CProjectSettings before;
            ASSERT_TRUE(ReadRecord(fresh, HandRecord(v).Str(), v)) << v;
            ExpectHandValues(fresh, v, before);
        }
        // ... or -1, and the record reads its own version word.
        {
            RecordBytes withWord;
            withWord.Int(v).Raw(HandRecord(v).Str());
            CProjectSettings fresh;
            const CProjectSettings before;
            ASSERT_TRUE(ReadRecord(fresh, withWord.Str(), -1)) << v;
            ExpectHandValues(fresh, v, before);
        }
        // Missing fields keep what the record held before, not the defaults.
        {
            CProjectSettings changed;
            changed.writeCovariances = true;
            changed.simulation = true;
            changed.correctRetroTargetShift = true;
            changed.absoluteConvergence = true;
            changed.absoluteConvergenceLimit = 9.0;
            changed.standardFolding = false;
            changed.SetProjectPath("C:\\old\\p.kst");
            const CProjectSettings before = changed;
            ASSERT_TRUE(ReadRecord(changed, HandRecord(v).Str(), v));
            ExpectHandValues(changed, v, before);
        }
    }
}

TEST(ProjectSettings, UnknownVersionsReadNothingBeyondTheVersionWord)
{
    for (int v : {14, 1000, -7}) {
        RecordBytes b;
        b.Int(v);
        CProjectSettings s;
        s.minimumRays = 4;
        EXPECT_TRUE(ReadRecord(s, b.Str(), -1)) << v;  // the sentinel follows the word directly
        CProjectSettings expected;
        expected.minimumRays = 4;
        EXPECT_EQ(Numbers(s), Numbers(expected)) << v;
    }
    // Passed in by the caller, such a version reads no byte at all.
    CProjectSettings s;
    EXPECT_TRUE(ReadRecord(s, {}, 14));
}

TEST(ProjectSettings, FlagsAreTrueForAnyNonZeroByte)
{
    std::string r = HandRecord(13).Str();
    r[0] = '\x80';   // writeCovariances
    r[1] = '\xFF';   // simulation
    r[2] = '\x02';   // useEllipseCentres
    r[25] = '\x00';  // flag5: kept as read
    r[30] = '\x40';  // totalErrorPropagation
    r[103] = '\x10'; // writeRotationMatrices
    CProjectSettings s;
    ASSERT_TRUE(ReadRecord(s, r, 13));
    EXPECT_TRUE(s.writeCovariances);
    EXPECT_TRUE(s.simulation);
    EXPECT_TRUE(s.useEllipseCentres);
    EXPECT_EQ(s.flag5, 0);
    EXPECT_TRUE(s.totalErrorPropagation);
    EXPECT_TRUE(s.writeRotationMatrices);

    // Written back, a flag is a clean 1.
    const std::string out = StoreBytes([&](CBinArchive& ar) { s.Serialize(ar, nullptr); });
    EXPECT_EQ(out[4 + 0], 1);
    EXPECT_EQ(out[4 + 1], 1);
    EXPECT_EQ(out[4 + 2], 1);
    EXPECT_EQ(out[4 + 30], 1);
    EXPECT_EQ(out[4 + 103], 1);
}

TEST(ProjectSettings, RecordsCutShortFailAndChangeNothing)
{
    for (int v : {0, 3, 4, 11, 13}) {
        RecordBytes full;
        full.Int(v).Raw(HandRecord(v).Str());
        for (size_t keep = 0; keep < full.Str().size(); ++keep) {
            std::string cut(full.Str().begin(), full.Str().begin() + keep);
            CProjectSettings s;
            s.SetProjectPath("/p.kst");
            const std::vector<double> before = Numbers(s);
            bool ok = true;
            LoadBytes(cut, [&](CBinArchive& ar) {
                int version = -1;
                ok = s.Serialize(ar, &version);
            });
            EXPECT_FALSE(ok) << "version " << v << ", " << keep << " bytes";
            EXPECT_EQ(Numbers(s), before) << "version " << v << ", " << keep << " bytes";
            EXPECT_STREQ(s.projectPath.GetText(), "/p.kst");
        }
    }
}

TEST(ProjectSettings, EachFlagHasItsOwnByte)
{
    // Offsets in the newest record after its version word, from the stored layout.
    struct Flag {
        size_t offset;
        bool CProjectSettings::*field;
        const char* name;
    };
    const Flag flags[] = {
        {0, &CProjectSettings::writeCovariances, "writeCovariances"},
        {1, &CProjectSettings::simulation, "simulation"},
        {2, &CProjectSettings::useEllipseCentres, "useEllipseCentres"},
        {3, &CProjectSettings::correctCentreEccentricity, "correctCentreEccentricity"},
        {4, &CProjectSettings::correctRetroTargetShift, "correctRetroTargetShift"},
        {5, &CProjectSettings::absoluteConvergence, "absoluteConvergence"},
        {22, &CProjectSettings::keepRejectionLimitFixed, "keepRejectionLimitFixed"},
        {23, &CProjectSettings::freeNetwork, "freeNetwork"},
        {24, &CProjectSettings::rigorousScale, "rigorousScale"},
        {30, &CProjectSettings::totalErrorPropagation, "totalErrorPropagation"},
        {99, &CProjectSettings::writeResiduals, "writeResiduals"},
        {100, &CProjectSettings::writeCameraParameters, "writeCameraParameters"},
        {101, &CProjectSettings::writeCorrelations, "writeCorrelations"},
        {102, &CProjectSettings::writeRotationAngles, "writeRotationAngles"},
        {103, &CProjectSettings::writeRotationMatrices, "writeRotationMatrices"},
    };
    std::string allClear = HandRecord(13).Str();
    for (const Flag& f : flags)
        allClear[f.offset] = '\0';

    for (const Flag& one : flags) {
        SCOPED_TRACE(one.name);
        // Reading: only the byte of this flag set.
        std::string record = allClear;
        record[one.offset] = '\x01';
        CProjectSettings s;
        ASSERT_TRUE(ReadRecord(s, record, 13));
        for (const Flag& f : flags)
            EXPECT_EQ(s.*(f.field), &f == &one) << f.name;

        // Writing: this flag alone set gives its byte alone.
        for (const Flag& f : flags)
            s.*(f.field) = false;
        s.*(one.field) = true;
        const std::string out = StoreBytes([&](CBinArchive& ar) { s.Serialize(ar, nullptr); });
        ASSERT_EQ(out.size(), 108u);
        for (const Flag& f : flags)
            EXPECT_EQ(out[4 + f.offset], &f == &one ? 1 : 0) << f.name;
    }
}
