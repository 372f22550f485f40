#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// klassomat run as people run it, as a process of its own. Include it where
// KLASSOMAT_EXECUTABLE names the program.
struct Result {
    int code = -1; // -1 when it crashed or did not finish in time
    QString out;
    QString err;
    QByteArray outBytes;
};

// The environment of a command run over the configuration and data folder in
// `folder`, with no display: the commands never need one.
inline QProcessEnvironment commandEnvironment(const QString &folder)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DIRCLIENT_CONFIG"), folder + QStringLiteral("/dirclient.ini"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), folder + QStringLiteral("/data"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

// Runs the program with no input (standard input is no terminal); one that
// takes longer than `timeoutMs` is killed.
inline Result runKlassomat(const QStringList &arguments, const QProcessEnvironment &env, int timeoutMs = 60000,
                           const QString &program = QStringLiteral(KLASSOMAT_EXECUTABLE))
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const QByteArray out = process.readAllStandardOutput();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromUtf8(out),
            QString::fromUtf8(process.readAllStandardError()), out};
}
