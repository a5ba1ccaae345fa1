#include "TestHome.h"

#include <QFile>

#include <cstdlib>
#include <filesystem>
#include <fstream>

TestHome::TestHome()
{
    if (const char* home = std::getenv("HOME"))
        m_savedHome = home;
    ::setenv("HOME", path().c_str(), 1);
}

TestHome::~TestHome()
{
    if (m_savedHome)
        ::setenv("HOME", m_savedHome->c_str(), 1);
    else
        ::unsetenv("HOME");
    // By the bytes of the names first: Qt's own removal goes through text
    // and leaves names that are no UTF-8 behind. What this cannot remove
    // (a folder a test left unwritable) is left to Qt's.
    std::error_code ignored;
    std::filesystem::remove_all(path(), ignored);
}

std::string TestHome::path() const
{
    return QFile::encodeName(m_dir.path()).toStdString();
}

std::string TestHome::makeFolder(const std::string& relative) const
{
    const std::string folder = path() + "/" + relative;
    std::filesystem::create_directories(folder);
    return folder;
}

void TestHome::writeFile(const std::string& relative, const std::string& content) const
{
    const std::filesystem::path file = path() + "/" + relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}
