#pragma once

#include <QFont>

namespace platform {

// "MS Sans Serif" 8 pt (11 pixels), falling back to a metric-compatible sans
// where it is missing (Liberation Sans on Linux).
QFont designFont();

// "Courier New" 8 pt (11 pixels), falling back to Liberation Mono.
QFont monospacedDesignFont();

} // namespace platform
