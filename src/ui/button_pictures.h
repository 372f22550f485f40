#pragma once

#include <QPixmap>

// The pictures of the main window's buttons, drawn by the program.
namespace ui {

// 48 x 16, one frame: a small container tree, an arrow pointing right, a user.
QPixmap executePicture();

// 48 x 16, three 16 x 16 frames: a red prohibition sign over an exclamation
// mark; the same sign in grey; an empty frame.
QPixmap cancelPicture();

// 32 x 16, two 16 x 16 frames: a small container tree, normal and disabled.
QPixmap contextPicture();

} // namespace ui
