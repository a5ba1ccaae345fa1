#include "Utf8Sequence.h"

#include "PathText.h"

#include <QStringDecoder>

#include <algorithm>

std::pair<char32_t, std::size_t> Utf8Sequence::at(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    char32_t least = 0;
    char32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        least = 0x80;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        least = 0x800;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        least = 0x10000;
        value = lead & 0x07;
    } else {
        return {0, 0};
    }
    if (at + length > text.size())
        return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        if (!continues(text[at + i]))
            return {0, 0};
        value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {0, 0};
    return {value, length};
}

bool Utf8Sequence::continues(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

QString Utf8Sequence::decoded(const std::string& text)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

bool Utf8Sequence::isWhole(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8Sequence::at(text, at).second;
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string Utf8Sequence::prefixWithin(const std::string& text, std::size_t bytes)
{
    std::size_t end = std::min(text.size(), bytes);
    while (end > 0 && end < text.size() && continues(text[end]))
        --end;
    return text.substr(0, end);
}

std::string Utf8Sequence::nameWithin(const std::string& name, std::size_t bytes)
{
    if (name.size() <= bytes)
        return name;
    auto [stem, extension] = PathText::splitExtension(name);
    if (extension.size() >= bytes)
        return prefixWithin(name, bytes);
    return prefixWithin(stem, bytes - extension.size()) + extension;
}

std::size_t Utf8Sequence::cutAt(const std::string& text)
{
    std::size_t lead = text.size();
    while (lead > 0 && text.size() - lead < 3 && continues(text[lead - 1]))
        --lead;
    if (lead == 0 || static_cast<unsigned char>(text[lead - 1]) < 0xC0)
        return text.size();
    --lead;
    return at(text, lead).second != 0 ? text.size() : lead;
}
