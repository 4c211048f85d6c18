// The application's three databases of reusable records (cameras, scale bars,
// EO devices) and the profile file that holds them. The application object of
// the user interface derives from CProfileDatabases; everything here works
// without it (the camera dialog is a handler the interface installs).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Camera.h"
#include "DynArray.h"
#include "DynString.h"
#include "EODevice.h"
#include "ProfileStore.h"
#include "ScaleBar.h"

// Section and key names of the profile file.
namespace ProfileKeys {
constexpr const char* kTimeSection = "File Creation Time";
constexpr const char* kTimeKey = "File Created";
constexpr const char* kCameraSection = "Current Camera Database";
constexpr const char* kCameraCount = "Number of Cameras";
constexpr const char* kCameraList = "Camera Identifiers";
constexpr const char* kScaleBarSection = "Current Scalebar Database";
constexpr const char* kScaleBarCount = "Number of Scalebars";
constexpr const char* kScaleBarList = "Scalebar Identifiers";
constexpr const char* kEODeviceSection = "Current EO Device Database";
constexpr const char* kEODeviceCount = "Number of EO Devices";
constexpr const char* kEODeviceList = "EO Device Identifiers";
// Sections of the shell (recent files, print preview) that a rewrite keeps.
constexpr const char* kRecentFileSection = "Recent File List";
constexpr const char* kShellSettingsSection = "Settings";
} // namespace ProfileKeys

class CProfileDatabases {
public:
    // Opens the camera dialog on the database, positioned at the index; the
    // dialog edits the cameras in place.
    using CameraDialogHandler = std::function<void(CCameraList& database, int index)>;
    // Writes the shell's own profile settings into the store after a rewrite.
    using StdProfileWriter = std::function<void(CProfileStore& profile)>;

    // Name of the profile file in the profile folder.
    static constexpr const char* kProfileFileName = "Kestrelon.ini";
    // Most records read per database, most marks or points read per record
    // and in all records of one load; counts in the file beyond these are
    // taken as these, so a broken file cannot claim unbounded memory.
    static constexpr int kMaxRecords = 4096;
    static constexpr int kMaxEntries = 4096;
    static constexpr int kMaxEntriesPerLoad = 65536;
    // Most bytes of text one load takes from the file into records (records
    // that share an identifier read the same section again); text beyond
    // this reads as absent.
    static constexpr std::size_t kMaxTextBytesPerLoad = 64u << 20;

    CProfileDatabases();
    virtual ~CProfileDatabases();

    CProfileDatabases(const CProfileDatabases&) = delete;
    CProfileDatabases& operator=(const CProfileDatabases&) = delete;

    // The profile file: <profile folder>/Kestrelon.ini unless set otherwise.
    const std::string& GetProfilePath();
    void SetProfilePath(const std::string& path);
    // The store the shell also writes its own settings into.
    CProfileStore& GetProfile() { return profile; }

    // Reads the databases from the profile file. A missing or unreadable file
    // gives empty databases. Always true.
    bool LoadDatabases();
    // Writes the time stamp, the lists and counts and the record sections:
    // every record with all = 1, only the modified ones with all = 0. The file
    // is created when it is missing. False when it cannot be written.
    bool SaveDatabases(int all);
    // Calls DatabasesChanged, then rewrites the file so that it holds exactly
    // the current records (and the shell's sections). False, with a message
    // that names the file and the reason, when it cannot be written; the
    // databases in memory stay as they are and are written again by the next
    // rewrite or save.
    bool FlushDatabases();
    // After a failed save or rewrite: the text that names the profile file
    // and the reason.
    std::string GetWriteFailureText() const;

    CScaleBar* FindDatabaseScaleBar(const char* name) const;

    // Add a copy, asking before a replacement; true when the database changed.
    bool AddCameraToDatabase(const CCamera* camera);
    bool AddEODeviceToDatabase(const CEODevice* device);
    // Adds an EO device read from a coordinate file, named after the file's
    // title (with its trailing number raised while the name is taken).
    bool ImportEODevice(const char* path);
    // Removes the selected cameras after a confirmation.
    bool DeleteCamerasFromDatabase(const CDynArray<CCamera>& selected);
    // Opens the camera dialog on a database camera; rewrites the file and
    // returns true when anything changed.
    bool EditDatabaseCamera(const char* identifier);

    CameraDialogHandler SetCameraDialogHandler(CameraDialogHandler handler);
    StdProfileWriter SetStdProfileWriter(StdProfileWriter writer);

    // One record's section, in the key order of the profile file.
    void WriteCameraSection(const CCamera& camera);
    void WriteScaleBarSection(const CScaleBar& bar);
    void WriteEODeviceSection(const CEODevice& device);
    void ReadCameraSection(CCamera& camera);
    void ReadScaleBarSection(CScaleBar& bar);
    void ReadEODeviceSection(CEODevice& device);

    // True when the text can name a record in the profile file: not empty,
    // no blank at either end, none of ",", "[", "]", "=" or a control
    // character (line breaks).
    static bool IsValidDatabaseName(const char* name);
    // The same checks with a message to the user, plus: no other record of the
    // database (other than except) bears the name in another letter case,
    // since the file's section names ignore case. For the database dialogs
    // when they add or rename a record.
    bool CheckCameraIdentifier(const char* identifier, const CCamera* except) const;
    bool CheckScaleBarName(const char* name, const CScaleBar* except) const;
    bool CheckEODeviceName(const char* name, const CEODevice* except) const;

    CCameraList cameraDatabase;
    CScaleBarList scaleBarDatabase;
    CEODeviceList eoDeviceDatabase;

protected:
    // Called by FlushDatabases before it writes or shows anything: records
    // were changed, added or deleted, so whatever still points at a deleted
    // one lets go of it here. Nothing by default.
    virtual void DatabasesChanged() {}

private:
    // Writes the databases into the store; the records written are collected
    // so that their modified flags are cleared once the file is on disk.
    void WriteDatabases(int all);
    bool FlushProfile();
    void ClearWrittenFlags();

    // Reads the file into the store once, so that writing keeps what the
    // file holds beside the databases even without a load first.
    void EnsureLoaded();
    // Takes up to n entries from what the current load may still read.
    int TakeEntries(int n);
    // A value of the file for a record, charged to what the current load may
    // still read; "" when absent or beyond that.
    std::string TakeText(const char* section, const char* key);

    CProfileStore profile;
    bool pathResolved = false;
    bool loaded = false;
    int entriesLeft = kMaxEntriesPerLoad;
    std::size_t textLeft = kMaxTextBytesPerLoad;
    CameraDialogHandler cameraDialog;
    StdProfileWriter stdProfileWriter;
    CDynArray<CCamera> writtenCameras;
    CDynArray<CScaleBar> writtenScaleBars;
    CDynArray<CEODevice> writtenEODevices;
};

// The application's databases, for the data model (the project load asks for
// database scale bars, the document copies EO devices). The application
// installs itself at start-up; null when nothing is installed.
CProfileDatabases* GetAppDatabases();
CProfileDatabases* SetAppDatabases(CProfileDatabases* databases);
