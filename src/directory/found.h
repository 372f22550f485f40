#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <iterator>

namespace directory {

// An object a search found, with the values of the attribute the search asked
// for, so that a caller who writes that attribute knows what it replaces
// without another read. Two objects may share a full name (RDNs of different
// types with the same value); their DNs tell them apart.
struct FoundObject {
    QString fullName;
    QString dn;
    QStringList values;
    QString identity = {}; // the entry's own identity ("entryUUID=…"), where the directory gives one
};

// A part of the tree that a search did not look into because the server
// referred it to another (a continuation reference or a referral), which the
// tree does not follow.
struct Reference {
    QString url;
    bool mayHoldUsers = true; // false for Active Directory's DNS zones and configuration
};

// What a search found: the objects, and the references it met.
//
// A school may have a million users, so the objects are kept as UTF-8 in
// chunks of a thousand, never in one buffer that would double as it grows.
// A full name is kept as its container's full name, once for all the objects
// in it, and the object's own name, which most DNs already spell right after
// their first "=". An object becomes a FoundObject only when it is read.
class Found {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = FoundObject;
        using difference_type = qsizetype;
        using pointer = void;
        using reference = FoundObject; // made when read

        const_iterator() = default;
        const_iterator(const Found *found, qsizetype index) : m_found(found), m_index(index) {}
        FoundObject operator*() const { return m_found->at(m_index); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.m_index == b.m_index; }

    private:
        const Found *m_found = nullptr;
        qsizetype m_index = 0;
    };

    [[nodiscard]] qsizetype size() const { return m_size; }
    [[nodiscard]] bool isEmpty() const { return m_size == 0; }
    [[nodiscard]] FoundObject at(qsizetype index) const;
    [[nodiscard]] const_iterator begin() const { return {this, 0}; }
    [[nodiscard]] const_iterator end() const { return {this, m_size}; }

    // Keeps the full name of a container, for the objects added in it.
    [[nodiscard]] qsizetype addContainer(const QString &fullName);
    // Adds an object: its full name is its container's and `name` (UTF-8),
    // or `name` alone for kNoContainer. Its values follow by appendValue().
    static constexpr qsizetype kNoContainer = -1;
    void append(qsizetype container, QByteArrayView name, QByteArrayView dn, QByteArrayView identity = {});
    void appendValue(QByteArrayView value); // of the object added last

    QList<Reference> references;

private:
    struct Chunk {
        QByteArray bytes;
        QList<qsizetype> starts; // where each object's bytes begin
    };

    QList<Chunk> m_chunks;
    QStringList m_containers;
    qsizetype m_size = 0;
};

} // namespace directory
