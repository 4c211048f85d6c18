#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kestrelon::test {

TempFolder::TempFolder(const std::string& tag)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = ::mkdtemp(buffer.data());
    EXPECT_NE(made, nullptr) << "cannot create a temporary folder";
    if (made) m_path = made;
}

TempFolder::~TempFolder()
{
    if (m_path.empty()) return;
    std::error_code ec;
    // Entries a test made read-only must not keep the folder alive.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string TempFolder::File(const std::string& name) const
{
    return m_path + "/" + name;
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = File(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
    return path;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace kestrelon::test
