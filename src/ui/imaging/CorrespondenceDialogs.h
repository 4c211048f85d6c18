// "Find corresponding Points": one matching run over chosen images, started
// through the modeless "Computation Progress" dialog, which runs
// back-projection and matching on worker threads and shows their progress.
#pragma once

#include "CorrespondenceJob.h"
#include "Dialog.h"
#include "ProjectImageList.h"
#include "WorkerThread.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

class CCameraList;
class CImageSelectListCtrl;
class CKestrelonDoc;
class CPointSet;
class QProgressBar;
class QPushButton;

// Messages the run thread sends to its dialog through the hub; they run on
// the user-interface thread while the run thread waits.
enum ProgressDialogMessage : unsigned {
    PM_SET_THREAD_TEXT = 0x000C, // lParam: NUL-terminated text of the "Thread" field
    PM_SET_PROGRESS = 0x0402,    // wParam: position of the progress bar
};

class CComputationProgressDlg : public CDialog {
public:
    CComputationProgressDlg(CImagePtrArray* images, CCameraList* cameras, CPointSet* points,
                            double epipolarTolerance, double minimumAngle, double driveBackTolerance,
                            bool driveBack, bool acceptTwoRay, const CNameBuffer& prefix,
                            const double referencePoint[3], double maximumDistance, bool startWithBackProjection,
                            CMessageTarget* owner);
    // Stops a run still going and waits for its thread.
    ~CComputationProgressDlg() override;

    // Shows the dialog and starts the run thread; false when it could not
    // start (0x449 is posted to the owner all the same).
    bool Run();
    bool OnInitDialog() override;
    void OnTimer();
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Asks the run to stop (the owner's stop button).
    void RequestStop() { m_bStop.store(true, std::memory_order_release); }
    int GetBackProjectedCount() const { return m_nBackProjected.load(std::memory_order_acquire); }
    int GetNewPointCount() const { return m_nNewPoints.load(std::memory_order_acquire); }
    bool IsTimerActive() const { return m_nTimerId != 0; }
    const CCorrespondenceWorker& GetWorker() const { return m_Worker; }

protected:
    // Escape and the close box do not end the dialog: its owner does.
    void OnCancel() override {}
    void OnOK() override {}

private:
    unsigned RunThreadProc();
    // Runs one phase on its thread and waits for it, passing a stop on.
    void RunPhase(std::unique_ptr<CWorkerThread> thread);
    void ShowPhase(const char* text);

    QTimer m_Timer;
    int m_nTimerId = 0;
    double m_ReferencePoint[3];
    bool m_bStartWithBackProjection;
    std::atomic<bool> m_bStop{false};
    CCorrespondenceWorker m_Worker;
    std::atomic<CJobProgress*> m_pProgress{nullptr};
    CPointSet* m_pPoints;
    CMessageTarget* m_pOwner;
    std::atomic<int> m_nBackProjected{0};
    std::atomic<int> m_nNewPoints{0};
    CWorkerThread m_RunThread;
    QProgressBar* m_pBar = nullptr;
};

class CFindCorrespondingPointsDlg : public CDialog {
public:
    CFindCorrespondingPointsDlg(const CImagePtrArray& images, CCameraList* cameras, CPointSet* points,
                                QWidget* parent = nullptr);
    ~CFindCorrespondingPointsDlg() override;

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnMoveToCalculation();
    void OnMoveToUnused();
    void OnStartMatching();
    void OnMatchingDone();
    void OnRemoveFoundPoints();
    void OnDistanceKillFocus();
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    bool IsRunning() const { return m_bRunning; }
    CComputationProgressDlg* GetProgressDialog() const { return m_pProgress.get(); }
    const CImagePtrArray& GetImagesForCalculation() const { return m_ImagesForCalculation; }
    const CImagePtrArray& GetImagesLeftOut() const { return m_ImagesLeftOut; }
    // The text of the last run's result box.
    const QString& GetResultText() const { return m_strResult; }

    double m_dEpipolarDifference = 0.0;
    int m_bBackProjection = 0;
    int m_bAcceptTwoImagePoints = 0;
    double m_dBackProjectionError = 0.0;
    int m_bStartWithBackProjection = 0;
    double m_dMinIntersectionAngle = 0.0;
    QString m_strPrefix;

protected:
    // "Start Matching" is the default button; Return starts or stops a run.
    void OnOK() override { OnStartMatching(); }
    // "Close", Escape and the close box; refused while a run is under way.
    void OnCancel() override;

private:
    void EnableForRun(bool running);

    CKestrelonDoc* m_pDoc = nullptr;
    CCameraList* m_pCameras;
    CPointSet* m_pPoints;
    CImagePtrArray m_ImagesForCalculation;
    CImagePtrArray m_ImagesLeftOut;
    CImageSelectListCtrl* m_pCalculationList = nullptr;
    CImageSelectListCtrl* m_pUnusedList = nullptr;
    QPushButton* m_pStart = nullptr;
    bool m_bRunning = false;
    // The prefix of the last run's new points ("Remove Found Points").
    CNameBuffer m_RunPrefix;
    std::unique_ptr<CComputationProgressDlg> m_pProgress;
    QString m_strResult;
};

// True when the label is the prefix followed by a number (a new point of a
// matching run with that prefix).
bool IsNewPointLabel(const CNameBuffer& label, const CNameBuffer& prefix);
