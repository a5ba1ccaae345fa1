#include "AccessibleText.h"

#include <QAccessible>
#include <QLabel>
#include <QWidget>

void AccessibleText::setName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() == name)
        return;
    widget->setAccessibleName(name);
    QAccessibleEvent changed(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void AccessibleText::setDescription(QWidget* widget, const QString& description)
{
    if (widget->accessibleDescription() == description)
        return;
    widget->setAccessibleDescription(description);
    QAccessibleEvent changed(widget, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

void AccessibleText::setMessage(QLabel* label, const QString& text)
{
    label->setText(text);
    setName(label, text);
}

void AccessibleText::announce(QWidget* widget)
{
    QAccessibleEvent alert(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}
