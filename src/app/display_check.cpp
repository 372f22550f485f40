#include "display_check.h"

#include <QDir>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#endif

namespace {

// The value of Qt's option -`name` (or --`name`); the last one counts, as for Qt.
QString qtOption(const QStringList &arguments, const QString &name)
{
    QString value;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1Char('-') + name || argument == QStringLiteral("--") + name)
            value = arguments.at(++i);
    }
    return value;
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

QString waylandProblem(const QProcessEnvironment &environment)
{
    if (environment.contains(QStringLiteral("WAYLAND_SOCKET")))
        return {}; // a connection handed down by the compositor: only it can tell
    const QString name = environment.value(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (QDir::isRelativePath(name) && runtime.isEmpty())
        return QStringLiteral("kein Wayland-Server (XDG_RUNTIME_DIR ist nicht gesetzt)");
    const QByteArray path = (QDir::isRelativePath(name) ? runtime + QLatin1Char('/') + name : name).toLocal8Bit();

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bool answers = false;
    if (static_cast<std::size_t>(path.size()) < sizeof address.sun_path) {
        std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        answers = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    return answers ? QString() : QStringLiteral("der Wayland-Server %1 (WAYLAND_DISPLAY) antwortet nicht").arg(QString::fromLocal8Bit(path));
}

#endif

} // namespace

DisplayCheck::DisplayCheck(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QString platforms = qtOption(arguments, QStringLiteral("platform"));
    if (platforms.isEmpty())
        platforms = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    // "wayland;xcb": Qt tries each in turn, so one that works is enough.
    QStringList problems;
    for (const QString &platform : platforms.split(QLatin1Char(';'))) {
        const QString problem = platformProblem(platform, arguments, environment);
        if (problem.isEmpty())
            return;
        problems.append(problem);
    }
    m_problem = QStringLiteral("Das Fenster kann sich nicht öffnen: %1. Die Befehle arbeiten ohne Fenster; klassomat --help zeigt sie.")
                    .arg(problems.join(QStringLiteral("; ")));
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

DisplayCheck::~DisplayCheck()
{
    if (m_x11)
        xcb_disconnect(m_x11);
}

QString DisplayCheck::platformProblem(const QString &platform, const QStringList &arguments, const QProcessEnvironment &environment)
{
    const QString display = [&] {
        const QString given = qtOption(arguments, QStringLiteral("display"));
        return given.isEmpty() ? environment.value(QStringLiteral("DISPLAY")) : given;
    }();
    const QString name = platform.section(QLatin1Char(':'), 0, 0).toLower(); // "vnc:size=800x600"
    if (name == QLatin1String("xcb"))
        return x11Problem(display);
    if (name.startsWith(QLatin1String("wayland")))
        return waylandProblem(environment);
    if (!name.isEmpty())
        return {};
    // Qt's own choice: X11, or Wayland on a Wayland desktop.
    if (!display.isEmpty() || !environment.contains(QStringLiteral("WAYLAND_DISPLAY")))
        return x11Problem(display);
    return waylandProblem(environment);
}

// Connects as Qt's xcb platform will, authorisation included: a display that
// is set but refuses us (sudo without XAUTHORITY, a stale ssh -X) fails here too.
QString DisplayCheck::x11Problem(const QString &display)
{
    if (display.isEmpty())
        return QStringLiteral("keine grafische Oberfläche (DISPLAY ist nicht gesetzt)");
    xcb_connection_t *connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return QStringLiteral("die Anzeige %1 (DISPLAY) antwortet nicht oder weist klassomat ab").arg(display);
    }
    if (m_x11)
        xcb_disconnect(m_x11);
    m_x11 = connection;
    return {};
}

#else

DisplayCheck::~DisplayCheck() = default;

QString DisplayCheck::platformProblem(const QString &, const QStringList &, const QProcessEnvironment &)
{
    return {};
}

#endif
