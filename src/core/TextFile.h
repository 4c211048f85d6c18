// Output file of reports and exported text files. Every "\n" that reaches it,
// through WriteLine or the stream operators, lands on disk as CR LF.
#pragma once

#include <fstream>
#include <ios>
#include <streambuf>

class CDynString;

class CTextFile : public std::basic_fstream<char> {
public:
    // Opens the file (callers pass std::ios::out: created or truncated).
    // A file that cannot be opened leaves the stream failed.
    CTextFile(const char* path, std::ios::openmode mode);
    ~CTextFile() override;

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
    LineEndBuffer lineEnds;
};
