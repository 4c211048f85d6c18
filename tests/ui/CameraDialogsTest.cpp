// The camera dialogs driven through their controls: "Camera DataBase",
// "Camera Input" with its fiducial list, the statistical comparison and
// "Select Camera".
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "CameraDialogs.h"
#include "ContextMenu.h"
#include "Controls.h"
#include "DialogCommand.h"
#include "FiducialDialogs.h"
#include "Frames.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "ProjectBuilder.h"
#include "ProfileDatabases.h"
#include "TableChecks.h"
#include "TestFiles.h"
#include "TreeMenus.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>

namespace {

const int kFixIds[10] = {1583, 1584, 1185, 1186, 1187, 1188, 1189, 1190, 1191, 1192};
const int kSigmaIds[10] = {1016, 1025, 1017, 1018, 1019, 1022, 1023, 1024, 1204, 1206};
const int kValueIds[10] = {1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1203, 1205};

class CameraDialogs : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_TRUE(Start());
        CCamera a;
        a.identifier = "CAM-A";
        a.cameraType = "Alpha";
        a.XPixels = 2000;
        a.YPixels = 1500;
        a.XPixelSize = a.YPixelSize = 0.006;
        a.parameters[CAM_C] = 24.5;
        a.parameters[CAM_K1] = 1.25e-4;
        a.SetCalibrationMode(0);
        CCamera b;
        b.identifier = "CAM-B";
        b.cameraType = "Beta";
        b.serialNumber = "S-77";
        b.XPixels = 4000;
        b.YPixels = 3000;
        b.XPixelSize = 0.005;
        b.YPixelSize = 0.0052;
        b.parameters[CAM_C] = 35.125;
        b.parameters[CAM_XP] = -0.0125;
        b.parameters[CAM_K2] = -3.5e-7;
        b.SetCalibrationMode(2);
        b.sigmas[CAM_K2] = 500.0; // neither fixed nor free
        app->cameraDatabase.AddCopy(a);
        app->cameraDatabase.AddCopy(b);
        ASSERT_TRUE(app->FlushDatabases());
    }
    static QString Text(CDialog& d, int id)
    {
        if (auto* combo = d.Item<QComboBox>(id))
            return combo->currentText();
        return d.Item<QLineEdit>(id)->text();
    }
    static void SetText(CDialog& d, int id, const QString& text) { d.Item<QLineEdit>(id)->setText(text); }
    static void Picture(CDialog& d, const char* name)
    {
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, QStringLiteral("/") + name);
    }
    static bool Fixed(CDialog& d, int parameter) { return d.Item<QCheckBox>(kFixIds[parameter])->isChecked(); }
    CCamera* Db(int i) { return app->cameraDatabase.GetAt(i); }

    // A new project with the camera "P1" whose fiducial marks lie at
    // +-110 mm under labels of 16 characters.
    CCamera* ProjectCameraWithMarks()
    {
        app->OnFileNew();
        Settle();
        CKestrelonDoc* doc = GetActiveKestrelonDoc();
        EXPECT_NE(doc, nullptr);
        if (!doc)
            return nullptr;
        CCamera* camera = AddCamera(*doc, "P1");
        camera->SetCalibrationMode(2);
        const double marks[4][2] = {{-110.0, 110.0}, {110.0, 110.0}, {110.0, -110.0}, {-110.0, -110.0}};
        for (int i = 0; i < 4; ++i) {
            const std::string label = "FIDUCIALMARKNO_" + std::to_string(i + 1);
            camera->fiducials.AddSorted(CImageObservation(CNameBuffer(label.c_str()), marks[i][0], marks[i][1]));
        }
        Frame()->GetProjectTreeView()->OnUpdate(nullptr, 0);
        Settle();
        return camera;
    }

    // Double-clicks the project camera in the tree, as the user does; the
    // steps drive the "Camera DataBase" dialog that opens.
    void DoubleClickProjectCamera(const char* identifier, const std::function<void(CCameraDataDlg&)>& steps)
    {
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; i < tree->ProjectRoot()->childCount(); ++i)
            if (tree->ProjectRoot()->child(i)->text(0) == QString::fromLatin1(identifier))
                item = tree->ProjectRoot()->child(i);
        ASSERT_NE(item, nullptr) << identifier;
        RunDialogCommand<CCameraDataDlg>(
            dialogs,
            [&] {
                tree->scrollToItem(item);
                QTest::qWait(QApplication::doubleClickInterval() + 50);
                QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
            },
            steps);
    }
};

// The check box whose height takes in the middle of the widget.
QCheckBox* CheckBoxBeside(QWidget* dialog, const QWidget* widget)
{
    const int y = WindowRect(widget).center().y();
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
        if (box->isVisible() && WindowRect(box).top() <= y && y <= WindowRect(box).bottom())
            return box;
    return nullptr;
}

TEST_F(CameraDialogs, DatabaseCameraHidesTheFixControlsAndTheComboReplacesEveryField)
{
    {
        CCameraDataDlg d(&app->cameraDatabase, 0, 0);
        d.OnInitDialog();
        Picture(d, "CameraDataBase.png");
        for (int id : {1211, 1208, 1209, 1212, 1062, 1063, 1583, 1192})
            EXPECT_TRUE(d.GetDlgItem(id)->isHidden()) << id;
        EXPECT_FALSE(d.GetDlgItem(1031)->isHidden());
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Camera DataBase"));
        EXPECT_EQ(d.GetDlgItem(1008)->palette().color(QPalette::Base), QColor(0, 255, 255));
    }
    CCameraDataDlg d(&app->cameraDatabase, 0, 1);
    d.OnInitDialog();
    EXPECT_EQ(Text(d, 1000), QStringLiteral("CAM-A"));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Fixed(d, i)) << i; // all sigmas 1e-16

    d.Item<QComboBox>(1000)->setCurrentIndex(1);
    d.OnSelchangeCamera(1);
    const CCamera& b = *Db(1);
    const struct {
        int id;
        const char* text;
    } fields[] = {
        {1000, "CAM-B"}, {1753, "Beta"}, {1002, "S-77"}, {1004, "4000"}, {1005, "3000"}, {1006, "0.005"},
        {1007, "0.0052"}, {1008, "   35.125000"}, {1009, "   -0.012500"}, {1012, "-3.5000e-07"}, {1019, "500"},
        {1016, "1000"}, {1022, "1e-16"},
    };
    for (const auto& f : fields)
        EXPECT_EQ(Text(d, f.id), QString::fromLatin1(f.text)) << f.id;
    EXPECT_EQ(d.GetCamera(), &b);
    // Mode 2 frees c to K1 and fixes K2 to B2; the sigma of 500 leaves K2 as the mode set it.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Fixed(d, i), i >= CAM_K2) << i;
}

TEST_F(CameraDialogs, FixBoxesAndModeButtonsChangeTheRecordAtOnce)
{
    CCamera* b = Db(1);
    CCameraDataDlg d(app->cameraDatabase.GetAt(1), nullptr);
    d.OnInitDialog();
    d.show();
    QCheckBox* k3 = d.Item<QCheckBox>(kFixIds[CAM_K3]);
    d.Item<QCheckBox>(kFixIds[CAM_K3])->setChecked(false);
    k3->click();
    EXPECT_EQ(Text(d, kSigmaIds[CAM_K3]), QStringLiteral("1e-16"));
    EXPECT_EQ(b->sigmas[CAM_K3], CAMERA_SIGMA_FIXED);
    k3->click();
    EXPECT_EQ(Text(d, kSigmaIds[CAM_K3]), QStringLiteral("1000"));
    EXPECT_EQ(b->sigmas[CAM_K3], CAMERA_SIGMA_FREE);
    EXPECT_EQ(b->calibrationMode, 2);

    const struct {
        int button;
        int mode;
        int firstFixed; // parameters from this one on are fixed
    } modes[] = {{1211, 0, CAM_C}, {1208, 1, CAM_PARAMETER_COUNT}, {1212, 4, CAM_K1}, {1209, 2, CAM_K2}};
    for (const auto& m : modes) {
        d.Item<QAbstractButton>(m.button)->click();
        EXPECT_EQ(b->calibrationMode, m.mode);
        for (int i = 0; i < 10; ++i) {
            const bool fixed = i >= m.firstFixed;
            EXPECT_EQ(Fixed(d, i), fixed) << m.button << " " << i;
            EXPECT_EQ(b->sigmas[i], fixed ? CAMERA_SIGMA_FIXED : CAMERA_SIGMA_FREE) << m.button << " " << i;
        }
    }
    d.OnCancel();
    EXPECT_EQ(b->calibrationMode, 2) << "Cancel does not undo the buttons";
}

// Each Fix box stands on the row of its parameter, at the opening size and
// when the dialog grows, and a click on the box of a row fixes or frees
// that row's parameter.
TEST_F(CameraDialogs, EachFixBoxSitsOnItsParametersRowAndFixesIt)
{
    CCamera* camera = ProjectCameraWithMarks();
    ASSERT_NE(camera, nullptr);
    DoubleClickProjectCamera("P1", [&](CCameraDataDlg& d) {
        EXPECT_EQ(d.GetCamera(), camera);
        const auto onRows = [&](const char* when) {
            for (int i = 0; i < 10; ++i) {
                const QRect value = WindowRect(d.GetDlgItem(kValueIds[i]));
                const QRect box = WindowRect(d.GetDlgItem(kFixIds[i]));
                EXPECT_TRUE(value.top() <= box.center().y() && box.center().y() <= value.bottom())
                    << when << ": the Fix box " << kFixIds[i] << " centred at " << box.center().y()
                    << ", its value edit from " << value.top() << " to " << value.bottom();
            }
        };
        onRows("at the opening size");
        Picture(d, "CameraDataBaseProject.png");
        const QSize opened = d.size();
        d.resize(opened + QSize(240, 200));
        Settle();
        EXPECT_GT(d.height(), opened.height());
        onRows("grown");
        Picture(d, "CameraDataBaseProjectGrown.png");

        // The user clicks the box beside each value, twice.
        for (int i = 0; i < 10; ++i) {
            QCheckBox* box = CheckBoxBeside(&d, d.GetDlgItem(kValueIds[i]));
            ASSERT_NE(box, nullptr) << "no Fix box on row " << i;
            for (int click = 0; click < 2; ++click) {
                double before[10];
                std::copy(camera->sigmas, camera->sigmas + 10, before);
                const bool wasFixed = box->isChecked();
                ClickCheckBox(box);
                EXPECT_NE(box->isChecked(), wasFixed) << i;
                for (int k = 0; k < 10; ++k) {
                    const double expected = k != i ? before[k] : wasFixed ? CAMERA_SIGMA_FREE : CAMERA_SIGMA_FIXED;
                    EXPECT_EQ(camera->sigmas[k], expected) << "row " << i << ", parameter " << k;
                }
                EXPECT_EQ(Text(d, kSigmaIds[i]), wasFixed ? QStringLiteral("1000") : QStringLiteral("1e-16")) << i;
            }
        }
    });
}

// The "Fiducials" button shows the marks whole: each column as wide as its
// longest text and the dialog as wide as its columns.
TEST_F(CameraDialogs, FiducialsButtonShowsTheMarksWhole)
{
    CCamera* camera = ProjectCameraWithMarks();
    ASSERT_NE(camera, nullptr);
    int opened = 0;
    DoubleClickProjectCamera("P1", [&](CCameraDataDlg& d) {
        dialogs.push_back([&](CDialog& f) {
            ++opened;
            f.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&f));
            QTableWidget* list = dynamic_cast<CFiducialsDlg&>(f).GetList();
            EXPECT_EQ(list->rowCount(), 4);
            EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("FIDUCIALMARKNO_1"));
            EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("-110.000"));
            EXPECT_EQ(CutCells(list), "");
            ExpectWholeAndSave(f, "/Fiducials.png");
            return int(QDialog::Rejected);
        });
        QTest::mouseClick(d.Item<QPushButton>(1119), Qt::LeftButton);
    });
    EXPECT_EQ(opened, 1);
}

// Ticking and unticking "Metric" shows and hides the fiducial list in its
// own place: no field moves or changes its width, the box stays where it is.
TEST_F(CameraDialogs, MetricShowsTheFiducialListWithoutMovingAField)
{
    app->OnFileNew();
    Settle();
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    const QString xy = scratch.filePath(QStringLiteral("marks.xy"));
    ASSERT_TRUE(kestrelon::test::WriteFileBytes(
        xy.toStdString(), "FIDUCIALMARKNO_1 -110.0 110.0\nFIDUCIALMARKNO_2 110.0 110.0\n"
                          "FIDUCIALMARKNO_3 110.0 -110.0\nFIDUCIALMARKNO_4 -110.0 -110.0\n"));
    bool opened = false;
    // Where each field and the box are: "left,top widthxheight".
    const auto places = [](CDialog& d) {
        const auto text = [](const QRect& r) {
            return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
        };
        std::map<std::string, std::string> rects;
        for (QLineEdit* edit : d.findChildren<QLineEdit*>())
            rects[edit->objectName().toStdString()] = text(WindowRect(edit));
        rects["Metric"] = text(WindowRect(d.GetDlgItem(1212)));
        return rects;
    };
    dialogs.push_back([&](CDialog& d) {
        opened = true;
        EXPECT_EQ(d.GetResourceId(), 1554);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        auto& input = dynamic_cast<CCameraInputDlg&>(d);
        auto* metric = d.Item<QCheckBox>(1212);
        Picture(d, "CameraInputPlain.png");
        const auto plain = places(d);

        ClickCheckBox(metric);
        Settle();
        EXPECT_TRUE(metric->isChecked());
        EXPECT_TRUE(input.FiducialList()->isVisible());
        EXPECT_EQ(places(d), plain) << "ticked";

        files.push_back(xy);
        QTest::mouseClick(d.Item<QPushButton>(1121), Qt::LeftButton);
        Settle();
        EXPECT_EQ(input.FiducialList()->rowCount(), 4);
        EXPECT_EQ(CutCells(input.FiducialList()), "");
        Picture(d, "CameraInputMetric.png");

        const auto withMarks = places(d);
        answers = {IDYES};
        ClickCheckBox(metric);
        Settle();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Fiducials will be deleted\nContinue?"});
        EXPECT_FALSE(metric->isChecked());
        EXPECT_FALSE(input.FiducialList()->isVisible());
        EXPECT_EQ(places(d), withMarks) << "unticked";
        return int(QDialog::Rejected);
    });
    ASSERT_TRUE(ChooseFromContextMenu(tree, tree->CameraDatabase(), ID_TREE_DB_ADD_CAMERA));
    Settle();
    EXPECT_TRUE(opened);
    EXPECT_EQ(app->cameraDatabase.GetSize(), 2) << "Cancel takes the new camera away";
}

TEST_F(CameraDialogs, SaveStoresTheFieldsAndTheProfileHoldsThem)
{
    dialogs.push_back([](CDialog& d) {
        EXPECT_EQ(d.GetResourceId(), 102);
        SetText(d, 1006, QStringLiteral("0.0074"));
        SetText(d, 1007, QStringLiteral("0.0075"));
        SetText(d, 1011, QStringLiteral("2.5e-5xyz"));
        d.Item<QAbstractButton>(1031)->click();
        d.OnOK();
        return d.result();
    });
    EXPECT_TRUE(app->EditDatabaseCamera("CAM-B"));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Camera parameters have been recorded"});
    EXPECT_EQ(Db(1)->XPixelSize, 0.0074);
    EXPECT_EQ(Db(1)->YPixelSize, 0.0075);
    EXPECT_EQ(Db(1)->parameters[CAM_K1], 2.5e-5);

    CProfileDatabases fresh;
    fresh.SetProfilePath(app->GetProfilePath());
    ASSERT_TRUE(fresh.LoadDatabases());
    const CCamera* read = fresh.cameraDatabase.FindByName("CAM-B");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->XPixelSize, 0.0074);
    EXPECT_EQ(read->YPixelSize, 0.0075);
    EXPECT_EQ(read->parameters[CAM_K1], 2.5e-5);
}

TEST_F(CameraDialogs, DatabaseListOpensTheDialogOnTheSelectedCamera)
{
    CDBaseCamerasListView list;
    list.OnUpdate(nullptr, 0);
    for (const auto& rows : {std::vector<int>{0, 1}, std::vector<int>{1}}) {
        list.SelectRows(rows);
        int opened = 0;
        dialogs.push_back([&](CDialog& d) {
            ++opened;
            auto& data = dynamic_cast<CCameraDataDlg&>(d);
            EXPECT_EQ(data.GetCamera(), Db(1));
            EXPECT_TRUE(d.GetDlgItem(1062)->isHidden());
            SetText(d, 1753, QStringLiteral("Gamma"));
            d.Item<QAbstractButton>(1031)->click();
            d.OnOK();
            return d.result();
        });
        QTest::keyClick(&list, Qt::Key_Return, Qt::AltModifier);
        EXPECT_EQ(opened, rows.size() == 1 ? 1 : 0);
        dialogs.clear();
    }
    EXPECT_STREQ(Db(1)->cameraType.GetText(), "Gamma");
    EXPECT_EQ(list.CellText(1, 1), QStringLiteral("Gamma"));
}

TEST_F(CameraDialogs, ProjectCameraDoubleClickedOpensTheSingleCameraForm)
{
    app->OnFileNew();
    Settle();
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    AddCamera(*doc, "P1");
    CCamera* second = AddCamera(*doc, "P2");
    CProjectImage* image = AddImage(*doc, {"P2", true, false, 0});
    doc->SetModifiedFlag(false);
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    tree->OnUpdate(nullptr, 0);
    tree->OnClickItem(tree->ProjectRoot());
    Settle();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    auto* list = frame ? dynamic_cast<CProjectCamerasListView*>(frame->GetRightPane()) : nullptr;
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->RowCount(), 2);

    dialogs.push_back([&](CDialog& d) {
        EXPECT_EQ(dynamic_cast<CCameraDataDlg&>(d).GetCamera(), second);
        EXPECT_EQ(d.Item<QComboBox>(1000)->count(), 0);
        EXPECT_FALSE(d.GetDlgItem(1062)->isHidden());
        d.Item<QComboBox>(1000)->setCurrentText(QStringLiteral("p1"));
        d.OnOK(); // refused: the other camera's name
        EXPECT_EQ(TakeMessages().size(), 1u);
        EXPECT_NE(d.result(), QDialog::Accepted);
        d.Item<QComboBox>(1000)->setCurrentText(QStringLiteral("P3"));
        SetText(d, 1008, QStringLiteral("50.5"));
        d.OnOK();
        return d.result();
    });
    emit list->doubleClicked(list->model()->index(1, 0));
    EXPECT_TRUE(dialogs.empty());
    EXPECT_STREQ(second->identifier.GetText(), "P3");
    EXPECT_STREQ(image->GetCameraName().GetText(), "P3") << "the image keeps its camera";
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(second->parameters[CAM_C], 50.5);
}

TEST_F(CameraDialogs, RenameToANameTakenOrUnfitIsRefused)
{
    for (const char* name : {"cam-a", "CAM=B", ""}) {
        CCameraDataDlg d(&app->cameraDatabase, 1, 0);
        d.OnInitDialog();
        d.Item<QComboBox>(1000)->setCurrentText(QString::fromLatin1(name));
        d.OnSave();
        EXPECT_EQ(TakeMessages().size(), 1u) << name;
        EXPECT_STREQ(Db(1)->identifier.GetText(), "CAM-B") << name;
        EXPECT_EQ(Text(d, 1000), QStringLiteral("CAM-B")) << name;
    }
}

TEST_F(CameraDialogs, CameraInputChecksInOrderAndKeepsTheFiducialsSorted)
{
    CCamera camera;
    CCameraInputDlg d(&camera);
    d.OnInitDialog();
    EXPECT_TRUE(d.FiducialList()->isHidden());
    // Each step fills the field whose check failed before.
    const struct {
        int id;
        const char* text;
        const char* message;
    } steps[] = {
        {1000, "NEWCAM", "Camera Id Missing"},
        {1004, "640", "Horizontal Sensor Size Missing"},
        {1005, "480", "Vertical Sensor Size Missing"},
        {1006, "-0.01", "Horizontal Pixel Size Missing"},
        {1007, "0.01", "Vertical Pixel Size Missing"},
        {1008, "8.5", "Focal Length Missing"},
    };
    for (const auto& s : steps) {
        d.OnOK();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{s.message});
        EXPECT_NE(d.result(), QDialog::Accepted);
        SetText(d, s.id, QString::fromLatin1(s.text));
    }

    d.Item<QCheckBox>(1212)->click();
    EXPECT_FALSE(d.FiducialList()->isHidden());
    for (const char* label : {"f3", "f1", "f2"}) {
        dialogs.push_back([label](CDialog& edit) {
            if (label[1] == '3')
                Picture(edit, "AddEditFiducialReseau.png");
            SetText(edit, 1100, QString::fromLatin1(label));
            SetText(edit, 1055, QStringLiteral("1.5"));
            SetText(edit, 1056, QStringLiteral("-2.25"));
            edit.OnOK();
            return edit.result();
        });
        d.OnAddFiducial();
    }
    dialogs.push_back([](CDialog& edit) {
        EXPECT_EQ(Text(edit, 1100), QStringLiteral("F1"));
        SetText(edit, 1100, QStringLiteral("f9"));
        edit.OnOK();
        return edit.result();
    });
    d.OnEditFiducial(0);
    const char* const sorted[] = {"F2", "F3", "F9"};
    ASSERT_EQ(camera.fiducials.GetSize(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(camera.fiducials.GetAt(i)->label.GetText(), sorted[i]);
        EXPECT_EQ(d.FiducialList()->item(i, 0)->text(), QString::fromLatin1(sorted[i]));
    }
    Picture(d, "CameraInput.png");
    EXPECT_EQ(d.FiducialList()->item(0, 1)->text(), QStringLiteral(" 1.500"));
    EXPECT_EQ(d.FiducialList()->item(0, 2)->text(), QStringLiteral("-2.250"));

    // An imported file replaces the marks.
    const QString xy = scratch.filePath(QStringLiteral("marks.xy"));
    ASSERT_TRUE(kestrelon::test::WriteFileBytes(xy.toStdString(), "R2 3.0 4.0\r\nR1 -1.0 2.0\r\n"));
    files.push_back(xy);
    d.Item<QAbstractButton>(1121)->click();
    ASSERT_EQ(d.FiducialList()->rowCount(), 2);
    EXPECT_EQ(d.FiducialList()->item(0, 0)->text(), QStringLiteral("R1"));
    EXPECT_EQ(camera.fiducials.GetSize(), 2);

    // Delete asks first; unticking "Metric" asks while marks are left.
    d.FiducialList()->selectRow(0);
    answers = {IDYES};
    d.OnDeleteFiducials();
    ASSERT_EQ(camera.fiducials.GetSize(), 1);
    EXPECT_STREQ(camera.fiducials.GetAt(0)->label.GetText(), "R2");
    answers = {IDNO};
    d.Item<QCheckBox>(1212)->click();
    EXPECT_TRUE(d.Item<QCheckBox>(1212)->isChecked());
    EXPECT_EQ(camera.fiducials.GetSize(), 1);
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"Delete Selected Points?", "Fiducials will be deleted\nContinue?"}));

    // A name another database camera has in other letters is refused.
    SetText(d, 1000, QStringLiteral("cam-a"));
    d.OnOK();
    EXPECT_EQ(TakeMessages().size(), 1u);
    EXPECT_NE(d.result(), QDialog::Accepted);
    SetText(d, 1000, QStringLiteral("NEWCAM"));
    d.OnOK();
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_STREQ(camera.identifier.GetText(), "NEWCAM");
    EXPECT_EQ(camera.XPixelSize, -0.01);
    EXPECT_EQ(camera.parameters[CAM_C], 8.5);
    EXPECT_EQ(camera.XPixels, 640);
}

TEST_F(CameraDialogs, ComparisonFollowsTheTwoSampleTTest)
{
    // Student t, two-sided 95 %: 20 degrees of freedom 2.086 (table value).
    const double t20 = 2.086;
    CCamera* a = Db(0);
    CCamera* b = Db(1);
    a->calibrationRedundancy = 10;
    b->calibrationRedundancy = 12;
    for (int i = 0; i < 10; ++i) {
        a->postSigmas[i] = b->postSigmas[i] = 0.001 * (i + 1);
        a->parameters[i] = 1.0;
        // Differences of about 1 and 4 pooled standard errors, alternately.
        const double se = a->postSigmas[i] * std::sqrt(22.0 / 120.0);
        b->parameters[i] = 1.0 + (i % 2 ? 4.0 : 1.0) * se;
    }
    CDBaseCamerasListView list;
    list.OnUpdate(nullptr, 0);
    list.SelectRows({0, 1});
    dialogs.push_back([&](CDialog& d) {
        auto& compare = dynamic_cast<CCameraCompareDlg&>(d);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Statistical Camera Comparision "));
        EXPECT_TRUE(d.Item<QLineEdit>(1323)->isReadOnly());
        CEditableListCtrl* grid = compare.ResultList();
        EXPECT_EQ(grid->rowCount(), 10);
        for (int i = 0; i < 10; ++i) {
            const double se = a->postSigmas[i] * std::sqrt(22.0 / 120.0);
            const double t = std::fabs(a->parameters[i] - b->parameters[i]) / se;
            EXPECT_EQ(grid->item(i, 5)->text(), t < t20 ? QStringLiteral("YES") : QStringLiteral("NO")) << i;
        }
        EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("    1.000000"));
        EXPECT_EQ(grid->item(3, 2)->text(), QStringLiteral("4.0000e-03"));
        Picture(d, "StatisticalCameraComparision.png");
        EXPECT_EQ(CutCells(grid), "");
        return int(QDialog::Accepted);
    });
    list.OnCompareCameras();
    EXPECT_TRUE(dialogs.empty());

    // Redundancies summing to 2 or less decide nothing; a typed one counts on Re-Compute.
    a->calibrationRedundancy = 0;
    b->calibrationRedundancy = 2;
    CCameraCompareDlg d(a, b);
    d.OnInitDialog();
    EXPECT_FALSE(d.Item<QLineEdit>(1323)->isReadOnly());
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(d.ResultList()->item(i, 5)->text(), QStringLiteral("---")) << i;
    SetText(d, 1323, QStringLiteral("18"));
    a->postSigmas[CAM_B2] = 0.0; // not estimated: nothing to test
    d.Item<QAbstractButton>(1406)->click();
    EXPECT_EQ(d.ResultList()->item(1, 5)->text(), QStringLiteral("NO"));
    EXPECT_EQ(d.ResultList()->item(0, 5)->text(), QStringLiteral("YES"));
    EXPECT_EQ(d.ResultList()->item(CAM_B2, 5)->text(), QStringLiteral("---"));
}

TEST_F(CameraDialogs, BalancedDistortionTakesOnlyValuesInRange)
{
    const struct {
        const char* balanced;
        const char* maximum;
        const char* step;
        bool accepted;
    } cases[] = {
        {"0", "0.001", "1000", true},   {"3.5", "12", "0.5", true},  {"-0.1", "12", "0.5", false},
        {"3.5", "0", "0.5", false},     {"3.5", "12", "1000.5", false}, {"x", "12", "0.5", false},
    };
    for (const auto& c : cases) {
        CBalancedDistortionDlg d(1.0, 2.0, 0.25);
        d.OnInitDialog();
        if (c.accepted && c.balanced[0] == '0')
            Picture(d, "BalancedDistortion.png");
        EXPECT_EQ(Text(d, 1362), QStringLiteral("2"));
        SetText(d, 1361, QString::fromLatin1(c.balanced));
        SetText(d, 1362, QString::fromLatin1(c.maximum));
        SetText(d, 1363, QString::fromLatin1(c.step));
        d.OnOK();
        EXPECT_EQ(d.result() == QDialog::Accepted, c.accepted) << c.balanced << " " << c.maximum << " " << c.step;
        EXPECT_EQ(TakeMessages().size(), c.accepted ? 0u : 1u);
        if (c.accepted) {
            EXPECT_EQ(d.GetBalancedRadius(), std::stod(c.balanced));
            EXPECT_EQ(d.GetMaximumRadius(), std::stod(c.maximum));
            EXPECT_EQ(d.GetStep(), std::stod(c.step));
        } else {
            EXPECT_EQ(d.GetBalancedRadius(), 1.0);
        }
    }
}

TEST_F(CameraDialogs, SelectCameraGivesTheIndexOrNone)
{
    for (int pick : {-1, 1}) {
        CCameraSelectionDlg d(&app->cameraDatabase);
        d.OnInitDialog();
        auto* combo = d.Item<CComboBoxCamera>(1383);
        EXPECT_EQ(combo->count(), 2);
        combo->setCurrentIndex(pick);
        if (pick >= 0)
            Picture(d, "SelectCamera.png");
        d.OnOK();
        EXPECT_EQ(d.GetSelectedIndex(), pick);
    }
}

} // namespace
