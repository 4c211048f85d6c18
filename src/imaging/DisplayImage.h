// A photograph in memory as a device-independent bitmap: bottom-up rows,
// each padded to a multiple of 4 bytes, with a colour table for 8-bit
// images. Grey statistics, contrast by colour table, zoom and the mapping
// between the view and the image. Subclasses read BMP and TIFF files.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageLimits.h"
#include "WorkerThread.h"

class CBinArchive;

struct CIntPoint {
    int x = 0;
    int y = 0;
};

struct CIntRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

struct CRgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};

// The 40-byte bitmap info header with its colour table.
struct CBitmapInfo {
    int32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
    std::vector<CRgbQuad> colors;
};

// Largest image read: the pixels of one image stay within a bound.
constexpr int64_t kMaxImageBytes = int64_t(512) << 20;

class CDisplayImage {
public:
    CDisplayImage();
    // Waits for the statistics pass before the pixels go.
    virtual ~CDisplayImage();
    CDisplayImage(const CDisplayImage&) = delete;
    CDisplayImage& operator=(const CDisplayImage&) = delete;

    // Stores or loads width and height only.
    virtual void Serialize(CBinArchive& ar);

    // Reads the file: 1 on success, 0 on failure (the object is then empty;
    // the reason has been shown). With threaded non-zero the statistics pass
    // runs on a worker thread of this object.
    virtual int Load(const char* fileName, int threaded);
    // Reads only the header: 1 with the size, 0 when the file is not read.
    virtual int ReadSize(const char* fileName, int& width, int& height);

    // Grey values, line 0 = top. Only 8 and 24 bits are served; 0 otherwise,
    // for an empty image and for a line outside the image.
    virtual int GetGreyImage(uint8_t* const* rows);
    virtual int GetGreyRow(int line, uint8_t* buffer);

    // Writes a BMP file with the current colour table; 0 when there is no
    // image or the file cannot be written.
    virtual int SaveAsBmp(const char* fileName);
    // Why the last SaveAsBmp failed; empty after one that worked.
    const std::string& GetSaveError() const { return saveError; }

    // View (client) coordinates to image coordinates; false when the client
    // rectangle is empty.
    virtual bool ViewToImage(CIntPoint point, const CIntRect& clientRect, double& x, double& y) const;
    // Image coordinates to a point of the view rectangle; false when outside
    // the visible rectangle (edges inside).
    virtual bool ImageToView(CIntPoint& point, int left, int top, int right, int bottom, double x,
                             double y) const;
    // One zoom step about a view point: direction 1 in, anything else out.
    // Zooming in stops where the visible rectangle would become narrower or
    // lower than kMinVisiblePixels.
    virtual void Zoom(CIntPoint point, const CIntRect& clientRect, int direction);
    virtual void GetVisibleRect(CIntRect& rect) const;
    // Moves the visible rectangle, keeping its size, to that top-left pixel,
    // kept inside the image; false when it did not move.
    bool MoveVisibleTo(int left, int top);
    // The byte of pixel x on bitmap line y (lines counted from the bottom);
    // for 24 bits the grey value of the pixel; -1 outside the image.
    virtual int GetPixel(int x, int y) const;
    // Contrast by colour table (8 bits): -2.0 histogram stretch, -1.0
    // equalize, any other value a gain (1.0 restores the file's table).
    virtual void Enhance(double mode);
    virtual void ResetView();
    // The statistics pass on the calling thread, with the busy flag set.
    virtual void ComputeStatisticsGuarded();
    // Histogram, mean and deviation of the pixels.
    virtual void ComputeStatistics();
    // A new header for that bit count (16 colours for 4 bits, 256 for 8, none
    // otherwise); false when out of memory.
    virtual bool AllocateHeader(int bitCount);
    virtual int GetBytesPerLine() const;
    virtual int GetImageBytes() const;

    virtual int GetHeaderWidth() const;
    virtual int GetHeaderHeight() const;
    virtual int GetBitCount() const;
    virtual int GetColorsUsed() const;
    virtual int GetSizeImage() const;
    virtual int GetXPelsPerMeter() const;
    virtual int GetYPelsPerMeter() const;
    virtual const uint8_t* GetPixelBits() const;
    virtual void SetHeaderWidth(int value);
    virtual void SetHeaderHeight(int value);
    virtual void SetPlanes(int value);
    virtual void SetBitCount(int value);
    virtual void SetXPelsPerMeter(int value);
    virtual void SetYPelsPerMeter(int value);
    virtual void SetColorsUsed(int value);
    virtual void SetColorsImportant(int value);
    virtual void SetSizeImage(int value);

    // One grey value, line 0 = top; 0 outside the image.
    int GetGrey(int line, int x) const;
    // Share of the pixels with that grey value, and the integer mean; both
    // wait for a running statistics pass (0 when there are no statistics).
    double GetHistogramFraction(int value);
    int GetMean();
    double GetDeviation();

    // The header and table used for drawing (after a contrast change no
    // longer the file's); null before a load.
    const CBitmapInfo* GetColorHeader() const { return colorHeader; }
    const std::string& GetFileName() const { return fileName; }
    int GetWidth() const { return width; }
    int GetHeight() const { return height; }
    int GetZoom() const { return zoom; }

    static constexpr int kMinVisiblePixels = 8;

protected:
    // Back to the state after construction (waits for the statistics first).
    void Clear();
    // Checks the size against the limits; shows the reason when refused.
    static bool CheckImageSize(const char* fileName, int64_t width, int64_t height, int bitCount);
    // Allocates the pixels for the header's size; false when out of memory.
    bool AllocatePixels();
    uint8_t* MutablePixels() { return pixels.get(); }
    // Ends a successful load: size, view, statistics.
    void FinishLoad(const char* name, int threaded);
    // Shows a refusal: the text with %s replaced by the file name.
    static void ShowLoadMessage(const char* format, const char* fileName);
    // Waits while the statistics pass runs.
    void WaitForStatistics() const;

    std::unique_ptr<CBitmapInfo> fileColorHeader; // as read
    std::unique_ptr<CBitmapInfo> ownColorHeader;  // made by the first contrast change
    CBitmapInfo* colorHeader = nullptr;           // the one in use

private:
    void CountGreyValues();

    std::string fileName;
    std::string saveError;
    std::unique_ptr<uint8_t[]> pixels;
    CIntRect visible;
    int width = 0;
    int height = 0;
    int zoom = 1;
    int stretchLow = 0;
    int stretchHigh = 255;
    std::atomic<int> bytesPerLine{0};
    std::array<int32_t, 256> histogram{};
    std::atomic<int> histogramReady{0};
    int meanGrey = 0;
    double greyDeviation = 0.0;
    std::atomic<int> statisticsBusy{0};
    CWorkerThread statisticsThread;
};

// The display image for a file name by its last three characters, compared
// exactly: "bmp" or "dib" a BMP image, "tif" a TIFF image, else null.
std::unique_ptr<CDisplayImage> CreateDisplayImage(const char* fileName);
