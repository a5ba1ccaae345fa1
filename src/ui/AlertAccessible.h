#pragma once

#include <QAccessibleWidget>

// What assistive technology sees of a label that carries a result: an
// alert, which a screen reader reads out whenever it is shown, with the
// label's accessible name as its text.
class AlertAccessible : public QAccessibleWidget {
public:
    explicit AlertAccessible(QWidget* widget);

    // Makes the widget an alert for assistive technology. Call it before
    // anything asks for the widget's accessible interface.
    static void markAsAlert(QWidget* widget);

private:
    static QAccessibleInterface* create(const QString& className, QObject* object);
};
