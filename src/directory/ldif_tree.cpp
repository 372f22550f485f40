#include "directory/ldif_tree.h"

#include "directory/dn.h"
#include "directory/full_name.h"
#include "directory/journal.h"
#include "directory/ldif.h"
#include "directory/ldif_files.h"
#include "platform/error.h"

#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <bit>
#include <deque>
#include <cstring>
#include <memory>
#include <vector>

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

// A DN's text, compared exactly.
struct TextKey {
    // With a seed, Qt hashes bytes with the CPU's AES instructions where it
    // has them, several times faster than its unseeded hash.
    explicit TextKey(QByteArrayView bytes) : text(bytes), hash(::qHash(bytes, QHashSeed::globalSeed())) {}
    QByteArrayView text;
    size_t hash;
    friend bool operator==(const TextKey &a, const TextKey &b) { return a.hash == b.hash && a.text == b.text; }
};

size_t qHash(const TextKey &key, size_t seed)
{
    return ::qHash(key.hash, seed);
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
        // Sizes first: this runs for every attribute of every entry loaded.
        switch (type.size()) {
        case 2:
            return type.compare("ou", Qt::CaseInsensitive) == 0;
        case 10:
            return type.compare("department", Qt::CaseInsensitive) == 0;
        case 22:
            return type.compare("organizationalUnitName", Qt::CaseInsensitive) == 0;
        default:
            return false;
        }
    }
private:
    static QString key(QByteArrayView value) { return QString::fromUtf8(value).simplified().toCaseFolded(); }
    bool m_ignoreCase;
};

// An entry's attributes packed into one buffer, which keeps a large tree
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
        const char *p = m_data.constData();
        const char *const end = p + m_data.size();
        QVarLengthArray<QByteArrayView, 4> values;
        while (p < end) {
            const auto typeSize = take<quint16>(p);
            const QByteArrayView type(p, typeSize);
            p += typeSize;
            values.clear();
            for (quint32 count = take<quint32>(p); count > 0; --count) {
                const auto size = take<quint32>(p);
                values.append(QByteArrayView(p, size));
                p += size;
            }
            visit(type, values);
        }
    }

    [[nodiscard]] QList<QByteArray> values(QByteArrayView wanted) const
    {
        QList<QByteArray> result;
        forEach([&](QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values) {
            if (type.compare(wanted, Qt::CaseInsensitive) == 0) {
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
        QVarLengthArray<char, 1024> changed; // one allocation for the result
        const auto keep = [&changed](QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values) {
            const qsizetype at = changed.size();
            changed.resize(at + sizeOf(type, values));
            write(changed.data() + at, type, values);
        };
        bool found = false;
        forEach([&](QByteArrayView type, const QVarLengthArray<QByteArrayView, 4> &values) {
            if (type.compare(mod.type, Qt::CaseInsensitive) != 0) {
                keep(type, values);
                return;
            }
            found = true;
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
            rule.collapse(kept);
            keep(type, kept);
        });
        if (!found && mod.op != ldif::Modification::Op::Delete) {
            QVarLengthArray<QByteArrayView, 4> added = mod.values;
            rule.collapse(added);
            keep(mod.type, added);
        }
        m_data = QByteArray(changed.constData(), changed.size());
    }

private:
    // Checked in place, as nearly every entry is.
    static bool isCollapsed(const QVarLengthArray<ldif::Modification, 8> &entry)
    {
        for (qsizetype i = 0; i < entry.size(); ++i) {
            const ldif::Modification &mod = entry[i];
            for (qsizetype j = 0; j < i; ++j) {
                if (entry[j].type.size() == mod.type.size() && entry[j].type.compare(mod.type, Qt::CaseInsensitive) == 0)
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
                return kept.type.compare(mod.type, Qt::CaseInsensitive) == 0;
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
        m_data = QByteArray(size, Qt::Uninitialized); // resize() would leave room to grow
        char *p = m_data.data();
        for (const ldif::Modification &mod : entry)
            p = write(p, mod.type, mod.values);
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

    QByteArray m_data;
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
        if (const QString *known = m_index.value(text))
            return known;
        const QString *kept = &m_texts.emplace_back(text);
        m_index.insert(text, kept);
        return kept;
    }

private:
    std::deque<QString> m_texts; // addresses stay as it grows
    QHash<QString, const QString *> m_index;
};

const QString kNoClass;

struct Node {
    Node *parent = nullptr;
    QByteArrayView dn; // as the file or the journal spells it
    QStringView name;  // the RDN's (first) value; what a full name carries
    const QString *rdnType = &kNoClass; // its attribute type
    const QString *className = &kNoClass;
    Attributes attributes;
    std::vector<Node *> children;
    bool addressable = false;           // single-valued RDN whose value a full name can carry
    bool multiValuedRdn = false;
    bool sharesName = false; // a sibling has the same name under another attribute type
};

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
    explicit DnTable(size_t count) : m_slots(std::bit_ceil(2 * count + 1)), m_mask(m_slots.size() - 1) {}

    void insert(Node &node)
    {
        const size_t hash = TextKey(node.dn).hash;
        size_t i = hash & m_mask;
        while (m_slots[i].node)
            i = (i + 1) & m_mask;
        m_slots[i] = {hash, &node};
    }

    [[nodiscard]] Node *find(QByteArrayView dn) const
    {
        const size_t hash = TextKey(dn).hash;
        for (size_t i = hash & m_mask; m_slots[i].node; i = (i + 1) & m_mask) {
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
    std::vector<Slot> m_slots; // at most half full, so every probe ends soon
    size_t m_mask;
};

// The children with single-valued RDNs by their parent and name, compared
// ignoring letter case as cn, ou and o compare; the first child of each name.
// One flat table for the whole tree, probed in place and at most half full:
// a QHash for each parent cost a large tree a fifth of its memory, and its
// probes each reach into a separate array of entries, one cache miss apiece.
class ChildTable {
public:
    // Starts loading the slot where `name` goes below `parent` into the cache.
    void prefetch(const Node &parent, QStringView name) const { prefetchMemory(&m_slots[hashOf(parent, name) & mask()]); }

    [[nodiscard]] Node *find(const Node &parent, QStringView name) const
    {
        const size_t hash = hashOf(parent, name);
        for (size_t i = hash & mask(); m_slots[i].node; i = (i + 1) & mask()) {
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
            grow();
        const size_t hash = hashOf(*child.parent, child.name);
        size_t i = hash & mask();
        for (; m_slots[i].node; i = (i + 1) & mask()) {
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
    [[nodiscard]] size_t mask() const { return m_slots.size() - 1; }
    void grow()
    {
        const std::vector<Slot> old = std::exchange(m_slots, std::vector<Slot>(2 * m_slots.size()));
        for (const Slot &slot : old) {
            if (!slot.node)
                continue;
            size_t i = slot.hash & mask();
            while (m_slots[i].node)
                i = (i + 1) & mask();
            m_slots[i] = slot;
        }
    }
    std::vector<Slot> m_slots = std::vector<Slot>(16);
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
    // The parents met so far by the texts of their DNs: most entries find
    // their parent here without parsing its DN. Few, so it stays in the cache.
    QHash<TextKey, Node *> parentByText;
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
        if (Node *parent = parentByText.value(TextKey(text)))
            return parent;
        std::optional<QList<Rdn>> path;
        try {
            path = pathBelow(parseDn(QString::fromUtf8(text)), baseRdns);
        } catch (const platform::Error &) {
            return nullptr;
        }
        Node *parent = path ? walk(*path) : nullptr;
        if (parent)
            parentByText.insert(TextKey(parentTexts.keep(text)), parent);
        return parent;
    }

    Node *nodeByDn(QByteArrayView dn, const Place &where)
    {
        if (Node *node = nodeByText ? nodeByText->find(dn) : nullptr)
            return node;
        const std::optional<FirstRdn> first = firstRdn(dn);
        if (Node *parent = first ? parentOf(first->parent) : nullptr)
            return childByRdn(*parent, first->rdn);
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
            if (type.compare("objectClass", Qt::CaseInsensitive) == 0)
                node.className = classOf(values);
        });
    }

    Node &newChild(Node &parent, QByteArrayView dn, const Rdn &own, const Place &where)
    {
        const auto duplicate = [&] {
            return platform::Error(QStringLiteral("%1: %2 ist doppelt vorhanden").arg(where.text(), QString::fromUtf8(dn)));
        };
        if (own.size() > 1 && childByRdn(parent, own))
            throw duplicate();
        Node &node = nodes.add(); // a tree that fails to load is dropped whole, with this node
        node.name = texts.keep(QStringView(own.first().value));
        node.parent = &parent;
        if (own.size() == 1) {
            // One probe for most children: the first of a name takes the free place.
            if (Node *const first = childByName.insert(node)) {
                if (childByRdn(parent, own))
                    throw duplicate();
                first->sharesName = node.sharesName = true;
            }
        }
        node.dn = texts.keep(dn);
        node.rdnType = sharedTexts.keep(own.first().type);
        node.addressable = nameable(own);
        node.multiValuedRdn = own.size() > 1;
        parent.children.push_back(&node);
        return node;
    }

    void addEntry(const ldif::Record &record, const Place &where)
    {
        Node *node = nullptr;
        const std::optional<FirstRdn> first = firstRdn(record.dn);
        Node *const parent = first ? parentOf(first->parent) : nullptr;
        if (parent && first->rdn.size() == 1) {
            // Fetched while the entry's attributes are packed: on a large
            // tree, waiting for these two is much of the load.
            prefetchMemory(parent);
            childByName.prefetch(*parent, first->rdn.first().value);
        }
        Attributes attributes(record.modifications);
        if (parent) {
            node = &newChild(*parent, record.dn, first->rdn, where);
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
            if (mod.type.compare("objectClass", Qt::CaseInsensitive) == 0)
                node->className = classOf(mod.values);
        }
    }

    void load()
    {
        QFile file;
        files::openTreeFile(file, ldifPath);
        Node &top = nodes.add();
        top.className = sharedTexts.keep(QStringLiteral("Top"));
        parentByText.insert(TextKey(baseDn), &top);
        ldif::forEachRecord(file, file.size(), ldifPath, [&](const ldif::Record &record) {
            const Place where{"Datei", ldifPath, record.firstLine};
            if (record.kind != ldif::Record::Kind::Add)
                throw platform::Error(QStringLiteral("%1: nur Einträge sind erlaubt, keine Änderungen").arg(where.text()));
            addEntry(record, where);
        });
        file.close();

        Journal::Contents changes = journal.read();
        // The journal names entries as the tree does: while a long one is
        // replayed, a table of every DN's text spares parsing each DN. It pays
        // from about one record (some 70 bytes) for every two entries.
        if (changes.complete > 35 * static_cast<qint64>(nodes.size())) {
            nodeByText = std::make_unique<DnTable>(nodes.size());
            nodes.forEach([this](Node &node) { nodeByText->insert(node); });
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
                classChanged = classChanged || mod.type.compare("objectClass", Qt::CaseInsensitive) == 0;
            }
            if (classChanged && node != &root())
                updateClass(*node);
        };
        if (changes.file)
            ldif::forEachRecord(*changes.file, changes.complete, journal.path(), replay);
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
    result.reserve(static_cast<qsizetype>(parent.children.size()));
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
