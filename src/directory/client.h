#pragma once

#include "directory/ldap/ldap_tree.h"
#include "directory/tree.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace directory {

// The directory client: the trees this workstation is attached to.
//
// They come from an INI file, one section per tree, named by the tree:
//     [SCHULE]
//     ldif=schule.ldif          ; embedded tree (relative to the INI file)
//     base=                     ; DN of the tree root (optional)
//     attribute.OU=ou           ; optional maps, see SchemaMap
//     filter.User=(...)         ; the LDAP filter that finds users
// or, for an LDAP server (see LdapSettings):
//     uri=ldap://server         ; or ldaps://, ldapi://
//     base=dc=schule,dc=de
//     bind=simple               ; anonymous (default), simple, external or sasl
//     mech=GSSAPI               ; the SASL mechanism of bind=sasl
//     binddn=cn=admin,dc=schule,dc=de
//     passwordfile=...          ; else the password is asked for
//     starttls=true
//     cafile=...
//     allow_plain_password=false
//     timeout=10
// The file is $DIRCLIENT_CONFIG (which must exist), else dirclient.ini in the
// user's config folder. Without one, the demo tree is attached: copied on
// first start from `demoSource` into the user's data folder (0700, the copy
// 0600), so that it can be written. Trees are attached in the order of their
// names. When attaching fails, the client holds no trees and treeNames() and
// tree() raise that failure.
class Client {
public:
    explicit Client(const QString &demoSource = QString(), PasswordPrompt prompt = {});
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    static QString configPath();

    [[nodiscard]] QStringList treeNames() const;
    [[nodiscard]] bool hasTree(QStringView name) const;

    // The tree, loaded on first use; raises an error when it is not attached or
    // cannot be loaded (and tries again on the next call).
    Tree &tree(QStringView name);

    // The tree that a full name lies in.
    Tree &treeOf(const QString &fullName);

    // Where the tree lives: its LDIF file, or its uri=; once an LDAP tree is
    // loaded, the one server of uri= that it is bound to and writes to.
    [[nodiscard]] QString source(const QString &name) const;
    // The tree's base DN (empty for a tree without one).
    [[nodiscard]] QString base(const QString &name) const;
    // The identity of the tree's base entry on its server (see
    // LdapTree::identity), read once; empty for an embedded tree or when
    // it cannot be read.
    QString identity(const QString &name);
    // The tree's directory attribute for an NDS attribute ("OU" -> ou).
    [[nodiscard]] QString attributeName(const QString &name, const QString &ndsAttribute) const;

    // For a loaded tree on an LDAP server: the server's kind and the defaults
    // it took for what the configuration left open; empty otherwise.
    [[nodiscard]] QString serverDescription(const QString &name) const;

    // What loading trees had to report without failing (a torn journal
    // record), once each.
    QStringList takeWarnings();

private:
    struct Attached;
    // The attached tree of that name, letter case ignored; none if there is none.
    Attached *attached(QStringView name) const;
    void readConfig(const QString &path);
    void attachDemo(const QString &demoSource);
    std::vector<std::unique_ptr<Attached>> m_trees;
    QString m_attachError;
    PasswordPrompt m_prompt;
    QStringList m_warnings;
};

} // namespace directory
