// Jobs through the queue with the real php, expect and zipcloak: one at a
// time, each ends and is reported, and the next one runs.

#include "FolderChooser.h"
#include "JobQueue.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "ZipAction.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(JobOutcome)

namespace {

class CancellingChooser : public FolderChooser {
public:
    void chooseFolder(Done done) override
    {
        QTimer::singleShot(0, [done] { done(false, {}); });
    }
};

// Sets PATH for the children started while it lives.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) : m_saved(std::getenv("PATH")) { ::setenv("PATH", path.c_str(), 1); }
    ~ScopedPath() { ::setenv("PATH", m_saved.c_str(), 1); }

private:
    std::string m_saved;
};

// A bin folder holding links to the given programs only.
std::string binWith(const QTemporaryDir& dir, const std::vector<std::string>& programs)
{
    const std::string bin = dir.path().toStdString() + "/bin";
    fs::create_directories(bin);
    for (const std::string& program : programs) {
        const QString found = QStandardPaths::findExecutable(QString::fromStdString(program));
        if (!found.isEmpty())
            fs::create_symlink(found.toStdString(), bin + "/" + program);
    }
    return bin;
}

bool unzipTests(const std::string& archive, const std::string& password = {})
{
    QStringList arguments{"-tq"};
    if (!password.empty())
        arguments << "-P" << QString::fromStdString(password);
    arguments << QString::fromStdString(archive);
    QProcess unzip;
    unzip.start("unzip", arguments);
    unzip.waitForFinished(60000);
    return unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0;
}

QStringList entryNames(const std::string& archive)
{
    QProcess unzip;
    unzip.start("unzip", {"-Z1", QString::fromStdString(archive)});
    unzip.waitForFinished(60000);
    return QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

JobOutcome outcomeAt(const QSignalSpy& spy, int index)
{
    return spy.at(index).at(0).value<JobOutcome>();
}

const int kJobTimeout = 60000;

} // namespace

class tst_JobQueueEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<JobOutcome>(); }

    void twoJobsInQuickSuccessionAreBothDelivered()
    {
        TestHome home;
        home.writeFile("work/first/report.txt", "first job\n");
        home.writeFile("work/second/notes.txt", "second job\n");
        const std::string work = home.path() + "/work";
        StdoutCapture capture;
        JobQueue queue(nullptr);
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        queue.enqueue({work + "/first"}, work, {});
        queue.enqueue({work + "/second"}, work, {});
        QCOMPARE(queue.waitingCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kJobTimeout);

        QCOMPARE(outcomeAt(finished, 0).archivePath, work + "/archive.zip");
        QCOMPARE(outcomeAt(finished, 1).archivePath, work + "/archive1.zip");
        QVERIFY(unzipTests(work + "/archive.zip"));
        QVERIFY(unzipTests(work + "/archive1.zip"));
        QCOMPARE(entryNames(work + "/archive.zip"), QStringList{"archive/first/report.txt"});
        QCOMPARE(entryNames(work + "/archive1.zip"), QStringList{"archive/second/notes.txt"});
        QVERIFY(!queue.isBusy());
    }

    void failedAndCancelledJobsLetTheNextOneRun()
    {
        TestHome home;
        home.writeFile("work/a.txt", "a\n");
        const std::string work = home.path() + "/work";
        QTemporaryDir bins;
        CancellingChooser chooser;
        StdoutCapture capture;
        JobQueue queue(&chooser);
        QSignalSpy finished(&queue, &JobQueue::jobFinished);

        {
            // No php on the search path: the writer ends without an archive.
            ScopedPath path(binWith(bins, {"sh"}));
            queue.enqueue({work + "/a.txt"}, work, {});
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kJobTimeout);
        }
        QCOMPARE(outcomeAt(finished, 0).kind, JobOutcome::Kind::Failed);
        QVERIFY(capture.text().find("convert charset and create zip error:") != std::string::npos);

        queue.enqueue({work + "/a.txt"}, work, {false, "", true});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kJobTimeout);
        QCOMPARE(outcomeAt(finished, 1).kind, JobOutcome::Kind::Cancelled);

        {
            // php is there, zipcloak is not: nothing unencrypted is delivered.
            QTemporaryDir noZipcloak;
            ScopedPath path(binWith(noZipcloak, {"sh", "php", "mv"}));
            queue.enqueue({work + "/a.txt"}, work, {true, "secret", false});
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, kJobTimeout);
        }
        QCOMPARE(outcomeAt(finished, 2).kind, JobOutcome::Kind::Failed);
        QVERIFY(!fs::exists(work + "/archive.zip"));
        QVERIFY(capture.text().find("grant password error:") != std::string::npos);

        queue.enqueue({work + "/a.txt"}, work, {true, "secret", false});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 4, kJobTimeout);
        const JobOutcome last = outcomeAt(finished, 3);
        QCOMPARE(last.kind, JobOutcome::Kind::Delivered);
        QVERIFY(last.encrypted);
        QVERIFY(unzipTests(last.archivePath, "secret"));
        QVERIFY(!unzipTests(last.archivePath, "wrong"));
    }

    void mainThreadRunsWhileALargeTreeIsCopied()
    {
        // Items on another file system cannot be linked, so their data is
        // really copied: a few hundred megabytes take a noticeable time.
        if (fs::status("/dev/shm").type() != fs::file_type::directory)
            QSKIP("no /dev/shm to hold items on another file system");
        TestHome home;
        QTemporaryDir items("/dev/shm/quillmere-test-XXXXXX");
        const std::string tree = items.path().toStdString() + "/large";
        fs::create_directories(tree);
        std::string block(1 << 20, 'q');
        for (int file = 0; file < 6; ++file) {
            std::ofstream out(tree + "/part" + std::to_string(file) + ".bin", std::ios::binary);
            for (int mb = 0; mb < 50; ++mb)
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        home.writeFile("small/note.txt", "queued\n");

        StdoutCapture capture;
        JobQueue queue(nullptr);
        QSignalSpy finished(&queue, &JobQueue::jobFinished);
        QSignalSpy phases(&queue, &JobQueue::phaseChanged);
        int ticks = 0;
        int ticksWhileCopying = 0;
        bool copying = false;
        connect(&queue, &JobQueue::phaseChanged, this, [&](JobPhase phase) { copying = phase == JobPhase::Copying; });
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            ++ticks;
            if (copying)
                ++ticksWhileCopying;
        });
        ticker.start(5);

        queue.enqueue({tree}, home.path(), {});
        QCOMPARE(copying, true);
        // A request made while the first job copies waits for it.
        queue.enqueue({home.path() + "/small/note.txt"}, home.path() + "/small", {});
        QCOMPARE(queue.waitingCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 3 * kJobTimeout);
        QVERIFY2(ticksWhileCopying > 2, qPrintable(QString("main loop ran %1 times while copying").arg(ticksWhileCopying)));
        QCOMPARE(outcomeAt(finished, 0).kind, JobOutcome::Kind::Delivered);
        QCOMPARE(outcomeAt(finished, 1).archivePath, home.path() + "/small/archive.zip");
        QVERIFY(unzipTests(outcomeAt(finished, 0).archivePath));
    }
};

QTEST_GUILESS_MAIN(tst_JobQueueEndToEnd)
#include "tst_JobQueueEndToEnd.moc"
