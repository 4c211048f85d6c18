// "3D Transformation": runs the similarity transformation of a set onto a
// control set and shows its result; Accept (shown only after a successful
// run) ends with OK.
#pragma once

#include "Dialog.h"

#include <QString>

class C3DTransformation;

class C3DTransformationDlg : public CDialog {
public:
    // The transformation is not owned.
    explicit C3DTransformationDlg(C3DTransformation* transformation, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnHoldScale();
    void OnGo();

    static constexpr int kIterations = 1130, kCommon = 1128, kControlFile = 1125, kTransformedFile = 1127,
                         kRejected = 1129, kSecondaryFile = 1126, kCutoff = 1175, kHoldScale = 1174,
                         kResidualRms = 1132, kSigma0 = 1137, kRmsX = 1133, kRmsXYZ = 1136, kRmsY = 1134,
                         kRmsZ = 1135, kStatus = 1180, kGo = 1179;

    C3DTransformation* transformation;
    int iterations = 0;
    int commonPoints = 0;
    QString controlFile;
    QString transformedFile;
    int rejectedPoints = 0;
    QString secondaryFile;
    double cutoff = 0.0;
    int holdScale = 0;
    QString residualRms;
    QString sigma0;
    QString rmsX;
    QString rmsXYZ;
    QString rmsY;
    QString rmsZ;
};
