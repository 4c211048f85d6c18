// Builds archive bytes by hand (little-endian int32, IEEE doubles, single
// bytes, counted strings) and opens in-memory archives over them, so record
// layouts can be checked against their field tables independently of the
// code that writes them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "BinArchive.h"

class RecordBytes {
public:
    RecordBytes& Int(std::int32_t v)
    {
        const std::uint32_t u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((u >> (8 * i)) & 0xFF);
        return *this;
    }
    RecordBytes& Double(double v)
    {
        std::uint64_t u = 0;
        std::memcpy(&u, &v, 8);
        for (int i = 0; i < 8; ++i) bytes += static_cast<char>((u >> (8 * i)) & 0xFF);
        return *this;
    }
    RecordBytes& Byte(unsigned char b)
    {
        bytes += static_cast<char>(b);
        return *this;
    }
    RecordBytes& Text(const std::string& s)
    {
        Int(static_cast<std::int32_t>(s.size()));
        bytes += s;
        return *this;
    }
    RecordBytes& Raw(const std::string& s)
    {
        bytes += s;
        return *this;
    }
    const std::string& Str() const { return bytes; }
    std::size_t Size() const { return bytes.size(); }

private:
    std::string bytes;
};

// An archive reading the given bytes, kept together with its buffer.
struct LoadArchive {
    explicit LoadArchive(const std::string& bytes)
        : buffer(bytes, std::ios::in | std::ios::binary), ar(&buffer, std::ios::in | std::ios::binary)
    {
    }
    // Bytes not read yet.
    std::int64_t Left() { return ar.RemainingBytes(); }
    std::stringbuf buffer;
    CBinArchive ar;
};

// An archive collecting what is written.
struct StoreArchive {
    StoreArchive() : buffer(std::ios::out | std::ios::binary), ar(&buffer, std::ios::out | std::ios::binary) {}
    std::string Bytes()
    {
        ar.flush();
        return buffer.str();
    }
    std::stringbuf buffer;
    CBinArchive ar;
};
