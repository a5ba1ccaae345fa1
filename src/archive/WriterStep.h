#pragma once

#include "JobOutcome.h"
#include "StagedContent.h"
#include "WorkFolders.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

class ChildProcess;

// Has php write the archive of the content folder into the output folder:
// starts the writer command, polls every 0.2 seconds for the archive, and
// reports how far the writer has read and how it ended. The output folder
// is also watched, so the archive is taken the moment php puts it in place.
class WriterStep : public QObject {
    Q_OBJECT
public:
    WriterStep(const WorkFolders& folders, QObject* parent = nullptr);
    ~WriterStep() override;

    // stagedBytes is what the writer has to read, for the progress;
    // clampedTimes the entries whose time the writer cannot give.
    void start(const std::string& archiveName, uint64_t stagedBytes,
               std::vector<StagedContent::ClampedTime> clampedTimes);

    // Ends php and everything it started; programEnded() follows.
    void stopProgram();
    bool isProgramRunning() const;
    // Blocks until the program has ended, at most milliseconds: for a job
    // that goes with the ending application. True when it has.
    bool waitForProgram(int milliseconds);

    // The environment the writer runs with besides the application's.
    static std::vector<std::string> environment();
    // Whether php runs and has its archive library. Runs php: call it off
    // the window's thread.
    static bool phpCanWriteArchives();

signals:
    void progressChanged(int percent);
    // The archive is complete in the output folder.
    void succeeded();
    void failed(const JobOutcome& outcome);
    // The writer's shell has ended, whether it succeeded, failed or was
    // stopped.
    void programEnded();

private:
    void waitForArchive();
    void takeArchiveIfPresent();
    void takeArchive();
    void stopWaiting();
    // Emits failed once it is known whether php is missing, or lacks its
    // archive library.
    void fail(const std::string& description);
    void emitFailure(const std::string& description, FailureCause cause);
    WorkFolders m_folders;
    QTimer m_poll;
    QFileSystemWatcher m_outputWatch;
    ChildProcess* m_writer = nullptr;
    std::string m_archivePath;
    uint64_t m_stagedBytes = 0;
    std::vector<StagedContent::ClampedTime> m_clampedTimes;
    bool m_done = false;
    bool m_started = false;
};
