// Cancelling from the window ends a real job: a stand-in php that would
// write for a minute is ended, the staging folder goes, nothing is
// delivered, and the window says so.
#include "JobQueue.h"
#include "JobStatusView.h"
#include "ScopedEnvironment.h"
#include "TestHome.h"
#include "ViewController.h"
#include "WorkFolders.h"
#include "WorkRoot.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>

namespace {

// True while the process exists and is not a zombie waiting to be reaped.
bool isAlive(const QByteArray& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype afterName = line.lastIndexOf(')');
    return afterName >= 0 && line.mid(afterName + 2, 1) != "Z";
}

QByteArray readPid(const QString& file)
{
    QFile pidFile(file);
    return pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed() : QByteArray();
}

} // namespace

class TestCancelRealJob : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void cancelEndsTheWriterAndDeliversNothing()
    {
        const QString pidFile = QFile::decodeName(QByteArray::fromStdString(m_home.path())) + "/php.pid";
        const QString fakes = QFileInfo(QFINDTESTDATA("fakes/php")).absolutePath();
        ScopedEnvironment path("PATH", QFile::encodeName(fakes));
        ScopedEnvironment pidFileName("QUILLMERE_TEST_PID_FILE", QFile::encodeName(pidFile));
        m_home.writeFile("items/report.txt", "confidential");
        const std::string destination = m_home.path() + "/items";

        JobQueue jobs(JobQueue::archiveJobs({}));
        ViewController window(jobs);
        QSignalSpy finished(&jobs, &JobQueue::jobFinished);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(destination + "/report.txt"))});
        window.onDrop(&data);
        QTRY_VERIFY_WITH_TIMEOUT(!readPid(pidFile).isEmpty(), 20000);
        const QByteArray writer = readPid(pidFile);
        QVERIFY(isAlive(writer));

        window.jobStatusView->cancelButton->click();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(window.jobStatusView->headlineLabel->text(), QStringLiteral("キャンセルしました"));
        QTRY_VERIFY(!isAlive(writer));
        // The job's staging folder goes once its writer has ended, off the
        // window's thread; the journal keeps no record of it.
        QTRY_COMPARE(leftInWorkRoot(WorkFolders(m_home.path()).tmpDirectory()), QStringList());
        QCOMPARE(QDir(QString::fromStdString(destination)).entryList(QDir::Files), QStringList{"report.txt"});
        QVERIFY(!jobs.isBusy());
    }
};

QTEST_MAIN(TestCancelRealJob)
#include "tst_CancelRealJob.moc"
