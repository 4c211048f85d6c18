// The application shell started as the program starts it: menus, frames,
// the splash, recent files, the save question and command enabling.
#include "ShellFixture.h"

#include "3DView.h"
#include "DocFramework.h"
#include "MessageHub.h"
#include "Frames.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "RealMessageBoxes.h"
#include "Resources.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

namespace {

std::vector<CProjectFrame*> ProjectFrames(CMainFrame* frame)
{
    std::vector<CProjectFrame*> frames;
    for (QMdiSubWindow* w : frame->GetMdiArea()->subWindowList())
        if (auto* p = dynamic_cast<CProjectFrame*>(w))
            frames.push_back(p);
    return frames;
}

QStringList MenuTitles(CMainFrame* frame)
{
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions())
        titles << a->text();
    return titles;
}

bool Enabled(CMainFrame* frame, int id)
{
    frame->UpdateCmdUI();
    return frame->GetAction(id)->isEnabled();
}

using Shell = ShellFixture;

TEST_F(Shell, WithoutArgumentsTheMaximisedFrameShowsNoProjectAndMenu119)
{
    ASSERT_TRUE(Start());
    CMainFrame* frame = Frame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Kestrelon"));
    EXPECT_TRUE(frame->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(frame->GetMdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame->GetCurrentMenu(), kMainMenu);
    EXPECT_EQ(MenuTitles(frame), (QStringList{"&Project", "Vie&w", "He&lp"}));
    // 33 slots; the four embedded fields are placed and disabled.
    EXPECT_EQ(frame->GetToolBar()->actions().size(), kToolbarSlotCount);
    for (int id : {IDC_POINT_LABEL, IDC_POINT_INCREMENT, IDC_CENTROID_WINDOW, IDC_IMAGE_QUALITY}) {
        QWidget* control = frame->findChild<QWidget*>(IdName(id));
        ASSERT_NE(control, nullptr) << id;
        EXPECT_FALSE(control->isEnabled()) << id;
    }
    EXPECT_EQ(frame->findChild<QWidget*>(IdName(ID_PANE_3))->width(), 125);
    EXPECT_EQ(frame->findChild<QWidget*>(IdName(ID_PANE_4))->width(), 85);
}

TEST_F(Shell, TheSampleOpensOnMenu125AndIsPictured)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    CMainFrame* frame = Frame();
    ASSERT_EQ(ProjectFrames(frame).size(), 1u);
    CProjectFrame* project = ProjectFrames(frame).front();
    EXPECT_EQ(frame->GetCurrentMenu(), kProjectMenu);
    EXPECT_EQ(MenuTitles(frame).mid(0, 4), (QStringList{"&Project", "Ed&it", "Vie&w", "Mea&surement"}));
    EXPECT_TRUE(project->windowTitle().startsWith(QStringLiteral("Sample.kst")));
    EXPECT_TRUE(project->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(frame->GetProjectFrame(), project);
    CKestrelonView* tree = project->GetTreeView();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->ProjectRoot()->child(0)->childCount(), 10); // the images
    EXPECT_NE(dynamic_cast<CDBaseCamerasListView*>(project->GetRightPane()), nullptr);
    // The only message: the sample's scale bar is new to the fresh database.
    const auto messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Scale Bar SampleBar Is Not In Database!", 0), 0u);

    tree->ProjectRoot()->child(0)->setExpanded(true);
    QTest::qWait(50);
    const QString picture = TestOutputFolder() + QStringLiteral("/MainWindowSample.png");
    EXPECT_TRUE(frame->grab().save(picture));
    EXPECT_GT(QFile(picture).size(), 0);
}

TEST_F(Shell, TheSplashSwallowsTheFirstKey)
{
    ASSERT_TRUE(Start({}));
    CMainFrame* frame = Frame();
    ASSERT_NE(CSplashWindow::Instance(), nullptr);
    auto* label = frame->findChild<QLineEdit*>(IdName(IDC_POINT_LABEL));
    label->setEnabled(true);
    QTest::keyClick(label, Qt::Key_A);
    Settle();
    EXPECT_EQ(CSplashWindow::Instance(), nullptr);
    EXPECT_EQ(label->text(), QString());
    QTest::keyClick(label, Qt::Key_A);
    EXPECT_EQ(label->text(), QStringLiteral("A"));
}

TEST_F(Shell, RecentFilesSurviveARestart)
{
    const QString first = WriteSample(QStringLiteral("a"));
    const QString second = WriteSample(QStringLiteral("b"));
    ASSERT_TRUE(Start());
    ASSERT_NE(app->OpenDocumentFile(first), nullptr);
    ASSERT_NE(app->OpenDocumentFile(second), nullptr);
    Stop();

    ASSERT_TRUE(Start());
    EXPECT_EQ(app->GetRecentFiles(), (QStringList{second, first}));
    Frame()->UpdateCmdUI();
    EXPECT_EQ(Frame()->GetAction(ID_FILE_MRU_FILE1)->text(), QStringLiteral("&1 ") + second);
    EXPECT_FALSE(Frame()->GetAction(ID_FILE_MRU_FILE1 + 2)->isVisible());
    // The first entry opens the file again.
    Frame()->OnCommandId(ID_FILE_MRU_FILE1);
    Settle();
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->GetDocumentPath(), second);
    // An open file is activated, not opened twice.
    app->OnFileNew();
    EXPECT_EQ(app->OpenDocumentFile(second), doc);
    EXPECT_EQ(GetActiveKestrelonDoc(), doc);
    EXPECT_EQ(app->GetDocManager()->GetOpenDocumentCount(), 2);
}

// Save of a new project asks for a name; Save As takes a new one; Save of a
// named project writes it in place.
TEST_F(Shell, SaveAndSaveAsWriteTheProject)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    doc->SetModifiedFlag(true);
    EXPECT_EQ(doc->GetTitle(), QStringLiteral("Project 1*"));
    const QString first = scratch.filePath(QStringLiteral("First.kst"));
    const QString second = scratch.filePath(QStringLiteral("Second.kst"));
    struct Step {
        int command;
        QString chosen; // "" = no dialog expected
        QString path;   // the document's path afterwards
    };
    for (const Step& s : {Step{ID_FILE_SAVE, first, first}, Step{ID_FILE_SAVE_AS, second, second},
                          Step{ID_FILE_SAVE, QString(), second}}) {
        fileDialogs = 0;
        if (!s.chosen.isEmpty())
            files.push_back(s.chosen);
        doc->SetModifiedFlag(true);
        Frame()->OnCommandId(s.command);
        EXPECT_EQ(fileDialogs, s.chosen.isEmpty() ? 0 : 1);
        EXPECT_EQ(doc->GetDocumentPath(), s.path);
        EXPECT_TRUE(QFile::exists(s.path));
        EXPECT_FALSE(doc->IsModified());
        EXPECT_EQ(doc->GetTitle(), QFileInfo(s.path).fileName());
        EXPECT_EQ(doc->savedInThisRun, 1);
    }
    // A cancelled dialog saves nothing.
    CKestrelonDoc* other = (app->OnFileNew(), GetActiveKestrelonDoc());
    ASSERT_NE(other, doc);
    other->SetModifiedFlag(true);
    Frame()->OnCommandId(ID_FILE_SAVE);
    EXPECT_TRUE(other->IsModified());
    EXPECT_EQ(other->savedInThisRun, 0);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(Shell, ASecondProjectFrameIsCascadedBy20Pixels)
{
    ASSERT_TRUE(Start());
    app->OnFileNew();
    app->OnFileNew();
    Settle();
    const auto frames = ProjectFrames(Frame());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0]->windowTitle(), QStringLiteral("Project 1"));
    EXPECT_EQ(frames[1]->windowTitle(), QStringLiteral("Project 2"));
    const QRect a = frames[0]->GetCreateRect();
    const QRect b = frames[1]->GetCreateRect();
    EXPECT_EQ(a.topLeft(), QPoint(0, 0));
    EXPECT_EQ(a.width(), Frame()->width() - 4);
    EXPECT_EQ(b.topLeft(), a.topLeft() + QPoint(20, 20));
    EXPECT_EQ(b.size(), a.size() - QSize(20, 20));
}

// Closing a project, or opening another over it, with the user's answers.
TEST_F(Shell, AModifiedProjectIsNeverDiscardedSilently)
{
    const QString sample = WriteSample();
    const QString other = WriteSample(QStringLiteral("other"));
    QFile broken(scratch.filePath(QStringLiteral("broken.kst")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a project");
    broken.close();

    struct Case {
        const char* name;
        bool open;        // Project > Open... (else the frame is closed)
        bool modified;
        QString chosen;   // the file dialog's answer ("" = Cancel)
        int answer;       // the save question's answer (0: no question expected)
        int framesAfter;  // project frames afterwards
        bool sampleKept;
        bool saved = false; // saved in this run: stays open beside the new one
    };
    const Case cases[] = {
        {"close, Cancel", false, true, {}, IDCANCEL, 1, true},
        {"close, No", false, true, {}, IDNO, 0, false},
        {"close unmodified", false, false, {}, 0, 0, false},
        {"open, dialog cancelled", true, true, QString(), 0, 1, true},
        {"open, Cancel", true, true, other, IDCANCEL, 1, true},
        {"open, No", true, true, other, IDNO, 1, false},
        {"open unmodified", true, false, other, 0, 1, false},
        // A file that cannot be read leaves the project open.
        {"open a broken file", true, false, broken.fileName(), 0, 1, true},
        {"open a broken file, modified, No", true, true, broken.fileName(), IDNO, 1, true},
        {"open after a save in this run", true, true, other, 0, 2, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Start());
        ASSERT_NE(app->OpenDocumentFile(sample), nullptr);
        auto* doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        if (c.saved) {
            ASSERT_TRUE(doc->SaveProject());
        }
        doc->SetModifiedFlag(c.modified);
        EXPECT_EQ(doc->GetTitle(), c.modified ? QStringLiteral("Sample.kst*") : QStringLiteral("Sample.kst"));
        TakeMessages();
        fileDialogs = 0;
        if (c.answer)
            answers.push_back(c.answer);
        if (c.open) {
            files.push_back(c.chosen);
            app->OnFileOpen();
        } else {
            ProjectFrames(Frame()).front()->close();
        }
        Settle();
        EXPECT_TRUE(answers.empty());
        const auto messages = TakeMessages();
        const size_t questions = std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
            return m.rfind("Save changes to", 0) == 0;
        });
        EXPECT_EQ(questions, c.answer ? 1u : 0u);
        EXPECT_EQ(int(ProjectFrames(Frame()).size()), c.framesAfter);
        bool sampleOpen = false;
        for (CDocument* d : app->GetDocManager()->GetDocuments())
            sampleOpen |= d->GetDocumentPath() == sample;
        EXPECT_EQ(sampleOpen, c.sampleKept);
        Stop();
        answers.clear();
        files.clear();
    }
}

// Command states: ids nobody handles are disabled; the rules of the frames.
TEST_F(Shell, CommandStatesFollowTheirRules)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start());
    CMainFrame* frame = Frame();
    EXPECT_TRUE(Enabled(frame, ID_FILE_NEW));
    EXPECT_FALSE(Enabled(frame, 32874));           // Run Bundle: no project
    EXPECT_FALSE(Enabled(frame, ID_RESULTS_RESECTION));

    app->OnFileNew();
    Settle();
    EXPECT_FALSE(Enabled(frame, ID_RESECT_ALL));   // no driver set
    EXPECT_FALSE(Enabled(frame, ID_RESULTS_BUNDLE)); // no folder

    ASSERT_NE(app->OpenDocumentFile(sample), nullptr);
    Settle();
    EXPECT_TRUE(Enabled(frame, ID_RESECT_ALL));    // the sample's driver set holds 12 points
    EXPECT_FALSE(Enabled(frame, ID_RESULTS_RESECTION));
    const QString report = QFileInfo(sample).absolutePath() + QStringLiteral("/Resection.txt");
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(Enabled(frame, ID_RESULTS_RESECTION));
    frame->OnCommandId(ID_RESULTS_RESECTION);
    EXPECT_EQ(opened, QStringList{report});
    EXPECT_TRUE(Enabled(frame, 32874));            // Run Bundle: the sample's ten resected images
}

// A stand-in for the image view: one image record of the document.
class StubImageView : public QWidget, public CImageViewBase {
public:
    explicit StubImageView(QWidget* parent) : QWidget(parent) {}
    QWidget* GetWidget() override { return this; }
    CProjectImage* GetImageRecord() const override { return image; }
    void Redraw() override { ++redraws; }
    CProjectImage* image = nullptr;
    int redraws = 0;
};

TEST_F(Shell, AQualityChangeOfTheActiveImageMarksTheProjectModified)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start());
    auto* doc = dynamic_cast<CKestrelonDoc*>(app->OpenDocumentFile(sample));
    ASSERT_NE(doc, nullptr);
    StubImageView* view = nullptr;
    app->GetImageTemplate()->SetViewFactory([&](QWidget* parent) { return view = new StubImageView(parent); });
    CMDIChildWnd* imageFrame = app->GetImageTemplate()->CreateNewFrame(doc);
    ASSERT_NE(imageFrame, nullptr);
    app->GetImageTemplate()->InitialUpdateFrame(imageFrame, doc);
    view->image = doc->images.GetAt(3);
    Settle();
    ASSERT_EQ(Frame()->MDIGetActive(), imageFrame);
    EXPECT_EQ(Frame()->GetProjectTreeView(), ProjectFrames(Frame()).front()->GetTreeView());

    struct Step {
        int entry;
        bool qualitySet, high, modified;
    };
    for (const Step& s : {Step{2, true, false, true}, Step{1, true, true, true}}) {
        doc->SetModifiedFlag(false);
        PostHubMessage(UM_IMAGE_QUALITY, s.entry);
        Settle();
        EXPECT_EQ(view->image->qualitySet, s.qualitySet);
        EXPECT_EQ(view->image->highQuality, s.high);
        EXPECT_EQ(doc->IsModified(), s.modified);
    }
    // The same entry again changes nothing.
    doc->SetModifiedFlag(false);
    PostHubMessage(UM_IMAGE_QUALITY, 1);
    Settle();
    EXPECT_FALSE(doc->IsModified());

    SendHubMessage(UM_REDRAW_IMAGE, 0, reinterpret_cast<std::intptr_t>(doc->images.GetAt(4)));
    EXPECT_EQ(view->redraws, 0);
    SendHubMessage(UM_REDRAW_IMAGE, 0, reinterpret_cast<std::intptr_t>(view->image));
    EXPECT_EQ(view->redraws, 1);

    const char text[] = "Measuring";
    EXPECT_EQ(SendHubMessage(UM_STATUS_TEXT, 0, reinterpret_cast<std::intptr_t>(text)),
              reinterpret_cast<std::intptr_t>(text));
    EXPECT_EQ(Frame()->GetPaneText(0), QStringLiteral("Measuring"));
    EXPECT_EQ(SendHubMessage(UM_STATUS_TEXT, 0, 0), 0);
    EXPECT_EQ(Frame()->GetPaneText(0), QStringLiteral("Measuring"));
}

} // namespace

namespace {

// Help > Manual stays enabled; it opens the guide beside the program by
// its absolute path only with the desktop's opener on the path, and says
// what is missing otherwise.
TEST_F(Shell, TheManualNeedsTheGuideAndTheOpener)
{
    const QString bin = MakeDesktopOpener();
    const QByteArray path = qgetenv("PATH");
    const QString folder = scratch.filePath(QStringLiteral("program"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString guide = folder + QStringLiteral("/KestrelonGuide.pdf");

    for (bool withGuide : {false, true})
        for (bool withOpener : {false, true}) {
            SCOPED_TRACE(std::to_string(withGuide) + std::to_string(withOpener));
            QFile::remove(guide);
            if (withGuide) {
                QFile file(guide);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            }
            qputenv("PATH", withOpener ? bin.toLocal8Bit() : QByteArray("/nonexistent"));
            ASSERT_TRUE(Start());
            qputenv("PATH", path);
            app->SetProgramDirectory(folder);
            const bool expected = withGuide && withOpener;
            EXPECT_TRUE(Enabled(Frame(), ID_HELP_MANUAL));
            opened.clear();
            TakeMessages();
            Frame()->OnCommandId(ID_HELP_MANUAL);
            EXPECT_EQ(opened, expected ? QStringList{guide} : QStringList{});
            EXPECT_EQ(TakeMessages().size(), expected ? 0u : 1u);
            Stop();
        }
}

// Project > Open with the sample's control file as it was written, and as a
// user edited it (a comment and a point of their own): the file stays byte
// for byte, the first not even rewritten, the second kept while its set
// moves to a free name, which the user is told and a save stores.
TEST_F(Shell, OpeningAProjectLeavesTheUsersCoordinateFileAsItIs)
{
    ASSERT_TRUE(Start());
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    for (const bool edited : {false, true}) {
        SCOPED_TRACE(edited ? "edited" : "as written");
        const QString sample = WriteSample(edited ? QStringLiteral("edited") : QStringLiteral("written"));
        const QString folder = QFileInfo(sample).absolutePath();
        const QString control = folder + QStringLiteral("/Control.xyz");
        const QString numbered = folder + QStringLiteral("/Control1.xyz");
        {
            QFile file(control);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            ASSERT_FALSE(bytes.isEmpty());
            if (edited)
                bytes = "# checked on site\r\n" + bytes + "P1 1 2 3\r\n";
            ASSERT_TRUE(file.resize(0));
            ASSERT_EQ(file.write(bytes), bytes.size());
            ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QFile file(control);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        const QDateTime stamp = QFileInfo(control).lastModified();

        TakeMessages();
        fileDialogs = 0;
        files.push_back(sample);
        RealMessageBoxes boxes(QMessageBox::No);
        Frame()->GetAction(ID_FILE_OPEN)->trigger();
        Settle();
        EXPECT_EQ(fileDialogs, 1);
        CKestrelonDoc* opened = GetActiveKestrelonDoc();
        ASSERT_NE(opened, nullptr);
        EXPECT_EQ(opened->GetDocumentPath(), sample);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before);
        file.close();
        EXPECT_EQ(QFileInfo(control).lastModified(), stamp);

        const CPointSet* set = opened->pointSets.GetAt(0);
        ASSERT_NE(set, nullptr);
        QString warning;
        for (const RealMessageBoxes::Box& box : boxes.shown)
            if (box.text.startsWith(QStringLiteral("These coordinate files")))
                warning = box.text;
        if (!edited) {
            EXPECT_TRUE(warning.isEmpty()) << warning.toStdString();
            EXPECT_EQ(QString::fromLocal8Bit(set->name.GetText()), control);
            EXPECT_FALSE(QFile::exists(numbered));
            EXPECT_FALSE(opened->IsModified());
            continue;
        }
        EXPECT_TRUE(warning.contains(QStringLiteral("\nControl.xyz: the set's file is now Control1.xyz")))
            << warning.toStdString();
        for (const RealMessageBoxes::Box& box : boxes.shown) {
            if (box.text == warning) {
                EXPECT_TRUE(box.picture.save(TestOutputFolder() + QStringLiteral("/OpenKeepsCoordinateFile.png")));
            }
        }
        EXPECT_EQ(QString::fromLocal8Bit(set->name.GetText()), numbered);
        EXPECT_TRUE(QFile::exists(numbered));
        EXPECT_TRUE(opened->IsModified());
        // Project > Save stores the set's new file name.
        Frame()->UpdateCmdUI();
        ASSERT_TRUE(Frame()->GetAction(ID_FILE_SAVE)->isEnabled());
        Frame()->GetAction(ID_FILE_SAVE)->trigger();
        Settle();
        EXPECT_FALSE(opened->IsModified());
        QFile project(sample);
        ASSERT_TRUE(project.open(QIODevice::ReadOnly));
        EXPECT_TRUE(project.readAll().contains("Control1.xyz"));
    }
}

} // namespace

namespace shell_wiring_test {

using Shell = ShellFixture;

TEST_F(Shell, TheDocumentFindsItsFirst3DView)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    EXPECT_EQ(doc->Find3DView(), nullptr); // the tree and the lists are no 3D views
    C3DView first;
    C3DView second;
    doc->AddView(&first);
    doc->AddView(&second);
    EXPECT_EQ(doc->Find3DView(), &first);
    doc->RemoveView(&first);
    EXPECT_EQ(doc->Find3DView(), &second);
    doc->RemoveView(&second);
    EXPECT_EQ(doc->Find3DView(), nullptr);
}

TEST_F(Shell, ANewImageGetsItsRowInTheImagesListOfTheRightPane)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    const CCamera* camera = doc->cameras.GetAt(0);
    QTreeWidgetItem* cameraItem = nullptr;
    for (int i = 0; i < tree->ProjectRoot()->childCount(); ++i)
        if (tree->ProjectRoot()->child(i)->text(0) == QString::fromLatin1(camera->identifier.GetText()))
            cameraItem = tree->ProjectRoot()->child(i);
    ASSERT_NE(cameraItem, nullptr);
    tree->OnClickItem(cameraItem);
    Settle();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    ASSERT_NE(frame, nullptr);
    auto* list = dynamic_cast<CProjectImagesListView*>(frame->GetRightPane());
    ASSERT_NE(list, nullptr);
    const int rows = list->RowCount();
    const int children = cameraItem->childCount();

    CProjectImage* image = doc->AddNewImage("Added");
    image->cameraName = camera->identifier;
    tree->OnHubMessage(UM_IMAGE_CREATED, 0, reinterpret_cast<std::intptr_t>(image));
    EXPECT_EQ(cameraItem->childCount(), children + 1);
    ASSERT_EQ(list->RowCount(), rows + 1);
    EXPECT_EQ(list->CellText(rows, 0), QStringLiteral("Added"));
}

TEST_F(Shell, TheLockPanesFollowTheKeys)
{
    ASSERT_TRUE(Start());
    auto* caps = Frame()->findChild<QLabel*>(QStringLiteral("id59137"));
    auto* num = Frame()->findChild<QLabel*>(QStringLiteral("id59138"));
    ASSERT_NE(caps, nullptr);
    ASSERT_NE(num, nullptr);
    // The X keyboard state each key event carries: lock bit 0x02, num lock 0x10.
    const struct {
        quint32 state;
        const char* caps;
        const char* num;
    } cases[] = {{0x00, "", ""}, {0x02, "CAP", ""}, {0x12, "CAP", "NUM"}, {0x10, "", "NUM"}, {0x00, "", ""}};
    for (const auto& c : cases) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, 'a', c.state, QStringLiteral("a"));
        QApplication::sendEvent(Frame(), &press);
        EXPECT_EQ(caps->text(), QString::fromLatin1(c.caps)) << c.state;
        EXPECT_EQ(num->text(), QString::fromLatin1(c.num)) << c.state;
    }
}

} // namespace shell_wiring_test
