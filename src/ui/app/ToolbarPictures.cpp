#include "ToolbarPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <vector>

namespace {

// Colours of the drawn pictures.
const QColor kInk(40, 40, 48);
const QColor kPaper(250, 250, 246);
const QColor kFolder(236, 188, 72);
const QColor kBlue(52, 101, 164);
const QColor kGreen(60, 140, 70);
const QColor kRed(200, 40, 40);
const QColor kGlass(200, 225, 245);

QPen Ink(double width = 1.0, const QColor& colour = kInk)
{
    QPen pen(colour, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// An arrow head at tip, pointing along (dx, dy).
void ArrowHead(QPainter& p, QPointF tip, double dx, double dy, double size, const QColor& colour)
{
    const double length = std::hypot(dx, dy);
    if (length <= 0)
        return;
    dx /= length;
    dy /= length;
    const QPointF back = tip - QPointF(dx, dy) * size;
    const QPointF side(-dy * size * 0.6, dx * size * 0.6);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF{tip, back + side, back - side});
}

void Page(QPainter& p)
{
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(9.5, 1.5);
    page.lineTo(13.5, 5.5);
    page.lineTo(13.5, 14.5);
    page.lineTo(3.5, 14.5);
    page.closeSubpath();
    p.setPen(Ink());
    p.setBrush(kPaper);
    p.drawPath(page);
    p.drawPolyline(QPolygonF{{9.5, 1.5}, {9.5, 5.5}, {13.5, 5.5}});
    p.setPen(Ink(1.0, QColor(230, 170, 20)));
    p.drawLine(QPointF(11, 9), QPointF(11, 13)); // a sparkle: new
    p.drawLine(QPointF(9, 11), QPointF(13, 11));
}

void Folder(QPainter& p)
{
    p.setPen(Ink());
    p.setBrush(kFolder.darker(115));
    p.drawPolygon(QPolygonF{{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 13.5}, {1.5, 13.5}});
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF{{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}); // the open flap
}

void Disk(QPainter& p)
{
    p.setPen(Ink());
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF{{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}});
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 1.5, 8, 5)); // the label
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(160, 170, 180));
    p.drawRect(QRectF(4, 9.5, 8, 5)); // the shutter
    p.setBrush(kInk);
    p.drawRect(QRectF(9, 10.5, 2, 3));
}

void Target(QPainter& p, QPointF centre, double radius)
{
    p.setPen(Ink());
    p.setBrush(kPaper);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(kInk);
    p.drawEllipse(centre, radius * 0.4, radius * 0.4);
}

void Driveback(QPainter& p)
{
    Target(p, QPointF(10.5, 10.5), 4.5);
    // A curved arrow from the target back to the corner.
    p.setPen(Ink(1.4, kGreen));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(10.5, 4.5);
    path.quadTo(4, 1.5, 3, 8);
    p.drawPath(path);
    ArrowHead(p, QPointF(3, 10.5), -0.2, 1, 3.5, kGreen);
}

void Bundle(QPainter& p)
{
    // Rays from three stations meeting in a point.
    const QPointF point(8, 9);
    const QPointF stations[] = {{2, 2.5}, {14, 2.5}, {8, 15}};
    p.setPen(Ink(1.0, kGreen));
    for (const QPointF& s : stations)
        p.drawLine(s, point);
    p.setPen(Ink());
    p.setBrush(kBlue);
    for (const QPointF& s : stations)
        p.drawRect(QRectF(s - QPointF(1.8, 1.8), QSizeF(3.6, 3.6)));
    p.setBrush(kRed);
    p.drawEllipse(point, 2, 2);
}

void Camera(QPainter& p)
{
    p.setPen(Ink());
    p.setBrush(QColor(90, 90, 100));
    p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
    p.drawRect(QRectF(5, 2.5, 5, 2));
    p.setBrush(kGlass);
    p.drawEllipse(QPointF(8, 9), 3.2, 3.2);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(8, 9), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 220, 80));
    p.drawRect(QRectF(11.5, 6, 2, 1.5)); // the flash
}

void Crosshair(QPainter& p)
{
    p.setPen(Ink(1.0, kRed));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(8, 8), 5, 5);
    p.drawLine(QPointF(8, 0.5), QPointF(8, 5.5));
    p.drawLine(QPointF(8, 10.5), QPointF(8, 15.5));
    p.drawLine(QPointF(0.5, 8), QPointF(5.5, 8));
    p.drawLine(QPointF(10.5, 8), QPointF(15.5, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QPointF(8, 8), 1, 1);
}

void Pencil(QPainter& p)
{
    // Measuring by hand: a pencil on a small target.
    Target(p, QPointF(4.5, 11.5), 3.5);
    p.setPen(Ink());
    p.setBrush(QColor(240, 190, 60));
    p.drawPolygon(QPolygonF{{7.5, 8.5}, {13.5, 2.5}, {15, 4}, {9, 10}});
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF{{7.5, 8.5}, {9, 10}, {6.5, 11}});
}

void Undo(QPainter& p)
{
    p.setPen(Ink(1.8, kBlue));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(5, 6);
    path.cubicTo(12, 3, 16, 10, 9, 14);
    p.drawPath(path);
    ArrowHead(p, QPointF(1.5, 7.5), -1, 0.45, 5, kBlue);
}

void Tag(QPainter& p)
{
    p.setPen(Ink());
    p.setBrush(QColor(250, 230, 150));
    p.drawPolygon(QPolygonF{{1.5, 8}, {6, 3.5}, {14.5, 3.5}, {14.5, 12.5}, {6, 12.5}});
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(5, 8), 1.2, 1.2);
    p.setPen(Ink(1.0, kInk));
    p.drawLine(QPointF(8, 6.5), QPointF(12.5, 6.5));
    p.drawLine(QPointF(8, 9.5), QPointF(11, 9.5));
}

void DeleteArea(QPainter& p)
{
    QPen dashed = Ink();
    dashed.setDashPattern({2, 1.5});
    p.setPen(dashed);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1.5, 1.5, 11, 11));
    p.setPen(Ink(1.2));
    p.drawEllipse(QPointF(5, 5), 1.2, 1.2);
    p.drawEllipse(QPointF(9, 8), 1.2, 1.2);
    p.setPen(Ink(2.2, kRed));
    p.drawLine(QPointF(9, 9), QPointF(15, 15));
    p.drawLine(QPointF(15, 9), QPointF(9, 15));
}

void Arrow(QPainter& p, bool right)
{
    const double dir = right ? 1 : -1;
    const double x0 = right ? 2 : 14;
    p.setPen(Ink(3.0, kBlue));
    p.drawLine(QPointF(x0, 8), QPointF(8, 8));
    ArrowHead(p, QPointF(x0 + dir * 13, 8), dir, 0, 7.5, kBlue);
}

void Magnifier(QPainter& p, bool in)
{
    p.setPen(Ink(1.2));
    p.setBrush(kGlass);
    p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
    p.setPen(Ink(3.0, QColor(110, 80, 40)));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14.5, 14.5));
    p.setPen(Ink(1.6));
    p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
    if (in)
        p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
}

void Ratio(QPainter& p)
{
    // A picture frame with arrows to its corners: the aspect set right.
    p.setPen(Ink());
    p.setBrush(kGlass);
    p.drawRect(QRectF(3.5, 4.5, 9, 7));
    p.setPen(Ink(1.0, kGreen));
    p.drawLine(QPointF(4.5, 7), QPointF(11.5, 9));
    ArrowHead(p, QPointF(15.5, 13.5), 1, 0.8, 4, kGreen);
    ArrowHead(p, QPointF(0.5, 2.5), -1, -0.8, 4, kGreen);
}

void FullView(QPainter& p)
{
    // Corners of the whole picture around a small landscape.
    p.setPen(Ink(1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{{1.5, 5}, {1.5, 1.5}, {5, 1.5}});
    p.drawPolyline(QPolygonF{{11, 1.5}, {14.5, 1.5}, {14.5, 5}});
    p.drawPolyline(QPolygonF{{14.5, 11}, {14.5, 14.5}, {11, 14.5}});
    p.drawPolyline(QPolygonF{{5, 14.5}, {1.5, 14.5}, {1.5, 11}});
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF{{4, 12}, {7, 7}, {9, 10}, {10.5, 8.5}, {12, 12}});
    p.setBrush(QColor(240, 190, 40));
    p.drawEllipse(QPointF(10.5, 5), 1.5, 1.5);
}

void Skip(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF{{2, 3}, {9, 8}, {2, 13}});
    p.drawPolygon(QPolygonF{{7, 3}, {14, 8}, {7, 13}});
    p.drawRect(QRectF(13.5, 3, 2, 10));
}

void Printer(QPainter& p)
{
    p.setPen(Ink());
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(150, 150, 160));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 10.5, 7, 4.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(12.5, 8.5), 0.8, 0.8);
}

void Letter(QPainter& p, const QColor& disc, const QString& text)
{
    p.setPen(Ink(1.0, disc.darker(130)));
    p.setBrush(disc);
    p.drawEllipse(QPointF(8, 8), 7, 7);
    QFont font = p.font();
    font.setPixelSize(12);
    font.setBold(true);
    font.setFamily(QStringLiteral("serif"));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, text);
}

void ContextHelp(QPainter& p)
{
    // A pointer with a question mark: help on what is clicked next.
    p.setPen(Ink());
    p.setBrush(kPaper);
    p.drawPolygon(QPolygonF{{1.5, 1.5}, {1.5, 12}, {4, 9.5}, {6, 14}, {7.5, 13.3}, {5.6, 9}, {9, 9}});
    QFont font = p.font();
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kBlue);
    p.drawText(QRectF(8, 0, 8, 10), Qt::AlignCenter, QStringLiteral("?"));
}

struct Picture {
    int id;
    const char* theme; // freedesktop icon name, or null
    std::function<void(QPainter&)> draw;
};

const std::vector<Picture>& Pictures()
{
    static const std::vector<Picture> pictures = {
        {57600, "document-new", Page},
        {57601, "document-open", Folder},
        {57603, "document-save", Disk},
        {32872, nullptr, Driveback},
        {32874, nullptr, Bundle},
        {33064, "camera-photo", Camera},
        {32790, nullptr, Crosshair},
        {33071, nullptr, Pencil},
        {32962, "edit-undo", Undo},
        {33100, nullptr, Tag},
        {32818, nullptr, DeleteArea},
        {32960, "go-previous", [](QPainter& p) { Arrow(p, false); }},
        {32959, "go-next", [](QPainter& p) { Arrow(p, true); }},
        {32795, "zoom-in", [](QPainter& p) { Magnifier(p, true); }},
        {32796, "zoom-out", [](QPainter& p) { Magnifier(p, false); }},
        {33089, nullptr, Ratio},
        {32896, "zoom-fit-best", FullView},
        {32793, "media-skip-forward", Skip},
        {57607, "document-print", Printer},
        {57664, "help-about", [](QPainter& p) { Letter(p, kBlue, QStringLiteral("i")); }},
        {57669, "help-contextual", ContextHelp},
    };
    return pictures;
}

const Picture* Find(int id)
{
    for (const Picture& picture : Pictures())
        if (picture.id == id)
            return &picture;
    return nullptr;
}

QPixmap Draw(const Picture* picture, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    if (picture) {
        picture->draw(p);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 150, 150));
        p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
    }
    return pixmap;
}

} // namespace

const char* ToolbarThemeName(int id)
{
    const Picture* picture = Find(id);
    return picture ? picture->theme : nullptr;
}

QIcon DrawnToolbarPicture(int id)
{
    const Picture* picture = Find(id);
    QIcon icon;
    for (int size : {16, 32})
        icon.addPixmap(Draw(picture, size));
    return icon;
}

QIcon ToolbarPicture(int id)
{
    const char* theme = ToolbarThemeName(id);
    if (theme && QIcon::hasThemeIcon(QString::fromLatin1(theme)))
        return QIcon::fromTheme(QString::fromLatin1(theme));
    return DrawnToolbarPicture(id);
}
