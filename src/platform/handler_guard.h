#pragma once

#include "platform/error.h"
#include "platform/message_box.h"

#include <exception>

namespace platform {

// Exceptions must not unwind through Qt's event dispatch: every event handler
// runs its body through this guard, which shows a failure in the standard
// error box and lets the program go on.
template <typename Body>
void guarded(Body &&body)
{
    try {
        body();
    } catch (const std::exception &e) {
        showErrorBox(messageOf(e));
    }
}

} // namespace platform
