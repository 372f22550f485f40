#include "directory/embedded/ldif_tree.h"

#include "directory/dn.h"
#include "directory/embedded/attributes.h"
#include "directory/embedded/dn_table.h"
#include "directory/embedded/journal.h"
#include "directory/embedded/ldif.h"
#include "directory/embedded/ldif_files.h"
#include "directory/embedded/node.h"
#include "directory/embedded/node_tables.h"
#include "directory/embedded/texts.h"
#include "directory/embedded/value_rule.h"
#include "directory/full_name.h"
#include "platform/error.h"

#include <QFile>
#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <memory>
#include <vector>

namespace directory {

using namespace embedded;

namespace {

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

// An empty ou or department beside another value: a server refuses an empty
// Directory String, and a run would take the entry for one with two classes.
// Checked only where a record brings an empty value, which is rare.
void refuseEmptyBesideOthers(const Attributes &attributes, const ldif::Record &record, const Place &where)
{
    for (const ldif::Modification &mod : record.modifications) {
        const bool empty = std::any_of(mod.values.begin(), mod.values.end(), [](QByteArrayView v) { return v.isEmpty(); });
        if (empty && ValueRule::ignoresCase(mod.type) && attributes.values(mod.type).size() > 1)
            throw platform::Error(QStringLiteral("%1: %2 von %3 hat einen leeren Wert neben anderen; ein leerer Wert "
                                                 "ist nicht erlaubt")
                                      .arg(where.text(), QString::fromUtf8(mod.type), QString::fromUtf8(record.dn)));
    }
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
    NodesByText parentByText; // the parents met so far by their DNs' texts as their children spell them
    TextStore texts;       // what the nodes view
    TextStore parentTexts; // what parentByText's keys view: apart, so that they stay few pages
    ChildTable childByName;
    SharedTexts sharedTexts; // class names and RDN types
    std::unique_ptr<DnTable> nodeByText; // every node by its DN's text, while a long journal is replayed
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
            Node *const first = childByName.find({parent, rdn.first().value});
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
        HashedText key(text);
        if (const auto known = parentByText.find(key); known != parentByText.end())
            return known->second;
        std::optional<QList<Rdn>> path;
        try {
            path = pathBelow(parseDn(QString::fromUtf8(text)), baseRdns);
        } catch (const platform::Error &) {
            return nullptr;
        }
        Node *parent = path ? walk(*path) : nullptr;
        if (parent) {
            key.text = parentTexts.keep(text);
            parentByText.emplace(key, parent);
        }
        return parent;
    }

    Node *nodeByDn(QByteArrayView dn, const Place &where)
    {
        if (Node *node = nodeByText ? nodeByText->find(HashedText(dn)) : nullptr)
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
            if (Node *const first = childByName.insert({parent, own.name}, node)) {
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
        refuseEmptyBesideOthers(node->attributes, record, where);
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
        parentByText.emplace(HashedText(baseDn), &top);
        const auto entry = [&](const ldif::Record &record) {
            const Place where{"Datei", ldifPath, record.firstLine};
            if (record.kind != ldif::Record::Kind::Add)
                throw platform::Error(QStringLiteral("%1: nur Einträge sind erlaubt, keine Änderungen").arg(where.text()));
            addEntry(record, where);
        };
        ldif::forEachRecord(file, file.size(), ldifPath, entry);
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
            refuseEmptyBesideOthers(node->attributes, record, where);
            if (classChanged && node != &root())
                updateClass(*node);
        };
        // The table's slot is fetched while the record is parsed: waiting
        // for it was most of a long replay.
        const auto nodeAhead = [this](QByteArrayView dn) {
            if (nodeByText)
                nodeByText->prefetch(HashedText(dn));
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
            Node *const child = childByName.find({*node, component});
            if (!child)
                throw objectNotFound(fullName);
            if (child->sharesName) {
                QStringList dns;
                for (const Node *sibling : node->children) {
                    if (!sibling->multiValuedRdn && sibling->name.compare(component, Qt::CaseInsensitive) == 0)
                        dns.append(QString::fromUtf8(sibling->dn));
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
