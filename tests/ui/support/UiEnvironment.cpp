// One QApplication for every test of the executable, made as the program
// makes it: the OpenGL format first, the C locale right after.
#include "Hooks.h"

#include <QApplication>

#include <gtest/gtest.h>

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
