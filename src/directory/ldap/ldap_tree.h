#pragma once

#include "directory/schema_map.h"
#include "directory/tree.h"

#include <functional>
#include <memory>

namespace directory {

struct LdapSettings {
    enum class Bind { Anonymous, Simple, SaslExternal, Sasl };

    QString uri;    // ldap://, ldaps:// or ldapi://
    QString baseDn; // the tree root
    Bind bind = Bind::Anonymous;
    QString bindDn;
    QString passwordFile; // for a simple bind; else the password is asked for
    QString saslMechanism; // for Bind::Sasl, e.g. GSSAPI (the user's Kerberos ticket)
    bool startTls = false;
    QString caFile; // certificates are always verified; this adds a trusted CA
    bool allowPlainPassword = false; // a password in clear text to a host other than loopback
    int timeoutSeconds = 10;
    // The entries one search may bring, repeated ones counted: a bound on
    // the memory a server can make it take.
    qint64 maxEntries = 500000;
};

// No server of the tree answered (not reachable, or silent past the
// deadline), or the one bound to went away: nothing was read or written
// after that.
class ServerUnreachable : public platform::Error {
public:
    using Error::Error;
};

// Asks for the password of a simple bind; an empty answer cancels.
using PasswordPrompt = std::function<QString(const QString &treeName, const QString &bindDn)>;

// Whether these settings would send a password in clear text to a host other
// than this machine (judged by the addresses its name resolves to, all of which
// must be loopback), which is refused unless allowPlainPassword is set.
bool sendsPlainPasswordAbroad(const LdapSettings &settings);
// The first server of uri= the password would go to in clear text; empty when none.
QString plainPasswordServer(const LdapSettings &settings);

// A tree on an LDAP server, through libldap (see LdapConnection). Searches run
// asynchronously: their results are read on the UI thread whenever the socket
// has data, page by page (simple paged results), so they pass the server's
// size limit. Other operations wait for their answer in the message pump, each
// request at most the configured timeout. A lost connection fails the
// operations at hand; the next one reconnects.
//
// Full names are mapped to DNs by what searches and listings have returned
// (and looked up one level at a time otherwise); a full name that two objects
// share (cn=mueller and uid=mueller) is never written.
class LdapTree final : public Tree {
public:
    // Connects and binds; raises a clear error when that fails.
    LdapTree(const QString &name, const LdapSettings &settings, const SchemaMap &schema, const PasswordPrompt &prompt);
    ~LdapTree() override;

    QString className(const QString &fullName) override;
    QList<DirectoryObject> children(const QString &fullName, const QStringList &classNames) override;
    void search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                SearchDone done) override;
    void cancelSearches() override;
    void putAndStore(const QString &fullName, const QString &attribute, const QString &value) override;
    void storeChanges(const QList<ValueChange> &changes, const Stored &stored) override;
    // By the attribute's equality rule in the server's subschema.
    Qt::CaseSensitivity valueCase(const QString &attribute) override;

    // The server's kind, from its root DSE, and the class and attribute maps
    // that it set because the configuration did not ("attribute.OU=department").
    [[nodiscard]] ServerKind serverKind() const;
    // The server of uri= that the run's connection is bound to, which all
    // its writes go to (or, after a read-only copy referred them, the one of
    // uri= it referred them to).
    [[nodiscard]] QString server() const;
    [[nodiscard]] QStringList defaultsTaken() const;
    [[nodiscard]] const SchemaMap &schema() const;

    // The base entry's own identity, which a server made anew with the same
    // DNs does not share: "entryUUID=…", "nsUniqueId=…" (389) or
    // "objectGUID=" and its bytes in hex (AD); empty when the entry shows none.
    [[nodiscard]] QString identity();

    // putAndStore without waiting for the server: the change is sent now (once
    // the name's DN is known; a name no search or listing has returned is
    // looked up first, which waits), and `done` runs from the message pump
    // when the server has answered: with no failure once the change is
    // stored, else with the refusal, the deadline or the lost connection.
    // Any number may be outstanding; each gets its own answer. Raises when
    // the change cannot be sent (unknown or ambiguous name, no connection).
    using StoreDone = std::function<void(std::exception_ptr failure)>;
    void startPutAndStore(const QString &fullName, const QString &attribute, const QString &value, StoreDone done);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace directory
