#include "NameSubstitutes.h"

#include "Utf8Sequence.h"

#include <algorithm>
#include <array>

namespace {

struct Substitute {
    char32_t from;
    const char* to;
};

// Kept short on purpose: only stand-ins a reader takes for the same word.
constexpr std::array<Substitute, 44> kSubstitutes {{
    // Kana whose voiced form code page 932 lacks: Unicode decomposes each
    // into the kana and U+3099, which is written as the spacing mark.
    {U'\u3094', "う゛"},
    {U'\u30F7', "ワ゛"},
    {U'\u30F8', "ヰ゛"},
    {U'\u30F9', "ヱ゛"},
    {U'\u30FA', "ヲ゛"},
    // Unicode's compatibility decomposition of the micro sign is the
    // Greek letter, which code page 932 has.
    {U'\u00B5', "μ"},
    // Common typographic practice when the letter, ligature or sign is
    // missing from the character set.
    {U'\u2012', "-"}, // figure dash
    {U'\u2013', "-"}, // en dash
    {U'\u00DF', "ss"},
    {U'\u0152', "OE"},
    {U'\u0153', "oe"},
    {U'\u00C6', "AE"},
    {U'\u00D8', "O"},
    {U'\u0141', "L"},
    {U'\u00A9', "(C)"},
    {U'\u00AE', "(R)"},
    {U'\u2122', "TM"}, // also Unicode's compatibility decomposition
    // Ligatures, as names copied out of a typeset document hold them, and
    // the Roman numerals past ten, which code page 932 has only up to ten.
    {U'\uFB00', "ff"},
    {U'\uFB01', "fi"},
    {U'\uFB02', "fl"},
    {U'\uFB03', "ffi"},
    {U'\uFB04', "ffl"},
    {U'\u216A', "XI"},
    {U'\u216B', "XII"},
    {U'\u216C', "L"},
    {U'\u216D', "C"},
    {U'\u216E', "D"},
    {U'\u216F', "M"},
    {U'\u217A', "xi"},
    {U'\u217B', "xii"},
    {U'\u217C', "l"},
    {U'\u217D', "c"},
    {U'\u217E', "d"},
    {U'\u217F', "m"},
    // The middle dot of Western names is the Japanese one.
    {U'\u00B7', "・"},
    {U'\u2027', "・"}, // hyphenation point
    // Forms that JIS X 0213:2004 lists as the variants of kanji that code
    // page 932 holds under the older or more common form.
    {U'\U00020BB7', "吉"},
    {U'\u9DD7', "鴎"},
    {U'\u525D', "剥"},
    {U'\U00020B9F', "叱"},
    {U'\u7E6B', "繋"},
    {U'\u9830', "頬"},
    {U'\u6451', "掴"},
    {U'\u5653', "嘘"},
}};

constexpr char32_t kVoicedMark = U'\u3099';
constexpr char32_t kSemiVoicedMark = U'\u309A';

// Kana that compose with U+3099 or U+309A into a character code page 932
// holds: the converter composes decomposed names itself.
bool composesInCp932(char32_t kana, char32_t mark)
{
    const auto in = [kana](char32_t first, char32_t last) { return kana >= first && kana <= last; };
    if (mark == kVoicedMark) {
        // か-と and カ-ト (every other one), は-ほ and ハ-ホ (every third),
        // ゝ ヽ, and ウ for ヴ.
        const bool kaToTo = (in(U'\u304B', U'\u3062') || in(U'\u30AB', U'\u30C2')) && kana % 2 == 1;
        const bool tsuToTo = (in(U'\u3064', U'\u3068') || in(U'\u30C4', U'\u30C8')) && kana % 2 == 0;
        const bool haToHo = (in(U'\u306F', U'\u307B') || in(U'\u30CF', U'\u30DB')) && (kana - U'\u306F') % 3 == 0;
        return kaToTo || tsuToTo || haToHo || kana == U'\u309D' || kana == U'\u30FD' || kana == U'\u30A6';
    }
    return (in(U'\u306F', U'\u307B') || in(U'\u30CF', U'\u30DB')) && (kana - U'\u306F') % 3 == 0;
}

// The code point of the UTF-8 sequence at name[at] and its length; length
// 1 and no code point for a byte that starts no whole sequence.
std::pair<char32_t, size_t> decode(const std::string& name, size_t at)
{
    const auto [code, length] = Utf8Sequence::at(name, at);
    return length == 0 ? std::pair<char32_t, size_t>{0, 1} : std::pair{code, length};
}

// Raised and lowered digits, as in "m²" and "H₂O", are written on the line.
const char* digitFor(char32_t code)
{
    static constexpr const char* kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    switch (code) {
    case U'\u00B9':
        return kDigits[1];
    case U'\u00B2':
        return kDigits[2];
    case U'\u00B3':
        return kDigits[3];
    case U'\u2070':
        return kDigits[0];
    }
    if (code >= U'\u2074' && code <= U'\u2079')
        return kDigits[code - U'\u2070'];
    if (code >= U'\u2080' && code <= U'\u2089')
        return kDigits[code - U'\u2080'];
    return nullptr;
}

const char* substituteFor(char32_t code)
{
    if (const char* digit = digitFor(code))
        return digit;
    const auto found = std::find_if(kSubstitutes.begin(), kSubstitutes.end(),
                                    [code](const Substitute& substitute) { return substitute.from == code; });
    return found == kSubstitutes.end() ? nullptr : found->to;
}

// The composed kana of a decomposed pair that the table knows.
char32_t composedInTable(char32_t kana, char32_t mark)
{
    if (mark != kVoicedMark)
        return 0;
    switch (kana) {
    case U'\u3046':
        return U'\u3094';
    case U'\u30EF':
    case U'\u30F0':
    case U'\u30F1':
    case U'\u30F2':
        return kana + 8;
    }
    return 0;
}

} // namespace

std::string NameSubstitutes::apply(const std::string& name)
{
    // Most names are ASCII: nothing to look up.
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return name;
    std::string result;
    result.reserve(name.size() + 8);
    char32_t previous = 0;
    for (size_t at = 0; at < name.size();) {
        const auto [code, length] = decode(name, at);
        const auto [next, nextLength] = decode(name, std::min(at + length, name.size() - 1));
        const char32_t pair = at + length < name.size() ? composedInTable(code, next) : 0;
        if (pair != 0) {
            result += substituteFor(pair);
            at += length + nextLength;
            previous = 0;
            continue;
        }
        if (const char* substitute = substituteFor(code))
            result += substitute;
        else if ((code == kVoicedMark || code == kSemiVoicedMark) && !composesInCp932(previous, code))
            result += code == kVoicedMark ? "゛" : "゜";
        else
            result.append(name, at, length);
        at += length;
        previous = code;
    }
    return result;
}
