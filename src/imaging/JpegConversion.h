// Conversion of a JPEG photograph into a grey TIFF image.
#pragma once

// Reads the JPEG file, makes a colour image grey and writes it as an
// uncompressed 8-bit TIFF of the same name with the extension "tif". The
// TIFF is written to a temporary file beside it and renamed into place only
// when complete, so a failed read or write leaves no TIFF of that name and an
// existing one unchanged. False on any failure (the readers say why).
bool ConvertJpegToGreyTiff(const char* jpegPath);
