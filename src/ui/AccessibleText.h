#pragma once

#include <QString>

class QLabel;
class QWidget;

// Keeps what assistive technology reads in step with what the window shows,
// and tells it when that changes, so that a screen reader reads a message
// and not only the place it is shown in.
class AccessibleText {
public:
    // Shows text in label. The label's accessible name becomes the text
    // itself, or role while there is none; its description stays role.
    static void showMessage(QLabel* label, const QString& text, const QString& role);

    // Changes widget's accessible name or description, announcing the change.
    static void rename(QWidget* widget, const QString& name);
    static void describe(QWidget* widget, const QString& description);
};
