#pragma once

class QWidget;

// Text that matters less than the rest (the ready note, the item being
// archived, where the password is kept) in a quieter colour that still
// reads: the palette's placeholder grey falls below the 4.5:1 contrast
// text needs on the window's background.
class SecondaryText {
public:
    static void apply(QWidget* widget);
};
