#pragma once

#include <string>

// Escaping for the script given to "/usr/bin/expect -c".
class TclText {
public:
    // text as it must stand inside a Tcl word, bare or between double
    // quotes, so that Tcl reads it back unchanged and evaluates nothing in
    // it: letters, digits, / . _ - + , @ % = : and bytes above 127 stay as
    // they are, other printable characters get a backslash, control
    // characters become octal escapes.
    static std::string escape(const std::string& text);
};
