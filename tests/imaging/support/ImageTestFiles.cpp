#include "ImageTestFiles.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <jpeglib.h>
#include <jerror.h>
#include <tiffio.h>

#include "Message.h"

int KnownValue(int sample, int line, int x, int maxValue)
{
    const double v = 0.5 + 0.25 * std::sin(0.011 * x + 0.7 * sample) + 0.2 * std::cos(0.017 * line - 0.3 * sample);
    return int(std::lround(std::clamp(v, 0.0, 1.0) * maxValue));
}

ScratchFolder::ScratchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    hadTmp = tmp != nullptr;
    if (tmp)
        oldTmp = tmp;
    std::string path = folder.File("");
    path.pop_back(); // the separator File adds
    ::setenv("TMPDIR", path.c_str(), 1);
}

ScratchFolder::~ScratchFolder()
{
    if (hadTmp)
        ::setenv("TMPDIR", oldTmp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

std::vector<std::string> ScratchFolder::Files() const
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder.File("")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteTiffImages(const std::string& path, const std::vector<TiffImageSpec>& directories, bool bigEndian)
{
    TIFF* t = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
    if (!t)
        return false;
    bool ok = true;
    for (const TiffImageSpec& d : directories) {
        const int maxValue = d.bits == 16 ? 65535 : (1 << d.bits) - 1;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(d.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(d.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(d.bits));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(d.samples));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(d.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(d.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(d.compression));
        const int planes = d.separatePlanes ? d.samples : 1;
        const int perPixel = d.separatePlanes ? 1 : d.samples;
        if (d.tiled) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(16));
            TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(16));
            std::vector<uint8_t> tile(size_t(TIFFTileSize(t)), 0x55);
            for (uint32_t i = 0; i < TIFFNumberOfTiles(t); ++i)
                ok = ok && TIFFWriteEncodedTile(t, i, tile.data(), tmsize_t(tile.size())) >= 0;
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(d.rowsPerStrip ? d.rowsPerStrip : TIFFDefaultStripSize(t, 0)));
            std::vector<uint8_t> row(size_t(TIFFScanlineSize(t)));
            for (int p = 0; p < planes; ++p)
                for (int y = 0; y < d.height && ok; ++y) {
                    std::fill(row.begin(), row.end(), 0);
                    for (int x = 0; x < d.width; ++x)
                        for (int s = 0; s < perPixel; ++s) {
                            const int v = KnownValue(d.separatePlanes ? p : s, y, x, maxValue);
                            const size_t i = size_t(x) * perPixel + s;
                            if (d.bits == 16)
                                reinterpret_cast<uint16_t*>(row.data())[i] = uint16_t(v);
                            else if (d.bits == 8)
                                row[i] = uint8_t(v);
                            else if (v > maxValue / 2)
                                row[i * d.bits / 8] |= uint8_t(0x80 >> (i * d.bits % 8));
                        }
                    ok = TIFFWriteScanline(t, row.data(), uint32_t(y), uint16_t(p)) == 1;
                }
        }
        ok = ok && TIFFWriteDirectory(t) == 1;
    }
    TIFFClose(t);
    return ok;
}

bool WriteJpeg(const std::string& path, int width, int height, int samples, int quality)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = samples;
    c.in_color_space = samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (samples == 3 && quality >= 100)
        for (int i = 0; i < 3; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * samples);
    while (c.next_scanline < c.image_height) {
        const int y = int(c.next_scanline);
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < samples; ++s)
                row[size_t(x) * samples + s] = JSAMPLE(KnownValue(s, y, x, 255));
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

namespace {

struct OracleError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool damaged = false;
};

void OracleExit(j_common_ptr c)
{
    std::longjmp(reinterpret_cast<OracleError*>(c->err)->jump, 1);
}

void OracleEmit(j_common_ptr c, int level)
{
    const int code = c->err->msg_code;
    if (level < 0
        && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE
            || code == JWRN_ARITH_BAD_CODE || code == JWRN_MUST_RESYNC))
        reinterpret_cast<OracleError*>(c->err)->damaged = true;
}

void OracleSilent(j_common_ptr) {}

// All work with the decompressor sits here, with nothing that needs a destructor.
bool OracleDecode(FILE* f, jpeg_decompress_struct* d, OracleError* err, JSAMPLE* row, size_t rowBytes)
{
    if (setjmp(err->jump))
        return true;
    jpeg_stdio_src(d, f);
    jpeg_read_header(d, TRUE);
    if (d->jpeg_color_space != JCS_GRAYSCALE && d->jpeg_color_space != JCS_YCbCr && d->jpeg_color_space != JCS_RGB)
        return true;
    d->out_color_space = d->jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_calc_output_dimensions(d);
    if (size_t(d->output_width) * size_t(d->output_components) > rowBytes)
        return true;
    jpeg_start_decompress(d);
    while (d->output_scanline < d->output_height && !err->damaged)
        jpeg_read_scanlines(d, &row, 1);
    if (!err->damaged)
        jpeg_finish_decompress(d);
    return err->damaged;
}

} // namespace

bool LibjpegReportsDamage(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return true;
    std::vector<JSAMPLE> row(size_t(65535) * 4);
    jpeg_decompress_struct d;
    OracleError err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OracleExit;
    err.pub.emit_message = OracleEmit;
    err.pub.output_message = OracleSilent;
    jpeg_create_decompress(&d);
    const bool damaged = OracleDecode(f, &d, &err, row.data(), row.size());
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return damaged;
}

QuietMessages::QuietMessages()
{
    SetMessageBoxHandler([](const char*, const char*, unsigned type) { return DefaultMessageAnswer(type); });
    TakeCapturedMessages();
}

QuietMessages::~QuietMessages()
{
    SetMessageBoxHandler(nullptr);
}
