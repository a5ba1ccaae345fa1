#pragma once

// Characters that mean nothing to the shell nor to Tcl and need no
// quoting in either: letters, digits and / . _ - + , @ % = :
// Paths are full of them, so texts made of them stay readable.
class PlainCharacter {
public:
    static bool is(char c);
};
