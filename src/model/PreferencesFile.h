// The preferences a project keeps beside its file: the settings the project
// file has no place for, in a small INI file named after the project file
// ("Survey.kst" keeps them in "Survey.kst.ini"). The project file's bytes stay
// as they are. A missing file means the defaults; unknown keys and values
// that do not parse are ignored, so each such setting keeps its default.
#pragma once

#include <cstddef>
#include <string>

struct CProjectPreferences;

// Largest settings file read; a longer one is left unread.
constexpr std::size_t kMaxPreferencesFileBytes = 64u << 10;

// The settings file of a project file.
std::string PreferencesFilePath(const std::string& projectPath);

// The file's text for the preferences (CR LF line ends).
std::string PreferencesToText(const CProjectPreferences& prefs);
// Takes every known key that parses; the rest of prefs stays as it is.
void PreferencesFromText(const std::string& text, CProjectPreferences& prefs);

// Writes the file atomically; false with the reason in error.
bool WritePreferencesFile(const std::string& projectPath, const CProjectPreferences& prefs, std::string& error);
// Reads the file into prefs. A missing file is no failure and changes
// nothing; false with the reason when the file exists but cannot be read.
bool ReadPreferencesFile(const std::string& projectPath, CProjectPreferences& prefs, std::string& error);
