#pragma once

#include <string>

// The usual stand-ins for characters that code page 932 lacks, put in
// before the conversion turns them into "_": a reader on Windows then sees
// what the sender wrote, or the way it is commonly written without them.
class NameSubstitutes {
public:
    // name (UTF-8, composed or decomposed) with each character of the
    // table replaced by its stand-in, each raised or lowered digit written
    // on the line, and each voiced or semi-voiced mark
    // that forms no character of code page 932 with its kana made the
    // spacing mark. Every other byte, invalid UTF-8 included, stays as it
    // is; a name without such characters comes back unchanged.
    static std::string apply(const std::string& name);
};
