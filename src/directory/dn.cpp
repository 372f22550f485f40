#include "directory/dn.h"

#include "platform/error.h"

#include <QStringBuilder>

#include "directory/ldap_owners.h"

#include <algorithm>
#include <utility>

namespace directory {

using namespace ldap_owners;

namespace {
QString fromBerval(const berval &bv)
{
    return QString::fromUtf8(bv.bv_val, static_cast<qsizetype>(bv.bv_len));
}
} // namespace

QList<Rdn> parseDn(const QString &dn)
{
    const QByteArray utf8 = dn.toUtf8();
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(utf8.constData(), &parsed, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PEDANTIC) != LDAP_SUCCESS)
        throw platform::Error(QStringLiteral("Ungültiger DN \"%1\"").arg(dn));
    Owned<LDAPRDN> owner(parsed);

    QList<Rdn> rdns;
    for (int i = 0; parsed && parsed[i]; ++i) {
        Rdn rdn;
        for (int j = 0; parsed[i][j]; ++j) {
            const LDAPAVA *ava = parsed[i][j];
            if (ava->la_flags & LDAP_AVA_BINARY)
                throw platform::Error(QStringLiteral("DN \"%1\" enthält einen binären Wert").arg(dn));
            rdn.append({fromBerval(ava->la_attr), fromBerval(ava->la_value)});
        }
        rdns.append(rdn);
    }
    return rdns;
}

namespace {
// The usual attribute types as shared text: most entries of a large tree
// name themselves by one of these, and need no copy of it.
QString typeOf(const berval &type)
{
    static const QString usual[] = {QStringLiteral("cn"), QStringLiteral("ou"), QStringLiteral("o"),
                                    QStringLiteral("uid"), QStringLiteral("dc")};
    const QLatin1StringView text(type.bv_val, static_cast<qsizetype>(type.bv_len));
    for (const QString &known : usual) {
        if (known == text)
            return known;
    }
    return fromBerval(type);
}

Rdn toRdn(LDAPRDN parsed)
{
    Rdn rdn;
    for (int j = 0; parsed[j]; ++j)
        rdn.append({typeOf(parsed[j]->la_attr), fromBerval(parsed[j]->la_value)});
    return rdn;
}
} // namespace

std::optional<FirstRdn> firstRdn(QByteArrayView dn)
{
    if (dn.isEmpty())
        return std::nullopt;
    berval text{static_cast<ber_len_t>(dn.size()), const_cast<char *>(dn.data())};
    LDAPRDN parsed = nullptr;
    char *next = nullptr;
    if (ldap_bv2rdn(&text, &parsed, &next, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PEDANTIC) != LDAP_SUCCESS || !parsed)
        return std::nullopt;
    FirstRdn first(parsed, {});
    for (int j = 0; parsed[j]; ++j) {
        if (parsed[j]->la_flags & LDAP_AVA_BINARY)
            return std::nullopt;
    }
    const char *const end = dn.data() + dn.size();
    if (next && next < end) {
        if (*next != ',' || next + 1 == end)
            return std::nullopt;
        first.m_parent = QByteArrayView(next + 1, end);
    }
    return first;
}

FirstRdn::FirstRdn(FirstRdn &&other) noexcept
    : m_parsed(std::exchange(other.m_parsed, nullptr)), m_parent(other.m_parent)
{
}

FirstRdn::~FirstRdn()
{
    if (m_parsed)
        ldap_rdnfree(m_parsed);
}

qsizetype FirstRdn::size() const
{
    qsizetype size = 0;
    while (m_parsed[size])
        ++size;
    return size;
}

QByteArrayView FirstRdn::type() const
{
    return {m_parsed[0]->la_attr.bv_val, static_cast<qsizetype>(m_parsed[0]->la_attr.bv_len)};
}

QByteArrayView FirstRdn::value() const
{
    return {m_parsed[0]->la_value.bv_val, static_cast<qsizetype>(m_parsed[0]->la_value.bv_len)};
}

Rdn FirstRdn::rdn() const
{
    return toRdn(m_parsed);
}

QString dnBelow(const QString &parentDn, QByteArrayView type, QStringView value)
{
    QByteArray valueText = value.toUtf8();
    LDAPAVA ava{};
    ava.la_attr = {static_cast<ber_len_t>(type.size()), const_cast<char *>(type.data())};
    ava.la_value = {static_cast<ber_len_t>(valueText.size()), valueText.data()};
    ava.la_flags = LDAP_AVA_STRING;
    LDAPAVA *rdn[] = {&ava, nullptr};
    berval text{};
    if (ldap_rdn2bv(rdn, &text, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
        throw platform::Error(QStringLiteral("Aus den Namensteilen lässt sich kein DN bilden"));
    Text owner(text.bv_val);
    if (parentDn.isEmpty())
        return fromBerval(text);
    return fromBerval(text) % QLatin1Char(',') % parentDn;
}

QString escapeFilterValue(const QString &value)
{
    QByteArray utf8 = value.toUtf8();
    berval in{static_cast<ber_len_t>(utf8.size()), utf8.data()};
    berval out{};
    if (ldap_bv2escaped_filter_value(&in, &out) != 0)
        throw platform::Error(QStringLiteral("Suchwert \"%1\" lässt sich nicht maskieren").arg(value));
    Text owner(out.bv_val);
    return fromBerval(out);
}

bool sameRdn(const Rdn &a, const Rdn &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].type.compare(b[i].type, Qt::CaseInsensitive) != 0
            || a[i].value.compare(b[i].value, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

std::optional<QList<Rdn>> pathBelow(const QList<Rdn> &dn, const QList<Rdn> &base)
{
    const qsizetype depth = dn.size() - base.size();
    if (depth < 0)
        return std::nullopt;
    for (qsizetype i = 0; i < base.size(); ++i) {
        if (!sameRdn(dn[depth + i], base[i]))
            return std::nullopt;
    }
    QList<Rdn> path = dn.first(depth);
    std::reverse(path.begin(), path.end());
    return path;
}

} // namespace directory
