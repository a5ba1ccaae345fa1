#include "WorkFolders.h"

#include "FileManager.h"
#include "PrivateFolder.h"


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
    return PrivateFolder::make(m_tmpDirectory);
}
