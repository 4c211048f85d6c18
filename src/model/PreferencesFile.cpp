#include "PreferencesFile.h"

#include "FileIO.h"
#include "FileSystem.h"
#include "ProfileStore.h"
#include "ProjectDocument.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

const char kSection[] = "Preferences";

// One stored setting: its key and how it is written and taken back.
struct Field {
    const char* key;
    bool CProjectPreferences::*flag;
    int32_t CProjectPreferences::*integer;
    double CProjectPreferences::*real;
    int32_t low, high; // accepted range of an integer
};

constexpr int32_t kIntMax = 0x7fffffff;

const Field kFields[] = {
    {"AutoSave", &CProjectPreferences::autoSave, nullptr, nullptr, 0, 0},
    {"StoreThumbnails", &CProjectPreferences::storeThumbnails, nullptr, nullptr, 0, 0},
    {"ThumbnailType", nullptr, &CProjectPreferences::thumbnailType, nullptr, 0, 1},
    {"ThumbnailWidth", nullptr, &CProjectPreferences::thumbnailWidth, nullptr, -kIntMax, kIntMax},
    {"ThumbnailHeight", nullptr, &CProjectPreferences::thumbnailHeight, nullptr, -kIntMax, kIntMax},
    {"ThumbnailScale", nullptr, &CProjectPreferences::thumbnailScale, nullptr, -kIntMax, kIntMax},
    {"PromptAddingDuplicateCoordinates", &CProjectPreferences::addDuplicateCoordinates, nullptr, nullptr, 0, 0},
    {"PromptOverwritingDuplicateNumbers", &CProjectPreferences::overwriteDuplicateNumbers, nullptr, nullptr, 0, 0},
    {"DuplicateTolerance", nullptr, nullptr, &CProjectPreferences::duplicateTolerance, 0, 0},
    {"MaxPlumbObsPerLine", nullptr, &CProjectPreferences::maxPlumbObsPerLine, nullptr, 2, 25},
    {"AcceptTwoRayPoints", &CProjectPreferences::acceptTwoRayPoints, nullptr, nullptr, 0, 0},
};

bool ParseInt(const std::string& text, long long& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool ParseReal(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

} // namespace

std::string PreferencesFilePath(const std::string& projectPath)
{
    return projectPath + ".ini";
}

std::string PreferencesToText(const CProjectPreferences& prefs)
{
    CProfileStore store;
    for (const Field& f : kFields) {
        if (f.flag) {
            store.WriteInt(kSection, f.key, prefs.*f.flag ? 1 : 0);
        } else if (f.integer) {
            store.WriteInt(kSection, f.key, prefs.*f.integer);
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "%.17g", prefs.*f.real);
            // The C library's decimal point may follow the locale.
            for (char* c = text; *c; ++c)
                if (*c == ',')
                    *c = '.';
            store.WriteString(kSection, f.key, text);
        }
    }
    return store.ToText();
}

void PreferencesFromText(const std::string& text, CProjectPreferences& prefs)
{
    CProfileStore store;
    store.FromText(text);
    for (const Field& f : kFields) {
        const std::string* value = store.FindValue(kSection, f.key);
        if (value == nullptr)
            continue;
        if (f.real) {
            double number = 0;
            if (ParseReal(*value, number) && number >= 0)
                prefs.*f.real = number;
            continue;
        }
        long long number = 0;
        if (!ParseInt(*value, number))
            continue;
        if (f.flag) {
            if (number == 0 || number == 1)
                prefs.*f.flag = number == 1;
        } else if (number >= f.low && number <= f.high) {
            prefs.*f.integer = int32_t(number);
        }
    }
}

bool WritePreferencesFile(const std::string& projectPath, const CProjectPreferences& prefs, std::string& error)
{
    const std::string text = PreferencesToText(prefs);
    return WriteFileAtomically(PreferencesFilePath(projectPath), text.data(), text.size(), error);
}

bool ReadPreferencesFile(const std::string& projectPath, CProjectPreferences& prefs, std::string& error)
{
    const std::string path = PreferencesFilePath(projectPath);
    if (!FileExists(path.c_str()))
        return true;
    std::string text;
    if (!ReadRegularFile(path, text, kMaxPreferencesFileBytes, error))
        return false;
    PreferencesFromText(text, prefs);
    return true;
}
