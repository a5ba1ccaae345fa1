#pragma once

#include <cstddef>
#include <cstdint>

// Look-ups in the generated Unicode tables, plus the Hangul syllables that
// Unicode composes by arithmetic rather than by table.
class UnicodeProperties {
public:
    // Stands for one byte that starts no valid UTF-8 sequence: it goes out
    // as "_" and composes with nothing. Beyond every code point.
    static constexpr char32_t kInvalidInput = 0x110000;
    static constexpr int kNotAMark = -1;

    static uint8_t combiningClass(char32_t c);
    // c's position among the characters of non-zero combining class, or
    // kNotAMark.
    static int markIndex(char32_t c);
    // The mark at that position; kInvalidInput for a position out of range.
    static char32_t markAt(int index);
    // The primary composite of first followed by second, or 0 when none.
    static char32_t compose(char32_t first, char32_t second);
    // Writes c to sequence[length...], taken apart when c is a primary
    // composite or a mark that stands for other marks; returns the new
    // length. Grows by at most UnicodeTables::kMaxDecompositionLength.
    static size_t appendDecomposition(char32_t c, char32_t* sequence, size_t length);

private:
    static char32_t composeHangul(char32_t first, char32_t second);
};
