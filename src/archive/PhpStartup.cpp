#include "PhpStartup.h"

#include <QProcess>
#include <QStandardPaths>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kSettings = "; Quillmere's writer: only the extensions it uses.\n"
                              "extension=zip\n"
                              "extension=iconv\n";
const char* const kClean = "clean";
const char* const kNotClean = "not clean";
// Says nothing and ends with 0 only where both extensions are there.
const char* const kProbe = "exit(class_exists('ZipArchive') && function_exists('iconv') ? 0 : 3);";

} // namespace

PhpStartup::PhpStartup(std::string folder)
    : m_folder(std::move(folder))
{
}

PhpStartup PhpStartup::ofCurrentUser()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return PhpStartup(cache.toStdString() + "/quillmere/php");
}

std::optional<std::string> PhpStartup::environmentEntry() const
{
    const std::string identity = identityOfPhp();
    if (identity.empty() || recordedVerdict(identity) != true)
        return std::nullopt;
    return std::string(kVariable) + "=" + m_folder;
}

bool PhpStartup::checkIfNew() const
{
    const std::string identity = identityOfPhp();
    if (identity.empty())
        return false;
    if (const std::optional<bool> verdict = recordedVerdict(identity))
        return *verdict;
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    if (error || !writeFile(kSettingsName, kSettings))
        return false;
    const bool clean = startsCleanly();
    // Where the verdict cannot be kept, the next job asks again.
    writeFile(kCheckName, identity + "\n" + (clean ? kClean : kNotClean) + "\n");
    return clean;
}

std::string PhpStartup::identityOfPhp()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("php"));
    if (found.isEmpty())
        return {};
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(found.toStdString(), error);
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
    std::ifstream settings(m_folder + "/" + kSettingsName);
    const std::string inPlace((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
    if (inPlace != kSettings)
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

bool PhpStartup::startsCleanly() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromUtf8(kVariable), QString::fromStdString(m_folder));
    return runs(kProbe, environment, true);
}

bool PhpStartup::runs(const char* program, const QProcessEnvironment& environment, bool silently)
{
    // A php that does not answer within seconds is of no use either, and
    // must not hold up the application's end, which waits for the thread
    // that asks.
    const int kAnswerMs = 10000;
    QProcess php;
    php.setProcessEnvironment(environment);
    php.setProcessChannelMode(QProcess::MergedChannels);
    php.start(QStringLiteral("php"), {QStringLiteral("-r"), QString::fromUtf8(program)});
    if (!php.waitForFinished(kAnswerMs)) {
        php.kill();
        php.waitForFinished(1000);
        return false;
    }
    return php.exitStatus() == QProcess::NormalExit && php.exitCode() == 0 && (!silently || php.readAll().isEmpty());
}

// Whole or not at all: another process may be reading it, or another
// thread or process writing it too.
bool PhpStartup::writeFile(const std::string& name, const std::string& text) const
{
    const std::string path = m_folder + "/" + name;
    const std::string fresh = path + "." + std::to_string(::getpid()) + "-" + std::to_string(::gettid()) + ".new";
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
