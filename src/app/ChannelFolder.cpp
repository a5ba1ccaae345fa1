#include "ChannelFolder.h"

#include "Log.h"
#include "LogPrefix.h"
#include "PathText.h"
#include "PrivateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool fitsSocketAddress(const std::string& path)
{
    return path.size() < sizeof(sockaddr_un::sun_path);
}

} // namespace

ChannelFolder::ChannelFolder(const std::vector<std::string>& candidates, const std::string& socketName)
{
    for (const std::string& folder : candidates) {
        if (takeCandidate(folder, socketName))
            return;
    }
    if (candidates.empty() || !makeFresh(candidates.back(), socketName))
        Log::line(LogPrefix::kInstanceUnavailable + std::string("no private folder for its channel"));
}

ChannelFolder::~ChannelFolder()
{
    if (!m_freshFolder.empty() && ::rmdir(m_freshFolder.c_str()) != 0)
        Log::line(LogPrefix::kChannelLeftBehind + describeErrno(errno, m_freshFolder));
}

bool ChannelFolder::takeCandidate(const std::string& folder, const std::string& socketName)
{
    const std::string path = folder + "/" + socketName;
    if (!fitsSocketAddress(path)) {
        Log::line(LogPrefix::kChannelTooLong + path);
        return false;
    }
    if (Failure error = PrivateFolder::make(folder)) {
        Log::line(LogPrefix::kChannelNotUsed + *error);
        return false;
    }
    m_socketPath = path;
    return true;
}

bool ChannelFolder::makeFresh(const std::string& besides, const std::string& socketName)
{
    std::string folder = besides + "-XXXXXX";
    if (!fitsSocketAddress(folder + "/" + socketName)) {
        Log::line(LogPrefix::kChannelNotMadeTooLong + folder + "/" + socketName);
        return false;
    }
    // mkdtemp makes the folder with mode 0700 and fails rather than take
    // one that is there, so nothing another user prepared is ever used.
    if (::mkdtemp(folder.data()) == nullptr) {
        Log::line(LogPrefix::kChannelNotMade + describeErrno(errno, folder));
        return false;
    }
    m_freshFolder = folder;
    m_socketPath = folder + "/" + socketName;
    return true;
}

Failure ChannelFolder::checkStillPrivate(const std::string& socketPath)
{
    return PrivateFolder::check(PathText::parentFolder(socketPath));
}
