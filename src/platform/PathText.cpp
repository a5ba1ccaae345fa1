#include "PathText.h"

#include <cstdlib>

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
