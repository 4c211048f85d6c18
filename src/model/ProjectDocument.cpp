#include "ProjectDocument.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Message.h"
#include "ProfileDatabases.h"

namespace {

const char* const kUnitNames[CProjectDocument::kUnitCount] = {"mm", "cm", "m", "in", "ft", "yds"};

// Each unit in fifths of a millimetre: exact integers, so every factor is the
// correctly rounded quotient (yds to ft gives exactly 3.0).
const double kFifthsOfMm[CProjectDocument::kUnitCount] = {5.0, 50.0, 5000.0, 127.0, 1524.0, 4572.0};

std::mutex g_hookLock;
ApplyUnitsHandler g_applyUnits;
ActiveProjectDocProvider g_activeDoc;

// The number the last three characters of a name give, read as atoi reads
// them; 0 when they are no number.
int TrailingNumber(const char* name)
{
    const size_t length = std::strlen(name);
    const char* tail = length > 3 ? name + length - 3 : name;
    return std::atoi(tail);
}

} // namespace

int FindUnitIndex(const char* unit)
{
    if (unit == nullptr)
        return -1;
    for (int i = 0; i < CProjectDocument::kUnitCount; ++i)
        if (std::strcmp(unit, kUnitNames[i]) == 0)
            return i;
    return -1;
}

ApplyUnitsHandler SetApplyUnitsHandler(ApplyUnitsHandler handler)
{
    std::lock_guard<std::mutex> lock(g_hookLock);
    ApplyUnitsHandler old = std::move(g_applyUnits);
    g_applyUnits = std::move(handler);
    return old;
}

ActiveProjectDocProvider SetActiveProjectDocProvider(ActiveProjectDocProvider provider)
{
    std::lock_guard<std::mutex> lock(g_hookLock);
    ActiveProjectDocProvider old = std::move(g_activeDoc);
    g_activeDoc = std::move(provider);
    return old;
}

CProjectDocument* GetActiveProjectDoc()
{
    ActiveProjectDocProvider provider;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        provider = g_activeDoc;
    }
    return provider ? provider() : nullptr;
}

CProjectDocument::CProjectDocument()
{
    pointSets.SetDocument(this);
}

CProjectDocument::~CProjectDocument() = default;

// ---------------------------------------------------------------------------
// Images

CProjectImage* CProjectDocument::AddNewImage(const char* name)
{
    SetModifiedFlag(true);
    const char* given = name ? name : "";
    CProjectImage* image = images.AddNew();
    const int count = images.GetSize();

    auto isTaken = [&](const char* candidate) {
        for (int i = 0; i < count; ++i) {
            const CProjectImage* other = images.GetAt(i);
            if (other != image && other->name == candidate)
                return true;
        }
        return false;
    };

    if (count == 1) {
        image->name = given[0] != '\0' ? given : "Image001";
        return image;
    }
    if (given[0] != '\0' && !isTaken(given)) {
        image->name = given;
        return image;
    }
    // Numbered after the previously last image; the number goes on up until
    // the name is free, so names stay unique.
    int n = TrailingNumber(images.GetAt(count - 2)->name.GetText());
    CDynString candidate;
    do {
        ++n;
        candidate.Format("Image%03d", n);
    } while (isTaken(candidate.GetText()));
    image->name = candidate;
    return image;
}

// ---------------------------------------------------------------------------
// Units

CDynString CProjectDocument::GetUnitName(bool bracket) const
{
    CDynString unit;
    if (unitIndex >= 0 && unitIndex < kUnitCount)
        unit = kUnitNames[unitIndex];
    if (!bracket)
        return unit;
    CDynString text("[");
    text += unit;
    text += "]";
    return text;
}

bool CProjectDocument::GetUnitConversionFactor(int u, double& factor) const
{
    factor = 1.0;
    if (u == unitIndex || u < 0 || u >= kUnitCount || unitIndex < 0 || unitIndex >= kUnitCount)
        return true;
    factor = kFifthsOfMm[u] / kFifthsOfMm[unitIndex];
    return true;
}

void CProjectDocument::ApplyPreferences(int previousUnitIndex)
{
    double factor = 1.0;
    GetUnitConversionFactor(previousUnitIndex, factor);

    for (int i = 0; i < pointSets.GetSize(); ++i) {
        CPointSet* set = pointSets.GetAt(i);
        set->Scale(factor);
        if (!set->name.IsEmpty())
            set->WriteXyzFile(set->name.GetText(), 12, 13, 7);
    }
    images.ScaleStations(factor);
    eoDevice.Scale(factor);
    eoDevice.SetUnit(GetUnitName(false).GetText());
    // The stored coordinates changed: the project must be saved with them.
    SetModifiedFlag(true);

    ApplyUnitsHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_hookLock);
        handler = g_applyUnits;
    }
    if (handler)
        handler(unitIndex);
}

// ---------------------------------------------------------------------------
// Databases

bool CProjectDocument::SetEODeviceFromDatabase(const char* deviceName)
{
    CProfileDatabases* databases = GetAppDatabases();
    const CEODevice* source = databases ? databases->eoDeviceDatabase.FindByName(deviceName) : nullptr;
    if (source == nullptr)
        return false;
    const CDynString current = eoDevice.GetName();
    if (!current.IsEmpty()) {
        CDynString question;
        question.Format("Project contains already an EO Device.\nOverwrite the project EO Device <%s>?",
                        current.GetText());
        if (AfxMessageBox(question.GetText(), MB_YESNO) != IDYES)
            return false;
    }
    eoDevice = *source;
    double factor = 1.0;
    GetUnitConversionFactor(FindUnitIndex(eoDevice.GetUnit().GetText()), factor);
    eoDevice.Scale(factor);
    eoDevice.SetUnit(GetUnitName(false).GetText());
    SetModifiedFlag(true);
    UpdateAllViews();
    return true;
}

void CProjectDocument::SyncScaleBarsWithDatabase()
{
    CProfileDatabases* databases = GetAppDatabases();
    for (int i = 0; i < scaleBars.GetSize(); ++i) {
        CScaleBar* bar = scaleBars.GetAt(i);
        const CScaleBar* record = databases ? databases->FindDatabaseScaleBar(bar->name.GetText()) : nullptr;
        if (record != nullptr) {
            const CScaleBar copy(*record);
            scaleBars.RemoveAt(i, 1);
            scaleBars.InsertAt(i, copy, 1);
            continue;
        }
        CDynString question("Scale Bar ");
        question += bar->name;
        question += " Is Not In Database!\nWould You Like To Add It?";
        if (AfxMessageBox(question.GetText(), MB_YESNO | MB_DEFBUTTON2) != IDYES || databases == nullptr)
            continue;
        if (!databases->CheckScaleBarName(bar->name.GetText(), nullptr))
            continue;
        CScaleBar* added = databases->scaleBarDatabase.AddCopy(*bar);
        added->modified = true;
    }
}

// ---------------------------------------------------------------------------
// Point sets

void CProjectDocument::ToggleControlSet(const char* name)
{
    pointSets.ToggleControlSet(name);
    if (!pointSets.HasControlSet())
        settings.freeNetwork = true;
}

bool CProjectDocument::DeletePointSet(const char* name)
{
    bool done = false;
    if (name != nullptr && name[0] != '\0' && eoDevice.GetName() == name) {
        eoDevice.Reset();
        done = true;
    } else {
        done = pointSets.RemoveByName(name);
    }
    if (done)
        SetModifiedFlag(true);
    return done;
}

CPointSet* CProjectDocument::GetResultSet(const char* title, const char* fileName)
{
    if (CPointSet* set = pointSets.FindSetByTitle(title))
        return set;
    CPointSet fresh(0);
    const CDynString folder = GetProjectFolder();
    if (folder.IsEmpty()) {
        fresh.name = fileName; // a project never saved: the bare file name
    } else {
        fresh.name.SetFolder(folder);
        fresh.name.SetFileName(fileName);
    }
    if (std::strcmp(title, ResultSets::kBundle) == 0)
        pointSets.ReplaceBundleSet(fresh);
    else if (std::strcmp(title, ResultSets::kROArray) == 0)
        pointSets.ReplaceROArraySet(fresh);
    else
        pointSets.ReplaceIntersectedSet(fresh);
    return pointSets.FindSetByTitle(title);
}

CPointSet* CProjectDocument::GetBundlePointSet()
{
    if (CPointSet* set = pointSets.GetBundleSet())
        return set;
    CPointSet* set = GetResultSet(ResultSets::kBundle, ResultSets::kBundleFile);
    if (set != nullptr) {
        if (const CPointSet* driver = pointSets.GetDriverSet()) {
            for (int i = 0; i < driver->GetSize(); ++i)
                set->AddCopy(*driver->GetAt(i));
        }
    }
    return set;
}

CPointSet* CProjectDocument::GetTriangulatePointSet()
{
    return GetResultSet(ResultSets::kTriangulate, ResultSets::kTriangulateFile);
}

CPointSet* CProjectDocument::GetROPointSet()
{
    return GetResultSet(ResultSets::kROArray, ResultSets::kROArrayFile);
}
