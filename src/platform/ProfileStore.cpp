#include "ProfileStore.h"

#include "FileIO.h"
#include "FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The lower-case form under which a name is indexed. A name holding a NUL
// byte can never equal a C-string name; it is indexed under a form no
// lookup produces.
std::string IndexForm(const char* name, std::size_t n)
{
    std::string form(name, n);
    for (char& c : form)
        c = LowerAscii(c);
    if (form.find('\0') != std::string::npos)
        form.insert(0, 1, '\0');
    return form;
}

std::string IndexForm(const std::string& name) { return IndexForm(name.data(), name.size()); }

std::string IndexForm(const char* name) { return IndexForm(name, std::strlen(name)); }

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
bool MakeFolders(const std::string& folder, std::string& error)
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
                if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
                    error = partial + ": " + SystemErrorText(errno);
                    return false;
                }
            } else if (!S_ISDIR(st.st_mode)) {
                error = partial + ": " + SystemErrorText(ENOTDIR);
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
    return IsRegularFile(path.c_str());
}

bool CProfileStore::Load(const std::string& p)
{
    path = p;
    return Load();
}

bool CProfileStore::Load()
{
    Clear();
    modified = false;
    if (path.empty())
        return false;
    std::string text;
    std::string error;
    if (!ReadRegularFile(path, text, kMaxFileBytes, error))
        return false;
    FromText(text);
    modified = false;
    return true;
}

void CProfileStore::FromText(const std::string& text)
{
    Clear();
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
            if (!current)
                current = &AddSection(name);
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
        // The first of duplicate keys wins, as the profile functions read it.
        if (!current->Find(key.c_str()))
            current->Add(key, value);
    }
    modified = true;
}

CProfileStore::Entry* CProfileStore::Section::Find(const char* key)
{
    const auto it = keyIndex.find(IndexForm(key));
    return it == keyIndex.end() ? nullptr : &entries[it->second];
}

const CProfileStore::Entry* CProfileStore::Section::Find(const char* key) const
{
    const auto it = keyIndex.find(IndexForm(key));
    return it == keyIndex.end() ? nullptr : &entries[it->second];
}

void CProfileStore::Section::Add(const std::string& key, const std::string& value)
{
    keyIndex.emplace(IndexForm(key), entries.size());
    entries.push_back(Entry{key, value});
}

void CProfileStore::Section::Erase(std::size_t i)
{
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
    keyIndex.clear();
    for (std::size_t k = 0; k < entries.size(); ++k)
        keyIndex.emplace(IndexForm(entries[k].key), k);
}

const CProfileStore::Section* CProfileStore::FindSection(const char* name) const
{
    const auto it = sectionIndex.find(IndexForm(name));
    return it == sectionIndex.end() ? nullptr : &sections[it->second];
}

CProfileStore::Section* CProfileStore::FindSection(const char* name)
{
    const auto it = sectionIndex.find(IndexForm(name));
    return it == sectionIndex.end() ? nullptr : &sections[it->second];
}

CProfileStore::Section& CProfileStore::AddSection(const std::string& name)
{
    sectionIndex.emplace(IndexForm(name), sections.size());
    sections.push_back(Section{name, {}, {}});
    return sections.back();
}

void CProfileStore::EraseSection(std::size_t i)
{
    sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(i));
    sectionIndex.clear();
    for (std::size_t k = 0; k < sections.size(); ++k)
        sectionIndex.emplace(IndexForm(sections[k].name), k);
}

void CProfileStore::Clear()
{
    sections.clear();
    sectionIndex.clear();
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
    return s && s->Find(key);
}

std::string CProfileStore::GetString(const char* section, const char* key, const char* def) const
{
    const char* fallback = def ? def : "";
    if (!section || !key)
        return fallback;
    const Section* s = FindSection(section);
    const Entry* e = s ? s->Find(key) : nullptr;
    return e ? e->value : fallback;
}

const std::string* CProfileStore::FindValue(const char* section, const char* key) const
{
    if (!section || !key)
        return nullptr;
    const Section* s = FindSection(section);
    const Entry* e = s ? s->Find(key) : nullptr;
    return e ? &e->value : nullptr;
}

int CProfileStore::GetInt(const char* section, const char* key, int def) const
{
    const std::string* found = FindValue(section, key);
    if (!found)
        return def;
    const std::string& v = *found;
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
        if (n > 0x7fffffffLL) {
            n = 0x80000000LL; // saturated: further digits change nothing
            break;
        }
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
            EraseSection(static_cast<std::size_t>(s - sections.data()));
            modified = true;
        }
        return;
    }
    if (!s) {
        if (!value)
            return;
        s = &AddSection(section);
    }
    if (Entry* e = s->Find(key)) {
        if (!value)
            s->Erase(static_cast<std::size_t>(e - s->entries.data()));
        else
            e->value = Trim(value);
        modified = true;
        return;
    }
    if (value) {
        s->Add(key, Trim(value));
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
    Clear();
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
    lastError.clear();
    if (path.empty()) {
        lastError = "no profile file is known (no home folder)";
        return false;
    }
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && !MakeFolders(path.substr(0, slash), lastError))
        return false;
    const std::string text = ToText();
    if (!WriteFileAtomically(path, text.data(), text.size(), lastError))
        return false;
    modified = false;
    return true;
}
