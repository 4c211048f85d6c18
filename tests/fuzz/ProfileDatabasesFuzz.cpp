// Loads arbitrary bytes as the profile file's databases, rewrites them and
// loads the rewritten file again.
#include "ProfileDatabases.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// A folder of its own for the run, removed at exit.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char tmpl[] = "/tmp/kdbfuzzXXXXXX";
        if (const char* made = mkdtemp(tmpl))
            path = made;
    }
    ~TempFolder()
    {
        if (path.empty())
            return;
        for (const char* name : {"/in.ini", "/out.ini", "/out.ini.tmp"})
            std::remove((path + name).c_str());
        rmdir(path.c_str());
    }
};

std::string TempPath(const char* name)
{
    static const TempFolder folder;
    return folder.path.empty() ? std::string() : folder.path + "/" + name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input = TempPath("in.ini");
    const std::string output = TempPath("out.ini");
    if (input.empty())
        return 0;
    FILE* f = std::fopen(input.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CProfileDatabases app;
    app.SetProfilePath(input);
    app.LoadDatabases();
    app.SetProfilePath(output);
    if (!app.FlushDatabases())
        return 0;

    CProfileDatabases again;
    again.SetProfilePath(output);
    again.LoadDatabases();
    // The counts written are the counts read back.
    if (again.cameraDatabase.GetSize() != app.cameraDatabase.GetSize() ||
        again.scaleBarDatabase.GetSize() != app.scaleBarDatabase.GetSize() ||
        again.eoDeviceDatabase.GetSize() != app.eoDeviceDatabase.GetSize())
        __builtin_trap();
    return 0;
}
