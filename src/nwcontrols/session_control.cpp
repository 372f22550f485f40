#include "nwcontrols/session_control.h"

#include "directory/client.h"
#include "directory/full_name.h"
#include "nwcontrols/NWSessLib_TLB.h"
#include "platform/error.h"

using automation::DispId;
using automation::InvokeKind;
namespace dispid = NWSessLib_TLB::dispid;

namespace nwcontrols {

namespace {

class NetworkName final : public automation::Dispatch {
public:
    explicit NetworkName(QString fullName) : m_fullName(std::move(fullName)) {}
    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &) override
    {
        if (id == dispid::INWNetworkName::FullName && kind == InvokeKind::PropertyGet)
            return m_fullName;
        automation::throwUnknownMember("INWNetworkName", id, kind);
    }

private:
    QString m_fullName;
};

class NetworkNames final : public automation::Dispatch {
public:
    explicit NetworkNames(QStringList fullNames) : m_fullNames(std::move(fullNames)) {}
    QVariant invoke(DispId id, InvokeKind kind, const QVariantList &args) override
    {
        if (kind == InvokeKind::PropertyGet && id == dispid::INWNetworkNames::Count)
            return QVariant::fromValue(static_cast<qint32>(m_fullNames.size()));
        if (kind == InvokeKind::PropertyGet && id == dispid::INWNetworkNames::Item) {
            bool ok = false;
            const int index = automation::argumentAt(args, 0).toInt(&ok);
            if (!ok || index < 0 || index >= m_fullNames.size())
                throw platform::Error(QStringLiteral("Kein verbundener Baum mit der Nummer %1")
                                          .arg(automation::argumentAt(args, 0).toString()));
            return automation::fromDispatch(std::make_shared<NetworkName>(m_fullNames.at(index)));
        }
        automation::throwUnknownMember("INWNetworkNames", id, kind);
    }

private:
    QStringList m_fullNames;
};

} // namespace

QVariant SessionControl::invoke(DispId id, InvokeKind kind, const QVariantList &)
{
    if (id == dispid::DNWSess::AttachedTrees && kind == InvokeKind::PropertyGet) {
        QStringList roots;
        for (const QString &name : m_client.treeNames())
            roots.append(directory::rootFullName(name));
        return automation::fromDispatch(std::make_shared<NetworkNames>(roots));
    }
    automation::throwUnknownMember("_DNWSess", id, kind);
}

} // namespace nwcontrols
