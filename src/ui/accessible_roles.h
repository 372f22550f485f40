#pragma once

namespace ui {

// Gives screen readers the roles that Qt cannot tell from a widget's class:
// the main window is a window (not a client area), the status bar a status
// bar, the run log a list of its lines. Call once after the application object exists.
void installAccessibleRoles();

} // namespace ui
