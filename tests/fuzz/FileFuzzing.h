// Scratch files of the fuzz targets that read through the real file reader:
// a folder of the process's own, emptied after every input and removed at
// exit. A run that ends by a crash, a timeout or the memory limit skips the
// removal; the next run removes the folders of processes that are gone.
// Also what every target shares: the end of an input, and whether libFuzzer
// runs it.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "Message.h"

class CFuzzFolder
{
public:
    CFuzzFolder()
    {
        const char* tmp = std::getenv("TMPDIR");
        const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
        RemoveLeftovers(base);
        std::string pattern = base + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
        if (const char* made = mkdtemp(pattern.data()))
            path = made;
    }
    ~CFuzzFolder()
    {
        std::error_code error;
        if (!path.empty())
            std::filesystem::remove_all(path, error);
    }
    CFuzzFolder(const CFuzzFolder&) = delete;
    CFuzzFolder& operator=(const CFuzzFolder&) = delete;

    bool IsMade() const { return !path.empty(); }
    std::string File(const std::string& name) const { return path + "/" + name; }
    const std::string& Path() const { return path; }

    // Removes everything in the folder, which stays.
    void Empty() const
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path, error))
            std::filesystem::remove_all(entry.path(), error);
    }

private:
    static constexpr const char* kPrefix = "kestrelon-fuzz-";

    // Removes the folders <prefix><pid>-* of processes that no longer run.
    static void RemoveLeftovers(const std::string& base)
    {
        const std::string prefix = kPrefix;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) != 0)
                continue;
            char* end = nullptr;
            const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
            if (pid <= 0 || *end != '-' || kill(pid_t(pid), 0) == 0 || errno != ESRCH)
                continue;
            std::error_code ignored;
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }

    std::string path;
};

// The one folder of the process.
inline const CFuzzFolder& FuzzFolder()
{
    static const CFuzzFolder folder;
    return folder;
}

inline bool WriteFuzzFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The file's bytes; exists is false when there is no such file.
inline std::string ReadFuzzFile(const std::string& path, bool& exists)
{
    std::ifstream in(path, std::ios::binary);
    exists = static_cast<bool>(in);
    return exists ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : std::string();
}

// Set by the targets' LLVMFuzzerInitialize, which libFuzzer calls before the
// first input and the corpus replay does not: a target that passes over
// costly inputs while fuzzing still runs them whole in the replay.
inline bool& UnderLibFuzzer()
{
    static bool fuzzing = false;
    return fuzzing;
}

// Takes the messages an input raised when it is done with, so that they do
// not pile up over a run (libFuzzer's leak check stops when the memory in
// use grows from input to input).
struct CFuzzInputEnd {
    CFuzzInputEnd() = default;
    CFuzzInputEnd(const CFuzzInputEnd&) = delete;
    CFuzzInputEnd& operator=(const CFuzzInputEnd&) = delete;
    ~CFuzzInputEnd() { TakeCapturedMessages(); }
};
