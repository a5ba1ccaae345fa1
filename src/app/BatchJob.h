#pragma once

#include "JobOutcome.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>

class CommandLine;
class JobQueue;
class OptionStore;

// One job run from the command line without the window: the stored
// options as the command line overrides them, the report lines the job
// prints anyway, and an exit status for scripts.
class BatchJob : public QObject {
    Q_OBJECT
public:
    // Exit statuses besides 0 (delivered as given).
    static constexpr int kNothingDelivered = 1;
    static constexpr int kDeliveredWithChanges = 3;
    // The report --json asked for could not be written: a script that reads
    // it must not go on with none. The archive may be there all the same,
    // as a copy's is when cp cannot print.
    static constexpr int kReportNotWritten = 1;

    // writeJson, when given, takes the report as one JSON line and says
    // whether it was written.
    using WriteJson = std::function<bool(const std::string&)>;
    explicit BatchJob(JobQueue& jobs, WriteJson writeJson = {}, QObject* parent = nullptr);

    // Blocks until fd can be read: true then, false when the program is to
    // end instead.
    using InputWait = std::function<bool(int fd)>;

    // Queues the job for line's items with stored's options; it may have
    // ended on return (a refused request ends at once, and so does one
    // whose password prompt waitForInput gives up). A command line that
    // does not say whether to encrypt is refused when the stored options
    // cannot be relied on: the settings file could not be read, or it asks
    // to encrypt with a password kept in a keyring that did not answer.
    void start(const CommandLine& line, OptionStore& stored, const InputWait& waitForInput = {});
    // Ends the running job as cancelling it in the window does.
    void stop();

    bool hasEnded() const { return m_status.has_value(); }
    int exitStatus() const { return m_status.value_or(kNothingDelivered); }

    static int exitStatusOf(const JobOutcome& outcome);

signals:
    void ended(int status);

private:
    void onJobFinished(const JobOutcome& outcome);

    JobQueue& m_jobs;
    WriteJson m_writeJson;
    std::optional<int> m_status;
    // The job's password holds characters beyond ASCII.
    bool m_passwordNeedsJapaneseWindows = false;
};
