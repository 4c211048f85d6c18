// One QApplication for every test of the executable, made as the program
// makes it: the OpenGL format first, the C locale right after.
//
// The program also gets a TMPDIR of its own, and every test must leave it
// as it found it: what a test leaves there (a child process it ends too)
// fails the test and is removed. A child process the tests start as a
// second run of the program (a death test) keeps its parent's folder.
#include "Hooks.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace {

constexpr const char* kOwnTempVariable = "KESTRELON_TEST_TMPDIR";

// The program's own TMPDIR; empty in a child run and before it is made.
std::string& OwnTempFolder()
{
    static std::string folder;
    return folder;
}

void MakeOwnTempFolder()
{
    if (getenv(kOwnTempVariable))
        return; // a child run: the parent checks the folder
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestrelon-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return;
    OwnTempFolder() = pattern;
    setenv("TMPDIR", pattern.c_str(), 1);
    setenv(kOwnTempVariable, pattern.c_str(), 1);
}

void RemoveOwnTempFolder()
{
    if (OwnTempFolder().empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(OwnTempFolder(), error);
}

std::set<std::string> TempFolderNames()
{
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(OwnTempFolder(), error))
        names.insert(entry.path().filename().string());
    return names;
}

// What the program keeps there from its start (Qt's runtime folder when
// XDG_RUNTIME_DIR is not set) is no test's.
class TempFolderCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        if (!OwnTempFolder().empty())
            before = TempFolderNames();
    }
    // Called before the result printer's, so the failure counts for the test.
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        if (OwnTempFolder().empty())
            return;
        std::string left;
        for (const std::string& name : TempFolderNames()) {
            if (before.count(name))
                continue;
            left += " " + name;
            std::error_code ignored;
            std::filesystem::remove_all(OwnTempFolder() + "/" + name, ignored);
        }
        if (!left.empty())
            ADD_FAILURE() << "the test left in TMPDIR:" << left;
    }

    std::set<std::string> before;
};

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        MakeOwnTempFolder();
        SetDefaultOpenGLFormat();
        app = new QApplication(argc, argv);
        RestoreCLocale();
    }
    void TearDown() override
    {
        // When a test drew with OpenGL, Mesa's driver stays mapped past the
        // X connection's end, so that the leak checker can name what it keeps.
        for (const char* library : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "libLLVM-15.so.1"})
            dlopen(library, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
        delete app;
        app = nullptr;
        RemoveOwnTempFolder();
    }

private:
    int argc = 1;
    char name[16] = "kestrelon-test";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new UiEnvironment);
const auto* const checked = [] {
    ::testing::TestEventListener* check = new TempFolderCheck;
    ::testing::UnitTest::GetInstance()->listeners().Append(check);
    return check;
}();

} // namespace
