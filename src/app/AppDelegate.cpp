#include "AppDelegate.h"

#include "FileManager.h"
#include "PathText.h"
#include "JobQueue.h"
#include "Util.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// The item a path names, by its own name and the folder that holds it: a
// job takes its name from the last part and puts the archive beside it, so
// "." is the working folder by its name, not a folder called ".". What
// comes up to the last ".." is where the kernel goes, links and all ("link/.."
// is the folder that holds the link's target); "." and "//" change nothing.
// A path the kernel refuses ("typo/..", "file.txt/.") stays as given, so that
// the job tells why.
std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path;
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
