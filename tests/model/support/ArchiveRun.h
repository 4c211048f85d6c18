// Runs code on archives over memory and reads numbers back out of stored bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "RecordBytes.h"

#include <gtest/gtest.h>

// Runs f on a storing archive; returns the bytes written.
template <class F>
std::string StoreBytes(F&& f)
{
    StoreArchive store;
    f(store.Get());
    return store.Bytes();
}

// Runs f on an archive that loads the given bytes.
template <class F>
void LoadBytes(const std::string& bytes, F&& f)
{
    LoadArchive load(bytes);
    f(load.Get());
}

inline int32_t I32At(const std::string& b, size_t at)
{
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + k))) << (8 * k);
    return static_cast<int32_t>(u);
}

inline double F64At(const std::string& b, size_t at)
{
    uint64_t u = 0;
    for (int k = 0; k < 8; ++k)
        u |= static_cast<uint64_t>(static_cast<unsigned char>(b.at(at + k))) << (8 * k);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

// The bytes a record stores with the given version word (-1: its own).
template <class T>
std::string StoredRecord(T& record, int version = -1)
{
    StoreArchive store;
    EXPECT_TRUE(record.Serialize(store.Get(), &version));
    return store.Bytes();
}

// Every proper prefix of the bytes fails to load cleanly: load reads from the
// archive into a fresh object, may check what it left, and returns success.
template <class Load>
void ExpectEveryTruncationFails(const std::string& bytes, Load&& load, std::size_t step = 1)
{
    for (std::size_t cut = 0; cut < bytes.size(); cut += step) {
        LoadArchive archive(bytes.substr(0, cut));
        EXPECT_FALSE(load(archive.Get())) << "cut at " << cut << " of " << bytes.size();
    }
}

// The stored-record routine: the record stores, a fresh object reads every
// byte back and passes same(back); every truncation fails cleanly; and a
// count word at countAt (if given) claiming far more than the bytes left
// fails without a single element made.
template <class T, class Same>
std::string ExpectStoresAndReadsBack(T& record, Same&& same, int countAt = -1)
{
    const std::string bytes = StoredRecord(record);
    T back;
    LoadArchive load(bytes);
    int own = -1;
    EXPECT_TRUE(back.Serialize(load.Get(), &own));
    EXPECT_EQ(load.Left(), 0);
    same(back);
    ExpectEveryTruncationFails(bytes, [](CBinArchive& ar) {
        T cut;
        int v = -1;
        return cut.Serialize(ar, &v);
    });
    if (countAt >= 0) {
        std::string lying = bytes;
        lying.replace(countAt, 4, RecordBytes().Int(50000000).Str()); // far beyond the bytes, yet no overflow
        LoadArchive archive(lying);
        T none;
        int v = -1;
        EXPECT_FALSE(none.Serialize(archive.Get(), &v));
        EXPECT_EQ(none.GetSize(), 0);
    }
    return bytes;
}
