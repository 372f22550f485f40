#pragma once

// A small LDAP server on 127.0.0.1 that misbehaves on purpose, the way a real
// slapd will not: it falls silent, never finishes TLS, or pages without end.
// It runs in the test's own thread, so it answers only while the client waits
// in the message pump: a client that blocks the thread gets nothing.

#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class FakeLdapServer {
public:
    enum class Behaviour {
        Silent,             // accepts the connection, answers nothing (nor a TLS hello)
        StartTlsThenSilent, // agrees to StartTLS, then never completes the handshake
        TrickleTls,         // agrees to StartTLS; answers a TLS hello a byte at a time, without end
        BindOnly,           // answers binds, never a search
        EndlessPages,       // answers every page with the same entry and the same cookie
        EndlessNewCookies,  // answers every page with the same entry and a new cookie
        RareNews,           // as EndlessPages, and on every 99th page one entry more, a new one
        SameCookiePages,    // as 389 and AD do: new entries or none, the same cookie, until the last page
        SlowPages,          // a subtree search: twelve pages of one entry, 500 ms apart; a one-level search: at once
        Garbage,            // answers a search with bytes that are no LDAP message
        Huge,               // answers a search with a message of 400 MB, sent as fast as it is read
    };

    explicit FakeLdapServer(Behaviour behaviour);
    ~FakeLdapServer();
    FakeLdapServer(const FakeLdapServer &) = delete;
    FakeLdapServer &operator=(const FakeLdapServer &) = delete;

    [[nodiscard]] QString uri(const QString &scheme = QStringLiteral("ldap")) const;
    [[nodiscard]] int searches() const { return m_searches; } // search requests received
    [[nodiscard]] int abandons() const { return m_abandons; }

private:
    void take(QTcpSocket *socket, QByteArray &pending);
    void answer(QTcpSocket *socket, int id, int operation, const QByteArray &request);

    void trickle(QTcpSocket *socket);

    Behaviour m_behaviour;
    QTcpServer m_server;
    int m_searches = 0; // also the page number within a paged search
    int m_slowPage = 0;
    int m_abandons = 0;
};
