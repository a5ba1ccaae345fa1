#include "ArchiveJobTest.h"

#include "FileManager.h"
#include "JobLog.h"
#include "WorkFolders.h"

#include <algorithm>
#include <filesystem>

std::vector<std::string> sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::string lineDifferences(const std::vector<std::string>& got, const std::vector<std::string>& expected)
{
    std::vector<std::string> extra;
    std::vector<std::string> missing;
    const std::vector<std::string> a = sorted(got);
    const std::vector<std::string> b = sorted(expected);
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(extra));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(missing));
    return "unexpected:\n" + joined(extra) + "missing:\n" + joined(missing);
}

void ArchiveJobTest::makeHome()
{
    m_home = std::make_unique<TestHome>();
    std::filesystem::create_directories(user());
}

void ArchiveJobTest::dropHome()
{
    // QTemporaryDir goes through QString and cannot remove names that are
    // not UTF-8; std::filesystem takes them as bytes.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_home->path(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    m_home.reset();
}

std::string ArchiveJobTest::user(const std::string& relative) const
{
    return m_home->path() + "/user" + (relative.empty() ? "" : "/" + relative);
}

std::string ArchiveJobTest::tmpDirectory() const
{
    return WorkFolders::tmpDirectory(FileManager::homeDirectory());
}

std::string ArchiveJobTest::contentFolder() const
{
    return WorkFolders::outputFolder(tmpDirectory(), WorkFolders::OUTPUT_DIR_NAME) + "/archive";
}

JobRun ArchiveJobTest::runJob(const std::vector<std::string>& paths, const std::string& destDir, bool isEncrypt,
                              const std::string& password)
{
    JobRun::Request request;
    request.paths = paths;
    request.destDir = destDir;
    request.isEncrypt = isEncrypt;
    request.password = password;
    return JobRun(request);
}

std::vector<std::string> ArchiveJobTest::expectedStagingLines(const std::vector<std::string>& items,
                                                              const std::vector<std::string>& extra) const
{
    std::vector<std::string> staged;
    for (const std::string& item : items) {
        if (std::filesystem::exists(std::filesystem::symlink_status(item))) {
            for (const std::string& path : JobLog::stagedPathsOf(item))
                staged.push_back(path);
        }
    }
    std::vector<std::string> lines = JobLog::nameRuleLines(staged, contentFolder());
    lines.insert(lines.end(), extra.begin(), extra.end());
    return sorted(lines);
}
