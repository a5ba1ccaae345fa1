#include "PrivateFolder.h"

#include "UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything is checked on the folder that was opened, so the path cannot be
// swapped for a link between the check and the use. repair takes access for
// others away instead of refusing the folder for it. systemError takes the
// errno of a call that failed, and stays 0 when the folder is refused for
// what it is.
Failure checkOpened(const std::string& path, bool repair, int& systemError)
{
    const auto failed = [&](int error) {
        systemError = error;
        return describeErrno(error, path);
    };
    const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.isOpen()) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR)
            return "not a folder of its own (a symbolic link or a file): " + path;
        // Left by a program run as another user (sudo keeps HOME).
        struct stat status {};
        if (error == EACCES && ::lstat(path.c_str(), &status) == 0 && status.st_uid != ::geteuid())
            return "belongs to another user: " + path;
        return failed(error);
    }
    struct stat status {};
    if (::fstat(folder.get(), &status) != 0)
        return failed(errno);
    if (status.st_uid != ::geteuid())
        return "belongs to another user: " + path;
    if ((status.st_mode & 077) == 0)
        return std::nullopt;
    if (!repair)
        return "open to other users: " + path;
    if (::fchmod(folder.get(), 0700) != 0)
        return failed(errno);
    return std::nullopt;
}

} // namespace

Failure PrivateFolder::make(const std::string& path, int* systemError)
{
    int error = 0;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        error = errno;
    Failure failure = error != 0 ? describeErrno(error, path) : checkOpened(path, true, error);
    if (systemError)
        *systemError = error;
    return failure;
}

Failure PrivateFolder::check(const std::string& path)
{
    int error = 0;
    return checkOpened(path, false, error);
}
