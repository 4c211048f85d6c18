// The project file (".kst"): one whole project in one versioned archive.
// Version 13 is written; versions 0 to 13 are read.
//
// Loading parses the whole file into a fresh document first and changes the
// caller's document only when that succeeded, so a damaged file never leaves
// a half-loaded project behind. Saving writes a new file in the same folder
// and renames it over the old file only when every byte reached it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "DynString.h"

class CBinArchive;
class CProjectDocument;
struct CCentroidSettings;

enum : int {
    PROJECT_FILE_LOAD = 0,
    PROJECT_FILE_SAVE = 1,
    PROJECT_FILE_VERSION = 13,
};

// The 22 characters a file of version 1 and later begins with.
extern const char kProjectFileHeader[];
constexpr int kProjectFileHeaderLength = 22;

// What a read or write of the project file did.
struct CProjectFileResult {
    bool ok = false;
    // After a load: the loaded data differs from what the file holds (point
    // sets re-homed to the project's folder, scale bars replaced by or added
    // to the database, the EO device's unit set to the project's unit).
    bool changedByLoad = false;
    // Why the operation failed; empty on success.
    CDynString message;
};

// A point set of the oldest file format (versions 0 and 1): its coordinate
// file and role flags, read from the file before the sets are loaded.
struct CLegacyPointSetEntry {
    CDynString path;
    bool isDriver = false;
    bool isControl = false;
    bool isEODevice = false;
};

// Saves (mode PROJECT_FILE_SAVE) or loads (PROJECT_FILE_LOAD) the document's
// project file at path. Shows no message itself (but the warning about a
// missing coordinate file of an old project); the result says what happened.
CProjectFileResult ReadWriteProjectFile(CProjectDocument& doc, const char* path, int mode);

// What opening and saving a project do to the document's data. They show the
// result's message in a stop box when they fail. Opening also gives the
// database cameras of the project's camera identifiers the project cameras'
// calibration modes and sets the settings' project path; saving sets that
// path first and marks the document clean afterwards.
CProjectFileResult OpenProjectDocument(CProjectDocument& doc, const char* path);
CProjectFileResult SaveProjectDocument(CProjectDocument& doc, const char* path);

// The archive body without any file handling, for tests and the fuzzer.
// Writing stores the document as it is (path fields turned to '\').
bool WriteProjectArchive(CBinArchive& ar, CProjectDocument& doc, const CCentroidSettings& centroid);
// Reading fills doc, which must be freshly constructed, and centroid; the
// old-format point sets of versions 0 and 1 are listed in legacy, not
// loaded. Touches no file and asks nothing. False with a message when the
// file is damaged, truncated, holds impossible counts or values, or is of a
// version this program does not know.
bool ReadProjectArchive(CBinArchive& ar, CProjectDocument& doc, CCentroidSettings& centroid,
                        std::vector<CLegacyPointSetEntry>& legacy, int& fileVersion, CDynString& message);

// Replaces the write function of every file writer (null: the system's
// write); see SetFileWriteFunction. Returns the previous one.
using ProjectFileWriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
ProjectFileWriteFunction SetProjectFileWriteFunction(ProjectFileWriteFunction function);
