#include "WindowsName.h"

#include "PathText.h"

#include <QString>

#include <algorithm>
#include <array>

namespace {

bool isDeviceName(const QString& stem)
{
    static const std::array<const char*, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    const QString upper = stem.toUpper();
    for (const char* device : kPlain) {
        if (upper == QLatin1String(device))
            return true;
    }
    // COM1-COM9 and LPT1-LPT9.
    return upper.size() == 4 && (upper.startsWith("COM") || upper.startsWith("LPT")) && upper[3] >= QChar('1')
        && upper[3] <= QChar('9');
}

} // namespace

std::string WindowsName::sameFileKey(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toUpper().toStdString();
}

std::string WindowsName::numbered(const std::string& name, int n, bool isFolder)
{
    const std::string suffix = " (" + std::to_string(n) + ")";
    if (isFolder)
        return name + suffix;
    const auto [stem, extension] = PathText::splitExtension(name);
    return stem + suffix + extension;
}

std::optional<WindowsWarning> WindowsName::componentWarning(const std::string& name)
{
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return WindowsWarning::ControlCharacter;
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        return WindowsWarning::TrailingDotOrBlank;
    // "CON", "con.txt", "LPT1.tar.gz": the part before the first dot
    // decides, blanks before the dot included.
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (isDeviceName(text.section('.', 0, 0).trimmed()))
        return WindowsWarning::DeviceName;
    return std::nullopt;
}

bool WindowsName::isTooLong(const std::string& utf8Path)
{
    return QString::fromUtf8(utf8Path.data(), static_cast<qsizetype>(utf8Path.size())).size() > kMaxPath;
}
