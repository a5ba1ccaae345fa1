#include "ArchiveName.h"

#include "Cp932Name.h"
#include "Utf8Sequence.h"
#include "Util.h"
#include "WindowsName.h"

#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <array>

namespace {

// Room is left for the largest number and ".zip" within NAME_MAX.
const std::size_t kMaxNameBytes = 200;

std::string lastComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "report.pdf" gives "report"; a name whose only dot leads it keeps it.
std::string withoutExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Unicode's default-ignorable code points: they show nothing, and the
// names inside the archive lose them on the way to code page 932. In an
// archive's own name they would hide a reordered extension (U+202E) or a
// break in a word that search then does not find.
struct Range {
    char32_t first;
    char32_t last;
};
constexpr std::array<Range, 17> kInvisible {{
    {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
    {0x180B, 0x180F}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
    {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
}};

bool isInvisible(char32_t code)
{
    return std::any_of(kInvisible.begin(), kInvisible.end(),
                       [code](const Range& range) { return code >= range.first && code <= range.last; });
}

// A space of another width than code page 932 holds (a no-break space),
// or a line or paragraph separator: a blank in a name, as in the names
// inside the archive.
bool isOtherBlank(char32_t code)
{
    const QChar::Category category = QChar::category(code);
    return (category == QChar::Separator_Space && code != U'\u3000') || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

// A name's blanks (the ideographic space too) and dots at either end: a
// leading dot would hide the archive here, Windows drops trailing ones.
std::size_t edgeLength(const std::string& text, bool atFront)
{
    static const std::string ideographic = "\u3000";
    if (atFront ? text.starts_with(' ') || text.starts_with('.') : text.ends_with(' ') || text.ends_with('.'))
        return 1;
    return (atFront ? text.starts_with(ideographic) : text.ends_with(ideographic)) ? ideographic.size() : 0;
}

// name without invisible characters, its other blanks plain spaces, and
// composed (a folder from a Mac names its archive as the user typed it).
// Bytes that are no UTF-8 stay.
std::string visibleComposed(const std::string& name)
{
    std::string result;
    std::string run;
    const auto composeRun = [&result, &run] {
        result += QString::fromStdString(run).normalized(QString::NormalizationForm_C).toStdString();
        run.clear();
    };
    for (std::size_t at = 0; at < name.size();) {
        const auto [code, length] = Utf8Sequence::at(name, at);
        if (length == 0) {
            composeRun();
            result += name[at++];
            continue;
        }
        if (isOtherBlank(code))
            run += ' ';
        else if (!isInvisible(code))
            run.append(name, at, length);
        at += length;
    }
    composeRun();
    return result;
}

// An accent before any letter forms none, and goes, as it goes from the
// names inside the archive.
std::string withoutLeadingMarks(const std::string& name)
{
    std::size_t at = 0;
    while (at < name.size()) {
        const auto [code, length] = Utf8Sequence::at(name, at);
        if (length == 0 || QChar::combiningClass(code) == 0)
            break;
        at += length;
    }
    return name.substr(at);
}

// Bytes that are no UTF-8 and control characters become "_"; the name is
// cut at a character's end.
std::string plainUtf8(const std::string& name)
{
    std::string result;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = Utf8Sequence::at(name, at).second;
        const bool control = length == 1 && (static_cast<unsigned char>(name[at]) < 0x20 || name[at] == 0x7F);
        const bool c1 = length == 2 && static_cast<unsigned char>(name[at]) == 0xC2
            && static_cast<unsigned char>(name[at + 1]) < 0xA0;
        const std::size_t taken = length == 0 ? 1 : length;
        const std::string piece = (length == 0 || control || c1) ? std::string("_") : name.substr(at, length);
        if (result.size() + piece.size() > kMaxNameBytes)
            break;
        result += piece;
        at += taken;
    }
    return result;
}

} // namespace

std::string ArchiveName::fitted(const std::string& name)
{
    // The root folder has no name of its own.
    if (name.empty() || name == "/")
        return kDefault;
    std::string result = plainUtf8(
        Util::replaceProhibitedCharacters(withoutLeadingMarks(visibleComposed(Cp932Name().readable(name)))));
    // Blanks around the name are left over from cutting or from the user.
    while (const std::size_t length = edgeLength(result, true))
        result.erase(0, length);
    while (const std::size_t length = edgeLength(result, false))
        result.resize(result.size() - length);
    if (result.empty())
        return kDefault;
    return WindowsName::creatable(result);
}

std::string ArchiveName::forItems(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return kDefault;
    if (paths.size() > 1)
        return fitted(lastComponent(parentOf(paths.front())));
    // Read whole before the extension goes, as the item's entry is read.
    const std::string name = Cp932Name().readable(lastComponent(paths.front()));
    return fitted(isFolder(paths.front()) ? name : withoutExtension(name));
}
