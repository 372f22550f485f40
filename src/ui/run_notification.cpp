#include "ui/run_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

namespace ui {

void notifyRunEnd(const QWidget *window, std::chrono::milliseconds took, const QString &result, bool failed)
{
    using namespace std::chrono_literals;
    if (took < 10s || window->isActiveWindow())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Notify's arguments in freedesktop.org's order: app_name, replaces_id, app_icon,
    // summary, body, actions, hints, expire_timeout (-1: the server's default).
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("klassomat")},
                            {QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(failed ? 2 : 1))}};
    notify << QStringLiteral("klassomat") << 0u << QStringLiteral("klassomat")
           << (failed ? QStringLiteral("klassomat: Lauf mit Fehler beendet") : QStringLiteral("klassomat: ") + result)
           << (failed ? result : QString()) << QStringList() << hints << -1;
    // Sent without waiting: an absent service only makes the bus answer with
    // an error that nobody reads.
    bus.send(notify);
}

} // namespace ui
