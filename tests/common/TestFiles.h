// Files and temporary folders for tests.
#pragma once

#include <string>

namespace kestrelon::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "kestrelon");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of a file inside the folder.
    std::string File(const std::string& name) const;
    // Writes the bytes to a file inside the folder and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Replaces the file's contents; false when it cannot be written.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace kestrelon::test
