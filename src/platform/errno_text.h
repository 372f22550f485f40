#pragma once

#include <QString>

namespace platform {

// Why a system call failed, in German, for any errno the program can meet:
// the system's own text is English (or whatever its locale gives) and would
// stand inside a German message. An unknown number is named as such.
QString errnoText(int errnum);

} // namespace platform
