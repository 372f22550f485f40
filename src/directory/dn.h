#pragma once

#include <QList>
#include <QString>

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

// `value` escaped for use inside an LDAP filter (RFC 4515).
QString escapeFilterValue(const QString &value);

} // namespace directory
