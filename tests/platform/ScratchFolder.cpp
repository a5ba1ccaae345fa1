#include "ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace {

void makeRemovable(const std::string& folder)
{
    ::chmod(folder.c_str(), 0700);
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            makeRemovable(it->path().string());
    }
}

} // namespace

ScratchFolder::ScratchFolder(const std::string& pattern)
{
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()))
        m_path = name.data();
}

ScratchFolder::~ScratchFolder()
{
    if (m_path.empty())
        return;
    makeRemovable(m_path);
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}
