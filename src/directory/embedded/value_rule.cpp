#include "directory/embedded/value_rule.h"

#include <QSet>

namespace directory::embedded {

void ValueRule::collapse(QVarLengthArray<QByteArrayView, 4> &values) const
{
    if (values.size() < 2)
        return;
    QVarLengthArray<QByteArrayView, 4> kept;
    if (values.size() <= 16) {
        for (QByteArrayView value : values) {
            if (indexIn(kept, value) < 0)
                kept.append(value);
        }
    } else { // a group's thousands of members
        QSet<QByteArray> seen;
        for (QByteArrayView value : values) {
            const QByteArray k = m_ignoreCase ? key(value).toUtf8() : value.toByteArray();
            if (!seen.contains(k)) {
                seen.insert(k);
                kept.append(value);
            }
        }
    }
    if (kept.size() != values.size())
        values = kept;
}

bool ValueRule::hasTwice(const QList<QByteArray> &values) const
{
    for (qsizetype i = 1; i < values.size(); ++i) {
        if (indexIn(values.first(i), values.at(i)) >= 0)
            return true;
    }
    return false;
}

bool ValueRule::sameSet(const QList<QByteArray> &a, const QList<QByteArray> &b) const
{
    if (a.size() != b.size())
        return false;
    QList<QByteArray> rest = b;
    for (const QByteArray &value : a) {
        const qsizetype at = indexIn(rest, value);
        if (at < 0)
            return false;
        rest.removeAt(at);
    }
    return true;
}

bool ValueRule::ignoresCase(QByteArrayView type)
{
    return sameType(type, "ou") || sameType(type, "department") || sameType(type, "organizationalUnitName");
}

QString ValueRule::key(QByteArrayView value)
{
    return QString::fromUtf8(value).simplified().toCaseFolded();
}

} // namespace directory::embedded
