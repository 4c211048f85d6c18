// "Corresponding Points": the preference page of the matching settings, with
// the distance to the EO device in device sizes or in project units.
#pragma once

#include "PropertySheet.h"

#include <QString>

class CNumberEdit;
class CProjectDocument;

class CCorrespondingPointsPage : public CPropertyPage {
public:
    // The EO device is the document's (null: the active project's).
    explicit CCorrespondingPointsPage(const CProjectDocument* doc = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnCloseToEODevice();
    void OnInEODeviceSizes();
    void OnInProjectUnits();
    void OnSizesEditChanged();
    void OnUnitsEditChanged();

    double m_dMinIntersectionAngle = 10.0;
    double m_dDrivebackError = 2.0;
    double m_dEpipolarDifference = 0.01;
    double m_dDistanceInSizes = 20.0;
    int m_bAcceptTwoRays = 0;
    int m_bCloseToEODevice = 1;
    QString m_strPrefix;

    // The extent diagonal of the EO device; 0.0 without one.
    double m_dEODeviceSize = 0.0;

private:
    void EnableDistanceControls();

    const CProjectDocument* m_pDoc;
    CNumberEdit* m_editUnits;
    CNumberEdit* m_editSizes;
};
