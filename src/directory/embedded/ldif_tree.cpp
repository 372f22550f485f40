#include "directory/embedded/ldif_tree.h"

#include "directory/dn.h"
#include "directory/full_name.h"
#include "directory/embedded/journal.h"
#include "directory/embedded/ldif.h"
#include "directory/embedded/ldif_files.h"
#include "platform/error.h"

#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <deque>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace directory {

namespace {

size_t foldedHash(QStringView name)
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

// Whether two attribute types are one, ignoring letter case as LDAP does.
// The sizes first: this runs for every attribute loaded or changed.
bool sameType(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    // ASCII letters here; anything else goes to Qt's rule.
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char lower = static_cast<char>(a[i] | 0x20);
        if (a[i] != b[i] && (lower != (b[i] | 0x20) || lower < 'a' || lower > 'z'))
            return a.compare(b, Qt::CaseInsensitive) == 0;
    }
    return true;
}

// The hash of a DN's text. With a seed, Qt hashes bytes with the CPU's AES
// instructions where it has them, several times faster than its unseeded hash.
size_t textHash(QByteArrayView text)
{
    return ::qHash(text, QHashSeed::globalSeed());
}

// How the values of one attribute type are told apart. `ou` and `department`
// compare as directory servers compare them (caseIgnoreMatch: letter case and
// runs of blanks do not count), so a delete of "r7a" removes "R7a" and "8a"
// beside "8A" is one value twice; others compare byte by byte.
class ValueRule {
public:
    explicit ValueRule(QByteArrayView type) : m_ignoreCase(ignoresCase(type)) {}

    [[nodiscard]] bool same(QByteArrayView a, QByteArrayView b) const
    {
        return a == b || (m_ignoreCase && key(a) == key(b));
    }

    // Where `values` hold `value`; -1 when they do not.
    template <typename Values>
    [[nodiscard]] qsizetype indexIn(const Values &values, QByteArrayView value) const
    {
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (same(values[i], value))
                return i;
        }
        return -1;
    }

    // `values` with each value once, the first of its spelling kept.
    void collapse(QVarLengthArray<QByteArrayView, 4> &values) const
    {
        if (values.size() < 2)
            return;
        QVarLengthArray<QByteArrayView, 4> kept;
        if (values.size() <= 16) {
            for (QByteArrayView value : values) {
                if (indexIn(kept, value) < 0)
                    kept.append(value);
            }
        } else { // a group's thousands of members
            QSet<QByteArray> seen;
            for (QByteArrayView value : values) {
                const QByteArray k = m_ignoreCase ? key(value).toUtf8() : value.toByteArray();
                if (!seen.contains(k)) {
                    seen.insert(k);
                    kept.append(value);
                }
            }
        }
        if (kept.size() != values.size())
            values = kept;
    }

    [[nodiscard]] bool hasTwice(const QList<QByteArray> &values) const
    {
        for (qsizetype i = 1; i < values.size(); ++i) {
            if (indexIn(values.first(i), values.at(i)) >= 0)
                return true;
        }
        return false;
    }

    // Whether both hold the same values under this rule, in any order.
    [[nodiscard]] bool sameSet(const QList<QByteArray> &a, const QList<QByteArray> &b) const
    {
        if (a.size() != b.size())
            return false;
        QList<QByteArray> rest = b;
        for (const QByteArray &value : a) {
            const qsizetype at = indexIn(rest, value);
            if (at < 0)
                return false;
            rest.removeAt(at);
        }
        return true;
    }

    static bool ignoresCase(QByteArrayView type)
    {
        return sameType(type, "ou") || sameType(type, "department") || sameType(type, "organizationalUnitName");
    }
private:
    static QString key(QByteArrayView value) { return QString::fromUtf8(value).simplified().toCaseFolded(); }
    bool m_ignoreCase;
};

// An entry's attributes packed into one block, which keeps a large tree
// small: per attribute its type's length and text, its number of values, and
// each value's length and bytes. Each type is there once, each value once
// under its type's rule, as a directory server keeps them.
class Attributes {
public:
    Attributes() = default;
    explicit Attributes(const QVarLengthArray<ldif::Modification, 8> &entry)
    {
        if (!isCollapsed(entry)) {
            pack(collapsed(entry));
            return;
        }
        pack(entry);
    }

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

    [[nodiscard]] QList<QByteArray> values(QByteArrayView wanted) const
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

    // Applies one change as an LDAP modify would, without its refusals: an
    // attribute left without values is gone, a value added twice is there
    // once, and a value deleted that is not there is no error.
    void apply(const ldif::Modification &mod)
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

private:
    // Checked in place, as nearly every entry is.
    static bool isCollapsed(const QVarLengthArray<ldif::Modification, 8> &entry)
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
    // Each type once, with the values of all its lines, each value once.
    static QVarLengthArray<ldif::Modification, 8> collapsed(const QVarLengthArray<ldif::Modification, 8> &entry)
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
    void pack(const QVarLengthArray<ldif::Modification, 8> &entry)
    {
        qsizetype size = 0;
        for (const ldif::Modification &mod : entry)
            size += sizeOf(mod.type, mod.values);
        char *p = allocate(size);
        for (const ldif::Modification &mod : entry)
            p = write(p, mod.type, mod.values);
    }

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
    char *allocate(qsizetype size)
    {
        if (size == 0) {
            m_block.reset();
            return nullptr;
        }
        m_block = std::make_unique_for_overwrite<char[]>(sizeof(quint32) + static_cast<size_t>(size));
        return put<quint32>(m_block.get(), static_cast<quint32>(size));
    }

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

// Asks the processor to load `p` into its cache while other work goes on.
void prefetchMemory(const void *p)
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

const QString kNoClass;

struct Node;

// A node's children in the order loaded, linked through the nodes
// themselves: a vector for each parent cost a large tree an allocation and
// its spare room apiece.
class Children {
public:
    class Iterator {
    public:
        explicit Iterator(Node *node) : m_node(node) {}
        Node *operator*() const { return m_node; }
        Iterator &operator++();
        bool operator==(const Iterator &) const = default;

    private:
        Node *m_node;
    };

    void push_back(Node *child);
    [[nodiscard]] Iterator begin() const { return Iterator(m_first); }
    [[nodiscard]] Iterator end() const { return Iterator(nullptr); }

private:
    Node *m_first = nullptr;
    Node *m_last = nullptr;
};

struct Node {
    Node *parent = nullptr;
    Node *nextSibling = nullptr;
    QByteArrayView dn; // as the file or the journal spells it
    QStringView name;  // the RDN's (first) value; what a full name carries
    const QString *rdnType = &kNoClass; // its attribute type
    const QString *className = &kNoClass;
    Attributes attributes;
    Children children;
    bool addressable = false;           // single-valued RDN whose value a full name can carry
    bool multiValuedRdn = false;
    bool sharesName = false; // a sibling has the same name under another attribute type
};

Children::Iterator &Children::Iterator::operator++()
{
    m_node = m_node->nextSibling;
    return *this;
}

void Children::push_back(Node *child)
{
    (m_last ? m_last->nextSibling : m_first) = child;
    m_last = child;
}

// The tree's nodes, allocated in blocks that grow with the tree: stable
// addresses at little cost.
class NodeStore {
public:
    Node &add()
    {
        if (m_blocks.empty() || m_used == m_blocks.back().size) {
            const size_t size = m_blocks.empty() ? 8 : std::min<size_t>(m_blocks.back().size * 2, 1024);
            m_blocks.push_back({std::make_unique<Node[]>(size), size});
            m_used = 0;
        }
        ++m_count;
        return m_blocks.back().nodes[m_used++];
    }
    Node &front() { return m_blocks.front().nodes[0]; }
    [[nodiscard]] size_t size() const { return m_count; }

    template <typename Visit>
    void forEach(Visit visit)
    {
        for (const Block &block : m_blocks) {
            const size_t used = &block == &m_blocks.back() ? m_used : block.size;
            for (size_t i = 0; i < used; ++i)
                visit(block.nodes[i]);
        }
    }

private:
    struct Block {
        std::unique_ptr<Node[]> nodes;
        size_t size;
    };
    std::vector<Block> m_blocks;
    size_t m_used = 0;
    size_t m_count = 0;
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

// Where a record stands, put into words only for an error.
struct Place {
    const char *kind; // "Datei" or "Journal"
    const QString &file;
    unsigned long line;
    [[nodiscard]] QString text() const
    {
        return QStringLiteral("%1 %2, Zeile %3").arg(QLatin1String(kind), file).arg(line);
    }
};

Rdn rdnOf(const Node &node)
{
    return parseDn(QString::fromUtf8(node.dn)).value(0);
}

bool hasRdn(const Node &node, const Rdn &rdn)
{
    if (rdn.size() > 1 || node.multiValuedRdn)
        return rdn.size() > 1 && node.multiValuedRdn && sameRdn(rdnOf(node), rdn);
    return node.name.compare(rdn.first().value, Qt::CaseInsensitive) == 0
           && node.rdnType->compare(rdn.first().type, Qt::CaseInsensitive) == 0;
}

bool isObjectClass(QByteArrayView type)
{
    return sameType(type, "objectClass");
}

QStringList toStrings(const QList<QByteArray> &values)
{
    QStringList result;
    result.reserve(values.size());
    for (const QByteArray &value : values)
        result.append(QString::fromUtf8(value));
    return result;
}

} // namespace

struct LdifTree::Impl {
    QString ldifPath;
    QByteArray baseDn; // as configured
    QList<Rdn> baseRdns;
    SchemaMap schema;
    std::unique_ptr<files::TreeLock> lock;
    Journal journal;
    QStringList warnings;
    NodeStore nodes; // nodes.front() is the tree root
    ParentTable parentByText;
    TextStore texts;       // what the nodes view
    TextStore parentTexts; // what parentByText's keys view: apart, so that they stay few pages
    ChildTable childByName;
    SharedTexts sharedTexts; // class names and RDN types
    std::unique_ptr<DnTable> nodeByText; // while a long journal is replayed
    QHash<QByteArray, const QString *> classByObjectClasses;
    QList<QByteArray> lastObjectClasses;
    const QString *lastClass = &kNoClass;
    QString treeName;
    QString rootFullName;
    bool baseEntryLoaded = false;

    Impl(const QString &path, const SchemaMap &map)
        : ldifPath(path), schema(map), journal(path + QStringLiteral(".journal"))
    {
    }

    Node &root() { return nodes.front(); }

    QByteArray change(Node &node, const QString &attribute, const QList<QByteArray> &current,
                      const QList<QByteArray> &after);

    // The RDNs below the base DN, from the top down; raises for a DN outside it.
    QList<Rdn> pathBelowBase(QByteArrayView dn, const Place &where)
    {
        QList<Rdn> rdns;
        try {
            rdns = parseDn(QString::fromUtf8(dn));
        } catch (const platform::Error &e) {
            throw platform::Error(QStringLiteral("%1: %2").arg(where.text(), e.message()));
        }
        std::optional<QList<Rdn>> path = pathBelow(rdns, baseRdns);
        if (!path)
            throw platform::Error(QStringLiteral("%1: %2 liegt nicht im Baum").arg(where.text(), QString::fromUtf8(dn)));
        return *path;
    }

    Node *childByRdn(Node &parent, const Rdn &rdn)
    {
        if (rdn.size() == 1) {
            Node *const first = childByName.find(parent, rdn.first().value);
            if (!first)
                return nullptr;
            if (!first->sharesName)
                return hasRdn(*first, rdn) ? first : nullptr;
        }
        for (Node *child : parent.children) { // rare: names shared or multi-valued RDNs
            if (hasRdn(*child, rdn))
                return child;
        }
        return nullptr;
    }

    Node *walk(const QList<Rdn> &path)
    {
        Node *node = &root();
        for (const Rdn &rdn : path) {
            node = childByRdn(*node, rdn);
            if (!node)
                return nullptr;
        }
        return node;
    }

    // The node that a parent's DN text names, or none (also for a DN that is
    // malformed or outside the tree: the caller's own check reports it).
    Node *parentOf(QByteArrayView text)
    {
        if (Node *parent = parentByText.find(text))
            return parent;
        std::optional<QList<Rdn>> path;
        try {
            path = pathBelow(parseDn(QString::fromUtf8(text)), baseRdns);
        } catch (const platform::Error &) {
            return nullptr;
        }
        Node *parent = path ? walk(*path) : nullptr;
        if (parent)
            parentByText.insert(parentTexts.keep(text), parent);
        return parent;
    }

    Node *nodeByDn(QByteArrayView dn, const Place &where)
    {
        if (Node *node = nodeByText ? nodeByText->find(dn) : nullptr)
            return node;
        const std::optional<FirstRdn> first = firstRdn(dn);
        if (Node *parent = first ? parentOf(first->parent()) : nullptr)
            return childByRdn(*parent, first->rdn());
        return walk(pathBelowBase(dn, where));
    }

    const QString *classOf(const QVarLengthArray<QByteArrayView, 4> &objectClasses)
    {
        // Entries of one kind tend to follow each other.
        if (std::equal(objectClasses.begin(), objectClasses.end(), lastObjectClasses.cbegin(), lastObjectClasses.cend(),
                       [](QByteArrayView a, const QByteArray &b) { return a == QByteArrayView(b); }))
            return lastClass;
        QByteArray key;
        lastObjectClasses.clear();
        for (QByteArrayView value : objectClasses) {
            key.append(value).append('\n');
            lastObjectClasses.append(value.toByteArray());
        }
        auto it = classByObjectClasses.constFind(key);
        if (it == classByObjectClasses.cend()) {
            QStringList classes;
            for (QByteArrayView value : objectClasses)
                classes.append(QString::fromUtf8(value));
            it = classByObjectClasses.insert(key, sharedTexts.keep(schema.ndsClass(classes)));
        }
        lastClass = *it;
        return lastClass;
    }

    void updateClass(Node &node)
    {
        node.attributes.forEach([&](QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values) {
            if (isObjectClass(type))
                node.className = classOf(values);
        });
    }

    // What a new node takes from its own RDN.
    struct OwnRdn {
        QStringView name;    // its (first) value, kept in `texts`
        const QString *type; // its (first) type
        bool multiValued;
        bool addressable;
    };

    // `whole()` gives all of the RDN, for the rare checks that need it.
    template <typename WholeRdn>
    Node &newChild(Node &parent, QByteArrayView dn, const OwnRdn &own, const WholeRdn &whole, const Place &where)
    {
        const auto duplicate = [&] {
            return platform::Error(QStringLiteral("%1: %2 ist doppelt vorhanden").arg(where.text(), QString::fromUtf8(dn)));
        };
        if (own.multiValued && childByRdn(parent, whole()))
            throw duplicate();
        Node &node = nodes.add(); // a tree that fails to load is dropped whole, with this node
        node.name = own.name;
        node.parent = &parent;
        if (!own.multiValued) {
            // One probe for most children: the first of a name takes the free place.
            if (Node *const first = childByName.insert(node)) {
                if (childByRdn(parent, whole()))
                    throw duplicate();
                first->sharesName = node.sharesName = true;
            }
        }
        node.dn = texts.keep(dn);
        node.rdnType = own.type;
        node.addressable = own.addressable;
        node.multiValuedRdn = own.multiValued;
        parent.children.push_back(&node);
        return node;
    }

    Node &newChild(Node &parent, QByteArrayView dn, const Rdn &own, const Place &where)
    {
        const OwnRdn taken{texts.keep(QStringView(own.first().value)), sharedTexts.keep(own.first().type), own.size() > 1,
                           nameable(own)};
        return newChild(parent, dn, taken, [&] { return own; }, where);
    }

    void addEntry(const ldif::Record &record, const Place &where)
    {
        Node *node = nullptr;
        const std::optional<FirstRdn> first = firstRdn(record.dn);
        Node *const parent = first ? parentOf(first->parent()) : nullptr;
        // Most entries: one AVA below a parent known by its text. Their RDN
        // is read where libldap parsed it, without a copy between.
        const bool usual = parent && first->size() == 1;
        QStringView name;
        if (usual) {
            name = texts.keepFromUtf8(first->value());
            // Fetched while the entry's attributes are packed: on a large
            // tree, waiting for these two is much of the load.
            prefetchMemory(parent);
            childByName.prefetch(*parent, name);
        }
        Attributes attributes(record.modifications);
        if (usual) {
            const OwnRdn own{name, sharedTexts.keep(first->type()), false, nameable(name)};
            node = &newChild(*parent, record.dn, own, [&] { return first->rdn(); }, where);
        } else if (parent) {
            node = &newChild(*parent, record.dn, first->rdn(), where);
        } else {
            QList<Rdn> path = pathBelowBase(record.dn, where);
            if (path.isEmpty()) {
                node = &root(); // the base entry itself
                if (std::exchange(baseEntryLoaded, true))
                    throw platform::Error(QStringLiteral("%1: %2 ist doppelt vorhanden").arg(where.text(), QString::fromUtf8(record.dn)));
                node->dn = texts.keep(record.dn);
            } else {
                const Rdn own = path.takeLast();
                Node *parentNode = &root();
                for (const Rdn &rdn : std::as_const(path)) {
                    parentNode = childByRdn(*parentNode, rdn);
                    if (!parentNode)
                        throw platform::Error(QStringLiteral("%1: das übergeordnete Objekt von %2 fehlt")
                                                  .arg(where.text(), QString::fromUtf8(record.dn)));
                }
                node = &newChild(*parentNode, record.dn, own, where);
            }
        }
        node->attributes = std::move(attributes);
        if (node == &root())
            return;
        for (const ldif::Modification &mod : record.modifications) {
            if (isObjectClass(mod.type))
                node->className = classOf(mod.values);
        }
    }

    void load()
    {
        QFile file;
        files::openTreeFile(file, ldifPath);
        Node &top = nodes.add();
        top.className = sharedTexts.keep(QStringLiteral("Top"));
        parentByText.insert(baseDn, &top);
        const auto entry = [&](const ldif::Record &record) {
            const Place where{"Datei", ldifPath, record.firstLine};
            if (record.kind != ldif::Record::Kind::Add)
                throw platform::Error(QStringLiteral("%1: nur Einträge sind erlaubt, keine Änderungen").arg(where.text()));
            addEntry(record, where);
        };
        // The parent's slot is fetched while the entry is parsed: on a large
        // tree, waiting for it was much of the load. What follows the first
        // comma no backslash escapes is the parent's text, or near enough for
        // a hint.
        const auto parentAhead = [this](QByteArrayView dn) {
            for (qsizetype i = 0; i < dn.size(); ++i) {
                if (dn[i] == '\\')
                    ++i;
                else if (dn[i] == ',')
                    return parentByText.prefetch(dn.sliced(i + 1));
            }
        };
        ldif::forEachRecord(file, file.size(), ldifPath, entry, parentAhead);
        file.close();

        Journal::Contents changes = journal.read();
        // The journal names entries as the tree does: while a long one is
        // replayed, a table of every DN's text spares parsing each DN. It pays
        // from about one record (some 70 bytes) for every two entries.
        if (changes.complete > 35 * static_cast<qint64>(nodes.size())) {
            nodeByText = std::make_unique<DnTable>(nodes);
        }
        const auto dropTable = qScopeGuard([this] { nodeByText.reset(); });
        const auto replay = [&](const ldif::Record &record) {
            const Place where{"Journal", journal.path(), record.firstLine};
            Node *node = record.kind == ldif::Record::Kind::Modify ? nodeByDn(record.dn, where) : nullptr;
            if (!node)
                throw platform::Error(QStringLiteral("%1: Änderung an %2 lässt sich nicht anwenden")
                                          .arg(where.text(), QString::fromUtf8(record.dn)));
            bool classChanged = false;
            for (const ldif::Modification &mod : record.modifications) {
                node->attributes.apply(mod);
                classChanged = classChanged || isObjectClass(mod.type);
            }
            if (classChanged && node != &root())
                updateClass(*node);
        };
        // The table's slot is fetched while the record is parsed: waiting
        // for it was most of a long replay.
        const auto nodeAhead = [this](QByteArrayView dn) {
            if (nodeByText)
                nodeByText->prefetch(dn);
        };
        if (changes.file)
            ldif::forEachRecord(*changes.file, changes.complete, journal.path(), replay, nodeAhead);
        // Only now that every complete record is known to be good.
        const QString warning = journal.setAsideTorn(changes);
        if (!warning.isEmpty()) {
            warnings.append(warning);
            qWarning("%s", qPrintable(warning));
        }
    }

    Node &nodeByFullName(const QString &fullName)
    {
        const FullName name = FullName::parse(fullName);
        if (name.treeName.compare(treeName, Qt::CaseInsensitive) != 0)
            throw notInTree(fullName, treeName);
        Node *node = &root();
        for (const QString &component : name.components) {
            Node *const child = childByName.find(*node, component);
            if (!child)
                throw objectNotFound(fullName);
            if (child->sharesName) {
                QStringList dns;
                for (const Node *child : node->children) {
                    if (!child->multiValuedRdn && child->name.compare(component, Qt::CaseInsensitive) == 0)
                        dns.append(QString::fromUtf8(child->dn));
                }
                throw objectAmbiguous(fullName, dns);
            }
            node = child;
        }
        return *node;
    }

    QString fullNameOf(const Node &node) const
    {
        if (!node.parent)
            return rootFullName;
        if (!node.addressable)
            throw notNameable(QString::fromUtf8(node.dn));
        return fullNameOf(*node.parent) + QLatin1Char('\\') + node.name.toString();
    }

    void collect(const Node &node, const QString &className, Scope scope, const QByteArray &attribute, Found &out) const
    {
        std::optional<qsizetype> container; // the node's full name, made for its first child found
        for (const Node *child : node.children) {
            if (child->className->compare(className, Qt::CaseInsensitive) == 0) {
                if (!child->addressable)
                    throw notNameable(QString::fromUtf8(child->dn));
                if (!container)
                    container = out.addContainer(fullNameOf(node));
                out.append(*container, child->name.toUtf8(), child->dn);
                if (!attribute.isEmpty()) {
                    for (const QByteArray &value : child->attributes.values(attribute))
                        out.appendValue(value);
                }
            }
            if (scope == Scope::Subtree)
                collect(*child, className, scope, attribute, out);
        }
    }
};

LdifTree::LdifTree(const QString &name, const QString &ldifPath, const QString &baseDn, const SchemaMap &schema)
    : Tree(name), d(std::make_unique<Impl>(ldifPath, schema))
{
    d->treeName = name;
    d->rootFullName = rootFullName();
    d->baseDn = baseDn.toUtf8();
    d->baseRdns = parseDn(baseDn);
    d->lock = std::make_unique<files::TreeLock>(ldifPath + QStringLiteral(".lock"), ldifPath);
    d->load();
}

Qt::CaseSensitivity LdifTree::valueCase(const QString &attribute)
{
    return ValueRule::ignoresCase(d->schema.attribute(attribute).toUtf8()) ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

LdifTree::~LdifTree() = default;

QStringList LdifTree::warnings() const
{
    return d->warnings;
}

QString LdifTree::journalPath() const
{
    return d->journal.path();
}

QString LdifTree::className(const QString &fullName)
{
    return *d->nodeByFullName(fullName).className;
}

QList<DirectoryObject> LdifTree::children(const QString &fullName, const QStringList &classNames)
{
    const Node &parent = d->nodeByFullName(fullName);
    // The parent's name once, not once per child: a unit may hold thousands.
    const QString prefix = d->fullNameOf(parent) + QLatin1Char('\\');
    QList<DirectoryObject> result;
    for (const Node *child : parent.children) {
        if (!classNames.isEmpty() && !classNames.contains(*child->className, Qt::CaseInsensitive))
            continue;
        if (!child->addressable)
            throw notNameable(QString::fromUtf8(child->dn));
        result.append({prefix + child->name.toString(), *child->className});
    }
    return result;
}

void LdifTree::search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                      SearchDone done)
{
    Found hits;
    try {
        const QByteArray type = attribute.isEmpty() ? QByteArray() : d->schema.attribute(attribute).toUtf8();
        d->collect(d->nodeByFullName(baseFullName), className, scope, type, hits);
    } catch (...) {
        done({}, std::current_exception());
        return;
    }
    done(hits, nullptr);
}

namespace {
QList<QByteArray> utf8(const QStringList &texts)
{
    QList<QByteArray> result;
    for (const QString &text : texts)
        result.append(text.toUtf8());
    return result;
}

bool sameSpelling(QList<QByteArray> a, QList<QByteArray> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

QList<QByteArray> without(const QList<QByteArray> &values, const QList<QByteArray> &gone)
{
    QList<QByteArray> result;
    for (const QByteArray &value : values) {
        if (!gone.contains(value))
            result.append(value);
    }
    return result;
}

void changeValues(Attributes &attributes, ldif::Modification::Op op, QByteArrayView type, const QList<QByteArray> &values)
{
    ldif::Modification change{op, type, {}};
    for (const QByteArray &value : values)
        change.values.append(value);
    attributes.apply(change);
}
} // namespace

// Changes one attribute of `node` in memory from `current` to `after`, as the
// returned journal record does on the next load, or refuses. Each value is
// deleted and added as spelled: a change of letter case is a change.
QByteArray LdifTree::Impl::change(Node &node, const QString &attribute, const QList<QByteArray> &current,
                                  const QList<QByteArray> &after)
{
    if (!node.parent)
        throw Refused(QStringLiteral("Die Wurzel des Baums %1 kann nicht geändert werden").arg(treeName));
    const QByteArray type = schema.attribute(attribute).toUtf8();
    const ValueRule rule(type);
    if (after.contains(QByteArray()))
        throw Refused(QStringLiteral("%1 von %2: ein leerer Wert wird nicht gespeichert").arg(attribute, fullNameOf(node)));
    if (rule.hasTwice(after))
        throw Refused(QStringLiteral("%1 von %2: ein Wert steht doppelt in der Änderung").arg(attribute, fullNameOf(node)));
    if (sameSpelling(current, after))
        return {};
    const QList<QByteArray> removed = without(current, after);
    const QList<QByteArray> added = without(after, current);
    if (!removed.isEmpty()) // a delete without values would take them all
        changeValues(node.attributes, ldif::Modification::Op::Delete, type, removed);
    changeValues(node.attributes, ldif::Modification::Op::Add, type, added);
    // Only an entry that now holds exactly what was asked counts as written.
    if (!sameSpelling(node.attributes.values(type), after)) {
        changeValues(node.attributes, ldif::Modification::Op::Replace, type, current);
        throw Refused(QStringLiteral("%1 von %2 lässt sich nicht so speichern").arg(attribute, fullNameOf(node)));
    }
    return ldif::replaceRecord(node.dn, type, removed, added);
}

void LdifTree::putAndStore(const QString &fullName, const QString &attribute, const QString &value)
{
    Node &node = d->nodeByFullName(fullName);
    const QByteArray type = d->schema.attribute(attribute).toUtf8();
    const QList<QByteArray> current = node.attributes.values(type);
    const QByteArray record = d->change(node, attribute, current, value.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{value.toUtf8()});
    if (record.isEmpty())
        return;
    try {
        d->journal.append(record);
    } catch (...) {
        changeValues(node.attributes, ldif::Modification::Op::Replace, type, current);
        throw;
    }
}

// A batch goes to the journal in one append, so the disk syncs once for it.
// A change whose values are no longer those found is refused on its own. The
// batch is applied in memory as it is checked, so a later change sees an
// earlier one, and taken back when the journal cannot be written.
void LdifTree::storeChanges(const QList<ValueChange> &changes, const Stored &stored)
{
    struct Applied {
        Node *node;
        QByteArray type;
        QList<QByteArray> before;
    };
    std::vector<Applied> applied;
    QList<std::exception_ptr> failures(changes.size());
    QByteArray records;
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const ValueChange &change = changes.at(i);
        try {
            Node &node = d->nodeByFullName(change.fullName);
            const QByteArray type = d->schema.attribute(change.attribute).toUtf8();
            const QList<QByteArray> current = node.attributes.values(type);
            if (!ValueRule(type).sameSet(current, utf8(change.before)))
                throw Refused(QStringLiteral("%1 von %2 wurde seit der Suche geändert; die Änderung unterbleibt")
                                  .arg(change.attribute, change.fullName));
            const QByteArray record = d->change(node, change.attribute, current, utf8(change.after));
            if (record.isEmpty())
                continue;
            records += record;
            applied.push_back({&node, type, current});
        } catch (const Refused &) {
            failures[i] = std::current_exception();
        } catch (const platform::Error &e) { // an object not found, or named twice: nothing was stored
            failures[i] = std::make_exception_ptr(Refused(e.message()));
        } catch (...) {
            failures[i] = std::current_exception();
        }
    }
    if (!records.isEmpty()) {
        try {
            d->journal.append(records);
        } catch (...) {
            for (auto it = applied.rbegin(); it != applied.rend(); ++it)
                changeValues(it->node->attributes, ldif::Modification::Op::Replace, it->type, it->before);
            for (std::exception_ptr &failure : failures) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
    }
    // Everything in the batch is stored or refused by now: all of it is reported.
    for (qsizetype i = 0; i < changes.size(); ++i)
        stored(i, failures.at(i));
}

QStringList LdifTree::values(const QString &fullName, const QString &ldapAttribute)
{
    return toStrings(d->nodeByFullName(fullName).attributes.values(ldapAttribute.toUtf8()));
}

} // namespace directory
