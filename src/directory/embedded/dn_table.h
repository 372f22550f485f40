#pragma once

#include "directory/embedded/node.h"
#include "directory/embedded/node_tables.h"

#include <bit>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

// The one table still written by hand: a long journal's replay waits on a
// miss in the cache for each record's node, and only a table whose slots can
// be fetched ahead hides it. Boost's flat map, which cannot, made the replay
// 40 % slower (the same instructions).
namespace directory::embedded {

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
        nodes.forEach([&](Node &node) { filler.add({HashedText(node.dn).hash, &node}); });
    }

    void prefetch(const HashedText &dn) const { m_slots.prefetch(dn.hash); }

    [[nodiscard]] Node *find(const HashedText &dn) const
    {
        for (size_t i = dn.hash & m_slots.mask(); m_slots[i].node; i = (i + 1) & m_slots.mask()) {
            if (m_slots[i].hash == dn.hash && m_slots[i].node->dn == dn.text)
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

} // namespace directory::embedded
