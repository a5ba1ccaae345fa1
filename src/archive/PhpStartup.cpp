#include "PhpStartup.h"

#include "FileManager.h"
#include "PathText.h"
#include "ShortProgram.h"

#include <QFile>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kSettings = "; Quillmere's writer: only the extensions it uses.\n"
                              "extension=zip\n"
                              "extension=iconv\n";
const char* const kClean = "clean";
const char* const kNotClean = "not clean";
const char* const kUnfinishedSuffix = ".new";
// Says nothing and ends with 0 only where both extensions are there.
const char* const kProbe = "exit(class_exists('ZipArchive') && function_exists('iconv') ? 0 : 3);";

} // namespace

PhpStartup::PhpStartup(std::string folder)
    : m_folder(std::move(folder))
{
}

PhpStartup PhpStartup::ofCurrentUser()
{
    // As the base directory rules say, a relative path there is ignored.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return PhpStartup(PathText::withoutTrailingSlashes(cache) + "/quillmere/php");
    // Nothing is made where there is no home folder.
    const std::string home = FileManager::homeDirectory();
    if (home == "/" || !FileManager::isDirectory(home))
        return PhpStartup({});
    return PhpStartup(home + "/.cache/quillmere/php");
}

// php is asked through Qt, which has the folder's name as text: a name that
// is not text would reach php otherwise than the writer gets it.
bool PhpStartup::isUsable() const
{
    const QByteArray name = QByteArray::fromStdString(m_folder);
    return m_folder.starts_with('/') && QFile::encodeName(QFile::decodeName(name)) == name;
}

std::optional<std::string> PhpStartup::environmentEntry() const
{
    if (!isUsable())
        return std::nullopt;
    const std::string identity = identityOfPhp();
    if (identity.empty() || recordedVerdict(identity) != true)
        return std::nullopt;
    return std::string(kVariable) + "=" + m_folder;
}

bool PhpStartup::checkIfNew() const
{
    if (!isUsable())
        return false;
    const std::string identity = identityOfPhp();
    if (identity.empty())
        return false;
    if (const std::optional<bool> verdict = recordedVerdict(identity))
        return *verdict;
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    if (error)
        return false;
    removeUnfinished();
    if (!writeFile(kSettingsName, kSettings))
        return false;
    const std::optional<bool> clean = startsCleanly();
    if (!clean)
        return false;
    // Where the verdict cannot be kept, the next job asks again.
    writeFile(kCheckName, identity + "\n" + (*clean ? kClean : kNotClean) + "\n");
    return *clean;
}

void PhpStartup::forgetVerdict() const
{
    if (isUsable())
        ::unlink((m_folder + "/" + kCheckName).c_str());
}

std::string PhpStartup::identityOfPhp()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("php"));
    if (found.isEmpty())
        return {};
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(QFile::encodeName(found).toStdString(), error);
    struct stat info {};
    if (error || ::stat(real.c_str(), &info) != 0)
        return {};
    return real.string() + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) + "."
        + std::to_string(info.st_mtim.tv_nsec);
}

std::optional<bool> PhpStartup::recordedVerdict(const std::string& identity) const
{
    // The verdict was on these settings: a file changed since (by hand, or
    // by another version of this program) is checked again.
    if (FileManager::readSmallFile(m_folder + "/" + kSettingsName) != kSettings)
        return std::nullopt;
    std::ifstream file(m_folder + "/" + kCheckName);
    std::string checked;
    std::string verdict;
    if (!std::getline(file, checked) || !std::getline(file, verdict) || checked != identity)
        return std::nullopt;
    if (verdict == kClean)
        return true;
    if (verdict == kNotClean)
        return false;
    return std::nullopt;
}

std::optional<bool> PhpStartup::startsCleanly() const
{
    return answer(kProbe, {std::string(kVariable) + "=" + m_folder}, true);
}

std::optional<bool> PhpStartup::answer(const char* program, const std::vector<std::string>& environment,
                                       bool silently)
{
    const std::optional<ShortProgram::Ended> ended = run(program, environment);
    if (!ended)
        return std::nullopt;
    return ended->status == 0 && (!silently || ended->said.empty());
}

std::optional<int> PhpStartup::status(const char* program, const std::vector<std::string>& environment)
{
    const std::optional<ShortProgram::Ended> ended = run(program, environment);
    return ended ? std::optional<int>(ended->status) : std::nullopt;
}

std::optional<ShortProgram::Ended> PhpStartup::run(const char* program, const std::vector<std::string>& environment)
{
    // A php that does not answer within seconds must not hold up the
    // application's end either, which waits for the thread that asks.
    const int kAnswerMs = 10000;
    return ShortProgram::run({"php", "-r", program}, environment, kAnswerMs);
}

// What a process killed while it wrote left: a process writing right now
// then fails to put its file in place, and its verdict is asked again.
void PhpStartup::removeUnfinished() const
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, error))
        if (entry.path().string().ends_with(kUnfinishedSuffix))
            std::filesystem::remove(entry.path(), error);
}

// Whole or not at all: another process may be reading it, or another
// thread or process writing it too.
bool PhpStartup::writeFile(const std::string& name, const std::string& text) const
{
    const std::string path = m_folder + "/" + name;
    const std::string fresh =
        path + "." + std::to_string(::getpid()) + "-" + std::to_string(::gettid()) + kUnfinishedSuffix;
    {
        std::ofstream file(fresh, std::ios::trunc);
        file << text;
        file.flush();
        if (!file) {
            file.close();
            ::unlink(fresh.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(fresh, path, error);
    if (error)
        ::unlink(fresh.c_str());
    return !error;
}
