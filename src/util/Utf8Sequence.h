#pragma once

#include <QString>

#include <cstddef>
#include <string>
#include <utility>

// UTF-8 read one sequence at a time: Linux names are bytes, and not always
// UTF-8.
class Utf8Sequence {
public:
    // The code point of the whole, valid sequence that starts at text[at],
    // and its length; length 0 when none starts there (a stray byte, a
    // sequence cut short, an overlong form, a surrogate, past U+10FFFF).
    static std::pair<char32_t, std::size_t> at(const std::string& text, std::size_t at);
    // True for a byte that continues a sequence.
    static bool continues(char byte);
    // True when text is whole sequences from end to end.
    static bool isWhole(const std::string& text);
    // Where the sequence that text ends in begins when it is cut short
    // ("a" and the first byte of "é"); text.size() when it is not.
    static std::size_t cutAt(const std::string& text);
    // The longest start of text of at most bytes bytes that does not end
    // inside a sequence.
    static std::string prefixWithin(const std::string& text, std::size_t bytes);
    // A file name cut to at most bytes bytes: its stem gives way, never
    // inside a character, and its extension stays (unless the extension
    // alone is too long, when the whole is cut).
    static std::string nameWithin(const std::string& name, std::size_t bytes);
    // text as Qt's text, every character kept: a byte-order mark at the
    // start too, which QString::fromUtf8 drops. What is no UTF-8 reads as
    // U+FFFD.
    static QString decoded(const std::string& text);
};
