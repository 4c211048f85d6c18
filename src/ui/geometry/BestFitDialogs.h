// The results dialogs of the four best fits: the shape's parameters, the
// residual RMS and one residual line per point ("*" after a rejected one).
#pragma once

#include "Dialog.h"

#include <QString>

class CBestFit;
class CBestFitCircle;
class CBestFitLine;
class CBestFitPlane;
class CBestFitSphere;

class CBestFitResultsDlg : public CDialog {
public:
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    // The shown values, in the order of the parameter edits.
    QString parameters[6];
    QString residualRms;

protected:
    // paramIds: the shape's parameter edits (count of them), then the RMS
    // edit and the residuals list.
    CBestFitResultsDlg(int resourceId, const char* caption, const char* group, const char* const* labels,
                       const int* paramIds, int count, int rmsId, int listId, const CBestFit& fit, QWidget* parent);
    // The shape's parameters, and the residual of point i.
    virtual void GetParameters(double* values) const = 0;
    virtual double GetResidual(int i) const = 0;

    const CBestFit& fit;

private:
    const int* paramIds;
    int count;
    int rmsId;
    int listId;
};

class CBestFitPlaneDlg : public CBestFitResultsDlg {
public:
    explicit CBestFitPlaneDlg(CBestFitPlane* fit, QWidget* parent = nullptr);
    static constexpr int kParams[4] = {1143, 1144, 1145, 1146};
    static constexpr int kRms = 1147, kResiduals = 1138;

protected:
    void GetParameters(double* values) const override;
    double GetResidual(int i) const override;
};

class CBestFitLineDlg : public CBestFitResultsDlg {
public:
    explicit CBestFitLineDlg(CBestFitLine* fit, QWidget* parent = nullptr);
    static constexpr int kParams[6] = {1160, 1161, 1162, 1163, 1164, 1165};
    static constexpr int kRms = 1148, kResiduals = 1159;

protected:
    void GetParameters(double* values) const override;
    double GetResidual(int i) const override;
};

class CBestFitSphereDlg : public CBestFitResultsDlg {
public:
    explicit CBestFitSphereDlg(CBestFitSphere* fit, QWidget* parent = nullptr);
    static constexpr int kParams[4] = {1168, 1169, 1170, 1171};
    static constexpr int kRms = 1172, kResiduals = 1167;

protected:
    void GetParameters(double* values) const override;
    double GetResidual(int i) const override;
};

class CBestFitCircleDlg : public CBestFitResultsDlg {
public:
    explicit CBestFitCircleDlg(CBestFitCircle* fit, QWidget* parent = nullptr);
    static constexpr int kParams[4] = {1278, 1279, 1280, 1281};
    static constexpr int kRms = 1282, kResiduals = 1277;

protected:
    void GetParameters(double* values) const override;
    double GetResidual(int i) const override;
};
