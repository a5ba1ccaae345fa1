#include "ArchiveName.h"

#include "Utf8Sequence.h"
#include "Util.h"
#include "WindowsName.h"

#include <sys/stat.h>

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
    std::string result = plainUtf8(Util::replaceProhibitedCharacters(name));
    const std::size_t firstKept = result.find_first_not_of('.');
    result = firstKept == std::string::npos ? std::string() : result.substr(firstKept);
    // Blanks around the name are left over from cutting or from the user;
    // Windows drops trailing ones anyway.
    while (!result.empty() && (result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    const std::size_t firstNonBlank = result.find_first_not_of(' ');
    result = firstNonBlank == std::string::npos ? std::string() : result.substr(firstNonBlank);
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
    const std::string name = lastComponent(paths.front());
    return fitted(isFolder(paths.front()) ? name : withoutExtension(name));
}
