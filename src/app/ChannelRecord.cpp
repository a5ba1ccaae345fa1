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

const char* const kX11Field = "x11=";
const char* const kWaylandField = "wayland=";

// No socket path is longer; a record holds one, and a display's values,
// which SessionDisplay keeps far below the rest.
const std::size_t kMaxSocketPathBytes = sizeof(sockaddr_un::sun_path) - 1;
const std::size_t kMaxRecordBytes = 4096;

Failure checkRecorded(const std::string& socketPath, const std::string& record)
{
    if (socketPath.empty() || socketPath.front() != '/' || socketPath.size() > kMaxSocketPathBytes)
        return "not a socket path in " + record;
    return std::nullopt;
}

void appendField(std::string& content, const char* name, const std::string& value)
{
    if (!value.empty())
        content += '\0' + std::string(name) + value;
}

// The fields after the socket path; one this version does not know, from a
// later one, is passed over.
SessionDisplay displayIn(const std::string& fields)
{
    std::string x11, wayland;
    for (std::size_t start = 0; start < fields.size();) {
        std::size_t end = fields.find('\0', start);
        if (end == std::string::npos)
            end = fields.size();
        const std::string field = fields.substr(start, end - start);
        if (field.starts_with(kX11Field))
            x11 = field.substr(std::string(kX11Field).size());
        else if (field.starts_with(kWaylandField))
            wayland = field.substr(std::string(kWaylandField).size());
        start = end + 1;
    }
    // Recorded as the running instance wrote them, a Wayland socket's path
    // among them: there is nothing to resolve it against.
    return SessionDisplay(x11, wayland, {});
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

Failure ChannelRecord::write(const std::string& socketPath, const SessionDisplay& display) const
{
    std::string content = socketPath;
    appendField(content, kX11Field, display.x11());
    appendField(content, kWaylandField, display.wayland());
    std::string written = path() + ".XXXXXX";
    const UniqueFd file(::mkostemp(written.data(), O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, written);
    if (!UniqueFd::writeAll(file.get(), content.data(), content.size())
        || ::rename(written.c_str(), path().c_str()) != 0) {
        const int error = errno;
        ::unlink(written.c_str());
        return describeErrno(error, path());
    }
    return std::nullopt;
}

Failure ChannelRecord::read(std::string& socketPath, SessionDisplay& display) const
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
    const std::size_t fields = content.find('\0');
    std::string recorded = content.substr(0, fields);
    if (Failure refused = checkRecorded(recorded, path()))
        return refused;
    socketPath = std::move(recorded);
    display = fields == std::string::npos ? SessionDisplay() : displayIn(content.substr(fields + 1));
    return std::nullopt;
}

void ChannelRecord::remove() const
{
    if (::unlink(path().c_str()) != 0 && errno != ENOENT)
        Log::line(LogPrefix::kRecordLeftBehind + describeErrno(errno, path()));
}
