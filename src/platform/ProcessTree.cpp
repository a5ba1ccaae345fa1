#include "ProcessTree.h"

#include "FileManager.h"
#include "PidListFile.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <unistd.h>

std::vector<pid_t> ProcessTree::descendants() const
{
    std::vector<pid_t> found;
    // A pid that is given again while we look could otherwise lead round in
    // a circle.
    std::set<pid_t> seen{m_root};
    std::vector<pid_t> pending{m_root};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        for (const pid_t child : childrenOf(parent)) {
            if (!seen.insert(child).second)
                continue;
            found.push_back(child);
            pending.push_back(child);
        }
    }
    return found;
}

uint64_t ProcessTree::bytesRead() const
{
    uint64_t total = bytesReadBy(m_root);
    for (const pid_t descendant : descendants())
        total += bytesReadBy(descendant);
    return total;
}

// A child is listed under the thread that started it, so every thread's
// list is read.
std::vector<pid_t> ProcessTree::childrenOf(pid_t pid)
{
    std::vector<pid_t> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (!folder)
        return children;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        PidListFile list((tasks + "/" + entry->d_name + "/children").c_str());
        while (const pid_t child = list.next())
            children.push_back(child);
    }
    ::closedir(folder);
    return children;
}

uint64_t ProcessTree::bytesReadBy(pid_t pid)
{
    const std::string text = FileManager::readSmallFile("/proc/" + std::to_string(pid) + "/io");
    const std::string key = "rchar:";
    const size_t at = text.starts_with(key) ? 0 : text.find("\n" + key);
    if (at == std::string::npos)
        return 0;
    return std::strtoull(text.c_str() + text.find(':', at) + 1, nullptr, 10);
}
