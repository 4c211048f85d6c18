#include "TempFiles.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

std::string GetTempFolder()
{
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : P_tmpdir;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

int CreateNewFile(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

std::string CreateUniqueFile(const std::string& folder, const char* prefix)
{
    std::string pattern = folder + "/" + (prefix ? prefix : "") + "XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return std::string();
    ::close(fd);
    return pattern;
}
