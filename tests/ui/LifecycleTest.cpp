// The project's life: new with its unit, save, imports of point files and
// reopening, and the ways each of them can fail without harming the user's files.
#include "ShellFixture.h"

#include "KestrelonDoc.h"
#include "ProjectFile.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Ordinary files: every line ends with a line break.
const QByteArray kFourFields = "P1 1.0 2.0 3.0\nP2 4.0 5.0 6.0\nP3 7.0 8.0 9.5\n";
const QByteArray kSevenFields = "C1 0 0 0 0.1 0.1 0.1\nC2 1 0 0 0.1 0.1 0.1\n";

class Lifecycle : public ShellFixture {
protected:
    // A new project in the unit, saved as folder/Proj.kst when save is set.
    void NewProject(int unit, bool save)
    {
        if (!app) {
            ASSERT_TRUE(Start());
        }
        dialogs.push_back([unit](CDialog& d) {
            d.Item<QRadioButton>(1257 + unit)->setChecked(true);
            d.OnOK();
            return d.result();
        });
        app->OnFileNew();
        Settle();
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        folder = scratch.filePath(QStringLiteral("project%1").arg(++projects));
        QDir().mkpath(folder);
        outside = scratch.filePath(QStringLiteral("outside"));
        QDir().mkpath(outside);
        WriteAll(outside + "/P.xyz", kFourFields);
        WriteAll(outside + "/C.xyz", kFourFields);
        WriteAll(outside + "/K.xyz", kSevenFields);
        WriteAll(outside + "/bad.xyz", "no points here\n");
        if (save) {
            files.push_back(folder + "/Proj.kst");
            ASSERT_TRUE(doc->SaveProject());
        }
        TakeMessages();
    }
    bool Import(bool (CKestrelonDoc::*import)(), const QString& path)
    {
        files.push_back(path);
        return (doc->*import)();
    }
    int Count(const std::string& text)
    {
        const auto all = TakeMessages();
        return int(std::count(all.begin(), all.end(), text));
    }

    CKestrelonDoc* doc = nullptr;
    QString folder, outside;
    int projects = 0;
};

TEST_F(Lifecycle, RoundTripKeepsSetsFlagsAndUnit)
{
    NewProject(2, false);
    EXPECT_EQ(doc->unitIndex, 2);
    EXPECT_STREQ(doc->eoDevice.GetUnit().GetText(), "m");

    EXPECT_FALSE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/P.xyz"));
    EXPECT_EQ(Count("Save Project First"), 1);
    files.clear();

    files.push_back(folder + "/Proj.kst");
    ASSERT_TRUE(doc->SaveProject());
    EXPECT_EQ(doc->GetTitle(), QStringLiteral("Proj.kst"));

    ASSERT_TRUE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/P.xyz"));
    ASSERT_TRUE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/P.xyz"));
    ASSERT_TRUE(Import(&CKestrelonDoc::ImportDrivebackFile, outside + "/K.xyz"));
    ASSERT_TRUE(Import(&CKestrelonDoc::ImportControlPointsFile, outside + "/C.xyz"));
    EXPECT_EQ(Count("Sigmas missing. Assigning default sigmas to control file."), 1);
    ASSERT_EQ(doc->pointSets.GetSize(), 4);
    const char* titles[] = {"P", "P1", "K", "C"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(doc->pointSets.GetAt(i)->name.GetTitle().GetText(), titles[i]);
        EXPECT_TRUE(QFile::exists(folder + "/" + titles[i] + ".xyz")) << titles[i];
    }
    EXPECT_EQ(ReadAll(folder + "/P1.xyz"), kFourFields);
    EXPECT_TRUE(doc->GetTitle().endsWith('*'));

    ASSERT_TRUE(doc->SaveProject());
    EXPECT_EQ(doc->GetTitle(), QStringLiteral("Proj.kst"));
    EXPECT_FALSE(doc->IsModified());

    CProjectDocument reopened;
    ASSERT_TRUE(ReadWriteProjectFile(reopened, (folder + "/Proj.kst").toLocal8Bit().constData(), PROJECT_FILE_LOAD).ok);
    EXPECT_EQ(reopened.unitIndex, doc->unitIndex);
    ASSERT_EQ(reopened.pointSets.GetSize(), doc->pointSets.GetSize());
    for (int i = 0; i < doc->pointSets.GetSize(); ++i) {
        const CPointSet& a = *doc->pointSets.GetAt(i);
        const CPointSet& b = *reopened.pointSets.GetAt(i);
        EXPECT_STREQ(a.name.GetFileName().GetText(), b.name.GetFileName().GetText());
        EXPECT_EQ(a.isDriver, b.isDriver) << i;
        EXPECT_EQ(a.isControl, b.isControl) << i;
        EXPECT_TRUE(a.IsEqual(b)) << i;
    }
}

TEST_F(Lifecycle, MarkerFollowsTheModifiedState)
{
    NewProject(0, true);
    // A file name that ends in "*" keeps it.
    files.push_back(folder + "/Star*.kst*");
    ASSERT_TRUE(doc->DoSave(QString(), true));
    const QString clean = doc->GetTitle();
    ASSERT_TRUE(clean.endsWith('*'));
    for (bool modified : {true, true, false, false, true, false}) {
        doc->SetModifiedFlag(modified);
        EXPECT_EQ(doc->GetTitle(), modified ? clean + "*" : clean);
    }
}

TEST_F(Lifecycle, FailuresLeaveTheUsersFilesAndTheProjectAsTheyWere)
{
    struct Case {
        const char* name;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"unreadable file inside the folder",
         [this] {
             WriteAll(folder + "/bad.xyz", "no points here\n");
             EXPECT_FALSE(Import(&CKestrelonDoc::Import3DDataFile, folder + "/bad.xyz"));
             EXPECT_EQ(Count("Input Failed"), 1);
             EXPECT_EQ(ReadAll(folder + "/bad.xyz"), QByteArray("no points here\n"));
             EXPECT_EQ(doc->pointSets.GetSize(), 0);
         }},
        {"unreadable copy is removed, nothing else",
         [this] {
             EXPECT_FALSE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/bad.xyz"));
             EXPECT_FALSE(QFile::exists(folder + "/bad.xyz"));
             EXPECT_TRUE(QFile::exists(outside + "/bad.xyz"));
         }},
        {"existing P1.xyz is skipped",
         [this] {
             WriteAll(folder + "/P1.xyz", "mine\n");
             ASSERT_TRUE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/P.xyz"));
             ASSERT_TRUE(Import(&CKestrelonDoc::Import3DDataFile, outside + "/P.xyz"));
             EXPECT_EQ(ReadAll(folder + "/P1.xyz"), QByteArray("mine\n"));
             EXPECT_STREQ(doc->pointSets.GetAt(1)->name.GetTitle().GetText(), "P2");
         }},
        {"cancel keeps the EO device",
         [this] {
             WriteAll(outside + "/Dev.eod", kFourFields);
             ASSERT_TRUE(Import(&CKestrelonDoc::ImportEODeviceFile, outside + "/Dev.eod"));
             EXPECT_FALSE(Import(&CKestrelonDoc::ImportEODeviceFile, QString()));
             EXPECT_FALSE(Import(&CKestrelonDoc::ImportEODeviceFile, outside + "/bad.xyz"));
             EXPECT_STREQ(doc->eoDevice.GetName().GetText(), "Dev");
             EXPECT_EQ(doc->eoDevice.GetSize(), 3);
         }},
        {"failed control import keeps the old control set",
         [this] {
             ASSERT_TRUE(Import(&CKestrelonDoc::ImportControlPointsFile, outside + "/K.xyz"));
             EXPECT_FALSE(Import(&CKestrelonDoc::ImportControlPointsFile, outside + "/bad.xyz"));
             EXPECT_EQ(doc->pointSets.GetControlSet(), doc->pointSets.GetAt(0));
         }},
        {"failed driveback import keeps the old driver set",
         [this] {
             ASSERT_TRUE(Import(&CKestrelonDoc::ImportDrivebackFile, outside + "/K.xyz"));
             EXPECT_FALSE(Import(&CKestrelonDoc::ImportDrivebackFile, outside + "/bad.xyz"));
             EXPECT_EQ(doc->pointSets.GetDriverSet(), doc->pointSets.GetAt(0));
         }},
        {"empty data file never opens an existing file",
         [this] {
             WriteAll(folder + "/3DDataFile.xyz", "mine\n");
             EXPECT_FALSE(doc->CreateEmpty3DDataFile());
             EXPECT_EQ(Count("File Creation Error"), 1);
             EXPECT_EQ(ReadAll(folder + "/3DDataFile.xyz"), QByteArray("mine\n"));
             QFile::remove(folder + "/3DDataFile.xyz");
             EXPECT_TRUE(doc->CreateEmpty3DDataFile());
             EXPECT_TRUE(QFile::exists(folder + "/3DDataFile.xyz"));
         }},
        {"save that cannot be written",
         [this] {
             const QByteArray before = ReadAll(folder + "/Proj.kst");
             WriteAll(folder + "/blocker", "file\n");
             doc->SetModifiedFlag(true);
             files.push_back(folder + "/blocker/Proj.kst");
             EXPECT_FALSE(doc->DoSave(QString(), true));
             EXPECT_EQ(TakeMessages().size(), 1u);
             EXPECT_TRUE(doc->IsModified());
             EXPECT_EQ(doc->GetTitle(), QStringLiteral("Proj.kst*"));
             EXPECT_EQ(doc->GetDocumentPath(), folder + "/Proj.kst");
             EXPECT_STREQ(doc->settings.projectPath.GetText(), (folder + "/Proj.kst").toLocal8Bit().constData());
             EXPECT_EQ(ReadAll(folder + "/Proj.kst"), before);
             EXPECT_EQ(ReadAll(folder + "/blocker"), QByteArray("file\n"));
         }},
        {"damaged project file opens nothing",
         [this] {
             QByteArray bytes = ReadAll(folder + "/Proj.kst");
             bytes.truncate(bytes.size() / 2);
             WriteAll(folder + "/Cut.kst", bytes);
             const auto windows = Frame()->findChildren<CMDIChildWnd*>().size();
             EXPECT_EQ(app->OpenDocumentFile(folder + "/Cut.kst"), nullptr);
             Settle();
             EXPECT_EQ(TakeMessages().size(), 1u);
             EXPECT_EQ(Frame()->findChildren<CMDIChildWnd*>().size(), windows);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewProject(0, true);
        c.run();
        files.clear();
    }
}

TEST_F(Lifecycle, EscapeInTheUnitsDialogCreatesNoProject)
{
    ASSERT_TRUE(Start());
    CMDIChildWnd* before = Frame()->MDIGetActive();
    dialogs.push_back([](CDialog& d) {
        d.show();
        QTest::keyClick(&d, Qt::Key_Escape);
        return d.result();
    });
    app->OnFileNew();
    Settle();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(Frame()->MDIGetActive(), before);
}

} // namespace
