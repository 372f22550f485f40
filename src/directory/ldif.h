#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// LDIF read and written through libldap's LDIF functions.
namespace directory::ldif {

struct Modification {
    enum class Op { Add, Delete, Replace };
    Op op = Op::Add;
    QByteArray type;
    QList<QByteArray> values;
};

struct Record {
    enum class Kind { Add, Modify, Other };
    Kind kind = Kind::Add;
    QString dn;
    QList<Modification> modifications; // for Add: one Add per attribute
    unsigned long firstLine = 0;
};

// Calls `handle` for every record of `data`. Records without a changetype are
// entries to add. Raises an error naming `fileName` and the line of the record
// that cannot be parsed; `handle` may raise too.
void forEachRecord(const QByteArray &data, const QString &fileName,
                   const std::function<void(const Record &)> &handle);

// A modify record replacing the values of `type`, in a form that ldapmodify
// applies; it also shows the replaced values, as a delete of exactly those.
QByteArray replaceRecord(const QString &dn, const QByteArray &type, const QList<QByteArray> &oldValues,
                         const QList<QByteArray> &newValues);

} // namespace directory::ldif
