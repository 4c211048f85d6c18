// The OpenGL drawers the 3D views share: points with their disc symbols,
// axis tripods with letters, camera symbols, and a segment between two
// points. They draw into whatever context the caller made current.
#pragma once

#include "BitmapFontLists.h"

#include <QOpenGLBuffer>

#include <vector>

namespace NEWMAT {
class Matrix;
}
class CObjectPoint;
class CObjectPointList;
class CProjectImage;
class CProjectImageList;
class CImagePtrArray;

// The matrix of glRotated (angle in degrees about the axis), column-major.
void RotationMatrix(double angle, double x, double y, double z, double m[16]);

// glMultiDrawArrays of the current context over the ranges (first, count);
// one glDrawArrays per range where the context lacks it.
void MultiDrawArrays(unsigned mode, const std::vector<int>& firsts, const std::vector<int>& counts);

// Fills `buffer`, made when it is not yet, with `bytes` bytes from `data`;
// false when it cannot be made.
bool FillBuffer(QOpenGLBuffer& buffer, const void* data, int bytes);

// A GL_LINES segment between two point records; colour and name are the caller's.
void DrawSegment(const CObjectPoint& a, const CObjectPoint& b);

class CPointSymbolDrawer {
public:
    CPointSymbolDrawer() = default;
    CPointSymbolDrawer(const CPointSymbolDrawer&) = delete;
    CPointSymbolDrawer& operator=(const CPointSymbolDrawer&) = delete;

    void SetPointList(const CObjectPointList* list) { m_pPoints = list; }
    const CObjectPointList* GetPointList() const { return m_pPoints; }

    // The unit disc (20 vertices); its id, 0 when no list could be made.
    unsigned BuildDiscList();
    void DeleteDiscList();
    unsigned GetDiscList() const { return m_nDiscList; }

    // Points (white, selected ones 2 pixels larger) and their discs (grey,
    // white when selected). False when there is no point or no list. A
    // picture draws the points from two buffer objects (unselected, then
    // selected), made again after InvalidateBuffers; in selection mode each
    // point and its disc are drawn under the point's name.
    bool Draw(float pointSize, bool drawDiscs, int nameBase);
    // The points, their selection or the list changed: the buffers are made
    // again at the next picture.
    void InvalidateBuffers() { m_bBuffersValid = m_bPositionsValid = m_bDiscsValid = false; }
    // Releases the buffers (the context must be current).
    void DeleteBuffers();
    bool HasValidBuffers() const { return m_bBuffersValid; }
    // Draws only every stride-th point in the picture (1: all of them).
    void SetThinning(int stride) { m_nStride = stride < 1 ? 1 : stride; }
    int GetThinning() const { return m_nStride; }
    // The same for the discs.
    void SetDiscThinning(int stride) { m_nDiscStride = stride < 1 ? 1 : stride; }
    int GetDiscThinning() const { return m_nDiscStride; }
    // A picture draws the discs from one buffer of triangle strips, made
    // again after InvalidateBuffers or a new point size; direct: one by one
    // from the disc list, as selection mode draws them.
    void SetDirectDiscs(bool direct) { m_bDirectDiscs = direct; }
    int GetDiscBufferBuilds() const { return m_nDiscBuilds; }
    // The discs' triangles the last picture drew.
    int GetDiscTriangles() const { return m_nDiscIndices / 3; }
    // The points that have a disc.
    int GetDiscCount() const;
    bool DrawNormals(int nameBase, double scale);
    bool DrawDiscrepancies(int nameBase, double scale);

    // The names selection mode records for Draw or for the vector symbols
    // under m (projection x modelview with the pick region, column-major),
    // in drawing order, appended to names. eye: the eye in the points'
    // coordinates (discs seen from behind are culled).
    void PickPoints(const double m[16], const double eye[3], float pointSize, bool drawDiscs, int nameBase,
                    std::vector<unsigned>& names) const;
    void PickVectors(const double m[16], int nameBase, double scale, bool normals, std::vector<unsigned>& names) const;
    // Some point moved by offset on every axis lies inside the clip volume of m.
    bool AnyInside(const double m[16], double offset) const;

    // Red filled ellipsoids of radius x the semi-axes; not pickable (name 0).
    bool DrawErrorEllipsoids(double radius);
    // Mean eigenvalues over the points whose ellipsoid succeeds; the largest
    // eigenvalue of them. False, outputs 0, when there is none.
    bool GetMeanEllipsoidAxes(double& e1, double& e2, double& e3) const;
    bool GetMaxEllipsoidAxis(double& e1) const;

    // The box of the points; false, nothing written, when there is none.
    bool GetBoundingBox(double& minX, double& maxX, double& minY, double& maxY, double& minZ, double& maxZ) const;

private:
    void DrawVectors(int nameBase, double scale, bool normals);
    void BuildBuffers();
    // The coordinates in list order in one block, and the points with a disc.
    void BuildPositions() const;
    void DrawDisc(const CObjectPoint& point, float pointSize) const;
    // The disc's modelview increment; false for a point without a disc.
    static bool DiscTransform(const CObjectPoint& point, float pointSize, double m[16]);
    // Points of one selection state from their buffer, in one draw call.
    void DrawPointBuffer(QOpenGLBuffer& buffer, int count, float size);
    void BuildDiscBuffer(float pointSize);
    void DrawDiscBuffer(float pointSize);
    void BuildDiscOrder(const double modelview[16], const double m[21]);

    const CObjectPointList* m_pPoints = nullptr;
    unsigned m_nDiscList = 0;
    int m_nStride = 1;
    bool m_bBuffersValid = false;
    QOpenGLBuffer m_unselected{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer m_selected{QOpenGLBuffer::VertexBuffer};
    int m_nUnselected = 0;
    int m_nSelected = 0;
    QOpenGLBuffer m_discBuffer{QOpenGLBuffer::VertexBuffer};
    int m_nDiscStride = 1;
    int m_nDiscsInBuffer = 0;
    float m_fDiscSize = 0.0f;
    bool m_bDiscsValid = false;
    bool m_bDirectDiscs = false;
    int m_nDiscBuilds = 0;
    double m_discOrigin[3] = {0, 0, 0};
    // The strips' triangles that can cover a pixel centre under
    // m_discOrderFor (projection x modelview, viewport, thinning), as indices
    // into the buffer: made again only when one of them or the buffer
    // changed.
    QOpenGLBuffer m_discOrder{QOpenGLBuffer::IndexBuffer};
    std::vector<float> m_discVertices; // the 20 strip vertices of each disc
    std::vector<unsigned> m_discIndices;
    int m_nDiscIndices = 0;
    bool m_bDiscOrderValid = false;
    double m_discOrderFor[21] = {};
    // Per disc of the buffer: centre relative to the origin, unit normal,
    // and the radius of the sphere that holds it.
    std::vector<double> m_discShapes;
    double m_origin[3] = {0, 0, 0};
    // For the CPU pick: reading the point records one by one is bound by
    // memory, a block of coordinates is not.
    mutable bool m_bPositionsValid = false;
    mutable std::vector<double> m_positions;
    mutable std::vector<int> m_discs;
};

// Segments from a buffer object: float pairs relative to an origin.
class CSegmentBuffer {
public:
    // xyz pairs, absolute; origin subtracted here.
    void Fill(const std::vector<double>& segments, const double origin[3]);
    void Draw(float lineWidth);
    void Delete();

private:
    QOpenGLBuffer m_buffer{QOpenGLBuffer::VertexBuffer};
    int m_nVertices = 0;
    double m_origin[3] = {0, 0, 0};
};

// Bitmap-font lists of the characters 0 to 254 and the axis tripods.
class CTextListDrawer {
public:
    unsigned Build(const QFont& font);
    void Delete() { m_lists.Release(); }
    void Forget() { m_lists.Forget(); }
    unsigned GetBase() const { return m_lists.GetBase(); }
    const CBitmapFontLists& GetLists() const { return m_lists; }

    // Red x, green y and cyan z from the origin with their letters at 1.1 x size.
    void DrawWorldAxes(double size) const;
    // The axes of the frame [R t; 0 0 0 1] (4 x 4): from its origin -R^T t
    // along the rows of R, in light red, green and blue, with their letters.
    void DrawFrameAxes(const NEWMAT::Matrix& transformation, double size) const;

private:
    CBitmapFontLists m_lists;
};

// The camera symbol's eleven sizes in a length unit (defaults in mm).
class CCameraSymbolSizes {
public:
    enum {
        BODY_WIDTH, BODY_HEIGHT, BARREL_LENGTH, BARREL_RADIUS, SMALL_LENGTH, SMALL_RADIUS,
        BARREL_OFFSET, SPHERE_OFFSET, SMALL_X, SMALL_Z, CAP_OFFSET, SIZE_COUNT
    };
    CCameraSymbolSizes() { Reset(); }
    void Reset();
    // Rescales into the unit of the active project document; false, nothing
    // changed, when there is none.
    bool SetUnits(int unit);
    int GetUnit() const { return m_nUnit; }
    double Get(int i) const { return m_dSizes[i]; }

private:
    int m_nUnit = 0;
    double m_dSizes[SIZE_COUNT] = {};
};

class CCameraSymbolDrawer {
public:
    CCameraSymbolDrawer();
    ~CCameraSymbolDrawer();
    CCameraSymbolDrawer(const CCameraSymbolDrawer&) = delete;
    CCameraSymbolDrawer& operator=(const CCameraSymbolDrawer&) = delete;

    void SetImageList(const CProjectImageList* images) { m_pImages = images; }
    const CProjectImageList* GetImageList() const { return m_pImages; }
    const CCameraSymbolSizes& GetSizes() const { return m_sizes; }

    // The normal and the selected symbol as display lists.
    void BuildLists();
    void DeleteLists();
    // New unit, lists rebuilt (the context must be current).
    void SetUnits(int unit);

    // One symbol per enabled, oriented image; image i answers to base + i.
    // In selection mode the symbols are drawn directly, not from their lists.
    bool Draw(int nameBase, double scale);

    bool GetMeanEllipsoidAxes(double& e1, double& e2, double& e3) const;
    bool GetMaxEllipsoidAxis(double& e1) const;
    // Station position ellipsoids: filled cyan, or the three axes in white
    // with "a = ", "b = ", "c = " labels from the font lists.
    bool DrawErrorEllipsoids(double scale, bool axesMode, const CBitmapFontLists& font);

    int Select(int i);
    int Deselect(int i);
    void ClearSelection();
    // Drops the selected stations that are no longer in the image list.
    void ForgetMissingImages();
    const CImagePtrArray& GetSelection() const { return *m_pSelection; }

    void DrawBody(const float c1[4], const float c2[4], const float c3[4], const float c4[4]) const;
    static void DrawBox(double width, double height, double depth);

private:
    const CProjectImageList* m_pImages = nullptr;
    CImagePtrArray* m_pSelection;
    unsigned m_nNormalList = 0;
    unsigned m_nSelectedList = 0;
    CCameraSymbolSizes m_sizes;
};
