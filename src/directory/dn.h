#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

struct ldap_ava; // libldap's LDAPAVA

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
// The DN of the object named `type`=`value` (type in UTF-8) right below
// `parentDn`; an empty parent gives a DN of that one RDN.
QString dnBelow(const QString &parentDn, QByteArrayView type, QStringView value);

// The first RDN of a DN (UTF-8) as libldap parses it, and the text of its
// parent's DN, which follows the first separating comma (empty for a DN of
// one RDN). Made for reading many DNs: the first type and value are viewed
// where libldap put them, and the whole RDN is built only when asked for.
class FirstRdn {
public:
    FirstRdn(FirstRdn &&other) noexcept;
    FirstRdn &operator=(FirstRdn &&) = delete;
    ~FirstRdn();

    [[nodiscard]] qsizetype size() const; // more than one for a multi-valued RDN
    [[nodiscard]] QByteArrayView type() const; // of the first AVA
    [[nodiscard]] QByteArrayView value() const; // of the first AVA, unescaped
    [[nodiscard]] Rdn rdn() const;
    [[nodiscard]] QByteArrayView parent() const { return m_parent; }

private:
    friend std::optional<FirstRdn> firstRdn(QByteArrayView dn);
    FirstRdn(::ldap_ava **parsed, QByteArrayView parent) : m_parsed(parsed), m_parent(parent) {}
    ::ldap_ava **m_parsed;
    QByteArrayView m_parent;
};
// None when the first RDN is malformed, holds a binary value, or something
// other than a comma follows it.
std::optional<FirstRdn> firstRdn(QByteArrayView dn);

// Whether two RDNs are the same, ignoring letter case as cn, ou, o and dc do.
bool sameRdn(const Rdn &a, const Rdn &b);

// The RDNs of `dn` below `base`, from the top down (empty for the base
// itself); none when `dn` lies outside `base`.
std::optional<QList<Rdn>> pathBelow(const QList<Rdn> &dn, const QList<Rdn> &base);

// `value` escaped for use inside an LDAP filter (RFC 4515).
QString escapeFilterValue(const QString &value);

} // namespace directory
