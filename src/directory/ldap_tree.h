#pragma once

#include "directory/schema_map.h"
#include "directory/tree.h"

#include <functional>
#include <memory>

namespace directory {

struct LdapSettings {
    enum class Bind { Anonymous, Simple, SaslExternal };

    QString uri;    // ldap://, ldaps:// or ldapi://
    QString baseDn; // the tree root
    Bind bind = Bind::Anonymous;
    QString bindDn;
    QString passwordFile; // for a simple bind; else the password is asked for
    bool startTls = false;
    QString caFile; // certificates are always verified; this adds a trusted CA
    bool allowPlainPassword = false; // a password in clear text to a host other than loopback
    int timeoutSeconds = 10;
};

// Asks for the password of a simple bind; an empty answer cancels.
using PasswordPrompt = std::function<QString(const QString &treeName, const QString &bindDn)>;

// Whether these settings would send a password in clear text to a host other
// than this machine, which is refused unless allowPlainPassword is set.
bool sendsPlainPasswordAbroad(const LdapSettings &settings);

// A tree on an LDAP server, through libldap. Searches run asynchronously: their
// results are read on the UI thread whenever the socket has data, page by page
// (simple paged results), so they pass the server's size limit. Other
// operations wait for their answer, at most the configured timeout. A lost
// connection fails the operation at hand; the next one reconnects.
class LdapTree final : public Tree {
public:
    // Connects and binds; raises a clear error when that fails.
    LdapTree(const QString &name, const LdapSettings &settings, const SchemaMap &schema, const PasswordPrompt &prompt);
    ~LdapTree() override;

    QString className(const QString &fullName) override;
    QList<DirectoryObject> children(const QString &fullName, const QStringList &classNames) override;
    void search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                SearchDone done) override;
    void putAndStore(const QString &fullName, const QString &attribute, const QString &value) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace directory
