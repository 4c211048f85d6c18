// Test helpers: records built byte by byte, and archives over temporary files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

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

// A temporary file that is removed with the object.
class TempFile {
public:
    TempFile()
    {
        static int serial = 0;
        path = (std::filesystem::temp_directory_path()
                / ("kestrelon_record_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                   .string();
    }
    ~TempFile()
    {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    std::string path;
};

// Runs f on an archive that stores into a temporary file; returns the bytes written.
template <class F>
std::vector<uint8_t> StoreBytes(F&& f)
{
    TempFile file;
    {
        CBinArchive ar(file.path.c_str(), STORE_MODE);
        f(ar);
    }
    std::ifstream in(file.path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs f on an archive that loads the given bytes.
template <class F>
void LoadBytes(const std::vector<uint8_t>& bytes, F&& f)
{
    TempFile file;
    {
        std::ofstream out(file.path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    CBinArchive ar(file.path.c_str(), LOAD_MODE);
    f(ar);
}
