#include "PointLabelDrawer.h"

#include "BitmapFontLists.h"
#include "GLPick.h"
#include "ObjectPoint.h"
#include "GLDrawers.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>

#include <GL/gl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Characters the display lists hold (0 .. 254).
constexpr int kGlyphs = 255;
constexpr int kTextBytes = 16;
constexpr int kAnchor = 0; // the attribute that provokes the vertex
constexpr int kText = 1;
constexpr int kBox = 2;

struct LabelVertex {
    float anchor[3]; // point relative to the origin
    std::uint32_t text[4];
    // The pixels the label inks, from its lower left corner: first and one
    // past the last column, lowest and one above the highest row.
    std::int16_t box[4];
};

// A label's quad: the window pixel of its lower left corner as glBitmap
// finds it from the raster position (floor with Mesa's epsilon), the
// label's width and the font's height from there. A point outside the clip
// volume has no raster position: its quad lies beyond the far plane.
const char* const kVertexShader = R"(#version 130
in vec3 anchor;
in uvec4 text;
in vec4 box;
uniform mat4 mvp;
uniform vec4 viewport;
uniform float descent;

flat out uvec4 vText;
flat out vec2 vOrigin;
void main()
{
    vText = text;
    vOrigin = vec2(0.0);
    vec4 clip = mvp * vec4(anchor.xyz, 1.0);
    if (any(greaterThan(abs(clip.xyz), vec3(clip.w)))) {
        gl_Position = vec4(0.0, 0.0, 2.0, 1.0);
        return;
    }
    vec3 ndc = clip.xyz / clip.w;
    vec2 window = viewport.xy + (ndc.xy * 0.5 + 0.5) * viewport.zw;
    vec2 origin = floor(window + 0.0001) - vec2(0.0, descent);
    int corner = gl_VertexID & 3;
    vec2 at = origin + vec2(corner == 1 || corner == 2 ? box.y : box.x, corner >= 2 ? box.w : box.z);
    gl_Position = vec4((at - viewport.xy) / viewport.zw * 2.0 - 1.0, ndc.z, 1.0);
    vOrigin = origin;
}
)";

// The character under the fragment by the advances, then its glyph's pixel.
// Glyph cells hold pad columns left of the pen and pad rows above the line;
// a glyph whose ink reaches beyond its advance (reach > 0) is also looked up
// for the pixels of its neighbours.
const char* const kFragmentShader = R"(#version 130
flat in uvec4 vText;
flat in vec2 vOrigin;
uniform sampler2D glyphs;
uniform int advances[256];
uniform int cellWidth;
uniform int cellHeight;
uniform int padLeft;
uniform int padTop;
uniform int height;
uniform int mono; // the one advance of a fixed-pitch font, else 0
uniform float invMono;
uniform int reachLeft;  // cells a glyph's ink reaches into on its left
uniform int reachRight; // and on its right
uniform vec4 colour;
bool Inked(uint code, ivec2 at)
{
    if (at.x < 0 || at.y < 0 || at.x >= cellWidth || at.y >= cellHeight)
        return false;
    return texelFetch(glyphs, ivec2(int(code & 15u) * cellWidth, int(code >> 4u) * cellHeight) + at, 0).r >= 0.5;
}
void main()
{
    ivec2 p = ivec2(floor(gl_FragCoord.xy - vOrigin));
    int row = padTop + height - 1 - p.y;
    if (mono > 0) {
        int k = int(floor((float(p.x) + 0.5) * invMono));
        if (reachLeft == 0 && reachRight == 0) {
            if (k < 0 || k >= 16)
                discard;
            uint code = (vText[k >> 2] >> uint(8 * (k & 3))) & 255u;
            if (code == 0u)
                discard;
            ivec2 texel = ivec2(int(code & 15u) * cellWidth + padLeft + p.x - k * mono,
                                int(code >> 4u) * cellHeight + row);
            if (texelFetch(glyphs, texel, 0).r < 0.5)
                discard;
            gl_FragColor = colour;
            return;
        }
        for (int j = max(k - reachRight, 0); j <= min(k + reachLeft, 15); ++j) {
            uint code = (vText[j >> 2] >> uint(8 * (j & 3))) & 255u;
            if (code == 0u)
                break;
            if (Inked(code, ivec2(padLeft + p.x - j * mono, row))) {
                gl_FragColor = colour;
                return;
            }
        }
        discard;
    }
    int pen = 0;
    for (int k = 0; k < 16; ++k) {
        uint code = (vText[k >> 2] >> uint(8 * (k & 3))) & 255u;
        if (code == 0u)
            break;
        int x = padLeft + p.x - pen;
        if (x < 0)
            break; // this glyph's cell and those after it start right of the pixel
        if (Inked(code, ivec2(x, row))) {
            gl_FragColor = colour;
            return;
        }
        pen += advances[int(code)];
    }
    discard;
}
)";

} // namespace

CPointLabelDrawer::CPointLabelDrawer() = default;

CPointLabelDrawer::~CPointLabelDrawer() = default;

bool CPointLabelDrawer::Build(const QFont& font)
{
    Release();
    std::vector<CGlyphBitmap> glyphs;
    glyphs.reserve(kGlyphs);
    m_advances.assign(256, 0);
    for (int c = 0; c < kGlyphs; ++c) {
        glyphs.push_back(RenderGlyph(font, c));
        m_advances[size_t(c)] = glyphs.back().advance;
    }
    m_nHeight = glyphs.front().height;
    m_nAscent = glyphs.front().ascent;
    if (m_nHeight <= 0)
        return false;
    // Cells wide and high enough for every glyph's ink with the pen at
    // padLeft and the line's top at padTop.
    m_nPadLeft = 0;
    m_nPadTop = 0;
    int right = 1, bottom = m_nHeight;
    for (const CGlyphBitmap& g : glyphs) {
        if (g.width <= 0)
            continue;
        m_nPadLeft = std::max(m_nPadLeft, g.left);
        m_nPadTop = std::max(m_nPadTop, g.top);
        right = std::max(right, g.width - g.left);
        bottom = std::max(bottom, g.rows - g.top);
    }
    m_nCellWidth = m_nPadLeft + right;
    m_nCellHeight = m_nPadTop + bottom;
    // Each glyph's inked box (columns from the pen, rows from the bottom of
    // the line), how far its ink reaches beyond its advance, and a pitch
    // shared by all.
    m_inkBoxes.assign(size_t(4) * 256, 0);
    m_reach.assign(size_t(2) * 256, 0);
    m_nMono = -1;
    for (int c = 0; c < kGlyphs; ++c) {
        const CGlyphBitmap& g = glyphs[size_t(c)];
        if (g.advance <= 0)
            continue;
        if (c >= 0x20 && c < 0x7f)
            m_nMono = m_nMono == -1 || m_nMono == g.advance ? g.advance : 0;
        int box[4] = {g.advance, 0, m_nHeight, 0};
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (g.ink[size_t(y) * size_t(g.width) + size_t(x)]) {
                    const int column = x - g.left, row = y - g.top;
                    box[0] = std::min(box[0], column);
                    box[1] = std::max(box[1], column + 1);
                    box[2] = std::min(box[2], m_nHeight - 1 - row);
                    box[3] = std::max(box[3], m_nHeight - row);
                }
        if (box[1] > box[0]) {
            std::copy(box, box + 4, &m_inkBoxes[size_t(4) * size_t(c)]);
            m_reach[size_t(2) * size_t(c)] = std::max(-box[0], 0);
            m_reach[size_t(2) * size_t(c) + 1] = std::max(box[1] - g.advance, 0);
        }
    }
    m_nMono = std::max(m_nMono, 0);

    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader))
        return false;
    program->bindAttributeLocation("anchor", kAnchor);
    program->bindAttributeLocation("text", kText);
    program->bindAttributeLocation("box", kBox);
    if (!program->link())
        return false;

    // 16 x 16 cells, the glyph images' rows from the top.
    const int width = 16 * m_nCellWidth, height = 16 * m_nCellHeight;
    std::vector<std::uint8_t> atlas(size_t(width) * size_t(height), 0);
    for (int c = 0; c < kGlyphs; ++c) {
        const CGlyphBitmap& g = glyphs[size_t(c)];
        const int x0 = (c % 16) * m_nCellWidth + m_nPadLeft - g.left;
        const int y0 = (c / 16) * m_nCellHeight + m_nPadTop - g.top;
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (g.ink[size_t(y) * size_t(g.width) + size_t(x)])
                    atlas[size_t(y0 + y) * size_t(width) + size_t(x0 + x)] = 255;
    }
    GLint bound = 0, alignment = 4;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0)
        return false;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, width, height, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, atlas.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glBindTexture(GL_TEXTURE_2D, GLuint(bound));
    m_nTexture = texture;
    m_program = std::move(program);
    m_bValid = false;
    return true;
}

void CPointLabelDrawer::Release()
{
    if (m_nTexture != 0) {
        const GLuint texture = m_nTexture;
        glDeleteTextures(1, &texture);
    }
    m_nTexture = 0;
    m_program.reset();
    m_buffer.destroy();
    m_bValid = false;
}

void CPointLabelDrawer::Forget()
{
    m_nTexture = 0;
    // The program's and buffer's ids died with their context.
    m_program.reset();
    m_buffer = QOpenGLBuffer(QOpenGLBuffer::VertexBuffer);
    m_bValid = false;
}

void CPointLabelDrawer::BuildBuffer(const CObjectPointList* points)
{
    ++m_nBuilds;
    const int n = points ? points->GetSize() : 0;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = points->GetAt(i);
        const double at[3] = {p->x, p->y, p->z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = i == 0 ? at[k] : std::min(lo[k], at[k]);
            hi[k] = i == 0 ? at[k] : std::max(hi[k], at[k]);
        }
    }
    for (int k = 0; k < 3; ++k)
        m_origin[k] = lo[k] + 0.5 * (hi[k] - lo[k]);
    std::vector<LabelVertex> vertices;
    vertices.reserve(size_t(4) * size_t(n));
    m_nBufferMono = m_nMono;
    m_nBufferReach[0] = m_nBufferReach[1] = 0;
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = points->GetAt(i);
        LabelVertex v = {};
        unsigned char bytes[kTextBytes] = {};
        int length = 0, pen = 0;
        int box[4] = {1 << 14, -(1 << 14), 1 << 14, -(1 << 14)};
        // As the display lists draw it: characters beyond them are skipped.
        for (const char* c = p->label.GetText(); *c && length < kTextBytes; ++c) {
            const int code = static_cast<unsigned char>(*c);
            if (code >= kGlyphs)
                continue;
            bytes[length++] = static_cast<unsigned char>(code);
            const int* ink = &m_inkBoxes[size_t(4) * size_t(code)];
            if (ink[1] > ink[0]) {
                box[0] = std::min(box[0], pen + ink[0]);
                box[1] = std::max(box[1], pen + ink[1]);
                box[2] = std::min(box[2], ink[2]);
                box[3] = std::max(box[3], ink[3]);
                for (int side = 0; side < 2; ++side)
                    m_nBufferReach[side] = std::max(m_nBufferReach[side], m_reach[size_t(2 * code + side)]);
            }
            pen += m_advances[size_t(code)];
            if (m_advances[size_t(code)] != m_nMono)
                m_nBufferMono = 0;
        }
        if (box[1] <= box[0] || pen >= (1 << 14))
            continue; // nothing inked
        for (int k = 0; k < 4; ++k)
            v.box[k] = std::int16_t(box[k]);
        // Little-endian words: byte k of the text is bits 8 (k % 4) of word k / 4.
        std::uint32_t words[4] = {0, 0, 0, 0};
        for (int k = 0; k < kTextBytes; ++k)
            words[k / 4] |= std::uint32_t(bytes[k]) << (8 * (k % 4));
        std::memcpy(v.text, words, sizeof words);
        v.anchor[0] = float(p->x - m_origin[0]);
        v.anchor[1] = float(p->y - m_origin[1]);
        v.anchor[2] = float(p->z - m_origin[2]);
        for (int corner = 0; corner < 4; ++corner)
            vertices.push_back(v);
    }
    m_nLabels = int(vertices.size() / 4);
    m_pBuiltFor = points;
    m_nBuiltSize = n;
    m_bValid = true;
    m_nStride = 0;
    if (m_nLabels == 0)
        return;
    if (!FillBuffer(m_buffer, vertices.data(), int(vertices.size() * sizeof(LabelVertex))))
        m_nLabels = 0;
}

bool CPointLabelDrawer::Draw(const CObjectPointList* points, double offset, int stride)
{
    if (!IsReady())
        return false;
    if (!m_bValid || points != m_pBuiltFor || (points ? points->GetSize() : 0) != m_nBuiltSize)
        BuildBuffer(points);
    if (m_nLabels == 0)
        return true;
    double projection[16], modelview[16], pm[16], mvp[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    const double shift[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0,
                              m_origin[0] + offset, m_origin[1] + offset, m_origin[2] + offset, 1};
    MultiplyMatrices(projection, modelview, pm);
    MultiplyMatrices(pm, shift, mvp);
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return true;
    GLfloat current[4] = {1, 1, 1, 1};
    glGetFloatv(GL_CURRENT_COLOR, current);

    QMatrix4x4 matrix;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            matrix(row, column) = float(mvp[column * 4 + row]);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    QOpenGLExtraFunctions* f = QOpenGLContext::currentContext()->extraFunctions();
    f->glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_nTexture);
    m_program->bind();
    m_program->setUniformValue("mvp", matrix);
    m_program->setUniformValue("viewport", QVector4D(float(viewport[0]), float(viewport[1]), float(viewport[2]),
                                                     float(viewport[3])));
    m_program->setUniformValue("descent", float(m_nHeight - m_nAscent));
    m_program->setUniformValue("mono", m_nBufferMono);
    m_program->setUniformValue("invMono", m_nBufferMono > 0 ? 1.0f / float(m_nBufferMono) : 0.0f);
    m_program->setUniformValueArray("advances", m_advances.data(), int(m_advances.size()));
    // Neighbouring cells a glyph's ink reaches into, at the one pitch.
    const auto cells = [this](int reach) {
        return m_nBufferMono > 0 ? (reach + m_nBufferMono - 1) / m_nBufferMono : 0;
    };
    m_program->setUniformValue("reachLeft", cells(m_nBufferReach[0]));
    m_program->setUniformValue("reachRight", cells(m_nBufferReach[1]));
    m_program->setUniformValue("cellWidth", m_nCellWidth);
    m_program->setUniformValue("cellHeight", m_nCellHeight);
    m_program->setUniformValue("padLeft", m_nPadLeft);
    m_program->setUniformValue("padTop", m_nPadTop);
    m_program->setUniformValue("height", m_nHeight);
    m_program->setUniformValue("glyphs", 0);
    m_program->setUniformValue("colour", QVector4D(current[0], current[1], current[2], current[3]));
    m_buffer.bind();
    f->glEnableVertexAttribArray(kAnchor);
    f->glEnableVertexAttribArray(kText);
    f->glEnableVertexAttribArray(kBox);
    f->glVertexAttribPointer(kAnchor, 3, GL_FLOAT, GL_FALSE, sizeof(LabelVertex), nullptr);
    f->glVertexAttribPointer(kBox, 4, GL_SHORT, GL_FALSE, sizeof(LabelVertex),
                             reinterpret_cast<const void*>(offsetof(LabelVertex, box)));
    f->glVertexAttribIPointer(kText, 4, GL_UNSIGNED_INT, sizeof(LabelVertex),
                           reinterpret_cast<const void*>(offsetof(LabelVertex, text)));
    if (stride <= 1) {
        glDrawArrays(GL_QUADS, 0, 4 * m_nLabels);
    } else {
        if (stride != m_nStride) {
            m_firsts.clear();
            for (int i = 0; i < m_nLabels; i += stride)
                m_firsts.push_back(4 * i);
            m_counts.assign(m_firsts.size(), 4);
            m_nStride = stride;
        }
        MultiDrawArrays(GL_QUADS, m_firsts, m_counts);
    }
    f->glDisableVertexAttribArray(kAnchor);
    f->glDisableVertexAttribArray(kText);
    f->glDisableVertexAttribArray(kBox);
    m_buffer.release();
    m_program->release();
    glBindTexture(GL_TEXTURE_2D, GLuint(bound));
    return true;
}
