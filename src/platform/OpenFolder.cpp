#include "OpenFolder.h"

#include "PathText.h"

#include <fcntl.h>

std::shared_ptr<const OpenFolder> OpenFolder::working()
{
    return std::shared_ptr<const OpenFolder>(new OpenFolder(UniqueFd(), {}));
}

std::shared_ptr<const OpenFolder> OpenFolder::open(const OpenFolder& parent, const std::string& name,
                                                   const std::string& path)
{
    UniqueFd fd(::openat(parent.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return nullptr;
    return std::shared_ptr<const OpenFolder>(new OpenFolder(std::move(fd), path));
}

int OpenFolder::fd() const
{
    return m_fd.isOpen() ? m_fd.get() : AT_FDCWD;
}

std::string OpenFolder::pathOf(const std::string& name) const
{
    return PathText::below(m_path, name);
}
