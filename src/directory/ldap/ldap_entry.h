#pragma once

#include "directory/ldap/ldap_connection.h"

#include <QByteArrayView>
#include <QScopeGuard>
#include <QStringList>

#include <ldap.h>

namespace directory {

// An entry a search returned, read in place from its message as ldapsearch
// reads it: its DN, then its attributes' values, no copy of either.
class Entry {
public:
    Entry(LDAP *ld, LDAPMessage *message) : m_ld(ld), m_message(message)
    {
        const int rc = ldap_get_dn_ber(ld, message, &m_ber, &m_dn);
        if (rc != LDAP_SUCCESS) {
            ber_free(m_ber, 0);
            throw ldapError(ld, rc, QStringLiteral("Lesen eines Eintrags"));
        }
    }
    ~Entry() { ber_free(m_ber, 0); }
    Q_DISABLE_COPY_MOVE(Entry)

    [[nodiscard]] QByteArrayView dn() const { return view(m_dn); }

    // Calls `take` with each value of `attribute`. Reads on through the
    // attributes: once per entry.
    template <typename Take>
    void forEachValue(const char *attribute, Take take)
    {
        const QByteArrayView wanted(attribute);
        forEachAttribute([&](QByteArrayView type, const berval *values) {
            if (type.compare(wanted, Qt::CaseInsensitive) == 0) {
                for (const berval *value = values; value && value->bv_val; ++value)
                    take(view(*value));
            }
        });
    }

    // Calls `take(type, values)` for each attribute, in the entry's order.
    template <typename Take>
    void forEachAttribute(Take take)
    {
        int rc = LDAP_SUCCESS;
        for (;;) {
            berval type{0, nullptr};
            BerVarray values = nullptr;
            rc = ldap_get_attribute_ber(m_ld, m_message, m_ber, &type, &values);
            const auto release = qScopeGuard([values] { ber_memfree(values); }); // the array; the values are the message's
            if (rc != LDAP_SUCCESS || !type.bv_val)
                break;
            take(view(type), values);
        }
        if (rc != LDAP_SUCCESS)
            throw ldapError(m_ld, rc, QStringLiteral("Lesen von %1").arg(QString::fromUtf8(dn())));
    }

    QStringList values(const char *attribute)
    {
        QStringList result;
        forEachValue(attribute, [&](QByteArrayView value) { result.append(QString::fromUtf8(value)); });
        return result;
    }

private:
    static QByteArrayView view(const berval &bv) { return {bv.bv_val, static_cast<qsizetype>(bv.bv_len)}; }

    LDAP *m_ld;
    LDAPMessage *m_message;
    BerElement *m_ber = nullptr;
    berval m_dn{0, nullptr};
};

} // namespace directory
