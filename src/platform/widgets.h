#pragma once

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

} // namespace platform
