#pragma once

// The connection of one LDAP tree. For the directory's own sources only: it
// brings <ldap.h> with it.

#include <cstdio> // ldif.h, through ldap_owners.h, wants FILE

#include "directory/ldap_owners.h"
#include "directory/ldap/ldap_tree.h"
#include "platform/error.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QString>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace directory {

// Every LDAP error is built here: what failed, the words and number of the
// result code (as ldapsearch prints them), the server's or the TLS library's
// diagnostic, the part of the name the server knew, and a hint what to do.
platform::Error ldapError(LDAP *ld, int rc, const QString &what, const char *diagnostic = nullptr,
                          const char *matched = nullptr);

// Whether a result code means the connection is gone (or no longer usable).
bool connectionLost(int rc);

// ldapError() as an exception: ServerUnreachable where the connection is lost.
std::exception_ptr failureOf(LDAP *ld, int rc, const QString &what);

// One connection to an LDAP server: connect, TLS, bind, send, and the one
// reader of its socket. Every message read goes to the request that owns its
// message id, whoever happened to read it, so no request takes another's
// answer, and any number of requests may be outstanding at once.
//
// Every request has a deadline (the tree's timeout); a request still waiting
// then fails, and so does every other one on the connection, which is dropped:
// a server that leaves one request unanswered is not trusted with the others.
// A lost connection fails all its requests; the next send connects anew.
//
// Everything here runs on the thread that made the connection, except the
// handshake (connect, TLS, bind), which runs on a thread of its own while
// this one waits in the message pump: libldap's name lookup, TLS handshake and
// SASL exchanges block, and not all of them heed a timeout, so only there can
// a hanging server not freeze the window past the deadline.
class LdapConnection {
public:
    LdapConnection(const LdapSettings &settings, QString password);
    ~LdapConnection(); // fails what is still outstanding
    Q_DISABLE_COPY_MOVE(LdapConnection)

    // Hands a request its messages: entries, references and intermediates as
    // they come, then its result, which ends it. A request that ends without
    // a result (deadline, lost connection) gets the failure and no message.
    // Called from the message pump, or from inside a wait; must not throw.
    // `ld` is the handle the message came from, valid for the call.
    using Reply = std::function<void(LDAP *ld, LDAPMessage *message, std::exception_ptr failure)>;
    using Request = std::function<int(LDAP *ld, int *messageId)>;

    // Sends a request, connecting first when there is no connection, and
    // returns its message id; raises when it cannot be sent. A request the
    // connection could not take because the server had gone since the last
    // one (a restart while the tree stood idle) is sent once more on a new
    // connection: it never reached the server.
    int send(const QString &what, const Request &request, Reply reply);

    // Requests sent from holdWrites() on go out together at sendHeld(), or
    // before a wait, in one send: a burst of them then costs the kernel and
    // the server one wake-up. A send that fails fails the connection.
    void holdWrites();
    void sendHeld();

    // Forgets a request (its reply is not called again) and tells the server.
    void abandon(int id);

    // Handles window messages (and so the replies of every request) until
    // `done` holds. Ends: every request ends by its deadline at the latest.
    void waitUntil(const std::function<bool()> &done);

    // As waitUntil(), until `awaited` (the answers still waited for) is
    // none; sleeps until they can all be there rather than waking for each.
    void waitForAnswers(const std::function<qsizetype()> &awaited);

    // The handle, for parsing messages (ldap_get_dn, ldap_parse_result, …).
    [[nodiscard]] LDAP *handle() const { return m_ld.get(); }
    [[nodiscard]] const LdapSettings &settings() const { return m_settings; }

    // Connects now (the tree's constructor: a wrong password shows at once):
    // to the first server of uri= that answers, each within its own
    // deadline; once bound, only to that server again.
    void open();

    // The server bound to; before the first bind, the uri= setting.
    [[nodiscard]] QString server() const { return m_bound.isEmpty() ? m_settings.uri : m_bound; }
    // Leaves the server bound to for `server`, which the next send connects
    // to, with the same bind and TLS settings; what is outstanding fails.
    void switchTo(const QString &server);

private:
    struct Outstanding {
        std::shared_ptr<const Reply> reply;
        QString what;
        QDeadlineTimer deadline;
    };

    void openAt(const QString &url);
    void wait(const std::function<bool()> &done, const std::function<qsizetype()> *awaited);
    void sendHeld(bool keepHolding);
    void wakeForAnswers(qsizetype answers);
    void readAll(int firstWaitMs = 0, bool onlyHeld = false);
    void deliver(LDAP *ld, LDAPMessage *message);
    // Fails every request, each with its own error, named by its `what`.
    void fail(const std::function<std::exception_ptr(const QString &what)> &failure);
    [[nodiscard]] QDeadlineTimer earliestDeadline() const;
    bool failExpired();
    void armDeadline();
    void deadlineReached();

    LdapSettings m_settings;
    QString m_password;
    QString m_bound; // one URL of uri=
    std::shared_ptr<LDAP> m_ld;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<int, Outstanding> m_outstanding;
    bool m_opening = false;
    bool m_holding = false;
    int m_plainFd = -1; // the socket, where neither TLS nor SASL wraps the messages
    int m_lowWater = 1; // the bytes that wake its reader
    QTimer m_deadlineTimer;
};

} // namespace directory
