#pragma once

#include <string>

// Diagnostic and failure lines on standard output. Child processes write to
// the same stream, so every line goes out whole with one write and nothing
// is held back in a buffer. Control characters in the text (a file name may
// hold a line break) are written as escapes: "\n", "\x01", and a backslash
// as "\\".
class Log {
public:
    static void line(const std::string& text);
};
