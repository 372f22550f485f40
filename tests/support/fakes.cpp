#include "support/fakes.h"

#include "automation/control_registry.h"
#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/browse_control.h"
#include "nwcontrols/NWSessLib_TLB.h"
#include "directory/tree.h"
#include "platform/error.h"

using automation::DispId;
using automation::InvokeKind;

namespace fakes {

namespace {
class Object final : public automation::Dispatch {
public:
    using Handler = std::function<QVariant(DispId, InvokeKind, const QVariantList &)>;
    explicit Object(Handler handler) : m_handler(std::move(handler)) {}
    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &args) override { return m_handler(id, kind, args); }

private:
    Handler m_handler;
};
} // namespace

QVariant FakeSession::invoke(DispId id, InvokeKind kind, const QVariantList &)
{
    if (fail)
        throw platform::Error(QStringLiteral("Sitzung nicht verfügbar"));
    if (id != 10 || kind != InvokeKind::PropertyGet)
        automation::throwUnknownMember("FakeSession", id, kind);
    const QStringList snapshot = trees;
    return automation::fromDispatch(std::make_shared<Object>([snapshot](DispId id, InvokeKind, const QVariantList &args) -> QVariant {
        if (id == 1)
            return QVariant::fromValue(static_cast<qint32>(snapshot.size()));
        const int index = args.value(0).toInt();
        if (index < 0 || index >= snapshot.size())
            throw platform::Error(QStringLiteral("Kein Baum mit der Nummer %1").arg(index));
        const QString name = snapshot.at(index);
        return automation::fromDispatch(std::make_shared<Object>([name](DispId, InvokeKind, const QVariantList &) -> QVariant { return name; }));
    }));
}

QVariant FakeDirectory::invoke(DispId id, InvokeKind kind, const QVariantList &args)
{
    if (kind == InvokeKind::PropertyPut && id == 1) {
        fullName = args.value(0).toString();
        return {};
    }
    if (kind == InvokeKind::PropertyGet && id == 1)
        return fullName;
    if (kind == InvokeKind::PropertyPut && id == 9) {
        filters = args.value(0).toString();
        return {};
    }
    if (kind == InvokeKind::PropertyGet && id == 117) // the parts a search could not look into: none
        return QStringList();
    if (kind == InvokeKind::Method && id == 116) // cancel: the search's end comes as it would
        return {};
    if (kind == InvokeKind::Method && id == 15) {
        searches.append(args);
        if (onSearch)
            onSearch();
        if (failSearch)
            throw platform::Error(QStringLiteral("Suche abgelehnt"));
        if (!completes)
            return {};
        if (fireDuringCall)
            fireEvent(4, {results});
        else
            postEvent(4, {results});
        return {};
    }
    if (kind == InvokeKind::PropertyGet && id == 3) {
        ++entryReads;
        const QString object = fullName;
        const QString className = classes.value(object, QStringLiteral("User"));
        return automation::fromDispatch(std::make_shared<Object>([this, object, className](DispId id, InvokeKind, const QVariantList &args) -> QVariant {
            if (id == 3)
                return automation::fromDispatch(std::make_shared<Object>([className](DispId, InvokeKind, const QVariantList &) -> QVariant { return className; }));
            if (id == 12) {
                m_pending.append(QStringList{args.value(0).toString(), args.value(1).toString()});
                return true;
            }
            if (id == 112) { // set values: the values after the change are what is stored
                m_pending.append(QStringList{args.value(0).toString()} + args.value(2).toStringList());
                return true;
            }
            if (id == 113) // the attribute's values ignore case
                return true;
            // store
            for (const QStringList &pending : std::exchange(m_pending, {})) {
                if (onStore)
                    onStore();
                stores.append(QStringList{object} + pending);
                if (failStoreAt == stores.size())
                    throw directory::Refused(QStringLiteral("Schreiben in %1 verweigert").arg(object));
            }
            return true;
        }));
    }
    automation::throwUnknownMember("FakeDirectory", id, kind);
}

Installed install(const QStringList &trees)
{
    Installed installed{std::make_shared<FakeSession>(trees), std::make_shared<FakeDirectory>()};
    auto &registry = automation::ControlRegistry::instance();
    registry.registerClass(NWSessLib_TLB::CLASS_NWSess, [s = installed.session] { return s; });
    registry.registerClass(NWDirLib_TLB::CLASS_NWDir, [d = installed.directory] { return d; });
    registry.registerClass(NWBrowseLib_TLB::CLASS_NWBrowse, [] { return std::make_shared<nwcontrols::BrowseControl>(); });
    return installed;
}

} // namespace fakes
