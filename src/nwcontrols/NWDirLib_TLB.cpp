#include "nwcontrols/NWDirLib_TLB.h"

#include "automation/control_registry.h"

using automation::InvokeKind;
namespace dispid = NWDirLib_TLB::dispid;

namespace NWDirLib_TLB {

QString INWClassDescription::Name() const
{
    return m_object->invoke(dispid::INWClassDescription::Name, InvokeKind::PropertyGet).toString();
}

INWClassDescription INWEntry::Class() const
{
    return INWClassDescription(automation::toDispatch(m_object->invoke(dispid::INWEntry::Class, InvokeKind::PropertyGet)));
}

bool INWEntry::SetValue(const QString &attribute, const QVariant &value)
{
    return m_object->invoke(dispid::INWEntry::SetValue, InvokeKind::Method, {attribute, value}).toBool();
}

bool INWEntry::SetValues(const QString &attribute, const QStringList &before, const QStringList &after)
{
    return m_object->invoke(dispid::INWEntry::SetValues, InvokeKind::Method, {attribute, before, after}).toBool();
}

bool INWEntry::IgnoresCase(const QString &attribute) const
{
    return m_object->invoke(dispid::INWEntry::IgnoresCase, InvokeKind::Method, {attribute}).toBool();
}

bool INWEntry::Update()
{
    return m_object->invoke(dispid::INWEntry::Update, InvokeKind::Method).toBool();
}

} // namespace NWDirLib_TLB

TNWDir::TNWDir()
    : m_control(automation::ControlRegistry::instance().create(NWDirLib_TLB::CLASS_NWDir))
{
    m_control->setEventHandler([this](automation::DispId event, const QVariantList &args) {
        if (event == dispid::DNWDirEvents::OnSearchCompleted && OnSearchCompleted)
            OnSearchCompleted(this, args.value(0));
    });
}

QString TNWDir::FullName() const
{
    return m_control->invoke(dispid::DNWDir::FullName, InvokeKind::PropertyGet).toString();
}

void TNWDir::SetFullName(const QString &fullName)
{
    m_control->invoke(dispid::DNWDir::FullName, InvokeKind::PropertyPut, {fullName});
}

NWDirLib_TLB::INWEntry TNWDir::Entry() const
{
    return NWDirLib_TLB::INWEntry(automation::toDispatch(m_control->invoke(dispid::DNWDir::Entry, InvokeKind::PropertyGet)));
}

void TNWDir::SetFilters(const QString &filters)
{
    m_control->invoke(dispid::DNWDir::Filters, InvokeKind::PropertyPut, {filters});
}

void TNWDir::Search(const QString &searchText, const QString &className, qint32 scope, const QString &context,
                    qint32 flags)
{
    m_control->invoke(dispid::DNWDir::Search, InvokeKind::Method,
                      {searchText, className, QVariant::fromValue(scope), context, QVariant::fromValue(flags)});
}

QStringList TNWDir::SearchReferences() const
{
    return m_control->invoke(dispid::DNWDir::SearchReferences, InvokeKind::PropertyGet).toStringList();
}

void TNWDir::CancelSearch()
{
    m_control->invoke(dispid::DNWDir::CancelSearch, InvokeKind::Method);
}
