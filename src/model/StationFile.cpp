#include "StationFile.h"

#include "DynString.h"
#include "FilePath.h"
#include "Message.h"
#include "NumberText.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "TextFile.h"
#include "TextLines.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const double kPi = 4.0 * std::atan(1.0);

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void SkipBlanks(const std::string& s, std::size_t& p)
{
    while (p < s.size() && IsBlank(s[p]))
        ++p;
}

// "%s": the run of non-blank characters; false at the end of the text.
bool ScanToken(const std::string& s, std::size_t& p, std::string& token, std::size_t* start = nullptr)
{
    SkipBlanks(s, p);
    if (p >= s.size())
        return false;
    const std::size_t from = p;
    while (p < s.size() && !IsBlank(s[p]))
        ++p;
    token.assign(s, from, p - from);
    if (start)
        *start = from;
    return true;
}

bool ScanDouble(const std::string& s, std::size_t& p, double& value)
{
    SkipBlanks(s, p);
    const char* begin = s.c_str() + p;
    const char* q = begin;
    double v = 0.0;
    // A number beyond the doubles is no number here.
    if (!ScanNumber(q, s.c_str() + s.size(), v) || !std::isfinite(v))
        return false;
    value = v;
    p += std::size_t(q - begin);
    return true;
}

// "%d": an optional sign and decimal digits; out-of-range values saturate.
bool ScanInt(const std::string& s, std::size_t& p, int& value)
{
    SkipBlanks(s, p);
    std::size_t q = p;
    bool negative = false;
    if (q < s.size() && (s[q] == '+' || s[q] == '-'))
        negative = s[q++] == '-';
    if (q >= s.size() || s[q] < '0' || s[q] > '9')
        return false;
    long long v = 0;
    for (; q < s.size() && s[q] >= '0' && s[q] <= '9'; ++q)
        if (v <= INT_MAX)
            v = v * 10 + (s[q] - '0');
    if (negative)
        v = -v;
    value = int(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v)));
    p = q;
    return true;
}

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

double Norm(const double v[3])
{
    return std::hypot(v[0], v[1], v[2]);
}

} // namespace

std::string FormatStationHeaderLine(int index)
{
    CDynString line;
    switch (index) {
    case 0:
        return "// Kestrelon Station Files";
    case 2:
        line.Format("// %-22s\t%-20s\t%-20s\t%-20s\t%-20s\t%-20s\t%-15s\t%-10s\t%-20s", "image name", "X", "Y", "Z",
                    "azimuth", "evelvation", "roll", "resected", "image path");
        return line.GetText();
    default:
        return "//";
    }
}

std::string FormatStationLine(const CProjectImage& image)
{
    const double toDegrees = 180.0 / kPi;
    CDynString line;
    line.Format("%-15s\t%20.10lf\t%20.10lf\t%20.10lf\t%20.15lf\t%20.15lf\t%20.15lf\t%10d\t\"%s\"",
                image.name.GetText(), image.X, image.Y, image.Z, image.GetAzimuth() * toDegrees,
                image.GetElevation() * toDegrees, image.GetRoll() * toDegrees, image.oriented ? 1 : 0,
                image.GetFilePath().GetText());
    return line.GetText();
}

bool WriteStationFile(const char* path, const CProjectImageList& images, std::string& error)
{
    CTextFile file(path, std::ios::out);
    if (!file.is_open()) {
        error = file.GetFileError();
        return false;
    }
    for (int i = 0; i < 4; ++i)
        file << FormatStationHeaderLine(i) << '\n';
    for (int i = 0; i < images.GetSize(); ++i)
        file << FormatStationLine(*images.GetAt(i)) << '\n';
    file.close();
    if (file.fail()) {
        error = file.GetFileError();
        return false;
    }
    return true;
}

int ScanStationLine(const std::string& line, int format, CStationRecord& record)
{
    record = CStationRecord();
    const int numbers = format == STATION_FORMAT_AIM_POINT ? 7 : 6;
    std::size_t p = 0;
    if (!ScanToken(line, p, record.name))
        return 0;
    int n = 1;
    for (int i = 0; i < numbers; ++i, ++n)
        if (!ScanDouble(line, p, record.numbers[i]))
            return record.fields = n;
    if (!ScanInt(line, p, record.resected))
        return record.fields = n;
    ++n;
    std::string token;
    std::size_t start = 0;
    if (!ScanToken(line, p, token, &start))
        return record.fields = n;
    ++n;
    // A path with blanks was cut at the first one: take the line from behind
    // the opening quote up to its last quote.
    const bool opens = !token.empty() && token.front() == '"';
    const bool closes = token.size() >= 2 && token.back() == '"';
    if (opens && !closes) {
        const std::size_t last = line.find_last_of('"');
        const std::size_t from = start + 1;
        if (last != std::string::npos && last > start)
            record.path.assign(line, from, last - from);
        else
            record.path.assign(line, from, std::string::npos);
    } else if (opens && closes) {
        record.path.assign(token, 1, token.size() - 2);
    } else {
        record.path = token;
    }
    return record.fields = n;
}

bool RotationFromAimPoint(const double station[3], const double aim[3], double R[3][3])
{
    double d[3] = {station[0] - aim[0], station[1] - aim[1], station[2] - aim[2]};
    const double length = Norm(d);
    if (!(length >= 1e-05))
        return false;
    for (double& v : d)
        v /= length;
    const double up[3] = {0.0, 0.0, 1.0};
    double x[3], y[3];
    Cross(up, d, x);
    const double h = Norm(x);
    if (h >= 1e-07) {
        for (double& v : x)
            v /= h;
        Cross(d, x, y);
    } else {
        const double east[3] = {1.0, 0.0, 0.0};
        Cross(d, east, y);
        const double n = Norm(y);
        for (double& v : y)
            v /= n;
        Cross(y, d, x);
    }
    for (int j = 0; j < 3; ++j) {
        R[0][j] = x[j];
        R[1][j] = y[j];
        R[2][j] = d[j];
    }
    return true;
}

CStationImportResult ImportStationText(const std::string& bytes, int format, bool acceptResected,
                                       CProjectDocument& doc, const char* cameraName,
                                       const std::function<void(CProjectImage*)>& added)
{
    CStationImportResult result;
    const bool aim = format == STATION_FORMAT_AIM_POINT;
    const int full = aim ? 10 : 9;
    const double toRadians = kPi * (1.0 / 180.0);
    const CDynString folder = doc.GetProjectFolder();
    int lineNumber = 0;
    std::string line;
    ForEachTextLine(bytes.data(), bytes.size(), [&](const char* text, std::size_t length) {
        ++lineNumber;
        line.assign(text, length);
        if (line.empty() || line.compare(0, 2, "//") == 0)
            return true;
        CStationRecord r;
        const int n = ScanStationLine(line, format, r);
        // Blanks only.
        if (n < 1)
            return true;
        // Without a name and the station's X, Y and Z a line is no station.
        if (n < 4) {
            result.skipped.push_back(lineNumber);
            return true;
        }
        double R[3][3];
        // Coordinates so far apart that their difference overflows give no direction.
        bool aimable = n >= 7;
        for (int k = 0; k < 3 && aim; ++k)
            aimable = aimable && std::isfinite(r.numbers[k] - r.numbers[k + 3]);
        if (aim && aimable && !RotationFromAimPoint(&r.numbers[0], &r.numbers[3], R)) {
            AfxMessageBox("Aim point and station coordinates have to be different", MB_ICONERROR);
            result.stopped = true;
            return false;
        }
        CProjectImage* image = doc.AddNewImage(r.name.c_str());
        image->SetCameraName(cameraName);
        image->SetPosition(r.numbers[0], r.numbers[1], r.numbers[2]);
        if (n >= 7 && (!aim || aimable)) {
            if (aim) {
                const double roll = n >= 8 ? r.numbers[6] * toRadians : 0.0;
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j)
                        image->rotation.SetAt(R[i][j], i, j);
                image->SetRoll(roll);
            } else {
                image->SetRotation(r.numbers[3] * toRadians, r.numbers[4] * toRadians, r.numbers[5] * toRadians);
            }
        }
        if (acceptResected)
            image->oriented = true;
        else if (n >= (aim ? 9 : 8))
            image->oriented = r.resected == 1;
        if (n == full) {
            image->SetFilePath(r.path.c_str());
        } else {
            CFilePath path;
            path.Format("%s.icf", image->name.GetText());
            path.SetFolder(folder);
            image->SetFilePath(path.GetText());
        }
        if (added)
            added(image);
        ++result.imported;
        return true;
    });
    if (result.imported > 0 && !result.stopped)
        doc.SetModifiedFlag(true);
    return result;
}

void ReportStationImport(const char* path, const CStationImportResult& result)
{
    const std::string file = path ? path : "";
    std::string text;
    if (result.imported == 0 && !result.stopped) {
        text = file + " holds no station data: no line gives an image name followed by X, Y and Z. Nothing was imported.";
    } else if (!result.skipped.empty()) {
        const bool one = result.skipped.size() == 1;
        text = FormatLineNumbers(result.skipped) + " of " + file + (one ? " holds" : " hold") +
               " no station (an image name followed by X, Y and Z) and " + (one ? "was" : "were") +
               " not imported.";
    } else {
        return;
    }
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONWARNING);
}
