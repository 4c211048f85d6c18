// Project files of every version built byte by byte from the field tables,
// independently of the writer, with a fixed sample content whose values the
// tests know.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "RecordBytes.h"

namespace pfbytes {

using Bytes = RecordBytes;

// The record versions inside a file: below version 10 every record reads the
// file's version and no version words stand in the file; from 10 on each
// record carries its own word, with the values a writer of that file version
// gave them.
struct Versions {
    int file;
    bool words;     // records carry their own version words
    int point;
    int set;
    int camera;
    int observation;
    int image;
    int settings;

    explicit Versions(int fileVersion) : file(fileVersion), words(fileVersion >= 10)
    {
        if (!words) {
            point = set = camera = observation = image = settings = fileVersion;
        } else {
            point = fileVersion;                       // 10 to 13
            set = fileVersion >= 12 ? 12 : fileVersion;
            camera = fileVersion >= 11 ? 11 : 10;
            observation = fileVersion >= 11 ? 11 : 10;
            image = 10;
            settings = fileVersion;
        }
    }
};

// One object point: label, coordinates and the spare triples that old
// records use for the standard deviations.
inline void Point(Bytes& b, const Versions& v, const std::string& label, double x, double y, double z,
                  double firstSpare, double secondSpare)
{
    const int rv = v.point;
    if (v.words)
        b.Int(rv);
    if (rv == 13)
        b.Doubles({0.5, 0.6, 0.7});
    if (rv >= 12 && rv <= 13)
        b.Symmetric(3, 1.0).Symmetric(3, 11.0);
    if (rv >= 11 && rv <= 13)
        b.Double(2.5); // radius
    if (rv >= 9 && rv <= 13)
        b.Doubles({0.0, 0.0, 1.0}); // normal
    b.Byte(0).Byte(1).Byte(0).Byte(1);            // updated, inUse, unsolved, selected
    b.String("s1");                                   // sightings
    b.Doubles({x, y, z});
    b.Doubles({0.0, 0.0, 0.0});                    // correction sum
    if (rv >= 12)
        firstSpare = 0.0; // spare from version 12 on, written as zero
    if (rv >= 13)
        secondSpare = 0.0;
    b.Doubles({firstSpare, firstSpare, firstSpare});
    b.Doubles({0.02, 0.03, 0.04});                 // a-priori sigmas
    b.Double(1.25);                                // rms
    b.Doubles({secondSpare, secondSpare, secondSpare});
    b.Int(3).Int(4);                               // used rays, rays
    b.String(label);
    b.Int(2).Int(0).Int(-1);                       // observation index table
}

struct PointSpec {
    std::string label;
    double x, y, z;
};

inline void PointSet(Bytes& b, const Versions& v, const std::string& name, bool isControl, bool isDriver,
                     bool isEODevice, bool isDiscrepancy, const std::vector<PointSpec>& points)
{
    if (v.words)
        b.Int(v.set);
    if (v.set == 12) {
        b.Int(1).String(points.empty() ? "" : points.front().label).String(points.empty() ? "" : points.back().label);
        b.Byte(isDiscrepancy);
    } else if (v.set == 11) {
        b.Byte(isDiscrepancy);
    }
    b.Byte(isControl).Byte(isDriver).Byte(isEODevice);
    b.String(name);
    b.Int(static_cast<std::int32_t>(points.size()));
    for (const PointSpec& p : points)
        Point(b, v, p.label, p.x, p.y, p.z, 0.1, 0.2);
}

inline void EODevice(Bytes& b, const Versions& v, const std::string& name)
{
    PointSet(b, v, name, false, false, true, false, {{"E1", 1.0, 2.0, 3.0}});
    if (v.words)
        b.Int(10);
    b.Int(3).String("May 2001").String("frame").String("in").Double(2.5);
}

// An observation; an ellipse is attached from observation version 8 on when asked.
inline void Observation(Bytes& b, const Versions& v, const std::string& label, double x, double y, bool ellipse)
{
    const int rv = v.observation;
    if (v.words)
        b.Int(rv);
    if (rv >= 8 && rv <= 11) {
        b.Byte(ellipse ? 1 : 0);
        if (ellipse) {
            if (rv == 11) {
                b.Int(11).Symmetric(5, 100.0);
                b.Doubles({3.0, 2.0, 0.25, x, y});
                b.Int(10);
            } else {
                b.Doubles({3.0, 2.0, 0.25, x, y});
            }
            b.Int(7).Doubles({1.0, 2.0, 3.0, 4.0, 5.0, x, y});
        }
    }
    b.String(label);
    b.Doubles({x, y, 7.0, 0.001, -0.002, 0.0005, 0.0006}); // x, y, radial, vx, vy, sigma x, sigma y
    b.Byte(1);                                               // rejected
    b.Doubles({120.5, 240.5});                               // pixel column, row
    b.Byte(1).Byte(0).Byte(1).Byte(0);                       // measured, fiducial, disabled, marked
}

inline void ObservationList(Bytes& b, const Versions& v, const std::vector<std::pair<std::string, bool>>& labels)
{
    if (v.words)
        b.Int(10);
    b.Int(static_cast<std::int32_t>(labels.size()));
    double x = 1.0;
    for (const auto& entry : labels) {
        Observation(b, v, entry.first, x, -x, entry.second);
        x += 1.0;
    }
}

inline void Camera(Bytes& b, const Versions& v, const std::string& id)
{
    if (v.words)
        b.Int(v.camera);
    if (v.camera == 11)
        b.Int(17); // calibration redundancy
    ObservationList(b, v, {{"F1", false}});
    b.String(id).String("body").String("SN1").String("lens").String("SN2").String("2001");
    b.Int(2);       // calibration mode
    b.Double(21.5); // max radial distance
    for (int p = 0; p < 10; ++p)
        b.Doubles({100.0 + p, 200.0 + p, 300.0 + p, 400.0 + p});
    b.Doubles({0.009, 0.0091});
    b.Int(3000).Int(2000);
}

inline void ScaleBar(Bytes& b, const std::string& name)
{
    b.Int(4).String(name).String("mm").String("invar").String("C");
    b.Double(20.5);
    b.String("B1").String("B2");
    b.Int(5).Int(6);
    b.Double(1000.25).Double(1000.5);
}

inline void Image(Bytes& b, const Versions& v, const std::string& name, const std::string& file)
{
    const int rv = v.image;
    if (v.words)
        b.Int(rv);
    if (rv >= 4)
        b.Symmetric(6, 1.0).Full(3, 0.5);
    if (rv >= 1)
        b.Byte(0).Byte(1); // high quality, quality set
    b.Byte(1);             // transform accepted
    ObservationList(b, v, {{"F1", false}});
    b.Int(4).Doubles({1.0, 0.001, -0.002, 0.5});
    ObservationList(b, v, {{"P1", true}, {"P2", false}});
    b.String(name);
    b.Int(9);                           // reserved
    b.Byte(1).Byte(1).Byte(0);          // enabled, oriented, scanned
    b.Doubles({10.0, 20.0, 30.0});
    if (rv <= 3)
        b.Doubles({1, 0, 0, 0, 0, 1, 0, -1, 0});
    for (int i = 0; i < 6; ++i) {
        b.Double(0.1 * (i + 1)); // a-priori sigma
        if (rv <= 3)
            b.Double(0.04); // legacy value
        b.Double(0.01 * (i + 1)); // correction
    }
    b.String("CAM1");
    b.String(file);
}

// The record's report flags are 0, 0, 0, 0, 0, or the values of the second
// copy (0, 0, 1, 1, 1) when asked.
inline void Settings(Bytes& b, const Versions& v, bool flagsAsSecondCopy)
{
    const int rv = v.settings;
    if (v.words)
        b.Int(rv);
    if (rv == 13)
        b.Byte(1);
    if (rv >= 12)
        b.Byte(1).Byte(1); // simulation, ellipse centres
    if (rv >= 11)
        b.Byte(1).Byte(1); // centre eccentricity, retro shift
    if (rv >= 4)
        b.Byte(1).Double(0.75);
    b.Double(0.0007);                  // default image sigma
    b.Byte(1).Byte(0).Byte(1).Byte(1); // fixed limit, free network, rigorous scale, flag5
    b.Int(3);                          // minimum rays
    b.Byte(0);                         // total error propagation
    b.Doubles({4.0, 0.0006, 6e-06});
    b.Int(11);
    b.Doubles({0.2, 2e-05});
    b.Int(21);
    b.Doubles({1.6, 0.0002});
    b.Int(31);
    const unsigned char on = flagsAsSecondCopy ? 1 : 0;
    b.Byte(0).Byte(0).Byte(on).Byte(on).Byte(on); // report flags
}

// The preference values a sample file holds, all different from the defaults.
struct SampleValues {
    static constexpr std::int32_t scanMethod = 2;
    static constexpr std::int32_t lowTargetJump = 21;
    static constexpr double lowTargetImageRatio = 0.25;
    static constexpr std::int32_t lowMinGrey = 51;
    static constexpr double maxViewingAngle = 0.75;
    static constexpr double targetRadius = 11.0;
    static constexpr unsigned char reservedByte = 7;
    static constexpr double maxEpipolarAngleDiff = 0.02;
    static constexpr double maxDrivebackError = 2.5;
    static constexpr double minIntersectionAngle = 12.0;
    static constexpr double maxDistanceToEODevice = 25.0;
    static constexpr std::int32_t highTargetJump = 31;
    static constexpr double highTargetImageRatio = 0.02;
    static constexpr std::int32_t highMinGrey = 52;
    static constexpr std::int32_t eoDeviceMinSize = 401;
    static constexpr std::int32_t minTargetError = 11;
    static constexpr double deviationFactor = 1.5;
    static constexpr std::int32_t targetOverlay = 0;
    static constexpr std::int32_t centroidColour = 0x0000FF;
    static constexpr std::int32_t manualColour = 0x00FF00;
    static constexpr std::int32_t fiducialColour = 0xFF0000;
    static constexpr std::int32_t residualVectorColour = 0x808080;
    static constexpr std::int32_t autoSavePeriod = 120;
    static constexpr std::int32_t unitIndex = 2;
    static constexpr std::int32_t targetAreaMin = 5;
    static constexpr std::int32_t targetAreaMax = 500;
    static constexpr double drivebackThreshold = 8.0;
};

// The centroid block of the samples.
inline void CentroidBlock(Bytes& b)
{
    b.Double(12.5).Byte('h').Byte('w').Byte('2').Byte(200).Int(7).Int(33).Byte(0).Byte(0).Double(1.75);
}

// Where the sample point sets are said to live (another machine's folder).
inline std::string SampleSetPath(const std::string& fileName) { return "C:\\survey\\old\\" + fileName; }

// A whole sample project file of the given version (0 to 13). Files below
// version 2 name their point sets' coordinate files (legacyPaths) instead.
// Unless asked otherwise the settings record's report flags differ from the
// second copy, which decides.
inline std::string SampleFile(int version, const std::vector<std::string>& legacyPaths = {},
                              bool flagsAsSecondCopy = false)
{
    using S = SampleValues;
    const Versions v(version);
    Bytes b;
    if (version >= 1)
        b.Raw("Kestrelon Project File").Int(version);
    if (version >= 13)
        b.Int(S::scanMethod);
    if (version >= 12)
        b.Int(S::lowTargetJump).Double(S::lowTargetImageRatio).Int(S::lowMinGrey);
    if (version >= 11)
        b.Double(S::maxViewingAngle).Double(S::targetRadius).Doubles({0.0, 1.0, 0.0});
    if (version >= 7)
        EODevice(b, v, "\\\\server\\devices\\CROSS.eod");
    if (version >= 6)
        b.Byte(S::reservedByte);
    if (version >= 5)
        b.String("NEW_");
    if (version >= 3) {
        b.Double(S::maxEpipolarAngleDiff).Double(S::maxDrivebackError).Double(S::minIntersectionAngle);
        b.Byte(0).Double(S::maxDistanceToEODevice).Byte(1);
    }
    if (version >= 2) {
        const bool withDevice = version < 7;
        if (v.words)
            b.Int(10);
        b.Int(withDevice ? 3 : 2);
        PointSet(b, v, SampleSetPath("Control.xyz"), true, false, false, false,
                 {{"P2", 2.0, 0.0, 0.0}, {"P10", 10.0, 0.0, 0.0}});
        PointSet(b, v, SampleSetPath("Trans.xyz"), false, true, false, true, {{"T1", 1.0, 1.0, 1.0}});
        if (withDevice)
            PointSet(b, v, SampleSetPath("FRAME.xyz"), false, false, true, false, {{"E1", 1.0, 2.0, 3.0}});
    }
    if (version >= 1) {
        b.Int(S::highTargetJump).Double(S::highTargetImageRatio).Int(S::highMinGrey);
        b.Int(S::eoDeviceMinSize).Int(S::minTargetError).Double(S::deviationFactor);
        for (unsigned char f : {1, 0, 1, 1, 1, 0, 0, 0, 0})
            b.Byte(f);
    }
    CentroidBlock(b);
    if (v.words)
        b.Int(10);
    b.Int(1);
    Camera(b, v, "CAM1");
    b.Int(1);
    ScaleBar(b, "BAR1");
    if (v.words)
        b.Int(10);
    b.Int(1);
    Image(b, v, "Image001", "D:\\photos\\img1.tif");
    Settings(b, v, flagsAsSecondCopy);
    b.Int(S::targetOverlay).Byte(0);
    b.Int(S::centroidColour).Int(S::manualColour).Int(S::fiducialColour).Int(S::residualVectorColour);
    b.Byte(0).Byte(0).Byte(1).Byte(1).Byte(1); // the report flags that decide
    b.Int(S::autoSavePeriod).Int(S::unitIndex);
    b.Byte(1).Byte(1).Byte(1);
    b.Int(S::targetAreaMin).Int(S::targetAreaMax).Double(S::drivebackThreshold);
    if (version < 2) {
        b.Int(static_cast<std::int32_t>(legacyPaths.size()));
        for (std::size_t i = 0; i < legacyPaths.size(); ++i)
            b.String(legacyPaths[i]).Byte(i == 0).Byte(i == 2).Byte(i == 1); // driver, control, EO device
    }
    return b.Str();
}

} // namespace pfbytes
