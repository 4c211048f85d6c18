#include "ImageView.h"

#include "Camera.h"
#include "CentroidWindow.h"
#include "CentroidSettings.h"
#include "EllipseRecord.h"
#include "FiducialDialogs.h"
#include "Hooks.h"
#include "Hub.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"
#include "PointDialogs.h"
#include "ProjectImage.h"
#include "RelativeOrientationDlg.h"
#include "StationDialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <map>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QColor FromColorRef(int32_t colour)
{
    return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

} // namespace

CImageView::CImageView(QWidget* parent) : QAbstractScrollArea(parent), label("1")
{
    setObjectName(QStringLiteral("ImageView"));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    RegisterCommands();
}

CImageView::~CImageView()
{
    delete centroidWindow;
    tool.reset();
    handle.reset();
}

CKestrelonDoc* CImageView::GetDoc() const
{
    return dynamic_cast<CKestrelonDoc*>(GetDocument());
}

void CImageView::OnInitialUpdate()
{
    UpdateScrollBars();
    label = CNameBuffer("1");
    increment = 1;
    ReadOverlayPreferences();
    UpdateDialogBar();
}

void CImageView::ReadOverlayPreferences()
{
    if (CKestrelonDoc* doc = GetDoc()) {
        targetOverlay = doc->GetTargetOverlay();
        numberPoints = doc->GetNumberPoints();
    }
}

void CImageView::UpdateScrollBars()
{
    CDisplayImage* picture = handle ? handle->GetPicture() : nullptr;
    CIntRect visible;
    int width = 0, height = 0;
    if (picture) {
        picture->GetVisibleRect(visible);
        width = picture->GetWidth();
        height = picture->GetHeight();
    }
    settingScrollBars = true;
    const struct {
        QScrollBar* bar;
        int extent, start, page;
    } bars[] = {{horizontalScrollBar(), width, visible.left, visible.Width()},
                {verticalScrollBar(), height, visible.top, visible.Height()}};
    for (const auto& b : bars) {
        const int page = std::max(1, b.page);
        b.bar->setRange(0, std::max(0, b.extent - page));
        b.bar->setPageStep(page);
        b.bar->setSingleStep(std::max(1, page / 10));
        b.bar->setValue(b.start);
    }
    settingScrollBars = false;
}

void CImageView::scrollContentsBy(int, int)
{
    if (settingScrollBars || !handle)
        return;
    handle->ScrollTo(horizontalScrollBar()->value(), verticalScrollBar()->value());
    Redraw();
    if (centroidWindow)
        centroidWindow->update();
}

void CImageView::wheelEvent(QWheelEvent* event)
{
    // The wheel scrolls up and down, with Shift (or a sideways wheel) left and right.
    const QPoint delta = event->angleDelta();
    const bool sideways = (event->modifiers() & Qt::ShiftModifier) || (delta.y() == 0 && delta.x() != 0);
    QScrollBar* bar = sideways ? horizontalScrollBar() : verticalScrollBar();
    const int notches = sideways && delta.x() != 0 ? delta.x() : delta.y();
    if (notches == 0 || bar->maximum() == bar->minimum()) {
        event->ignore();
        return;
    }
    const int lines = std::max(1, QApplication::wheelScrollLines());
    int move = notches * lines * bar->singleStep() / 120;
    if (move == 0)
        move = notches > 0 ? 1 : -1; // a fine wheel still moves
    bar->setValue(bar->value() - move);
    event->accept();
}

CIntRect CImageView::ClientRect() const
{
    return CIntRect{0, 0, viewport()->width(), viewport()->height()};
}

bool CImageView::SetImage(CProjectImage* record)
{
    CKestrelonDoc* doc = GetDoc();
    image = record;
    camera = (doc && record) ? doc->cameras.FindByName(record->cameraName.GetText()) : nullptr;
    tool.reset();
    handle.reset();
    ownList.RemoveAll();
    cacheGeneration = ~0u;
    bool loaded = false;
    if (record) {
        handle = std::make_unique<CImageHandle>(record, doc);
        handle->AddRef();
        loaded = handle->GetPicture() != nullptr;
        if (!loaded)
            handle.reset();
    }
    BuildTool();
    UpdateScrollBars();
    UpdateTitle();
    UpdateStatusPanes();
    Redraw();
    return loaded;
}

void CImageView::BuildTool()
{
    tool.reset();
    CKestrelonDoc* doc = GetDoc();
    if (!image || !doc)
        return;
    tool = std::make_unique<CMeasurementTool>(image, camera, handle ? handle->GetPicture() : nullptr, &ownList,
                                              &doc->overwriteDuplicateNumbers, &doc->addDuplicateCoordinates);
    tool->SetDocument(doc);
}

void CImageView::UpdateTitle()
{
    CMDIChildWnd* frame = GetParentFrame();
    if (!frame || !image)
        return;
    const QString name = FromCp1252(image->name.GetText());
    frame->setWindowTitle(relativeOrientationMode ? QStringLiteral("Relative Orientation: %1").arg(name) : name);
}

void CImageView::UpdateDialogBar()
{
    CMainFrame* main = AfxGetMainFrame();
    CMainToolBar* bar = main ? main->GetToolBar() : nullptr;
    if (!bar)
        return;
    labelBoxSync = false;
    refusedLabelText.clear();
    if (bar->m_PointLabel)
        bar->m_PointLabel->setText(FromCp1252(label.GetText()));
    if (bar->m_PointIncrement)
        bar->m_PointIncrement->setText(QString::number(increment));
    if (bar->m_CentroidWindow)
        bar->m_CentroidWindow->setText(QString::number(GetCentroidSettings().windowSize));
    labelBoxSync = true;
}

void CImageView::ShowLabelInDialogBar()
{
    CMainFrame* main = AfxGetMainFrame();
    CMainToolBar* bar = main ? main->GetToolBar() : nullptr;
    if (!bar)
        return;
    labelBoxSync = false;
    const QString text = refusedLabelText.isEmpty() ? FromCp1252(label.GetText()) : refusedLabelText;
    if (bar->m_PointLabel && bar->m_PointLabel->text() != text)
        bar->m_PointLabel->setText(text);
    if (bar->m_PointIncrement && bar->m_PointIncrement->text() != QString::number(increment))
        bar->m_PointIncrement->setText(QString::number(increment));
    labelBoxSync = true;
}

void CImageView::UpdateStatusPanes()
{
    CMainFrame* main = AfxGetMainFrame();
    if (!main || quietStatus || !main->statusBar()->isVisible())
        return;
    main->SetPaneText(3, residualView ? QStringLiteral("Vector Scale: %1").arg(residualScale) : QString());
    CKestrelonDoc* doc = GetDoc();
    QString position;
    if (doc && image && handle && handle->GetPicture()) {
        int index = 0;
        for (int i = 0; i < doc->images.GetSize(); ++i)
            if (doc->images.GetAt(i) == image)
                index = i + 1;
        position = QStringLiteral("Image %1 of %2").arg(index).arg(doc->images.GetSize());
    }
    main->SetPaneText(4, position);
    if (image && main->GetToolBar() && main->GetToolBar()->m_ImageQuality) {
        QComboBox* combo = main->GetToolBar()->m_ImageQuality;
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(!image->qualitySet ? 0 : image->highQuality ? 1 : 2);
    }
}

bool CImageView::QueryClose()
{
    if (relativeOrientationMode) {
        AfxMessageBox("Image is in relative orientation measurement mode.\nTo close finish RO mode.",
                      MB_ICONWARNING, "Image View");
        return false;
    }
    if (CKestrelonDoc* doc = GetDoc())
        doc->SaveProject();
    PostHubMessage(UM_REFRESH_IMAGES_AND_LIST);
    return true;
}

std::intptr_t CImageView::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    (void)message, (void)wParam, (void)lParam;
    return 0;
}

void CImageView::SetMode(Mode value)
{
    if (dragging || areaSelected) {
        dragging = false;
        areaSelected = false;
        selection = QRect();
        Redraw();
    }
    mode = value;
    if (value == MODE_DIGITIZE || value == MODE_DELETE_BY_AREA) {
        if (plumbLineMode && tool)
            tool->DiscardPlumbLine();
        plumbLineMode = false;
        plumbDirection = -1;
    }
    if ((value == MODE_ZOOM_IN || value == MODE_ZOOM_OUT) && image)
        UpdateScrollBars();
}

void CImageView::ResetToDefaults()
{
    SetMode(MODE_DIGITIZE);
    shrinkToFit = true;
    plumbLineMode = false;
    plumbDirection = -1;
    interiorOrientationMode = false;
    residualView = false;
    eoDeviceMode = false;
    residualScale = 500;
    brightnessGain = 1.0;
    autoMode = true;
    CMainFrame* main = AfxGetMainFrame();
    if (main && main->GetToolBar() && main->GetToolBar()->isVisible()) {
        label = CNameBuffer("1");
        increment = 1;
    }
}

void CImageView::SwitchImage(bool next)
{
    CKestrelonDoc* doc = GetDoc();
    CProjectImage* other = nullptr;
    if (doc && image)
        other = next ? doc->GetNextImage(image) : doc->GetPreviousImage(image);
    if (!other)
        return;
    if (next)
        label = CNameBuffer("1");
    doc->SaveProject();
    // Saving refreshes the project frame; this window stays the active one.
    if (CMDIChildWnd* frame = GetParentFrame())
        if (QMdiArea* area = frame->mdiArea())
            area->setActiveSubWindow(frame);
    if (handle)
        handle->Release();
    if (residualView)
        ReadOverlayPreferences();
    ResetToDefaults();
    SetImage(other);
    if (next)
        UpdateDialogBar();
    PostHubMessage(UM_RO_IMAGE_CHANGED, 0, std::intptr_t(static_cast<CImageViewBase*>(this)));
}

// --- mouse and keys -----------------------------------------------------------

void CImageView::mousePressEvent(QMouseEvent* event)
{
    setFocus();
    if (event->button() == Qt::LeftButton)
        OnLeftClick(event->position().toPoint(), event->modifiers());
}

void CImageView::OnLeftClick(const QPoint& point, Qt::KeyboardModifiers modifiers)
{
    if (!image || !camera)
        return;
    const CIntRect client = ClientRect();
    const CIntPoint at{point.x(), point.y()};
    const bool shift = modifiers & Qt::ShiftModifier;
    if (mode == MODE_DIGITIZE && handle && tool) {
        // Nothing is measured under another label than the one typed.
        if (!refusedLabelText.isEmpty()) {
            CNameBuffer typed;
            ReadPointLabel(refusedLabelText, typed);
            return;
        }
        // Whatever the click stored or replaced is a change of the project.
        const unsigned changesBefore = tool->GetChangeCount();
        if (shift) {
            // A step of 0 (or an empty box) would give every target of the
            // row the same label and never get past a label in use.
            const int step = increment != 0 ? increment : 1;
            tool->SetKind(MEASURE_ROW);
            if (tool->Measure(label, step, at, client)) {
                while (image->targets.Find(label)) {
                    const CNameBuffer before = label;
                    if (label.AddToNumber(step) == before)
                        break; // the label cannot grow any further
                }
                UpdateDialogBar();
                if (relativeOrientationMode)
                    PostHubMessage(UM_RO_MEASURED);
                if (increment == 0)
                    SendHubMessage(UM_STATUS_TEXT, 1,
                                   std::intptr_t("Point Increment 0: the row was labelled with increment 1"));
            }
        } else if (plumbLineMode) {
            tool->SetKind(plumbDirection == 1 ? MEASURE_HORIZONTAL_PLUMB : MEASURE_VERTICAL_PLUMB);
            tool->Measure(label, increment, at, client);
        } else if (interiorOrientationMode && !(camera->FindFiducial(label))) {
            char text[128];
            std::snprintf(text, sizeof text, "Point label '%s' doesn't exist in the fiducials", label.GetText());
            AfxMessageBox(text, MB_ICONERROR);
        } else {
            const bool ctrl = modifiers & Qt::ControlModifier;
            tool->SetKind(autoMode ? (ctrl ? MEASURE_REGION_CHECKED : MEASURE_AUTO_CENTROID) : MEASURE_MANUAL);
            if (tool->Measure(label, increment, at, client)) {
                if (relativeOrientationMode)
                    PostHubMessage(UM_RO_MEASURED);
                CKestrelonDoc* doc = GetDoc();
                if (eoDeviceMode && doc) {
                    image->MarkObservation(label);
                    const int index = doc->eoDevice.IndexOfLabel(label);
                    CNameBuffer next;
                    if (index >= 0 && index == doc->eoDevice.GetSize() - 1) {
                        eoDeviceMode = false;
                        ResectFromEODevice();
                    } else if (doc->eoDevice.GetNextLabel(label, next)) {
                        label = next;
                    }
                } else if (interiorOrientationMode) {
                    // A mark measured again replaces its old measurement.
                    image->RemoveFiducialObservation(label);
                    image->MoveToFiducials(label);
                    UpdateInteriorOrientationResults();
                    handle->FullView();
                    UpdateScrollBars();
                    SetMode(MODE_ZOOM_IN);
                    label.AddToNumber(increment);
                } else if (label.GetText()[0]) {
                    label.AddToNumber(increment);
                }
                QApplication::beep();
                UpdateDialogBar();
            }
        }
        if (tool && tool->GetChangeCount() != changesBefore)
            if (CKestrelonDoc* doc = GetDoc())
                doc->SetModifiedFlag(true);
        Redraw();
        return;
    }
    if (areaSelected) {
        DeleteByArea(selection);
        areaSelected = false;
        selection = QRect();
        if (CKestrelonDoc* doc = GetDoc())
            doc->SetModifiedFlag(true);
        Redraw();
        return;
    }
    if (mode == MODE_DELETE_BY_AREA) {
        dragging = true;
        dragStart = point;
        selection = QRect(point, point);
        return;
    }
    if (handle && (mode == MODE_ZOOM_IN || mode == MODE_ZOOM_OUT)) {
        handle->ZoomAt(at, client, (mode == MODE_ZOOM_IN) != shift);
        UpdateScrollBars();
        Redraw();
    }
}

void CImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging)
        return;
    dragging = false;
    const QRect r = QRect(dragStart, event->position().toPoint()).normalized();
    if (event->position().toPoint().x() != dragStart.x() && event->position().toPoint().y() != dragStart.y()) {
        selection = r;
        areaSelected = true;
    } else {
        selection = QRect();
    }
    Redraw();
}

void CImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!image)
        return;
    const QPoint point = event->position().toPoint();
    lastMouse = point;
    if (centroidWindow)
        centroidWindow->update();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (mode) {
    case MODE_DIGITIZE: {
        viewport()->setCursor(Qt::CrossCursor);
        double column = 0.0, row = 0.0;
        if (handle && camera && handle->ViewToImage({point.x(), point.y()}, ClientRect(), column, row)) {
            double x = 0.0, y = 0.0;
            camera->PixelToImage(column, row, x, y);
            char text[160];
            std::snprintf(text, sizeof text, "PtNum = %s, x = %5.3lf, y = %5.3lf", label.GetText(), x, y);
            SendHubMessage(UM_STATUS_TEXT, 1, std::intptr_t(text));
        }
        ShowLabelInDialogBar();
        break;
    }
    case MODE_ZOOM_IN:
    case MODE_ZOOM_OUT:
        viewport()->setCursor((mode == MODE_ZOOM_IN) != shift ? Qt::PointingHandCursor : Qt::SizeAllCursor);
        break;
    case MODE_DELETE_BY_AREA:
        viewport()->setCursor(Qt::ArrowCursor);
        if (dragging) {
            selection = QRect(dragStart, point).normalized();
            Redraw();
        }
        break;
    }
}

void CImageView::keyPressEvent(QKeyEvent* event)
{
    if (!handle) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Up) {
        if (brightnessGain < 10.0) {
            brightnessGain *= 2.0;
            handle->Enhance(brightnessGain);
            Redraw();
        }
        return;
    }
    if (event->key() == Qt::Key_Down) {
        if (brightnessGain > 0.5) {
            brightnessGain /= 2.0;
            handle->Enhance(brightnessGain);
            Redraw();
        }
        return;
    }
    // Alt and Ctrl combinations are commands, never typed labels.
    if (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const QString typed = event->text();
    CMainFrame* main = AfxGetMainFrame();
    QLineEdit* box = (main && main->GetToolBar()) ? main->GetToolBar()->m_PointLabel : nullptr;
    if (typed.size() == 1 && box) {
        if (typed[0] == QChar('\b')) {
            QString text = box->text();
            text.chop(1);
            box->setText(text);
        } else if (typed[0].isPrint()) {
            box->setText(typed);
        } else {
            return;
        }
        box->setCursorPosition(int(box->text().size()));
        box->setFocus();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CImageView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    UpdateStatusPanes();
}

void CImageView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    CMainFrame* main = AfxGetMainFrame();
    if (main && main->statusBar()->isVisible())
        main->SetPaneText(4, QString());
}

// --- drawing ------------------------------------------------------------------

void CImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    OnDraw(painter, viewport()->rect(), 1.0, false);
    // Drawn once: the next repaint removes them.
    if (!epipolarLines.empty()) {
        DrawEpipolarLines(painter, viewport()->rect());
        epipolarLines.clear();
    }
}

void CImageView::OnDraw(QPainter& painter, const QRect& client, double u, bool printing)
{
    CKestrelonDoc* doc = GetDoc();
    const bool busy = doc && doc->IsJobRunning();
    if (busy)
        WatchJobEnd();
    if (!handle || !handle->GetPicture()) {
        if (busy) {
            painter.fillRect(client, QColor(30, 30, 30));
            return;
        }
        DrawCoordinatePage(painter, client, u);
        return;
    }
    DrawPicture(painter, client);
    if (busy)
        return; // a job may be rewriting the observation lists
    if (!image)
        return;
    DrawMarks(painter, client, u);
    if (residualView)
        DrawResidualVectors(painter, client);
    if (image->CountMarkedObservations() > 0)
        DrawEODeviceOutline(painter, client);
    if (areaSelected || dragging) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.setPen(Qt::white);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(selection);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (printing && doc) {
        const CCamera* cam = camera;
        char footer[512];
        std::snprintf(footer, sizeof footer, "%s - %s (%s)", doc->GetTitleWithoutMark().toLocal8Bit().constData(),
                      image->name.GetText(), cam ? cam->identifier.GetText() : "");
        painter.setFont(LabelFont(u));
        painter.setPen(Qt::black);
        painter.drawText(QRect(client.left(), client.bottom() + 1, client.width(), int(60 * u)),
                         Qt::AlignLeft | Qt::AlignTop, FromCp1252(footer));
    }
}

void CImageView::WatchJobEnd()
{
    if (wasJobRunning)
        return;
    wasJobRunning = true;
    // Repaints in full once the job has ended.
    if (!jobTimer) {
        jobTimer = new QTimer(this);
        jobTimer->setInterval(200);
        connect(jobTimer, &QTimer::timeout, this, [this] {
            CKestrelonDoc* doc = GetDoc();
            if (doc && doc->IsJobRunning())
                return;
            jobTimer->stop();
            wasJobRunning = false;
            Redraw();
        });
    }
    jobTimer->start();
}

void CImageView::DrawPicture(QPainter& painter, const QRect& client)
{
    CDisplayImage* picture = handle->GetPicture();
    const CBitmapInfo* header = picture->GetColorHeader();
    const uint8_t* bits = picture->GetPixelBits();
    if (client.isEmpty() || !bits || !header)
        return;
    CIntRect visible;
    picture->GetVisibleRect(visible);
    if (visible.Width() <= 0 || visible.Height() <= 0)
        return;
    // Never more pixels than the client or the visible part has.
    const QSize size(std::min(client.width(), visible.Width()), std::min(client.height(), visible.Height()));
    if (cache.size() != size || cacheGeneration != handle->GetGeneration() || cacheHeader != header) {
        cache = QImage(size, QImage::Format_RGB32);
        const int width = picture->GetWidth();
        const int height = picture->GetHeight();
        const int bytesPerLine = picture->GetBytesPerLine();
        const int bitCount = picture->GetBitCount();
        QRgb table[256];
        for (int i = 0; i < 256; ++i)
            table[i] = i < int(header->colors.size())
                           ? qRgb(header->colors[i].red, header->colors[i].green, header->colors[i].blue)
                           : qRgb(i, i, i);
        const int cw = size.width();
        const int ch = size.height();
        std::vector<int> columns(static_cast<std::size_t>(cw));
        const double sx = double(visible.Width()) / cw;
        for (int x = 0; x < cw; ++x)
            columns[std::size_t(x)] = std::clamp(visible.left + int((x + 0.5) * sx), 0, width - 1);
        const double sy = double(visible.Height()) / ch;
        for (int y = 0; y < ch; ++y) {
            const int row = std::clamp(visible.top + int((y + 0.5) * sy), 0, height - 1);
            const uint8_t* line = bits + std::ptrdiff_t(height - 1 - row) * bytesPerLine; // bottom-up
            auto* out = reinterpret_cast<QRgb*>(cache.scanLine(y));
            if (bitCount == 8) {
                for (int x = 0; x < cw; ++x)
                    out[x] = table[line[columns[std::size_t(x)]]];
            } else if (bitCount == 24) {
                for (int x = 0; x < cw; ++x) {
                    const uint8_t* p = line + 3 * columns[std::size_t(x)];
                    out[x] = qRgb(p[2], p[1], p[0]);
                }
            } else {
                std::fill(out, out + cw, qRgb(128, 128, 128));
            }
        }
        cacheGeneration = handle->GetGeneration();
        cacheHeader = header;
    }
    // Scaled without smoothing: nearest neighbour.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(client, cache);
}

void CImageView::ShownExtent(double extent[4]) const
{
    if (handle && handle->GetPicture() && camera) {
        CIntRect visible;
        handle->GetPicture()->GetVisibleRect(visible);
        double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
        camera->PixelToImage(visible.left, visible.bottom, x0, y0);
        camera->PixelToImage(visible.right, visible.top, x1, y1);
        extent[0] = std::min(x0, x1), extent[1] = std::max(x0, x1);
        extent[2] = std::min(y0, y1), extent[3] = std::max(y0, y1);
        return;
    }
    std::copy(pageExtent, pageExtent + 4, extent);
}

QPoint CImageView::ImageToDevice(double x, double y, const QRect& client) const
{
    double e[4];
    ShownExtent(e);
    const double w = e[1] - e[0], h = e[3] - e[2];
    if (w == 0.0 || h == 0.0)
        return QPoint(client.left(), client.top());
    // right and bottom as the exclusive edges of the client area
    const double right = client.left() + client.width();
    return QPoint(int(std::lround(right - (e[1] - x) / w * client.width())),
                  int(std::lround(client.top() + (e[3] - y) / h * client.height())));
}

QColor CImageView::MarkColor(const CImageObservation& o, bool fiducial) const
{
    CKestrelonDoc* doc = GetDoc();
    if (IsUnidentifiedLabel(o.label))
        return kRed;
    if (!doc)
        return kGreen;
    if (fiducial || o.fiducial)
        return FromColorRef(doc->GetFiducialColor());
    return FromColorRef(o.measured ? doc->GetCentroidColor() : doc->GetManualColor());
}

QFont CImageView::LabelFont(double u) const
{
    // Height 300 read as tenths of a point, a point taken as one device
    // pixel at u = 1: 30 u pixels.
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(std::max(1, int(std::lround(30.0 * u))));
    return font;
}

void CImageView::DrawMark(QPainter& painter, const CImageObservation& o, const QRect& client, double u, int markMode,
                          bool fiducial)
{
    const QPoint p = ImageToDevice(o.x, o.y, client);
    const QColor colour = markMode == 1 ? kGreen : MarkColor(o, fiducial);
    painter.setPen(QPen(colour, 1));
    painter.setBrush(colour);
    const int style = residualView ? -1 : targetOverlay;
    if (style == 1) {
        const int d = int(std::lround(7 * u));
        painter.drawLine(p.x() - d, p.y(), p.x() + d, p.y());
        painter.drawLine(p.x(), p.y() - d, p.x(), p.y() + d);
    } else {
        const double d = 2 * u;
        painter.drawRoundedRect(QRectF(p.x() - d, p.y() - d, 2 * d, 2 * d), d / 2, d / 2);
    }
    if (numberPoints && style != -1 && markMode == 0 && !IsUnidentifiedLabel(o.label)) {
        painter.setFont(LabelFont(u));
        const QString text = fiducial ? QStringLiteral(" F") + FromCp1252(o.label.GetText())
                                      : FromCp1252(o.label.GetText());
        painter.drawText(QPoint(p.x() + 1, p.y() + 1 + painter.fontMetrics().ascent()), text);
    }
    if (o.GetEllipse())
        DrawEllipse(painter, o, client);
}

void CImageView::DrawEllipse(QPainter& painter, const CImageObservation& o, const QRect& client)
{
    const CTargetEllipse* e = o.GetEllipse();
    const double c = std::cos(e->rotation), s = std::sin(e->rotation);
    QPolygon polygon;
    for (int k = 0; k < 20; ++k) {
        const double t = k * 0.1 * M_PI;
        const double a = e->minor * std::cos(t), b = e->major * std::sin(t);
        polygon << ImageToDevice(e->centreX + a * c - b * s, e->centreY + a * s + b * c, client);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(polygon);
}

void CImageView::DrawMarks(QPainter& painter, const QRect& client, double u)
{
    const QRect inside = client.adjusted(0, 0, 1, 1);
    for (int i = 0; i < image->targets.GetSize(); ++i) {
        const CImageObservation* o = image->targets.GetAt(i);
        if (o && !o->fiducial && inside.contains(ImageToDevice(o->x, o->y, client)))
            DrawMark(painter, *o, client, u, 0, false);
    }
    for (int i = 0; i < image->fiducials.GetSize(); ++i) {
        const CImageObservation* o = image->fiducials.GetAt(i);
        if (o && inside.contains(ImageToDevice(o->x, o->y, client)))
            DrawMark(painter, *o, client, u, 0, true);
    }
}

void CImageView::DrawResidualVectors(QPainter& painter, const QRect& client)
{
    CKestrelonDoc* doc = GetDoc();
    const QColor colour = doc ? FromColorRef(doc->GetResidualVectorColor()) : kRed;
    for (int i = 0; i < image->targets.GetSize(); ++i) {
        const CImageObservation* o = image->targets.GetAt(i);
        if (!o || (o->vx == 0.0 && o->vy == 0.0))
            continue;
        painter.setPen(QPen(o->rejected ? kRed : colour, 1));
        painter.drawLine(ImageToDevice(o->x, o->y, client),
                         ImageToDevice(o->x + residualScale * o->vx, o->y + residualScale * o->vy, client));
    }
}

void CImageView::DrawEODeviceOutline(QPainter& painter, const QRect& client)
{
    std::vector<const CImageObservation*> marked;
    for (int i = 0; i < image->targets.GetSize(); ++i)
        if (const CImageObservation* o = image->targets.GetAt(i); o && o->marked)
            marked.push_back(o);
    if (marked.size() < 2)
        return;
    painter.setPen(QPen(image->oriented ? kGreen : kRed, 1));
    for (std::size_t i = 0; i + 1 < marked.size(); ++i)
        painter.drawLine(ImageToDevice(marked[i]->x, marked[i]->y, client),
                         ImageToDevice(marked[i + 1]->x, marked[i + 1]->y, client));
    CKestrelonDoc* doc = GetDoc();
    if (doc && doc->eoDevice.GetSize() > 0)
        painter.drawLine(ImageToDevice(marked.back()->x, marked.back()->y, client),
                         ImageToDevice(marked.front()->x, marked.front()->y, client));
}

void CImageView::DrawCoordinatePage(QPainter& painter, const QRect& client, double u)
{
    painter.fillRect(client, QColor(30, 30, 30));
    if (!image)
        return;
    double e[4] = {10000.0, -10000.0, 10000.0, -10000.0};
    bool any = false;
    for (const CObservationList* list : {&image->targets, &image->fiducials})
        for (int i = 0; i < list->GetSize(); ++i)
            if (const CImageObservation* o = list->GetAt(i)) {
                e[0] = std::min(e[0], o->x - 1.0), e[1] = std::max(e[1], o->x + 1.0);
                e[2] = std::min(e[2], o->y - 1.0), e[3] = std::max(e[3], o->y + 1.0);
                any = true;
            }
    if (!any && camera && camera->fiducials.GetSize() == 0) {
        const double hw = camera->GetHalfSensorWidth(), hh = camera->GetHalfSensorHeight();
        e[0] = -hw, e[1] = hw, e[2] = -hh, e[3] = hh;
    }
    std::copy(e, e + 4, pageExtent);
    if (!any)
        return;
    painter.setFont(LabelFont(u));
    const int d = int(std::lround(3 * u));
    for (const CObservationList* list : {&image->targets, &image->fiducials})
        for (int i = 0; i < list->GetSize(); ++i)
            if (const CImageObservation* o = list->GetAt(i)) {
                const QPoint p = ImageToDevice(o->x, o->y, client);
                const QColor colour = MarkColor(*o, list == &image->fiducials);
                painter.setPen(QPen(colour, 1));
                painter.drawLine(p.x() - d, p.y(), p.x() + d, p.y());
                painter.drawLine(p.x(), p.y() - d, p.x(), p.y() + d);
                painter.drawText(QPoint(p.x() + 1, p.y() + 1 + painter.fontMetrics().ascent()),
                                 FromCp1252(o->label.GetText()));
                if (o->GetEllipse())
                    DrawEllipse(painter, *o, client);
            }
}

// --- registration ---------------------------------------------------------------

void InstallImageView(CDocTemplate* imageTemplate)
{
    if (imageTemplate)
        imageTemplate->SetViewFactory([](QWidget* parent) -> CView* { return new CImageView(parent); });
    CChildFrame::SetInteriorOrientationFactory(
        [](CChildFrame* owner) -> CInteriorOrientationDlgBase* { return new CInteriorOrientationDlg(owner, owner); });
    InstallRelativeOrientationDialog();
}

CImageView* OpenImageWindow(CKestrelonDoc* doc, CProjectImage* record)
{
    CKestrelonApp* app = AfxGetApp();
    CDocTemplate* imageTemplate = app ? app->GetImageTemplate() : nullptr;
    if (!doc || !record || !imageTemplate)
        return nullptr;
    CMDIChildWnd* frame = imageTemplate->CreateNewFrame(doc);
    if (!frame)
        return nullptr;
    auto* view = dynamic_cast<CImageView*>(frame->GetActiveView());
    imageTemplate->InitialUpdateFrame(frame, doc);
    if (view)
        view->SetImage(record);
    return view;
}

CImageView* GetActiveImageView()
{
    CMainFrame* main = AfxGetMainFrame();
    CMDIChildWnd* child = main ? main->MDIGetActive() : nullptr;
    return child ? dynamic_cast<CImageView*>(child->GetActiveView()) : nullptr;
}

// --- commands -------------------------------------------------------------------

bool CImageView::HasObservations() const
{
    return image && (image->targets.GetSize() > 0 || image->fiducials.GetSize() > 0);
}

void CImageView::RegisterCommands()
{
    auto checkMode = [this](Mode m) { return [this, m](CCmdUI* ui) { ui->Enable(); ui->SetCheck(mode == m); }; };
    CCmdTarget::OnCommand(32795, [this] { SetMode(MODE_ZOOM_IN); });
    CCmdTarget::OnUpdate(32795, checkMode(MODE_ZOOM_IN));
    CCmdTarget::OnCommand(32796, [this] { SetMode(MODE_ZOOM_OUT); });
    CCmdTarget::OnUpdate(32796, checkMode(MODE_ZOOM_OUT));
    CCmdTarget::OnCommand(32790, [this] { SetMode(MODE_DIGITIZE); });
    CCmdTarget::OnUpdate(32790, checkMode(MODE_DIGITIZE));
    CCmdTarget::OnCommand(32808, [] {});
    CCmdTarget::OnUpdate(32808, [](CCmdUI* ui) { ui->Enable(false); });
    CCmdTarget::OnCommand(32809, [this] { OpenCentroidWindow(); });
    CCmdTarget::OnCommand(32851, [this] {
        if (!image)
            return;
        CEditCameraStationDlg dlg(image, this, GetDoc());
        dlg.DoModal();
    });
    CCmdTarget::OnUpdate(32851, [this](CCmdUI* ui) { ui->Enable(image != nullptr); });
    CCmdTarget::OnCommand(57607, [this] {
        QPrinter printer(QPrinter::HighResolution);
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() == QDialog::Accepted)
            PrintTo(printer);
    });
    CCmdTarget::OnCommand(57609, [this] {
        QPrinter printer(QPrinter::HighResolution);
        QPrintPreviewDialog preview(&printer, this);
        connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PrintTo(*p); });
        preview.exec();
    });
    CCmdTarget::OnCommand(32896, [this] {
        if (handle)
            handle->FullView();
        UpdateScrollBars();
        Redraw();
    });
    // Without a picture there is nothing to show in full.
    CCmdTarget::OnUpdate(32896, [this](CCmdUI* ui) { ui->Enable(handle && handle->GetPicture()); });
    CCmdTarget::OnCommand(32959, [this] { SwitchImage(true); });
    CCmdTarget::OnUpdate(32959, [this](CCmdUI* ui) { ui->Enable(GetDoc() && image && GetDoc()->GetNextImage(image)); });
    CCmdTarget::OnCommand(32960, [this] { SwitchImage(false); });
    CCmdTarget::OnUpdate(32960, [this](CCmdUI* ui) { ui->Enable(GetDoc() && image && GetDoc()->GetPreviousImage(image)); });
    CCmdTarget::OnCommand(32791, [this] { autoMode = !autoMode; });
    CCmdTarget::OnUpdate(32791, [this](CCmdUI* ui) {
        ui->Enable(handle != nullptr);
        ui->SetCheck(autoMode);
    });
    CCmdTarget::OnCommand(33071, [this] { autoMode = !autoMode; });
    CCmdTarget::OnUpdate(33071, [this](CCmdUI* ui) {
        ui->Enable();
        ui->SetCheck(!autoMode);
    });
    CCmdTarget::OnCommand(32818, [this] { SetMode(MODE_DELETE_BY_AREA); });
    CCmdTarget::OnUpdate(32818, [this](CCmdUI* ui) {
        const bool any = HasObservations();
        if (!any && mode == MODE_DELETE_BY_AREA)
            SetMode(MODE_DIGITIZE);
        ui->Enable(any);
        ui->SetCheck(any && mode == MODE_DELETE_BY_AREA);
    });
    CCmdTarget::OnCommand(32962, [this] { Undo(); });
    CCmdTarget::OnUpdate(32962, [this](CCmdUI* ui) { ui->Enable(ownList.GetSize() > 0); });
    CCmdTarget::OnCommand(33011, [this] {
        residualScale = residualScale == 0 ? 1 : residualScale;
        residualScale *= 2;
        UpdateStatusPanes();
        Redraw();
    });
    CCmdTarget::OnCommand(33012, [this] {
        residualScale = std::max(1, residualScale / 2);
        UpdateStatusPanes();
        Redraw();
    });
    // Alt+= and Alt+- of the popup's entries, while the focus is in this window.
    for (const auto& [id, key] : {std::pair<int, Qt::Key>{33011, Qt::Key_Equal}, {33012, Qt::Key_Minus}}) {
        auto* shortcut = new QAction(this);
        shortcut->setShortcut(QKeySequence(Qt::ALT | key));
        shortcut->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        shortcut->setData(id);
        connect(shortcut, &QAction::triggered, this, [this, id = id] { OnCmdMsg(id, nullptr); });
        addAction(shortcut);
    }
    RegisterImageCommands();
    for (int id : {33019, 33020})
        CCmdTarget::OnUpdate(id, [this](CCmdUI* ui) { ui->Enable(residualView); });
    // Document commands that do not apply while an image window is active.
    for (int id : {316, 317, 363}) {
        CCmdTarget::OnCommand(id, [] {});
        CCmdTarget::OnUpdate(id, [](CCmdUI* ui) { ui->Enable(false); });
    }
    // The dialog bar's controls.
    for (int id : {1854, 1855, 1856, 1857, 33089})
        CCmdTarget::OnUpdate(id, [this, id](CCmdUI* ui) { ui->Enable(id != 33089 || HasCommandHandler(id)); });

    CMainFrame* main = AfxGetMainFrame();
    if (CMainToolBar* bar = main ? main->GetToolBar() : nullptr) {
        if (bar->m_PointLabel)
            connect(bar->m_PointLabel, &QLineEdit::textChanged, this, [this](const QString& text) {
                if (!labelBoxSync || GetActiveImageView() != this)
                    return;
                // An empty box numbers the next target as unidentified; a
                // text that is not a label is kept for the click to refuse.
                refusedLabelText.clear();
                if (text.trimmed().isEmpty())
                    label = CNameBuffer();
                else if (!ParsePointLabel(text, label))
                    refusedLabelText = text;
            });
        if (bar->m_PointIncrement)
            connect(bar->m_PointIncrement, &QLineEdit::textChanged, this, [this](const QString& text) {
                if (labelBoxSync && GetActiveImageView() == this)
                    increment = text.toInt();
            });
    }
}

const std::vector<int>& CImageView::ContextMenuIds()
{
    static const std::vector<int> ids = {32851, 32948, 32876, -1, 32899, 32900, 32901, 32902, 32903, 32904, 32905,
                                         -2, 33082, 32931, 0, 33017, 33011, 33012};
    return ids;
}

QMenu* CImageView::BuildContextMenu(QWidget* parent)
{
    CMainFrame* main = AfxGetMainFrame();
    if (!main)
        return nullptr;
    static const std::map<int, const char*> texts = {
        {32851, "Edit Exterior Orientation\tAlt+Return"}, {32948, "Resect"}, {32876, "Delete All Observations"},
        {32899, "Histogram Stretch"}, {32900, "Restore"}, {32901, "Equalize"}, {32902, "x 0.5"}, {32903, "x 2"},
        {32904, "x 4"}, {32905, "x 8"}, {33082, "Align to Camera"}, {32931, "View Epipolar Lines..."}, {33017, "View Residuals"},
        {33011, "Increase Residuals\tAlt + ="}, {33012, "Decrease Residuals\tAlt + -"}};
    auto* menu = new QMenu(parent);
    QMenu* target = menu;
    for (int id : ContextMenuIds()) {
        if (id == -1) {
            target = menu->addMenu(QStringLiteral("Brightness"));
        } else if (id == -2) {
            target = menu;
        } else if (id == 0) {
            target->addSeparator();
        } else {
            QAction* action = main->GetAction(id);
            action->setText(QString::fromLatin1(texts.at(id)));
            CCmdUI ui(id, action);
            main->RouteCommand(id, &ui);
            target->addAction(action);
        }
    }
    return menu;
}

void CImageView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = BuildContextMenu(this)) {
        menu->exec(event->globalPos());
        delete menu;
    }
}

// --- Centroid Window ----------------------------------------------------------------

void CImageView::OpenCentroidWindow()
{
    if (centroidWindow)
        return;
    centroidWindow = new CCentroidWindow(this);
    centroidWindow->show();
    centroidWindow->PlaceAtView();
}

void CImageView::CloseCentroidWindow()
{
    delete centroidWindow;
    centroidWindow = nullptr;
}

void CImageView::DrawMagnified(QPainter& painter, const QRect& target)
{
    painter.fillRect(target, Qt::black);
    CDisplayImage* picture = handle ? handle->GetPicture() : nullptr;
    if (!picture || !picture->GetColorHeader() || !picture->GetPixelBits() || target.isEmpty())
        return;
    double column = 0.0, row = 0.0;
    if (!picture->ViewToImage({lastMouse.x(), lastMouse.y()}, ClientRect(), column, row))
        return;
    const int size = GetCentroidSettings().windowSize;
    const int width = picture->GetWidth(), height = picture->GetHeight();
    const int side = std::min({2 * size, width, height});
    const int left = std::clamp(int(column) - side / 2, 0, width - side);
    const int top = std::clamp(int(row) - side / 2, 0, height - side);
    const CBitmapInfo* header = picture->GetColorHeader();
    const uint8_t* bits = picture->GetPixelBits();
    const int bytesPerLine = picture->GetBytesPerLine();
    const int bitCount = picture->GetBitCount();
    QImage square(target.size(), QImage::Format_RGB32);
    for (int y = 0; y < square.height(); ++y) {
        const int r = top + y * side / square.height();
        const uint8_t* line = bits + std::ptrdiff_t(height - 1 - r) * bytesPerLine;
        auto* out = reinterpret_cast<QRgb*>(square.scanLine(y));
        for (int x = 0; x < square.width(); ++x) {
            const int c = left + x * side / square.width();
            if (bitCount == 8) {
                const uint8_t v = line[c];
                out[x] = v < header->colors.size()
                             ? qRgb(header->colors[v].red, header->colors[v].green, header->colors[v].blue)
                             : qRgb(v, v, v);
            } else if (bitCount == 24) {
                out[x] = qRgb(line[3 * c + 2], line[3 * c + 1], line[3 * c]);
            }
        }
    }
    painter.drawImage(target.topLeft(), square);
    CKestrelonDoc* doc = GetDoc();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(doc ? FromColorRef(doc->GetCentroidColor()) : kGreen, 1));
    const int w = target.width(), h = target.height();
    painter.drawRect(target.left() + w / 4, target.top() + h / 4, w / 2, h / 2);
    const QPoint centre = target.center();
    painter.setPen(QPen(kGreen, 1));
    painter.drawLine(centre.x() + 1, centre.y() - 2, centre.x() + 1, centre.y() + 3);
    painter.drawLine(centre.x() - 1, centre.y(), centre.x() + 4, centre.y());
    if (!HasObservations() || !camera)
        return;
    // The marks inside the centroid window square, mapped into the target.
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    const int boxLeft = std::clamp(int(column) - size, 0, std::max(0, width - 2 * size));
    const int boxTop = std::clamp(int(row) - size, 0, std::max(0, height - 2 * size));
    camera->PixelToImage(boxLeft, boxTop, x0, y0);
    camera->PixelToImage(boxLeft + 2 * size, boxTop + 2 * size, x1, y1);
    const double xMin = std::min(x0, x1), xMax = std::max(x0, x1), yMin = std::min(y0, y1), yMax = std::max(y0, y1);
    painter.setBrush(kGreen);
    for (const CObservationList* list : {&image->targets, &image->fiducials})
        for (int i = 0; i < list->GetSize(); ++i)
            if (const CImageObservation* o = list->GetAt(i); o && o->x >= xMin && o->x <= xMax && o->y >= yMin && o->y <= yMax) {
                double c = 0.0, r = 0.0;
                camera->ImageToPixel(o->x, o->y, c, r);
                const QPointF p(target.left() + (c - left) * w / side, target.top() + (r - top) * h / side);
                painter.drawRoundedRect(QRectF(p.x() - 2, p.y() - 2, 4, 4), 1, 1);
            }
}

// --- printing -----------------------------------------------------------------------

bool CImageView::PrintTo(QPrinter& printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const double u = printer.resolution() / 100.0;
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution()).translated(
        -printer.pageLayout().paintRectPixels(printer.resolution()).topLeft());
    // Room for the footer below the picture.
    const int footer = int(std::lround(60 * u));
    QRect area(0, 0, page.width(), std::max(1, page.height() - footer));
    if (handle && handle->GetPicture()) {
        CIntRect visible;
        handle->GetPicture()->GetVisibleRect(visible);
        if (visible.Width() > 0 && visible.Height() > 0) {
            const double scale = std::min(double(area.width()) / visible.Width(), double(area.height()) / visible.Height());
            area.setSize(QSize(std::max(1, int(visible.Width() * scale)), std::max(1, int(visible.Height() * scale))));
        }
    }
    cacheGeneration = ~0u; // the page size differs from the view's
    OnDraw(painter, area, u, true);
    cacheGeneration = ~0u;
    painter.end();
    return true;
}
