#include "Log.h"

#include "UniqueFd.h"

#include <unistd.h>

namespace {

// The bytes of the C1 control characters U+0080 to U+009F in UTF-8: a
// terminal may take U+009B for the start of a command.
bool startsC1Control(const std::string& text, size_t at)
{
    return static_cast<unsigned char>(text[at]) == 0xc2 && at + 1 < text.size()
        && static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
}

void appendHex(std::string& out, unsigned char byte)
{
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// One line is one event: a line break or another control character in a
// file name must not start a line of its own, nor move the terminal's
// cursor. They are written as C escapes, and a backslash as two, so that
// what a line shows can be told apart from an escape.
std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 1);
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        if (startsC1Control(text, at)) {
            appendHex(out, byte);
            appendHex(out, static_cast<unsigned char>(text[++at]));
            continue;
        }
        if (byte >= 0x20 && byte != 0x7f && c != '\\') {
            out += c;
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
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
            appendHex(out, byte);
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
