// The project document's commands and services: the enabling rules of its
// command map, the roll test, Output Observations, the centroid-window edit
// and the statistics of a triangulated set.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "CentroidSettings.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "Resources.h"

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <cmath>

namespace {

class DocCommands : public ShellFixture {
protected:
    bool Enabled(int id)
    {
        Frame()->UpdateCmdUI();
        return Frame()->GetAction(id)->isEnabled();
    }
};

// Images of the cases: U usable (enabled, resected, 3 observations), T two
// observations, D disabled, N not resected, X one observation that is
// disabled, E enabled without anything.
TEST_F(DocCommands, EnablingFollowsTheImageCounts)
{
    NewProject();
    AddCamera(*doc, "Cam");
    // Relative Orientation needs its dialog: without one it is off whatever
    // the images.
    for (int i = 0; i < 4; ++i)
        AddImage(*doc, {"Cam", true, true, 3});
    const auto factory = CKestrelonView::SetRelativeOrientationFactory(nullptr);
    EXPECT_FALSE(Enabled(33077));
    EXPECT_TRUE(Enabled(33045));
    EXPECT_TRUE(Enabled(33064));
    // With the program's dialog, the rules below.
    CKestrelonView::SetRelativeOrientationFactory(factory);
    const int ids[] = {32874, 359, 33042, 33045, 33064, 33077, 32798};
    struct Case {
        const char* images;
        bool correspondingSet; // "Triangulate" holds "A7"
        bool enabled[7];       // in the order of ids
    };
    const Case cases[] = {
        {"", false, {0, 0, 0, 0, 0, 0, 0}},
        {"U", false, {0, 0, 0, 0, 1, 0, 1}},
        {"UU", false, {1, 1, 1, 1, 1, 1, 1}},
        {"UUUU", false, {1, 1, 1, 1, 1, 1, 1}},
        {"UT", false, {0, 0, 1, 1, 1, 1, 1}},
        {"UD", false, {0, 0, 0, 0, 1, 0, 1}},
        {"UN", false, {0, 0, 0, 0, 1, 1, 1}},
        {"XX", false, {0, 0, 0, 1, 1, 1, 1}},
        {"EE", false, {0, 0, 0, 0, 1, 1, 0}},
        {"U", true, {0, 0, 0, 1, 1, 0, 1}},
    };
    for (const Case& c : cases) {
        doc->images.DeleteAll();
        doc->DeletePointSet("Triangulate");
        for (const char* k = c.images; *k; ++k) {
            switch (*k) {
            case 'U': AddImage(*doc, {"Cam", true, true, 3}); break;
            case 'T': AddImage(*doc, {"Cam", true, true, 2}); break;
            case 'D': AddImage(*doc, {"Cam", false, true, 3}); break;
            case 'N': AddImage(*doc, {"Cam", true, false, 3}); break;
            case 'X': AddImage(*doc, {"Cam", true, true, 1, 1}); break;
            default: AddImage(*doc, {"Cam", true, false, 0}); break;
            }
        }
        if (c.correspondingSet) {
            doc->newPointPrefix = CNameBuffer("A");
            CPointSet* set = doc->GetTriangulatePointSet();
            ASSERT_NE(set, nullptr);
            set->AddNewPointSorted(CNameBuffer("A7"));
        }
        for (int k = 0; k < 7; ++k)
            EXPECT_EQ(Enabled(ids[k]), c.enabled[k]) << c.images << c.correspondingSet << " id " << ids[k];
    }
    CKestrelonView::SetRelativeOrientationFactory(factory);
    // The Measurement menu leaves out the three hidden commands.
    QMenu* measurement = nullptr;
    for (QAction* a : Frame()->menuBar()->actions())
        if (QString(a->text()).remove(QLatin1Char('&')) == QStringLiteral("Measurement"))
            measurement = a->menu();
    ASSERT_NE(measurement, nullptr);
    QList<int> present;
    for (QAction* a : measurement->actions())
        present << ActionId(a);
    EXPECT_TRUE(present.contains(33085));
    for (int hidden : {363, 316, 317})
        EXPECT_FALSE(present.contains(hidden)) << hidden;
}

TEST(RollDiversity, AQuarterTurnOfSpreadIsNeeded)
{
    struct Case {
        std::vector<double> degrees;
        bool diverse;
    };
    const Case cases[] = {
        {{10}, false},          {{10, 95}, false},  {{10, 101}, true},         {{10, 80}, false},
        {{350, 40}, false},     {{300, 40}, true},  {{10, 350}, false},        {{10, 260}, true},
        {{0, 180}, true},       {{0, 90, 180, 270}, true}, {{100, 170}, false}, {{100, 195}, true},
    };
    const double degree = std::atan(1.0) / 45.0;
    for (const Case& c : cases) {
        CProjectImageList images;
        CImagePtrArray list;
        for (double d : c.degrees) {
            CProjectImage* image = images.AddNew();
            const double roll = (d > 180 ? d - 360 : d) * degree;
            image->SetRotation(0.2, 0.3, roll);
            ASSERT_NEAR(image->GetRoll(), roll, 1e-12);
            list.Add(image);
        }
        EXPECT_EQ(CKestrelonDoc::HasRollDiversity(list), c.diverse) << c.degrees.size() << " " << c.degrees[0];
    }
}

TEST_F(DocCommands, OutputObservationsWritesIcfFilesTheReaderReadsBack)
{
    NewProject();
    AddCamera(*doc, "Cam");
    const QString folder = scratch.filePath(QStringLiteral("project"));
    QDir().mkpath(folder);
    CProjectImage* image = AddImage(*doc, {"Cam", true, true, 4, 1});
    image->SetFilePath((folder + QStringLiteral("/a.tif")).toStdString().c_str());
    CProjectImage* bare = AddImage(*doc, {"Cam", true, true, 0});
    bare->SetFilePath((folder + QStringLiteral("/b.tif")).toStdString().c_str());
    // An unsaved project is refused.
    Frame()->OnCommandId(32798);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save Project First"});
    ASSERT_TRUE(doc->DoSave(folder + QStringLiteral("/p.kst"), true));
    Frame()->OnCommandId(32798);
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/b.icf")));
    CProjectImage copy;
    ASSERT_TRUE(copy.ReadIcfFile(CFilePath((folder + QStringLiteral("/a.icf")).toStdString().c_str()), 0.001));
    ASSERT_EQ(copy.targets.GetSize(), image->targets.GetSize());
    for (int i = 0; i < copy.targets.GetSize(); ++i) {
        EXPECT_STREQ(copy.targets.GetAt(i)->label.GetText(), image->targets.GetAt(i)->label.GetText());
        EXPECT_NEAR(copy.targets.GetAt(i)->x, image->targets.GetAt(i)->x, 1e-6);
        EXPECT_NEAR(copy.targets.GetAt(i)->y, image->targets.GetAt(i)->y, 1e-6);
    }
}

TEST_F(DocCommands, TheCentroidWindowEditTakesOnlySizesInRange)
{
    NewProject();
    QLineEdit* edit = Frame()->GetToolBar()->m_CentroidWindow;
    ASSERT_TRUE(Frame()->GetToolBar()->isVisible());
    struct Case {
        const char* typed;
        int size;           // stored by the model's rule
        const char* shown;
    };
    for (const Case& c : {Case{"32", 32, "32"}, Case{"0", 1, "1"}, Case{"200", 128, "128"}, Case{"7", 7, "7"}}) {
        edit->setText(QString::fromLatin1(c.typed));
        EXPECT_EQ(GetCentroidSettings().windowSize, c.size) << c.typed;
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.shown)) << c.typed;
    }
    SetCentroidWindowSize(64, 0);
}

TEST_F(DocCommands, TriangulationStatisticsLeaveThePointsAlone)
{
    NewProject();
    doc->settings.minimumRays = 3;
    CPointSet set;
    struct Point {
        const char* label;
        double variance[3];
        bool inUse;
        int rays;
    };
    const Point points[] = {
        {"P1", {4e-6, 1e-6, 9e-6}, true, 3},
        {"P2", {1e-6, 16e-6, 1e-6}, true, 4},
        {"P3", {25e-6, 25e-6, 25e-6}, true, 2},  // too few rays for the extremes
        {"P4", {100e-6, 100e-6, 100e-6}, false, 5}, // not in use
        {"P5", {4e-6, 4e-6, 4e-6}, true, 3},
    };
    for (const Point& p : points) {
        CObjectPoint point(p.label, 0.0, 0.0, 0.0);
        point.SetSigmas(std::sqrt(p.variance[0]), std::sqrt(p.variance[1]), std::sqrt(p.variance[2]));
        point.inUse = p.inUse;
        point.rayCount = p.rays;
        point.rms = 1.5;
        set.AddPointSorted(point);
    }
    // Truth computed here from the table.
    double mean[3], largest[3], smallest[3];
    std::string largestLabel[3], smallestLabel[3];
    for (int a = 0; a < 3; ++a) {
        double sum = 0.0;
        int n = 0;
        largest[a] = 0.0, smallest[a] = 100.0;
        for (const Point& p : points) {
            if (!p.inUse)
                continue;
            sum += p.variance[a], ++n;
            if (p.rays < 3)
                continue;
            const double s = std::sqrt(p.variance[a]);
            if (s > largest[a])
                largest[a] = s, largestLabel[a] = p.label;
            if (s < smallest[a])
                smallest[a] = s, smallestLabel[a] = p.label;
        }
        mean[a] = std::sqrt(sum / n);
    }
    const CPointSet before = set;
    for (int call = 0; call < 2; ++call) {
        ASSERT_TRUE(doc->ComputeTriangulationStatistics(set));
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(doc->summary.rmsTotal[a], mean[a], 1e-15);
            EXPECT_NEAR(doc->summary.extremes[CAdjustmentSummary::kLargestTotal][a], largest[a], 1e-15);
            EXPECT_NEAR(doc->summary.extremes[CAdjustmentSummary::kSmallestTotal][a], smallest[a], 1e-15);
            EXPECT_EQ(doc->summary.extremeLabels[CAdjustmentSummary::kLargestTotal][a].GetText(), largestLabel[a]);
            EXPECT_EQ(doc->summary.extremeLabels[CAdjustmentSummary::kSmallestTotal][a].GetText(), smallestLabel[a]);
        }
        EXPECT_TRUE(set.IsEqual(before));
        for (int i = 0; i < set.GetSize(); ++i)
            EXPECT_EQ(set.GetAt(i)->rms, 1.5);
    }
}

// The small services on one project.
TEST_F(DocCommands, ServicesAnswerFromTheProject)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam");
    camera->XPixels = 3000;
    camera->YPixels = 2000;
    const QString folder = scratch.filePath(QStringLiteral("files"));
    QDir().mkpath(folder);
    for (const char* name : {"a.tif", "b.jpg", "c.bmp"}) {
        QFile file(folder + '/' + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    struct FileCase {
        const char* name;
        bool displayable;
    };
    for (const FileCase& c : {FileCase{"a.tif", true}, FileCase{"b.jpg", false}, FileCase{"c.bmp", true},
                              FileCase{"gone.tif", false}}) {
        CProjectImage* image = AddImage(*doc, {"Cam", true, true, 0});
        image->SetFilePath((folder + '/' + QString::fromLatin1(c.name)).toStdString().c_str());
        EXPECT_EQ(IsImageFileDisplayable(*image), c.displayable) << c.name;
    }
    AddImage(*doc, {"Cam", true, true, 0})->SetFilePath("/x/obs.icf");
    EXPECT_EQ(doc->CountIcfImages(), 1);
    EXPECT_EQ(doc->CountPictureImages(), 4);
    const std::string a = (folder + QStringLiteral("/a.tif")).toStdString();
    EXPECT_TRUE(doc->ImageExists(a.c_str(), *camera));
    CCamera other;
    other.identifier = "Other";
    EXPECT_FALSE(doc->ImageExists(a.c_str(), other));

    // The size check: a file that is no picture has no size; a picture's header
    // gives it; a turned image does not fit.
    bool fits = false;
    EXPECT_FALSE(CheckImageFitsCamera(a.c_str(), *camera, fits, true));
    EXPECT_TRUE(fits);
    {
        // A 24-bit BMP of 3 x 2 pixels, rows padded to 12 bytes.
        std::string bmp = "BM";
        auto put32 = [&bmp](uint32_t v) { for (int i = 0; i < 4; ++i) bmp += char((v >> (8 * i)) & 0xFF); };
        auto put16 = [&bmp](uint16_t v) { bmp += char(v & 0xFF); bmp += char(v >> 8); };
        put32(54 + 24), put32(0), put32(54), put32(40), put32(3), put32(2);
        put16(1), put16(24), put32(0), put32(24), put32(2835), put32(2835), put32(0), put32(0);
        bmp.append(24, '\x40');
        const QString bmpPath = folder + QStringLiteral("/size.bmp");
        QFile file(bmpPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bmp.data(), qint64(bmp.size()));
        file.close();
        const std::string path = bmpPath.toStdString();
        int w = 0, h = 0;
        EXPECT_TRUE(ReadImageFileSize(path.c_str(), w, h));
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 2);
    }
    struct SizeCase {
        int width, height;
        bool fits;
    };
    for (const SizeCase& c : {SizeCase{3000, 2000, true}, SizeCase{2000, 3000, false}}) {
        const ImageSizeReader old = SetImageSizeReader([&](const char*, int& w, int& h) {
            w = c.width, h = c.height;
            return true;
        });
        TakeMessages();
        EXPECT_EQ(CheckImageFitsCamera(a.c_str(), *camera, fits, true), c.fits);
        EXPECT_EQ(fits, c.fits);
        EXPECT_EQ(TakeMessages().size(), c.fits ? 0u : 1u);
        SetImageSizeReader(old);
    }

    // Triangulation images: enabled, resected, with an enabled observation.
    doc->images.DeleteAll();
    AddImage(*doc, {"Cam", true, true, 2});
    TakeMessages();
    EXPECT_FALSE(doc->CollectTriangulationImages());
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"insufficient images"});
    AddImage(*doc, {"Cam", true, false, 2});
    EXPECT_FALSE(doc->CollectTriangulationImages());
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Insufficient enabled and/or resected images"});
    AddImage(*doc, {"Cam", true, true, 1, 1});
    AddImage(*doc, {"Cam", true, true, 1});
    ASSERT_TRUE(doc->CollectTriangulationImages());
    ASSERT_EQ(doc->imagePtrs.GetSize(), 2);
    EXPECT_EQ(doc->imagePtrs.GetAt(0), doc->images.GetAt(0));
    EXPECT_EQ(doc->imagePtrs.GetAt(1), doc->images.GetAt(3));
    doc->ClearResectedFlags();
    for (int i = 0; i < doc->images.GetSize(); ++i)
        EXPECT_FALSE(doc->images.GetAt(i)->oriented);

    // An empty "Triangulate" set is discarded with the adjustment list.
    ASSERT_NE(doc->GetTriangulatePointSet(), nullptr);
    EXPECT_TRUE(doc->DiscardEmptyTriangulateSet());
    EXPECT_EQ(doc->FindPointSet("Triangulate"), nullptr);
    EXPECT_EQ(doc->imagePtrs.GetSize(), 0);
}

} // namespace
