#include "ProjectSettings.h"

namespace {

// Calls f on every stored field of a record of version v, in file order.
// Storing visits the newest version; reading visits the version it reads.
template <class Settings, class F>
void ForEachStoredField(Settings& s, int v, F&& f)
{
    if (v == 13)
        f(s.writeCovariances);
    if (v >= 12) {
        f(s.simulation);
        f(s.useEllipseCentres);
    }
    if (v >= 11) {
        f(s.correctCentreEccentricity);
        f(s.correctRetroTargetShift);
    }
    if (v >= 4) {
        f(s.absoluteConvergence);
        f(s.absoluteConvergenceLimit);
    }
    f(s.defaultImageSigma);
    f(s.keepRejectionLimitFixed);
    f(s.freeNetwork);
    f(s.rigorousScale);
    f(s.flag5);
    f(s.minimumRays);
    f(s.totalErrorPropagation);
    f(s.rejectionFactor);
    f(s.rejectionOffset);
    f(s.convergenceLimit);
    f(s.maxIterations);
    f(s.rejectionLimit);
    f(s.triangulationConvergenceLimit);
    f(s.triangulationMaxIterations);
    f(s.resectionRejectionLimit);
    f(s.resectionConvergenceLimit);
    f(s.resectionMaxIterations);
    f(s.writeResiduals);
    f(s.writeCameraParameters);
    f(s.writeCorrelations);
    f(s.writeRotationAngles);
    f(s.writeRotationMatrices);
}

struct FieldWriter {
    CBinArchive& ar;
    void operator()(const bool& b) { ar.WriteByte(static_cast<uint8_t>(b ? 1 : 0)); }
    void operator()(const uint8_t& b) { ar.WriteByte(b); }
    void operator()(const int& i) { ar.WriteInt(i); }
    void operator()(const double& d) { ar.WriteDouble(d); }
};

struct FieldReader {
    CBinArchive& ar;
    void operator()(bool& b) { ar.ReadBool(b); }  // one byte, true when not zero
    void operator()(uint8_t& b) { ar.ReadByte(b); }
    void operator()(int& i) { ar.ReadInt(i); }
    void operator()(double& d) { ar.ReadDouble(d); }
};

} // namespace

CProjectSettings::CProjectSettings()
{
    SetDefaults();
}

void CProjectSettings::SetDefaults()
{
    defaultImageSigma = 0.0005;
    keepRejectionLimitFixed = false;
    freeNetwork = true;
    standardFolding = true;
    rigorousScale = false;
    flag5 = 0;
    minimumRays = 2;
    totalErrorPropagation = true;
    absoluteConvergence = false;
    absoluteConvergenceLimit = 0.5;
    rejectionFactor = 3.0;
    rejectionOffset = 0.0005;
    convergenceLimit = 5e-06;
    maxIterations = 10;
    rejectionLimit = 0.1;
    triangulationConvergenceLimit = 1e-05;
    triangulationMaxIterations = 20;
    resectionRejectionLimit = 1.5;
    resectionConvergenceLimit = 0.0001;
    resectionMaxIterations = 30;
    correctCentreEccentricity = false;
    correctRetroTargetShift = false;
    writeResiduals = true;
    writeCameraParameters = true;
    writeCorrelations = false;
    writeRotationAngles = false;
    writeRotationMatrices = false;
    projectPath.Empty();
    writeCovariances = false;
    unitName.Empty();
    simulation = false;
    useEllipseCentres = false;
}

void CProjectSettings::SetProjectPath(const char* path)
{
    projectPath = path != nullptr ? path : "";
}

void CProjectSettings::SetUnitLabel(const char* unit)
{
    unitName = unit != nullptr ? unit : "";
}

bool CProjectSettings::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kVersion);
        ForEachStoredField(*this, kVersion, FieldWriter{ar});
        return !ar.fail();
    }

    int v = version != nullptr ? *version : -1;
    if (v == -1) {
        ar.ReadInt(v);
        if (ar.fail())
            return false;
    }
    // A newer (or nonsensical) version: nothing of it is understood.
    if (v < 0 || v > kVersion)
        return true;

    // Read into a copy so that a record cut short changes nothing.
    CProjectSettings loaded(*this);
    ForEachStoredField(loaded, v, FieldReader{ar});
    if (ar.fail())
        return false;
    *this = loaded;
    return true;
}
