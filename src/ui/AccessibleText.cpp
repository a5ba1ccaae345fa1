#include "AccessibleText.h"

#include <QAccessible>
#include <QLabel>

void AccessibleText::showMessage(QLabel* label, const QString& text, const QString& role)
{
    label->setText(text);
    describe(label, role);
    rename(label, text.isEmpty() ? role : text);
}

void AccessibleText::rename(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() == name)
        return;
    widget->setAccessibleName(name);
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void AccessibleText::describe(QWidget* widget, const QString& description)
{
    if (widget->accessibleDescription() == description)
        return;
    widget->setAccessibleDescription(description);
    QAccessibleEvent event(widget, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}
