// The user guide the build sets beside the program: a PDF of the guide's
// chapters and pictures, opened by Help > Manual.
#include "ShellFixture.h"

#include "MainFrame.h"
#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QToolBar>

#include <algorithm>

namespace guide_test {

const QString& GuidePath()
{
    static const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/KestrelonGuide.pdf");
    return path;
}

// The output of a poppler tool run on the guide; fails the test when it cannot run.
QString Poppler(const QString& tool, QStringList arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString() << " failed: " << process.readAllStandardError().toStdString();
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The chapter titles and picture files of the guide's text.
void GuideSource(QStringList& chapters, QStringList& pictures)
{
    QFile source(QStringLiteral(KESTRELON_TEST_DATA "/../../docs/guide/Guide.md"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(source.readAll());
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.startsWith(QStringLiteral("# ")) || line.startsWith(QStringLiteral("## ")))
            chapters << line.section(QLatin1Char(' '), 1).trimmed();
    const QRegularExpression picture(QStringLiteral(R"(!\[[^\]]*\]\(([^)]+)\))"));
    for (auto it = picture.globalMatch(text); it.hasNext();)
        pictures << it.next().captured(1);
}

TEST(Guide, ThePdfBesideTheProgramHoldsEveryChapterAndPicture)
{
    ASSERT_TRUE(QFile::exists(GuidePath())) << GuidePath().toStdString();
    QStringList chapters, pictures;
    ASSERT_NO_FATAL_FAILURE(GuideSource(chapters, pictures));
    ASSERT_GE(chapters.size(), 7);
    ASSERT_GE(pictures.size(), 5);

    const QString info = Poppler(QStringLiteral("pdfinfo"), {GuidePath()});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Kestrelon User Guide")))) << info.toStdString();
    const QRegularExpressionMatch pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    ASSERT_TRUE(pages.hasMatch()) << info.toStdString();
    const int pageCount = pages.captured(1).toInt();
    EXPECT_GE(pageCount, 4);
    EXPECT_LE(pageCount, 30);
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts \\(A4\\)"))))
        << info.toStdString();

    // Every chapter title is text of the PDF, in order, and the pages are numbered.
    // (the compatibility form spells out the typesetter's ligatures, "fi" for one)
    const QString text = Poppler(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), GuidePath(), QStringLiteral("-")})
                             .normalized(QString::NormalizationForm_KC);
    qsizetype at = 0;
    for (const QString& chapter : chapters) {
        const qsizetype found = text.indexOf(chapter, at);
        EXPECT_GE(found, 0) << chapter.toStdString();
        if (found >= 0)
            at = found;
    }
    const QStringList pageTexts = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pageTexts.size(), pageCount);
    for (int p = 0; p < pageCount; ++p)
        EXPECT_TRUE(pageTexts[p].trimmed().endsWith(QString::number(p + 1))) << "page " << p + 1;

    // Every picture is in it.
    const QString images = Poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), GuidePath()});
    const QStringList rows = images.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2); // two header lines
    int drawn = 0;
    for (const QString& row : rows)
        drawn += row.contains(QStringLiteral(" image ")) ? 1 : 0;
    EXPECT_GE(drawn, pictures.size()) << images.toStdString();
}

using GuideShell = ShellFixture;

// Help > Manual of the menu bar, after the menu's update rules ran.
QAction* ManualAction(CMainFrame* frame)
{
    QMenu* help = nullptr;
    for (QAction* a : frame->menuBar()->actions())
        if (QString(a->text()).remove(QLatin1Char('&')) == QStringLiteral("Help"))
            help = a->menu();
    if (!help)
        return nullptr;
    emit help->aboutToShow();
    for (QAction* a : help->actions())
        if (QString(a->text()).remove(QLatin1Char('&')) == QStringLiteral("Manual"))
            return a;
    return nullptr;
}

// Help > Manual, chosen in the menu, opens the built guide; the toolbar's
// context help has no command and stays disabled.
TEST_F(GuideShell, HelpManualOpensTheBuiltGuide)
{
    ASSERT_TRUE(QFile::exists(GuidePath()));
    const QString bin = MakeDesktopOpener();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toLocal8Bit());
    const bool started = Start() != nullptr;
    qputenv("PATH", path);
    ASSERT_TRUE(started);

    QAction* manual = ManualAction(Frame());
    ASSERT_NE(manual, nullptr);
    EXPECT_TRUE(manual->isEnabled());
    opened.clear();
    manual->trigger();
    Settle();
    EXPECT_EQ(opened, QStringList{GuidePath()});
    EXPECT_TRUE(TakeMessages().empty());

    Frame()->UpdateCmdUI();
    QAction* contextHelp = nullptr;
    for (QAction* a : Frame()->GetToolBar()->actions())
        if (a == Frame()->GetAction(ID_CONTEXT_HELP))
            contextHelp = a;
    ASSERT_NE(contextHelp, nullptr);
    EXPECT_FALSE(contextHelp->isEnabled());
    Stop();
}

// Without the guide beside the program, or without the desktop's opener,
// Manual stays enabled and, chosen, says what is missing and how to mend
// it; nothing is opened.
TEST_F(GuideShell, HelpManualNamesWhatIsMissing)
{
    const QString opener = MakeDesktopOpener();
    const QString noOpener = scratch.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(noOpener));
    // A program folder inside a build folder, and one elsewhere.
    const QString build = scratch.filePath(QStringLiteral("build"));
    ASSERT_TRUE(QDir().mkpath(build + QStringLiteral("/bin")));
    QFile cache(build + QStringLiteral("/CMakeCache.txt"));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.close();
    const QString elsewhere = scratch.filePath(QStringLiteral("programs"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString builtIn = QCoreApplication::applicationDirPath();

    const struct {
        QString path;    // PATH at the start
        QString program; // the program's folder
        QStringList said; // parts of the message, in order; empty: the guide opens
    } cases[] = {
        {opener, builtIn, {}},
        {opener, build + QStringLiteral("/bin"),
         {QStringLiteral("The user guide KestrelonGuide.pdf is not in the folder %1/bin.\n").arg(build),
          QStringLiteral("Make it with: cmake --build %1 --target kestrelon_guide").arg(build)}},
        {opener, elsewhere,
         {QStringLiteral("The user guide KestrelonGuide.pdf is not in the folder %1.\n").arg(elsewhere),
          QStringLiteral("The build makes it with the target kestrelon_guide.")}},
        {noOpener, builtIn, {QStringLiteral("xdg-open was not found"), QStringLiteral("Install xdg-utils")}},
        {noOpener, elsewhere,
         {QStringLiteral("KestrelonGuide.pdf is not in the folder"), QStringLiteral("xdg-open was not found")}},
    };
    const QByteArray path = qgetenv("PATH");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " " + c.program.toStdString());
        qputenv("PATH", c.path.toLocal8Bit());
        const bool started = Start() != nullptr;
        qputenv("PATH", path);
        ASSERT_TRUE(started);
        app->SetProgramDirectory(c.program);
        QAction* manual = ManualAction(Frame());
        ASSERT_NE(manual, nullptr);
        EXPECT_TRUE(manual->isEnabled());
        opened.clear();
        TakeMessages();
        manual->trigger();
        Settle();
        const std::vector<std::string> messages = TakeMessages();
        if (c.said.isEmpty()) {
            EXPECT_EQ(opened, QStringList{GuidePath()});
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_TRUE(opened.isEmpty());
            ASSERT_EQ(messages.size(), 1u);
            const QString text = QString::fromStdString(messages[0]);
            qsizetype at = 0;
            for (const QString& part : c.said) {
                const qsizetype found = text.indexOf(part, at);
                EXPECT_GE(found, at) << part.toStdString() << " in " << messages[0];
                at = std::max(at, found);
            }
        }
        Stop();
    }
}

} // namespace guide_test
