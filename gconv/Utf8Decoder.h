#pragma once

#include <cstddef>

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
class Utf8Decoder {
public:
    enum class Status {
        Character,  // character holds the code point, length its bytes
        Invalid,    // the first byte starts no valid sequence; length is 1
        Incomplete, // the input ends inside a sequence that is valid so far
    };
    struct Result {
        Status status;
        char32_t character;
        size_t length;
    };

    // begin < end.
    static Result decode(const unsigned char* begin, const unsigned char* end);

private:
    static size_t sequenceLength(unsigned char lead);
    static bool isValidSecondByte(unsigned char lead, unsigned char second);
};
