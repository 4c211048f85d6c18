// "Re-label Points along Line": new labels for points that lie roughly on
// a line, given in their order along the fitted line, in the displayed set
// and, on request, in the image observations.
#pragma once

#include "Dialog.h"
#include "NameBuffer.h"

#include <QString>

class CPointSet;

// What the opener keeps between runs: the next start label and the increment.
struct CRelabelMemory {
    CNameBuffer startLabel;
    int increment = 1;
};

class CPointRelabelExDlg : public CDialog {
public:
    // None of the three is owned; memory may be null.
    CPointRelabelExDlg(CPointSet* selection, CPointSet* pointSet, CRelabelMemory* memory, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnOrientationChanged();

    // The label is held by a point of the set outside the selection or,
    // with observations, by an observation of a point outside it.
    virtual bool IsPointLabelInUse(const CNameBuffer& label, bool observations) const;

    static constexpr int kPoints = 1324, kStartLabel = 1423, kIncrement = 1323, kObservations = 1422,
                         kHorizontal = 1385, kVertical = 1386, kLeftToRight = 1040, kRightToLeft = 1041,
                         kTopToBottom = 1042, kBottomToTop = 1043;

    CPointSet* m_pSelection;
    CPointSet* m_pPointSet;
    CRelabelMemory* memory;
    double m_vLinePoint[3] = {0, 0, 0};
    double m_vLineDirection[3] = {0, 0, 0};
    int m_nOrientation = 0;
    int m_nHorizontalOrder = 0;
    int m_nVerticalOrder = 0;
    QString m_strPoints;
    QString m_strStartLabel;
    int m_nIncrement = 0;
    int m_bRelabelObservations = 0;

private:
    bool IsSelectedLabel(const CNameBuffer& label) const;
};
