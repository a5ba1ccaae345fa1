#include "JobTimer.h"

#include "ConverterPath.h"
#include "EncryptScript.h"
#include "FileManager.h"
#include "PathText.h"
#include "SettingStatus.h"
#include "Util.h"
#include "WorkFolders.h"
#include "WriterCommand.h"
#include "WriterStep.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

const char* const kArchiveName = "archive.zip";
const double kApplicationTimeoutSeconds = 1800;

} // namespace

JobTimer::JobTimer(const std::string& workRoot, const std::string& applicationPath)
    : m_root(workRoot)
    , m_application(applicationPath)
    , m_converterFolder(ConverterPath::moduleFolder(PathText::parentFolder(applicationPath)))
{
    FileManager::createDirectory(m_root + "/logs");
}

ProcessTimer::Result JobTimer::runApplication(const std::string& item, bool encrypt) const
{
    // A start with files as arguments takes the stored options.
    Util::saveSettingStatus(SettingStatus{encrypt, kPassword, false});
    const std::string destination = PathText::parentFolder(item);
    removeIfPresent(destination + "/" + kArchiveName);
    ProcessTimer::Command command;
    command.arguments = {m_application, item};
    command.environment = {"QT_QPA_PLATFORM=offscreen"};
    command.logFile = m_root + "/logs/application.log";
    ProcessTimer::Result result =
        ProcessTimer::runUntilFileArrives(command, destination, kArchiveName, kApplicationTimeoutSeconds);
    if (!result.ok)
        result.failure += " (see " + command.logFile + ")";
    removeIfPresent(destination + "/" + kArchiveName);
    removeIfPresent(WorkFolders::ofCurrentUser().stagingFolder());
    return result;
}

WorkFolders JobTimer::writerFolders() const
{
    return WorkFolders(m_root + "/writer-home");
}

std::string JobTimer::writerArchivePath() const
{
    return writerFolders().archiveInOutput(kArchiveName);
}

// The writer alone reads the tree the application would stage, staged the
// same way.
void JobTimer::stageForWriter(const std::string& item) const
{
    removeIfPresent(writerFolders().stagingFolder());
    FileManager::createDirectory(writerFolders().stagingFolder(), 0700);
    Util::fixProhibitedCharacters(writerFolders(), {item}, [] { return false; });
}

std::vector<std::string> JobTimer::writerEnvironment(const std::vector<std::string>& extra) const
{
    // The application puts its converter module's folder in front of
    // GCONV_PATH before it starts any program; so does the benchmark.
    std::vector<std::string> environment = {"HOME=" + m_root + "/writer-home"};
    if (!m_converterFolder.empty()) {
        const char* existing = std::getenv("GCONV_PATH");
        environment.push_back("GCONV_PATH=" + m_converterFolder
                              + (existing && *existing ? std::string(":") + existing : std::string()));
    }
    // The writer alone runs as the application runs it, unless the
    // allocator study sets its own tunables.
    const bool ownTunables = std::any_of(extra.begin(), extra.end(),
                                         [](const std::string& e) { return e.starts_with("GLIBC_TUNABLES="); });
    if (!ownTunables) {
        const std::vector<std::string> writer = WriterStep::environment();
        environment.insert(environment.end(), writer.begin(), writer.end());
    }
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

ProcessTimer::Result JobTimer::runWriter(const std::vector<std::string>& environment, bool keepArchive) const
{
    removeIfPresent(writerArchivePath());
    ProcessTimer::Command command;
    command.arguments = {"/bin/sh", "-c", WriterCommand::text(writerFolders(), kArchiveName)};
    command.environment = writerEnvironment(environment);
    command.logFile = m_root + "/logs/writer.log";
    ProcessTimer::Result result = ProcessTimer::run(command);
    if (result.ok && !FileManager::exists(writerArchivePath())) {
        result.ok = false;
        result.failure = "the writer wrote no archive (see " + command.logFile + ")";
    }
    if (!keepArchive)
        removeIfPresent(writerArchivePath());
    return result;
}

ProcessTimer::Result JobTimer::runEncryptScript(const std::string& plainArchive,
                                                const std::vector<std::string>& environment) const
{
    const std::string destination = m_root + "/encrypted";
    FileManager::createDirectory(destination);
    removeIfPresent(destination + "/" + kArchiveName);
    removeIfPresent(writerArchivePath());
    std::filesystem::copy_file(plainArchive, writerArchivePath());
    ProcessTimer::Command command;
    command.arguments = {"/usr/bin/expect", "-c", EncryptScript::text(writerArchivePath(), destination + "/" + kArchiveName)};
    command.environment = writerEnvironment(environment);
    command.environment.push_back(std::string(EncryptScript::kPasswordVariable) + "=" + kPassword);
    command.logFile = m_root + "/logs/encrypt.log";
    ProcessTimer::Result result = ProcessTimer::run(command);
    if (result.ok && !FileManager::exists(destination + "/" + kArchiveName)) {
        result.ok = false;
        result.failure = "the script delivered no archive (see " + command.logFile + ")";
    }
    removeIfPresent(destination + "/" + kArchiveName);
    return result;
}

ProcessTimer::Result JobTimer::runZip(const std::string& item, const std::vector<std::string>& options) const
{
    const std::string folder = PathText::parentFolder(item);
    const std::string archive = folder + "/reference.zip";
    removeIfPresent(archive);
    ProcessTimer::Command command;
    command.arguments = {"zip"};
    command.arguments.insert(command.arguments.end(), options.begin(), options.end());
    command.arguments.push_back(archive);
    command.arguments.push_back(PathText::lastComponent(item));
    command.workingFolder = folder;
    command.logFile = m_root + "/logs/zip.log";
    ProcessTimer::Result result = ProcessTimer::run(command);
    removeIfPresent(archive);
    return result;
}

void JobTimer::removeIfPresent(const std::string& path) const
{
    if (FileManager::exists(path))
        FileManager::removeItem(path);
}
