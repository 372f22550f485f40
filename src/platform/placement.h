#pragma once

class QWidget;

namespace platform {

// Centres a top-level window's frame (title bar included) on its screen when
// it is first shown, unless it was placed by then. The window manager's frame is not known before the window
// is mapped: the frame of a window already on screen stands in for it, and
// once the window is exposed with its own frame the placement is corrected.
void centreOnScreen(QWidget *window);

} // namespace platform
