// Jobs through the queue with the real php, expect and zipcloak: one at a
// time in arrival order, each ends and is reported, and the next one runs.

#include "FolderChooser.h"
#include "JobQueue.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QtTest>

#include <deque>
#include <filesystem>
#include <fstream>

Q_DECLARE_METATYPE(JobOutcome)

namespace {

// A chooser that answers at once with the next of its folders; an empty
// one cancels.
struct Chooser {
    std::deque<std::string> answers;
    void chooseFolder(const FolderChosen& done)
    {
        const std::string folder = answers.front();
        answers.pop_front();
        done(!folder.empty(), folder);
    }
};

// Waits, with the jobs' output captured, until count jobs have ended; then
// what they ended with.
std::vector<JobOutcome> outcomes(const QSignalSpy& finished, int count)
{
    StdoutCapture capture;
    (void)QTest::qWaitFor([&] { return finished.count() >= count; }, 60000);
    std::vector<JobOutcome> result;
    std::transform(finished.begin(), finished.end(), std::back_inserter(result), [](const auto& args) { return args.at(0).template value<JobOutcome>(); });
    return result;
}

} // namespace

class TestJobQueueEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<JobOutcome>(); }

    // A request without items starts nothing; a cancelled job ends inside
    // its own start and a failed one (zipcloak refuses an empty password)
    // delivers nothing, and the next job runs all the same, with its own
    // items, options and chosen folder.
    void jobsRunOneAtATimeInArrivalOrder()
    {
        TestHome home;
        home.writeFile("work/first/report.txt", "first job\n");
        home.writeFile("work/second/notes.txt", "second job\n");
        const std::string work = home.path() + "/work";
        const std::string chosen = home.makeFolder("chosen");
        Chooser chooser;
        chooser.answers = {"", chosen};
        JobQueue queue(JobQueue::archiveJobs([&chooser](FolderChosen done) { chooser.chooseFolder(done); }));
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({}, work, {});
        QVERIFY(!queue.isBusy());
        queue.enqueue({work + "/first"}, work, {});
        queue.enqueue({work + "/second"}, work, {false, "", true});
        queue.enqueue({work + "/second"}, work, {true, "", false});
        queue.enqueue({work + "/second"}, work, {true, "secret", true});
        QCOMPARE(queue.waitingCount(), 2);
        const std::vector<JobOutcome> ended = outcomes(finished, 4);
        QCOMPARE(ended.size(), size_t(4));
        // The empty password is refused before anything runs.
        QVERIFY(ended[0].cause == FailureCause::PasswordRefused);
        QCOMPARE(ended[1].archivePath, work + "/archive.zip"); // the first free name, as a plain job
        QVERIFY(ended[2].kind == JobOutcome::Kind::Cancelled);
        QCOMPARE(ended[3].archivePath, chosen + "/archive.zip");
        QVERIFY(ZipReader(work + "/archive.zip").names() == std::vector<std::string>{"archive/first/report.txt"});
        QVERIFY(ZipReader(chosen + "/archive.zip").names() == std::vector<std::string>{"archive/second/notes.txt"});
        QCOMPARE(QProcess::execute("unzip", {"-qq", "-P", "secret", "-t", QString::fromStdString(chosen + "/archive.zip")}), 0);
        QVERIFY(!queue.isBusy());
    }

    // Items on another file system cannot be linked, so their data is
    // really copied: a few hundred megabytes take a while, during which the
    // main loop goes on running and a new request waits.
    void mainLoopRunsWhileALargeTreeIsCopied()
    {
        if (!std::filesystem::is_directory("/dev/shm"))
            QSKIP("no /dev/shm to hold items on another file system");
        TestHome home;
        QTemporaryDir items("/dev/shm/quillmere-test-XXXXXX");
        for (int megabyte = 0; megabyte < 300; ++megabyte)
            std::ofstream(items.path().toStdString() + "/part" + std::to_string(megabyte / 50), std::ios::app) << std::string(1 << 20, 'q');
        home.writeFile("small/note.txt", "queued\n");
        JobQueue queue(JobQueue::archiveJobs({}));
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        bool copying = false;
        int ticksWhileCopying = 0;
        connect(&queue, &JobQueue::phaseChanged, this, [&](JobPhase phase) { copying = phase == JobPhase::Copying; });
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ticksWhileCopying += copying ? 1 : 0; });
        ticker.start(5);
        queue.enqueue({items.path().toStdString()}, home.path(), {});
        QVERIFY(copying);
        queue.enqueue({home.path() + "/small/note.txt"}, home.path() + "/small", {});
        QCOMPARE(queue.waitingCount(), 1);
        const std::vector<JobOutcome> ended = outcomes(finished, 2);
        QVERIFY2(ticksWhileCopying > 2, qPrintable(QString("the main loop ran %1 times while copying").arg(ticksWhileCopying)));
        QCOMPARE(ended.size(), size_t(2));
        QCOMPARE(ZipReader(ended[0].archivePath).names().size(), size_t(6));
        QCOMPARE(ended[1].archivePath, home.path() + "/small/archive.zip");
    }
};

QTEST_GUILESS_MAIN(TestJobQueueEndToEnd)
#include "tst_JobQueueEndToEnd.moc"
