// Named sets of 3D object points in label order, with role flags and the
// lines drawn between their points.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "BinArchive.h"
#include "DynString.h"
#include "FilePath.h"
#include "NameBuffer.h"
#include "ObjectPoint.h"
#include "OwningArray.h"

// A line between two points of a set, held by their label texts.
class CPointLine
{
public:
    CDynString from;
    CDynString to;
    bool selected = false;

    void SetSelected(bool flag) { selected = flag; }
    bool IsSelected() const { return selected; }
};

class CPointLineList : public COwningArray<CPointLine>
{
public:
    explicit CPointLineList(int growBy = 0) : COwningArray<CPointLine>(growBy) {}

    // Count, then per line the two label texts. Loaded lines are appended.
    void Serialize(CBinArchive& ar);
    int CountSelected() const;
    void RemoveSelected();
    void SelectAll(bool flag);
    // Removes every line whose end equals the text exactly.
    void RemoveLinesWith(const char* text);
};

class CPointSet : public CObjectPointList
{
public:
    bool isDriver = false;
    bool isControl = false;
    bool isEODevice = false;
    bool isDiscrepancySet = false;
    CFilePath name;
    CPointLineList lines;

    // The record version written by Serialize.
    static constexpr int kVersion = 12;

    explicit CPointSet(int growBy = 0);
    CPointSet(const CPointSet& other);
    CPointSet& operator=(const CPointSet& other);
    ~CPointSet() override = default;

    // Same count and every point equal at the same index; flags, name and
    // lines are not compared.
    bool IsEqual(const CPointSet& other) const;

    // Inserts a copy after every point whose label is not greater; returns
    // its index.
    int AddPointSorted(const CObjectPoint& point);
    int AddNewPointSorted(const CNameBuffer& label);
    CObjectPoint* FindPoint(const CNameBuffer& label) { return FindByLabel(label); }
    CObjectPoint* FindPointByText(const char* text) { return FindByText(text); }
    // These three search without sorting first.
    int IndexOfLabel(const CNameBuffer& label) const;
    bool GetNextLabel(const CNameBuffer& label, CNameBuffer& next) const;
    bool RemovePoint(const CNameBuffer& label);
    bool RemovePointByText(const char* text);

    // Points of the other set take the numeric data of the same-labelled
    // point there and are marked updated.
    void UpdatePointsFrom(const CPointSet& other);
    bool ClearPointOffsets();
    int GetUsedCount() const { return CountInUse(); }
    int GetUsedUnsolvedCount() const { return CountInUseSolved(); }
    int GetSelectedCount() const { return CountSelected(); }
    void SelectAll(bool flag);
    bool HasLabelWithPrefix(const CNameBuffer& prefix) const;
    bool HasNormals() const;
    void Scale(double factor);
    bool TransformPoints(const NEWMAT::Matrix& t) { return TransformAll(t); }
    // Mean of all points into the out point's coordinates; false when empty.
    bool GetCentroid(CObjectPoint& out) const;
    double GetExtentDiagonal() const;

    CFilePath GetName() const { return name; }
    void SetName(const CDynString& text) { name = text; }
    void GetFileName(CDynString& out) const;

    // version: -1 to read the set's own version word, else the version of
    // the enclosing file. Points are sorted by label after loading.
    void Serialize(CBinArchive& ar, int* version);

    // 3D coordinate files.
    // Replaces the points by the file's; true when the set then has points.
    // A file that cannot be opened or read (also one that is not a regular
    // file or is longer than 64 MB) leaves the set unchanged. fieldCount gets
    // the number of fields of the last line that holds any. A point line
    // whose label is no valid label (too long, or a character other than a
    // letter, digit, '_' or '-') adds no point; a message names the file and
    // those lines. Lines are read whole, however long.
    bool ReadXyzFile(const char* path, int* fieldCount);
    // The same from an open stream; refusedLines (when given) gets the
    // numbers, from 1, of the point lines refused for their labels.
    bool ReadXyzStream(std::istream& in, int* fieldCount, std::vector<int>* refusedLines = nullptr);
    // The same on the file's bytes. unusedLines (when given) gets the numbers
    // of the other lines that hold text but not all of it goes into a point:
    // lines of fewer than four fields (comments, headers), numbers that a
    // line of its field count ignores, text after the numbers.
    bool ReadXyzText(const char* data, std::size_t size, int* fieldCount, std::vector<int>* refusedLines = nullptr,
                     std::vector<int>* unusedLines = nullptr);
    // Writes the points in use with c, s and e decimals for coordinates,
    // sigmas and normals. The new file replaces the old one only when it was
    // written whole; otherwise the old file stays and error (when given)
    // gets the reason. Without replace, an existing file is never replaced
    // (the write fails). A point without a label is left out: its line would
    // read back as another point.
    bool WriteXyzFile(const char* path, int c, int s, int e, std::string* error = nullptr,
                      bool replace = true) const;
    bool Load(const char* path);
    bool Save(int c, int s, int e) const;
    // Whether the text says what WriteXyzFile with c, s and e decimals would:
    // the reader takes every line whole (blank lines aside), refuses none,
    // and its points are those of the writer's text read back, label by
    // label, every value the same at the writer's decimals. Spacing, the
    // order of lines of different labels and the way a value is written
    // (1.5 for 1.500000000000) do not matter.
    bool MatchesXyzText(const char* data, std::size_t size, int c, int s, int e) const;

private:
    // Formats the written lines of the points first .. last - 1.
    void AppendXyzLines(int c, int s, int e, int first, int last, std::string& out) const;
    void CopySetPart(const CPointSet& other);
};
