// The project's images: an owning list, and a non-owning array of image
// pointers with the operations that adjustments and reports run over all
// images (residual RMS, clearing residuals and rejections, sigmas).
#pragma once

#include "DynArray.h"
#include "OwningArray.h"
#include "ProjectImage.h"

class CBinArchive;
class CCameraList;

class CImagePtrArray : public CDynArray<CProjectImage> {
public:
    explicit CImagePtrArray(int growBy = 0) : CDynArray<CProjectImage>(growBy) {}

    // Overall residual RMS over the usable observations of the enabled,
    // oriented images; false, out 0.0, when there is none.
    bool GetRmsX(double& out) const;
    bool GetRmsY(double& out) const;
    bool GetRmsXY(double& out) const;
    bool ClearResiduals();
    void ClearResidualsAndRejections();
    bool ResetStationValues();
    void SetObservationSigmas(double sigma);
    // Largest radial distance of the images of each camera of the list
    // (refreshing the observations' radial distances); 0.0 when none.
    double GetMaxRadialDistance(const CCameraList& cameras) const;
    // Usable target observations of the enabled, oriented images.
    int CountUsableObservations() const;
    // Index of the pointer, -1 when absent.
    int FindPtr(const CProjectImage* image) const;
};

class CProjectImageList : public COwningArray<CProjectImage> {
public:
    static constexpr int kVersion = 10;

    explicit CProjectImageList(int growBy = 0) : COwningArray<CProjectImage>(growBy) {}
    CProjectImageList(const CProjectImageList& other) = default;
    CProjectImageList& operator=(const CProjectImageList& other)
    {
        Copy(other);
        return *this;
    }
    ~CProjectImageList() override = default;

    // The images as a non-owning pointer array (same order).
    void GetPointerArray(CImagePtrArray& out) const;

    // First image with exactly this name (case-sensitive); -1 / none.
    int FindIndexByName(const char* name) const;
    CProjectImage* FindByName(const char* name) const;
    // The image after the one named like the given one (the first image when
    // no image has that name; none after the last).
    CProjectImage* GetNext(const CProjectImage* image) const;
    // The image before it; none for the first or an image not in the list.
    CProjectImage* GetPrevious(const CProjectImage* image) const;
    // Enabled, oriented images with at least 3 target observations.
    int CountUsableImages() const;
    int GetObservationCount() const;
    void ScaleStations(double factor);
    void RenameCamera(const char* oldName, const char* newName);
    void SetObservationSigmas(double sigma);

    // Growing fills the new places with default images, shrinking destroys
    // the images from n on.
    void Resize(int n, int growBy) { SetSize(n, growBy); }
    void CopyFromArray(const CDynArray<CProjectImage>& images) { Copy(images); }
    void InsertCopyAt(int index, const CProjectImage& image, int n) { InsertAt(index, image, n); }
    void DeleteAll() { RemoveAll(); }

    // Writes or reads the list; false when the archive failed, the count does
    // not fit the bytes left, or an image record could not be read.
    bool Serialize(CBinArchive& ar, int* version);
};
