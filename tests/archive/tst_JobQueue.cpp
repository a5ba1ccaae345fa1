#include "FolderChooser.h"
#include "JobQueue.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "ZipAction.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <filesystem>

namespace {

// A job that only records how it was started; the test ends it.
class RecordingJob : public ZipAction {
public:
    struct Start {
        bool selectDir = false;
        Paths paths;
        std::string destDir;
        bool isEncrypt = false;
        std::string password;
    };

    explicit RecordingJob(bool endAtOnce = false) : m_endAtOnce(endAtOnce) {}

    void createZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                   const std::string& password) override
    {
        started(Start {false, paths, destDir, isEncrypt, password});
    }
    void selectDirAndCreateZip(const Paths& paths, const std::string& destDir, bool isEncrypt,
                               const std::string& password) override
    {
        started(Start {true, paths, destDir, isEncrypt, password});
    }

    // Ends the job the way a real one does: report, then go away.
    void end(const JobOutcome& outcome)
    {
        emit finished(outcome);
        deleteLater();
    }

    std::optional<Start> start;

private:
    void started(const Start& how)
    {
        start = how;
        emit phaseChanged(JobPhase::Copying);
        if (m_endAtOnce)
            end(JobOutcome::delivered(how.destDir + "/archive.zip", how.isEncrypt));
    }

    bool m_endAtOnce;
};

// A chooser that answers at once, as the user would.
class AnsweringChooser : public FolderChooser {
public:
    AnsweringChooser(bool accept, std::string folder) : m_accept(accept), m_folder(std::move(folder)) {}
    void chooseFolder(Done done) override
    {
        ++asked;
        done(m_accept, m_folder);
    }
    int asked = 0;

private:
    bool m_accept;
    std::string m_folder;
};

SettingStatus options(bool isEncrypt, const std::string& password, bool isSelectDir)
{
    SettingStatus status;
    status.isEncrypt = isEncrypt;
    status.password = password;
    status.isSelectDir = isSelectDir;
    return status;
}

} // namespace

Q_DECLARE_METATYPE(JobOutcome)
Q_DECLARE_METATYPE(JobPhase)

class TestJobQueue : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void requestWithoutItemsStartsNothing();
    void jobsRunOneAtATimeInArrivalOrder();
    void chooserRequestsAskForTheFolder();
    void jobsEndingAtOnceStillRunInOrder();
    void cancelledChooserStartsNoJob();
    void missingChooserEndsTheJobAsFailed();

private:
    JobQueue::JobFactory factory(bool endAtOnce = false);
    RecordingJob* job(int index) const { return m_jobs.at(index).data(); }

    QList<QPointer<RecordingJob>> m_jobs;
};

void TestJobQueue::initTestCase()
{
    qRegisterMetaType<JobOutcome>();
    qRegisterMetaType<JobPhase>();
}

void TestJobQueue::init()
{
    m_jobs.clear();
}

JobQueue::JobFactory TestJobQueue::factory(bool endAtOnce)
{
    return [this, endAtOnce] {
        auto* job = new RecordingJob(endAtOnce);
        m_jobs.append(job);
        return job;
    };
}

void TestJobQueue::requestWithoutItemsStartsNothing()
{
    JobQueue queue(factory());
    QSignalSpy changed(&queue, &JobQueue::changed);
    queue.enqueue({}, "/dest", options(true, "pw", false));
    queue.enqueue({}, "/dest", options(false, "", true));
    QCOMPARE(m_jobs.size(), 0);
    QVERIFY(!queue.isBusy());
    QCOMPARE(queue.waitingCount(), 0);
    QCOMPARE(changed.count(), 0);

    // The queue still takes the next real request.
    queue.enqueue({"/a"}, "/dest", options(false, "", false));
    QCOMPARE(m_jobs.size(), 1);
    QVERIFY(queue.isBusy());
}

void TestJobQueue::jobsRunOneAtATimeInArrivalOrder()
{
    JobQueue queue(factory());
    QSignalSpy finished(&queue, &JobQueue::jobFinished);
    QSignalSpy phases(&queue, &JobQueue::phaseChanged);
    queue.enqueue({"/one/a", "/one/b"}, "/one", options(true, "first", false));
    queue.enqueue({"/two"}, "/dest2", options(false, "", false));
    queue.enqueue({"/three"}, "/dest3", options(true, "-x y", false));

    QCOMPARE(m_jobs.size(), 1);
    QCOMPARE(queue.waitingCount(), 2);
    QVERIFY(job(0)->start.has_value());
    QCOMPARE(job(0)->start->paths, (ZipAction::Paths {"/one/a", "/one/b"}));
    QCOMPARE(job(0)->start->destDir, std::string("/one"));
    QVERIFY(job(0)->start->isEncrypt);
    QCOMPARE(job(0)->start->password, std::string("first"));
    QVERIFY(!job(0)->start->selectDir);
    QCOMPARE(phases.count(), 1);

    job(0)->end(JobOutcome::failed(JobPhase::Copying, "boom"));
    QCOMPARE(finished.count(), 1);
    const auto outcome = finished.at(0).at(0).value<JobOutcome>();
    QCOMPARE(outcome.kind, JobOutcome::Kind::Failed);
    QCOMPARE(outcome.failedIn, JobPhase::Copying);
    QCOMPARE(outcome.description, std::string("boom"));
    QCOMPARE(m_jobs.size(), 2);
    QCOMPARE(job(1)->start->paths, (ZipAction::Paths {"/two"}));
    QCOMPARE(job(1)->start->destDir, std::string("/dest2"));
    QVERIFY(!job(1)->start->isEncrypt);
    QCOMPARE(queue.waitingCount(), 1);

    job(1)->end(JobOutcome::delivered("/dest2/archive.zip", false));
    QCOMPARE(m_jobs.size(), 3);
    QCOMPARE(job(2)->start->password, std::string("-x y"));
    QCOMPARE(queue.waitingCount(), 0);
    QVERIFY(queue.isBusy());

    job(2)->end(JobOutcome::delivered("/dest3/archive.zip", true));
    QCOMPARE(finished.count(), 3);
    QVERIFY(!queue.isBusy());
    QCOMPARE(finished.at(2).at(0).value<JobOutcome>().archivePath, std::string("/dest3/archive.zip"));
    // The finished jobs delete themselves; the queue holds on to none.
    QTRY_VERIFY(std::all_of(m_jobs.begin(), m_jobs.end(), [](const auto& j) { return j.isNull(); }));
}

void TestJobQueue::chooserRequestsAskForTheFolder()
{
    JobQueue queue(factory());
    queue.enqueue({"/x/item"}, "/x", options(true, "pw", true));
    QCOMPARE(m_jobs.size(), 1);
    QVERIFY(job(0)->start->selectDir);
    QCOMPARE(job(0)->start->paths, (ZipAction::Paths {"/x/item"}));
    QCOMPARE(job(0)->start->destDir, std::string("/x"));
    QVERIFY(job(0)->start->isEncrypt);
    QCOMPARE(job(0)->start->password, std::string("pw"));
}

// A job may end inside its own start (no chooser, nothing to copy): the
// queue must go on with the next one all the same.
void TestJobQueue::jobsEndingAtOnceStillRunInOrder()
{
    JobQueue queue(factory(true));
    QSignalSpy finished(&queue, &JobQueue::jobFinished);
    for (int i = 0; i < 3; ++i)
        queue.enqueue({"/item" + std::to_string(i)}, "/d" + std::to_string(i), options(false, "", i == 1));
    QCOMPARE(finished.count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(finished.at(i).at(0).value<JobOutcome>().archivePath, "/d" + std::to_string(i) + "/archive.zip");
    QVERIFY(!queue.isBusy());
    QCOMPARE(queue.waitingCount(), 0);
}

// With a real job: cancelling the chooser ends it, and nothing is copied,
// created or logged.
void TestJobQueue::cancelledChooserStartsNoJob()
{
    TestHome home;
    const std::string item = home.makeFolder("user/item");
    AnsweringChooser chooser(false, "/somewhere");
    JobQueue queue(&chooser);
    QSignalSpy finished(&queue, &JobQueue::jobFinished);
    std::string printed;
    {
        StdoutCapture capture;
        queue.enqueue({item}, home.path() + "/user", options(false, "", true));
        (void)QTest::qWaitFor([&] { return finished.count() > 0; }, 10000);
        printed = capture.text();
    }
    QCOMPARE(chooser.asked, 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).value<JobOutcome>().kind, JobOutcome::Kind::Cancelled);
    QCOMPARE(printed, std::string());
    QVERIFY(!std::filesystem::exists(home.path() + "/.quillmere"));
    QVERIFY(!queue.isBusy());
}

void TestJobQueue::missingChooserEndsTheJobAsFailed()
{
    JobQueue queue(static_cast<FolderChooser*>(nullptr));
    QSignalSpy finished(&queue, &JobQueue::jobFinished);
    queue.enqueue({"/nowhere/item"}, "/nowhere", options(false, "", true));
    QTRY_COMPARE(finished.count(), 1);
    const auto outcome = finished.at(0).at(0).value<JobOutcome>();
    QCOMPARE(outcome.kind, JobOutcome::Kind::Failed);
    QCOMPARE(outcome.failedIn, JobPhase::ChoosingFolder);
    QVERIFY(!outcome.description.empty());
    QVERIFY(!queue.isBusy());
}

QTEST_GUILESS_MAIN(TestJobQueue)
#include "tst_JobQueue.moc"
