#include "ImageStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include <fcntl.h>
#include <unistd.h>

#include "DynString.h"
#include "Message.h"
#include "TempFiles.h"

static_assert(sizeof(off_t) == 8, "paging files need 64-bit offsets");

namespace {

// Names "img1.tmp", "img2.tmp", ... tried before the store gives up.
constexpr int kMaxTempNames = 1000;

void Say(const char* format, const char* detail)
{
    CDynString text;
    text.Format(format, detail);
    AfxMessageBox(text.GetText(), MB_OK | MB_ICONERROR);
}

} // namespace

template <typename T>
CPagedPlane<T>::~CPagedPlane()
{
    Release();
}

template <typename T>
void CPagedPlane<T>::Release()
{
    WaitForWrite();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (!tempName.empty())
        ::unlink(tempName.c_str());
    tempName.clear();
    pool.reset();
    std::vector<T*>().swap(lineTable);
    std::vector<uint8_t>().swap(changed);
    std::vector<int32_t>().swap(ring);
    lines = width = samples = 0;
    lineValues = 0;
    residentLimit = residentCount = poolPosition = 0;
    ringWrite = ringRead = 0;
    runStart = runLength = runHalf = 0;
    allInMemory = false;
    nextLine = 0;
    ioFailed = false;
}

template <typename T>
bool CPagedPlane<T>::CreateTempFile(int64_t bytes)
{
    const std::string folder = GetTempFolder();
    for (int n = 1; n <= kMaxTempNames; ++n) {
        std::string name = folder + "/img" + std::to_string(n) + ".tmp";
        const int f = CreateNewFile(name);
        if (f < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        fd = f;
        tempName = std::move(name);
        // Reserve the space now, so that paging cannot run out of it later;
        // the reserved file reads as zeros.
        if (::posix_fallocate(fd, 0, off_t(bytes)) != 0)
            break;
        return true;
    }
    Say("The temporary image file could not be created in %s.", folder.c_str());
    return false;
}

template <typename T>
bool CPagedPlane<T>::Size(int32_t nLines, int32_t nWidth, int32_t nSamples, int64_t budget)
{
    Release();
    if (nLines < 1 || nWidth < 1 || nSamples < 1)
        return false;
    if (nLines > kMaxImageSide || nWidth > kMaxImageSide || nSamples > 4
        || int64_t(nLines) * nWidth * nSamples * int64_t(sizeof(T)) > kMaxPlaneBytes) {
        Say("%s", "The image is too large to be held in memory.");
        return false;
    }
    lines = nLines;
    width = nWidth;
    samples = nSamples;
    lineValues = size_t(width) * size_t(samples);
    const int64_t lineBytes = int64_t(lineValues * sizeof(T));
    const int64_t total = lineBytes * lines;
    allInMemory = total <= budget;
    residentLimit = allInMemory ? lines : int32_t(std::max<int64_t>(1, std::min<int64_t>(budget / lineBytes, lines)));
    if (!allInMemory && !CreateTempFile(total)) {
        Release();
        return false;
    }
    pool.reset(new (std::nothrow) T[size_t(residentLimit) * lineValues]());
    if (!pool) {
        Release();
        Say("%s", "There is not enough memory for the image.");
        return false;
    }
    lineTable.assign(size_t(lines), nullptr);
    changed.assign(size_t(lines), 0);
    if (allInMemory) {
        for (int32_t i = 0; i < lines; ++i)
            lineTable[size_t(i)] = pool.get() + size_t(i) * lineValues;
        residentCount = lines;
    } else {
        ring.assign(size_t(residentLimit), -1);
    }
    return true;
}

template <typename T>
bool CPagedPlane<T>::WriteLines(const T* values, int32_t line, int32_t count) const
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(values);
    size_t left = lineValues * sizeof(T) * size_t(count);
    off_t offset = off_t(line) * off_t(lineValues * sizeof(T));
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, p, left, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= size_t(n);
        offset += n;
    }
    return true;
}

template <typename T>
bool CPagedPlane<T>::Transfer(bool write, T* values, int32_t line, int32_t count)
{
    if (write) {
        if (!WriteLines(values, line, count))
            ioFailed = true;
        return !ioFailed;
    }
    uint8_t* p = reinterpret_cast<uint8_t*>(values);
    size_t left = lineValues * sizeof(T) * size_t(count);
    off_t offset = off_t(line) * off_t(lineValues * sizeof(T));
    while (left > 0) {
        const ssize_t n = ::pread(fd, p, left, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ioFailed = true;
            return false;
        }
        p += n;
        left -= size_t(n);
        offset += n;
    }
    return true;
}

template <typename T>
int32_t CPagedPlane<T>::RunCapacity() const
{
    return residentLimit < 2 ? residentLimit : residentLimit / 2;
}

template <typename T>
T* CPagedPlane<T>::RunBase() const
{
    return pool.get() + size_t(runHalf) * size_t(RunCapacity()) * lineValues;
}

template <typename T>
bool CPagedPlane<T>::WaitForWrite()
{
    if (pendingWrite.valid() && !pendingWrite.get())
        ioFailed = true;
    return !ioFailed;
}

// Starts writing the gathered lines; the next ones gather in the other half.
template <typename T>
bool CPagedPlane<T>::FlushRun()
{
    const int32_t count = runLength;
    runLength = 0;
    if (!WaitForWrite())
        return false;
    if (count == 0)
        return true;
    const T* base = RunBase();
    const int32_t first = runStart;
    if (RunCapacity() < residentLimit) {
        try {
            pendingWrite = std::async(std::launch::async, [this, base, first, count] { return WriteLines(base, first, count); });
            runHalf ^= 1;
            return true;
        } catch (const std::exception&) {
            // No thread to be had: write here.
        }
    }
    return Transfer(true, const_cast<T*>(base), first, count);
}

template <typename T>
T* CPagedPlane<T>::LoadLine(int32_t line)
{
    if (line < 0 || line >= lines || ioFailed)
        return nullptr;
    if (T* resident = lineTable[size_t(line)])
        return resident;
    if (!FlushRun() || !WaitForWrite())
        return nullptr;
    T* slot;
    if (residentCount >= residentLimit) {
        const int32_t oldest = ring[size_t(ringRead)];
        ringRead = (ringRead + 1) % residentLimit;
        slot = lineTable[size_t(oldest)];
        if (changed[size_t(oldest)])
            Transfer(true, slot, oldest, 1);
        changed[size_t(oldest)] = 0;
        lineTable[size_t(oldest)] = nullptr;
        --residentCount;
    } else {
        slot = pool.get() + size_t(poolPosition++) * lineValues;
    }
    ring[size_t(ringWrite)] = line;
    ringWrite = (ringWrite + 1) % residentLimit;
    if (!Transfer(false, slot, line, 1))
        std::memset(slot, 0, lineValues * sizeof(T));
    lineTable[size_t(line)] = slot;
    ++residentCount;
    return ioFailed ? nullptr : slot;
}

template <typename T>
T* CPagedPlane<T>::NextLineSlot()
{
    if (nextLine >= lines)
        return nullptr;
    if (allInMemory)
        return lineTable[size_t(nextLine)];
    // While nothing resident uses the pool, lines gather there and go to the
    // file together.
    return residentCount == 0 ? RunBase() + size_t(runLength) * lineValues : nullptr;
}

template <typename T>
bool CPagedPlane<T>::CommitNextLine()
{
    if (nextLine >= lines || (!allInMemory && residentCount != 0))
        return false;
    const int32_t line = nextLine++;
    if (allInMemory)
        return true;
    if (runLength++ == 0)
        runStart = line;
    return (runLength < RunCapacity() && nextLine < lines) || FlushRun();
}

template <typename T>
bool CPagedPlane<T>::WriteNextLine(const T* values)
{
    if (!values)
        return false;
    if (T* slot = NextLineSlot()) {
        std::memcpy(slot, values, lineValues * sizeof(T));
        return CommitNextLine();
    }
    if (nextLine >= lines)
        return false;
    const int32_t line = nextLine++;
    if (T* resident = lineTable[size_t(line)])
        std::memcpy(resident, values, lineValues * sizeof(T));
    return FlushRun() && WaitForWrite() && Transfer(true, const_cast<T*>(values), line, 1);
}

template <typename T>
T CPagedPlane<T>::GetPixel(int32_t sample, int32_t line, int32_t x)
{
    if (sample < 0 || sample >= samples || x < 0 || x >= width)
        return 0;
    const T* values = LoadLine(line);
    return values ? values[size_t(sample) * size_t(width) + size_t(x)] : 0;
}

template <typename T>
void CPagedPlane<T>::SetPixel(int32_t sample, int32_t line, int32_t x, T value)
{
    if (sample < 0 || sample >= samples || x < 0 || x >= width)
        return;
    T* values = LoadLine(line);
    if (!values)
        return;
    values[size_t(sample) * size_t(width) + size_t(x)] = value;
    changed[size_t(line)] = 1;
}

template class CPagedPlane<uint8_t>;
template class CPagedPlane<uint16_t>;

namespace {

template <typename T>
bool SizeImage(CStoreImage<T>& image, int32_t lines, int32_t width, int32_t samples)
{
    image.lines = lines;
    image.width = width;
    image.samplesPerPixel = samples;
    image.linesRead = 0;
    return image.plane.Size(lines, width, samples, CImageStore::kPlaneBudget);
}

template <typename T>
bool ReadImage(CStoreImage<T>& image, CImageFileReader& file)
{
    std::vector<T> line(size_t(image.width) * size_t(image.samplesPerPixel));
    for (int32_t i = 0; i < image.lines; ++i) {
        T* slot = image.plane.NextLineSlot();
        if (!file.ReadLine(reinterpret_cast<uint8_t*>(slot ? slot : line.data()), i)
            || !(slot ? image.plane.CommitNextLine() : image.plane.WriteNextLine(line.data())))
            return false;
        image.linesRead = i + 1;
    }
    return true;
}

template <typename T>
bool WriteImage(CStoreImage<T>& image, CImageFileReader& file)
{
    file.SetHeight(image.lines);
    file.SetWidth(image.width);
    file.SetSamplesPerPixel(image.samplesPerPixel);
    file.SetBitsPerSample(image.bits);
    for (int32_t line = file.FirstLine();; line = file.NextLine()) {
        const T* values = image.plane.LoadLine(line);
        if (!values || !file.WriteLine(reinterpret_cast<const uint8_t*>(values), line))
            return false;
        if (!file.HasMoreLines())
            return true;
    }
}

template <typename T>
bool GreyImage(CStoreImage<T>& colour, CStoreImage<T>& grey)
{
    const size_t w = size_t(colour.width);
    std::vector<T> line(w);
    for (int32_t i = 0; i < colour.lines; ++i) {
        const T* in = colour.plane.LoadLine(i);
        if (!in)
            return false;
        const T* s1 = in + w;
        const T* s2 = s1 + w;
        T* slot = grey.plane.NextLineSlot();
        T* out = slot ? slot : line.data();
        for (size_t x = 0; x < w; ++x)
            out[x] = T((double(in[x]) + double(s1[x]) + double(s2[x])) * 0.3333333333333333 + 0.5);
        if (!(slot ? grey.plane.CommitNextLine() : grey.plane.WriteNextLine(line.data())))
            return false;
    }
    return true;
}

} // namespace

bool CImageStore::Holds() const
{
    return bitsPerSample == 8 ? image8.plane.IsSized() : bitsPerSample == 16 && image16.plane.IsSized();
}

void CImageStore::Empty()
{
    samplesPerPixel = height = width = bitsPerSample = -1;
    image8.plane.Clear();
    image16.plane.Clear();
}

bool CImageStore::Create(int32_t lines, int32_t nWidth, int32_t samples, int32_t bits)
{
    height = lines;
    width = nWidth;
    samplesPerPixel = samples;
    bitsPerSample = bits;
    bool ok = false;
    if (bits == 8) {
        image16.plane.Clear();
        ok = SizeImage(image8, lines, nWidth, samples);
    } else if (bits == 16) {
        image8.plane.Clear();
        ok = SizeImage(image16, lines, nWidth, samples);
    } else {
        image8.plane.Clear();
        image16.plane.Clear();
    }
    if (!ok && (bits == 8 || bits == 16))
        Empty();
    return ok;
}

bool CImageStore::ReadFrom(CImageFileReader& file)
{
    const int32_t bits = file.GetBitsPerSample();
    const int32_t lines = file.GetHeight();
    const int32_t w = file.GetWidth();
    const int32_t samples = file.GetSamplesPerPixel();
    if (!Create(lines, w, samples, bits))
        return false;
    return bits == 8 ? ReadImage(image8, file) : ReadImage(image16, file);
}

bool CImageStore::WriteTo(CImageFileReader& file)
{
    if (!Holds())
        return false;
    return bitsPerSample == 8 ? WriteImage(image8, file) : WriteImage(image16, file);
}

int32_t CImageStore::GetPixel(int32_t sample, int32_t line, int32_t x)
{
    if (bitsPerSample == 8)
        return image8.plane.GetPixel(sample, line, x);
    if (bitsPerSample == 16)
        return image16.plane.GetPixel(sample, line, x);
    return 0;
}

void CImageStore::SetPixel(int32_t sample, int32_t line, int32_t x, int32_t value)
{
    if (bitsPerSample == 8)
        image8.plane.SetPixel(sample, line, x, uint8_t(value));
    else if (bitsPerSample == 16)
        image16.plane.SetPixel(sample, line, x, uint16_t(value));
}

int32_t CImageStore::GetLinesRead() const
{
    return bitsPerSample == 16 ? image16.linesRead : image8.linesRead;
}

bool CImageStore::ConvertToGrey(CImageStore& target)
{
    if (samplesPerPixel != 3 || !Holds() || &target == this)
        return false;
    if (!target.Create(height, width, 1, bitsPerSample))
        return false;
    return bitsPerSample == 8 ? GreyImage(image8, target.image8) : GreyImage(image16, target.image16);
}

int32_t CImageStore::GetResidentLimit() const
{
    return bitsPerSample == 16 ? image16.plane.GetResidentLimit() : image8.plane.GetResidentLimit();
}

const std::string& CImageStore::GetTempFileName() const
{
    return bitsPerSample == 16 ? image16.plane.GetTempFileName() : image8.plane.GetTempFileName();
}
