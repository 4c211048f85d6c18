#include "ImageFileReader.h"

CImageFileReader::CImageFileReader(const char* name) : fileName(name) {}

bool CImageFileReader::ReadLine(uint8_t*, int32_t)
{
    return false;
}

bool CImageFileReader::WriteLine(const uint8_t*, int32_t)
{
    return false;
}

int32_t CImageFileReader::FirstLine()
{
    lineCounter = 1;
    return 0;
}

bool CImageFileReader::HasMoreLines()
{
    return lineCounter < height;
}

int32_t CImageFileReader::NextLine()
{
    return lineCounter++;
}

size_t CImageFileReader::GetLineBytes()
{
    const int32_t w = GetWidth();
    const int32_t s = GetSamplesPerPixel();
    const int32_t b = GetBitsPerSample();
    if (w <= 0 || s <= 0 || b <= 0)
        return 0;
    return size_t(w) * size_t(s) * size_t((b + 7) / 8);
}
