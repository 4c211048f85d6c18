// libtiff access shared by the TIFF readers: opening a file with silent
// handlers and a bound on libtiff's own allocations, and the choice of the
// directory (image) a file is read from.
#pragma once

#include <tiffio.h>

#include <memory>

struct TiffCloser {
    void operator()(TIFF* tif) const
    {
        if (tif)
            TIFFClose(tif);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Installs empty error and warning handlers for the whole process (once);
// libtiff then prints and shows nothing.
void InstallSilentTiffHandlers();

// Opens a TIFF file for reading without memory mapping, silently, with
// libtiff's single allocations bounded. Null when it cannot be opened or is
// not a TIFF file.
TiffHandle OpenTiffForReading(const char* path);

// Positions the handle on the image to read. From the first directory the
// walk goes on to the first SubIFD when the first directory has SubIFDs,
// else to the next directory, and then along that chain; a directory becomes
// the chosen one when its width and its length are both strictly greater
// than the chosen one's. A directory that cannot be read ends the walk.
// False when the chosen directory cannot be read again.
bool ChooseDirectory(TIFF* tif);
