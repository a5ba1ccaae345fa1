#include "AppDelegate.h"

#include "JobQueue.h"
#include "PathText.h"
#include "Util.h"

#include <optional>
#include <sys/stat.h>

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
        if (argument.empty())
            continue;
        // An address copied from a browser or a file manager ("file:///...")
        // names the file it leads to, unless a relative path of that
        // spelling exists.
        struct stat found {};
        const std::optional<std::string> addressed = PathText::fromFileAddress(argument);
        paths.push_back(PathText::absoluteItem(addressed && ::lstat(argument.c_str(), &found) != 0 ? *addressed : argument));
    }
    return paths;
}
