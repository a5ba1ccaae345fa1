#pragma once

#include <QString>

class QLabel;
class QWidget;

// Keeps what assistive technology reads of a widget in step with what the
// widget shows: its accessible name and description, changed only when they
// differ, each change told to the accessibility bus, so that a screen
// reader reads the message a label carries and not just the label's role.
class AccessibleText {
public:
    static void setName(QWidget* widget, const QString& name);
    static void setDescription(QWidget* widget, const QString& description);
    // Shows a label's message and makes it the label's name.
    static void setMessage(QLabel* label, const QString& text);
    // Asks a screen reader to read the widget now, as a message that has
    // just appeared (a result), whether or not it has the focus.
    static void announce(QWidget* widget);
};
