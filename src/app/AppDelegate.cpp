#include "AppDelegate.h"

#include "FileManager.h"
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

AppDelegate::AppDelegate(JobQueue& jobs, QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
{
}

void AppDelegate::openFiles(const std::vector<std::string>& paths)
{
    // Without items there is no first item to put the archive beside.
    if (paths.empty())
        return;
    std::vector<std::string> absolute;
    for (const std::string& path : paths)
        absolute.push_back(absolutePath(path));
    const std::string destDir = FileManager::parentFolder(absolute.front());
    m_jobs.enqueue(absolute, destDir, Util::loadSettingStatus());
}
