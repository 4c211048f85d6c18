// The project tree: its shape, the icons of images and point sets, the
// partial rebuilds, deleting images, the label-edit gate and auto save.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Frames.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "PointList.h"
#include "Resources.h"

#include <QLineEdit>
#include <QMdiArea>
#include <QTest>
#include <QTimer>

namespace {

QStringList Children(const QTreeWidgetItem* item)
{
    QStringList texts;
    for (int i = 0; item && i < item->childCount(); ++i)
        texts << item->child(i)->text(0);
    return texts;
}

int Icon(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kIconIndexRole).toInt() : -1;
}

template <class List, class Text>
QStringList Names(const List& list, Text text)
{
    QStringList names;
    for (int i = 0; i < list.GetSize(); ++i)
        names << text(*list.GetAt(i));
    return names;
}

class Tree : public ShellFixture {
protected:
    // A new, empty project; its document and tree.
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        tree = Frame()->GetProjectTreeView();
        ASSERT_NE(tree, nullptr);
    }
    void OpenSample()
    {
        const QString sample = WriteSample();
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        tree = Frame()->GetProjectTreeView();
        ASSERT_NE(tree, nullptr);
    }
    CKestrelonView* tree = nullptr;
};

QString CameraText(const CCamera& c)
{
    return QString::fromLatin1(c.identifier.GetText());
}
QString BarText(const CScaleBar& b)
{
    return QString::fromLatin1(b.name.GetText());
}
QString DeviceText(const CEODevice& d)
{
    return QString::fromLatin1(d.GetName().GetText());
}

TEST_F(Tree, AnEmptyProjectAndTheSampleHaveTheirShape)
{
    for (bool sample : {false, true}) {
        sample ? OpenSample() : NewProject();
        ASSERT_EQ(tree->topLevelItemCount(), 2);
        QTreeWidgetItem* database = tree->topLevelItem(0);
        QTreeWidgetItem* project = tree->topLevelItem(1);
        EXPECT_EQ(database->text(0), QStringLiteral("Database"));
        EXPECT_EQ(Children(database),
                  (QStringList{"Camera Database", "ScaleBar Database", "EO Device Database"}));
        QStringList cameras = Names(app->cameraDatabase, CameraText);
        std::sort(cameras.begin(), cameras.end(),
                  [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        EXPECT_EQ(Children(database->child(0)), cameras);
        EXPECT_EQ(Children(database->child(1)), Names(app->scaleBarDatabase, BarText));
        EXPECT_EQ(Children(database->child(2)), Names(app->eoDeviceDatabase, DeviceText));
        EXPECT_EQ(project->text(0), doc->GetTitleWithoutMark());
        for (QTreeWidgetItem* item : {database, database->child(0), database->child(1), database->child(2), project})
            EXPECT_TRUE(item->isExpanded()) << item->text(0).toStdString();
        if (!sample) {
            EXPECT_EQ(Children(project), (QStringList{"3D Data", "Scalebars"}));
            EXPECT_EQ(Children(project->child(0)), QStringList());
            Stop();
            continue;
        }
        EXPECT_EQ(project->text(0), QStringLiteral("Sample.kst"));
        EXPECT_EQ(Children(project), (QStringList{"SampleCam", "3D Data", "Scalebars"}));
        QStringList images;
        for (int i = 1; i <= 10; ++i)
            images << QString::asprintf("Image%03d", i);
        EXPECT_EQ(Children(project->child(0)), images);
        EXPECT_EQ(Children(project->child(1)), QStringList{"Control"});
        EXPECT_EQ(Icon(project->child(1)->child(0)), 18); // driver and control
        EXPECT_EQ(Children(project->child(2)), QStringList{"SampleBar"});
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(project->child(i)->isExpanded());
        Stop();
    }
}

// An image whose camera is unknown has no item; a camera without images none.
TEST_F(Tree, ImagesHangUnderTheirCamerasOnly)
{
    NewProject();
    AddCamera(*doc, "Zeta");
    AddCamera(*doc, "alpha");
    AddCamera(*doc, "Beta");
    AddImage(*doc, {"Beta", true, false, 0});
    AddImage(*doc, {"Nowhere", true, false, 0});
    AddImage(*doc, {"Beta", true, false, 0});
    doc->UpdateAllViews();
    QTreeWidgetItem* project = tree->ProjectRoot();
    EXPECT_EQ(Children(project), (QStringList{"alpha", "Beta", "Zeta", "3D Data", "Scalebars"}));
    EXPECT_EQ(Children(project->child(1)), (QStringList{"Image1", "Image3"}));
    EXPECT_EQ(project->child(0)->childCount() + project->child(2)->childCount(), 0);
}

TEST_F(Tree, IconsFollowTheImageFlagsAndThePointSetRoles)
{
    NewProject();
    AddCamera(*doc, "Cam");
    CProjectImage* image = AddImage(*doc, {"Cam", true, false, 0});
    CPointSet* set = AddPointSet(*doc, "/p/Points.xyz");
    doc->UpdateAllViews();
    QTreeWidgetItem* imageItem = tree->ProjectRoot()->child(0)->child(0);
    QTreeWidgetItem* setItem = tree->Data3D()->child(0);

    struct ImageCase {
        bool qualitySet, high, resected, enabled;
        int icon;
    };
    const ImageCase images[] = {
        {false, false, false, true, 3},  {true, true, false, true, 4},   {true, false, false, true, 5},
        {false, true, false, false, 6},  {true, true, false, false, 7},  {true, false, false, false, 8},
        {false, false, true, true, 9},   {true, true, true, true, 10},   {true, false, true, true, 11},
        {false, true, true, false, 12},  {true, true, true, false, 13},  {true, false, true, false, 14},
    };
    for (const ImageCase& c : images) {
        image->qualitySet = c.qualitySet;
        image->highQuality = c.high;
        image->oriented = c.resected;
        image->enabled = c.enabled;
        SendHubMessage(UM_REFRESH_IMAGES);
        EXPECT_EQ(Icon(imageItem), c.icon) << c.qualitySet << c.high << c.resected << c.enabled;
    }
    struct SetCase {
        bool driver, control;
        int icon;
    };
    for (const SetCase& c : {SetCase{false, false, 15}, SetCase{true, false, 16}, SetCase{false, true, 17},
                             SetCase{true, true, 18}}) {
        set->isDriver = c.driver;
        set->isControl = c.control;
        tree->RefreshImageBranches();
        EXPECT_EQ(Icon(setItem), c.icon) << c.driver << c.control;
        doc->UpdateAllViews();
        EXPECT_EQ(Icon(tree->Data3D()->child(0)), c.icon);
        setItem = tree->Data3D()->child(0);
    }
}

// The full rebuild gives a set the device icon by its ".eod" file; the
// message that rebuilds "3D Data" by its device flag.
TEST_F(Tree, TheFullRebuildGoesByExtensionThe3DDataMessageByFlag)
{
    NewProject();
    AddPointSet(*doc, "/p/Frame.eod");
    AddPointSet(*doc, "/p/Flagged.xyz")->isEODevice = true;
    doc->UpdateAllViews();
    EXPECT_EQ(Children(tree->Data3D()), (QStringList{"Frame", "Flagged"}));
    EXPECT_EQ(Icon(tree->Data3D()->child(0)), 19);
    EXPECT_EQ(Icon(tree->Data3D()->child(1)), 15);
    SendHubMessage(UM_REFRESH_POINT_SETS);
    EXPECT_EQ(Children(tree->Data3D()), (QStringList{"Frame", "Flagged"}));
    EXPECT_EQ(Icon(tree->Data3D()->child(0)), 15);
    EXPECT_EQ(Icon(tree->Data3D()->child(1)), 19);
}

// A stand-in image view showing one record.
class ShowingView : public QWidget, public CImageViewBase {
public:
    explicit ShowingView(QWidget* parent) : QWidget(parent) {}
    QWidget* GetWidget() override { return this; }
    CProjectImage* GetImageRecord() const override { return image; }
    void Redraw() override {}
    CProjectImage* image = nullptr;
};

TEST_F(Tree, DeletingImagesSparesThoseInViewsAndLeavesNoPointer)
{
    NewProject();
    AddCamera(*doc, "Cam");
    for (int i = 0; i < 5; ++i)
        AddImage(*doc, {"Cam", true, true, 2});
    doc->UpdateAllViews();
    ShowingView* view = nullptr;
    app->GetImageTemplate()->SetViewFactory([&](QWidget* parent) { return view = new ShowingView(parent); });
    CMDIChildWnd* imageFrame = app->GetImageTemplate()->CreateNewFrame(doc);
    ASSERT_NE(imageFrame, nullptr);
    app->GetImageTemplate()->InitialUpdateFrame(imageFrame, doc);
    view->image = doc->images.GetAt(3);
    Settle();
    for (int i = 0; i < 5; ++i)
        doc->imagePtrs.Add(doc->images.GetAt(i));
    doc->SetModifiedFlag(false);
    TakeMessages();

    CImagePtrArray list;
    for (int i : {1, 3, 4})
        list.Add(doc->images.GetAt(i));
    SendHubMessage(UM_DELETE_IMAGES, 0, reinterpret_cast<std::intptr_t>(&list));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Image Image4 is open in a window and cannot be "
                                                       "deleted.\nClose its window first."});
    EXPECT_EQ(list.GetSize(), 2);
    EXPECT_EQ(Children(tree->ProjectRoot()->child(0)), (QStringList{"Image1", "Image3", "Image4"}));
    ASSERT_EQ(doc->images.GetSize(), 3);
    ASSERT_EQ(doc->imagePtrs.GetSize(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(doc->imagePtrs.GetAt(i), doc->images.GetAt(i));
    EXPECT_TRUE(doc->IsModified());
    view->image = nullptr;
}

TEST_F(Tree, OnlyPointSetsProjectCamerasAndDatabaseCamerasAreRenamed)
{
    NewProject();
    AddCamera(*doc, "Cam");
    AddImage(*doc, {"Cam", true, true, 0});
    AddPointSet(*doc, "/p/Points.xyz");
    doc->scaleBars.AddNew()->name = "Bar";
    CCamera dbCamera;
    dbCamera.identifier = "DbCam";
    app->cameraDatabase.AddCopy(dbCamera);
    doc->UpdateAllViews();
    QTreeWidgetItem* project = tree->ProjectRoot();
    struct Case {
        QTreeWidgetItem* item;
        bool allowed;
    };
    const Case cases[] = {
        {tree->DatabaseRoot(), false},      {tree->CameraDatabase(), false},
        {tree->CameraDatabase()->child(0), true}, {project, false},
        {project->child(0), true},          {project->child(0)->child(0), false},
        {tree->Data3D(), false},            {tree->Data3D()->child(0), true},
        {tree->ProjectScaleBars(), false},  {tree->ProjectScaleBars()->child(0), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tree->OnBeginLabelEdit(c.item), c.allowed) << c.item->text(0).toStdString();
        EXPECT_EQ(tree->GetEditLabel(), c.allowed ? c.item->text(0) : QString());
    }
    // Through the widget: an edit opens only where allowed, and a typed
    // name is not taken until renaming is built.
    Frame()->activateWindow();
    for (const Case& c : cases) {
        const QString text = c.item->text(0);
        tree->editItem(c.item);
        auto* editor = tree->viewport()->findChild<QLineEdit*>();
        EXPECT_EQ(editor != nullptr, c.allowed) << text.toStdString();
        if (editor) {
            QTest::keyClicks(editor, QStringLiteral("Renamed"));
            QTest::keyClick(editor, Qt::Key_Return);
        }
        Settle();
        EXPECT_EQ(c.item->text(0), text);
        EXPECT_EQ(tree->GetEditLabel(), QString());
    }
}

// Clicks choose the record the right pane would show; the pane changes only
// to views that exist.
TEST_F(Tree, ClicksSelectTheirRecords)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam");
    AddImage(*doc, {"Cam", true, true, 0});
    CPointSet* set = AddPointSet(*doc, "/p/Points.xyz");
    doc->UpdateAllViews();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    ASSERT_NE(frame, nullptr);
    tree->OnClickItem(tree->ProjectRoot()->child(0));
    EXPECT_EQ(tree->GetSelectedCamera(), camera);
    tree->OnClickItem(tree->ProjectRoot()->child(0)->child(0));
    EXPECT_EQ(tree->GetObsImageName(), QStringLiteral("Image1"));
    EXPECT_NE(dynamic_cast<CObservationsListView*>(frame->GetRightPane()), nullptr);
    tree->OnClickItem(tree->Data3D()->child(0));
    EXPECT_EQ(tree->GetSelectedPointSet(), set);
    EXPECT_EQ(tree->GetSelectedItemText(), QStringLiteral("Points"));
    auto* points = dynamic_cast<C3DDataListView*>(frame->GetRightPane());
    ASSERT_NE(points, nullptr);
    EXPECT_EQ(points->GetListCtrl().GetPointSet(), set);
    // The set leaves the project: the selection and the list go with it.
    doc->DeletePointSet("Points");
    doc->UpdateAllViews();
    EXPECT_EQ(tree->GetSelectedPointSet(), nullptr);
    EXPECT_EQ(points->GetListCtrl().GetPointSet(), nullptr);
    EXPECT_EQ(tree->FindNamedItem(QStringLiteral("Points")), nullptr);
}

TEST_F(Tree, AutoSaveSkipsTicksDuringModalDialogsAndJobs)
{
    NewProject();
    const QString path = scratch.filePath(QStringLiteral("auto.kst"));
    ASSERT_TRUE(doc->DoSave(path, true));
    EXPECT_NE(tree->AutoSaveTimerId(), 0);
    doc->autoSave = true;

    // Each case: the state during the tick, and whether the tick saves.
    enum State { idle, modal, job };
    for (State state : {idle, modal, job, idle}) {
        doc->SetModifiedFlag(true);
        bool modifiedAfterTick = true;
        if (state == modal) {
            CDialog dialog(100, Frame());
            QTimer::singleShot(0, &dialog, [&] {
                tree->OnAutoSaveTimer();
                modifiedAfterTick = doc->IsModified();
                dialog.EndDialog(0);
            });
            dialog.DoModal();
        } else {
            if (state == job)
                doc->BeginJob();
            tree->OnAutoSaveTimer();
            modifiedAfterTick = doc->IsModified();
            if (state == job)
                doc->EndJob();
        }
        EXPECT_EQ(modifiedAfterTick, state != idle) << state;
        if (state != idle) {
            tree->OnAutoSaveTimer(); // the next tick saves
            EXPECT_FALSE(doc->IsModified()) << state;
        }
    }
}

TEST_F(Tree, TheTreeOfAProjectFrameIsFoundOnlyWhenOneExists)
{
    ASSERT_TRUE(Start());
    EXPECT_EQ(GetProjectTreeView(), nullptr);
    app->OnFileNew();
    Settle();
    auto* doc = GetActiveKestrelonDoc();
    app->GetImageTemplate()->SetViewFactory([](QWidget* parent) { return new ShowingView(parent); });
    CMDIChildWnd* imageFrame = app->GetImageTemplate()->CreateNewFrame(doc);
    ASSERT_NE(imageFrame, nullptr);
    app->GetImageTemplate()->InitialUpdateFrame(imageFrame, doc);
    Settle();
    ASSERT_EQ(Frame()->MDIGetActive(), imageFrame);
    CKestrelonView* tree = GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->GetDocument(), doc);
    EXPECT_NE(dynamic_cast<CProjectFrame*>(tree->GetParentFrame()), nullptr);
    // Finding it leaves the image window active.
    EXPECT_EQ(Frame()->MDIGetActive(), imageFrame);
}

} // namespace

namespace {

// The accepted relative orientation set is written, selected and shown; a
// database scale bar is copied into the project once.
TEST_F(Tree, AcceptingTheRelativeOrientationSetSelectsItAndScaleBarsAreCopiedOnce)
{
    NewProject();
    const QString folder = scratch.filePath(QStringLiteral("ro"));
    QDir().mkpath(folder);
    ASSERT_TRUE(doc->DoSave(folder + QStringLiteral("/ro.kst"), true));
    EXPECT_TRUE(doc->AcceptROArray()); // no set: nothing happens
    EXPECT_FALSE(doc->IsModified());
    CPointSet* set = doc->GetROPointSet();
    ASSERT_NE(set, nullptr);
    set->AddPointSorted(CObjectPoint("R1", 1.0, 2.0, 3.0));
    EXPECT_TRUE(doc->AcceptROArray());
    EXPECT_TRUE(doc->IsModified());
    CPointSet read;
    ASSERT_TRUE(read.ReadXyzFile(set->GetName().GetText(), nullptr));
    EXPECT_EQ(read.GetSize(), 1);
    EXPECT_EQ(tree->GetSelectedPointSet(), set);
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem(), tree->FindNamedItem(QStringLiteral("ROArray")));
    EXPECT_TRUE(tree->Data3D()->isExpanded());

    CScaleBar bar;
    bar.name = "DbBar";
    app->scaleBarDatabase.AddCopy(bar);
    for (const char* name : {"DbBar", "DbBar", "Unknown"})
        EXPECT_TRUE(doc->AddScaleBarToProject(name));
    ASSERT_EQ(doc->scaleBars.GetSize(), 1);
    EXPECT_NE(tree->FindProjectScaleBarItem(QStringLiteral("DbBar")), nullptr);
    EXPECT_EQ(tree->FindNamedItem(QStringLiteral("DbBar")), tree->FindProjectScaleBarItem(QStringLiteral("DbBar")));
}

} // namespace

namespace {

// A stand-in for the relative orientation dialog: it counts what reaches it.
class StubRelOrientDlg : public CRelativeOrientationDlgBase {
public:
    explicit StubRelOrientDlg(QWidget* parent) : CRelativeOrientationDlgBase(308, parent) {}
    bool CreateModeless() override { return true; }
    void Refresh(int a, int b, int c) override { refreshes.push_back({a, b, c}); }
    void OnImageChanged(std::uintptr_t view) override { changedViews.push_back(view); }
    void RefreshPointTable() override { ++pointTables; }
    std::vector<std::vector<int>> refreshes;
    std::vector<std::uintptr_t> changedViews;
    int pointTables = 0;
};

TEST_F(Tree, TheRelativeOrientationDialogIsMadeOnceAndHearsItsMessages)
{
    NewProject();
    AddCamera(*doc, "Cam");
    for (int i = 0; i < 2; ++i)
        AddImage(*doc, {"Cam", true, false, 0});
    int made = 0;
    const auto old = CKestrelonView::SetRelativeOrientationFactory([&](CKestrelonView* owner) {
        ++made;
        return new StubRelOrientDlg(owner);
    });
    PostHubMessage(UM_RO_MEASURED); // no dialog yet: nothing happens
    Settle();
    for (int i = 0; i < 2; ++i)
        Frame()->OnCommandId(33077);
    EXPECT_EQ(made, 1);
    auto* dlg = dynamic_cast<StubRelOrientDlg*>(tree->GetRelativeOrientationDlg());
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->refreshes, (std::vector<std::vector<int>>{{0, 0, 1}, {0, 0, 1}}));
    PostHubMessage(UM_RO_IMAGE_CHANGED, 0, 77);
    PostHubMessage(UM_RO_MEASURED);
    Settle();
    EXPECT_EQ(dlg->changedViews, std::vector<std::uintptr_t>{77});
    EXPECT_EQ(dlg->pointTables, 1);
    tree->DestroyRelativeOrientationDialog();
    Settle();
    EXPECT_EQ(tree->GetRelativeOrientationDlg(), nullptr);
    CKestrelonView::SetRelativeOrientationFactory(old);
}

} // namespace
