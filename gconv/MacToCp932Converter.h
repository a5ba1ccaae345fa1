#pragma once

#include "PendingSegment.h"

#include <cstddef>

// One call of the module: reads UTF-8 as macOS writes names (decomposed),
// composes it and writes code page 932 into [out, outEnd). Never fails on
// content and never writes past outEnd; a character goes out whole or not
// at all, and what could not go out stays in the segment for the next call.
class MacToCp932Converter {
public:
    MacToCp932Converter(const PendingSegment& segment, unsigned char* out, unsigned char* outEnd);

    // Returns a __GCONV_* status: __GCONV_EMPTY_INPUT once all input is
    // read, __GCONV_FULL_OUTPUT, or __GCONV_INCOMPLETE_INPUT when the input
    // ends inside a UTF-8 sequence (those bytes are left unread). in is
    // moved past what was read.
    int convert(const unsigned char*& in, const unsigned char* inEnd);
    // Writes what is still pending; __GCONV_OK, or __GCONV_FULL_OUTPUT
    // with the rest still pending.
    int flush();

    const PendingSegment& segment() const;
    unsigned char* outputPosition() const;
    // Characters written as a base letter or "_" instead of themselves.
    size_t replacements() const;

private:
    bool write(char32_t c);
    bool drain();

    PendingSegment m_segment;
    unsigned char* m_out;
    unsigned char* m_outEnd;
    size_t m_replacements = 0;
};
