#include "PathText.h"

#include <cstdlib>
#include <strings.h>

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
