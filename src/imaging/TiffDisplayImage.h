// Display image read from an 8-bit TIFF file: grey (min-is-black or
// min-is-white), palette or RGB, in strips of any compression libtiff decodes.
#pragma once

#include <tiffio.h>

#include "DisplayImage.h"

class CTiffDisplayImage : public CDisplayImage {
public:
    ~CTiffDisplayImage() override = default;
    int Load(const char* fileName, int threaded) override;
    int ReadSize(const char* fileName, int& width, int& height) override;
    // Positions the handle on the image of the file that is read.
    virtual bool ChooseDirectory(TIFF* tif);
};
