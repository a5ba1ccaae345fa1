#include "Cp932Name.h"

#include "Utf8Sequence.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The whole of text through converter; nullopt on any refusal.
std::optional<std::string> convert(iconv_t converter, const std::string& text)
{
    if (converter == kNoConverter)
        return std::nullopt;
    ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string input = text;
    char* in = input.data();
    size_t inLeft = input.size();
    std::vector<char> buffer(text.size() * 4 + 16);
    char* out = buffer.data();
    size_t outLeft = buffer.size();
    if (::iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    if (::iconv(converter, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    return std::string(buffer.data(), out);
}

// Below 0x80 code page 932 is ASCII, both ways, and no character of ASCII
// composes with another: such text converts to itself.
bool isAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// True when text holds a character of two bytes whose first lies between
// 0x81 and 0x9F: kana, the common kanji and the full-width signs all do.
// Those bytes are no letters in Latin-1, whose accented letters could
// otherwise read as rarer kanji or as half-width katakana.
bool holdsCommonJapanese(const std::string& text)
{
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x81 && byte <= 0x9F)
            return true;
        if (byte >= 0xE0 && byte <= 0xFC)
            ++at; // its second byte may be anything from 0x40 up
    }
    return false;
}

} // namespace

Cp932Name::Cp932Name()
    : m_toCp932(::iconv_open("CP932//TRANSLIT", "UTF-8-MAC"))
    , m_toUtf8(::iconv_open("UTF-8", "CP932"))
{
}

Cp932Name::~Cp932Name()
{
    if (m_toCp932 != kNoConverter)
        ::iconv_close(m_toCp932);
    if (m_toUtf8 != kNoConverter)
        ::iconv_close(m_toUtf8);
}

bool Cp932Name::isAvailable() const
{
    return m_toCp932 != kNoConverter && m_toUtf8 != kNoConverter;
}

std::optional<std::string> Cp932Name::fromFileName(const std::string& name) const
{
    if (m_toCp932 != kNoConverter && isAscii(name))
        return name;
    return convert(m_toCp932, name);
}

std::string Cp932Name::toUtf8(const std::string& cp932) const
{
    // Every byte sequence our converter writes reads back; anything else is
    // shown as it is.
    if (isAscii(cp932))
        return cp932;
    return convert(m_toUtf8, cp932).value_or(cp932);
}

std::string Cp932Name::readable(const std::string& name) const
{
    // A UTF-8 name cut short inside its last character is UTF-8 still.
    if (Utf8Sequence::isWhole(name.substr(0, Utf8Sequence::cutAt(name))) || !holdsCommonJapanese(name))
        return name;
    return convert(m_toUtf8, name).value_or(name);
}
