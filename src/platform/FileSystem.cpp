#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Wildcard match ('*' any run, '?' one character), ASCII case-insensitive.
// Greedy with a single back-track point, so it runs in linear-times-pattern time.
bool WildcardMatch(const char* name, const char* pattern)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern && (*pattern == '?' || Lower(*pattern) == Lower(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates folder and its missing parents.
bool MakeFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    if (IsFolder(folder))
        return true;
    const size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && IsFolder(folder);
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return std::string();
}

} // namespace

bool MatchesExtensionPattern(const char* name, const char* extension)
{
    if (!name || !*name)
        return false;
    if (!extension)
        extension = "";
    if (std::strcmp(extension, "*") == 0)
        return true;
    if (!*extension)
        return std::strchr(name, '.') == nullptr;
    const std::string pattern = std::string("*.") + extension;
    return WildcardMatch(name, pattern.c_str());
}

bool FolderEntryLess(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char ca = Lower(a[i]);
        const char cb = Lower(b[i]);
        if (ca != cb)
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

bool CFolderSearch::Open(const std::string& folder, const std::string& extension, std::string& firstName)
{
    Close();
    if (folder.empty())
        return false;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (MatchesExtensionPattern(name, extension.c_str()))
            names.emplace_back(name);
    }
    ::closedir(dir);
    if (names.empty())
        return false;
    std::sort(names.begin(), names.end(), FolderEntryLess);
    open = true;
    next = 0;
    return Next(firstName);
}

bool CFolderSearch::Next(std::string& name)
{
    if (!open || next >= names.size())
        return false;
    name = names[next++];
    return true;
}

void CFolderSearch::Close()
{
    names.clear();
    next = 0;
    open = false;
}

bool FileExists(const char* path)
{
    if (!path || !*path)
        return false;
    struct stat st;
    return ::stat(path, &st) == 0;
}

bool IsRegularFile(const char* path)
{
    if (!path || !*path)
        return false;
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool GetProfileFolder(std::string& folder)
{
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        base = config;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return false;
        base = home + "/.config";
    }
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    const std::string result = base + "/kestrelon";
    if (!MakeFolders(result))
        return false;
    folder = result;
    return true;
}
