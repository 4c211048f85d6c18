#include "ReportFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "DateStamp.h"
#include "FileIO.h"
#include "TextFile.h"

CDynString ReportDate()
{
    return CDateStamp::Now().Format("%d %B, %Y   %X");
}

// --- Report file ----------------------------------------------------------------

CReportFile::CReportFile() = default;

CReportFile::~CReportFile()
{
    Discard();
}

bool CReportFile::MakePath(const CFilePath& projectPath, const char* name, std::string& out)
{
    const char* text = projectPath.GetText();
    if (text == nullptr || name == nullptr || (std::strchr(text, '/') == nullptr && std::strchr(text, '\\') == nullptr))
        return false;
    out = projectPath.GetFolder().GetText();
    out += '/';
    out += name;
    return true;
}

bool CReportFile::Open(const CFilePath& projectPath, const char* name)
{
    Discard();
    failed = false;
    error.clear();
    block.clear();
    path.clear();
    if (!MakePath(projectPath, name, path)) {
        error = "the project has no folder (it was never saved)";
        return false;
    }
    // An existing report that may not be written stays as it is.
    if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0) {
        error = SystemErrorText(errno);
        return false;
    }

    file.reset(new CTextFile(path.c_str(), std::ios::out));
    if (!file->is_open() || !*file) {
        error = file->GetFileError();
        Discard();
        return false;
    }
    block.reserve(kBlockSize + 4096);
    return true;
}

void CReportFile::WriteBlock()
{
    if (!file || block.empty())
        return;
    file->write(block.data(), static_cast<std::streamsize>(block.size()));
    if (!*file)
        failed = true;
    block.clear();
}

void CReportFile::Text(const char* text)
{
    if (text != nullptr)
        block += text;
    if (block.size() >= kBlockSize)
        WriteBlock();
}

void CReportFile::Line(const char* text)
{
    if (text != nullptr)
        block += text;
    block += '\n';
    if (block.size() >= kBlockSize)
        WriteBlock();
}

void CReportFile::LineFormat(const char* format, ...)
{
    CDynString s;
    va_list args;
    va_start(args, format);
    s.AppendFormatV(format, args);
    va_end(args);
    Line(s);
}

void CReportFile::Blank(int count)
{
    for (int i = 0; i < count; ++i)
        Line("");
}

bool CReportFile::Commit()
{
    if (!file) {
        if (error.empty())
            error = "the report was not opened";
        return false;
    }
    WriteBlock();
    if (failed)
        file->Discard();
    else
        file->close();
    const bool ok = !failed && !file->fail();
    if (!ok)
        error = file->GetFileError().empty() ? SystemErrorText(EIO) : file->GetFileError();
    file.reset();
    return ok;
}

std::string CReportFile::FailureText(const char* name) const
{
    const std::string shown = path.empty() ? std::string(name != nullptr ? name : "") : path;
    return "The report " + shown + " could not be written: " + error + ".";
}

void CReportFile::Discard()
{
    if (file)
        file->Discard();
    file.reset();
}
