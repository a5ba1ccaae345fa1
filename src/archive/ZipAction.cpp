#include "ZipAction.h"

#include "ArchiveCheck.h"
#include "ArchiveFollower.h"
#include "ArchiveName.h"
#include "BackgroundTask.h"
#include "ContentBuilder.h"
#include "Cp932Name.h"
#include "Delivery.h"
#include "EncryptStep.h"
#include "Failure.h"
#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PasswordRule.h"
#include "ReportLines.h"
#include "SpaceCheck.h"
#include "Util.h"
#include "WorkJournal.h"
#include "WriterStep.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

struct ZipAction::Staged {
    std::optional<JobOutcome> refused;
    std::shared_ptr<WorkJournal> journal;
    StagedContent content;
    std::string baseName = ArchiveName::kDefault;
};

namespace {

FailureCause workFolderCause(int error)
{
    if (isSystemLimit(error))
        return FailureCause::SystemLimit;
    return error == ENOSPC || error == EDQUOT ? FailureCause::WorkFolderFull : FailureCause::WorkFolderFailed;
}

// atLeast: the bytes are a floor, not the whole need.
JobOutcome shortageOutcome(const SpaceCheck::Shortage& shortage, FailureCause cause, bool atLeast = false)
{
    JobOutcome outcome = JobOutcome::failed(JobPhase::Copying,
                                            "not enough free space: " + std::string(atLeast ? "at least " : "")
                                                + std::to_string(shortage.missing) + " more bytes are needed in "
                                                + shortage.folder,
                                            cause);
    outcome.spaceFolder = shortage.folder;
    outcome.bytesMissing = shortage.missing;
    return outcome;
}

// The writer and zipcloak tell only that they failed; a full disk or a
// missing program found afterwards is the cause, and the failure's one line
// names it, as the report does.
std::string causeNote(FailureCause cause, const std::string& workFolder, const std::string& destination)
{
    if (cause == FailureCause::WorkFolderFull)
        return "; no space left in " + workFolder;
    if (cause == FailureCause::DestinationFull)
        return "; no space left in " + destination;
    if (cause == FailureCause::WriterMissing || cause == FailureCause::EncryptorMissing)
        return std::string("; ") + ReportLines::causeText(cause);
    return {};
}

// The bytes this process has read so far, with every thread: the check
// reads the archive once, so its share is what grows while it runs.
uint64_t bytesReadByThisProcess()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return 0;
}

// The phase whose program is missing: php and its converter write, expect
// and zipcloak encrypt.
JobPhase phaseNeeding(FailureCause cause)
{
    return cause == FailureCause::EncryptorMissing ? JobPhase::Encrypting : JobPhase::Writing;
}

const int kProgressMilliseconds = 250;

} // namespace

ZipAction::ZipAction(ChooseFolder chooseFolder, QObject* parent)
    : QObject(parent)
    , m_chooseFolder(std::move(chooseFolder))
    , m_folders(WorkFolders::ofCurrentUser())
{
}

// Quitting, or a signal, ends a running job as stopping it does; the
// application is ending, so here it waits for what still works.
ZipAction::~ZipAction()
{
    m_abandoned->store(true);
    // The programs end first, so nothing writes into what is removed; their
    // supervisors end them within milliseconds.
    constexpr int kProgramEndMilliseconds = 2000;
    bool programsEnded = true;
    if (m_writer) {
        m_writer->stopProgram();
        programsEnded = m_writer->waitForProgram(kProgramEndMilliseconds);
    }
    if (m_encryptStep) {
        m_encryptStep->stopProgram();
        programsEnded = m_encryptStep->waitForProgram(kProgramEndMilliseconds) && programsEnded;
    }
    m_writer.reset();
    m_encryptStep.reset();
    // It reads the staged content, which goes with this.
    if (m_follower)
        m_follower->finish();
    for (QFutureWatcherBase* watcher : std::initializer_list<QFutureWatcherBase*>{
             m_staging.get(), m_moving.get(), m_checking.get(), m_changeCheck.get(), m_release.get(), m_cleaning.get()})
        if (watcher)
            watcher->waitForFinished();
    if (m_staging && !m_journal && m_staging->future().resultCount() > 0)
        m_journal = m_staging->result()->journal;
    // A program that would not end may still write there: the next start
    // removes what the journal names, once this process has gone.
    if (m_journal && !m_cleaning && programsEnded)
        m_journal->removeAll();
    else if (m_journal && !m_cleaning)
        Log::line(LogPrefix::kCleanup + std::string("left for the next start: a program of the job did not end"));
}

void ZipAction::createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                          const std::string& password)
{
    m_destDir = destDir;
    m_isEncrypt = isEncrypt;
    // zipcloak and the check both get the bytes Japanese Windows makes of
    // the typed password; one it cannot make is refused before any work.
    if (isEncrypt) {
        const PasswordRule::Problem problem = PasswordRule::check(password);
        if (problem != PasswordRule::Problem::None) {
            refuse(JobOutcome::failed(JobPhase::Encrypting, PasswordRule::describe(problem),
                                      FailureCause::PasswordRefused));
            return;
        }
        m_password = *PasswordRule::windowsBytes(password);
    }
    m_folders = WorkFolders::ofCurrentUser().forNewJob();
    Log::line(LogPrefix::kWorkRoot + m_folders.tmpDirectory());
    FailureCause cause = FailureCause::Other;
    if (Failure missing = missingProgram(cause)) {
        refuse(JobOutcome::failed(phaseNeeding(cause), *missing, cause));
        return;
    }
    // Items that are all gone are told as such: their folder, which the
    // archive would go into, is often gone with them.
    const bool anyItem = std::any_of(paths.begin(), paths.end(), &FileManager::exists);
    if (std::optional<JobOutcome> refused = anyItem ? refusedDestination() : std::nullopt) {
        refuse(*refused);
        return;
    }
    stage(paths);
}

void ZipAction::selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                      const std::string& password)
{
    enterPhase(JobPhase::ChoosingFolder);
    if (!m_chooseFolder) {
        refuse(JobOutcome::failed(JobPhase::ChoosingFolder, "no folder chooser is available"));
        return;
    }
    QPointer<ZipAction> self(this);
    m_chooseFolder(destDir, [self, paths, destDir, isEncrypt, password](bool accepted, const std::string& folder) {
        if (!self || self->m_finished)
            return;
        if (!accepted) {
            self->finish(JobOutcome::cancelled());
            return;
        }
        self->createZip(paths, folder.empty() ? destDir : folder, isEncrypt, password);
    });
}

void ZipAction::stop()
{
    if (m_finished)
        return;
    Log::line(LogPrefix::kStopped);
    finish(JobOutcome::stopped(m_phase));
}

// Step 1: the content folder. Linking a large tree takes a while: it runs
// off the main thread so the window stays responsive.
void ZipAction::stage(const Paths& paths)
{
    enterPhase(JobPhase::Copying);
    m_staging = std::make_unique<QFutureWatcher<std::shared_ptr<Staged>>>();
    connect(m_staging.get(), &QFutureWatcher<std::shared_ptr<Staged>>::finished, this, &ZipAction::onStaged);
    // php starts up while the content is staged; the job, on this thread,
    // starts it. The job outlives the staging (its destructor waits for it),
    // and a call still queued when it goes goes with it.
    const auto outputReady = [this] {
        QMetaObject::invokeMethod(this, &ZipAction::prepareWriter, Qt::QueuedConnection);
    };
    m_staging->setFuture(BackgroundTask::run([paths, folders = m_folders, abandoned = m_abandoned,
                                            nameAfterItems = m_nameAfterItems, outputReady] {
        auto staged = std::make_shared<Staged>(stageItems(paths, folders, abandoned, outputReady));
        // Looked at here: naming may look at the item, which can be slow.
        if (nameAfterItems)
            staged->baseName = ArchiveName::forItems(paths);
        return staged;
    }));
}

ZipAction::Staged ZipAction::stageItems(const Paths& paths, const WorkFolders& folders,
                                        const std::shared_ptr<std::atomic_bool>& abandoned,
                                        const std::function<void()>& outputReady)
{
    Staged staged;
    // A folder that is not safe to use is refused; one that cannot be made
    // (no space, a home folder without write permission) failed.
    int systemError = 0;
    if (Failure refused = folders.makePrivate(&systemError)) {
        staged.refused = JobOutcome::failed(JobPhase::Copying, *refused,
                                            systemError == 0 ? FailureCause::WorkFolderRefused
                                                             : workFolderCause(systemError));
        return staged;
    }
    // What killed jobs left behind goes first: its space may be needed.
    WorkJournal::removeLeftovers(folders);
    const auto isAbandoned = [abandoned] { return abandoned->load(); };
    const std::string staging = folders.stagingFolder();
    staged.journal = std::make_shared<WorkJournal>(folders);
    if (Failure error = staged.journal->intend(WorkJournal::Kind::Staging, staging, &systemError)) {
        staged.refused = JobOutcome::failed(JobPhase::Copying, *error, workFolderCause(systemError));
        return staged;
    }
    if (::mkdir(staging.c_str(), 0700) != 0) {
        // The refusal's own line tells it.
        const int error = errno;
        staged.refused = JobOutcome::failed(JobPhase::Copying, describeErrno(error, staging), workFolderCause(error));
        return staged;
    }
    staged.journal->made(staging);
    // Inside the staging folder, it goes with it.
    if (::mkdir(folders.outputFolder().c_str(), 0700) == 0)
        outputReady();
    // Which links the work folder takes is tried in the job's own folder,
    // so that a job killed meanwhile leaves nothing the next start misses.
    const SpaceCheck::WorkLinks links = SpaceCheck::linksIn(staging);
    const uint64_t copies = SpaceCheck::bytesToCopy(paths, links, isAbandoned);
    if (const auto shortage = SpaceCheck::shortageFor(folders.tmpDirectory(), copies)) {
        staged.refused = shortageOutcome(*shortage, FailureCause::WorkFolderFull);
        return staged;
    }
    const bool inMemory = wantsMemory(paths, links) && makeMemoryFolder(folders, *staged.journal);
    staged.content = Util::fixProhibitedCharacters(folders, paths, isAbandoned, inMemory);
    return staged;
}

// Files that the work folder cannot hard-link are staged as symbolic
// links, and a new inode on a disk costs far more than one in memory.
bool ZipAction::wantsMemory(const Paths& paths, const SpaceCheck::WorkLinks& links)
{
    return !links.hard || std::ranges::any_of(paths, [&](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && info.st_dev != links.device;
    });
}

// The job's memory folder, written down before it is made like the staging
// folder. Without it, the content is built on disk.
bool ZipAction::makeMemoryFolder(const WorkFolders& folders, WorkJournal& journal)
{
    const std::string memory = folders.memoryFolder();
    if (folders.makeMemoryRootPrivate() || journal.intend(WorkJournal::Kind::Staging, memory)
        || ::mkdir(memory.c_str(), 0700) != 0)
        return false;
    journal.made(memory);
    return true;
}

void ZipAction::onStaged()
{
    const std::shared_ptr<Staged> staged = m_staging->result();
    m_journal = staged->journal;
    if (m_finished) {
        cleanUpWhenIdle();
        return;
    }
    m_content = std::move(staged->content);
    m_baseName = staged->baseName;
    // php's archive is moved into the destination folder: a rename, or a
    // copy where the two lie on different file systems.
    struct stat output {}, destination {};
    m_copiedAcross = !m_isEncrypt && ::stat(m_folders.outputFolder().c_str(), &output) == 0
        && ::stat(m_destDir.c_str(), &destination) == 0 && output.st_dev != destination.st_dev;
    if (staged->refused) {
        refuse(*staged->refused);
        return;
    }
    if (m_content.workFolderError != 0) {
        JobOutcome outcome = JobOutcome::failed(JobPhase::Copying, m_content.workFolderFailure,
                                                workFolderCause(m_content.workFolderError));
        outcome.spaceFolder = m_folders.tmpDirectory();
        // Its one line was written where it happened.
        fail(outcome);
        return;
    }
    if (!m_content.changedItem.empty()) {
        Log::line(LogPrefix::kFixNames + m_content.changedItem);
        fail(JobOutcome::failed(JobPhase::Copying, m_content.changedItem, FailureCause::ItemChanged));
        return;
    }
    // Nor when the writer would add no entry: a folder whose only files it
    // leaves out (their names hold ".DS_Store") is not empty to it, and
    // gets no entry of its own either. It would write no archive at all.
    if (m_content.report.fileCount + m_content.report.folderCount == 0 || m_content.expectedEntries.empty()) {
        // Each item, and why it could not be taken; then the refusal.
        for (const std::string& line : ReportLines::leftOut(m_content.report))
            Log::line(line);
        refuse(JobOutcome::failed(JobPhase::Copying, "none of the items can go into the archive", FailureCause::NothingToArchive));
        return;
    }
    if (std::optional<JobOutcome> refused = archivePathTooLong()) {
        refuse(*refused);
        return;
    }
    if (std::optional<JobOutcome> shortage = spaceShortage()) {
        refuse(*shortage);
        return;
    }
    write();
}

// Started while the content is staged, or else as it is written.
void ZipAction::prepareWriter()
{
    if (m_finished || m_writer)
        return;
    m_writer = std::make_unique<WriterStep>(m_folders);
    connect(m_writer.get(), &WriterStep::progressChanged, this, &ZipAction::reportProgress);
    connect(m_writer.get(), &WriterStep::failed, this, [this](JobOutcome outcome) {
        // php gives up on a file that went away while it worked: then that
        // is the failure told, in the writer's one line.
        const Failure changed = outcome.cause == FailureCause::Other
            ? ArchiveCheck::changedItem(m_folders.outputFolder(), m_content.linkedFiles, *m_abandoned)
            : std::nullopt;
        if (changed && ArchiveCheck::isChangedItem(*changed)) {
            outcome.cause = FailureCause::ItemChanged;
            outcome.description = *changed;
        }
        // A writer that ends without an archive met a write error. The disk
        // it filled is seen full, or, once php has removed its unfinished
        // file, without room for the archive the data could make.
        const int entries = m_content.report.fileCount + m_content.report.folderCount;
        if (outcome.cause == FailureCause::Other
            && SpaceCheck::isFull(m_folders.tmpDirectory(), SpaceCheck::archiveBound(m_content.totalBytes, entries))) {
            outcome.cause = FailureCause::WorkFolderFull;
            outcome.spaceFolder = m_folders.tmpDirectory();
        }
        Log::line(LogPrefix::kWriter + outcome.description + causeNote(outcome.cause, m_folders.tmpDirectory(), m_destDir));
        fail(outcome);
    });
    connect(m_writer.get(), &WriterStep::succeeded, this, &ZipAction::releaseContent);
    connect(m_writer.get(), &WriterStep::succeeded, this, m_isEncrypt ? &ZipAction::encrypt : &ZipAction::moveToDestination);
    connect(m_writer.get(), &WriterStep::programEnded, this, &ZipAction::cleanUpWhenIdle);
    m_writer->prepare();
}

// Step 2: php writes the archive into the output folder.
void ZipAction::write()
{
    enterPhase(JobPhase::Writing);
    // The writer's own name is always one of the plain archive names: the
    // writer's program holds it, and a name taken from the user's items
    // could hold anything. The items' name is given at delivery.
    m_archiveName = Delivery::freeArchiveName(m_destDir);
    prepareWriter();
    // The archive php writes is the one read back only when nothing
    // encrypts it afterwards: then it is read while php writes it (and
    // otherwise zipcloak's copy while zipcloak writes it).
    if (!m_isEncrypt) {
        m_follower = std::make_shared<ArchiveFollower>(m_folders.outputFolder(), m_archiveName, m_content, m_abandoned);
        m_follower->start();
    }
    m_writer->start(m_archiveName, m_content.totalBytes, m_content.entryStamps, &m_content.linkedFiles);
}

// Step 3, when asked: zipcloak encrypts, and mv moves the archive into the
// destination folder under its hidden name.
void ZipAction::encrypt()
{
    if (!claimPartPath(JobPhase::Encrypting))
        return;
    m_encryptStep = std::make_unique<EncryptStep>();
    connect(m_encryptStep.get(), &EncryptStep::progressChanged, this, [this](double fraction) { reportProgress(fraction); });
    connect(m_encryptStep.get(), &EncryptStep::failed, this, [this](JobOutcome outcome) {
        // Once mv copies, the archive was encrypted: what failed is saving it.
        const bool copyingOut = m_encryptStep->isCopyingOut();
        if (copyingOut)
            outcome.failedIn = JobPhase::Delivering;
        const uint64_t archiveBytes = archiveBytesAtDestination();
        // zipcloak writes its copy beside php's archive, in the work folder;
        // mv's copy takes no room there.
        if (!copyingOut && outcome.cause == FailureCause::Other
            && SpaceCheck::isFull(m_folders.tmpDirectory(), archiveBytes)) {
            outcome.cause = FailureCause::WorkFolderFull;
            outcome.spaceFolder = m_folders.tmpDirectory();
        }
        if (outcome.cause == FailureCause::Other)
            outcome.cause = Delivery::destinationCause(m_destDir, archiveBytes);
        Log::line(LogPrefix::kEncrypt + outcome.description + causeNote(outcome.cause, m_folders.tmpDirectory(), m_destDir));
        fail(outcome);
    });
    connect(m_encryptStep.get(), &EncryptStep::succeeded, this, [this] {
        // The record is written while the archive is read back.
        verify();
        m_journal->made(m_partPath);
    });
    connect(m_encryptStep.get(), &EncryptStep::programEnded, this, &ZipAction::cleanUpWhenIdle);
    // zipcloak's copy is read while zipcloak writes it, as php's archive is
    // in a plain job.
    m_follower = std::make_shared<ArchiveFollower>(m_folders.outputFolder(), m_archiveName, m_content, m_abandoned,
                                                   m_password);
    m_follower->start();
    m_encryptStep->encryptZip(m_folders.archiveInOutput(m_archiveName), m_partPath, m_password);
}

// Step 3 otherwise: the application moves the archive itself. Into another
// file system (a USB stick, a network share) that is a copy, which takes as
// long as the destination needs: it runs off the main thread, so the window
// stays responsive, and stopping the job stops it and takes the half-made
// copy away.
void ZipAction::moveToDestination()
{
    if (!claimPartPath(JobPhase::Delivering))
        return;
    const std::string archive = m_folders.archiveInOutput(m_archiveName);
    m_moving = std::make_unique<QFutureWatcher<Failure>>();
    connect(m_moving.get(), &QFutureWatcher<Failure>::finished, this, &ZipAction::onMoved);
    m_archiveBytes = FileManager::sizeOf(archive);
    m_movedBytes->store(0);
    m_moveProgress = std::make_unique<QTimer>();
    m_moveProgress->setInterval(kProgressMilliseconds);
    connect(m_moveProgress.get(), &QTimer::timeout, this, &ZipAction::reportMoveProgress);
    m_moveProgress->start();
    m_moving->setFuture(BackgroundTask::run([archive, part = m_partPath, abandoned = m_abandoned, moved = m_movedBytes] {
        return FileManager::moveItem(archive, part, [abandoned, moved](uint64_t copied) {
            moved->store(copied);
            return abandoned->load();
        });
    }));
}

void ZipAction::onMoved()
{
    m_moveProgress.reset();
    // A stopped job's copy took its half-made part away; the journal takes
    // one that was whole by then.
    if (m_finished) {
        cleanUpWhenIdle();
        return;
    }
    if (Failure error = m_moving->result()) {
        // The archive is there: what is missing is the destination folder,
        // or the right to write into it. A rename tells its refusal without
        // saying which side refused, and the archive's side is ours.
        if (!FileManager::exists(m_destDir))
            error = describeErrno(ENOENT, m_destDir);
        else if (::access(m_destDir.c_str(), W_OK | X_OK) != 0)
            error = describeErrno(errno, m_destDir);
        Log::line(LogPrefix::kCopy + *error + LogPrefix::kErrorFilePath + m_destDir);
        const uint64_t archiveBytes = FileManager::sizeOf(m_folders.archiveInOutput(m_archiveName));
        fail(JobOutcome::failed(JobPhase::Delivering, *error, Delivery::destinationCause(m_destDir, archiveBytes)));
        return;
    }
    // The record is written while the archive is read back.
    verify();
    m_journal->made(m_partPath);
}

// The start of step 3 either way: the archive must fit the destination, and
// the hidden name it arrives under is taken.
bool ZipAction::claimPartPath(JobPhase phase)
{
    enterPhase(phase);
    if (!destinationHoldsArchive())
        return false;
    const std::optional<std::string> part = newPartPath();
    if (!part)
        return false;
    m_partPath = *part;
    return true;
}

// An archive larger than the destination's file system holds any file
// (a FAT stick: 4 GB) is refused before it is copied there for nothing.
bool ZipAction::destinationHoldsArchive()
{
    const uint64_t bytes = archiveBytesAtDestination();
    if (Delivery::holdsFileOf(m_destDir, bytes))
        return true;
    const std::string description = "the archive (" + std::to_string(bytes)
        + " bytes) is larger than a file can be on the destination's file system: " + m_destDir;
    Log::line(LogPrefix::kCopy + description);
    fail(JobOutcome::failed(m_phase, description, FailureCause::DestinationFileTooLarge));
    return false;
}

// The archive as it arrives: zipcloak puts 12 bytes of its own before the
// data of each file it encrypts.
uint64_t ZipAction::archiveBytesAtDestination() const
{
    constexpr uint64_t kEncryptionHeaderBytes = 12;
    const uint64_t written = FileManager::sizeOf(m_folders.archiveInOutput(m_archiveName));
    return written + (m_isEncrypt ? kEncryptionHeaderBytes * static_cast<uint64_t>(m_content.report.fileCount) : 0);
}

// The hidden name the archive arrives under, written down before anything
// is there, so that a job killed on the way leaves nothing behind for good.
// Where it cannot be written down, nothing is put there.
std::optional<std::string> ZipAction::newPartPath()
{
    const std::string part = m_destDir + "/" + Delivery::partName(m_destDir);
    if (Failure error = m_journal->intend(WorkJournal::Kind::Part, part)) {
        Log::line(LogPrefix::kJournal + *error);
        JobOutcome outcome = JobOutcome::failed(m_phase, *error, FailureCause::WorkFolderFull);
        if (!SpaceCheck::isFull(m_folders.tmpDirectory(), SpaceCheck::archiveBound(0, 1)))
            outcome.cause = FailureCause::WorkFolderFailed;
        outcome.spaceFolder = m_folders.tmpDirectory();
        fail(outcome);
        return std::nullopt;
    }
    return part;
}

// Step 4: the archive in the destination folder reads back as it must.
void ZipAction::verify()
{
    enterPhase(JobPhase::Verifying);
    Delivery::giveUsualMode(m_partPath);
    m_checking = std::make_unique<QFutureWatcher<Failure>>();
    connect(m_checking.get(), &QFutureWatcher<Failure>::finished, this, &ZipAction::onVerified);
    const std::optional<std::string> password = m_isEncrypt ? std::optional(m_password) : std::nullopt;
    m_checkedBytes = FileManager::sizeOf(m_partPath);
    // A plain job's copy waited for the disk as it went; mv's did not.
    m_writeOutBytes = m_isEncrypt && Delivery::isOnAnotherDisk(m_partPath, m_folders.outputFolder()) ? m_checkedBytes : 0;
    m_readBeforeCheck = bytesReadByThisProcess();
    m_checkProgress = std::make_unique<QTimer>();
    m_checkProgress->setInterval(kProgressMilliseconds);
    connect(m_checkProgress.get(), &QTimer::timeout, this, &ZipAction::reportCheckProgress);
    m_checkProgress->start();
    m_checking->setFuture(BackgroundTask::run([part = m_partPath, expected = &m_content.expectedEntries, password,
                                             abandoned = m_abandoned, follower = m_follower,
                                             work = m_folders.outputFolder(), writtenOut = m_writtenOut] {
        const Delivery::WriteOutStep step = [&](uint64_t bytes) {
            writtenOut->store(bytes);
            return abandoned->load();
        };
        if (Failure unwritten = Delivery::writeOut(part, work, step))
            return unwritten;
        writtenOut->store(std::numeric_limits<uint64_t>::max());
        const std::shared_ptr<const FollowedArchive> followed = follower ? follower->finish() : nullptr;
        return ArchiveCheck::verify(part, *expected, password, abandoned, followed.get());
    }));
}

// The writer has closed the archive and reads no more of the staged tree.
// A file gone before the writer listed it is missing from the archive, one
// replaced is there with other data: that is asked of the staged files
// while the archive is moved, encrypted and read back, and then the tree
// goes.
void ZipAction::releaseContent()
{
    m_changeCheck = std::make_unique<QFutureWatcher<Failure>>();
    connect(m_changeCheck.get(), &QFutureWatcher<Failure>::finished, this, [this] {
        // The tree goes when the job has ended: until then both processors
        // have better to do (beside zipcloak the other follows its copy,
        // and a read-back needs both), and the user waits for that.
        if (m_finished)
            startRelease();
        onVerified();
    });
    // Only php's follower asks about staged files.
    std::shared_ptr<ArchiveFollower> phpFollower = m_isEncrypt ? nullptr : m_follower;
    m_changeCheck->setFuture(BackgroundTask::run([files = &m_content.linkedFiles, output = m_folders.outputFolder(),
                                                abandoned = m_abandoned, follower = std::move(phpFollower)] {
        // What the follower asked need not be asked again.
        const std::shared_ptr<const FollowedArchive> followed = follower ? follower->finish() : nullptr;
        if (followed && followed->change)
            return followed->change;
        return ArchiveCheck::changedItem(output, *files, *abandoned, followed ? &followed->asked : nullptr);
    }));
}

// Only once the change check has done with the staged tree.
void ZipAction::startRelease()
{
    if (m_release || !m_changeCheck || !m_changeCheck->isFinished())
        return;
    m_release = std::make_unique<QFutureWatcher<void>>();
    connect(m_release.get(), &QFutureWatcher<void>::finished, this, &ZipAction::cleanUpWhenIdle);
    m_release->setFuture(BackgroundTask::run([folders = m_folders] { ContentBuilder::release(folders); }));
}

void ZipAction::reportMoveProgress()
{
    if (m_archiveBytes == 0 || !m_moving || !m_moving->isRunning())
        return;
    if (const uint64_t moved = m_movedBytes->load(); moved > 0)
        reportProgress(std::min(0.99, double(moved) / double(m_archiveBytes)));
}

void ZipAction::reportCheckProgress()
{
    if (m_checkedBytes == 0 || !m_checking || !m_checking->isRunning())
        return;
    const uint64_t read = bytesReadByThisProcess();
    const uint64_t readBack = read > m_readBeforeCheck ? read - m_readBeforeCheck : 0;
    const uint64_t writtenOut = std::min(m_writtenOut->load(), m_writeOutBytes);
    if (readBack + writtenOut > 0)
        reportProgress(std::min(0.99, double(writtenOut + readBack) / double(m_writeOutBytes + m_checkedBytes)));
}

// Called when the read-back or the change check ends: the verdict waits
// for both.
void ZipAction::onVerified()
{
    if (m_finished) {
        m_checkProgress.reset();
        cleanUpWhenIdle();
        return;
    }
    if (m_verdictGiven || !m_checking || !m_checking->isFinished() || !m_changeCheck || !m_changeCheck->isFinished())
        return;
    m_verdictGiven = true;
    m_checkProgress.reset();
    // A changed file explains a check that failed; it is told first.
    if (const Failure changed = m_changeCheck->result()) {
        Log::line(LogPrefix::kVerify + *changed);
        fail(JobOutcome::failed(JobPhase::Verifying, *changed, FailureCause::ItemChanged));
        return;
    }
    if (const Failure failure = m_checking->result()) {
        Log::line(LogPrefix::kVerify + *failure);
        // A destination gone meanwhile (a stick pulled out) is what the
        // user can mend; the archive is not to blame.
        const bool gone = Delivery::destinationCause(m_destDir, 0) == FailureCause::DestinationNotWritable;
        fail(JobOutcome::failed(JobPhase::Verifying, *failure,
                                gone ? FailureCause::DestinationNotWritable : FailureCause::VerificationFailed));
        return;
    }
    deliver();
}

// Step 5: the archive takes the first free archive name; one taken while
// the job ran is passed over, never replaced.
void ZipAction::deliver()
{
    enterPhase(JobPhase::Delivering);
    std::string finalPath;
    if (Failure error = Delivery::placeUnderFreeName(m_partPath, m_destDir, finalPath, m_baseName, *m_journal)) {
        Log::line(LogPrefix::kDeliver + *error);
        fail(JobOutcome::failed(JobPhase::Delivering, *error, Delivery::destinationCause(m_destDir, 0)));
        return;
    }
    m_partPath.clear();
    Delivery::writeOutName(m_destDir, m_folders.outputFolder());
    report(finalPath);
}

// Step 6: what went in, what was renamed and what was left out.
void ZipAction::report(const std::string& archivePath)
{
    for (const std::string& line : ReportLines::of(archivePath, m_content.report))
        Log::line(line);
    finish(JobOutcome::delivered(archivePath, m_isEncrypt, m_content.report));
}

Failure ZipAction::missingProgram(FailureCause& cause) const
{
    cause = FailureCause::WriterMissing;
    if (QStandardPaths::findExecutable("php").isEmpty())
        return "php is not installed";
    // The names are checked with the same converter php uses.
    if (!Cp932Name().isAvailable())
        return "the UTF-8-MAC converter module is not installed";
    cause = FailureCause::EncryptorMissing;
    if (m_isEncrypt && !FileManager::exists("/usr/bin/expect"))
        return "expect is not installed: /usr/bin/expect";
    if (m_isEncrypt && QStandardPaths::findExecutable("zipcloak").isEmpty())
        return "zipcloak is not installed";
    return std::nullopt;
}

// A destination that cannot take the archive is told before anything is
// copied, by what the system says of it: a path too long to reach is not a
// missing folder. The archive's hidden name must fit below it too.
std::optional<JobOutcome> ZipAction::refusedDestination() const
{
    int error = 0;
    struct stat info {};
    if (::stat(m_destDir.c_str(), &info) != 0)
        error = errno;
    else if (!S_ISDIR(info.st_mode))
        error = ENOTDIR;
    else if (::access(m_destDir.c_str(), W_OK | X_OK) != 0)
        error = errno;
    else if (m_destDir.size() + 1 + Delivery::partName(m_destDir).size() >= PATH_MAX)
        error = ENAMETOOLONG;
    // What is in the work folders goes when the jobs that made it are over.
    else if (m_folders.holds(m_destDir))
        return JobOutcome::failed(JobPhase::Delivering, "the work folder of this program: " + m_destDir,
                                  FailureCause::DestinationInWorkFolder);
    else
        return std::nullopt;
    return JobOutcome::failed(JobPhase::Delivering, describeErrno(error, m_destDir),
                              error == ENAMETOOLONG ? FailureCause::DestinationPathTooLong
                                                    : FailureCause::DestinationNotWritable);
}

// Named after the items, the archive's own path may not fit below a deep
// destination where the hidden part name does; that is known once the items
// are staged, and told then, before anything is written.
std::optional<JobOutcome> ZipAction::archivePathTooLong() const
{
    // The longest name it may take, numbered as far as "-9999.zip".
    const size_t longest = m_destDir.size() + 1 + m_baseName.size() + std::string("-9999.zip").size();
    if (longest < PATH_MAX)
        return std::nullopt;
    return JobOutcome::failed(JobPhase::Delivering, describeErrno(ENAMETOOLONG, m_destDir),
                              FailureCause::DestinationPathTooLong);
}

// The archive is written in the work folder (encryption makes a second copy
// beside it) and then goes to the destination. How small the data
// compresses is known only once it is written: a job is refused up front
// only when even the archive's headers cannot fit. A disk that fills on the
// way is told when the step that met it fails.
std::optional<JobOutcome> ZipAction::spaceShortage() const
{
    const uint64_t archive = SpaceCheck::archiveFloor(m_content.expectedEntries, m_isEncrypt);
    if (auto shortage = SpaceCheck::shortageFor(m_folders.tmpDirectory(), archive * (m_isEncrypt ? 2 : 1)))
        return shortageOutcome(*shortage, FailureCause::WorkFolderFull, true);
    if (SpaceCheck::deviceOf(m_destDir) != SpaceCheck::deviceOf(m_folders.tmpDirectory()))
        if (auto shortage = SpaceCheck::shortageFor(m_destDir, archive)) {
            JobOutcome outcome = shortageOutcome(*shortage, FailureCause::DestinationFull, true);
            outcome.failedIn = JobPhase::Delivering;
            return outcome;
        }
    return std::nullopt;
}

void ZipAction::enterPhase(JobPhase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
    reportProgress(0);
}

void ZipAction::reportProgress(double fraction, const std::string& item)
{
    const bool copyingOut = m_phase == JobPhase::Encrypting && m_encryptStep && m_encryptStep->isCopyingOut();
    emit progressChanged(
        {m_phase, std::clamp(fraction, 0.0, 1.0), item.empty() ? item : userPathOf(item), m_isEncrypt, m_copiedAcross,
         copyingOut});
}

// Renamed items are told by the names the user gave them; the deepest
// renamed folder or file that holds the item decides. inArchive is below
// the content folder, the report's names are whole entry paths.
std::string ZipAction::userPathOf(const std::string& inArchive) const
{
    const std::string entry = std::string(WorkFolders::CONTENT_DIR_NAME) + "/" + inArchive;
    const RenamedItem* closest = nullptr;
    for (const RenamedItem& renamed : m_content.report.renamed) {
        const std::string& name = renamed.inArchive;
        const bool holds = entry.compare(0, name.size(), name) == 0
            && (entry.size() == name.size() || entry[name.size()] == '/');
        if (holds && (!closest || name.size() > closest->inArchive.size()))
            closest = &renamed;
    }
    return closest ? closest->original + entry.substr(closest->inArchive.size()) : inArchive;
}

// A job that ends before any work, with one line that starts with why.
void ZipAction::refuse(const JobOutcome& outcome)
{
    Log::line(ReportLines::refused(outcome));
    fail(outcome);
}

void ZipAction::fail(const JobOutcome& outcome)
{
    JobOutcome failed = outcome;
    failed.report = m_content.report;
    finish(failed);
}

void ZipAction::finish(const JobOutcome& outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_abandoned->store(true);
    m_checkProgress.reset();
    m_moveProgress.reset();
    // The programs end first, so nothing writes into what is removed.
    if (m_writer)
        m_writer->stopProgram();
    if (m_encryptStep)
        m_encryptStep->stopProgram();
    startRelease();
    emit finished(outcome);
    cleanUpWhenIdle();
}

bool ZipAction::isIdle() const
{
    return !(m_writer && m_writer->isProgramRunning()) && !(m_encryptStep && m_encryptStep->isProgramRunning())
        && !(m_staging && m_staging->isRunning()) && !(m_moving && m_moving->isRunning())
        && !(m_checking && m_checking->isRunning())
        && !(m_changeCheck && m_changeCheck->isRunning()) && !(m_release && m_release->isRunning());
}

void ZipAction::cleanUpWhenIdle()
{
    if (!m_finished || m_cleaning || !isIdle())
        return;
    if (!m_journal) {
        deleteLater();
        return;
    }
    m_cleaning = std::make_unique<QFutureWatcher<void>>();
    connect(m_cleaning.get(), &QFutureWatcher<void>::finished, this, &QObject::deleteLater);
    m_cleaning->setFuture(BackgroundTask::run([journal = m_journal] { journal->removeAll(); }));
}
