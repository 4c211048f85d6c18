// A tiny project whose result state is filled by hand for the report tests:
// two cameras, three images (the third disabled), four points (the fourth
// out of use, the second unsolved), control points and two scale bars. The
// expected report files in tests/data/reports were written from the report
// layouts for exactly this state.
#pragma once

#include "ReportText.h"

#include <cmath>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "Matrix.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "TestFiles.h"

namespace reporttest {

inline double Rad(double degrees)
{
    return degrees * std::atan(1.0) / 45.0;
}

inline void SetSym(CMatrix& m, double d0, double d1, double d2, double o01, double o02, double o12)
{
    m.Resize(3, -1);
    m.Zero();
    m.SetAt(d0, 0, 0);
    m.SetAt(d1, 1, 1);
    m.SetAt(d2, 2, 2);
    m.SetAt(o01, 0, 1);
    m.SetAt(o02, 0, 2);
    m.SetAt(o12, 1, 2);
}

inline void AddObs(CProjectImage* image, const char* label, double x, double y, double vx, double vy,
                   bool rejected = false, bool disabled = false)
{
    CImageObservation o(CNameBuffer(label), x, y);
    o.vx = vx;
    o.vy = vy;
    o.rejected = rejected;
    o.disabled = disabled;
    image->targets.AddCopy(o);
}

// The run configurations the expected files were written for.
enum Config { CONTROL, POST_BUNDLE, FAILED_SCALING, RIGOROUS };

inline const char* ConfigName(Config c)
{
    switch (c) {
    case CONTROL: return "control";
    case POST_BUNDLE: return "postbundle";
    case FAILED_SCALING: return "failedscaling";
    default: return "rigorous";
    }
}

using kestrelon::test::TempFolder;

struct ReportProject {
    CCameraList cameras;
    CProjectImageList imageList;
    CImagePtrArray images;
    CPointSet points;
    CPointSet control;
    CScaleBarList scaleBars;
    CProjectSettings settings;
    CAdjustmentSummary summary;
    CMatrix cofactors;
    int cofactorOrder = 0;

    // The correlation the cofactor matrix is built to give for unknowns i, j.
    static double Correlation(int i, int j) { return i == j ? 1.0 : ((i * j + i + j) % 19 - 9) / 10.0; }

    ReportProject(const std::string& folder, Config config)
    {
        settings.SetDefaults();
        settings.SetProjectPath((folder + "/Tiny.kst").c_str());
        settings.unitName = "mm";
        settings.freeNetwork = config != CONTROL;
        settings.standardFolding = config != RIGOROUS;
        settings.totalErrorPropagation = config == CONTROL || config == RIGOROUS;
        settings.simulation = config == RIGOROUS;
        settings.writeRotationAngles = config == CONTROL;
        settings.writeRotationMatrices = config == CONTROL;

        CCamera* c1 = cameras.AddNew();
        c1->identifier = "CAM1";
        c1->lensType = "L20";
        c1->XPixels = 3000;
        c1->YPixels = 2000;
        c1->XPixelSize = 0.006;
        c1->YPixelSize = 0.0065;
        const double p1[10] = {20.5, 0.012, -0.034, 1.5e-4, -2.5e-7, 0.0, 1e-5, -2e-5, 3e-4, 0.0};
        const double post1[10] = {0.0012, 0.0021, 0.0022, 1.1e-6, 2.2e-9, 0.0, 3.3e-7, 4.4e-7, 5.5e-6, 6.6e-6};
        const double corr1[10] = {0.025, -0.001, 0.002, -1e-5, 0, 0, 0, 0, 0, 0};
        for (int q = 0; q < 10; ++q) {
            c1->parameters[q] = p1[q];
            c1->sigmas[q] = q == CAM_K3 ? 1e-16 : 1000.0;
            c1->postSigmas[q] = post1[q];
            c1->corrections[q] = corr1[q];
        }
        CCamera* c2 = cameras.AddNew();
        c2->identifier = "CAM2";
        c2->lensType = "L35";
        c2->XPixels = 4000;
        c2->YPixels = 3000;
        c2->XPixelSize = 0.005;
        c2->YPixelSize = 0.005;
        for (int q = 0; q < 10; ++q) {
            c2->parameters[q] = q == CAM_C ? 35.0 : 0.0;
            c2->sigmas[q] = 1000.0;
            c2->postSigmas[q] = 0.0;
            c2->corrections[q] = 0.0;
        }

        CProjectImage* i1 = imageList.AddNew();
        i1->name = "I1";
        i1->SetFilePath("/data/img1.tif");
        i1->SetCameraName("CAM1");
        i1->SetPose(100.0, -200.0, 50.0, Rad(30), Rad(-10), Rad(5));
        i1->enabled = true;
        i1->oriented = true;
        const double d1[6] = {0.5, -0.25, 0.125, 0.001, -0.002, 0.0005};
        const double a1[6] = {0.5, 1000.0, 1000.0, 0.01, 1000.0, 1000.0};
        const double v1[6] = {4e-4, 9e-4, 1.6e-3, 1e-6, 4e-6, 0.0};
        for (int k = 0; k < 6; ++k) {
            i1->corrections[k] = d1[k];
            i1->aprioriSigma[k] = a1[k];
            i1->covariance.SetAt(v1[k], k, k);
        }
        i1->covariance.SetAt(1e-4, 0, 1);
        i1->covariance.SetAt(-2e-4, 0, 2);
        i1->covariance.SetAt(3e-4, 1, 2);
        AddObs(i1, "P1", 1.0, 2.0, 0.003, -0.004);
        AddObs(i1, "P2", -3.0, 1.0, 0.2, -0.1, true);
        AddObs(i1, "P3", 2.0, -2.0, -0.004, 0.003);
        AddObs(i1, "P4", 5.0, 5.0, 0.0, 0.0, false, true);

        CProjectImage* i2 = imageList.AddNew();
        i2->name = "I2";
        i2->SetFilePath("/data/img2.tif");
        i2->SetCameraName("CAM1");
        i2->SetPose(-150.0, 80.0, 60.0, Rad(-45), Rad(5), Rad(-2));
        i2->enabled = true;
        i2->oriented = true;
        const double v2[6] = {1e-4, 1e-4, 2.5e-5, 2.5e-7, 2.5e-7, 2.5e-7};
        for (int k = 0; k < 6; ++k) {
            i2->corrections[k] = 0.0;
            i2->aprioriSigma[k] = 1000.0;
            i2->covariance.SetAt(v2[k], k, k);
        }
        AddObs(i2, "P1", 0.5, 0.5, 0.001, 0.002);
        AddObs(i2, "P2", -1.0, -1.0, -0.002, 0.001);
        AddObs(i2, "P3", 1.5, -0.5, 0.0, -0.002);

        CProjectImage* i3 = imageList.AddNew();
        i3->name = "I3";
        i3->SetFilePath("/data/img3.tif");
        i3->SetCameraName("CAM1");
        i3->SetPose(0.0, 0.0, 300.0, 0.0, 0.0, 0.0);
        i3->enabled = false;
        i3->oriented = true;
        for (int k = 0; k < 6; ++k) {
            i3->corrections[k] = 0.0;
            i3->aprioriSigma[k] = 1000.0;
        }
        AddObs(i3, "P1", 0.0, 0.0, 0.05, 0.05, true);
        imageList.GetPointerArray(images);

        AddPoint("P1", 10.0, 20.0, -5.0, true, false, 2, 3.25, {0, 0, 0});
        SetSym(Last().limitingCovariance, 1e-4, 4e-4, 9e-4, 1e-5, 2e-5, 3e-5);
        SetSym(Last().covariance, 2.5e-4, 6.4e-4, 1.21e-3, -1e-5, 2e-5, -3e-5);
        AddPoint("P2", -12.5, 7.25, 3.125, true, true, 1, 0.5, {1, 1, -1});
        SetSym(Last().limitingCovariance, 4e-4, 1e-4, 2.5e-5, 0, 0, 0);
        SetSym(Last().covariance, 9e-4, 4e-4, 1e-4, 5e-5, 0, 0);
        AddPoint("P3", 0.0, -8.0, 12.0, true, false, 2, 12.345, {2, 2, -1});
        SetSym(Last().limitingCovariance, 1.6e-3, 2.5e-3, 3.6e-3, 0, 0, 0);
        SetSym(Last().covariance, 0.01, 0.0225, 0.04, 0.001, -0.002, 0.003);
        AddPoint("P4", 1.0, 1.0, 1.0, false, false, 0, 0.0, {-1, -1, -1});

        const double cx[3][4] = {{10.002, 19.998, -5.0, 4e-6}, {0.0, -8.001, 12.0, 1e-6}, {1.0, 2.0, 3.0, 0.0}};
        const char* cl[3] = {"P1", "P3", "P9"};
        for (int k = 0; k < 3; ++k) {
            CObjectPoint cp(cl[k], cx[k][0], cx[k][1], cx[k][2]);
            SetSym(cp.covariance, cx[k][3], cx[k][3], 0.0, 0, 0, 0);
            control.AddCopy(cp);
        }

        if (config != CONTROL) {
            AddBar("P1", "P3", 25.0, 0.01, 2, 2, 24.9876, false);
            AddBar("P2", "P4", 10.0, 0.02, 1, 0, 9.5, true);
        }
        scaleBars.scalingResult = config == CONTROL ? -1 : config == POST_BUNDLE ? 1 : config == FAILED_SCALING ? 0 : 2;

        summary.status = config == CONTROL ? 3 : 1;
        summary.iterations = config == CONTROL ? 7 : config == RIGOROUS ? 1 : 4;
        summary.observations = 20;
        summary.constraints = 9;
        summary.parameters = 25;
        summary.sigma0 = 1.2345;
        summary.elapsed = 1.5;
        const double lim[3] = {0.0123, 0.0234, 0.0345}, tot[3] = {0.0456, 0.0567, 0.0678};
        const double ex[4][3] = {{0.04, 0.05, 0.06}, {0.01, 0.01, 0.005}, {0.1, 0.15, 0.2}, {0.0158, 0.02, 0.01}};
        const char* lb[4][3] = {{"P3", "P3", "P3"}, {"P1", "P2", "P2"}, {"P3", "P3", "P3"}, {"P1", "P2", "P2"}};
        for (int a = 0; a < 3; ++a) {
            summary.rmsLimiting[a] = lim[a];
            summary.rmsTotal[a] = tot[a];
            for (int e = 0; e < 4; ++e) {
                summary.extremes[e][a] = ex[e][a];
                summary.extremeLabels[e][a] = lb[e][a];
            }
        }

        // Cofactors of the reduced system under standard folding: ten
        // unknowns per camera, then six per image.
        cofactorOrder = 10 * cameras.GetSize() + 6 * imageList.GetSize();
        cofactors.Resize(cofactorOrder, -1);
        for (int i = 0; i < cofactorOrder; ++i)
            for (int j = i; j < cofactorOrder; ++j)
                cofactors.SetAt(Correlation(i, j) * std::sqrt((0.5 + 0.1 * i) * (0.5 + 0.1 * j)), i, j);
    }

    CObjectPoint& Last() { return *points.GetAt(points.GetSize() - 1); }

    void AddPoint(const char* label, double x, double y, double z, bool inUse, bool unsolved, int rays, double rms,
                  std::initializer_list<int> index)
    {
        CObjectPoint p(label, x, y, z);
        p.inUse = inUse;
        p.unsolved = unsolved;
        p.usedRayCount = rays;
        p.rms = rms;
        p.observationIndex.SetSize(static_cast<int>(index.size()));
        int k = 0;
        for (int v : index)
            p.observationIndex[k++] = v;
        points.AddCopy(p);
    }

    void AddBar(const char* e1, const char* e2, double length, double sd, int r1, int r2, double adjusted,
                bool rejected)
    {
        CScaleBar* bar = scaleBars.AddNew();
        bar->endLabel1 = e1;
        bar->endLabel2 = e2;
        bar->calibratedLength = length;
        bar->standardDeviation = sd;
        bar->rays1 = r1;
        bar->rays2 = r2;
        bar->adjustedLength = adjusted;
        bar->rejected = rejected;
    }
};

// False when there is no such file.
inline bool ReadFile(const std::string& path, std::string& out)
{
    if (!std::filesystem::is_regular_file(path))
        return false;
    out = kestrelon::test::ReadFileBytes(path);
    return true;
}

// The expected file (written with "\n" line ends) as it must be on disk.
inline std::string Expected(const std::string& name, const std::string& projectPath)
{
    std::string text;
    if (!ReadFile(std::string(KESTRELON_TEST_DATA) + "/reports/" + name, text))
        return "<missing expected file " + name + ">";
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    const std::string key = "@PROJECT@";
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at))
        out.replace(at, key.size(), projectPath);
    return out;
}

// Replaces the date line by "@DATE@" after checking its alignment: centred
// in 108 columns, or right-aligned in 54. A misaligned date stays as it is.

// Replaces the first report date (a line ending in a date, after its blanks)
// by "@DATE@", when the date stands where the layout puts it: centred in 108
// columns, or ending at column 54.
inline std::string MaskDate(const std::string& text, bool centred)
{
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find("\r\n", lineStart);
        if (lineEnd == std::string::npos)
            return text;
        for (size_t p = lineStart; p < lineEnd; ++p) {
            if (p > lineStart && text[p - 1] != ' ')
                continue;
            if (!IsReportDateText(text.substr(p, lineEnd - p)))
                continue;
            size_t blankStart = p;
            while (blankStart > lineStart && text[blankStart - 1] == ' ')
                --blankStart;
            const int length = static_cast<int>(lineEnd - p);
            const int blanks = static_cast<int>(p - blankStart);
            const int wanted = centred ? (108 - length) / 2 : 54 - length;
            if (blanks != wanted)
                return text;
            return text.substr(0, blankStart) + "@DATE@\r\n" + text.substr(lineEnd + 2);
        }
        lineStart = lineEnd + 2;
    }
    return text;
}

// The lines of a report written with CR LF line ends.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

inline int IndexOf(const std::vector<std::string>& lines, const std::string& text)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == text)
            return static_cast<int>(i);
    return -1;
}

} // namespace reporttest
