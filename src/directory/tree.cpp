#include "directory/tree.h"

#include "directory/full_name.h"

namespace directory {

namespace {
QList<QByteArray> valuesMissingFrom(const QStringList &values, const QStringList &others)
{
    QList<QByteArray> result;
    for (const QString &value : values) {
        if (!others.contains(value))
            result.append(value.toUtf8());
    }
    return result;
}
} // namespace

ValueDifference difference(const QStringList &before, const QStringList &after)
{
    return {valuesMissingFrom(before, after), valuesMissingFrom(after, before)};
}

QString Tree::rootFullName() const
{
    return directory::rootFullName(m_name);
}

} // namespace directory
