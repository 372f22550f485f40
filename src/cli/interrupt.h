#pragma once

#include <functional>

namespace cli {

// Ctrl-C on the command line. The signal handler only writes a byte to a
// pipe; the message pump reads it and calls what was registered (the search
// is abandoned), and a run stops after the batch under way, so that it
// still ends with its summary and the record's path. A second Ctrl-C ends
// the program at once, the usual way.
class Interrupt {
public:
    Interrupt();
    ~Interrupt();
    Interrupt(const Interrupt &) = delete;
    Interrupt &operator=(const Interrupt &) = delete;

    [[nodiscard]] static bool requested();
    // What to stop when Ctrl-C comes; an empty one stops nothing.
    static void onRequest(std::function<void()> stop);
};

} // namespace cli
