// EO devices: rigid target configurations of known geometry, and the
// database list of them.
#pragma once

#include <cstdint>

#include "DynString.h"
#include "OwningArray.h"
#include "PointSet.h"

class CEODevice : public CPointSet
{
public:
    int32_t idShape = 1;
    bool modified = false;
    CDynString calibrationTime;
    CDynString comment;
    CDynString unit;
    double maxResectionRms = 5.0;

    // The record version written after the point-set part.
    static constexpr int kVersion = 10;

    explicit CEODevice(int growBy = 0);
    CEODevice(const CEODevice& other);
    CEODevice& operator=(const CEODevice& other);
    ~CEODevice() override = default;

    // Defaults, no points, empty name; the lines and the discrepancy flag stay.
    void Reset();
    // Reset, then the points, flags, lines and name of the set. The copy
    // stays marked as an EO device.
    void CopyFrom(const CPointSet& set);

    // The title of the name path.
    CDynString GetName() const;
    // Replaces the title, keeping folder and extension.
    void SetName(const char* title);
    int GetIDShape() const { return idShape; }
    void SetIDShape(int id) { idShape = id; }
    CDynString GetComment() const { return comment; }
    void SetComment(const char* text) { comment = text; }
    CDynString GetCalibrationTime() const { return calibrationTime; }
    CDynString GetUnit() const { return unit; }
    void SetUnit(const char* text) { unit = text; }
    double GetMaxResectionRms() const { return maxResectionRms; }
    void SetMaxResectionRms(double rms) { maxResectionRms = rms; }

    // Gives a bare name the extension "eod" and the project folder. False
    // for an empty name, or a name without folder when the folder is "".
    bool CompletePath(const CDynString& projectFolder);

    // version: -1 when the record holds its own version words.
    void Serialize(CBinArchive& ar, int* version);

private:
    void CopyDeviceFields(const CEODevice& other);
};

// The EO-device database.
class CEODeviceList : public COwningArray<CEODevice>
{
public:
    explicit CEODeviceList(int growBy = 0) : COwningArray<CEODevice>(growBy) {}

    // The first device whose name equals the text exactly; null when none.
    CEODevice* FindByName(const char* name) const;
    int IndexOfName(const char* name) const;
    bool RemoveByName(const char* name);
};
