#include "WindowsName.h"

#include "PathText.h"
#include "Utf8Sequence.h"

#include <QString>

#include <algorithm>
#include <array>

namespace {

// stem: the part of a name before its first dot, blanks around it
// removed; Windows takes "con .txt" for the device too.
bool isDeviceName(std::string stem)
{
    stem.erase(0, std::min(stem.find_first_not_of(' '), stem.size()));
    stem.erase(stem.find_last_not_of(' ') + 1);
    if (stem.size() < 3 || stem.size() > 5)
        return false;
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    static constexpr std::array<const char*, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end())
        return true;
    // COM1-COM9 and LPT1-LPT9, and with "¹", "²" or "³", which Windows
    // reads as those digits: "COM¹.zip" is a port too.
    if (!stem.starts_with("COM") && !stem.starts_with("LPT"))
        return false;
    const std::string number = stem.substr(3);
    static constexpr std::array<const char*, 3> kSuperscripts = {"\u00b9", "\u00b2", "\u00b3"};
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9')
        || std::find(kSuperscripts.begin(), kSuperscripts.end(), number) != kSuperscripts.end();
}

bool isDotOrBlank(char c)
{
    return c == '.' || c == ' ';
}

bool isAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string WindowsName::sameFileKey(const std::string& utf8)
{
    std::string kept = utf8;
    while (!kept.empty() && isDotOrBlank(kept.back()))
        kept.pop_back();
    // ASCII letters have no case mapping beyond their own.
    if (isAscii(kept)) {
        std::transform(kept.begin(), kept.end(), kept.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        return kept;
    }
    return Utf8Sequence::decoded(kept).toUpper().toStdString();
}

std::string WindowsName::numbered(const std::string& name, int n, bool isFolder)
{
    const std::string suffix = " (" + std::to_string(n) + ")";
    if (isFolder)
        return name + suffix;
    const auto [stem, extension] = PathText::splitExtension(name);
    return stem + suffix + extension;
}

std::string WindowsName::creatable(const std::string& name)
{
    // No name, or dots alone: Windows has no such file. The converter
    // leaves nothing of a name made of characters that show nothing.
    if (name.find_first_not_of('.') == std::string::npos)
        return "_";
    std::string result = name;
    // Windows drops them, and with them what told "memo." from "memo".
    for (size_t at = result.size(); at > 0 && isDotOrBlank(result[at - 1]); --at)
        result[at - 1] = '_';
    const size_t stemEnd = std::min(result.find('.'), result.size());
    if (isDeviceName(result.substr(0, stemEnd)))
        result.insert(stemEnd, "_");
    return result;
}

std::optional<WindowsWarning> WindowsName::componentWarning(const std::string& name)
{
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return WindowsWarning::ControlCharacter;
    return std::nullopt;
}

int WindowsName::length(const std::string& utf8Path)
{
    // Below 0x80 each byte is one UTF-16 unit; most paths are such.
    if (isAscii(utf8Path))
        return static_cast<int>(utf8Path.size());
    return static_cast<int>(Utf8Sequence::decoded(utf8Path).size());
}

bool WindowsName::isTooLong(const std::string& utf8Path)
{
    return kExtractionFolder + length(utf8Path) >= kMaxPath;
}
