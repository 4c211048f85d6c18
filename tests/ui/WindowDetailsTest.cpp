// The details that make the windows feel finished: the divider of the project
// frame, one frame per project, the size a frame is restored to, and status
// panes, list headers and titles wide enough for their texts.
#include <algorithm>
#include <QStyleOptionComboBox>
#include <QComboBox>
#include "PictureImages.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "Frames.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "PointSet.h"
#include "ProjectFile.h"
#include "Resources.h"
#include "Similarity3D.h"
#include "TransformationDialog.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTest>

#include <unistd.h>

#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

namespace window_details_test {

class Windows : public ShellFixture {
protected:
    // The sample opened at start-up, as the program opens a named project.
    void StartOnSample()
    {
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
        project = Frame()->GetProjectFrame();
        ASSERT_NE(project, nullptr);
        tree = project->GetTreeView();
        doc = GetActiveKestrelonDoc();
        ASSERT_TRUE(tree && doc);
    }
    // Tree items of every kind of right pane, the starting one last.
    struct PaneItem {
        const char* pane;
        std::function<QTreeWidgetItem*()> item;
    };
    std::vector<PaneItem> PaneItems()
    {
        return {
            {"database scale bars", [this] { return tree->ScaleBarDatabase(); }},
            {"project cameras", [this] { return tree->ProjectRoot(); }},
            {"images", [this] { return Camera(); }},
            {"observations", [this] { return Camera()->child(0); }},
            {"3D data", [this] { return Data()->child(0); }},
            {"database cameras", [this] { return tree->CameraDatabase(); }},
        };
    }
    QTreeWidgetItem* Camera() const { return tree->ProjectRoot()->child(0); }
    QTreeWidgetItem* Data() const
    {
        for (int i = 0; i < tree->ProjectRoot()->childCount(); ++i)
            if (tree->ProjectRoot()->child(i)->text(0) == QStringLiteral("3D Data"))
                return tree->ProjectRoot()->child(i);
        return nullptr;
    }
    void Click(QTreeWidgetItem* item)
    {
        tree->setCurrentItem(item);
        tree->OnClickItem(item);
        Settle();
    }
    // The table the right pane shows (a list view, or the table inside one).
    QTableView* RightTable() const
    {
        QWidget* pane = project->GetRightPane() ? project->GetRightPane()->GetWidget() : nullptr;
        if (auto* table = qobject_cast<QTableView*>(pane))
            return table;
        return pane ? pane->findChild<QTableView*>() : nullptr;
    }
    // The sub-window a point of the MDI area's viewport shows.
    QMdiSubWindow* FrameAt(QPoint at) const
    {
        QWidget* w = Frame()->GetMdiArea()->viewport()->childAt(at);
        while (w && !qobject_cast<QMdiSubWindow*>(w))
            w = w->parentWidget();
        return qobject_cast<QMdiSubWindow*>(w);
    }

    CProjectFrame* project = nullptr;
    CKestrelonView* tree = nullptr;
};

TEST_F(Windows, TheDividerStaysWhereTheUserLeftIt)
{
    ASSERT_NO_FATAL_FAILURE(StartOnSample());
    QSplitter* splitter = project->GetSplitter();
    // The user drags the divider 110 pixels to the right.
    QSplitterHandle* handle = splitter->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    const int before = splitter->sizes()[0];
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(110, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(110, 0));
    Settle();
    const int chosen = splitter->sizes()[0];
    ASSERT_EQ(chosen, before + 110);

    // Every kind of right pane in turn, and the first again.
    std::string shown = typeid(*project->GetRightPane()).name();
    for (const PaneItem& c : PaneItems()) {
        Click(c.item());
        ASSERT_NE(project->GetRightPane(), nullptr) << c.pane;
        EXPECT_NE(typeid(*project->GetRightPane()).name(), shown) << c.pane;
        shown = typeid(*project->GetRightPane()).name();
        EXPECT_EQ(splitter->sizes()[0], chosen) << c.pane;
    }
    // A narrower window takes its room from the right pane.
    project->showNormal();
    project->resize(project->width() - 100, project->height());
    Settle();
    EXPECT_EQ(splitter->sizes()[0], chosen);
}

TEST_F(Windows, EachProjectFrameShowsItsOwnProject)
{
    ASSERT_NO_FATAL_FAILURE(StartOnSample());
    QMdiArea* area = Frame()->GetMdiArea();
    app->OnFileNew();
    app->OnFileNew();
    Settle();
    std::vector<CProjectFrame*> frames;
    for (QMdiSubWindow* w : area->subWindowList())
        frames.push_back(dynamic_cast<CProjectFrame*>(w));
    ASSERT_EQ(frames.size(), 3u);
    // The last opened on top, then the first made active again.
    for (CProjectFrame* active : {frames[2], frames[0], frames[1]}) {
        area->setActiveSubWindow(active);
        Settle();
        const QString title = active->windowTitle();
        EXPECT_TRUE(active->isMaximized()) << title.toStdString();
        EXPECT_EQ(active->geometry(), area->viewport()->rect()) << title.toStdString();
        // No other frame shows through, not even its title bar.
        const QRect r = area->viewport()->rect();
        for (QPoint at : {r.topLeft() + QPoint(4, 4), r.center(), QPoint(r.right() - 4, r.top() + 4),
                          r.bottomLeft() + QPoint(4, -4)})
            EXPECT_EQ(FrameAt(at), active) << title.toStdString() << " at " << at.x() << "," << at.y();
        // The tree is that project's.
        CKestrelonView* own = active->GetTreeView();
        EXPECT_EQ(own->CView::GetDocument(), active->GetActiveDocument());
        EXPECT_TRUE(title.startsWith(own->ProjectRoot()->text(0))) << title.toStdString();
    }
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + QStringLiteral("/ThreeProjects.png")));
}

TEST_F(Windows, FramesRestoredFromMaximisedComeBackAtANormalSize)
{
    // The project frame is made before the main window is shown.
    ASSERT_NO_FATAL_FAILURE(StartOnSample());
    ASSERT_TRUE(project->isMaximized());
    project->showNormal();
    Settle();
    const int menu = Frame()->menuWidget()->height();
    EXPECT_EQ(project->geometry(), QRect(0, 0, Frame()->width() - 4, Frame()->height() - menu - 54));

    // An image window opened over the maximised project.
    project->showMaximized();
    Settle();
    CMDIChildWnd* image = nullptr;
    if (CImageView* view = OpenImageWindow(doc, doc->images.GetAt(0)))
        image = view->GetParentFrame();
    ASSERT_NE(image, nullptr);
    Settle();
    image->showMaximized();
    Settle();
    image->showNormal();
    Settle();
    const QSize client = Frame()->GetMdiArea()->viewport()->size();
    EXPECT_EQ(image->size(), QSize(client.width() * 3 / 4, client.height() * 3 / 4));

    // After that, each comes back at the size the user gave it.
    const struct {
        const char* name;
        QMdiSubWindow* frame;
        QRect normal;
    } frames[] = {{"project", project, QRect(30, 40, 520, 360)}, {"image", image, QRect(60, 20, 400, 300)}};
    for (const auto& f : frames) {
        f.frame->showNormal();
        f.frame->setGeometry(f.normal);
        f.frame->showMaximized();
        Settle();
        f.frame->showNormal();
        Settle();
        EXPECT_EQ(f.frame->geometry(), f.normal) << f.name;
    }
}

TEST_F(Windows, TheSaveClearsItsStatusText)
{
    ASSERT_NO_FATAL_FAILURE(StartOnSample());
    // The pane as the project file's first bytes are written.
    QStringList during;
    const ProjectFileWriteFunction previous =
        SetProjectFileWriteFunction([&](int fd, const void* data, std::size_t size) -> ssize_t {
            during << Frame()->GetPaneText(0);
            return ::write(fd, data, size);
        });
    Frame()->OnCommandId(ID_FILE_SAVE);
    SetProjectFileWriteFunction(previous);
    ASSERT_FALSE(during.isEmpty());
    EXPECT_EQ(during.front(), QStringLiteral("Saving Project"));
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(Frame()->GetPaneText(0), QString());
}

TEST_F(Windows, StatusPanesFitTheirTexts)
{
    // Ten images of one small picture: the image window writes "Image 10 of 10".
    ASSERT_NO_FATAL_FAILURE(NewProject());
    ASSERT_NE(AddPictureImages(*doc, scratch.path().toStdString(), 10), nullptr);
    ASSERT_NE(OpenImageWindow(doc, doc->images.GetAt(9)), nullptr);
    Settle();
    ASSERT_EQ(Frame()->GetPaneText(4), QStringLiteral("Image 10 of 10"));

    const struct {
        int pane;
        int id;
        const char* text; // null: the text the image window wrote
    } cases[] = {
        {4, ID_PANE_4, nullptr},
        {4, ID_PANE_4, "Image 1234 of 5678"},
        {3, ID_PANE_3, "Vector Scale: 100000"},
        {4, ID_PANE_4, "Image 1 of 1"}, // a shorter text keeps the width
    };
    for (const auto& c : cases) {
        if (c.text)
            Frame()->SetPaneText(c.pane, QString::fromLatin1(c.text));
        Settle();
        auto* label = Frame()->findChild<QLabel*>(IdName(c.id));
        ASSERT_NE(label, nullptr);
        const QString text = label->text();
        const QFontMetrics metrics(label->font());
        // A framed label indents its text by half an "x".
        const int room = label->contentsRect().width() - metrics.horizontalAdvance(QLatin1Char('x')) / 2;
        EXPECT_GE(room, metrics.horizontalAdvance(text)) << text.toStdString();
        EXPECT_GE(label->width(), c.pane == 3 ? 125 : 85) << text.toStdString();
    }
    EXPECT_TRUE(Frame()->statusBar()->grab().save(TestOutputFolder() + QStringLiteral("/StatusBar.png")));
}

TEST_F(Windows, TheQualityBoxShowsItsEntriesWhole)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    auto* box = Frame()->findChild<QComboBox*>(IdName(IDC_IMAGE_QUALITY));
    ASSERT_NE(box, nullptr);
    ASSERT_GE(box->count(), 3);
    // The field the style draws the current entry in holds its picture and
    // the whole of the widest text.
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.rect = box->rect();
    const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
    const QFontMetrics metrics(box->font());
    for (int i = 0; i < box->count(); ++i)
        EXPECT_GE(field.width(), box->iconSize().width() + 4 + metrics.horizontalAdvance(box->itemText(i)))
            << box->itemText(i).toStdString();
    EXPECT_GE(box->width(), 160);
    EXPECT_TRUE(box->grab().save(TestOutputFolder() + QStringLiteral("/QualityBox.png")));
}

TEST_F(Windows, ListHeadersFitTheirTitles)
{
    ASSERT_NO_FATAL_FAILURE(StartOnSample());
    for (const PaneItem& l : PaneItems()) {
        Click(l.item());
        QTableView* table = RightTable();
        ASSERT_NE(table, nullptr) << l.pane;
        QHeaderView* header = table->horizontalHeader();
        const QFontMetrics metrics(header->font());
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        ASSERT_GT(header->count(), 0) << l.pane;
        for (int c = 0; c < header->count(); ++c) {
            const QString title = table->model()->headerData(c, Qt::Horizontal).toString();
            EXPECT_GE(header->sectionSize(c), metrics.horizontalAdvance(title) + 2 * margin)
                << l.pane << ": " << title.toStdString();
        }
        if (std::string(l.pane) == "observations") {
            EXPECT_TRUE(table->grab().save(TestOutputFolder() + QStringLiteral("/ObservationsHeader.png")));
        }
    }
}

TEST_F(Windows, TheTransformationDialogShowsItsTwoLineTitleWhole)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    CPointSet toTransform, control, result;
    C3DTransformation transformation(&toTransform, &control, &result);
    C3DTransformationDlg dialog(&transformation, Frame());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QString text = QStringLiteral("RMS of Differences Between Control and\nTransformed Coordinates");
    QLabel* title = nullptr;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text() == text)
            title = label;
    ASSERT_NE(title, nullptr);
    const QFontMetrics metrics(title->font());
    for (const QString& line : text.split(QLatin1Char('\n')))
        EXPECT_GE(title->contentsRect().width(), metrics.horizontalAdvance(line)) << line.toStdString();
    EXPECT_GE(title->contentsRect().height(), 2 * metrics.lineSpacing());
    ExpectWholeAndSave(dialog, QStringLiteral("/TransformationDialog.png"));
    dialog.close();
}

} // namespace window_details_test
