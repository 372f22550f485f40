#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Distinguished names, parsed and built by libldap (RFC 4514), never by hand.
namespace directory {

struct Ava {
    QString type;
    QString value;
};

// One RDN; more than one AVA is a multi-valued RDN (cn=a+uid=b).
using Rdn = QList<Ava>;

// RDNs in DN order: the object's own first, the top last. Raises an error
// naming the DN when it is malformed.
QList<Rdn> parseDn(const QString &dn);
QString buildDn(const QList<Rdn> &rdns);

// The first RDN of a DN (UTF-8) and the text of its parent's DN, which
// follows the first separating comma (empty for a DN of one RDN). None when
// the first RDN is malformed or something other than a comma follows it.
struct FirstRdn {
    Rdn rdn;
    QByteArrayView parent;
};
std::optional<FirstRdn> firstRdn(QByteArrayView dn);

// Whether two RDNs are the same, ignoring letter case as cn, ou, o and dc do.
bool sameRdn(const Rdn &a, const Rdn &b);

// The RDNs of `dn` below `base`, from the top down (empty for the base
// itself); none when `dn` lies outside `base`.
std::optional<QList<Rdn>> pathBelow(const QList<Rdn> &dn, const QList<Rdn> &base);

// `value` escaped for use inside an LDAP filter (RFC 4515).
QString escapeFilterValue(const QString &value);

} // namespace directory
