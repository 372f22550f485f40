// The run's log: time per line (add, bring into view, handle the window's
// messages) over the first 10,000 lines and over lines 50,000 to 60,000. A
// line must cost the same however long the log already is.
#include "measure.h"
#include "ui/log_list.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ui::LogList log(nullptr);
    log.resize(393, 65);
    log.show();
    double first = 0;
    double last = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 60000; ++i) {
        log.addLine(QStringLiteral("Schueler %1.K1.Gym").arg(i).leftJustified(40) + QStringLiteral(" 8a"));
        log.scrollToEnd();
        QApplication::processEvents();
        if (i == 10000)
            first = static_cast<double>(clock.nsecsElapsed()) / 1e6 / 10000;
        if (i == 50000)
            clock.restart();
    }
    last = static_cast<double>(clock.nsecsElapsed()) / 1e6 / 10000;
    std::printf("run log, 60000 lines\n");
    std::printf("  lines 1-10000:      %.3f ms a line\n", first);
    std::printf("  lines 50001-60000:  %.3f ms a line; ratio %.2f (target about 1)\n", last, last / first);
    bench::printLoadAverage();
    return 0;
}
