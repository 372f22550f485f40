#pragma once

// A layer for libldap's socket that holds what libldap writes until told to
// send it: a burst of pipelined requests then goes out in one send, and wakes
// the server once, instead of once a request. For the directory's own
// sources only: it brings <lber.h> with it.

#include <lber.h>

namespace directory::held_writes {

// Puts the layer below libldap's writes (and below TLS); false when liblber
// refuses it.
bool install(Sockbuf *sb);

// Holds every write from now on.
void hold(Sockbuf *sb);

// Sends what is held on the non-blocking socket `fd`, waiting at most
// `waitMs` for room in it, and holds later writes only with `keepHolding`.
// Returns 0, or the failure's errno (ETIMEDOUT: no room in time); what was
// held is gone either way.
int send(Sockbuf *sb, int fd, int waitMs, bool keepHolding);

} // namespace directory::held_writes
