#pragma once

#include <QString>

#include <chrono>

class QWidget;

namespace ui {

// Tells the desktop (org.freedesktop.Notifications) how a run ended, when it
// took 10 s or more and `window` is not the active window: the administrator
// has turned to other work meanwhile. `result` is the log's closing line, or
// the error. Without a notification service nothing happens, and the call
// never waits for the desktop.
void notifyRunEnd(const QWidget *window, std::chrono::milliseconds took, const QString &result, bool failed);

} // namespace ui
