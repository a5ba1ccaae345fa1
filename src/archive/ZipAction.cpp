#include "ZipAction.h"

#include "ArchiveCheck.h"
#include "Cp932Name.h"
#include "Delivery.h"
#include "EncryptStep.h"
#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "ReportLines.h"
#include "Util.h"
#include "WorkLock.h"
#include "WriterStep.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

struct ZipAction::Staged {
    Failure refused;
    std::shared_ptr<WorkLock> lock;
    StagedContent content;
};

ZipAction::ZipAction(ChooseFolder chooseFolder, QObject* parent)
    : QObject(parent)
    , m_chooseFolder(std::move(chooseFolder))
    , m_folders(WorkFolders::ofCurrentUser())
{
}

ZipAction::~ZipAction()
{
    // Quitting, or a signal, ends a running job as stopping it does.
    if (!m_finished)
        cleanUp();
}

void ZipAction::createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                          const std::string& password)
{
    m_destDir = destDir;
    m_isEncrypt = isEncrypt;
    m_password = password;
    m_folders = WorkFolders::ofCurrentUser();
    Log::line(LogPrefix::kWorkRoot + m_folders.tmpDirectory());
    FailureCause cause = FailureCause::Other;
    if (Failure missing = missingProgram(cause)) {
        fail(JobOutcome::failed(JobPhase::Copying, *missing, cause));
        return;
    }
    stage(paths);
}

void ZipAction::selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                      const std::string& password)
{
    enterPhase(JobPhase::ChoosingFolder);
    if (!m_chooseFolder) {
        fail(JobOutcome::failed(JobPhase::ChoosingFolder, "no folder chooser is available"));
        return;
    }
    QPointer<ZipAction> self(this);
    m_chooseFolder([self, paths, destDir, isEncrypt, password](bool accepted, const std::string& folder) {
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
    m_staging = new QFutureWatcher<std::shared_ptr<Staged>>(this);
    connect(m_staging, &QFutureWatcher<std::shared_ptr<Staged>>::finished, this, &ZipAction::onStaged);
    m_staging->setFuture(QtConcurrent::run([paths, folders = m_folders, abandoned = m_abandoned] {
        return std::make_shared<Staged>(stageItems(paths, folders, abandoned));
    }));
}

ZipAction::Staged ZipAction::stageItems(const Paths& paths, const WorkFolders& folders,
                                        const std::shared_ptr<std::atomic_bool>& abandoned)
{
    Staged staged;
    if ((staged.refused = folders.makePrivate()))
        return staged;
    staged.lock = std::make_shared<WorkLock>(folders.tmpDirectory(), [abandoned] { return abandoned->load(); });
    if (!staged.lock->isHeld()) {
        if (!abandoned->load())
            staged.refused = "the work folder could not be locked: " + folders.tmpDirectory();
        return staged;
    }
    const std::string staging = folders.stagingFolder();
    if (FileManager::exists(staging) && FileManager::removeItem(staging))
        Log::line(LogPrefix::kStagingNotRemoved);
    if (Failure error = FileManager::createDirectory(staging, 0700))
        Log::line(LogPrefix::kCreateDir + *error);
    staged.content = Util::fixProhibitedCharacters(folders, paths, [abandoned] { return abandoned->load(); });
    return staged;
}

void ZipAction::onStaged()
{
    const std::shared_ptr<Staged> staged = m_staging->result();
    if (m_finished)
        return;
    m_lock = staged->lock;
    m_content = std::move(staged->content);
    if (staged->refused) {
        Log::line(LogPrefix::kWorkFolder + *staged->refused);
        fail(JobOutcome::failed(JobPhase::Copying, *staged->refused, FailureCause::WorkFolderRefused));
        return;
    }
    if (m_content.report.fileCount + m_content.report.folderCount == 0) {
        fail(JobOutcome::failed(JobPhase::Copying, "none of the items could be read", FailureCause::NothingToArchive));
        return;
    }
    write();
}

// Step 2: php writes the archive into the output folder.
void ZipAction::write()
{
    enterPhase(JobPhase::Writing);
    m_archiveName = Delivery::freeArchiveName(m_destDir);
    m_writer = new WriterStep(m_folders, this);
    connect(m_writer, &WriterStep::progressChanged, this, &ZipAction::progressChanged);
    connect(m_writer, &WriterStep::failed, this, &ZipAction::fail);
    connect(m_writer, &WriterStep::succeeded, this, m_isEncrypt ? &ZipAction::encrypt : &ZipAction::moveToDestination);
    m_writer->start(m_archiveName, m_content.totalBytes);
}

// Step 3, when asked: zipcloak encrypts, and mv moves the archive into the
// destination folder under its hidden name.
void ZipAction::encrypt()
{
    enterPhase(JobPhase::Encrypting);
    m_partPath = m_destDir + "/" + Delivery::partName(m_destDir);
    m_encryptStep = new EncryptStep(this);
    connect(m_encryptStep, &EncryptStep::progressChanged, this, &ZipAction::progressChanged);
    connect(m_encryptStep, &EncryptStep::failed, this, [this](JobOutcome outcome) {
        if (outcome.cause == FailureCause::Other)
            outcome.cause = Delivery::destinationCause(m_destDir, FileManager::sizeOf(m_folders.archiveInOutput(m_archiveName)));
        fail(outcome);
    });
    connect(m_encryptStep, &EncryptStep::succeeded, this, &ZipAction::verify);
    m_encryptStep->encryptZip(m_folders.archiveInOutput(m_archiveName), m_partPath, m_password);
}

// Step 3 otherwise: the application moves the archive itself.
void ZipAction::moveToDestination()
{
    enterPhase(JobPhase::Delivering);
    const std::string archive = m_folders.archiveInOutput(m_archiveName);
    m_partPath = m_destDir + "/" + Delivery::partName(m_destDir);
    if (Failure error = FileManager::moveItem(archive, m_partPath)) {
        Log::line(LogPrefix::kCopy + *error + LogPrefix::kErrorFilePath + m_destDir);
        fail(JobOutcome::failed(JobPhase::Delivering, *error, Delivery::destinationCause(m_destDir, FileManager::sizeOf(archive))));
        return;
    }
    verify();
}

// Step 4: the archive in the destination folder reads back as it must.
void ZipAction::verify()
{
    enterPhase(JobPhase::Verifying);
    m_checking = new QFutureWatcher<Failure>(this);
    connect(m_checking, &QFutureWatcher<Failure>::finished, this, &ZipAction::onVerified);
    const std::optional<std::string> password = m_isEncrypt ? std::optional(m_password) : std::nullopt;
    m_checking->setFuture(QtConcurrent::run(&ArchiveCheck::verify, m_partPath, m_content.expectedEntries, password));
}

void ZipAction::onVerified()
{
    if (m_finished)
        return;
    if (const Failure failure = m_checking->result()) {
        Log::line(LogPrefix::kVerify + *failure);
        fail(JobOutcome::failed(JobPhase::Verifying, *failure, FailureCause::VerificationFailed));
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
    if (Failure error = Delivery::placeUnderFreeName(m_partPath, m_destDir, finalPath)) {
        Log::line(LogPrefix::kDeliver + *error);
        fail(JobOutcome::failed(JobPhase::Delivering, *error, Delivery::destinationCause(m_destDir, 0)));
        return;
    }
    m_partPath.clear();
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

void ZipAction::enterPhase(JobPhase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
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
    cleanUp();
    m_finished = true;
    emit finished(outcome);
    deleteLater();
}

void ZipAction::cleanUp()
{
    m_abandoned->store(true);
    // The programs end first, so nothing writes into what is removed.
    delete m_writer;
    m_writer = nullptr;
    delete m_encryptStep;
    m_encryptStep = nullptr;
    if (m_staging && m_staging->isRunning())
        m_staging->waitForFinished();
    if (m_checking && m_checking->isRunning())
        m_checking->waitForFinished();
    if (!m_lock && m_staging && m_staging->isFinished() && m_staging->future().resultCount() > 0)
        m_lock = m_staging->result()->lock;
    // The part file has a name no one else uses: what is there is ours.
    if (!m_partPath.empty() && FileManager::exists(m_partPath))
        FileManager::removeItem(m_partPath);
    // Only a job that holds the work folder's lock staged anything: the
    // staging folder may otherwise be another process's, or lie in a work
    // folder that was refused.
    if (m_lock && m_lock->isHeld()) {
        const std::string staging = m_folders.stagingFolder();
        if (FileManager::exists(staging))
            if (Failure error = FileManager::removeItem(staging))
                Log::line(LogPrefix::kCleanup + *error);
    }
    m_lock.reset();
}
