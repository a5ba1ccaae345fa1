#include "WorkFolders.h"

#include "FileManager.h"
#include "PathText.h"
#include "PrivateFolder.h"
#include "Util.h"

#include <cerrno>
#include <cstdlib>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

std::string memoryRootOfThisSession()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/quillmere";
    return "/dev/shm/quillmere-" + std::to_string(::geteuid());
}

} // namespace

WorkFolders::WorkFolders(const std::string& homeDirectory, std::string job)
    : m_tmpDirectory(homeDirectory + "/.quillmere")
    , m_memoryRoot(memoryRootOfThisSession())
    , m_job(std::move(job))
{
}

WorkFolders WorkFolders::ofCurrentUser()
{
    return WorkFolders(FileManager::homeDirectory());
}

WorkFolders WorkFolders::forNewJob() const
{
    WorkFolders folders = *this;
    folders.m_job = Util::randomPassword(8);
    return folders;
}

std::string WorkFolders::journalFolder() const
{
    return m_tmpDirectory + "/journal";
}

bool WorkFolders::isStagingName(const std::string& name)
{
    const std::string fixed = STAGING_DIR_NAME;
    return name == fixed || (name.starts_with(fixed + "-") && name.size() > fixed.size() + 1);
}

std::string WorkFolders::stagingFolder() const
{
    return m_tmpDirectory + "/" + STAGING_DIR_NAME + (m_job.empty() ? "" : "-" + m_job);
}

std::string WorkFolders::outputFolder() const
{
    return stagingFolder() + "/" + OUTPUT_DIR_NAME;
}

std::string WorkFolders::contentFolder() const
{
    return outputFolder() + "/" + CONTENT_DIR_NAME;
}

std::string WorkFolders::memoryFolder() const
{
    return m_memoryRoot + "/" + STAGING_DIR_NAME + (m_job.empty() ? "" : "-" + m_job);
}

std::string WorkFolders::archiveInOutput(const std::string& archiveName) const
{
    return outputFolder() + "/" + archiveName;
}

Failure WorkFolders::makePrivate(int* systemError) const
{
    return PrivateFolder::make(m_tmpDirectory, systemError);
}

Failure WorkFolders::makeMemoryRootPrivate() const
{
    struct statfs info {};
    const std::string parent = m_memoryRoot.substr(0, m_memoryRoot.rfind('/'));
    if (::statfs(parent.c_str(), &info) != 0)
        return describeErrno(errno, parent);
    if (info.f_type != TMPFS_MAGIC && info.f_type != RAMFS_MAGIC)
        return "not in memory: " + parent;
    return PrivateFolder::make(m_memoryRoot);
}

bool WorkFolders::holds(const std::string& path) const
{
    const std::optional<std::string> real = PathText::real(path);
    if (!real)
        return false;
    for (const std::string& root : {m_tmpDirectory, m_memoryRoot}) {
        const std::optional<std::string> realRoot = PathText::real(root);
        if (realRoot && PathText::isAtOrBelow(*real, *realRoot))
            return true;
    }
    return false;
}
