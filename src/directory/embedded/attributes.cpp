#include "directory/embedded/attributes.h"

#include <algorithm>

namespace directory::embedded {

Attributes::Attributes(const QVarLengthArray<ldif::Modification, 8> &entry)
{
    if (!isCollapsed(entry)) {
        pack(collapsed(entry));
        return;
    }
    pack(entry);
}

QList<QByteArray> Attributes::values(QByteArrayView wanted) const
{
    QList<QByteArray> result;
    forEach([&](QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values) {
        if (sameType(type, wanted)) {
            for (QByteArrayView value : values)
                result.append(value.toByteArray());
        }
    });
    return result;
}

void Attributes::apply(const ldif::Modification &mod)
{
    const ValueRule rule(mod.type);
    // Only the changed attribute is rebuilt; those before and after it
    // are copied as they are.
    const QByteArrayView data = bytes();
    QByteArrayView before = data;
    QByteArrayView after;
    QByteArrayView type = mod.type;
    QVarLengthArray<QByteArrayView, 4> values;
    for (const char *p = data.begin(); p < data.end();) {
        const char *const at = p;
        const QByteArrayView stored = skip(p);
        if (sameType(stored, mod.type)) {
            p = at;
            read(p, values);
            before = QByteArrayView(data.begin(), at);
            after = QByteArrayView(p, data.end());
            type = stored;
            break;
        }
    }
    QVarLengthArray<QByteArrayView, 4> kept;
    switch (mod.op) {
    case ldif::Modification::Op::Add:
        kept = values;
        kept.append(mod.values.constData(), mod.values.size());
        break;
    case ldif::Modification::Op::Replace:
        kept = mod.values;
        break;
    case ldif::Modification::Op::Delete:
        if (!mod.values.isEmpty()) {
            kept = values;
            for (QByteArrayView gone : mod.values) {
                if (const qsizetype at = rule.indexIn(kept, gone); at >= 0)
                    kept.remove(at);
            }
        }
        break;
    }
    if (kept.size() > 1)
        rule.collapse(kept);
    // `kept` views the old block: the new one is filled before it goes.
    std::unique_ptr<char[]> old = std::move(m_block);
    char *p = allocate(before.size() + sizeOf(type, kept) + after.size());
    p = write(put(p, before), type, kept);
    put(p, after);
}

bool Attributes::isCollapsed(const QVarLengthArray<ldif::Modification, 8> &entry)
{
    for (qsizetype i = 0; i < entry.size(); ++i) {
        const ldif::Modification &mod = entry[i];
        for (qsizetype j = 0; j < i; ++j) {
            if (sameType(entry[j].type, mod.type))
                return false;
        }
        if (mod.values.size() < 2)
            continue;
        if (mod.values.size() > 16)
            return false; // collapsed() has the faster way for many
        const ValueRule rule(mod.type);
        for (qsizetype a = 1; a < mod.values.size(); ++a) {
            for (qsizetype b = 0; b < a; ++b) {
                if (rule.same(mod.values[a], mod.values[b]))
                    return false;
            }
        }
    }
    return true;
}

QVarLengthArray<ldif::Modification, 8> Attributes::collapsed(const QVarLengthArray<ldif::Modification, 8> &entry)
{
    QVarLengthArray<ldif::Modification, 8> result;
    for (const ldif::Modification &mod : entry) {
        const auto same = std::find_if(result.begin(), result.end(), [&](const ldif::Modification &kept) {
            return sameType(kept.type, mod.type);
        });
        if (same == result.end())
            result.append(mod);
        else
            same->values.append(mod.values.constData(), mod.values.size());
    }
    for (ldif::Modification &mod : result)
        ValueRule(mod.type).collapse(mod.values);
    return result;
}

void Attributes::pack(const QVarLengthArray<ldif::Modification, 8> &entry)
{
    qsizetype size = 0;
    for (const ldif::Modification &mod : entry)
        size += sizeOf(mod.type, mod.values);
    char *p = allocate(size);
    for (const ldif::Modification &mod : entry)
        p = write(p, mod.type, mod.values);
}

char *Attributes::allocate(qsizetype size)
{
    if (size == 0) {
        m_block.reset();
        return nullptr;
    }
    m_block = std::make_unique_for_overwrite<char[]>(sizeof(quint32) + static_cast<size_t>(size));
    return put<quint32>(m_block.get(), static_cast<quint32>(size));
}

} // namespace directory::embedded
