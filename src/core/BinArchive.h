// Typed binary archive over a file or a buffer: the project file and every
// record's Serialize go through it. Each primitive has a fixed little-endian
// layout with no tags, padding or alignment:
//   double  8 bytes IEEE 754        int     4 bytes two's complement
//   byte    1 byte                  string  int32 byte count, then the bytes
//   name    int32 byte count, then the bytes (validated as a label)
//
// Reads never trust the file: a read past the end fails the stream and
// leaves its target unchanged; a count or length that is negative or larger
// than the bytes left fails the stream before anything is allocated. Once the
// stream has failed, every later read does nothing.
#pragma once

#include <cstdint>
#include <ios>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

class CAtomicFileBuffer;
class CDynString;
class CFileInput;
class CNameBuffer;

class CBinArchive : public std::basic_iostream<char> {
public:
    // Opens the file. Loading: std::ios::in (only a regular file is read);
    // storing: std::ios::out (a new file that replaces the old one when the
    // archive is closed, and only when every byte reached it). A file that
    // cannot be opened leaves the stream failed.
    CBinArchive(const char* path, std::ios::openmode mode);

    // An archive over a buffer the caller owns and keeps alive (a
    // std::stringbuf for archives in memory). Loading needs a seekable buffer;
    // reading starts at the buffer's current position.
    CBinArchive(std::streambuf* buffer, std::ios::openmode mode);

    // No file yet: the base of readers that open their file themselves
    // (with Open) and do not use IsStoring.
    CBinArchive();

    ~CBinArchive() override;

    CBinArchive(const CBinArchive&) = delete;
    CBinArchive& operator=(const CBinArchive&) = delete;

    // Opens a file on an archive made without one; as the constructor.
    bool Open(const char* path, std::ios::openmode mode);
    // Ends the file: a stored file replaces the old one here (the stream
    // fails when that did not work). The destructor closes too.
    void close();
    bool is_open() const;
    // Why the file could not be opened or written; empty otherwise.
    const std::string& GetFileError() const { return fileError; }

    // True when the archive was opened without std::ios::in.
    bool IsStoring() const { return (mode & std::ios::in) == 0; }
    std::ios::openmode GetMode() const { return mode; }

    // The buffer the archive reads and writes (the file's, or the one given).
    std::streambuf* rdbuf() const { return std::basic_ios<char>::rdbuf(); }

    CBinArchive& WriteDouble(double value);
    CBinArchive& WriteInt(std::int32_t value);
    CBinArchive& WriteByte(unsigned char value);
    CBinArchive& WriteString(const CDynString& text);
    CBinArchive& WriteName(const CNameBuffer& name);

    CBinArchive& ReadDouble(double& value);
    CBinArchive& ReadInt(std::int32_t& value);
    CBinArchive& ReadByte(unsigned char& value);
    CBinArchive& ReadByte(char& value);
    // Reads one byte; the flag becomes true when it is not zero.
    CBinArchive& ReadBool(bool& value);
    // A bad count gives the empty text and fails the stream.
    CBinArchive& ReadString(CDynString& text);
    // The text passes the label's validation: it is upper-cased, and a text
    // that is too long or holds a character a label may not leaves the label
    // as it was. A bad count gives the empty label and fails the stream.
    CBinArchive& ReadName(CNameBuffer& name);

    // Bytes between the read position and the end of the data; 0 when the
    // stream has failed or the end is unknown.
    std::int64_t RemainingBytes();

    // For readers of collections: call with a count just read from the file
    // and the least number of bytes one element occupies in the file (at
    // least 1 is assumed) before allocating anything for the elements. True
    // when the count is not negative and that many elements fit in the bytes
    // left; otherwise the stream is failed and the result is false. Also
    // false on a stream that has already failed.
    bool CheckCount(std::int64_t count, std::int64_t elementSize);

private:
    bool ReadBytes(void* target, std::size_t count);
    bool ReadLength(std::int32_t& length);
    void WriteBytes(const void* source, std::size_t count);
    void ResetEnd();

    std::ios::openmode mode;
    std::unique_ptr<CFileInput> input;
    std::unique_ptr<CAtomicFileBuffer> output;
    std::string fileError;
    std::int64_t dataEnd = -1; // offset of the end of the data, -1 when not known
};
