#include "WorkFolders.h"

#include "FileManager.h"
#include "PrivateFolder.h"
#include "Util.h"


WorkFolders::WorkFolders(const std::string& homeDirectory, std::string job)
    : m_tmpDirectory(homeDirectory + "/.quillmere")
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

std::string WorkFolders::archiveInOutput(const std::string& archiveName) const
{
    return outputFolder() + "/" + archiveName;
}

Failure WorkFolders::makePrivate() const
{
    return PrivateFolder::make(m_tmpDirectory);
}
