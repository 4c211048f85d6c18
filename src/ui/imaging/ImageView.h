// The image window's view: one project image with zoom, the marks of its
// observations, residual vectors and the EO device outline; left clicks
// measure through the measurement tool.
#pragma once

#include "Frames.h"
#include "ImageHandle.h"
#include "ImageObservation.h"
#include "MeasurementTool.h"
#include "NameBuffer.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QLineF>

#include <functional>
#include <memory>
#include <vector>

class CCentroidWindow;
class CInteriorOrientationDlg;
class CDocTemplate;
class CKestrelonDoc;
class QMenu;
class QPainter;
class QPrinter;
class QTimer;

class CImageView : public QAbstractScrollArea, public CImageViewBase {
public:
    explicit CImageView(QWidget* parent = nullptr);
    ~CImageView() override;

    QWidget* GetWidget() override { return this; }
    CProjectImage* GetImageRecord() const override { return image; }
    bool InRelativeOrientation() const override { return relativeOrientationMode; }
    void Redraw() override { viewport()->update(); }
    bool QueryClose() override;
    void OnInitialUpdate() override;
    // The toolbar's label and increment boxes show this window's values.
    void OnActivateView() override { ShowLabelInDialogBar(); }
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    CKestrelonDoc* GetDoc() const;
    // Shows the image; false when its picture could not be loaded (the
    // coordinate page is shown then).
    bool SetImage(CProjectImage* record);
    // Next (true) or Previous Image: saves, resets the view and shows the
    // other image; nothing when there is none.
    void SwitchImage(bool next);
    // The view's defaults, the relative orientation mode kept.
    void ResetToDefaults();
    void UpdateTitle();
    void UpdateDialogBar();
    // The label (or the refused text typed for it) and the increment into
    // the toolbar's boxes, where they differ.
    void ShowLabelInDialogBar();
    void UpdateStatusPanes();

    // Paints into the client rectangle; u is device pixels per unit (1 on
    // screen); printing adds the footer.
    void OnDraw(QPainter& painter, const QRect& client, double u, bool printing);
    // The magnified square around the last mouse position, with the marks
    // inside the centroid window square in green.
    void DrawMagnified(QPainter& painter, const QRect& target);
    // Magnified View: opens the Centroid Window when it is not open.
    void OpenCentroidWindow();
    void CloseCentroidWindow();
    CCentroidWindow* GetCentroidWindow() const { return centroidWindow; }

    // One page: the picture scaled to the page keeping its aspect, the
    // marks and the footer; false when the printer cannot be painted on.
    bool PrintTo(QPrinter& printer);

    // Image millimetres to a client point by the shown extent.
    QPoint ImageToDevice(double x, double y, const QRect& client) const;

    // The image popup: its entries as command ids, 0 a separator, -1 the
    // start and -2 the end of the Brightness popup.
    static const std::vector<int>& ContextMenuIds();
    // The popup with the entries' states from their update handlers.
    QMenu* BuildContextMenu(QWidget* parent);
    bool IsAreaSelected() const { return areaSelected; }

    // --- commands on the image's measurements and the view's state -------
    // Deletes the observations inside the client rectangle (the fiducial
    // measurements in interior orientation mode).
    void DeleteByArea(const QRect& rect);
    void DeleteByLabel();
    void DeleteAll();
    void Undo();
    // Label += increment (sign 1) or -= increment (sign -1), not below 0.
    void SkipPoint(int sign);
    // The resection of the image against the driver set, asked for first
    // through the station prompt when one is installed.
    void Resect();
    void ToggleEODevice();
    void ResectFromEODevice();
    // Asks before existing observations are deleted, then RunAutoScan.
    void OnAutoScan();
    // AutoScan of the image; true when the scan succeeded.
    bool RunAutoScan();
    void Driveback();
    // Brightness entries 32899 to 32905.
    void Brightness(int id);
    void ToggleResidualView();
    // Asks for a file, then WriteIntensityFile.
    void OnOutputIntensity();
    // The grey values of the picture's visible part, one line per row;
    // false (after a message) when the file could not be written.
    bool WriteIntensityFile(const QString& path);
    void CorrectImageRatio();
    void EnterInteriorOrientation();
    void EndInteriorOrientation() override;
    // direction 0 vertical, 1 horizontal.
    void TogglePlumbLine(int direction);
    // Asks for a label and draws its epipolar lines with the next paint.
    void ShowEpipolarLines();
    // The lines the next paint draws (picture pixels: column, row twice).
    const std::vector<QLineF>& GetPendingEpipolarLines() const { return epipolarLines; }
    // A picture position (pixels) to a client point of the shown part.
    QPointF PictureToClient(double column, double row, const QRect& client) const;
    // The frame's results dialog with its window, or null.
    CInteriorOrientationDlg* GetInteriorOrientationDlg();

    // The "Resect Camera Station" step: IDOK to resect (fromGivenStation
    // set: iterate from the image's station, else closed form), IDCANCEL
    // to stop. Without one the closed form runs.
    using ResectStationPrompt = std::function<int(CProjectImage& image, bool& fromGivenStation)>;
    static ResectStationPrompt SetResectStationPrompt(ResectStationPrompt prompt);

    // Mode state, public for the commands and tests.
    enum Mode { MODE_ZOOM_IN, MODE_ZOOM_OUT, MODE_DIGITIZE, MODE_DELETE_BY_AREA };
    void SetMode(Mode mode);
    Mode GetMode() const { return mode; }

    CImageHandle* GetHandle() const { return handle.get(); }
    CMeasurementTool* GetTool() const { return tool.get(); }
    CObservationList& GetOwnList() { return ownList; }
    void ResetObservationList() { ownList.RemoveAll(); }
    void SetAutoMeasure(bool flag) { autoMode = flag; }
    const CNameBuffer& GetLabel() const { return label; }
    void SetLabel(const CNameBuffer& value) { label = value; }
    int GetIncrement() const { return increment; }
    void SetIncrement(int value) { increment = value; }

    bool autoMode = true;
    bool shrinkToFit = true;
    bool plumbLineMode = false;
    int plumbDirection = -1;
    bool interiorOrientationMode = false;
    bool relativeOrientationMode = false;
    bool residualView = false;
    bool eoDeviceMode = false;
    int residualScale = 500;
    int targetOverlay = 1;
    bool numberPoints = true;
    double brightnessGain = 1.0;
    bool quietStatus = false;
    QPoint lastMouse;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void RegisterCommands();
    void RegisterImageCommands();
    // A client point as image millimetres, through the picture or the
    // coordinate page.
    bool ClientToImage(const QPoint& point, const QRect& client, double& x, double& y) const;
    void UpdateInteriorOrientationResults();
    void DrawEpipolarLines(QPainter& painter, const QRect& client);
    bool HasObservations() const;
    void OnLeftClick(const QPoint& point, Qt::KeyboardModifiers modifiers);
    void BuildTool();
    // Polls the document's job state and repaints when it clears.
    void WatchJobEnd();
    void ReadOverlayPreferences();
    // The scroll bars span the picture in its pixels, their pages the part
    // shown: a zoomed picture pans with them.
    void UpdateScrollBars();
    CIntRect ClientRect() const;
    // The picture's visible part scaled to the client, nearest neighbour,
    // kept while neither changes.
    void DrawPicture(QPainter& painter, const QRect& client);
    void DrawMarks(QPainter& painter, const QRect& client, double u);
    void DrawMark(QPainter& painter, const CImageObservation& o, const QRect& client, double u, int mode,
                  bool fiducial);
    void DrawEllipse(QPainter& painter, const CImageObservation& o, const QRect& client);
    void DrawResidualVectors(QPainter& painter, const QRect& client);
    void DrawEODeviceOutline(QPainter& painter, const QRect& client);
    // Crosses and labels scaled by u as the marks of a picture are.
    void DrawCoordinatePage(QPainter& painter, const QRect& client, double u);
    // The image millimetres shown: x_min, x_max, y_min, y_max.
    void ShownExtent(double extent[4]) const;
    QColor MarkColor(const CImageObservation& o, bool fiducial) const;
    QFont LabelFont(double u) const;

    CProjectImage* image = nullptr;
    CCamera* camera = nullptr;
    std::unique_ptr<CImageHandle> handle;
    std::unique_ptr<CMeasurementTool> tool;
    CObservationList ownList;
    CNameBuffer label;
    int increment = 1;
    Mode mode = MODE_DIGITIZE;
    bool dragging = false;
    QPoint dragStart;
    QRect selection;
    bool areaSelected = false;
    bool labelBoxSync = true;
    // The "Point ID" box's text while it is not a label (empty otherwise):
    // clicks are refused and the box keeps the text until it is mended.
    QString refusedLabelText;
    bool settingScrollBars = false;
    bool wasJobRunning = false;
    QTimer* jobTimer = nullptr;
    double pageExtent[4] = {0, 0, 0, 0};
    std::vector<QLineF> epipolarLines;

    CCentroidWindow* centroidWindow = nullptr;
    QImage cache;
    unsigned cacheGeneration = ~0u;
    const CBitmapInfo* cacheHeader = nullptr;
};

// Makes the image template's frames show image views.
void InstallImageView(CDocTemplate* imageTemplate);
// Opens an image window on the document for the record; null when that fails.
CImageView* OpenImageWindow(CKestrelonDoc* doc, CProjectImage* record);
// The view of the active MDI child when it is an image view.
CImageView* GetActiveImageView();
