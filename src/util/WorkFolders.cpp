#include "WorkFolders.h"

#include "FileManager.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

WorkFolders::WorkFolders(const std::string& homeDirectory)
    : m_tmpDirectory(homeDirectory + "/.quillmere")
{
}

WorkFolders WorkFolders::ofCurrentUser()
{
    return WorkFolders(FileManager::homeDirectory());
}

std::string WorkFolders::stagingFolder() const
{
    return m_tmpDirectory + "/" + STAGING_DIR_NAME;
}

std::string WorkFolders::outputFolder() const
{
    return stagingFolder() + "/" + OUTPUT_DIR_NAME;
}

std::string WorkFolders::contentFolder() const
{
    return outputFolder() + "/" + CONTENT_DIR_NAME;
}

std::string WorkFolders::archiveInOutput(const std::string& archiveName) const
{
    return outputFolder() + "/" + archiveName;
}

Failure WorkFolders::makePrivate() const
{
    if (::mkdir(m_tmpDirectory.c_str(), 0700) != 0 && errno != EEXIST)
        return describeErrno(errno, m_tmpDirectory);
    struct stat info {};
    if (::lstat(m_tmpDirectory.c_str(), &info) != 0)
        return describeErrno(errno, m_tmpDirectory);
    if (S_ISLNK(info.st_mode))
        return "the work folder is a symbolic link, not a folder of the user's own: " + m_tmpDirectory;
    if (!S_ISDIR(info.st_mode))
        return "the work folder is not a folder: " + m_tmpDirectory;
    if (info.st_uid != ::getuid())
        return "the work folder belongs to another user: " + m_tmpDirectory;
    if ((info.st_mode & 07777) != 0700 && ::chmod(m_tmpDirectory.c_str(), 0700) != 0)
        return describeErrno(errno, m_tmpDirectory);
    return std::nullopt;
}
