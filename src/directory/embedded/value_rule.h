#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVarLengthArray>

namespace directory::embedded {

// Whether two attribute types are one, ignoring letter case as LDAP does.
// The sizes first: this runs for every attribute loaded or changed.
inline bool sameType(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    // ASCII letters here; anything else goes to Qt's rule.
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char lower = static_cast<char>(a[i] | 0x20);
        if (a[i] != b[i] && (lower != (b[i] | 0x20) || lower < 'a' || lower > 'z'))
            return a.compare(b, Qt::CaseInsensitive) == 0;
    }
    return true;
}

// How the values of one attribute type are told apart. `ou` and `department`
// compare as directory servers compare them (caseIgnoreMatch: letter case and
// runs of blanks do not count), so a delete of "r7a" removes "R7a" and "8a"
// beside "8A" is one value twice; others compare byte by byte.
class ValueRule {
public:
    explicit ValueRule(QByteArrayView type) : m_ignoreCase(ignoresCase(type)) {}

    [[nodiscard]] bool same(QByteArrayView a, QByteArrayView b) const
    {
        return a == b || (m_ignoreCase && key(a) == key(b));
    }

    // Where `values` hold `value`; -1 when they do not.
    template <typename Values>
    [[nodiscard]] qsizetype indexIn(const Values &values, QByteArrayView value) const
    {
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (same(values[i], value))
                return i;
        }
        return -1;
    }

    // `values` with each value once, the first of its spelling kept.
    void collapse(QVarLengthArray<QByteArrayView, 4> &values) const;
    [[nodiscard]] bool hasTwice(const QList<QByteArray> &values) const;
    // Whether both hold the same values under this rule, in any order.
    [[nodiscard]] bool sameSet(const QList<QByteArray> &a, const QList<QByteArray> &b) const;

    static bool ignoresCase(QByteArrayView type);

private:
    static QString key(QByteArrayView value);
    bool m_ignoreCase;
};

} // namespace directory::embedded
