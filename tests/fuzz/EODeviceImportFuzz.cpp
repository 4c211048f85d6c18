// An EO device file imported into the database (CProfileDatabases::
// ImportEODevice). The first byte picks the file's title and how many
// devices of that name (and its successors) the database already holds; the
// rest is the file. An import that fails leaves the database as it was; one
// that succeeds adds exactly the device the file reader reads, under the
// first free name.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "BinArchive.h"
#include "EODevice.h"
#include "FileFuzzing.h"
#include "Message.h"
#include "ProfileDatabases.h"

namespace {

std::string StoredDevice(const CEODevice& device)
{
    CEODevice copy(device);
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    copy.Serialize(ar, nullptr);
    return buffer.str();
}

std::string StoredDatabase(const CProfileDatabases& databases)
{
    std::string all;
    for (int i = 0; i < databases.eoDeviceDatabase.GetSize(); ++i)
        all += StoredDevice(*databases.eoDeviceDatabase.GetAt(i));
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzFolder& folder = FuzzFolder();
    if (size == 0 || !folder.IsMade())
        return 0;
    static const char* const kTitles[] = {"CROSS", "Frame7", "bar", "X-1"};
    const std::string title = kTitles[data[0] % 4];
    const int taken = (data[0] / 4) % 3;
    const std::string path = folder.File(title + ".eod");
    if (!WriteFuzzFile(path, data + 1, size - 1))
        return 0;

    CProfileDatabases databases;
    databases.SetProfilePath(folder.File("Kestrelon.ini"));
    CFilePath name(path.c_str());
    for (int i = 0; i < taken; ++i) {
        CEODevice* held = databases.eoDeviceDatabase.AddNew();
        held->AddPointSorted(CObjectPoint("HELD", i, 0, 0));
        held->SetName(name.GetTitle().GetText());
        name.IncrementNumber();
    }
    const std::string before = StoredDatabase(databases);

    CEODevice read;
    const bool readable = read.Load(path.c_str());
    const bool imported = databases.ImportEODevice(path.c_str());
    const int count = databases.eoDeviceDatabase.GetSize();
    if (!imported) {
        if (readable || count != taken || StoredDatabase(databases) != before)
            __builtin_trap();
    } else {
        if (!readable || count != taken + 1)
            __builtin_trap();
        // The old records stay as they were, and the new one is the file's
        // device under the first free name.
        std::string held;
        for (int i = 0; i < taken; ++i)
            held += StoredDevice(*databases.eoDeviceDatabase.GetAt(i));
        const CEODevice* added = databases.eoDeviceDatabase.GetAt(taken);
        read.SetName(name.GetTitle().GetText());
        read.modified = true;
        if (held != before || !added->modified || added->GetName() != name.GetTitle() ||
            StoredDevice(*added) != StoredDevice(read))
            __builtin_trap();
    }
    TakeCapturedMessages();
    folder.Empty();
    return 0;
}
