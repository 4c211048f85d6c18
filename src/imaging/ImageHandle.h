// The picture of one project image as the image view holds it: loads the
// file into a display image, owns it, counts references to it and forwards
// the view's conversion, zoom and contrast requests, doing nothing without
// a picture.
#pragma once

#include <memory>

#include "DisplayImage.h"

class CProjectDocument;
class CProjectImage;

class CImageHandle {
public:
    // Stores the record and loads its picture.
    CImageHandle(CProjectImage* image, const CProjectDocument* document);
    ~CImageHandle();
    CImageHandle(const CImageHandle&) = delete;
    CImageHandle& operator=(const CImageHandle&) = delete;

    // Drops an old picture and reads the record's file by its kind; false
    // (and no picture) when the kind is unknown or the file is not read.
    bool Load(const CProjectDocument* document);
    void Free() { picture.reset(); }
    void AddRef() { ++references; }
    // Count - 1; at or below 0 the picture goes.
    void Release();
    int GetReferences() const { return references; }

    // Picture width and height; 0, 0 without one.
    void GetSize(int& width, int& height) const;
    bool ViewToImage(CIntPoint point, const CIntRect& clientRect, double& column, double& row) const;
    void ZoomAt(CIntPoint point, const CIntRect& clientRect, bool zoomIn);
    void FullView();
    // Pans the zoomed picture: its visible part starts at that pixel.
    void ScrollTo(int left, int top);
    // -2.0 histogram stretch, -1.0 equalize, 1.0 restore, else a gain.
    void Enhance(double gain);

    CDisplayImage* GetPicture() const { return picture.get(); }
    CProjectImage* GetImageRecord() const { return image; }
    // Changes with every zoom, view reset and contrast change: drawers keep
    // what they made of the picture while it stays the same.
    unsigned GetGeneration() const { return generation; }

private:
    std::unique_ptr<CDisplayImage> picture;
    CProjectImage* image;
    int references = 0;
    unsigned generation = 0;
};
