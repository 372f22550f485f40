#include "directory/ldap/held_writes.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <cerrno>

#include <poll.h>

namespace directory::held_writes {

namespace {

// Options of this layer's own, past liblber's.
constexpr int kHold = LBER_SB_OPT_OPT_MAX + 100;
constexpr int kSend = LBER_SB_OPT_OPT_MAX + 101;

struct SendArgs {
    int fd;
    int waitMs;
    bool keepHolding;
    int error = 0;
};

struct State {
    QByteArray held;
    bool holding = false;
};

int sendHeld(Sockbuf_IO_Desc *sbiod, State &state, SendArgs &args)
{
    const QDeadlineTimer deadline(args.waitMs);
    qsizetype sent = 0;
    while (sent < state.held.size()) {
        errno = 0;
        const ber_slen_t n = LBER_SBIOD_WRITE_NEXT(sbiod, state.held.data() + sent, static_cast<ber_len_t>(state.held.size() - sent));
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{args.fd, POLLOUT, 0};
            const int ready = ::poll(&room, 1, static_cast<int>(deadline.remainingTime()));
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready == 0)
                errno = ETIMEDOUT;
        }
        args.error = errno ? errno : EIO;
        break;
    }
    state.held.resize(0); // keeps its capacity for the next burst
    return args.error ? -1 : 1;
}

int setup(Sockbuf_IO_Desc *sbiod, void *)
{
    sbiod->sbiod_pvt = new State;
    return 0;
}

int remove(Sockbuf_IO_Desc *sbiod)
{
    delete static_cast<State *>(sbiod->sbiod_pvt);
    sbiod->sbiod_pvt = nullptr;
    return 0;
}

int ctrl(Sockbuf_IO_Desc *sbiod, int opt, void *arg)
{
    State &state = *static_cast<State *>(sbiod->sbiod_pvt);
    if (opt == kHold) {
        state.holding = true;
        return 1;
    }
    if (opt == kSend) {
        auto &args = *static_cast<SendArgs *>(arg);
        state.holding = args.keepHolding;
        return sendHeld(sbiod, state, args);
    }
    return LBER_SBIOD_CTRL_NEXT(sbiod, opt, arg);
}

ber_slen_t read(Sockbuf_IO_Desc *sbiod, void *buf, ber_len_t len)
{
    return LBER_SBIOD_READ_NEXT(sbiod, buf, len);
}

ber_slen_t write(Sockbuf_IO_Desc *sbiod, void *buf, ber_len_t len)
{
    State &state = *static_cast<State *>(sbiod->sbiod_pvt);
    if (!state.holding)
        return LBER_SBIOD_WRITE_NEXT(sbiod, buf, len);
    state.held.append(static_cast<const char *>(buf), static_cast<qsizetype>(len));
    return static_cast<ber_slen_t>(len);
}

int close(Sockbuf_IO_Desc *)
{
    return 0; // the layer below closes the socket
}

Sockbuf_IO layer{setup, remove, ctrl, read, write, close};

} // namespace

bool install(Sockbuf *sb)
{
    return ber_sockbuf_add_io(sb, &layer, LBER_SBIOD_LEVEL_PROVIDER, nullptr) == 0;
}

void hold(Sockbuf *sb)
{
    ber_sockbuf_ctrl(sb, kHold, nullptr);
}

int send(Sockbuf *sb, int fd, int waitMs, bool keepHolding)
{
    SendArgs args{fd, waitMs, keepHolding};
    ber_sockbuf_ctrl(sb, kSend, &args);
    return args.error;
}

} // namespace directory::held_writes
