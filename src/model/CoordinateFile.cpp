#include "CoordinateFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <string>
#include <thread>
#include <vector>

#include "FileIO.h"
#include "Message.h"
#include "NameBuffer.h"
#include "NumberText.h"
#include "PointSet.h"
#include "TextLines.h"

namespace {

// Largest coordinate file read; a longer one, or anything but a regular
// file (a device or pipe that never ends), cannot be read.
constexpr std::uint64_t kMaxXyzFileBytes = 64u << 20;

bool IsSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// Names the file and the point lines refused for their labels.
void ReportRefusedLabels(const char* path, const std::vector<int>& lines)
{
    const bool one = lines.size() == 1;
    const std::string text = FormatLineNumbers(lines) + " of " + path + (one ? " has" : " have") +
                             " no valid point label (at most 16 letters, digits, _ or -) and " +
                             (one ? "was" : "were") + " not read.";
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONWARNING);
}

} // namespace

// ---------------------------------------------------------------- scan

int ScanXyzLine(const char* line, CXyzFields& fields)
{
    const char* p = line;
    while (*p != '\0' && IsSpace(*p))
        ++p;
    if (*p == '\0')
        return -1;
    const char* start = p;
    while (*p != '\0' && !IsSpace(*p))
        ++p;
    const size_t length = static_cast<size_t>(p - start);
    if (length < sizeof fields.label) {
        std::memcpy(fields.label, start, length);
        fields.label[length] = '\0';
        fields.labelTooLong = false;
    } else {
        fields.label[0] = '\0';
        fields.labelTooLong = true;
    }
    int n = 1;
    for (int i = 0; i < CXyzFields::kMaxNumbers; ++i) {
        while (*p != '\0' && IsSpace(*p))
            ++p;
        if (*p == '\0')
            break;
        if (!ScanNumber(p, nullptr, fields.d[i]))
            break;
        ++n;
    }
    while (*p != '\0' && IsSpace(*p))
        ++p;
    fields.moreText = *p != '\0';
    return n;
}

// ---------------------------------------------------------------- reader

bool CPointSet::ReadXyzFile(const char* path, int* fieldCount)
{
    if (path == nullptr)
        return false;
    std::string bytes, error;
    if (!ReadRegularFile(path, bytes, kMaxXyzFileBytes, error))
        return false;
    std::vector<int> refused;
    const bool read = ReadXyzText(bytes.data(), bytes.size(), fieldCount, &refused);
    if (!refused.empty())
        ReportRefusedLabels(path, refused);
    return read;
}

bool CPointSet::ReadXyzStream(std::istream& in, int* fieldCount, std::vector<int>* refusedLines)
{
    std::string bytes;
    std::streambuf* sb = in.rdbuf();
    if (sb == nullptr || in.bad())
        return false;
    try {
        if (!in.good())
            return ReadXyzText(nullptr, 0, fieldCount, refusedLines);
        char chunk[1 << 14];
        for (;;) {
            const std::streamsize got = sb->sgetn(chunk, sizeof chunk);
            if (got <= 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(got));
        }
    } catch (...) {
        return false;
    }
    return ReadXyzText(bytes.data(), bytes.size(), fieldCount, refusedLines);
}

bool CPointSet::ReadXyzText(const char* data, std::size_t size, int* fieldCount, std::vector<int>* refusedLines,
                            std::vector<int>* unusedLines)
{
    CPointSet read(GetGrowBy());
    read.isControl = isControl;
    read.isDiscrepancySet = isDiscrepancySet;

    // Whether a point line's every field goes into its point.
    const auto takesEveryField = [this](int n, bool moreText) {
        if (moreText)
            return false;
        return n == 4 || n == 7 || n == 8 || (n == 11 && !isControl && !isDiscrepancySet);
    };
    int count = -1;
    int lineNumber = 0;
    std::string line;
    ForEachTextLine(data, size, [&](const char* text, std::size_t length) {
        ++lineNumber;
        // Read whole, so no number is cut short; a NUL byte ends the line's text.
        line.assign(text, length);
        CXyzFields f;
        const int n = ScanXyzLine(line.c_str(), f);
        // A blank line holds no fields.
        if (n > 0)
            count = n;
        if (n < 4) {
            if (n > 0 && unusedLines != nullptr)
                unusedLines->push_back(lineNumber);
            return true;
        }
        // A point without its label could not be written back as itself.
        if (f.labelTooLong || CNameBuffer::HasInvalidChar(f.label)) {
            if (refusedLines != nullptr)
                refusedLines->push_back(lineNumber);
            return true;
        }
        if (unusedLines != nullptr && !takesEveryField(n, f.moreText))
            unusedLines->push_back(lineNumber);
        CObjectPoint point(f.label, f.d[0], f.d[1], f.d[2]);
        if (n == 7 || n == 11) {
            if (isControl) {
                point.aprioriSigma[0] = f.d[3];
                point.aprioriSigma[1] = f.d[4];
                point.aprioriSigma[2] = f.d[5];
            } else if (isDiscrepancySet) {
                point.discrepancy[0] = f.d[3];
                point.discrepancy[1] = f.d[4];
                point.discrepancy[2] = f.d[5];
            } else {
                point.SetSigmaX(f.d[3]);
                point.SetSigmaY(f.d[4]);
                point.SetSigmaZ(f.d[5]);
                if (n == 11) {
                    point.radius = f.d[6];
                    point.SetNormal(f.d[7], f.d[8], f.d[9]);
                }
            }
        } else if (n == 8) {
            point.radius = f.d[3];
            point.SetNormal(f.d[4], f.d[5], f.d[6]);
        }
        // Appended here and sorted stably below: the same order as inserting
        // each point after the ones whose labels are not greater.
        read.AddCopy(point);
        return true;
    });
    if (fieldCount != nullptr)
        *fieldCount = count;
    read.SortByLabel();

    // Hand the points over without copying them.
    RemoveAll();
    Reserve(read.GetSize());
    for (int i = 0; i < read.GetSize(); ++i)
        array.Add(read.array.GetAt(i));
    read.array.RemoveAll();
    return GetSize() > 0;
}

bool CPointSet::Load(const char* path)
{
    int fields = 0;
    return ReadXyzFile(path, &fields);
}

// ---------------------------------------------------------------- writer

void CPointSet::AppendXyzLines(int c, int s, int e, int first, int last, std::string& out) const
{
    // Every number field is 20 columns, as before, but always after a blank:
    // a value wider than 19 columns no longer runs into the field before it.
    CDynString layoutA;
    layoutA.Format("%%20s %%19.%df %%19.%df %%19.%df %%19.%df %%19.%df %%19.%df", c, c, c, s, s, s);
    CDynString layoutB;
    layoutB.Format("%s %%19.%df %%19.%df %%19.%df %%19.%df", layoutA.GetText(), c, e, e, e);

    CDynString line;
    for (int i = first; i < last; ++i) {
        const CObjectPoint* p = GetAt(i);
        // An empty label would leave the first number to be read as the label.
        if (p == nullptr || !p->inUse || p->label.GetText()[0] == '\0')
            continue;
        const char* label = p->label.GetText();
        if (isControl) {
            line.Format(layoutA.GetText(), label, p->x, p->y, p->z, p->aprioriSigma[0], p->aprioriSigma[1],
                        p->aprioriSigma[2]);
        } else if (isDiscrepancySet) {
            line.Format(layoutA.GetText(), label, p->x, p->y, p->z, p->discrepancy[0], p->discrepancy[1],
                        p->discrepancy[2]);
        } else {
            const double sx = std::sqrt(p->covariance.GetAt(0, 0));
            const double sy = std::sqrt(p->covariance.GetAt(1, 1));
            const double sz = std::sqrt(p->covariance.GetAt(2, 2));
            if (p->HasNormal())
                line.Format(layoutB.GetText(), label, p->x, p->y, p->z, sx, sy, sz, p->radius, p->normal[0],
                            p->normal[1], p->normal[2]);
            else
                line.Format(layoutA.GetText(), label, p->x, p->y, p->z, sx, sy, sz);
        }
        out.append(line.GetText(), static_cast<std::size_t>(line.GetLength()));
        out.append("\r\n", 2);
    }
}

bool CPointSet::MatchesXyzText(const char* data, std::size_t size, int c, int s, int e) const
{
    // The reader ends a line at a NUL byte and would not see what follows.
    if (size > 0 && std::memchr(data, '\0', size) != nullptr)
        return false;
    CPointSet inText;
    inText.isControl = isControl;
    inText.isDiscrepancySet = isDiscrepancySet;
    std::vector<int> refused, unused;
    inText.ReadXyzText(data, size, nullptr, &refused, &unused);
    if (!refused.empty() || !unused.empty())
        return false;
    // The writer's lines read back; a value of the text matches when the
    // writer's text of it would be the same, that is within half the last
    // decimal the writer writes.
    std::string written;
    AppendXyzLines(c, s, e, 0, GetSize(), written);
    CPointSet asWritten;
    asWritten.isControl = isControl;
    asWritten.isDiscrepancySet = isDiscrepancySet;
    asWritten.ReadXyzText(written.data(), written.size(), nullptr);
    if (inText.GetSize() != asWritten.GetSize())
        return false;
    const auto same = [](double a, double b, int decimals) {
        return a == b || std::fabs(a - b) <= 0.5 * std::pow(10.0, -decimals);
    };
    for (int i = 0; i < inText.GetSize(); ++i) {
        const CObjectPoint& a = *inText.GetAt(i);
        const CObjectPoint& b = *asWritten.GetAt(i);
        if (!(a.label == b.label) || !same(a.x, b.x, c) || !same(a.y, b.y, c) || !same(a.z, b.z, c) ||
            !same(a.radius, b.radius, c))
            return false;
        for (int k = 0; k < 3; ++k) {
            if (!same(a.aprioriSigma[k], b.aprioriSigma[k], s) || !same(a.discrepancy[k], b.discrepancy[k], s) ||
                !same(std::sqrt(a.covariance.GetAt(k, k)), std::sqrt(b.covariance.GetAt(k, k)), s) ||
                !same(a.normal[k], b.normal[k], e))
                return false;
        }
    }
    return true;
}

bool CPointSet::WriteXyzFile(const char* path, int c, int s, int e, std::string* error, bool replace) const
{
    CAtomicFile file;
    if (path == nullptr || !file.Open(path)) {
        if (error != nullptr)
            *error = path == nullptr ? "no file name" : file.GetError();
        return false;
    }

    // Large sets are formatted on all cores, a batch of points at a time, and
    // written in order.
    constexpr int kBatch = 1 << 15;
    constexpr int kPointsPerThread = 4096;
    const int n = GetSize();
    const unsigned cores = std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
    std::vector<std::string> parts(cores);
    for (int first = 0; first < n && !file.Failed(); first += kBatch) {
        const int last = std::min(n, first + kBatch);
        const int threads = static_cast<int>(
            std::min<long long>(cores, std::max(1, (last - first) / kPointsPerThread)));
        const int share = (last - first + threads - 1) / threads;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            parts[t].clear();
            const int from = std::min(last, first + t * share);
            const int to = std::min(last, from + share);
            if (t + 1 == threads)
                AppendXyzLines(c, s, e, from, to, parts[t]);
            else
                workers.emplace_back([&, from, to, t] { AppendXyzLines(c, s, e, from, to, parts[t]); });
        }
        for (std::thread& worker : workers)
            worker.join();
        for (int t = 0; t < threads; ++t)
            if (!file.Write(parts[t].data(), parts[t].size()))
                break;
    }
    // A write that failed (a full disk) is not reported as success.
    const bool ok = file.Commit(replace);
    if (!ok && error != nullptr)
        *error = file.GetError();
    return ok;
}

bool CPointSet::Save(int c, int s, int e) const
{
    if (name.IsEmpty())
        return false;
    return WriteXyzFile(name.GetText(), c, s, e);
}
