#include "TclText.h"

#include "PlainCharacter.h"

#include <cstdio>
#include <string_view>

std::string TclText::escape(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (PlainCharacter::is(c) || byte >= 0x80) {
            escaped += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            // A backslash before a line feed would join lines; octal keeps
            // every control character as it is.
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            escaped += octal;
        } else {
            escaped += '\\';
            escaped += c;
        }
    }
    return escaped;
}
