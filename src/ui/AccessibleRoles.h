#pragma once

// Roles a screen reader goes by, where Qt's own guess is wrong: the main
// window is a plain widget, which Qt offers as a "filler", so readers do
// not take it for a window nor read its title; a line drawn with QFrame
// comes out as a nameless "frame" instead of a separator.
class AccessibleRoles {
public:
    // Once per process; later calls change nothing.
    static void install();
};
