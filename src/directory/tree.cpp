#include "directory/tree.h"

#include "directory/full_name.h"
#include "platform/error.h"

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

void Tree::storeChanges(const QList<ValueChange> &changes, const Stored &stored)
{
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const ValueChange &change = changes.at(i);
        std::exception_ptr failure;
        try {
            if (change.after.size() > 1)
                throw platform::Error(QStringLiteral("%1 von %2 hat mehrere Werte; dieser Baum kann nur einen speichern, "
                                                     "die Änderung unterbleibt").arg(change.attribute, change.fullName));
            putAndStore(change.fullName, change.attribute, change.after.value(0));
        } catch (...) {
            failure = std::current_exception();
        }
        if (!stored(i, failure))
            return;
    }
}

} // namespace directory
