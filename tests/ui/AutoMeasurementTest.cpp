// "Automatic Measurement" from its command: the whole sequence on a network
// of known truth, the protocol it writes, its refusals and the controls that
// follow their check boxes.
#include "ShellFixture.h"
#include "WholeTexts.h"
#include "DialogCommand.h"
#include "MatchingNetwork.h"
#include "ProjectBuilder.h"

#include "AutoMeasurementDlg.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "PropertySheet.h"
#include "Similarity3D.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <functional>
#include <string>

namespace auto_measurement_test {

constexpr int kRunTimeout = 300000; // ms

// The protocol with its times masked and the bundle iterations left out
// (the 100 ms timer sees a varying number of them).
QString Masked(QString text)
{
    text.replace(QRegularExpression(QStringLiteral("\\(\\d+\\.\\d sec\\)")), QStringLiteral("(# sec)"));
    text.replace(QRegularExpression(QStringLiteral("after \\d+\\.\\d sec")), QStringLiteral("after # sec"));
    text.remove(QRegularExpression(QStringLiteral(" *\\d+\\. Bundle Iteration\\. ")));
    text.remove(QRegularExpression(QStringLiteral("  Residual RMS=[ 0-9.naif-]+ \\r\\n")));
    return text;
}

// The protocol of a run whose matching linked every target, after that
// step's lines (times masked).
const QString kAfterMatching = QStringLiteral(
    "------- Find Corresponding Points Finished ---- (# sec)\r\n"
    "------- Start Fast Bundle ---------------------\r\n"
    "------- Fast Bundle Finished ------------------ (# sec)\r\n"
    "------- Start Post-Processing -----------------\r\n"
    "   Merging Points....\r\n"
    "      0 Points merged.\r\n"
    "   Remove Two Ray Points....\r\n"
    "      0 Points removed.\r\n"
    "------- Post-Processing Finished -------------- (# sec)\r\n"
    "------- Start Final Bundle --------------------\r\n"
    "------- Final Bundle Finished ----------------- (# sec)\r\n"
    "Process finished after # sec.\r\n");

class AutoMeasurement : public ShellFixture {
protected:
    // A saved project with the matching network; the camera keeps its own
    // calibration mode and sigmas, which the fast bundle must give back.
    void OpenNetwork(const MatchingNetworkOptions& options = MatchingNetworkOptions())
    {
        NewProject();
        network.Build(*doc, options);
        CCamera* camera = doc->cameras.FindByName(CMatchingNetwork::kCamera);
        camera->SetCalibrationMode(0);
        camera->sigmas[CAM_K3] = 2.5e-12;
        ASSERT_TRUE(doc->DoSave(scratch.filePath(QStringLiteral("net.kst")), true));
        TakeMessages();
    }
    // Runs command 33064; steps drive the dialog, shown on the screen.
    void Command(const std::function<void(CAutoMeasurementDlg&)>& steps)
    {
        RunDialogCommand<CAutoMeasurementDlg>(dialogs, [this] { doc->OnCmdMsg(33064, nullptr); }, steps);
    }
    static void Check(CAutoMeasurementDlg& d, std::initializer_list<int> on)
    {
        for (int id : {1324, 1325, 1326, 1338, 1332})
            d.Item<QCheckBox>(id)->setChecked(std::find(on.begin(), on.end(), id) != on.end());
        d.EnableDependentControls();
    }
    // Clicks "Start" and serves events until the run has ended.
    static void RunToEnd(CAutoMeasurementDlg& d)
    {
        QTest::mouseClick(d.Item<QPushButton>(1330), Qt::LeftButton);
        WaitForEnd(d);
    }
    static void WaitForEnd(CAutoMeasurementDlg& d)
    {
        QElapsedTimer clock;
        clock.start();
        while ((d.IsRunning() || !d.Item<QPushButton>(1330)->isEnabled()) && clock.elapsed() < kRunTimeout)
            QTest::qWait(5);
        EXPECT_FALSE(d.IsRunning());
        EXPECT_TRUE(d.Item<QPushButton>(1330)->isEnabled());
        EXPECT_TRUE(d.Item<QPushButton>(2)->isEnabled());
        EXPECT_FALSE(d.Item<QPushButton>(1331)->isEnabled());
    }

    CMatchingNetwork network;
};

// The whole sequence after scanning: every target becomes a point of
// "Bundle" within the noise of its truth, and the camera is given back.
TEST_F(AutoMeasurement, TheSequenceMeasuresTheNetworkToItsTruth)
{
    MatchingNetworkOptions options;
    options.noisePixels = 0.05;
    OpenNetwork(options);
    const CCamera before = *doc->cameras.FindByName(CMatchingNetwork::kCamera);
    int modeDuringFastBundle = -1;
    Command([&](CAutoMeasurementDlg& d) {
        // Every image is scanned and oriented already.
        EXPECT_FALSE(d.Item<QCheckBox>(1324)->isChecked());
        EXPECT_EQ(d.GetStatusText(), QStringLiteral(" All 6 Images already scanned and resected. No scanning needed.\r\n"));
        QTest::mouseClick(d.Item<QPushButton>(1330), Qt::LeftButton);
        QElapsedTimer clock;
        clock.start();
        while (d.IsRunning() && clock.elapsed() < kRunTimeout) {
            if (d.GetState() == CAutoMeasurementDlg::FAST_BUNDLE && modeDuringFastBundle < 0)
                modeDuringFastBundle = doc->cameras.FindByName(CMatchingNetwork::kCamera)->calibrationMode;
            EXPECT_FALSE(d.Item<QPushButton>(2)->isEnabled());
            QTest::qWait(5);
        }
        WaitForEnd(d);
        ExpectWholeAndSave(d, "/AutomaticMeasurement.png");
        const QString expected = QStringLiteral(
            "------- Start Find Corresponding Points -------\r\n"
            "  360 Scaned Image Points in  6 Image(s).\r\n"
            "   60 Object Points found.\r\n"
            "  For 0 Image Points no Correspondence found.\r\n"
            "%1").arg(kAfterMatching);
        EXPECT_EQ(Masked(d.GetStatusText()).toStdString(), expected.toStdString());
        d.Item<QPushButton>(2)->click();
    });
    EXPECT_EQ(modeDuringFastBundle, 4);
    const CCamera* camera = doc->cameras.FindByName(CMatchingNetwork::kCamera);
    EXPECT_EQ(camera->calibrationMode, 0);
    for (int k = 0; k < CAM_PARAMETER_COUNT; ++k)
        EXPECT_EQ(camera->sigmas[k], before.sigmas[k]) << k;
    EXPECT_TRUE(doc->IsModified());
    EXPECT_FALSE(doc->IsJobRunning());

    // One label per truth point, and the "Bundle" set holds them all.
    std::unordered_map<std::string, int> sourceOf;
    ASSERT_TRUE(network.ConsistentLabels(*doc, sourceOf));
    EXPECT_EQ(sourceOf.size(), 60u);
    CPointSet* bundle = doc->FindPointSet("Bundle");
    ASSERT_NE(bundle, nullptr);
    EXPECT_TRUE(bundle->isDriver);
    ASSERT_EQ(bundle->GetSize(), 60);
    CPointSet renamed;
    for (int i = 0; i < bundle->GetSize(); ++i) {
        CObjectPoint p = *bundle->GetAt(i);
        ASSERT_EQ(sourceOf.count(p.label.GetText()), 1u) << p.label.GetText();
        p.label = network.truth.GetAt(sourceOf[p.label.GetText()])->label;
        renamed.AddPointSorted(p);
    }
    // The network is free: compared after a similarity fit onto the truth.
    CPointSet truth = network.truth, fitted;
    truth.SortByLabel();
    C3DTransformation fit(&renamed, &truth, &fitted);
    fit.Reset();
    ASSERT_TRUE(fit.Compute());
    EXPECT_EQ(fit.GetCommonPointCount(), 60);
    for (int i = 0; i < fitted.GetSize(); ++i) {
        const CObjectPoint* p = fitted.GetAt(i);
        const CObjectPoint* t = truth.FindByLabel(p->label);
        ASSERT_NE(t, nullptr);
        // 0.05 px at 1:60 is 0.015 mm in the object; six rays.
        EXPECT_LT(std::hypot(p->x - t->x, p->y - t->y, p->z - t->z), 0.05) << p->label.GetText();
    }
}

// Every step on pictures rendered from a known scene with an EO device: the
// scan resects every image through the device, and every target becomes a
// point of "Bundle" within the noise of its truth.
TEST_F(AutoMeasurement, FromRenderedPicturesToTheBundle)
{
    NewProject();
    MatchingNetworkOptions options;
    options.device = true;
    options.targets = false;
    options.points = 40;
    options.radius = 250.0;
    options.focal = 35.0;
    options.pixel = 0.01;
    options.columns = 2000;
    options.rows = 1500;
    options.heightFactor = 0.1;
    options.imageSeparation = 25.0;
    network.Build(*doc, options);
    std::string error;
    ASSERT_TRUE(network.WritePictures(*doc, scratch.path().toStdString(), error)) << error;
    // The scan knows nothing of the poses.
    for (int k = 0; k < doc->images.GetSize(); ++k)
        doc->images.GetAt(k)->SetPose(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
    CCamera* camera = doc->cameras.FindByName(CMatchingNetwork::kCamera);
    camera->SetCalibrationMode(0);
    const CCamera before = *camera;
    ASSERT_TRUE(doc->DoSave(scratch.filePath(QStringLiteral("scene.kst")), true));
    TakeMessages();
    Command([&](CAutoMeasurementDlg& d) {
        EXPECT_TRUE(d.Item<QCheckBox>(1324)->isChecked());
        RunToEnd(d);
        QString expected = QStringLiteral("------- Start Scanning Images -----------------\r\n");
        for (int k = 1; k <= 6; ++k)
            expected += QStringLiteral("  Scan Image  %1 of  6... finished.\r\n"
                                       "       45 Point(s) found. Resection successful.\r\n").arg(k);
        expected += QStringLiteral(
            "------- Scanning Images Finished -------------- (# sec)\r\n"
            "------- Start Find Corresponding Points -------\r\n"
            "  240 Scaned Image Points in  6 Image(s).\r\n"
            "   40 Object Points found.\r\n"
            "  For 0 Image Points no Correspondence found.\r\n"
            "%1").arg(kAfterMatching);
        EXPECT_EQ(Masked(d.GetStatusText()).toStdString(), expected.toStdString());
        d.Item<QPushButton>(2)->click();
    });
    for (int k = 0; k < doc->images.GetSize(); ++k) {
        const CProjectImage* image = doc->images.GetAt(k);
        EXPECT_TRUE(image->scanned && image->oriented) << k;
        double station[3];
        network.TrueStation(k, station);
        EXPECT_LT(std::hypot(image->X - station[0], image->Y - station[1], image->Z - station[2]), 5.0) << k;
    }
    const CCamera* after = doc->cameras.FindByName(CMatchingNetwork::kCamera);
    EXPECT_EQ(after->calibrationMode, before.calibrationMode);
    for (int k = 0; k < CAM_PARAMETER_COUNT; ++k)
        EXPECT_EQ(after->sigmas[k], before.sigmas[k]) << k;

    // Each point of "Bundle" is named after the truth point it lies at.
    CPointSet truth = network.truth;
    for (int i = 0; i < network.device.GetSize(); ++i)
        truth.AddCopy(*network.device.GetAt(i));
    truth.SortByLabel();
    CPointSet* bundle = doc->FindPointSet("Bundle");
    ASSERT_NE(bundle, nullptr);
    ASSERT_EQ(bundle->GetSize(), truth.GetSize());
    CPointSet renamed;
    for (int i = 0; i < bundle->GetSize(); ++i) {
        CObjectPoint p = *bundle->GetAt(i);
        const CObjectPoint* nearest = nullptr;
        double best = 1e30;
        for (int t = 0; t < truth.GetSize(); ++t) {
            const CObjectPoint* q = truth.GetAt(t);
            const double d = std::hypot(p.x - q->x, p.y - q->y, p.z - q->z);
            if (d < best)
                best = d, nearest = q;
        }
        ASSERT_LT(best, 10.0) << p.label.GetText();
        p.label = nearest->label;
        EXPECT_EQ(renamed.FindByLabel(p.label), nullptr) << p.label.GetText() << " twice";
        renamed.AddPointSorted(p);
    }
    CPointSet fitted;
    C3DTransformation fit(&renamed, &truth, &fitted);
    fit.Reset();
    ASSERT_TRUE(fit.Compute());
    EXPECT_EQ(fit.GetCommonPointCount(), truth.GetSize());
    for (int i = 0; i < fitted.GetSize(); ++i) {
        const CObjectPoint* p = fitted.GetAt(i);
        const CObjectPoint* t = truth.FindByLabel(p->label);
        ASSERT_NE(t, nullptr);
        // A pixel is 0.86 mm in the object; the centres are good to a few hundredths of it.
        EXPECT_LT(std::hypot(p->x - t->x, p->y - t->y, p->z - t->z), 0.2) << p->label.GetText();
    }
}

// The cases the dialog must meet, one table: what is checked, the project,
// the messages and the protocol.
TEST_F(AutoMeasurement, EdgeCases)
{
    struct Case {
        const char* name;
        std::function<void(CKestrelonDoc&)> prepare; // after the network is built
        std::initializer_list<int> checked;
        bool stopAtOnce;
        std::vector<std::string> messages;
        const char* protocol;
    };
    const Case cases[] = {
        {"only the final bundle", nullptr, {1332}, false, {},
         "------- Start Final Bundle --------------------\r\n"
         "------- Final Bundle Finished ----------------- (# sec)\r\n"
         "Process finished after # sec.\r\n"},
        {"a stop during matching", nullptr, {1325, 1326, 1338, 1332}, true, {},
         "------- Start Find Corresponding Points -------\r\n"
         "  360 Scaned Image Points in  6 Image(s).\r\n"
         "    0 Object Points found.\r\n"
         "  For 360 Image Points no Correspondence found.\r\n"
         "------- Find Corresponding Points Stopped------ (# sec)\r\n"
         "Process finished after # sec.\r\n"},
        {"no EO device, and No to going on", nullptr, {1324, 1325}, false,
         {"No EO device existing. So no exterior orientation \ncan be determined automatically. Continue anyway?"},
         "Process finished after # sec.\r\n"},
        {"an image whose camera is missing, fixing cameras",
         [](CKestrelonDoc& d) { d.images.GetAt(5)->SetCameraName("MISSING"); }, {1326}, false, {},
         "Process finished after # sec.\r\n"},
        {"no unassigned target to match",
         [](CKestrelonDoc& d) {
             for (int i = 0; i < d.images.GetSize(); ++i) {
                 CObservationList& list = d.images.GetAt(i)->targets;
                 for (int k = 0; k < list.GetSize(); ++k)
                     list.GetAt(k)->label = CNameBuffer(("P" + std::to_string(-list.GetAt(k)->label.GetNumber())).c_str());
                 list.SortByLabel();
             }
         },
         {1325}, false, {},
         "------- Start Find Corresponding Points -------\r\n"
         "    0 Scaned Image Points in  6 Image(s).\r\n"
         "    0 Object Points found.\r\n"
         "  For 0 Image Points no Correspondence found.\r\n"
         "------- Find Corresponding Points Finished ---- (# sec)\r\n"
         "Process finished after # sec.\r\n"},
        {"no image to scan",
         [](CKestrelonDoc& d) {
             for (int i = 0; i < d.images.GetSize(); ++i)
                 d.images.GetAt(i)->enabled = false;
         },
         {1324, 1325}, false, {"No Images to Scan"}, "Process finished after # sec.\r\n"},
        {"two oriented images",
         [](CKestrelonDoc& d) {
             for (int i = 2; i < d.images.GetSize(); ++i)
                 d.images.GetAt(i)->oriented = false;
         },
         {1325, 1326}, false, {"Not enough Images for Finding Corresponding Points"},
         "Process finished after # sec.\r\n"},
        {"no bundle set", nullptr, {1338, 1332}, false, {"Run Bundle First!"}, "Process finished after # sec.\r\n"},
        {"an empty bundle set", [](CKestrelonDoc& d) { d.GetBundlePointSet(); }, {1338}, false,
         {"No Points in Bundle Array."}, "Process finished after # sec.\r\n"},
        {"a stale bundle set",
         [](CKestrelonDoc& d) { d.GetBundlePointSet()->AddCopy(CObjectPoint("A1", 0.0, 0.0, 0.0)); }, {1338},
         false, {"Run Bundle First!"}, "Process finished after # sec.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (app)
            Stop();
        network = CMatchingNetwork();
        OpenNetwork();
        if (c.prepare)
            c.prepare(*doc);
        Command([&](CAutoMeasurementDlg& d) {
            Check(d, c.checked);
            // Start, and Stop before the first step has begun.
            d.OnStart();
            EXPECT_TRUE(d.Item<QPushButton>(1331)->isEnabled());
            if (c.stopAtOnce)
                d.OnStop();
            WaitForEnd(d);
            EXPECT_EQ(Masked(d.GetStatusText()).toStdString(), c.protocol);
            EXPECT_EQ(TakeMessages(), c.messages);
            // Whatever ended the run, the camera has its own mode and sigmas.
            const CCamera* camera = doc->cameras.FindByName(CMatchingNetwork::kCamera);
            EXPECT_EQ(camera->calibrationMode, 0);
            EXPECT_EQ(camera->sigmas[CAM_K3], 2.5e-12);
            EXPECT_EQ(camera->sigmas[CAM_C], CAMERA_SIGMA_FIXED);
            EXPECT_FALSE(doc->IsJobRunning());
            d.Item<QPushButton>(2)->click();
        });
    }
}

// Three enabled images scanned and oriented, one disabled that is neither:
// nothing to scan.
TEST_F(AutoMeasurement, OpensWithoutScanningWhenEveryImageIsScannedAndResected)
{
    MatchingNetworkOptions options;
    options.images = 3;
    OpenNetwork(options);
    CProjectImage* extra = AddImage(*doc, {CMatchingNetwork::kCamera, false, false, 0});
    extra->scanned = false;
    Command([&](CAutoMeasurementDlg& d) {
        EXPECT_FALSE(d.Item<QCheckBox>(1324)->isChecked());
        EXPECT_EQ(d.GetStatusText(), QStringLiteral(" All 3 Images already scanned and resected. No scanning needed.\r\n"));
        for (int id : {1325, 1326, 1336, 1337, 1338, 1333, 1334, 1332, 1329})
            EXPECT_TRUE(d.Item<QCheckBox>(id)->isChecked()) << id;
        EXPECT_FALSE(d.Item<QPushButton>(1331)->isEnabled());
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1355)), QStringLiteral("5.00"));
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1357)), QStringLiteral("[mm]"));
        // The preference buttons open the sheet at "Image Scanning" and "Corresponding Points".
        std::vector<int> pages;
        for (int id : {1328, 1335}) {
            if (id == 1328) {
                d.Item<QCheckBox>(1324)->click();
                ASSERT_TRUE(d.GetDlgItem(1328)->isEnabled());
            }
            dialogs.push_back([&](CDialog& sheet) {
                auto* s = dynamic_cast<CPropertySheet*>(&sheet);
                EXPECT_NE(s, nullptr);
                if (s) {
                    pages.push_back(s->GetActiveIndex());
                    if (s->GetActiveIndex() == 6) {
                        ExpectWholeAndSave(*s, "/CorrespondingPointsPage.png");
                    }
                    s->OnCancel();
                }
                return int(QDialog::Rejected);
            });
            d.Item<QPushButton>(id)->click();
        }
        EXPECT_EQ(pages, (std::vector<int>{5, 6}));
        d.Item<QPushButton>(2)->click();
    });
    // An image left to scan checks "Scan Images".
    extra->enabled = true;
    Command([&](CAutoMeasurementDlg& d) {
        EXPECT_TRUE(d.Item<QCheckBox>(1324)->isChecked());
        EXPECT_EQ(d.GetStatusText(), QString());
        d.Item<QPushButton>(2)->click();
    });
}

// Each dependent control is enabled exactly when its checks are.
TEST_F(AutoMeasurement, DependentControlsFollowTheirChecks)
{
    OpenNetwork();
    struct Rule {
        std::vector<int> controls;
        std::vector<int> checks;
    };
    const Rule rules[] = {
        {{1328, 1342, 1329}, {1324}},     {{1335}, {1325}},           {{1336, 1337}, {1326}},
        {{1352, 1353}, {1326, 1337}},     {{1333, 1334}, {1338}},     {{1356, 1355, 1357}, {1338, 1333}},
        {{1354}, {1332}},
    };
    const int toggles[] = {1324, 1325, 1326, 1337, 1338, 1333, 1332};
    Command([&](CAutoMeasurementDlg& d) {
        // Every combination of the seven checks, each set by a click.
        for (int mask = 0; mask < 128; ++mask) {
            for (int b = 0; b < 7; ++b) {
                auto* box = d.Item<QCheckBox>(toggles[b]);
                if (box->isChecked() != bool(mask & (1 << b))) {
                    box->setEnabled(true);
                    box->click();
                }
            }
            for (const Rule& r : rules) {
                bool on = true;
                for (int id : r.checks)
                    on = on && d.Item<QCheckBox>(id)->isChecked();
                for (int id : r.controls)
                    ASSERT_EQ(d.GetDlgItem(id)->isEnabled(), on) << "control " << id << " mask " << mask;
            }
        }
        d.Item<QPushButton>(2)->click();
    });
}

// Closing is refused while a step runs; "Save Project First" before a save.
TEST_F(AutoMeasurement, TheCommandAndClosingDuringARun)
{
    NewProject();
    // The update rules: one enabled image for 33064, two ready images for 33045.
    auto enabled = [this](int id) {
        CCmdUI ui(id);
        EXPECT_TRUE(Frame()->RouteCommand(id, &ui)) << id;
        return ui.enabled;
    };
    EXPECT_FALSE(enabled(33064));
    EXPECT_FALSE(enabled(33045));
    network.Build(*doc);
    EXPECT_TRUE(enabled(33064));
    EXPECT_TRUE(enabled(33045));
    bool opened = false;
    dialogs.push_back([&](CDialog&) {
        opened = true;
        return int(QDialog::Rejected);
    });
    Frame()->OnCommandId(33064);
    EXPECT_FALSE(opened);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save Project First"});
    dialogs.clear();
    ASSERT_TRUE(doc->DoSave(scratch.filePath(QStringLiteral("net.kst")), true));
    Command([&](CAutoMeasurementDlg& d) {
        Check(d, {1325, 1326, 1338, 1332});
        QTest::mouseClick(d.Item<QPushButton>(1330), Qt::LeftButton);
        EXPECT_TRUE(d.IsRunning());
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_TRUE(d.isVisible());
        d.Item<QPushButton>(2)->click();
        EXPECT_TRUE(d.isVisible());
        EXPECT_FALSE(d.close());
        EXPECT_TRUE(d.isVisible());
        WaitForEnd(d);
        d.Item<QPushButton>(2)->click();
        EXPECT_FALSE(d.isVisible());
    });
}

} // namespace auto_measurement_test
