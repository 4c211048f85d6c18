// The image of a TIFF file that the system reads, and libtiff's messages.
#pragma once

struct tiff;

// Positions the handle on the directory to read: the first, or a later one
// (also in the first directory's SubIFD chain) that is larger in both width
// and length than the one chosen so far. Returns the handle positioned there,
// or null (the handle closed) when the chosen directory cannot be read.
struct tiff* ChooseDirectory(struct tiff* handle, const char* fileName);

// Installs empty error and warning handlers, so libtiff shows nothing. Safe
// to call from any thread, any number of times.
void SilenceTiffLibrary();
