#include "TextFile.h"

#include "DynString.h"
#include "FileIO.h"

#include <cstring>

CTextFile::LineEndBuffer::int_type CTextFile::LineEndBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    char ch = traits_type::to_char_type(c);
    if (ch == '\n' && traits_type::eq_int_type(target->sputc('\r'), traits_type::eof()))
        return traits_type::eof();
    if (traits_type::eq_int_type(target->sputc(ch), traits_type::eof()))
        return traits_type::eof();
    return c;
}

std::streamsize CTextFile::LineEndBuffer::xsputn(const char* s, std::streamsize n)
{
    std::streamsize done = 0;
    while (done < n) {
        const void* found = std::memchr(s + done, '\n', static_cast<std::size_t>(n - done));
        std::streamsize run = found != nullptr ? static_cast<const char*>(found) - (s + done) : n - done;
        if (run > 0) {
            std::streamsize put = target->sputn(s + done, run);
            done += put;
            if (put != run)
                return done;
        }
        if (found != nullptr) {
            if (target->sputn("\r\n", 2) != 2)
                return done;
            ++done;
        }
    }
    return done;
}

int CTextFile::LineEndBuffer::sync()
{
    return target->pubsync();
}

CTextFile::CTextFile(const char* path, std::ios::openmode openMode)
    : std::basic_ostream<char>(nullptr), mode(openMode), file(new CAtomicFileBuffer()), lineEnds(file.get())
{
    if (path == nullptr) {
        setstate(std::ios::failbit);
        return;
    }
    if (!file->Open(path)) {
        fileError = file->GetError();
        setstate(std::ios::failbit);
        return;
    }
    std::basic_ios<char>::rdbuf(&lineEnds);
}

CTextFile::~CTextFile()
{
    if (fail())
        Discard();
    else
        close();
}

void CTextFile::close()
{
    if (!file->IsOpen())
        return;
    if (fail()) {
        Discard();
        return;
    }
    if (!file->Close()) {
        fileError = file->GetError();
        setstate(std::ios::failbit);
    }
}

void CTextFile::Discard()
{
    if (fileError.empty())
        fileError = file->GetError();
    file->Discard();
}

bool CTextFile::is_open() const
{
    return file->IsOpen();
}

bool CTextFile::WriteLine(const CDynString& text)
{
    const char* bytes = text.GetText();
    if (bytes != nullptr)
        write(bytes, static_cast<std::streamsize>(std::strlen(bytes)));
    put('\n');
    return true;
}

bool CTextFile::WriteLine(const char* text)
{
    return WriteLine(CDynString(text));
}
