// Display lists of bitmap glyphs rasterised from a QFont: list base + c draws
// character c (cp1252) with glBitmap and moves the raster position on by its
// advance. Texts are drawn with glListBase(base), glRasterPos and glCallLists.
#pragma once

#include <QFont>

#include <cstdint>
#include <vector>

// The glyph of cp1252 character c as the lists draw it, the font rasterised
// without antialiasing. Its line: advance x height pixels, ascent from the
// top row to the baseline. Its picture: width x rows pixels, rows from the
// top, 1 where it is inked; it covers the line, which starts left columns
// from its left edge and top rows from its top, and every inked pixel beyond
// it. Control characters have advance 0 and no picture.
struct CGlyphBitmap {
    int advance = 0;
    int height = 0;
    int ascent = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    std::vector<std::uint8_t> ink;
};
CGlyphBitmap RenderGlyph(const QFont& font, int c);

class CBitmapFontLists {
public:
    CBitmapFontLists() = default;
    CBitmapFontLists(const CBitmapFontLists&) = delete;
    CBitmapFontLists& operator=(const CBitmapFontLists&) = delete;

    // Builds the lists of characters 0 .. count-1 in the current context;
    // the base, 0 when no lists could be made. Lists built before are
    // released first.
    unsigned Build(const QFont& font, int count = 255);
    // Deletes the lists; the context they were built in must be current.
    void Release();
    // Drops the lists without deleting them (their context is gone).
    void Forget()
    {
        m_nBase = 0;
        m_nCount = 0;
    }

    unsigned GetBase() const { return m_nBase; }
    int GetCount() const { return m_nCount; }
    // Height of a line of text in pixels.
    int GetLineHeight() const { return m_nLineHeight; }

    // Draws cp1252 text at the current raster position.
    void Draw(const char* text) const;

private:
    unsigned m_nBase = 0;
    int m_nCount = 0;
    int m_nLineHeight = 0;
};
