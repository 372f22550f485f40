#pragma once

#include "directory/embedded/node.h"

#include <QByteArrayView>
#include <QHash>
#include <QStringView>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include <cstdlib>
#include <new>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace directory::embedded {

// The hash of a name that ignores letter case as cn, ou and o compare.
inline size_t foldedHash(QStringView name)
{
    size_t hash = 0;
    const QChar *p = name.data();
    const QChar *const end = p + name.size();
    while (p < end) {
        char32_t c = p->unicode();
        if (p->isHighSurrogate() && p + 1 < end && p[1].isLowSurrogate())
            c = QChar::surrogateToUcs4(p[0], p[1]), ++p;
        ++p;
        if (c < 0x80) // most names are ASCII: spare the Unicode tables
            hash = hash * 31 + (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        else
            hash = hash * 31 + QChar::toCaseFolded(c);
    }
    return hash;
}

// Memory for a table probed at random. A large one gets huge pages where the
// system grants them on request (Linux): with small pages, nearly every probe
// of a table of a million slots missed the TLB as well as the cache, and
// filling it took a page fault every 4 KiB.
template <typename T>
struct TableAllocator {
    using value_type = T;
    TableAllocator() = default;
    template <typename U>
    TableAllocator(const TableAllocator<U> &) {} // implicit, as the tables rebind it

    T *allocate(size_t count)
    {
        size_t bytes = count * sizeof(T);
        void *memory = nullptr;
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
        constexpr size_t kHugePage = 2 * 1024 * 1024;
        if (bytes >= kHugePage) {
            bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
            memory = std::aligned_alloc(kHugePage, bytes);
            if (memory)
                ::madvise(memory, bytes, MADV_HUGEPAGE); // only advice: small pages do too
        }
#endif
        if (!memory)
            memory = std::malloc(bytes);
        if (!memory)
            throw std::bad_alloc();
        return static_cast<T *>(memory);
    }
    void deallocate(T *memory, size_t) { std::free(memory); }
    template <typename U>
    bool operator==(const TableAllocator<U> &) const { return true; }
};

// A DN's text with its hash, made once where the text is met: a table that
// grows hashes its keys again otherwise. With a seed, Qt hashes bytes with
// the CPU's AES instructions where it has them, several times faster than
// its unseeded hash.
struct HashedText {
    explicit HashedText(QByteArrayView of) : text(of), hash(::qHash(of, QHashSeed::globalSeed())) {}
    QByteArrayView text;
    size_t hash;

    struct Hash {
        size_t operator()(const HashedText &key) const { return key.hash; }
    };
    struct Equal {
        bool operator()(const HashedText &a, const HashedText &b) const { return a.hash == b.hash && a.text == b.text; }
    };
};

// Nodes by the text of a DN (the texts stay as long as the table).
using NodesByText = boost::unordered_flat_map<HashedText, Node *, HashedText::Hash, HashedText::Equal,
                                              TableAllocator<std::pair<const HashedText, Node *>>>;

// The children with single-valued RDNs by their parent and name, compared
// ignoring letter case as cn, ou and o compare; the first child of each name.
// One table for the whole tree: a table for each parent cost a large tree a
// fifth of its memory.
class ChildTable {
public:
    // A child's place by its parent and name, hashed once for a find and the
    // insert after it.
    struct Key {
        Key(const Node &of, QStringView called)
            : parent(&of), name(called), hash(qHashMulti(QHashSeed::globalSeed(), &of, foldedHash(called)))
        {
        }
        const Node *parent;
        QStringView name;
        size_t hash;
    };

    [[nodiscard]] Node *find(const Key &key) const
    {
        const auto it = m_children.find(key);
        return it == m_children.end() ? nullptr : it->node;
    }

    // Adds `child` at `key` (its parent and name) unless its parent has a
    // child of that name already; returns that child then.
    Node *insert(const Key &key, Node &child)
    {
        const auto [it, added] = m_children.insert(Entry{key.hash, &child});
        return added ? nullptr : it->node;
    }

private:
    struct Entry {
        size_t hash;
        Node *node;
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(const Entry &entry) const { return entry.hash; }
        size_t operator()(const Key &key) const { return key.hash; }
    };
    struct Equal {
        using is_transparent = void;
        static bool same(const Node &node, const Node *parent, QStringView name)
        {
            return node.parent == parent && node.name.compare(name, Qt::CaseInsensitive) == 0;
        }
        bool operator()(const Entry &a, const Entry &b) const
        {
            return a.hash == b.hash && same(*a.node, b.node->parent, b.node->name);
        }
        bool operator()(const Key &key, const Entry &entry) const
        {
            return key.hash == entry.hash && same(*entry.node, key.parent, key.name);
        }
        bool operator()(const Entry &entry, const Key &key) const { return (*this)(key, entry); }
    };
    boost::unordered_flat_set<Entry, Hash, Equal, TableAllocator<Entry>> m_children;
};

} // namespace directory::embedded
