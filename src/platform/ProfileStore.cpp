#include "ProfileStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const char* b)
{
    size_t n = a.size();
    size_t i = 0;
    for (; i < n && b[i]; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return i == n && b[i] == '\0';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Creates every missing folder of the path (mkdir -p).
bool MakeFolders(const std::string& folder)
{
    if (folder.empty())
        return true;
    std::string partial;
    size_t pos = 0;
    while (pos <= folder.size()) {
        size_t next = folder.find('/', pos);
        if (next == std::string::npos)
            next = folder.size();
        partial = folder.substr(0, next);
        if (!partial.empty()) {
            struct stat st {};
            if (stat(partial.c_str(), &st) != 0) {
                if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
                    return false;
            } else if (!S_ISDIR(st.st_mode)) {
                return false;
            }
        }
        pos = next + 1;
    }
    return true;
}

} // namespace

CProfileStore::CProfileStore(std::string p) : path(std::move(p)) {}

bool CProfileStore::FileExists() const
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CProfileStore::Load(const std::string& p)
{
    path = p;
    return Load();
}

bool CProfileStore::Load()
{
    sections.clear();
    modified = false;
    if (path.empty())
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return false;
    FromText(text);
    modified = false;
    return true;
}

void CProfileStore::FromText(const std::string& text)
{
    sections.clear();
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            current = FindSection(name.c_str());
            if (!current) {
                sections.push_back(Section{name, {}});
                current = &sections.back();
            }
            continue;
        }
        if (!current)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (key.empty())
            continue;
        bool found = false;
        for (auto& e : current->entries)
            if (SameName(e.key, key.c_str())) {
                found = true; // the first of duplicate keys wins, as the profile functions read it
                break;
            }
        if (!found)
            current->entries.push_back(Entry{key, value});
    }
    modified = true;
}

const CProfileStore::Section* CProfileStore::FindSection(const char* name) const
{
    for (const auto& s : sections)
        if (SameName(s.name, name))
            return &s;
    return nullptr;
}

CProfileStore::Section* CProfileStore::FindSection(const char* name)
{
    for (auto& s : sections)
        if (SameName(s.name, name))
            return &s;
    return nullptr;
}

bool CProfileStore::HasSection(const char* section) const
{
    return section && FindSection(section) != nullptr;
}

bool CProfileStore::HasKey(const char* section, const char* key) const
{
    if (!section || !key)
        return false;
    const Section* s = FindSection(section);
    if (!s)
        return false;
    for (const auto& e : s->entries)
        if (SameName(e.key, key))
            return true;
    return false;
}

std::string CProfileStore::GetString(const char* section, const char* key, const char* def) const
{
    const char* fallback = def ? def : "";
    if (!section || !key)
        return fallback;
    const Section* s = FindSection(section);
    if (!s)
        return fallback;
    for (const auto& e : s->entries)
        if (SameName(e.key, key))
            return e.value;
    return fallback;
}

int CProfileStore::GetInt(const char* section, const char* key, int def) const
{
    if (!HasKey(section, key))
        return def;
    std::string v = GetString(section, key, "");
    // Leading optional sign and digits; anything else ends the number.
    size_t i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) {
        negative = v[i] == '-';
        ++i;
    }
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > 0x7fffffffLL)
            n = 0x80000000LL;
    }
    if (negative)
        n = -n;
    if (n > 0x7fffffffLL)
        n = 0x7fffffffLL;
    if (n < -0x80000000LL)
        n = -0x80000000LL;
    return int(n);
}

void CProfileStore::WriteString(const char* section, const char* key, const char* value)
{
    if (!section)
        return;
    Section* s = FindSection(section);
    if (!key) {
        if (s) {
            sections.erase(sections.begin() + (s - sections.data()));
            modified = true;
        }
        return;
    }
    if (!s) {
        if (!value)
            return;
        sections.push_back(Section{section, {}});
        s = &sections.back();
    }
    for (size_t i = 0; i < s->entries.size(); ++i)
        if (SameName(s->entries[i].key, key)) {
            if (!value)
                s->entries.erase(s->entries.begin() + long(i));
            else
                s->entries[i].value = Trim(value);
            modified = true;
            return;
        }
    if (value) {
        s->entries.push_back(Entry{key, Trim(value)});
        modified = true;
    }
}

void CProfileStore::WriteInt(const char* section, const char* key, int value)
{
    WriteString(section, key, std::to_string(value).c_str());
}

std::vector<std::string> CProfileStore::GetSectionNames() const
{
    std::vector<std::string> names;
    names.reserve(sections.size());
    for (const auto& s : sections)
        names.push_back(s.name);
    return names;
}

std::vector<std::string> CProfileStore::GetKeyNames(const char* section) const
{
    std::vector<std::string> names;
    const Section* s = section ? FindSection(section) : nullptr;
    if (s) {
        names.reserve(s->entries.size());
        for (const auto& e : s->entries)
            names.push_back(e.key);
    }
    return names;
}

bool CProfileStore::DeleteFile()
{
    sections.clear();
    modified = true;
    if (path.empty() || !FileExists())
        return true;
    return std::remove(path.c_str()) == 0;
}

std::string CProfileStore::ToText() const
{
    std::string out;
    for (const auto& s : sections) {
        out += '[';
        out += s.name;
        out += "]\r\n";
        for (const auto& e : s.entries) {
            out += e.key;
            out += '=';
            out += e.value;
            out += "\r\n";
        }
    }
    return out;
}

bool CProfileStore::Flush()
{
    if (path.empty())
        return false;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && !MakeFolders(path.substr(0, slash)))
        return false;
    const std::string tmp = path + ".tmp";
    const std::string text = ToText();
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    modified = false;
    return true;
}
