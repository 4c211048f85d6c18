// The project's named 3D point sets. Sets are found by title (the file name
// of the set's name without folder and extension), exactly and
// case-sensitively; the document's EO device counts as one more set for
// lookups and removals. At most one set is the driver set and at most one the
// control set.
#pragma once

#include "BinArchive.h"
#include "EODevice.h"
#include "OwningArray.h"
#include "PointSet.h"

class CProjectDocument;

// Titles reserved for the results of computations, and their coordinate files.
namespace ResultSets {
constexpr const char* kBundle = "Bundle";
constexpr const char* kTriangulate = "Triangulate";
constexpr const char* kROArray = "ROArray";
constexpr const char* kIntersected = "Intersected";
constexpr const char* kTrans = "Trans";
constexpr const char* kCompare = "Compare";
constexpr const char* kBundleFile = "Bundle.xyz";
constexpr const char* kTriangulateFile = "Triangulate.xyz";
constexpr const char* kROArrayFile = "ROArray.xyz";
} // namespace ResultSets

class CPointSetList : public COwningArray<CPointSet> {
public:
    // The version word Serialize writes.
    static constexpr int kVersion = 10;

    explicit CPointSetList(int growBy = 0);
    CPointSetList(const CPointSetList& other);
    CPointSetList& operator=(const CPointSetList& other);
    ~CPointSetList() override;

    // The owning document (not owned); it holds the EO device.
    void SetDocument(CProjectDocument* doc) { document = doc; }
    CProjectDocument* GetDocument() const { return document; }

    // Deletes the sets, then tells the document.
    void RemoveAt(int i, int n) override;

    CPointSet* GetDriverSet() const;
    CPointSet* GetControlSet() const;
    bool HasControlSet() const;
    CPointSet* GetBundleSet() const { return FindSetByTitle(ResultSets::kBundle); }
    CPointSet* GetTriangulateSet() const { return FindSetByTitle(ResultSets::kTriangulate); }
    CPointSet* GetROArraySet() const { return FindSetByTitle(ResultSets::kROArray); }
    // The document's EO device when it has a name, else null.
    CEODevice* GetEODevice() const;

    // The first set with that title; else the EO device when its title is the
    // name; else null.
    CPointSet* FindByName(const char* name) const;
    // The first set of the collection with that title (the EO device aside).
    CPointSet* FindSetByTitle(const char* title) const;
    // The set before / after the one with that title; null at either end or
    // when no set has it.
    CPointSet* GetPreviousSet(const char* title) const;
    CPointSet* GetNextSet(const char* title) const;

    // Delete the first set with the reserved title, then append a copy of the
    // given set and return the copy. The Trans and Compare copies become
    // discrepancy sets.
    CPointSet* ReplaceBundleSet(const CPointSet& set) { return ReplaceTitled(ResultSets::kBundle, set, false); }
    CPointSet* ReplaceIntersectedSet(const CPointSet& set)
    {
        return ReplaceTitled(ResultSets::kIntersected, set, false);
    }
    CPointSet* ReplaceROArraySet(const CPointSet& set) { return ReplaceTitled(ResultSets::kROArray, set, false); }
    CPointSet* ReplaceTransSet(const CPointSet& set) { return ReplaceTitled(ResultSets::kTrans, set, true); }
    CPointSet* ReplaceCompareSet(const CPointSet& set) { return ReplaceTitled(ResultSets::kCompare, set, true); }

    // A name equal to the EO device's title resets the device (it is never
    // deleted); otherwise the first set with that title is deleted. False
    // when nothing matched.
    bool RemoveByName(const char* name);

    // The named set takes the role, which leaves the set that had it; a set
    // that has the role gives it up.
    void ToggleDriverSet(const char* name);
    void ToggleControlSet(const char* name);

    // Storing: version, count, the sets. Loading appends the sets read; with
    // *version -1 the list's own version word is read first. False when the
    // archive failed or ended inside the record; the sets read completely stay.
    bool Serialize(CBinArchive& ar, int* version);

private:
    CPointSet* ReplaceTitled(const char* title, const CPointSet& set, bool discrepancy);
    int IndexOfTitle(const char* title) const;

    CProjectDocument* document = nullptr;
};
