#include "AppDelegate.h"

#include "FileManager.h"
#include "PathText.h"
#include "JobQueue.h"
#include "Util.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// The item a path names, by its own name and the folder that holds it: a
// job takes its name from the last part and puts the archive beside it, so
// "." is the working folder by its name, not a folder called ".". What
// comes up to the last ".." is where the kernel goes, links and all ("link/.."
// is the folder that holds the link's target); "." and "//" change nothing.
std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path;
    const std::vector<fs::path> parts(absolute.begin(), absolute.end());
    const auto lastUp = std::find(parts.rbegin(), parts.rend(), fs::path(".."));
    const auto rest = lastUp.base();
    fs::path result = absolute.root_path();
    if (lastUp != parts.rend()) {
        fs::path upTo;
        for (auto part = parts.begin(); part != rest; ++part)
            upTo /= *part;
        result = fs::canonical(upTo, error);
        if (error)
            result = upTo.lexically_normal();
    }
    for (auto part = rest == parts.begin() ? rest + 1 : rest; part != parts.end(); ++part) {
        if (!part->empty() && *part != ".")
            result /= *part;
    }
    return result.string();
}

} // namespace

AppDelegate::AppDelegate(JobQueue& jobs, StoredOptions storedOptions, QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
    , m_storedOptions(storedOptions ? std::move(storedOptions) : StoredOptions(&Util::loadSettingStatus))
{
}

void AppDelegate::openFiles(const std::vector<std::string>& paths)
{
    // Without items there is no first item to put the archive beside.
    if (paths.empty())
        return;
    m_jobs.enqueue(paths, PathText::parentFolder(paths.front()), m_storedOptions());
}

std::vector<std::string> AppDelegate::absolutePaths(const std::vector<std::string>& arguments)
{
    std::vector<std::string> paths;
    for (const std::string& argument : arguments) {
        if (!argument.empty())
            paths.push_back(absolutePath(argument));
    }
    return paths;
}
