#pragma once

#include <cstdint>

namespace platform {

// Handles every window message that is pending now, then returns.
void processMessages();

// Blocks until at least one message arrives, handles what is pending, returns.
// Used by waits that must keep the window live without spinning a core.
void waitForMessages();

// Returns once at least `ms` milliseconds have passed (on a monotonic clock,
// so the tick counter's wrap is no concern), handling window messages
// throughout. The thread sleeps between messages. A pause of 0 handles none.
void DelayWithMessages(std::uint32_t ms);

} // namespace platform
