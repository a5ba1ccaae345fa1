#include "Utf8Decoder.h"

namespace {

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

} // namespace

size_t Utf8Decoder::sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0; // continuation bytes, C0, C1 (always overlong) and F5 to FF
}

// The second byte's range is narrower for some lead bytes: that is where
// overlong forms, surrogates and code points past U+10FFFF are refused.
bool Utf8Decoder::isValidSecondByte(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xE0:
        return second >= 0xA0 && second <= 0xBF;
    case 0xED:
        return second >= 0x80 && second <= 0x9F;
    case 0xF0:
        return second >= 0x90 && second <= 0xBF;
    case 0xF4:
        return second >= 0x80 && second <= 0x8F;
    default:
        return isContinuation(second);
    }
}

Utf8Decoder::Result Utf8Decoder::decode(const unsigned char* begin, const unsigned char* end)
{
    const unsigned char lead = begin[0];
    const size_t length = sequenceLength(lead);
    if (length == 0)
        return {Status::Invalid, 0, 1};
    if (length == 1)
        return {Status::Character, lead, 1};
    const size_t available = static_cast<size_t>(end - begin);
    char32_t character = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (i == available)
            return {Status::Incomplete, 0, available};
        const unsigned char byte = begin[i];
        const bool valid = i == 1 ? isValidSecondByte(lead, byte) : isContinuation(byte);
        if (!valid)
            return {Status::Invalid, 0, 1};
        character = (character << 6) | (byte & 0x3F);
    }
    return {Status::Character, character, length};
}
