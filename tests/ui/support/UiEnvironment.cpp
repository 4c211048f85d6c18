// One QApplication for every test of the executable, made as the program
// makes it: the OpenGL format first, the C locale right after.
#include "Hooks.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
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
    }

private:
    int argc = 1;
    char name[16] = "kestrelon-test";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

} // namespace
