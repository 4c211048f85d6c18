// The settings kept beside the project file: what a reopen gives back.
#include "PreferencesFile.h"

#include "Message.h"
#include "ProjectDocument.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace preferences_file_test {

using kestrelon::test::ReadFileBytes;
using kestrelon::test::TempFolder;

// Every setting the file keeps, away from its default.
void ChangeAll(CProjectPreferences& p)
{
    p.autoSave = false;
    p.storeThumbnails = false;
    p.thumbnailType = 0;
    p.thumbnailWidth = 64;
    p.thumbnailHeight = 48;
    p.thumbnailScale = 25;
    p.addDuplicateCoordinates = false;
    p.overwriteDuplicateNumbers = false;
    p.duplicateTolerance = 0.1 + 0.2; // needs all 17 digits
    p.maxPlumbObsPerLine = 7;
    p.acceptTwoRayPoints = true;
}

bool SameKeptSettings(const CProjectPreferences& a, const CProjectPreferences& b)
{
    return a.autoSave == b.autoSave && a.storeThumbnails == b.storeThumbnails && a.thumbnailType == b.thumbnailType &&
           a.thumbnailWidth == b.thumbnailWidth && a.thumbnailHeight == b.thumbnailHeight &&
           a.thumbnailScale == b.thumbnailScale && a.addDuplicateCoordinates == b.addDuplicateCoordinates &&
           a.overwriteDuplicateNumbers == b.overwriteDuplicateNumbers &&
           a.duplicateTolerance == b.duplicateTolerance && a.maxPlumbObsPerLine == b.maxPlumbObsPerLine &&
           a.acceptTwoRayPoints == b.acceptTwoRayPoints;
}

TEST(PreferencesFile, WrittenSettingsReadBackAndOthersStay)
{
    TempFolder temp;
    const std::string project = temp.File("Survey.kst");
    CProjectPreferences written;
    ChangeAll(written);
    written.unitIndex = 3; // the project file's, not this file's
    std::string error;
    ASSERT_TRUE(WritePreferencesFile(project, written, error)) << error;
    EXPECT_EQ(PreferencesFilePath(project), temp.File("Survey.kst.ini"));
    const std::string text = ReadFileBytes(temp.File("Survey.kst.ini"));
    EXPECT_NE(text.find("[Preferences]\r\n"), std::string::npos);
    EXPECT_NE(text.find("DuplicateTolerance=0.30000000000000004\r\n"), std::string::npos);

    CProjectPreferences read;
    ASSERT_TRUE(ReadPreferencesFile(project, read, error)) << error;
    EXPECT_TRUE(SameKeptSettings(read, written));
    EXPECT_EQ(read.unitIndex, 0);
}

TEST(PreferencesFile, MissingBadAndUnknownEntriesMeanTheDefaults)
{
    const CProjectPreferences defaults;
    CProjectPreferences changed;
    ChangeAll(changed);
    const struct {
        const char* name;
        std::string text;
        bool keepsDefaults;
    } cases[] = {
        {"empty", "", true},
        {"other section", "[Other]\nAutoSave=0\nMaxPlumbObsPerLine=7\n", true},
        {"unknown keys only", "[Preferences]\nColour=red\nAutoSaveX=0\n", true},
        {"values that do not parse",
         "[Preferences]\nAutoSave=2\nStoreThumbnails=no\nThumbnailType=5\nThumbnailWidth=1e3\n"
         "ThumbnailHeight=99999999999\nThumbnailScale=\nPromptAddingDuplicateCoordinates=-1\n"
         "PromptOverwritingDuplicateNumbers=0x1\nDuplicateTolerance=nan\nMaxPlumbObsPerLine=26\n"
         "AcceptTwoRayPoints=1.0\n",
         true},
        {"negative tolerance, plumb count below range", "[Preferences]\nDuplicateTolerance=-1\nMaxPlumbObsPerLine=1\n",
         true},
        {"everything, LF ends, mixed key case, spaces, no final break, unknown keys between",
         "[preferences]\nautosave = 0\nStoreThumbnails=0\nX=1\nThumbnailType=0\nThumbnailWidth=64\n"
         "ThumbnailHeight=48\nTHUMBNAILSCALE=25\nPromptAddingDuplicateCoordinates=0\n"
         "PromptOverwritingDuplicateNumbers=0\nDuplicateTolerance=0.30000000000000004\n"
         "MaxPlumbObsPerLine=7\nAcceptTwoRayPoints=1",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CProjectPreferences read;
        PreferencesFromText(c.text, read);
        EXPECT_TRUE(SameKeptSettings(read, c.keepsDefaults ? defaults : changed));
    }
}

TEST(PreferencesFile, ReaderRefusesWhatItCannotTakeAndLeavesTheDefaults)
{
    TempFolder temp;
    const std::string project = temp.File("Survey.kst");
    std::string error;
    CProjectPreferences read;
    // No file: the defaults, and no failure.
    EXPECT_TRUE(ReadPreferencesFile(project, read, error));
    EXPECT_TRUE(SameKeptSettings(read, CProjectPreferences()));

    // A file past the bound is not read.
    std::string big = "[Preferences]\r\nAutoSave=0\r\n";
    big.append(kMaxPreferencesFileBytes, ';');
    temp.Write("Survey.kst.ini", big);
    EXPECT_FALSE(ReadPreferencesFile(project, read, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(read.autoSave);
}

TEST(PreferencesFile, ProjectSaveAndOpenCarryTheSettings)
{
    TempFolder temp;
    TakeCapturedMessages();
    const std::string project = temp.File("Survey.kst");
    CProjectDocument saved;
    ChangeAll(saved);
    ASSERT_TRUE(saved.OnSaveDocument(project.c_str()).ok);
    CProjectDocument opened;
    ASSERT_TRUE(opened.OnOpenDocument(project.c_str()).ok);
    EXPECT_TRUE(SameKeptSettings(opened, saved));

    // Without the file the settings are the defaults again.
    ASSERT_EQ(std::remove(temp.File("Survey.kst.ini").c_str()), 0);
    ASSERT_TRUE(opened.OnOpenDocument(project.c_str()).ok);
    EXPECT_TRUE(SameKeptSettings(opened, CProjectPreferences()));
    EXPECT_TRUE(TakeCapturedMessages().empty());
}

} // namespace preferences_file_test

namespace preferences_file_failure_test {

// A settings file that cannot be written or read: the project is saved and
// opened all the same, and a warning names the settings file.
TEST(PreferencesFile, AFailingSettingsFileIsNamedAndTheProjectStillSavesAndOpens)
{
    kestrelon::test::TempFolder temp;
    TakeCapturedMessages();
    const std::string project = temp.File("Survey.kst");
    const std::string settings = temp.File("Survey.kst.ini");
    ASSERT_TRUE(std::filesystem::create_directory(settings));
    CProjectDocument saved;
    saved.autoSave = false;
    ASSERT_TRUE(saved.OnSaveDocument(project.c_str()).ok);
    ASSERT_TRUE(std::filesystem::is_regular_file(project));
    std::vector<CapturedMessage> messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("The settings file " + settings + " could not be written: ", 0), 0u)
        << messages[0].text;

    CProjectDocument opened;
    ASSERT_TRUE(opened.OnOpenDocument(project.c_str()).ok);
    EXPECT_TRUE(opened.autoSave);
    messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("The settings file " + settings + " could not be read: ", 0), 0u)
        << messages[0].text;
}

} // namespace preferences_file_failure_test
