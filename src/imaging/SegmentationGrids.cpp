#include "SegmentationGrids.h"
#include "FileIO.h"

#include <cstdio>
#include <cstdlib>
#include <string>

bool CIntList::Add(int32_t value)
{
    if (Contains(value))
        return false;
    AddCopy(value);
    return true;
}

bool CIntList::Contains(int32_t value) const
{
    for (int i = 0; i < GetSize(); ++i) {
        const int32_t* v = GetAt(i);
        if (v != nullptr && *v == value)
            return true;
    }
    return false;
}

void CIntGrid::Fill(int32_t value)
{
    for (int32_t& cell : cells)
        cell = value;
}

int CIntGrid::MarkBoundary(int32_t mark)
{
    int changed = 0;
    for (int r = 1; r + 1 < rows; ++r) {
        for (int c = 1; c + 1 < columns; ++c) {
            const uint32_t v = uint32_t(Get(r, c));
            if (v == 0)
                continue;
            if (uint32_t(Get(r, c + 1)) < v || uint32_t(Get(r + 1, c)) < v || uint32_t(Get(r, c - 1)) < v ||
                uint32_t(Get(r - 1, c)) < v) {
                if (int32_t(v) != mark)
                    ++changed;
                Set(r, c, mark);
            }
        }
    }
    return changed;
}

bool FindMarkedNeighbour(const CIntGrid& grid, int row, int column, int32_t mark, int& nextRow, int& nextColumn)
{
    static const int steps[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
    auto marked = [&](int k) {
        const int r = row + steps[k][0];
        const int c = column + steps[k][1];
        return grid.Contains(r, c) && grid.Get(r, c) == mark;
    };
    for (int k = 0; k < 8; ++k) {
        if (!marked(k))
            continue;
        int taken = k;
        if ((k == 1 || k == 3 || k == 5) && marked(k + 1))
            taken = k + 1;
        nextRow = row + steps[taken][0];
        nextColumn = column + steps[taken][1];
        return true;
    }
    return false;
}

bool CIntGrid::NextMarkedCell(int& row, int& column, int32_t mark) const
{
    return FindMarkedNeighbour(*this, row, column, mark, row, column);
}

int CIntGrid::TraceBoundary(int startRow, int startColumn, CIntList& rowList, CIntList& columnList, int32_t mark)
{
    int row = startRow;
    int column = startColumn;
    if (row == -1 && column == -1) {
        bool found = false;
        for (int r = 0; r < rows && !found; ++r)
            for (int c = 0; c < columns && !found; ++c)
                if (Get(r, c) == mark) {
                    row = r;
                    column = c;
                    found = true;
                }
        if (!found)
            return 0;
    }
    if (!Contains(row, column))
        return 0;
    int count = 0;
    do {
        rowList.AddCopy(row);
        columnList.AddCopy(column);
        Set(row, column, 1);
        ++count;
    } while (NextMarkedCell(row, column, mark));
    return count;
}

void CIntGrid::Dump(const char* path, int width, bool header) const
{
    if (path == nullptr)
        return;
    std::string text;
    char field[128];
    if (header) {
        std::snprintf(field, sizeof field, "Rows    %d\r\nColumns %d\r\n", rows, columns);
        text += field;
    }
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (width == -1)
                std::snprintf(field, sizeof field, "%d\t", Get(r, c));
            else
                std::snprintf(field, sizeof field, "%*d ", width, Get(r, c));
            text += field;
        }
        text += "\r\n";
    }
    // A debug dump: a file that cannot be written is left as it was.
    std::string error;
    WriteFileAtomically(path, text.data(), text.size(), error);
}

std::string DebugDumpPath(const char* name)
{
    // A folder that does not exist makes the dump fail, as it should.
    const char* folder = std::getenv("TMPDIR");
    std::string path = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
    if (path.back() != '/')
        path += '/';
    return path + name;
}
