// The 3D point list: columns and cells by set kind and host, cell edits
// stored in the set's file, refused edits, deletion with observations, the
// statistics of selected points, and a picture of the sample's control set.
#include "ContextMenu.h"
#include "Format.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Frames.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "PointDialogs.h"
#include "PointList.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <cstdio>
#include <map>

namespace {

// Three points with distinct values of every field; the second has no normal.
void FillSet(CPointSet& set)
{
    for (int i = 0; i < 3; ++i) {
        CObjectPoint p(("P" + std::to_string(i + 1)).c_str(), 10.5 * i - 3.25, 0.125 * i, 1000.0 / 3.0 + i);
        p.aprioriSigma[0] = 0.01 * (i + 1), p.aprioriSigma[1] = 0.02 * (i + 1), p.aprioriSigma[2] = 0.5 * (i + 1);
        p.discrepancy[0] = -0.0011 * (i + 1), p.discrepancy[1] = 0.0022, p.discrepancy[2] = -0.3 * i;
        p.covariance.Resize(3, 3);
        p.covariance.Zero();
        for (int k = 0; k < 3; ++k)
            p.covariance.SetAt(std::pow(0.001 * (i + k + 1), 2), k, k);
        if (i != 1) {
            p.SetNormal(1.0, 2.0 * i, -2.0);
            p.radius = 1.5 + i;
        }
        set.AddPointSorted(p);
    }
}

QStringList Row(const CEditableListCtrl& list, int row)
{
    QStringList cells;
    for (int c = 0; c < list.ColumnCount(); ++c)
        cells << list.CellText(row, c);
    return cells;
}

QStringList Titles(const CEditableListCtrl& list)
{
    QStringList titles;
    for (int c = 0; c < list.ColumnCount(); ++c)
        titles << list.model()->headerData(c, Qt::Horizontal).toString();
    return titles;
}

QStringList Labels(const CPointSet& set)
{
    QStringList labels;
    for (int i = 0; i < set.GetSize(); ++i)
        labels << set.GetAt(i)->label.GetText();
    return labels;
}

// Refused labels: more than 16 characters, a character a label cannot hold.
const char* const kRefusedPointLabels[] = {
    "Invalid point label bad label!\nA point label has at most 16 characters: letters, digits, _ and -.",
    "Invalid point label ABCDEFGHIJKLMNOPQRSTUV\nA point label has at most 16 characters: letters, digits, _ "
    "and -.",
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class PointList : public ShellFixture {
protected:
    // A new project with a saved folder, a point set "S" of FillSet written
    // to its file and shown in the right pane.
    void OpenSet(bool control)
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
        path = scratch.filePath(QStringLiteral("S.xyz"));
        set = AddPointSet(*doc, path.toLocal8Bit().constData());
        set->isControl = control;
        FillSet(*set);
        ASSERT_TRUE(set->WriteXyzFile(set->name.GetText(), 12, 13, 7));
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        tree->Rebuild3DDataBranch();
        tree->OnClickItem(tree->Find3DDataItem(QStringLiteral("S")));
        Settle();
        auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
        view = frame ? dynamic_cast<C3DDataListView*>(frame->GetRightPane()) : nullptr;
        ASSERT_NE(view, nullptr);
        list = &view->GetListCtrl();
        QApplication::setActiveWindow(Frame());
        // The in-place editor ends when it loses the focus, so typing waits
        // until the window is really active (slow on a loaded X server).
        ASSERT_TRUE(QTest::qWaitForWindowActive(Frame(), 30000));
    }
    // Types the text into the cell through the list's editor and ends with Return.
    void Type(int row, int column, const QString& text)
    {
        list->selectRow(row);
        QPointer<CInPlaceEdit> editor = list->EditSubLabel(row, column);
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
        ASSERT_TRUE(editor && editor->isVisible()) << "the editor ended before Return";
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The set as read back from its file.
    QStringList FileRows() const
    {
        CPointSet back;
        back.ReadXyzFile(path.toLocal8Bit().constData(), nullptr);
        QStringList rows;
        for (int i = 0; i < back.GetSize(); ++i) {
            const CObjectPoint& p = *back.GetAt(i);
            rows << F("%s %.9f %.9f %.9f", p.label.GetText(), p.x, p.y, p.z);
        }
        return rows;
    }
    QStringList SetRows() const
    {
        QStringList rows;
        for (int i = 0; i < set->GetSize(); ++i) {
            const CObjectPoint& p = *set->GetAt(i);
            rows << F("%s %.9f %.9f %.9f", p.label.GetText(), p.x, p.y, p.z);
        }
        return rows;
    }

    CPointSet* set = nullptr;
    QString path;
    C3DDataListView* view = nullptr;
    C3DPointListCtrl* list = nullptr;
};

TEST_F(PointList, ColumnsAndCellsFollowTheSetKindAndTheHost)
{
    const QStringList head = {"Point Label", "X", "Y", "Z"};
    const struct {
        bool discrepancy, control, hosted;
        QStringList titles;
    } cases[] = {
        {true, false, true, head + QStringList{"DX", "DY", "DZ"}},
        {false, true, true, head + QStringList{"Apriori SX", "Apriori SY", "Apriori SZ"}},
        {false, false, true,
         head + QStringList{"Sigma X", "Sigma Y", "Sigma Z", "Radius", "Normal X", "Normal Y", "Normal Z"}},
        {true, false, false, head},
        {false, true, false, head},
        {false, false, false, head},
    };
    for (const auto& c : cases) {
        CPointSet points;
        FillSet(points);
        points.isDiscrepancySet = c.discrepancy, points.isControl = c.control;
        C3DDataListView host;
        C3DPointListCtrl bare;
        C3DPointListCtrl* list = &bare;
        if (c.hosted) {
            host.SetPointSet(&points);
            host.OnInitialUpdate();
            list = &host.GetListCtrl();
        } else {
            bare.SetPointSet(&points);
            bare.Initialize();
            bare.Fill();
        }
        const int mode = c.discrepancy ? 0 : c.control ? 1 : 2;
        SCOPED_TRACE(mode * 2 + c.hosted);
        EXPECT_EQ(list->GetColumnMode(), mode);
        EXPECT_EQ(Titles(*list), c.titles);
        ASSERT_EQ(list->RowCount(), 3);
        for (int r = 0; r < 3; ++r) {
            const CObjectPoint& p = *points.GetAt(r);
            QStringList expected = {p.label.GetText(), F("%6.3f", p.x), F("%6.3f", p.y), F("%6.3f", p.z)};
            for (int k = 0; c.hosted && k < 3; ++k)
                expected << (mode == 0   ? F("%6.2e", p.discrepancy[k])
                             : mode == 1 ? F("%6.2g", p.aprioriSigma[k])
                                         : F("%6.2e", std::sqrt(p.covariance.GetAt(k, k))));
            if (c.hosted && mode == 2) {
                if (r == 1)
                    expected << "" << "" << "" << "";
                else
                    expected << F("%6.3f", p.radius) << F("%6.3f", p.normal[0]) << F("%6.3f", p.normal[1])
                             << F("%6.3f", p.normal[2]);
            }
            EXPECT_EQ(Row(*list, r), expected) << r;
            for (int col = 0; col < list->ColumnCount(); ++col)
                EXPECT_EQ(list->CanEditCell(r, col), col <= 3 || c.control) << col;
        }
    }
}

TEST_F(PointList, CellEditsAreStoredAndBadTextsRefusedWithSetAndFileUnchanged)
{
    OpenSet(true);
    // Each edit, whether it is taken, and the labels in set order after it.
    const struct {
        int row, column;
        const char* text;
        bool taken;
        QStringList labels;
        const char* message;
    } cases[] = {
        {1, 2, "42.5", true, {"P1", "P2", "P3"}, nullptr},
        {2, 5, "0.25", true, {"P1", "P2", "P3"}, nullptr},
        {0, 0, "P9", true, {"P2", "P3", "P9"}, nullptr},
        {0, 0, "P3", false, {"P2", "P3", "P9"}, "Pointlabel P3 already in use!"},
        {1, 3, "12,x", false, {"P2", "P3", "P9"}, "Please enter a number."},
        {1, 1, "1,5", false, {"P2", "P3", "P9"}, "Please enter a number."},
        {2, 4, "0,5", false, {"P2", "P3", "P9"}, "Please enter a number."},
        {0, 0, "bad label!", false, {"P2", "P3", "P9"}, kRefusedPointLabels[0]},
        {0, 0, "ABCDEFGHIJKLMNOPQRSTUV", false, {"P2", "P3", "P9"}, kRefusedPointLabels[1]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QStringList setBefore = SetRows();
        const QByteArray fileBefore = ReadAll(path);
        doc->SetModifiedFlag(false);
        Type(c.row, c.column, QString::fromLatin1(c.text));
        EXPECT_EQ(Labels(*set), c.labels);
        const std::vector<std::string> messages = TakeMessages();
        EXPECT_EQ(messages, c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        // The list shows the set in its order.
        for (int r = 0; r < set->GetSize(); ++r)
            EXPECT_EQ(list->CellText(r, 0), QString::fromLatin1(set->GetAt(r)->label.GetText()));
        if (c.taken) {
            EXPECT_EQ(FileRows(), SetRows());
            EXPECT_TRUE(doc->IsModified());
        } else {
            EXPECT_EQ(SetRows(), setBefore);
            EXPECT_EQ(ReadAll(path), fileBefore);
            EXPECT_FALSE(doc->IsModified());
        }
    }
    EXPECT_EQ(set->GetAt(0)->y, 42.5);
    EXPECT_EQ(set->FindPointByText("P3")->aprioriSigma[1], 0.25);
    EXPECT_EQ(list->CellText(0, 2), F("%6.3f", 42.5));

    // A set file that cannot be written: the change stays, a message names the file.
    QDir().mkpath(path + ".dir");
    set->name = (path + ".dir").toLocal8Bit().constData();
    Type(0, 1, QStringLiteral("7"));
    EXPECT_EQ(set->GetAt(0)->x, 7.0);
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find((path + ".dir").toStdString()), std::string::npos);
    EXPECT_TRUE(doc->IsModified());
}

// Rename in the menu of a right click on a row opens its label cell; a name
// that is not a label is refused with the rule, the set, its file and the
// cell unchanged; a label is taken.
TEST_F(PointList, RenameFromTheMenuSaysWhyANameIsRefused)
{
    OpenSet(false);
    const struct {
        const char* typed;
        const char* message;
        QStringList labels;
    } cases[] = {
        {"ABCDEFGHIJKLMNOPQRSTUV", kRefusedPointLabels[1], {"P1", "P2", "P3"}},
        {"bad label!", kRefusedPointLabels[0], {"P1", "P2", "P3"}},
        {"q7", nullptr, {"P1", "P3", "Q7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const QByteArray fileBefore = ReadAll(path);
        const QStringList setBefore = SetRows();
        doc->SetModifiedFlag(false);
        const QPoint at = list->visualRect(list->model()->index(1, 2)).center();
        // The right button selects the row and opens the menu; Rename is chosen in it.
        const bool chosen = ChooseFromPopup(
            [&] {
                QTest::mouseClick(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier,
                                  list->viewport()->mapTo(Frame(), at));
            },
            [](const QAction* a) { return a->text() == QStringLiteral("Rename"); });
        ASSERT_TRUE(chosen);
        EXPECT_EQ(list->SelectedRows(), std::vector<int>{1});
        QPointer<CInPlaceEdit> editor = list->ActiveEditor();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->Row(), 1);
        EXPECT_EQ(editor->Column(), 0);
        QTest::keyClicks(editor, QString::fromLatin1(c.typed));
        ASSERT_TRUE(editor && editor->isVisible()) << "the editor ended before Return";
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(TakeMessages(), c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(Labels(*set), c.labels);
        for (int r = 0; r < set->GetSize(); ++r)
            EXPECT_EQ(list->CellText(r, 0), QString::fromLatin1(set->GetAt(r)->label.GetText()));
        if (c.message) {
            EXPECT_EQ(SetRows(), setBefore);
            EXPECT_EQ(ReadAll(path), fileBefore);
            EXPECT_FALSE(doc->IsModified());
        } else {
            EXPECT_EQ(FileRows(), SetRows());
            EXPECT_TRUE(doc->IsModified());
        }
    }
}

TEST_F(PointList, DeleteWithObservationsDisablesAndRenamesTheObservations)
{
    OpenSet(false);
    for (int i = 0; i < 2; ++i)
        AddImage(*doc, {"Cam", true, true, 4});
    // The menu by selection size, and for a database EO device.
    const struct {
        std::vector<int> rows;
        bool projectSet;
        std::vector<std::pair<int, bool>> expected; // command, enabled; absent ones not listed
    } menus[] = {
        {{0}, true, {{32977, false}, {32997, true}, {33059, true}, {33061, true}, {33001, true}, {33051, true},
                     {336, false}, {33063, true}}},
        {{0, 2}, true, {{32977, true}, {32997, true}, {33059, false}, {33061, false}, {33001, true}, {33051, true},
                        {336, true}, {33063, false}}},
        {{0, 2}, false, {{32977, true}, {32997, true}, {33059, false}, {33001, true}, {336, true}, {33063, false}}},
    };
    for (const auto& m : menus) {
        list->SetProjectSet(m.projectSet);
        list->SelectRows(m.rows);
        std::unique_ptr<QMenu> menu(list->BuildContextMenu());
        std::vector<std::pair<int, bool>> got;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                got.emplace_back(a->data().toInt(), a->isEnabled());
        EXPECT_EQ(got, m.expected) << m.rows.size() << m.projectSet;
    }
    list->SetProjectSet(true);

    list->SelectRows({0, 2});
    answers.push_back(IDYES);
    list->OnDeleteWithObservations();
    EXPECT_EQ(Labels(*set), QStringList{"P2"});
    EXPECT_EQ(FileRows(), SetRows());
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CObservationList& t = doc->images.GetAt(i)->targets;
        QStringList got;
        for (int k = 0; k < t.GetSize(); ++k)
            got << F("%s%s", t.GetAt(k)->label.GetText(), t.GetAt(k)->disabled ? " off" : "");
        // Sorted by label, the deleted labels disabled under "-" + label.
        EXPECT_EQ(got, (QStringList{"-P1 off", "-P3 off", "P2", "P4"})) << i;
    }
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(list->RowCount(), 1);
}

TEST_F(PointList, DeletedLongLabelsStayUniqueInTheImage)
{
    OpenSet(false);
    // Two 16-character labels that share their first 15 characters, and an
    // observation already holding the first label the cut would give.
    const char* labels[] = {"ABCDEFGHIJKLMNO1", "ABCDEFGHIJKLMNO2"};
    CProjectImage* image = AddImage(*doc, {"Cam", true, true, 0});
    for (const char* label : labels) {
        set->AddPointSorted(CObjectPoint(label, 1.0, 2.0, 3.0));
        image->targets.AddSorted(CImageObservation(CNameBuffer(label), 0.5, 0.25));
    }
    CImageObservation old(CNameBuffer("-ABCDEFGHIJKLMN1"), 0.1, 0.1);
    old.disabled = true;
    image->targets.AddSorted(old);
    list->Fill();
    std::vector<int> rows;
    for (int r = 0; r < list->RowCount(); ++r)
        if (list->CellText(r, 0).startsWith(QStringLiteral("ABC")))
            rows.push_back(r);
    ASSERT_EQ(rows.size(), 2u);
    list->SelectRows(rows);
    answers.push_back(IDYES);
    list->OnDeleteWithObservations();
    QStringList got;
    for (int k = 0; k < image->targets.GetSize(); ++k) {
        const CImageObservation* o = image->targets.GetAt(k);
        EXPECT_TRUE(o->disabled) << o->label.GetText();
        got << o->label.GetText();
    }
    EXPECT_EQ(got, (QStringList{"-ABCDEFGHIJKLMN1", "-ABCDEFGHIJKLMN2", "-ABCDEFGHIJKLMN3"}));
}

TEST_F(PointList, RenameWithObservationsRenamesSetsAndActiveObservations)
{
    OpenSet(false);
    CPointSet* other = AddPointSet(*doc, scratch.filePath(QStringLiteral("T.xyz")).toLocal8Bit().constData());
    FillSet(*other);
    AddImage(*doc, {"Cam", true, true, 4});
    // The label typed, the option, what the sets and the image hold afterwards.
    const struct {
        const char* typed;
        int all;
        QStringList set, other, image;
        std::vector<std::string> messages;
    } cases[] = {
        {"P3", 1, {"P1", "P2", "P3"}, {"P1", "P2", "P3"}, {"P1", "P2", "P3", "P4"}, {"Pointlabel P3 already in use!"}},
        {"Q2", 0, {"P1", "P3", "Q2"}, {"P1", "P2", "P3"}, {"P1", "P3", "P4", "Q2"}, {}},
        {"R1", 1, {"P3", "Q2", "R1"}, {"P2", "P3", "R1"}, {"P3", "P4", "Q2", "R1"}, {}},
        {"ABCDEFGHIJKLMNOPQRSTUV", 1, {"P3", "Q2", "R1"}, {"P2", "P3", "R1"}, {"P3", "P4", "Q2", "R1"},
         {kRefusedPointLabels[1]}},
    };
    for (const auto& c : cases) {
        list->SelectRows({c.all ? 0 : 1});
        dialogs.push_back([&c](CDialog& d) {
            EXPECT_NE(dynamic_cast<CRenamePointDlg*>(&d), nullptr);
            SetWindowText(d.GetDlgItem(1322), QString::fromLatin1(c.typed));
            dynamic_cast<QAbstractButton*>(d.GetDlgItem(1323))->setChecked(c.all != 0);
            d.OnOK();
            return d.result();
        });
        list->OnRenameWithObservations();
        EXPECT_EQ(Labels(*set), c.set) << c.typed;
        EXPECT_EQ(Labels(*other), c.other) << c.typed;
        QStringList image;
        const CObservationList& t = doc->images.GetAt(0)->targets;
        for (int k = 0; k < t.GetSize(); ++k)
            image << t.GetAt(k)->label.GetText();
        EXPECT_EQ(image, c.image) << c.typed;
        EXPECT_EQ(TakeMessages(), c.messages) << c.typed;
    }
    EXPECT_EQ(FileRows(), SetRows());
}

TEST_F(PointList, RenameOverAllSetsNamesEveryFileItCannotWrite)
{
    OpenSet(false);
    // Two other sets whose files cannot be replaced (a folder stands in the
    // way of the new file's rename), and one that can.
    std::vector<QString> blocked;
    for (const char* name : {"T", "U"}) {
        const QString file = scratch.filePath(QString::fromLatin1(name) + ".xyz");
        QDir().mkpath(file);
        blocked.push_back(file);
        FillSet(*AddPointSet(*doc, file.toLocal8Bit().constData()));
    }
    CPointSet* fine = AddPointSet(*doc, scratch.filePath(QStringLiteral("V.xyz")).toLocal8Bit().constData());
    FillSet(*fine);
    list->SelectRows({0});
    dialogs.push_back([](CDialog& d) {
        SetWindowText(d.GetDlgItem(1322), QStringLiteral("R1"));
        dynamic_cast<QAbstractButton*>(d.GetDlgItem(1323))->setChecked(true);
        d.OnOK();
        return d.result();
    });
    list->OnRenameWithObservations();
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), blocked.size());
    for (size_t i = 0; i < blocked.size(); ++i) {
        EXPECT_EQ(messages[i].rfind("Cannot write the file " + blocked[i].toStdString(), 0), 0u) << messages[i];
        EXPECT_TRUE(QFileInfo(blocked[i]).isDir());
    }
    CPointSet back;
    back.ReadXyzFile(fine->name.GetText(), nullptr);
    EXPECT_EQ(Labels(back), (QStringList{"P2", "P3", "R1"}));
    EXPECT_EQ(FileRows(), SetRows());
}

TEST_F(PointList, StatisticsOfThreePointsByMode)
{
    CPointSet points;
    FillSet(points);
    std::vector<const CObjectPoint*> selected;
    for (int i = 0; i < 3; ++i)
        selected.push_back(points.GetAt(i));
    for (int mode = 0; mode < 3; ++mode) {
        // The three values of each point, worked out here from the fields.
        double v[3][4];
        for (int i = 0; i < 3; ++i) {
            const CObjectPoint& p = *selected[std::size_t(i)];
            for (int k = 0; k < 3; ++k)
                v[i][k] = mode == 0 ? std::fabs(p.discrepancy[k])
                          : mode == 1 ? p.aprioriSigma[k]
                                      : 0.001 * (i + k + 1);
            v[i][3] = std::sqrt(v[i][0] * v[i][0] + v[i][1] * v[i][1] + v[i][2] * v[i][2]);
        }
        C3DPointStatisticDlg dialog(selected, mode);
        dialog.OnInitDialog();
        const CEditableListCtrl& table = *dialog.m_Table;
        ASSERT_EQ(table.RowCount(), 3);
        const char* what = mode == 0 ? "discrepancy" : "sigma";
        for (int r = 0; r < 3; ++r) {
            QStringList expected = {F(r == 0 ? "Min %s" : r == 1 ? "Max %s" : "Mean %s", what)};
            for (int k = 0; k < 4; ++k) {
                const double a = v[0][k], b = v[1][k], c = v[2][k];
                const double value = r == 0 ? std::min({a, b, c}) : r == 1 ? std::max({a, b, c}) : (a + b + c) / 3;
                expected << F("%6.3e", value);
            }
            EXPECT_EQ(Row(table, r), expected) << mode << " " << r;
        }
        EXPECT_EQ(GetWindowText(dialog.GetDlgItem(1061)), QStringLiteral("3"));
    }
}

TEST_F(PointList, PictureOfTheSampleControlSet)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    tree->OnClickItem(tree->Find3DDataItem(QStringLiteral("Control")));
    Settle();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    auto* shown = frame ? dynamic_cast<C3DDataListView*>(frame->GetRightPane()) : nullptr;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->GetListCtrl().GetColumnMode(), 1);
    EXPECT_GT(shown->GetListCtrl().RowCount(), 0);
    QDir().mkpath(TestOutputFolder());
    shown->resize(760, 420);
    EXPECT_TRUE(shown->grab().save(TestOutputFolder() + "/PointListControlSet.png"));
}

// The sample's control set driven by the mouse and the keyboard: clicks
// select rows (Shift extends, Ctrl toggles), a second click on the focused
// row or a double click opens the cell editor, whose text is stored; the
// right button brings the menu for the selection; Return leaves all as it was.
TEST_F(PointList, SampleControlSetTakesClicksKeysAndTheMenu)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    tree->OnClickItem(tree->Find3DDataItem(QStringLiteral("Control")));
    Settle();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    auto* shown = frame ? dynamic_cast<C3DDataListView*>(frame->GetRightPane()) : nullptr;
    ASSERT_NE(shown, nullptr);
    list = &shown->GetListCtrl();
    set = list->GetPointSet();
    ASSERT_NE(set, nullptr);
    TakeMessages(); // what opening the sample said
    ASSERT_GE(list->RowCount(), 4);
    ASSERT_EQ(list->GetColumnMode(), C3DPointListCtrl::MODE_CONTROL);
    QApplication::setActiveWindow(Frame());
    Frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame(), 30000));
    QWidget* viewport = list->viewport();
    auto at = [this](int row, int column) { return list->visualRect(list->model()->index(row, column)).center(); };
    auto editorGone = [] {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };

    // Selection by clicks; the first click on a row never edits.
    const struct {
        int row;
        Qt::KeyboardModifiers keys;
        std::vector<int> selected;
    } clicks[] = {{0, Qt::NoModifier, {0}},      {2, Qt::ShiftModifier, {0, 1, 2}}, {1, Qt::ControlModifier, {0, 2}},
                  {3, Qt::ControlModifier, {0, 2, 3}}, {1, Qt::NoModifier, {1}}};
    for (const auto& c : clicks) {
        QTest::mouseClick(viewport, Qt::LeftButton, c.keys, at(c.row, 1));
        EXPECT_EQ(list->SelectedRows(), c.selected) << c.row;
        EXPECT_EQ(list->ActiveEditor(), nullptr) << c.row;
        EXPECT_EQ(list->currentIndex().row(), c.row);
    }

    // The second click on the focused row edits; Return stores the text.
    const QString label1 = QString::fromLatin1(set->GetAt(1)->label.GetText());
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at(1, 1));
    QPointer<CInPlaceEdit> editor = list->ActiveEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->Column(), 1);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("12.5"));
    QTest::keyClick(editor, Qt::Key_Return);
    editorGone();
    EXPECT_EQ(editor, nullptr);
    EXPECT_EQ(set->GetAt(1)->x, 12.5);
    EXPECT_EQ(list->CellText(1, 1), F("%6.3f", 12.5));

    // A double click on another row's sigma cell edits it at once.
    // Through the window: press, release, press and the double click the platform makes of them.
    QTest::mouseDClick(Frame()->windowHandle(), Qt::LeftButton, Qt::NoModifier, viewport->mapTo(Frame(), at(2, 5)));
    editor = list->ActiveEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->Row(), 2);
    EXPECT_EQ(editor->Column(), 5);
    EXPECT_EQ(list->SelectedRows(), std::vector<int>{2});
    QDir().mkpath(TestOutputFolder());
    EXPECT_TRUE(shown->grab().save(TestOutputFolder() + "/PointListCellEditor.png"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("0.125"));
    QTest::keyClick(editor, Qt::Key_Return);
    editorGone();
    EXPECT_EQ(set->GetAt(2)->aprioriSigma[1], 0.125);
    // A double click that comes without its second press (as some platforms send it).
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, at(3, 3));
    editor = list->ActiveEditor();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("-7.5"));
    QTest::keyClick(editor, Qt::Key_Return);
    editorGone();
    EXPECT_EQ(set->GetAt(3)->z, -7.5);
    EXPECT_EQ(QString::fromLatin1(set->GetAt(1)->label.GetText()), label1);

    // Return on the list changes nothing.
    const QStringList before = SetRows();
    QTest::keyClick(list, Qt::Key_Return);
    editorGone();
    EXPECT_EQ(SetRows(), before);
    EXPECT_EQ(list->ActiveEditor(), nullptr);

    // The right button: the menu for the rows selected, closed again.
    struct Seen {
        int shown = 0;
        std::map<QString, bool> enabled;
    } seen;
    // Looks for the open menu from the event loop the menu runs, then closes it.
    std::function<void(int)> watchMenu = [&seen, &watchMenu](int tries) {
        QTimer::singleShot(10, [&seen, &watchMenu, tries] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) {
                if (tries > 0)
                    watchMenu(tries - 1);
                return;
            }
            ++seen.shown;
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    seen.enabled[a->text()] = a->isEnabled();
            menu->close();
        });
    };
    const struct {
        int row;
        Qt::KeyboardModifiers keys;
        std::vector<int> selected;
        bool distance, rename, statistics;
    } rights[] = {{0, Qt::NoModifier, {0}, false, true, false}, {3, Qt::ControlModifier, {0, 3}, true, false, true}};
    for (const auto& r : rights) {
        if (r.keys != Qt::NoModifier)
            QTest::mouseClick(viewport, Qt::LeftButton, r.keys, at(r.row, 0));
        seen = Seen();
        watchMenu(500);
        // Through the window, as the platform delivers it: the press, then the menu request.
        QTest::mouseClick(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier,
                          viewport->mapTo(Frame(), at(r.row, 2)));
        ASSERT_EQ(seen.shown, 1) << r.row;
        EXPECT_EQ(list->SelectedRows(), r.selected) << r.row;
        EXPECT_EQ(seen.enabled[QStringLiteral("Distance\tCtrl+D")], r.distance) << r.row;
        EXPECT_EQ(seen.enabled[QStringLiteral("Rename")], r.rename) << r.row;
        EXPECT_EQ(seen.enabled[QStringLiteral("Statistical Summary")], r.statistics) << r.row;
        EXPECT_TRUE(seen.enabled[QStringLiteral("Add Point")]);
        EXPECT_TRUE(seen.enabled.count(QStringLiteral("Delete (incl. Observations)")));
    }
    EXPECT_EQ(list->ActiveEditor(), nullptr);
    EXPECT_TRUE(TakeMessages().empty());
}

// The context menu's Add Point and Properties open "Edit 3D Point", which
// refuses a label in use while it stays open; what OK changed is stored in
// the set's file. Distance, from the menu and by Ctrl+D, shows the distance
// of the two selected points.
TEST_F(PointList, AddPointPropertiesAndDistanceOpenThePointDialogs)
{
    OpenSet(true);
    auto trigger = [this](int id) {
        std::unique_ptr<QMenu> menu(list->BuildContextMenu());
        for (QAction* a : menu->actions())
            if (a->data().toInt() == id && a->isEnabled()) {
                a->trigger();
                return true;
            }
        return false;
    };
    struct Edit {
        int row; // -1: Add Point
        const char* label;
        const char* x;
        const char* sigmaX;
        const char* refusal;
        QStringList labels;
    };
    const Edit edits[] = {
        {-1, "P2", "1.5", "0.05", "Pointlabel P2 already in use!", {"P1", "P2", "P3"}},
        {-1, "q9", "1.5", "0.05", nullptr, {"P1", "P2", "P3", "Q9"}},
        {1, "P3", "7.25", nullptr, "Pointlabel P3 already in use!", {"P1", "P2", "P3", "Q9"}},
        {1, "P2", "7.25", nullptr, nullptr, {"P1", "P2", "P3", "Q9"}},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(testing::Message() << "row " << e.row << " label " << e.label);
        const CObjectPoint before = e.row < 0 ? CObjectPoint() : *set->GetAt(e.row);
        list->SelectRows(e.row < 0 ? std::vector<int>{} : std::vector<int>{e.row});
        dialogs.push_back([&](CDialog& d) {
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Edit 3D Point"));
            d.show();
            EXPECT_EQ(GetWindowText(d.GetDlgItem(CEdit3DPointDlg::kLabel)).toStdString(),
                      e.row < 0 ? "" : before.label.GetText());
            ShellFixture::Type(d, CEdit3DPointDlg::kLabel, QString::fromLatin1(e.label));
            ShellFixture::Type(d, CEdit3DPointDlg::kX, QString::fromLatin1(e.x));
            if (e.sigmaX)
                ShellFixture::Type(d, CEdit3DPointDlg::kSigmaX, QString::fromLatin1(e.sigmaX));
            return ClickOk(d, e.refusal);
        });
        ASSERT_TRUE(trigger(e.row < 0 ? C3DPointListCtrl::ID_ADD_POINT : C3DPointListCtrl::ID_PROPERTIES));
        ASSERT_TRUE(dialogs.empty());
        EXPECT_EQ(Labels(*set), e.labels);
        EXPECT_EQ(FileRows(), SetRows());
        if (e.refusal)
            continue;
        const CObjectPoint* p = set->FindPoint(CNameBuffer(e.row < 0 ? "Q9" : "P2"));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->x, std::atof(e.x));
        if (e.row < 0) {
            EXPECT_EQ(p->aprioriSigma[0], 0.05);
        } else {
            // Untouched fields stay exactly as they were.
            EXPECT_EQ(p->y, before.y);
            EXPECT_EQ(p->z, before.z);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(p->aprioriSigma[k], before.aprioriSigma[k]);
        }
    }
    EXPECT_TRUE(TakeMessages().empty());

    // Distance of P1 and P3, from the menu and by Ctrl+D.
    const CObjectPoint& a = *set->GetAt(0);
    const CObjectPoint& b = *set->GetAt(2);
    const QString distance = F("%6.4f", std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) +
                                                  (b.z - a.z) * (b.z - a.z)));
    for (int way = 0; way < 2; ++way) {
        list->SelectRows({0, 2});
        int shown = 0;
        dialogs.push_back([&](CDialog& d) {
            ++shown;
            EXPECT_EQ(GetWindowText(d.GetDlgItem(CDistanceDlg::kTitle)), QStringLiteral("Distance From Point P1 to Point P3"));
            EXPECT_EQ(GetWindowText(d.GetDlgItem(CDistanceDlg::kDistance)), distance);
            d.OnOK();
            return d.result();
        });
        if (way == 0) {
            EXPECT_TRUE(trigger(C3DPointListCtrl::ID_DISTANCE));
        } else {
            QTest::keyClick(list, Qt::Key_D, Qt::ControlModifier);
        }
        EXPECT_EQ(shown, 1) << (way == 0 ? "menu" : "Ctrl+D");
    }
}

} // namespace
