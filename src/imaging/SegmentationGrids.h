// Grids of 32-bit and 8-bit cells addressed by row pointers, the contour
// tools over them, their text dump, and the owning list of ints the
// segmentation uses for label sets.
#pragma once

#include "OwningArray.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Grid of cells held as one block with a pointer per row. Without cells the
// row array is null and both counts are 0.
template <class T>
class CGridBase {
public:
    CGridBase(int rows, int columns)
    {
        if (rows != 0 && columns != 0)
            Allocate(rows, columns);
    }
    CGridBase(const CGridBase& other) { CopyFrom(other); }
    virtual ~CGridBase() = default;

    // Allocates the other's size and copies every row.
    virtual bool CopyFrom(const CGridBase& other)
    {
        if (&other == this)
            return true;
        if (!Allocate(other.rows, other.columns))
            return false;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                rowPointers[size_t(r)][c] = other.rowPointers[size_t(r)][c];
        return true;
    }
    virtual bool Assign(const CGridBase& other) { return CopyFrom(other); }
    CGridBase& operator=(const CGridBase& other)
    {
        CopyFrom(other);
        return *this;
    }
    // Address of the row's pointer; rows may be exchanged through it.
    virtual T** GetRowPtr(int row) { return &rowPointers[size_t(row)]; }
    // Zeroed cells of that size (the same size only clears). False when the
    // size does not fit in memory; the grid then has no cells.
    virtual bool Allocate(int newRows, int newColumns)
    {
        if (newRows == rows && newColumns == columns && !rowPointers.empty()) {
            Clear();
            return true;
        }
        Free();
        if (newRows <= 0 || newColumns <= 0)
            return newRows == 0 || newColumns == 0;
        const uint64_t count = uint64_t(newRows) * uint64_t(newColumns);
        if (count > kMaxCells)
            return false;
        try {
            cells.assign(size_t(count), T(0));
            rowPointers.resize(size_t(newRows));
        } catch (...) {
            Free();
            return false;
        }
        for (int r = 0; r < newRows; ++r)
            rowPointers[size_t(r)] = cells.data() + size_t(r) * size_t(newColumns);
        rows = newRows;
        columns = newColumns;
        return true;
    }
    virtual int GetRows() const { return rows; }
    virtual int GetColumns() const { return columns; }
    virtual T Get(int row, int column) const { return rowPointers[size_t(row)][column]; }
    virtual T Set(int row, int column, T value) { return rowPointers[size_t(row)][column] = value; }
    virtual void Clear()
    {
        for (T* row : rowPointers)
            for (int c = 0; c < columns; ++c)
                row[c] = T(0);
    }
    virtual T** GetData() { return rowPointers.empty() ? nullptr : rowPointers.data(); }

    bool Contains(int row, int column) const { return row >= 0 && row < rows && column >= 0 && column < columns; }

    // Largest number of cells of one grid (2^31 - 1).
    static constexpr uint64_t kMaxCells = 0x7fffffffu;

protected:
    void Free()
    {
        std::vector<T>().swap(cells);
        std::vector<T*>().swap(rowPointers);
        rows = 0;
        columns = 0;
    }

    std::vector<T> cells;
    std::vector<T*> rowPointers;
    int columns = 0;
    int rows = 0;
};

// Ints, appended only when not yet present.
class CIntList : public COwningArray<int32_t> {
public:
    explicit CIntList(int growBy = 0) : COwningArray<int32_t>(growBy) {}
    // Appends the value unless it is present; false when it was.
    bool Add(int32_t value);
    bool Contains(int32_t value) const;
};

class CIntGrid : public CGridBase<int32_t> {
public:
    CIntGrid(int rows = 0, int columns = 0) : CGridBase<int32_t>(rows, columns) {}

    // Every cell set to value.
    void Fill(int32_t value);
    // Inner cells (off the outer ring) that are non-zero and have a smaller
    // 4-neighbour (unsigned) become the mark; returns the number changed.
    int MarkBoundary(int32_t mark);
    // Moves (row, column) to the next neighbour holding the mark; false when
    // there is none.
    bool NextMarkedCell(int& row, int& column, int32_t mark) const;
    // Follows marked cells from the start ((-1, -1): the first marked cell in
    // row order), appending rows and columns and setting each cell to 1;
    // returns the number of cells traced.
    int TraceBoundary(int startRow, int startColumn, CIntList& rowList, CIntList& columnList, int32_t mark);
    // Text dump: width -1 separates cells by tabs, else "%<width>d ".
    void Dump(const char* path, int width, bool header) const;
};

class CByteGrid : public CGridBase<uint8_t> {
public:
    CByteGrid(int rows = 0, int columns = 0) : CGridBase<uint8_t>(rows, columns) {}
};

// The next neighbour of (row, column) holding the mark among the 8 in the
// order E, SE, S, SW, W, NW, N, NE; a match at SE, SW or NW yields to a
// match in the direction after it. Cells outside the grid are skipped.
bool FindMarkedNeighbour(const CIntGrid& grid, int row, int column, int32_t mark, int& nextRow, int& nextColumn);

// Path of a debug dump of that file name in the temporary folder.
std::string DebugDumpPath(const char* name);

// Segmentation grid of one target (defined with the segmentation).
class CRegionGrid;
class CRegionGridList;
