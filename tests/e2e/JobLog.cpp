#include "JobLog.h"

#include <algorithm>
#include <filesystem>

namespace {

const char* const kPoll = "in scheduledTimer";
const std::vector<std::string> kProhibited = {"\\", "<", ">", ":", "*", "?", "\"", "\xc2\xa5", "|"};

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        parts.push_back(path.substr(start, slash - start));
    parts.push_back(path.substr(start));
    return parts;
}

} // namespace

JobLog::JobLog(const std::vector<std::string>& lines, const std::string& archivePath)
{
    size_t at = 0;
    if (at < lines.size())
        firstLine = lines[at++];
    while (at < lines.size() && lines[at] != kPoll)
        staging.push_back(lines[at++]);
    size_t lastPair = at;
    for (size_t i = at; i < lines.size(); ++i) {
        if (lines[i] != kPoll)
            continue;
        if (i + 1 >= lines.size() || lines[i + 1] != archivePath)
            problem = "poll line without the archive path after it";
        if (i != lastPair)
            problem = "a line came between the poll's lines: " + lines[lastPair];
        ++pollPairs;
        lastPair = i + 2;
        ++i;
    }
    for (size_t i = lastPair; i < lines.size(); ++i)
        after.push_back(lines[i]);
}

bool JobLog::hasProhibited(const std::string& name)
{
    return std::any_of(kProhibited.begin(), kProhibited.end(),
                       [&](const std::string& c) { return name.find(c) != std::string::npos; });
}

std::string JobLog::fixed(const std::string& name)
{
    std::string result = name;
    for (const std::string& c : kProhibited) {
        for (size_t at; (at = result.find(c)) != std::string::npos;)
            result.replace(at, c.size(), "_");
    }
    return result;
}

std::vector<std::string> JobLog::nameRuleLines(const std::vector<std::string>& stagedPaths,
                                               const std::string& contentFolder)
{
    std::vector<std::string> result;
    for (const std::string& path : stagedPaths) {
        const std::vector<std::string> parts = components(path);
        if (parts.size() >= 2 && !hasProhibited(parts.back()))
            result.push_back("on fixProhibitedCharacters error:File exists: " + contentFolder + "/" + fixed(path)
                             + ", error fileName: " + path);
        for (size_t i = 1; i + 1 < parts.size(); ++i) {
            if (hasProhibited(parts[i])) {
                result.push_back("move unnecessary file error");
                break;
            }
        }
    }
    return result;
}

std::vector<std::string> JobLog::stagedPathsOf(const std::string& item)
{
    namespace fs = std::filesystem;
    const std::string name = fs::path(item).filename().string();
    std::vector<std::string> result = {name};
    if (!fs::is_directory(fs::symlink_status(item)))
        return result;
    for (const auto& entry : fs::recursive_directory_iterator(item))
        result.push_back(name + "/" + entry.path().lexically_relative(item).string());
    return result;
}
