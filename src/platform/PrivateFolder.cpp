#include "PrivateFolder.h"

#include "UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything is checked on the folder that was opened, so the path cannot be
// swapped for a link between the check and the use. repair takes access for
// others away instead of refusing the folder for it.
Failure checkOpened(const std::string& path, bool repair)
{
    const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isOpen()) {
        if (errno == ELOOP || errno == ENOTDIR)
            return "not a folder of its own (a symbolic link or a file): " + path;
        return describeErrno(errno, path);
    }
    struct stat status {};
    if (::fstat(folder.get(), &status) != 0)
        return describeErrno(errno, path);
    if (status.st_uid != ::geteuid())
        return "belongs to another user: " + path;
    if ((status.st_mode & 077) == 0)
        return std::nullopt;
    if (!repair)
        return "open to other users: " + path;
    if (::fchmod(folder.get(), 0700) != 0)
        return describeErrno(errno, path);
    return std::nullopt;
}

} // namespace

Failure PrivateFolder::make(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return describeErrno(errno, path);
    return checkOpened(path, true);
}

Failure PrivateFolder::check(const std::string& path)
{
    return checkOpened(path, false);
}
