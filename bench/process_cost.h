#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

#include <sys/resource.h>

// Another program run to its end and timed as the benchmarks weigh it against
// ours: the anchors (ldapsearch, ldapmodify), and klassomat as a process.
namespace bench {

struct ProcessCost {
    double wallMs = 0;
    double cpuMs = 0; // user and system time of the process
};

// User and system time of this process's children that have ended.
inline double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Runs `program` with `input` on its standard input until it ends. What it
// prints goes nowhere, so that no side pays for a pipe.
inline ProcessCost runProcess(const QString &program, const QStringList &args, const QByteArray &input = {},
                              const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    const double cpuBefore = childrenCpuMs();
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(1200000);
    const double wallMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return {wallMs, childrenCpuMs() - cpuBefore};
}

} // namespace bench
