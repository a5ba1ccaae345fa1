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

// True for a character that UTF-8 text in a Japanese name is made of:
// kana, the common kanji, the full-width forms, the rarer kanji and the
// pictures of four bytes.
bool isJapaneseOrPicture(char32_t code)
{
    return (code >= 0x3000 && code <= 0x30FF) || (code >= 0x4E00 && code <= 0x9FFF)
        || (code >= 0xFF00 && code <= 0xFFEF) || (code >= 0x1F000 && code <= 0x1FAFF)
        || (code >= 0x20000 && code <= 0x2FFFF);
}

// True when text is UTF-8 but for stray bytes ("見積書" and a byte of
// Windows' Western code page) or a last character cut short: its whole
// characters of three bytes or more are what such names are made of, at
// least two of them and twice as many as the strays, or any where nothing
// but the end is wrong. Code page 932 reads as such a character of UTF-8
// now and then (画像 holds U+645C so, beside a stray byte), and mostly as
// one no name holds (一覧 holds U+A5D7).
bool isMostlyUtf8(const std::string& text)
{
    const std::size_t whole = Utf8Sequence::cutAt(text);
    std::size_t characters = 0;
    std::size_t stray = 0;
    for (std::size_t at = 0; at < whole;) {
        const auto [code, length] = Utf8Sequence::at(text, at);
        if (length == 0)
            ++stray;
        else if (length >= 3 && isJapaneseOrPicture(code))
            ++characters;
        at += std::max<std::size_t>(length, 1);
    }
    if (stray == 0)
        return characters > 0;
    return characters >= 2 && characters >= 2 * stray;
}

// True when the characters that text holds, read as code page 932, look
// like Japanese: one of two bytes whose first byte lies between 0x81 and
// 0x9F (kana, the common kanji, the full-width signs) with a second byte
// of 0x80 or more, or two such characters in a row, or two half-width
// katakana in a row (ﾒﾓ), or one whose second byte is 0x5C (ソ, 表, 能:
// no Western name has a backslash, which Windows and DOS forbid, behind a
// letter). The accented letters of the Western code pages (0x80 to 0x9F in
// the DOS ones and in Windows' own, 0xC0 and up in Latin-1) stand alone
// between plain letters: "M\x81ller" and "b\xe9x" are no Japanese.
bool looksJapanese(const std::string& text)
{
    int run = 0;
    bool commonInRun = false;
    int halfWidthRun = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const bool twoBytes = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) && at + 1 < text.size();
        halfWidthRun = lead >= 0xA1 && lead <= 0xDF ? halfWidthRun + 1 : 0;
        if (halfWidthRun >= 2)
            return true;
        if (!twoBytes) {
            run = 0;
            commonInRun = false;
            continue;
        }
        const auto trail = static_cast<unsigned char>(text[++at]);
        const bool common = lead <= 0x9F;
        if ((common && trail >= 0x80) || trail == '\\')
            return true;
        ++run;
        commonInRun = commonInRun || common;
        if (run >= 2 && commonInRun)
            return true;
    }
    return false;
}

// True when text reads whole as EUC-JP, each byte from 0x80 on in a pair
// of two from 0xA1 to 0xFE, and reads so as Japanese that code page 932
// would not: kana (a pair that starts 0xA4 or 0xA5), or two kanji in a row
// with a byte from 0xE0 on, which no half-width katakana is. Windows' own
// names hold bytes below 0xA1 as soon as they hold kana or common kanji;
// its names of half-width katakana alone (ｶﾀｶﾅ, ﾒﾓ) make pairs of other
// kanji here, and stay its. Latin-1's small accented letters make a pair
// now and then ("ção"), never two in a row.
bool looksEucJp(const std::string& text)
{
    bool japanese = false;
    int run = 0;
    bool highInRun = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            run = 0;
            highInRun = false;
            continue;
        }
        if (lead < 0xA1 || lead == 0xFF || at + 1 == text.size())
            return false;
        const auto trail = static_cast<unsigned char>(text[++at]);
        if (trail < 0xA1 || trail == 0xFF)
            return false;
        ++run;
        highInRun = highInRun || lead >= 0xE0 || trail >= 0xE0;
        japanese = japanese || lead == 0xA4 || lead == 0xA5 || (run >= 2 && highInRun);
    }
    return japanese;
}

} // namespace

Cp932Name::Cp932Name()
    : m_toCp932(::iconv_open("CP932//TRANSLIT", "UTF-8-MAC"))
    , m_toUtf8(::iconv_open("UTF-8", "CP932"))
{
}

Cp932Name::~Cp932Name()
{
    for (iconv_t converter : {m_toCp932, m_toUtf8, m_eucJpToUtf8.value_or(kNoConverter)})
        if (converter != kNoConverter)
            ::iconv_close(converter);
}

iconv_t Cp932Name::eucJpToUtf8() const
{
    if (!m_eucJpToUtf8)
        m_eucJpToUtf8 = ::iconv_open("UTF-8", "EUC-JP");
    return *m_eucJpToUtf8;
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
    // Asked of every name the staging places: the names that are UTF-8,
    // nearly all of them, are let go without a copy.
    if (Utf8Sequence::isWhole(name))
        return name;
    if (isMostlyUtf8(name))
        return name;
    // UTF-8 cut short inside its last character ("ab\xe8\xa6") may pair
    // up as EUC-JP too: it is no such name.
    const std::size_t cut = Utf8Sequence::cutAt(name);
    const bool utf8CutShort = cut < name.size() && Utf8Sequence::isWhole(name.substr(0, cut));
    if (!utf8CutShort && looksEucJp(name))
        if (std::optional<std::string> text = convert(eucJpToUtf8(), name))
            return *text;
    if (!looksJapanese(name))
        return name;
    return convert(m_toUtf8, name).value_or(name);
}
