// The two dialogs that run a bundle adjustment on a worker thread, show its
// progress and keep ("Accept") or discard ("Reject") the result: "Bundle
// Adjustment" for measured projects and "Simulation Bundle" for simulated
// networks.
#pragma once

#include "Dialog.h"
#include "Camera.h"
#include "PointSet.h"
#include "ProjectImageList.h"

#include <QPixmap>
#include <QTimer>

#include <memory>

class CAdjustmentProgress;
class CAdjustmentSummary;
class CBundleJob;
class CKestrelonDoc;
class CProjectSettings;
class CScaleBarList;
class QLabel;
class QPushButton;

// What both run dialogs share: the job, its polling, the saved project state.
class CBundleRunDlg : public CDialog {
public:
    ~CBundleRunDlg() override;

    bool OnInitDialog() override;
    // Accept: keeps the adjusted points and makes "Bundle" the driver set.
    void OnOK() override;
    // Reject; during a run it asks the run to stop and ends once it has.
    void OnCancel() override;
    // The start button: starts a run, or asks the running one to stop.
    virtual void OnGo();
    void OnTimer();
    void UpdateStatistics();
    void UpdatePhaseText();
    void SaveProjectState();

    bool IsRunning() const { return m_bRunning; }
    const CBundleJob* GetJob() const { return m_pJob.get(); }

    // The status text of a finished run.
    static const char* const kSuccessful;
    static const char* const kAborted;
    static const char* const kFailed;

protected:
    CBundleRunDlg(int resourceId, CImagePtrArray& images, CCameraList& cameras, CPointSet& points,
                  CPointSet* control, CScaleBarList& scaleBars, CProjectSettings& settings,
                  CAdjustmentSummary& summary, QWidget* parent);

    QLabel* AddStatic(int id);
    // The status frame (1205), wide enough for every phase and end text.
    QLabel* AddStatusStatic();
    // The run's end as the two dialogs show it.
    virtual void ShowRunEnd(int status) = 0;
    virtual void ShowStatistics() = 0;
    // The dialog's own fields from the progress record.
    virtual void FormatStatistics(const CAdjustmentProgress& progress) { (void)progress; }
    virtual void RestoreProjectState() = 0;
    // Controls that write what the worker reads, disabled while it runs.
    virtual void EnableOptions(bool enable) = 0;
    virtual bool IsSuccessText(int status) const = 0;
    // Puts the saved image poses back into the run's images.
    void RestorePoses();
    void ShowMembers();

    CImagePtrArray& m_Images;
    CCameraList& m_Cameras;
    CPointSet& m_Points;
    CPointSet* m_pControl;
    CScaleBarList& m_ScaleBars;
    CProjectSettings& m_Settings;
    CAdjustmentSummary& m_Summary;

    std::unique_ptr<CBundleJob> m_pJob;
    bool m_bRunning = false;
    bool m_bCloseWhenEnded = false;
    QTimer m_Timer;
    const int m_nTimerId = 100;
    CKestrelonDoc* m_pDoc = nullptr;

    std::unique_ptr<CProjectImageList> m_pSavedImages;
    std::unique_ptr<CPointSet> m_pSavedPoints;
    std::unique_ptr<CCameraList> m_pSavedCameras;

    QString m_strImages, m_strPoints, m_strControl, m_strScaleBars, m_strStatus;
    QString m_strDegreesOfFreedom, m_strRmsX, m_strRmsY, m_strRmsZ;
    QPushButton* m_pGo = nullptr;
    QPushButton* m_pAccept = nullptr;
    QPushButton* m_pReject = nullptr;

private:
    void EndRun();
    void WaitForThread();
};

// "Bundle Adjustment": all statistics, a traffic light and the adjustment options.
class CBundleAdjustmentDlg : public CBundleRunDlg {
public:
    CBundleAdjustmentDlg(CImagePtrArray& images, CCameraList& cameras, CPointSet& points, CPointSet* control,
                         CScaleBarList& scaleBars, CProjectSettings& settings, CAdjustmentSummary& summary,
                         QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnGo() override;
    void OnAdjustmentControls();

    enum Light { RED, GREEN, YELLOW };
    void ShowLight(Light light);

protected:
    void ShowRunEnd(int status) override;
    void ShowStatistics() override;
    void FormatStatistics(const CAdjustmentProgress& progress) override;
    void RestoreProjectState() override;
    void EnableOptions(bool enable) override;
    bool IsSuccessText(int status) const override;

private:
    QString m_strIteration, m_strPoint, m_strLabel, m_strRejectionLimit, m_strRejections, m_strResidualRms,
        m_strSigma0;
    QPixmap m_Lights[3];
    QLabel* m_pLight = nullptr;
};

// "Simulation Bundle": the image coordinate sigma of the simulation.
class CBundleSimulationDlg : public CBundleRunDlg {
public:
    CBundleSimulationDlg(CImagePtrArray& images, CCameraList& cameras, CPointSet& points, CPointSet* control,
                         CScaleBarList& scaleBars, CProjectSettings& settings, CAdjustmentSummary& summary,
                         QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnKillFocusImageSigma();
    void OnReject() { OnCancel(); }

    double m_dImageSigma = 0.0;

protected:
    void ShowRunEnd(int status) override;
    void ShowStatistics() override;
    void RestoreProjectState() override;
    void EnableOptions(bool enable) override;
    bool IsSuccessText(int status) const override;

private:
    QString m_strUnit;
};
