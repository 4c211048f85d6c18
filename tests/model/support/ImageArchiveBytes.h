// Archive bytes built field by field for the image record tests, and
// archives over bytes held in memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <ios>
#include <sstream>
#include <string>

#include "BinArchive.h"

namespace image_bytes {

class Bytes {
public:
    Bytes& Int(std::int32_t v)
    {
        const std::uint32_t u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) data += static_cast<char>((u >> (8 * i)) & 0xFF);
        return *this;
    }
    Bytes& Double(double v)
    {
        std::uint64_t u = 0;
        std::memcpy(&u, &v, 8);
        for (int i = 0; i < 8; ++i) data += static_cast<char>((u >> (8 * i)) & 0xFF);
        return *this;
    }
    Bytes& Byte(unsigned char b)
    {
        data += static_cast<char>(b);
        return *this;
    }
    // A counted string or label: int32 byte count, then the bytes.
    Bytes& Text(const std::string& s)
    {
        Int(static_cast<std::int32_t>(s.size()));
        data += s;
        return *this;
    }
    const std::string& Str() const { return data; }

private:
    std::string data;
};

struct Load {
    explicit Load(const std::string& bytes)
        : buffer(bytes, std::ios::in | std::ios::binary), ar(&buffer, std::ios::in | std::ios::binary)
    {
    }
    std::int64_t Left() { return ar.RemainingBytes(); }
    std::stringbuf buffer;
    CBinArchive ar;
};

struct Store {
    Store() : buffer(std::ios::out | std::ios::binary), ar(&buffer, std::ios::out | std::ios::binary) {}
    std::string Str()
    {
        ar.flush();
        return buffer.str();
    }
    std::stringbuf buffer;
    CBinArchive ar;
};

} // namespace image_bytes
