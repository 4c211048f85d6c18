// "3-2-1...": a new object frame from three points of a point set, the first
// the origin, the second on a chosen axis, the third in a chosen plane. OK
// transforms the set and, for the driver set, every oriented image.
#pragma once

#include "Dialog.h"

#include <cstdint>
#include <functional>

namespace NEWMAT {
class Matrix;
}
class CKestrelonDoc;
class CObjectPoint;
class CPointSet;

// What the dialog uses of the 3D view's 3-2-1 preview.
class C321Preview {
public:
    virtual ~C321Preview() = default;
    virtual void SetPreviewFlag(std::uint8_t flag) = 0;
    // The 4x4 transformation shown.
    virtual void SetPreviewMatrix(const NEWMAT::Matrix& transformation) = 0;
    // Repaint without erasing.
    virtual void InvalidatePreview() = 0;
};

// The preview of a document's 3D view, or null. The 3D view installs the
// finder; without one there is no preview. Returns the previous finder.
using Preview321Finder = std::function<C321Preview*(CKestrelonDoc* doc)>;
Preview321Finder Set321PreviewFinder(Preview321Finder finder);

class C321Dialog : public CDialog {
public:
    // The set is not owned.
    explicit C321Dialog(CPointSet* set, QWidget* parent = nullptr);

    // Presets the three points before the dialog runs.
    void SetSelectedPoints(CObjectPoint* origin, CObjectPoint* axis, CObjectPoint* plane);

    bool OnInitDialog() override;
    void OnOK() override;

    // Empties and fills the three combos with the set's labels; selects the
    // preset points when all three exist.
    void FillPointCombos();
    // The row of M that neither the axis nor the plane sets, so that M is a
    // proper rotation.
    void CompleteAxisMatrix();
    // Shows the transformation of the present choice in the 3D view; a
    // choice that makes no frame shows nothing.
    void UpdatePreview();

    // Check-box handlers: letter 0, 1, 2 for X, Y, Z; sign +1 or -1.
    void OnAxis(int letter, int sign);
    void OnPlane(int letter, int sign);
    // Combo 0 (origin), 1 (axis point) or 2 (plane point) chose a label.
    void OnPointSelected(int slot);

    int GetAxisIndex() const { return axisIndex; }
    int GetPlaneIndex() const { return planeIndex; }
    // M(row, column), 0-based.
    double GetAxisMatrix(int row, int column) const { return axisMatrix[row][column]; }
    // The last transformation computed, row-major 4x4.
    const double (&GetTransformation() const)[4][4] { return transformation; }

    // Control ids.
    static constexpr int kOriginCombo = 1080, kAxisCombo = 1081, kPlaneCombo = 1082;
    // +X, +Y, +Z, -X, -Y, -Z.
    static constexpr int kAxisBoxes[6] = {1031, 1032, 1033, 1034, 1035, 1036};
    static constexpr int kPlaneBoxes[6] = {1049, 1050, 1051, 1052, 1053, 1054};

private:
    static int BoxIndex(int letter, int sign) { return letter + (sign < 0 ? 3 : 0); }
    bool AnyChecked(const int (&ids)[6]) const;
    // The transformation of the three points into transformation; false
    // when they make no frame.
    bool ComputeTransformation(CObjectPoint* const (&chosen)[3]);
    // The 3D view's preview of the active document, or null.
    C321Preview* FindPreview() const;

    CPointSet* pointSet;
    CObjectPoint* points[3] = {nullptr, nullptr, nullptr};
    double axisMatrix[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double transformation[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    int axisIndex = 0;
    int planeIndex = 1;
    // This dialog set the view's preview flag.
    bool previewShown = false;
};
