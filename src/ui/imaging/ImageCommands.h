// Image commands of the shell: the JPEG-to-TIFF conversion of a folder
// behind its progress window, and the "Simulate Images" dialogs that make
// synthetic observations and pictures of a project.
#pragma once

#include "Dialog.h"
#include "DirSearch.h"

#include <string>

class CComboBoxPointSet;
class CKestrelonDoc;
class CNumberEdit;
class CObservationList;
class CProjectImage;
class QProgressBar;

// Converts every ".jpg" of the folder without a ".tif" beside it; shows
// "Converting JPEG Images" while it runs (no window when there is none).
int ConvertJpegImages(const CDynString& folder);

class CJpegConversionDlg : public CDialog {
public:
    explicit CJpegConversionDlg(QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    void SetDirectory(const CDynString& folder) { m_folder = folder; }
    int CountJpegFiles();
    void Convert();

    QProgressBar* m_ctlProgress = nullptr;

private:
    CDynString m_folder;
    CDirSearch m_dirSearch;
};

// One line of an "_ellipses" file (without the line break).
std::string FormatEllipseLine(const char* label, double x, double y, double major, double minor,
                              double rotation);
// Writes <folder>/<image name>_ellipses.txt for the observations that carry
// an ellipse; no file when none does. False when the file cannot be written.
bool WriteEllipseFile(const CProjectImage& image, const CDynString& folder);

// "..." of both Simulate Images dialogs: the folder of the file chosen in
// "Select Image File Directory" goes into the directory field (1396).
void BrowseImageDirectory(CDialog* dialog);

// "Simulate Images" (the simple one).
class CSimulateImagesSimpleDlg : public CDialog {
public:
    explicit CSimulateImagesSimpleDlg(QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;

    void OnCreateImages();
    void OnBrowse();

    int m_bCreateImages = 0;
    QString m_strDirectory;

private:
    void EnableImageControls();

    CComboBoxPointSet* m_PointSets = nullptr;
    CNumberEdit* m_ViewingAngle = nullptr;
};

// "Simulate Images" (the extended one).
class CSimulateImagesDlg : public CDialog {
public:
    explicit CSimulateImagesDlg(QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;

    // The enabling rules.
    void OnTargetInformation();
    void OnMethod();
    void OnStoreEllipses();
    void OnCentre();
    void OnCreateObservations();
    void OnCreateImages();

    int m_nTargetInformation = 1;
    double m_dNormal[3] = {0.0, 0.0, 1.0};
    double m_dRadius = 0.0;
    int m_bCreateObservations = 1;
    int m_nCentre = 0;
    int m_bCreateImages = 0;
    QString m_strDirectory;

private:
    CComboBoxPointSet* m_PointSets = nullptr;
    CNumberEdit* m_ViewingAngle = nullptr;
};

// The folder typed for "Create Images in Directory", made absolute: a
// relative one is taken in the project folder. False, after one message,
// when it is empty, relative in a project without a folder, or not an
// existing folder.
bool SimulatedImageFolder(const CKestrelonDoc& doc, const QString& typed, CDynString& folder);
// True when no file of the folder would be replaced by a picture (or, with
// ellipses, by an ellipse file) of the images, or when the user agrees to
// replacing them, asked once.
bool MayReplaceSimulatedFiles(const CKestrelonDoc& doc, const CDynString& folder, bool ellipses);

// Saves a rendered picture as <folder>/<image name>.tif: the image's windows
// are closed first and one is opened again after the writing, on the new
// file, or on the image's old file when the writing failed (the failure is
// said, naming the file).
bool SaveSimulatedPicture(CKestrelonDoc& doc, CProjectImage& image, class CImageStore& picture,
                          const CDynString& folder);
