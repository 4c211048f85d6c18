// Small dialogs around 3D points: "Edit 3D Point", the label prompts and
// the distance between two points.
#pragma once

#include "Dialog.h"

#include <QString>

class CNameBuffer;
class CObjectPoint;
class CPointSet;

// A point label typed by the user, blanks around it dropped: true and the
// label set (upper-cased) when the text is one (not empty); else false and
// the label as it was.
bool ParsePointLabel(const QString& text, CNameBuffer& label);
// As ParsePointLabel; a refused text is named in a message with the label rule.
bool ReadPointLabel(const QString& text, CNameBuffer& label);

// Label, coordinates and sigmas of one point. A control point shows and
// keeps its a-priori sigmas; another point the square roots of its
// covariance diagonal. OK writes back only the fields that were changed,
// and refuses a label that another point of the set has.
class CEdit3DPointDlg : public CDialog {
public:
    // The point and the set that holds it (for the label check; may be
    // null) are not owned.
    CEdit3DPointDlg(CObjectPoint* point, bool control, QWidget* parent = nullptr, CPointSet* set = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;

    static constexpr int kX = 1055, kY = 1056, kZ = 1057, kSigmaX = 1162, kSigmaY = 1563, kSigmaZ = 1564,
                         kLabel = 1100;

    CObjectPoint* point;
    bool control;
    double x = 0.0, y = 0.0, z = 0.0;
    double sigmaX = 0.0, sigmaY = 0.0, sigmaZ = 0.0;
    QString label;

private:
    CPointSet* set;
    // The texts the numeric fields were opened with.
    QString shown[6];
};

// Asks for a point label; the opener reads label after OK.
class CPointLabelDlg : public CDialog {
public:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    QString label;

protected:
    CPointLabelDlg(int resourceId, const char* caption, const char* prompt, int editId, QWidget* parent);

private:
    int editId;
};

class CEpipolarPointDlg : public CPointLabelDlg {
public:
    explicit CEpipolarPointDlg(QWidget* parent = nullptr);
    static constexpr int kLabel = 1060;
};

class CDeletePointDlg : public CPointLabelDlg {
public:
    explicit CDeletePointDlg(QWidget* parent = nullptr);
    static constexpr int kLabel = 1005;
};

class CHighlightPointDlg : public CPointLabelDlg {
public:
    explicit CHighlightPointDlg(QWidget* parent = nullptr);
    static constexpr int kLabel = 1182;
};

// The distance between two points in the project's unit.
class CDistanceDlg : public CDialog {
public:
    CDistanceDlg(const CObjectPoint* first, const CObjectPoint* second, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    static constexpr int kTitle = 1418, kDistance = 1323, kUnit = 1401;

    const CObjectPoint* first;
    const CObjectPoint* second;
    QString title;
    QString distance;
    QString unit;
};
