// The desktop notification at the end of a long run, against a small fake
// notification service on a private session bus that the test starts.
#include "ui/run_notification.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// Answers Notify as a desktop would and keeps what it was told.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString appName, summary, body;
        QVariantMap hints;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString &appName, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int)
    {
        shown.append({appName, summary, body, hints});
        return static_cast<uint>(shown.size());
    }
};

} // namespace

class RunNotificationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void longRunElsewhere_notifies_data();
    void longRunElsewhere_notifies();
    void noService_nothingHappens();

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;
    FakeNotifications m_service;
};

void RunNotificationTest::initTestCase()
{
    // A session bus of the test's own, without service activation, so no
    // notification daemon of the machine can answer.
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                     .arg(m_dir.path())
                     .toUtf8());
    config.close();
    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                                                QStringLiteral("--config-file=") + config.fileName()});
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon (package dbus-daemon) does not start");
    QTRY_VERIFY(m_bus.canReadLine());
    m_address = QString::fromUtf8(m_bus.readLine().trimmed());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8()); // before the first use of the session bus
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void RunNotificationTest::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished();
}

void RunNotificationTest::init()
{
    m_service.shown.clear();
    QDBusConnection desktop = QDBusConnection::connectToBus(m_address, QStringLiteral("desktop"));
    QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_service, QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

void RunNotificationTest::cleanup()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")));
}

void RunNotificationTest::longRunElsewhere_notifies_data()
{
    QTest::addColumn<int>("tookMs");
    QTest::addColumn<bool>("windowActive");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::newRow("10 s, elsewhere") << 10000 << false << false << "klassomat: eingetragen bei 18 Benutzern" << "";
    QTest::newRow("an error, elsewhere") << 60000 << false << true << "klassomat: Lauf mit Fehler beendet"
                                         << "Schreiben in NDS:\\\\SCHULE\\Gym\\Abi05a\\mueller verweigert";
    QTest::newRow("a short run") << 9999 << false << false << "" << "";
    QTest::newRow("the window in front") << 60000 << true << false << "" << "";
}

void RunNotificationTest::longRunElsewhere_notifies()
{
    QFETCH(int, tookMs);
    QFETCH(bool, windowActive);
    QFETCH(bool, failed);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QWidget window;
    if (windowActive) {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    const QString result = failed ? body : QStringLiteral("eingetragen bei 18 Benutzern");
    ui::notifyRunEnd(&window, std::chrono::milliseconds(tookMs), result, failed);
    if (summary.isEmpty()) {
        QTest::qWait(200);
        QVERIFY(m_service.shown.isEmpty());
        return;
    }
    QTRY_COMPARE(m_service.shown.size(), 1);
    QCOMPARE(m_service.shown.first().appName, QStringLiteral("klassomat"));
    QCOMPARE(m_service.shown.first().summary, summary);
    QCOMPARE(m_service.shown.first().body, body);
    QCOMPARE(m_service.shown.first().hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("klassomat"));
}

void RunNotificationTest::noService_nothingHappens()
{
    cleanup(); // the desktop has no notification service
    QWidget window;
    QElapsedTimer clock;
    clock.start();
    ui::notifyRunEnd(&window, 60s, QStringLiteral("eingetragen bei 18 Benutzern"), false);
    QVERIFY(clock.elapsed() < 1000); // never waits for an answer
    QTest::qWait(200);
    QVERIFY(m_service.shown.isEmpty());
    init();
}

QTEST_MAIN(RunNotificationTest)
#include "test_run_notification.moc"
