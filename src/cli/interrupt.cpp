#include "cli/interrupt.h"

#include <QSocketNotifier>

#include <memory>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

bool interrupted = false;
std::function<void()> stopping;
#ifndef Q_OS_WIN
int wakePipe[2] = {-1, -1};

void onSigint(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
}
#endif
std::unique_ptr<QSocketNotifier> notifier;

} // namespace

Interrupt::Interrupt()
{
#ifndef Q_OS_WIN
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // Ctrl-C then ends the program the usual way
    notifier = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [] {
        char byte = 0;
        while (::read(wakePipe[0], &byte, 1) > 0) {
        }
        interrupted = true;
        if (stopping)
            stopping();
    });
    struct sigaction action {};
    action.sa_handler = onSigint;
    action.sa_flags = SA_RESETHAND; // the second Ctrl-C is the system's
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
#endif
}

Interrupt::~Interrupt()
{
#ifndef Q_OS_WIN
    std::signal(SIGINT, SIG_DFL);
    notifier.reset();
    for (int &fd : wakePipe) {
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
    }
#endif
    stopping = nullptr;
}

bool Interrupt::requested()
{
    return interrupted;
}

void Interrupt::onRequest(std::function<void()> stop)
{
    stopping = std::move(stop);
}

} // namespace cli
