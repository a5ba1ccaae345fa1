#pragma once

class QAccessibleEvent;

// Keeps what is typed into a hidden password field off the accessibility
// bus. Qt tells each key typed into a line edit as a text event carrying
// the character, whatever the field shows: any program on the user's bus
// would receive the password, and a screen reader that echoes typing would
// speak it. The events of a field that hides its text go on with the
// field's mask character in place of each character, as the field shows
// them. A field the user has chosen to show is told as it is.
class PasswordEvents {
public:
    // Puts the mask in front of the handler in place; calling it again
    // while it is in front changes nothing.
    static void install();

private:
    static void update(QAccessibleEvent* event);
    static void forward(QAccessibleEvent* event);
};
