// The file every text report is written through, and the date line of the
// report headers.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <memory>
#include <string>

#include "DynString.h"
#include "FilePath.h"

class CTextFile;

// One report file. Lines are collected in a block and written in blocks of
// about 64 KiB into a new file beside the report; Commit puts it in place of
// the report, so a report that cannot be written completely leaves the
// last good one in place. Every "\n" lands on disk as CR LF.
class CReportFile {
public:
    static constexpr size_t kBlockSize = 64 * 1024;

    CReportFile();
    // Removes the temporary file of a report that was not committed.
    ~CReportFile();
    CReportFile(const CReportFile&) = delete;
    CReportFile& operator=(const CReportFile&) = delete;

    // Starts the report `name` in the folder of the project file. False,
    // nothing created, when the path names no folder (a project never saved),
    // when an existing report cannot be written or is not a file, or when no
    // new file can be made in the folder.
    bool Open(const CFilePath& projectPath, const char* name);

    // The text as it stands, without a line end.
    void Text(const char* text);
    void Text(const CDynString& text) { Text(text.GetText()); }
    // The text and a line end.
    void Line(const char* text);
    void Line(const CDynString& text) { Line(text.GetText()); }
    // Formatted through CDynString::Format, then a line end.
    void LineFormat(const char* format, ...);
    // count empty lines (further line ends).
    void Blank(int count = 1);

    // Writes what is left, closes the file and puts it in place of the
    // report. False (temporary file removed, old report untouched) when
    // any write failed.
    bool Commit();

    const std::string& GetPath() const { return path; }
    // Why Open or Commit failed; empty while all went well. After a failed
    // Open, GetPath is empty when the project has no folder.
    const std::string& GetError() const { return error; }
    // "The report <path> could not be written: <reason>." for a failed Open
    // or Commit of the report name.
    std::string FailureText(const char* name) const;

    // The report's path: the folder of the project path, '/', the name.
    // False when the project path has no folder part.
    static bool MakePath(const CFilePath& projectPath, const char* name, std::string& out);

private:
    void WriteBlock();
    void Discard();

    std::string block;
    std::string path;
    std::string error;
    std::unique_ptr<CTextFile> file;
    bool failed = false;
};

// Date line of the report headers, "%d %B, %Y   %X" in the C locale.
CDynString ReportDate();
