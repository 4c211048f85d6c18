// Reads arbitrary bytes as a settings record followed by a scale-bar list.
// The first byte picks the version the caller passes (-1: the record's own).
// A record either loads whole or leaves the settings as they were; whatever
// loads stores and reloads to the same bytes.
#include "BinArchive.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

std::string StoreSettings(CProjectSettings& s)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    s.Serialize(ar, nullptr);
    return buffer.str();
}

std::string StoreBars(CScaleBarList& list)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    list.Serialize(ar);
    return buffer.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    if (size == 0)
        return 0;
    const int pick = data[0] % 16;
    int version = pick == 15 ? -1 : pick;

    std::stringbuf buffer(std::string(reinterpret_cast<const char*>(data) + 1, size - 1),
                          std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);

    CProjectSettings settings;
    const std::string before = StoreSettings(settings);
    if (!settings.Serialize(ar, &version)) {
        if (StoreSettings(settings) != before)
            __builtin_trap();  // a failed load changed the record
        return 0;
    }
    const std::string stored = StoreSettings(settings);
    {
        std::stringbuf again(stored, std::ios::in | std::ios::binary);
        CBinArchive in(&again, std::ios::in);
        CProjectSettings reread;
        int own = -1;
        if (!reread.Serialize(in, &own) || StoreSettings(reread) != stored)
            __builtin_trap();
    }

    CScaleBarList bars;
    if (!bars.Serialize(ar)) {
        if (bars.GetSize() != 0)
            __builtin_trap();  // a failed load kept bars
        return 0;
    }
    if (static_cast<size_t>(bars.GetSize()) * CScaleBar::kMinStoredSize > size)
        __builtin_trap();
    const std::string storedBars = StoreBars(bars);
    std::stringbuf again(storedBars, std::ios::in | std::ios::binary);
    CBinArchive in(&again, std::ios::in);
    CScaleBarList reread;
    if (!reread.Serialize(in) || StoreBars(reread) != storedBars)
        __builtin_trap();
    return 0;
}
