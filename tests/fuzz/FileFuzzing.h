// Scratch files of the fuzz targets that read through the real file reader:
// a folder of the process's own, emptied after every input and removed at
// exit.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

class CFuzzFolder
{
public:
    CFuzzFolder()
    {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/kestrelon-fuzz-XXXXXX";
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
