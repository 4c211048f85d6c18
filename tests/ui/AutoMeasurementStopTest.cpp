// "Stop" at a random moment of the automatic measurement: whatever step runs
// (the scan, matching, the bundles, post-processing, each on its own
// CWorkerThread), the run ends with "Start" and "Close" enabled and the
// camera given back. Runs under ThreadSanitizer.
#include "ShellFixture.h"
#include "DialogCommand.h"
#include "MatchingNetwork.h"

#include "AutoMeasurementDlg.h"
#include "KestrelonDoc.h"
#include "SamplePictures.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

namespace auto_measurement_stop_test {

constexpr int kRunTimeout = 600000; // ms; the sanitizer builds are slow

class AutoMeasurementStop : public ShellFixture {
protected:
    // Runs command 33064 on the open project; steps drive the dialog.
    void Command(const std::function<void(CAutoMeasurementDlg&)>& steps)
    {
        RunDialogCommand<CAutoMeasurementDlg>(dialogs, [this] { doc->OnCmdMsg(33064, nullptr); }, steps);
    }
    // Starts a run and clicks "Stop" after the delay (never, below 0);
    // returns the run's length in milliseconds and the step it stopped.
    static qint64 RunAndStop(CAutoMeasurementDlg& d, qint64 delay, int& stoppedIn)
    {
        QElapsedTimer clock;
        clock.start();
        stoppedIn = -1;
        QTest::mouseClick(d.Item<QPushButton>(1330), Qt::LeftButton);
        while (d.IsRunning() && clock.elapsed() < kRunTimeout) {
            if (delay >= 0 && stoppedIn < 0 && clock.elapsed() >= delay) {
                stoppedIn = d.GetState();
                QTest::mouseClick(d.Item<QPushButton>(1331), Qt::LeftButton);
            }
            QTest::qWait(1);
        }
        return clock.elapsed();
    }
    void ExpectEnded(CAutoMeasurementDlg& d)
    {
        EXPECT_FALSE(d.IsRunning());
        EXPECT_TRUE(d.Item<QPushButton>(1330)->isEnabled());
        EXPECT_TRUE(d.Item<QPushButton>(2)->isEnabled());
        EXPECT_FALSE(d.Item<QPushButton>(1331)->isEnabled());
        EXPECT_TRUE(d.GetStatusText().endsWith(QStringLiteral(" sec.\r\n")));
        EXPECT_TRUE(d.GetStatusText().contains(QStringLiteral("Process finished after ")));
        EXPECT_FALSE(doc->IsJobRunning());
        EXPECT_EQ(d.GetScanWindow(), nullptr);
    }
    void ExpectCameraBack(const CCamera& before)
    {
        const CCamera* camera = doc->cameras.FindByName(before.identifier.GetText());
        ASSERT_NE(camera, nullptr);
        EXPECT_EQ(camera->calibrationMode, before.calibrationMode);
        for (int k = 0; k < CAM_PARAMETER_COUNT; ++k)
            EXPECT_EQ(camera->sigmas[k], before.sigmas[k]) << k;
    }
};

// Matching, the fast bundle, post-processing and the final bundle on the
// matching network, stopped at moments spread over a whole run.
TEST_F(AutoMeasurementStop, AStopAtAnyMomentEndsTheRun)
{
    std::mt19937 random(11);
    qint64 length = 0;
    // One application for every trial (each in a project of its own): Qt's
    // X connection is not made and dropped again under the sanitizer.
    ASSERT_TRUE(Start());
    for (int trial = 0; trial < 13; ++trial) {
        app->OnFileNew();
        Settle();
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        CMatchingNetwork network;
        MatchingNetworkOptions options;
        options.points = 40;
        options.noisePixels = 0.05;
        network.Build(*doc, options);
        CCamera* camera = doc->cameras.FindByName(CMatchingNetwork::kCamera);
        camera->SetCalibrationMode(2);
        camera->sigmas[CAM_K3] = 3.5e-9;
        const CCamera before = *camera;
        ASSERT_TRUE(doc->DoSave(scratch.filePath(QStringLiteral("net%1.kst").arg(trial)), true));
        // The first trial runs whole and measures the run.
        const qint64 delay = trial == 0 ? -1 : std::uniform_int_distribution<qint64>(0, length)(random);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", stop after " << delay << " ms");
        Command([&](CAutoMeasurementDlg& d) {
            int stoppedIn = -1;
            const qint64 took = RunAndStop(d, delay, stoppedIn);
            if (trial == 0)
                length = took;
            ExpectEnded(d);
            if (stoppedIn >= CAutoMeasurementDlg::STARTED) {
                // The step running then, or the next one when the running one
                // had just finished, says it stopped; or the last had finished.
                auto has = [&](int step, int variant) {
                    QString line = QString::fromLatin1(CAutoMeasurementDlg::StepText(step, variant));
                    line.chop(2);
                    return d.GetStatusText().contains(line);
                };
                bool said = has(CAutoMeasurementDlg::FINAL_BUNDLE, 2);
                for (int step = std::max(stoppedIn, int(CAutoMeasurementDlg::FIND_POINTS));
                     step <= CAutoMeasurementDlg::FINAL_BUNDLE; ++step)
                    said = said || has(step, 1);
                EXPECT_TRUE(said) << d.GetStatusText().toStdString();
            }
            d.Item<QPushButton>(2)->click();
        });
        ExpectCameraBack(before);
        EXPECT_FALSE(doc->settings.absoluteConvergence);
        for (int k = 0; k < doc->images.GetSize(); ++k) {
            const CObservationList& list = doc->images.GetAt(k)->targets;
            for (int i = 1; i < list.GetSize(); ++i)
                EXPECT_FALSE(list.GetAt(i)->label < list.GetAt(i - 1)->label) << "image " << k;
        }
    }
}

// The scan of the sample's pictures, stopped at moments spread over it; the
// scan window goes with the run.
TEST_F(AutoMeasurementStop, AStopDuringTheScanEndsTheRun)
{
    const QString sample = WriteSample();
    std::string message;
    ASSERT_TRUE(WriteSamplePictures(QFileInfo(sample).absolutePath().toStdString(), message)) << message;
    std::mt19937 random(5);
    qint64 length = 0;
    ASSERT_TRUE(Start());
    for (int trial = 0; trial < 4; ++trial) {
        // A copy of the project beside it, on the same pictures.
        const QString copy = QFileInfo(sample).absolutePath() + QStringLiteral("/Trial%1.kst").arg(trial);
        ASSERT_TRUE(QFile::copy(sample, copy));
        ASSERT_NE(app->OpenDocumentFile(copy), nullptr);
        Settle();
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        TakeMessages();
        const CCamera before = *doc->cameras.GetAt(0);
        const qint64 delay = trial == 0 ? -1 : std::uniform_int_distribution<qint64>(0, length)(random);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", stop after " << delay << " ms");
        // No EO device: the scan goes on after the question.
        answers.push_back(IDYES);
        Command([&](CAutoMeasurementDlg& d) {
            EXPECT_TRUE(d.Item<QCheckBox>(1324)->isChecked());
            bool sawWindow = false;
            QElapsedTimer clock;
            clock.start();
            int stoppedIn = -1;
            QTest::mouseClick(d.Item<QPushButton>(1330), Qt::LeftButton);
            while (d.IsRunning() && clock.elapsed() < kRunTimeout) {
                sawWindow = sawWindow || d.GetScanWindow() != nullptr;
                if (delay >= 0 && stoppedIn < 0 && clock.elapsed() >= delay) {
                    stoppedIn = d.GetState();
                    QTest::mouseClick(d.Item<QPushButton>(1331), Qt::LeftButton);
                }
                QTest::qWait(1);
            }
            if (trial == 0) {
                length = clock.elapsed();
                EXPECT_TRUE(sawWindow);
                // No image can be resected without the EO device.
                EXPECT_TRUE(d.GetStatusText().contains(QStringLiteral("Resection FAILED!")));
            }
            ExpectEnded(d);
            d.Item<QPushButton>(2)->click();
        });
        ExpectCameraBack(before);
    }
}

} // namespace auto_measurement_stop_test
