#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <cstring>
#include <deque>
#include <memory_resource>

namespace directory::embedded {

// The texts of a tree's nodes, kept in large blocks: one allocation for many
// texts and no header for each. They stay until the tree goes.
class TextStore {
public:
    QByteArrayView keep(QByteArrayView text)
    {
        if (text.isEmpty()) // its data may be null, which memcpy must not see
            return {};
        char *const at = static_cast<char *>(m_blocks.allocate(static_cast<size_t>(text.size()), 1));
        std::memcpy(at, text.data(), static_cast<size_t>(text.size()));
        return {at, text.size()};
    }
    QStringView keep(QStringView text)
    {
        if (text.isEmpty()) // its data may be null, which memcpy must not see
            return {};
        const size_t size = static_cast<size_t>(text.size()) * sizeof(char16_t);
        char16_t *const at = static_cast<char16_t *>(m_blocks.allocate(size, alignof(char16_t)));
        std::memcpy(at, text.utf16(), size);
        return {at, text.size()};
    }

    // `utf8` as QString::fromUtf8 reads it, without a QString between. Room
    // for one UTF-16 unit for each byte, which ASCII fills exactly.
    QStringView keepFromUtf8(QByteArrayView utf8)
    {
        if (utf8.isEmpty())
            return {};
        const size_t most = static_cast<size_t>(utf8.size()) * sizeof(char16_t);
        QChar *const at = static_cast<QChar *>(m_blocks.allocate(most, alignof(char16_t)));
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QChar *const end = decoder.appendToBuffer(at, utf8);
        return {at, end - at};
    }

private:
    std::pmr::monotonic_buffer_resource m_blocks{64 * 1024};
};

// Texts that many nodes share (class names, RDN types), each kept once: a
// node holds a pointer, a third of a QString, which a large tree feels.
class SharedTexts {
public:
    const QString *keep(const QString &text)
    {
        // Entries in a row mostly name themselves by the same type.
        if (m_last && *m_last == text)
            return m_last;
        if (const QString *known = m_index.value(text))
            return m_last = known;
        const QString *kept = &m_texts.emplace_back(text);
        m_index.insert(text, kept);
        return m_last = kept;
    }

    const QString *keep(QByteArrayView utf8)
    {
        if (!m_lastOfUtf8 || m_lastUtf8 != utf8) {
            m_lastOfUtf8 = keep(QString::fromUtf8(utf8));
            m_lastUtf8 = utf8.toByteArray();
        }
        return m_lastOfUtf8;
    }

private:
    std::deque<QString> m_texts; // addresses stay as it grows
    QHash<QString, const QString *> m_index;
    const QString *m_last = nullptr;
    QByteArray m_lastUtf8;
    const QString *m_lastOfUtf8 = nullptr;
};

} // namespace directory::embedded
