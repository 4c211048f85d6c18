#include "JpegFileReader.h"

#include <array>
#include <csetjmp>
#include <cstring>
#include <new>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

#include "FileIO.h"
#include "Message.h"

namespace {

// Scans a progressive file may hold; each scan costs a pass over the image.
constexpr int kMaxScans = 1000;
// Memory libjpeg may take for one image (whole-image buffers of progressive files).
constexpr long kMaxDecoderBytes = 1L << 30;

const char* const kCaption = "JPEG Library Error";

struct ErrorManager {
    jpeg_error_mgr pub;
    void (*standardEmit)(j_common_ptr, int) = nullptr;
    std::jmp_buf jump;
};

void OutputMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    AfxMessageBox(text, MB_OK | MB_ICONERROR, kCaption);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings that mean the image data is damaged or cut short.
bool IsDamage(int code)
{
    return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE
        || code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC;
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && IsDamage(cinfo->err->msg_code))
        ErrorExit(cinfo);
    reinterpret_cast<ErrorManager*>(cinfo->err)->standardEmit(cinfo, level);
}

void TooManyScans(j_common_ptr cinfo)
{
    AfxMessageBox("The JPEG file has too many scans.", MB_OK | MB_ICONERROR, kCaption);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void MonitorProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        TooManyScans(cinfo);
}

// Red, green, blue of each pixel to three planes of w values; this runs
// over every pixel of a photograph.
void SplitRgbScalar(const uint8_t* in, uint8_t* out, size_t w, size_t from)
{
    for (size_t x = from; x < w; ++x) {
        out[x] = in[3 * x];
        out[w + x] = in[3 * x + 1];
        out[2 * w + x] = in[3 * x + 2];
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels (48 bytes in three vectors) at a time: each plane's bytes
// are picked from the three vectors by byte shuffles and joined.
__attribute__((target("ssse3"))) void SplitRgbSsse3(const uint8_t* in, uint8_t* out, size_t w)
{
    alignas(16) static const auto masks = [] {
        std::array<std::array<std::array<int8_t, 16>, 3>, 3> m{}; // [plane][vector][byte]
        for (int plane = 0; plane < 3; ++plane)
            for (int v = 0; v < 3; ++v)
                for (int i = 0; i < 16; ++i) {
                    const int at = 3 * i + plane - 16 * v;
                    m[plane][v][i] = int8_t(at >= 0 && at < 16 ? at : -128);
                }
        return m;
    }();
    __m128i mask[3][3];
    for (int plane = 0; plane < 3; ++plane)
        for (int v = 0; v < 3; ++v)
            mask[plane][v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[plane][v].data()));
    size_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x + 32));
        for (int plane = 0; plane < 3; ++plane) {
            const __m128i p = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(a, mask[plane][0]), _mm_shuffle_epi8(b, mask[plane][1])),
                _mm_shuffle_epi8(c, mask[plane][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(plane) * w + x), p);
        }
    }
    SplitRgbScalar(in, out, w, x);
}
#endif

void SplitRgb(const uint8_t* in, uint8_t* out, size_t w)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        SplitRgbSsse3(in, out, w);
        return;
    }
#endif
    SplitRgbScalar(in, out, w, 0);
}

} // namespace

struct CJpegFileReader::Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    jpeg_progress_mgr progress;
    bool created = false;
};

// Runs a call into libjpeg; an error inside it returns here through the
// error manager's jump and abandons the image. Nothing between the jump and
// this frame has a destructor to run.
template <class F>
bool CJpegFileReader::Guarded(F&& call)
{
    if (setjmp(decoder->error.jump)) {
        failed = true;
        Abandon();
        return false;
    }
    call();
    return true;
}

CJpegFileReader::CJpegFileReader(const char* name) : CImageFileReader(name), decoder(new (std::nothrow) Decoder())
{
    if (!decoder) {
        failed = true;
        return;
    }
    jpeg_decompress_struct* cinfo = &decoder->cinfo;
    cinfo->err = jpeg_std_error(&decoder->error.pub);
    decoder->error.standardEmit = decoder->error.pub.emit_message;
    decoder->error.pub.error_exit = ErrorExit;
    decoder->error.pub.output_message = OutputMessage;
    decoder->error.pub.emit_message = EmitMessage;
    Guarded([&] {
        jpeg_create_decompress(cinfo);
        decoder->created = true;
        cinfo->mem->max_memory_to_use = kMaxDecoderBytes;
        decoder->progress.progress_monitor = MonitorProgress;
        cinfo->progress = &decoder->progress;
    });
}

CJpegFileReader::~CJpegFileReader()
{
    Abandon();
}

void CJpegFileReader::Abandon()
{
    if (decoder && decoder->created) {
        jpeg_decompress_struct* cinfo = &decoder->cinfo;
        if (started && cinfo->output_scanline < cinfo->output_height)
            jpeg_abort_decompress(cinfo);
        jpeg_destroy_decompress(cinfo);
        decoder->created = false;
    }
    started = false;
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
}

bool CJpegFileReader::Refuse(const char* reason)
{
    CDynString text;
    text.Format("The JPEG file %s cannot be read: %s.", fileName.GetText(), reason);
    AfxMessageBox(text.GetText(), MB_OK | MB_ICONERROR, kCaption);
    failed = true;
    Abandon();
    return false;
}

int32_t CJpegFileReader::GetWidth()
{
    if (!opened)
        Open();
    return width;
}

int32_t CJpegFileReader::GetHeight()
{
    if (!opened)
        Open();
    return height;
}

int32_t CJpegFileReader::GetBitsPerSample()
{
    if (!opened)
        Open();
    return bitsPerSample;
}

int32_t CJpegFileReader::GetSamplesPerPixel()
{
    if (!opened)
        Open();
    return samplesPerPixel;
}

bool CJpegFileReader::Open()
{
    if (file || failed || opened || !decoder || !decoder->created)
        return false;
    std::string error;
    file = OpenRegularFileStream(fileName.GetText(), CFileInput::kNoLimit, error);
    if (!file) {
        failed = true;
        return false;
    }
    jpeg_decompress_struct* cinfo = &decoder->cinfo;
    if (!Guarded([&] {
            jpeg_stdio_src(cinfo, file);
            jpeg_read_header(cinfo, TRUE);
        }))
        return false;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo->out_color_space = JCS_RGB;
        break;
    default:
        return Refuse("only grey and colour (RGB) images can be read, not CMYK or other colour spaces");
    }
    if (!Guarded([&] { started = jpeg_start_decompress(cinfo) != 0; }))
        return false;
    if (!started)
        return Refuse("its data cannot be decompressed");
    if (cinfo->output_components != 1 && cinfo->output_components != 3)
        return Refuse("only grey and colour (RGB) images can be read");
    if (cinfo->output_width < 1 || cinfo->output_height < 1 || cinfo->output_width > JDIMENSION(kMaxImageSide)
        || cinfo->output_height > JDIMENSION(kMaxImageSide))
        return Refuse("its size is not supported");
    scanline.reset(new (std::nothrow) uint8_t[size_t(cinfo->output_width) * size_t(cinfo->output_components)]);
    if (!scanline)
        return Refuse("there is not enough memory");
    width = int32_t(cinfo->output_width);
    height = int32_t(cinfo->output_height);
    samplesPerPixel = cinfo->output_components;
    bitsPerSample = 8;
    opened = 1;
    return true;
}

bool CJpegFileReader::ReadLine(uint8_t* buffer, int32_t)
{
    if (!opened && !Open())
        return false;
    if (failed || !started || !buffer)
        return false;
    jpeg_decompress_struct* cinfo = &decoder->cinfo;
    if (cinfo->output_scanline >= cinfo->output_height)
        return false;
    JSAMPROW row = scanline.get();
    JDIMENSION got = 0;
    if (!Guarded([&] {
            got = jpeg_read_scanlines(cinfo, &row, 1);
            if (got == 1 && cinfo->output_scanline == cinfo->output_height) {
                jpeg_finish_decompress(cinfo);
                started = false;
            }
        }))
        return false;
    if (got != 1) {
        failed = true;
        Abandon();
        return false;
    }
    const size_t samples = size_t(samplesPerPixel);
    const size_t w = size_t(width);
    if (samples == 1) {
        std::memcpy(buffer, row, w);
        return true;
    }
    SplitRgb(row, buffer, w);
    return true;
}
