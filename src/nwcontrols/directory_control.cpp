#include "nwcontrols/directory_control.h"

#include "directory/client.h"
#include "directory/full_name.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "platform/error.h"

#include <QList>

#include <optional>

using automation::DispId;
using automation::InvokeKind;
namespace dispid = NWDirLib_TLB::dispid;

namespace nwcontrols {

namespace {

class ClassDescription final : public automation::Dispatch {
public:
    explicit ClassDescription(QString name) : m_name(std::move(name)) {}
    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &) override
    {
        if (id == dispid::INWClassDescription::Name && kind == InvokeKind::PropertyGet)
            return m_name;
        automation::throwUnknownMember("INWClassDescription", id, kind);
    }

private:
    QString m_name;
};

// One object's entry: values put into it are kept until the store writes them.
// Its class is looked up when asked for, so a write costs one round trip.
class Entry final : public automation::Dispatch {
public:
    Entry(directory::Tree &tree, QString fullName) : m_tree(tree), m_fullName(std::move(fullName)) {}

    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &args) override
    {
        if (id == dispid::INWEntry::Class && kind == InvokeKind::PropertyGet)
            return automation::fromDispatch(std::make_shared<ClassDescription>(m_tree.className(m_fullName)));
        if (id == dispid::INWEntry::SetValue && kind == InvokeKind::Method) {
            const QString attribute = automation::argumentAt(args, 0).toString();
            const QVariant &value = automation::argumentAt(args, 1);
            if (!value.canConvert<QString>())
                throw platform::Error(QStringLiteral("Der Wert für %1 von %2 ist kein Text").arg(attribute, m_fullName));
            queue({attribute, value.toString(), {}});
            return true;
        }
        if (id == dispid::INWEntry::SetValues && kind == InvokeKind::Method) {
            const QString attribute = automation::argumentAt(args, 0).toString();
            // Arrays of texts: lists of strings, or of variants that hold them.
            queue({attribute, {}, directory::ValueChange{m_fullName, attribute, automation::argumentAt(args, 1).toStringList(),
                                                         automation::argumentAt(args, 2).toStringList()}});
            return true;
        }
        if (id == dispid::INWEntry::IgnoresCase && kind == InvokeKind::Method)
            return m_tree.valueCase(automation::argumentAt(args, 0).toString()) == Qt::CaseInsensitive;
        if (id == dispid::INWEntry::Update && kind == InvokeKind::Method) {
            while (!m_pending.isEmpty()) {
                const Pending pending = m_pending.first(); // a copy: the store may let other calls in
                if (pending.change) {
                    std::exception_ptr failure;
                    m_tree.storeChanges({*pending.change}, [&](qsizetype, std::exception_ptr f) {
                        failure = f;
                        return true;
                    });
                    if (failure)
                        std::rethrow_exception(failure);
                } else {
                    m_tree.putAndStore(m_fullName, pending.attribute, pending.after);
                }
                m_pending.removeFirst();
            }
            return true;
        }
        automation::throwUnknownMember("INWEntry", id, kind);
    }

private:
    // A value put with set value, or values put with set values.
    struct Pending {
        QString attribute;
        QString after;
        std::optional<directory::ValueChange> change;
    };

    // Stores go in the order the attributes were last set, each once.
    void queue(Pending pending)
    {
        m_pending.removeIf([&](const Pending &queued) { return queued.attribute == pending.attribute; });
        m_pending.append(std::move(pending));
    }

    directory::Tree &m_tree;
    QString m_fullName;
    QList<Pending> m_pending; // few: one for each attribute set
};

QStringList classList(const QString &filters)
{
    QStringList classes;
    for (const QString &name : filters.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            classes.append(name.trimmed());
    }
    return classes;
}

// Attaches (loads) the tree a full name lies in now, so that a fault shows at
// once. A name typed into the tree choice that names no tree is taken as it
// stands and fails where it is used.
void attachTreeOf(directory::Client &client, const QString &fullName)
{
    if (const QStringView tree = directory::treeNameIn(fullName); !tree.isEmpty() && client.hasTree(tree))
        client.tree(tree);
}

} // namespace

DirectoryControl::DirectoryControl(directory::Client &client)
    : m_client(client), m_self(std::make_shared<DirectoryControl *>(this))
{
}

DirectoryControl::~DirectoryControl() = default;

QVariant DirectoryControl::invoke(DispId id, InvokeKind kind, const QVariantList &args)
{
    switch (kind) {
    case InvokeKind::PropertyGet:
        if (id == dispid::DNWDir::FullName)
            return m_fullName;
        if (id == dispid::DNWDir::Filters)
            return m_filters;
        if (id == dispid::DNWDir::SearchReferences)
            return m_searchReferences;
        if (id == dispid::DNWDir::Entry) {
            if (m_fullName.isEmpty())
                throw platform::Error(QStringLiteral("Das Verzeichnis-Steuerelement steht auf keinem Objekt"));
            return automation::fromDispatch(std::make_shared<Entry>(m_client.treeOf(m_fullName), m_fullName));
        }
        if (id == dispid::DNWDir::Entries)
            return entries();
        break;
    case InvokeKind::PropertyPut:
        if (id == dispid::DNWDir::FullName) {
            m_fullName = automation::argumentAt(args, 0).toString();
            attachTreeOf(m_client, m_fullName);
            return {};
        }
        if (id == dispid::DNWDir::Filters) {
            m_filters = automation::argumentAt(args, 0).toString();
            return {};
        }
        break;
    case InvokeKind::Method:
        if (id == dispid::DNWDir::Search) {
            search(args);
            return {};
        }
        if (id == dispid::DNWDir::CancelSearch) {
            if (!m_searchTree.isEmpty())
                m_client.tree(std::exchange(m_searchTree, {})).cancelSearches();
            return {};
        }
        break;
    }
    automation::throwUnknownMember("_DNWDir", id, kind);
}

QVariant DirectoryControl::entries()
{
    QVariantList list;
    for (const auto &child : m_client.treeOf(m_fullName).children(m_fullName, classList(m_filters)))
        list.append(QVariant(QVariantList{child.fullName, child.className}));
    return list;
}

// Arguments: search text, class name, scope (2 whole subtree, 1 one level),
// context, flags (0). A search text names an attribute: each hit is then
// delivered as [full name, DN, [its values]] instead of its full name alone,
// so a run knows what it replaces without reading each user again.
void DirectoryControl::search(const QVariantList &args)
{
    const QString attribute = automation::argumentAt(args, 0).toString();
    const QString className = automation::argumentAt(args, 1).toString();
    const int scopeCode = automation::argumentAt(args, 2).toInt();
    const QString context = automation::argumentAt(args, 3).toString();
    if (scopeCode != 1 && scopeCode != 2)
        throw platform::Error(QStringLiteral("Ungültiger Suchbereich %1").arg(scopeCode));
    const auto scope = scopeCode == 2 ? directory::Scope::Subtree : directory::Scope::OneLevel;

    // A search that fails before it could start raises here; one that ends,
    // now or later, is reported through the message pump.
    struct Start {
        bool returned = false;
        std::exception_ptr earlyFailure;
    };
    auto start = std::make_shared<Start>();
    std::weak_ptr<DirectoryControl *> self = m_self;
    directory::Tree &tree = m_client.treeOf(context);
    m_searchTree = tree.name();
    tree.search(context, className, scope, attribute,
                                    [start, self, withValues = !attribute.isEmpty()](const directory::Found &hits, std::exception_ptr failure) {
        if (failure && !start->returned) {
            start->earlyFailure = failure;
            return;
        }
        const auto control = self.lock();
        if (!control)
            return;
        (*control)->m_searchReferences.clear();
        for (const directory::Reference &reference : hits.references) {
            if (reference.mayHoldUsers)
                (*control)->m_searchReferences.append(reference.url);
        }
        QVariantList results;
        results.reserve(hits.size());
        for (const directory::FoundObject &hit : hits) {
            if (withValues)
                results.append(QVariant(QVariantList{hit.fullName, hit.dn, QVariant(hit.values)}));
            else
                results.append(hit.fullName);
        }
        (*control)->postEvent(dispid::DNWDirEvents::OnSearchCompleted,
                              {failure ? automation::fromFailure(failure) : QVariant(results)});
    });
    start->returned = true;
    if (start->earlyFailure)
        std::rethrow_exception(start->earlyFailure);
}

} // namespace nwcontrols
