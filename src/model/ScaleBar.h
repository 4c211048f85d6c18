// A calibrated distance between two labelled targets, and the owning list of
// such bars that the project and the scale-bar database keep.
#pragma once

#include <cstdint>

#include "BinArchive.h"
#include "DynString.h"
#include "NameBuffer.h"
#include "OwningArray.h"

class CScaleBar {
public:
    CScaleBar();
    CScaleBar(const CScaleBar& other);
    CScaleBar& operator=(const CScaleBar& other);

    // Every field to its default.
    void Reset();
    // Everything but the rejected flag, which keeps its value.
    void Copy(const CScaleBar& other);
    // Clears what the last adjustment wrote.
    void ResetResults();
    // Stores or reads the bar (no version word). Loading returns false when
    // the archive ended or failed inside the record.
    bool Serialize(CBinArchive& ar);

    int version;                 // the user's version number of the bar
    CDynString name;             // key of the bar in its list
    CDynString units;
    CDynString material;
    CDynString temperatureUnits;
    double calibratedTemperature;
    CNameBuffer endLabel1;
    CNameBuffer endLabel2;
    double calibratedLength;
    double standardDeviation;
    // Results of the last adjustment: -1 / -1.0 when there are none.
    int rays1;
    int rays2;
    double adjustedLength;
    bool rejected;               // the last scaling did not use the bar
    bool modified;               // changed in the database since last written

    // Fewest bytes a stored bar takes (all texts and labels empty).
    static constexpr int kMinStoredSize = 4 + 4 * 4 + 8 + 2 * 4 + 2 * 4 + 8 + 8;
};

class CScaleBarList : public COwningArray<CScaleBar> {
public:
    CScaleBarList();

    // The first bar whose name equals the text exactly (case-sensitive), else null.
    CScaleBar* FindByName(const char* name) const;
    CScaleBar* FindByName(const CDynString& name) const { return FindByName(name.GetText()); }
    // Index of that bar, else -1.
    int FindIndexByName(const char* name) const;
    int FindIndexByName(const CDynString& name) const { return FindIndexByName(name.GetText()); }

    void ResetResults();

    // Storing writes the count and the bars; loading appends the bars read.
    // A load that fails part-way removes the bars it appended and returns false.
    bool Serialize(CBinArchive& ar);

    // Outcome of the last bundle's scaling: -1 no scale bars, 0 post-bundle
    // scaling not applied, 1 post-bundle scaling applied, 2 rigorous scaling.
    int scalingResult;
};
