#include "UserTreeSnapshot.h"

#include <QCryptographicHash>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentHash(const std::string& path)
{
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return "unreadable";
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return hash.result().toHex();
}

std::string linkTarget(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string("?") : std::string(buffer, static_cast<size_t>(n));
}

} // namespace

UserTreeSnapshot::UserTreeSnapshot(const std::string& root)
    : m_root(root)
{
    add(root);
}

void UserTreeSnapshot::add(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        m_records[path] = {"missing", {}};
        return;
    }
    Record record;
    record.what = "mode " + std::to_string(info.st_mode);
    record.mtime = std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    if (S_ISREG(info.st_mode))
        record.what += " size " + std::to_string(info.st_size) + " sha1 " + contentHash(path).toStdString();
    else if (S_ISLNK(info.st_mode))
        record.what += " link " + linkTarget(path);
    m_records[path] = record;
    if (!S_ISDIR(info.st_mode))
        return;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                add(path + "/" + name);
        }
        ::closedir(dir);
    }
}

UserTreeSnapshot UserTreeSnapshot::without(const std::string& path) const
{
    UserTreeSnapshot copy = *this;
    copy.m_records.erase(path);
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && copy.m_records.count(path.substr(0, slash)))
        copy.m_records[path.substr(0, slash)].mtime.clear();
    return copy;
}

std::string UserTreeSnapshot::differences(const UserTreeSnapshot& other) const
{
    std::string text;
    for (const auto& [path, record] : m_records) {
        const auto found = other.m_records.find(path);
        if (found == other.m_records.end())
            text += "gone: " + path + "\n";
        else if (found->second != record)
            text += "changed: " + path + " (" + record.what + " " + record.mtime + " -> " + found->second.what + " "
                + found->second.mtime + ")\n";
    }
    for (const auto& [path, record] : other.m_records) {
        if (!m_records.count(path))
            text += "new: " + path + "\n";
    }
    return text;
}
