#include "AlertAccessible.h"

#include <QWidget>

namespace {

const char* const kAlertProperty = "quillmereAlert";
const char* const kQuietProperty = "quillmereAlertQuiet";

} // namespace

AlertAccessible::AlertAccessible(QWidget* widget)
    : QAccessibleWidget(widget, QAccessible::AlertMessage)
{
}

QAccessible::Role AlertAccessible::role() const
{
    return widget()->property(kQuietProperty).toBool() ? QAccessible::StaticText : QAccessible::AlertMessage;
}

void AlertAccessible::setAlerting(QWidget* widget, bool alerting)
{
    widget->setProperty(kQuietProperty, !alerting);
}

void AlertAccessible::markAsAlert(QWidget* widget)
{
    // Qt asks every installed factory for each new interface: one is enough.
    static const bool installed = [] {
        QAccessible::installFactory(&AlertAccessible::create);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kAlertProperty, true);
}

QAccessibleInterface* AlertAccessible::create(const QString&, QObject* object)
{
    if (object && object->isWidgetType() && object->property(kAlertProperty).toBool())
        return new AlertAccessible(static_cast<QWidget*>(object));
    return nullptr;
}
