#include "DirSearch.h"

#include <string>

bool CDirSearch::FindFirst(CDynString folder, CDynString extension)
{
    search.Close();
    if (folder.IsEmpty())
        return false;
    EndWithSeparator(folder, '/');
    std::string name;
    if (!search.Open(folder.GetText(), extension.GetText(), name))
        return false;
    folder += name.c_str();
    Assign(folder.GetText());
    return true;
}

bool CDirSearch::FindNext()
{
    if (!search.IsOpen())
        return false;
    CDynString folder = GetFolder();
    if (folder.IsEmpty()) {
        // An entry of the root folder: its folder is the separator itself.
        if (FindLastSeparator() != 0)
            return false;
        folder = Left(1);
    }
    EndWithSeparator(folder, PreferredSeparator());
    std::string name;
    if (!search.Next(name)) {
        search.Close();
        return false;
    }
    folder += name.c_str();
    Assign(folder.GetText());
    return true;
}

bool CDirSearch::SetWindowsFolder()
{
    std::string folder;
    if (!GetProfileFolder(folder))
        return false;
    return SetFolder(folder.c_str());
}

bool CDirSearch::Exists() const
{
    if (IsEmpty())
        return false;
    return FileExists(GetText());
}
