// Every file the program writes goes through the platform's atomic writer:
// no other way of writing a file appears in the sources outside src/platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The ways of writing a file that bypass the platform's writer.
const std::regex& ForbiddenWrite()
{
    static const std::regex pattern(
        R"(\b(std::)?(basic_)?(o|w?)fstream\b)"                          // C++ output streams
        R"(|\b(f|fd|fre)open\s*\([^;]*"[^"]*[wa+][^"]*")"                 // stdio opened to write
        R"(|\bfreopen\b)"
        R"(|\bcreat\s*\()"
        R"(|\bO_(WRONLY|RDWR|CREAT|TRUNC|APPEND)\b)"                      // POSIX open for writing
        R"(|QIODevice::(WriteOnly|ReadWrite|Append|Truncate|NewOnly))"    // a QFile opened to write
        R"(|\bQSaveFile\b|\bQFile::copy\b)"
        R"(|\bstd::filesystem::copy(_file)?\b)");
    return pattern;
}

// The line without its // comment and with its character literals blanked
// (string literals stay: the stdio mode is one).
std::string CodeOf(const std::string& line)
{
    std::string code;
    bool inString = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (inString) {
            code += ch;
            if (ch == '\\' && i + 1 < line.size())
                code += line[++i];
            else if (ch == '"')
                inString = false;
            continue;
        }
        if (ch == '"') {
            inString = true;
        } else if (ch == '/' && i + 1 < line.size() && line[i + 1] == '/') {
            break;
        } else if (ch == '\'') {
            const std::size_t end = line.find('\'', i + (i + 2 < line.size() && line[i + 1] == '\\' ? 3 : 2));
            if (end == std::string::npos)
                break;
            i = end;
            continue;
        }
        code += ch;
    }
    return code;
}

bool WritesAFile(const std::string& line)
{
    // Only lines with one of these words can match; the others skip the slow regex.
    static const char* const kWords[] = {"fstream", "open", "creat", "O_", "QIODevice", "QSaveFile", "copy"};
    bool candidate = false;
    for (const char* word : kWords)
        candidate = candidate || line.find(word) != std::string::npos;
    return candidate && std::regex_search(CodeOf(line), ForbiddenWrite());
}

// The matcher itself: it finds each way of writing and leaves reads alone.
TEST(FileWriters, TheCheckTellsWritesFromReads)
{
    const struct {
        const char* line;
        bool write;
    } cases[] = {
        {"    std::ofstream out(path, std::ios::binary | std::ios::trunc);", true},
        {"    std::fstream io(path);", true},
        {"    std::FILE* file = std::fopen(name.c_str(), \"wb\");", true},
        {"    FILE* f = fopen(path, \"a\");", true},
        {"    FILE* f = fopen(path, \"r+b\");", true},
        {"    freopen(path, \"r\", stdin);", true},
        {"    const int fd = ::open(path, O_WRONLY | O_CREAT, 0644);", true},
        {"    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))", true},
        {"    if (!QFile::copy(chosen, target))", true},
        {"    QSaveFile file(path);", true},
        {"    std::filesystem::copy_file(from, to);", true},
        {"    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(scratch.path.c_str(), \"rb\"));", false},
        {"    std::ifstream in(path, std::ios::binary);", false},
        {"    if (!file.open(QIODevice::ReadOnly))", false},
        {"    // std::ofstream out(path) would block on a pipe", false},
        {"    QFile::remove(FromCp1252(destination.GetText()));", false},
        {"    CAtomicFile file;", false},
    };
    for (const auto& test : cases)
        EXPECT_EQ(WritesAFile(test.line), test.write) << test.line;
}

TEST(FileWriters, OnlyThePlatformWritesFiles)
{
    namespace fs = std::filesystem;
    const fs::path root = KESTRELON_SOURCE_ROOT;
    ASSERT_TRUE(fs::is_directory(root / "platform")) << root;
    std::vector<std::string> found;
    int files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const fs::path& path = entry.path();
        const std::string extension = path.extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h" && extension != ".inc"))
            continue;
        const fs::path relative = path.lexically_relative(root);
        if (*relative.begin() == "platform")
            continue;
        ++files;
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number)
            if (WritesAFile(line))
                found.push_back(relative.string() + ":" + std::to_string(number) + ": " + line);
    }
    EXPECT_GT(files, 100);
    std::ostringstream list;
    for (const std::string& place : found)
        list << place << "\n";
    EXPECT_TRUE(found.empty()) << "files written past the platform's writer:\n" << list.str();
}

} // namespace
