// What opening and saving a project does around the file's bytes: rewriting
// coordinate files, synchronising scale bars with the databases, questions
// and warnings, and moving the read data into the document.
#include "ProjectFile.h"

#include "BinArchive.h"
#include "CentroidSettings.h"
#include "FileIO.h"
#include "FileSystem.h"
#include "FilePath.h"
#include "Message.h"
#include "NameBuffer.h"
#include "PreferencesFile.h"
#include "ProfileDatabases.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// Layout arguments of the coordinate files the load rewrites.
constexpr int kXyzCoordinateDecimals = 12;
constexpr int kXyzSigmaDecimals = 13;
constexpr int kXyzNormalDecimals = 7;

CDynString FormatMessage(const char* format, const char* a, const char* b = "")
{
    CDynString text;
    text.Format(format, a, b);
    return text;
}

CDynString AbsolutePath(const char* path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return CDynString(path);
    return CDynString(absolute.lexically_normal().string().c_str());
}

// A coordinate file exists there (a folder is none).
bool IsFile(const CFilePath& path)
{
    return !path.GetFileName().IsEmpty() && IsRegularFile(path.GetText());
}

// Snapshot of a scale-bar list as its stored bytes.
std::string StoredBytes(CScaleBarList& bars)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    bars.Serialize(ar);
    return buffer.str();
}

// Any entry under that name, also a folder, pipe or dangling link.
bool EntryExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found;
}

// The same file under two names (links followed); false when either is missing.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// What stands under the name a set's coordinate file is to take.
enum class FileAtHome {
    None,     // nothing
    Blank,    // a text file of blanks only: nothing in it to lose
    SetsOwn,  // the set's points as the load writes them: left as it is
    Other,    // a text file that says more or other than the set: kept
    Unusable, // no regular file of text (a folder, pipe, project or image): kept
};

FileAtHome InspectFileAtHome(const std::string& path, const CPointSet& set)
{
    if (!EntryExists(path))
        return FileAtHome::None;
    std::string bytes, error;
    constexpr std::uint64_t kMaxBytes = 64u << 20;
    if (!ReadRegularFile(path, bytes, kMaxBytes, error) || bytes.find('\0') != std::string::npos)
        return FileAtHome::Unusable;
    if (set.MatchesXyzText(bytes.data(), bytes.size(), kXyzCoordinateDecimals, kXyzSigmaDecimals,
                           kXyzNormalDecimals))
        return FileAtHome::SetsOwn;
    if (bytes.find_first_not_of(" \t\r\n\v\f") == std::string::npos)
        return FileAtHome::Blank;
    return FileAtHome::Other;
}

// Moves every point set into the project's folder and writes its coordinate
// file there. A file of that name that already holds the set's points is
// left as it is; one that belongs to something else (the project, its
// settings file, an image of the project, the EO device's file, a file
// another set keeps) or that says more or other than the set is never
// replaced: the set gets a free name, as a copy does, and the user is told
// once which files in the folder were kept for what they say.
void HomePointSets(CProjectDocument& fresh, const CFilePath& projectPath, bool& changed)
{
    const CDynString projectFolder = projectPath.GetFolder();
    const int count = fresh.pointSets.GetSize();

    // Files that belong to something else.
    std::vector<std::string> protectedFiles = {projectPath.GetText(),
                                               PreferencesFilePath(projectPath.GetText())};
    for (int i = 0; i < fresh.images.GetSize(); ++i) {
        if (const CProjectImage* image = fresh.images.GetAt(i)) {
            const CFilePath& file = image->GetFilePath();
            if (file.GetFileName().IsEmpty())
                continue;
            protectedFiles.push_back(file.GetText());
            protectedFiles.push_back((projectFolder + "/" + file.GetFileName()).GetText());
        }
    }
    if (!fresh.eoDevice.name.GetFileName().IsEmpty()) {
        protectedFiles.push_back(fresh.eoDevice.name.GetText());
        protectedFiles.push_back((projectFolder + "/" + fresh.eoDevice.name.GetFileName()).GetText());
    }
    const auto isProtected = [&](const std::string& path) {
        for (const std::string& file : protectedFiles)
            if (file == path || SameFile(file, path))
                return true;
        return false;
    };

    // A set already named with its file in the folder keeps that file; the
    // others may claim a file only after them.
    std::vector<std::string> homed(static_cast<std::size_t>(count));
    std::vector<std::pair<std::string, int>> claimed; // file, set
    const auto claimant = [&](const std::string& path) {
        for (const auto& [file, owner] : claimed)
            if (file == path || SameFile(file, path))
                return owner;
        return -1;
    };
    for (int i = 0; i < count; ++i) {
        const CPointSet* set = fresh.pointSets.GetAt(i);
        if (set == nullptr || set->name.GetFileName().IsEmpty())
            continue;
        homed[i] = (projectFolder + "/" + set->name.GetFileName()).GetText();
        if (homed[i] == set->name.GetText() && claimant(homed[i]) < 0)
            claimed.emplace_back(homed[i], i);
    }
    const auto isClaimed = [&](const std::string& path, int self) {
        const int owner = claimant(path);
        return owner >= 0 && owner != self;
    };
    const auto titleTaken = [&](const CPointSet* self, const CDynString& title) {
        for (int k = 0; k < count; ++k) {
            const CPointSet* other = fresh.pointSets.GetAt(k);
            if (other != nullptr && other != self && other->name.GetTitle() == title)
                return true;
        }
        return false;
    };

    CDynString keptFiles; // a line per file kept for what it says
    for (int i = 0; i < count; ++i) {
        CPointSet* set = fresh.pointSets.GetAt(i);
        if (set == nullptr || homed[i].empty())
            continue;
        bool free = !isProtected(homed[i]) && !isClaimed(homed[i], i);
        bool write = true;
        bool kept = false;
        if (free) {
            switch (InspectFileAtHome(homed[i], *set)) {
            case FileAtHome::None:
            case FileAtHome::Blank:
                break;
            case FileAtHome::SetsOwn:
                write = false;
                break;
            case FileAtHome::Other:
                kept = true;
                free = false;
                break;
            case FileAtHome::Unusable:
                free = false;
                break;
            }
        }
        bool replace = true;
        CFilePath target(homed[i].c_str());
        if (!free) {
            // A coordinate file of its own under the set's title where that
            // is free, else the title numbered on; a numbered file that
            // already holds the set's points is taken as it is.
            target.SetExtension("xyz");
            for (;;) {
                const std::string path = target.GetText();
                if (!titleTaken(set, target.GetTitle()) && !isProtected(path) && claimant(path) < 0) {
                    const FileAtHome there = InspectFileAtHome(path, *set);
                    if (there == FileAtHome::None)
                        break;
                    if (there == FileAtHome::SetsOwn) {
                        write = false;
                        break;
                    }
                }
                if (!target.IncrementNumber())
                    break;
            }
            replace = false;
        }
        if (claimant(target.GetText()) < 0)
            claimed.emplace_back(target.GetText(), i);
        if (target != set->name) {
            set->name = target;
            changed = true;
        }
        if (kept)
            keptFiles.AppendFormat("\n%s: the set's file is now %s",
                                   CFilePath(homed[i].c_str()).GetFileName().GetText(),
                                   target.GetFileName().GetText());
        if (!write)
            continue;
        // A file that cannot be written stays as it was; the data is in memory.
        std::string error;
        if (!set->WriteXyzFile(set->name.GetText(), kXyzCoordinateDecimals, kXyzSigmaDecimals,
                               kXyzNormalDecimals, &error, replace)) {
            CDynString warning;
            warning.Format("The coordinate file %s could not be written: %s", set->name.GetText(), error.c_str());
            AfxMessageBox(warning.GetText(), MB_OK | MB_ICONWARNING);
        }
    }
    if (!keptFiles.IsEmpty()) {
        CDynString warning;
        warning.Format("These coordinate files differ from the project's point sets and were left as they are:\n%s"
                       "\n\nThey are in the project's folder %s. Save the project to keep the sets' new file names.",
                       keptFiles.GetText(), projectFolder.GetText());
        AfxMessageBox(warning.GetText(), MB_OK | MB_ICONWARNING);
    }
}

// After a successful parse: what the load does with files and databases.
// Returns whether the data now differs from the file's.
bool FinishLoad(CProjectDocument& fresh, const CFilePath& projectPath, int version,
                const std::vector<CLegacyPointSetEntry>& legacy)
{
    bool changed = false;
    const CDynString projectFolder = projectPath.GetFolder();

    // Every point set moves to the project's folder and its coordinate
    // file is written there, never over a file that is not its own.
    if (version >= 2)
        HomePointSets(fresh, projectPath, changed);

    // The project's scale bars become their database records; bars the
    // database lacks may be added to it.
    const std::string barsBefore = StoredBytes(fresh.scaleBars);
    const CProfileDatabases* databases = GetAppDatabases();
    const int databaseBars = databases != nullptr ? databases->scaleBarDatabase.GetSize() : 0;
    fresh.SyncScaleBarsWithDatabase();
    if (StoredBytes(fresh.scaleBars) != barsBefore)
        changed = true;
    if (databases != nullptr && databases->scaleBarDatabase.GetSize() != databaseBars)
        changed = true;

    // The oldest format names the sets' coordinate files.
    for (const CLegacyPointSetEntry& entry : legacy) {
        CFilePath path = entry.path;
        if (!IsFile(path)) {
            path = projectFolder + "/" + path.GetFileName();
            changed = true;
            if (!IsFile(path)) {
                CDynString warning;
                warning.Format("Warning: %s not in Project Directory", path.GetText());
                AfxMessageBox(warning.GetText(), MB_OK);
                continue;
            }
        }
        CPointSet* set = fresh.pointSets.AddNew();
        set->name = path;
        set->isDriver = entry.isDriver;
        set->isControl = entry.isControl;
        set->isEODevice = entry.isEODevice;
        set->Load(path.GetText());
    }

    // Before the EO device had its own record it was a flagged point set.
    if (version < 7) {
        for (int i = 0; i < fresh.pointSets.GetSize(); ++i) {
            CPointSet* set = fresh.pointSets.GetAt(i);
            if (set != nullptr && set->isEODevice) {
                fresh.eoDevice.CopyFrom(*set);
                fresh.pointSets.RemoveAt(i, 1);
                break;
            }
        }
    }

    CDynString unit = fresh.GetUnitName(false);
    if (unit != fresh.eoDevice.unit) {
        fresh.eoDevice.unit = unit;
        changed = true;
    }
    return changed;
}

// Moves the data a load read into the document without copying it; what the
// file does not hold is the fresh document's default.
void TakeLoadedData(CProjectDocument& doc, CProjectDocument& fresh)
{
    doc.fileVersion = fresh.fileVersion;
    doc.imagePtrs.RemoveAll(); // pointed into the old images
    // The collections change hands; the old ones leave with fresh.
    doc.images.SwapElements(fresh.images);
    doc.cameras.SwapElements(fresh.cameras);
    doc.pointSets.SwapElements(fresh.pointSets);
    doc.pointSets.SetDocument(&doc);
    doc.eoDevice = fresh.eoDevice;
    doc.scaleBars.SwapElements(fresh.scaleBars);
    doc.settings = fresh.settings;
    doc.summary.Reset();

    static_cast<CProjectPreferences&>(doc) = fresh;
}

// The project itself was read or saved; only its settings file failed.
void WarnAboutPreferencesFile(const char* what, const char* projectPath, const std::string& error)
{
    CDynString warning;
    warning.Format("The settings file %s could not be %s: %s", PreferencesFilePath(projectPath).c_str(), what,
                   error.c_str());
    AfxMessageBox(warning.GetText(), MB_OK | MB_ICONWARNING);
}

CProjectFileResult SaveFile(CProjectDocument& doc, const char* path)
{
    CProjectFileResult result;
    CFilePath absolute = AbsolutePath(path);
    doc.fileVersion = PROJECT_FILE_VERSION;
    doc.eoDevice.CompletePath(absolute.GetFolder());

    CBinArchive ar(absolute.GetText(), std::ios::out);
    if (ar.fail()) {
        result.message = FormatMessage("Cannot save the project to %s: %s", path, ar.GetFileError().c_str());
        return result;
    }
    const bool stored = WriteProjectArchive(ar, doc, GetCentroidSettings());
    if (!stored)
        ar.setstate(std::ios::badbit);
    ar.close();
    if (!stored || ar.fail()) {
        const std::string& why = ar.GetFileError();
        result.message = FormatMessage("Cannot save the project to %s: %s", path,
                                       why.empty() ? "the project could not be stored" : why.c_str());
        return result;
    }
    result.ok = true;
    return result;
}

CProjectFileResult LoadFile(CProjectDocument& doc, const char* path)
{
    CProjectFileResult result;
    CFilePath absolute = AbsolutePath(path);
    CBinArchive ar(absolute.GetText(), std::ios::in);
    if (ar.fail()) {
        result.message = FormatMessage("Cannot open the project file %s: %s", path, ar.GetFileError().c_str());
        return result;
    }

    auto fresh = std::make_unique<CProjectDocument>();
    CCentroidSettings centroid = GetCentroidSettings();
    std::vector<CLegacyPointSetEntry> legacy;
    int version = 0;
    CDynString reason;
    if (!ReadProjectArchive(ar, *fresh, centroid, legacy, version, reason)) {
        result.message = FormatMessage("The project file %s cannot be loaded: %s", path, reason.GetText());
        return result;
    }
    ar.close();

    result.changedByLoad = FinishLoad(*fresh, absolute, version, legacy);
    fresh->fileVersion = version;
    TakeLoadedData(doc, *fresh);
    GetCentroidSettings() = centroid;
    result.ok = true;
    return result;
}

} // namespace

CProjectFileResult ReadWriteProjectFile(CProjectDocument& doc, const char* path, int mode)
{
    if (path == nullptr || *path == '\0') {
        CProjectFileResult result;
        result.message = "No project file name";
        return result;
    }
    return mode == PROJECT_FILE_SAVE ? SaveFile(doc, path) : LoadFile(doc, path);
}

CProjectFileResult OpenProjectDocument(CProjectDocument& doc, const char* path)
{
    CProjectFileResult result = ReadWriteProjectFile(doc, path, PROJECT_FILE_LOAD);
    if (!result.ok) {
        AfxMessageBox(result.message.GetText(), MB_OK | MB_ICONSTOP);
        return result;
    }
    // The database cameras of the project's cameras take their calibration modes.
    if (CProfileDatabases* databases = GetAppDatabases()) {
        for (int i = 0; i < doc.cameras.GetSize(); ++i) {
            const CCamera* camera = doc.cameras.GetAt(i);
            for (int k = 0; k < databases->cameraDatabase.GetSize(); ++k) {
                CCamera* record = databases->cameraDatabase.GetAt(k);
                if (camera != nullptr && record != nullptr && record->identifier == camera->identifier)
                    record->calibrationMode = camera->calibrationMode;
            }
        }
    }
    doc.settings.SetProjectPath(path);
    // The settings the project file has no place for; a missing file leaves
    // the defaults the load gave them.
    std::string error;
    if (!ReadPreferencesFile(AbsolutePath(path).GetText(), doc, error))
        WarnAboutPreferencesFile("read", path, error);
    return result;
}

CProjectFileResult SaveProjectDocument(CProjectDocument& doc, const char* path)
{
    SetStatusText("Saving Project");
    doc.settings.SetProjectPath(path);
    CProjectFileResult result = ReadWriteProjectFile(doc, path, PROJECT_FILE_SAVE);
    SetStatusText(""); // the save is over, whatever its outcome
    if (!result.ok) {
        AfxMessageBox(result.message.GetText(), MB_OK | MB_ICONSTOP);
        return result;
    }
    std::string error;
    if (!WritePreferencesFile(AbsolutePath(path).GetText(), doc, error))
        WarnAboutPreferencesFile("written", path, error);
    doc.SetModifiedFlag(false);
    return result;
}

ProjectFileWriteFunction SetProjectFileWriteFunction(ProjectFileWriteFunction function)
{
    return SetFileWriteFunction(std::move(function));
}

CProjectFileResult CProjectDocument::ReadWriteProjectFile(const char* path, int mode)
{
    return ::ReadWriteProjectFile(*this, path, mode);
}

CProjectFileResult CProjectDocument::OnOpenDocument(const char* path)
{
    return OpenProjectDocument(*this, path);
}

CProjectFileResult CProjectDocument::OnSaveDocument(const char* path)
{
    return SaveProjectDocument(*this, path);
}
