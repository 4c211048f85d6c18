#include "BitmapFontLists.h"

#include "Hooks.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <GL/gl.h>

#include <algorithm>
#include <string>
#include <vector>

CGlyphBitmap RenderGlyph(const QFont& font, int c)
{
    const QFontMetrics metrics(font);
    CGlyphBitmap g;
    g.ascent = metrics.ascent();
    g.height = metrics.height();
    const QString glyph = c < 0x20 || c == 0x7f ? QString() : FromCp1252(std::string(1, char(c)));
    g.advance = glyph.isEmpty() ? 0 : metrics.horizontalAdvance(glyph);
    if (g.advance <= 0 || g.height <= 0) {
        g.advance = std::max(g.advance, 0);
        return g;
    }
    QImage image(g.advance, g.height, QImage::Format_Grayscale8);
    image.fill(0);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(0, g.ascent, glyph);
    painter.end();
    g.ink.assign(std::size_t(g.advance) * std::size_t(g.height), 0);
    for (int y = 0; y < g.height; ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < g.advance; ++x)
            g.ink[std::size_t(y) * std::size_t(g.advance) + std::size_t(x)] = line[x] >= 128 ? 1 : 0;
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
    const QFontMetrics metrics(font);
    const int ascent = metrics.ascent();
    const int height = metrics.height();
    m_nLineHeight = height;

    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    std::vector<GLubyte> bits;
    for (int c = 0; c < count; ++c) {
        const CGlyphBitmap g = RenderGlyph(font, c);
        const int advance = g.advance;
        glNewList(base + GLuint(c), GL_COMPILE);
        if (advance > 0 && height > 0) {
            // Rows from the bottom up, the leftmost pixel in the highest bit.
            const int rowBytes = (advance + 7) / 8;
            bits.assign(std::size_t(rowBytes) * std::size_t(height), 0);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < advance; ++x)
                    if (g.ink[std::size_t(height - 1 - y) * std::size_t(advance) + std::size_t(x)])
                        bits[std::size_t(y * rowBytes + x / 8)] |= GLubyte(0x80 >> (x % 8));
            glBitmap(advance, height, 0.0f, float(height - ascent), float(advance), 0.0f, bits.data());
        } else {
            glBitmap(0, 0, 0.0f, 0.0f, float(advance), 0.0f, nullptr);
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
