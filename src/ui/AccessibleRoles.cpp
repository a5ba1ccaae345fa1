#include "AccessibleRoles.h"

#include <QAccessibleWidget>
#include <QFrame>

namespace {

QAccessibleInterface* interfaceFor(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("ViewController"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("QFrame")) {
        const auto* frame = static_cast<QFrame*>(widget);
        if (frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine)
            return new QAccessibleWidget(widget, QAccessible::Separator);
    }
    return nullptr;
}

} // namespace

void AccessibleRoles::install()
{
    // Qt keeps each factory once.
    QAccessible::installFactory(interfaceFor);
}
