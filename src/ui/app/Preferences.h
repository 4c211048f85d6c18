// The pages of the "Kestrelon Preferences" sheet over the project's
// settings. Colours are held as the file stores them (red in the low byte).
#pragma once

#include "PropertySheet.h"

#include <QWidget>

#include <cstdint>

class CProjectDocument;

// A colour value of the file as a Qt colour, and back.
QColor ColourToQColor(int32_t colour);
int32_t QColorToColour(const QColor& colour);

// A swatch: a rectangle one pixel inside the control, filled with the colour.
class CColourSwatch : public QWidget {
public:
    explicit CColourSwatch(QWidget* parent = nullptr);
    void SetColour(int32_t value);
    int32_t GetColour() const { return colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int32_t colour = 0;
};

// "Project": auto save and image thumbnails.
class CProjectPrefPage : public CPropertyPage {
public:
    CProjectPrefPage();
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnAutoSave();

    int m_bAutoSave = 1;
    int m_nAutoSavePeriod = 600;
    int m_bStoreThumbnails = 1;
    int m_nThumbnailType = 1;
    int m_nThumbnailWidth = 100;
    int m_nThumbnailHeight = 100;
    int m_nThumbnailScale = 10;
};

// "Image Preferences": point labels, target overlay and the four colours.
class CImagePrefPage : public CPropertyPage {
public:
    CImagePrefPage();
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    // Opens the colour dialog at the colour the button edits (1208, 1211,
    // 1213 or 1241); on OK the page keeps the choice.
    void OnChangeColour(int buttonId);

    int m_bNumberPoints = 1;
    int m_nTargetOverlay = 1;
    int32_t m_crCentroid = 0;
    int32_t m_crManual = 0;
    int32_t m_crFiducial = 0;
    int32_t m_crResidualVector = 0;

private:
    int32_t* ColourOf(int buttonId);
    void ShowColours();
};

// "Digitizing": duplicate prompts and tolerance, plumb-line observations.
class CDigitizingPage : public CPropertyPage {
public:
    CDigitizingPage();
    void DoDataExchange(CDataExchange* dx) override;

    int m_bAddDuplicateCoordinates = 1;
    int m_bOverwriteDuplicateNumbers = 1;
    // Held in single precision, as entered; no scaling.
    float m_fDuplicateTolerance = 0.0005f;
    int m_nMaxPlumbObsPerLine = 20;
};

// "Output": the report switches of the bundle adjustment.
class COutputPage : public CPropertyPage {
public:
    COutputPage();
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    int m_bResiduals = 1;
    int m_bCameraParameters = 1;
    int m_bCorrelations = 0;
    int m_bRotationMatrices = 0;
    int m_bRotationAngles = 0;
    int m_bCovariances = 0;
};

// "Project Units": the project's length unit.
class CProjectUnitsPage : public CPropertyPage {
public:
    CProjectUnitsPage();
    void DoDataExchange(CDataExchange* dx) override;

    int m_nUnit = 0;
};

// "Image Scanning": the settings of target detection.
class CImageScanningPage : public CPropertyPage {
public:
    CImageScanningPage();
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    int m_nMethod = 0;
    int m_nEODeviceMinSize = 400;
    int m_nTargetAreaMin = 4;
    int m_nTargetAreaMax = 400;
    int m_bHighAreaCheck = 1;
    int m_bHighOptimizing = 0;
    int m_bHighEllipseFit = 0;
    int m_bHighRefuseMoving = 0;
    int m_nHighTargetJump = 30;
    double m_dHighTargetImageRatio = 0.01;
    int m_nHighMinGrey = 50;
    int m_bLowAreaCheck = 1;
    int m_bLowOptimizing = 1;
    int m_bLowEllipseFit = 1;
    int m_bLowRefuseMoving = 1;
    int m_nLowTargetJump = 20;
    double m_dLowTargetImageRatio = 0.5;
    int m_nLowMinGrey = 50;
    int m_nMinTargetError = 10;
    double m_dDeviationFactor = 1.0;
    double m_dDrivebackThreshold = 10.0;
    // The hidden "Debug scanning" box, set and read directly.
    int m_bDebugScanning = 0;
};

// "Image Simulation": defaults of simulated targets.
class CSimulationPreferences : public CPropertyPage {
public:
    explicit CSimulationPreferences(const CProjectDocument* doc = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    // Shown in degrees.
    double m_dMaxViewingAngle = 60.0;
    double m_dTargetRadius = 10.0;
    double m_dNormalX = 0.0;
    double m_dNormalY = 0.0;
    double m_dNormalZ = 1.0;

private:
    const CProjectDocument* m_pDoc;
};
