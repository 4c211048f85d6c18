// Reads arbitrary bytes as a project file. A file that is accepted must
// store again, and what is stored must read back and store to the same bytes.
#include "BinArchive.h"
#include "CentroidSettings.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool Parse(const std::string& bytes, CProjectDocument& doc, CCentroidSettings& centroid)
{
    std::stringbuf buffer(bytes, std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    std::vector<CLegacyPointSetEntry> legacy;
    int version = 0;
    CDynString message;
    return ReadProjectArchive(ar, doc, centroid, legacy, version, message);
}

std::string Store(CProjectDocument& doc, const CCentroidSettings& centroid)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    if (!WriteProjectArchive(ar, doc, centroid))
        __builtin_trap();
    return buffer.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    const std::string input(reinterpret_cast<const char*>(data), size);
    auto doc = std::make_unique<CProjectDocument>();
    CCentroidSettings centroid;
    if (!Parse(input, *doc, centroid))
        return 0;
    const std::string first = Store(*doc, centroid);
    auto again = std::make_unique<CProjectDocument>();
    CCentroidSettings centroidAgain;
    if (!Parse(first, *again, centroidAgain))
        __builtin_trap();
    if (Store(*again, centroidAgain) != first)
        __builtin_trap();
    return 0;
}
