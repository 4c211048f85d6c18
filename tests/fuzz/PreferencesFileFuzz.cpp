// Reads arbitrary bytes as a project's settings file and writes them back.
#include "PreferencesFile.h"
#include "ProjectDocument.h"
#include "FileFuzzing.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    CProjectPreferences prefs;
    PreferencesFromText(std::string(reinterpret_cast<const char*>(data), size), prefs);
    if (!std::isfinite(prefs.duplicateTolerance) || prefs.duplicateTolerance < 0 || prefs.maxPlumbObsPerLine < 2 ||
        prefs.maxPlumbObsPerLine > 25)
        __builtin_trap();
    // What is written reads back unchanged.
    CProjectPreferences again;
    PreferencesFromText(PreferencesToText(prefs), again);
    if (PreferencesToText(again) != PreferencesToText(prefs))
        __builtin_trap();
    return 0;
}
