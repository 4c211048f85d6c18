#include "ImageObservation.h"

#include <functional>
#include <cstdint>
#include <unordered_map>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "BinArchive.h"
#include "RecordListArchive.h"
#include "Camera.h"
#include "EllipseRecord.h"
#include "FileIO.h"
#include "NumberText.h"
#include "ProjectSettings.h"
#include "TextLines.h"

namespace {

constexpr int kObservationVersion = 11;
constexpr int kObservationListVersion = 10;
// Smallest record an observation can occupy: empty label, seven doubles,
// a byte, two doubles, four bytes.
constexpr std::int64_t kMinObservationBytes = 4 + 7 * 8 + 1 + 2 * 8 + 4;
// Fiducial files hold a handful of marks; anything near this is not one.
constexpr std::size_t kMaxFiducialFileBytes = 16u << 20;
constexpr std::size_t kMaxLabelLength = 16;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%lf" field: leading blanks, an optional sign, a finite number in the C locale.
bool ScanDouble(const char*& p, const char* end, double& value)
{
    const char* q = p;
    double v = 0.0;
    if (!ScanNumber(q, end, v) || !std::isfinite(v)) return false;
    value = v;
    p = q;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// CImageObservation

CImageObservation::CImageObservation() : ellipse(nullptr) { SetDefaults(); }

CImageObservation::CImageObservation(const CNameBuffer& label_, double x_, double y_) : ellipse(nullptr)
{
    SetDefaults();
    label.Copy(label_);
    x = x_;
    y = y_;
}

CImageObservation::CImageObservation(const CNameBuffer& label_, double x_, double y_, double column, double row)
    : CImageObservation(label_, x_, y_)
{
    pixelColumn = column;
    pixelRow = row;
}

CImageObservation::CImageObservation(const CNameBuffer& label_, double x_, double y_, double sx, double sy,
                                     double column, double row)
    : CImageObservation(label_, x_, y_, column, row)
{
    sigmaX = sx;
    sigmaY = sy;
}

CImageObservation::CImageObservation(const CImageObservation& other) : ellipse(nullptr)
{
    SetDefaults();
    Copy(other);
}

CImageObservation& CImageObservation::operator=(const CImageObservation& other)
{
    Copy(other);
    return *this;
}

CImageObservation::~CImageObservation() { delete ellipse; }

void CImageObservation::SetDefaults()
{
    pixelColumn = -1.0;
    pixelRow = -1.0;
    label.Set("");
    x = y = 0.0;
    radialDistance = 0.0;
    sigmaX = sigmaY = 0.0;
    vx = vy = 0.0;
    rejected = measured = fiducial = marked = disabled = false;
    delete ellipse;
    ellipse = nullptr;
}

void CImageObservation::Reset()
{
    CNameBuffer keep;
    keep.Copy(label);
    SetDefaults();
    label.Copy(keep);
}

void CImageObservation::Copy(const CImageObservation& other)
{
    if (this == &other) return;
    label.Copy(other.label);
    x = other.x;
    y = other.y;
    radialDistance = other.radialDistance;
    sigmaX = other.sigmaX;
    sigmaY = other.sigmaY;
    vx = other.vx;
    vy = other.vy;
    rejected = other.rejected;
    measured = other.measured;
    fiducial = other.fiducial;
    marked = other.marked;
    disabled = other.disabled;
    pixelColumn = other.pixelColumn;
    pixelRow = other.pixelRow;
    delete ellipse;
    ellipse = other.ellipse ? new CTargetEllipse(*other.ellipse) : nullptr;
}

void CImageObservation::SetEllipse(const CTargetEllipse& e)
{
    if (&e == ellipse) return;
    CTargetEllipse* copy = new CTargetEllipse(e);
    delete ellipse;
    ellipse = copy;
}

void CImageObservation::DeleteEllipse()
{
    delete ellipse;
    ellipse = nullptr;
}

double CImageObservation::ComputeRadialDistance(const CCamera& camera)
{
    const double dx = x - camera.parameters[CAM_XP];
    const double dy = y - camera.parameters[CAM_YP];
    radialDistance = std::sqrt(dx * dx + dy * dy);
    return radialDistance;
}

bool CImageObservation::IsInRect(const double* r0, const double* r1, const double* r2, const double* r3) const
{
    if (!r0 || !r1 || !r2 || !r3) return false;
    return *r0 < x && x < *r2 && *r3 < y && y < *r1;
}

bool CImageObservation::IsInBox(double a, double b, double c, double d) const
{
    return a < x && x < c && d < y && y < b;
}

bool CImageObservation::ResidualsWithin(const CProjectSettings& settings) const
{
    return std::fabs(vx) <= settings.rejectionLimit && std::fabs(vy) <= settings.rejectionLimit;
}

bool CImageObservation::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kObservationVersion);
        ar.WriteByte(ellipse != nullptr ? 1 : 0);
        if (ellipse && !ellipse->Serialize(ar, version)) return false;
        ar.WriteName(label);
        ar.WriteDouble(x);
        ar.WriteDouble(y);
        ar.WriteDouble(radialDistance);
        ar.WriteDouble(vx);
        ar.WriteDouble(vy);
        ar.WriteDouble(sigmaX);
        ar.WriteDouble(sigmaY);
        ar.WriteByte(rejected ? 1 : 0);
        ar.WriteDouble(pixelColumn);
        ar.WriteDouble(pixelRow);
        ar.WriteByte(measured ? 1 : 0);
        ar.WriteByte(fiducial ? 1 : 0);
        ar.WriteByte(disabled ? 1 : 0);
        ar.WriteByte(marked ? 1 : 0);
        return !ar.fail();
    }

    DeleteEllipse();
    int recordVersion = version ? *version : -1;
    if (recordVersion == -1) {
        ar.ReadInt(recordVersion);
        if (ar.fail() || recordVersion < 0 || recordVersion > kObservationVersion) {
            ar.setstate(std::ios::failbit);
            return false;
        }
    }
    if (recordVersion >= 8 && recordVersion <= 11) {
        unsigned char hasEllipse = 0;
        ar.ReadByte(hasEllipse);
        if (ar.fail()) return false;
        if (hasEllipse == 1) {
            int ellipseVersion = recordVersion == 11 ? -1 : 1;
            CTargetEllipse* e = new CTargetEllipse;
            if (!e->Serialize(ar, &ellipseVersion)) {
                delete e;
                return false;
            }
            ellipse = e;
        }
    }
    ar.ReadName(label);
    ar.ReadDouble(x);
    ar.ReadDouble(y);
    ar.ReadDouble(radialDistance);
    ar.ReadDouble(vx);
    ar.ReadDouble(vy);
    ar.ReadDouble(sigmaX);
    ar.ReadDouble(sigmaY);
    ar.ReadBool(rejected);
    ar.ReadDouble(pixelColumn);
    ar.ReadDouble(pixelRow);
    ar.ReadBool(measured);
    ar.ReadBool(fiducial);
    ar.ReadBool(disabled);
    ar.ReadBool(marked);
    return !ar.fail();
}

// ---------------------------------------------------------------------------
// CObservationList

CObservationList::CObservationList(int growBy) : COwningArray<CImageObservation>(growBy) {}

CObservationList::CObservationList(const CObservationList& other) : COwningArray<CImageObservation>(0)
{
    COwningArray<CImageObservation>::Copy(other);
}

CObservationList& CObservationList::operator=(const CObservationList& other)
{
    if (this != &other) COwningArray<CImageObservation>::Copy(other);
    return *this;
}

CObservationList::~CObservationList() = default;

int CObservationList::FindInsertIndex(const CNameBuffer& label) const
{
    int low = 0;
    int high = GetSize();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (GetAt(mid)->label < label)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

bool CObservationList::BinarySearch(const CNameBuffer& label, int& index) const
{
    int low = 0;
    int high = GetUpperBound();
    while (low <= high) {
        const int mid = (low + high) / 2;
        index = mid;
        const CNameBuffer& probe = GetAt(mid)->label;
        if (probe == label) return true;
        if (probe < label)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return false;
}

int CObservationList::FindIndex(const CNameBuffer& label) const
{
    int index = -1;
    return BinarySearch(label, index) ? index : -1;
}

int CObservationList::FindIndexByText(const char* text) const
{
    CNameBuffer label;
    if (!text || !label.Set(text)) return -1;
    return FindIndex(label);
}

CImageObservation* CObservationList::Find(const CNameBuffer& label) const
{
    const int i = FindIndex(label);
    return i < 0 ? nullptr : GetAt(i);
}

CImageObservation* CObservationList::FindByText(const char* text) const
{
    const int i = FindIndexByText(text);
    return i < 0 ? nullptr : GetAt(i);
}

bool CObservationList::AddSorted(const CImageObservation& observation)
{
    if (GetSize() == 0)
        AddCopy(observation);
    else
        InsertAt(FindInsertIndex(observation.label), observation, 1);
    return true;
}

bool CObservationList::Remove(const CNameBuffer& label)
{
    const int i = FindIndex(label);
    if (i < 0) return false;
    RemoveAt(i, 1);
    return true;
}

bool CObservationList::RemoveByText(const char* text)
{
    const int i = FindIndexByText(text);
    if (i < 0) return false;
    RemoveAt(i, 1);
    return true;
}

bool CObservationList::RemoveMatching(const CObservationList& other)
{
    for (int i = GetUpperBound(); i >= 0; --i)
        if (other.FindIndex(GetAt(i)->label) >= 0) RemoveAt(i, 1);
    return true;
}

bool CObservationList::SortByLabel()
{
    const int n = GetSize();
    if (n < 2) return true;
    CImageObservation** block = GetData();
    if (!block) return false;
    for (int i = 0; i < n; ++i)
        if (!block[i]) return false;
    // A merge sort: linear on a sorted list, and never quadratic on a
    // hostile one; equal labels keep their order.
    std::stable_sort(block, block + n, [](const CImageObservation* a, const CImageObservation* b) {
        return a->label < b->label;
    });
    return true;
}

namespace {

// The test of the removal, as one expression for every pair.
bool WithinDistance(const CImageObservation& a, const CImageObservation& b, double distance)
{
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy) <= distance;
}

struct CellKey {
    std::int64_t x, y;
    bool operator==(const CellKey& o) const { return x == o.x && y == o.y; }
};

struct CellHash {
    std::size_t operator()(const CellKey& k) const
    {
        return std::hash<std::int64_t>()(k.x * 0x9E3779B97F4A7C15LL ^ k.y);
    }
};

} // namespace

bool CObservationList::RemoveCloseDuplicates(double distance)
{
    // From the last observation to the first, one stays when no later one
    // that stayed lies within the distance. Those that stay lie in a grid of
    // cells a little wider than the distance, so only the 3 x 3 cells around
    // an observation can hold one close enough; the test itself is the
    // exact expression. Points the grid cannot place (not finite, or too far
    // out for a cell number) are compared with every observation that stays.
    const int n = GetSize();
    if (n < 2 || !(distance >= 0.0))
        return true;
    const double cell = std::max(distance * (1.0 + 1e-6), 1e-150);
    constexpr double kMaxCell = 4.0e15;
    std::unordered_map<CellKey, std::vector<int>, CellHash> grid;
    std::vector<int> loose;   // staying ones outside the grid
    std::vector<int> placed;  // staying ones in the grid
    std::vector<char> keep(static_cast<std::size_t>(n), 0);
    for (int a = n - 1; a >= 0; --a) {
        const CImageObservation* o = GetAt(a);
        if (o == nullptr) {
            keep[static_cast<std::size_t>(a)] = 1;
            continue;
        }
        const double gx = std::floor(o->x / cell);
        const double gy = std::floor(o->y / cell);
        const bool inGrid = std::fabs(gx) < kMaxCell && std::fabs(gy) < kMaxCell;
        bool close = false;
        for (int k : loose)
            if (WithinDistance(*GetAt(k), *o, distance)) {
                close = true;
                break;
            }
        if (!close && inGrid) {
            const CellKey centre{static_cast<std::int64_t>(gx), static_cast<std::int64_t>(gy)};
            for (std::int64_t i = -1; i <= 1 && !close; ++i)
                for (std::int64_t j = -1; j <= 1 && !close; ++j) {
                    const auto found = grid.find(CellKey{centre.x + i, centre.y + j});
                    if (found == grid.end())
                        continue;
                    for (int k : found->second)
                        if (WithinDistance(*GetAt(k), *o, distance)) {
                            close = true;
                            break;
                        }
                }
        } else if (!close) {
            for (int k : placed)
                if (WithinDistance(*GetAt(k), *o, distance)) {
                    close = true;
                    break;
                }
        }
        if (close)
            continue;
        keep[static_cast<std::size_t>(a)] = 1;
        if (inGrid) {
            grid[CellKey{static_cast<std::int64_t>(gx), static_cast<std::int64_t>(gy)}].push_back(a);
            placed.push_back(a);
        } else {
            loose.push_back(a);
        }
    }
    // One pass removes the others, the order of those that stay kept.
    CImageObservation** data = array.GetData();
    int to = 0;
    for (int i = 0; i < n; ++i) {
        if (keep[static_cast<std::size_t>(i)])
            data[to++] = data[i];
        else
            delete data[i];
    }
    array.SetSize(to, -1);
    return true;
}

bool CObservationList::HasEllipses() const
{
    for (int i = 0; i < GetSize(); ++i) {
        const CImageObservation* o = GetAt(i);
        if (o && o->GetEllipse()) return true;
    }
    return false;
}

bool CObservationList::Serialize(CBinArchive& ar, int* version)
{
    if (!SerializeRecordList(*this, ar, version, kObservationListVersion, kMinObservationBytes)) return false;
    return ar.IsStoring() || (SortByLabel() && !ar.fail());
}

bool CObservationList::ReadXyFile(const CFilePath& path)
{
    std::string bytes;
    if (!ReadTextFileBytes(path.GetText(), bytes, kMaxFiducialFileBytes)) return false;
    return ReadXyText(bytes.data(), bytes.size());
}

bool CObservationList::ReadXyText(const char* data, std::size_t size)
{
    if (!data || size == 0) return false;

    std::vector<CImageObservation> marks;
    ForEachTextLine(data, size, [&](const char* line, std::size_t length) {
        CNameBuffer label;
        double values[2] = {0.0, 0.0};
        if (ScanLabelledLine(line, length, label, values, 2) == 3) marks.emplace_back(label, values[0], values[1]);
        return true;
    });

    // The order that inserting each mark in label order gives: a later mark
    // goes in front of an earlier one with the same label.
    std::reverse(marks.begin(), marks.end());
    std::stable_sort(marks.begin(), marks.end(),
                     [](const CImageObservation& a, const CImageObservation& b) { return a.label < b.label; });

    DeleteAll();
    for (const CImageObservation& mark : marks) AddCopy(mark);
    return true;
}

void CObservationList::CopyFromArray(const CDynArray<CImageObservation>& array)
{
    DeleteAll();
    for (int i = 0; i < array.GetSize(); ++i) {
        const CImageObservation* o = array.GetAt(i);
        if (o) AddCopy(*o);
    }
}

void CObservationList::InsertCopyAt(int index, const CImageObservation& observation, int count)
{
    InsertAt(index, observation, count);
}

void CObservationList::DeleteAll() { RemoveAll(); }

// ---------------------------------------------------------------------------
// Text helpers

int ScanLabelledLine(const char* line, std::size_t length, CNameBuffer& label, double* values, int maxValues)
{
    const char* p = line;
    const char* end = line + length;
    while (p < end && IsBlank(*p)) ++p;
    if (p == end) return 0;
    const char* tokenStart = p;
    while (p < end && !IsBlank(*p) && *p != '\0') ++p;
    const std::size_t tokenLength = static_cast<std::size_t>(p - tokenStart);
    if (tokenLength > kMaxLabelLength) return -1;
    char token[kMaxLabelLength + 1];
    std::memcpy(token, tokenStart, tokenLength);
    token[tokenLength] = '\0';
    CNameBuffer parsed;
    if (!parsed.Set(token)) return -1;
    label.Copy(parsed);

    int fields = 1;
    for (int i = 0; i < maxValues; ++i) {
        double v = 0.0;
        if (!ScanDouble(p, end, v)) break;
        values[i] = v;
        ++fields;
    }
    return fields;
}

bool ReadTextFileBytes(const char* path, std::string& bytes, std::size_t maxBytes)
{
    if (!path || !*path) return false;
    std::string error;
    return ReadRegularFile(path, bytes, maxBytes, error);
}
