#include "nwcontrols/NWBrowseLib_TLB.h"

#include "automation/control_registry.h"

#include <QWidget>

using automation::InvokeKind;
namespace dispid = NWBrowseLib_TLB::dispid;

TNWBrowse::TNWBrowse(QWidget *parent)
    : m_control(automation::ControlRegistry::instance().create(NWBrowseLib_TLB::CLASS_NWBrowse)),
      m_widget(m_control->createWidget(parent))
{
    if (!m_widget)
        m_widget = new QWidget(parent); // a control without a window still takes its place
    m_control->setEventHandler([this](automation::DispId event, const QVariantList &args) {
        if (event == dispid::DNWBrowseEvents::OnEntryClicked && OnEntryClicked)
            OnEntryClicked(this, NWBrowseLib_TLB::INWNetworkName(automation::toDispatch(args.value(0))));
    });
}

void TNWBrowse::SetExpandMode(qint32 mode)
{
    m_control->invoke(dispid::DNWBrowse::ExpandMode, InvokeKind::PropertyPut, {QVariant::fromValue(mode)});
}

void TNWBrowse::SetDirectorySource(const automation::DispatchPtr &directory)
{
    m_control->invoke(dispid::DNWBrowse::DirectorySource, InvokeKind::PropertyPut, {automation::fromDispatch(directory)});
}
