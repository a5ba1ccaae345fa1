#include "AppDelegate.h"

#include "FileManager.h"
#include "PathText.h"
#include "JobQueue.h"
#include "UniqueFd.h"
#include "Util.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// The folder a relative path names, as the kernel knows it, when the
// working folder has been removed (getcwd fails, but ".." and what lies
// beyond still lead somewhere); nullopt for a folder that is gone or
// cannot be opened.
std::optional<std::string> folderByKernel(const std::string& folder)
{
    const UniqueFd opened(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.isOpen())
        return std::nullopt;
    std::error_code error;
    const std::string path = fs::read_symlink("/proc/self/fd/" + std::to_string(opened.get()), error).string();
    if (error || !path.starts_with('/') || path.ends_with(" (deleted)"))
        return std::nullopt;
    return path;
}

// A relative path below a removed working folder, made absolute by the
// folder that holds it; as given where that folder is gone too.
std::string absoluteByKernel(const std::string& path)
{
    if (const std::optional<std::string> folder = folderByKernel(path))
        return *folder;
    const fs::path given(path);
    const std::optional<std::string> parent
        = folderByKernel(given.has_parent_path() ? given.parent_path().string() : std::string("."));
    const std::string name = given.filename().string();
    return parent && !name.empty() && name != "." && name != ".." ? (fs::path(*parent) / name).string() : path;
}

// The item a path names, by its own name and the folder that holds it: a
// job takes its name from the last part and puts the archive beside it, so
// "." is the working folder by its name, not a folder called ".". What
// comes up to the last ".." is where the kernel goes, links and all ("link/.."
// is the folder that holds the link's target); "." and "//" change nothing.
// A path the kernel refuses ("typo/..", "file.txt/.") stays as given, so that
// the job tells why.
std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return absoluteByKernel(path);
    const std::vector<fs::path> parts(absolute.begin(), absolute.end());
    const bool plain = std::none_of(parts.begin() + 1, parts.end(),
                                    [](const fs::path& part) { return part.empty() || part == "." || part == ".."; });
    struct stat found {};
    if (plain || ::stat(absolute.c_str(), &found) != 0)
        return absolute.string();
    const auto lastUp = std::find(parts.rbegin(), parts.rend(), fs::path(".."));
    const auto rest = lastUp.base();
    fs::path result = absolute.root_path();
    if (lastUp != parts.rend()) {
        fs::path upTo;
        for (auto part = parts.begin(); part != rest; ++part)
            upTo /= *part;
        result = fs::canonical(upTo, error);
        if (error)
            return absolute.string();
    }
    for (auto part = rest == parts.begin() ? rest + 1 : rest; part != parts.end(); ++part) {
        if (!part->empty() && *part != ".")
            result /= *part;
    }
    return result.string();
}

} // namespace

AppDelegate::AppDelegate(JobQueue& jobs, StoredOptions storedOptions, QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
    , m_storedOptions(storedOptions ? std::move(storedOptions) : StoredOptions(&Util::loadSettingStatus))
{
}

void AppDelegate::openFiles(const std::vector<std::string>& paths)
{
    // Without items there is no first item to put the archive beside.
    if (paths.empty())
        return;
    m_jobs.enqueue(paths, PathText::parentFolder(paths.front()), m_storedOptions());
}

std::vector<std::string> AppDelegate::absolutePaths(const std::vector<std::string>& arguments)
{
    std::vector<std::string> paths;
    for (const std::string& argument : arguments) {
        if (argument.empty())
            continue;
        // An address copied from a browser or a file manager ("file:///...")
        // names the file it leads to, unless a relative path of that
        // spelling exists.
        struct stat found {};
        const std::optional<std::string> addressed = PathText::fromFileAddress(argument);
        paths.push_back(absolutePath(addressed && ::lstat(argument.c_str(), &found) != 0 ? *addressed : argument));
    }
    return paths;
}
