#include "AccessibleText.h"

#include <QAccessible>
#include <QLabel>
#include <QWidget>

void AccessibleText::setName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() == name)
        return;
    // QWidget tells the change to the accessibility bus itself.
    widget->setAccessibleName(name);
}

void AccessibleText::setMessage(QLabel* label, const QString& text)
{
    label->setText(text);
    setName(label, text);
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
