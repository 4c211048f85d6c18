// The per-image observation index kept in proportion to the rays, checked
// against the plain int vector the project file's layout comes from.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ArchiveRun.h"
#include "ObjectPoint.h"
#include "RayIndex.h"
#include "RecordBytes.h"
#include "Vector.h"

namespace ray_index_test {

// Same size, same value for every image, the same images listed, and the
// same stored bytes as the plain vector.
void ExpectLike(CRayIndex& index, CIntVector& plain)
{
    ASSERT_EQ(index.GetSize(), plain.GetSize());
    std::vector<int> listed;
    for (const CRayIndex::Entry& e : index)
        listed.push_back(e.image);
    std::vector<int> expected;
    for (int i = 0; i < plain.GetSize(); ++i) {
        ASSERT_EQ(index.Get(i), plain[i]) << i;
        if (plain[i] != -1)
            expected.push_back(i);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(StoreBytes([&](CBinArchive& ar) { index.Serialize(ar); }),
              StoreBytes([&](CBinArchive& ar) { plain.Serialize(ar); }));
}

// Random edits (assignments of -1 and of indices, growing and shrinking,
// clearing) applied to both.
TEST(RayIndex, EditsMatchThePlainVector)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        CRayIndex index;
        CIntVector plain;
        for (int step = 0; step < 600; ++step) {
            const int what = int(rng() % 10);
            if (what == 0) {
                const int n = int(rng() % 40);
                index.SetSize(n);
                plain.SetSize(n);
            } else if (what == 1) {
                const int n = int(rng() % 40);
                index.Reset(n);
                plain.SetSize(0);
                plain.SetSize(n);
                for (int i = 0; i < n; ++i)
                    plain[i] = -1;
            } else if (plain.GetSize() > 0) {
                const int image = int(rng() % unsigned(plain.GetSize()));
                const int value = what < 5 ? -1 : int(rng() % 7) - 2;
                index[image] = value;
                plain[image] = value;
            }
            ASSERT_NO_FATAL_FAILURE(ExpectLike(index, plain)) << step;
        }
        // Read back from the stored layout: the same index.
        const std::string bytes = StoreBytes([&](CBinArchive& ar) { index.Serialize(ar); });
        CRayIndex loaded;
        LoadBytes(bytes, [&](CBinArchive& ar) { EXPECT_TRUE(loaded.Serialize(ar)); });
        EXPECT_TRUE(loaded == index);
    }
}

// A point seen in 3 of 1,000 images keeps 3 entries, and its record holds
// the full table of 1,000 ints.
TEST(RayIndex, APointInThreeOfAThousandImagesKeepsThreeEntries)
{
    CObjectPoint point("P7", 1.0, 2.0, 3.0);
    point.observationIndex.Reset(1000);
    point.observationIndex[999] = 4;
    point.observationIndex[3] = 0;
    point.observationIndex[512] = 17;
    EXPECT_EQ(point.observationIndex.GetEntryCount(), 3);
    EXPECT_LE(point.observationIndex.GetBytes(), sizeof(CRayIndex) + 4 * sizeof(CRayIndex::Entry));

    RecordBytes table;
    table.Int(1000);
    for (int i = 0; i < 1000; ++i)
        table.Int(i == 3 ? 0 : i == 512 ? 17 : i == 999 ? 4 : -1);
    const std::string record = StoreBytes([&](CBinArchive& ar) { point.Serialize(ar, nullptr, false); });
    ASSERT_GE(record.size(), table.Size());
    EXPECT_EQ(record.substr(record.size() - table.Size()), table.Str());

    CObjectPoint loaded;
    LoadBytes(record, [&](CBinArchive& ar) { loaded.Serialize(ar, nullptr, false); });
    EXPECT_TRUE(loaded.IsEqual(point));
    EXPECT_EQ(loaded.observationIndex.GetEntryCount(), 3);
    EXPECT_LE(loaded.observationIndex.GetBytes(), sizeof(CRayIndex) + 3 * sizeof(CRayIndex::Entry));
}

// Malformed tables fail as the plain vector's do: emptied, archive failed.
TEST(RayIndex, BadTablesFailLikeThePlainVector)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"negative count", RecordBytes().Int(-2).Str()},
        {"count beyond the bytes", RecordBytes().Int(5).Int(1).Int(2).Str()},
        {"cut inside an int", RecordBytes().Int(2).Int(1).Raw("\x01\x02").Str()},
        {"no count", RecordBytes().Raw("\x01").Str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        CRayIndex index;
        index.Reset(3);
        index[1] = 5;
        CIntVector plain;
        plain.SetSize(3);
        bool indexOk = true, plainOk = true, indexFailed = false, plainFailed = false;
        LoadBytes(c.second, [&](CBinArchive& ar) {
            indexOk = index.Serialize(ar);
            indexFailed = ar.fail();
        });
        LoadBytes(c.second, [&](CBinArchive& ar) {
            plainOk = plain.Serialize(ar);
            plainFailed = ar.fail();
        });
        EXPECT_FALSE(indexOk);
        EXPECT_EQ(indexOk, plainOk);
        EXPECT_EQ(indexFailed, plainFailed);
        EXPECT_EQ(index.GetSize(), plain.GetSize());
        EXPECT_EQ(index.GetEntryCount(), 0);
    }
}

} // namespace ray_index_test
