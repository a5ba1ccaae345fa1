#pragma once

#include <QString>

class QLabel;
class QWidget;

// Keeps what assistive technology reads of a widget in step with what the
// widget shows, so that a screen reader reads the message a label carries
// and not just the label's role. Each change reaches the accessibility bus
// as an update event, which QWidget sends itself when a name or a
// description changes.
class AccessibleText {
public:
    // Changes the accessible name, or description, only when it differs.
    static void setName(QWidget* widget, const QString& name);
    static void describe(QWidget* widget, const QString& description);
    // Shows a label's message and makes it the label's name; shown, when
    // given, is the same message as the label draws it.
    static void setMessage(QLabel* label, const QString& text, const QString& shown = {});
    // The same for a label that is sometimes empty: its name is then role,
    // which is always its description.
    static void showMessage(QLabel* label, const QString& text, const QString& role);
    // Asks a screen reader to read the widget now, as a message that has
    // just appeared (a result), whether or not it has the focus.
    static void announce(QWidget* widget);
};
