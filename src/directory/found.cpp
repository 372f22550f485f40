#include "directory/found.h"

#include <QStringBuilder>

#include <cstring>

namespace directory {

namespace {

constexpr qsizetype kChunkObjects = 1024;

// An object's bytes: its DN (length and text), its container + 1 (0 for
// none), its own name's length * 2 + 1 when the DN spells it, else its
// length * 2 and the name, its identity (length and text), then each value (length and text) up to the next
// object's start. Lengths as LEB128: a byte or two each.
constexpr qsizetype kMaxNumberSize = 10;

char *putNumber(char *out, quint64 number)
{
    while (number >= 0x80) {
        *out++ = static_cast<char>(number | 0x80);
        number >>= 7;
    }
    *out++ = static_cast<char>(number);
    return out;
}

char *putBytes(char *out, QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        memcpy(out, bytes.data(), static_cast<size_t>(bytes.size()));
    return out + bytes.size();
}

// Writes at the end of `bytes` by `write(char *start) -> end`, which writes
// at most `most` bytes.
template <typename Write>
void appendTo(QByteArray &bytes, qsizetype most, Write write)
{
    const qsizetype size = bytes.size();
    bytes.resize(size + most);
    bytes.resize(write(bytes.data() + size) - bytes.constData());
}

quint64 takeNumber(const char *&at)
{
    quint64 number = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<uchar>(*at++);
        number |= static_cast<quint64>(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return number;
    }
}

// Where a DN spells its object's own name, if it does: after the first "="
// (its first RDN's type has none), unescaped.
QByteArrayView spelledName(QByteArrayView dn, qsizetype size)
{
    const qsizetype start = dn.indexOf('=') + 1;
    return start > 0 && dn.size() - start >= size ? dn.sliced(start, size) : QByteArrayView();
}

QString text(QByteArrayView utf8)
{
    return QString::fromUtf8(utf8.data(), utf8.size());
}

} // namespace

qsizetype Found::addContainer(const QString &fullName)
{
    m_containers.append(fullName);
    return m_containers.size() - 1;
}

void Found::append(qsizetype container, QByteArrayView name, QByteArrayView dn, QByteArrayView identity)
{
    if (m_chunks.isEmpty() || m_chunks.last().starts.size() == kChunkObjects) {
        qsizetype expected = 0;
        if (!m_chunks.isEmpty()) {
            QByteArray &full = m_chunks.last().bytes;
            full.squeeze();
            expected = full.size() + full.size() / 8;
        }
        Chunk chunk;
        chunk.bytes.reserve(expected);
        chunk.starts.reserve(kChunkObjects);
        m_chunks.append(std::move(chunk));
    }
    Chunk &chunk = m_chunks.last();
    chunk.starts.append(chunk.bytes.size());
    const bool spelled = !name.isEmpty() && spelledName(dn, name.size()) == name;
    appendTo(chunk.bytes, 4 * kMaxNumberSize + dn.size() + name.size() + identity.size(), [&](char *out) {
        out = putBytes(putNumber(out, static_cast<quint64>(dn.size())), dn);
        out = putNumber(out, static_cast<quint64>(container + 1));
        out = putNumber(out, static_cast<quint64>(name.size()) * 2 + (spelled ? 1 : 0));
        if (!spelled)
            out = putBytes(out, name);
        return putBytes(putNumber(out, static_cast<quint64>(identity.size())), identity);
    });
    ++m_size;
}

void Found::appendValue(QByteArrayView value)
{
    appendTo(m_chunks.last().bytes, kMaxNumberSize + value.size(),
             [&](char *out) { return putBytes(putNumber(out, static_cast<quint64>(value.size())), value); });
}

FoundObject Found::at(qsizetype index) const
{
    const Chunk &chunk = m_chunks.at(index / kChunkObjects);
    const qsizetype slot = index % kChunkObjects;
    const char *at = chunk.bytes.constData() + chunk.starts.at(slot);
    const char *const end = chunk.bytes.constData() + (slot + 1 < chunk.starts.size() ? chunk.starts.at(slot + 1) : chunk.bytes.size());

    const auto dnSize = static_cast<qsizetype>(takeNumber(at));
    const QByteArrayView dn(at, dnSize);
    at += dnSize;
    const auto container = static_cast<qsizetype>(takeNumber(at)) - 1;
    const quint64 nameCode = takeNumber(at);
    const auto nameSize = static_cast<qsizetype>(nameCode / 2);
    QByteArrayView name;
    if (nameCode & 1) {
        name = spelledName(dn, nameSize);
    } else {
        name = QByteArrayView(at, nameSize);
        at += nameSize;
    }

    const auto identitySize = static_cast<qsizetype>(takeNumber(at));
    FoundObject object;
    object.identity = text(QByteArrayView(at, identitySize));
    at += identitySize;
    object.dn = text(dn);
    object.fullName = container == kNoContainer ? text(name) : m_containers.at(container) % QLatin1Char('\\') % text(name);
    while (at < end) {
        const auto size = static_cast<qsizetype>(takeNumber(at));
        object.values.append(text(QByteArrayView(at, size)));
        at += size;
    }
    return object;
}

} // namespace directory
