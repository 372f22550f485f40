#include "ui/button_pictures.h"

#include "platform/widgets.h"

#include <QPainter>
#include <QPainterPath>

namespace ui {

namespace {

// The shapes keep a pixel's room to every edge, for their light rim.
void containerTree(QPainter &p, int x, const QColor &top, const QColor &leaves, const QColor &line)
{
    p.setPen(line);
    p.setBrush(top);
    p.drawRect(x + 1, 1, 6, 3);
    p.drawLine(x + 4, 4, x + 4, 12);
    p.drawLine(x + 4, 7, x + 8, 7);
    p.drawLine(x + 4, 12, x + 8, 12);
    p.setBrush(leaves);
    p.drawRect(x + 9, 5, 5, 4);
    p.drawRect(x + 9, 10, 5, 4);
}

void prohibition(QPainter &p, int x, const QColor &ring, const QColor &mark)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(mark, 2));
    p.drawLine(QPointF(x + 8, 4), QPointF(x + 8, 9));
    p.drawPoint(QPointF(x + 8, 11.5));
    p.setPen(QPen(ring, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(x + 2.5, 2.5, 11, 11));
    p.drawLine(QPointF(x + 4.5, 4.5), QPointF(x + 11.5, 11.5));
    p.setRenderHint(QPainter::Antialiasing, false);
}

// A light rim a pixel wide around everything drawn: the black outlines stay
// visible on a dark button face, and in the greyed look that Qt makes of a
// picture, which keeps light pixels light and dark ones dark. Each frame
// gets the rim of its own shapes, so that none spills into the next.
QPixmap withRim(const QPixmap &shapes, int frameWidth)
{
    QPixmap rimmed(shapes.size());
    const qreal ratio = shapes.devicePixelRatio();
    rimmed.setDevicePixelRatio(ratio);
    rimmed.fill(Qt::transparent);
    QPainter p(&rimmed);
    const QSizeF size = shapes.deviceIndependentSize();
    for (int left = 0; left < size.width(); left += frameWidth) {
        QPixmap frame = shapes.copy(QRectF(left * ratio, 0, frameWidth * ratio, shapes.height()).toRect());
        frame.setDevicePixelRatio(ratio);
        p.setClipRect(QRectF(left, 0, frameWidth, size.height()));
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy)
                p.drawPixmap(QPointF(left + dx, dy), frame);
        }
    }
    p.setClipping(false);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRectF(QPointF(0, 0), size), QColor(255, 255, 255));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawPixmap(QPointF(0, 0), shapes);
    return rimmed;
}

} // namespace

QPixmap executePicture()
{
    QPixmap pixmap = platform::canvas(48, 16);
    QPainter p(&pixmap);
    containerTree(p, 0, QColor(240, 200, 60), QColor(150, 200, 255), QColor(40, 40, 40));

    // arrow
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 128, 0));
    QPainterPath arrow;
    arrow.moveTo(18, 6);
    arrow.lineTo(24, 6);
    arrow.lineTo(24, 3);
    arrow.lineTo(30, 8);
    arrow.lineTo(24, 13);
    arrow.lineTo(24, 10);
    arrow.lineTo(18, 10);
    arrow.closeSubpath();
    p.drawPath(arrow);

    // user
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(238, 190, 140));
    p.drawEllipse(37, 1, 5, 4);
    p.setBrush(QColor(70, 110, 200));
    p.drawRoundedRect(35, 7, 9, 7, 2, 2);
    p.end();
    return withRim(pixmap, 48);
}

QPixmap cancelPicture()
{
    QPixmap pixmap = platform::canvas(48, 16);
    QPainter p(&pixmap);
    prohibition(p, 0, QColor(220, 0, 0), QColor(0, 0, 0));
    prohibition(p, 16, QColor(150, 150, 150), QColor(110, 110, 110));
    // frame 3 stays empty
    p.end();
    return withRim(pixmap, 16);
}

QPixmap contextPicture()
{
    QPixmap pixmap = platform::canvas(32, 16);
    QPainter p(&pixmap);
    containerTree(p, 0, QColor(240, 200, 60), QColor(150, 200, 255), QColor(40, 40, 40));
    containerTree(p, 16, QColor(200, 200, 200), QColor(220, 220, 220), QColor(140, 140, 140));
    p.end();
    return withRim(pixmap, 16);
}

} // namespace ui
