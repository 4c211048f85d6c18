#include "BitmapFontLists.h"

#include "Hooks.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <GL/gl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The font rasterised without antialiasing: its own 1-bit glyphs, whose
// strokes are all there however thin (a threshold of antialiased cover
// loses the strokes that fall between two pixel columns).
QFont BitmapFont(const QFont& font)
{
    QFont bitmapFont(font);
    bitmapFont.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));
    return bitmapFont;
}

} // namespace

CGlyphBitmap RenderGlyph(const QFont& font, int c)
{
    const QFont bitmapFont = BitmapFont(font);
    const QFontMetrics metrics(bitmapFont);
    CGlyphBitmap g;
    g.ascent = metrics.ascent();
    g.height = metrics.height();
    const QString glyph = c < 0x20 || c == 0x7f ? QString() : FromCp1252(std::string(1, char(c)));
    g.advance = glyph.isEmpty() ? 0 : metrics.horizontalAdvance(glyph);
    if (g.advance <= 0 || g.height <= 0) {
        g.advance = std::max(g.advance, 0);
        return g;
    }
    // Drawn with a margin of a line's height on every side, so that a stroke
    // beyond the advance or the line (an accent, a leg) is kept too.
    const int margin = g.height;
    QImage image(g.advance + 2 * margin, g.height + 2 * margin, QImage::Format_Grayscale8);
    image.fill(0);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(bitmapFont);
    painter.setPen(Qt::white);
    painter.drawText(margin, margin + g.ascent, glyph);
    painter.end();
    // The cell and every inked pixel.
    int x0 = margin, x1 = margin + g.advance, y0 = margin, y1 = margin + g.height;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            if (line[x] != 0) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x + 1);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y + 1);
            }
    }
    g.left = margin - x0;
    g.top = margin - y0;
    g.width = x1 - x0;
    g.rows = y1 - y0;
    g.ink.assign(std::size_t(g.width) * std::size_t(g.rows), 0);
    for (int y = 0; y < g.rows; ++y) {
        const uchar* line = image.constScanLine(y0 + y);
        for (int x = 0; x < g.width; ++x)
            g.ink[std::size_t(y) * std::size_t(g.width) + std::size_t(x)] = line[x0 + x] != 0 ? 1 : 0;
    }
    return g;
}

unsigned CBitmapFontLists::Build(const QFont& font, int count)
{
    Release();
    if (count <= 0)
        return 0;
    const GLuint base = glGenLists(count);
    if (base == 0)
        return 0;
    m_nLineHeight = QFontMetrics(BitmapFont(font)).height();

    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    std::vector<GLubyte> bits;
    for (int c = 0; c < count; ++c) {
        const CGlyphBitmap g = RenderGlyph(font, c);
        glNewList(base + GLuint(c), GL_COMPILE);
        if (g.width > 0 && g.rows > 0) {
            // Rows from the bottom up, the leftmost pixel in the highest bit;
            // the raster position is the pen on the baseline.
            const int rowBytes = (g.width + 7) / 8;
            bits.assign(std::size_t(rowBytes) * std::size_t(g.rows), 0);
            for (int y = 0; y < g.rows; ++y)
                for (int x = 0; x < g.width; ++x)
                    if (g.ink[std::size_t(g.rows - 1 - y) * std::size_t(g.width) + std::size_t(x)])
                        bits[std::size_t(y * rowBytes + x / 8)] |= GLubyte(0x80 >> (x % 8));
            glBitmap(g.width, g.rows, float(g.left), float(g.rows - g.top - g.ascent), float(g.advance), 0.0f,
                     bits.data());
        } else {
            glBitmap(0, 0, 0.0f, 0.0f, float(g.advance), 0.0f, nullptr);
        }
        glEndList();
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    m_nBase = base;
    m_nCount = count;
    return base;
}

void CBitmapFontLists::Release()
{
    if (m_nBase != 0)
        glDeleteLists(m_nBase, m_nCount);
    m_nBase = 0;
    m_nCount = 0;
}

void CBitmapFontLists::Draw(const char* text) const
{
    if (m_nBase == 0 || !text)
        return;
    // Characters beyond the lists are skipped.
    std::vector<GLubyte> codes;
    for (const char* p = text; *p; ++p)
        if (int(static_cast<unsigned char>(*p)) < m_nCount)
            codes.push_back(static_cast<GLubyte>(*p));
    glListBase(m_nBase);
    glCallLists(GLsizei(codes.size()), GL_UNSIGNED_BYTE, codes.data());
}
