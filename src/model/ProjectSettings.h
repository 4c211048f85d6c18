// The project's computation options.
#pragma once

#include <cstdint>

#include "BinArchive.h"
#include "DynString.h"
#include "FilePath.h"

class CProjectSettings {
public:
    // Newest record version, the one that Serialize writes.
    static constexpr int kVersion = 13;

    CProjectSettings();

    // Every option to its default; path and unit name empty.
    void SetDefaults();
    void SetProjectPath(const char* path);
    void SetProjectPath(const CDynString& path) { SetProjectPath(path.GetText()); }
    void SetUnitLabel(const char* unit);
    void SetUnitLabel(const CDynString& unit) { SetUnitLabel(unit.GetText()); }

    // Stores the record (always the newest version, with its version word) or
    // reads it. For reading, *version is the version to read, or -1 (also for
    // a null pointer) to read the record's own version word first. Fields
    // that the version lacks keep their values; a version above the newest
    // (or negative) reads nothing more. A record cut short leaves every field
    // as it was and gives false.
    bool Serialize(CBinArchive& ar, int* version);

    double defaultImageSigma;            // mm, given to image coordinates measured in the views
    bool keepRejectionLimitFixed;
    bool freeNetwork;                    // inner constraints (true) or control points (false)
    bool standardFolding;                // set by the engine per run; never stored
    bool rigorousScale;
    uint8_t flag5;                       // stored and kept as read
    int minimumRays;
    bool totalErrorPropagation;
    bool absoluteConvergence;            // bundle convergence: absolute RMS test instead of relative
    double absoluteConvergenceLimit;     // micrometres
    double rejectionFactor;
    double rejectionOffset;              // mm
    double convergenceLimit;             // mm
    int maxIterations;
    double rejectionLimit;               // mm
    double triangulationConvergenceLimit;
    int triangulationMaxIterations;
    double resectionRejectionLimit;
    double resectionConvergenceLimit;
    int resectionMaxIterations;
    bool correctCentreEccentricity;
    bool correctRetroTargetShift;
    bool writeResiduals;
    bool writeCameraParameters;
    bool writeCorrelations;
    bool writeRotationAngles;
    bool writeRotationMatrices;
    CFilePath projectPath;               // never stored
    bool writeCovariances;
    CDynString unitName;                 // never stored
    bool simulation;
    bool useEllipseCentres;
};
