// Loads arbitrary bytes as the profile file's databases, rewrites them and
// loads the rewritten file again. While fuzzing, inputs that ask for more
// than 64 records in a database or 64 entries in a record are passed over:
// the loader's own limits allow thousands of each, which fuzz at a few inputs
// a second (the corpus replay reads them).
#include "ProfileDatabases.h"
#include "ProfileStore.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "FileFuzzing.h"

namespace {

constexpr int kMostPerCount = 64;

// Whether some "Number of ..." key of the text (records of a database,
// marks or points of a record) asks for more than kMostPerCount.
bool AsksForMany(const uint8_t* data, size_t size)
{
    CProfileStore store;
    store.FromText(std::string(reinterpret_cast<const char*>(data), size));
    for (const std::string& section : store.GetSectionNames())
        for (const std::string& key : store.GetKeyNames(section.c_str())) {
            if (key.size() < 10)
                continue;
            std::string start = key.substr(0, 10);
            for (char& c : start)
                if (c >= 'A' && c <= 'Z')
                    c = char(c - 'A' + 'a');
            if (start == "number of " && store.GetInt(section.c_str(), key.c_str(), 0) > kMostPerCount)
                return true;
        }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    UnderLibFuzzer() = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    const CFuzzFolder& folder = FuzzFolder();
    if (!folder.IsMade() || (UnderLibFuzzer() && AsksForMany(data, size)))
        return 0;
    const std::string input = folder.File("in.ini");
    const std::string output = folder.File("out.ini");
    if (!WriteFuzzFile(input, data, size)) {
        folder.Empty();
        return 0;
    }

    {
        CProfileDatabases app;
        app.SetProfilePath(input);
        app.LoadDatabases();
        app.SetProfilePath(output);
        if (app.FlushDatabases()) {
            CProfileDatabases again;
            again.SetProfilePath(output);
            again.LoadDatabases();
            // The counts written are the counts read back.
            if (again.cameraDatabase.GetSize() != app.cameraDatabase.GetSize() ||
                again.scaleBarDatabase.GetSize() != app.scaleBarDatabase.GetSize() ||
                again.eoDeviceDatabase.GetSize() != app.eoDeviceDatabase.GetSize())
                __builtin_trap();
        }
    }
    folder.Empty();
    return 0;
}
