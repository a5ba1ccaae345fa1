#pragma once

#include "Failure.h"
#include "JobOutcome.h"
#include "ReadingOrder.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QFuture>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ChildProcess;

// Has php write the archive of the content folder into the output folder:
// starts the writer command (at prepare(), or else at start()), gives php
// its program at start(), polls every 0.2 seconds for the archive, and
// reports how far the writer has read, the file it is reading, and how it
// ended. The output folder
// is also watched, so the archive is taken the moment php puts it in place.
class WriterStep : public QObject {
    Q_OBJECT
public:
    WriterStep(const WorkFolders& folders, QObject* parent = nullptr);
    ~WriterStep() override;

    // Starts php in the output folder, which must be there, while the
    // content is staged: it has started up when it gets its program. The
    // step reports nothing until start(); a job that ends before it stops
    // the program as it would a running writer.
    void prepare();
    // stagedBytes is what the writer has to read, for the progress;
    // entryStamps the entries whose time or attributes the writer cannot
    // give. stagedFiles, when given, are the files staged as links, kept by
    // the caller for as long as this step is there: their sizes spare the
    // progress a look at each file.
    void start(const std::string& archiveName, uint64_t stagedBytes,
               std::vector<StagedContent::EntryStamp> entryStamps,
               const std::vector<StagedFile>* stagedFiles = nullptr);

    // Ends php and everything it started; programEnded() follows.
    void stopProgram();
    // The writer, or a question to php beside it, still runs: the step
    // waits for the questions when it goes.
    bool isProgramRunning() const;
    // Blocks until the program has ended, at most milliseconds: for a job
    // that goes with the ending application. True when it has.
    bool waitForProgram(int milliseconds);

    // The environment the writer runs with besides the application's;
    // extensions as PhpStartup::environmentEntry gives it.
    static std::vector<std::string> environment(const std::optional<std::string>& extensions);
    // False only when php runs and says it has no archive library. Runs
    // php: call it off the window's thread.
    static bool phpCanWriteArchives();

    // A writer that ended without an archive is told as kEnded, how it
    // ended, and kNoArchive; the window says the same in Japanese.
    static constexpr const char* kEnded = "the writer ";
    static constexpr const char* kNoArchive = " and wrote no archive";

signals:
    // fraction of the staged bytes read, 0 to 1; item the file being read,
    // as a path below the content folder (empty when not known).
    void progressChanged(double fraction, const std::string& item);
    // The archive is complete in the output folder.
    void succeeded();
    void failed(const JobOutcome& outcome);
    // The writer's shell has ended, whether it succeeded, failed or was
    // stopped; or a question to php has been answered.
    void programEnded();

private:
    void walkReadingOrder();
    std::string itemAt(uint64_t bytesRead);
    void waitForArchive();
    void takeArchiveIfPresent();
    void takeArchive();
    void stopWaiting();
    // Emits failed once it is known whether php is missing, or lacks its
    // archive library.
    void fail(const std::string& description);
    // How the writer ended: "exited with status 1", "was killed by signal 9".
    std::string writerEnd() const;
    void emitFailure(const std::string& description, FailureCause cause);
    // php that has read nothing for a while may be held by what took the
    // place of a file staged as a symbolic link (opening a FIFO waits for
    // a writer that never comes): the links are asked then, and one that
    // changed fails the step, as the read-back would once php had ended.
    void checkWhenStalled(uint64_t bytesRead);
    void onStallChecked(const Failure& changed);
    WorkFolders m_folders;
    QTimer m_poll;
    QFileSystemWatcher m_outputWatch;
    ChildProcess* m_writer = nullptr;
    std::string m_archivePath;
    uint64_t m_stagedBytes = 0;
    std::vector<StagedContent::EntryStamp> m_entryStamps;
    const std::vector<StagedFile>* m_stagedFiles = nullptr;
    // Walked on a worker thread: a large tree takes a while.
    QFuture<ReadingOrder> m_orderWalk;
    // php's start-up check, for the jobs after this one.
    QFuture<bool> m_phpCheck;
    // Whether php can write archives at all, asked when the writer failed.
    QFuture<bool> m_phpAnswer;
    // What php had read at the last look, since when, and how long it may
    // read nothing before the links are asked (again).
    uint64_t m_lastRead = 0;
    QElapsedTimer m_sinceRead;
    int m_stallLimit = 0;
    QFuture<Failure> m_stallCheck;
    std::shared_ptr<std::atomic_bool> m_walkStop = std::make_shared<std::atomic_bool>(false);
    ReadingOrder m_order;
    bool m_orderWalked = false;
    bool m_withExtensionsOnly = false;
    bool m_done = false;
    bool m_started = false;
};
