// Station files (".eof"): one line of exterior orientation per image, written
// in one layout and read in the "Standard" layout (station and angles) or the
// "Aim Point" layout (station, a point the camera looks at and the roll).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class CProjectDocument;
class CProjectImage;
class CProjectImageList;

// Line layouts of the import.
enum StationFileFormat : int { STATION_FORMAT_STANDARD = 0, STATION_FORMAT_AIM_POINT = 1 };

// The four header lines and one image's line, without line ends.
std::string FormatStationHeaderLine(int index);
std::string FormatStationLine(const CProjectImage& image);

// Writes the header and a line per image, each ending with CR LF. The old
// file is replaced only when every byte was written; false with the reason.
bool WriteStationFile(const char* path, const CProjectImageList& images, std::string& error);

// The fields of one data line as the layout's scan pattern reads them.
struct CStationRecord {
    int fields = 0;              // fields converted, as a scan would count them
    std::string name;
    double numbers[7] = {};      // Standard: X Y Z A E R; Aim Point: X Y Z Xa Ya Za R
    int resected = 0;
    std::string path;            // the path after the quote handling
};
// Scans a line (without its line end) in the layout. The path is cleaned
// only when every field was read.
int ScanStationLine(const std::string& line, int format, CStationRecord& record);

// The rows x, y and d of a camera at the station looking at the aim point,
// d the unit vector from the aim point to the station. False, R untouched,
// when the two lie closer than 1e-5.
bool RotationFromAimPoint(const double station[3], const double aim[3], double R[3][3]);

struct CStationImportResult {
    int imported = 0;
    bool stopped = false;     // a station equal to its aim point ended the import
    std::vector<int> skipped; // lines (from 1) with text but no station
};
// Imports the file's bytes into the document: a new image per station line
// (an image name followed by X, Y and Z, the rest as far as it is read),
// given the camera name; each one is reported to added (the tree adds its
// item). Lines are read whole, however long; blank lines and lines that
// begin with "//" are passed over, other lines are skipped and listed in the
// result. Sets the modified flag when an image was imported.
CStationImportResult ImportStationText(const std::string& bytes, int format, bool acceptResected,
                                       CProjectDocument& doc, const char* cameraName,
                                       const std::function<void(CProjectImage*)>& added);
// Tells in one message what an import of the file left out: the lines it
// skipped (at most ten named), or that the file holds no station at all.
// Nothing when there is nothing to tell.
void ReportStationImport(const char* path, const CStationImportResult& result);
