// A number to sort by, attached to an arbitrary item, and the list that
// sorts such records.
#pragma once

#include "OwningArray.h"

#include <cmath>
#include <cstdlib>
#include <type_traits>

class CKeyedItem {
public:
    CKeyedItem(double key = 0.0, int index = 0, void* item = nullptr) : key(key), index(index), item(item) {}
    CKeyedItem(const CKeyedItem&) = default;
    CKeyedItem& operator=(const CKeyedItem&) = default;
    virtual ~CKeyedItem();

    double key;
    int index;
    void* item; // not owned
};

// Orders two element pointers of a pointer block by the keys of the records
// they point at: 1 for a greater key, -1 for a smaller one, 0 otherwise.
// NaN keys sort after every number, and null pointers after those, so that
// the order stays consistent.
int CompareKeyedItemPointers(const void* a, const void* b);

// Sorts the collection's pointer block in place, ascending by key; equal keys
// end in no defined order. T is CKeyedItem or a record derived from it.
template <class T>
void SortPointerArray(COwningArray<T>& list)
{
    static_assert(std::is_base_of<CKeyedItem, T>::value, "elements must be keyed items");
    int count = list.GetSize();
    if (count < 2)
        return;
    if constexpr (std::is_same<T, CKeyedItem>::value) {
        std::qsort(list.GetData(), static_cast<std::size_t>(count), sizeof(T*), &CompareKeyedItemPointers);
    } else {
        std::qsort(list.GetData(), static_cast<std::size_t>(count), sizeof(T*), [](const void* a, const void* b) {
            const CKeyedItem* ka = *static_cast<T* const*>(a);
            const CKeyedItem* kb = *static_cast<T* const*>(b);
            return CompareKeyedItemPointers(&ka, &kb);
        });
    }
}

class CKeyedItemList : public COwningArray<CKeyedItem> {
public:
    explicit CKeyedItemList(int growBy = 0) : COwningArray<CKeyedItem>(growBy) {}

    // Sorts the items ascending by key.
    void SortByKey();
};
