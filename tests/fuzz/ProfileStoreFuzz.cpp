// Parses arbitrary bytes as a profile file and reads them back.
#include "ProfileStore.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    CProfileStore s;
    s.FromText(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& name : s.GetSectionNames()) {
        s.GetString(name.c_str(), "Number of Cameras");
        s.GetInt(name.c_str(), "XPixels", 3);
    }
    CProfileStore again;
    again.FromText(s.ToText());
    // Everything written reads back as a section of the same name.
    if (again.GetSectionNames().size() > s.GetSectionNames().size())
        __builtin_trap();
    return 0;
}
