#include "DynArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Cell {
    char name;
};

struct Cells {
    Cell p{'p'}, q{'q'}, r{'r'}, s{'s'}, x{'x'};
};

// The array as letters, '0' for a null slot.
std::string Names(const CDynArray<Cell>& a)
{
    std::string out;
    for (int i = 0; i < a.GetSize(); ++i)
        out += a.GetAt(i) ? a.GetAt(i)->name : '0';
    return out;
}

CDynArray<Cell> Make(std::initializer_list<Cell*> cells)
{
    CDynArray<Cell> a;
    for (Cell* c : cells)
        a.Add(c);
    return a;
}

TEST(DynArrayTest, GrowthFollowsTheAutomaticAndTheGivenStep)
{
    Cells c;
    // Growth is geometric: each new block is at least half again as large,
    // so a million additions take a few dozen blocks.
    CDynArray<Cell> a;
    int blocks = 0;
    std::int64_t last = 0;
    for (int i = 0; i < 1000000; ++i) {
        ASSERT_EQ(a.Add(&c.p), i);
        if (a.GetCapacity() != last) {
            EXPECT_GE(a.GetCapacity(), last * 3 / 2);
            last = a.GetCapacity();
            ++blocks;
        }
    }
    EXPECT_LT(blocks, 40);

    // A jump past the end fills with null slots and keeps the given step.
    CDynArray<Cell> jump;
    jump.Add(&c.p);
    jump.SetSize(50, 7);
    EXPECT_EQ(jump.GetGrowBy(), 7);
    EXPECT_EQ(Names(jump), "p" + std::string(49, '0'));
}

TEST(DynArrayTest, ShrinkKeepsTheBlockAndSizeZeroFreesIt)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q, &c.r, &c.s});
    int capacity = a.GetCapacity();
    a.SetSize(1, -1);
    EXPECT_EQ(a.GetCapacity(), capacity);
    a.SetSize(3, -1); // regrown slots are cleared, not the old pointers
    EXPECT_EQ(Names(a), "p00");
    a.FreeExtra();
    EXPECT_EQ(a.GetCapacity(), 3);
    EXPECT_EQ(Names(a), "p00");

    a.SetSize(0, -1);
    EXPECT_EQ(a.GetData(), nullptr);
    a.Add(&c.x);
    EXPECT_EQ(a.GetCapacity(), 1);
    a.SetSize(0, 6);
    a.Add(&c.x);
    EXPECT_EQ(a.GetCapacity(), 6);
    a.SetSize(-3, -1);
    EXPECT_EQ(a.GetSize(), 1);
}

TEST(DynArrayTest, MoveAndSwap)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q, &c.r, &c.s});
    a.Move(0, 3);
    EXPECT_EQ(Names(a), "spqr");
    a = Make({&c.p, &c.q, &c.r, &c.s});
    a.Move(3, 0);
    EXPECT_EQ(Names(a), "qrsp");
    a.Move(1, 2);
    EXPECT_EQ(Names(a), "qsrp");
    a.Move(2, 2);
    a.Swap(0, 3);
    EXPECT_EQ(Names(a), "psrq");
}

TEST(DynArrayTest, InsertInsideBeyondTheEndAndFromItself)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q});
    a.InsertAt(1, &c.x, 2);
    EXPECT_EQ(Names(a), "pxxq");

    a = Make({&c.p, &c.q});
    a.InsertAt(5, &c.x, 1);
    EXPECT_EQ(Names(a), "pq000x");

    a = Make({&c.p, &c.q});
    a.InsertArrayAt(1, &a);
    EXPECT_EQ(Names(a), "ppqq");

    CDynArray<Cell> other = Make({&c.r, &c.s});
    a = Make({&c.p, &c.q});
    a.InsertArrayAt(0, &other);
    EXPECT_EQ(Names(a), "rspq");
}

TEST(DynArrayTest, RemoveAppendAndCopy)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q, &c.r, &c.s});
    int capacity = a.GetCapacity();
    a.RemoveAt(1, 2);
    EXPECT_EQ(Names(a), "ps");
    EXPECT_EQ(a.GetCapacity(), capacity);
    a.RemoveAt(1, 5); // a count past the end removes to the end
    EXPECT_EQ(Names(a), "p");

    CDynArray<Cell> b = Make({&c.q, &c.r});
    EXPECT_EQ(a.Append(b), 1);
    EXPECT_EQ(a.Append(a), 3);
    EXPECT_EQ(Names(a), "pqrpqr");

    // Copies share the pointers, not the block.
    CDynArray<Cell> copy(a);
    EXPECT_NE(copy.GetData(), a.GetData());
    b = a;
    b = b;
    EXPECT_EQ(Names(b), "pqrpqr");
    b = CDynArray<Cell>();
    EXPECT_EQ(b.GetData(), nullptr);

    a[0] = &c.s;
    a.SetAtGrow(7, &c.p);
    EXPECT_EQ(Names(a), "sqrpqr0p");
}

} // namespace
