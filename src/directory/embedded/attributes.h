#pragma once

#include "directory/embedded/ldif.h"
#include "directory/embedded/value_rule.h"

#include <QByteArrayView>
#include <QList>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <memory>

namespace directory::embedded {

// An entry's attributes packed into one block, which keeps a large tree
// small: per attribute its type's length and text, its number of values, and
// each value's length and bytes. Each type is there once, each value once
// under its type's rule, as a directory server keeps them.
class Attributes {
public:
    Attributes() = default;
    explicit Attributes(const QVarLengthArray<ldif::Modification, 8> &entry);

    // Calls `visit(type, values)` for every attribute.
    template <typename Visit>
    void forEach(Visit visit) const
    {
        const QByteArrayView data = bytes();
        for (const char *p = data.begin(); p < data.end();) {
            QVarLengthArray<QByteArrayView, 4> values; // clear() would reallocate
            const QByteArrayView type = read(p, values);
            visit(type, values);
        }
    }

    [[nodiscard]] QList<QByteArray> values(QByteArrayView wanted) const;

    // Applies one change as an LDAP modify would, without its refusals: an
    // attribute left without values is gone, a value added twice is there
    // once, and a value deleted that is not there is no error.
    void apply(const ldif::Modification &mod);

private:
    // Checked in place, as nearly every entry is.
    static bool isCollapsed(const QVarLengthArray<ldif::Modification, 8> &entry);
    // Each type once, with the values of all its lines, each value once.
    static QVarLengthArray<ldif::Modification, 8> collapsed(const QVarLengthArray<ldif::Modification, 8> &entry);
    void pack(const QVarLengthArray<ldif::Modification, 8> &entry);

    // The block holds its size, then the packed bytes: a QByteArray would
    // add a header and two more words to every entry of a large tree.
    [[nodiscard]] QByteArrayView bytes() const
    {
        if (!m_block)
            return {};
        const char *p = m_block.get();
        const auto size = take<quint32>(p);
        return {p, size};
    }
    // A new block for `size` packed bytes; returns where they go.
    char *allocate(qsizetype size);

    static qsizetype sizeOf(QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values)
    {
        if (values.isEmpty())
            return 0;
        qsizetype size = 6 + type.size();
        for (QByteArrayView value : values)
            size += 4 + value.size();
        return size;
    }
    template <typename T>
    static char *put(char *p, T value)
    {
        std::memcpy(p, &value, sizeof value);
        return p + sizeof value;
    }
    static char *put(char *p, QByteArrayView bytes)
    {
        if (!bytes.isEmpty())
            std::memcpy(p, bytes.data(), static_cast<size_t>(bytes.size()));
        return p + bytes.size();
    }
    static char *write(char *p, QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values)
    {
        if (values.isEmpty())
            return p;
        p = put(put<quint16>(p, static_cast<quint16>(type.size())), type);
        p = put<quint32>(p, static_cast<quint32>(values.size()));
        for (QByteArrayView value : values)
            p = put(put<quint32>(p, static_cast<quint32>(value.size())), value);
        return p;
    }
    template <typename T>
    static T take(const char *&p)
    {
        T value;
        std::memcpy(&value, p, sizeof value);
        p += sizeof value;
        return value;
    }
    // Moves `p` past the attribute there; returns its type.
    static QByteArrayView skip(const char *&p)
    {
        const auto typeSize = take<quint16>(p);
        const QByteArrayView type(p, typeSize);
        p += typeSize;
        for (quint32 count = take<quint32>(p); count > 0; --count)
            p += take<quint32>(p);
        return type;
    }
    // Reads the attribute at `p`: returns its type, appends its values to
    // `values`, and moves `p` past it.
    static QByteArrayView read(const char *&p, QVarLengthArray<QByteArrayView, 4> &values)
    {
        const auto typeSize = take<quint16>(p);
        const QByteArrayView type(p, typeSize);
        p += typeSize;
        for (quint32 count = take<quint32>(p); count > 0; --count) {
            const auto size = take<quint32>(p);
            values.append(QByteArrayView(p, size));
            p += size;
        }
        return type;
    }

    std::unique_ptr<char[]> m_block;
};

} // namespace directory::embedded
