#pragma once

#include "automation/control.h"

#include <QHash>
#include <QString>

#include <functional>

namespace automation {

// Creates controls by their control class id, as a COM host would. The
// program registers its controls at start; tests register fakes under the
// same ids.
class ControlRegistry {
public:
    using Creator = std::function<ControlPtr()>;

    static ControlRegistry &instance();

    void registerClass(const QString &classId, Creator creator);
    void unregisterClass(const QString &classId);

    // Raises an error naming the class id when none is registered.
    [[nodiscard]] ControlPtr create(const QString &classId) const;

private:
    QHash<QString, Creator> m_creators;
};

} // namespace automation
