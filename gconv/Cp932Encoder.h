#pragma once

#include <cstddef>

// What one character becomes in code page 932: glibc's own mapping (nothing
// at all for the tag characters U+E0000 to U+E007F, which glibc drops), else
// the base letter of its canonical decomposition, else "_". Never "?", which
// Windows forbids in names.
class Cp932Encoder {
public:
    struct Bytes {
        unsigned char data[2];
        size_t length;
        bool replaced; // an irreversible conversion, as iconv(3) counts them
    };

    static Bytes encode(char32_t c);
};
