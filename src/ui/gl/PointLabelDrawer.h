// Point labels in one pass: a texture of the bitmap font's glyphs and one
// quad per label whose fragments read the label's characters from it, so
// that each label lands on the pixels where the font's display lists would
// put it at the raster position of its point (and, like those, a label whose
// point lies outside the clip volume is not drawn at all).
#pragma once

#include <QFont>
#include <QOpenGLBuffer>

#include <memory>
#include <vector>

class CObjectPointList;
class QOpenGLShaderProgram;

class CPointLabelDrawer {
public:
    CPointLabelDrawer();
    ~CPointLabelDrawer();
    CPointLabelDrawer(const CPointLabelDrawer&) = delete;
    CPointLabelDrawer& operator=(const CPointLabelDrawer&) = delete;

    // The glyph texture of the font (cp1252 0 .. 254) and the shaders, in
    // the current context; false, nothing drawn later, when the context
    // cannot compile them.
    bool Build(const QFont& font);
    // Deletes texture, shaders and buffer (their context must be current).
    void Release();
    // Drops them without deleting (their context is gone).
    void Forget();
    bool IsReady() const { return m_nTexture != 0 && m_program != nullptr; }

    // The points, their labels or the list changed: the buffer is made again.
    void Invalidate() { m_bValid = false; }
    // Times the buffer was made.
    int GetBuildCount() const { return m_nBuilds; }

    // Draws the labels of the points at (x, y, z) + offset on every axis in
    // the current colour, under the current matrices and viewport, with the
    // depth of that raster position. stride > 1 draws every stride-th label
    // only. False when nothing could be drawn this way (no shaders).
    bool Draw(const CObjectPointList* points, double offset, int stride);

private:
    void BuildBuffer(const CObjectPointList* points);

    unsigned m_nTexture = 0;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    QOpenGLBuffer m_buffer{QOpenGLBuffer::VertexBuffer};
    int m_nLabels = 0;          // labels in the buffer (four vertices each)
    std::vector<int> m_index;   // point index of each label in the buffer
    const CObjectPointList* m_pBuiltFor = nullptr;
    int m_nBuiltSize = -1;
    bool m_bValid = false;
    int m_nBuilds = 0;
    double m_origin[3] = {0, 0, 0};
    int m_nCellWidth = 0;
    int m_nCellHeight = 0;
    int m_nPadLeft = 0; // columns of a cell left of the pen
    int m_nPadTop = 0;  // rows of a cell above the line
    int m_nHeight = 0;
    int m_nAscent = 0;
    std::vector<int> m_inkBoxes; // per glyph: columns from, to; rows from, to
    std::vector<int> m_reach;    // per glyph: ink columns left of the pen, right of the advance
    int m_nBufferReach[2] = {0, 0}; // the most of them among the buffer's labels
    int m_nMono = 0;       // the advance of every printable ASCII glyph, or 0
    int m_nBufferMono = 0; // that advance when the buffer's labels have no other
    std::vector<int> m_advances;
    // glMultiDrawArrays ranges of the last thinned pass.
    int m_nStride = 0;
    std::vector<int> m_firsts;
    std::vector<int> m_counts;
};
