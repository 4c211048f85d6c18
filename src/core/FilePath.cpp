#include "FilePath.h"

#include <string>

int CFilePath::FindLastSeparator() const
{
    const int slash = ReverseFind('/');
    const int backslash = ReverseFind('\\');
    return slash > backslash ? slash : backslash;
}

char CFilePath::PreferredSeparator() const
{
    const int last = FindLastSeparator();
    if (last >= 0)
        return GetText()[last];
    const char* s = GetText();
    if (GetLength() > 1 && s[1] == ':')
        return '\\';
    return '/';
}

void CFilePath::EndWithSeparator(CDynString& folder, char preferred)
{
    const int len = folder.GetLength();
    if (len > 0 && IsSeparator(folder.GetText()[len - 1]))
        return;
    // The folder's own kind of separator; a drive prefix asks for '\'.
    const CFilePath f(folder);
    if (f.FindLastSeparator() >= 0 || (len > 1 && folder.GetText()[1] == ':'))
        preferred = f.PreferredSeparator();
    folder += preferred;
}

CDynString CFilePath::GetFolder() const
{
    const int last = FindLastSeparator();
    if (last >= 0)
        return Left(last);
    if (GetLength() > 1 && GetText()[1] == ':')
        return Left(2);
    return CDynString();
}

CDynString CFilePath::GetFileName() const
{
    const int last = FindLastSeparator();
    if (last < 0)
        return CDynString(*this);
    return Right(GetLength() - last - 1);
}

CDynString CFilePath::GetTitle() const
{
    CDynString name = GetFileName();
    const int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

CDynString CFilePath::GetExtension() const
{
    const int dot = ReverseFind('.');
    if (dot < 0 || dot < FindLastSeparator())
        return CDynString();
    return Right(GetLength() - dot - 1);
}

bool CFilePath::SetFolder(CDynString folder)
{
    const CDynString title = GetTitle();
    const CDynString extension = GetExtension();
    if (!folder.IsEmpty())
        EndWithSeparator(folder, PreferredSeparator());
    if (!title.IsEmpty()) {
        folder += title;
        folder += '.';
        folder += extension;
    }
    Assign(folder.GetText());
    return true;
}

bool CFilePath::SetTitle(CDynString title)
{
    CDynString path = GetFolder();
    path += PreferredSeparator();
    path += title;
    path += '.';
    path += GetExtension();
    Assign(path.GetText());
    return true;
}

bool CFilePath::SetExtension(CDynString extension)
{
    CDynString path = GetFolder();
    path += PreferredSeparator();
    path += GetTitle();
    path += '.';
    path += extension;
    Assign(path.GetText());
    return true;
}

bool CFilePath::SetFileName(CDynString name)
{
    CDynString path = GetFolder();
    path += PreferredSeparator();
    path += name;
    Assign(path.GetText());
    return true;
}

bool CFilePath::IncrementNumber()
{
    const CDynString title = GetTitle();
    if (title.IsEmpty())
        return false;
    const std::string t = title.GetText();
    size_t start = t.size();
    while (start > 0 && t[start - 1] >= '0' && t[start - 1] <= '9')
        --start;
    std::string number = t.substr(start);
    if (number.empty()) {
        number = "1";
    } else {
        // Decimal addition on the digits themselves: no digit run is too long.
        size_t i = number.size();
        while (i > 0) {
            --i;
            if (number[i] == '9') {
                number[i] = '0';
                if (i == 0)
                    number.insert(number.begin(), '1');
            } else {
                ++number[i];
                break;
            }
        }
    }
    return SetTitle((t.substr(0, start) + number).c_str());
}
