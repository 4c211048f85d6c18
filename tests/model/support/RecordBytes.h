// Builds archive bytes field by field, independently of the archive writer,
// and opens archives over bytes held in memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ios>
#include <memory>
#include <sstream>
#include <string>

#include "BinArchive.h"

class RecordBytes
{
public:
    RecordBytes& Int(int32_t v)
    {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
        return *this;
    }
    RecordBytes& Double(double v)
    {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        for (int i = 0; i < 8; ++i)
            bytes.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
        return *this;
    }
    RecordBytes& Triple(double a, double b, double c) { return Double(a).Double(b).Double(c); }
    RecordBytes& Doubles(std::initializer_list<double> values)
    {
        for (double v : values)
            Double(v);
        return *this;
    }
    RecordBytes& Byte(unsigned char v)
    {
        bytes.push_back(static_cast<char>(v));
        return *this;
    }
    RecordBytes& String(const std::string& s)
    {
        Int(static_cast<int32_t>(s.size()));
        bytes += s;
        return *this;
    }
    // A packed symmetric 3x3 matrix record: upper triangle row by row.
    RecordBytes& Sym3(double a00, double a01, double a02, double a11, double a12, double a22)
    {
        Int(3).Int(-1);
        return Double(a00).Double(a01).Double(a02).Double(a11).Double(a12).Double(a22);
    }
    // A packed symmetric n x n matrix whose stored values count up from first.
    RecordBytes& Symmetric(int n, double first)
    {
        Int(n).Int(-1);
        for (int i = 0; i < n * (n + 1) / 2; ++i)
            Double(first + i);
        return *this;
    }
    // A full n x n matrix whose values count up from first, row by row.
    RecordBytes& Full(int n, double first)
    {
        Int(n).Int(n);
        for (int i = 0; i < n * n; ++i)
            Double(first + i);
        return *this;
    }
    RecordBytes& Raw(const std::string& s)
    {
        bytes += s;
        return *this;
    }
    const std::string& Str() const { return bytes; }
    size_t Size() const { return bytes.size(); }

private:
    std::string bytes;
};

// An archive that loads from bytes.
class LoadArchive
{
public:
    explicit LoadArchive(const std::string& bytes)
        : buffer(bytes, std::ios::in), archive(&buffer, std::ios::in)
    {
    }
    CBinArchive& Get() { return archive; }
    // Read position (-1 once the archive has failed).
    std::streamoff Position() { return archive.tellg(); }
    // Bytes not read yet (0 once the archive has failed).
    std::int64_t Left() { return archive.RemainingBytes(); }

private:
    std::stringbuf buffer;
    CBinArchive archive;
};

// An archive that stores into memory.
class StoreArchive
{
public:
    StoreArchive() : buffer(std::ios::out), archive(&buffer, std::ios::out) {}
    CBinArchive& Get() { return archive; }
    std::string Bytes() const { return buffer.str(); }

private:
    std::stringbuf buffer;
    CBinArchive archive;
};
