// Growable array of element pointers. It does not own what its pointers
// point to. Indices are not checked: callers keep them within
// 0 .. GetSize() - 1, except where an operation grows the array.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

template <class T>
class CDynArray {
public:
    explicit CDynArray(int growBy = 0) : growBy(growBy < 0 ? 0 : growBy) {}

    CDynArray(const CDynArray& other) : growBy(other.growBy) { Copy(other); }

    CDynArray(CDynArray&& other) noexcept
        : data(other.data), size(other.size), capacity(other.capacity), growBy(other.growBy)
    {
        other.data = nullptr;
        other.size = 0;
        other.capacity = 0;
    }

    virtual ~CDynArray()
    {
        delete[] data;
        data = nullptr;
        size = 0;
        capacity = 0;
    }

    virtual int GetSize() const { return size; }
    virtual int GetUpperBound() const { return size - 1; }
    virtual int GetGrowBy() const { return growBy; }

    // Sets the number of elements. A growBy of -1 keeps the stored step.
    // Shrinking only lowers the size; growing clears the new slots.
    // A negative n changes nothing.
    virtual void SetSize(int n, int newGrowBy)
    {
        if (newGrowBy >= 0)
            growBy = newGrowBy;
        if (n < 0)
            return;
        if (n == 0) {
            RemoveAll();
            return;
        }
        if (data == nullptr) {
            capacity = std::max(growBy, n);
            data = new T*[static_cast<std::size_t>(capacity)]();
        } else if (n > capacity) {
            // Geometric growth, so that adding n elements costs O(n).
            int step = std::max(capacity / 2, 4);
            if (growBy > step)
                step = growBy;
            std::int64_t grown = static_cast<std::int64_t>(capacity) + step;
            int newCapacity = grown > n ? static_cast<int>(std::min<std::int64_t>(grown, INT32_MAX)) : n;
            T** block = new T*[static_cast<std::size_t>(newCapacity)]();
            std::copy(data, data + size, block);
            delete[] data;
            data = block;
            capacity = newCapacity;
        } else if (n > size) {
            std::fill(data + size, data + n, nullptr);
        }
        size = n;
    }

    // Makes room for n elements without changing the size.
    void Reserve(int n)
    {
        if (n <= capacity)
            return;
        T** block = new T*[static_cast<std::size_t>(n)]();
        if (data != nullptr)
            std::copy(data, data + size, block);
        delete[] data;
        data = block;
        capacity = n;
    }

    // Exchanges the elements (and growth steps) with the other array.
    void SwapContents(CDynArray& other) noexcept
    {
        std::swap(data, other.data);
        std::swap(size, other.size);
        std::swap(capacity, other.capacity);
        std::swap(growBy, other.growBy);
    }

    virtual void SetGrowBy(int newGrowBy) { growBy = newGrowBy < 0 ? 0 : newGrowBy; }

    // Shrinks the block to exactly the elements in use.
    virtual void FreeExtra()
    {
        if (size == capacity)
            return;
        T** block = nullptr;
        if (size > 0) {
            block = new T*[static_cast<std::size_t>(size)];
            std::copy(data, data + size, block);
        }
        delete[] data;
        data = block;
        capacity = size;
    }

    // Frees the block; the elements themselves are left alone.
    virtual void RemoveAll()
    {
        delete[] data;
        data = nullptr;
        size = 0;
        capacity = 0;
    }

    virtual T* GetAt(int i) const { return data[i]; }
    virtual void SetAt(int i, T* p) { data[i] = p; }
    virtual T** ElementAt(int i) { return data + i; }
    virtual T* const* GetData() const { return data; }
    virtual T** GetData() { return data; }

    virtual void SetAtGrow(int i, T* p)
    {
        if (i >= size)
            SetSize(i + 1, -1);
        data[i] = p;
    }

    // Appends p; returns its index.
    virtual int Add(T* p)
    {
        int index = size;
        SetAtGrow(index, p);
        return index;
    }

    // Appends the other's pointers; returns the old size.
    virtual int Append(const CDynArray& other)
    {
        int oldSize = size;
        int count = other.GetSize();
        if (count <= 0)
            return oldSize;
        std::vector<T*> source(other.GetData(), other.GetData() + count);
        SetSize(oldSize + count, -1);
        std::copy(source.begin(), source.end(), data + oldSize);
        return oldSize;
    }

    virtual void Copy(const CDynArray& other)
    {
        if (&other == this)
            return;
        if (other.GetSize() <= 0) {
            RemoveAll();
            return;
        }
        SetSize(other.GetSize(), -1);
        std::copy(other.GetData(), other.GetData() + other.GetSize(), data);
    }

    virtual T*& operator[](int i) { return *ElementAt(i); }
    virtual T* operator[](int i) const { return GetAt(i); }

    virtual CDynArray& operator=(const CDynArray& other)
    {
        Copy(other);
        return *this;
    }

    // Inserts the other's pointers at i (the other may be this array).
    virtual void InsertArrayAt(int i, CDynArray* other)
    {
        if (other == nullptr || other->GetSize() <= 0)
            return;
        int count = other->GetSize();
        std::vector<T*> source(other->GetData(), other->GetData() + count);
        InsertAt(i, source[0], count);
        for (int k = 0; k < count; ++k)
            SetAt(i + k, source[static_cast<std::size_t>(k)]);
    }

    // Inserts n copies of p at i; an i beyond the end grows the array with
    // null slots up to i.
    virtual void InsertAt(int i, T* p, int n)
    {
        if (n <= 0 || i < 0)
            return;
        if (i < size) {
            int oldSize = size;
            SetSize(size + n, -1);
            std::copy_backward(data + i, data + oldSize, data + oldSize + n);
        } else {
            SetSize(i + n, -1);
        }
        std::fill(data + i, data + i + n, p);
    }

    // Removes n pointers from i; the block is not shrunk.
    virtual void RemoveAt(int i, int n)
    {
        if (n <= 0 || i < 0 || i >= size)
            return;
        n = std::min(n, size - i);
        std::copy(data + i + n, data + size, data + i);
        size -= n;
    }

    virtual void Swap(int i, int j) { std::swap(data[i], data[j]); }

    // Moves the pointer at from to to; the ones between shift by one place
    // towards from.
    virtual void Move(int to, int from)
    {
        if (to == from)
            return;
        T* moving = data[from];
        if (to > from)
            std::copy(data + from + 1, data + to + 1, data + from);
        else
            std::copy_backward(data + to, data + from, data + from + 1);
        data[to] = moving;
    }

    // Number of pointer slots allocated.
    int GetCapacity() const { return capacity; }

protected:
    T** data = nullptr;
    int size = 0;
    int capacity = 0;
    int growBy = 0;
};
