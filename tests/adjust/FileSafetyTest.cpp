// Every file reader and writer of the system against hostile paths and a
// failing disk: readers given a pipe, a folder or a device fail at once;
// writers on a full disk or past a file-size limit fail, leave the old file
// byte-identical and no temporary file; writing through a symbolic link keeps
// the link.
#include "BinArchive.h"
#include "BundleReport.h"
#include "FileIO.h"
#include "FilePath.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProfileStore.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"
#include "ProjectImage.h"
#include "TestFiles.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using kestrelon::test::TempFolder;

std::set<std::string> Entries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A project of 100 points: its file, coordinate file and the other texts
// are all larger than the file-size limit used below.
std::unique_ptr<CProjectDocument> SmallProject(const std::string& folder)
{
    auto doc = std::make_unique<CProjectDocument>();
    CPointSet* set = doc->pointSets.AddNew();
    set->name = (folder + "/Points.xyz").c_str();
    char label[16];
    for (int i = 0; i < 100; ++i) {
        std::snprintf(label, sizeof label, "P%d", i);
        set->AddCopy(CObjectPoint(label, i, 2.0 * i, -0.5 * i));
    }
    return doc;
}

// ---------------------------------------------------------------- readers

struct ReaderCase {
    const char* name;
    // Reads the file; true when the reader accepted it.
    std::function<bool(const std::string& path)> read;
};

std::vector<ReaderCase> Readers()
{
    return {
        {"project file",
         [](const std::string& p) {
             CProjectDocument doc;
             const CProjectFileResult r = ReadWriteProjectFile(doc, p.c_str(), PROJECT_FILE_LOAD);
             EXPECT_FALSE(r.message.IsEmpty());
             return r.ok;
         }},
        {"coordinate file",
         [](const std::string& p) {
             CPointSet set;
             int fields = 0;
             return set.ReadXyzFile(p.c_str(), &fields);
         }},
        {"EO device file",
         [](const std::string& p) {
             CEODevice device;
             return device.Load(p.c_str());
         }},
        {"fiducial file",
         [](const std::string& p) {
             CObservationList marks;
             return marks.ReadXyFile(CFilePath(p.c_str()));
         }},
        {"image coordinate file",
         [](const std::string& p) {
             CProjectImage image;
             return image.ReadIcfFile(CFilePath(p.c_str()), 0.001);
         }},
        {"profile",
         [](const std::string& p) {
             CProfileStore store;
             return store.Load(p);
         }},
        {"archive",
         [](const std::string& p) {
             CBinArchive ar(p.c_str(), std::ios::in);
             EXPECT_FALSE(ar.GetFileError().empty());
             return !ar.fail();
         }},
    };
}

TEST(FileSafety, EveryReaderRefusesPipesFoldersAndDevicesAtOnce)
{
    TempFolder temp;
    const std::string pipe = temp.Path() + "/pipe.xyz";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string folder = temp.Path() + "/folder.xyz";
    fs::create_directory(folder);
    for (const ReaderCase& reader : Readers()) {
        for (const std::string& path : {pipe, folder, std::string("/dev/zero")}) {
            SCOPED_TRACE(std::string(reader.name) + " on " + path);
            // A reader that blocks or reads for ever ends the test here.
            alarm(10);
            EXPECT_FALSE(reader.read(path));
            alarm(0);
        }
    }
    TakeCapturedMessages();
}

// ---------------------------------------------------------------- writers

struct WriterCase {
    const char* name;
    const char* file;
    // Writes a text of more than 1 KiB to path; true on success.
    std::function<bool(const std::string& path)> write;
};

std::vector<WriterCase> Writers()
{
    return {
        {"project file", "survey.kst",
         [](const std::string& p) {
             auto doc = SmallProject(fs::path(p).parent_path().string());
             return ReadWriteProjectFile(*doc, p.c_str(), PROJECT_FILE_SAVE).ok;
         }},
        {"coordinate file", "Points.xyz",
         [](const std::string& p) {
             auto doc = SmallProject(fs::path(p).parent_path().string());
             return doc->pointSets.GetAt(0)->WriteXyzFile(p.c_str(), 12, 13, 7);
         }},
        {"report", "Bundle.txt",
         [](const std::string& p) {
             const fs::path path(p);
             CReportFile report;
             if (!report.Open(CFilePath((path.parent_path() / "survey.kst").c_str()),
                              path.filename().c_str()))
                 return false;
             for (int i = 0; i < 100; ++i)
                 report.LineFormat("%5d %14.6f", i, i * 0.125);
             return report.Commit();
         }},
        {"profile", "Kestrelon.ini",
         [](const std::string& p) {
             CProfileStore store(p);
             for (int i = 0; i < 100; ++i)
                 store.WriteInt("Cameras", ("Key" + std::to_string(i)).c_str(), i * 1000);
             return store.Flush();
         }},
        {"text file", "Dump.txt",
         [](const std::string& p) {
             CTextFile file(p.c_str(), std::ios::out);
             for (int i = 0; i < 100; ++i)
                 file << "line " << i << " of the text file\n";
             file.close();
             return !file.fail();
         }},
        {"archive", "data.bin",
         [](const std::string& p) {
             CBinArchive ar(p.c_str(), std::ios::out);
             for (int i = 0; i < 1000; ++i)
                 ar.WriteInt(i);
             ar.close();
             return !ar.fail();
         }},
        {"matrix text", "Matrix.txt",
         [](const std::string& p) {
             CMatrix m(20, 20);
             for (int i = 0; i < 20; ++i)
                 m.SetAt(i + 0.5, i, i);
             return m.WriteText(p.c_str());
         }},
    };
}

const std::string kOldText = "the old file\r\n";

// Puts the old file in place, runs the failing write and checks that it
// failed, that the old file is as it was and that nothing else is left.
void ExpectCleanFailure(const WriterCase& writer, const std::string& folder,
                        const std::function<bool(const WriterCase&, const std::string&)>& failingWrite)
{
    SCOPED_TRACE(writer.name);
    const std::string path = folder + "/" + writer.file;
    kestrelon::test::WriteFileBytes(path, kOldText);
    const std::set<std::string> before = Entries(folder);
    EXPECT_FALSE(failingWrite(writer, path));
    EXPECT_EQ(kestrelon::test::ReadFileBytes(path), kOldText);
    EXPECT_EQ(Entries(folder), before);
    fs::remove(path);
}

TEST(FileSafety, EveryWriterOnAFullDiskFailsAndKeepsTheOldFile)
{
    TempFolder temp;
    for (const WriterCase& writer : Writers()) {
        ExpectCleanFailure(writer, temp.Path(), [](const WriterCase& w, const std::string& path) {
            SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
                errno = ENOSPC;
                return -1;
            });
            const bool ok = w.write(path);
            SetFileWriteFunction(nullptr);
            return ok;
        });
    }
    TakeCapturedMessages();
}

TEST(FileSafety, EveryWriterOnAFullFileSystemFailsAndKeepsTheOldFile)
{
    TempFolder temp;
    const std::string mountPoint = temp.Path() + "/small";
    fs::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no small file system can be mounted here: " << SystemErrorText(errno);
    for (const WriterCase& writer : Writers()) {
        ExpectCleanFailure(writer, mountPoint, [&mountPoint](const WriterCase& w, const std::string& path) {
            // Fill what is left, then write.
            const std::string filler = mountPoint + "/filler";
            {
                std::ofstream fill(filler, std::ios::binary);
                const std::string block(4096, 'x');
                while (fill.write(block.data(), static_cast<std::streamsize>(block.size())) && fill.flush()) {
                }
            }
            const bool ok = w.write(path);
            fs::remove(filler);
            return ok;
        });
    }
    umount2(mountPoint.c_str(), MNT_DETACH);
    TakeCapturedMessages();
}

TEST(FileSafety, EveryWriterPastAFileSizeLimitFailsAndKeepsTheOldFile)
{
    TempFolder temp;
    for (const WriterCase& writer : Writers()) {
        ExpectCleanFailure(writer, temp.Path(), [](const WriterCase& w, const std::string& path) {
            // In a child, so that the limit stays there: it exits 1 when the
            // write succeeded, 0 when it failed, and dies if the signal of
            // the limit is not ignored.
            const pid_t child = fork();
            if (child == 0) {
                const rlimit limit{1024, 1024};
                setrlimit(RLIMIT_FSIZE, &limit);
                _exit(w.write(path) ? 1 : 0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        });
    }
}

TEST(FileSafety, EveryWriterWritesThroughALinkAndRefusesWhatIsNoFile)
{
    TempFolder temp;
    const std::string pipe = temp.Path() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const WriterCase& writer : Writers()) {
        SCOPED_TRACE(writer.name);
        const std::string real = temp.Path() + "/real-" + writer.file;
        const std::string link = temp.Path() + "/" + writer.file;
        kestrelon::test::WriteFileBytes(real, kOldText);
        ASSERT_EQ(chmod(real.c_str(), 0640), 0);
        fs::create_symlink(fs::path(real).filename(), link);
        ASSERT_TRUE(writer.write(link));
        EXPECT_TRUE(fs::is_symlink(link));
        const std::string written = kestrelon::test::ReadFileBytes(real);
        EXPECT_GT(written.size(), 1024u);
        EXPECT_NE(written, kOldText);
        EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

        // A link to a pipe: refused at once, the pipe stays.
        fs::remove(link);
        fs::create_symlink(pipe, link);
        alarm(10);
        EXPECT_FALSE(writer.write(link));
        alarm(0);
        EXPECT_TRUE(fs::is_fifo(pipe));
        fs::remove(link);
        fs::remove(real);
    }
    EXPECT_EQ(Entries(temp.Path()), std::set<std::string>{"pipe"});
    TakeCapturedMessages();
}

// ---------------------------------------------------------------- opening

TEST(FileSafety, OpeningKeepsACoordinateFileItCannotReplaceAndReportsIt)
{
    TempFolder temp;
    const std::string project = temp.Path() + "/survey.kst";
    const std::string coordinates = temp.Path() + "/Points.xyz";
    {
        auto doc = SmallProject(temp.Path());
        ASSERT_TRUE(ReadWriteProjectFile(*doc, project.c_str(), PROJECT_FILE_SAVE).ok);
    }
    const std::string projectBytes = kestrelon::test::ReadFileBytes(project);

    // A file that cannot be replaced is kept and named (a blank one: a file
    // with text of its own is never replaced); a pipe is no file of the
    // set's: the set takes a free name beside it.
    struct OpenCase {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> undo;
        const char* setFile; // the set's file after the open
        bool told;
    };
    const std::vector<OpenCase> cases = {
        {"full disk",
         [&] {
             kestrelon::test::WriteFileBytes(coordinates, "\r\n");
             SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
                 errno = ENOSPC;
                 return -1;
             });
         },
         [] { SetFileWriteFunction(nullptr); }, "Points.xyz", true},
        {"pipe in its place",
         [&] {
             fs::remove(coordinates);
             ASSERT_EQ(mkfifo(coordinates.c_str(), 0600), 0);
         },
         [] {}, "Points1.xyz", false},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        TakeCapturedMessages();
        c.prepare();
        const bool wasFifo = fs::is_fifo(coordinates);
        const std::string before = wasFifo ? std::string() : kestrelon::test::ReadFileBytes(coordinates);
        CProjectDocument doc;
        alarm(10);
        const CProjectFileResult result = OpenProjectDocument(doc, project.c_str());
        alarm(0);
        c.undo();
        EXPECT_TRUE(result.ok) << result.message.GetText();
        ASSERT_EQ(doc.pointSets.GetSize(), 1);
        EXPECT_EQ(doc.pointSets.GetAt(0)->GetSize(), 100);
        EXPECT_EQ(std::string(doc.pointSets.GetAt(0)->name.GetText()), temp.Path() + "/" + c.setFile);
        const auto shown = TakeCapturedMessages();
        ASSERT_EQ(shown.size(), c.told ? 1u : 0u);
        if (c.told) {
            EXPECT_NE(shown[0].text.find(c.setFile), std::string::npos);
        } else {
            CPointSet back;
            EXPECT_TRUE(back.Load(doc.pointSets.GetAt(0)->name.GetText()));
            EXPECT_EQ(back.GetSize(), 100);
        }
        EXPECT_EQ(fs::is_fifo(coordinates), wasFifo);
        if (!wasFifo) {
            EXPECT_EQ(kestrelon::test::ReadFileBytes(coordinates), before);
        }
        EXPECT_EQ(kestrelon::test::ReadFileBytes(project), projectBytes);
    }

    // A load that fails touches nothing on disk.
    fs::remove(coordinates);
    kestrelon::test::WriteFileBytes(coordinates, kOldText);
    kestrelon::test::WriteFileBytes(project, projectBytes.substr(0, projectBytes.size() - 10));
    const std::set<std::string> before = Entries(temp.Path());
    CProjectDocument doc;
    EXPECT_FALSE(ReadWriteProjectFile(doc, project.c_str(), PROJECT_FILE_LOAD).ok);
    EXPECT_EQ(kestrelon::test::ReadFileBytes(coordinates), kOldText);
    EXPECT_EQ(Entries(temp.Path()), before);
    TakeCapturedMessages();
}

} // namespace
