// Conversion of a JPEG photograph into a grey TIFF image.
#pragma once

#include <string>

// Reads the JPEG file, makes a colour image grey and writes it as an
// uncompressed 8-bit TIFF of the same name with the extension "tif" through
// the platform's atomic file writer, so a failed read or write leaves no TIFF
// of that name and an existing one unchanged. False on any failure, said in
// a message box (by the JPEG reader when the photograph cannot be read).
bool ConvertJpegToGreyTiff(const char* jpegPath);

class CImageStore;
// Writes the image (made grey when it is colour) as an uncompressed 8-bit
// TIFF at path through the atomic file writer; false, with no file of that
// name made or changed, on failure. error tells the writer's reason.
bool WriteGreyTiffFile(CImageStore& image, const char* path, std::string& error);
