#include "MacToCp932Converter.h"

#include "Composer.h"
#include "Cp932Encoder.h"
#include "UnicodeProperties.h"
#include "Utf8Decoder.h"

#include <gconv.h>

MacToCp932Converter::MacToCp932Converter(const PendingSegment& segment, unsigned char* out, unsigned char* outEnd)
    : m_segment(segment)
    , m_out(out)
    , m_outEnd(outEnd)
{
}

int MacToCp932Converter::convert(const unsigned char*& in, const unsigned char* inEnd)
{
    for (;;) {
        if (!drain())
            return __GCONV_FULL_OUTPUT;
        if (in == inEnd)
            return __GCONV_EMPTY_INPUT;
        const Utf8Decoder::Result decoded = Utf8Decoder::decode(in, inEnd);
        if (decoded.status == Utf8Decoder::Status::Incomplete)
            return __GCONV_INCOMPLETE_INPUT;
        const char32_t c =
            decoded.status == Utf8Decoder::Status::Invalid ? UnicodeProperties::kInvalidInput : decoded.character;
        switch (Composer::offer(m_segment, c)) {
        case Composer::Action::Absorbed:
            in += decoded.length;
            break;
        case Composer::Action::WriteAlone:
            if (!write(c))
                return __GCONV_FULL_OUTPUT;
            in += decoded.length;
            break;
        case Composer::Action::EndSegment:
            // c stays unread; it is offered again once the segment is out.
            if (!write(m_segment.starter()))
                return __GCONV_FULL_OUTPUT;
            m_segment.starterWritten();
            break;
        }
    }
}

int MacToCp932Converter::flush()
{
    if (m_segment.hasStarter()) {
        if (!write(m_segment.starter()))
            return __GCONV_FULL_OUTPUT;
        m_segment.starterWritten();
    }
    return drain() ? __GCONV_OK : __GCONV_FULL_OUTPUT;
}

// Writes the marks of a segment whose starter is already out.
bool MacToCp932Converter::drain()
{
    while (m_segment.isDraining()) {
        if (!write(m_segment.mark(0)))
            return false;
        m_segment.frontMarkWritten();
    }
    return true;
}

bool MacToCp932Converter::write(char32_t c)
{
    const Cp932Encoder::Bytes bytes = Cp932Encoder::encode(c);
    if (static_cast<size_t>(m_outEnd - m_out) < bytes.length)
        return false;
    for (size_t i = 0; i < bytes.length; ++i)
        *m_out++ = bytes.data[i];
    if (bytes.replaced)
        ++m_replacements;
    return true;
}

const PendingSegment& MacToCp932Converter::segment() const
{
    return m_segment;
}

unsigned char* MacToCp932Converter::outputPosition() const
{
    return m_out;
}

size_t MacToCp932Converter::replacements() const
{
    return m_replacements;
}
