// A path that walks the entries of one folder matching an extension: after
// each successful FindFirst or FindNext the path is folder + the entry's name.
// Entries come sorted by name, case-insensitively; matching folders are included.
#pragma once

#include "FilePath.h"

#include "FileSystem.h"

class CDirSearch : public CFilePath {
public:
    CDirSearch() = default;
    CDirSearch(const char* path) : CFilePath(path) {}
    ~CDirSearch() override = default;

    // Assigning a path text keeps an open search.
    CDirSearch& operator=(const char* path)
    {
        Assign(path);
        return *this;
    }
    CDirSearch& operator=(const CDynString& path)
    {
        Assign(path.GetText());
        return *this;
    }

    // Starts a search of folder for "*." + extension (closing an open one).
    // False for an empty folder, a folder that cannot be read, or no match.
    bool FindFirst(CDynString folder, CDynString extension);
    // The next entry, in the folder of the current path. At the end of the
    // list the search is closed and the result is false.
    bool FindNext();
    bool IsSearchOpen() const { return search.IsOpen(); }

    // Moves the path into the program's profile folder (which stands for the
    // Windows directory). False, path unchanged, when it cannot be had.
    bool SetWindowsFolder();
    // True when a file or folder of this path exists; false for "".
    bool Exists() const;

private:
    CFolderSearch search;
};
