// Opens a project from disk (OpenProjectDocument) with its settings file
// beside it, the way the application opens one. Input: a flags byte (bit 0:
// questions are answered Yes, bit 1: the application's databases are
// installed), two bytes of the settings file's length (little-endian; 0xffff:
// no settings file), the settings file, then the project file.
//
// Opening never changes the project file or its settings file, and never
// makes a settings file that was not there. An open that fails leaves the
// document as it was; a document that opened stores again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "BinArchive.h"
#include "CentroidSettings.h"
#include "FileFuzzing.h"
#include "Message.h"
#include "PreferencesFile.h"
#include "ProfileDatabases.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"

namespace {

// Everything the document holds: the project archive and the settings text.
bool Stored(CProjectDocument& doc, std::string& bytes)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    if (!WriteProjectArchive(ar, doc, GetCentroidSettings()))
        return false;
    bytes = buffer.str() + PreferencesToText(doc);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzFolder& folder = FuzzFolder();
    if (size < 3 || !folder.IsMade())
        return 0;
    const bool answerYes = (data[0] & 1) != 0;
    const bool withDatabases = (data[0] & 2) != 0;
    const size_t claimed = data[1] | size_t(data[2]) << 8;
    const bool hasSettings = claimed != 0xffff;
    const size_t settingsSize = hasSettings ? std::min(claimed, size - 3) : 0;
    const uint8_t* project = data + 3 + settingsSize;
    const size_t projectSize = size - 3 - settingsSize;

    const std::string projectPath = folder.File("Survey.kst");
    const std::string settingsPath = PreferencesFilePath(projectPath);
    if (!WriteFuzzFile(projectPath, project, projectSize) ||
        (hasSettings && !WriteFuzzFile(settingsPath, data + 3, settingsSize)))
        return 0;

    const MessageBoxHandler previous = SetMessageBoxHandler(
        [answerYes](const char*, const char*, unsigned type) { return answerYes ? IDYES : DefaultMessageAnswer(type); });
    CProfileDatabases databases;
    databases.SetProfilePath(folder.File("Kestrelon.ini"));
    CProfileDatabases* const installed = SetAppDatabases(withDatabases ? &databases : nullptr);
    const CCentroidSettings centroid = GetCentroidSettings();

    auto doc = std::make_unique<CProjectDocument>();
    std::string before;
    if (!Stored(*doc, before))
        __builtin_trap();
    const CProjectFileResult result = OpenProjectDocument(*doc, projectPath.c_str());

    bool projectThere = false;
    bool settingsThere = false;
    const std::string projectAfter = ReadFuzzFile(projectPath, projectThere);
    const std::string settingsAfter = ReadFuzzFile(settingsPath, settingsThere);
    if (!projectThere || projectAfter.size() != projectSize ||
        projectAfter.compare(0, projectSize, reinterpret_cast<const char*>(project), projectSize) != 0)
        __builtin_trap(); // the project file was changed
    if (settingsThere != hasSettings ||
        settingsAfter.compare(0, std::string::npos, reinterpret_cast<const char*>(data + 3), settingsSize) != 0)
        __builtin_trap(); // the settings file was changed or made

    std::string after;
    if (!Stored(*doc, after))
        __builtin_trap(); // an opened document must store
    if (!result.ok && (after != before || result.message.IsEmpty()))
        __builtin_trap(); // a failed open changed the document or said nothing

    SetAppDatabases(installed);
    SetMessageBoxHandler(previous);
    GetCentroidSettings() = centroid;
    TakeCapturedMessages();
    folder.Empty();
    return 0;
}
