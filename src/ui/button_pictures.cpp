#include "ui/button_pictures.h"

#include "platform/widgets.h"

#include <QPainter>
#include <QPainterPath>

namespace ui {

namespace {

void containerTree(QPainter &p, int x, const QColor &top, const QColor &leaves, const QColor &line)
{
    p.setPen(line);
    p.setBrush(top);
    p.drawRect(x + 1, 1, 6, 4);
    p.drawLine(x + 4, 5, x + 4, 13);
    p.drawLine(x + 4, 9, x + 8, 9);
    p.drawLine(x + 4, 13, x + 8, 13);
    p.setBrush(leaves);
    p.drawRect(x + 9, 7, 5, 4);
    p.drawRect(x + 9, 11, 5, 4);
}

void prohibition(QPainter &p, int x, const QColor &ring, const QColor &mark)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(mark, 2));
    p.drawLine(QPointF(x + 8, 3), QPointF(x + 8, 9));
    p.drawPoint(QPointF(x + 8, 12));
    p.setPen(QPen(ring, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(x + 1.5, 1.5, 13, 13));
    p.drawLine(QPointF(x + 3.5, 3.5), QPointF(x + 12.5, 12.5));
    p.setRenderHint(QPainter::Antialiasing, false);
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
    p.drawEllipse(37, 1, 5, 5);
    p.setBrush(QColor(70, 110, 200));
    p.drawRoundedRect(35, 7, 9, 8, 2, 2);
    return pixmap;
}

QPixmap cancelPicture()
{
    QPixmap pixmap = platform::canvas(48, 16);
    QPainter p(&pixmap);
    prohibition(p, 0, QColor(220, 0, 0), QColor(0, 0, 0));
    prohibition(p, 16, QColor(150, 150, 150), QColor(110, 110, 110));
    // frame 3 stays empty
    return pixmap;
}

QPixmap contextPicture()
{
    QPixmap pixmap = platform::canvas(32, 16);
    QPainter p(&pixmap);
    containerTree(p, 0, QColor(240, 200, 60), QColor(150, 200, 255), QColor(40, 40, 40));
    containerTree(p, 16, QColor(200, 200, 200), QColor(220, 220, 220), QColor(140, 140, 140));
    return pixmap;
}

} // namespace ui
