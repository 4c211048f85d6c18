#include "KeyedItem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

std::vector<double> Keys(const CKeyedItemList& list)
{
    std::vector<double> keys;
    for (int i = 0; i < list.GetSize(); ++i)
        keys.push_back(list.GetAt(i)->key);
    return keys;
}

TEST(KeyedItemTest, SortByKeyOrdersAscendingAndKeepsTheRecords)
{
    int objects[4];
    CKeyedItemList list;
    list.AddCopy(CKeyedItem(3.5, 0, &objects[0]));
    list.AddCopy(CKeyedItem(-2.0, 1, &objects[1]));
    list.AddCopy(CKeyedItem(10.0, 2, &objects[2]));
    list.AddCopy(CKeyedItem(0.25, 3, &objects[3]));
    CKeyedItem* largest = list.GetAt(2);

    list.SortByKey();
    EXPECT_EQ(Keys(list), (std::vector<double>{-2.0, 0.25, 3.5, 10.0}));
    // The pointers moved, not the records.
    EXPECT_EQ(list.GetAt(3), largest);
    EXPECT_EQ(list.GetAt(0)->index, 1);
    EXPECT_EQ(list.GetAt(0)->item, &objects[1]);
    EXPECT_EQ(list.GetAt(1)->item, &objects[3]);
}

TEST(KeyedItemTest, SortHandlesEmptyLargeDuplicateAndNanKeys)
{
    CKeyedItemList empty;
    empty.SortByKey();
    EXPECT_EQ(empty.GetSize(), 0);

    // Many items, with duplicates: the result is ascending and a permutation.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 50);
    CKeyedItemList list;
    std::vector<double> expected;
    for (int i = 0; i < 1000; ++i) {
        double key = pick(random) * 0.5;
        list.AddCopy(CKeyedItem(key, i, nullptr));
        expected.push_back(key);
    }
    list.SortByKey();
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Keys(list), expected);
    std::vector<bool> seen(1000, false);
    for (int i = 0; i < list.GetSize(); ++i)
        seen[static_cast<std::size_t>(list.GetAt(i)->index)] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 1000);

    // NaN keys go to the end instead of upsetting the sort.
    CKeyedItemList withNan;
    double nan = std::numeric_limits<double>::quiet_NaN();
    for (double key : {2.0, nan, -1.0, nan, 1.0, 0.0})
        withNan.AddCopy(CKeyedItem(key));
    withNan.SortByKey();
    std::vector<double> keys = Keys(withNan);
    EXPECT_EQ(std::vector<double>(keys.begin(), keys.begin() + 4), (std::vector<double>{-1.0, 0.0, 1.0, 2.0}));
    EXPECT_TRUE(std::isnan(keys[4]) && std::isnan(keys[5]));
}

struct Neighbour : CKeyedItem {
    explicit Neighbour(double distance = 0.0) : CKeyedItem(distance) {}
    int extra = 0;
};

TEST(KeyedItemTest, SortPointerArrayServesDerivedRecords)
{
    COwningArray<Neighbour> list;
    for (double d : {4.0, 1.0, 3.0, 2.0})
        list.AddCopy(Neighbour(d));
    SortPointerArray(list);
    for (int i = 0; i < list.GetSize(); ++i)
        EXPECT_EQ(list.GetAt(i)->key, i + 1.0);
}

} // namespace
