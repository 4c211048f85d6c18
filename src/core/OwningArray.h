// Collection that owns its elements: it creates them (default or as copies),
// assigns them and deletes them when they leave. The element pointers live in
// an inner CDynArray. The operations that create, copy, assign or delete an
// element are virtual so that a record collection can replace them; they use
// only T's default constructor, copy constructor, assignment and destructor.
#pragma once

#include "DynArray.h"

#include <algorithm>
#include <utility>
#include <vector>

template <class T>
class COwningArray {
public:
    explicit COwningArray(int growBy = 0) : array(growBy) {}

    // Deep copy.
    COwningArray(const COwningArray& other) : array(other.array.GetGrowBy()) { Copy(other); }

    COwningArray(COwningArray&& other) noexcept : array(std::move(other.array)) {}

    // Deletes the elements from n to the end (when n is below the size), then
    // sets the size; new slots hold null. A negative n changes nothing.
    virtual void SetSizeTruncate(int n, int growBy)
    {
        if (n < 0)
            return;
        for (int i = n; i < array.GetSize(); ++i) {
            delete array.GetAt(i);
            array.SetAt(i, nullptr);
        }
        array.SetSize(n, growBy);
    }

    virtual ~COwningArray() { COwningArray::RemoveAll(); }

    virtual int GetSize() const { return array.GetSize(); }
    virtual int GetUpperBound() const { return array.GetUpperBound(); }
    virtual int GetGrowBy() const { return array.GetGrowBy(); }
    virtual void SetGrowBy(int growBy) { array.SetGrowBy(growBy); }
    virtual void FreeExtra() { array.FreeExtra(); }
    // Makes room for n elements without changing the size.
    void Reserve(int n) { array.Reserve(n); }
    // Exchanges the elements with the other collection; nothing is copied.
    void SwapElements(COwningArray& other) noexcept { array.SwapContents(other.array); }

    // Deletes every element and frees the block.
    virtual void RemoveAll()
    {
        if (array.GetData() == nullptr)
            return;
        for (int i = 0; i < array.GetSize(); ++i)
            delete array.GetAt(i);
        array.RemoveAll();
    }

    virtual T* GetAt(int i) const { return array.GetAt(i); }

    // Assigns value to the element at i (a null slot receives a copy).
    virtual void SetAt(int i, const T& value)
    {
        T* element = array.GetAt(i);
        if (element != nullptr)
            *element = value;
        else
            array.SetAt(i, new T(value));
    }

    virtual T* const* GetData() const { return array.GetData(); }
    virtual T** GetData() { return array.GetData(); }

    virtual CDynArray<T>& GetArray() { return array; }
    virtual const CDynArray<T>& GetArray() const { return array; }

    // Growing fills the new slots with default elements; shrinking deletes
    // the elements beyond n.
    virtual void SetSize(int n, int growBy)
    {
        int oldSize = array.GetSize();
        if (n == oldSize || n < 0)
            return;
        SetSizeTruncate(n, growBy);
        for (int i = oldSize; i < n; ++i)
            array.SetAt(i, new T());
    }

    // Assigns value at i; beyond the end, every new slot up to i receives a
    // copy of value. Returns the element at i.
    virtual T* SetAtGrow(int i, const T& value)
    {
        int oldSize = array.GetSize();
        if (i < oldSize) {
            SetAt(i, value);
            return array.GetAt(i);
        }
        SetSizeTruncate(i + 1, -1);
        for (int k = oldSize; k <= i; ++k)
            array.SetAt(k, new T(value));
        return array.GetAt(i);
    }

    virtual T* AddCopy(const T& value)
    {
        T* element = new T(value);
        array.Add(element);
        return element;
    }

    virtual T* AddNew()
    {
        T* element = new T();
        array.Add(element);
        return element;
    }

    virtual T* operator[](int i) { return array.GetAt(i); }
    virtual T* operator[](int i) const { return array.GetAt(i); }

    // Replaces the elements by copies of the other's. The copies are made
    // before the old elements go, so the source may point into this
    // collection. Null pointers stay null.
    virtual void Copy(const CDynArray<T>& other)
    {
        if (&other == &array)
            return;
        std::vector<T*> copies;
        copies.reserve(static_cast<std::size_t>(std::max(other.GetSize(), 0)));
        for (int k = 0; k < other.GetSize(); ++k) {
            const T* source = other.GetAt(k);
            copies.push_back(source != nullptr ? new T(*source) : nullptr);
        }
        RemoveAll();
        SetSizeTruncate(static_cast<int>(copies.size()), -1);
        for (std::size_t k = 0; k < copies.size(); ++k)
            array.SetAt(static_cast<int>(k), copies[k]);
    }

    virtual void Copy(const COwningArray& other)
    {
        if (&other != this)
            Copy(other.array);
    }

    virtual COwningArray& operator=(const CDynArray<T>& other)
    {
        Copy(other);
        return *this;
    }

    virtual COwningArray& operator=(const COwningArray& other)
    {
        Copy(other);
        return *this;
    }

    // Inserts n copies of value at i.
    virtual void InsertAt(int i, const T& value, int n)
    {
        if (n <= 0 || i < 0)
            return;
        array.InsertAt(i, nullptr, n);
        for (int k = i; k < i + n; ++k)
            array.SetAt(k, new T(value));
    }

    // Deletes the n elements from i.
    virtual void RemoveAt(int i, int n)
    {
        if (n <= 0 || i < 0 || i >= array.GetSize())
            return;
        n = std::min(n, array.GetSize() - i);
        for (int k = i; k < i + n; ++k)
            delete array.GetAt(k);
        array.RemoveAt(i, n);
    }

    // Deletes the element p if it is in the collection.
    virtual void Remove(T* p)
    {
        for (int i = 0; i < array.GetSize(); ++i) {
            if (array.GetAt(i) == p) {
                RemoveAt(i, 1);
                return;
            }
        }
    }

    virtual void Swap(int i, int j) { array.Swap(i, j); }
    virtual void Move(int to, int from) { array.Move(to, from); }

protected:
    CDynArray<T> array;
};
