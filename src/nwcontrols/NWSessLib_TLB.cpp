#include "nwcontrols/NWSessLib_TLB.h"

#include "automation/control_registry.h"

using automation::InvokeKind;

namespace NWSessLib_TLB {

QString INWNetworkName::FullName() const
{
    return m_object->invoke(dispid::INWNetworkName::FullName, InvokeKind::PropertyGet).toString();
}

qint32 INWNetworkNames::Count() const
{
    return m_object->invoke(dispid::INWNetworkNames::Count, InvokeKind::PropertyGet).value<qint32>();
}

INWNetworkName INWNetworkNames::Item(qint32 index) const
{
    return INWNetworkName(automation::toDispatch(
        m_object->invoke(dispid::INWNetworkNames::Item, InvokeKind::PropertyGet, {QVariant::fromValue(index)})));
}

} // namespace NWSessLib_TLB

TNWSess::TNWSess()
    : m_control(automation::ControlRegistry::instance().create(NWSessLib_TLB::CLASS_NWSess))
{
}

NWSessLib_TLB::INWNetworkNames TNWSess::AttachedTrees() const
{
    return NWSessLib_TLB::INWNetworkNames(automation::toDispatch(
        m_control->invoke(NWSessLib_TLB::dispid::DNWSess::AttachedTrees, InvokeKind::PropertyGet)));
}
