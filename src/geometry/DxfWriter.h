// A point set as an ASCII DXF drawing: a POINT on the layer "Points" and a
// TEXT with the label on the layer "Labels" for every point.
#pragma once

#include <memory>
#include <string>

class CObjectPoint;
class CPointSet;
class CTextFile;

class CDxfWriter {
public:
    explicit CDxfWriter(const char* path);
    ~CDxfWriter();
    CDxfWriter(const CDxfWriter&) = delete;
    CDxfWriter& operator=(const CDxfWriter&) = delete;

    // Writes the drawing beside the target and puts it in place; false
    // without a set or when the file could not be written whole.
    bool WritePointSet(const CPointSet* points);
    // Why the last write failed; empty after one that worked.
    const std::string& GetError() const { return error; }

private:
    bool BeginSection(const char* name);
    bool EndSection();
    bool WriteHeader();
    bool WriteTables();
    bool WriteLayerTable(const char* name);
    bool WritePoints(const CPointSet& points);
    bool WritePoint(const CObjectPoint& point);
    bool WriteLabels(const CPointSet& points);
    bool WriteText(const CObjectPoint& point);
    bool WriteEof();
    void Put(const char* line);
    void PutNumber(double value);

    std::string path;
    std::string text;
    std::string error;
};
