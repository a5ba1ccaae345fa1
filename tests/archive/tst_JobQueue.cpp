// The queue of archive jobs, with stand-in jobs that end when told to.
#include "JobQueue.h"
#include "StdoutCapture.h"
#include "ZipAction.h"

#include <QtTest>

Q_DECLARE_METATYPE(JobOutcome)

namespace {

// A job that records what it was asked and ends when the test says.
class FakeJob : public ZipAction {
public:
    explicit FakeJob(std::vector<std::string>& started) : m_started(started) {}
    void createZip(const Paths& paths, const std::string&, bool, const std::string&) override
    {
        m_started.push_back(paths.front());
    }
    void stop() override { end(JobOutcome::stopped(JobPhase::Writing)); }
    void end(const JobOutcome& outcome)
    {
        emit finished(outcome);
        deleteLater();
    }

private:
    std::vector<std::string>& m_started;
};

} // namespace

class TestJobQueue : public QObject {
    Q_OBJECT
    std::vector<std::string> m_started;
    std::vector<FakeJob*> m_made;

    // Stand-ins for a new queue, which record what they were asked.
    JobQueue::JobFactory fakes()
    {
        m_started.clear();
        m_made.clear();
        return [this] { return m_made.emplace_back(new FakeJob(m_started)); };
    }

private slots:
    void initTestCase() { qRegisterMetaType<JobOutcome>(); }

    // Three requests while the first runs: they start one at a time, oldest
    // first, each when the one before has ended; the waiting ones are listed
    // by their first item.
    void runsJobsOneAtATimeOldestFirst()
    {
        JobQueue queue(fakes());
        queue.enqueue({"/a/first"}, "/a", {});
        queue.enqueue({"/b/写真.jpg", "/b/other"}, "/b", {});
        queue.enqueue({"/c/folder/"}, "/c", {});
        QCOMPARE(m_started, std::vector<std::string>{"/a/first"});
        QCOMPARE(queue.waitingNames(), (std::vector<std::string>{"写真.jpg", "folder"}));
        m_made.back()->end(JobOutcome::delivered("/a/archive.zip", false));
        QCOMPARE(m_started.back(), std::string("/b/写真.jpg"));
        m_made.back()->end(JobOutcome::delivered("/b/archive.zip", false));
        QCOMPARE(m_started.back(), std::string("/c/folder/"));
    }

    // Cancel stops the running job and starts the next waiting one; a job
    // taken out of the waiting list never starts.
    void cancelStopsTheRunningJobAndStartsTheNext()
    {
        JobQueue queue(fakes());
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({"/a/running"}, "/a", {});
        queue.enqueue({"/a/removed"}, "/a", {});
        queue.enqueue({"/a/next"}, "/a", {});
        queue.removeWaiting(0);
        queue.cancelRunning();
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.at(0).at(0).value<JobOutcome>().kind == JobOutcome::Kind::Stopped);
        QCOMPARE(m_started, (std::vector<std::string>{"/a/running", "/a/next"}));
    }

    // A refused job says so on standard output too, in one line that
    // starts with why, for whoever runs Quillmere from a script.
    void refusesUnusablePasswordsBeforeAnyWork()
    {
        for (const char* password : {"", "pass\nword"}) {
            JobQueue queue(fakes());
            QSignalSpy finished(&queue, &JobQueue::jobFinished);
            StdoutCapture output;
            queue.enqueue({"/a/item"}, "/a", {true, password, false});
            const std::vector<std::string> lines = output.lines();
            QVERIFY(m_started.empty());
            QCOMPARE(finished.count(), 1);
            QVERIFY(finished.at(0).at(0).value<JobOutcome>().cause == FailureCause::PasswordRefused);
            QCOMPARE(lines.size(), size_t(1));
            QVERIFY(lines.front().starts_with("job refused: the password cannot be used"));
        }
    }

    // The destination chooser opens in the folder the archive would go to
    // otherwise; cancelling it ends the job with nothing to say.
    void theChooserOpensInTheItemsFolder()
    {
        std::vector<std::string> openedIn;
        FolderChosen answer;
        JobQueue queue(JobQueue::archiveJobs([&](const std::string& startFolder, FolderChosen done) {
            openedIn.push_back(startFolder);
            answer = std::move(done);
        }));
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({"/items/見積書.xlsx"}, "/items", {false, "", true});
        QCOMPARE(openedIn, std::vector<std::string>{"/items"});
        answer(false, {});
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.at(0).at(0).value<JobOutcome>().kind == JobOutcome::Kind::Cancelled);
    }
};

QTEST_GUILESS_MAIN(TestJobQueue)
#include "tst_JobQueue.moc"
