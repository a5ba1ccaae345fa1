// The queue of archive jobs, with stand-in jobs that end when told to, and
// once end to end with real jobs and a stand-in folder chooser.
#include "JobQueue.h"
#include "TestHome.h"
#include "ZipAction.h"
#include "ZipReader.h"

#include <QtTest>

#include <deque>

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
    void selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                               const std::string& password) override
    {
        createZip(paths, destDir, isEncrypt, password);
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

const SettingStatus kPlain{};

} // namespace

class TestJobQueue : public QObject {
    Q_OBJECT
    std::vector<std::string> m_started;
    std::vector<FakeJob*> m_made;

    JobQueue::JobFactory fakes()
    {
        return [this] { return m_made.emplace_back(new FakeJob(m_started)); };
    }

private slots:
    void initTestCase() { qRegisterMetaType<JobOutcome>(); }
    void init()
    {
        m_started.clear();
        m_made.clear();
    }

    // Three requests while the first runs: they start one at a time, oldest
    // first, each when the one before has ended.
    void runsJobsOneAtATimeOldestFirst()
    {
        JobQueue queue(fakes());
        for (const char* item : {"/a/first", "/a/second", "/a/third"})
            queue.enqueue({item}, "/a", kPlain);
        QCOMPARE(m_started, std::vector<std::string>{"/a/first"});
        m_made.back()->end(JobOutcome::delivered("/a/archive.zip", false));
        QCOMPARE(m_started.back(), std::string("/a/second"));
        m_made.back()->end(JobOutcome::delivered("/a/archive1.zip", false));
        QCOMPARE(m_started.back(), std::string("/a/third"));
    }

    void listsWaitingJobsByTheirFirstItem()
    {
        JobQueue queue(fakes());
        queue.enqueue({"/a/running"}, "/a", kPlain);
        queue.enqueue({"/b/写真.jpg", "/b/other"}, "/b", kPlain);
        queue.enqueue({"/c/folder/"}, "/c", kPlain);
        QCOMPARE(queue.waitingNames(), (std::vector<std::string>{"写真.jpg", "folder"}));
    }

    void removedWaitingJobNeverStarts()
    {
        JobQueue queue(fakes());
        queue.enqueue({"/a/running"}, "/a", kPlain);
        queue.enqueue({"/a/removed"}, "/a", kPlain);
        queue.enqueue({"/a/kept"}, "/a", kPlain);
        queue.removeWaiting(0);
        m_made.back()->end(JobOutcome::delivered("/a/archive.zip", false));
        QCOMPARE(m_started, (std::vector<std::string>{"/a/running", "/a/kept"}));
    }

    void cancelStopsTheRunningJobAndStartsTheNext()
    {
        JobQueue queue(fakes());
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({"/a/running"}, "/a", kPlain);
        queue.enqueue({"/a/next"}, "/a", kPlain);
        queue.cancelRunning();
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.at(0).at(0).value<JobOutcome>().kind == JobOutcome::Kind::Stopped);
        QCOMPARE(m_started.back(), std::string("/a/next"));
    }

    void refusesUnusablePasswordsBeforeAnyWork_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("empty") << "";
        QTest::newRow("line feed") << "pass\nword";
    }
    void refusesUnusablePasswordsBeforeAnyWork()
    {
        QFETCH(QString, password);
        JobQueue queue(fakes());
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({"/a/item"}, "/a", {true, password.toStdString(), false});
        QVERIFY(m_started.empty());
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.at(0).at(0).value<JobOutcome>().cause == FailureCause::PasswordRefused);
    }

    // Real jobs: a chooser cancelled ends the job quietly, and the next one
    // goes into the folder chosen for it.
    void realJobsFollowTheFolderChooser()
    {
        TestHome home;
        home.writeFile("work/first/report.txt", "first job\n");
        home.writeFile("work/second/notes.txt", "second job\n");
        const std::string work = home.path() + "/work";
        const std::string chosen = home.makeFolder("chosen");
        std::deque<std::string> answers{"", chosen};
        JobQueue queue(JobQueue::archiveJobs([&answers](const FolderChosen& done) {
            const std::string folder = answers.front();
            answers.pop_front();
            done(!folder.empty(), folder);
        }));
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({work + "/first"}, work, {false, "", true});
        queue.enqueue({work + "/second"}, work, {false, "", true});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QVERIFY(finished.at(0).at(0).value<JobOutcome>().kind == JobOutcome::Kind::Cancelled);
        QCOMPARE(finished.at(1).at(0).value<JobOutcome>().archivePath, chosen + "/archive.zip");
        QCOMPARE(ZipReader(chosen + "/archive.zip").names(), std::vector<std::string>{"archive/second/notes.txt"});
    }
};

QTEST_GUILESS_MAIN(TestJobQueue)
#include "tst_JobQueue.moc"
