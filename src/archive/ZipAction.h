#pragma once

#include "FolderChooser.h"
#include "JobOutcome.h"
#include "SpaceCheck.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class ArchiveFollower;
class EncryptStep;
class WorkJournal;
class WriterStep;
template <typename T> class QFutureWatcher;
class QTimer;

// One archive job, in the order of its steps: stage the items into the
// job's own content folder under Windows-safe names, have php write the
// archive, encrypt it when asked, move it into the destination folder under
// a hidden name, verify it there, give it its free archive name, and report.
// Nothing is delivered unless every step succeeded. Create it with new: once
// it has reported its end through finished(), it waits for its programs and
// threads to end, removes what it made, and deletes itself.
class ZipAction : public QObject {
    Q_OBJECT
public:
    using Paths = std::vector<std::string>;

    explicit ZipAction(ChooseFolder chooseFolder = {}, QObject* parent = nullptr);
    ~ZipAction() override;

    // Runs the job into destDir (a folder path without a trailing "/").
    virtual void createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                           const std::string& password);
    // Asks for the destination folder first; cancelling ends the job.
    virtual void selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                                       const std::string& password);

    // Names the archive after the items instead of "archive"; set before
    // the job starts.
    void setNameAfterItems(bool nameAfterItems) { m_nameAfterItems = nameAfterItems; }

    // Ends the job where it is: its programs and everything they started
    // end, nothing is delivered, and finished() reports it as stopped.
    virtual void stop();

signals:
    void phaseChanged(JobPhase phase);
    // How far the current phase is; told at the start of every phase and
    // then as it goes on.
    void progressChanged(const JobProgress& progress);
    void finished(const JobOutcome& outcome);

private:
    struct Staged;

    // The steps, in order.
    void stage(const Paths& paths);
    void write();
    void encrypt();
    void moveToDestination();
    void verify();
    void deliver();
    void report(const std::string& archivePath);

    // Runs on a worker thread, so it touches no member.
    // outputReady is called once the output folder is there, where php can
    // be started.
    static Staged stageItems(const Paths& paths, const WorkFolders& folders,
                             const std::shared_ptr<std::atomic_bool>& abandoned,
                             const std::function<void()>& outputReady);
    static bool wantsMemory(const Paths& paths, const SpaceCheck::WorkLinks& links);
    static bool makeMemoryFolder(const WorkFolders& folders, WorkJournal& journal);
    void onStaged();
    void prepareWriter();
    void onMoved();
    void onVerified();
    void releaseContent();
    void startRelease();
    Failure missingProgram(FailureCause& cause) const;
    std::optional<JobOutcome> refusedDestination() const;
    std::optional<JobOutcome> archivePathTooLong() const;
    std::optional<JobOutcome> spaceShortage() const;
    bool claimPartPath(JobPhase phase);
    std::optional<std::string> newPartPath();
    bool destinationHoldsArchive();
    uint64_t archiveBytesAtDestination() const;
    void enterPhase(JobPhase phase);
    // item: a path below the content folder, told as the user's own.
    void reportProgress(double fraction, const std::string& item = {});
    std::string userPathOf(const std::string& inArchive) const;
    void reportMoveProgress();
    void reportCheckProgress();
    void refuse(const JobOutcome& outcome);
    void fail(const JobOutcome& outcome);
    void finish(const JobOutcome& outcome);
    // Once no program and no thread of the job works any more, what the
    // job made goes, on a worker thread, and then the job itself.
    void cleanUpWhenIdle();
    bool isIdle() const;

    ChooseFolder m_chooseFolder;
    WorkFolders m_folders;
    std::string m_destDir;
    bool m_isEncrypt = false;
    std::string m_password;
    JobPhase m_phase = JobPhase::Copying;
    std::shared_ptr<WorkJournal> m_journal;
    StagedContent m_content;
    bool m_nameAfterItems = false;
    std::string m_baseName = "archive"; // the delivered name without number and ".zip"
    std::string m_archiveName;
    std::string m_partPath; // the archive on its way into the destination folder
    std::unique_ptr<WriterStep> m_writer;
    std::shared_ptr<ArchiveFollower> m_follower;
    std::unique_ptr<EncryptStep> m_encryptStep;
    std::unique_ptr<QFutureWatcher<std::shared_ptr<Staged>>> m_staging;
    // The archive on its way into the destination folder: a copy where that
    // lies on another file system.
    std::unique_ptr<QFutureWatcher<Failure>> m_moving;
    std::unique_ptr<QFutureWatcher<Failure>> m_checking;
    // Whether a user's file changed while the writer read it; the staged
    // tree is removed once that is known.
    std::unique_ptr<QFutureWatcher<Failure>> m_changeCheck;
    std::unique_ptr<QFutureWatcher<void>> m_release;
    bool m_verdictGiven = false;
    std::unique_ptr<QFutureWatcher<void>> m_cleaning;
    // How far the check has read: the application's own reads since it
    // began, against the archive's size; before them, in an encrypted job
    // whose archive mv copied onto another disk, what of it is written out
    // to that disk, as its thread tells it.
    std::unique_ptr<QTimer> m_checkProgress;
    uint64_t m_readBeforeCheck = 0;
    uint64_t m_checkedBytes = 0;
    uint64_t m_writeOutBytes = 0; // 0 where the copy was written out as it went
    std::shared_ptr<std::atomic<uint64_t>> m_writtenOut = std::make_shared<std::atomic<uint64_t>>(0);
    // How far a copy into the destination is, as its thread tells it.
    std::unique_ptr<QTimer> m_moveProgress;
    uint64_t m_archiveBytes = 0;
    std::shared_ptr<std::atomic<uint64_t>> m_movedBytes = std::make_shared<std::atomic<uint64_t>>(0);
    bool m_copiedAcross = false; // see JobProgress
    bool m_finished = false;
    // Set when the job ends while a worker thread still works for it.
    std::shared_ptr<std::atomic_bool> m_abandoned = std::make_shared<std::atomic_bool>(false);
};
