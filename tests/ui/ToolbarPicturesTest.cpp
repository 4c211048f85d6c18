// The main toolbar's pictures: one for every button, each its own, the
// desktop's icon theme first where it has the picture, and a screenshot.
#include "ShellFixture.h"

#include "Resources.h"
#include "ToolbarPictures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <set>
#include <string>
#include <vector>

namespace toolbar_pictures_test {

QImage Picture(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

int OpaquePixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 128;
    return n;
}

// An icon theme of one folder and the pictures given, in a temporary folder;
// installed while it lives.
class TestTheme {
public:
    explicit TestTheme(const std::vector<const char*>& names)
        : paths(QIcon::themeSearchPaths()), theme(QIcon::themeName())
    {
        QDir root(folder.path());
        root.mkpath(QStringLiteral("kestrel-test/16x16/actions"));
        QFile index(root.filePath(QStringLiteral("kestrel-test/index.theme")));
        if (index.open(QIODevice::WriteOnly))
            index.write("[Icon Theme]\nName=kestrel-test\nDirectories=16x16/actions\n\n"
                        "[16x16/actions]\nSize=16\nType=Fixed\n");
        index.close();
        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(QColor(255, 0, 0));
        for (const char* name : names)
            red.save(root.filePath(QStringLiteral("kestrel-test/16x16/actions/%1.png").arg(QString::fromLatin1(name))));
        QIcon::setThemeSearchPaths({folder.path()});
        QIcon::setThemeName(QStringLiteral("kestrel-test"));
    }
    ~TestTheme()
    {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(theme);
    }

private:
    QTemporaryDir folder;
    QStringList paths;
    QString theme;
};

using ToolbarPictures = ShellFixture;

TEST_F(ToolbarPictures, EveryButtonHasAPictureOfItsOwn)
{
    ASSERT_TRUE(Start());
    CMainToolBar* bar = Frame()->GetToolBar();
    std::set<std::string> seen;
    int buttons = 0;
    for (int slot = 0; slot < kToolbarSlotCount; ++slot) {
        const ToolbarSlot& s = kToolbarSlots[slot];
        if (!s.id)
            continue;
        ++buttons;
        QAction* action = Frame()->GetAction(s.id);
        EXPECT_TRUE(bar->actions().contains(action)) << s.tooltip;
        const QImage image = Picture(action->icon());
        // Something drawn, not a blank or a full tile.
        const int opaque = OpaquePixels(image);
        EXPECT_GT(opaque, 16) << s.tooltip;
        const QByteArray bytes(reinterpret_cast<const char*>(image.constBits()), int(image.sizeInBytes()));
        EXPECT_TRUE(seen.insert(bytes.toStdString()).second) << s.tooltip << " looks like another button";
        // A drawn picture exists for every button, whatever the desktop has.
        EXPECT_GT(OpaquePixels(Picture(DrawnToolbarPicture(s.id))), 16) << s.tooltip;
    }
    EXPECT_EQ(buttons, 21);

    // The bar over a project, wide enough for every slot, and the drawn
    // pictures at twice their size.
    app->OnFileNew();
    Frame()->resize(1200, 600);
    Settle();
    Frame()->UpdateCmdUI();
    const QString picture = TestOutputFolder() + QStringLiteral("/Toolbar.png");
    EXPECT_TRUE(bar->grab().save(picture));
    EXPECT_GT(QFile(picture).size(), 0);
    QImage drawn(buttons * 36 + 4, 40, QImage::Format_ARGB32);
    drawn.fill(Qt::white);
    QPainter p(&drawn);
    int x = 4;
    for (const ToolbarSlot& s : std::vector<ToolbarSlot>(kToolbarSlots, kToolbarSlots + kToolbarSlotCount))
        if (s.id) {
            p.drawPixmap(x, 4, DrawnToolbarPicture(s.id).pixmap(QSize(32, 32)));
            x += 36;
        }
    p.end();
    EXPECT_TRUE(drawn.save(TestOutputFolder() + QStringLiteral("/ToolbarDrawnPictures.png")));
}

TEST_F(ToolbarPictures, TheDesktopsThemeComesFirst)
{
    const struct {
        int id;
        bool themed; // the test theme has its picture
    } cases[] = {{ID_FILE_OPEN, true}, {ID_FILE_SAVE, true}, {32959, true}, {32795, false}, {57607, false}, {32872, false}};
    std::vector<const char*> names;
    for (const auto& c : cases)
        if (c.themed) {
            ASSERT_NE(ToolbarThemeName(c.id), nullptr) << c.id;
            names.push_back(ToolbarThemeName(c.id));
        }
    TestTheme theme(names);
    const QRgb red = qRgb(255, 0, 0);
    for (const auto& c : cases) {
        const QImage image = Picture(ToolbarPicture(c.id));
        ASSERT_FALSE(image.isNull()) << c.id;
        EXPECT_EQ(image.pixel(8, 8) == red && image.pixel(0, 0) == red, c.themed) << c.id;
        if (!c.themed) {
            EXPECT_EQ(image, Picture(DrawnToolbarPicture(c.id))) << c.id;
        }
    }
}

} // namespace toolbar_pictures_test
