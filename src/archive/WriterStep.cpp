#include "WriterStep.h"

#include "ArchiveCheck.h"
#include "BackgroundTask.h"
#include "ChildProcess.h"
#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PhpStartup.h"
#include "WriterCommand.h"
#include "ZipEntryFlags.h"

#include <QFutureWatcher>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace {

const int kPollMilliseconds = 200;
// Once php has started.
const int kWalkDelayMilliseconds = 50;
// How long php may read nothing before the staged links are asked; each
// time they are as staged, twice as long, up to a minute: php that lists a
// large tree on a slow share reads nothing for long, and the share is not
// to be asked about every file every two seconds.
const int kStallMilliseconds = 2000;
const int kLongestStallMilliseconds = 64000;
// The shell's status for a command it cannot find.
const int kCommandNotFound = 127;
const int kSignalStatusBase = 128;

} // namespace

WriterStep::WriterStep(const WorkFolders& folders, QObject* parent)
    : QObject(parent)
    , m_folders(folders)
    , m_writer(new ChildProcess(this))
{
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &WriterStep::waitForArchive);
    // When the writer ends the poll looks at once instead of at its next
    // firing.
    connect(m_writer, &ChildProcess::ended, this, &WriterStep::waitForArchive);
    connect(m_writer, &ChildProcess::ended, this, &WriterStep::programEnded, Qt::QueuedConnection);
    // php renames its finished archive into place some tens of milliseconds
    // before it has freed its memory and ended: the check can use that time.
    connect(&m_outputWatch, &QFileSystemWatcher::directoryChanged, this, &WriterStep::takeArchiveIfPresent);
}

WriterStep::~WriterStep()
{
    // The walk reads the staged files' list, which goes with the job.
    m_walkStop->store(true);
    m_orderWalk.waitForFinished();
    m_stallCheck.waitForFinished();
    // Both questions to php run php, which must not outlive the application.
    m_phpCheck.waitForFinished();
    m_phpAnswer.waitForFinished();
}

std::vector<std::string> WriterStep::environment(const std::optional<std::string>& extensions)
{
    // php's archive library allocates and frees its compression state for
    // every file it adds, and glibc hands that memory back to the kernel
    // each time only to ask for it again for the next file (three brk calls
    // a file): on trees of small files the writer then spends more time in
    // the kernel than compressing. A pad above the heap keeps the memory in
    // the process. Measured on 20,000 files of 1-4 KB: 1 MiB made it worse,
    // 4 MiB and more cut the writer's time from 14 s to 2.5 s; 16 MiB leaves
    // room. The heap is then also asked for huge pages where the system
    // gives them on request (transparent huge pages in "madvise" mode, as on
    // Debian): every first touch of a 4 KiB page is a page fault, and on
    // 20,000 files php took 5,000 of them; with huge pages 1,000, and the
    // writer's time fell from 1.87 to 1.81 s. Setting the pad also fixes
    // glibc's threshold for taking a block from the kernel on its own at
    // 128 KiB, where it would otherwise rise with use, and php asks for a
    // block of 128 KiB for every file: each came from mmap and went back
    // with munmap, 20,000 of each, and the writer spent 1.3 s in the kernel
    // instead of 0.5 s (3.0 s against 1.95 s in all). A threshold of 1 MiB
    // keeps those blocks in the heap too. The archive comes out byte for
    // byte the same either way.
    const char* existing = std::getenv("GLIBC_TUNABLES");
    const std::string pad = "glibc.malloc.top_pad=16777216:glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=1048576";
    std::vector<std::string> environment {"GLIBC_TUNABLES="
                                          + (existing && *existing ? std::string(existing) + ":" + pad : pad)};
    if (extensions)
        environment.push_back(*extensions);
    return environment;
}

void WriterStep::prepare()
{
    if (m_started)
        return;
    m_started = true;
    const PhpStartup php = PhpStartup::ofCurrentUser();
    const std::optional<std::string> extensions = php.environmentEntry();
    // A shell that cannot start has ended: the poll tells it, in the job's
    // one line, once the step has started.
    m_writer->takeInputLater();
    m_writer->start("/bin/sh", {"-c", WriterCommand::text(m_folders)}, environment(extensions));
    m_withExtensionsOnly = extensions.has_value();
    // A php not checked yet starts as configured; the check, beside the
    // job, is for the jobs after it.
    if (!extensions) {
        m_phpCheck = BackgroundTask::run([php] { return php.checkIfNew(); });
        auto* answered = new QFutureWatcher<bool>(this);
        connect(answered, &QFutureWatcher<bool>::finished, this, [this, answered] {
            answered->deleteLater();
            emit programEnded();
        });
        answered->setFuture(m_phpCheck);
    }
}

void WriterStep::start(const std::string& archiveName, uint64_t stagedBytes,
                       std::vector<StagedContent::EntryStamp> entryStamps, const std::vector<StagedFile>* stagedFiles)
{
    prepare();
    m_archivePath = m_folders.archiveInOutput(archiveName);
    m_stagedBytes = stagedBytes;
    m_entryStamps = std::move(entryStamps);
    m_stagedFiles = stagedFiles;
    emit progressChanged(0, {});
    m_outputWatch.addPath(QString::fromStdString(m_folders.outputFolder()));
    // php that has gone already tells nothing here: the poll finds it ended
    // without an archive.
    m_writer->sendInput(WriterCommand::program(archiveName));
    m_poll.start();
    if (m_writer->hasEnded())
        waitForArchive();
    QTimer::singleShot(kWalkDelayMilliseconds, this, &WriterStep::walkReadingOrder);
}

void WriterStep::waitForArchive()
{
    // Nothing to wait for before start().
    if (m_done || m_archivePath.empty())
        return;
    Log::line(LogPrefix::kPollTick);
    Log::line(m_archivePath);
    if (!FileManager::exists(m_archivePath)) {
        // php writes the archive before it exits: no archive now means
        // none will come.
        if (m_writer->hasEnded()) {
            fail(kEnded + writerEnd() + kNoArchive);
            return;
        }
        const uint64_t read = m_writer->bytesRead();
        if (m_stagedBytes > 0)
            emit progressChanged(std::min(0.99, double(read) / double(m_stagedBytes)), itemAt(read));
        checkWhenStalled(read);
        return;
    }
    takeArchive();
}

void WriterStep::checkWhenStalled(uint64_t bytesRead)
{
    if (!m_sinceRead.isValid() || bytesRead != m_lastRead) {
        m_lastRead = bytesRead;
        m_sinceRead.start();
        m_stallLimit = kStallMilliseconds;
        return;
    }
    if (!m_stagedFiles || m_sinceRead.elapsed() < m_stallLimit || m_stallCheck.isRunning())
        return;
    m_sinceRead.start();
    m_stallLimit = std::min(2 * m_stallLimit, kLongestStallMilliseconds);
    auto* checked = new QFutureWatcher<Failure>(this);
    connect(checked, &QFutureWatcher<Failure>::finished, this, [this, checked] {
        checked->deleteLater();
        onStallChecked(checked->result());
    });
    m_stallCheck = BackgroundTask::run([folder = m_folders.outputFolder(), files = m_stagedFiles, stop = m_walkStop] {
        return ArchiveCheck::changedLink(folder, *files, *stop);
    });
    checked->setFuture(m_stallCheck);
}

void WriterStep::onStallChecked(const Failure& changed)
{
    if (m_done || !changed)
        return;
    stopProgram();
    emitFailure(*changed, FailureCause::ItemChanged);
}

// Not with php's start, which it would only slow down, competing for a
// processor; a job done by then never needs it.
void WriterStep::walkReadingOrder()
{
    if (m_done || m_orderWalked)
        return;
    m_orderWalked = true;
    // All of it on the worker: the sizes of a large tree take a while too.
    // The staged files stay until this step goes, which waits for the walk.
    m_orderWalk = BackgroundTask::run([folder = m_folders.contentFolder(), files = m_stagedFiles, stop = m_walkStop] {
        const ReadingOrder::KnownSizes known = files ? ReadingOrder::sizesOf(*files, *stop) : ReadingOrder::KnownSizes();
        return ReadingOrder::of(folder, known, *stop);
    });
}

std::string WriterStep::itemAt(uint64_t bytesRead)
{
    walkReadingOrder();
    if (m_order.empty() && m_orderWalk.isValid() && m_orderWalk.isFinished()) {
        m_order = m_orderWalk.takeResult();
        m_orderWalk = {};
    }
    return m_order.itemAt(bytesRead);
}

void WriterStep::takeArchiveIfPresent()
{
    if (!m_done && FileManager::exists(m_archivePath))
        takeArchive();
}

// php writes the archive under a temporary name and renames it when it is
// complete: once it is there under its own name, nothing more is written.
void WriterStep::takeArchive()
{
    stopWaiting();
    if (Failure error = ZipEntryFlags::clearUtf8Names(m_archivePath, m_entryStamps)) {
        fail(*error);
        return;
    }
    emit progressChanged(1, {});
    emit succeeded();
}

// php runs under the shell, which tells php's end by a signal as 128 and
// the signal's number: told as what it was (9, the system short of memory;
// 25, the file size limit).
std::string WriterStep::writerEnd() const
{
    const int status = m_writer->exitCode();
    if (status > kSignalStatusBase && status < kSignalStatusBase + NSIG)
        return "was killed by signal " + std::to_string(status - kSignalStatusBase);
    return m_writer->exitDescription();
}

void WriterStep::fail(const std::string& description)
{
    stopWaiting();
    if (m_withExtensionsOnly)
        PhpStartup::ofCurrentUser().forgetVerdict();
    if (m_writer->startHitSystemLimit()) {
        emitFailure(description, FailureCause::SystemLimit);
        return;
    }
    if (m_writer->exitCode() == kCommandNotFound) {
        emitFailure(description, FailureCause::WriterMissing);
        return;
    }
    // Asking php takes as long as php needs to start: not on the window's
    // thread. The watcher goes with this step, and with it the answer; the
    // step waits for php to have answered before it goes.
    auto* check = new QFutureWatcher<bool>(this);
    connect(check, &QFutureWatcher<bool>::finished, this, [this, check, description] {
        check->deleteLater();
        emitFailure(description, check->result() ? FailureCause::Other : FailureCause::WriterMissing);
    });
    m_phpAnswer = BackgroundTask::run(&WriterStep::phpCanWriteArchives);
    check->setFuture(m_phpAnswer);
}

void WriterStep::emitFailure(const std::string& description, FailureCause cause)
{
    emit failed(JobOutcome::failed(JobPhase::Writing, description, cause));
}

bool WriterStep::phpCanWriteArchives()
{
    // Without php-zip, php runs but knows no ZipArchive, and says so with
    // status 3. Only that answer blames the package: a php that could not
    // be asked (no process to be had under the user's limits, no answer in
    // time) or that could not start for want of memory ("Out of memory",
    // status 255) is not to be reinstalled.
    const int kNoZipArchive = 3;
    return PhpStartup::status("exit(class_exists('ZipArchive') ? 0 : 3);") != kNoZipArchive;
}

// Whatever comes next, the archive is no longer waited for.
void WriterStep::stopWaiting()
{
    m_done = true;
    m_poll.stop();
    // Only the progress needed the reading order: a walk still going stops
    // (and is waited for when this step goes).
    m_order = {};
    m_walkStop->store(true);
    if (!m_outputWatch.directories().isEmpty())
        m_outputWatch.removePaths(m_outputWatch.directories());
}

void WriterStep::stopProgram()
{
    stopWaiting();
    m_writer->terminate();
}

bool WriterStep::isProgramRunning() const
{
    return (m_started && !m_writer->hasEnded()) || m_phpCheck.isRunning() || m_phpAnswer.isRunning();
}

bool WriterStep::waitForProgram(int milliseconds)
{
    return !m_started || m_writer->waitForEnded(milliseconds);
}
