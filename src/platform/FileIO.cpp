#include "FileIO.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::mutex writeFunctionLock;
FileWriteFunction writeFunction;

// Runs when the program starts, so tests and tools get it as well.
const bool platformFilesReady = (InitPlatformFiles(), true);

constexpr std::size_t kBufferSize = 64 * 1024;
// Longest part of the target's name kept in the temporary file's name.
constexpr std::size_t kMaxTempStem = 200;

// Why a path that exists is not a file to read or replace.
const char* KindText(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a folder, not a file";
    if (S_ISFIFO(mode))
        return "it is a pipe, not a file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a file";
    return "it is not a regular file";
}

// Follows the symbolic links of the last path component; the folder parts
// are followed by the system.
bool ResolveLinks(const std::string& path, std::string& resolved, int& number)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            resolved = current;
            return true;
        }
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size() - 1);
        if (n < 0) {
            number = errno;
            return false;
        }
        std::string target(link.data(), static_cast<std::size_t>(n));
        if (target.empty()) {
            number = ENOENT;
            return false;
        }
        if (target[0] != '/') {
            const std::size_t slash = current.rfind('/');
            if (slash != std::string::npos)
                target = current.substr(0, slash + 1) + target;
        }
        current = target;
    }
    number = ELOOP;
    return false;
}

ssize_t WriteSome(int fd, const void* data, std::size_t size)
{
    FileWriteFunction hook;
    {
        std::lock_guard<std::mutex> guard(writeFunctionLock);
        hook = writeFunction;
    }
    return hook ? hook(fd, data, size) : ::write(fd, data, size);
}

void SyncFolder(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

} // namespace

void InitPlatformFiles()
{
    (void)platformFilesReady;
    std::signal(SIGXFSZ, SIG_IGN);
}

FileWriteFunction SetFileWriteFunction(FileWriteFunction function)
{
    std::lock_guard<std::mutex> guard(writeFunctionLock);
    FileWriteFunction previous = std::move(writeFunction);
    writeFunction = std::move(function);
    return previous;
}

std::string SystemErrorText(int error)
{
    return std::generic_category().message(error);
}

double GetPhysicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize) : 0.0;
}

// ---------------------------------------------------------------- writing

CAtomicFile::~CAtomicFile()
{
    Discard();
}

bool CAtomicFile::Fail(int number)
{
    if (!failed) {
        failed = true;
        error = SystemErrorText(number);
    }
    return false;
}

bool CAtomicFile::Open(const std::string& path)
{
    Discard();
    failed = false;
    error.clear();
    int number = 0;
    if (path.empty())
        return Fail(ENOENT);
    if (!ResolveLinks(path, target, number))
        return Fail(number);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        return Fail(EISDIR);

    struct stat old;
    bool hasOld = false;
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            failed = true;
            error = KindText(old.st_mode);
            return false;
        }
        hasOld = true;
    } else if (errno != ENOENT) {
        return Fail(errno);
    }

    static std::atomic<unsigned> counter{0};
    const std::string base =
        target.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." + name.substr(0, kMaxTempStem);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    hasOld ? 0600 : 0666);
        if (fd >= 0) {
            temp = std::move(candidate);
            break;
        }
        if (errno != EEXIST)
            return Fail(errno);
    }
    if (fd < 0)
        return Fail(EEXIST);
    // The new file takes the old one's permissions.
    if (hasOld && ::fchmod(fd, old.st_mode & 07777) != 0) {
        const int e = errno;
        Discard();
        return Fail(e);
    }
    return true;
}

bool CAtomicFile::Write(const void* data, std::size_t size)
{
    if (fd < 0 || failed)
        return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = WriteSome(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        if (written == 0)
            return Fail(ENOSPC);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool CAtomicFile::Commit(bool replace)
{
    if (fd < 0) {
        if (!failed)
            Fail(EBADF);
        return false;
    }
    if (!failed && ::fsync(fd) != 0)
        Fail(errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
        Fail(errno);
    if (!failed) {
        const int renamed = replace ? ::rename(temp.c_str(), target.c_str())
                                    : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (renamed != 0)
            Fail(errno);
    }
    if (failed) {
        ::unlink(temp.c_str());
        temp.clear();
        return false;
    }
    temp.clear();
    SyncFolder(target);
    return true;
}

void CAtomicFile::Discard()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temp.empty()) {
        ::unlink(temp.c_str());
        temp.clear();
    }
}

bool CreateNewFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    if (::close(fd) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    return true;
}

bool RenameRegularFile(const std::string& from, const std::string& to, bool replace, std::string& error)
{
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISLNK(st.st_mode) ? "it is a link, not a file" : KindText(st.st_mode);
        return false;
    }
    int number = 0;
    std::string target;
    if (!ResolveLinks(to, target, number)) {
        error = SystemErrorText(number);
        return false;
    }
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            error = KindText(st.st_mode);
            return false;
        }
        if (!replace) {
            error = SystemErrorText(EEXIST);
            return false;
        }
        if (::rename(from.c_str(), target.c_str()) != 0) {
            error = SystemErrorText(errno);
            return false;
        }
        return true;
    }
    // Nothing there: a name taken meanwhile is not replaced.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    return true;
}

bool CopyRegularFile(const std::string& from, const std::string& to, std::string& error)
{
    CFileInput in;
    if (!in.Open(from)) {
        error = in.GetError();
        return false;
    }
    CAtomicFile out;
    if (!out.Open(to)) {
        error = out.GetError();
        return false;
    }
    std::vector<char> chunk(kBufferSize);
    for (;;) {
        const std::streamsize n = in.sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (n <= 0 || !out.Write(chunk.data(), static_cast<std::size_t>(n)))
            break;
    }
    if (in.Failed()) {
        error = in.GetError().empty() ? SystemErrorText(EIO) : in.GetError();
        return false;
    }
    if (!out.Commit(false)) {
        error = out.GetError();
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string& error)
{
    CAtomicFile file;
    const bool ok = file.Open(path) && file.Write(data, size) && file.Commit();
    error = ok ? std::string() : file.GetError();
    return ok;
}

CAtomicFileBuffer::CAtomicFileBuffer() = default;

CAtomicFileBuffer::~CAtomicFileBuffer()
{
    if (file.IsOpen() && !file.Failed())
        Close();
}

bool CAtomicFileBuffer::Open(const std::string& target)
{
    buffer.assign(kBufferSize, '\0');
    setp(buffer.data(), buffer.data() + buffer.size());
    return file.Open(target);
}

bool CAtomicFileBuffer::Drain()
{
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    const bool ok = n == 0 || file.Write(pbase(), n);
    setp(buffer.data(), buffer.data() + buffer.size());
    return ok;
}

bool CAtomicFileBuffer::Close()
{
    if (!file.IsOpen())
        return false;
    Drain();
    setp(nullptr, nullptr);
    return file.Commit();
}

void CAtomicFileBuffer::Discard()
{
    setp(nullptr, nullptr);
    file.Discard();
}

CAtomicFileBuffer::int_type CAtomicFileBuffer::overflow(int_type c)
{
    if (!file.IsOpen() || file.Failed() || !Drain())
        return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize CAtomicFileBuffer::xsputn(const char* s, std::streamsize n)
{
    if (!file.IsOpen() || file.Failed())
        return 0;
    const std::streamsize room = epptr() - pptr();
    if (n <= room) {
        std::memcpy(pptr(), s, static_cast<std::size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    if (!Drain())
        return 0;
    if (n >= static_cast<std::streamsize>(buffer.size()))
        return file.Write(s, static_cast<std::size_t>(n)) ? n : 0;
    std::memcpy(pptr(), s, static_cast<std::size_t>(n));
    pbump(static_cast<int>(n));
    return n;
}

int CAtomicFileBuffer::sync()
{
    return file.IsOpen() && !file.Failed() && Drain() ? 0 : -1;
}

// ---------------------------------------------------------------- reading

CFileInput::CFileInput() = default;

CFileInput::~CFileInput()
{
    Close();
}

int OpenRegularFileForReading(const std::string& path, std::uint64_t maxBytes, std::string& error,
                              std::uint64_t* fileSize)
{
    error.clear();
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        error = SystemErrorText(path.empty() ? ENOENT : errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = KindText(st.st_mode);
        return -1;
    }
    // Without blocking: something swapped in since the look above (a pipe)
    // must not hold the open up.
    const int opened = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        error = SystemErrorText(errno);
        return -1;
    }
    if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = KindText(st.st_mode);
        ::close(opened);
        return -1;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        error = "the file is too large";
        ::close(opened);
        return -1;
    }
    if (fileSize != nullptr)
        *fileSize = static_cast<std::uint64_t>(st.st_size);
    return opened;
}

std::FILE* OpenRegularFileStream(const std::string& path, std::uint64_t maxBytes, std::string& error,
                                 std::uint64_t* fileSize)
{
    const int opened = OpenRegularFileForReading(path, maxBytes, error, fileSize);
    if (opened < 0)
        return nullptr;
    std::FILE* stream = ::fdopen(opened, "rb");
    if (stream == nullptr) {
        error = SystemErrorText(errno);
        ::close(opened);
    }
    return stream;
}

void CloseFileDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

bool CFileInput::Open(const std::string& path, std::uint64_t maxBytes)
{
    Close();
    failed = false;
    std::uint64_t fileSize = 0;
    const int opened = OpenRegularFileForReading(path, maxBytes, error, &fileSize);
    if (opened < 0)
        return false;
    fd = opened;
    size = fileSize;
    bufferStart = 0;
    if (buffer.empty())
        buffer.resize(kBufferSize);
    setg(buffer.data(), buffer.data(), buffer.data());
    return true;
}

void CFileInput::Close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    size = 0;
    bufferStart = 0;
    setg(nullptr, nullptr, nullptr);
}

std::uint64_t CFileInput::Position() const
{
    return bufferStart + static_cast<std::uint64_t>(gptr() - eback());
}

bool CFileInput::ReadAt(std::uint64_t offset, char* target, std::size_t count, std::size_t& got)
{
    got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, target + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            error = SystemErrorText(errno);
            return false;
        }
        if (n == 0) {
            // The file shrank since it was opened.
            size = offset + got;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

CFileInput::int_type CFileInput::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (fd < 0 || failed)
        return traits_type::eof();
    const std::uint64_t at = Position();
    if (at >= size)
        return traits_type::eof();
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at));
    std::size_t got = 0;
    if (!ReadAt(at, buffer.data(), want, got) || got == 0)
        return traits_type::eof();
    bufferStart = at;
    setg(buffer.data(), buffer.data(), buffer.data() + got);
    return traits_type::to_int_type(*gptr());
}

std::streamsize CFileInput::xsgetn(char* s, std::streamsize n)
{
    std::streamsize done = 0;
    while (done < n) {
        std::streamsize available = egptr() - gptr();
        if (available == 0) {
            // A large read goes straight to the target.
            if (n - done >= static_cast<std::streamsize>(buffer.size()) && fd >= 0 && !failed) {
                const std::uint64_t at = Position();
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n - done),
                                                                     at < size ? size - at : 0));
                std::size_t got = 0;
                if (want == 0 || !ReadAt(at, s + done, want, got) || got == 0)
                    break;
                done += static_cast<std::streamsize>(got);
                bufferStart = at + got;
                setg(buffer.data(), buffer.data(), buffer.data());
                continue;
            }
            if (traits_type::eq_int_type(underflow(), traits_type::eof()))
                break;
            available = egptr() - gptr();
        }
        const std::streamsize take = std::min(available, n - done);
        std::memcpy(s + done, gptr(), static_cast<std::size_t>(take));
        gbump(static_cast<int>(take));
        done += take;
    }
    return done;
}

std::streamsize CFileInput::showmanyc()
{
    if (fd < 0)
        return -1;
    const std::uint64_t at = Position();
    return at < size ? static_cast<std::streamsize>(size - at) : -1;
}

CFileInput::pos_type CFileInput::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which)
{
    if (fd < 0 || !(which & std::ios_base::in))
        return pos_type(off_type(-1));
    std::int64_t base = 0;
    if (dir == std::ios_base::cur)
        base = static_cast<std::int64_t>(Position());
    else if (dir == std::ios_base::end)
        base = static_cast<std::int64_t>(size);
    if (off == 0 && dir == std::ios_base::cur)
        return pos_type(off_type(base));
    return seekpos(pos_type(off_type(base + off)), which);
}

CFileInput::pos_type CFileInput::seekpos(pos_type pos, std::ios_base::openmode which)
{
    const std::int64_t target = static_cast<std::int64_t>(off_type(pos));
    if (fd < 0 || !(which & std::ios_base::in) || target < 0 || static_cast<std::uint64_t>(target) > size)
        return pos_type(off_type(-1));
    const std::uint64_t t = static_cast<std::uint64_t>(target);
    const std::uint64_t loadedEnd = bufferStart + static_cast<std::uint64_t>(egptr() - eback());
    if (t >= bufferStart && t <= loadedEnd) {
        setg(eback(), eback() + (t - bufferStart), egptr());
    } else {
        bufferStart = t;
        setg(buffer.data(), buffer.data(), buffer.data());
    }
    return pos;
}

bool ReadRegularFile(const std::string& path, std::string& bytes, std::uint64_t maxBytes, std::string& error)
{
    CFileInput in;
    if (!in.Open(path, maxBytes)) {
        error = in.GetError();
        return false;
    }
    std::string data(static_cast<std::size_t>(in.Size()), '\0');
    const std::streamsize got = data.empty() ? 0 : in.sgetn(&data[0], static_cast<std::streamsize>(data.size()));
    if (in.Failed()) {
        error = in.GetError();
        return false;
    }
    data.resize(static_cast<std::size_t>(got));
    bytes.swap(data);
    error.clear();
    return true;
}
