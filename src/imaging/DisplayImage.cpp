#include "DisplayImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "BinArchive.h"
#include "BmpDisplayImage.h"
#include "Clock.h"
#include "FileIO.h"
#include "Message.h"
#include "TiffDisplayImage.h"

namespace {

// Grey of a 24-bit pixel for the accessors: the integer part of the sum
// times 0.3333333333333333, by table over every possible sum.
struct GreyOfSum {
    std::array<uint8_t, 766> value{};
    GreyOfSum()
    {
        for (int s = 0; s < 766; ++s)
            value[s] = static_cast<uint8_t>(static_cast<int>(s * 0.3333333333333333));
    }
};
const GreyOfSum& AccessorGrey()
{
    static const GreyOfSum table;
    return table;
}

// Milliseconds between two looks at a running statistics pass.
constexpr uint32_t kStatisticsPollMs = 50;

void PutU16(uint8_t*& p, uint32_t v)
{
    *p++ = uint8_t(v);
    *p++ = uint8_t(v >> 8);
}

void PutU32(uint8_t*& p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        *p++ = uint8_t(v >> (8 * i));
}

int64_t BytesPerLineFor(int64_t width, int bitCount)
{
    return ((int64_t(bitCount) * width + 31) >> 5) * 4;
}

} // namespace

CDisplayImage::CDisplayImage() = default;

CDisplayImage::~CDisplayImage()
{
    statisticsThread.Join();
}

void CDisplayImage::Clear()
{
    statisticsThread.Join();
    statisticsBusy.store(0, std::memory_order_release);
    fileName.clear();
    pixels.reset();
    colorHeader = nullptr;
    ownColorHeader.reset();
    fileColorHeader.reset();
    visible = CIntRect();
    width = height = 0;
    zoom = 1;
    stretchLow = 0;
    stretchHigh = 255;
    bytesPerLine.store(0, std::memory_order_release);
    histogram.fill(0);
    histogramReady.store(0, std::memory_order_release);
    meanGrey = 0;
    greyDeviation = 0.0;
}

void CDisplayImage::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(width);
        ar.WriteInt(height);
    } else {
        int32_t w = width, h = height;
        ar.ReadInt(w);
        ar.ReadInt(h);
        // A picture in memory keeps the size of its pixels.
        if (!pixels) {
            width = w;
            height = h;
        }
    }
}

int CDisplayImage::Load(const char*, int)
{
    return 0;
}

int CDisplayImage::ReadSize(const char*, int&, int&)
{
    return 0;
}

void CDisplayImage::ShowLoadMessage(const char* format, const char* name)
{
    std::string text(format);
    const size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, name ? name : "");
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

bool CDisplayImage::CheckImageSize(const char* name, int64_t w, int64_t h, int bitCount)
{
    if (w <= 0 || h <= 0) {
        ShowLoadMessage("The image file %s has no pixels (its width or height is 0 or negative).", name);
        return false;
    }
    if (w > kMaxImageSide || h > kMaxImageSide || BytesPerLineFor(w, bitCount) * h > kMaxImageBytes) {
        ShowLoadMessage("The image in %s is too large: at most 65535 pixels a side and 512 MB of pixels "
                        "are read.",
                        name);
        return false;
    }
    return true;
}

bool CDisplayImage::AllocateHeader(int bitCount)
{
    auto header = std::unique_ptr<CBitmapInfo>(new (std::nothrow) CBitmapInfo);
    if (!header)
        return false;
    header->bitCount = static_cast<uint16_t>(bitCount);
    if (bitCount == 4)
        header->colors.resize(16);
    else if (bitCount == 8)
        header->colors.resize(256);
    ownColorHeader.reset();
    fileColorHeader = std::move(header);
    colorHeader = fileColorHeader.get();
    return true;
}

bool CDisplayImage::AllocatePixels()
{
    const int64_t bytes = GetImageBytes();
    if (bytes <= 0 || bytes > kMaxImageBytes)
        return false;
    pixels.reset(new (std::nothrow) uint8_t[size_t(bytes)]);
    return pixels != nullptr;
}

void CDisplayImage::FinishLoad(const char* name, int threaded)
{
    fileName = name;
    width = GetHeaderWidth();
    height = GetHeaderHeight();
    colorHeader->sizeImage = static_cast<uint32_t>(GetImageBytes());
    visible = CIntRect{0, 0, width, height};
    zoom = 1;
    bytesPerLine.store(GetBytesPerLine(), std::memory_order_release);
    if (threaded) {
        statisticsBusy.store(1, std::memory_order_release);
        const bool started = statisticsThread.Start([this]() -> unsigned {
            CountGreyValues();
            statisticsBusy.store(0, std::memory_order_release);
            return 0;
        });
        if (started)
            return;
        statisticsBusy.store(0, std::memory_order_release);
    }
    ComputeStatistics();
}

void CDisplayImage::WaitForStatistics() const
{
    while (statisticsBusy.load(std::memory_order_acquire))
        Sleep(kStatisticsPollMs);
}

void CDisplayImage::ComputeStatisticsGuarded()
{
    WaitForStatistics();
    statisticsBusy.store(1, std::memory_order_release);
    ComputeStatistics();
    statisticsBusy.store(0, std::memory_order_release);
}

void CDisplayImage::ComputeStatistics()
{
    CountGreyValues();
}

// Makes no virtual call: it may run on the worker while the destructors of
// a derived class run.
void CDisplayImage::CountGreyValues()
{
    histogramReady.store(0, std::memory_order_release);
    histogram.fill(0);
    meanGrey = 0;
    greyDeviation = 0.0;
    const uint8_t* bits = pixels.get();
    const int bpl = bytesPerLine.load(std::memory_order_acquire);
    const int bitCount = fileColorHeader ? fileColorHeader->bitCount : 0;
    if (!bits || bpl <= 0 || width <= 0 || height <= 0 || (bitCount != 8 && bitCount != 24))
        return;
    // Four partial histograms keep repeated values from waiting on each other.
    std::array<std::array<uint32_t, 256>, 4> parts{};
    for (int line = 0; line < height; ++line) {
        const uint8_t* p = bits + int64_t(line) * bpl;
        if (bitCount == 8) {
            int x = 0;
            for (; x + 4 <= width; x += 4) {
                ++parts[0][p[x]];
                ++parts[1][p[x + 1]];
                ++parts[2][p[x + 2]];
                ++parts[3][p[x + 3]];
            }
            for (; x < width; ++x)
                ++parts[0][p[x]];
        } else {
            for (int x = 0; x < width; ++x, p += 3)
                ++parts[x & 3][(p[0] + p[1] + p[2]) / 3];
        }
    }
    const int64_t count = int64_t(width) * height;
    int64_t sum = 0;
    for (int v = 0; v < 256; ++v) {
        histogram[v] = int32_t(parts[0][v] + parts[1][v] + parts[2][v] + parts[3][v]);
        sum += int64_t(v) * histogram[v];
    }
    meanGrey = int(sum / count);
    double squares = 0.0;
    for (int v = 0; v < 256; ++v)
        squares += double(histogram[v]) * double(v - meanGrey) * double(v - meanGrey);
    greyDeviation = count > 1 ? std::sqrt(squares / double(count - 1)) : 0.0;
    histogramReady.store(1, std::memory_order_release);
}

double CDisplayImage::GetHistogramFraction(int value)
{
    WaitForStatistics();
    if (!histogramReady.load(std::memory_order_acquire) || value < 0 || value > 255)
        return 0.0;
    return double(histogram[value]) / (double(width) * double(height));
}

int CDisplayImage::GetMean()
{
    WaitForStatistics();
    return histogramReady.load(std::memory_order_acquire) ? meanGrey : 0;
}

double CDisplayImage::GetDeviation()
{
    WaitForStatistics();
    return histogramReady.load(std::memory_order_acquire) ? greyDeviation : 0.0;
}

int CDisplayImage::GetGreyRow(int line, uint8_t* buffer)
{
    const int bpl = bytesPerLine.load(std::memory_order_acquire);
    const int bitCount = GetBitCount();
    if (bpl <= 0 || !buffer || line < 0 || line >= height || (bitCount != 8 && bitCount != 24))
        return 0;
    const uint8_t* row = pixels.get() + int64_t(height - line - 1) * bpl;
    if (bitCount == 8) {
        std::memcpy(buffer, row, size_t(width));
    } else {
        const auto& grey = AccessorGrey().value;
        for (int x = 0; x < width; ++x, row += 3)
            buffer[x] = grey[row[0] + row[1] + row[2]];
    }
    return 1;
}

int CDisplayImage::GetGreyImage(uint8_t* const* rows)
{
    if (!rows || bytesPerLine.load(std::memory_order_acquire) <= 0)
        return 0;
    for (int line = 0; line < height; ++line)
        if (!GetGreyRow(line, rows[line]))
            return 0;
    return height > 0;
}

int CDisplayImage::GetGrey(int line, int x) const
{
    const int bpl = bytesPerLine.load(std::memory_order_acquire);
    const int bitCount = GetBitCount();
    if (bpl <= 0 || line < 0 || line >= height || x < 0 || x >= width)
        return 0;
    const uint8_t* row = pixels.get() + int64_t(height - line - 1) * bpl;
    if (bitCount == 8)
        return row[x];
    if (bitCount == 24) {
        const uint8_t* p = row + 3 * int64_t(x);
        return AccessorGrey().value[p[0] + p[1] + p[2]];
    }
    return 0;
}

int CDisplayImage::GetPixel(int x, int y) const
{
    const int bpl = bytesPerLine.load(std::memory_order_acquire);
    if (x < 0 || y < 0 || x >= width || y >= height || bpl <= 0)
        return -1;
    const uint8_t* row = pixels.get() + int64_t(y) * bpl;
    if (GetBitCount() == 24) {
        const uint8_t* p = row + 3 * int64_t(x);
        return AccessorGrey().value[p[0] + p[1] + p[2]];
    }
    return row[x];
}

void CDisplayImage::Enhance(double mode)
{
    if (!fileColorHeader || fileColorHeader->bitCount != 8)
        return;
    if (!ownColorHeader) {
        auto header = std::unique_ptr<CBitmapInfo>(new (std::nothrow) CBitmapInfo);
        if (!header)
            return;
        header->width = fileColorHeader->width;
        header->height = fileColorHeader->height;
        header->bitCount = 8;
        header->sizeImage = static_cast<uint32_t>(GetImageBytes());
        header->colors.assign(256, CRgbQuad());
        ownColorHeader = std::move(header);
        colorHeader = ownColorHeader.get();
    }
    auto& table = ownColorHeader->colors;
    const auto ramp = [&table](int low, int high) {
        for (int i = 0; i < 256; ++i) {
            int v;
            if (i < low)
                v = 0;
            else if (i >= high)
                v = 255;
            else
                v = std::min(255, int((i - low) * 255.0 / (high - low)));
            table[i] = CRgbQuad{uint8_t(v), uint8_t(v), uint8_t(v), 0};
        }
    };
    if (mode == -1.0) {
        // The pixels never change, so statistics once made stay right.
        WaitForStatistics();
        if (!histogramReady.load(std::memory_order_acquire))
            ComputeStatistics();
        if (stretchLow < stretchHigh)
            ramp(stretchLow, stretchHigh);
    } else if (mode == -2.0) {
        WaitForStatistics();
        const int deviation = int(greyDeviation);
        const int low = std::max(meanGrey - 2 * deviation, 0);
        const int high = std::min(meanGrey + 2 * deviation, 255);
        if (low < high)
            ramp(low, high);
    } else {
        const auto scaled = [mode](uint8_t c) -> uint8_t {
            const double v = c * mode;
            if (!(v > 0.0))
                return 0;
            return v >= 255.0 ? 255 : uint8_t(v);
        };
        const auto& source = fileColorHeader->colors;
        for (size_t i = 0; i < table.size() && i < source.size(); ++i)
            table[i] = CRgbQuad{scaled(source[i].blue), scaled(source[i].green), scaled(source[i].red), 0};
    }
}

void CDisplayImage::ResetView()
{
    visible = CIntRect{0, 0, GetHeaderWidth(), GetHeaderHeight()};
    zoom = 1;
}

bool CDisplayImage::ViewToImage(CIntPoint point, const CIntRect& clientRect, double& x, double& y) const
{
    const int cw = clientRect.Width();
    const int ch = clientRect.Height();
    if (cw <= 0 || ch <= 0)
        return false;
    x = double(point.x) / cw * (visible.right - visible.left) + visible.left;
    y = double(point.y) / ch * (visible.bottom - visible.top) + visible.top;
    return true;
}

bool CDisplayImage::ImageToView(CIntPoint& point, int left, int top, int right, int bottom, double x,
                                double y) const
{
    const int vw = visible.Width();
    const int vh = visible.Height();
    if (vw <= 0 || vh <= 0)
        return false;
    if (!(x >= visible.left && x <= visible.right && y >= visible.top && y <= visible.bottom))
        return false;
    point.x = right - int((visible.right - x) / vw * (right - left));
    point.y = bottom - int((visible.bottom - y) / vh * (bottom - top));
    return true;
}

void CDisplayImage::Zoom(CIntPoint point, const CIntRect& clientRect, int direction)
{
    double x = 0.0, y = 0.0;
    if (width <= 0 || height <= 0 || !ViewToImage(point, clientRect, x, y))
        return;
    int next;
    if (direction == 1)
        next = zoom < 4 ? zoom + 1 : int(zoom * 1.5);
    else
        next = zoom <= 4 ? zoom - 1 : int(zoom * 0.6666666666666666);
    if (next <= 1) {
        ResetView();
        return;
    }
    const double vw = double(width) / next;
    const double vh = double(height) / next;
    if (next > zoom && (vw < kMinVisiblePixels || vh < kMinVisiblePixels))
        return;
    zoom = next;
    const auto place = [](double centre, double size, int extent, int& low, int& high) {
        double a = centre - 0.5 * size;
        double b = centre + 0.5 * size;
        if (a < 0.0) {
            a = 0.0;
            b = size;
        } else if (b > extent) {
            b = extent;
            a = extent - size;
        }
        low = int(a);
        high = int(b);
    };
    place(x, vw, width, visible.left, visible.right);
    place(y, vh, height, visible.top, visible.bottom);
}

void CDisplayImage::GetVisibleRect(CIntRect& rect) const
{
    rect = visible;
}

bool CDisplayImage::MoveVisibleTo(int left, int top)
{
    const int w = visible.Width(), h = visible.Height();
    if (w <= 0 || h <= 0)
        return false;
    left = std::clamp(left, 0, std::max(0, width - w));
    top = std::clamp(top, 0, std::max(0, height - h));
    if (left == visible.left && top == visible.top)
        return false;
    visible = CIntRect{left, top, left + w, top + h};
    return true;
}

// Size and depth come from the file's header, which stays in place while
// other threads read the pixels; a contrast change only swaps the table used
// for drawing.
int CDisplayImage::GetBytesPerLine() const
{
    const CBitmapInfo* info = fileColorHeader.get();
    return info ? int(BytesPerLineFor(info->width, info->bitCount)) : 0;
}

int CDisplayImage::GetImageBytes() const
{
    const CBitmapInfo* info = fileColorHeader.get();
    if (!info)
        return 0;
    const int64_t bytes = BytesPerLineFor(info->width, info->bitCount) * info->height;
    return bytes > kMaxImageBytes ? 0 : int(bytes);
}

int CDisplayImage::GetHeaderWidth() const { return fileColorHeader ? fileColorHeader->width : 0; }
int CDisplayImage::GetHeaderHeight() const { return fileColorHeader ? fileColorHeader->height : 0; }
int CDisplayImage::GetBitCount() const { return fileColorHeader ? fileColorHeader->bitCount : 0; }
int CDisplayImage::GetColorsUsed() const { return colorHeader ? int(colorHeader->clrUsed) : 0; }
int CDisplayImage::GetSizeImage() const { return colorHeader ? int(colorHeader->sizeImage) : 0; }
int CDisplayImage::GetXPelsPerMeter() const { return colorHeader ? colorHeader->xPelsPerMeter : 0; }
int CDisplayImage::GetYPelsPerMeter() const { return colorHeader ? colorHeader->yPelsPerMeter : 0; }
const uint8_t* CDisplayImage::GetPixelBits() const { return pixels.get(); }

void CDisplayImage::SetHeaderWidth(int value)
{
    if (colorHeader)
        colorHeader->width = value;
    if (fileColorHeader)
        fileColorHeader->width = value;
}
void CDisplayImage::SetHeaderHeight(int value)
{
    if (colorHeader)
        colorHeader->height = value;
    if (fileColorHeader)
        fileColorHeader->height = value;
}
void CDisplayImage::SetPlanes(int value)
{
    if (colorHeader)
        colorHeader->planes = uint16_t(value);
}
void CDisplayImage::SetBitCount(int value)
{
    if (colorHeader)
        colorHeader->bitCount = uint16_t(value);
    if (fileColorHeader)
        fileColorHeader->bitCount = uint16_t(value);
}
void CDisplayImage::SetXPelsPerMeter(int value)
{
    if (colorHeader)
        colorHeader->xPelsPerMeter = value;
}
void CDisplayImage::SetYPelsPerMeter(int value)
{
    if (colorHeader)
        colorHeader->yPelsPerMeter = value;
}
void CDisplayImage::SetColorsUsed(int value)
{
    if (colorHeader)
        colorHeader->clrUsed = uint32_t(value);
}
void CDisplayImage::SetColorsImportant(int value)
{
    if (colorHeader)
        colorHeader->clrImportant = uint32_t(value);
}
void CDisplayImage::SetSizeImage(int value)
{
    if (colorHeader)
        colorHeader->sizeImage = uint32_t(value);
}

int CDisplayImage::SaveAsBmp(const char* path)
{
    const CBitmapInfo* info = colorHeader;
    const int bpl = bytesPerLine.load(std::memory_order_acquire);
    saveError.clear();
    if (!info || !pixels || !path || bpl <= 0 || BytesPerLineFor(width, GetBitCount()) != bpl) {
        saveError = "no picture is held";
        return 0;
    }
    // The size written is that of the pixels held, whatever the header says.
    const int64_t imageBytes = int64_t(bpl) * height;
    // Bitmaps above 8 bits carry no colour table.
    size_t tableEntries = 0;
    if (GetBitCount() <= 8)
        tableEntries = info->clrUsed ? info->clrUsed : (size_t(1) << GetBitCount());
    tableEntries = std::min(tableEntries, info->colors.size());
    const uint32_t infoSize = 40 + uint32_t(4 * tableEntries);

    std::vector<uint8_t> head(14 + infoSize);
    uint8_t* p = head.data();
    PutU16(p, 0x4D42);
    PutU32(p, uint32_t(imageBytes + 14 + infoSize));
    PutU16(p, 0);
    PutU16(p, 0);
    PutU32(p, 14 + infoSize);
    PutU32(p, 40);
    PutU32(p, uint32_t(width));
    PutU32(p, uint32_t(height));
    PutU16(p, 1);
    PutU16(p, uint16_t(GetBitCount()));
    PutU32(p, 0);
    PutU32(p, uint32_t(imageBytes));
    PutU32(p, uint32_t(info->xPelsPerMeter));
    PutU32(p, uint32_t(info->yPelsPerMeter));
    PutU32(p, uint32_t(tableEntries));
    PutU32(p, info->clrImportant);
    for (size_t i = 0; i < tableEntries; ++i) {
        const CRgbQuad& c = info->colors[i];
        *p++ = c.blue;
        *p++ = c.green;
        *p++ = c.red;
        *p++ = 0;
    }
    CAtomicFile file;
    if (file.Open(path) && file.Write(head.data(), head.size()) && file.Write(pixels.get(), size_t(imageBytes)) &&
        file.Commit())
        return 1;
    saveError = file.GetError();
    return 0;
}

std::unique_ptr<CDisplayImage> CreateDisplayImage(const char* fileName)
{
    if (!fileName)
        return nullptr;
    const size_t n = std::strlen(fileName);
    if (n < 3)
        return nullptr;
    const char* end = fileName + n - 3;
    if (std::strcmp(end, "bmp") == 0 || std::strcmp(end, "dib") == 0)
        return std::make_unique<CBmpDisplayImage>();
    if (std::strcmp(end, "tif") == 0)
        return std::make_unique<CTiffDisplayImage>();
    return nullptr;
}
