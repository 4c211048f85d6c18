// A path held as one string and taken apart into folder, title and extension.
// The folder ends at the last '/' or '\', whichever comes later, so Windows
// paths from old project files split the same way; a drive prefix ("E:") is
// kept as text. A separator the class inserts is of the kind the path already
// uses ('\' for a path with only backslashes or only a drive prefix), else '/'.
#pragma once

#include "DynString.h"

class CFilePath : public CDynString {
public:
    CFilePath() = default;
    CFilePath(const char* path) : CDynString(path) {}
    CFilePath(const CDynString& path) : CDynString(path) {}
    CFilePath(const CFilePath& other) : CDynString(other) {}
    ~CFilePath() override = default;

    CFilePath& operator=(const CFilePath& other)
    {
        Assign(other.GetText());
        return *this;
    }
    CFilePath& operator=(const CDynString& other)
    {
        Assign(other.GetText());
        return *this;
    }
    CFilePath& operator=(const char* other)
    {
        Assign(other);
        return *this;
    }

    // The text before the last separator; without one, a drive prefix "X:" or "".
    CDynString GetFolder() const;
    // The text after the last separator (all of it when there is none).
    CDynString GetFileName() const;
    // The file name without the part from its last '.' on.
    CDynString GetTitle() const;
    // The text after the last '.' when that lies in the file name, else "".
    CDynString GetExtension() const;

    // Replaces one part, taking the others from the path before the change.
    // SetTitle and SetExtension always write the '.', and a path without
    // folder gains a leading separator. An empty folder given to SetFolder
    // leaves the bare file name. All return true.
    bool SetFolder(CDynString folder);
    bool SetTitle(CDynString title);
    bool SetExtension(CDynString extension);
    bool SetFileName(CDynString name);

    // Adds 1 to the number at the end of the title, keeping its zero-padded
    // width ("IMG009" -> "IMG010", "IMG99" -> "IMG100"); a title without
    // digits gains "1". False for an empty title.
    bool IncrementNumber();

    static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

protected:
    // Index of the last '/' or '\', -1 when there is none.
    int FindLastSeparator() const;
    // The separator to insert into this path.
    char PreferredSeparator() const;
    // Appends a separator to folder unless it already ends with one.
    static void EndWithSeparator(CDynString& folder, char preferred);
};
