#include "OwningArray.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Element that counts its live instances and how it was made.
struct Tracked {
    static int live;
    static int copies;
    int value = -1;
    bool defaulted = true;

    Tracked() { ++live; }
    explicit Tracked(int v) : value(v), defaulted(false) { ++live; }
    Tracked(const Tracked& o) : value(o.value), defaulted(o.defaulted)
    {
        ++live;
        ++copies;
    }
    Tracked& operator=(const Tracked& o)
    {
        value = o.value;
        defaulted = o.defaulted;
        return *this;
    }
    virtual ~Tracked() { --live; }
};
int Tracked::live = 0;
int Tracked::copies = 0;

// Derived element, deleted through the base's virtual destructor.
struct TrackedChild : Tracked {
    static int destroyed;
    ~TrackedChild() override { ++destroyed; }
};
int TrackedChild::destroyed = 0;

class OwningArrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tracked::live = 0;
        Tracked::copies = 0;
    }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0) << "elements leaked or deleted twice"; }
};

std::string Values(const COwningArray<Tracked>& a)
{
    std::string out;
    for (int i = 0; i < a.GetSize(); ++i) {
        if (!out.empty())
            out += ' ';
        out += a.GetAt(i) ? std::to_string(a.GetAt(i)->value) : "null";
    }
    return out;
}

TEST_F(OwningArrayTest, SetSizeFillsWithDefaultsAndTruncateLeavesNull)
{
    COwningArray<Tracked> a;
    a.AddCopy(Tracked(1));
    a.SetSize(3, -1);
    EXPECT_EQ(Values(a), "1 -1 -1");
    EXPECT_TRUE(a.GetAt(2)->defaulted);
    EXPECT_EQ(Tracked::live, 3);

    a.SetSizeTruncate(5, -1);
    EXPECT_EQ(Values(a), "1 -1 -1 null null");
    EXPECT_EQ(Tracked::live, 3);

    // Assigning into a null slot gives it its own element.
    a.SetAt(4, Tracked(9));
    EXPECT_EQ(Values(a), "1 -1 -1 null 9");

    a.SetSize(2, -1);
    EXPECT_EQ(Values(a), "1 -1");
    EXPECT_EQ(Tracked::live, 2);

    // Equal size changes nothing, not even the grow step.
    a.SetSize(2, 8);
    EXPECT_EQ(a.GetGrowBy(), 0);
    a.SetSize(-1, -1);
    EXPECT_EQ(a.GetSize(), 2);
    a.SetSize(0, -1);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(Tracked::live, 0);
}

TEST_F(OwningArrayTest, SetAtGrowCopiesValueIntoEveryNewSlot)
{
    COwningArray<Tracked> a;
    a.AddNew();
    a.AddNew();
    Tracked* first = a.GetAt(0);
    Tracked* got = a.SetAtGrow(4, Tracked(7));
    EXPECT_EQ(Values(a), "-1 -1 7 7 7");
    EXPECT_EQ(got, a.GetAt(4));
    EXPECT_NE(a.GetAt(2), a.GetAt(3));

    // Inside the collection the existing element is assigned, not replaced.
    got = a.SetAtGrow(0, Tracked(3));
    EXPECT_EQ(got, first);
    EXPECT_EQ(first->value, 3);

    // The value may be an element of the collection itself.
    a.SetAtGrow(6, *a.GetAt(0));
    EXPECT_EQ(Values(a), "3 -1 7 7 7 3 3");
    a.SetAt(1, *a.GetAt(1));
    EXPECT_EQ(a.GetAt(1)->value, -1);
}

TEST_F(OwningArrayTest, CopyIsDeepAndSafeAgainstAliasing)
{
    COwningArray<Tracked> a;
    for (int i = 0; i < 3; ++i)
        a.AddCopy(Tracked(i));
    COwningArray<Tracked> b;
    b.AddCopy(Tracked(42));

    b = a;
    EXPECT_EQ(Values(b), "0 1 2");
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(a.GetAt(i), b.GetAt(i));
    b.GetAt(0)->value = 10;
    EXPECT_EQ(a.GetAt(0)->value, 0);

    // Self-assignment keeps everything.
    b = b;
    EXPECT_EQ(Values(b), "10 1 2");
    b.Copy(b.GetArray());
    EXPECT_EQ(Values(b), "10 1 2");

    // A pointer array holding this collection's own elements.
    CDynArray<Tracked> view;
    view.Add(b.GetAt(2));
    view.Add(nullptr);
    view.Add(b.GetAt(0));
    b = view;
    EXPECT_EQ(Values(b), "2 null 10");

    COwningArray<Tracked> c(a);
    EXPECT_NE(c.GetAt(1), a.GetAt(1));

    // Copying from an empty collection empties and frees this one.
    int before = Tracked::live;
    c = COwningArray<Tracked>();
    EXPECT_EQ(c.GetSize(), 0);
    EXPECT_EQ(c.GetData(), nullptr);
    EXPECT_EQ(Tracked::live, before - 3);
}

TEST_F(OwningArrayTest, InsertRemoveAndMove)
{
    COwningArray<Tracked> a;
    a.AddCopy(Tracked(1));
    a.AddCopy(Tracked(2));
    a.InsertAt(1, Tracked(5), 2);
    EXPECT_EQ(Values(a), "1 5 5 2");
    EXPECT_NE(a.GetAt(1), a.GetAt(2));
    a.InsertAt(6, Tracked(8), 1);
    EXPECT_EQ(Values(a), "1 5 5 2 null null 8");

    a.RemoveAt(3, 3);
    EXPECT_EQ(Values(a), "1 5 5 8");
    EXPECT_EQ(Tracked::live, 4);
    a.RemoveAt(2, 0);
    EXPECT_EQ(a.GetSize(), 4);

    Tracked outsider(99);
    a.Remove(&outsider);
    EXPECT_EQ(Values(a), "1 5 5 8");
    Tracked* second = a.GetAt(2);
    a.Remove(second);
    EXPECT_EQ(Values(a), "1 5 8");

    a.Move(0, 2);
    EXPECT_EQ(Values(a), "8 1 5");
    a.Swap(0, 2);
    EXPECT_EQ(Values(a), "5 1 8");
}

TEST_F(OwningArrayTest, ElementsAreDeletedThroughTheirVirtualDestructor)
{
    TrackedChild::destroyed = 0;
    {
        COwningArray<Tracked> a;
        a.GetArray().Add(new TrackedChild);
        a.GetArray().Add(new TrackedChild);
        a.RemoveAt(0, 1);
        EXPECT_EQ(TrackedChild::destroyed, 1);
    }
    EXPECT_EQ(TrackedChild::destroyed, 2);
}

} // namespace
