#include "platform/message_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace platform {

void processMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void waitForMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void DelayWithMessages(std::uint32_t ms)
{
    QElapsedTimer clock;
    clock.start();
    // The loop's wake-up timer may fire a little early on some platforms, and a
    // nested loop may be left by QCoreApplication::exit(): test the clock each time.
    for (qint64 elapsed = 0; elapsed < ms; elapsed = clock.elapsed()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(ms - elapsed), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        if (loop.exec() != 0)
            waitForMessages();
    }
}

} // namespace platform
