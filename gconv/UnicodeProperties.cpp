#include "UnicodeProperties.h"

#include "UnicodeTables.h"

#include <algorithm>

namespace {

constexpr char32_t kHangulSyllableBase = 0xAC00;
constexpr char32_t kLeadingJamoBase = 0x1100;
constexpr char32_t kVowelJamoBase = 0x1161;
constexpr char32_t kTrailingJamoBase = 0x11A7;
constexpr char32_t kLeadingJamoCount = 19;
constexpr char32_t kVowelJamoCount = 21;
constexpr char32_t kTrailingJamoCount = 28;
constexpr char32_t kHangulSyllableCount = kLeadingJamoCount * kVowelJamoCount * kTrailingJamoCount;

const UnicodeTables::Decomposition* findDecomposition(char32_t c)
{
    const auto* begin = UnicodeTables::kDecompositions;
    const auto* end = begin + UnicodeTables::kDecompositionCount;
    const auto* found = std::lower_bound(begin, end, c, [](const auto& entry, char32_t key) {
        return entry.character < key;
    });
    return found != end && found->character == c ? found : nullptr;
}

} // namespace

uint8_t UnicodeProperties::combiningClass(char32_t c)
{
    if (c >= 0x110000)
        return 0;
    return UnicodeTables::kCombiningClassPages[UnicodeTables::kCombiningClassIndex[c >> 8]][c & 0xFF];
}

int UnicodeProperties::markIndex(char32_t c)
{
    const char32_t* begin = UnicodeTables::kMarks;
    const char32_t* end = begin + UnicodeTables::kMarkCount;
    const char32_t* found = std::lower_bound(begin, end, c);
    return found != end && *found == c ? static_cast<int>(found - begin) : kNotAMark;
}

char32_t UnicodeProperties::markAt(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= UnicodeTables::kMarkCount)
        return kInvalidInput;
    return UnicodeTables::kMarks[index];
}

char32_t UnicodeProperties::compose(char32_t first, char32_t second)
{
    if (const char32_t hangul = composeHangul(first, second))
        return hangul;
    // Most text is letters after letters that never compose.
    if (second < UnicodeTables::kSmallestCompositionSecond)
        return 0;
    const auto* begin = UnicodeTables::kCompositions;
    const auto* end = begin + UnicodeTables::kCompositionCount;
    const auto* found = std::lower_bound(begin, end, first, [second](const auto& entry, char32_t key) {
        return entry.first != key ? entry.first < key : entry.second < second;
    });
    return found != end && found->first == first && found->second == second ? found->composite : 0;
}

char32_t UnicodeProperties::composeHangul(char32_t first, char32_t second)
{
    if (first >= kLeadingJamoBase && first < kLeadingJamoBase + kLeadingJamoCount && second >= kVowelJamoBase
        && second < kVowelJamoBase + kVowelJamoCount) {
        return kHangulSyllableBase
            + ((first - kLeadingJamoBase) * kVowelJamoCount + (second - kVowelJamoBase)) * kTrailingJamoCount;
    }
    const bool isLvSyllable = first >= kHangulSyllableBase && first < kHangulSyllableBase + kHangulSyllableCount
        && (first - kHangulSyllableBase) % kTrailingJamoCount == 0;
    if (isLvSyllable && second > kTrailingJamoBase && second < kTrailingJamoBase + kTrailingJamoCount)
        return first + (second - kTrailingJamoBase);
    return 0;
}

size_t UnicodeProperties::appendDecomposition(char32_t c, char32_t* sequence, size_t length)
{
    const UnicodeTables::Decomposition* entry = findDecomposition(c);
    if (!entry) {
        sequence[length] = c;
        return length + 1;
    }
    length = appendDecomposition(entry->first, sequence, length);
    if (entry->second != 0)
        length = appendDecomposition(entry->second, sequence, length);
    return length;
}
