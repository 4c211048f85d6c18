// Display image read from an uncompressed 8-bit palette or 24-bit BMP file.
#pragma once

#include "DisplayImage.h"

class CBmpDisplayImage : public CDisplayImage {
public:
    ~CBmpDisplayImage() override = default;
    int Load(const char* fileName, int threaded) override;
    int ReadSize(const char* fileName, int& width, int& height) override;
};
