#include "ProfileDatabases.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "Message.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    return kestrelon::test::ReadFileBytes(p.string());
}

void WriteAll(const fs::path& p, const std::string& s)
{
    kestrelon::test::WriteFileBytes(p.string(), s);
}

// Sections with their keys and values in file order, parsed independently of
// the store: "[name]" lines and "key=value" lines, CR LF or LF.
struct FileSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
};

std::vector<FileSection> ParseIni(const std::string& text)
{
    std::vector<FileSection> sections;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
        } else {
            const size_t eq = line.find('=');
            sections.back().entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return sections;
}

std::vector<std::string> KeysOf(const FileSection& s)
{
    std::vector<std::string> keys;
    for (const auto& e : s.entries)
        keys.push_back(e.first);
    return keys;
}

std::string ValueOf(const FileSection& s, const std::string& key)
{
    for (const auto& e : s.entries)
        if (e.first == key)
            return e.second;
    return "<absent>";
}

// "%d %B, %Y  %X", e.g. "06 December, 2026  19:05:07".
bool IsTimeStamp(const std::string& t)
{
    int day = 0, year = 0, h = 0, m = 0, sec = 0, used = 0;
    char month[32] = {0};
    return std::sscanf(t.c_str(), "%2d %31[A-Za-z], %4d  %2d:%2d:%2d%n", &day, month, &year, &h, &m, &sec, &used) ==
               6 &&
           size_t(used) == t.size() && t[2] == ' ' && t.compare(t.size() - 10, 2, "  ") == 0;
}

// Every test runs with its own profile folder and scripted answers.
class ProfileDatabasesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = folder.Path();
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        profileFile = dir / "kestrelon" / "Kestrelon.ini";
        TakeCapturedMessages();
        SetMessageBoxHandler([this](const char*, const char*, unsigned) { return answer; });
    }
    void TearDown() override
    {
        SetMessageBoxHandler(nullptr);
        TakeCapturedMessages();
    }

    kestrelon::test::TempFolder folder{"kdb"};
    fs::path dir;
    fs::path profileFile;
    int answer = IDYES;
};

// A camera with every field of the database set to a value that its text form
// keeps exactly ("%e": seven significant digits; "%f": six decimals).
CCamera MakeCamera(const char* id)
{
    CCamera c;
    c.identifier = id;
    c.cameraType = "INCA 4";
    c.serialNumber = "SN 0042";
    c.lensType = "Nikkor 24mm";
    c.lensSerialNumber = "L-17";
    c.calibrationTime = "3 May, 2024  10:11:12";
    c.XPixels = 3072;
    c.YPixels = 2048;
    c.XPixelSize = 0.009;
    c.YPixelSize = 0.0085;
    c.maxRadialDistance = 17.354321;
    const double values[10] = {24.51234, -0.1234567, 0.04567891, -2.345678e-4, 4.56789e-7,
                               -1.234567e-10, 3.2e-6, -7.654321e-6, 1.5e-5, -2.25e-6};
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) {
        c.parameters[i] = values[i];
        c.sigmas[i] = i < 4 ? 1000.0 : 1e-16;
        c.postSigmas[i] = 1.25e-3 * (i + 1);
    }
    c.calibrationRedundancy = 1234;
    c.fiducials.AddNew();
    c.fiducials.GetAt(0)->SetLabel(CNameBuffer("FIDUCIAL_1"));
    c.fiducials.GetAt(0)->SetXY(-12.345678, 11.5);
    c.fiducials.AddNew();
    c.fiducials.GetAt(1)->SetLabel(CNameBuffer("F2"));
    c.fiducials.GetAt(1)->SetXY(12.3, -11.456789);
    return c;
}

CScaleBar MakeBar(const char* name)
{
    CScaleBar b;
    b.name = name;
    b.version = 3;
    b.units = "mm";
    b.material = "Invar";
    b.temperatureUnits = "C";
    b.calibratedTemperature = 20.5;
    b.calibratedLength = 1000.123456;
    b.standardDeviation = 0.002;
    b.endLabel1 = CNameBuffer("SB1");
    b.endLabel2 = CNameBuffer("SB2");
    return b;
}

CEODevice MakeDevice(const char* name)
{
    CEODevice d;
    d.SetName(name);
    d.SetComment("four-target cross");
    d.SetIDShape(3);
    d.calibrationTime = "June 2023";
    d.SetUnit("mm");
    d.SetMaxResectionRms(2.5);
    d.AddPointSorted(CObjectPoint("E1", 0.0, 0.0, 0.0));
    d.AddPointSorted(CObjectPoint("E2", 100.123456, -50.5, 7.000001));
    return d;
}

bool AddCamera(CProfileDatabases& app, const char* id)
{
    const CCamera camera = MakeCamera(id);
    return app.AddCameraToDatabase(&camera);
}

void ExpectSameCamera(const CCamera& a, const CCamera& b)
{
    EXPECT_TRUE(a.IsEqual(b)) << a.identifier << " / " << b.identifier;
    EXPECT_STREQ(a.identifier.GetText(), b.identifier.GetText());
    ASSERT_EQ(a.fiducials.GetSize(), b.fiducials.GetSize());
    for (int i = 0; i < a.fiducials.GetSize(); ++i) {
        EXPECT_STREQ(a.fiducials.GetAt(i)->label.GetText(), b.fiducials.GetAt(i)->label.GetText());
        EXPECT_EQ(a.fiducials.GetAt(i)->x, b.fiducials.GetAt(i)->x);
        EXPECT_EQ(a.fiducials.GetAt(i)->y, b.fiducials.GetAt(i)->y);
    }
}

// The record's section as the database writes it: equal texts mean every
// field the database keeps is equal.
template <class Record>
std::string SectionOf(const Record& record, void (CProfileDatabases::*write)(const Record&))
{
    CProfileDatabases scratch;
    scratch.SetProfilePath("/nonexistent/scratch.ini");
    (scratch.*write)(record);
    return scratch.GetProfile().ToText();
}

} // namespace

TEST_F(ProfileDatabasesTest, FirstRunRecordsComeBackAfterRestart)
{
    const CCamera camera = MakeCamera("CAM1");
    const CScaleBar bar = MakeBar("BAR-A");
    const CEODevice device = MakeDevice("CROSS");
    {
        CProfileDatabases app;
        ASSERT_TRUE(app.LoadDatabases());
        EXPECT_FALSE(fs::exists(profileFile));
        EXPECT_EQ(app.cameraDatabase.GetSize(), 0);

        EXPECT_TRUE(app.AddCameraToDatabase(&camera));
        EXPECT_TRUE(fs::exists(profileFile)) << "the first addition creates the profile file";
        // The scale-bar dialog adds to the list and rewrites the file.
        app.scaleBarDatabase.AddCopy(bar);
        EXPECT_TRUE(app.FlushDatabases());
        EXPECT_TRUE(app.AddEODeviceToDatabase(&device));
        EXPECT_TRUE(app.SaveDatabases(0)); // the application's exit
    }
    EXPECT_TRUE(TakeCapturedMessages().empty());

    CProfileDatabases restarted;
    ASSERT_TRUE(restarted.LoadDatabases());
    ASSERT_EQ(restarted.cameraDatabase.GetSize(), 1);
    ASSERT_EQ(restarted.scaleBarDatabase.GetSize(), 1);
    ASSERT_EQ(restarted.eoDeviceDatabase.GetSize(), 1);
    ExpectSameCamera(*restarted.cameraDatabase.GetAt(0), camera);
    EXPECT_EQ(restarted.cameraDatabase.GetAt(0)->calibrationMode, 1);
    EXPECT_EQ(SectionOf(*restarted.scaleBarDatabase.GetAt(0), &CProfileDatabases::WriteScaleBarSection),
              SectionOf(bar, &CProfileDatabases::WriteScaleBarSection));
    EXPECT_EQ(restarted.scaleBarDatabase.GetAt(0)->calibratedLength, bar.calibratedLength);
    EXPECT_EQ(SectionOf(*restarted.eoDeviceDatabase.GetAt(0), &CProfileDatabases::WriteEODeviceSection),
              SectionOf(device, &CProfileDatabases::WriteEODeviceSection));
    EXPECT_FALSE(restarted.cameraDatabase.GetAt(0)->modified);
}

TEST_F(ProfileDatabasesTest, WrittenFileHoldsExactlyTheSectionsAndKeysOfTheFormat)
{
    {
        CProfileDatabases app;
        app.LoadDatabases();
        const CCamera camera = MakeCamera("CAM1");
        app.cameraDatabase.AddCopy(camera);
        app.cameraDatabase.AddCopy(MakeCamera("CAM2"));
        app.cameraDatabase.GetAt(1)->fiducials.RemoveAll();
        app.scaleBarDatabase.AddCopy(MakeBar("BAR-A"));
        const CEODevice device = MakeDevice("CROSS");
        app.eoDeviceDatabase.AddCopy(device);
        ASSERT_TRUE(app.FlushDatabases());
    }
    const std::string text = ReadAll(profileFile);
    // Every line ends with CR LF.
    for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r');

    const std::vector<FileSection> sections = ParseIni(text);
    std::vector<std::string> names;
    for (const auto& s : sections)
        names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"File Creation Time", "Current Camera Database", "CAM1", "CAM2",
                                               "Current Scalebar Database", "BAR-A", "Current EO Device Database",
                                               "CROSS"}));

    EXPECT_EQ(KeysOf(sections[0]), std::vector<std::string>{"File Created"});
    EXPECT_TRUE(IsTimeStamp(ValueOf(sections[0], "File Created"))) << ValueOf(sections[0], "File Created");

    EXPECT_EQ(KeysOf(sections[1]), (std::vector<std::string>{"Number of Cameras", "Camera Identifiers"}));
    EXPECT_EQ(ValueOf(sections[1], "Number of Cameras"), "2");
    EXPECT_EQ(ValueOf(sections[1], "Camera Identifiers"), "CAM1,CAM2");

    std::vector<std::string> cameraKeys = {"Camera type", "Serial number", "Lens type", "Lens Serial number",
                                           "Calibration time", "XPixels", "YPixels", "XPixel size", "YPixel size",
                                           "Max Radial Distance"};
    const char* params[] = {"c", "xp", "yp", "k1", "k2", "k3", "p1", "p2", "b1", "b2"};
    for (const char* p : params)
        cameraKeys.push_back(p);
    for (const char* p : params)
        cameraKeys.push_back(std::string("sigma ") + p);
    for (const char* p : params)
        cameraKeys.push_back(std::string("post sigma ") + p);
    cameraKeys.push_back("Calibration redundancy");
    cameraKeys.push_back("Number of Fiducials");
    std::vector<std::string> withMarks = cameraKeys;
    withMarks.push_back("Fiducial 1");
    withMarks.push_back("Fiducial 2");
    EXPECT_EQ(KeysOf(sections[2]), withMarks);
    EXPECT_EQ(KeysOf(sections[3]), cameraKeys) << "no Fiducial keys without marks";
    EXPECT_EQ(ValueOf(sections[3], "Number of Fiducials"), "0");

    // Value forms: "%d", "%f", "%e" (three exponent digits) and "%s,%f,%f".
    EXPECT_EQ(ValueOf(sections[2], "XPixels"), "3072");
    EXPECT_EQ(ValueOf(sections[2], "XPixel size"), "0.009000");
    EXPECT_EQ(ValueOf(sections[2], "c"), "2.451234e+001");
    EXPECT_EQ(ValueOf(sections[2], "k1"), "-2.345678e-004");
    EXPECT_EQ(ValueOf(sections[2], "sigma k2"), "1.000000e-016");
    EXPECT_EQ(ValueOf(sections[2], "Calibration redundancy"), "1234");
    EXPECT_EQ(ValueOf(sections[2], "Fiducial 1"), "FIDUCIAL_1,-12.345678,11.500000");

    EXPECT_EQ(KeysOf(sections[4]), (std::vector<std::string>{"Number of Scalebars", "Scalebar Identifiers"}));
    EXPECT_EQ(KeysOf(sections[5]),
              (std::vector<std::string>{"Version", "Units", "Material", "TemperatureUnits", "Calibrated Temperature",
                                        "Calibrated Length", "Standard Deviation", "End Point Label 1",
                                        "End Point Label 2"}));
    EXPECT_EQ(ValueOf(sections[5], "Calibrated Length"), "1000.123456");
    EXPECT_EQ(ValueOf(sections[5], "End Point Label 2"), "SB2");

    EXPECT_EQ(KeysOf(sections[6]), (std::vector<std::string>{"Number of EO Devices", "EO Device Identifiers"}));
    EXPECT_EQ(ValueOf(sections[6], "EO Device Identifiers"), "CROSS");
    EXPECT_EQ(KeysOf(sections[7]),
              (std::vector<std::string>{"Comment", "IDShape", "Calibration time", "Unit", "Maximum Resection RMS",
                                        "Number of Points", "Point 1", "Point 2"}));
    EXPECT_EQ(ValueOf(sections[7], "Point 2"), "E2,100.123456,-50.500000,7.000001");
    EXPECT_EQ(ValueOf(sections[7], "Maximum Resection RMS"), "2.500000");
}

TEST_F(ProfileDatabasesTest, HandWrittenWindowsProfileLoads)
{
    fs::create_directories(profileFile.parent_path());
    WriteAll(profileFile, "[file creation time]\r\n"
                          "File Created = 01 January, 2020  10:00:00\r\n"
                          "[CURRENT CAMERA DATABASE]\r\n"
                          "number of cameras = 2\r\n"
                          "camera identifiers = Cam A,CAM2\r\n"
                          "[cam a]\r\n"
                          "CAMERA TYPE = Body X \r\n"
                          "xpixels = 1000\r\n"
                          "xpixel SIZE = 0.012\r\n"
                          "C = 5.0E+001\r\n"
                          "Sigma K1 = 1.000000e-016\r\n"
                          "number of fiducials = 3\r\n"
                          "fiducial 1 = F1, -10.5 , 10.25\r\n"
                          "fiducial 2 = F,2,3.5,4.5\r\n"
                          "fiducial 3 = A_LABEL_OF_17_CHR,1,2\r\n"
                          "[Current Scalebar Database]\r\n"
                          "Number of Scalebars=1\r\n"
                          "Scalebar Identifiers=Long Bar\r\n"
                          "[LONG BAR]\r\n"
                          "calibrated length = 1500.25\r\n"
                          "end point label 1 = t1\r\n"
                          "[Current EO Device Database]\r\n"
                          "Number of EO Devices = 1\r\n"
                          "EO Device Identifiers = Frame.v2\r\n"
                          "[frame.V2]\r\n"
                          "idshape = 7\r\n"
                          "NUMBER OF POINTS = 2\r\n"
                          "point 1 = P1,1.5,2.5,3.5\r\n"
                          "point 2 = P2,1,2,3,99"); // no line end at the very end
    CProfileDatabases app;
    ASSERT_TRUE(app.LoadDatabases());

    ASSERT_EQ(app.cameraDatabase.GetSize(), 2);
    const CCamera& a = *app.cameraDatabase.GetAt(0);
    EXPECT_STREQ(a.identifier.GetText(), "Cam A");
    EXPECT_STREQ(a.cameraType.GetText(), "Body X");
    EXPECT_EQ(a.XPixels, 1000);
    EXPECT_DOUBLE_EQ(a.XPixelSize, 0.012);
    EXPECT_DOUBLE_EQ(a.parameters[CAM_C], 50.0);
    EXPECT_DOUBLE_EQ(a.sigmas[CAM_K1], 1e-16);
    EXPECT_EQ(a.sigmas[CAM_C], 0.0) << "an absent key reads as 0.0";
    ASSERT_EQ(a.fiducials.GetSize(), 3);
    EXPECT_STREQ(a.fiducials.GetAt(0)->label.GetText(), "F1");
    EXPECT_DOUBLE_EQ(a.fiducials.GetAt(0)->x, -10.5);
    EXPECT_DOUBLE_EQ(a.fiducials.GetAt(0)->y, 10.25);
    // Split at the first and the last comma: x is "2,3.5", read as 2.
    EXPECT_STREQ(a.fiducials.GetAt(1)->label.GetText(), "F");
    EXPECT_DOUBLE_EQ(a.fiducials.GetAt(1)->x, 2.0);
    EXPECT_DOUBLE_EQ(a.fiducials.GetAt(1)->y, 4.5);
    EXPECT_STREQ(a.fiducials.GetAt(2)->label.GetText(), "") << "an invalid label stays empty";
    EXPECT_STREQ(app.cameraDatabase.GetAt(1)->identifier.GetText(), "CAM2") << "listed without a section";

    ASSERT_EQ(app.scaleBarDatabase.GetSize(), 1);
    EXPECT_DOUBLE_EQ(app.scaleBarDatabase.GetAt(0)->calibratedLength, 1500.25);
    EXPECT_STREQ(app.scaleBarDatabase.GetAt(0)->endLabel1.GetText(), "T1");

    ASSERT_EQ(app.eoDeviceDatabase.GetSize(), 1);
    const CEODevice& d = *app.eoDeviceDatabase.GetAt(0);
    EXPECT_STREQ(d.GetName().GetText(), "Frame.v2") << "a dot in the name belongs to it";
    EXPECT_EQ(d.idShape, 7);
    ASSERT_EQ(d.GetSize(), 2);
    EXPECT_DOUBLE_EQ(d.GetAt(0)->y, 2.5);
    EXPECT_DOUBLE_EQ(d.GetAt(1)->z, 3.0) << "Z is read up to what follows";
    EXPECT_TRUE(app.FindDatabaseScaleBar("Long Bar") != nullptr);
    EXPECT_TRUE(app.FindDatabaseScaleBar("LONG BAR") == nullptr) << "database names compare exactly";
}

TEST_F(ProfileDatabasesTest, CountsAndBrokenFilesNeverOverreach)
{
    fs::create_directories(profileFile.parent_path());
    // More cameras than identifiers: the last identifier repeats. Absurd
    // counts are limited (per record and per load), negative ones read as none.
    WriteAll(profileFile, "[Current Camera Database]\nNumber of Cameras=20\nCamera Identifiers=A,B\n"
                          "[B]\nXPixels=7\nNumber of Fiducials=2147483647\n"
                          "[Current Scalebar Database]\nNumber of Scalebars=-5\nScalebar Identifiers=X\n"
                          "[Current EO Device Database]\nNumber of EO Devices=999999999\n");
    CProfileDatabases app;
    ASSERT_TRUE(app.LoadDatabases());
    ASSERT_EQ(app.cameraDatabase.GetSize(), 20);
    EXPECT_STREQ(app.cameraDatabase.GetAt(0)->identifier.GetText(), "A");
    int marks = 0;
    for (int i = 1; i < 20; ++i) {
        EXPECT_STREQ(app.cameraDatabase.GetAt(i)->identifier.GetText(), "B");
        EXPECT_EQ(app.cameraDatabase.GetAt(i)->XPixels, 7);
        EXPECT_LE(app.cameraDatabase.GetAt(i)->fiducials.GetSize(), CProfileDatabases::kMaxEntries);
        marks += app.cameraDatabase.GetAt(i)->fiducials.GetSize();
    }
    EXPECT_EQ(app.cameraDatabase.GetAt(1)->fiducials.GetSize(), CProfileDatabases::kMaxEntries);
    EXPECT_EQ(marks, CProfileDatabases::kMaxEntriesPerLoad) << "all records of a load share one limit";
    EXPECT_EQ(app.scaleBarDatabase.GetSize(), 0);
    EXPECT_EQ(app.eoDeviceDatabase.GetSize(), CProfileDatabases::kMaxRecords);

    // A file of binary junk gives empty databases.
    WriteAll(profileFile, std::string("\0\xff[\x01=\n\n]]=[", 11));
    CProfileDatabases junk;
    EXPECT_TRUE(junk.LoadDatabases());
    EXPECT_EQ(junk.cameraDatabase.GetSize(), 0);
    EXPECT_EQ(junk.eoDeviceDatabase.GetSize(), 0);
}

TEST_F(ProfileDatabasesTest, RecordsSharingASectionCannotMultiplyLongTexts)
{
    fs::create_directories(profileFile.parent_path());
    // Every camera after the first reads section B again; its 1 MB text would
    // otherwise be copied into each of the 4096 records.
    const std::string longText(1u << 20, 'x');
    WriteAll(profileFile, "[Current Camera Database]\nNumber of Cameras=4096\nCamera Identifiers=A,B\n"
                          "[B]\nCamera type=" + longText + "\nXPixels=" + std::string(100000, '9') + "\n");
    CProfileDatabases app;
    ASSERT_TRUE(app.LoadDatabases());
    ASSERT_EQ(app.cameraDatabase.GetSize(), CProfileDatabases::kMaxRecords);
    EXPECT_EQ(app.cameraDatabase.GetAt(1)->cameraType.GetLength(), static_cast<int>(longText.size()));
    std::size_t held = 0;
    for (int i = 0; i < app.cameraDatabase.GetSize(); ++i) {
        const CCamera* camera = app.cameraDatabase.GetAt(i);
        held += static_cast<std::size_t>(camera->cameraType.GetLength()) + camera->identifier.GetLength();
        EXPECT_EQ(camera->XPixels, i == 0 ? 0 : 2147483647) << "a saturated count reads as the largest int";
    }
    EXPECT_LE(held, CProfileDatabases::kMaxTextBytesPerLoad);

    // A long identifier repeated for every record is limited the same way.
    WriteAll(profileFile, "[Current Scalebar Database]\nNumber of Scalebars=4096\nScalebar Identifiers=" +
                              std::string(1u << 20, 'y') + "\n");
    CProfileDatabases bars;
    ASSERT_TRUE(bars.LoadDatabases());
    EXPECT_GT(bars.scaleBarDatabase.GetSize(), 0);
    EXPECT_LE(static_cast<std::size_t>(bars.scaleBarDatabase.GetSize()) << 20,
              CProfileDatabases::kMaxTextBytesPerLoad);
    EXPECT_EQ(bars.scaleBarDatabase.GetAt(0)->name.GetLength(), 1 << 20);
}

TEST_F(ProfileDatabasesTest, ReplacingAskedAndAnsweredByScript)
{
    CProfileDatabases app;
    app.LoadDatabases();
    for (const char* id : {"CAM1", "CAM2", "CAM3"})
        ASSERT_TRUE(AddCamera(app, id));
    TakeCapturedMessages();

    CCamera changed = MakeCamera("CAM1");
    changed.XPixels = 4000;
    answer = IDNO;
    EXPECT_FALSE(app.AddCameraToDatabase(&changed));
    auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Replace camera <CAM1>?");
    EXPECT_EQ(messages[0].type & MB_TYPEMASK, unsigned(MB_YESNO));
    EXPECT_EQ(messages[0].type & MB_ICONMASK, unsigned(MB_ICONINFORMATION));
    EXPECT_EQ(app.cameraDatabase.GetAt(0)->XPixels, 3072);

    answer = IDYES;
    EXPECT_TRUE(app.AddCameraToDatabase(&changed));
    ASSERT_EQ(app.cameraDatabase.GetSize(), 3);
    EXPECT_STREQ(app.cameraDatabase.GetAt(2)->identifier.GetText(), "CAM1") << "the replacement goes to the end";
    EXPECT_EQ(app.cameraDatabase.GetAt(2)->XPixels, 4000);
    EXPECT_EQ(ParseIni(ReadAll(profileFile))[1].entries[1].second, "CAM2,CAM3,CAM1");

    CEODevice device = MakeDevice("CROSS");
    EXPECT_TRUE(app.AddEODeviceToDatabase(&device));
    TakeCapturedMessages();
    answer = IDNO;
    EXPECT_FALSE(app.AddEODeviceToDatabase(&device));
    messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Replace EO Device <CROSS>?");
    EXPECT_FALSE(app.AddCameraToDatabase(nullptr));
}

TEST_F(ProfileDatabasesTest, NamesThatWouldBreakTheFileAreRefused)
{
    CProfileDatabases app;
    app.LoadDatabases();
    ASSERT_TRUE(AddCamera(app, "GOOD"));
    const std::string before = ReadAll(profileFile);
    TakeCapturedMessages();

    for (const char* bad : {"A,B", "[X", "Y]", "K=1", "LINE\nBREAK", "CR\rONLY", "", " LEAD", "TRAIL "}) {
        CCamera camera = MakeCamera("X");
        camera.identifier = bad;
        EXPECT_FALSE(app.AddCameraToDatabase(&camera)) << bad;
        const auto messages = TakeCapturedMessages();
        ASSERT_EQ(messages.size(), 1u) << bad;
        EXPECT_NE(messages[0].text.find("cannot be kept in the database"), std::string::npos) << messages[0].text;
    }
    // Section names ignore letter case: "good" would share the section of "GOOD".
    CCamera twin = MakeCamera("good");
    EXPECT_FALSE(app.AddCameraToDatabase(&twin));
    EXPECT_NE(TakeCapturedMessages().at(0).text.find("only in letter case"), std::string::npos);

    CEODevice device = MakeDevice("A=B");
    EXPECT_FALSE(app.AddEODeviceToDatabase(&device));
    EXPECT_EQ(TakeCapturedMessages().size(), 1u);

    EXPECT_EQ(app.cameraDatabase.GetSize(), 1);
    EXPECT_EQ(app.eoDeviceDatabase.GetSize(), 0);
    EXPECT_EQ(ReadAll(profileFile), before);

    // The dialogs' check of a rename accepts the record's own name.
    EXPECT_TRUE(app.CheckCameraIdentifier("GOOD", app.cameraDatabase.GetAt(0)));
    EXPECT_TRUE(app.CheckScaleBarName("Bar 1 (Invar)", nullptr));
    EXPECT_FALSE(app.CheckScaleBarName("Bar]1", nullptr));
    TakeCapturedMessages();
}

TEST_F(ProfileDatabasesTest, RewriteKeepsShellSectionsAndDropsRemovedRecords)
{
    fs::create_directories(profileFile.parent_path());
    WriteAll(profileFile, "[Recent File List]\r\nFile1=/home/u/a.kst\r\nFile2=/home/u/b.kst\r\n"
                          "[Settings]\r\nPreviewPages=2\r\n"
                          "[Current Camera Database]\r\nNumber of Cameras=2\r\nCamera Identifiers=OLD1,OLD3\r\n"
                          "[OLD1]\r\nXPixels=10\r\n[OLD3]\r\nXPixels=30\r\n");
    CProfileDatabases app;
    app.LoadDatabases();
    CDynArray<CCamera> selected;
    selected.Add(app.cameraDatabase.GetAt(0));
    selected.Add(app.cameraDatabase.GetAt(1));

    answer = IDNO;
    EXPECT_FALSE(app.DeleteCamerasFromDatabase(selected));
    auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Comfirm delete of camera(s) <OLD1>, <OLD3>");
    EXPECT_EQ(app.cameraDatabase.GetSize(), 2);

    selected.RemoveAt(1, 1);
    answer = IDYES;
    EXPECT_TRUE(app.DeleteCamerasFromDatabase(selected));
    ASSERT_EQ(app.cameraDatabase.GetSize(), 1);

    const std::vector<FileSection> sections = ParseIni(ReadAll(profileFile));
    std::vector<std::string> names;
    for (const auto& s : sections)
        names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"File Creation Time", "Current Camera Database", "OLD3",
                                               "Current Scalebar Database", "Current EO Device Database",
                                               "Recent File List", "Settings"}));
    EXPECT_EQ(ValueOf(sections[5], "File2"), "/home/u/b.kst");
    EXPECT_EQ(ValueOf(sections[6], "PreviewPages"), "2");
    EXPECT_FALSE(fs::exists(profileFile.string() + ".tmp"));

    // The shell's own writer runs after the rewrite.
    app.SetStdProfileWriter([](CProfileStore& p) { p.WriteString("Recent File List", "File1", "/new.kst"); });
    EXPECT_TRUE(app.FlushDatabases());
    EXPECT_EQ(ValueOf(ParseIni(ReadAll(profileFile))[5], "File1"), "/new.kst");

    // An owner that never loaded the file still keeps what it holds.
    CProfileDatabases fresh;
    ASSERT_TRUE(fresh.SaveDatabases(0));
    EXPECT_NE(ReadAll(profileFile).find("File2=/home/u/b.kst\r\n"), std::string::npos);
}

TEST_F(ProfileDatabasesTest, SavingModifiedRecordsOnlyOverwritesTheirKeys)
{
    CProfileDatabases app;
    app.LoadDatabases();
    CCamera five = MakeCamera("FIVE");
    for (int i = 3; i <= 5; ++i) {
        CImageObservation* mark = five.fiducials.AddNew();
        mark->SetLabel(CNameBuffer(("M" + std::to_string(i)).c_str()));
    }
    ASSERT_TRUE(app.AddCameraToDatabase(&five));
    ASSERT_TRUE(AddCamera(app, "OTHER"));

    CCamera* stored = app.cameraDatabase.GetAt(0);
    stored->fiducials.RemoveAt(3, 2);
    stored->modified = true;
    app.cameraDatabase.GetAt(1)->XPixels = 1; // changed without the flag: not written
    ASSERT_TRUE(app.SaveDatabases(0));
    EXPECT_FALSE(stored->modified);

    std::vector<FileSection> sections = ParseIni(ReadAll(profileFile));
    ASSERT_EQ(sections[2].name, "FIVE");
    EXPECT_EQ(ValueOf(sections[2], "Number of Fiducials"), "3");
    EXPECT_NE(ValueOf(sections[2], "Fiducial 5"), "<absent>") << "keys of earlier versions stay";
    EXPECT_EQ(ValueOf(sections[3], "XPixels"), "3072");

    // The rewrite leaves nothing stale.
    ASSERT_TRUE(app.FlushDatabases());
    sections = ParseIni(ReadAll(profileFile));
    EXPECT_EQ(ValueOf(sections[2], "Fiducial 5"), "<absent>");
    EXPECT_EQ(ValueOf(sections[3], "XPixels"), "1");

    // A write that fails keeps the flag, so that a later save still writes the record.
    WriteAll(dir / "plain-file", "x");
    app.SetProfilePath((dir / "plain-file" / "Kestrelon.ini").string());
    stored->modified = true;
    EXPECT_FALSE(app.SaveDatabases(0));
    EXPECT_FALSE(app.FlushDatabases());
    EXPECT_TRUE(stored->modified);
    EXPECT_EQ(app.cameraDatabase.GetSize(), 2);
}

TEST_F(ProfileDatabasesTest, ImportNamesAfterTheFileAndFailsWithoutTrace)
{
    const fs::path eod = dir / "FRAME09.eod";
    WriteAll(eod, "P1 0 0 0\r\nP2 100.5 0 0\r\nP3 0 200.25 0\r\n");
    CProfileDatabases app;
    app.LoadDatabases();
    EXPECT_TRUE(app.ImportEODevice(eod.c_str()));
    EXPECT_TRUE(app.ImportEODevice(eod.c_str()));
    ASSERT_EQ(app.eoDeviceDatabase.GetSize(), 2);
    EXPECT_STREQ(app.eoDeviceDatabase.GetAt(0)->GetName().GetText(), "FRAME09");
    EXPECT_STREQ(app.eoDeviceDatabase.GetAt(1)->GetName().GetText(), "FRAME10");
    EXPECT_EQ(app.eoDeviceDatabase.GetAt(1)->GetSize(), 3);
    EXPECT_TRUE(app.eoDeviceDatabase.GetAt(1)->modified) << "written by the next save even without a rewrite";

    const fs::path plain = dir / "CROSS.eod";
    WriteAll(plain, "A 1 2 3\n");
    EXPECT_TRUE(app.ImportEODevice(plain.c_str()));
    EXPECT_TRUE(app.ImportEODevice(plain.c_str()));
    EXPECT_STREQ(app.eoDeviceDatabase.GetAt(3)->GetName().GetText(), "CROSS1");

    // A read that fails shows "Input Failed" and changes nothing.
    TakeCapturedMessages();
    const CEODeviceList before(app.eoDeviceDatabase);
    const fs::path empty = dir / "EMPTY.eod";
    WriteAll(empty, "no points here\r\n");
    EXPECT_FALSE(app.ImportEODevice(empty.c_str()));
    EXPECT_FALSE(app.ImportEODevice((dir / "MISSING.eod").c_str()));
    auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Input Failed");
    EXPECT_EQ(messages[0].type & MB_TYPEMASK, unsigned(MB_OK));
    ASSERT_EQ(app.eoDeviceDatabase.GetSize(), before.GetSize());
    for (int i = 0; i < before.GetSize(); ++i)
        EXPECT_EQ(SectionOf(*app.eoDeviceDatabase.GetAt(i), &CProfileDatabases::WriteEODeviceSection),
                  SectionOf(*before.GetAt(i), &CProfileDatabases::WriteEODeviceSection));

    // A file without a title cannot raise its number: the import ends, refused.
    app.eoDeviceDatabase.AddNew();
    const fs::path untitled = dir / ".eod";
    WriteAll(untitled, "A 1 2 3\n");
    EXPECT_FALSE(app.ImportEODevice(untitled.c_str()));
    EXPECT_EQ(TakeCapturedMessages().size(), 1u);
}

TEST_F(ProfileDatabasesTest, EditingThroughTheDialogRewritesOnlyOnChange)
{
    CProfileDatabases app;
    app.LoadDatabases();
    ASSERT_TRUE(AddCamera(app, "CAM1"));
    ASSERT_TRUE(AddCamera(app, "CAM2"));

    EXPECT_FALSE(app.EditDatabaseCamera("CAM2")) << "no dialog installed";
    EXPECT_FALSE(app.EditDatabaseCamera("NONE"));

    int openedAt = -1;
    app.SetCameraDialogHandler([&](CCameraList& list, int index) {
        openedAt = index;
        list.GetAt(index)->parameters[CAM_C] = 28.5;
    });
    EXPECT_TRUE(app.EditDatabaseCamera("CAM2"));
    EXPECT_EQ(openedAt, 1);
    EXPECT_EQ(ValueOf(ParseIni(ReadAll(profileFile))[3], "c"), "2.850000e+001");

    app.SetCameraDialogHandler([](CCameraList&, int) {});
    EXPECT_FALSE(app.EditDatabaseCamera("CAM1"));

    // A rename the file cannot hold is taken back, with the reason.
    TakeCapturedMessages();
    app.SetCameraDialogHandler([](CCameraList& list, int index) { list.GetAt(index)->identifier = "CAM,1"; });
    EXPECT_FALSE(app.EditDatabaseCamera("CAM1"));
    EXPECT_STREQ(app.cameraDatabase.GetAt(0)->identifier.GetText(), "CAM1");
    EXPECT_EQ(TakeCapturedMessages().size(), 1u);

    app.SetCameraDialogHandler([](CCameraList& list, int index) { list.GetAt(index)->identifier = "CAM9"; });
    EXPECT_TRUE(app.EditDatabaseCamera("CAM1"));
    EXPECT_EQ(ParseIni(ReadAll(profileFile))[1].entries[1].second, "CAM9,CAM2");
}

TEST_F(ProfileDatabasesTest, NumbersIgnoreTheUserLocale)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no decimal-comma locale installed";
    const CScaleBar bar = MakeBar("BAR");
    {
        CProfileDatabases app;
        app.LoadDatabases();
        app.scaleBarDatabase.AddCopy(bar);
        app.FlushDatabases();
    }
    CProfileDatabases restarted;
    restarted.LoadDatabases();
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(restarted.scaleBarDatabase.GetSize(), 1);
    EXPECT_EQ(restarted.scaleBarDatabase.GetAt(0)->calibratedLength, bar.calibratedLength);
    EXPECT_EQ(restarted.scaleBarDatabase.GetAt(0)->calibratedTemperature, bar.calibratedTemperature);
    EXPECT_NE(ReadAll(profileFile).find("Calibrated Length=1000.123456"), std::string::npos);
}
