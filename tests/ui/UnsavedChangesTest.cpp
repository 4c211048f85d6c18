// Changes a user makes are never lost without a question: every change of an
// image's measurements and every edit of a project record marks the project,
// closing it asks, and a project file that cannot be opened leaves the open
// projects as they were. Image windows keep their own titles meanwhile.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Camera.h"
#include "CameraDialogs.h"
#include "DeviceDialogs.h"
#include "Frames.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "PointDialogs.h"
#include "ProjectFile.h"
#include "ProjectImage.h"
#include "Resources.h"
#include "SamplePictures.h"
#include "SampleProject.h"
#include "TargetRenderer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QTableWidget>
#include <QContextMenuEvent>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace unsaved_changes_test {

constexpr double kPi = 3.14159265358979323846;
// Dark discs on a light picture of 200 x 150 pixels: three in a row, one
// below; a vertical bar at the right for plumb lines.
constexpr double kDiscs[4][2] = {{30.3, 40.6}, {65.4, 40.2}, {100.6, 40.5}, {60.2, 110.4}};
constexpr double kBarColumn = 180.3;

enum Close { kCloseBox, kProjectClose, kExit };
const char* const kCloseNames[] = {"the main window's close box", "Project > Close", "Exit"};

// What the project file keeps of an image's measurements and orientation.
std::string Fingerprint(const CProjectImage& image)
{
    std::string text;
    for (int i = 0; i < image.targets.GetSize(); ++i)
        text += std::string(image.targets.GetAt(i)->label.GetText()) + " ";
    char pose[96];
    std::snprintf(pose, sizeof pose, "| %d %.1f %.1f %.1f", int(image.oriented), image.X, image.Y, image.Z);
    return text + pose;
}

class UnsavedChanges : public ShellFixture {
protected:
    // Runs the command as its menu item or toolbar button does.
    void Trigger(int id)
    {
        Frame()->UpdateCmdUI();
        QAction* action = Frame()->GetAction(id);
        ASSERT_TRUE(action->isEnabled()) << id;
        action->trigger();
        Settle();
    }
    // Closes the project the way a user does; answer goes to the save question.
    void CloseProject(Close how, int answer)
    {
        answers.push_back(answer);
        switch (how) {
        case kCloseBox:
            Frame()->close();
            break;
        case kProjectClose:
            Trigger(ID_FILE_CLOSE);
            break;
        case kExit:
            Trigger(ID_APP_EXIT);
            break;
        }
        Settle();
    }
    // The project file read back as the program reads it.
    static std::unique_ptr<CProjectDocument> Reopen(const QString& path)
    {
        auto reopened = std::make_unique<CProjectDocument>();
        EXPECT_TRUE(ReadWriteProjectFile(*reopened, path.toLocal8Bit().constData(), PROJECT_FILE_LOAD).ok);
        return reopened;
    }
    QPoint ClientPoint(double column, double row) const
    {
        const QSize size = view->viewport()->size();
        return QPoint(int(column / 200.0 * size.width()), int(row / 150.0 * size.height()));
    }
    void Click(double column, double row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, ClientPoint(column, row));
        Settle();
    }
    // A new project with camera "Cam" and Image1 on the picture, saved as
    // Proj.kst in a folder of its own, with the image's window open.
    void OpenSavedProject()
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
        std::vector<std::pair<double, double>> centres;
        for (const auto& d : kDiscs)
            centres.emplace_back(d[0], d[1]);
        TargetScene scene = DarkDiscScene(200, 150, centres, 5.0, 0.7, 1.0);
        RenderedTarget bar;
        bar.kind = TargetKind::Bar;
        bar.x = kBarColumn;
        bar.y = 75.0;
        bar.rotation = 0.5 * kPi;
        bar.barWidth = 4.0;
        bar.amplitude = -180.0;
        scene.targets.push_back(bar);
        CCamera* camera = AddCamera(*doc, "Cam");
        camera->XPixels = scene.width;
        camera->YPixels = scene.height;
        camera->XPixelSize = camera->YPixelSize = 0.01;
        const QString folder = scratch.filePath(QStringLiteral("run%1").arg(++runs));
        QDir().mkpath(folder);
        const std::string picture = (folder + QStringLiteral("/picture.bmp")).toStdString();
        ASSERT_TRUE(WritePicture(picture, RenderScene(scene)));
        image = AddImage(*doc, {"Cam", true, false, 0});
        image->SetFilePath(picture.c_str());
        projectPath = folder + QStringLiteral("/Proj.kst");
        files.push_back(projectPath);
        ASSERT_TRUE(doc->SaveProject());
        doc->UpdateAllViews(nullptr, 0);
        view = OpenImageWindow(doc, image);
        ASSERT_NE(view, nullptr);
        view->GetParentFrame()->showNormal();
        view->GetParentFrame()->resize(460, 380);
        Settle();
        ASSERT_FALSE(doc->IsModified());
        TakeMessages();
    }

    int runs = 0;
    QString projectPath;
    CProjectImage* image = nullptr;
    CImageView* view = nullptr;
};

// Each kind of change, then a close: the question comes; Yes saves the
// change, No leaves the file as it was saved before it.
TEST_F(UnsavedChanges, EveryChangeOfAnImagesMeasurementsAsksBeforeClosing)
{
    struct Change {
        const char* name;
        std::function<void()> prepare; // its result is saved before the change
        std::function<void()> act;
    };
    const Change changes[] = {
        {"Auto click", nullptr, [&] { Click(kDiscs[0][0] + 1.0, kDiscs[0][1] - 1.0); }},
        {"Ctrl click", nullptr, [&] { Click(kDiscs[3][0], kDiscs[3][1], Qt::ControlModifier); }},
        {"Manual click",
         nullptr,
         [&] {
             Trigger(33071);
             Click(kDiscs[3][0], kDiscs[3][1]);
         }},
        {"row of targets", [&] { Click(kDiscs[0][0], kDiscs[0][1]); },
         [&] { Click(kDiscs[1][0], kDiscs[1][1], Qt::ShiftModifier); }},
        {"plumb line",
         nullptr,
         [&] {
             Trigger(32885);
             Click(kBarColumn, 30.0);
             Click(kBarColumn, 60.0);
         }},
        {"AutoScan", nullptr, [&] { Trigger(33025); }},
        {"undo", [&] { Click(kDiscs[0][0], kDiscs[0][1]); }, [&] { Trigger(32962); }},
        {"delete by area",
         [&] {
             Click(kDiscs[0][0], kDiscs[0][1]);
             Click(kDiscs[3][0], kDiscs[3][1]);
         },
         [&] {
             Trigger(32818);
             const QPoint from = ClientPoint(kDiscs[0][0] - 10.0, kDiscs[0][1] - 10.0);
             const QPoint to = ClientPoint(kDiscs[0][0] + 10.0, kDiscs[0][1] + 10.0);
             QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
             QTest::mouseMove(view->viewport(), to);
             QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(3, 3));
             Settle();
         }},
        {"delete by label", [&] { Click(kDiscs[0][0], kDiscs[0][1]); },
         [&] {
             dialogs.push_back([this](CDialog& d) {
                 Type(d, CDeletePointDlg::kLabel, QStringLiteral("1"));
                 return ClickOk(d, nullptr);
             });
             Trigger(32819);
         }},
        {"delete all", [&] { Click(kDiscs[0][0], kDiscs[0][1]); },
         [&] {
             answers.push_back(IDYES);
             Trigger(32820);
         }},
    };
    int run = 0;
    for (const Change& change : changes)
        for (const int answer : {IDYES, IDNO}) {
            const Close how = Close(run++ % 3);
            SCOPED_TRACE(std::string(change.name) + (answer == IDYES ? ", Yes, " : ", No, ") + kCloseNames[how]);
            ASSERT_NO_FATAL_FAILURE(OpenSavedProject());
            if (change.prepare) {
                change.prepare();
                if (doc->IsModified())
                    Trigger(ID_FILE_SAVE);
                // Back to the image window, as a click on it does.
                Frame()->GetMdiArea()->setActiveSubWindow(view->GetParentFrame());
                view->setFocus();
                Settle();
            }
            ASSERT_FALSE(doc->IsModified());
            const std::string before = Fingerprint(*image);
            change.act();
            TakeMessages();
            const std::string after = Fingerprint(*image);
            EXPECT_NE(after, before);
            EXPECT_TRUE(doc->IsModified());
            EXPECT_EQ(doc->GetTitle(), QStringLiteral("Proj.kst*"));
            EXPECT_EQ(Frame()->GetProjectFrame()->windowTitle(), QStringLiteral("Proj.kst*"));
            EXPECT_EQ(view->GetParentFrame()->windowTitle(), QStringLiteral("Image1"));
            if (run == 1)
                EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/UnsavedChangesMeasured.png"));
            CloseProject(how, answer);
            EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save changes to Proj.kst?"});
            Stop();
            const auto reopened = Reopen(projectPath);
            const CProjectImage* stored = reopened->images.FindByName("Image1");
            ASSERT_NE(stored, nullptr);
            EXPECT_EQ(Fingerprint(*stored), answer == IDYES ? after : before);
        }
}

// The user's walk on the sample: an Auto click on a target of Image001, or a
// Driveback, then the main window's close box.
TEST_F(UnsavedChanges, SampleClickAndDrivebackAskWhenTheMainWindowCloses)
{
    CSampleTruth truth;
    BuildSampleTruth(truth);
    struct Change {
        const char* name;
        std::function<void(CImageView*, CProjectImage&)> act;
    };
    const Change changes[] = {
        {"Auto click",
         [&](CImageView* shown, CProjectImage& first) {
             const QRect visible = shown->viewport()->rect().adjusted(12, 12, -12, -12);
             QPoint at;
             for (int i = 0; i < truth.targets.GetSize(); ++i) {
                 const CObjectPoint& p = *truth.targets.GetAt(i);
                 CImageObservation o;
                 if (first.targets.Find(p.label) || !SampleTargetInImage(truth, 0, p, 0.98, o, 0.05))
                     continue;
                 const QPoint device = shown->ImageToDevice(o.x, o.y, shown->viewport()->rect());
                 if (visible.contains(device))
                     at = device;
             }
             ASSERT_FALSE(at.isNull()) << "no unmeasured target in sight";
             Frame()->UpdateCmdUI();
             QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
             box->selectAll();
             QTest::keyClicks(box, QStringLiteral("T200"));
             QTest::mouseClick(shown->viewport(), Qt::LeftButton, {}, at + QPoint(1, -1));
             Settle();
             EXPECT_NE(first.targets.Find(CNameBuffer("T200")), nullptr) << Frame()->GetPaneText(0).toStdString();
         }},
        {"Driveback",
         [&](CImageView*, CProjectImage& first) {
             answers.push_back(IDYES); // the resection's RMS question
             Trigger(32872);
             EXPECT_TRUE(first.oriented);
         }},
    };
    for (const Change& change : changes)
        for (const int answer : {IDYES, IDNO}) {
            SCOPED_TRACE(std::string(change.name) + (answer == IDYES ? ", Yes" : ", No"));
            // The sample with its pictures.
            const QString folder = scratch.filePath(QStringLiteral("sample%1").arg(++runs));
            std::string written;
            ASSERT_TRUE(::WriteSample(folder.toStdString(), written)) << written;
            const QString project = folder + QStringLiteral("/Sample.kst");
            ASSERT_TRUE(Start({QStringLiteral("--nosplash"), project}));
            Frame()->resize(1280, 960);
            Settle();
            doc = GetActiveKestrelonDoc();
            ASSERT_NE(doc, nullptr);
            CProjectImage* first = doc->images.FindByName("Image001");
            ASSERT_NE(first, nullptr);
            CImageView* shown = OpenImageWindow(doc, first);
            ASSERT_NE(shown, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(shown->viewport()));
            shown->viewport()->grab();
            Settle();
            ASSERT_FALSE(doc->IsModified());
            TakeMessages();
            const std::string before = Fingerprint(*first);
            change.act(shown, *first);
            TakeMessages();
            const std::string after = Fingerprint(*first);
            EXPECT_NE(after, before);
            EXPECT_TRUE(doc->IsModified());
            EXPECT_EQ(doc->GetTitle(), QStringLiteral("Sample.kst*"));
            EXPECT_EQ(shown->GetParentFrame()->windowTitle(), QStringLiteral("Image001"));
            CloseProject(kCloseBox, answer);
            EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save changes to Sample.kst?"});
            Stop();
            const auto reopened = Reopen(project);
            const CProjectImage* stored = reopened->images.FindByName("Image001");
            ASSERT_NE(stored, nullptr);
            EXPECT_EQ(Fingerprint(*stored), answer == IDYES ? after : before);
        }
}

// The project's camera edited through each of its paths, and the project's
// EO device through Properties: the project is marked, and the close asks.
TEST_F(UnsavedChanges, EditsOfProjectRecordsMarkTheProject)
{
    // Types 0.0074 as the horizontal pixel size, Saves, and closes the dialog.
    const auto savePixelSize = [](CDialog& d) {
        EXPECT_NE(dynamic_cast<CCameraDataDlg*>(&d), nullptr);
        Type(d, 1006, QStringLiteral("0.0074"));
        d.Item<QAbstractButton>(1031)->click(); // "Save", then "Camera parameters have been recorded"
        d.Item<QAbstractButton>(IDCANCEL)->click();
        return d.result();
    };
    const auto treeItem = [this](const QString& text) {
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    };
    // A click on the item, then its context menu by a right-click, and the
    // entry chosen with the keyboard.
    const auto menuCommand = [&](const QString& itemText, const QString& entry) {
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        QTreeWidgetItem* item = treeItem(itemText);
        ASSERT_NE(item, nullptr) << itemText.toStdString();
        tree->scrollToItem(item);
        const QPoint at = tree->visualItemRect(item).center();
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        Settle();
        bool chosen = false;
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions())
                if (!chosen && a->text().startsWith(entry)) {
                    menu->setActiveAction(a);
                    chosen = true;
                }
            if (chosen)
                QTest::keyClick(menu, Qt::Key_Return);
            else
                menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(tree->viewport(), &event);
        Settle();
        EXPECT_TRUE(chosen) << entry.toStdString();
    };
    const auto doubleClickTree = [&](const QString& itemText) {
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        QTreeWidgetItem* item = treeItem(itemText);
        ASSERT_NE(item, nullptr);
        tree->scrollToItem(item);
        const QPoint at = tree->visualItemRect(item).center();
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        Settle();
    };
    struct Path {
        const char* name;
        std::function<void()> edit;
        std::function<bool(const CProjectDocument&)> stored; // the edit is in the file
    };
    const auto pixelSaved = [](const CProjectDocument& d) {
        const CCamera* camera = d.cameras.FindByName("Cam");
        return camera && camera->XPixelSize == 0.0074;
    };
    const Path paths[] = {
        {"the camera menu's View Camera Data",
         [&] {
             dialogs.push_back(savePixelSize);
             menuCommand(QStringLiteral("Cam"), QStringLiteral("View Camera Data"));
         },
         pixelSaved},
        {"a double-click in the project cameras list",
         [&] {
             CKestrelonView* tree = Frame()->GetProjectTreeView();
             tree->scrollToItem(tree->ProjectRoot());
             QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->ProjectRoot()).center());
             Settle();
             auto* list = dynamic_cast<CProjectCamerasListView*>(Frame()->GetProjectFrame()->GetRightPane());
             ASSERT_NE(list, nullptr);
             ASSERT_EQ(list->RowCount(), 1);
             dialogs.push_back(savePixelSize);
             const QPoint at = list->visualRect(list->model()->index(0, 0)).center();
             QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
             QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
             Settle();
         },
         pixelSaved},
        {"a double-click on the camera in the tree",
         [&] {
             dialogs.push_back(savePixelSize);
             doubleClickTree(QStringLiteral("Cam"));
         },
         pixelSaved},
        {"a fiducial mark moved through View Camera Data's Fiducials",
         [&] {
             dialogs.push_back([](CDialog& d) {
                 d.Item<QAbstractButton>(1119)->click();
                 d.Item<QAbstractButton>(IDCANCEL)->click();
                 return d.result();
             });
             dialogs.push_back([](CDialog& d) {
                 auto* list = d.findChild<QTableWidget*>();
                 EXPECT_NE(list, nullptr);
                 if (!list || list->rowCount() != 1)
                     return -1;
                 const QPoint at = list->visualItemRect(list->item(0, 0)).center();
                 QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                 QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
                 d.Item<QAbstractButton>(IDOK)->click();
                 return d.result();
             });
             dialogs.push_back([this](CDialog& d) {
                 Type(d, 1055, QStringLiteral("5.5"));
                 return ClickOk(d, nullptr);
             });
             menuCommand(QStringLiteral("Cam"), QStringLiteral("View Camera Data"));
         },
         [](const CProjectDocument& d) {
             const CCamera* camera = d.cameras.FindByName("Cam");
             return camera && camera->fiducials.GetSize() == 1 && camera->fiducials.GetAt(0)->x == 5.5;
         }},
        {"the EO device's Properties",
         [&] {
             dialogs.push_back([this](CDialog& d) {
                 EXPECT_NE(dynamic_cast<CEODevicePropertiesDlg*>(&d), nullptr);
                 Type(d, 1371, QStringLiteral("checked"));
                 return ClickOk(d, nullptr);
             });
             menuCommand(QStringLiteral("Probe"), QStringLiteral("Properties"));
         },
         [](const CProjectDocument& d) { return std::string(d.eoDevice.comment.GetText()) == "checked"; }},
    };
    int run = 0;
    for (const Path& path : paths)
        for (const int answer : {IDYES, IDNO}) {
            const Close how = Close(run++ % 3);
            SCOPED_TRACE(std::string(path.name) + (answer == IDYES ? ", Yes, " : ", No, ") + kCloseNames[how]);
            ASSERT_NO_FATAL_FAILURE(NewProject());
            CCamera* camera = AddCamera(*doc, "Cam");
            camera->XPixels = 2000;
            camera->YPixels = 1500;
            camera->XPixelSize = camera->YPixelSize = 0.005;
            camera->fiducials.AddSorted(CImageObservation(CNameBuffer("F1"), 10.0, 10.0));
            const QString folder = scratch.filePath(QStringLiteral("records%1").arg(run));
            QDir().mkpath(folder);
            QFile device(folder + QStringLiteral("/Probe.xyz"));
            ASSERT_TRUE(device.open(QIODevice::WriteOnly));
            device.write("E1 0 0 0\nE2 100 0 0\nE3 0 100 0\nE4 0 0 100\n");
            device.close();
            const QString project = folder + QStringLiteral("/Proj.kst");
            files.push_back(project);
            ASSERT_TRUE(doc->SaveProject());
            files.push_back(device.fileName());
            ASSERT_TRUE(doc->ImportEODeviceFile());
            doc->UpdateAllViews(nullptr, 0);
            Trigger(ID_FILE_SAVE);
            ASSERT_FALSE(doc->IsModified());
            TakeMessages();

            path.edit();
            EXPECT_TRUE(dialogs.empty());
            EXPECT_TRUE(doc->IsModified());
            EXPECT_EQ(doc->GetTitle(), QStringLiteral("Proj.kst*"));
            TakeMessages();
            CloseProject(how, answer);
            EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save changes to Proj.kst?"});
            Stop();
            EXPECT_EQ(path.stored(*Reopen(project)), answer == IDYES);
        }
}

// A project file that cannot be read: its message, and the projects that
// were open stay open, the active one active, modified or not.
TEST_F(UnsavedChanges, AFailedOpenLeavesTheOpenProjectsAsTheyWere)
{
    const QString sample = WriteSample();
    QFile whole(sample);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    whole.close();
    const QString truncated = scratch.filePath(QStringLiteral("Truncated.kst"));
    const QString text = scratch.filePath(QStringLiteral("Notes.kst"));
    for (const auto& [path, content] : {std::make_pair(truncated, bytes.left(bytes.size() / 2)),
                                        std::make_pair(text, QByteArray("These are notes, not a project.\n"))}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    for (const QString& damaged : {truncated, text})
        for (const bool modified : {false, true}) {
            SCOPED_TRACE(damaged.toStdString() + (modified ? ", modified" : ", unmodified"));
            ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
            CKestrelonDoc* opened = GetActiveKestrelonDoc();
            ASSERT_NE(opened, nullptr);
            // A second project, new; then the sample is the active one again.
            Trigger(ID_FILE_NEW);
            CKestrelonDoc* second = GetActiveKestrelonDoc();
            ASSERT_NE(second, nullptr);
            ASSERT_NE(second, opened);
            CMDIChildWnd* frame = opened->GetFrames().front();
            Frame()->GetMdiArea()->setActiveSubWindow(frame);
            Settle();
            ASSERT_EQ(GetActiveKestrelonDoc(), opened);
            if (modified)
                opened->SetModifiedFlag(true);
            const QString title = opened->GetTitle();
            const int images = opened->images.GetSize();
            const int windows = Frame()->GetMdiArea()->subWindowList().size();
            TakeMessages();

            if (modified)
                answers.push_back(IDNO);
            files.push_back(damaged);
            Trigger(ID_FILE_OPEN);
            const std::vector<std::string> shown = TakeMessages();
            ASSERT_EQ(shown.size(), modified ? 2u : 1u);
            if (modified)
                EXPECT_EQ(shown[0], "Save changes to Sample.kst?");
            EXPECT_EQ(shown.back().rfind("The project file ", 0), 0u) << shown.back();
            EXPECT_NE(shown.back().find("cannot be loaded"), std::string::npos) << shown.back();

            ASSERT_TRUE(IsLiveDocument(opened));
            ASSERT_TRUE(IsLiveDocument(second));
            EXPECT_EQ(GetActiveKestrelonDoc(), opened);
            EXPECT_EQ(Frame()->GetMdiArea()->activeSubWindow(), frame);
            EXPECT_EQ(Frame()->GetMdiArea()->subWindowList().size(), windows);
            EXPECT_EQ(opened->IsModified(), modified);
            EXPECT_EQ(opened->GetTitle(), title);
            EXPECT_EQ(opened->images.GetSize(), images);
            if (damaged == text && modified)
                EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/UnsavedChangesFailedOpen.png"));

            // A file that opens takes the place of the project not saved in
            // this run, after the question when it is modified.
            if (modified)
                answers.push_back(IDNO);
            files.push_back(WriteSample(QStringLiteral("other%1").arg(++runs)));
            Trigger(ID_FILE_OPEN);
            const std::vector<std::string> asked = TakeMessages();
            EXPECT_EQ(std::count(asked.begin(), asked.end(), "Save changes to Sample.kst?"), modified ? 1 : 0);
            EXPECT_FALSE(IsLiveDocument(opened));
            EXPECT_TRUE(IsLiveDocument(second));
            ASSERT_NE(GetActiveKestrelonDoc(), nullptr);
            EXPECT_NE(GetActiveKestrelonDoc(), second);
            EXPECT_EQ(GetActiveKestrelonDoc()->GetTitle(), QStringLiteral("Sample.kst"));
            second->SetModifiedFlag(false);
            Stop();
        }
}

// Two image windows: a change of the project's modified flag, a save, an
// AutoScan and Next Image leave each with its own title.
TEST_F(UnsavedChanges, ImageWindowsKeepTheirTitles)
{
    ASSERT_NO_FATAL_FAILURE(OpenSavedProject());
    CProjectImage* second = AddImage(*doc, {"Cam", true, false, 0});
    second->SetFilePath(image->GetFilePath().GetText());
    Trigger(ID_FILE_SAVE);
    CImageView* first = view;
    CImageView* other = OpenImageWindow(doc, second);
    ASSERT_NE(other, nullptr);
    Settle();
    const auto titles = [&] {
        return QStringList{Frame()->GetProjectFrame()->windowTitle(), first->GetParentFrame()->windowTitle(),
                           other->GetParentFrame()->windowTitle()};
    };
    EXPECT_EQ(titles(), (QStringList{"Proj.kst", "Image1", "Image2"}));

    Frame()->GetMdiArea()->setActiveSubWindow(first->GetParentFrame());
    Settle();
    Click(kDiscs[0][0], kDiscs[0][1]);
    EXPECT_EQ(titles(), (QStringList{"Proj.kst*", "Image1", "Image2"}));
    Trigger(ID_FILE_SAVE);
    EXPECT_EQ(titles(), (QStringList{"Proj.kst", "Image1", "Image2"}));
    Frame()->GetMdiArea()->setActiveSubWindow(other->GetParentFrame());
    Settle();
    Trigger(33025); // AutoScan
    EXPECT_EQ(titles(), (QStringList{"Proj.kst*", "Image1", "Image2"}));
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/UnsavedChangesTitles.png"));
    Frame()->GetMdiArea()->setActiveSubWindow(first->GetParentFrame());
    Settle();
    Trigger(32959); // Next Image: saves the project and shows Image2
    EXPECT_EQ(titles(), (QStringList{"Proj.kst", "Image2", "Image2"}));
    TakeMessages();
}

} // namespace unsaved_changes_test
