#pragma once

#include "directory/embedded/node.h"

#include <QHash>
#include <QStringView>

#include <array>
#include <bit>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace directory::embedded {

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

// The hash of a DN's text. With a seed, Qt hashes bytes with the CPU's AES
// instructions where it has them, several times faster than its unseeded hash.
inline size_t textHash(QByteArrayView text)
{
    return ::qHash(text, QHashSeed::globalSeed());
}

// Asks the processor to load `p` into its cache while other work goes on.
inline void prefetchMemory(const void *p)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    Q_UNUSED(p);
#endif
}

// The zeroed slots of a table probed at random. A large one gets huge pages
// where the system grants them on request (Linux): with small pages, nearly
// every probe of a table of millions of slots missed the TLB as well as the
// cache, and filling it took a page fault every 256 slots.
template <typename Slot>
class Slots {
    static_assert(std::is_trivially_destructible_v<Slot>);

public:
    explicit Slots(size_t count) : m_slots(allocate(count)), m_count(count) {}

    Slot &operator[](size_t i) { return m_slots.get()[i]; }
    const Slot &operator[](size_t i) const { return m_slots.get()[i]; }
    [[nodiscard]] size_t size() const { return m_count; }
    [[nodiscard]] size_t mask() const { return m_count - 1; } // the count is a power of two
    [[nodiscard]] const Slot *begin() const { return m_slots.get(); }
    [[nodiscard]] const Slot *end() const { return m_slots.get() + m_count; }

    // Starts loading the slot where `hash` goes into the cache.
    void prefetch(size_t hash) const { prefetchMemory(&(*this)[hash & mask()]); }

    // Puts `slot` into the first free slot from where its hash goes.
    void place(const Slot &slot)
    {
        size_t i = slot.hash & mask();
        while ((*this)[i].node)
            i = (i + 1) & mask();
        (*this)[i] = slot;
    }

    // Places many slots, each a few after fetching where it goes: in a large
    // table, each place is a miss in the cache.
    class Filler {
    public:
        explicit Filler(Slots &slots) : m_slots(slots) {}
        ~Filler()
        {
            for (const Slot &slot : m_pending) {
                if (slot.node)
                    m_slots.place(slot);
            }
        }
        Filler(const Filler &) = delete;
        Filler &operator=(const Filler &) = delete;

        void add(const Slot &slot)
        {
            Slot &next = m_pending[m_added++ % m_pending.size()];
            if (next.node)
                m_slots.place(next);
            next = slot;
            m_slots.prefetch(slot.hash);
        }

    private:
        Slots &m_slots;
        std::array<Slot, 8> m_pending{};
        size_t m_added = 0;
    };

    // The slots in use of `old`, placed into a table twice its size.
    static Slots grown(const Slots &old)
    {
        Slots slots(2 * old.size());
        {
            Filler filler(slots);
            for (const Slot &slot : old) {
                if (slot.node)
                    filler.add(slot);
            }
        }
        return slots;
    }

private:
    struct Free {
        void operator()(Slot *slots) const { std::free(slots); }
    };
    static Slot *allocate(size_t count)
    {
        size_t bytes = count * sizeof(Slot);
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
        return std::uninitialized_value_construct_n(static_cast<Slot *>(memory), count) - count;
    }

    std::unique_ptr<Slot[], Free> m_slots;
    size_t m_count;
};

// Every node by the text of its DN, while a long journal is replayed. A flat
// table probed in place: a QHash's probes each reach into a separate array of
// entries, one cache miss apiece, and the replay is bound by those misses.
class DnTable {
public:
    explicit DnTable(NodeStore &nodes) : m_slots(std::bit_ceil(2 * nodes.size() + 1))
    {
        typename Slots<Slot>::Filler filler(m_slots);
        nodes.forEach([&](Node &node) { filler.add({textHash(node.dn), &node}); });
    }

    void prefetch(QByteArrayView dn) const { m_slots.prefetch(textHash(dn)); }

    [[nodiscard]] Node *find(QByteArrayView dn) const
    {
        const size_t hash = textHash(dn);
        for (size_t i = hash & m_slots.mask(); m_slots[i].node; i = (i + 1) & m_slots.mask()) {
            if (m_slots[i].hash == hash && m_slots[i].node->dn == dn)
                return m_slots[i].node;
        }
        return nullptr;
    }

private:
    struct Slot {
        size_t hash = 0;
        Node *node = nullptr;
    };
    Slots<Slot> m_slots; // at most half full, so every probe ends soon
};

// The parents met so far by the texts of their DNs as their children spell
// them: most entries find their parent here without parsing its DN. A flat
// table probed in place and at most half full, whose slot for a text can be
// fetched into the cache ahead of the look-up.
class ParentTable {
public:
    void prefetch(QByteArrayView text) const { m_slots.prefetch(textHash(text)); }

    [[nodiscard]] Node *find(QByteArrayView text) const
    {
        const size_t hash = textHash(text);
        for (size_t i = hash & m_slots.mask(); m_slots[i].node; i = (i + 1) & m_slots.mask()) {
            if (m_slots[i].hash == hash && m_slots[i].text() == text)
                return m_slots[i].node;
        }
        return nullptr;
    }

    // Adds `text`, which is not there yet and stays as long as the table.
    void insert(QByteArrayView text, Node *node)
    {
        if (2 * (m_count + 1) > m_slots.size())
            m_slots = Slots<Slot>::grown(m_slots);
        m_slots.place({textHash(text), text.data(), text.size(), node});
        ++m_count;
    }

private:
    struct Slot {
        size_t hash = 0;
        const char *data = nullptr;
        qsizetype size = 0;
        Node *node = nullptr;
        [[nodiscard]] QByteArrayView text() const { return {data, size}; }
    };
    Slots<Slot> m_slots = Slots<Slot>(64);
    size_t m_count = 0;
};

// The children with single-valued RDNs by their parent and name, compared
// ignoring letter case as cn, ou and o compare; the first child of each name.
// One flat table for the whole tree, probed in place and at most half full:
// a QHash for each parent cost a large tree a fifth of its memory, and its
// probes each reach into a separate array of entries, one cache miss apiece.
class ChildTable {
public:
    // Starts loading the slot where `name` goes below `parent` into the cache.
    void prefetch(const Node &parent, QStringView name) const { m_slots.prefetch(hashOf(parent, name)); }

    [[nodiscard]] Node *find(const Node &parent, QStringView name) const
    {
        const size_t hash = hashOf(parent, name);
        for (size_t i = hash & m_slots.mask(); m_slots[i].node; i = (i + 1) & m_slots.mask()) {
            if (m_slots[i].hash == hash && isNamed(*m_slots[i].node, parent, name))
                return m_slots[i].node;
        }
        return nullptr;
    }

    // Adds `child` (its parent and name set) unless its parent has a child of
    // that name already; returns that child then.
    Node *insert(Node &child)
    {
        if (2 * (m_count + 1) > m_slots.size())
            m_slots = Slots<Slot>::grown(m_slots);
        const size_t hash = hashOf(*child.parent, child.name);
        size_t i = hash & m_slots.mask();
        for (; m_slots[i].node; i = (i + 1) & m_slots.mask()) {
            if (m_slots[i].hash == hash && isNamed(*m_slots[i].node, *child.parent, child.name))
                return m_slots[i].node;
        }
        m_slots[i] = {hash, &child};
        ++m_count;
        return nullptr;
    }

private:
    struct Slot {
        size_t hash = 0;
        Node *node = nullptr;
    };
    static size_t hashOf(const Node &parent, QStringView name)
    {
        return qHashMulti(QHashSeed::globalSeed(), &parent, foldedHash(name));
    }
    static bool isNamed(const Node &node, const Node &parent, QStringView name)
    {
        return node.parent == &parent && node.name.compare(name, Qt::CaseInsensitive) == 0;
    }
    Slots<Slot> m_slots = Slots<Slot>(16);
    size_t m_count = 0;
};

} // namespace directory::embedded
