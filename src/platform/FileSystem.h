// Directory search, file status and the program's profile folder.
#pragma once

#include <string>
#include <vector>

// A search over the entries of one folder whose names match "*." + extension.
// The extension is matched case-insensitively (ASCII) and may hold the
// wildcards '*' and '?'; "*" matches every name and "" the names without a
// dot. Files and folders are both returned, "." and ".." never, sorted by name
// case-insensitively (ties by their bytes).
class CFolderSearch {
public:
    // Closes an open search, lists the folder and gives the first entry's
    // name. False when the folder cannot be read or nothing matches.
    bool Open(const std::string& folder, const std::string& extension, std::string& firstName);
    // The next entry's name; false at the end of the list or without a search.
    bool Next(std::string& name);
    void Close();
    bool IsOpen() const { return open; }

private:
    std::vector<std::string> names;
    size_t next = 0;
    bool open = false;
};

// True when name matches the pattern "*." + extension as the search does.
bool MatchesExtensionPattern(const char* name, const char* extension);

// Orders names as the search returns them: case-insensitively, then by bytes.
bool FolderEntryLess(const std::string& a, const std::string& b);

// True when a file or folder of that name exists.
bool FileExists(const char* path);
// True when a regular file (no folder, pipe or device) of that name exists.
bool IsRegularFile(const char* path);

// The folder that holds the program's profile: $XDG_CONFIG_HOME/kestrelon, or
// ~/.config/kestrelon when the variable is unset, empty or not absolute.
// The folder is created when missing. False when there is no home folder or
// it cannot be created.
bool GetProfileFolder(std::string& folder);
