#include "AccessibleText.h"

#include <QAccessible>
#include <QLabel>
#include <QWidget>

void AccessibleText::setName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

void AccessibleText::describe(QWidget* widget, const QString& description)
{
    if (widget->accessibleDescription() != description)
        widget->setAccessibleDescription(description);
}

void AccessibleText::setMessage(QLabel* label, const QString& text, const QString& shown)
{
    label->setText(shown.isEmpty() ? text : shown);
    setName(label, text);
}

void AccessibleText::showMessage(QLabel* label, const QString& text, const QString& role)
{
    label->setText(text);
    describe(label, role);
    setName(label, text.isEmpty() ? role : text);
}

void AccessibleText::announce(QWidget* widget)
{
    // On the accessibility bus an alert is read out when it is shown; the
    // result may already be showing (a refusal after a refusal), so it is
    // shown anew. Bridges that know alerts as events get one as well.
    QAccessibleEvent shown(widget, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
    QAccessibleEvent alert(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}
