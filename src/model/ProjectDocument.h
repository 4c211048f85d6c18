// The project document's data and its services that need no user interface:
// the collections it owns, the preference values with their defaults, the
// project's length unit, the naming of new images, stepping through images,
// the named point sets, and the exchange of scale bars and EO devices with the
// application's databases. The application's document class derives from it.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "DynString.h"
#include "EODevice.h"
#include "FilePath.h"
#include "NameBuffer.h"
#include "PointSetList.h"
#include "ProjectFile.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"

// A colour as the file stores it: red in the low byte, then green, then blue.
constexpr int32_t MakeColour(int red, int green, int blue)
{
    return int32_t((red & 0xff) | ((green & 0xff) << 8) | ((blue & 0xff) << 16));
}

// Index 0..5 of a unit name ("mm", "cm", "m", "in", "ft", "yds"), compared
// exactly; -1 when it is none of them.
int FindUnitIndex(const char* unit);

// The document's preference values with their defaults, listed once: a load
// takes them from the loaded document in one assignment.
struct CProjectPreferences {
    uint8_t reservedByte = 0;
    bool addDuplicateCoordinates = true;
    bool overwriteDuplicateNumbers = true;
    double duplicateTolerance = 0.0005;
    int32_t maxPlumbObsPerLine = 20;
    int32_t targetAreaMin = 4;
    int32_t targetAreaMax = 400;
    double drivebackThreshold = 10.0;
    int32_t highTargetJump = 30;
    double highTargetImageRatio = 0.01;
    int32_t highMinGrey = 50;
    int32_t lowTargetJump = 20;
    double lowTargetImageRatio = 0.5;
    int32_t lowMinGrey = 50;
    int32_t eoDeviceMinSize = 400;
    int32_t minTargetError = 10;
    double deviationFactor = 1.0;
    bool scanFlags[9] = {false, true, false, false, false, true, true, true, true};
    int32_t scanMethod = 0;
    bool storeThumbnails = true;
    int32_t thumbnailType = 1;
    int32_t thumbnailWidth = 100;
    int32_t thumbnailHeight = 100;
    int32_t thumbnailScale = 10;
    int32_t autoSavePeriod = 600;
    bool autoSave = true;
    double maxEpipolarAngleDiff = 0.01;
    double maxDrivebackError = 2.0;
    double minIntersectionAngle = 10.0;
    bool onlyNearEODevice = true;
    double maxDistanceToEODevice = 20.0;
    bool distanceInProjectUnits = false;
    CNameBuffer newPointPrefix{"A"};
    // "Accept 2 ray points"; kept beside the project file, as are the
    // auto-save, thumbnail and digitizing settings (see PreferencesFile.h).
    bool acceptTwoRayPoints = false;
    int32_t unitIndex = 0;
    double maxViewingAngle = M_PI / 3.0;
    double targetRadius = 10.0;
    double targetNormal[3] = {0.0, 0.0, 1.0};
    int32_t targetOverlay = 1;
    bool numberPoints = true;
    int32_t centroidColour = MakeColour(0, 255, 0);
    int32_t manualColour = MakeColour(255, 255, 0);
    int32_t fiducialColour = MakeColour(0, 255, 255);
    int32_t residualVectorColour = MakeColour(255, 255, 0);
};

class CProjectDocument : public CProjectPreferences {
public:
    // Length units of the project.
    enum { kUnitCount = 6 };

    CProjectDocument();
    virtual ~CProjectDocument();

    CProjectDocument(const CProjectDocument&) = delete;
    CProjectDocument& operator=(const CProjectDocument&) = delete;

    // Document state of the framework.
    virtual void SetModifiedFlag(bool modified = true) { isModified = modified; }
    bool IsModified() const { return isModified; }
    const CFilePath& GetPathName() const { return pathName; }
    virtual void SetPathName(const char* path) { pathName = path; }
    // The folder of the document's file ("" for a project never saved).
    CDynString GetProjectFolder() const { return pathName.GetFolder(); }
    // Tells every view of the document that its data changed; the
    // application's document refreshes its views here.
    virtual void UpdateAllViews() {}
    // Point sets were deleted from pointSets; a view that shows one lets go
    // of it here, before anything else runs.
    virtual void PointSetsRemoved() {}

    // The project file (mode PROJECT_FILE_SAVE or PROJECT_FILE_LOAD), and what
    // opening and saving a project do to the data; see ProjectFile.h.
    CProjectFileResult ReadWriteProjectFile(const char* path, int mode);
    CProjectFileResult OnOpenDocument(const char* path);
    CProjectFileResult OnSaveDocument(const char* path);

    // Images.
    // Appends a new image named by the given name when that is free, else by
    // the next unused "Image%03d"; marks the document modified.
    CProjectImage* AddNewImage(const char* name);
    CProjectImage* GetNextImage(const CProjectImage* image) const { return images.GetNext(image); }
    CProjectImage* GetPreviousImage(const CProjectImage* image) const { return images.GetPrevious(image); }

    // Units.
    CDynString GetUnitName(bool bracket) const;
    // The factor that converts a length in unit u into the project unit; 1.0
    // when u is the project unit or either index lies outside 0..5.
    bool GetUnitConversionFactor(int u, double& factor) const;
    // Converts the project from the previous unit into unitIndex.
    void ApplyPreferences(int previousUnitIndex);

    // Databases.
    bool SetEODeviceFromDatabase(const char* deviceName);
    void SyncScaleBarsWithDatabase();

    // Named point sets.
    CPointSet* FindPointSet(const char* name) const { return pointSets.FindByName(name); }
    void ToggleDriverSet(const char* name) { pointSets.ToggleDriverSet(name); }
    void ToggleControlSet(const char* name);
    bool DeletePointSet(const char* name);
    CPointSet* GetBundlePointSet();
    CPointSet* GetTriangulatePointSet();
    CPointSet* GetROPointSet();

    // Display preferences of the image views.
    int32_t GetTargetOverlay() const { return targetOverlay; }
    bool GetNumberPoints() const { return numberPoints; }
    int32_t GetCentroidColor() const { return centroidColour; }
    int32_t GetManualColor() const { return manualColour; }
    int32_t GetFiducialColor() const { return fiducialColour; }
    int32_t GetResidualVectorColor() const { return residualVectorColour; }

    // Data, in declaration order.
    int32_t fileVersion = 13;
    CProjectImageList images;
    CImagePtrArray imagePtrs;
    CCameraList cameras;
    CPointSetList pointSets;
    CEODevice eoDevice;
    CScaleBarList scaleBars;
    CProjectSettings settings;
    CAdjustmentSummary summary;

private:
    // Finds the result set of that title or creates it (empty, named after
    // the project folder and the file name).
    CPointSet* GetResultSet(const char* title, const char* fileName);

    CFilePath pathName;
    bool isModified = false;
};

// The active 3D view is told a new project unit. Installed by the user
// interface; without it a unit change reaches no view.
using ApplyUnitsHandler = std::function<void(int unitIndex)>;
ApplyUnitsHandler SetApplyUnitsHandler(ApplyUnitsHandler handler);

// The document of the main frame's active child window, else null. The shell
// installs the provider; without it there is none.
using ActiveProjectDocProvider = std::function<CProjectDocument*()>;
ActiveProjectDocProvider SetActiveProjectDocProvider(ActiveProjectDocProvider provider);
CProjectDocument* GetActiveProjectDoc();
