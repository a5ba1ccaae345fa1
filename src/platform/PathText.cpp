#include "PathText.h"

#include "UniqueFd.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

std::string PathText::join(const std::string& folder, const std::string& name)
{
    return folder + "/" + name;
}

std::string PathText::below(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : join(folder, name);
}

std::string PathText::withoutTrailingSlashes(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    return trimmed;
}

std::string PathText::lastComponent(const std::string& path)
{
    const std::string trimmed = withoutTrailingSlashes(path);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/")
        return trimmed;
    return trimmed.substr(slash + 1);
}

std::string PathText::parentFolder(const std::string& path)
{
    const std::string trimmed = withoutTrailingSlashes(path);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return trimmed.substr(0, slash);
}

std::pair<std::string, std::string> PathText::splitExtension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

std::optional<std::string> PathText::real(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string real = resolved;
    std::free(resolved);
    return real;
}

bool PathText::isAtOrBelow(const std::string& path, const std::string& top)
{
    return path == top || (path.starts_with(top) && path[top.size()] == '/');
}

namespace {

namespace fs = std::filesystem;

// The folder a relative path names, as the kernel knows it, when the
// working folder has been removed (getcwd fails, but ".." and what lies
// beyond still lead somewhere); nullopt for a folder that is gone or
// cannot be opened.
std::optional<std::string> folderByKernel(const std::string& folder)
{
    const UniqueFd opened(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.isOpen())
        return std::nullopt;
    std::error_code error;
    const std::string path = fs::read_symlink("/proc/self/fd/" + std::to_string(opened.get()), error).string();
    if (error || !path.starts_with('/') || path.ends_with(" (deleted)"))
        return std::nullopt;
    return path;
}

// A relative path below a removed working folder, made absolute by the
// folder that holds it; as given where that folder is gone too.
std::string absoluteByKernel(const std::string& path)
{
    if (const std::optional<std::string> folder = folderByKernel(path))
        return *folder;
    const fs::path given(path);
    const std::optional<std::string> parent
        = folderByKernel(given.has_parent_path() ? given.parent_path().string() : std::string("."));
    const std::string name = given.filename().string();
    return parent && !name.empty() && name != "." && name != ".." ? (fs::path(*parent) / name).string() : path;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> PathText::fromFileAddress(const std::string& text)
{
    // Scheme and host are the same in any case.
    const auto sameLetters = [](const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; };
    const std::string scheme = "file:";
    if (text.size() <= scheme.size() || !sameLetters(text.substr(0, scheme.size()), "file:"))
        return std::nullopt;
    std::string rest = text.substr(scheme.size());
    if (rest.starts_with("//")) {
        const size_t pathStart = rest.find('/', 2);
        if (pathStart == std::string::npos)
            return std::nullopt;
        const std::string host = rest.substr(2, pathStart - 2);
        if (!host.empty() && !sameLetters(host, "localhost"))
            return std::nullopt;
        rest.erase(0, pathStart);
    }
    if (!rest.starts_with('/'))
        return std::nullopt;
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
        // A path holds no NUL byte, a name no "/"; a lone "%" is no escape.
        const int byte = high * 16 + low;
        if (low < 0 || byte == 0 || byte == '/')
            return std::nullopt;
        path += static_cast<char>(byte);
        i += 2;
    }
    return path;
}

// The item a path names, by its own name and the folder that holds it: a
// job takes its name from the last part and puts the archive beside it, so
// "." is the working folder by its name, not a folder called ".". What
// comes up to the last ".." is where the kernel goes, links and all ("link/.."
// is the folder that holds the link's target); "." and "//" change nothing.
// A path the kernel refuses ("typo/..", "file.txt/.") stays as given, so that
// the job tells why.
std::string PathText::absoluteItem(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return absoluteByKernel(path);
    const std::vector<fs::path> parts(absolute.begin(), absolute.end());
    const bool plain = std::none_of(parts.begin() + 1, parts.end(),
                                    [](const fs::path& part) { return part.empty() || part == "." || part == ".."; });
    struct stat found {};
    if (plain || ::stat(absolute.c_str(), &found) != 0)
        return absolute.string();
    const auto lastUp = std::find(parts.rbegin(), parts.rend(), fs::path(".."));
    const auto rest = lastUp.base();
    fs::path result = absolute.root_path();
    if (lastUp != parts.rend()) {
        fs::path upTo;
        for (auto part = parts.begin(); part != rest; ++part)
            upTo /= *part;
        result = fs::canonical(upTo, error);
        if (error)
            return absolute.string();
    }
    for (auto part = rest == parts.begin() ? rest + 1 : rest; part != parts.end(); ++part) {
        if (!part->empty() && *part != ".")
            result /= *part;
    }
    return result.string();
}
