#include "drawings.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <array>
#include <cmath>

namespace {

const QColor kRunning(0, 0, 128);
const QColor kDone(0, 128, 0);
const QColor kFailed(128, 0, 0);

// Pixel masks of the 10 x 10 markers: '#' is the mark's colour, everything else white.
using Mask = std::array<const char *, 10>;
constexpr Mask kTriangleMask = {"..........", "...#......", "...##.....", "...###....",
                                "...####...", "...#####..", "...####...", "...###....",
                                "...##.....", "...#......"};
constexpr Mask kCheckMask = {"..........", ".........#", "........##", ".......##.", ".#....##..",
                             ".##..##...", "..####....", "...##.....", "..........", ".........."};
constexpr Mask kCrossMask = {"..........", ".##....##.", ".###..###.", "..######..", "...####...",
                             "...####...", "..######..", ".###..###.", ".##....##.", ".........."};

QImage paintMask(const Mask &mask, const QColor &colour)
{
    QImage image(10, 10, QImage::Format_ARGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            if (mask[y][x] == '#')
                image.setPixelColor(x, y, colour);
    return image;
}

// A closed outline through the given points, rounded by quadratic curves between the midpoints.
QPainterPath smoothOutline(const QList<QPointF> &points)
{
    QPainterPath path;
    const auto count = points.size();
    const auto mid = [&](qsizetype i) {
        return (points[i % count] + points[(i + 1) % count]) / 2.0;
    };
    path.moveTo(mid(0));
    for (qsizetype i = 1; i <= count; ++i)
        path.quadTo(points[i % count], mid(i));
    path.closeSubpath();
    return path;
}

// Continents on a unit map 200 wide and 100 high; the globe shows half of it at a time.
QList<QPainterPath> continents()
{
    static const QList<QPainterPath> shapes = {
        smoothOutline({{20, 22},
                       {40, 14},
                       {52, 20},
                       {46, 34},
                       {54, 46},
                       {50, 58},
                       {44, 72},
                       {38, 88},
                       {32, 74},
                       {30, 60},
                       {22, 50},
                       {12, 36}}),
        smoothOutline({{66, 16},
                       {84, 10},
                       {96, 20},
                       {88, 30},
                       {76, 30},
                       {72, 40},
                       {84, 44},
                       {94, 56},
                       {88, 70},
                       {80, 84},
                       {72, 70},
                       {70, 56},
                       {62, 44}}),
        smoothOutline({{104, 18},
                       {130, 10},
                       {160, 16},
                       {176, 28},
                       {166, 40},
                       {150, 38},
                       {140, 50},
                       {126, 44},
                       {112, 36}}),
        smoothOutline({{150, 62}, {168, 58}, {180, 68}, {172, 80}, {156, 78}}),
    };
    return shapes;
}

void drawGlobe(QPainter &painter, const QRectF &bounds, qreal turn)
{
    const qreal radius = bounds.width() / 2.0;
    const QPointF centre = bounds.center();
    QPainterPath disc;
    disc.addEllipse(bounds);

    QRadialGradient sea(centre - QPointF(radius * 0.35, radius * 0.4), radius * 1.4);
    sea.setColorAt(0.0, QColor(140, 200, 255));
    sea.setColorAt(0.55, QColor(40, 120, 210));
    sea.setColorAt(1.0, QColor(10, 50, 120));
    painter.fillPath(disc, sea);

    painter.save();
    painter.setClipPath(disc);
    // The land moves to the right as the globe turns; each continent is drawn twice so that the
    // part leaving one edge comes back at the other.
    const qreal mapWidth = 4.0 * radius;
    const qreal scale = 2.0 * radius / 100.0;
    for (const qreal copy : {-1.0, 0.0}) {
        QTransform map;
        map.translate(bounds.left() + std::fmod(turn, 1.0) * mapWidth + copy * mapWidth - radius,
                      bounds.top());
        map.scale(scale, scale);
        for (const QPainterPath &land : continents())
            painter.fillPath(map.map(land), QColor(70, 160, 70));
    }
    // Meridians and parallels in a light, see-through white.
    QPen grid(QColor(255, 255, 255, 110));
    grid.setWidthF(std::max(0.6, radius / 14.0));
    painter.setPen(grid);
    painter.setBrush(Qt::NoBrush);
    for (const qreal width : {0.0, 0.5, 1.0})
        painter.drawEllipse(centre, radius * width, radius);
    for (const qreal height : {-0.5, 0.0, 0.5})
        painter.drawLine(QPointF(centre.x() - radius, centre.y() + height * radius),
                         QPointF(centre.x() + radius, centre.y() + height * radius));
    // A soft highlight gives the ball its roundness.
    QRadialGradient shine(centre - QPointF(radius * 0.4, radius * 0.45), radius * 0.6);
    shine.setColorAt(0.0, QColor(255, 255, 255, 120));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.fillPath(disc, shine);
    painter.restore();

    QPen rim(QColor(10, 40, 100));
    rim.setWidthF(std::max(1.0, radius / 16.0));
    painter.setPen(rim);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(
        bounds.adjusted(rim.widthF() / 2, rim.widthF() / 2, -rim.widthF() / 2, -rim.widthF() / 2));
}

QImage transparentImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A sheet of paper with a folded corner and a few lines of text, centred on the origin.
void drawPage(QPainter &painter, qreal width, qreal height)
{
    const qreal fold = width * 0.3;
    const QRectF sheet(-width / 2, -height / 2, width, height);
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    QPen edge(QColor(70, 90, 120));
    edge.setWidthF(0.6);
    edge.setJoinStyle(Qt::MiterJoin);
    painter.setPen(edge);
    painter.setBrush(Qt::white);
    painter.drawPath(outline);
    painter.setBrush(QColor(215, 222, 235));
    painter.drawPolygon(QPolygonF({QPointF(sheet.right() - fold, sheet.top()),
                                   QPointF(sheet.right() - fold, sheet.top() + fold),
                                   QPointF(sheet.right(), sheet.top() + fold)}));
    QPen text(QColor(120, 140, 175));
    text.setWidthF(0.8);
    painter.setPen(text);
    for (int line = 0; line < 4; ++line) {
        const qreal y = sheet.top() + height * (0.38 + 0.16 * line);
        const qreal end = line == 3 ? sheet.left() + width * 0.55 : sheet.right() - width * 0.2;
        painter.drawLine(QPointF(sheet.left() + width * 0.2, y), QPointF(end, y));
    }
}

void drawFolderBack(QPainter &painter)
{
    QPainterPath back;
    back.moveTo(6, 36);
    back.lineTo(6, 9);
    back.lineTo(18, 9);
    back.lineTo(21, 12);
    back.lineTo(44, 12);
    back.lineTo(44, 36);
    back.closeSubpath();
    QPen edge(QColor(140, 95, 20));
    edge.setWidthF(0.8);
    painter.setPen(edge);
    painter.setBrush(QColor(215, 160, 40));
    painter.drawPath(back);
}

void drawFolderFront(QPainter &painter)
{
    QLinearGradient face(0, 18, 0, 37);
    face.setColorAt(0.0, QColor(255, 214, 100));
    face.setColorAt(1.0, QColor(235, 175, 50));
    QPen edge(QColor(140, 95, 20));
    edge.setWidthF(0.8);
    painter.setPen(edge);
    painter.setBrush(face);
    painter.drawPolygon(
        QPolygonF({QPointF(9, 18), QPointF(49, 18), QPointF(44, 36), QPointF(6, 36)}));
}

QPointF along(qreal t)
{
    // A quadratic curve from inside the folder over the top of the area into the globe.
    const QPointF start(25, 27), control(135, -1), end(248, 20.5);
    const qreal u = 1.0 - t;
    return u * u * start + 2 * u * t * control + t * t * end;
}

} // namespace

QImage DrawStepMark(StepMark mark, int scale)
{
    const QColor colour = mark == StepMark::Running ? kRunning
                          : mark == StepMark::Done  ? kDone
                                                    : kFailed;
    if (scale == 1) {
        switch (mark) {
        case StepMark::Running:
            return paintMask(kTriangleMask, colour);
        case StepMark::Done:
            return paintMask(kCheckMask, colour);
        case StepMark::Failed:
            return paintMask(kCrossMask, colour);
        }
    }

    QImage image(10 * scale, 10 * scale, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    switch (mark) {
    case StepMark::Running:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPolygon(QPolygonF({QPointF(3, 0.8), QPointF(8.2, 5), QPointF(3, 9.2)}));
        break;
    case StepMark::Done: {
        QPen pen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.drawPolyline(QPolygonF({QPointF(1.6, 4.9), QPointF(3.7, 7.1), QPointF(9, 1.6)}));
        break;
    }
    case StepMark::Failed: {
        QPen pen(colour, 1.8, Qt::SolidLine, Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(1.5, 1.5), QPointF(8.5, 8.5));
        painter.drawLine(QPointF(8.5, 1.5), QPointF(1.5, 8.5));
        break;
    }
    }
    return image;
}

QImage DrawGlobe(int size)
{
    QImage image = transparentImage(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = size / 32.0;
    drawGlobe(painter, QRectF(inset, inset, size - 2 * inset, size - 2 * inset), 0.15);
    return image;
}

QImage DrawProgramIcon(int size)
{
    QImage image = transparentImage(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);
    // Small icons get thicker outlines, or the edges vanish.
    const qreal line = size <= 16 ? 6.0 : size <= 32 ? 4.0 : 2.5;
    QPen edge(QColor(95, 60, 20), line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    painter.setPen(edge);
    painter.setBrush(QColor(222, 175, 110));
    painter.drawPolygon(QPolygonF({{10, 40}, {50, 26}, {90, 40}, {50, 54}}));
    painter.setBrush(QColor(196, 140, 75));
    painter.drawPolygon(QPolygonF({{10, 40}, {50, 54}, {50, 94}, {10, 80}}));
    painter.setBrush(QColor(165, 112, 55));
    painter.drawPolygon(QPolygonF({{50, 54}, {90, 40}, {90, 80}, {50, 94}}));
    if (size > 16) {
        // Tape along the lid and down the front edge.
        QPen tape(QColor(245, 225, 170), line * 1.6, Qt::SolidLine, Qt::FlatCap);
        painter.setPen(tape);
        painter.drawLine(QPointF(30, 33), QPointF(70, 47));
        painter.drawLine(QPointF(30, 47.5), QPointF(30, 87));
    }

    // The arrow rises out of the lid.
    QPainterPath arrow;
    arrow.moveTo(50, 2);
    arrow.lineTo(74, 26);
    arrow.lineTo(60, 26);
    arrow.lineTo(60, 46);
    arrow.lineTo(40, 46);
    arrow.lineTo(40, 26);
    arrow.lineTo(26, 26);
    arrow.closeSubpath();
    QLinearGradient blue(0, 2, 0, 46);
    blue.setColorAt(0.0, QColor(90, 170, 255));
    blue.setColorAt(1.0, QColor(20, 90, 200));
    painter.setPen(QPen(Qt::white, line * 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arrow);
    painter.setPen(
        QPen(QColor(10, 50, 130), line * 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(blue);
    painter.drawPath(arrow);
    return image;
}

QImage DrawAnimationFrame(int frame, int frameCount, int scale)
{
    QImage image = transparentImage(273 * scale, 41 * scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);

    // The pages go round twice while the globe turns once, which keeps the globe calm.
    const qreal phase = qreal(frame) / frameCount;
    drawFolderBack(painter);
    constexpr int pages = 3;
    for (int page = 0; page < pages; ++page) {
        const qreal t = std::fmod(2.0 * phase + qreal(page) / pages, 1.0);
        // A page grows as it leaves the folder and shrinks into the distance near the globe.
        const qreal size = t < 0.15 ? 0.7 + 2.0 * t : 1.0 - 0.45 * std::pow(t, 3.0);
        painter.save();
        painter.translate(along(t));
        painter.rotate(-25.0 + 50.0 * t);
        painter.scale(size, size);
        drawPage(painter, 11, 14);
        painter.restore();
    }
    drawFolderFront(painter);
    drawGlobe(painter, QRectF(230, 2.5, 36, 36), phase);
    return image;
}
