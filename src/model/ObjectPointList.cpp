#include "ObjectPoint.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

namespace {

using Base = COwningArray<CObjectPoint>;

// A point waiting to join the array: place is the number of array points
// before it, seq the order of arrival (later points follow equal labels).
struct WaitingKey
{
    int place;
    uint64_t seq;
    CObjectPoint* point;
    // The label's sort key, so that comparisons stay in the tree.
    unsigned char label[CNameBuffer::kSortKeyBytes];
};

struct WaitingLess
{
    bool operator()(const WaitingKey& a, const WaitingKey& b) const
    {
        if (a.place != b.place)
            return a.place < b.place;
        const int order = std::memcmp(a.label, b.label, sizeof a.label);
        if (order != 0)
            return order < 0;
        return a.seq < b.seq;
    }
};

} // namespace

struct CObjectPointList::Waiting
{
    // An order-statistics tree: the rank of a new point is its index among
    // the waiting ones.
    __gnu_pbds::tree<WaitingKey, __gnu_pbds::null_type, WaitingLess, __gnu_pbds::rb_tree_tag,
                     __gnu_pbds::tree_order_statistics_node_update>
        tree;
    uint64_t nextSeq = 0;

    ~Waiting()
    {
        for (const WaitingKey& key : tree)
            delete key.point;
    }
};

CObjectPointList::CObjectPointList(int growBy)
    : Base(growBy)
{
}

CObjectPointList::CObjectPointList(const CObjectPointList& other)
    : Base(other.GetGrowBy())
{
    Copy(other);
}

CObjectPointList::~CObjectPointList() = default;

void CObjectPointList::Merge() const
{
    if (waitingCount.load(std::memory_order_acquire) == 0)
        return;
    // Only the list's own state changes; a list with waiting points was never
    // const, since only InsertSorted adds them.
    auto* self = const_cast<CObjectPointList*>(this);
    std::lock_guard<std::mutex> lock(self->waitingLock);
    if (waitingCount.load(std::memory_order_relaxed) == 0)
        return;
    self->MergeLocked();
}

void CObjectPointList::MergeLocked()
{
    const bool known = OrderKnown();
    std::vector<WaitingKey> keys(waiting->tree.begin(), waiting->tree.end());
    waiting->tree.clear();
    const int n = array.GetSize();
    const int p = static_cast<int>(keys.size());
    array.SetSize(n + p, -1);
    CObjectPoint** data = array.GetData();
    // From the back: waiting point k lands at its place plus the k waiting
    // points before it.
    int source = n - 1;
    int target = n + p - 1;
    for (int k = p - 1; k >= 0; --k) {
        const int at = keys[static_cast<size_t>(k)].place + k;
        while (target > at)
            data[target--] = data[source--];
        data[target--] = keys[static_cast<size_t>(k)].point;
    }
    const uint64_t now = changes.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (known)
        orderChanges.store(now, std::memory_order_release);
    waitingCount.store(0, std::memory_order_release);
}

void CObjectPointList::Changing()
{
    Merge();
    changes.fetch_add(1, std::memory_order_acq_rel);
}

bool CObjectPointList::OrderKnown() const
{
    return orderChanges.load(std::memory_order_acquire) == changes.load(std::memory_order_acquire) &&
           orderLabels.load(std::memory_order_acquire) == CNameBuffer::WatchedChanges();
}

bool CObjectPointList::CheckOrder(bool sort)
{
    const uint64_t labels = CNameBuffer::WatchedChanges();
    const int n = array.GetSize();
    CObjectPoint** data = array.GetData();
    for (int i = 0; i < n; ++i)
        if (data[i] == nullptr)
            return false;
    bool inOrder = true;
    for (int i = 0; i < n; ++i) {
        data[i]->label.Watch();
        if (i > 0 && data[i]->label < data[i - 1]->label)
            inOrder = false;
    }
    if (!inOrder) {
        if (!sort)
            return false;
        std::stable_sort(data, data + n,
                         [](const CObjectPoint* a, const CObjectPoint* b) { return a->label < b->label; });
    }
    orderLabels.store(labels, std::memory_order_release);
    orderChanges.store(changes.load(std::memory_order_acquire), std::memory_order_release);
    return true;
}

bool CObjectPointList::BinarySearch(const CNameBuffer& key, int& index) const
{
    int low = 0;
    int high = GetSize() - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        index = mid;
        const CObjectPoint* p = GetAt(mid);
        if (p == nullptr)
            return false;
        if (p->label == key)
            return true;
        if (key < p->label)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return false;
}

bool CObjectPointList::SortByLabel()
{
    Merge();
    if (array.GetSize() < 2)
        return true;
    std::lock_guard<std::mutex> lock(orderLock);
    // Lookups sort first, so the common case is a list known to be in order.
    if (OrderKnown())
        return true;
    return CheckOrder(true);
}

CObjectPoint* CObjectPointList::FindByLabel(const CNameBuffer& key)
{
    SortByLabel();
    int index = -1;
    return BinarySearch(key, index) ? GetAt(index) : nullptr;
}

CObjectPoint* CObjectPointList::FindByText(const char* text)
{
    CNameBuffer key;
    key.Set(text);
    return FindByLabel(key);
}

void CObjectPointList::RemovePointer(const CObjectPoint* point)
{
    Changing();
    for (int i = 0; i < array.GetSize(); ++i) {
        if (array.GetAt(i) == point) {
            array.RemoveAt(i, 1);
            return;
        }
    }
}

int CObjectPointList::InsertSorted(const CObjectPoint& point)
{
    // Waiting points were placed in an order that may since have changed:
    // they join first, where they were placed.
    if (waitingCount.load(std::memory_order_relaxed) != 0 && !OrderKnown())
        Merge();
    bool inOrder = false;
    {
        std::lock_guard<std::mutex> lock(orderLock);
        inOrder = OrderKnown() || (waitingCount.load(std::memory_order_relaxed) == 0 && CheckOrder(false));
    }
    if (!inOrder)
        return InsertNow(point);

    // After the last array point whose label is not greater.
    const int n = array.GetSize();
    CObjectPoint* const* data = array.GetData();
    int low = 0;
    int high = n;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (point.label >= data[mid]->label)
            low = mid + 1;
        else
            high = mid;
    }
    if (!waiting)
        waiting = std::make_unique<Waiting>();
    auto copy = std::make_unique<CObjectPoint>(point);
    copy->label.Watch();
    WaitingKey key{low, waiting->nextSeq++, copy.get(), {}};
    point.label.GetSortKey(key.label);
    const int rank = static_cast<int>(waiting->tree.order_of_key(key));
    waiting->tree.insert(key);
    copy.release();
    waitingCount.store(static_cast<int>(waiting->tree.size()), std::memory_order_release);
    return low + rank;
}

int CObjectPointList::InsertNow(const CObjectPoint& point)
{
    const int n = GetSize();
    if (n == 0) {
        AddCopy(point);
        return 0;
    }
    // A list out of order: the place a binary search finds when its
    // neighbours agree, else the count of points that are not greater.
    int low = 0;
    int high = n;
    bool ordered = true;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        const CObjectPoint* p = GetAt(mid);
        if (p == nullptr) {
            ordered = false;
            break;
        }
        if (point.label >= p->label)
            low = mid + 1;
        else
            high = mid;
    }
    if (ordered) {
        const CObjectPoint* before = low > 0 ? GetAt(low - 1) : nullptr;
        const CObjectPoint* after = low < n ? GetAt(low) : nullptr;
        ordered = (low == 0 || (before != nullptr && point.label >= before->label)) &&
                  (low == n || (after != nullptr && point.label < after->label));
    }
    int k = low;
    if (!ordered) {
        k = 0;
        for (int i = 0; i < n; ++i) {
            const CObjectPoint* p = GetAt(i);
            if (p != nullptr && point.label >= p->label)
                ++k;
        }
    }
    if (k == n)
        AddCopy(point);
    else
        InsertAt(k, point, 1);
    return k;
}

// ---------------------------------------------------------------- collection

int CObjectPointList::GetSize() const
{
    Merge();
    return array.GetSize();
}

int CObjectPointList::GetUpperBound() const
{
    Merge();
    return array.GetUpperBound();
}

CObjectPoint* CObjectPointList::GetAt(int i) const
{
    Merge();
    return array.GetAt(i);
}

CObjectPoint* const* CObjectPointList::GetData() const
{
    Merge();
    return array.GetData();
}

CObjectPoint** CObjectPointList::GetData()
{
    Changing();
    return array.GetData();
}

CDynArray<CObjectPoint>& CObjectPointList::GetArray()
{
    Changing();
    return array;
}

const CDynArray<CObjectPoint>& CObjectPointList::GetArray() const
{
    Merge();
    return array;
}

void CObjectPointList::SetSizeTruncate(int n, int growBy)
{
    Changing();
    Base::SetSizeTruncate(n, growBy);
}

void CObjectPointList::FreeExtra()
{
    Merge();
    Base::FreeExtra();
}

void CObjectPointList::RemoveAll()
{
    Changing();
    Base::RemoveAll();
}

void CObjectPointList::SetAt(int i, const CObjectPoint& value)
{
    Changing();
    Base::SetAt(i, value);
}

void CObjectPointList::SetSize(int n, int growBy)
{
    Changing();
    Base::SetSize(n, growBy);
}

CObjectPoint* CObjectPointList::SetAtGrow(int i, const CObjectPoint& value)
{
    Changing();
    return Base::SetAtGrow(i, value);
}

CObjectPoint* CObjectPointList::AddCopy(const CObjectPoint& value)
{
    Changing();
    return Base::AddCopy(value);
}

CObjectPoint* CObjectPointList::AddNew()
{
    Changing();
    return Base::AddNew();
}

void CObjectPointList::Copy(const CDynArray<CObjectPoint>& other)
{
    Changing();
    Base::Copy(other);
}

void CObjectPointList::Copy(const COwningArray<CObjectPoint>& other)
{
    if (const auto* list = dynamic_cast<const CObjectPointList*>(&other))
        list->Merge();
    Changing();
    Base::Copy(other);
}

void CObjectPointList::InsertAt(int i, const CObjectPoint& value, int n)
{
    Changing();
    Base::InsertAt(i, value, n);
}

void CObjectPointList::RemoveAt(int i, int n)
{
    Changing();
    Base::RemoveAt(i, n);
}

void CObjectPointList::Remove(CObjectPoint* p)
{
    Changing();
    Base::Remove(p);
}

void CObjectPointList::Swap(int i, int j)
{
    Changing();
    Base::Swap(i, j);
}

void CObjectPointList::Move(int to, int from)
{
    Changing();
    Base::Move(to, from);
}

void CObjectPointList::SwapElements(CObjectPointList& other) noexcept
{
    Changing();
    other.Changing();
    Base::SwapElements(other);
}
