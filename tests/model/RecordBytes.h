// Test helpers: records built byte by byte, and archives over memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "BinArchive.h"

// Little-endian byte builder.
class RecordBytes {
public:
    RecordBytes& U8(uint8_t b)
    {
        bytes.push_back(b);
        return *this;
    }
    RecordBytes& I32(int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int k = 0; k < 4; ++k)
            bytes.push_back(static_cast<uint8_t>(u >> (8 * k)));
        return *this;
    }
    RecordBytes& F64(double d)
    {
        uint64_t u;
        std::memcpy(&u, &d, 8);
        for (int k = 0; k < 8; ++k)
            bytes.push_back(static_cast<uint8_t>(u >> (8 * k)));
        return *this;
    }
    // A counted text without terminator (strings and labels alike).
    RecordBytes& Str(const char* text)
    {
        const int32_t n = static_cast<int32_t>(std::strlen(text));
        I32(n);
        bytes.insert(bytes.end(), text, text + n);
        return *this;
    }
    RecordBytes& Append(const std::vector<uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    std::vector<uint8_t> bytes;
};

inline int32_t I32At(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<uint32_t>(b.at(at + k)) << (8 * k);
    return static_cast<int32_t>(u);
}

inline double F64At(const std::vector<uint8_t>& b, size_t at)
{
    uint64_t u = 0;
    for (int k = 0; k < 8; ++k)
        u |= static_cast<uint64_t>(b.at(at + k)) << (8 * k);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

// Runs f on an archive that stores into memory; returns the bytes written.
template <class F>
std::vector<uint8_t> StoreBytes(F&& f)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    {
        CBinArchive ar(&buffer, std::ios::out);
        f(ar);
    }
    const std::string s = buffer.str();
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Runs f on an archive that loads the given bytes from memory.
template <class F>
void LoadBytes(const std::vector<uint8_t>& bytes, F&& f)
{
    std::stringbuf buffer(std::string(bytes.begin(), bytes.end()), std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    f(ar);
}
