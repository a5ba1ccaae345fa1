#pragma once

#include <QAccessibleWidget>

// What assistive technology sees of a label that carries a result: an
// alert, which a screen reader reads out whenever it is shown, with the
// label's accessible name as its text. A label that tells news only now
// and then is plain text in between.
class AlertAccessible : public QAccessibleWidget {
public:
    explicit AlertAccessible(QWidget* widget);

    QAccessible::Role role() const override;

    // Makes the widget an alert for assistive technology. Call it before
    // anything asks for the widget's accessible interface.
    static void markAsAlert(QWidget* widget);
    // Whether a widget made an alert is one now, or plain text; set it
    // before the widget is shown with its new text.
    static void setAlerting(QWidget* widget, bool alerting);

private:
    static QAccessibleInterface* create(const QString& className, QObject* object);
};
