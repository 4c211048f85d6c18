#include "DxfWriter.h"

#include "DynString.h"
#include "FileIO.h"
#include "ObjectPoint.h"
#include "PointSet.h"

CDxfWriter::CDxfWriter(const char* path) : path(path != nullptr ? path : "") {}

CDxfWriter::~CDxfWriter() = default;

void CDxfWriter::Put(const char* line)
{
    text += line;
    text += "\r\n";
}

void CDxfWriter::PutNumber(double value)
{
    CDynString s;
    s.Format("%lf", value);
    Put(s.GetText());
}

bool CDxfWriter::BeginSection(const char* name)
{
    Put("0");
    Put("SECTION");
    Put("2");
    Put(name);
    return true;
}

bool CDxfWriter::EndSection()
{
    Put("0");
    Put("ENDSEC");
    return true;
}

bool CDxfWriter::WriteHeader()
{
    BeginSection("HEADER");
    Put("9");
    Put("$ACADVER");
    Put("1");
    Put("AC1009");
    return EndSection();
}

bool CDxfWriter::WriteLayerTable(const char* name)
{
    for (const char* line : {"0", "LAYER", "2", name, "70", "0", "62", "7", "6", "CONTINUOUS"})
        Put(line);
    return true;
}

bool CDxfWriter::WriteTables()
{
    BeginSection("TABLES");
    for (const char* line : {"0", "TABLE", "2", "LAYER", "70", "2"})
        Put(line);
    WriteLayerTable("Points");
    WriteLayerTable("Labels");
    Put("0");
    Put("ENDTAB");
    return EndSection();
}

bool CDxfWriter::WritePoint(const CObjectPoint& p)
{
    for (const char* line : {"0", "POINT", "8", "Points"})
        Put(line);
    Put("10");
    PutNumber(p.x);
    Put("20");
    PutNumber(p.y);
    Put("30");
    PutNumber(p.z);
    return true;
}

bool CDxfWriter::WriteText(const CObjectPoint& p)
{
    for (const char* line : {"0", "TEXT", "8", "Labels"})
        Put(line);
    Put("10");
    PutNumber(p.x + 10.0);
    Put("20");
    PutNumber(p.y + 10.0);
    Put("30");
    PutNumber(p.z + 10.0);
    Put("40");
    Put("12");
    Put("1");
    Put(p.label.GetText());
    return true;
}

bool CDxfWriter::WritePoints(const CPointSet& points)
{
    for (int i = 0; i < points.GetSize(); ++i)
        if (const CObjectPoint* p = points.GetAt(i))
            WritePoint(*p);
    return true;
}

bool CDxfWriter::WriteLabels(const CPointSet& points)
{
    for (int i = 0; i < points.GetSize(); ++i)
        if (const CObjectPoint* p = points.GetAt(i))
            WriteText(*p);
    return true;
}

bool CDxfWriter::WriteEof()
{
    Put("0");
    Put("EOF");
    return true;
}

bool CDxfWriter::WritePointSet(const CPointSet* points)
{
    error.clear();
    if (points == nullptr) {
        error = "no point set";
        return false;
    }
    text.clear();
    WriteHeader();
    WriteTables();
    BeginSection("ENTITIES");
    WritePoints(*points);
    WriteLabels(*points);
    EndSection();
    WriteEof();
    CAtomicFile file;
    if (file.Open(path) && file.Write(text.data(), text.size()) && file.Commit())
        return true;
    error = file.GetError();
    return false;
}
