#pragma once

#include <cstdint>

// One entry of the generated code-page-932 table, shared by the generator
// that writes the table and the encoder that reads it. An entry of 0 means
// code page 932 has nothing for the character, not even through its base
// letter, so that unlisted pages can all share one page of zeros.
class Cp932Entry {
public:
    static constexpr uint32_t kPresent = 1u << 19;
    static constexpr uint32_t kReplaced = 1u << 18; // through the base letter
    static constexpr int kLengthShift = 16;         // 0, 1 or 2 bytes
    static constexpr uint32_t kLengthMask = 3u << kLengthShift;
    static constexpr uint32_t kCodeMask = 0xFFFFu;

    static constexpr uint32_t make(uint32_t code, uint32_t length, bool replaced)
    {
        return kPresent | (length << kLengthShift) | (replaced ? kReplaced : 0u) | (code & kCodeMask);
    }
    static constexpr uint32_t length(uint32_t entry)
    {
        return (entry & kLengthMask) >> kLengthShift;
    }
};
