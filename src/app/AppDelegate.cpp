#include "AppDelegate.h"

#include "FileManager.h"
#include "PathText.h"
#include "JobQueue.h"
#include "Util.h"

#include <filesystem>

namespace {

std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
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
