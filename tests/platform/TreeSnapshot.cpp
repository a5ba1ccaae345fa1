#include "TreeSnapshot.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readLink(const std::string& path)
{
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buffer;
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string shown(const std::string& relative)
{
    return relative.empty() ? std::string("(top)") : relative;
}

std::string octal(unsigned mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

std::string timeText(const struct timespec& t)
{
    return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
}

// The permissions a copy must have: a folder stays writable for its owner.
unsigned expectedCopyMode(const struct stat& info)
{
    const unsigned mode = info.st_mode & 07777;
    return S_ISDIR(info.st_mode) ? (mode | S_IRWXU) : mode;
}

} // namespace

TreeSnapshot::TreeSnapshot(const std::string& top)
{
    add(top, "");
    struct stat info {};
    if (::lstat(top.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        const std::string full = entry.path().string();
        add(full, full.substr(top.size() + 1));
    }
}

void TreeSnapshot::add(const std::string& full, const std::string& relative)
{
    Item item;
    if (::lstat(full.c_str(), &item.info) != 0)
        return;
    if (S_ISREG(item.info.st_mode))
        item.content = readWhole(full);
    if (S_ISLNK(item.info.st_mode))
        item.linkTarget = readLink(full);
    m_items[relative] = item;
}

std::string TreeSnapshot::unchangedIn(const TreeSnapshot& later) const
{
    if (later.m_items.size() != m_items.size())
        return "the number of items changed from " + std::to_string(m_items.size()) + " to "
            + std::to_string(later.m_items.size());
    for (const auto& [relative, before] : m_items) {
        const auto found = later.m_items.find(relative);
        if (found == later.m_items.end())
            return shown(relative) + " is gone";
        const Item& after = found->second;
        if (after.info.st_ino != before.info.st_ino || after.info.st_dev != before.info.st_dev)
            return shown(relative) + " was replaced by another item";
        if (after.info.st_mode != before.info.st_mode)
            return shown(relative) + " changed mode from " + octal(before.info.st_mode) + " to "
                + octal(after.info.st_mode);
        if (!sameTime(after.info.st_mtim, before.info.st_mtim))
            return shown(relative) + " changed its modification time";
        if (after.content != before.content || after.info.st_size != before.info.st_size)
            return shown(relative) + " changed its data";
        if (after.linkTarget != before.linkTarget)
            return shown(relative) + " changed its link target";
    }
    return {};
}

std::string TreeSnapshot::copiedTo(const TreeSnapshot& copy) const
{
    if (copy.m_items.size() != m_items.size())
        return "the copy holds " + std::to_string(copy.m_items.size()) + " items instead of "
            + std::to_string(m_items.size());
    for (const auto& [relative, original] : m_items) {
        const auto found = copy.m_items.find(relative);
        if (found == copy.m_items.end())
            return shown(relative) + " is missing from the copy";
        const Item& copied = found->second;
        if ((copied.info.st_mode & S_IFMT) != (original.info.st_mode & S_IFMT))
            return shown(relative) + " has another file type in the copy";
        if (!S_ISLNK(original.info.st_mode)
            && (copied.info.st_mode & 07777) != expectedCopyMode(original.info))
            return shown(relative) + " has mode " + octal(copied.info.st_mode & 07777) + " instead of "
                + octal(expectedCopyMode(original.info));
        if (!sameTime(copied.info.st_mtim, original.info.st_mtim))
            return shown(relative) + " has modification time " + timeText(copied.info.st_mtim)
                + " instead of " + timeText(original.info.st_mtim);
        if (copied.content != original.content)
            return shown(relative) + " has other data in the copy";
        if (copied.linkTarget != original.linkTarget)
            return shown(relative) + " points elsewhere in the copy";
    }
    return {};
}
