// "Automatic Measurement": scans the images, finds corresponding points,
// runs a fast bundle, post-processes the new points and runs the final
// bundle, each checked step on its own worker thread, writing a protocol.
#pragma once

#include "Camera.h"
#include "Dialog.h"
#include "ImageView.h"
#include "NameBuffer.h"
#include "ProjectImageList.h"
#include "WorkerThread.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>

class CBundleJob;
class CCorrespondenceWorker;
class CImageQualityCombo;

class CJobProgress;
class CKestrelonDoc;
class CNumberEdit;
class CPointSet;
class QPlainTextEdit;
class QPushButton;

// Messages a step's worker sends to the dialog through the hub; they run on
// the user-interface thread while the worker waits.
enum AutoMeasurementMessage : unsigned {
    AM_APPEND_STATUS = 0x00C2,    // lParam: NUL-terminated text appended to the protocol
    AM_REPLACE_LAST_LINE = 0x00C3, // lParam: text that replaces the protocol's last line
    AM_SET_SCAN_IMAGE = 0x00C4,   // lParam: the image record the scan window shows
    AM_START_TIMER = 0x00C5,      // wParam: the step whose progress the timer shows
    AM_KILL_TIMER = 0x00C6,
};

class CAutoMeasurementDlg : public CDialog {
public:
    // States of a run; the step states name their step in the protocol.
    enum State { IDLE = 0, STARTED = 1, SCAN = 2, FIND_POINTS = 3, FAST_BUNDLE = 4, POSTPROCESSING = 5,
                 FINAL_BUNDLE = 6 };

    explicit CAutoMeasurementDlg(QWidget* parent = nullptr);
    // A step still running is stopped and waited for.
    ~CAutoMeasurementDlg() override;

    bool OnInitDialog() override;
    void OnStart();
    void OnStop();
    void OnStepDone();
    void OnStepFailed();
    void OnTimer();
    void OnScanPreferences();
    void OnFindPointsPreferences();
    void OnAdjustmentControls();
    // Enables the dependent controls by the check boxes.
    void EnableDependentControls();
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    void AppendStatus(const QString& text);
    void ReplaceLastStatusLine(const QString& text);
    // The protocol line of a step: variant 0 start, 1 stopped, 2 finished.
    // Called on the step's worker; it goes to the protocol through the hub.
    void StepLine(int step, int variant);
    void FinishRun();

    // The protocol as written, with its CR LF line ends.
    const QString& GetStatusText() const { return m_strStatus; }
    int GetState() const { return m_nState.load(std::memory_order_acquire); }
    bool IsRunning() const { return GetState() != IDLE; }
    CImageView* GetScanWindow() const { return m_pScanWindow.data(); }
    // Builds the protocol line texts of a step (for tests).
    static const char* StepText(int step, int variant);

protected:
    // "Close", Escape and the close box; refused while a run is under way.
    void OnCancel() override;
    void OnOK() override {}

private:
    bool IsChecked(int id) const;
    void EnableAll(bool enable);
    // Starts the first checked step from the list; false when none was
    // started (the run then ends).
    bool StartFirstOf(std::initializer_list<int> steps);
    bool StartStep(int step);
    bool StartScan();
    bool StartFindPoints();
    bool StartFastBundle();
    bool StartFinalBundle();
    bool StartPostprocessing();
    // The step's images: the document's adjustment image list.
    void TakeAdjustmentImages();
    bool CollectBundleStepImages();
    // The "Bundle" set, the control set and the network flag of a bundle step.
    void PrepareBundleSets();
    bool StartWorker(int state, unsigned (CAutoMeasurementDlg::*body)());
    void JoinStepThread();
    void CloseScanWindow();
    void RestoreCameras();

    // Worker bodies.
    unsigned ScanWorker();
    unsigned FindPointsWorker();
    unsigned BundleWorker();
    unsigned PostprocessingWorker();
    // Worker side of the protocol.
    void Append(const QString& text);
    void Replace(const QString& text);
    void EndStep(bool failedOtherwise = false);
    bool StopRequested() const { return m_bStop.load(std::memory_order_acquire); }
    void PassStop(CJobProgress& progress) const;

    CKestrelonDoc* m_pDoc = nullptr;
    CImagePtrArray m_Images;
    QPointer<CImageView> m_pScanWindow;
    CCameraList m_SavedCameras;
    std::atomic<CBundleJob*> m_pBundleJob{nullptr};
    int m_nLastIteration = 0;
    std::atomic<bool> m_bModified{false};
    std::atomic<CCorrespondenceWorker*> m_pCorrespondenceJob{nullptr};
    std::atomic<int> m_nUnassigned{0};
    double m_dLastFraction = 0.0;
    std::unique_ptr<CWorkerThread> m_pStepThread;
    std::atomic<uint32_t> m_nStepStart{0};
    uint32_t m_nRunStart = 0;
    std::atomic<int> m_nState{IDLE};
    std::atomic<bool> m_bStop{false};

    // What the workers read, taken on the user-interface thread before a step starts.
    struct StepOptions {
        bool stopIfNotResected = true;
        bool merge = true;
        bool removeTwoRay = true;
        double mergeDistance = 0.0;
        CPointSet* points = nullptr; // "Triangulate" for matching, "Bundle" otherwise
        CPointSet* control = nullptr;
        double referencePoint[3] = {0.0, 0.0, 0.0};
        double maximumDistance = 0.0;
        CNameBuffer prefix;
    } m_Options;

    int m_nTimerStep = 0;
    QTimer m_Timer;
    bool m_bMovedForScan = false;
    bool m_bClosing = false;
    QString m_strStatus;
    QPlainTextEdit* m_pStatus = nullptr;
    CImageQualityCombo* m_pQuality = nullptr;
    CNumberEdit* m_pRmsThreshold = nullptr;
    CNumberEdit* m_pDistance = nullptr;
    QPushButton* m_pStart = nullptr;
    QPushButton* m_pStop = nullptr;
    QPushButton* m_pClose = nullptr;
};
