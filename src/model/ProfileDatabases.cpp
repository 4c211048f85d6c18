#include "ProfileDatabases.h"

#include <string>
#include <vector>

#include "DateStamp.h"
#include "FileSystem.h"
#include "FilePath.h"
#include "Message.h"
#include "NameBuffer.h"
#include "NumberText.h"

using namespace ProfileKeys;

namespace {

CProfileDatabases* g_appDatabases = nullptr;

const char* const kParameterKeys[CAM_PARAMETER_COUNT] = {"c",  "xp", "yp", "k1", "k2",
                                                         "k3", "p1", "p2", "b1", "b2"};

// The leading number of a text as atof reads it in the C locale; 0.0 when
// there is none.
double ToDouble(const std::string& text)
{
    const char* p = text.c_str();
    double v = 0.0;
    return ScanNumber(p, nullptr, v) ? v : 0.0;
}

std::string Formatted(const char* format, double value)
{
    CDynString s;
    s.Format(format, value);
    return s.GetText();
}

// Values are single lines in the file: line breaks become blanks.
std::string OneLine(const char* text)
{
    std::string s = text ? text : "";
    for (char& c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    return s;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
    return *a == *b;
}

// Takes the next identifier of a comma-separated list, starting at pos; the
// last one stays, so that counts beyond the list repeat it. Only pos moves,
// so a long list is not copied once per record.
std::string NextIdentifier(const std::string& list, size_t& pos)
{
    const size_t comma = list.find(',', pos);
    if (comma == std::string::npos)
        return list.substr(pos);
    std::string id = list.substr(pos, comma - pos);
    pos = comma + 1;
    return id;
}

int ClampCount(int n, int most)
{
    if (n < 0)
        return 0;
    return n > most ? most : n;
}

// Checks a new or renamed record name against the file's rules and the other
// names of its database; shows the reason when it is refused.
bool CheckName(const char* kind, const char* name, const std::vector<const char*>& others)
{
    CDynString message;
    if (!CProfileDatabases::IsValidDatabaseName(name)) {
        message.Format("%s <%s> cannot be kept in the database: a name must not be empty, "
                       "begin or end with a blank, or hold a ',', '[', ']', '=' or a line break.",
                       kind, name ? name : "");
        AfxMessageBox(message.GetText(), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    for (const char* other : others) {
        if (other && SameIgnoringCase(other, name) && std::string(other) != name) {
            message.Format("%s <%s> differs from <%s> in the database only in letter case. "
                           "Change name!",
                           kind, name, other);
            AfxMessageBox(message.GetText(), MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    return true;
}

} // namespace

CProfileDatabases* GetAppDatabases()
{
    return g_appDatabases;
}

CProfileDatabases* SetAppDatabases(CProfileDatabases* databases)
{
    CProfileDatabases* old = g_appDatabases;
    g_appDatabases = databases;
    return old;
}

CProfileDatabases::CProfileDatabases() = default;

CProfileDatabases::~CProfileDatabases()
{
    if (g_appDatabases == this)
        g_appDatabases = nullptr;
}

const std::string& CProfileDatabases::GetProfilePath()
{
    if (!pathResolved) {
        std::string folder;
        if (GetProfileFolder(folder))
            profile.SetPath(folder + "/" + kProfileFileName);
        pathResolved = true;
    }
    return profile.GetPath();
}

void CProfileDatabases::SetProfilePath(const std::string& path)
{
    profile.SetPath(path);
    pathResolved = true;
    loaded = false;
}

void CProfileDatabases::EnsureLoaded()
{
    if (loaded)
        return;
    GetProfilePath();
    profile.Load();
    loaded = true;
}

CProfileDatabases::CameraDialogHandler CProfileDatabases::SetCameraDialogHandler(CameraDialogHandler handler)
{
    CameraDialogHandler old = std::move(cameraDialog);
    cameraDialog = std::move(handler);
    return old;
}

CProfileDatabases::StdProfileWriter CProfileDatabases::SetStdProfileWriter(StdProfileWriter writer)
{
    StdProfileWriter old = std::move(stdProfileWriter);
    stdProfileWriter = std::move(writer);
    return old;
}

bool CProfileDatabases::IsValidDatabaseName(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    const std::string s = name;
    if (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t')
        return false;
    for (unsigned char c : s)
        if (c == ',' || c == '[' || c == ']' || c == '=' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}

bool CProfileDatabases::CheckCameraIdentifier(const char* identifier, const CCamera* except) const
{
    std::vector<const char*> others;
    for (int i = 0; i < cameraDatabase.GetSize(); ++i)
        if (cameraDatabase.GetAt(i) != except)
            others.push_back(cameraDatabase.GetAt(i)->identifier.GetText());
    return CheckName("Camera identifier", identifier, others);
}

bool CProfileDatabases::CheckScaleBarName(const char* name, const CScaleBar* except) const
{
    std::vector<const char*> others;
    for (int i = 0; i < scaleBarDatabase.GetSize(); ++i)
        if (scaleBarDatabase.GetAt(i) != except)
            others.push_back(scaleBarDatabase.GetAt(i)->name.GetText());
    return CheckName("Scalebar name", name, others);
}

bool CProfileDatabases::CheckEODeviceName(const char* name, const CEODevice* except) const
{
    std::vector<CDynString> names;
    for (int i = 0; i < eoDeviceDatabase.GetSize(); ++i)
        if (eoDeviceDatabase.GetAt(i) != except)
            names.push_back(eoDeviceDatabase.GetAt(i)->GetName());
    std::vector<const char*> others;
    for (const CDynString& n : names)
        others.push_back(n.GetText());
    return CheckName("EO Device name", name, others);
}

// ---------------------------------------------------------------------------
// Loading

bool CProfileDatabases::LoadDatabases()
{
    GetProfilePath();
    profile.Load();
    loaded = true;
    entriesLeft = kMaxEntriesPerLoad;
    textLeft = kMaxTextBytesPerLoad;

    cameraDatabase.RemoveAll();
    scaleBarDatabase.RemoveAll();

    // Record i gets the i-th identifier of the list; identifiers count
    // toward the text a load may take, and records stop where it ends.
    std::string list;
    size_t pos = 0;
    std::string id;
    auto nextId = [&]() {
        id = NextIdentifier(list, pos);
        if (id.size() > textLeft)
            return false;
        textLeft -= id.size();
        return true;
    };

    int n = ClampCount(profile.GetInt(kCameraSection, kCameraCount, 0), kMaxRecords);
    list = profile.GetString(kCameraSection, kCameraList, "");
    const int firstCamera = cameraDatabase.GetSize();
    for (int i = 0; i < n && nextId(); ++i)
        cameraDatabase.AddNew()->identifier = id.c_str();

    n = ClampCount(profile.GetInt(kScaleBarSection, kScaleBarCount, 0), kMaxRecords);
    list = profile.GetString(kScaleBarSection, kScaleBarList, "");
    pos = 0;
    const int firstBar = scaleBarDatabase.GetSize();
    for (int i = 0; i < n && nextId(); ++i)
        scaleBarDatabase.AddNew()->name = id.c_str();

    n = ClampCount(profile.GetInt(kEODeviceSection, kEODeviceCount, 0), kMaxRecords);
    list = profile.GetString(kEODeviceSection, kEODeviceList, "");
    pos = 0;
    const int firstDevice = eoDeviceDatabase.GetSize();
    for (int i = 0; i < n && nextId(); ++i)
        eoDeviceDatabase.AddNew()->SetName(id.c_str());

    for (int i = firstCamera; i < cameraDatabase.GetSize(); ++i)
        ReadCameraSection(*cameraDatabase.GetAt(i));
    for (int i = firstBar; i < scaleBarDatabase.GetSize(); ++i)
        ReadScaleBarSection(*scaleBarDatabase.GetAt(i));
    for (int i = firstDevice; i < eoDeviceDatabase.GetSize(); ++i)
        ReadEODeviceSection(*eoDeviceDatabase.GetAt(i));
    return true;
}

int CProfileDatabases::TakeEntries(int n)
{
    n = ClampCount(ClampCount(n, kMaxEntries), entriesLeft);
    entriesLeft -= n;
    return n;
}

std::string CProfileDatabases::TakeText(const char* section, const char* key)
{
    const std::string* value = profile.FindValue(section, key);
    if (value == nullptr || value->size() > textLeft)
        return std::string();
    textLeft -= value->size();
    return *value;
}

void CProfileDatabases::ReadCameraSection(CCamera& camera)
{
    const std::string section = camera.identifier.GetText();
    const char* s = section.c_str();
    camera.cameraType = TakeText(s, "Camera type").c_str();
    camera.serialNumber = TakeText(s, "Serial number").c_str();
    camera.lensType = TakeText(s, "Lens type").c_str();
    camera.lensSerialNumber = TakeText(s, "Lens Serial number").c_str();
    camera.calibrationTime = TakeText(s, "Calibration time").c_str();
    camera.XPixels = profile.GetInt(s, "XPixels", 0);
    camera.YPixels = profile.GetInt(s, "YPixels", 0);
    camera.XPixelSize = ToDouble(TakeText(s, "XPixel size"));
    camera.YPixelSize = ToDouble(TakeText(s, "YPixel size"));
    camera.maxRadialDistance = ToDouble(TakeText(s, "Max Radial Distance"));
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        camera.parameters[i] = ToDouble(TakeText(s, kParameterKeys[i]));
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        camera.sigmas[i] = ToDouble(TakeText(s, (std::string("sigma ") + kParameterKeys[i]).c_str()));
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        camera.postSigmas[i] =
            ToDouble(TakeText(s, (std::string("post sigma ") + kParameterKeys[i]).c_str()));
    camera.calibrationRedundancy = profile.GetInt(s, "Calibration redundancy", 0);

    const int n = TakeEntries(profile.GetInt(s, "Number of Fiducials", 0));
    for (int i = 0; i < n; ++i) {
        const std::string key = "Fiducial " + std::to_string(i + 1);
        const std::string value = TakeText(s, key.c_str());
        // label before the first comma, x between the first and the last, y after the last
        const size_t first = value.find(',');
        const size_t last = value.rfind(',');
        std::string label = value;
        double x = 0.0;
        double y = 0.0;
        if (first != std::string::npos) {
            label = value.substr(0, first);
            if (last > first)
                x = ToDouble(value.substr(first + 1, last - first - 1));
            y = ToDouble(value.substr(last + 1));
        }
        CImageObservation* mark = camera.fiducials.AddNew();
        CNameBuffer name;
        name.Set(label.c_str());
        mark->SetLabel(name);
        mark->SetXY(x, y);
    }
}

void CProfileDatabases::ReadScaleBarSection(CScaleBar& bar)
{
    const std::string section = bar.name.GetText();
    const char* s = section.c_str();
    bar.version = profile.GetInt(s, "Version", 0);
    bar.units = TakeText(s, "Units").c_str();
    bar.material = TakeText(s, "Material").c_str();
    bar.temperatureUnits = TakeText(s, "TemperatureUnits").c_str();
    bar.calibratedTemperature = ToDouble(TakeText(s, "Calibrated Temperature"));
    bar.calibratedLength = ToDouble(TakeText(s, "Calibrated Length"));
    bar.standardDeviation = ToDouble(TakeText(s, "Standard Deviation"));
    CNameBuffer label;
    label.Set(TakeText(s, "End Point Label 1").c_str());
    bar.endLabel1 = label;
    label = CNameBuffer();
    label.Set(TakeText(s, "End Point Label 2").c_str());
    bar.endLabel2 = label;
}

void CProfileDatabases::ReadEODeviceSection(CEODevice& device)
{
    const std::string section = device.GetName().GetText();
    const char* s = section.c_str();
    device.SetComment(TakeText(s, "Comment").c_str());
    device.SetIDShape(profile.GetInt(s, "IDShape", 0));
    device.calibrationTime = TakeText(s, "Calibration time").c_str();
    device.SetUnit(TakeText(s, "Unit").c_str());
    device.SetMaxResectionRms(ToDouble(TakeText(s, "Maximum Resection RMS")));

    const int n = TakeEntries(profile.GetInt(s, "Number of Points", 0));
    for (int i = 0; i < n; ++i) {
        const std::string key = "Point " + std::to_string(i + 1);
        const std::string value = TakeText(s, key.c_str());
        // label, X, Y and Z between the first three commas; Z is the rest
        std::string fields[4];
        size_t start = 0;
        for (int f = 0; f < 4; ++f) {
            if (start == std::string::npos)
                break;
            const size_t comma = f < 3 ? value.find(',', start) : std::string::npos;
            fields[f] = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            start = comma == std::string::npos ? std::string::npos : comma + 1;
        }
        CObjectPoint* point = device.AddNew();
        CNameBuffer label;
        label.Set(fields[0].c_str());
        point->label = label;
        point->x = ToDouble(fields[1]);
        point->y = ToDouble(fields[2]);
        point->z = ToDouble(fields[3]);
    }
}

// ---------------------------------------------------------------------------
// Writing

void CProfileDatabases::WriteCameraSection(const CCamera& camera)
{
    const std::string section = camera.identifier.GetText();
    const char* s = section.c_str();
    profile.WriteString(s, "Camera type", OneLine(camera.cameraType.GetText()).c_str());
    profile.WriteString(s, "Serial number", OneLine(camera.serialNumber.GetText()).c_str());
    profile.WriteString(s, "Lens type", OneLine(camera.lensType.GetText()).c_str());
    profile.WriteString(s, "Lens Serial number", OneLine(camera.lensSerialNumber.GetText()).c_str());
    profile.WriteString(s, "Calibration time", OneLine(camera.calibrationTime.GetText()).c_str());
    profile.WriteInt(s, "XPixels", camera.XPixels);
    profile.WriteInt(s, "YPixels", camera.YPixels);
    profile.WriteString(s, "XPixel size", Formatted("%f", camera.XPixelSize).c_str());
    profile.WriteString(s, "YPixel size", Formatted("%f", camera.YPixelSize).c_str());
    profile.WriteString(s, "Max Radial Distance", Formatted("%f", camera.maxRadialDistance).c_str());
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        profile.WriteString(s, kParameterKeys[i], Formatted("%e", camera.parameters[i]).c_str());
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        profile.WriteString(s, (std::string("sigma ") + kParameterKeys[i]).c_str(),
                            Formatted("%e", camera.sigmas[i]).c_str());
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        profile.WriteString(s, (std::string("post sigma ") + kParameterKeys[i]).c_str(),
                            Formatted("%e", camera.postSigmas[i]).c_str());
    CDynString text;
    text.Format("%d", camera.calibrationRedundancy);
    profile.WriteString(s, "Calibration redundancy", text.GetText());
    const int n = camera.fiducials.GetSize();
    profile.WriteInt(s, "Number of Fiducials", n);
    for (int i = 0; i < n; ++i) {
        const CImageObservation* mark = camera.fiducials.GetAt(i);
        text.Format("%s,%f,%f", mark->label.GetText(), mark->x, mark->y);
        profile.WriteString(s, ("Fiducial " + std::to_string(i + 1)).c_str(), text.GetText());
    }
}

void CProfileDatabases::WriteScaleBarSection(const CScaleBar& bar)
{
    const std::string section = bar.name.GetText();
    const char* s = section.c_str();
    profile.WriteInt(s, "Version", bar.version);
    profile.WriteString(s, "Units", OneLine(bar.units.GetText()).c_str());
    profile.WriteString(s, "Material", OneLine(bar.material.GetText()).c_str());
    profile.WriteString(s, "TemperatureUnits", OneLine(bar.temperatureUnits.GetText()).c_str());
    profile.WriteString(s, "Calibrated Temperature", Formatted("%f", bar.calibratedTemperature).c_str());
    profile.WriteString(s, "Calibrated Length", Formatted("%f", bar.calibratedLength).c_str());
    profile.WriteString(s, "Standard Deviation", Formatted("%f", bar.standardDeviation).c_str());
    profile.WriteString(s, "End Point Label 1", bar.endLabel1.GetText());
    profile.WriteString(s, "End Point Label 2", bar.endLabel2.GetText());
}

void CProfileDatabases::WriteEODeviceSection(const CEODevice& device)
{
    const CDynString name = device.GetName();
    const char* s = name.GetText();
    profile.WriteString(s, "Comment", OneLine(device.comment.GetText()).c_str());
    profile.WriteInt(s, "IDShape", device.idShape);
    profile.WriteString(s, "Calibration time", OneLine(device.calibrationTime.GetText()).c_str());
    profile.WriteString(s, "Unit", OneLine(device.unit.GetText()).c_str());
    profile.WriteString(s, "Maximum Resection RMS", Formatted("%f", device.maxResectionRms).c_str());
    const int n = device.GetSize();
    profile.WriteInt(s, "Number of Points", n);
    CDynString text;
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = device.GetAt(i);
        text.Format("%s,%f,%f,%f", p->label.GetText(), p->x, p->y, p->z);
        profile.WriteString(s, ("Point " + std::to_string(i + 1)).c_str(), text.GetText());
    }
}

void CProfileDatabases::WriteDatabases(int all)
{
    writtenCameras.RemoveAll();
    writtenScaleBars.RemoveAll();
    writtenEODevices.RemoveAll();

    profile.WriteString(kTimeSection, kTimeKey, CDateStamp().Format("%d %B, %Y  %X").GetText());

    CDynString list;
    for (int i = 0; i < cameraDatabase.GetSize(); ++i) {
        if (i > 0)
            list += ",";
        cameraDatabase.GetAt(i)->GetIdentifier(list);
    }
    profile.WriteInt(kCameraSection, kCameraCount, cameraDatabase.GetSize());
    profile.WriteString(kCameraSection, kCameraList, list.GetText());
    for (int i = 0; i < cameraDatabase.GetSize(); ++i) {
        CCamera* camera = cameraDatabase.GetAt(i);
        if (all == 1 || camera->modified) {
            WriteCameraSection(*camera);
            writtenCameras.Add(camera);
        }
    }

    list.Empty();
    for (int i = 0; i < scaleBarDatabase.GetSize(); ++i) {
        if (i > 0)
            list += ",";
        list += scaleBarDatabase.GetAt(i)->name;
    }
    profile.WriteInt(kScaleBarSection, kScaleBarCount, scaleBarDatabase.GetSize());
    profile.WriteString(kScaleBarSection, kScaleBarList, list.GetText());
    for (int i = 0; i < scaleBarDatabase.GetSize(); ++i) {
        CScaleBar* bar = scaleBarDatabase.GetAt(i);
        if (all == 1 || bar->modified) {
            WriteScaleBarSection(*bar);
            writtenScaleBars.Add(bar);
        }
    }

    list.Empty();
    for (int i = 0; i < eoDeviceDatabase.GetSize(); ++i) {
        if (i > 0)
            list += ",";
        list += eoDeviceDatabase.GetAt(i)->GetName();
    }
    profile.WriteInt(kEODeviceSection, kEODeviceCount, eoDeviceDatabase.GetSize());
    profile.WriteString(kEODeviceSection, kEODeviceList, list.GetText());
    for (int i = 0; i < eoDeviceDatabase.GetSize(); ++i) {
        CEODevice* device = eoDeviceDatabase.GetAt(i);
        if (all == 1 || device->modified) {
            WriteEODeviceSection(*device);
            writtenEODevices.Add(device);
        }
    }
}

void CProfileDatabases::ClearWrittenFlags()
{
    for (int i = 0; i < writtenCameras.GetSize(); ++i)
        writtenCameras.GetAt(i)->modified = false;
    for (int i = 0; i < writtenScaleBars.GetSize(); ++i)
        writtenScaleBars.GetAt(i)->modified = false;
    for (int i = 0; i < writtenEODevices.GetSize(); ++i)
        writtenEODevices.GetAt(i)->modified = false;
    writtenCameras.RemoveAll();
    writtenScaleBars.RemoveAll();
    writtenEODevices.RemoveAll();
}

bool CProfileDatabases::FlushProfile()
{
    GetProfilePath();
    const bool ok = profile.Flush();
    if (ok)
        ClearWrittenFlags();
    writtenCameras.RemoveAll();
    writtenScaleBars.RemoveAll();
    writtenEODevices.RemoveAll();
    return ok;
}

bool CProfileDatabases::SaveDatabases(int all)
{
    EnsureLoaded();
    WriteDatabases(all);
    return FlushProfile();
}

std::string CProfileDatabases::GetWriteFailureText() const
{
    const std::string& path = profile.GetPath();
    return "The profile file " + (path.empty() ? std::string("Kestrelon.ini") : path) +
           " could not be written: " + profile.GetLastError() + ".";
}

bool CProfileDatabases::FlushDatabases()
{
    DatabasesChanged();
    // The shell's sections survive the rewrite; every database section is
    // written anew, so sections of removed records and stale keys go.
    struct Kept {
        std::string section;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    EnsureLoaded();
    std::vector<Kept> kept;
    for (const char* section : {kRecentFileSection, kShellSettingsSection}) {
        if (!profile.HasSection(section))
            continue;
        Kept k{section, {}};
        for (const std::string& key : profile.GetKeyNames(section))
            k.entries.emplace_back(key, profile.GetString(section, key.c_str()));
        kept.push_back(std::move(k));
    }

    profile.FromText(std::string());
    WriteDatabases(1);
    for (const Kept& k : kept)
        for (const auto& e : k.entries)
            profile.WriteString(k.section.c_str(), e.first.c_str(), e.second.c_str());
    if (stdProfileWriter)
        stdProfileWriter(profile);
    if (FlushProfile())
        return true;
    // The records stay in memory, and the store keeps the whole text: the
    // next rewrite or the save at the end writes them again.
    const std::string text = GetWriteFailureText() +
                             "\nThe database changes are kept and written again with the next change "
                             "and when the program ends.";
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONWARNING);
    return false;
}

// ---------------------------------------------------------------------------
// Record operations

CScaleBar* CProfileDatabases::FindDatabaseScaleBar(const char* name) const
{
    return scaleBarDatabase.FindByName(name);
}

bool CProfileDatabases::AddCameraToDatabase(const CCamera* camera)
{
    if (camera == nullptr)
        return false;
    const CDynString identifier = camera->identifier;
    CCamera* existing = cameraDatabase.FindByName(identifier.GetText());
    if (!CheckCameraIdentifier(identifier.GetText(), existing))
        return false;
    if (existing) {
        CDynString question;
        question.Format("Replace camera <%s>?", identifier.GetText());
        if (AfxMessageBox(question.GetText(), MB_YESNO | MB_ICONINFORMATION) != IDYES)
            return false;
        cameraDatabase.RemoveByName(identifier.GetText());
    }
    CCamera* copy = cameraDatabase.AddCopy(*camera);
    copy->modified = true; // written by the rewrite below, or by the next save if that fails
    FlushDatabases();
    return true;
}

bool CProfileDatabases::AddEODeviceToDatabase(const CEODevice* device)
{
    if (device == nullptr)
        return false;
    const CDynString name = device->GetName();
    CEODevice* existing = eoDeviceDatabase.FindByName(name.GetText());
    if (!CheckEODeviceName(name.GetText(), existing))
        return false;
    if (existing) {
        CDynString question;
        question.Format("Replace EO Device <%s>?", name.GetText());
        if (AfxMessageBox(question.GetText(), MB_YESNO | MB_ICONINFORMATION) != IDYES)
            return false;
        eoDeviceDatabase.RemoveByName(name.GetText());
    }
    CEODevice* copy = eoDeviceDatabase.AddCopy(*device);
    copy->modified = true;
    FlushDatabases();
    return true;
}

bool CProfileDatabases::ImportEODevice(const char* path)
{
    if (path == nullptr)
        return false;
    CFilePath probe(path);
    while (eoDeviceDatabase.FindByName(probe.GetTitle().GetText()) != nullptr)
        if (!probe.IncrementNumber())
            break;
    const CDynString title = probe.GetTitle();
    // A title that cannot be raised (an empty one) ends the search; such a
    // name is refused.
    if (!CheckEODeviceName(title.GetText(), nullptr) || eoDeviceDatabase.FindByName(title.GetText()) != nullptr)
        return false;

    // Read into a record of its own, so that a failed read leaves the
    // database exactly as it was.
    CEODevice device;
    if (!device.Load(path)) {
        AfxMessageBox("Input Failed", MB_OK);
        return false;
    }
    device.SetName(title.GetText());
    device.modified = true;
    eoDeviceDatabase.AddCopy(device);
    return true;
}

bool CProfileDatabases::DeleteCamerasFromDatabase(const CDynArray<CCamera>& selected)
{
    std::vector<CDynString> identifiers;
    for (int i = 0; i < selected.GetSize(); ++i)
        if (const CCamera* camera = selected.GetAt(i))
            identifiers.push_back(camera->identifier);
    if (identifiers.empty())
        return false;

    CDynString list;
    for (size_t i = 0; i < identifiers.size(); ++i) {
        if (i > 0)
            list += ", ";
        list += "<";
        list += identifiers[i];
        list += ">";
    }
    CDynString question;
    question.Format("Comfirm delete of camera(s) %s", list.GetText());
    if (AfxMessageBox(question.GetText(), MB_YESNO) != IDYES)
        return false;
    for (const CDynString& id : identifiers)
        cameraDatabase.RemoveByName(id.GetText());
    FlushDatabases();
    return true;
}

bool CProfileDatabases::EditDatabaseCamera(const char* identifier)
{
    const int index = cameraDatabase.FindIndexByName(identifier);
    if (index < 0 || !cameraDialog)
        return false;
    const CCameraList before(cameraDatabase);
    cameraDialog(cameraDatabase, index);

    // A rename the file cannot hold is taken back.
    if (cameraDatabase.GetSize() == before.GetSize()) {
        for (int i = 0; i < cameraDatabase.GetSize(); ++i) {
            CCamera* camera = cameraDatabase.GetAt(i);
            if (camera->identifier == before.GetAt(i)->identifier)
                continue;
            if (!CheckCameraIdentifier(camera->identifier.GetText(), camera))
                camera->identifier = before.GetAt(i)->identifier;
        }
    }

    bool changed = cameraDatabase.GetSize() != before.GetSize();
    for (int i = 0; i < before.GetSize() && !changed; ++i) {
        const CCamera* old = before.GetAt(i);
        const CCamera* now = cameraDatabase.FindByName(old->identifier.GetText());
        if (now == nullptr || !now->IsEqual(*old))
            changed = true;
    }
    if (!changed)
        return false;
    FlushDatabases();
    return true;
}
