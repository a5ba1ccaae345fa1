#include "AppFolders.h"

#include <QFile>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::size_t kHomePathBytes = 120;

} // namespace

AppFolders::AppFolders()
{
    std::string home = base("home with \"quotes\" and 'apostrophes' ");
    while (home.size() < kHomePathBytes)
        home += 'x';
    m_home = home;
    fs::create_directories(m_home);
    for (const std::string& folder : {runtime(), config(), items(), marks()})
        fs::create_directories(folder);
    fs::permissions(runtime(), fs::perms::owner_all);
}

std::string AppFolders::base(const std::string& name) const
{
    return QFile::encodeName(m_base.path()).toStdString() + "/" + name;
}

bool AppFolders::channelIsOpen() const
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(runtime() + "/quillmere", error)) {
        if (entry.is_socket())
            return true;
    }
    return false;
}

AppProcess::Setting AppFolders::setting(const std::string& standInFolder) const
{
    return {m_home, runtime(), config(), standInFolder, marks(), "QUILLMERE_TEST_TAG=" + base("")};
}

std::string AppFolders::writeItem(const std::string& name, const std::string& content) const
{
    const std::string path = items() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

void AppFolders::storeOptions(bool isEncrypt, const std::string& password) const
{
    // Written as text: QSettings in this process keeps the configuration
    // folder it first saw.
    const std::string folder = config() + "/Quillmere";
    fs::create_directories(folder);
    std::ofstream(folder + "/Quillmere.conf", std::ios::binary)
        << "[settings]\nisEncrypt=" << (isEncrypt ? "true" : "false") << "\npassword=" << password
        << "\nisSelectDir=false\n";
}
