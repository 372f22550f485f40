#include "directory/ldif_tree.h"

#include "directory/dn.h"
#include "directory/full_name.h"
#include "directory/journal.h"
#include "directory/ldif.h"
#include "platform/error.h"

#include <QFile>
#include <QHash>
#include <QLockFile>

#include <deque>
#include <vector>

namespace directory {

namespace {

struct Attribute {
    QByteArray type;
    QList<QByteArray> values;
};

struct Node {
    Node *parent = nullptr;
    QString dn;
    QString name;             // the RDN's value; what a full name carries
    bool addressable = false; // single-valued RDN whose value a full name can carry
    QString className;
    QList<Attribute> attributes;
    std::vector<Node *> children;
    QHash<QString, Node *> childByKey; // see childKey(); nullptr marks an ambiguous key
};

// Children are found by their RDN value, ignoring letter case as cn, ou and o
// do. A multi-valued RDN gets a key that no full-name component can equal.
QString childKey(const Rdn &rdn)
{
    if (rdn.size() == 1)
        return rdn.first().value.toCaseFolded();
    QString key(QChar(0));
    for (const Ava &ava : rdn)
        key += ava.type.toCaseFolded() + QLatin1Char('=') + ava.value.toCaseFolded() + QLatin1Char('+');
    return key;
}

// For a Node or a const Node alike.
template <typename N>
auto findAttribute(N &node, const QByteArray &type) -> decltype(&node.attributes.first())
{
    for (auto &attribute : node.attributes) {
        if (qstricmp(attribute.type.constData(), type.constData()) == 0)
            return &attribute;
    }
    return nullptr;
}

QStringList valuesOf(const Node &node, const QByteArray &type)
{
    QStringList result;
    if (const Attribute *attribute = findAttribute(node, type)) {
        for (const QByteArray &value : attribute->values)
            result.append(QString::fromUtf8(value));
    }
    return result;
}

void applyModification(Node &node, const ldif::Modification &mod)
{
    Attribute *attribute = findAttribute(node, mod.type);
    switch (mod.op) {
    case ldif::Modification::Op::Add:
        if (!attribute) {
            node.attributes.append({mod.type, {}});
            attribute = &node.attributes.last();
        }
        attribute->values += mod.values;
        break;
    case ldif::Modification::Op::Replace:
        if (attribute)
            attribute->values = mod.values;
        else if (!mod.values.isEmpty())
            node.attributes.append({mod.type, mod.values});
        break;
    case ldif::Modification::Op::Delete:
        if (!attribute)
            break;
        if (mod.values.isEmpty())
            attribute->values.clear();
        for (const QByteArray &value : mod.values)
            attribute->values.removeOne(value);
        break;
    }
    node.attributes.removeIf([](const Attribute &a) { return a.values.isEmpty(); });
}

QStringList objectClassesOf(Node &node)
{
    QStringList classes;
    if (const Attribute *attribute = findAttribute(node, "objectClass")) {
        for (const QByteArray &value : attribute->values)
            classes.append(QString::fromUtf8(value));
    }
    return classes;
}

} // namespace

struct LdifTree::Impl {
    QString ldifPath;
    QList<Rdn> baseRdns;
    SchemaMap schema;
    QLockFile lock;
    Journal journal;
    QStringList warnings;
    std::deque<Node> nodes; // stable addresses; nodes[0] is the tree root
    QString treeName;
    QString rootFullName;

    Impl(const QString &path, const SchemaMap &map)
        : ldifPath(path), schema(map), lock(path + QStringLiteral(".lock")),
          journal(path + QStringLiteral(".journal"))
    {
    }

    Node &root() { return nodes.front(); }

    void acquireLock()
    {
        lock.setStaleLockTime(0); // only a lock whose process is gone is stale
        if (lock.tryLock(0))
            return;
        if (lock.error() == QLockFile::LockFailedError)
            throw platform::Error(QStringLiteral("Der Verzeichnisbaum %1 wird bereits von einem anderen "
                                                 "Programm verwendet (Sperre %2)")
                                      .arg(ldifPath, lock.fileName()));
        throw platform::Error(QStringLiteral("Sperre %1 kann nicht angelegt werden").arg(lock.fileName()));
    }

    // The RDNs below the base DN, from the top down; raises for a DN outside it.
    QList<Rdn> pathBelowBase(const QString &dn, const QString &where)
    {
        QList<Rdn> rdns;
        try {
            rdns = parseDn(dn);
        } catch (const platform::Error &e) {
            throw platform::Error(QStringLiteral("%1: %2").arg(where, e.message()));
        }
        std::optional<QList<Rdn>> path = pathBelow(rdns, baseRdns);
        if (!path)
            throw platform::Error(QStringLiteral("%1: %2 liegt nicht im Baum").arg(where, dn));
        return *path;
    }

    Node *childByRdn(Node &parent, const Rdn &rdn)
    {
        const auto it = parent.childByKey.constFind(childKey(rdn));
        if (it == parent.childByKey.cend())
            return nullptr;
        if (*it)
            return *it;
        for (Node *child : parent.children) { // ambiguous value: compare whole RDNs
            if (sameRdn(parseDn(child->dn).first(), rdn))
                return child;
        }
        return nullptr;
    }

    Node *nodeByDn(const QString &dn, const QString &where)
    {
        Node *node = &root();
        for (const Rdn &rdn : pathBelowBase(dn, where)) {
            node = childByRdn(*node, rdn);
            if (!node)
                return nullptr;
        }
        return node;
    }

    void addEntry(const ldif::Record &record, const QString &where)
    {
        QList<Rdn> path = pathBelowBase(record.dn, where);
        Node *node = nullptr;
        if (path.isEmpty()) {
            node = &root(); // the base entry itself
            node->dn = record.dn;
        } else {
            const Rdn own = path.takeLast();
            Node *parent = &root();
            for (const Rdn &rdn : path) {
                parent = childByRdn(*parent, rdn);
                if (!parent)
                    throw platform::Error(QStringLiteral("%1: das übergeordnete Objekt von %2 fehlt").arg(where, record.dn));
            }
            if (childByRdn(*parent, own))
                throw platform::Error(QStringLiteral("%1: %2 ist doppelt vorhanden").arg(where, record.dn));
            node = &nodes.emplace_back();
            node->parent = parent;
            node->dn = record.dn;
            node->name = own.first().value;
            node->addressable = nameable(own);
            parent->children.push_back(node);
            const QString key = childKey(own);
            const auto existing = parent->childByKey.constFind(key);
            parent->childByKey.insert(key, existing == parent->childByKey.cend() ? node : nullptr);
        }
        for (const ldif::Modification &mod : record.modifications)
            applyModification(*node, mod);
        if (node != &root())
            node->className = schema.ndsClass(objectClassesOf(*node));
    }

    void load()
    {
        QFile file(ldifPath);
        if (!file.open(QIODevice::ReadOnly))
            throw platform::Error(QStringLiteral("Datei %1 kann nicht geöffnet werden: %2").arg(ldifPath, file.errorString()));
        nodes.emplace_back().className = QStringLiteral("Top");
        ldif::forEachRecord(file.readAll(), ldifPath, [&](const ldif::Record &record) {
            const QString where = QStringLiteral("Datei %1, Zeile %2").arg(ldifPath).arg(record.firstLine);
            if (record.kind != ldif::Record::Kind::Add)
                throw platform::Error(QStringLiteral("%1: nur Einträge sind erlaubt, keine Änderungen").arg(where));
            addEntry(record, where);
        });

        QString warning;
        const QByteArray changes = journal.readComplete(&warning);
        if (!warning.isEmpty()) {
            warnings.append(warning);
            qWarning("%s", qPrintable(warning));
        }
        ldif::forEachRecord(changes, journal.path(), [&](const ldif::Record &record) {
            const QString where = QStringLiteral("Journal %1, Zeile %2").arg(journal.path()).arg(record.firstLine);
            Node *node = record.kind == ldif::Record::Kind::Modify ? nodeByDn(record.dn, where) : nullptr;
            if (!node)
                throw platform::Error(QStringLiteral("%1: Änderung an %2 lässt sich nicht anwenden").arg(where, record.dn));
            for (const ldif::Modification &mod : record.modifications)
                applyModification(*node, mod);
            if (node != &root())
                node->className = schema.ndsClass(objectClassesOf(*node));
        });
    }

    Node &nodeByFullName(const QString &fullName)
    {
        const FullName name = FullName::parse(fullName);
        if (name.treeName.compare(treeName, Qt::CaseInsensitive) != 0)
            throw notInTree(fullName, treeName);
        Node *node = &root();
        for (const QString &component : name.components) {
            const auto it = node->childByKey.constFind(component.toCaseFolded());
            if (it != node->childByKey.cend() && !*it)
                throw objectAmbiguous(fullName, component);
            if (it == node->childByKey.cend())
                throw objectNotFound(fullName);
            node = *it;
        }
        return *node;
    }

    QString fullNameOf(const Node &node) const
    {
        if (!node.parent)
            return rootFullName;
        if (!node.addressable)
            throw notNameable(node.dn);
        return fullNameOf(*node.parent) + QLatin1Char('\\') + node.name;
    }

    void collect(const Node &node, const QString &className, Scope scope, const QByteArray &attribute,
                 QList<FoundObject> &out) const
    {
        for (const Node *child : node.children) {
            if (child->className.compare(className, Qt::CaseInsensitive) == 0)
                out.append({fullNameOf(*child), child->dn, attribute.isEmpty() ? QStringList() : valuesOf(*child, attribute)});
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
    d->baseRdns = parseDn(baseDn);
    d->acquireLock();
    d->load();
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
    return d->nodeByFullName(fullName).className;
}

QList<DirectoryObject> LdifTree::children(const QString &fullName, const QStringList &classNames)
{
    const Node &parent = d->nodeByFullName(fullName);
    QList<DirectoryObject> result;
    for (const Node *child : parent.children) {
        if (classNames.isEmpty() || classNames.contains(child->className, Qt::CaseInsensitive))
            result.append({d->fullNameOf(*child), child->className});
    }
    return result;
}

void LdifTree::search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                      SearchDone done)
{
    QList<FoundObject> hits;
    try {
        const QByteArray type = attribute.isEmpty() ? QByteArray() : d->schema.attribute(attribute).toUtf8();
        d->collect(d->nodeByFullName(baseFullName), className, scope, type, hits);
    } catch (...) {
        done({}, std::current_exception());
        return;
    }
    done(hits, nullptr);
}

void LdifTree::putAndStore(const QString &fullName, const QString &attribute, const QString &value)
{
    Node &node = d->nodeByFullName(fullName);
    if (!node.parent)
        throw platform::Error(QStringLiteral("Die Wurzel des Baums %1 kann nicht geändert werden").arg(name()));
    const QByteArray type = d->schema.attribute(attribute).toUtf8();
    const Attribute *current = findAttribute(node, type);
    const QList<QByteArray> oldValues = current ? current->values : QList<QByteArray>();
    const QList<QByteArray> newValues = value.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{value.toUtf8()};
    if (oldValues == newValues)
        return;

    d->journal.append(ldif::replaceRecord(node.dn, type, oldValues, newValues));
    applyModification(node, {ldif::Modification::Op::Replace, type, newValues});
}

QStringList LdifTree::values(const QString &fullName, const QString &ldapAttribute)
{
    return valuesOf(d->nodeByFullName(fullName), ldapAttribute.toUtf8());
}

} // namespace directory
