#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Small builders for windows laid out in pixels from their design tables.
namespace platform {

// A label at `pos`, sized to its text.
QLabel *label(QWidget *parent, const QString &name, const QString &text, QPoint pos);

QPushButton *pushButton(QWidget *parent, const QString &name, const QString &text, QRect geometry);

// A transparent picture of `width` × `height` pixels to paint on, with as many
// device pixels per pixel as the sharpest screen has, so that what is painted
// stays sharp at 2 × scale.
QPixmap canvas(int width, int height);

} // namespace platform
