#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QVarLengthArray>

#include <functional>

// LDIF (RFC 2849) read and written through libldap's LDIF functions.
namespace directory::ldif {

// Views into the data being read: valid only while the handler runs.
struct Modification {
    enum class Op { Add, Delete, Replace };
    Op op = Op::Add;
    QByteArrayView type; // at most 1000 bytes
    QVarLengthArray<QByteArrayView, 4> values;
};

struct Record {
    enum class Kind { Add, Modify, Other };
    Kind kind = Kind::Add;
    QByteArrayView dn; // valid UTF-8, without NUL
    QVarLengthArray<Modification, 8> modifications; // for Add: one Add per attribute
    unsigned long firstLine = 0;
};

// Calls `handle` for every record in the next `size` bytes of `in`. Records without a
// changetype are entries to add. Raises an error naming `fileName` and the
// line of anything that is not plain LDIF, before libldap sees it: NUL bytes, stray carriage returns, lines without an
// attribute type, "-" outside a modify record, and includes and URL values,
// which would read other files. `handle` may raise too. `ahead`, when given,
// is told the DN of a record as its first line reads, before the record is
// parsed: a hint (it may differ from the DN handled), in time to fetch into
// the cache what handling the record will need.
void forEachRecord(QIODevice &in, qint64 size, const QString &fileName, const std::function<void(const Record &)> &handle,
                   const std::function<void(QByteArrayView dn)> &ahead = {});

// A modify record replacing the values of `type`, in a form that ldapmodify
// applies; it also shows the replaced values, as a delete of exactly those.
QByteArray replaceRecord(QByteArrayView dn, QByteArrayView type, const QList<QByteArray> &oldValues,
                         const QList<QByteArray> &newValues);

} // namespace directory::ldif
