#pragma once

#include "FolderChooser.h"
#include "JobOutcome.h"
#include "SettingStatus.h"

#include <QObject>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ZipAction;

// Runs archive jobs one at a time, in arrival order. All jobs share one
// staging folder, so a job that arrives while another is at work waits.
class JobQueue : public QObject {
    Q_OBJECT
public:
    using Paths = std::vector<std::string>;
    using JobFactory = std::function<ZipAction*()>;

    // Each job is made by factory when its turn comes.
    explicit JobQueue(JobFactory factory, QObject* parent = nullptr);

    // Real archive jobs, asking for the destination with chooseFolder.
    static JobFactory archiveJobs(ChooseFolder chooseFolder);

    // Queues a job for the items at paths into destDir with the given
    // options; a request without items starts nothing. A request to
    // encrypt with a password zipcloak cannot take, or one that does not
    // know whether to encrypt, is refused at once: jobFinished reports it
    // and nothing is copied.
    void enqueue(const Paths& paths, const std::string& destDir, const SettingStatus& options);

    bool isBusy() const { return m_running != nullptr; }
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }
    // The name of each waiting job's first item, in the order they will run.
    std::vector<std::string> waitingNames() const;
    // The items of each waiting job, in the same order.
    std::vector<Paths> waitingItems() const;

    // Stops the running job: its programs end, nothing is delivered, and
    // jobFinished reports it as stopped. The next job then starts.
    void cancelRunning();
    // Drops the waiting job at index (0 runs next) before it starts.
    void removeWaiting(int index);
    // As the application ends: each waiting job is dropped with a line
    // naming its first item, and the running job stops as cancelling it
    // does. Nothing starts afterwards.
    void endAll();

signals:
    void phaseChanged(JobPhase phase);
    // How far the running job is in its current phase.
    void progressChanged(const JobProgress& progress);
    void jobFinished(const JobOutcome& outcome);
    // Running state or number of waiting jobs changed.
    void changed();

private:
    // Why a job with these options must not start; nullopt when it may.
    static std::optional<JobOutcome> refusal(const SettingStatus& options);

    struct Request {
        Paths paths;
        std::string destDir;
        SettingStatus options;
    };

    void startNext();
    void onJobFinished(const JobOutcome& outcome);

    JobFactory m_factory;
    std::deque<Request> m_waiting;
    ZipAction* m_running = nullptr;
    std::string m_runningName; // the running job's first item
};
