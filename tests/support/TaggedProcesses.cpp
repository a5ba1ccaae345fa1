#include "TaggedProcesses.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

bool isNumber(const std::string& name)
{
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

// A zombie has ended; only its parent's wait is missing.
bool isZombie(const std::filesystem::path& process)
{
    const std::string stat = fileText(process / "stat");
    const auto afterName = stat.rfind(')');
    return afterName == std::string::npos || stat.compare(afterName, 3, ") Z") == 0;
}

bool carries(const std::filesystem::path& process, const std::string& tag)
{
    // The environment is a list of NUL-terminated "NAME=value" entries.
    const std::string environment = '\0' + fileText(process / "environ");
    return environment.find('\0' + tag + '\0') != std::string::npos;
}

} // namespace

TaggedProcesses::TaggedProcesses(std::string tag)
    : m_tag(std::move(tag))
{
}

TaggedProcesses::~TaggedProcesses()
{
    for (const pid_t pid : living())
        ::kill(pid, SIGKILL);
}

std::vector<pid_t> TaggedProcesses::living() const
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!isNumber(name) || std::stoi(name) == ::getpid())
            continue;
        if (carries(entry.path(), m_tag) && !isZombie(entry.path()))
            found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

std::vector<std::string> TaggedProcesses::names() const
{
    std::vector<std::string> found;
    for (const pid_t pid : living()) {
        std::string name = fileText("/proc/" + std::to_string(pid) + "/comm");
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        found.push_back(name);
    }
    return found;
}
