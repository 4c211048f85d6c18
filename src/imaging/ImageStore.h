// A whole image of 8 or 16 bits per sample, grey or colour, with random
// access to every pixel. Each plane keeps at most kPlaneBudget bytes of lines
// in memory and pages the rest to a temporary file "img<N>.tmp" in $TMPDIR,
// replacing the line loaded first and writing changed lines back.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ImageFileReader.h"

// One plane of lines; a line holds width values of sample 0, then of sample 1, ...
// A plane is used from one thread at a time.
template <typename T>
class CPagedPlane {
public:
    CPagedPlane() = default;
    virtual ~CPagedPlane();
    CPagedPlane(const CPagedPlane&) = delete;
    CPagedPlane& operator=(const CPagedPlane&) = delete;

    // Sizes the plane with every value 0, discarding earlier contents. False,
    // the plane left empty, for a side below 1 and, with a message, when a side exceeds
    // kMaxImageSide, the plane exceeds kMaxPlaneBytes or no temporary file
    // can be created and reserved.
    bool Size(int32_t lines, int32_t width, int32_t samples, int64_t budget);
    bool IsSized() const { return !lineTable.empty(); }
    // Frees the lines and removes the temporary file.
    void Clear() { Release(); }

    // Fills the lines in turn from line 0 (never reads the temporary file).
    bool WriteNextLine(const T* values);
    // Where the next line of the fill may be put in place, or null when it
    // must be handed to WriteNextLine; CommitNextLine then takes it.
    T* NextLineSlot();
    bool CommitNextLine();
    // The values of a line, resident until the next line is loaded; null
    // outside the plane or when the temporary file cannot be read.
    T* LoadLine(int32_t line);

    // 0 outside the plane.
    T GetPixel(int32_t sample, int32_t line, int32_t x);
    // Nothing outside the plane.
    void SetPixel(int32_t sample, int32_t line, int32_t x, T value);

    int32_t GetResidentLimit() const { return residentLimit; }
    // The temporary file's path, empty when the plane is wholly in memory.
    const std::string& GetTempFileName() const { return tempName; }
    // True after a failed read or write of the temporary file.
    bool HasFailed() const { return ioFailed; }

private:
    void Release();
    bool CreateTempFile(int64_t bytes);
    bool Transfer(bool write, T* values, int32_t line, int32_t count);
    bool WriteLines(const T* values, int32_t line, int32_t count) const;
    T* RunBase() const;
    int32_t RunCapacity() const;
    bool FlushRun();
    bool WaitForWrite();

    std::string tempName;
    int fd = -1;
    int32_t lines = 0;
    int32_t width = 0;
    int32_t samples = 0;
    size_t lineValues = 0;
    int32_t residentLimit = 0;
    int32_t residentCount = 0;
    int32_t poolPosition = 0;
    std::unique_ptr<T[]> pool;
    std::vector<T*> lineTable;    // a resident line's values, null otherwise
    std::vector<uint8_t> changed; // written since loaded
    std::vector<int32_t> ring;    // resident lines in load order
    int32_t ringWrite = 0;
    int32_t ringRead = 0;
    bool allInMemory = false;
    int32_t nextLine = 0;
    // Lines of the sequential fill gather in one half of the pool while the
    // other half is written to the file on another thread.
    int32_t runStart = 0;
    int32_t runLength = 0;
    int32_t runHalf = 0;
    std::future<bool> pendingWrite;
    bool ioFailed = false;
};

using CPagedPlane8 = CPagedPlane<uint8_t>;
using CPagedPlane16 = CPagedPlane<uint16_t>;

template <typename T>
class CStoreImage {
public:
    virtual ~CStoreImage() = default;

    int32_t samplesPerPixel = 0;
    int32_t lines = 0;
    int32_t width = 0;
    int32_t bits = int32_t(8 * sizeof(T));
    int32_t linesRead = 0; // lines transferred by the last read
    CPagedPlane<T> plane;
};

using CStoreImage8 = CStoreImage<uint8_t>;
using CStoreImage16 = CStoreImage<uint16_t>;

class CImageStore {
public:
    // Bytes of lines each plane keeps in memory.
    static constexpr int64_t kPlaneBudget = 8192000;

    CImageStore() = default;
    virtual ~CImageStore() = default;
    CImageStore(const CImageStore&) = delete;
    CImageStore& operator=(const CImageStore&) = delete;

    // Records the size and sizes the plane of that depth, every value 0.
    // False when bits is neither 8 nor 16 (the size is recorded, nothing is
    // held) or the plane cannot be sized (the store is left empty).
    bool Create(int32_t lines, int32_t width, int32_t samples, int32_t bits);

    // Reads a whole image from the file. False when its depth is neither 8
    // nor 16, the store cannot hold it, or a line cannot be read: reading
    // stops there and GetLinesRead gives that line.
    bool ReadFrom(CImageFileReader& file);
    // Writes every line to the file. False when the store holds no image or a
    // line cannot be made resident or written.
    bool WriteTo(CImageFileReader& file);

    // 0 outside the image or for a store that holds none.
    int32_t GetPixel(int32_t sample, int32_t line, int32_t x);
    // Nothing outside the image; the value is cut to the depth's width.
    void SetPixel(int32_t sample, int32_t line, int32_t x, int32_t value);

    bool IsColor() const { return samplesPerPixel == 3; }
    int32_t GetHeight() const { return height; }
    int32_t GetWidth() const { return width; }
    int32_t GetSamplesPerPixel() const { return samplesPerPixel; }
    int32_t GetBitsPerSample() const { return bitsPerSample; }
    int32_t GetLinesRead() const;

    // Fills target with the grey image: each value the integer part of
    // (s0 + s1 + s2) x 0.3333333333333333 + 0.5. False, target unchanged,
    // unless this store holds three samples; false when the target cannot be
    // sized or a line cannot be read.
    bool ConvertToGrey(CImageStore& target);

    // The plane in use, for its paging state.
    int32_t GetResidentLimit() const;
    const std::string& GetTempFileName() const;

private:
    bool Holds() const;
    void Empty();

    int32_t samplesPerPixel = -1;
    int32_t height = -1;
    int32_t width = -1;
    int32_t bitsPerSample = -1;
    CStoreImage8 image8;
    CStoreImage16 image16;
};
