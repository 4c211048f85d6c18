// Output file of reports and exported text files. Every "\n" that reaches it,
// through WriteLine or the stream operators, lands on disk as CR LF. The text
// goes to a new file that replaces the old one when the file is closed, and
// only when every byte reached it.
#pragma once

#include <ios>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

class CAtomicFileBuffer;
class CDynString;

class CTextFile : public std::basic_ostream<char> {
public:
    // Opens the file (callers pass std::ios::out: the text replaces the
    // file's). A file that cannot be made leaves the stream failed.
    CTextFile(const char* path, std::ios::openmode mode);
    // Closes the file unless a write failed; then the old file stays.
    ~CTextFile() override;

    // Puts the text in place of the old file; the stream fails when that or
    // an earlier write did not work (the old file then stays).
    void close();
    // Drops the text; the old file stays.
    void Discard();
    bool is_open() const;
    // Why the file could not be made or written; empty otherwise.
    const std::string& GetFileError() const { return fileError; }

    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    std::ios::openmode GetMode() const { return mode; }

    // The buffer that turns "\n" into CR LF on its way to the file.
    std::streambuf* rdbuf() const { return std::basic_ios<char>::rdbuf(); }

    // Writes the text and a line end; always true.
    bool WriteLine(const CDynString& text);
    bool WriteLine(const char* text);

private:
    // Passes output on to the file, each "\n" as "\r\n".
    class LineEndBuffer : public std::streambuf {
    public:
        explicit LineEndBuffer(std::streambuf* target) : target(target) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int sync() override;

    private:
        std::streambuf* target;
    };

    std::ios::openmode mode;
    std::unique_ptr<CAtomicFileBuffer> file;
    LineEndBuffer lineEnds;
    std::string fileError;
};
