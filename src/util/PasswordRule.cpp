#include "PasswordRule.h"

#include <QString>
#include <QStringDecoder>

#include <iconv.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

bool isControl(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F;
}

// Strict: a character code page 932 lacks refuses the whole password, as
// a look-alike would make a key that the typed password never gives.
std::optional<std::string> toCp932(const std::string& text)
{
    const iconv_t converter = ::iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string input = text;
    char* in = input.data();
    size_t inLeft = input.size();
    std::vector<char> buffer(text.size() * 2 + 16);
    char* out = buffer.data();
    size_t outLeft = buffer.size();
    const bool converted = ::iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)
        && ::iconv(converter, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(converter);
    if (!converted)
        return std::nullopt;
    return std::string(buffer.data(), out);
}

// The whole text, a character cut short at its end included; a byte-order
// mark at the start is a character like any other here.
bool isUtf8(const std::string& text)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return !decoder.hasError();
}

} // namespace

PasswordRule::Problem PasswordRule::check(const std::string& password)
{
    if (password.empty())
        return Problem::Empty;
    if (!isUtf8(password))
        return Problem::NotUtf8;
    const std::optional<std::string> bytes = windowsBytes(password);
    // Characters that show nothing give no bytes at all.
    if (!bytes || bytes->empty())
        return Problem::OutsideCp932;
    // zipcloak counts the bytes it is given: a Japanese character takes two.
    if (bytes->size() > kMaxLength)
        return Problem::TooLong;
    if (std::any_of(bytes->begin(), bytes->end(), [](char c) { return isControl(static_cast<unsigned char>(c)); }))
        return Problem::ControlCharacter;
    return Problem::None;
}

const char* PasswordRule::describe(Problem problem)
{
    switch (problem) {
    case Problem::None:
        return "the password can be used";
    case Problem::Empty:
        return "the password is empty";
    case Problem::OutsideCp932:
        return "the password holds a character that code page 932 cannot hold";
    case Problem::TooLong:
        return "the password is longer than 80 bytes in code page 932";
    case Problem::ControlCharacter:
        return "the password holds a control character";
    case Problem::NotUtf8:
        return "the password is not UTF-8 text";
    }
    return "";
}

std::optional<std::string> PasswordRule::windowsBytes(const std::string& password)
{
    if (!isUtf8(password))
        return std::nullopt;
    // As written first: code page 932 holds some characters that composing
    // would change (the kanji U+FA10, the angstrom sign).
    if (std::optional<std::string> bytes = toCp932(password))
        return bytes;
    return toCp932(QString::fromStdString(password).normalized(QString::NormalizationForm_C).toStdString());
}

bool PasswordRule::needsJapaneseWindows(const std::string& password)
{
    const auto beyondAscii = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    const std::optional<std::string> bytes = windowsBytes(password);
    if (!bytes)
        return std::any_of(password.begin(), password.end(), beyondAscii);
    // What shows nothing (a byte-order mark from a file saved by Notepad)
    // gives no bytes: a password whose other characters are ASCII is
    // typed alike everywhere. "¥" gives 0x5C, which only Japanese Windows
    // types for it.
    std::string ascii;
    std::copy_if(password.begin(), password.end(), std::back_inserter(ascii), [&](char c) { return !beyondAscii(c); });
    return *bytes != ascii;
}
