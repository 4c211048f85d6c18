#include "ImageHandle.h"

#include "ProjectImage.h"

CImageHandle::CImageHandle(CProjectImage* image, const CProjectDocument* document) : image(image)
{
    Load(document);
}

CImageHandle::~CImageHandle() = default;

bool CImageHandle::Load(const CProjectDocument* document)
{
    (void)document; // the record carries the full path
    picture.reset();
    ++generation;
    if (!image)
        return false;
    const char* path = image->GetFilePath().GetText();
    std::unique_ptr<CDisplayImage> loaded = CreateDisplayImage(path);
    if (!loaded || !loaded->Load(path, 1))
        return false;
    picture = std::move(loaded);
    return true;
}

void CImageHandle::Release()
{
    if (--references <= 0)
        picture.reset();
}

void CImageHandle::GetSize(int& width, int& height) const
{
    width = picture ? picture->GetWidth() : 0;
    height = picture ? picture->GetHeight() : 0;
}

bool CImageHandle::ViewToImage(CIntPoint point, const CIntRect& clientRect, double& column, double& row) const
{
    return picture && picture->ViewToImage(point, clientRect, column, row);
}

void CImageHandle::ZoomAt(CIntPoint point, const CIntRect& clientRect, bool zoomIn)
{
    if (!picture)
        return;
    picture->Zoom(point, clientRect, zoomIn ? 1 : 0);
    ++generation;
}

void CImageHandle::ScrollTo(int left, int top)
{
    if (picture && picture->MoveVisibleTo(left, top))
        ++generation;
}

void CImageHandle::FullView()
{
    if (!picture)
        return;
    picture->ResetView();
    ++generation;
}

void CImageHandle::Enhance(double gain)
{
    if (!picture)
        return;
    picture->Enhance(gain);
    ++generation;
}
