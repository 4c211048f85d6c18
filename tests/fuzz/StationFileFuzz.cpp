// Reads arbitrary bytes as a station file in both layouts. The import must
// not crash or run away, and what it makes must be sane: no more images and
// skipped lines than lines, finite positions, rotations that are either unset (zero) or
// orthonormal, and paths without line ends.
#include "Message.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "StationFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool SaneRotation(const CProjectImage& image)
{
    double R[3][3];
    image.GetRotation(R);
    bool zero = true;
    for (const auto& row : R)
        for (double v : row) {
            if (!std::isfinite(v))
                return false;
            zero = zero && v == 0.0;
        }
    if (zero)
        return true;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double dot = R[i][0] * R[j][0] + R[i][1] * R[j][1] + R[i][2] * R[j][2];
            if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-9)
                return false;
        }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::size_t lines = size > 0 ? 1 : 0;
    for (char c : bytes)
        lines += c == '\n' ? 1 : 0;
    for (int format : {STATION_FORMAT_STANDARD, STATION_FORMAT_AIM_POINT}) {
        for (bool accept : {false, true}) {
            CProjectDocument doc;
            int added = 0;
            const CStationImportResult result =
                ImportStationText(bytes, format, accept, doc, "Cam", [&added](CProjectImage*) { ++added; });
            ReportStationImport("in.eof", result);
            TakeCapturedMessages();
            if (result.imported != added || doc.images.GetSize() != added ||
                std::size_t(added) + result.skipped.size() > lines)
                __builtin_trap();
            // Skipped lines are named once each, in file order.
            for (std::size_t k = 0; k < result.skipped.size(); ++k)
                if (result.skipped[k] < 1 || std::size_t(result.skipped[k]) > lines ||
                    (k > 0 && result.skipped[k] <= result.skipped[k - 1]))
                    __builtin_trap();
            for (int i = 0; i < doc.images.GetSize(); ++i) {
                const CProjectImage* image = doc.images.GetAt(i);
                if (!std::isfinite(image->X) || !std::isfinite(image->Y) || !std::isfinite(image->Z))
                    __builtin_trap();
                if (!SaneRotation(*image))
                    __builtin_trap();
                if (image->name.IsEmpty() || std::string(image->GetFilePath().GetText()).find('\n') != std::string::npos)
                    __builtin_trap();
                if (accept && !image->oriented)
                    __builtin_trap();
            }
        }
    }
    return 0;
}
