// One 2D measurement of a labelled point in an image, and the label-ordered
// owning list of such measurements (an image's targets, an image's measured
// fiducial marks, a camera's calibrated fiducial marks).
#pragma once

#include <cstddef>
#include <string>

#include "DynArray.h"
#include "FilePath.h"
#include "NameBuffer.h"
#include "OwningArray.h"

class CBinArchive;
class CCamera;
class CProjectSettings;
class CTargetEllipse;

class CImageObservation {
public:
    CImageObservation();
    CImageObservation(const CNameBuffer& label, double x, double y);
    CImageObservation(const CNameBuffer& label, double x, double y, double pixelColumn, double pixelRow);
    CImageObservation(const CNameBuffer& label, double x, double y, double sigmaX, double sigmaY,
                      double pixelColumn, double pixelRow);
    CImageObservation(const CImageObservation& other);
    CImageObservation& operator=(const CImageObservation& other);
    ~CImageObservation();

    // Everything but the label back to its default; the ellipse is deleted.
    void Reset();
    void Copy(const CImageObservation& other);

    CNameBuffer GetLabel() const { return CNameBuffer(label); }
    // Copies the other label verbatim.
    void SetLabel(const CNameBuffer& other) { label.Copy(other); }

    CTargetEllipse* GetEllipse() { return ellipse; }
    const CTargetEllipse* GetEllipse() const { return ellipse; }
    void SetEllipse(const CTargetEllipse& e);
    void DeleteEllipse();

    void SetXY(double newX, double newY)
    {
        x = newX;
        y = newY;
    }
    void GetPixelPosition(double& column, double& row) const
    {
        column = pixelColumn;
        row = pixelRow;
    }
    double GetRadialDistance() const { return radialDistance; }
    // Distance from the camera's principal point; stored.
    double ComputeRadialDistance(const CCamera& camera);

    // Not rejected and not disabled.
    bool IsUsable() const { return !rejected && !disabled; }

    // r0 < x < r2 and r3 < y < r1 (r1 is the top edge); false without a rectangle.
    bool IsInRect(const double* r0, const double* r1, const double* r2, const double* r3) const;
    bool IsInBox(double a, double b, double c, double d) const;
    // |vx| and |vy| at or below the settings' rejection limit.
    bool ResidualsWithin(const CProjectSettings& settings) const;

    // Writes or reads the record; false when the archive failed or the
    // record read is malformed.
    bool Serialize(CBinArchive& ar, int* version);

    double pixelColumn;
    double pixelRow;
    CNameBuffer label;
    double x;
    double y;
    double radialDistance;
    double sigmaX;
    double sigmaY;
    double vx;
    double vy;
    bool rejected;
    bool measured;
    bool fiducial;
    bool marked;
    bool disabled;

private:
    void SetDefaults();

    CTargetEllipse* ellipse;
};

class CObservationList : public COwningArray<CImageObservation> {
public:
    explicit CObservationList(int growBy = 0);
    CObservationList(const CObservationList& other);
    CObservationList& operator=(const CObservationList& other);
    ~CObservationList() override;

    // Index of an element with this label, else where the label would go.
    int FindInsertIndex(const CNameBuffer& label) const;
    bool BinarySearch(const CNameBuffer& label, int& index) const;
    int FindIndex(const CNameBuffer& label) const;
    int FindIndexByText(const char* text) const;
    CImageObservation* Find(const CNameBuffer& label) const;
    CImageObservation* FindByText(const char* text) const;

    // Inserts a copy at its place in label order (in front of an equal label).
    bool AddSorted(const CImageObservation& observation);
    using COwningArray<CImageObservation>::Remove;
    bool Remove(const CNameBuffer& label);
    bool RemoveByText(const char* text);
    bool RemoveMatching(const CObservationList& other);
    bool SortByLabel();
    // Of observations within the distance of each other, the later one stays.
    bool RemoveCloseDuplicates(double distance);
    bool HasEllipses() const;

    bool Serialize(CBinArchive& ar, int* version);

    // Fills the list from a fiducial file (label, x, y in mm per line).
    // The list is replaced only when the file was opened and read; false
    // when it cannot be opened or read or holds no line.
    bool ReadXyFile(const CFilePath& path);
    // The same on text already in memory (the file's bytes).
    bool ReadXyText(const char* data, std::size_t size);

    void CopyFromArray(const CDynArray<CImageObservation>& array);
    void InsertCopyAt(int index, const CImageObservation& observation, int count);
    void DeleteAll();
};

// Scans a text line as "%s" followed by up to maxValues "%lf" fields, the
// label taken as one bounded token: returns the number of fields read (label
// included), or -1 when the label token is overlong or not a valid label.
// Numbers are read in the C locale; a non-finite number ends the scan.
int ScanLabelledLine(const char* line, std::size_t length, CNameBuffer& label, double* values, int maxValues);

// Reads a whole text file of at most maxBytes bytes; false when it cannot be
// opened or read, or is larger.
bool ReadTextFileBytes(const char* path, std::string& bytes, std::size_t maxBytes);
