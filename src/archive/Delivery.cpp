#include "Delivery.h"

#include "FileManager.h"
#include "Util.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::string archiveName(const std::string& baseName, int n)
{
    return baseName + (n == 0 ? std::string() : std::to_string(n)) + ".zip";
}

// rename that fails when target exists; on file systems that cannot say
// so, a hard link does the same.
int renameWithoutReplacing(const std::string& source, const std::string& target)
{
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return -1;
    if (::link(source.c_str(), target.c_str()) != 0)
        return -1;
    ::unlink(source.c_str());
    return 0;
}

} // namespace

std::string Delivery::freeArchiveName(const std::string& destDir, const std::string& baseName)
{
    for (int n = 0;; ++n) {
        if (!FileManager::exists(destDir + "/" + archiveName(baseName, n)))
            return archiveName(baseName, n);
    }
}

std::string Delivery::partName(const std::string& destDir)
{
    for (;;) {
        const std::string name = ".archive-" + Util::randomPassword(12) + ".zip.part";
        if (!FileManager::exists(destDir + "/" + name))
            return name;
    }
}

Failure Delivery::placeUnderFreeName(const std::string& partPath, const std::string& destDir, std::string& finalPath,
                                     const std::string& baseName)
{
    for (int n = 0;; ++n) {
        const std::string candidate = destDir + "/" + archiveName(baseName, n);
        if (renameWithoutReplacing(partPath, candidate) == 0) {
            finalPath = candidate;
            return std::nullopt;
        }
        if (errno != EEXIST)
            return describeErrno(errno, candidate);
    }
}

FailureCause Delivery::destinationCause(const std::string& destDir, uint64_t bytes)
{
    if (::access(destDir.c_str(), W_OK | X_OK) != 0)
        return FailureCause::DestinationNotWritable;
    struct statvfs space {};
    if (::statvfs(destDir.c_str(), &space) == 0 && static_cast<uint64_t>(space.f_bavail) * space.f_frsize < bytes)
        return FailureCause::DestinationFull;
    return FailureCause::Other;
}
