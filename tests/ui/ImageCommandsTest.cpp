// Image commands of the shell: converting a folder's JPEG photographs,
// importing a folder of pictures, Simulate Images, and the point-set
// commands of the tree.
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "Camera.h"
#include "EllipseRecord.h"
#include "ImageCommands.h"
#include "ImageObservation.h"
#include "ImageStore.h"
#include "ImageView.h"
#include "Intersection.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SampleProject.h"
#include "SamplePictures.h"
#include "TestFiles.h"
#include "TiffFileReader.h"
#include "JpegFileReader.h"

#include <QApplication>
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QPointer>
#include <QProgressBar>
#include <QDateTime>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <cstdio>
#include <fstream>
#include <map>

namespace image_commands_test {

using kestrelon::test::ReadFileBytes;
using kestrelon::test::WriteFileBytes;

// A smooth picture, grey or colour.
QImage Picture(bool colour)
{
    QImage image(40, 30, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, colour ? QColor(6 * x, 8 * y, 100) : QColor(5 * x, 5 * x, 5 * x));
    return image;
}

bool ReadStore(CImageFileReader&& reader, CImageStore& store)
{
    return store.ReadFrom(reader);
}

class ImageCommands : public ShellFixture {
protected:
    CKestrelonDoc* OpenSample()
    {
        const QString path = WriteSample();
        EXPECT_TRUE(Start());
        EXPECT_NE(app->OpenDocumentFile(path), nullptr);
        Settle();
        return GetActiveKestrelonDoc();
    }
    // The sample's targets with their wall normals and a radius, as the
    // driver set "Targets" in the folder.
    static CPointSet* AddTargets(CKestrelonDoc* doc, const QString& folder)
    {
        CSampleTruth truth;
        BuildSampleTruth(truth);
        CPointSet* targets = AddPointSet(*doc, (folder + "/Targets.xyz").toStdString().c_str());
        for (int i = 0; i < truth.targets.GetSize(); ++i) {
            CObjectPoint point(*truth.targets.GetAt(i));
            point.radius = 6.0;
            targets->AddPointSorted(point);
        }
        doc->ToggleDriverSet("Targets");
        return targets;
    }
    // The image views of the document on that image.
    static std::vector<CImageView*> ViewsOn(CKestrelonDoc* doc, const CProjectImage* image)
    {
        std::vector<CImageView*> views;
        for (CView* v : doc->GetViews())
            if (auto* view = dynamic_cast<CImageView*>(v); view && view->GetImageRecord() == image)
                views.push_back(view);
        return views;
    }
};

TEST_F(ImageCommands, JpegFolderConversionMakesGreyTiffsOnceAndSkipsTheRest)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    const QString folder = scratch.filePath(QStringLiteral("jpegs"));
    QDir().mkpath(folder);
    const std::string dir = folder.toStdString();
    ASSERT_TRUE(Picture(true).save(folder + "/colour.jpg", "JPEG", 95));
    ASSERT_TRUE(Picture(false).save(folder + "/grey.jpg", "JPEG", 95));
    ASSERT_TRUE(Picture(true).save(folder + "/UPPER.JPG", "JPEG", 95));
    const std::string whole = ReadFileBytes(dir + "/colour.jpg");
    ASSERT_TRUE(WriteFileBytes(dir + "/cut.jpg", whole.substr(0, whole.size() / 3)));
    ASSERT_TRUE(Picture(true).save(folder + "/kept.jpg", "JPEG", 95));
    ASSERT_TRUE(WriteFileBytes(dir + "/kept.tif", "not a picture"));

    // The progress window is shown while the conversion runs.
    int shownWindows = 0, progressMaximum = -1;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == QLatin1String("Converting JPEG Images")) {
                ++shownWindows;
                progressMaximum = w->findChild<QProgressBar*>(QStringLiteral("id1292"))->maximum();
            }
    });
    probe.start(0);
    ConvertJpegImages(CDynString(dir.c_str()));
    probe.stop();
    EXPECT_GT(shownWindows, 0);
    EXPECT_EQ(progressMaximum, 5);

    struct Case {
        const char* tif;
        bool exists;
        int samples;     // of the TIFF
        const char* jpg; // the source whose grey values it keeps, or null
    };
    const Case cases[] = {{"colour.tif", true, 1, nullptr},
                          {"grey.tif", true, 1, "grey.jpg"},
                          {"UPPER.tif", true, 1, nullptr},
                          {"cut.tif", false, 0, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tif);
        const std::string path = dir + "/" + c.tif;
        ASSERT_EQ(QFile::exists(QString::fromStdString(path)), c.exists);
        if (!c.exists)
            continue;
        CImageStore tiff;
        ASSERT_TRUE(ReadStore(CTiffFileReader(path.c_str()), tiff));
        EXPECT_EQ(tiff.IsColor(), false);
        if (c.jpg) {
            CImageStore jpeg;
            ASSERT_TRUE(ReadStore(CJpegFileReader((dir + "/" + c.jpg).c_str()), jpeg));
            for (int y = 0; y < 30; y += 7)
                for (int x = 0; x < 40; x += 9)
                    EXPECT_EQ(tiff.GetPixel(0, y, x), jpeg.GetPixel(0, y, x));
        }
    }
    EXPECT_EQ(ReadFileBytes(dir + "/kept.tif"), "not a picture");

    // A second run writes nothing; a folder without JPEGs shows no window.
    const QDateTime stamp = QFileInfo(folder + "/grey.tif").lastModified();
    QTest::qWait(20);
    ConvertJpegImages(CDynString(dir.c_str()));
    EXPECT_EQ(QFileInfo(folder + "/grey.tif").lastModified(), stamp);
    EXPECT_EQ(QDir(folder).entryList({"*.tif", "*.TIF"}, QDir::Files).size(), 4);
    const QString empty = scratch.filePath(QStringLiteral("empty"));
    QDir().mkpath(empty);
    shownWindows = 0;
    probe.start(0);
    ConvertJpegImages(CDynString(empty.toStdString().c_str()));
    probe.stop();
    EXPECT_EQ(shownWindows, 0);
    Stop();
}

TEST_F(ImageCommands, ImageFolderImportSortsFilesByFitAndAsksOnceForOldOnes)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    CCamera* camera = AddCamera(*doc, "Cam");
    camera->XPixels = 40;
    camera->YPixels = 30;
    const QString folder = scratch.filePath(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    // name -> size; -1 for a file whose size cannot be read.
    const std::map<std::string, int> files = {
        {"a.tif", 40}, {"B.TIF", 40}, {"c.bmp", 41}, {"d.dib", -1}, {"old.tif", 40}, {"Old2.BMP", 40}};
    for (const auto& f : files)
        ASSERT_TRUE(WriteFileBytes((folder + "/").toStdString() + f.first, "x"));
    const auto oldReader = SetImageSizeReader([&](const char* path, int& w, int& h) {
        const auto it = files.find(CFilePath(path).GetFileName().GetText());
        if (it == files.end() || it->second < 0)
            return false;
        w = it->second;
        h = 30;
        return true;
    });
    for (const char* name : {"old.tif", "Old2.BMP"}) {
        CProjectImage* existing = doc->AddNewImage("");
        existing->SetCameraName("Cam");
        existing->SetFilePath((folder + "/" + name).toStdString().c_str());
    }
    doc->UpdateAllViews(nullptr, 0);
    CKestrelonView* tree = GetProjectTreeView();
    ASSERT_TRUE(tree);
    const auto selectCamera = [tree] {
        for (QTreeWidgetItem* item : tree->findItems(QStringLiteral("Cam"), Qt::MatchExactly | Qt::MatchRecursive))
            if (tree->IsDescendant(item, tree->ProjectRoot()))
                tree->setCurrentItem(item);
        return tree->GetSelectedItemText() == QStringLiteral("Cam");
    };
    ASSERT_TRUE(selectCamera());
    const auto oldFolderHook = SetFolderDialogHook([&](QWidget*, const QString&, const QString&) { return folder; });
    TakeMessages();

    answers = {IDOK, IDNO}; // the mismatch, the question
    tree->OnCmdMsg(32949, nullptr);
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "The resolution of the image(s) 'c.bmp'\n does not fit to the camera 'Cam'.");
    EXPECT_EQ(messages[1], "2 Image(s) have already been imported.\nImport them again?");
    std::vector<std::string> paths;
    for (int i = 2; i < doc->images.GetSize(); ++i)
        paths.push_back(CFilePath(doc->images.GetAt(i)->GetFilePath().GetText()).GetFileName().GetText());
    EXPECT_EQ(paths, (std::vector<std::string>{"a.tif", "B.TIF"}));

    // Yes imports every fitting file again, the old ones too.
    answers = {IDOK, IDYES};
    const int before = doc->images.GetSize();
    ASSERT_TRUE(selectCamera());
    tree->OnCmdMsg(32949, nullptr);
    const std::vector<std::string> again = TakeMessages();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1], "4 Image(s) have already been imported.\nImport them again?");
    EXPECT_EQ(doc->images.GetSize(), before + 4);

    SetFolderDialogHook(oldFolderHook);
    SetImageSizeReader(oldReader);
    Stop();
}

// The observations of simple Simulate Images are the projections of the
// driver set's points, its pictures replace the images' files, and its
// ellipse files hold one formatted line per observation.
TEST_F(ImageCommands, SimulateImagesObservesProjectionsAndWritesPictures)
{
    CKestrelonDoc* doc = OpenSample();
    ASSERT_TRUE(doc);
    const QString out = scratch.filePath(QStringLiteral("simulated"));
    QDir().mkpath(out);
    CPointSet* targets = AddTargets(doc, out);
    ASSERT_EQ(doc->pointSets.GetDriverSet(), targets);
    EXPECT_EQ(FormatEllipseLine("T1", 1.0, -2.0, 0.3, 0.2, -0.5),
              "              T1       1.000000      -2.000000       0.300000       0.200000     151.352110");

    const QString projectFolder = QString::fromLatin1(doc->GetProjectDirectory().GetText());
    const QStringList projectFiles = QDir(projectFolder).entryList(QDir::Files);
    for (const bool createImages : {false, true}) {
        SCOPED_TRACE(createImages);
        dialogs.push_back([&](CDialog& dialog) {
            if (createImages) {
                dialog.Item<QCheckBox>(1411)->click();
                dialog.Item<QCheckBox>(1414)->click();
                SetWindowText(dialog.GetDlgItem(1396), out);
                ExpectWholeAndSave(dialog, "/simulate-images.png");
            }
            dialog.OnOK();
            return dialog.result();
        });
        doc->OnCmdMsg(33085, nullptr);
        Settle();
        CPointSet* set = doc->pointSets.GetDriverSet();
        ASSERT_TRUE(set);
        int compared = 0;
        for (int i = 0; i < doc->images.GetSize(); ++i) {
            const CProjectImage* image = doc->images.GetAt(i);
            const CCamera* camera = doc->cameras.FindByName(image->cameraName.GetText());
            ASSERT_TRUE(camera);
            EXPECT_GT(image->targets.GetSize(), 0);
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                const CImageObservation* o = image->GetObservationAt(k);
                const CObjectPoint* p = set->FindPoint(o->label);
                ASSERT_TRUE(p);
                CImageObservation truth;
                ASSERT_TRUE(ProjectPointToImage(*p, *image, *camera, truth, 10.0));
                EXPECT_NEAR(o->x, truth.x, 1e-6);
                EXPECT_NEAR(o->y, truth.y, 1e-6);
                ++compared;
            }
            const QString picture = out + "/" + QString::fromLatin1(image->name.GetText()) + ".tif";
            EXPECT_EQ(QFile::exists(picture), createImages);
            if (!createImages)
                continue;
            EXPECT_EQ(std::string(image->GetFilePath().GetText()), picture.toStdString());
            int width = 0, height = 0;
            EXPECT_TRUE(ReadImageFileSize(picture.toStdString().c_str(), width, height));
            EXPECT_EQ(width, camera->XPixels);
            std::string expected;
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                const CImageObservation* o = image->GetObservationAt(k);
                const CTargetEllipse* e = o->GetEllipse();
                ASSERT_TRUE(e);
                char line[128];
                std::snprintf(line, sizeof line, "%16s%15.6f%15.6f%15.6f%15.6f%15.6f\r\n", o->label.GetText(),
                              o->x, o->y, e->major, e->minor,
                              e->rotation * 45.0 / std::atan(1.0) + (e->rotation < 0 ? 180.0 : 0.0));
                expected += line;
            }
            EXPECT_EQ(ReadFileBytes((out + "/" + image->name.GetText() + "_ellipses.txt").toStdString()), expected);
        }
        EXPECT_GT(compared, 100);
        if (!createImages) { // observations only: no file anywhere
            EXPECT_EQ(QDir(projectFolder).entryList(QDir::Files), projectFiles);
            EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
        }
        EXPECT_TRUE(doc->IsModified());
    }
    // Again into the same folder with ellipse files: the pictures and the
    // ellipse files there would be replaced; No keeps them all.
    int kept = 0;
    for (const QString& file : QDir(out).entryList(QDir::Files))
        kept += file.endsWith(QStringLiteral(".tif")) || file.endsWith(QStringLiteral("_ellipses.txt"));
    ASSERT_GT(kept, doc->images.GetSize());
    const std::vector<std::string> paths = [&] {
        std::vector<std::string> p;
        for (int i = 0; i < doc->images.GetSize(); ++i)
            p.push_back(doc->images.GetAt(i)->GetFilePath().GetText());
        return p;
    }();
    const QDateTime latest = QFileInfo(out + "/" + doc->images.GetAt(0)->name.GetText() + ".tif").lastModified();
    dialogs.push_back([&](CDialog& dialog) {
        dialog.Item<QCheckBox>(1411)->click();
        dialog.Item<QCheckBox>(1414)->click();
        SetWindowText(dialog.GetDlgItem(1396), out);
        dialog.OnOK();
        return dialog.result();
    });
    TakeMessages();
    answers = {IDNO};
    doc->OnCmdMsg(33085, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{std::to_string(kept) + " image files in the folder " +
                                                       out.toStdString() + " would be replaced.\nContinue?"});
    EXPECT_EQ(QFileInfo(out + "/" + doc->images.GetAt(0)->name.GetText() + ".tif").lastModified(), latest);
    for (int i = 0; i < doc->images.GetSize(); ++i)
        EXPECT_EQ(doc->images.GetAt(i)->GetFilePath().GetText(), paths[size_t(i)]);

    // A picture that cannot be written (a folder holds its name) leaves the
    // image's file as it was and is named; the others are written.
    const std::string before = doc->images.GetAt(0)->GetFilePath().GetText();
    const QString blocked = out + "/blocked";
    const QString taken = blocked + "/" + doc->images.GetAt(0)->name.GetText() + ".tif";
    ASSERT_TRUE(QDir().mkpath(taken));
    dialogs.push_back([&](CDialog& dialog) {
        dialog.Item<QCheckBox>(1411)->click();
        SetWindowText(dialog.GetDlgItem(1396), blocked);
        dialog.OnOK();
        return dialog.result();
    });
    TakeMessages();
    doc->OnCmdMsg(33085, nullptr);
    EXPECT_EQ(std::string(doc->images.GetAt(0)->GetFilePath().GetText()), before);
    EXPECT_EQ(QString::fromLatin1(doc->images.GetAt(1)->GetFilePath().GetText()),
              blocked + "/" + doc->images.GetAt(1)->name.GetText() + ".tif");
    const std::vector<std::string> failures = TakeMessages();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(taken.toStdString()), std::string::npos) << failures[0];

    const QString first = QString::fromLatin1(doc->images.GetAt(0)->GetFilePath().GetText());
    CImageStore store;
    ASSERT_TRUE(ReadStore(CTiffFileReader(first.toStdString().c_str()), store));
    QImage shot(store.GetWidth(), store.GetHeight(), QImage::Format_Grayscale8);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            shot.scanLine(y)[x] = uint8_t(store.GetPixel(0, y, x));
    shot.save(TestOutputFolder() + "/simulated-sample-image.png");
    Stop();
}

// An ellipse file's name taken by a pipe: that file is refused at once with
// its name and reason, the program goes on and the other images' files are
// written.
TEST_F(ImageCommands, SimulateImagesEllipseFileUnderAPipeIsRefusedAtOnce)
{
    CKestrelonDoc* doc = OpenSample();
    ASSERT_TRUE(doc);
    ASSERT_GE(doc->images.GetSize(), 2);
    const QString out = scratch.filePath(QStringLiteral("piped"));
    QDir().mkpath(out);
    AddTargets(doc, out);
    const QString pipe = out + "/" + QString::fromLatin1(doc->images.GetAt(0)->name.GetText()) + "_ellipses.txt";
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    dialogs.push_back([&](CDialog& dialog) {
        dialog.Item<QCheckBox>(1411)->click();
        dialog.Item<QCheckBox>(1414)->click();
        SetWindowText(dialog.GetDlgItem(1396), out);
        dialog.OnOK();
        return dialog.result();
    });
    TakeMessages();
    Frame()->UpdateCmdUI();
    QAction* simulate = Frame()->GetAction(33085);
    ASSERT_TRUE(simulate->isEnabled());
    simulate->trigger();
    Settle();
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "The file " + pipe.toStdString() + " could not be written: it is a pipe, not a file.");
    EXPECT_TRUE(QFileInfo(pipe).exists());
    const QString second = out + "/" + QString::fromLatin1(doc->images.GetAt(1)->name.GetText()) + "_ellipses.txt";
    EXPECT_GT(QFileInfo(second).size(), 0);
    Stop();
}

// Simple Simulate Images with an image window open: the window is closed
// before the picture is written and opened again on it after; a picture
// that cannot be written leaves the window on the old file. An image whose
// camera is not in the project is left alone.
TEST_F(ImageCommands, SimulateImagesReopensImageWindowsAndSkipsImagesWithoutCamera)
{
    CKestrelonDoc* doc = OpenSample();
    ASSERT_TRUE(doc);
    const QString out = scratch.filePath(QStringLiteral("reopened"));
    QDir().mkpath(out);
    AddTargets(doc, out);
    CProjectImage* first = doc->images.GetAt(0);
    const CCamera* camera = doc->cameras.FindByName(first->cameraName.GetText());
    ASSERT_TRUE(camera);
    // A copy of the first image's pose whose camera is gone.
    CProjectImage* orphan = doc->AddNewImage("Orphan");
    orphan->SetPose(first->X, first->Y, first->Z, first->GetAzimuth(), first->GetElevation(), first->GetRoll());
    orphan->oriented = true;
    orphan->SetCameraName("Nowhere");
    orphan->SetFilePath("kept.tif");

    const QString picture = out + "/" + QString::fromLatin1(first->name.GetText()) + ".tif";
    struct Run {
        const char* what;
        QString folder;
        QString fileAfter; // the image's file after the run
    };
    // A folder in the picture's place: that picture cannot be written.
    const QString blocked = out + "/blocked";
    ASSERT_TRUE(QDir().mkpath(blocked + "/" + QString::fromLatin1(first->name.GetText()) + ".tif"));
    const Run runs[] = {{"written", out, picture}, {"not written", blocked, picture}};
    for (const Run& run : runs) {
        SCOPED_TRACE(run.what);
        ASSERT_TRUE(OpenImageWindow(doc, first));
        Settle();
        const std::vector<CImageView*> before = ViewsOn(doc, first);
        ASSERT_EQ(before.size(), 1u);
        QPointer<QObject> old(before[0]->GetParentFrame());
        bool closedBeforeWriting = false;
        const QDateTime written = QFileInfo(picture).lastModified();
        QObject::connect(old.data(), &QObject::destroyed,
                         [&] { closedBeforeWriting = QFileInfo(picture).lastModified() == written; });
        dialogs.push_back([&](CDialog& dialog) {
            dialog.Item<QCheckBox>(1411)->click();
            SetWindowText(dialog.GetDlgItem(1396), run.folder);
            dialog.OnOK();
            return dialog.result();
        });
        QTest::qWait(20); // a new file gets a later time
        doc->OnCmdMsg(33085, nullptr);
        Settle();
        EXPECT_TRUE(old.isNull());
        EXPECT_TRUE(closedBeforeWriting);
        const std::vector<CImageView*> after = ViewsOn(doc, first);
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(QString::fromLatin1(first->GetFilePath().GetText()), run.fileAfter);
        // The reopened window shows the picture of the image's file.
        const CImageHandle* handle = after[0]->GetHandle();
        ASSERT_TRUE(handle && handle->GetPicture());
        int width = 0, height = 0;
        handle->GetSize(width, height);
        EXPECT_EQ(width, camera->XPixels);
        EXPECT_EQ(height, camera->YPixels);
        if (run.folder == out) {
            CMDIChildWnd* frame = after[0]->GetParentFrame();
            frame->showNormal();
            frame->resize(640, 520);
            Settle();
            // Zoomed in on a target: its rendered disc shows under its mark.
            CImageView* view = after[0];
            const CImageObservation* target = first->targets.GetAt(first->targets.GetSize() / 2);
            view->SetMode(CImageView::MODE_ZOOM_IN);
            for (int k = 0; k < 4; ++k) {
                QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                                  view->ImageToDevice(target->x, target->y, view->viewport()->rect()));
                Settle();
            }
            const QImage shot = frame->grab().toImage();
            EXPECT_TRUE(shot.save(TestOutputFolder() + "/image-window-simulated-sample.png"));
            const QImage client = view->viewport()->grab().toImage();
            const QPoint mark = view->ImageToDevice(target->x, target->y, view->viewport()->rect());
            int bright = 0; // grey, not the yellow of the marks
            for (int y = mark.y() - 30; y <= mark.y() + 30; ++y)
                for (int x = mark.x() - 30; x <= mark.x() + 30; ++x)
                    if (client.rect().contains(x, y) && client.pixelColor(x, y).blue() > 150)
                        ++bright;
            EXPECT_GT(bright, 20);
        }
        // The orphan got no observations and no picture.
        EXPECT_EQ(orphan->targets.GetSize(), 0);
        EXPECT_STREQ(orphan->GetFilePath().GetText(), "kept.tif");
        EXPECT_FALSE(QFile::exists(run.folder + "/Orphan.tif"));
        EXPECT_GT(first->targets.GetSize(), 0);
        for (CImageView* view : after)
            delete view->GetParentFrame();
        Settle();
    }
    TakeMessages();
    Stop();
}

// Picks the set in the dialog's "3D Array" list with the keyboard.
void ChooseSet(CDialog& d, const QString& title)
{
    auto* combo = d.Item<QComboBox>(1383);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int k = 0; k < combo->count() && combo->currentText() != title; ++k)
        QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(combo->currentText(), title);
}

// The targets of the set that the image sees: facing it within the viewing
// angle (a point without a normal takes the default one) and projecting
// into the picture.
int TargetsSeen(const CPointSet& set, const CProjectImage& image, const CCamera& camera, const double normal[3],
                double angle)
{
    int seen = 0;
    for (int i = 0; i < set.GetSize(); ++i) {
        const CObjectPoint& p = *set.GetAt(i);
        const bool own = p.normal[0] != 0.0 || p.normal[1] != 0.0 || p.normal[2] != 0.0;
        const double* n = own ? p.normal : normal;
        const double ray[3] = {image.X - p.x, image.Y - p.y, image.Z - p.z};
        const double cosine = (ray[0] * n[0] + ray[1] * n[1] + ray[2] * n[2]) /
                              std::sqrt((ray[0] * ray[0] + ray[1] * ray[1] + ray[2] * ray[2]) *
                                        (n[0] * n[0] + n[1] * n[1] + n[2] * n[2]));
        CImageObservation at;
        double column = 0.0, row = 0.0;
        if (!(cosine >= std::cos(angle)) || !ProjectPointToImage(p, image, camera, at, 10.0))
            continue;
        camera.ImageToPixel(at.x, at.y, column, row);
        seen += column >= 0.0 && column < camera.XPixels && row >= 0.0 && row < camera.YPixels;
    }
    return seen;
}

// Simulate Images with pictures, from the menu: the sample's Control set
// (no radius, no normal: those of the preferences are used) and a set with
// radii and normals show their targets where they project, and each image
// observes the targets it sees. A set whose targets would not show is
// refused before anything is written.
TEST_F(ImageCommands, SimulatedPicturesShowTheTargetsOfSetsWithAndWithoutRadii)
{
    CKestrelonDoc* doc = OpenSample();
    ASSERT_TRUE(doc);
    const QString out = scratch.filePath(QStringLiteral("pictures"));
    AddTargets(doc, out);
    const double angle = std::round(doc->maxViewingAngle * 180.0 / std::acos(-1.0) * 100.0) / 100.0 *
                         std::acos(-1.0) / 180.0;
    auto simulate = [&](const QString& title, const QString& folder, bool refused) {
        QDir().mkpath(folder);
        dialogs.push_back([&, title, folder, refused](CDialog& d) {
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            ChooseSet(d, title);
            QTest::mouseClick(d.Item<QCheckBox>(1411), Qt::LeftButton);
            Type(d, 1396, folder);
            QTest::mouseClick(d.Item<QAbstractButton>(IDOK), Qt::LeftButton);
            if (refused) {
                EXPECT_TRUE(d.isVisible());
                QTest::mouseClick(d.Item<QAbstractButton>(IDCANCEL), Qt::LeftButton);
            }
            return d.result();
        });
        answers = {IDOK, IDOK};
        TakeMessages();
        Frame()->UpdateCmdUI();
        Frame()->GetAction(33085)->trigger();
        Settle();
        return TakeMessages();
    };
    const std::string question = "The selected 3D array does not contain target information. Default\n"
                                 "target information as set in the project peferences is used.";
    for (const QString& title : {QStringLiteral("Control"), QStringLiteral("Targets")}) {
        SCOPED_TRACE(title.toStdString());
        const CPointSet* set = doc->pointSets.FindSetByTitle(title.toLatin1().constData());
        ASSERT_TRUE(set);
        const QString folder = out + "/" + title;
        const std::vector<std::string> shown = simulate(title, folder, false);
        EXPECT_EQ(shown, title == QStringLiteral("Control") ? std::vector<std::string>{question}
                                                          : std::vector<std::string>{});
        int observed = 0;
        for (int i = 0; i < doc->images.GetSize(); ++i) {
            const CProjectImage* image = doc->images.GetAt(i);
            const CCamera* camera = doc->cameras.FindByName(image->cameraName.GetText());
            ASSERT_TRUE(camera);
            EXPECT_EQ(image->targets.GetSize(), TargetsSeen(*set, *image, *camera, doc->targetNormal, angle))
                << image->name.GetText();
            observed += image->targets.GetSize();
            const QString picture = folder + "/" + image->name.GetText() + ".tif";
            EXPECT_EQ(QString::fromLatin1(image->GetFilePath().GetText()), picture);
            CImageStore store;
            ASSERT_TRUE(ReadStore(CTiffFileReader(picture.toStdString().c_str()), store));
            // The background is black; the centre of every observed target is lit.
            std::vector<int> histogram(256, 0);
            for (int y = 0; y < store.GetHeight(); y += 7)
                for (int x = 0; x < store.GetWidth(); x += 7)
                    ++histogram[store.GetPixel(0, y, x)];
            const int background = int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
            EXPECT_EQ(background, 0);
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                const CImageObservation* o = image->GetObservationAt(k);
                double column = 0.0, row = 0.0;
                camera->ImageToPixel(o->x, o->y, column, row);
                EXPECT_GE(store.GetPixel(0, int(row), int(column)) - background, 200) << o->label.GetText();
            }
            if (i == 0 && title == QStringLiteral("Control")) {
                QImage shot(store.GetWidth() / 4, store.GetHeight() / 4, QImage::Format_Grayscale8);
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x) {
                        int brightest = 0;
                        for (int dy = 0; dy < 4; ++dy)
                            for (int dx = 0; dx < 4; ++dx)
                                brightest = std::max(brightest, store.GetPixel(0, 4 * y + dy, 4 * x + dx));
                        shot.scanLine(y)[x] = uint8_t(brightest);
                    }
                shot.save(TestOutputFolder() + "/simulated-control-set.png");
            }
        }
        EXPECT_GT(observed, title == QStringLiteral("Control") ? 30 : 300);
    }

    // The preferences without a radius: the Control set's targets cannot
    // show. Nothing is written and nothing changes.
    doc->targetRadius = 0.0;
    std::vector<std::string> files;
    std::vector<int> counts;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        files.push_back(doc->images.GetAt(i)->GetFilePath().GetText());
        counts.push_back(doc->images.GetAt(i)->targets.GetSize());
    }
    const QString refused = out + "/refused";
    const std::vector<std::string> shown = simulate(QStringLiteral("Control"), refused, true);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], question);
    EXPECT_NE(shown[1].find("The 3D array Control would give pictures without targets"), std::string::npos) << shown[1];
    EXPECT_NE(shown[1].find("No image was simulated."), std::string::npos);
    EXPECT_TRUE(QDir(refused).entryList(QDir::Files).isEmpty());
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        EXPECT_EQ(doc->images.GetAt(i)->GetFilePath().GetText(), files[size_t(i)]);
        EXPECT_EQ(doc->images.GetAt(i)->targets.GetSize(), counts[size_t(i)]);
    }

    // The extended dialog refuses the same way: its own target information
    // with a radius of 0 for the set with radii.
    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        ChooseSet(d, QStringLiteral("Targets"));
        auto* custom = d.Item<QAbstractButton>(1040);
        QTest::mouseClick(custom, Qt::LeftButton, {}, QPoint(8, custom->height() / 2)); // on its circle
        EXPECT_TRUE(d.Item<QAbstractButton>(1040)->isChecked());
        EXPECT_TRUE(d.GetDlgItem(1398)->isEnabled());
        Type(d, 1398, QStringLiteral("0"));
        QTest::mouseClick(d.Item<QCheckBox>(1411), Qt::LeftButton);
        Type(d, 1396, refused);
        QTest::mouseClick(d.Item<QAbstractButton>(IDOK), Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        QTest::mouseClick(d.Item<QAbstractButton>(IDCANCEL), Qt::LeftButton);
        return d.result();
    });
    answers = {IDOK};
    TakeMessages();
    // Without a window manager nobody activates the project's window again.
    Frame()->GetMdiArea()->setActiveSubWindow(Frame()->GetProjectFrame());
    QAction* extendedCommand = Frame()->GetAction(363); // the command has no menu entry
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(extendedCommand->isEnabled());
    extendedCommand->trigger();
    Settle();
    const std::vector<std::string> extended = TakeMessages();
    ASSERT_EQ(extended.size(), 1u);
    EXPECT_NE(extended[0].find("The 3D array Targets would give pictures without targets"), std::string::npos)
        << extended[0];
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(QDir(refused).entryList(QDir::Files).isEmpty());
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        EXPECT_EQ(doc->images.GetAt(i)->GetFilePath().GetText(), files[size_t(i)]);
        EXPECT_EQ(doc->images.GetAt(i)->targets.GetSize(), counts[size_t(i)]);
    }
    Stop();
}

// Make Copy picks the first free "Copy" title and writes the copy at once;
// Set as Driver toggles the role and clears every resected flag.
TEST_F(ImageCommands, PointSetCommandsCopyAndToggleTheDriver)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    const QString folder = scratch.filePath(QStringLiteral("sets"));
    QDir().mkpath(folder);
    AddCamera(*doc, "Cam");
    AddImage(*doc, {"Cam", true, true, 2});
    CPointSet* trans = AddPointSet(*doc, (folder + "/Trans.xyz").toStdString().c_str());
    trans->AddNewPointSorted(CNameBuffer("P1"));
    trans->isDriver = true;
    AddPointSet(*doc, (folder + "/TransCopy.xyz").toStdString().c_str());
    doc->UpdateAllViews(nullptr, 0);
    CKestrelonView* tree = GetProjectTreeView();
    ASSERT_TRUE(tree);

    tree->SetSelectedPointSet(trans);
    tree->OnCmdMsg(339, nullptr);
    const CPointSet* copy = doc->FindPointSet("TransCopy1");
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->isDriver);
    EXPECT_EQ(std::string(copy->name.GetText()), (folder + "/TransCopy1.xyz").toStdString());
    EXPECT_TRUE(QFile::exists(folder + "/TransCopy1.xyz"));
    EXPECT_TRUE(tree->Find3DDataItem(QStringLiteral("TransCopy1")));

    // A copy that cannot be written stays in the project and is named.
    CPointSet* lost = AddPointSet(*doc, (folder + "/gone/Lost.xyz").toStdString().c_str());
    doc->SetModifiedFlag(false);
    TakeMessages();
    tree->SetSelectedPointSet(lost);
    tree->OnMakeCopy();
    EXPECT_TRUE(doc->FindPointSet("LostCopy"));
    EXPECT_TRUE(doc->IsModified());
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("gone/LostCopy.xyz"), std::string::npos);

    for (const bool driverAfter : {false, true}) {
        doc->images.GetAt(0)->oriented = true;
        tree->setCurrentItem(tree->Find3DDataItem(QStringLiteral("Trans")));
        tree->OnSetAsDriver();
        EXPECT_EQ(trans->isDriver, driverAfter);
        EXPECT_FALSE(doc->images.GetAt(0)->oriented);
        EXPECT_TRUE(doc->IsModified());
    }
    Stop();
}

// "..." of both dialogs puts the folder of the chosen file into the
// directory field; Cancel leaves the field.
TEST_F(ImageCommands, SimulateDialogsBrowseForTheImageFolder)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    CSimulateImagesSimpleDlg simple;
    CSimulateImagesDlg extended;
    for (CDialog* dialog : {static_cast<CDialog*>(&simple), static_cast<CDialog*>(&extended)}) {
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->Item<QCheckBox>(1411)->click();
        SetWindowText(dialog->GetDlgItem(1396), QStringLiteral("/start"));
        const struct {
            QString chosen; // "" = Cancel
            QString field;
        } steps[] = {{QStringLiteral("/pictures/new/Image Files"), QStringLiteral("/pictures/new")},
                     {QString(), QStringLiteral("/pictures/new")}};
        for (const auto& step : steps) {
            files = {step.chosen};
            const int before = fileDialogs;
            dialog->Item<QAbstractButton>(1397)->click();
            EXPECT_EQ(fileDialogs, before + 1);
            EXPECT_EQ(GetWindowText(dialog->GetDlgItem(1396)), step.field);
        }
    }
    Stop();
}

// The extended dialog's enabling rules, one click after another.
TEST_F(ImageCommands, ExtendedSimulateDialogEnablesByItsChoices)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    CSimulateImagesDlg dialog;
    ASSERT_TRUE(dialog.OnInitDialog());
    struct Step {
        int click;          // control clicked (0: none)
        bool ok, steps, normal, centre, method;
    };
    // Start: observations on, images off, real target centre, custom target information.
    const Step steps[] = {{0, true, false, true, true, false},
                          {1407, false, false, true, false, false},    // observations off
                          {1411, true, false, true, false, true},      // images on
                          {1407, true, false, true, true, true},       // observations on
                          {1385, true, false, false, true, true},      // array target information
                          {1411, true, false, false, true, false},     // images off
                          {1043, true, false, false, true, true}};     // computed centroid
    for (const Step& step : steps) {
        SCOPED_TRACE(step.click);
        if (step.click)
            dialog.Item<QAbstractButton>(step.click)->click();
        EXPECT_EQ(dialog.GetDlgItem(1)->isEnabled(), step.ok);
        EXPECT_EQ(dialog.GetDlgItem(1402)->isEnabled(), step.steps);
        EXPECT_EQ(dialog.GetDlgItem(1291)->isEnabled(), step.normal);
        EXPECT_EQ(dialog.GetDlgItem(1041)->isEnabled(), step.centre);
        EXPECT_EQ(dialog.GetDlgItem(1403)->isEnabled(), step.method);
    }
    auto* method = dialog.Item<QComboBox>(1403);
    method->setCurrentIndex(1);
    emit method->activated(1);
    EXPECT_TRUE(dialog.GetDlgItem(1402)->isEnabled());
    ExpectWholeAndSave(dialog, "/simulate-images-extended.png");
    Stop();
}


// --- "Create Images in Directory" on the sample with its photographs ---------

// What a simulation may change: each image's file and observations, and
// every file under a folder (by the hash of its bytes).
struct SimulationState {
    std::vector<std::string> paths;
    std::vector<std::string> observations;
    std::map<QString, QByteArray> files;
    bool modified = false;
};

std::map<QString, QByteArray> FilesUnder(const QString& folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        files[path] = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5);
    }
    return files;
}

SimulationState StateOf(const CKestrelonDoc* doc, const QString& folder)
{
    SimulationState state;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* image = doc->images.GetAt(i);
        state.paths.push_back(image->GetFilePath().GetText());
        std::string text;
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            const CImageObservation* o = image->GetObservationAt(k);
            char line[96];
            std::snprintf(line, sizeof line, "%s %.12g %.12g\n", o->label.GetText(), o->x, o->y);
            text += line;
        }
        state.observations.push_back(text);
    }
    state.files = FilesUnder(folder);
    state.modified = doc->IsModified();
    return state;
}

void ExpectSameState(const SimulationState& before, const SimulationState& after)
{
    EXPECT_EQ(after.paths, before.paths);
    EXPECT_EQ(after.observations, before.observations);
    EXPECT_EQ(after.files.size(), before.files.size());
    for (const auto& [path, hash] : before.files) {
        const auto found = after.files.find(path);
        EXPECT_TRUE(found != after.files.end() && found->second == hash) << path.toStdString();
    }
    EXPECT_EQ(after.modified, before.modified);
}

// Every image's file is there and is a picture of its camera's size.
void ExpectImageFilesPresent(const CKestrelonDoc* doc)
{
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* image = doc->images.GetAt(i);
        const CCamera* camera = doc->cameras.FindByName(image->cameraName.GetText());
        int width = 0, height = 0;
        EXPECT_TRUE(camera && ReadImageFileSize(image->GetFilePath().GetText(), width, height) &&
                    width == camera->XPixels && height == camera->YPixels)
            << image->GetFilePath().GetText();
    }
}

// The process works in a folder of its own while it lives.
class WorkingFolder {
public:
    explicit WorkingFolder(const QString& folder) : m_old(QDir::currentPath())
    {
        QDir().mkpath(folder);
        EXPECT_TRUE(QDir::setCurrent(folder));
    }
    ~WorkingFolder() { QDir::setCurrent(m_old); }
    QString Path() const { return QDir::currentPath(); }

private:
    QString m_old;
};

class SimulateIntoFolder : public ImageCommands {
protected:
    // The sample project with its photographs Image001.tif ..., opened.
    CKestrelonDoc* OpenSampleWithPictures(const QString& name)
    {
        const QString path = WriteSample(name);
        std::string message;
        EXPECT_TRUE(WriteSamplePictures(QFileInfo(path).absolutePath().toStdString(), message)) << message;
        if (!app) {
            EXPECT_TRUE(Start());
        }
        EXPECT_NE(app->OpenDocumentFile(path), nullptr);
        Settle();
        CKestrelonDoc* opened = GetActiveKestrelonDoc();
        EXPECT_TRUE(opened && !opened->IsModified());
        return opened;
    }
    // Runs the command; its dialog creates images in the folder typed into
    // the directory field (none typed: the one proposed), with the message
    // boxes answered in turn. Returns the messages; stayedOpen tells whether
    // OK left the dialog open (it is then cancelled).
    std::vector<std::string> Simulate(int command, const QString* folder, std::deque<int> answered, bool& stayedOpen)
    {
        stayedOpen = false;
        bool reached = false;
        dialogs.push_back([&](CDialog& d) {
            reached = true;
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            QTest::mouseClick(d.Item<QCheckBox>(1411), Qt::LeftButton);
            if (folder) {
                auto* edit = d.Item<QLineEdit>(1396);
                edit->setFocus();
                edit->selectAll();
                QTest::keyClick(edit, Qt::Key_Backspace);
                QTest::keyClicks(edit, *folder);
                EXPECT_EQ(edit->text(), *folder);
            }
            QTest::mouseClick(d.Item<QAbstractButton>(IDOK), Qt::LeftButton);
            stayedOpen = d.isVisible();
            if (stayedOpen)
                QTest::mouseClick(d.Item<QAbstractButton>(IDCANCEL), Qt::LeftButton);
            return d.result();
        });
        answers = std::move(answered);
        TakeMessages();
        Frame()->GetMdiArea()->setActiveSubWindow(Frame()->GetProjectFrame());
        QAction* action = Frame()->GetAction(command); // 363 has no menu entry
        Frame()->UpdateCmdUI();
        EXPECT_TRUE(action->isEnabled());
        action->trigger();
        Settle();
        EXPECT_TRUE(reached);
        dialogs.clear();
        answers.clear();
        return TakeMessages();
    }
};

// The simple dialog asks first whether the default target information may
// be used (the sample's Control set has none); the extended one does not.
const char kTargetQuestion[] = "The selected 3D array does not contain target information. Default\n"
                               "target information as set in the project peferences is used.";

struct SimulateCommand {
    int id;
    bool asksForTargets;
};
const SimulateCommand kSimulateCommands[] = {{33085, true}, {363, false}};

// The folder proposed is the project folder, where the photographs are:
// one question names the folder and the count; No leaves every byte,
// path and observation as it was, Yes replaces the photographs.
TEST_F(SimulateIntoFolder, SimulateImagesAsksBeforeReplacingThePhotographs)
{
    for (const SimulateCommand& command : kSimulateCommands) {
        SCOPED_TRACE(command.id);
        CKestrelonDoc* doc = OpenSampleWithPictures(QStringLiteral("sample%1").arg(command.id));
        ASSERT_TRUE(doc);
        const QString project = QString::fromLatin1(doc->GetProjectDirectory().GetText());
        const SimulationState before = StateOf(doc, project);
        const std::string question = std::to_string(doc->images.GetSize()) + " image files in the folder " +
                                     project.toStdString() + " would be replaced.\nContinue?";
        std::vector<std::string> asked;
        if (command.asksForTargets)
            asked.push_back(kTargetQuestion);
        asked.push_back(question);
        for (const int answer : {IDNO, IDYES}) {
            SCOPED_TRACE(answer);
            std::deque<int> answered{answer};
            if (command.asksForTargets)
                answered.push_front(IDOK);
            bool stayedOpen = false;
            EXPECT_EQ(Simulate(command.id, nullptr, answered, stayedOpen), asked);
            EXPECT_EQ(stayedOpen, answer == IDNO);
            ExpectImageFilesPresent(doc);
            const SimulationState after = StateOf(doc, project);
            if (answer == IDNO) {
                ExpectSameState(before, after);
                continue;
            }
            EXPECT_EQ(after.paths, before.paths);
            EXPECT_NE(after.observations, before.observations);
            EXPECT_TRUE(after.modified);
            for (const std::string& path : before.paths)
                EXPECT_NE(after.files.at(QString::fromStdString(path)), before.files.at(QString::fromStdString(path)))
                    << path;
        }
        Stop();
    }
}

// The folder text: empty and missing folders are refused with one message
// and change nothing; a relative one is taken in the project folder, never
// in the program's working folder, and the images then point at absolute
// paths of pictures that exist.
TEST_F(SimulateIntoFolder, SimulateImagesFolderIsCheckedAndTakenInTheProjectFolder)
{
    const WorkingFolder working(scratch.filePath(QStringLiteral("working")));
    for (const SimulateCommand& command : kSimulateCommands) {
        SCOPED_TRACE(command.id);
        const QString name = QStringLiteral("projects%1/sample").arg(command.id);
        CKestrelonDoc* doc = OpenSampleWithPictures(name);
        ASSERT_TRUE(doc);
        const QString project = scratch.filePath(name);
        ASSERT_EQ(std::string(doc->GetProjectDirectory().GetText()), project.toStdString());
        const QString parent = scratch.filePath(QStringLiteral("projects%1").arg(command.id));
        ASSERT_TRUE(QDir().mkpath(project + "/sub"));
        const struct {
            QString typed;
            QString folder;  // where the pictures go ("": nowhere)
            std::string refusal;
        } cases[] = {
            {QString(), QString(), "Enter the folder in which the images are to be created."},
            {QStringLiteral("   "), QString(), "Enter the folder in which the images are to be created."},
            {QStringLiteral("missing"), QString(), "The folder " + project.toStdString() + "/missing does not exist."},
            {project + "/gone/deeper", QString(), "The folder " + project.toStdString() + "/gone/deeper does not exist."},
            {QStringLiteral("Sample.kst"), QString(), project.toStdString() + "/Sample.kst is not a folder."},
            {QStringLiteral("sub"), project + "/sub", ""},
            {QStringLiteral("./sub/"), project + "/sub", ""}, // the same pictures again: asked
            {QStringLiteral(".."), parent, ""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.typed.toStdString());
            const SimulationState before = c.folder.isEmpty() ? StateOf(doc, parent) : SimulationState();
            std::vector<std::string> expected;
            std::deque<int> answered;
            const bool replaces = !c.folder.isEmpty() && QFile::exists(c.folder + "/Image001.tif");
            if (c.folder.isEmpty()) {
                expected.push_back(c.refusal);
            } else {
                if (command.asksForTargets) {
                    expected.push_back(kTargetQuestion);
                    answered.push_back(IDOK);
                }
                if (replaces) {
                    expected.push_back(std::to_string(doc->images.GetSize()) + " image files in the folder " +
                                       c.folder.toStdString() + " would be replaced.\nContinue?");
                    answered.push_back(IDYES);
                }
            }
            bool stayedOpen = false;
            EXPECT_EQ(Simulate(command.id, &c.typed, answered, stayedOpen), expected);
            EXPECT_EQ(stayedOpen, c.folder.isEmpty());
            EXPECT_TRUE(QDir(working.Path()).isEmpty());
            ExpectImageFilesPresent(doc);
            if (c.folder.isEmpty()) {
                ExpectSameState(before, StateOf(doc, parent));
                continue;
            }
            for (int i = 0; i < doc->images.GetSize(); ++i)
                EXPECT_EQ(std::string(doc->images.GetAt(i)->GetFilePath().GetText()),
                          (c.folder + "/" + doc->images.GetAt(i)->name.GetText() + ".tif").toStdString());
        }
        Stop();
    }
}

} // namespace image_commands_test
