#include "DynArray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Cell {
    char name;
};

// Four distinct cells whose addresses the arrays hold.
struct Cells {
    Cell p{'p'}, q{'q'}, r{'r'}, s{'s'}, x{'x'};
};

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

TEST(DynArrayTest, GrowsByTheAutomaticStep)
{
    Cells c;
    CDynArray<Cell> a;
    std::vector<int> capacities;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(a.Add(&c.p), i);
        if (capacities.empty() || capacities.back() != a.GetCapacity())
            capacities.push_back(a.GetCapacity());
    }
    std::vector<int> expected{1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64, 72, 81, 91, 102};
    EXPECT_EQ(capacities, expected);
    EXPECT_EQ(a.GetSize(), 100);
    EXPECT_EQ(a.GetUpperBound(), 99);
}

TEST(DynArrayTest, GrowStepLimitsAndOverrides)
{
    Cells c;
    // The automatic step never exceeds 1024 slots.
    CDynArray<Cell> big;
    big.SetSize(20000, -1);
    big.Add(&c.p);
    EXPECT_EQ(big.GetCapacity(), 20000 + 1024);

    // A larger grow step wins over the automatic one, and sizes the first block.
    CDynArray<Cell> stepped(10);
    stepped.Add(&c.p);
    EXPECT_EQ(stepped.GetCapacity(), 10);
    stepped.SetSize(11, -1);
    EXPECT_EQ(stepped.GetCapacity(), 20);

    // A jump past capacity + step allocates exactly what is asked for.
    CDynArray<Cell> jump;
    jump.Add(&c.p);
    jump.SetSize(50, -1);
    EXPECT_EQ(jump.GetCapacity(), 50);
    EXPECT_EQ(jump.GetAt(0), &c.p);
    for (int i = 1; i < 50; ++i)
        EXPECT_EQ(jump.GetAt(i), nullptr);

    // SetSize stores a non-negative grow step, -1 leaves it.
    jump.SetSize(50, 7);
    EXPECT_EQ(jump.GetGrowBy(), 7);
    jump.SetSize(50, -1);
    EXPECT_EQ(jump.GetGrowBy(), 7);
}

TEST(DynArrayTest, ShrinkKeepsBlockAndRegrowClearsSlots)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q, &c.r, &c.s});
    int capacity = a.GetCapacity();
    a.SetSize(1, -1);
    EXPECT_EQ(a.GetCapacity(), capacity);
    a.SetSize(3, -1);
    EXPECT_EQ(Names(a), "p00");

    a.FreeExtra();
    EXPECT_EQ(a.GetCapacity(), 3);
    EXPECT_EQ(Names(a), "p00");

    // Size 0 frees the block; the next Add starts with max(growBy, 1) slots.
    a.SetSize(0, -1);
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetCapacity(), 0);
    a.Add(&c.x);
    EXPECT_EQ(a.GetCapacity(), 1);
    a.SetSize(0, 6);
    a.Add(&c.x);
    EXPECT_EQ(a.GetCapacity(), 6);

    a.SetSize(-3, -1); // ignored
    EXPECT_EQ(a.GetSize(), 1);
    a.FreeExtra();
    a.RemoveAt(0, 1);
    a.FreeExtra();
    EXPECT_EQ(a.GetData(), nullptr);
}

TEST(DynArrayTest, MoveShiftsTheElementsBetween)
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
    EXPECT_EQ(Names(a), "qsrp");
    a.Swap(0, 3);
    EXPECT_EQ(Names(a), "psrq");
}

TEST(DynArrayTest, InsertInsideAndBeyondTheEnd)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q});
    a.InsertAt(1, &c.x, 2);
    EXPECT_EQ(Names(a), "pxxq");

    a = Make({&c.p, &c.q});
    a.InsertAt(5, &c.x, 1);
    EXPECT_EQ(Names(a), "pq000x");

    a = Make({&c.p, &c.q});
    a.InsertAt(2, &c.x, 1);
    EXPECT_EQ(Names(a), "pqx");

    // Inserting an array into itself takes its pointers as they were.
    a = Make({&c.p, &c.q});
    a.InsertArrayAt(1, &a);
    EXPECT_EQ(Names(a), "ppqq");

    CDynArray<Cell> other = Make({&c.r, &c.s});
    a = Make({&c.p, &c.q});
    a.InsertArrayAt(0, &other);
    EXPECT_EQ(Names(a), "rspq");
    CDynArray<Cell> empty;
    a.InsertArrayAt(1, &empty);
    EXPECT_EQ(Names(a), "rspq");
}

TEST(DynArrayTest, RemoveAtAppendCopy)
{
    Cells c;
    CDynArray<Cell> a = Make({&c.p, &c.q, &c.r, &c.s});
    int capacity = a.GetCapacity();
    a.RemoveAt(1, 2);
    EXPECT_EQ(Names(a), "ps");
    EXPECT_EQ(a.GetCapacity(), capacity);
    a.RemoveAt(1, 0);
    EXPECT_EQ(Names(a), "ps");
    a.RemoveAt(1, 5); // a count past the end removes to the end
    EXPECT_EQ(Names(a), "p");

    CDynArray<Cell> b = Make({&c.q, &c.r});
    EXPECT_EQ(a.Append(b), 1);
    EXPECT_EQ(Names(a), "pqr");
    EXPECT_EQ(a.Append(a), 3);
    EXPECT_EQ(Names(a), "pqrpqr");

    // Copy and assignment share the pointers, not the block.
    CDynArray<Cell> copy(a);
    EXPECT_EQ(Names(copy), "pqrpqr");
    EXPECT_NE(copy.GetData(), a.GetData());
    b = a;
    EXPECT_EQ(Names(b), "pqrpqr");
    b = b;
    EXPECT_EQ(Names(b), "pqrpqr");
    b = CDynArray<Cell>();
    EXPECT_EQ(b.GetSize(), 0);
    EXPECT_EQ(b.GetData(), nullptr);

    // operator[] reaches the slot itself.
    a[0] = &c.s;
    EXPECT_EQ(a.GetAt(0), &c.s);
    *a.ElementAt(1) = &c.x;
    const CDynArray<Cell>& ca = a;
    EXPECT_EQ(ca[1], &c.x);
    a.SetAtGrow(7, &c.p);
    EXPECT_EQ(Names(a), "sxrpqr0p");
}

} // namespace
