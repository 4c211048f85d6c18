#include "ProjectImageList.h"

#include <cmath>
#include <cstdint>

#include "BinArchive.h"
#include "RecordListArchive.h"
#include "Camera.h"

namespace {

// Smallest number of bytes an image record can occupy in a project file.
constexpr std::int64_t kMinImageRecordBytes = 150;

bool Counts(const CProjectImage* image)
{
    return image != nullptr && image->enabled && image->oriented;
}

// Pools an image RMS over the enabled, oriented images, each weighted by its
// usable observations (perObservation residual terms each).
bool PooledRms(const CImagePtrArray& images, bool (CProjectImage::*imageRms)(double&) const,
               double perObservation, double& out)
{
    out = 0.0;
    double sum = 0.0;
    int total = 0;
    for (int i = 0; i < images.GetSize(); ++i) {
        const CProjectImage* image = images.GetAt(i);
        if (!Counts(image)) continue;
        double rms = 0.0;
        if (!(image->*imageRms)(rms)) continue;
        const int n = image->CountUsableObservations();
        sum += perObservation * n * rms * rms;
        total += n;
    }
    if (total == 0) return false;
    out = std::sqrt(sum / (perObservation * total));
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// CImagePtrArray

bool CImagePtrArray::GetRmsX(double& out) const
{
    return PooledRms(*this, &CProjectImage::GetResidualRmsX, 1.0, out);
}

bool CImagePtrArray::GetRmsY(double& out) const
{
    return PooledRms(*this, &CProjectImage::GetResidualRmsY, 1.0, out);
}

bool CImagePtrArray::GetRmsXY(double& out) const
{
    return PooledRms(*this, &CProjectImage::GetResidualRmsXY, 2.0, out);
}

bool CImagePtrArray::ClearResiduals()
{
    for (int i = 0; i < GetSize(); ++i)
        if (CProjectImage* image = GetAt(i)) image->ClearResiduals();
    return true;
}

void CImagePtrArray::ClearResidualsAndRejections()
{
    for (int i = 0; i < GetSize(); ++i) {
        CProjectImage* image = GetAt(i);
        if (image == nullptr) continue;
        // One pass over the observations: ClearResiduals and ClearRejectedFlags together.
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            CImageObservation* o = image->targets.GetAt(k);
            o->vx = 0.0;
            o->vy = 0.0;
            o->rejected = false;
        }
    }
}

bool CImagePtrArray::ResetStationValues()
{
    for (int i = 0; i < GetSize(); ++i)
        if (CProjectImage* image = GetAt(i)) image->ResetCorrections();
    return true;
}

void CImagePtrArray::SetObservationSigmas(double sigma)
{
    for (int i = 0; i < GetSize(); ++i) {
        CProjectImage* image = GetAt(i);
        if (image == nullptr) continue;
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            CImageObservation* o = image->targets.GetAt(k);
            o->sigmaX = sigma;
            o->sigmaY = sigma;
        }
    }
}

double CImagePtrArray::GetMaxRadialDistance(const CCameraList& cameras) const
{
    double largest = 0.0;
    for (int c = 0; c < cameras.GetSize(); ++c) {
        const CCamera* camera = cameras.GetAt(c);
        if (camera == nullptr) continue;
        for (int i = 0; i < GetSize(); ++i) {
            CProjectImage* image = GetAt(i);
            if (image == nullptr || !(image->cameraName == camera->identifier)) continue;
            const double r = image->GetMaxRadialDistance(camera);
            if (r > largest) largest = r;
        }
    }
    return largest;
}

int CImagePtrArray::CountUsableObservations() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i)
        if (Counts(GetAt(i))) n += GetAt(i)->CountUsableObservations();
    return n;
}

int CImagePtrArray::FindPtr(const CProjectImage* image) const
{
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i) == image) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// CProjectImageList

void CProjectImageList::GetPointerArray(CImagePtrArray& out) const
{
    out.RemoveAll();
    for (int i = 0; i < GetSize(); ++i) out.Add(GetAt(i));
}

int CProjectImageList::FindIndexByName(const char* name) const
{
    if (name == nullptr) return -1;
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)->name == name) return i;
    return -1;
}

CProjectImage* CProjectImageList::FindByName(const char* name) const
{
    const int i = FindIndexByName(name);
    return i < 0 ? nullptr : GetAt(i);
}

CProjectImage* CProjectImageList::GetNext(const CProjectImage* image) const
{
    const int i = image == nullptr ? -1 : FindIndexByName(image->name.GetText());
    if (i + 1 >= GetSize()) return nullptr;
    return GetAt(i + 1);
}

CProjectImage* CProjectImageList::GetPrevious(const CProjectImage* image) const
{
    const int i = image == nullptr ? -1 : FindIndexByName(image->name.GetText());
    if (i <= 0) return nullptr;
    return GetAt(i - 1);
}

int CProjectImageList::CountUsableImages() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i) {
        const CProjectImage* image = GetAt(i);
        if (image->enabled && image->oriented && image->targets.GetSize() >= 3) ++n;
    }
    return n;
}

int CProjectImageList::GetObservationCount() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i) n += GetAt(i)->targets.GetSize();
    return n;
}

void CProjectImageList::ScaleStations(double factor)
{
    for (int i = 0; i < GetSize(); ++i) GetAt(i)->ScalePosition(factor);
}

void CProjectImageList::RenameCamera(const char* oldName, const char* newName)
{
    if (oldName == nullptr || newName == nullptr) return;
    for (int i = 0; i < GetSize(); ++i) {
        CProjectImage* image = GetAt(i);
        if (image->cameraName == oldName) image->cameraName = newName;
    }
}

void CProjectImageList::SetObservationSigmas(double sigma)
{
    CImagePtrArray pointers;
    GetPointerArray(pointers);
    pointers.SetObservationSigmas(sigma);
}

bool CProjectImageList::Serialize(CBinArchive& ar, int* version)
{
    return SerializeRecordList(*this, ar, version, kVersion, kMinImageRecordBytes);
}
