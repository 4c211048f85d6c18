#include "KeyedItem.h"

CKeyedItem::~CKeyedItem() = default;

int CompareKeyedItemPointers(const void* a, const void* b)
{
    const CKeyedItem* ia = *static_cast<const CKeyedItem* const*>(a);
    const CKeyedItem* ib = *static_cast<const CKeyedItem* const*>(b);
    if (ia == nullptr || ib == nullptr)
        return ia == ib ? 0 : (ia == nullptr ? 1 : -1);
    double ka = ia->key;
    double kb = ib->key;
    bool nanA = std::isnan(ka);
    bool nanB = std::isnan(kb);
    if (nanA || nanB)
        return nanA == nanB ? 0 : (nanA ? 1 : -1);
    if (ka > kb)
        return 1;
    if (ka < kb)
        return -1;
    return 0;
}

void CKeyedItemList::SortByKey()
{
    SortPointerArray(*this);
}
