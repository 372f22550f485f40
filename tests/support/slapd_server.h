#pragma once

// A throw-away slapd on loopback (tests/ldap/slapd.sh), owned by this object:
// it stops the server when it goes, however the test ends, and the script
// stops it too when the process dies without (a crash, kill -9).
// Needs KLASSOMAT_SLAPD_SCRIPT, the script's path.

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

class SlapdServer {
public:
    // `dir` holds the server's files and stays between restarts; `data` is the
    // LDIF loaded into it on the first start.
    SlapdServer(QString dir, QString data) : m_dir(std::move(dir)), m_data(std::move(data)) {}
    ~SlapdServer() { stop(); }
    SlapdServer(const SlapdServer &) = delete;
    SlapdServer &operator=(const SlapdServer &) = delete;

    // Starts the server and returns once both addresses answer; false, with
    // the reason in error(), when it does not come up.
    bool start()
    {
        QProcess script;
        script.start(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("start"), m_dir, m_data,
                                              QString::number(QCoreApplication::applicationPid())});
        if (!script.waitForFinished(600000) || script.exitCode() != 0) {
            m_error = QString::fromUtf8(script.readAllStandardError());
            return false;
        }
        const QStringList uris = QString::fromUtf8(script.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
        if (uris.size() != 2) {
            m_error = QStringLiteral("slapd.sh gave no addresses");
            return false;
        }
        m_uri = uris[0];
        m_ldapi = uris[1];
        m_running = true;
        return true;
    }

    void stop()
    {
        if (!m_running)
            return;
        QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), m_dir});
        m_running = false;
    }

    [[nodiscard]] QString uri() const { return m_uri; }     // ldap://127.0.0.1:port
    [[nodiscard]] QString ldapi() const { return m_ldapi; } // the socket in `dir`
    [[nodiscard]] QString dir() const { return m_dir; }
    [[nodiscard]] QString error() const { return m_error; }

private:
    QString m_dir;
    QString m_data;
    QString m_uri;
    QString m_ldapi;
    QString m_error;
    bool m_running = false;
};
