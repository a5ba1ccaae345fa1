#include "BatchJob.h"

#include "AppDelegate.h"
#include "CommandLine.h"
#include "Failure.h"
#include "HiddenInput.h"
#include "JobQueue.h"
#include "Log.h"
#include "LogPrefix.h"
#include "OptionStore.h"
#include "PasswordRule.h"
#include "PathText.h"
#include "ReportLines.h"
#include "ReportJson.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// The first line of standard input, without its line break; nullopt when
// waitForInput gives up. Read a byte at a time: the rest of the input is not
// the password's.
std::optional<std::string> firstLine(const BatchJob::InputWait& waitForInput, std::string& readError)
{
    std::string text;
    for (;;) {
        if (waitForInput && !waitForInput(STDIN_FILENO))
            return std::nullopt;
        char byte = 0;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            // A folder, say: what the system says, not "empty".
            readError = "standard input cannot be read: " + describeErrno(errno, "standard input");
            return text;
        }
        if (got == 0) {
            // Nothing at all (/dev/null, Ctrl+D at once) is no empty line.
            if (text.empty())
                readError = "standard input ended before any line";
            return text;
        }
        if (byte == '\n')
            return text;
        text += byte;
    }
}

// The variable's value or the first line of standard input; nullopt when
// the prompt was given up.
std::optional<std::string> password(const CommandLine& line, const BatchJob::InputWait& waitForInput,
                                    std::string& readError)
{
    if (!line.passwordFromStdin)
        return line.passwordVariable;
    // Typed at a terminal, the password is not shown.
    std::optional<std::string> text;
    {
        const bool japanese = CommandLine::languageOfLocale() == CommandLine::Language::Japanese;
        const HiddenInput hidden(japanese ? "パスワード: " : "Password: ");
        text = firstLine(waitForInput, readError);
    }
    if (text && !text->empty() && text->back() == '\r')
        text->pop_back();
    return text;
}

// The working folder once it has been removed, as the kernel still knows
// it; nullopt while it is there. Nothing can be found nor made in a removed
// folder, though "." still names it to stat().
std::optional<std::string> removedWorkingFolder()
{
    char* current = ::getcwd(nullptr, 0);
    const bool exists = current != nullptr;
    std::free(current);
    if (exists)
        return std::nullopt;
    std::error_code error;
    std::string folder = std::filesystem::read_symlink("/proc/self/cwd", error).string();
    const std::string removed = " (deleted)";
    if (folder.size() > removed.size() && folder.compare(folder.size() - removed.size(), removed.size(), removed) == 0)
        folder.resize(folder.size() - removed.size());
    if (error || folder.empty() || folder.front() != '/')
        return std::string(".");
    return folder;
}

// Why a destination relative to a removed working folder is refused, naming
// it by where it would have been.
std::string whyRemovedFolderRefused(const std::string& destination, const std::string& removed)
{
    const std::string meant
        = PathText::withoutTrailingSlashes((std::filesystem::path(removed) / destination).lexically_normal().string());
    if (meant == removed)
        return describeErrno(ENOENT, removed) + " (the working folder has been removed)";
    if (PathText::isAtOrBelow(meant, removed))
        return describeErrno(ENOENT, meant) + " (the working folder " + removed + " has been removed)";
    return describeErrno(ENOENT, removed) + " (the working folder, which the destination " + destination
        + " starts from, has been removed)";
}

std::string destinationOf(const CommandLine& line, const std::vector<std::string>& paths)
{
    if (line.outputFolder.empty())
        return PathText::parentFolder(paths.front());
    std::string folder = std::filesystem::path(AppDelegate::absolutePaths({line.outputFolder}).front())
                             .lexically_normal()
                             .string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// Why the stored options cannot be relied on to say whether to encrypt, and
// with what; empty when they can.
std::string unreliable(OptionStore& stored)
{
    const SettingStatus options = stored.load();
    if (!stored.unreadable().empty())
        return stored.unreadable();
    if (options.isEncrypt && stored.passwordOutOfReach())
        return "the keyring where the password is kept could not be reached";
    return {};
}

} // namespace

BatchJob::BatchJob(JobQueue& jobs, WriteJson writeJson, QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
    , m_writeJson(std::move(writeJson))
{
    connect(&m_jobs, &JobQueue::jobFinished, this, &BatchJob::onJobFinished);
}

void BatchJob::start(const CommandLine& line, OptionStore& stored, const InputWait& waitForInput)
{
    const std::vector<std::string> paths = AppDelegate::absolutePaths(line.items);
    const std::string destination = paths.empty() ? std::string() : destinationOf(line, paths);
    std::optional<JobOutcome> refused;
    stored.leaveUnreadableToCaller();
    // The user may have asked for encryption there: an archive without a
    // password must not be what an unreadable file or a silent keyring
    // gives.
    if (const std::string why = line.encrypt ? std::string() : unreliable(stored); !why.empty()) {
        refused = JobOutcome::failed(JobPhase::ChoosingFolder,
                                     why + "; give --encrypt with QUILLMERE_PASSWORD or --password-stdin, "
                                           "or --no-encrypt",
                                     FailureCause::OptionsUnreadable);
    } else if (!destination.empty() && !destination.starts_with('/')) {
        // Left relative: it lies in a removed working folder, or below
        // one. Said before the job copies anything.
        if (const std::optional<std::string> removed = removedWorkingFolder())
            refused = JobOutcome::failed(JobPhase::Delivering, whyRemovedFolderRefused(destination, *removed),
                                         FailureCause::DestinationNotWritable);
    }
    if (refused) {
        if (!paths.empty())
            refused->firstItem = PathText::lastComponent(paths.front());
        Log::line(ReportLines::refused(*refused));
        onJobFinished(*refused);
        return;
    }
    SettingStatus options = stored.load();
    // Told where the job goes on without the file.
    stored.tellUnreadable();
    // No window is there to pick a folder in.
    options.isSelectDir = false;
    if (line.encrypt)
        options.isEncrypt = *line.encrypt;
    if (line.nameAfterItems)
        options.nameAfterItems = *line.nameAfterItems;
    if (line.encrypt.value_or(false)) {
        std::string readError;
        const std::optional<std::string> given = password(line, waitForInput, readError);
        if (!readError.empty()) {
            const JobOutcome refused
                = JobOutcome::failed(JobPhase::ChoosingFolder, readError, FailureCause::PasswordRefused);
            Log::line(ReportLines::refused(refused));
            onJobFinished(refused);
            return;
        }
        if (!given) {
            Log::line(LogPrefix::kStopped);
            onJobFinished(JobOutcome::stopped(JobPhase::ChoosingFolder));
            return;
        }
        options.password = *given;
    }
    m_passwordNeedsJapaneseWindows = options.isEncrypt && PasswordRule::needsJapaneseWindows(options.password);
    m_jobs.enqueue(paths, destination, options);
}

void BatchJob::stop()
{
    m_jobs.cancelRunning();
}

int BatchJob::exitStatusOf(const JobOutcome& outcome)
{
    if (outcome.kind != JobOutcome::Kind::Delivered)
        return kNothingDelivered;
    const JobReport& report = outcome.report;
    const bool changed = !report.renamed.empty() || !report.leftOut.empty() || !report.warnings.empty();
    return changed ? kDeliveredWithChanges : 0;
}

void BatchJob::onJobFinished(const JobOutcome& outcome)
{
    if (m_status)
        return;
    m_status = exitStatusOf(outcome);
    // As the window says it beside the password: the one who sends the
    // archive tells the receiver.
    if (outcome.kind == JobOutcome::Kind::Delivered && m_passwordNeedsJapaneseWindows)
        Log::line(std::string(LogPrefix::kPasswordNote)
                  + "the password holds characters beyond ASCII: the receiver types them as given on Japanese "
                    "Windows; Windows in other languages and macOS may not open the archive");
    if (m_writeJson && !m_writeJson(ReportJson::of(outcome) + "\n"))
        m_status = kReportNotWritten;
    emit ended(*m_status);
}
