// The station commands: "Edit Exterior Orientation" from the tree and the
// image view, and station files (the bytes the tree's export writes, the
// round trip through a Standard import, Aim Point rows, bad input).
#include "ContextMenu.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "FileIO.h"
#include "ImageView.h"
#include "KestrelonView.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SampleProject.h"
#include "StationDialogs.h"
#include "StationImportDlg.h"
#include "TreeMenus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace station_commands_test {

const double kPi = 4.0 * std::atan(1.0);

std::string ReadAll(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const QString& path, const std::string& bytes)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
}

// A grey 24-bit BMP of 16 x 12 pixels.
void WriteBmp(const QString& path)
{
    const int width = 16, height = 12, row = width * 3;
    std::string b;
    auto put = [&b](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(char((v >> (8 * i)) & 0xff));
    };
    b += "BM";
    put(54 + row * height, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(width, 4);
    put(height, 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(row * height, 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    b.append(std::size_t(row * height), char(128));
    WriteAll(path, b);
}

// The rotation of a camera at azimuth a, elevation e and roll r, its rows
// written out from the angles: the camera looks along (-cos e sin a,
// cos e cos a, sin e) and the roll turns its x and y axes about that.
void ExpectedRotation(double a, double e, double r, double R[3][3])
{
    const double sa = std::sin(a), ca = std::cos(a), se = std::sin(e), ce = std::cos(e);
    const double sr = std::sin(r), cr = std::cos(r);
    const double x0[3] = {ca, sa, 0.0};
    const double y0[3] = {se * sa, -se * ca, ce};
    const double back[3] = {ce * sa, -ce * ca, -se};
    for (int k = 0; k < 3; ++k) {
        R[0][k] = cr * x0[k] + sr * y0[k];
        R[1][k] = -sr * x0[k] + cr * y0[k];
        R[2][k] = back[k];
    }
}

class StationCommands : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        tree = Frame()->GetProjectTreeView();
        ASSERT_NE(tree, nullptr);
    }
    QTreeWidgetItem* Item(const QString& text) const
    {
        const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    // Answers the import dialog with the layout and the check box.
    void AnswerImport(int format, bool acceptResected)
    {
        dialogs.push_back([format, acceptResected](CDialog& d) {
            auto& dlg = dynamic_cast<CStationImportDlg&>(d);
            EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Station Import Dialog"));
            dlg.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
            ExpectWholeAndSave(dlg, "/StationImport.png");
            EXPECT_EQ(dlg.m_FormatCombo->count(), 2);
            EXPECT_EQ(dlg.m_FormatCombo->itemText(1), QStringLiteral("Aim Point (Xs Ys Zs Xa Ya Za R)"));
            EXPECT_TRUE(dlg.Item<QCheckBox>(1416)->isChecked());
            dlg.m_FormatCombo->setCurrentIndex(format);
            dlg.Item<QCheckBox>(1416)->setChecked(acceptResected);
            dlg.OnOK();
            return dlg.result();
        });
    }
    CKestrelonView* tree = nullptr;
};

TEST_F(StationCommands, EditExteriorOrientationFromTheTreeAndTheImageView)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam1");
    camera->XPixels = 16;
    camera->YPixels = 12;
    camera->XPixelSize = camera->YPixelSize = 0.5;
    camera->parameters[CAM_C] = 10.0;
    CProjectImage* image = AddImage(*doc, {"Cam1", true, false, 0});
    const QString bmp = scratch.filePath(QStringLiteral("one.bmp"));
    WriteBmp(bmp);
    image->SetFilePath(bmp.toStdString().c_str());
    image->SetPose(1, 2, 3, 0.1, 0.2, 0.3);
    doc->UpdateAllViews();
    TakeMessages();

    // A caret that is no image.
    tree->setCurrentItem(Item(QStringLiteral("Cam1")));
    tree->OnCmdMsg(ID_TREE_EDIT_EO, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Image Not in Project"});

    // Alt+Return on the image: the dialog; its OK marks the image resected.
    QTreeWidgetItem* item = Item(QStringLiteral("Image1"));
    const int icon = item->data(0, kIconIndexRole).toInt();
    int shown = 0;
    dialogs.push_back([&](CDialog& d) {
        auto* dlg = dynamic_cast<CEditCameraStationDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        if (!dlg)
            return int(IDCANCEL);
        ++shown;
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("EDIT CAMERA STATION"));
        EXPECT_EQ(dlg->m_strStationId, QStringLiteral("Image1"));
        EXPECT_NEAR(dlg->m_dRoll, 0.3 * 180.0 / kPi, 1e-12);
        // The first expansion centres the dialog on the main window.
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg));
        const QRect main = Frame()->frameGeometry();
        const int top = dlg->pos().y();
        dlg->OnShowView();
        EXPECT_EQ(dlg->pos(), QPoint(main.left() + (main.width() - dlg->GetExpandedSize().width()) / 2, top));
        dlg->Item<QCheckBox>(1288)->setChecked(true);
        dlg->OnOK();
        return dlg->result();
    });
    doc->SetModifiedFlag(false);
    tree->setCurrentItem(item);
    QTest::keyClick(tree, Qt::Key_Return, Qt::AltModifier);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(image->oriented);
    EXPECT_NE(item->data(0, kIconIndexRole).toInt(), icon);
    EXPECT_TRUE(doc->IsModified());

    // The image view's command opens it for the view's image.
    CImageView* view = OpenImageWindow(doc, image);
    ASSERT_NE(view, nullptr);
    Settle();
    dialogs.push_back([&](CDialog& d) {
        auto* dlg = dynamic_cast<CEditCameraStationDlg*>(&d);
        EXPECT_NE(dlg, nullptr);
        shown += dlg && dlg->m_strStationId == QStringLiteral("Image1") ? 1 : 0;
        return int(IDCANCEL);
    });
    Frame()->OnCommandId(32851);
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(StationCommands, ResectFromTheTreeAsksForTheStartAndReports)
{
    const QString folder = scratch.filePath(QStringLiteral("sample"));
    std::string message;
    ASSERT_TRUE(WriteSampleProject(folder.toStdString(), message, 0.0)) << message;
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), folder + QStringLiteral("/Sample.kst")}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    CPointSet* driver = doc->pointSets.GetDriverSet();
    ASSERT_NE(driver, nullptr);
    CProjectImage* image = doc->images.GetAt(0);
    const QString name = QString::fromLatin1(image->name.GetText());
    CSampleTruth truth;
    BuildSampleTruth(truth);
    TakeMessages();
    auto answer = [this](int result, bool useGiven) {
        dialogs.push_back([result, useGiven](CDialog& d) {
            auto* start = dynamic_cast<CResectStationDlg*>(&d);
            EXPECT_NE(start, nullptr);
            if (!start)
                return int(IDCANCEL);
            EXPECT_EQ(start->m_bUseGiven, 0);
            start->Item<QCheckBox>(1112)->setChecked(useGiven);
            if (result == IDOK)
                start->OnOK();
            return result;
        });
    };
    tree->setCurrentItem(Item(name));

    // Cancel: nothing happens.
    image->oriented = false;
    image->SetPose(0, 0, 0, 1.0, -0.5, 2.0);
    answer(IDCANCEL, false);
    tree->OnCmdMsg(ID_TREE_RESECT, nullptr);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_FALSE(image->oriented);

    // The closed form from nowhere: the sample's pose, the summary line.
    doc->SetModifiedFlag(false);
    answer(IDOK, false);
    tree->OnCmdMsg(ID_TREE_RESECT, nullptr);
    const std::vector<std::string> shown = TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    char head[64];
    std::snprintf(head, sizeof head, " Name        RMS(um)     Pts \n%10s     ", image->name.GetText());
    EXPECT_EQ(shown[0].rfind(head, 0), 0u) << shown[0];
    EXPECT_TRUE(image->oriented);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_NEAR(image->X, truth.poses[0].X, 1e-6 * std::fabs(truth.poses[0].X) + 1e-6);

    // Too few driver points in the image.
    int kept = 0;
    for (int k = 0; k < image->targets.GetSize(); ++k) {
        CImageObservation& o = *image->targets.GetAt(k);
        if (driver->FindPointByText(o.label.GetText()) && kept++ < 2)
            continue;
        o.label = CNameBuffer(("Z" + std::to_string(k)).c_str());
    }
    image->targets.SortByLabel();
    answer(IDOK, false);
    tree->OnCmdMsg(ID_TREE_RESECT, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Not enough common points for resection."});
    EXPECT_FALSE(image->oriented);

    // Without a driver set, after the dialog.
    driver->isDriver = false;
    answer(IDOK, true);
    tree->OnCmdMsg(ID_TREE_RESECT, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"No Driver Present"});
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(StationCommands, ExportBytesAndStandardImportRoundTrip)
{
    NewProject();
    AddCamera(*doc, "Cam1");
    const QString blanks = scratch.filePath(QStringLiteral("with blanks/photo one.tif"));
    struct Row {
        const char* name;
        double pose[6];
        bool resected;
        std::string path;
    } rows[] = {
        {"Image1", {1234.5678901234, -98.7654321, 0.001, 0.3, -0.2, 1.1}, true, blanks.toStdString()},
        {"Image2", {-5.25, 7.125, 3000.0, -2.9, 0.7, -0.05}, false, scratch.filePath("plain.tif").toStdString()},
        {"AVeryLongImageName", {0.0, 1e-7, -12.5, 1.5, 1.2, 3.0}, true, scratch.filePath("long.tif").toStdString()},
    };
    for (const Row& r : rows) {
        CProjectImage* image = AddImage(*doc, {"Cam1", true, r.resected, 0});
        image->name = r.name;
        image->SetPose(r.pose[0], r.pose[1], r.pose[2], r.pose[3], r.pose[4], r.pose[5]);
        image->SetFilePath(r.path.c_str());
    }
    doc->UpdateAllViews();
    TakeMessages();

    const QString file = scratch.filePath(QStringLiteral("stations.eof"));
    files.push_back(file);
    tree->OnCmdMsg(ID_TREE_EXPORT_STATIONS, nullptr);
    EXPECT_TRUE(TakeMessages().empty());

    std::string expected = "// Kestrelon Station Files\r\n//\r\n";
    char line[600];
    std::snprintf(line, sizeof line, "// %-22s\t%-20s\t%-20s\t%-20s\t%-20s\t%-20s\t%-15s\t%-10s\t%-20s\r\n",
                  "image name", "X", "Y", "Z", "azimuth", "evelvation", "roll", "resected", "image path");
    expected += line;
    expected += "//\r\n";
    for (int i = 0; i < 3; ++i) {
        const CProjectImage* im = doc->images.GetAt(i);
        const double f = 180.0 / kPi;
        std::snprintf(line, sizeof line, "%-15s\t%20.10f\t%20.10f\t%20.10f\t%20.15f\t%20.15f\t%20.15f\t%10d\t\"%s\"\r\n",
                      rows[i].name, im->X, im->Y, im->Z, im->GetAzimuth() * f, im->GetElevation() * f,
                      im->GetRoll() * f, rows[i].resected ? 1 : 0, rows[i].path.c_str());
        expected += line;
    }
    EXPECT_EQ(ReadAll(file), expected);

    // A Standard import into Cam1 without accepting the stations as
    // resected: new images with new names, the file's flags and paths.
    tree->OnClickItem(Item(QStringLiteral("Cam1")));
    doc->SetModifiedFlag(false);
    files.push_back(file);
    AnswerImport(STATION_FORMAT_STANDARD, false);
    tree->OnCmdMsg(ID_TREE_IMPORT_STATIONS, nullptr);
    ASSERT_EQ(doc->images.GetSize(), 6);
    EXPECT_TRUE(doc->IsModified());
    for (int i = 0; i < 3; ++i) {
        const CProjectImage* before = doc->images.GetAt(i);
        const CProjectImage* after = doc->images.GetAt(i + 3);
        EXPECT_STRNE(after->name.GetText(), before->name.GetText());
        EXPECT_NE(Item(QString::fromLatin1(after->name.GetText())), nullptr) << i;
        EXPECT_STREQ(after->cameraName.GetText(), "Cam1");
        EXPECT_NEAR(after->X, before->X, 1e-10);
        EXPECT_NEAR(after->Y, before->Y, 1e-10);
        EXPECT_NEAR(after->Z, before->Z, 1e-10);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(after->rotation.GetAt(r, c), before->rotation.GetAt(r, c), 1e-12) << i;
        EXPECT_EQ(after->oriented, rows[i].resected) << i;
        EXPECT_EQ(std::string(after->GetFilePath().GetText()), rows[i].path);
    }

    // With the check box on every image counts as resected.
    files.push_back(file);
    AnswerImport(STATION_FORMAT_STANDARD, true);
    tree->OnCmdMsg(ID_TREE_IMPORT_STATIONS, nullptr);
    ASSERT_EQ(doc->images.GetSize(), 9);
    EXPECT_TRUE(doc->images.GetAt(7)->oriented);
}

// Import Station Data from the camera's context menu on a text without
// stations, a mixed file and a good one: only station lines make images, and
// one message names the file and the lines left out.
TEST_F(StationCommands, ImportFromTheMenuSkipsLinesWithoutAStation)
{
    NewProject();
    AddCamera(*doc, "Cam1");
    doc->UpdateAllViews();
    doc->SetModifiedFlag(false);
    TakeMessages();
    const struct {
        const char* file;
        std::string text;
        std::vector<std::string> images; // added by this import
        std::string message;             // after the file's path
    } cases[] = {
        {"hello.txt", "hello world\r\nxx\r\n", {},
         " holds no station data: no line gives an image name followed by X, Y and Z. Nothing was imported."},
        {"mixed.eof", "// stations\nS1 1 2 3 10 20 30 1 \"/p/a.tif\"\nhello world\nS2 4 5 6\nxx\n", {"S1", "S2"},
         " hold no station (an image name followed by X, Y and Z) and were not imported."},
        {"good.eof", "S3 7 8 9 0 0 0 1 b.tif\r\nS4 1 1 1\r\n", {"S3", "S4"}, ""},
    };
    int count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = scratch.filePath(QString::fromLatin1(c.file));
        WriteAll(file, c.text);
        files.push_back(file);
        AnswerImport(STATION_FORMAT_STANDARD, true);
        ASSERT_TRUE(ChooseFromContextMenu(tree, Item(QStringLiteral("Cam1")), ID_TREE_IMPORT_STATIONS));
        Settle();
        EXPECT_TRUE(dialogs.empty());
        EXPECT_EQ(lastFileDialog.title, QStringLiteral("Import Station Data"));
        ASSERT_EQ(doc->images.GetSize(), count + int(c.images.size()));
        for (std::size_t i = 0; i < c.images.size(); ++i) {
            const CProjectImage* image = doc->images.GetAt(count + int(i));
            EXPECT_STREQ(image->name.GetText(), c.images[i].c_str());
            EXPECT_STREQ(image->cameraName.GetText(), "Cam1");
            EXPECT_TRUE(image->oriented);
            EXPECT_NE(Item(QString::fromStdString(c.images[i])), nullptr);
        }
        count = doc->images.GetSize();
        EXPECT_EQ(doc->IsModified(), count > 0);
        const std::vector<std::string> shown = TakeMessages();
        if (c.message.empty()) {
            EXPECT_TRUE(shown.empty());
        } else {
            const std::string lines = c.images.empty() ? "" : "Lines 3 and 5 of ";
            EXPECT_EQ(shown, std::vector<std::string>{lines + file.toStdString() + c.message});
        }
    }
    EXPECT_EQ(doc->images.GetAt(1)->X, 4.0);
    EXPECT_EQ(doc->images.GetAt(2)->Z, 9.0);
}

TEST_F(StationCommands, WriteFailuresAreReportedAndKeepTheOldFile)
{
    NewProject();
    AddCamera(*doc, "Cam1");
    AddImage(*doc, {"Cam1", true, true, 0})->SetPose(1, 2, 3, 0.1, 0.2, 0.3);
    doc->UpdateAllViews();
    TakeMessages();
    const QString file = scratch.filePath(QStringLiteral("old.eof"));
    WriteAll(file, "old contents\r\n");

    // The disk fills up while writing: the message, and the old file stays.
    auto previous = SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    files.push_back(file);
    tree->OnCmdMsg(ID_TREE_EXPORT_STATIONS, nullptr);
    SetFileWriteFunction(previous);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Could not write file '" + file.toStdString() + "'"});
    EXPECT_EQ(ReadAll(file), "old contents\r\n");
    EXPECT_EQ(QDir(scratch.path()).entryList({QStringLiteral("*.eof*")}, QDir::Files | QDir::Hidden).size(), 1);

    // A folder that does not exist.
    const QString missing = scratch.filePath(QStringLiteral("no/such/folder/x.eof"));
    files.push_back(missing);
    tree->OnCmdMsg(ID_TREE_EXPORT_STATIONS, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Could not write file '" + missing.toStdString() + "'"});

    // Import of a folder: refused like a file that cannot be opened; no dialog.
    tree->OnClickItem(Item(QStringLiteral("Cam1")));
    files.push_back(scratch.path());
    tree->OnCmdMsg(ID_TREE_IMPORT_STATIONS, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Could not open file '" + scratch.path().toStdString() + "'"});
    EXPECT_EQ(doc->images.GetSize(), 1);
}

TEST(StationImport, AimPointRowsGiveTheCameraLookingAtThePoint)
{
    CProjectDocument doc;
    const struct {
        double s[3], a[3], rollDegrees;
    } cases[] = {
        {{0, 0, 0}, {10, 10, 0}, 0.0},
        {{100, -50, 20}, {-30, 40, 80}, 25.0},
        {{5, 5, 5}, {5, -95, -30}, -170.0},
    };
    std::string text;
    char line[300];
    for (const auto& c : cases) {
        std::snprintf(line, sizeof line, "St %.10f %.10f %.10f %.10f %.10f %.10f %.10f 1 \"C:\\\\photos\\\\a b.tif\"\n", c.s[0],
                      c.s[1], c.s[2], c.a[0], c.a[1], c.a[2], c.rollDegrees);
        text += line;
    }
    std::vector<CProjectImage*> added;
    const CStationImportResult result = ImportStationText(text, STATION_FORMAT_AIM_POINT, false, doc, "Cam",
                                                          [&](CProjectImage* im) { added.push_back(im); });
    ASSERT_EQ(result.imported, 3);
    ASSERT_EQ(added.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& c = cases[i];
        const double u[3] = {c.a[0] - c.s[0], c.a[1] - c.s[1], c.a[2] - c.s[2]};
        const double h = std::hypot(u[0], u[1]);
        double R[3][3];
        ExpectedRotation(std::atan2(-u[0], u[1]), std::atan2(u[2], h), c.rollDegrees * kPi / 180.0, R);
        const CProjectImage* im = added[i];
        EXPECT_EQ(im->X, c.s[0]);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(im->rotation.GetAt(r, k), R[r][k], 1e-12) << i << r << k;
        EXPECT_TRUE(im->oriented);
        EXPECT_STREQ(im->GetFilePath().GetText(), "C:\\\\photos\\\\a b.tif");
    }

    // Straight down and straight up, turned by the roll r: written out by hand.
    for (double roll : {0.0, 30.0}) {
        const double r = roll * kPi / 180.0, cr = std::cos(r), sr = std::sin(r);
        const double down[3][3] = {{cr, sr, 0}, {-sr, cr, 0}, {0, 0, 1}};
        const double up[3][3] = {{cr, -sr, 0}, {-sr, -cr, 0}, {0, 0, -1}};
        std::snprintf(line, sizeof line, "D 1 2 30 1 2 -7 %.1f\r\nU 1 2 30 1 2 99 %.1f\r\n", roll, roll);
        added.clear();
        ASSERT_EQ(ImportStationText(line, STATION_FORMAT_AIM_POINT, false, doc, "Cam",
                                    [&](CProjectImage* im) { added.push_back(im); })
                      .imported,
                  2);
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(added[0]->rotation.GetAt(row, k), down[row][k], 1e-12) << roll;
                EXPECT_NEAR(added[1]->rotation.GetAt(row, k), up[row][k], 1e-12) << roll;
            }
        // Lines that stop after the roll: no flag read, a path in the project folder.
        EXPECT_FALSE(added[0]->oriented);
        EXPECT_STREQ(added[0]->GetFilePath().GetText(), (std::string(added[0]->name.GetText()) + ".icf").c_str());
    }
}

TEST(StationImport, AStationOnItsAimPointStopsWithoutAHalfMadeImage)
{
    CProjectDocument doc;
    TakeCapturedMessages();
    const std::string text = "A 0 0 0 10 0 0 0 1 a.tif\n"
                             "B 5 5 5 5 5 5.000001 0 1 b.tif\n"
                             "C 0 0 0 0 10 0 0 1 c.tif\n";
    int items = 0;
    const CStationImportResult result =
        ImportStationText(text, STATION_FORMAT_AIM_POINT, true, doc, "Cam", [&](CProjectImage*) { ++items; });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.imported, 1);
    EXPECT_EQ(items, 1);
    ASSERT_EQ(doc.images.GetSize(), 1);
    EXPECT_STREQ(doc.images.GetAt(0)->name.GetText(), "A");
    const auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Aim point and station coordinates have to be different");
}

TEST(StationImport, LineEndsLongLinesPartialLinesAndComments)
{
    const std::string body[] = {"// comment", "", "S1 1 2 3 10 20 30 1 \"/data/my photo.tif\"",
                                std::string(300, 'x') + " 1 2 3", "S2 4 5 6", "S3 7 8 9 90 0 -45",
                                "S4 1 1 1 0 0 0 2 path.tif"};
    std::string crlf, lf;
    for (const std::string& l : body) {
        crlf += l + "\r\n";
        lf += l + "\n";
    }
    lf.pop_back(); // the last line without a line end
    std::vector<std::vector<std::string>> results;
    for (const std::string& text : {crlf, lf}) {
        CProjectDocument doc;
        doc.SetPathName("/projects/p/Sample.kst");
        const CStationImportResult result =
            ImportStationText(text, STATION_FORMAT_STANDARD, false, doc, "Cam", nullptr);
        EXPECT_FALSE(result.stopped);
        ASSERT_EQ(result.imported, 5);
        ASSERT_EQ(doc.images.GetSize(), 5);
        std::vector<std::string> seen;
        for (int i = 0; i < 5; ++i) {
            const CProjectImage* im = doc.images.GetAt(i);
            char row[1000];
            std::snprintf(row, sizeof row, "%s %g %g %g %.9f %.9f %.9f %d %s", im->name.GetText(), im->X, im->Y, im->Z,
                          im->GetAzimuth(), im->GetElevation(), im->GetRoll(), im->oriented ? 1 : 0,
                          im->GetFilePath().GetText());
            seen.push_back(row);
        }
        results.push_back(seen);
    }
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], results[1]);
    const double d = kPi / 180.0;
    char row[400];
    std::snprintf(row, sizeof row, "S1 1 2 3 %.9f %.9f %.9f 1 /data/my photo.tif", 10 * d, 20 * d, 30 * d);
    EXPECT_EQ(results[0][0], row);
    // A line longer than 299 characters is read whole.
    EXPECT_EQ(results[0][1].substr(0, 306), std::string(300, 'x') + " 1 2 3");
    // A name and X Y Z: the position, no orientation, a path in the project folder.
    EXPECT_EQ(results[0][2].substr(0, 9), "S2 4 5 6 ");
    EXPECT_NE(results[0][2].find(" 0 /projects/p/S2.icf"), std::string::npos) << results[0][2];
    // Six numbers: the angles, no flag from the file.
    std::snprintf(row, sizeof row, "S3 7 8 9 %.9f %.9f %.9f 0 /projects/p/S3.icf", 90 * d, 0.0, -45 * d);
    EXPECT_EQ(results[0][3], row);
    // A flag of 2 is not resected.
    EXPECT_EQ(results[0][4].substr(0, 2), "S4");
    EXPECT_NE(results[0][4].find(" 0 path.tif"), std::string::npos) << results[0][4];

    // Comments only: nothing imported and the modified flag stays.
    CProjectDocument doc;
    EXPECT_EQ(ImportStationText("// a\r\n//\r\n", STATION_FORMAT_STANDARD, true, doc, "Cam", nullptr).imported, 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST(StationImport, NumbersInTheCLocaleUnderADecimalComma)
{
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no decimal-comma locale here";
    CProjectImage image;
    image.name = "Comma";
    image.SetPose(1.5, -2.25, 3.125, 0.5, 0.25, -0.125);
    image.SetFilePath("/a/b.tif");
    const std::string line = FormatStationLine(image);
    CProjectDocument doc;
    const int imported = ImportStationText(line + "\r\n", STATION_FORMAT_STANDARD, false, doc, "Cam", nullptr).imported;
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(line.find(','), std::string::npos) << line;
    EXPECT_NE(line.find("        1.5000000000\t"), std::string::npos) << line;
    ASSERT_EQ(imported, 1);
    EXPECT_EQ(doc.images.GetAt(0)->Y, -2.25);
    EXPECT_NEAR(doc.images.GetAt(0)->GetRoll(), -0.125, 1e-14);
}

TEST(StationImport, QuotedPathsAsTheScanCutsThem)
{
    const struct {
        const char* line;
        int fields;
        const char* path;
    } cases[] = {
        {"N 1 2 3 4 5 6 1 \"/a/b c/d e.tif\"", 9, "/a/b c/d e.tif"},
        {"N 1 2 3 4 5 6 1 \"/a/bc.tif\"", 9, "/a/bc.tif"},
        {"N 1 2 3 4 5 6 1 /a/bc.tif", 9, "/a/bc.tif"},
        {"N 1 2 3 4 5 6 1 \"/a/open ended", 9, "/a/open ended"},
        {"N 1 2 3 x", 4, ""},
        {"N", 1, ""},
        {"   ", 0, ""},
    };
    for (const auto& c : cases) {
        CStationRecord r;
        EXPECT_EQ(ScanStationLine(c.line, STATION_FORMAT_STANDARD, r), c.fields) << c.line;
        EXPECT_EQ(r.path, c.path) << c.line;
    }
}

} // namespace station_commands_test
