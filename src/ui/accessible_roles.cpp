#include "ui/accessible_roles.h"

#include "ui/log_list.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace ui {

namespace {
QAccessibleInterface *byClass(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (className == QLatin1String("TForm1"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("ui::StatusBar"))
        return new QAccessibleWidget(widget, QAccessible::StatusBar);
    return logListAccessible(className, object);
}
} // namespace

void installAccessibleRoles()
{
    static const bool installed = [] {
        QAccessible::installFactory(byClass);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace ui
