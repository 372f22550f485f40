#include "automation/control_registry.h"

#include "platform/error.h"

namespace automation {

ControlRegistry &ControlRegistry::instance()
{
    static ControlRegistry registry;
    return registry;
}

void ControlRegistry::registerClass(const QString &classId, Creator creator)
{
    m_creators.insert(classId.toUpper(), std::move(creator));
}

void ControlRegistry::unregisterClass(const QString &classId)
{
    m_creators.remove(classId.toUpper());
}

ControlPtr ControlRegistry::create(const QString &classId) const
{
    const auto creator = m_creators.value(classId.toUpper());
    if (!creator)
        throw platform::Error(QStringLiteral("Klasse nicht registriert: %1").arg(classId));
    return creator();
}

} // namespace automation
