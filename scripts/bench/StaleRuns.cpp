#include "StaleRuns.h"

#include "FileManager.h"
#include "ProcessIdentity.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <vector>

namespace {

const char* const kOwnerFile = "/owner";

bool ownerHasGone(const std::string& folder)
{
    std::ifstream in(folder + kOwnerFile);
    ProcessIdentity owner;
    if (!(in >> owner.pid >> owner.startTime))
        return false;
    return !owner.isAlive();
}

// The mount points below folder, the deepest first.
std::vector<std::string> mountsBelow(const std::string& folder)
{
    std::vector<std::string> found;
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point && std::getline(mounts, rest))
        if (point.starts_with(folder + "/"))
            found.push_back(point);
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return found;
}

} // namespace

void StaleRuns::own(const std::string& root)
{
    const ProcessIdentity self = ProcessIdentity::ofThisProcess();
    std::ofstream(root + kOwnerFile) << self.pid << ' ' << self.startTime << '\n';
}

void StaleRuns::removeIn(const std::string& tempFolder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(tempFolder, error)) {
        const std::string folder = entry.path().string();
        if (!entry.path().filename().string().starts_with(kPrefix) || !ownerHasGone(folder))
            continue;
        for (const std::string& point : mountsBelow(folder))
            ::umount2(point.c_str(), MNT_DETACH);
        if (!FileManager::removeItem(folder))
            std::fprintf(stderr, "removed what an interrupted run left: %s\n", folder.c_str());
    }
}
