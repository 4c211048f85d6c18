// The non-owning point array: taking a pointer out, finding by label in
// array order, keeping entries by a rule.
#include <gtest/gtest.h>

#include "ObjectPointArray.h"

#include <string>
#include <vector>

namespace object_point_array_test {

std::vector<std::string> Labels(const CObjectPointArray& array)
{
    std::vector<std::string> out;
    for (int i = 0; i < array.GetSize(); ++i)
        out.emplace_back(array.GetAt(i)->label.GetText());
    return out;
}

TEST(ObjectPointArray, RemovePointerFindByLabelAndRemoveUnless)
{
    CObjectPoint a("A", 0, 0, 0), b("B", 1, 0, 0), c("C", 2, 0, 0), other("B", 9, 9, 9);
    CObjectPointArray array;
    for (CObjectPoint* p : {&c, &a, &b, &a})
        array.Add(p);
    // The first entry of the pointer goes; the order stays.
    array.RemovePointer(&a);
    EXPECT_EQ(Labels(array), (std::vector<std::string>{"C", "B", "A"}));
    array.RemovePointer(&other); // not there: nothing changes
    EXPECT_EQ(array.GetSize(), 3);
    // By label in array order, without sorting; the first of two equal labels.
    array.Add(&other);
    EXPECT_EQ(array.FindByLabel(CNameBuffer("B")), &b);
    EXPECT_EQ(array.FindByLabel(CNameBuffer("Z")), nullptr);
    EXPECT_EQ(Labels(array), (std::vector<std::string>{"C", "B", "A", "B"}));
    array.RemoveUnless([](CObjectPoint* p) { return p->x < 5.0 && p->label != CNameBuffer("A"); });
    EXPECT_EQ(Labels(array), (std::vector<std::string>{"C", "B"}));
    EXPECT_EQ(array.GetAt(1), &b);
}

} // namespace object_point_array_test
