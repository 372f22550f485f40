#include "platform/widgets.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>

namespace platform {

QLabel *label(QWidget *parent, const QString &name, const QString &text, QPoint pos)
{
    auto *widget = new QLabel(text, parent);
    widget->setObjectName(name);
    widget->move(pos);
    widget->adjustSize();
    return widget;
}

QPushButton *pushButton(QWidget *parent, const QString &name, const QString &text, QRect geometry)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

QPixmap canvas(int width, int height)
{
    const qreal ratio = qGuiApp->devicePixelRatio();
    QPixmap pixmap(QSize(width, height) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace platform
