// Every test program runs with a TMPDIR of its own, made when it starts and
// removed when it ends; what the tests leave there (a child process they end
// too) makes the program fail once everything else of it has gone, so that
// folders kept for the whole run may still go at its end. A second run of
// the program that a test starts (a death test) keeps its parent's folder,
// which the parent checks.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace tempfoldercheck {
namespace {

constexpr const char* kOwnVariable = "KESTRELON_TEST_TMPDIR";

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    return names;
}

class OwnTempFolder {
public:
    OwnTempFolder()
    {
        if (getenv(kOwnVariable))
            return;
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestrelon-test-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        path = pattern;
        owner = getpid();
        setenv("TMPDIR", path.c_str(), 1);
        setenv(kOwnVariable, path.c_str(), 1);
    }
    // Constructed before anything a test keeps for the run, so destroyed
    // after it.
    ~OwnTempFolder()
    {
        // Not in a forked child that exits normally.
        if (path.empty() || getpid() != owner)
            return;
        std::string left;
        for (const std::string& name : Names(path))
            if (!kept.count(name))
                left += " " + name;
        std::error_code error;
        std::filesystem::remove_all(path, error);
        if (!left.empty()) {
            std::fprintf(stderr, "The tests left in TMPDIR:%s\n", left.c_str());
            std::fflush(stderr);
            _exit(1);
        }
    }
    OwnTempFolder(const OwnTempFolder&) = delete;
    OwnTempFolder& operator=(const OwnTempFolder&) = delete;

    bool IsOwn() const { return !path.empty(); }
    // What the program makes there before the first test (Qt's runtime
    // folder when XDG_RUNTIME_DIR is not set) is no test's.
    void KeepWhatIsThere() { kept = Names(path); }

private:
    std::string path;
    pid_t owner = 0;
    std::set<std::string> kept;
};

OwnTempFolder& Folder()
{
    static OwnTempFolder folder;
    return folder;
}

class KeepBeforeTests : public ::testing::EmptyTestEventListener {
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest&) override { Folder().KeepWhatIsThere(); }
};

const bool registered = [] {
    if (!Folder().IsOwn())
        return false;
    ::testing::UnitTest::GetInstance()->listeners().Append(new KeepBeforeTests);
    return true;
}();

} // namespace
} // namespace tempfoldercheck
