#include "automation/control.h"

#include "platform/handler_guard.h"

namespace automation {

QWidget *Control::createWidget(QWidget *)
{
    return nullptr;
}

void Control::postEvent(DispId event, QVariantList args)
{
    QMetaObject::invokeMethod(
        &m_eventContext, [this, event, args = std::move(args)] { fireEvent(event, args); },
        Qt::QueuedConnection);
}

void Control::fireEvent(DispId event, const QVariantList &args)
{
    if (m_eventHandler)
        platform::guarded([&] { m_eventHandler(event, args); });
}

} // namespace automation
