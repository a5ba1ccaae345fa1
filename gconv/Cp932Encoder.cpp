#include "Cp932Encoder.h"

#include "Cp932Entry.h"
#include "UnicodeTables.h"

namespace {

constexpr unsigned char kReplacement = '_';

} // namespace

Cp932Encoder::Bytes Cp932Encoder::encode(char32_t c)
{
    const uint32_t entry =
        c < 0x110000 ? UnicodeTables::kEncodePages[UnicodeTables::kEncodeIndex[c >> 8]][c & 0xFF] : 0;
    if ((entry & Cp932Entry::kPresent) == 0)
        return {{kReplacement, 0}, 1, true};
    const uint32_t code = entry & Cp932Entry::kCodeMask;
    const bool replaced = (entry & Cp932Entry::kReplaced) != 0;
    const uint32_t length = Cp932Entry::length(entry);
    if (length == 2)
        return {{static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF)}, 2, replaced};
    return {{static_cast<unsigned char>(code), 0}, length, replaced};
}
