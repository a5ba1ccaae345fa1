#include "Log.h"

#include "UniqueFd.h"

#include <unistd.h>

namespace {

// One line is one event: a line break or another control character in a
// file name must not start a line of its own, nor move the terminal's
// cursor. They are written as C escapes; everything else stays as it is.
std::string escaped(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 1);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
            continue;
        }
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

} // namespace

void Log::line(const std::string& text)
{
    std::string whole = escaped(text);
    whole += '\n';
    // Nowhere is left to report a failure to.
    UniqueFd::writeAll(STDOUT_FILENO, whole.data(), whole.size());
}
