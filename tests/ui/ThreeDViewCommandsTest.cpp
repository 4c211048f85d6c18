// The 3D view's commands: the context menu's states, the automatic scales
// against a hand computation, and, in the running program, the view opened
// from the tree with Delete Point(s), relabel and "321...".
#include "GLSupport.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "3DView.h"
#include "Frames.h"
#include "KestrelonView.h"
#include "BestFitDialogs.h"
#include "PointDeleteExDlg.h"
#include "PointDialogs.h"
#include "PointRelabelDialog.h"
#include "ScaleBar.h"
#include "StationOpenGL.h"
#include "TreeMenus.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QOpenGLContext>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <cmath>

namespace three_d_view_commands_test {

bool Enabled(QMenu* menu, int id)
{
    QAction* action = FindMenuCommand(menu, id);
    return action && action->isEnabled();
}

bool BestFitEnabled(QMenu* menu)
{
    for (QAction* action : menu->actions())
        if (action->menu() && action->text() == QLatin1String("Best Fit"))
            return action->isEnabled();
    return false;
}

class ThreeDViewMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
    }
};

TEST_F(ThreeDViewMenu, StatesOverTheSelectionAndTheSetKinds)
{
    enum Kind { PLAIN, DISCREPANCY, BUNDLE, NORMALS };
    CScaleBarList bars;
    bars.AddNew()->name = "Bar";
    for (Kind kind : {PLAIN, DISCREPANCY, BUNDLE, NORMALS}) {
        CPointSet set;
        set.name = kind == BUNDLE ? "/tmp/Bundle.xyz" : "/tmp/Plain.xyz";
        set.isDiscrepancySet = kind == DISCREPANCY;
        for (int i = 0; i < 5; ++i) {
            CObjectPoint p(("P" + std::to_string(i + 1)).c_str(), i, i * i, 0.0);
            if (kind == NORMALS && i == 2)
                p.SetNormal(0, 0, 1);
            set.AddPointSorted(p);
        }
        C3DView view;
        view.SetScene(&set, nullptr, &bars, nullptr);
        view.OnUpdate(nullptr, 0);
        for (int n = 0; n <= 4; ++n) {
            view.ClearSelection();
            for (int i = 0; i < n; ++i)
                view.SelectPoint(set.GetAt(i));
            std::unique_ptr<QMenu> menu(view.BuildContextMenu(nullptr));
            const std::string at = "kind " + std::to_string(kind) + ", " + std::to_string(n) + " selected";
            EXPECT_EQ(Enabled(menu.get(), ID_3D_DISTANCE), n == 2) << at;
            EXPECT_EQ(BestFitEnabled(menu.get()), n >= 2) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_BEST_FIT_LINE), true) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_BEST_FIT_PLANE), n >= 3) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_BEST_FIT_CIRCLE), n >= 4) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_BEST_FIT_SPHERE), n >= 4) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_CREATE_IMAGE_AIM), n == 1) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_DELETE), n > 0) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_RELABEL), n > 0) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_VIEW_DISCREPANCIES), kind == DISCREPANCY) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_VIEW_NORMALS), kind == NORMALS) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_VIEW_POINT_ELLIPSOIDS), kind == BUNDLE) << at;
            EXPECT_EQ(Enabled(menu.get(), ID_3D_VIEW_SCALEBARS), kind == BUNDLE) << at;
            // Scale steps follow their layers, all hidden here.
            for (int id : {ID_3D_INCREASE_CAMERAS, ID_3D_DECREASE_DISCREPANCY, ID_3D_INCREASE_NORMALS,
                           ID_3D_DECREASE_ELLIPSOIDS})
                EXPECT_FALSE(Enabled(menu.get(), id)) << at << " " << id;
            EXPECT_TRUE(Enabled(menu.get(), ID_3D_INCREASE_AXIS)) << at;
        }
        // Checks follow the layers.
        view.OnCmdMsg(ID_3D_VIEW_CAMERAS, nullptr);
        view.OnCmdMsg(ID_3D_DRAW_LINES, nullptr);
        std::unique_ptr<QMenu> menu(view.BuildContextMenu(nullptr));
        EXPECT_TRUE(FindMenuCommand(menu.get(), ID_3D_VIEW_CAMERAS)->isChecked());
        EXPECT_TRUE(FindMenuCommand(menu.get(), ID_3D_DRAW_LINES)->isChecked());
        EXPECT_FALSE(FindMenuCommand(menu.get(), ID_3D_VIEW_RAYS)->isChecked());
        EXPECT_TRUE(Enabled(menu.get(), ID_3D_DECREASE_CAMERAS));
        view.ClearSelection();
    }
}

TEST_F(ThreeDViewMenu, AutomaticScalesFromTheScreensMillimetres)
{
    CPointSet set;
    set.name = "/tmp/Bundle.xyz";
    for (const auto& [label, x, s] : {std::tuple{"A", 0.0, 0.2}, std::tuple{"B", 700.0, 0.4}}) {
        CObjectPoint p(label, x, 100.0, 50.0);
        p.SetSigmas(s, s, s);
        set.AddPointSorted(p);
    }
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    if (!ShowGLWidget(view, 400, 300))
        GTEST_SKIP() << "the view has no OpenGL context";
    view.OnUpdate(nullptr, 0);
    view.grabFramebuffer();

    // By hand: the two points under the last projection and the modelview's
    // translation alone, their distance in pixels times the screen's mm a pixel.
    const double* P = view.GetLastProjection();
    const double* M = view.GetLastModelview();
    double window[2][2];
    const double xs[2] = {0.0, 700.0};
    for (int e = 0; e < 2; ++e) {
        const double eye[4] = {xs[e] + M[12], 100.0 + M[13], 50.0 + M[14], 1.0};
        double clip[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                clip[i] += P[j * 4 + i] * eye[j];
        window[e][0] = 400.0 * (clip[0] / clip[3] + 1.0) / 2.0;
        window[e][1] = 300.0 * (clip[1] / clip[3] + 1.0) / 2.0;
    }
    const QScreen* screen = view.screen();
    const double mmPerPixel = screen->physicalSize().width() / (screen->size().width() * screen->devicePixelRatio());
    ASSERT_GT(mmPerPixel, 0.0);
    EXPECT_DOUBLE_EQ(C3DView::GetMillimetresPerPixel(&view), mmPerPixel);
    const double S = 700.0 / (std::hypot(window[1][0] - window[0][0], window[1][1] - window[0][1]) * mmPerPixel);
    double s = 0.0;
    ASSERT_TRUE(view.GetScreenScale(s));
    EXPECT_NEAR(s, S, 1e-9 * S);

    view.OnCmdMsg(ID_3D_VIEW_NORMALS, nullptr);
    EXPECT_EQ(view.GetNormalScale(), std::max(1, int(std::trunc(10.0 * S))));
    // Mean eigenvalues of the points (0.04 and 0.16 on every axis): |b| = 0.1 sqrt(3).
    view.OnCmdMsg(ID_3D_VIEW_POINT_ELLIPSOIDS, nullptr);
    EXPECT_TRUE(view.GetLayers().pointEllipsoids);
    EXPECT_EQ(view.GetEllipsoidScale(), std::trunc(5.0 * S / (0.5 * 0.1 * std::sqrt(3.0))));
    EXPECT_TRUE(view.IsErrorDataPrepared());

    // Without covariances the ellipsoid scale stays 500 and is computed again
    // next time; a one-point set keeps its scales.
    for (int i = 0; i < set.GetSize(); ++i)
        set.GetAt(i)->covariance.SetDiagonal(0.0);
    view.OnUpdate(nullptr, 0);
    view.grabFramebuffer();
    view.OnCmdMsg(ID_3D_VIEW_POINT_ELLIPSOIDS, nullptr);
    EXPECT_EQ(view.GetEllipsoidScale(), 500.0);
    EXPECT_FALSE(view.IsErrorDataPrepared());
    set.RemoveAt(1, 1);
    view.OnUpdate(nullptr, 0);
    view.grabFramebuffer();
    view.OnCmdMsg(ID_3D_VIEW_NORMALS, nullptr);
    EXPECT_EQ(view.GetNormalScale(), 1);
    EXPECT_FALSE(view.GetScreenScale(s));

    // Size steps.
    view.OnCmdMsg(ID_3D_DECREASE_POINT_SIZE, nullptr);
    EXPECT_EQ(view.GetPointSize(), 1.0f);
    view.OnCmdMsg(ID_3D_INCREASE_POINT_SIZE_2, nullptr);
    EXPECT_EQ(view.GetPointSize(), 2.0f);
    for (int k = 0; k < 20; ++k)
        view.OnCmdMsg(ID_3D_DECREASE_ELLIPSOIDS, nullptr);
    EXPECT_NEAR(view.GetEllipsoidScale(), 500.0 * std::pow(0.9, 20), 1e-9);
}

class ThreeDViewCommands : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
    }
    // The driver set "Drive" with P1 .. P4 and one oriented image observing them.
    void Populate()
    {
        AddCamera(*doc, "Cam1");
        image = AddImage(*doc, {"Cam1", true, true, 4});
        image->X = 100, image->Y = 200, image->Z = 3000;
        path = scratch.filePath(QStringLiteral("Drive.xyz"));
        set = AddPointSet(*doc, path.toLatin1().constData());
        set->isDriver = true;
        const double xyz[4][3] = {{0, 0, 0}, {1000, 0, 0}, {0, 800, 0}, {500, 400, 100}};
        for (int i = 0; i < 4; ++i)
            set->AddPointSorted(CObjectPoint(("P" + std::to_string(i + 1)).c_str(), xyz[i][0], xyz[i][1], xyz[i][2]));
        doc->UpdateAllViews();
    }
    C3DView* OpenView() { return OpenPointSetView(Frame(), QStringLiteral("Drive")); }
    static QString FileText(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

    CProjectImage* image = nullptr;
    CPointSet* set = nullptr;
    QString path;
};

TEST_F(ThreeDViewCommands, DeletePointsTextsAndObservations)
{
    // The texts for one, three and four points.
    CPointSet labels;
    for (const char* l : {"P1", "P2", "P3", "P4"})
        labels.AddPointSorted(CObjectPoint(l, 0, 0, 0));
    const struct {
        int count;
        const char* text;
    } texts[] = {{1, "Do you really want to delete the point P1 ?"},
                 {3, "Do you really want to delete points P1, P2, P3 ?"},
                 {4, "Do you really want to delete points P1, P2, P3, ... ?"}};
    for (const auto& t : texts) {
        CObjectPointArray points;
        for (int i = 0; i < t.count; ++i)
            points.Add(labels.GetAt(i));
        EXPECT_EQ(CPointDeleteExDlg::MessageText(points), QString::fromLatin1(t.text));
    }

    NewProject();
    Populate();
    C3DView* view = OpenView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->GetPointSet(), set);
    if (!view->context() || !view->context()->isValid())
        GTEST_SKIP() << "the view has no OpenGL context";

    // No changes nothing; Yes deletes P1 and marks its observation "-P1".
    view->SelectPoint(set->FindPointByText("P1"));
    dialogs.push_back([](CDialog& d) {
        d.Item<QAbstractButton>(CPointDeleteExDlg::kNo)->click();
        return d.result();
    });
    view->OnCmdMsg(ID_3D_DELETE, nullptr);
    EXPECT_EQ(set->GetSize(), 4);
    doc->SetModifiedFlag(false);
    dialogs.push_back([this](CDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Delete Point(s)"));
        EXPECT_EQ(d.Item<QLabel>(CPointDeleteExDlg::kMessage)->text(),
                  QStringLiteral("Do you really want to delete the point P1 ?"));
        EXPECT_TRUE(d.Item<QCheckBox>(CPointDeleteExDlg::kObservations)->isChecked()); // a driver set
        d.show();
        ExpectWholeAndSave(d, "/DeletePoints.png");
        d.Item<QAbstractButton>(IDOK)->click();
        return d.result();
    });
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(set->FindPointByText("P1"), nullptr);
    EXPECT_EQ(view->GetSelection().GetSize(), 0);
    EXPECT_TRUE(doc->IsModified());
    const CImageObservation* marked = image->targets.GetAt(0);
    EXPECT_STREQ(marked->label.GetText(), "-P1");
    EXPECT_TRUE(marked->disabled);
    for (int i = 1; i < image->targets.GetSize(); ++i)
        EXPECT_FALSE(image->targets.GetAt(i)->label < image->targets.GetAt(i - 1)->label);
    const QString text = FileText(path);
    EXPECT_FALSE(text.contains(QStringLiteral("P1")));
    EXPECT_TRUE(text.contains(QStringLiteral("P2")));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ThreeDViewCommands, RelabelOnePointWithTheToolbarFields)
{
    NewProject();
    Populate();
    C3DView* view = OpenView();
    ASSERT_NE(view, nullptr);
    CMainToolBar* bar = Frame()->GetToolBar();
    EXPECT_EQ(bar->m_PointLabel->text(), QStringLiteral("1"));
    EXPECT_EQ(bar->m_PointIncrement->text(), QStringLiteral("1"));
    bar->m_PointLabel->setText(QStringLiteral("P3")); // in use
    bar->m_PointIncrement->setText(QStringLiteral("5"));
    EXPECT_STREQ(view->GetLabelText().GetText(), "P3");
    EXPECT_EQ(view->GetLabelIncrement(), 5);
    view->SelectPoint(set->FindPointByText("P4"));
    answers.push_back(IDOK);
    view->OnCmdMsg(ID_3D_RELABEL, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Pointlabel P3 already in use!"});
    EXPECT_NE(set->FindPointByText("P4"), nullptr);

    // Letters and digits typed in the view go to the toolbar's box; 0x454
    // (Return in the box) relabels with the label typed.
    bar->m_PointLabel->clear();
    QTest::keyClicks(view, QStringLiteral("q7"));
    EXPECT_EQ(bar->m_PointLabel->text(), QStringLiteral("Q7"));
    SendHubMessage(UM_RELABEL_PICKED, 1854, 0);
    EXPECT_EQ(set->FindPointByText("P4"), nullptr);
    ASSERT_NE(set->FindPointByText("Q7"), nullptr);
    EXPECT_NE(image->FindObservationByText("Q7"), nullptr);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(FileText(path).contains(QStringLiteral("Q7")));
    EXPECT_EQ(bar->m_PointLabel->text(), QStringLiteral("Q12"));

    // Letters typed in the view past a label's 16 characters are refused at
    // Return with the rule, and the point keeps its label (not the last
    // valid text of the box).
    view->SelectPoint(set->FindPointByText("Q7"));
    const int points = set->GetSize();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClicks(view, QStringLiteral("abcdefghijklmnopq"));
    EXPECT_EQ(bar->m_PointLabel->text(), QStringLiteral("ABCDEFGHIJKLMNOPQ"));
    answers.push_back(IDOK);
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Invalid point label ABCDEFGHIJKLMNOPQ\nA point label has at "
                                                       "most 16 characters: letters, digits, _ and -."});
    EXPECT_NE(set->FindPointByText("Q7"), nullptr);
    EXPECT_EQ(set->FindPointByText("ABCDEFGHIJKLMNOP"), nullptr);
    EXPECT_EQ(set->GetSize(), points);
    // One letter less is a label, and Return relabels with it.
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(set->FindPointByText("Q7"), nullptr);
    EXPECT_NE(set->FindPointByText("ABCDEFGHIJKLMNOP"), nullptr);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ThreeDViewCommands, ThreeTwoOneOnTheDriverSetMovesThePosesAndWritesTheSet)
{
    NewProject();
    Populate();
    C3DView* view = OpenView();
    ASSERT_NE(view, nullptr);
    // Origin P2, axis towards P3, plane through P4.
    for (const char* l : {"P2", "P3", "P4"})
        view->SelectPoint(set->FindPointByText(l));
    bool previewed = false;
    dialogs.push_back([&](CDialog& d) {
        previewed = view->IsAlignmentShown();
        static_cast<C321Dialog&>(d).OnOK();
        return d.result();
    });
    view->OnCmdMsg(ID_3D_321, nullptr);
    EXPECT_TRUE(previewed);
    EXPECT_FALSE(view->IsAlignmentShown());
    const CObjectPoint* origin = set->FindPointByText("P2");
    EXPECT_NEAR(origin->x, 0.0, 1e-9);
    EXPECT_NEAR(origin->y, 0.0, 1e-9);
    EXPECT_NEAR(origin->z, 0.0, 1e-9);
    // The pose moved with the set: the station keeps its distance to P2.
    EXPECT_NEAR(std::sqrt(image->X * image->X + image->Y * image->Y + image->Z * image->Z),
                std::sqrt(900.0 * 900 + 200.0 * 200 + 3000.0 * 3000), 1e-6);
    EXPECT_TRUE(doc->IsModified());
    const QString text = FileText(path);
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("\\d\\.\\d{12}\\b")))) << text.toStdString();
}

} // namespace three_d_view_commands_test

namespace three_d_view_commands_test {

TEST_F(ThreeDViewCommands, GeometryDialogsLinesAndAnUnwritableSet)
{
    NewProject();
    Populate();
    // "Graphic View" of the tree's point-set menu opens the view.
    auto* frame = dynamic_cast<CProjectFrame*>(Frame()->MDIGetActive());
    ASSERT_NE(frame, nullptr);
    frame->GetTreeView()->SetSelectedPointSet(set);
    frame->GetTreeView()->OnCmdMsg(ID_TREE_GRAPHIC_VIEW, nullptr);
    auto* view = dynamic_cast<C3DView*>(frame->GetRightPane());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    view->grabFramebuffer();
    if (!view->context() || !view->context()->isValid())
        GTEST_SKIP() << "the view has no OpenGL context";
    CObjectPoint* p[4];
    for (int i = 0; i < 4; ++i)
        p[i] = set->FindPointByText(("P" + std::to_string(i + 1)).c_str());

    // Ctrl+D with two points: the distance of the first two in set order.
    view->SelectPoint(p[1]);
    view->SelectPoint(p[0]);
    const CObjectPoint* ends[2] = {nullptr, nullptr};
    dialogs.push_back([&](CDialog& d) {
        if (auto* distance = dynamic_cast<CDistanceDlg*>(&d))
            ends[0] = distance->first, ends[1] = distance->second;
        return int(QDialog::Rejected);
    });
    QTest::keyClick(view, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(ends[0], p[0]);
    EXPECT_EQ(ends[1], p[1]);

    // A best fit on the selection opens its results.
    view->SelectPoint(p[2]);
    bool results = false;
    dialogs.push_back([&](CDialog& d) {
        results = dynamic_cast<CBestFitResultsDlg*>(&d) != nullptr;
        return int(QDialog::Rejected);
    });
    view->OnCmdMsg(ID_3D_BEST_FIT_PLANE, nullptr);
    EXPECT_TRUE(results);
    TakeMessages();

    // Ctrl+F selects the named point alone.
    dialogs.push_back([](CDialog& d) {
        static_cast<CHighlightPointDlg&>(d).label = QStringLiteral("p4");
        return int(QDialog::Accepted);
    });
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(view->GetSelection().GetSize(), 1);
    EXPECT_EQ(view->GetSelection().GetAt(0), p[3]);

    // Relabel of several points through "Re-label Points along Line".
    view->ClearSelection();
    for (int i = 0; i < 3; ++i)
        view->SelectPoint(p[i]);
    dialogs.push_back([](CDialog& d) {
        Type(d, CPointRelabelExDlg::kStartLabel, QStringLiteral("R1"));
        d.OnOK();
        return d.result();
    });
    view->OnCmdMsg(ID_3D_RELABEL, nullptr);
    for (const char* label : {"R1", "R2", "R3"})
        EXPECT_NE(set->FindPointByText(label), nullptr) << label;
    EXPECT_STREQ(view->GetLabelText().GetText(), "R4");
    EXPECT_NE(image->FindObservationByText("R1"), nullptr);

    // Draw-lines mode: Shift+click on one point after another draws a chain.
    view->ClearSelection();
    view->grabFramebuffer();
    view->SetDrawLinesMode(true);
    doc->SetModifiedFlag(false);
    CObjectPoint* a = set->FindPointByText("R1");
    CObjectPoint* b = set->FindPointByText("P4");
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, ProjectToWindow(*view, a->x, a->y, a->z));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, ProjectToWindow(*view, b->x, b->y, b->z));
    ASSERT_EQ(set->lines.GetSize(), 1);
    EXPECT_STREQ(set->lines.GetAt(0)->from.GetText(), "R1");
    EXPECT_STREQ(set->lines.GetAt(0)->to.GetText(), "P4");
    EXPECT_EQ(view->GetSelection().GetSize(), 1);
    EXPECT_TRUE(doc->IsModified());
    view->SetDrawLinesMode(false);
    // A click on the line selects it; Delete asks and removes it.
    view->grabFramebuffer();
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier,
                      ProjectToWindow(*view, 0.5 * (a->x + b->x), 0.5 * (a->y + b->y), 0.5 * (a->z + b->z)));
    EXPECT_TRUE(set->lines.GetAt(0)->IsSelected());
    EXPECT_TRUE(view->GetInfoOverlay().GetCurrentText().contains(QStringLiteral(" to ")));
    doc->SetModifiedFlag(false);
    answers.push_back(IDYES);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Delete selected lines?"});
    EXPECT_EQ(set->lines.GetSize(), 0);
    EXPECT_TRUE(doc->IsModified());

    // A set file that cannot be written is named; the delete stays in memory.
    set->SetName(scratch.filePath(QStringLiteral("missing/Drive.xyz")).toLatin1().constData());
    view->ClearSelection();
    view->SelectPoint(b);
    dialogs.push_back([](CDialog& d) {
        d.OnOK();
        return d.result();
    });
    view->OnCmdMsg(ID_3D_DELETE, nullptr);
    EXPECT_EQ(set->FindPointByText("P4"), nullptr);
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("missing/Drive.xyz"), std::string::npos) << messages[0];
}

TEST_F(ThreeDViewCommands, TheScaleMarkerOpensTheScaleDialog)
{
    NewProject();
    Populate();
    set->isDiscrepancySet = true;
    set->GetAt(0)->discrepancy[0] = 2.0;
    C3DView* view = OpenView();
    ASSERT_NE(view, nullptr);
    if (!view->context() || !view->context()->isValid())
        GTEST_SKIP() << "the view has no OpenGL context";
    view->OnCmdMsg(ID_3D_VIEW_DISCREPANCIES, nullptr);
    view->grabFramebuffer();
    const QRect marker = view->GetScaleMarker();
    ASSERT_FALSE(marker.isEmpty());
    QMouseEvent hover(QEvent::MouseMove, marker.center(), view->mapToGlobal(marker.center()), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &hover);
    EXPECT_TRUE(view->IsOverScaleMarker());
    EXPECT_EQ(view->GetInfoOverlay().GetCurrentText(), QStringLiteral("Click to Change Scale"));
    QString title;
    dialogs.push_back([&](CDialog& d) {
        title = d.windowTitle();
        d.show();
        ExpectWholeAndSave(d, "/3DViewScaleDialog.png");
        Type(d, C3DViewScaleDlg::kScale, QStringLiteral("7.8"));
        d.OnOK();
        return d.result();
    });
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, marker.center());
    EXPECT_EQ(title, QStringLiteral("Set Discrepancy Vector Scale"));
    EXPECT_EQ(view->GetDiscrepancyScale(), 7);
}

} // namespace three_d_view_commands_test

namespace three_d_view_commands_test {

// The Ctrl keys with their aliases (keypad, function keys) and the
// characters that step sizes.
TEST_F(ThreeDViewMenu, CtrlKeysAndCharacters)
{
    CPointSet set;
    set.name = "/tmp/Keys.xyz";
    set.isDiscrepancySet = true;
    set.AddPointSorted(CObjectPoint("A", 0, 0, 0));
    set.AddPointSorted(CObjectPoint("B", 10, 0, 0));
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    view.OnUpdate(nullptr, 0);
    const auto layers = [&view] {
        const C3DView::Layers& l = view.GetLayers();
        return std::vector<bool>{l.rays, l.labels, l.discrepancies, l.cameraEllipsoids, view.IsDrawLinesMode()};
    };
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int layer; // index into layers() toggled, -1: a size
        double cameraFactor, ellipsoidFactor;
    } keys[] = {
        {Qt::Key_R, Qt::ControlModifier, 0, 1, 1},
        {Qt::Key_F3, Qt::ControlModifier, 0, 1, 1},
        {Qt::Key_T, Qt::ControlModifier, 1, 1, 1},
        {Qt::Key_F5, Qt::ControlModifier, 1, 1, 1},
        {Qt::Key_V, Qt::ControlModifier, 2, 1, 1},
        {Qt::Key_F7, Qt::ControlModifier, 2, 1, 1},
        {Qt::Key_L, Qt::ControlModifier, 4, 1, 1},
        {Qt::Key_Comma, Qt::ControlModifier | Qt::KeypadModifier, 4, 1, 1},
        {Qt::Key_1, Qt::ControlModifier, -1, 1 / 1.1, 1},
        {Qt::Key_PageUp, Qt::ControlModifier, -1, 1 / 1.1, 1},
        {Qt::Key_2, Qt::ControlModifier, -1, 1.1, 1},
        {Qt::Key_PageDown, Qt::ControlModifier, -1, 1.1, 1},
        {Qt::Key_4, Qt::ControlModifier, -1, 1, 1.1},
        {Qt::Key_Home, Qt::ControlModifier, -1, 1, 1.1},
        {Qt::Key_3, Qt::ControlModifier, -1, 1, 0.9},
        {Qt::Key_End, Qt::ControlModifier, -1, 1, 0.9},
        {Qt::Key_A, Qt::ControlModifier, 3, 1, 1},
        {Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, 3, 1, 1},
    };
    for (const auto& k : keys) {
        const std::vector<bool> before = layers();
        const double camera = view.GetCameraSymbolSize(), ellipsoid = view.GetEllipsoidScale();
        QTest::keyClick(&view, k.key, k.modifiers);
        std::vector<bool> expected = before;
        if (k.layer >= 0)
            expected[size_t(k.layer)] = !expected[size_t(k.layer)];
        EXPECT_EQ(layers(), expected) << k.key;
        EXPECT_NEAR(view.GetCameraSymbolSize(), camera * k.cameraFactor, 1e-12 * camera) << k.key;
        EXPECT_NEAR(view.GetEllipsoidScale(), ellipsoid * k.ellipsoidFactor, 1e-9) << k.key;
    }
    // Characters: point size and axis size.
    const double axis = view.GetAxisSize();
    QTest::keyClicks(&view, QStringLiteral(".>"));
    EXPECT_EQ(view.GetPointSize(), 3.0f);
    QTest::keyClicks(&view, QStringLiteral(",<,"));
    EXPECT_EQ(view.GetPointSize(), 1.0f);
    QTest::keyClick(&view, Qt::Key_BracketRight);
    EXPECT_NEAR(view.GetAxisSize(), axis * 4.0 / 3.0, 1e-12);
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(&view, Qt::Key_BracketLeft);
    EXPECT_EQ(view.GetAxisSize(), 1.0);
    // Up and Down change the field of view by a degree.
    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_EQ(view.GetFieldOfView(), 46.0);
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.GetFieldOfView(), 44.0);
}

// Points selected in the station window are the 3D view's selection: its
// menu offers Delete and Relabel, and Delete and Return act on them.
TEST_F(ThreeDViewCommands, PointsSelectedInTheStationWindowAreDeletedAndRelabelled)
{
    NewProject();
    Populate();
    C3DView* view = OpenView();
    ASSERT_NE(view, nullptr);
    if (!view->context() || !view->context()->isValid())
        GTEST_SKIP() << "the view has no OpenGL context";
    // The station 3000 in front of the set, looking along +Y at all of it.
    CCamera* camera = doc->cameras.GetAt(0);
    camera->XPixels = 3000;
    camera->YPixels = 2000;
    camera->XPixelSize = camera->YPixelSize = 0.006;
    camera->parameters[CAM_C] = 20.0;
    image->SetPose(500, -3000, 50, 0, 0, 0);
    CStationOpenGL window;
    window.resize(360, 240);
    window.SetScene(image, camera, set);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.grabFramebuffer();
    // A band over the whole station window selects the four points there.
    const auto send = [&window](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(window.mapToGlobal(at)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(180, 120), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(357, 237), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(set->GetSelectedCount(), 4);
    EXPECT_EQ(view->GetSelection().GetSize(), 0); // the view has picked nothing itself

    std::unique_ptr<QMenu> menu(view->BuildContextMenu(view));
    ASSERT_TRUE(Enabled(menu.get(), ID_3D_DELETE));
    ASSERT_TRUE(Enabled(menu.get(), ID_3D_RELABEL));
    // The menu's Delete asks about the four points; No keeps them.
    QString asked;
    dialogs.push_back([&asked](CDialog& d) {
        asked = d.Item<QLabel>(CPointDeleteExDlg::kMessage)->text();
        d.Item<QAbstractButton>(CPointDeleteExDlg::kNo)->click();
        return d.result();
    });
    FindMenuCommand(menu.get(), ID_3D_DELETE)->trigger();
    EXPECT_EQ(asked, QStringLiteral("Do you really want to delete points P1, P2, P3, ... ?"));
    EXPECT_EQ(set->GetSize(), 4);

    // Return relabels the four along a line: its dialog opens over them.
    int relabelled = -1;
    dialogs.push_back([&relabelled](CDialog& d) {
        auto* dialog = dynamic_cast<CPointRelabelExDlg*>(&d);
        relabelled = dialog ? 1 : 0;
        return int(QDialog::Rejected);
    });
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(relabelled, 1);

    // Only P2 still marked in the set: the view's list follows, and Delete
    // removes P2 alone.
    set->FindPointByText("P1")->selected = false;
    set->FindPointByText("P3")->selected = false;
    set->FindPointByText("P4")->selected = false;
    dialogs.push_back([](CDialog& d) {
        EXPECT_EQ(d.Item<QLabel>(CPointDeleteExDlg::kMessage)->text(),
                  QStringLiteral("Do you really want to delete the point P2 ?"));
        d.Item<QAbstractButton>(IDOK)->click();
        return d.result();
    });
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(set->FindPointByText("P2"), nullptr);
    EXPECT_EQ(set->GetSize(), 3);
    EXPECT_EQ(view->GetSelection().GetSize(), 0);
    window.SetScene(nullptr, nullptr, nullptr);
}

} // namespace three_d_view_commands_test
