#include "directory/ldif.h"

#include "platform/error.h"

#include <QScopeGuard>

#include "directory/ldap_owners.h"

namespace directory::ldif {

using namespace ldap_owners;

namespace {

Modification::Op opOf(int modOp)
{
    switch (modOp & ~LDAP_MOD_BVALUES) {
    case LDAP_MOD_DELETE:
        return Modification::Op::Delete;
    case LDAP_MOD_REPLACE:
        return Modification::Op::Replace;
    default:
        return Modification::Op::Add;
    }
}

Record toRecord(const LDIFRecord &raw, unsigned long firstLine)
{
    Record record;
    record.firstLine = firstLine;
    record.dn = QString::fromUtf8(raw.lr_dn.bv_val, static_cast<qsizetype>(raw.lr_dn.bv_len));
    switch (raw.lr_op) {
    case LDAP_REQ_ADD:
        record.kind = Record::Kind::Add;
        break;
    case LDAP_REQ_MODIFY:
        record.kind = Record::Kind::Modify;
        break;
    default:
        record.kind = Record::Kind::Other;
        return record;
    }
    for (LDAPMod **mod = raw.lrop_mods; mod && *mod; ++mod) {
        Modification modification;
        modification.op = opOf((*mod)->mod_op);
        modification.type = QByteArray((*mod)->mod_type);
        for (berval **value = (*mod)->mod_bvalues; value && *value; ++value)
            modification.values.append(
                QByteArray((*value)->bv_val, static_cast<qsizetype>((*value)->bv_len)));
        record.modifications.append(modification);
    }
    return record;
}

void appendLine(QByteArray &out, int type, const char *name, const QByteArray &value)
{
    Text line(
        ldif_put_wrap(type, name, value.constData(), static_cast<ber_len_t>(value.size()), LDIF_LINE_WIDTH_MAX));
    if (!line)
        throw platform::Error(QStringLiteral("Kein Speicher für den Journaleintrag"));
    out += line.get();
}
} // namespace

void forEachRecord(const QByteArray &data, const QString &fileName,
                   const std::function<void(const Record &)> &handle)
{
    QByteArray buffer = data; // ldif_open_mem reads from a writable buffer
    Owned<LDIFFP> fp(ldif_open_mem(buffer.data(), static_cast<size_t>(buffer.size()), "r"));
    if (!fp)
        throw platform::Error(QStringLiteral("Datei %1 kann nicht gelesen werden").arg(fileName));

    unsigned long lineNumber = 0;
    char *rawBuffer = nullptr;
    int rawSize = 0;
    const auto freeBuffer = qScopeGuard([&] { ber_memfree(rawBuffer); });
    // ldif_read_record reports no line a record starts on: find each record in
    // the data to count it ourselves.
    qsizetype scanned = 0;
    unsigned long linesBefore = 1;
    bool first = true;
    for (;;) {
        const int rc = ldif_read_record(fp.get(), &lineNumber, &rawBuffer, &rawSize);
        if (rc == 0)
            break;
        if (rc < 0)
            throw platform::Error(QStringLiteral("Datei %1, Zeile %2: ungültiges LDIF").arg(fileName).arg(linesBefore));

        QByteArrayView recordText(rawBuffer, qstrlen(rawBuffer));
        while (recordText.startsWith("#")) // comments ahead of the record
            recordText = recordText.sliced(recordText.indexOf("\n") + 1);
        const qsizetype at = data.indexOf(recordText, scanned);
        if (at >= 0) {
            linesBefore += static_cast<unsigned long>(QByteArrayView(data).sliced(scanned, at - scanned).count('\n'));
            scanned = at;
        }
        const unsigned long firstLine = linesBefore;
        if (std::exchange(first, false) && recordText.startsWith("version:"))
            continue; // the LDIF version line is no record

        berval text{static_cast<ber_len_t>(qstrlen(rawBuffer)), rawBuffer};
        LDIFRecord raw{};
        if (ldap_parse_ldif_record(&text, firstLine, &raw, "klassomat", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS) != LDAP_SUCCESS)
            throw platform::Error(QStringLiteral("Datei %1, Zeile %2: ungültiger LDIF-Eintrag").arg(fileName).arg(firstLine));
        Owned<LDIFRecord> done(&raw);
        handle(toRecord(raw, firstLine));
    }
}

QByteArray replaceRecord(const QString &dn, const QByteArray &type, const QList<QByteArray> &oldValues,
                         const QList<QByteArray> &newValues)
{
    QByteArray out;
    appendLine(out, LDIF_PUT_VALUE, "dn", dn.toUtf8());
    appendLine(out, LDIF_PUT_VALUE, "changetype", "modify");
    if (!oldValues.isEmpty()) {
        appendLine(out, LDIF_PUT_VALUE, "delete", type);
        for (const QByteArray &value : oldValues)
            appendLine(out, LDIF_PUT_VALUE, type.constData(), value);
        out += "-\n";
    }
    if (!newValues.isEmpty()) {
        appendLine(out, LDIF_PUT_VALUE, "add", type);
        for (const QByteArray &value : newValues)
            appendLine(out, LDIF_PUT_VALUE, type.constData(), value);
        out += "-\n";
    }
    out += '\n';
    return out;
}

} // namespace directory::ldif
