#include "TreeRemover.h"

#include "UniqueFd.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One folder on the way down: its name in the folder above, who it is, and
// the folders in it still to be removed.
struct Level {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> folders;
};

class Removal {
public:
    Removal(int parentFd, std::string path)
        : m_parentFd(parentFd)
        , m_path(std::move(path))
    {
    }

    Failure run(const std::string& name)
    {
        UniqueFd folder = openFolder(m_parentFd, name);
        if (!folder.isOpen()) {
            if (errno != ENOTDIR && errno != ELOOP)
                return describeErrno(errno, m_path);
            if (::unlinkat(m_parentFd, name.c_str(), 0) != 0)
                return describeErrno(errno, m_path);
            return std::nullopt;
        }
        if (!enter(folder, name))
            return m_first;
        while (!m_levels.empty()) {
            Level& level = m_levels.back();
            if (!level.folders.empty()) {
                const std::string next = std::move(level.folders.back());
                level.folders.pop_back();
                UniqueFd below = openFolder(folder.get(), next);
                if (!below.isOpen()) {
                    note(errno, next);
                    continue;
                }
                if (enter(below, next))
                    folder = std::move(below);
                continue;
            }
            folder = leave(std::move(folder));
        }
        return m_first;
    }

private:
    // A folder of ours that refuses its owner even a look is opened up
    // first; one of someone else's is left as it is.
    static UniqueFd openFolder(int parent, const std::string& name)
    {
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd folder(::openat(parent, name.c_str(), flags));
        if (folder.isOpen() || errno != EACCES)
            return folder;
        struct stat info {};
        if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)
            || info.st_uid != ::geteuid() || ::fchmodat(parent, name.c_str(), (info.st_mode & 07777) | S_IRWXU, 0) != 0) {
            errno = EACCES;
            return folder;
        }
        return UniqueFd(::openat(parent, name.c_str(), flags));
    }

    // Opens the folder up for its owner, removes everything in it that is
    // not a folder and notes the folders. False when it cannot be listed.
    bool enter(const UniqueFd& folder, const std::string& name)
    {
        struct stat info {};
        if (::fstat(folder.get(), &info) != 0) {
            note(errno, name);
            return false;
        }
        if ((info.st_mode & S_IRWXU) != S_IRWXU)
            ::fchmod(folder.get(), (info.st_mode & 07777) | S_IRWXU);
        Level level{name, info.st_dev, info.st_ino, {}};
        const int listing = ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!dir) {
            note(errno, name);
            if (listing >= 0)
                ::close(listing);
            return false;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const std::string child = entry->d_name;
            if (child == "." || child == "..")
                continue;
            if (isFolder(folder.get(), *entry))
                level.folders.push_back(child);
            else if (::unlinkat(folder.get(), child.c_str(), 0) != 0)
                note(errno, child);
        }
        ::closedir(dir);
        m_levels.push_back(std::move(level));
        return true;
    }

    // The folder's content is gone: climbs to the folder above, makes sure
    // it is the one it came from, and removes the emptied folder there.
    UniqueFd leave(UniqueFd folder)
    {
        const Level done = std::move(m_levels.back());
        m_levels.pop_back();
        if (m_levels.empty()) {
            folder = UniqueFd();
            if (::unlinkat(m_parentFd, done.name.c_str(), AT_REMOVEDIR) != 0)
                note(errno, done.name);
            return folder;
        }
        UniqueFd above(::openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        const Level& expected = m_levels.back();
        if (!above.isOpen() || ::fstat(above.get(), &info) != 0 || info.st_dev != expected.device
            || info.st_ino != expected.inode) {
            // The tree was moved while it was removed: nothing above is
            // touched.
            note(above.isOpen() ? ESTALE : errno, done.name);
            m_levels.clear();
            return UniqueFd();
        }
        if (::unlinkat(above.get(), done.name.c_str(), AT_REMOVEDIR) != 0)
            note(errno, done.name);
        return above;
    }

    static bool isFolder(int folder, const dirent& entry)
    {
        if (entry.d_type != DT_UNKNOWN)
            return entry.d_type == DT_DIR;
        struct stat info {};
        return ::fstatat(folder, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    }

    // The first failure, named by the tree and the item's own name: the
    // path between may be longer than any message should be.
    void note(int error, const std::string& name)
    {
        // Gone already, which is what was wanted: another clean-up was
        // quicker.
        if (error == ENOENT)
            return;
        if (!m_first)
            m_first = describeErrno(error, m_levels.empty() ? m_path : m_path + "/.../" + name);
    }

    int m_parentFd;
    std::string m_path;
    std::vector<Level> m_levels;
    Failure m_first;
};

} // namespace

Failure TreeRemover::remove(int parentFd, const std::string& name, const std::string& pathForMessages)
{
    return Removal(parentFd, pathForMessages).run(name);
}
