#include "JobTimer.h"

#include "ConverterPath.h"
#include "EncryptScript.h"
#include "FileManager.h"
#include "PathText.h"
#include "PhpStartup.h"
#include "Util.h"
#include "WorkFolders.h"
#include "WriterCommand.h"
#include "WriterStep.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <filesystem>

namespace {

const char* const kArchiveName = "archive.zip";
const double kApplicationTimeoutSeconds = 1800;
const size_t kLogLinesShown = 12;

// The last lines of a failed run's log: the next run writes over it.
std::string tailOf(const std::string& logFile)
{
    std::ifstream in(logFile, std::ios::binary);
    std::deque<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
        if (lines.size() > kLogLinesShown)
            lines.pop_front();
    }
    std::string tail;
    for (const std::string& line : lines)
        tail += "    | " + line + "\n";
    return tail;
}

// A run that ended well but left no file where one was due failed.
void expectFile(ProcessTimer::Result& result, const std::string& path, const std::string& failure)
{
    if (result.ok && !FileManager::exists(path)) {
        result.ok = false;
        result.failure = failure;
    }
}

} // namespace

JobTimer::JobTimer(const std::string& workRoot, const std::string& applicationPath)
    : m_root(workRoot)
    , m_application(applicationPath)
    , m_converterFolder(ConverterPath::moduleFolder(PathText::parentFolder(applicationPath)))
{
    FileManager::createDirectory(m_root + "/logs");
}

ProcessTimer::Result JobTimer::runApplication(const std::string& item, bool encrypt, uint64_t* archiveBytes) const
{
    const std::string destination = PathText::parentFolder(item);
    removeIfPresent(destination + "/" + kArchiveName);
    ProcessTimer::Command command;
    command.arguments = {m_application, "--batch", encrypt ? "--encrypt" : "--no-encrypt", "--", item};
    command.environment = {"QT_QPA_PLATFORM=offscreen", std::string("QUILLMERE_PASSWORD=") + kPassword};
    command.logFile = m_root + "/logs/application.log";
    ProcessTimer::Result result =
        ProcessTimer::runUntilFileArrives(command, destination, kArchiveName, kApplicationTimeoutSeconds);
    if (!result.ok) {
        result.failure += " (see " + command.logFile + ")";
        std::fprintf(stderr, "  the application's last lines:\n%s", tailOf(command.logFile).c_str());
    }
    if (archiveBytes)
        *archiveBytes = FileManager::exists(destination + "/" + kArchiveName)
            ? FileManager::sizeOf(destination + "/" + kArchiveName) : 0;
    removeIfPresent(destination + "/" + kArchiveName);
    return result;
}

std::string JobTimer::applicationWorkFolder() const
{
    const char* home = std::getenv("HOME");
    return WorkFolders(home ? home : "").tmpDirectory();
}

WorkFolders JobTimer::writerFolders() const
{
    return WorkFolders(m_root + "/writer-home");
}

// The writer alone reads the tree the application would stage, staged the
// same way.
void JobTimer::stageForWriter(const std::string& item) const
{
    removeIfPresent(writerFolders().stagingFolder());
    FileManager::createDirectory(writerFolders().stagingFolder(), 0700);
    Util::fixProhibitedCharacters(writerFolders(), {item}, [] { return false; });
}

std::vector<std::string> JobTimer::writerEnvironment() const
{
    // The application puts its converter module's folder in front of
    // GCONV_PATH before it starts any program; so does the benchmark.
    std::vector<std::string> environment = {"HOME=" + m_root + "/writer-home"};
    if (!m_converterFolder.empty()) {
        const char* existing = std::getenv("GCONV_PATH");
        environment.push_back("GCONV_PATH=" + m_converterFolder
                              + (existing && *existing ? std::string(":") + existing : std::string()));
    }
    // The writer alone runs as the application runs it.
    const std::vector<std::string> writer = WriterStep::environment(PhpStartup::ofCurrentUser().environmentEntry());
    environment.insert(environment.end(), writer.begin(), writer.end());
    return environment;
}

ProcessTimer::Result JobTimer::writeArchive() const
{
    const std::string archive = writerFolders().archiveInOutput(kArchiveName);
    removeIfPresent(archive);
    ProcessTimer::Command command;
    command.arguments = {"/bin/sh", "-c", WriterCommand::text(writerFolders())};
    // php reads its program from standard input, as from the application.
    command.inputFile = m_root + "/writer-program.php";
    std::ofstream(command.inputFile, std::ios::binary | std::ios::trunc) << WriterCommand::program(kArchiveName);
    command.environment = writerEnvironment();
    command.logFile = m_root + "/logs/writer.log";
    ProcessTimer::Result result = ProcessTimer::run(command);
    expectFile(result, archive, "the writer wrote no archive (see " + command.logFile + ")");
    return result;
}

ProcessTimer::Result JobTimer::runWriter() const
{
    const ProcessTimer::Result result = writeArchive();
    removeIfPresent(writerFolders().archiveInOutput(kArchiveName));
    return result;
}

void JobTimer::prepareEncryption() const
{
    const std::string plain = m_root + "/plain.zip";
    removeIfPresent(plain);
    if (writeArchive().ok)
        FileManager::moveItem(writerFolders().archiveInOutput(kArchiveName), plain);
}

ProcessTimer::Result JobTimer::runEncryption() const
{
    const std::string archive = writerFolders().archiveInOutput(kArchiveName);
    const std::string encrypted = m_root + "/encrypted.zip";
    removeIfPresent(archive);
    removeIfPresent(encrypted);
    std::error_code error;
    if (!std::filesystem::copy_file(m_root + "/plain.zip", archive, error)) {
        ProcessTimer::Result failed;
        failed.failure = "no archive to encrypt: " + error.message();
        return failed;
    }
    ProcessTimer::Command command;
    command.arguments = {"/usr/bin/expect", "-c", EncryptScript::text(archive, encrypted)};
    command.environment = {std::string(EncryptScript::kPasswordVariable) + "=" + EncryptScript::hexOf(kPassword)};
    command.logFile = m_root + "/logs/encryption.log";
    ProcessTimer::Result result = ProcessTimer::run(command);
    expectFile(result, encrypted, "the encryption step made no archive (see " + command.logFile + ")");
    removeIfPresent(archive);
    removeIfPresent(encrypted);
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
