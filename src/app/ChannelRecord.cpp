#include "ChannelRecord.h"

#include "Log.h"
#include "LogPrefix.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* const kRecordName = "instance.channel";

// A socket path is all a record holds, and no socket path is longer.
const std::size_t kMaxRecordBytes = sizeof(sockaddr_un::sun_path) - 1;

Failure checkRecorded(const std::string& socketPath, const std::string& record)
{
    if (socketPath.empty() || socketPath.front() != '/' || socketPath.find('\0') != std::string::npos)
        return "not a socket path in " + record;
    return std::nullopt;
}

} // namespace

ChannelRecord::ChannelRecord(std::string workFolder)
    : m_workFolder(std::move(workFolder))
{
}

std::string ChannelRecord::path() const
{
    return m_workFolder + "/" + kRecordName;
}

Failure ChannelRecord::write(const std::string& socketPath) const
{
    std::string written = path() + ".XXXXXX";
    const UniqueFd file(::mkostemp(written.data(), O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, written);
    if (!UniqueFd::writeAll(file.get(), socketPath.data(), socketPath.size())
        || ::rename(written.c_str(), path().c_str()) != 0) {
        const int error = errno;
        ::unlink(written.c_str());
        return describeErrno(error, path());
    }
    return std::nullopt;
}

Failure ChannelRecord::read(std::string& socketPath) const
{
    // Only this user can put anything here; still, a pipe in the record's
    // place must not hold a start up.
    const UniqueFd file(::open(path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen()) {
        if (errno == ENOENT)
            return "no channel recorded in " + m_workFolder;
        return describeErrno(errno, path());
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return describeErrno(errno, path());
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
        return "not a record of this user's own: " + path();
    std::string content(kMaxRecordBytes + 1, '\0');
    const ssize_t size = ::read(file.get(), content.data(), content.size());
    if (size < 0)
        return describeErrno(errno, path());
    if (std::size_t(size) > kMaxRecordBytes)
        return "not a socket path in " + path();
    content.resize(std::size_t(size));
    if (Failure refused = checkRecorded(content, path()))
        return refused;
    socketPath = std::move(content);
    return std::nullopt;
}

void ChannelRecord::remove() const
{
    if (::unlink(path().c_str()) != 0 && errno != ENOENT)
        Log::line(LogPrefix::kRecordLeftBehind + describeErrno(errno, path()));
}
