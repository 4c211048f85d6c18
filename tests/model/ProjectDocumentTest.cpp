#include "ProjectDocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Message.h"
#include "ProfileDatabases.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

// Millimetres per unit, written out from the definitions of the units.
const double kMmPer[6] = {1.0, 10.0, 1000.0, 25.4, 12 * 25.4, 36 * 25.4};

// Answers questions by script and records them; resets the global hooks.
class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeCapturedMessages();
        SetMessageBoxHandler([this](const char*, const char*, unsigned) { return answer; });
        dir = temp.Path();
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        SetAppDatabases(&app);
    }
    void TearDown() override
    {
        SetAppDatabases(nullptr);
        SetMessageBoxHandler(nullptr);
        TakeCapturedMessages();
        SetApplyUnitsHandler(nullptr);
        SetActiveProjectDocProvider(nullptr);
    }

    std::vector<std::string> ImageNames() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < doc.images.GetSize(); ++i)
            names.push_back(doc.images.GetAt(i)->name.GetText());
        return names;
    }

    kestrelon::test::TempFolder temp{"kdoc"};
    fs::path dir;
    int answer = IDYES;
    CProfileDatabases app;
    CProjectDocument doc;
};

CScaleBar Bar(const char* name, double length, double sigma)
{
    CScaleBar b;
    b.name = name;
    b.calibratedLength = length;
    b.standardDeviation = sigma;
    b.endLabel1 = CNameBuffer("E1");
    b.endLabel2 = CNameBuffer("E2");
    return b;
}

} // namespace

TEST_F(DocumentTest, ColoursAreWindowsColourValues)
{
    // Red in the low byte: green, yellow, cyan, yellow.
    EXPECT_EQ(doc.GetCentroidColor(), 0x0000FF00);
    EXPECT_EQ(doc.GetManualColor(), 0x0000FFFF);
    EXPECT_EQ(doc.GetFiducialColor(), 0x00FFFF00);
    EXPECT_EQ(doc.GetResidualVectorColor(), 0x0000FFFF);
}

TEST_F(DocumentTest, UnitNamesAndConversionFactors)
{
    const char* names[6] = {"mm", "cm", "m", "in", "ft", "yds"};
    for (int u = 0; u < 6; ++u) {
        doc.unitIndex = u;
        EXPECT_STREQ(doc.GetUnitName(false).GetText(), names[u]);
        EXPECT_EQ(FindUnitIndex(names[u]), u);
    }
    EXPECT_STREQ(doc.GetUnitName(true).GetText(), "[yds]");
    EXPECT_EQ(FindUnitIndex("MM"), -1);
    EXPECT_EQ(FindUnitIndex("inch"), -1);
    EXPECT_EQ(FindUnitIndex(nullptr), -1);

    double f = 0.0;
    doc.unitIndex = 0;
    EXPECT_TRUE(doc.GetUnitConversionFactor(7, f));
    EXPECT_EQ(f, 1.0);
    EXPECT_TRUE(doc.GetUnitConversionFactor(-1, f));
    EXPECT_EQ(f, 1.0);

    // Every pair against the unit definitions; there and back is the identity.
    for (int p = 0; p < 6; ++p) {
        for (int u = 0; u < 6; ++u) {
            doc.unitIndex = p;
            double there = 0.0;
            doc.GetUnitConversionFactor(u, there);
            EXPECT_NEAR(there, kMmPer[u] / kMmPer[p], 1e-15 * kMmPer[u] / kMmPer[p]) << u << "->" << p;
            doc.unitIndex = u;
            double back = 0.0;
            doc.GetUnitConversionFactor(p, back);
            EXPECT_NEAR(123.456 * there * back, 123.456, 1e-12) << u << "<->" << p;
        }
    }
    doc.unitIndex = 9;
    doc.GetUnitConversionFactor(0, f);
    EXPECT_EQ(f, 1.0);
}

TEST_F(DocumentTest, UnitChangeConvertsTheWholeProject)
{
    // A project in millimetres switched to inches, then back.
    CPointSet set(0);
    set.name = (dir / "Control.xyz").c_str();
    set.AddPointSorted(CObjectPoint("P1", 254.0, -25.4, 2.54));
    doc.pointSets.AddCopy(set);
    CProjectImage* image = doc.AddNewImage("Left");
    image->SetPosition(508.0, 0.0, -127.0);
    doc.eoDevice.SetName("CROSS");
    doc.eoDevice.SetUnit("mm");
    doc.eoDevice.AddPointSorted(CObjectPoint("E1", 25.4, 50.8, 0.0));
    doc.SetModifiedFlag(false);

    std::vector<int> told;
    SetApplyUnitsHandler([&](int unit) { told.push_back(unit); });
    doc.unitIndex = 3;
    doc.ApplyPreferences(0);

    const CObjectPoint* p = doc.pointSets.GetAt(0)->GetAt(0);
    EXPECT_NEAR(p->x, 10.0, 1e-12);
    EXPECT_NEAR(p->y, -1.0, 1e-12);
    EXPECT_NEAR(p->z, 0.1, 1e-12);
    EXPECT_NEAR(image->X, 20.0, 1e-12);
    EXPECT_NEAR(image->Z, -5.0, 1e-12);
    EXPECT_NEAR(doc.eoDevice.GetAt(0)->y, 2.0, 1e-12);
    EXPECT_STREQ(doc.eoDevice.GetUnit().GetText(), "in");
    EXPECT_EQ(told, std::vector<int>{3});
    EXPECT_TRUE(doc.IsModified());

    // The set's coordinate file now holds the converted points.
    std::ifstream in(dir / "Control.xyz");
    std::string label;
    double x = 0, y = 0, z = 0;
    in >> label >> x >> y >> z;
    EXPECT_EQ(label, "P1");
    EXPECT_NEAR(x, 10.0, 1e-12);

    doc.unitIndex = 0;
    doc.ApplyPreferences(3);
    EXPECT_NEAR(doc.pointSets.GetAt(0)->GetAt(0)->x, 254.0, 1e-10);
    EXPECT_NEAR(image->X, 508.0, 1e-10);
    EXPECT_STREQ(doc.eoDevice.GetUnit().GetText(), "mm");

    // Without a 3D view nothing is told and nothing fails.
    SetApplyUnitsHandler(nullptr);
    doc.ApplyPreferences(0);
    EXPECT_EQ(told.size(), 2u);
}

TEST_F(DocumentTest, NewImagesGetUniqueNames)
{
    doc.AddNewImage("");
    EXPECT_EQ(ImageNames(), std::vector<std::string>{"Image001"});
    EXPECT_TRUE(doc.IsModified());

    CProjectDocument named;
    named.AddNewImage("Front");
    EXPECT_STREQ(named.images.GetAt(0)->name.GetText(), "Front");

    // After Image009 comes Image010.
    doc.images.GetAt(0)->name = "Image009";
    doc.AddNewImage(nullptr);
    EXPECT_EQ(ImageNames().back(), "Image010");

    // A free given name is kept; a taken one gives the numbered name.
    doc.AddNewImage("Left");
    doc.AddNewImage("Left");
    EXPECT_EQ(ImageNames(), (std::vector<std::string>{"Image009", "Image010", "Left", "Image001"}));

    // After "Front" the number starts at 1 again, but skips names in use.
    CProjectDocument d2;
    d2.AddNewImage("Image001");
    d2.AddNewImage("Image002");
    d2.AddNewImage("Front");
    d2.AddNewImage("");
    EXPECT_STREQ(d2.images.GetAt(3)->name.GetText(), "Image003");
    d2.AddNewImage("Image002");
    EXPECT_STREQ(d2.images.GetAt(4)->name.GetText(), "Image004");

    // Short names: their whole text is the number.
    CProjectDocument d3;
    d3.AddNewImage("7");
    d3.AddNewImage("");
    EXPECT_STREQ(d3.images.GetAt(1)->name.GetText(), "Image008");

    for (int i = 0; i < doc.images.GetSize(); ++i)
        for (int j = i + 1; j < doc.images.GetSize(); ++j)
            EXPECT_NE(ImageNames()[i], ImageNames()[j]);
}

TEST_F(DocumentTest, ScaleBarsFollowTheDatabase)
{
    app.scaleBarDatabase.AddCopy(Bar("B1", 1000.5, 0.01));
    app.scaleBarDatabase.AddCopy(Bar("B2", 500.25, 0.02));
    doc.scaleBars.AddCopy(Bar("B2", 1.0, 1e-16));
    doc.scaleBars.AddCopy(Bar("B1", 2.0, 1e-16));

    doc.SyncScaleBarsWithDatabase();
    EXPECT_TRUE(TakeCapturedMessages().empty()) << "all bars known: no question";
    ASSERT_EQ(doc.scaleBars.GetSize(), 2);
    EXPECT_STREQ(doc.scaleBars.GetAt(0)->name.GetText(), "B2");
    EXPECT_DOUBLE_EQ(doc.scaleBars.GetAt(0)->calibratedLength, 500.25);
    EXPECT_DOUBLE_EQ(doc.scaleBars.GetAt(0)->standardDeviation, 0.02);
    EXPECT_DOUBLE_EQ(doc.scaleBars.GetAt(1)->standardDeviation, 0.01);

    // Unknown bars: asked, No by default; Yes adds a flagged database record.
    doc.scaleBars.AddCopy(Bar("NEW", 750.0, 0.005));
    doc.scaleBars.AddCopy(Bar("SKIP", 10.0, 0.005));
    int asked = 0;
    SetMessageBoxHandler([&](const char* text, const char*, unsigned) {
        ++asked;
        return std::string(text).find("NEW") != std::string::npos ? IDYES : IDNO;
    });
    doc.SyncScaleBarsWithDatabase();
    const auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Scale Bar NEW Is Not In Database!\nWould You Like To Add It?");
    EXPECT_EQ(messages[0].type & MB_TYPEMASK, unsigned(MB_YESNO));
    EXPECT_EQ(messages[0].type & MB_DEFMASK, unsigned(MB_DEFBUTTON2));
    ASSERT_EQ(app.scaleBarDatabase.GetSize(), 3);
    EXPECT_TRUE(app.scaleBarDatabase.GetAt(2)->modified);
    EXPECT_DOUBLE_EQ(app.scaleBarDatabase.GetAt(2)->calibratedLength, 750.0);
    EXPECT_EQ(app.FindDatabaseScaleBar("SKIP"), nullptr);

    // A project bar whose name the profile cannot hold is not added.
    SetMessageBoxHandler([](const char*, const char*, unsigned) { return IDYES; });
    doc.scaleBars.AddCopy(Bar("A,B", 10.0, 0.1));
    doc.SyncScaleBarsWithDatabase();
    EXPECT_EQ(app.FindDatabaseScaleBar("A,B"), nullptr);

    // Without the application nothing is added and nothing fails.
    SetAppDatabases(nullptr);
    SetMessageBoxHandler(nullptr);
    doc.SyncScaleBarsWithDatabase();
    EXPECT_EQ(doc.scaleBars.GetSize(), 5);
}

TEST_F(DocumentTest, EODeviceFromTheDatabaseIsConvertedIntoTheProjectUnit)
{
    CEODevice inches;
    inches.SetName("FRAME");
    inches.SetUnit("in");
    inches.SetComment("inch device");
    inches.AddPointSorted(CObjectPoint("T1", 1.0, 2.0, -0.5));
    app.eoDeviceDatabase.AddCopy(inches);
    CEODevice odd;
    odd.SetName("ODD");
    odd.SetUnit("furlong");
    odd.AddPointSorted(CObjectPoint("T1", 3.0, 0.0, 0.0));
    app.eoDeviceDatabase.AddCopy(odd);

    EXPECT_FALSE(doc.SetEODeviceFromDatabase("NOSUCH"));
    EXPECT_TRUE(doc.SetEODeviceFromDatabase("FRAME"));
    EXPECT_TRUE(TakeCapturedMessages().empty());
    EXPECT_STREQ(doc.eoDevice.GetName().GetText(), "FRAME");
    EXPECT_STREQ(doc.eoDevice.GetUnit().GetText(), "mm");
    EXPECT_STREQ(doc.eoDevice.GetComment().GetText(), "inch device");
    EXPECT_NEAR(doc.eoDevice.GetAt(0)->x, 25.4, 1e-12);
    EXPECT_NEAR(doc.eoDevice.GetAt(0)->z, -12.7, 1e-12);
    EXPECT_NEAR(app.eoDeviceDatabase.GetAt(0)->GetAt(0)->x, 1.0, 0.0) << "the database record stays";
    EXPECT_TRUE(doc.IsModified());

    answer = IDNO;
    EXPECT_FALSE(doc.SetEODeviceFromDatabase("ODD"));
    auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Project contains already an EO Device.\nOverwrite the project EO Device <FRAME>?");
    EXPECT_STREQ(doc.eoDevice.GetName().GetText(), "FRAME");

    answer = IDYES;
    EXPECT_TRUE(doc.SetEODeviceFromDatabase("ODD"));
    EXPECT_DOUBLE_EQ(doc.eoDevice.GetAt(0)->x, 3.0) << "an unknown unit converts by 1.0";
}
