// The one way files are written and read.
//
// Writing: CAtomicFile makes a new file beside the target under a unique
// name, checks every write, syncs it to disk, checks the close and renames it
// over the target. On any failure the new file is removed, the target stays
// as it was and the system's error text says why. A target that is a
// symbolic link is resolved once and the link stays; a target that exists and
// is not a regular file is refused.
//
// Reading: CFileInput refuses anything that is not a regular file before it
// opens it, opens without blocking, checks the opened file again and caps its
// size. It knows the file's size and its own position, so asking for the bytes
// left costs no system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <streambuf>
#include <string>
#include <sys/types.h>
#include <vector>

// Ignores SIGXFSZ, so a file-size limit is an ordinary write error. Every
// program entry calls it; it also runs when the program starts.
void InitPlatformFiles();

// Replaces the write function every file writer uses (null: the system's).
// Tests simulate a full disk with it. Returns the previous one.
using FileWriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
FileWriteFunction SetFileWriteFunction(FileWriteFunction function);

// The system's text for an error number.
std::string SystemErrorText(int error);

// Physical memory of the machine in bytes; 0 when unknown.
double GetPhysicalMemoryBytes();

class CAtomicFile {
public:
    CAtomicFile() = default;
    // Removes the new file when it was not committed.
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Creates the new file beside the target. False with the error text when
    // the target is not a regular file or no file can be made there.
    bool Open(const std::string& target);
    // Appends bytes; false (and every later call false) on a failed write.
    bool Write(const void* data, std::size_t size);
    // Syncs, closes and renames over the target. False, target untouched and
    // the new file removed, when this or an earlier step failed. Without
    // replace, an entry that has appeared at the target is left alone and the
    // commit fails.
    bool Commit(bool replace = true);
    // Removes the new file; the target stays as it was.
    void Discard();

    bool IsOpen() const { return fd >= 0; }
    bool Failed() const { return failed; }
    // The error text of the first failure; empty while all went well.
    const std::string& GetError() const { return error; }

private:
    bool Fail(int number);

    std::string target; // the path renamed over (links resolved)
    std::string temp;
    std::string error;
    int fd = -1;
    bool failed = false;
};

// Writes the whole file through CAtomicFile; error gets the reason of a failure.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string& error);

// Creates a new, empty regular file. Anything already there under that name
// (a file, a folder, even a dangling link) is left alone and refused. False
// with the reason in error.
bool CreateNewFile(const std::string& path, std::string& error);

// Copies a regular file to a new name through CAtomicFile; an entry already
// at the new name is never replaced. False with the reason in error.
bool CopyRegularFile(const std::string& from, const std::string& to, std::string& error);

// Gives a regular file a new name in one step. With replace, a regular file
// at the new name is replaced at once (a link there is resolved and stays);
// without it, or when the entry there is no regular file, an existing entry
// is refused. On failure both names stay as they were and error says why.
bool RenameRegularFile(const std::string& from, const std::string& to, bool replace, std::string& error);

// An output buffer over a CAtomicFile: collects about 64 KiB, then writes.
// Close commits; a buffer destroyed without Close commits too, unless a
// write failed or Discard was called.
class CAtomicFileBuffer : public std::streambuf {
public:
    CAtomicFileBuffer();
    ~CAtomicFileBuffer() override;

    bool Open(const std::string& target);
    bool IsOpen() const { return file.IsOpen(); }
    // Copies count bytes when the buffer has room for them; false, nothing
    // put, otherwise. The quick path of writers that put many small items.
    bool PutBuffered(const void* source, std::size_t count)
    {
        if (static_cast<std::size_t>(epptr() - pptr()) < count)
            return false;
        std::memcpy(pptr(), source, count);
        pbump(static_cast<int>(count));
        return true;
    }
    // Writes what is left and commits; false when any step failed.
    bool Close();
    void Discard();
    const std::string& GetError() const { return file.GetError(); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool Drain();

    CAtomicFile file;
    std::vector<char> buffer;
};

// A read-only buffer over a regular file.
class CFileInput : public std::streambuf {
public:
    static constexpr std::uint64_t kNoLimit = ~std::uint64_t(0);

    CFileInput();
    ~CFileInput() override;
    CFileInput(const CFileInput&) = delete;
    CFileInput& operator=(const CFileInput&) = delete;

    // False with a message when the path is no regular file (a folder, pipe,
    // device or socket is refused before it is opened), cannot be opened, or
    // holds more than maxBytes.
    bool Open(const std::string& path, std::uint64_t maxBytes = kNoLimit);
    void Close();
    bool IsOpen() const { return fd >= 0; }
    // The size taken when the file was opened; later growth is not read.
    std::uint64_t Size() const { return size; }
    // True after a read error (the data then ended early).
    bool Failed() const { return failed; }
    // Copies count bytes when the buffer already holds them; false, nothing
    // taken, otherwise. The quick path of readers that take many small items.
    bool TakeBuffered(void* target, std::size_t count)
    {
        if (static_cast<std::size_t>(egptr() - gptr()) < count)
            return false;
        std::memcpy(target, gptr(), count);
        gbump(static_cast<int>(count));
        return true;
    }
    const std::string& GetError() const { return error; }

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize showmanyc() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    std::uint64_t Position() const;
    bool ReadAt(std::uint64_t offset, char* target, std::size_t count, std::size_t& got);

    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t bufferStart = 0; // file offset of the buffer's first byte
    std::vector<char> buffer;
    std::string error;
    bool failed = false;
};

// Opens a regular file of at most maxBytes for reading, without blocking on
// anything else (a pipe, device, folder or socket is refused at once). The
// descriptor, or -1 with the reason in error. fileSize gets the size.
int OpenRegularFileForReading(const std::string& path, std::uint64_t maxBytes, std::string& error,
                              std::uint64_t* fileSize = nullptr);
// The same as a stdio stream ("rb"); null with the reason in error.
std::FILE* OpenRegularFileStream(const std::string& path, std::uint64_t maxBytes, std::string& error,
                                 std::uint64_t* fileSize = nullptr);
// Closes a descriptor that no library took over.
void CloseFileDescriptor(int fd);

// Reads a whole regular file of at most maxBytes; as CFileInput::Open.
bool ReadRegularFile(const std::string& path, std::string& bytes, std::uint64_t maxBytes, std::string& error);
