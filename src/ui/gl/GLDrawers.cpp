#include "GLDrawers.h"

#include "GLPick.h"

#include "ObjectPoint.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"

#include <newmat/newmat.h>

#include <QOpenGLContext>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <tuple>
#include <thread>
#include <unordered_set>

namespace {

const double kPi = 4.0 * std::atan(1.0);
const double kDegrees = 180.0 / kPi;

// Materials of the camera symbol: barrel, lens sphere, body, small cylinder.
const float kNormalColours[4][4] = {{0, 0, 1, 1}, {0.9f, 0.9f, 1, 1}, {0.8f, 0.8f, 0.9f, 1}, {0, 1, 1, 1}};
const float kSelectedColours[4][4] = {{0, 1, 0, 1}, {0.85f, 0.85f, 0.85f, 1}, {1, 0, 0, 1}, {0, 1, 1, 1}};

// Default camera symbol sizes, mm.
const double kDefaultSizes[CCameraSymbolSizes::SIZE_COUNT] = {400, 100, 150, 100, 50, 40, 50, 120, 100, 200, 50};


bool IsZero(const double v[3]) { return v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0; }

// A GLU quadric that lives for one drawing routine.
class CQuadric {
public:
    CQuadric() : q(gluNewQuadric())
    {
        if (q)
            gluQuadricDrawStyle(q, GLU_FILL);
    }
    ~CQuadric()
    {
        if (q)
            gluDeleteQuadric(q);
    }
    CQuadric(const CQuadric&) = delete;
    CQuadric& operator=(const CQuadric&) = delete;
    GLUquadric* q;
};

struct CEllipsoid {
    double values[3];  // eigenvalues, ascending
    double axes[3][3]; // axes[k] = unit eigenvector of values[k]
};

template <class Record>
bool EllipsoidOf(const Record& record, bool (Record::*get)(NEWMAT::DiagonalMatrix&, NEWMAT::Matrix&) const,
                 CEllipsoid& out)
{
    NEWMAT::DiagonalMatrix values(3);
    NEWMAT::Matrix vectors(3, 3);
    if (!(record.*get)(values, vectors))
        return false;
    for (int k = 0; k < 3; ++k) {
        out.values[k] = values(k + 1);
        if (!std::isfinite(out.values[k]) || out.values[k] < 0.0)
            return false;
        for (int j = 0; j < 3; ++j)
            out.axes[k][j] = vectors(j + 1, k + 1);
    }
    return true;
}

// Mean and largest eigenvalues over the records of a list whose ellipsoid succeeds.
template <class List, class Record>
bool EllipsoidStatistics(const List* list, bool (Record::*get)(NEWMAT::DiagonalMatrix&, NEWMAT::Matrix&) const,
                         double mean[3], double& largest)
{
    mean[0] = mean[1] = mean[2] = 0.0;
    largest = 0.0;
    if (!list || list->GetSize() == 0)
        return false;
    int count = 0;
    for (int i = 0; i < list->GetSize(); ++i) {
        CEllipsoid e;
        if (!EllipsoidOf(*list->GetAt(i), get, e))
            continue;
        ++count;
        for (int k = 0; k < 3; ++k)
            mean[k] += e.values[k];
        if (e.values[2] > largest)
            largest = e.values[2];
    }
    if (count == 0)
        return false;
    for (int k = 0; k < 3; ++k)
        mean[k] /= count;
    return true;
}

// The ellipsoid at p: a sphere of the radius scaled by the semi-axes.
void DrawEllipsoid(GLUquadric* q, const double p[3], const CEllipsoid& e, double radius)
{
    const double m[16] = {e.axes[0][0], e.axes[0][1], e.axes[0][2], 0, e.axes[1][0], e.axes[1][1], e.axes[1][2], 0,
                          e.axes[2][0], e.axes[2][1], e.axes[2][2], 0, 0, 0, 0, 1};
    glPushMatrix();
    glTranslated(p[0], p[1], p[2]);
    glMultMatrixd(m);
    glScaled(std::sqrt(e.values[0]), std::sqrt(e.values[1]), std::sqrt(e.values[2]));
    gluSphere(q, radius, 20, 20);
    glPopMatrix();
}

} // namespace

void RotationMatrix(double angle, double x, double y, double z, double m[16])
{
    std::fill(m, m + 16, 0.0);
    m[15] = 1.0;
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0) {
        m[0] = m[5] = m[10] = 1.0;
        return;
    }
    x /= length, y /= length, z /= length;
    const double a = angle * kPi / 180.0, c = std::cos(a), s = std::sin(a), t = 1.0 - c;
    m[0] = x * x * t + c, m[4] = x * y * t - z * s, m[8] = x * z * t + y * s;
    m[1] = y * x * t + z * s, m[5] = y * y * t + c, m[9] = y * z * t - x * s;
    m[2] = x * z * t - y * s, m[6] = y * z * t + x * s, m[10] = z * z * t + c;
}

// How far each clip plane's distance (w + x, w - x, w + y, ...) can change
// over a unit of length, for the projection-modelview matrix m.
static void ClipReach(const double m[16], double reach[6])
{
    for (int k = 0; k < 6; ++k) {
        const int axis = k / 2;
        const double sign = k % 2 == 0 ? 1.0 : -1.0;
        double sq = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double v = m[c * 4 + 3] + sign * m[c * 4 + axis];
            sq += v * v;
        }
        reach[k] = std::sqrt(sq);
    }
}

bool FillBuffer(QOpenGLBuffer& buffer, const void* data, int bytes)
{
    if (!buffer.isCreated() && !buffer.create())
        return false;
    buffer.bind();
    buffer.allocate(data, bytes);
    buffer.release();
    return true;
}

void MultiDrawArrays(unsigned mode, const std::vector<int>& firsts, const std::vector<int>& counts)
{
    using Function = void (*)(GLenum, const GLint*, const GLsizei*, GLsizei);
    QOpenGLContext* context = QOpenGLContext::currentContext();
    const auto draw = context ? reinterpret_cast<Function>(context->getProcAddress("glMultiDrawArrays")) : nullptr;
    const size_t n = std::min(firsts.size(), counts.size());
    if (draw) {
        draw(mode, firsts.data(), counts.data(), GLsizei(n));
        return;
    }
    for (size_t i = 0; i < n; ++i)
        glDrawArrays(mode, firsts[i], counts[i]);
}

void DrawSegment(const CObjectPoint& a, const CObjectPoint& b)
{
    glBegin(GL_LINES);
    glVertex3d(a.x, a.y, a.z);
    glVertex3d(b.x, b.y, b.z);
    glEnd();
}

// --- CPointSymbolDrawer ----------------------------------------------------

unsigned CPointSymbolDrawer::BuildDiscList()
{
    const GLuint id = glGenLists(1);
    m_nDiscList = id;
    if (id == 0)
        return 0;
    glNewList(id, GL_COMPILE);
    glBegin(GL_POLYGON);
    for (int k = 0; k < 40; k += 2) {
        const double a = k * (kPi / 4.0) * 0.2;
        glVertex3d(std::cos(a), std::sin(a), 0.0);
    }
    glEnd();
    glEndList();
    return id;
}

void CPointSymbolDrawer::DeleteDiscList()
{
    if (m_nDiscList != 0)
        glDeleteLists(m_nDiscList, 1);
    m_nDiscList = 0;
}

void CPointSymbolDrawer::DeleteBuffers()
{
    m_unselected.destroy();
    m_selected.destroy();
    m_discBuffer.destroy();
    m_discOrder.destroy();
    m_nDiscsInBuffer = 0;
    m_bDiscsValid = false;
    m_bDiscOrderValid = false;
    m_nUnselected = m_nSelected = 0;
    m_bBuffersValid = false;
}

void CPointSymbolDrawer::BuildBuffers()
{
    const int n = m_pPoints ? m_pPoints->GetSize() : 0;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    if (GetBoundingBox(lo[0], hi[0], lo[1], hi[1], lo[2], hi[2]))
        for (int k = 0; k < 3; ++k)
            m_origin[k] = lo[k] + 0.5 * (hi[k] - lo[k]);
    std::vector<float> unselected, selected;
    unselected.reserve(size_t(3) * size_t(n));
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        std::vector<float>& into = p->selected ? selected : unselected;
        into.push_back(float(p->x - m_origin[0]));
        into.push_back(float(p->y - m_origin[1]));
        into.push_back(float(p->z - m_origin[2]));
    }
    const std::tuple<QOpenGLBuffer*, std::vector<float>*, int*> buffers[] = {
        {&m_unselected, &unselected, &m_nUnselected}, {&m_selected, &selected, &m_nSelected}};
    for (const auto& [buffer, data, count] : buffers) {
        *count = int(data->size() / 3);
        if (*count == 0)
            continue;
        if (!FillBuffer(*buffer, data->data(), int(data->size() * sizeof(float))))
            *count = 0;
    }
    m_bBuffersValid = true;
}

void CPointSymbolDrawer::DrawPointBuffer(QOpenGLBuffer& buffer, int count, float size)
{
    // Thinned: every stride-th vertex of the buffer.
    const int drawn = (count + m_nStride - 1) / m_nStride;
    if (drawn <= 0 || !buffer.bind())
        return;
    glPointSize(size);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, GLsizei(3 * sizeof(float) * size_t(m_nStride)), nullptr);
    glDrawArrays(GL_POINTS, 0, drawn);
    glDisableClientState(GL_VERTEX_ARRAY);
    buffer.release();
}

bool CPointSymbolDrawer::Draw(float pointSize, bool drawDiscs, int nameBase)
{
    if (!m_pPoints || m_pPoints->GetSize() == 0)
        return false;
    glDisable(GL_LIGHTING);
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    const int n = m_pPoints->GetSize();
    if (mode != GL_RENDER) {
        // Each point and its disc under the point's name.
        for (int i = 0; i < n; ++i) {
            const CObjectPoint* p = m_pPoints->GetAt(i);
            glLoadName(GLuint(nameBase + i));
            if (pointSize > 0.0f) {
                glPointSize(p->selected ? pointSize + 2.0f : pointSize);
                glColor3d(1, 1, 1);
                glBegin(GL_POINTS);
                glVertex3d(p->x, p->y, p->z);
                glEnd();
            }
            if (drawDiscs && m_nDiscList != 0)
                DrawDisc(*p, pointSize);
        }
        glColor3d(1, 1, 1);
        return true;
    }
    if (pointSize > 0.0f) {
        if (!m_bBuffersValid)
            BuildBuffers();
        glColor3d(1, 1, 1);
        glLoadName(0);
        glPushMatrix();
        glTranslated(m_origin[0], m_origin[1], m_origin[2]);
        DrawPointBuffer(m_unselected, m_nUnselected, pointSize);
        DrawPointBuffer(m_selected, m_nSelected, pointSize + 2.0f);
        glPopMatrix();
    }
    if (drawDiscs && m_nDiscList != 0) {
        // Only the points that have a disc.
        if (!m_bPositionsValid || m_positions.size() != size_t(3) * size_t(n))
            BuildPositions();
        if (m_bDirectDiscs) {
            for (int i : m_discs)
                DrawDisc(*m_pPoints->GetAt(i), pointSize);
        } else {
            DrawDiscBuffer(pointSize);
        }
    }
    glColor3d(1, 1, 1);
    return true;
}

namespace {

// The disc's 20 vertices as one triangle strip, zig-zag across the polygon
// (the winding of the polygon kept), and the strip's length with the two
// repeated vertices that join it to the next disc's.
const int kStripOrder[20] = {0, 1, 19, 2, 18, 3, 17, 4, 16, 5, 15, 6, 14, 7, 13, 8, 12, 9, 11, 10};
constexpr int kDiscStride = 22;

struct DiscVertex {
    float at[3];
    unsigned char colour[4];
};

} // namespace

int CPointSymbolDrawer::GetDiscCount() const
{
    const int n = m_pPoints ? m_pPoints->GetSize() : 0;
    if (!m_bPositionsValid || m_positions.size() != size_t(3) * size_t(n))
        BuildPositions();
    return int(m_discs.size());
}

void CPointSymbolDrawer::BuildDiscBuffer(float pointSize)
{
    ++m_nDiscBuilds;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    if (GetBoundingBox(lo[0], hi[0], lo[1], hi[1], lo[2], hi[2]))
        for (int k = 0; k < 3; ++k)
            m_discOrigin[k] = lo[k] + 0.5 * (hi[k] - lo[k]);
    double unit[20][2];
    for (int j = 0; j < 20; ++j) {
        const double a = 2 * j * (kPi / 4.0) * 0.2;
        unit[j][0] = std::cos(a);
        unit[j][1] = std::sin(a);
    }
    std::vector<DiscVertex> vertices;
    vertices.reserve(m_discs.size() * size_t(kDiscStride));
    m_discVertices.clear();
    m_discVertices.reserve(m_discs.size() * 60);
    m_discShapes.clear();
    m_discShapes.reserve(m_discs.size() * 7);
    for (int i : m_discs) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        double m[16];
        if (!DiscTransform(*p, pointSize, m))
            continue;
        const double length =
            std::sqrt(p->normal[0] * p->normal[0] + p->normal[1] * p->normal[1] + p->normal[2] * p->normal[2]);
        m_discShapes.insert(m_discShapes.end(),
                            {p->x - m_discOrigin[0], p->y - m_discOrigin[1], p->z - m_discOrigin[2],
                             p->normal[0] / length, p->normal[1] / length, p->normal[2] / length,
                             std::fabs(p->radius * pointSize)});
        // Grey, white when selected.
        const unsigned char c = p->selected ? 255 : 128;
        const size_t first = vertices.size();
        for (int j : kStripOrder) {
            DiscVertex v;
            for (int k = 0; k < 3; ++k)
                v.at[k] = float(m[k] * unit[j][0] + m[4 + k] * unit[j][1] + m[12 + k] - m_discOrigin[k]);
            v.colour[0] = v.colour[1] = v.colour[2] = c;
            v.colour[3] = 255;
            vertices.push_back(v);
            m_discVertices.insert(m_discVertices.end(), v.at, v.at + 3);
        }
        if (first > 0) {
            // Degenerate triangles from the last disc's end to this start.
            const DiscVertex start = vertices[first];
            vertices.insert(vertices.begin() + std::ptrdiff_t(first), 2, start);
            vertices[first] = vertices[first - 1];
        }
    }
    // Each disc's strip starts kDiscStride vertices after the one before.
    m_nDiscsInBuffer = vertices.empty() ? 0 : int((vertices.size() + 2) / kDiscStride);
    m_fDiscSize = pointSize;
    m_bDiscsValid = true;
    m_bDiscOrderValid = false;
    if (m_nDiscsInBuffer == 0)
        return;
    if (!FillBuffer(m_discBuffer, vertices.data(), int(vertices.size() * sizeof(DiscVertex))))
        m_nDiscsInBuffer = 0;
}

void CPointSymbolDrawer::DrawDiscBuffer(float pointSize)
{
    if (!m_bDiscsValid || m_fDiscSize != pointSize)
        BuildDiscBuffer(pointSize);
    if (m_nDiscsInBuffer == 0 || !m_discBuffer.bind())
        return;
    glPushMatrix();
    glTranslated(m_discOrigin[0], m_discOrigin[1], m_discOrigin[2]);
    double modelview[16], projection[16], m[21];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    MultiplyMatrices(projection, modelview, m);
    GLint viewport[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (int k = 0; k < 4; ++k)
        m[16 + k] = viewport[k];
    m[20] = m_nDiscStride;
    if (!m_bDiscOrderValid || !std::equal(m, m + 21, m_discOrderFor))
        BuildDiscOrder(modelview, m);
    if (m_nDiscIndices > 0 && m_discOrder.bind()) {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(DiscVertex), nullptr);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(DiscVertex),
                       reinterpret_cast<const void*>(offsetof(DiscVertex, colour)));
        glDrawElements(GL_TRIANGLES, m_nDiscIndices, GL_UNSIGNED_INT, nullptr);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        m_discOrder.release();
    }
    glPopMatrix();
    m_discBuffer.release();
}

namespace {

// The strip's triangles as it draws them: odd ones with their first two
// vertices swapped, so that all keep the winding.
const std::array<unsigned, 54> kStripTriangles = [] {
    std::array<unsigned, 54> order{};
    for (unsigned t = 0; t < 18; ++t) {
        const unsigned odd = t & 1u;
        order[3 * t] = t + odd;
        order[3 * t + 1] = t + 1 - odd;
        order[3 * t + 2] = t + 2;
    }
    return order;
}();

// Whether the window triangle (a, b, c) may hold a pixel centre: true unless
// every centre near it lies outside an edge by more than the margin, which
// covers the rounding of the transform and of the rasteriser's snapping.
bool MayCoverCentre(const double* a, const double* b, const double* c)
{
    constexpr double kMargin = 1.0 / 64.0;
    const double lo[2] = {std::min({a[0], b[0], c[0]}) - kMargin, std::min({a[1], b[1], c[1]}) - kMargin};
    const double hi[2] = {std::max({a[0], b[0], c[0]}) + kMargin, std::max({a[1], b[1], c[1]}) + kMargin};
    const double x0 = std::ceil(lo[0] - 0.5), x1 = std::floor(hi[0] - 0.5);
    const double y0 = std::ceil(lo[1] - 0.5), y1 = std::floor(hi[1] - 0.5);
    if (x0 > x1 || y0 > y1)
        return false;
    const double area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
    const double* v[3] = {a, b, c};
    double edge[3][3]; // inward unit normal and offset of each edge
    for (int e = 0; e < 3; ++e) {
        const double* p = v[e];
        const double* q = v[(e + 1) % 3];
        const double dx = q[0] - p[0], dy = q[1] - p[1];
        const double length = std::sqrt(dx * dx + dy * dy);
        if (length < 1e-9 || std::fabs(area) < 1e-9)
            return true; // a sliver: its box decides
        const double sign = area > 0.0 ? 1.0 : -1.0;
        edge[e][0] = -dy * sign / length;
        edge[e][1] = dx * sign / length;
        edge[e][2] = -(edge[e][0] * p[0] + edge[e][1] * p[1]);
    }
    for (double y = y0; y <= y1; ++y)
        for (double x = x0; x <= x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            bool inside = true;
            for (int e = 0; e < 3 && inside; ++e)
                inside = edge[e][0] * px + edge[e][1] * py + edge[e][2] >= -kMargin;
            if (inside)
                return true;
        }
    return false;
}

} // namespace

void CPointSymbolDrawer::BuildDiscOrder(const double modelview[16], const double m[21])
{
    std::copy(m, m + 21, m_discOrderFor);
    m_bDiscOrderValid = true;
    // Discs seen from behind (culled anyway) and discs wholly outside the
    // clip volume are left out, and of the others the triangles that cover
    // no pixel centre (most of a disc a few pixels across): what is drawn
    // stays the same, in the same order.
    double eye[3];
    for (int j = 0; j < 3; ++j)
        eye[j] = -(modelview[j * 4 + 0] * modelview[12] + modelview[j * 4 + 1] * modelview[13] +
                   modelview[j * 4 + 2] * modelview[14]);
    double reach[6];
    ClipReach(m, reach);
    const double* viewport = m + 16;
    const int stride = m_nDiscStride;
    const auto cull = [&](int from, int to, std::vector<unsigned>& out) {
        for (int i = from; i < to; i += stride) {
            const double* s = &m_discShapes[size_t(7) * size_t(i)];
            const double* at = s; // the matrices hold the translation to the origin
            bool shown = s[3] * (eye[0] - at[0]) + s[4] * (eye[1] - at[1]) + s[5] * (eye[2] - at[2]) > 0.0;
            if (shown) {
                double clip[4];
                ToClip(m, at, clip);
                for (int k = 0; k < 6 && shown; ++k) {
                    const int axis = k / 2;
                    const double d = k % 2 == 0 ? clip[3] + clip[axis] : clip[3] - clip[axis];
                    shown = d >= -s[6] * reach[k];
                }
            }
            if (!shown)
                continue;
            const unsigned first = unsigned(kDiscStride) * unsigned(i);
            // The strip's vertices in window coordinates; a disc reaching
            // beyond the near or far plane keeps all its triangles.
            double window[20][2];
            bool inDepth = true;
            for (int j = 0; j < 20 && inDepth; ++j) {
                const float* f = &m_discVertices[size_t(60) * size_t(i) + size_t(3 * j)];
                const double p[3] = {f[0], f[1], f[2]};
                double clip[4];
                ToClip(m, p, clip);
                inDepth = clip[3] > 0.0 && std::fabs(clip[2]) < clip[3];
                if (inDepth) {
                    window[j][0] = viewport[0] + (clip[0] / clip[3] * 0.5 + 0.5) * viewport[2];
                    window[j][1] = viewport[1] + (clip[1] / clip[3] * 0.5 + 0.5) * viewport[3];
                }
            }
            for (int t = 0; t < 18; ++t) {
                const unsigned* v = &kStripTriangles[size_t(3 * t)];
                if (!inDepth || MayCoverCentre(window[v[0]], window[v[1]], window[v[2]]))
                    out.insert(out.end(), {first + v[0], first + v[1], first + v[2]});
            }
        }
    };
    // Runs of discs over a few threads, joined in the buffer's order.
    const int discs = m_nDiscsInBuffer;
    const int parts = discs / stride >= 8192 ? 4 : 1;
    std::vector<std::vector<unsigned>> pieces(static_cast<size_t>(parts));
    const auto from = [&](int part) {
        const int step = (discs + parts - 1) / parts;
        const int at = std::min(discs, part * step);
        return (at + stride - 1) / stride * stride; // on the thinning's grid
    };
    std::vector<std::thread> workers;
    for (int part = 1; part < parts; ++part)
        workers.emplace_back([&, part] { cull(from(part), from(part + 1), pieces[size_t(part)]); });
    cull(from(0), from(1), pieces[0]);
    for (std::thread& worker : workers)
        worker.join();
    m_discIndices.clear();
    for (const std::vector<unsigned>& piece : pieces)
        m_discIndices.insert(m_discIndices.end(), piece.begin(), piece.end());
    m_nDiscIndices = int(m_discIndices.size());
    if (m_nDiscIndices == 0)
        return;
    if (!FillBuffer(m_discOrder, m_discIndices.data(), int(m_discIndices.size() * sizeof(unsigned))))
        m_nDiscIndices = 0;
}

bool CPointSymbolDrawer::AnyInside(const double m[16], double offset) const
{
    const int n = m_pPoints ? m_pPoints->GetSize() : 0;
    if (!m_bPositionsValid || m_positions.size() != size_t(3) * size_t(n))
        BuildPositions();
    for (int i = 0; i < n; ++i) {
        const double* p = &m_positions[size_t(3) * size_t(i)];
        const double at[3] = {p[0] + offset, p[1] + offset, p[2] + offset};
        double clip[4];
        ToClip(m, at, clip);
        if (ClipPointInside(clip))
            return true;
    }
    return false;
}

void CPointSymbolDrawer::DrawDisc(const CObjectPoint& p, float pointSize) const
{
    double m[16];
    if (!DiscTransform(p, pointSize, m))
        return;
    glPushMatrix();
    glMultMatrixd(m);
    if (p.selected)
        glColor3d(1, 1, 1);
    else
        glColor3d(0.5, 0.5, 0.5);
    glCallList(m_nDiscList);
    glPopMatrix();
}

bool CPointSymbolDrawer::DiscTransform(const CObjectPoint& p, float pointSize, double m[16])
{
    if (IsZero(p.normal) || p.radius == 0.0)
        return false;
    // translate (X, Y, Z), scale s, then turn (0, 0, 1) onto the normal.
    const double s = p.radius * pointSize;
    const double* nv = p.normal;
    double r[16];
    if (nv[0] == 0.0 && nv[1] == 0.0)
        RotationMatrix(nv[2] < 0.0 ? 180.0 : 0.0, 1, 0, 0, r);
    else
        RotationMatrix(std::acos(std::max(-1.0, std::min(1.0, nv[2]))) * kDegrees, -nv[1], nv[0], 0.0, r);
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 4 == 3 || i >= 12) ? r[i] : r[i] * s;
    m[12] = p.x;
    m[13] = p.y;
    m[14] = p.z;
    return true;
}

void CPointSymbolDrawer::BuildPositions() const
{
    const int n = m_pPoints ? m_pPoints->GetSize() : 0;
    m_positions.resize(size_t(3) * size_t(n));
    m_discs.clear();
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        m_positions[size_t(3) * size_t(i)] = p->x;
        m_positions[size_t(3) * size_t(i) + 1] = p->y;
        m_positions[size_t(3) * size_t(i) + 2] = p->z;
        if (!IsZero(p->normal) && p->radius != 0.0)
            m_discs.push_back(i);
    }
    m_bPositionsValid = true;
}

void CPointSymbolDrawer::PickPoints(const double m[16], const double eye[3], float pointSize, bool drawDiscs,
                                    int nameBase, std::vector<unsigned>& names) const
{
    if (!m_pPoints)
        return;
    // Discs whose point lies further out than their reach miss.
    double reach[6];
    ClipReach(m, reach);
    const bool discs = drawDiscs && m_nDiscList != 0;
    const int n = m_pPoints->GetSize();
    if (!m_bPositionsValid || m_positions.size() != size_t(3) * size_t(n))
        BuildPositions();
    size_t nextDisc = 0;
    for (int i = 0; i < n; ++i) {
        const double* at = &m_positions[size_t(3) * size_t(i)];
        double clip[4];
        ToClip(m, at, clip);
        bool hit = pointSize > 0.0f && ClipPointInside(clip);
        while (nextDisc < m_discs.size() && m_discs[nextDisc] < i)
            ++nextDisc;
        const bool hasDisc = nextDisc < m_discs.size() && m_discs[nextDisc] == i;
        if (!hit && discs && hasDisc) {
            const CObjectPoint* p = m_pPoints->GetAt(i);
            const double extent = std::fabs(p->radius * pointSize);
            bool outside = false;
            for (int k = 0; k < 6 && !outside; ++k) {
                const int axis = k / 2;
                const double d = k % 2 == 0 ? clip[3] + clip[axis] : clip[3] - clip[axis];
                outside = d < -extent * reach[k];
            }
            // Seen from behind: culled.
            const double toEye = p->normal[0] * (eye[0] - p->x) + p->normal[1] * (eye[1] - p->y) +
                                 p->normal[2] * (eye[2] - p->z);
            double local[16], full[16];
            if (!outside && toEye > 0.0 && DiscTransform(*p, pointSize, local)) {
                MultiplyMatrices(m, local, full);
                double v[20][4];
                for (int k = 0; k < 20; ++k) {
                    const double a = 2 * k * (kPi / 4.0) * 0.2;
                    const double unit[3] = {std::cos(a), std::sin(a), 0.0};
                    ToClip(full, unit, v[k]);
                }
                hit = ClipPolygonHits(v, 20);
            }
        }
        if (hit)
            names.push_back(unsigned(nameBase + i));
    }
}

void CPointSymbolDrawer::PickVectors(const double m[16], int nameBase, double scale, bool normals,
                                     std::vector<unsigned>& names) const
{
    if (!m_pPoints)
        return;
    for (int i = 0; i < m_pPoints->GetSize(); ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        const double* v = normals ? p->normal : p->discrepancy;
        if (normals && IsZero(v))
            continue;
        const double a[3] = {p->x, p->y, p->z};
        const double b[3] = {p->x + scale * v[0], p->y + scale * v[1], p->z + scale * v[2]};
        double ca[4], cb[4];
        ToClip(m, a, ca);
        ToClip(m, b, cb);
        if (ClipSegmentHits(ca, cb))
            names.push_back(unsigned(nameBase + i));
    }
}

// --- CSegmentBuffer ----------------------------------------------------------

void CSegmentBuffer::Fill(const std::vector<double>& segments, const double origin[3])
{
    std::copy(origin, origin + 3, m_origin);
    std::vector<float> data(segments.size());
    for (size_t i = 0; i < segments.size(); ++i)
        data[i] = float(segments[i] - origin[i % 3]);
    m_nVertices = int(data.size() / 3);
    if (m_nVertices == 0)
        return;
    if (!FillBuffer(m_buffer, data.data(), int(data.size() * sizeof(float))))
        m_nVertices = 0;
}

void CSegmentBuffer::Draw(float lineWidth)
{
    if (m_nVertices == 0 || !m_buffer.bind())
        return;
    glLineWidth(lineWidth);
    glPushMatrix();
    glTranslated(m_origin[0], m_origin[1], m_origin[2]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glDrawArrays(GL_LINES, 0, m_nVertices);
    glDisableClientState(GL_VERTEX_ARRAY);
    glPopMatrix();
    m_buffer.release();
    glLineWidth(1.0f);
}

void CSegmentBuffer::Delete()
{
    m_buffer.destroy();
    m_nVertices = 0;
}

void CPointSymbolDrawer::DrawVectors(int nameBase, double scale, bool normals)
{
    if (!m_pPoints)
        return;
    if (normals)
        glColor3d(0.5, 0.5, 0.5);
    else
        glColor3d(1, 0, 0);
    for (int i = 0; i < m_pPoints->GetSize(); ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        const double* v = normals ? p->normal : p->discrepancy;
        if (normals && IsZero(v))
            continue;
        glLoadName(GLuint(nameBase + i));
        glPassThrough(GLfloat(nameBase + i));
        glBegin(GL_LINES);
        glVertex3d(p->x, p->y, p->z);
        glVertex3d(p->x + scale * v[0], p->y + scale * v[1], p->z + scale * v[2]);
        glEnd();
    }
}

bool CPointSymbolDrawer::DrawNormals(int nameBase, double scale)
{
    DrawVectors(nameBase, scale, true);
    return true;
}

bool CPointSymbolDrawer::DrawDiscrepancies(int nameBase, double scale)
{
    DrawVectors(nameBase, scale, false);
    return true;
}

bool CPointSymbolDrawer::DrawErrorEllipsoids(double radius)
{
    glEnable(GL_LIGHTING);
    const GLfloat red[] = {1, 0, 0, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, red);
    glLoadName(0);
    CQuadric quadric;
    if (!m_pPoints || !quadric.q)
        return true;
    for (int i = 0; i < m_pPoints->GetSize(); ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        CEllipsoid e;
        if (!EllipsoidOf(*p, &CObjectPoint::GetErrorEllipsoid, e))
            continue;
        const double at[3] = {p->x, p->y, p->z};
        DrawEllipsoid(quadric.q, at, e, radius);
    }
    return true;
}

bool CPointSymbolDrawer::GetMeanEllipsoidAxes(double& e1, double& e2, double& e3) const
{
    double mean[3], largest;
    const bool ok = EllipsoidStatistics(m_pPoints, &CObjectPoint::GetErrorEllipsoid, mean, largest);
    e1 = mean[0], e2 = mean[1], e3 = mean[2];
    return ok;
}

bool CPointSymbolDrawer::GetMaxEllipsoidAxis(double& e1) const
{
    double mean[3];
    return EllipsoidStatistics(m_pPoints, &CObjectPoint::GetErrorEllipsoid, mean, e1);
}

bool CPointSymbolDrawer::GetBoundingBox(double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                                        double& maxZ) const
{
    if (!m_pPoints || m_pPoints->GetSize() == 0)
        return false;
    const CObjectPoint* first = m_pPoints->GetAt(0);
    minX = maxX = first->x;
    minY = maxY = first->y;
    minZ = maxZ = first->z;
    for (int i = 1; i < m_pPoints->GetSize(); ++i) {
        const CObjectPoint* p = m_pPoints->GetAt(i);
        if (p->x > maxX) maxX = p->x;
        if (p->x < minX) minX = p->x;
        if (p->y > maxY) maxY = p->y;
        if (p->y < minY) minY = p->y;
        if (p->z > maxZ) maxZ = p->z;
        if (p->z < minZ) minZ = p->z;
    }
    return true;
}

// --- CTextListDrawer -------------------------------------------------------

unsigned CTextListDrawer::Build(const QFont& font)
{
    return m_lists.Build(font, 255);
}

void CTextListDrawer::DrawWorldAxes(double size) const
{
    glDisable(GL_LIGHTING);
    glLoadName(0);
    glPassThrough(0.0f);
    const struct {
        float r, g, b;
        double x, y, z;
        const char* letter;
    } axes[] = {{1, 0, 0, 1, 0, 0, "x"}, {0, 1, 0, 0, 1, 0, "y"}, {0, 1, 1, 0, 0, 1, "z"}};
    for (const auto& a : axes) {
        glColor3f(a.r, a.g, a.b);
        glBegin(GL_LINES);
        glVertex3d(0, 0, 0);
        glVertex3d(size * a.x, size * a.y, size * a.z);
        glEnd();
        if (m_lists.GetBase() != 0) {
            glRasterPos3d(1.1 * size * a.x, 1.1 * size * a.y, 1.1 * size * a.z);
            m_lists.Draw(a.letter);
        }
    }
}

void CTextListDrawer::DrawFrameAxes(const NEWMAT::Matrix& t, double size) const
{
    if (t.Nrows() != 4 || t.Ncols() != 4)
        return;
    glDisable(GL_LIGHTING);
    double R[3][3], origin[3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            R[i][j] = t(i + 1, j + 1);
    for (int j = 0; j < 3; ++j)
        origin[j] = -(R[0][j] * t(1, 4) + R[1][j] * t(2, 4) + R[2][j] * t(3, 4));
    static const float kColours[3][3] = {{1, 0.5f, 0.5f}, {0.5f, 1, 0.5f}, {0.5f, 0.5f, 1}};
    static const char* const kLetters[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        double end[3];
        for (int j = 0; j < 3; ++j)
            end[j] = origin[j] + size * R[k][j];
        glColor3f(kColours[k][0], kColours[k][1], kColours[k][2]);
        glBegin(GL_LINES);
        glVertex3dv(origin);
        glVertex3dv(end);
        glEnd();
        if (m_lists.GetBase() != 0) {
            end[k] += 0.1 * size;
            glRasterPos3dv(end);
            m_lists.Draw(kLetters[k]);
        }
    }
}

// --- CCameraSymbolSizes ----------------------------------------------------

void CCameraSymbolSizes::Reset()
{
    m_nUnit = 0;
    for (int i = 0; i < SIZE_COUNT; ++i)
        m_dSizes[i] = kDefaultSizes[i];
}

bool CCameraSymbolSizes::SetUnits(int unit)
{
    if (unit == m_nUnit)
        return true;
    const CProjectDocument* doc = GetActiveProjectDoc();
    double factor = 1.0;
    if (!doc || !doc->GetUnitConversionFactor(m_nUnit, factor) || !std::isfinite(factor) || factor <= 0.0)
        return false;
    m_nUnit = unit;
    for (double& size : m_dSizes)
        size *= factor;
    return true;
}

// --- CCameraSymbolDrawer ---------------------------------------------------

CCameraSymbolDrawer::CCameraSymbolDrawer() : m_pSelection(new CImagePtrArray) {}

CCameraSymbolDrawer::~CCameraSymbolDrawer()
{
    delete m_pSelection;
}

void CCameraSymbolDrawer::DrawBox(double w, double h, double d)
{
    const double a = w / 2, b = h / 2, c = d / 2;
    const struct {
        double tx, ty, tz, angle, rx, ry, rz;
        bool side;
    } faces[] = {
        {0, 0, c, 0, 1, 0, 0, false},   {0, 0, -c, 180, 1, 0, 0, false}, {a, 0, 0, 90, 0, 1, 0, false},
        {-a, 0, 0, -90, 0, 1, 0, false}, {0, b, 0, -90, 1, 0, 0, true},   {0, -b, 0, 90, 1, 0, 0, true},
    };
    for (const auto& f : faces) {
        glPushMatrix();
        glTranslated(f.tx, f.ty, f.tz);
        if (f.angle != 0.0)
            glRotated(f.angle, f.rx, f.ry, f.rz);
        if (f.side)
            glRectd(c, a, -c, -a);
        else
            glRectd(a, b, -a, -b);
        glPopMatrix();
    }
}

void CCameraSymbolDrawer::DrawBody(const float c1[4], const float c2[4], const float c3[4], const float c4[4]) const
{
    CQuadric quadric;
    if (!quadric.q)
        return;
    const auto& s = m_sizes;
    glPushMatrix();
    glTranslated(0, s.Get(CCameraSymbolSizes::BARREL_OFFSET), 0);
    glRotated(180, 0, 1, 1);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, c1);
    gluCylinder(quadric.q, s.Get(CCameraSymbolSizes::BARREL_RADIUS), s.Get(CCameraSymbolSizes::BARREL_RADIUS),
                s.Get(CCameraSymbolSizes::BARREL_LENGTH), 20, 20);
    glPopMatrix();

    glPushMatrix();
    glTranslated(0, s.Get(CCameraSymbolSizes::SPHERE_OFFSET), 0);
    glRotated(180, 0, 1, 1);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, c2);
    gluSphere(quadric.q, s.Get(CCameraSymbolSizes::BARREL_RADIUS), 20, 20);
    glPopMatrix();

    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, c3);
    DrawBox(s.Get(CCameraSymbolSizes::BODY_WIDTH), s.Get(CCameraSymbolSizes::BODY_HEIGHT),
            s.Get(CCameraSymbolSizes::BODY_WIDTH));

    glPushMatrix();
    glTranslated(s.Get(CCameraSymbolSizes::SMALL_X), 0, s.Get(CCameraSymbolSizes::SMALL_Z));
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, c4);
    gluCylinder(quadric.q, s.Get(CCameraSymbolSizes::SMALL_RADIUS), s.Get(CCameraSymbolSizes::SMALL_RADIUS),
                s.Get(CCameraSymbolSizes::SMALL_LENGTH), 20, 20);
    glTranslated(0, 0, s.Get(CCameraSymbolSizes::CAP_OFFSET));
    gluDisk(quadric.q, 0.0, s.Get(CCameraSymbolSizes::SMALL_RADIUS), 20, 20);
    glPopMatrix();
}

void CCameraSymbolDrawer::BuildLists()
{
    for (auto [id, c] : {std::pair{&m_nNormalList, kNormalColours}, std::pair{&m_nSelectedList, kSelectedColours}}) {
        *id = glGenLists(1);
        if (*id == 0)
            continue;
        glNewList(*id, GL_COMPILE);
        DrawBody(c[0], c[1], c[2], c[3]);
        glEndList();
    }
}

void CCameraSymbolDrawer::DeleteLists()
{
    for (unsigned* id : {&m_nNormalList, &m_nSelectedList}) {
        if (*id != 0)
            glDeleteLists(*id, 1);
        *id = 0;
    }
}

void CCameraSymbolDrawer::SetUnits(int unit)
{
    m_sizes.SetUnits(unit);
    DeleteLists();
    BuildLists();
}

bool CCameraSymbolDrawer::Draw(int nameBase, double scale)
{
    if (!m_pImages)
        return false;
    glEnable(GL_LIGHTING);
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    const bool picking = mode == GL_SELECT;
    for (int i = 0; i < m_pImages->GetSize(); ++i) {
        const CProjectImage* image = m_pImages->GetAt(i);
        if (!image->enabled || !image->oriented)
            continue;
        glLoadName(GLuint(nameBase + i));
        glPassThrough(GLfloat(nameBase + i));
        glPushMatrix();
        glTranslated(image->X, image->Y, image->Z);
        glScaled(scale, scale, scale);
        glRotated(image->GetAzimuth() * kDegrees, 0, 0, 1);
        glRotated(image->GetElevation() * kDegrees, 1, 0, 0);
        glRotated(image->GetRoll() * kDegrees, 0, -1, 0);
        const bool selected = m_pSelection->FindPtr(image) >= 0;
        if (picking) {
            // Mesa cannot replay lists of quadrics in selection mode.
            const float(*c)[4] = selected ? kSelectedColours : kNormalColours;
            DrawBody(c[0], c[1], c[2], c[3]);
        } else if (const unsigned list = selected ? m_nSelectedList : m_nNormalList) {
            glCallList(list);
        }
        glPopMatrix();
    }
    return true;
}

bool CCameraSymbolDrawer::GetMeanEllipsoidAxes(double& e1, double& e2, double& e3) const
{
    double mean[3], largest;
    const bool ok = EllipsoidStatistics(m_pImages, &CProjectImage::GetPositionErrorEllipsoid, mean, largest);
    e1 = mean[0], e2 = mean[1], e3 = mean[2];
    return ok;
}

bool CCameraSymbolDrawer::GetMaxEllipsoidAxis(double& e1) const
{
    double mean[3];
    return EllipsoidStatistics(m_pImages, &CProjectImage::GetPositionErrorEllipsoid, mean, e1);
}

bool CCameraSymbolDrawer::DrawErrorEllipsoids(double scale, bool axesMode, const CBitmapFontLists& font)
{
    if (!m_pImages)
        return true;
    CQuadric quadric;
    if (axesMode) {
        glDisable(GL_LIGHTING);
        glLoadName(0);
        glPassThrough(0.0f);
    } else {
        glEnable(GL_LIGHTING);
        const GLfloat cyan[] = {0, 1, 1, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, cyan);
        glLoadName(0);
        if (!quadric.q)
            return true;
    }
    for (int i = 0; i < m_pImages->GetSize(); ++i) {
        const CProjectImage* image = m_pImages->GetAt(i);
        CEllipsoid e;
        if (!image->enabled || !image->oriented ||
            !EllipsoidOf(*image, &CProjectImage::GetPositionErrorEllipsoid, e))
            continue;
        const double p[3] = {image->X, image->Y, image->Z};
        if (!axesMode) {
            DrawEllipsoid(quadric.q, p, e, scale);
            continue;
        }
        static const char kLetters[] = "abc";
        for (int k = 0; k < 3; ++k) {
            const double a = std::sqrt(e.values[k]);
            double from[3], to[3];
            for (int j = 0; j < 3; ++j) {
                from[j] = p[j] - scale * a * e.axes[k][j];
                to[j] = p[j] + scale * a * e.axes[k][j];
            }
            glColor3d(1, 1, 1);
            glBegin(GL_LINES);
            glVertex3dv(from);
            glVertex3dv(to);
            glEnd();
            if (font.GetBase() != 0) {
                char text[64];
                std::snprintf(text, sizeof text, "%c = %.2f", kLetters[k], a);
                glRasterPos3d(to[0] + 10.0, to[1] + 10.0, to[2] + 10.0);
                font.Draw(text);
            }
        }
    }
    return true;
}

int CCameraSymbolDrawer::Select(int i)
{
    if (!m_pImages || i < 0 || i >= m_pImages->GetSize())
        return -1;
    CProjectImage* image = m_pImages->GetAt(i);
    const int at = m_pSelection->FindPtr(image);
    return at >= 0 ? at : m_pSelection->Add(image);
}

int CCameraSymbolDrawer::Deselect(int i)
{
    if (!m_pImages || i < 0 || i >= m_pImages->GetSize())
        return -1;
    const int at = m_pSelection->FindPtr(m_pImages->GetAt(i));
    if (at >= 0)
        m_pSelection->RemoveAt(at, 1);
    return at;
}

void CCameraSymbolDrawer::ClearSelection()
{
    m_pSelection->RemoveAll();
}

void CCameraSymbolDrawer::ForgetMissingImages()
{
    if (m_pSelection->GetSize() == 0)
        return;
    std::unordered_set<const CProjectImage*> present;
    for (int i = 0; m_pImages && i < m_pImages->GetSize(); ++i)
        present.insert(m_pImages->GetAt(i));
    for (int i = m_pSelection->GetSize() - 1; i >= 0; --i)
        if (!present.count(m_pSelection->GetAt(i)))
            m_pSelection->RemoveAt(i, 1);
}
