#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace directory::embedded {

// The texts of a tree's nodes, kept in large blocks: one allocation for many
// texts and no header for each. They stay until the tree goes.
class TextStore {
public:
    QByteArrayView keep(QByteArrayView text)
    {
        if (text.isEmpty()) // its data may be null, which memcpy must not see
            return {};
        char *const at = static_cast<char *>(allocate(static_cast<size_t>(text.size()), 1));
        std::memcpy(at, text.data(), static_cast<size_t>(text.size()));
        return {at, text.size()};
    }
    QStringView keep(QStringView text)
    {
        if (text.isEmpty()) // its data may be null, which memcpy must not see
            return {};
        const size_t size = static_cast<size_t>(text.size()) * sizeof(char16_t);
        char16_t *const at = static_cast<char16_t *>(allocate(size, alignof(char16_t)));
        std::memcpy(at, text.utf16(), size);
        return {at, text.size()};
    }

    // `utf8` as QString::fromUtf8 reads it, without a QString between.
    QStringView keepFromUtf8(QByteArrayView utf8)
    {
        if (utf8.isEmpty())
            return {};
        // At most one UTF-16 unit for each byte; what is left goes back.
        const size_t most = static_cast<size_t>(utf8.size()) * sizeof(char16_t);
        QChar *const at = static_cast<QChar *>(allocate(most, alignof(char16_t)));
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QChar *const end = decoder.appendToBuffer(at, utf8);
        if (reinterpret_cast<char *>(at) + most == m_current + m_used)
            m_used -= static_cast<size_t>(at + utf8.size() - end) * sizeof(char16_t);
        return {at, end - at};
    }

private:
    static constexpr size_t kBlockSize = 64 * 1024;
    void *allocate(size_t size, size_t align)
    {
        if (size > kBlockSize / 4) // a large text gets a block of its own; the current one goes on
            return m_blocks.emplace_back(std::make_unique_for_overwrite<char[]>(size)).get();
        size_t at = (m_used + align - 1) / align * align;
        if (!m_current || at + size > kBlockSize) {
            m_current = m_blocks.emplace_back(std::make_unique_for_overwrite<char[]>(kBlockSize)).get();
            at = 0;
        }
        m_used = at + size;
        return m_current + at;
    }
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_current = nullptr;
    size_t m_used = 0;
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
