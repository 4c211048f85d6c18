// The program's profile file: an INI store with the semantics of the classic
// profile functions. Section and key names compare case-insensitively (ASCII),
// values are trimmed, sections and keys keep their file order. Changes are kept
// in memory until Flush, which writes a temporary file beside the target and
// renames it into place, so the file is never left half-written.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class CProfileStore {
public:
    CProfileStore() = default;
    explicit CProfileStore(std::string path);

    // Largest file Load reads; a longer one counts as unreadable.
    static constexpr std::size_t kMaxFileBytes = 64u << 20;

    // Reads the file (a missing, unreadable or oversized file gives an empty
    // store). Returns true when the file existed and was read.
    bool Load();
    bool Load(const std::string& path);

    const std::string& GetPath() const { return path; }
    void SetPath(std::string p) { path = std::move(p); }
    bool FileExists() const;

    std::string GetString(const char* section, const char* key, const char* def = "") const;
    // The stored value itself, without a copy; null when the key is absent.
    // Valid until the store changes.
    const std::string* FindValue(const char* section, const char* key) const;
    // The leading decimal integer of the value (as atoi reads it); def when the key is absent.
    int GetInt(const char* section, const char* key, int def = 0) const;
    bool HasKey(const char* section, const char* key) const;
    bool HasSection(const char* section) const;

    // A null key deletes the whole section; a null value deletes the key.
    void WriteString(const char* section, const char* key, const char* value);
    void WriteInt(const char* section, const char* key, int value);

    // Names of the sections, in file order.
    std::vector<std::string> GetSectionNames() const;
    // Key names of a section, in file order (empty when there is no such section).
    std::vector<std::string> GetKeyNames(const char* section) const;

    // Forgets every entry and removes the file; false when it exists and cannot be removed.
    bool DeleteFile();

    // Writes the whole store (temporary file, then rename). False on any failure;
    // the file on disk is then unchanged, the store keeps its contents and
    // GetLastError says why.
    bool Flush();
    const std::string& GetLastError() const { return lastError; }
    bool IsModified() const { return modified; }

    // The text the store would write (CR LF line ends).
    std::string ToText() const;
    // Replaces the contents by parsed text (CR LF or LF, comments after ';').
    void FromText(const std::string& text);

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    // Names are looked up through their lower-case form, so that large files
    // load and read in linear time.
    using NameIndex = std::unordered_map<std::string, std::size_t>;
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        NameIndex keyIndex;

        Entry* Find(const char* key);
        const Entry* Find(const char* key) const;
        void Add(const std::string& key, const std::string& value);
        void Erase(std::size_t i);
    };

    const Section* FindSection(const char* name) const;
    Section* FindSection(const char* name);
    Section& AddSection(const std::string& name);
    void EraseSection(std::size_t i);
    void Clear();

    std::string path;
    std::vector<Section> sections;
    NameIndex sectionIndex;
    std::string lastError;
    bool modified = false;
};
