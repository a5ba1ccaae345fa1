#include "AccessibleText.h"

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
    // Qt announces the new name itself.
    widget->setAccessibleName(name);
}

void AccessibleText::describe(QWidget* widget, const QString& description)
{
    if (widget->accessibleDescription() == description)
        return;
    // Qt announces the new description itself.
    widget->setAccessibleDescription(description);
}
