#include "PrivateFolder.h"

#include "UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Failure PrivateFolder::make(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return describeErrno(errno, path);
    // Everything below is checked on the folder that was opened, so the path
    // cannot be swapped for a link between the check and the use.
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
    if ((status.st_mode & 077) != 0 && ::fchmod(folder.get(), 0700) != 0)
        return describeErrno(errno, path);
    return std::nullopt;
}
