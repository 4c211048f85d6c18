// Reads arbitrary bytes as a sequence of archive primitives; each step's
// first byte chooses the primitive. Every read either succeeds within the
// input or fails the stream; nothing is allocated beyond the input's size.
#include "BinArchive.h"
#include "DynString.h"
#include "NameBuffer.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    std::stringbuf buffer(std::string(reinterpret_cast<const char*>(data), size), std::ios::in | std::ios::binary);
    CBinArchive archive(&buffer, std::ios::in | std::ios::binary);
    while (archive.good()) {
        unsigned char op = 0;
        archive.ReadByte(op);
        if (!archive.good())
            break;
        double d;
        std::int32_t i = 0;
        bool b;
        CDynString text;
        CNameBuffer name;
        switch (op % 7) {
        case 0: archive.ReadDouble(d); break;
        case 1: archive.ReadInt(i); break;
        case 2: archive.ReadBool(b); break;
        case 3:
            archive.ReadString(text);
            if (std::strlen(text.GetText()) > size)
                __builtin_trap();
            break;
        case 4:
            archive.ReadName(name);
            if (std::strlen(name.GetText()) > 16)
                __builtin_trap();
            break;
        case 5:
            archive.ReadInt(i);
            if (archive.CheckCount(i, 8) && static_cast<std::int64_t>(i) * 8 > static_cast<std::int64_t>(size))
                __builtin_trap();
            break;
        default: {
            std::int64_t left = archive.RemainingBytes();
            if (left < 0 || left > static_cast<std::int64_t>(size))
                __builtin_trap();
        }
        }
    }
    return 0;
}
