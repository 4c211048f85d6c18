// Texts of the OpenGL views: every printable character of the bitmap-font
// lists is the font's whole 1-bit glyph, the sample's point labels in the 3D
// view carry every pixel of the same text drawn without antialiasing, and a
// picture of the view shows the black background the screen shows.
#include "ContextMenu.h"
#include "GLSupport.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "BitmapFontLists.h"
#include "Frames.h"
#include "Hooks.h"
#include "KestrelonView.h"
#include "PointSet.h"
#include "TreeMenus.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QTest>

#include <GL/gl.h>

#include <string>
#include <vector>

namespace three_d_view_text_test {

// White text on black drawn by Qt in the font without antialiasing, the
// pen's baseline at (x, y).
QImage DrawnByQt(QSize size, const QFont& font, const QString& text, int x, int y)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QFont bitmapFont(font);
    bitmapFont.setStyleStrategy(QFont::NoAntialias);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(bitmapFont);
    painter.setPen(Qt::white);
    painter.drawText(x, y, text);
    return image;
}

bool Lit(QRgb pixel)
{
    return qRed(pixel) > 128 && qGreen(pixel) > 128 && qBlue(pixel) > 128;
}

// Ink pixels of the reference and how many of them the picture lacks, the
// picture moved by (dx, dy).
struct Coverage {
    int ink = 0;
    int missing = 0;
    int extra = 0;
};
Coverage Compare(const QImage& reference, const QImage& picture, int dx, int dy)
{
    Coverage c;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const bool want = Lit(reference.pixel(x, y));
            const QPoint at(x + dx, y + dy);
            const bool have = picture.rect().contains(at) && Lit(picture.pixel(at));
            c.ink += want;
            c.missing += want && !have;
            c.extra += have && !want;
        }
    return c;
}

// The printable characters the lists hold: 33 .. 126 and the upper half of
// cp1252 less its unassigned codes, the no-break space and the soft hyphen.
std::vector<int> PrintableCodes()
{
    std::vector<int> codes;
    for (int c = 33; c < 255; ++c)
        if (c < 127 || (c >= 0x80 && c != 0x81 && c != 0x8d && c != 0x8f && c != 0x90 && c != 0x9d && c != 0xa0 &&
                        c != 0xad))
            codes.push_back(c);
    return codes;
}

// Each character through the display lists at a raster position, against
// Qt's drawing of it: the labels' font and the widgets' font of the overlay,
// axis and station-window texts.
TEST(BitmapFontLists, EveryPrintableCharacterIsTheFontsWholeGlyph)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    ASSERT_TRUE(context.create());
    ASSERT_TRUE(context.makeCurrent(&surface));
    const QSize size(64, 64);
    const int penX = 20, baseline = 24; // from the bottom
    {
        QOpenGLFramebufferObject target(size);
        ASSERT_TRUE(target.bind());
        glViewport(0, 0, size.width(), size.height());
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, size.width(), 0, size.height(), -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_DEPTH_TEST);
        glClearColor(0, 0, 0, 1);
        const struct {
            const char* name;
            QFont font;
        } fonts[] = {{"labels", C3DView::GetLabelFont()}, {"widgets", QApplication::font()}};
        for (const auto& f : fonts) {
            CBitmapFontLists lists;
            ASSERT_NE(lists.Build(f.font), 0u) << f.name;
            for (int c : PrintableCodes()) {
                glClear(GL_COLOR_BUFFER_BIT);
                glColor3f(1, 1, 1);
                glRasterPos2i(penX, baseline);
                const char text[2] = {char(c), 0};
                lists.Draw(text);
                glFinish();
                const QImage picture = target.toImage().convertToFormat(QImage::Format_RGB32);
                const QImage reference =
                    DrawnByQt(size, f.font, FromCp1252(text), penX, size.height() - baseline);
                const Coverage k = Compare(reference, picture, 0, 0);
                EXPECT_GT(k.ink, 0) << f.name << " character " << c << " has no ink";
                EXPECT_EQ(k.missing, 0) << f.name << " character " << c << " of " << k.ink << " pixels";
                EXPECT_EQ(k.extra, 0) << f.name << " character " << c;
            }
            lists.Release();
        }
        target.release();
    }
    context.doneCurrent();
}

class ThreeDViewText : public ShellFixture {
protected:
    // The sample's control set in the 3D view as the user opens it: a right
    // click on its tree item, Graphic View; null when it cannot be shown.
    C3DView* OpenControlSet()
    {
        if (!Start({QStringLiteral("--nosplash"), WriteSample()}))
            return nullptr;
        TakeMessages();
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; tree && i < tree->Data3D()->childCount(); ++i)
            if (tree->Data3D()->child(i)->text(0) == QStringLiteral("Control"))
                item = tree->Data3D()->child(i);
        if (!item || !ChooseFromContextMenu(tree, item, ID_TREE_GRAPHIC_VIEW))
            return nullptr;
        Settle();
        auto* view = dynamic_cast<C3DView*>(Frame()->GetProjectFrame()->GetRightPane());
        if (!view || !QTest::qWaitForWindowExposed(view) || !view->context() || !view->context()->isValid())
            return nullptr;
        view->grabFramebuffer();
        return view;
    }
};

// Ctrl+T shows the labels; each label on the picture has the pixels of its
// text drawn by Qt without antialiasing in the labels' font, at the raster
// position of its point.
TEST_F(ThreeDViewText, SampleLabelsHaveEveryPixelOfTheirText)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    C3DView* view = OpenControlSet();
    ASSERT_NE(view, nullptr);
    QTest::keyClick(view, Qt::Key_T, Qt::ControlModifier);
    Settle();
    ASSERT_TRUE(view->GetLayers().labels);
    const QImage picture = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/3DViewSampleLabels.png"));

    const CPointSet* set = view->GetPointSet();
    ASSERT_NE(set, nullptr);
    const QFont font = C3DView::GetLabelFont();
    const QFontMetrics metrics(font);
    const double d = 0.02 * view->GetAxisSize();
    int checked = 0;
    for (int i = 0; i < set->GetSize() && checked < 8; ++i) {
        const CObjectPoint& p = *set->GetAt(i);
        const QString text = FromCp1252(p.label.GetText());
        // The window pixel of the raster position: the row just above the baseline.
        const QPoint at = ProjectToWindow(*view, p.x + d, p.y + d, p.z + d);
        const QRect box(at.x() - 2, at.y() - metrics.ascent() - 2, metrics.horizontalAdvance(text) + 4,
                        metrics.height() + 4);
        if (!picture.rect().contains(box))
            continue;
        const QImage reference = DrawnByQt(picture.size(), font, text, at.x(), at.y() + 1);
        // The best of the placements a pixel around it.
        Coverage best;
        best.missing = 1 << 20;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const Coverage c = Compare(reference, picture, dx, dy);
                if (c.missing < best.missing)
                    best = c;
            }
        ASSERT_GT(best.ink, 0) << p.label.GetText();
        EXPECT_LE(best.missing * 50, best.ink) << p.label.GetText() << ": " << best.missing << " of " << best.ink
                                               << " pixels missing";
        ++checked;
    }
    EXPECT_GE(checked, 4);
}

// The picture of the view, from the view and with the window around it,
// has the screen's black background: the white points and the white title
// stand out on it.
TEST_F(ThreeDViewText, PicturesOfTheViewHaveItsBlackBackground)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    C3DView* view = OpenControlSet();
    ASSERT_NE(view, nullptr);
    const QImage framebuffer = view->grabFramebuffer();
    Settle();
    const QImage window = Frame()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(window.save(TestOutputFolder() + "/3DViewSampleWindow.png"));
    const QPoint corner = view->mapTo(Frame(), QPoint(0, 0));
    const struct {
        const char* name;
        QImage picture;
        QPoint origin;
    } pictures[] = {{"grabFramebuffer", framebuffer, QPoint(0, 0)}, {"the window's grab", window, corner}};
    const CPointSet* set = view->GetPointSet();
    ASSERT_NE(set, nullptr);
    for (const auto& shot : pictures) {
        for (const QPoint& c : {QPoint(0, 0), QPoint(view->width() - 1, view->height() - 1)})
            EXPECT_EQ(shot.picture.pixel(shot.origin + c), qRgb(0, 0, 0)) << shot.name;
        int inside = 0, white = 0;
        for (int i = 0; i < set->GetSize(); ++i) {
            const CObjectPoint& p = *set->GetAt(i);
            const QPoint at = ProjectToWindow(*view, p.x, p.y, p.z);
            if (!view->rect().adjusted(1, 1, -1, -1).contains(at))
                continue;
            ++inside;
            bool found = false;
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx)
                    found = shot.picture.pixel(shot.origin + at + QPoint(dx, dy)) == qRgb(255, 255, 255);
            white += found;
        }
        EXPECT_GE(inside, set->GetSize() / 2) << shot.name;
        EXPECT_GE(white, inside * 9 / 10) << shot.name;
        // The set's title, white, at the top left.
        int title = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < view->width() / 2; ++x)
                title += shot.picture.pixel(shot.origin + QPoint(x, y)) == qRgb(255, 255, 255);
        EXPECT_GT(title, 20) << shot.name;
    }
}

} // namespace three_d_view_text_test
