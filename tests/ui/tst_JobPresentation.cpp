// How the window presents a job: one bar for the whole job that never goes
// back, the phase with the time left and the item being compressed, a result
// that names every count, Japanese details without the work folder's inner
// paths, the line for the receiver of an encrypted archive, and the messages
// as accessible names. Real jobs: a missing php, an encrypted job's bar, and
// cancelling from the window.
#include "JobProgressMeter.h"
#include "JobReportText.h"
#include "JobProgressText.h"
#include "JobStatusText.h"
#include "ReportLines.h"
#include "ScopedEnvironment.h"
#include "StandInJob.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "WorkFolders.h"
#include "WorkRoot.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <set>

using namespace std::chrono_literals;
Q_DECLARE_METATYPE(JobOutcome)
Q_DECLARE_METATYPE(JobProgress)

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

// Every value the bar took, in order.
std::vector<int> barValues(QSignalSpy& spy)
{
    std::vector<int> values;
    for (const QList<QVariant>& change : spy)
        values.push_back(change.at(0).toInt());
    return values;
}

} // namespace

class TestJobPresentation : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void initTestCase()
    {
        qRegisterMetaType<JobOutcome>();
        qRegisterMetaType<JobProgress>();
    }

    void resultNamesEveryCount_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("plain") << false;
        QTest::newRow("encrypted") << true;
    }
    // The summary names files, folders, renamed and left-out items (an item
    // given twice is not lost); an encrypted result says what the receiver
    // does. A screen reader gets the whole of it from the result's name.
    void resultNamesEveryCount()
    {
        QFETCH(bool, encrypted);
        JobReport report;
        report.fileCount = 5;
        report.folderCount = 3;
        report.renamed = {{"資料/a:b.txt", "資料/a_b.txt", true}, {"資料/c?.txt", "資料/c_.txt", true}};
        report.leftOut = {{"/data/資料/gone.txt", LeftOutReason::Missing, "No such file or directory"},
                          {"/data/資料", LeftOutReason::SameItem, ""}};
        StandInWindow w;
        emit w.start().finished(JobOutcome::delivered("/data/送付/archive.zip", encrypted, report));
        const QString remedy = w.status.remedyLabel->text();
        QVERIFY2(remedy.contains(QStringLiteral("ファイル 5 個、フォルダ 3 個、2 個の名前を変えました、1 個は入れられませんでした")),
                 qPrintable(remedy));
        QVERIFY(remedy.contains(QStringLiteral("保存先: /data/送付")));
        QCOMPARE(w.status.headlineLabel->text(),
                 QStringLiteral("archive.zip を作成しましたが、1 個の項目を入れられませんでした"));
        QCOMPARE(remedy.contains(QStringLiteral("パスワードで暗号化済み")), encrypted);
        QCOMPARE(remedy.contains(QStringLiteral("暗号化なし")), !encrypted);

        const QString receiver = w.status.receiverLabel->text();
        QCOMPARE(w.status.receiverLabel->isVisibleTo(&w.view), encrypted);
        QCOMPARE(receiver.isEmpty(), !encrypted);
        if (encrypted) {
            QVERIFY(receiver.contains(QStringLiteral("エクスプローラー")));
            QVERIFY(receiver.contains(QStringLiteral("パスワードを入力")));
            QVERIFY(receiver.contains(QStringLiteral("同じメールに書かず")));
        }
        const QString spoken = w.status.headlineLabel->accessibleName();
        for (const QString& part : {w.status.headlineLabel->text(), remedy, receiver})
            QVERIFY2(spoken.contains(part), qPrintable(spoken));
        QCOMPARE(w.status.remedyLabel->accessibleName(), remedy);
    }

    void failureDetailIsJapaneseWithTheUsersPaths_data()
    {
        const std::string work = WorkFolders::ofCurrentUser().forNewJob().contentFolder();
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("php missing")
            << JobOutcome::failed(JobPhase::Writing, "php is not installed", FailureCause::WriterMissing)
            << QStringList{QStringLiteral("失敗した段階: 圧縮"), QStringLiteral("システムからの説明: php is not installed")};
        QTest::newRow("no space in the work folder")
            << JobOutcome::failed(JobPhase::Delivering, "デバイスに空き領域がありません: " + work + "/資料/大きな ファイル.bin",
                                  FailureCause::WorkFolderFull)
            << QStringList{QStringLiteral("失敗した段階: 保存先への保存"),
                           QStringLiteral("デバイスに空き領域がありません: アーカイブ内の 資料/大きな ファイル.bin")};
        QTest::newRow("the work root itself")
            << JobOutcome::failed(JobPhase::Copying, "Input/output error: " + WorkFolders::ofCurrentUser().tmpDirectory()
                                                         + ", error file Path: /data/資料",
                                  FailureCause::WorkFolderFailed)
            << QStringList{QStringLiteral("失敗した段階: 項目の準備（コピー）"),
                           QStringLiteral("Input/output error: 作業用フォルダ ~/.quillmere, error file Path: /data/資料")};
        QTest::newRow("an item changed while the job ran")
            << JobOutcome::failed(JobPhase::Verifying, "changed while the job ran: /data/資料/見積書.xlsx (gone or renamed)",
                                  FailureCause::ItemChanged)
            << QStringList{QStringLiteral("失敗した段階: 作成したアーカイブの確認"),
                           QStringLiteral("作成中に変わった項目: /data/資料/見積書.xlsx")};
        // The programs' own words are said in Japanese.
        QTest::newRow("php ended without an archive")
            << JobOutcome::failed(JobPhase::Writing, "the writer exited with status 0 and wrote no archive",
                                  FailureCause::WorkFolderFull)
            << QStringList{QStringLiteral("何が起きたか: アーカイブを書く php が終了コード 0 で終わりました。"
                                          "アーカイブはできていません")};
        QTest::newRow("expect killed")
            << JobOutcome::failed(JobPhase::Encrypting, "expect was killed by signal 9", FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: 暗号化を進める expect がシグナル 9 で止められました")};
        // The limits the system ends a program at are named.
        QTest::newRow("php past the file size limit")
            << JobOutcome::failed(JobPhase::Writing, "the writer was killed by signal 25 and wrote no archive",
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: アーカイブを書く php がシグナル 25 で止められました"
                                          "（ファイルの大きさの上限（ulimit -f）に達しました）。アーカイブはできていません")};
        QTest::newRow("php out of memory")
            << JobOutcome::failed(JobPhase::Writing, "the writer was killed by signal 9 and wrote no archive",
                                  FailureCause::Other)
            << QStringList{QStringLiteral("php がシグナル 9 で止められました（メモリが足りなくなったときなどに")};
        QTest::newRow("mv refused by a full destination")
            << JobOutcome::failed(JobPhase::Encrypting, "the encrypted archive could not be moved to the destination folder",
                                  FailureCause::DestinationFull)
            << QStringList{QStringLiteral("何が起きたか: 暗号化したアーカイブを保存先のフォルダへ移せませんでした")};
        // So are the read-back's findings, with the entry as Windows shows it.
        const std::string part = "/data/out/.archive-3kfqdn4lpya3.zip.part";
        QTest::newRow("an entry that does not read back")
            << JobOutcome::failed(JobPhase::Verifying,
                                  "entry archive/\x8c\xa9\x90\xcf.txt does not read back: its checksum or size is wrong: "
                                      + part,
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、archive/見積.txt のデータが"
                                          "正しくありませんでした（チェックサムかサイズが違います）")};
        QTest::newRow("an entry damaged, no password")
            << JobOutcome::failed(JobPhase::Verifying, "entry archive/a.txt does not read back: its data is damaged: " + part,
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、archive/a.txt のデータが壊れて"
                                          "いました")};
        QTest::newRow("an entry left plain")
            << JobOutcome::failed(JobPhase::Verifying, "entry archive/a.txt is not encrypted: " + part, FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、archive/a.txt が暗号化されて"
                                          "いませんでした")};
        QTest::newRow("an entry cut short")
            << JobOutcome::failed(JobPhase::Verifying, "entry archive/a.txt is not readable (data cut short): " + part,
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、archive/a.txt を読み取れません"
                                          "でした")};
        QTest::newRow("entries missing")
            << JobOutcome::failed(JobPhase::Verifying,
                                  "the archive holds 3 entries where 4 were expected, or under other names: " + part,
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、入っている項目が 3 個で、"
                                          "入るはずの 4 個と合いませんでした")};
        QTest::newRow("no archive to read")
            << JobOutcome::failed(JobPhase::Writing, "not a readable ZIP file (no end of central directory): " + part,
                                  FailureCause::Other)
            << QStringList{QStringLiteral("何が起きたか: できたアーカイブを読み直したところ、ZIP ファイルとして読めません"
                                          "でした")};
        // The path may hold parentheses of its own.
        QTest::newRow("a folder gone while staged")
            << JobOutcome::failed(JobPhase::Copying, "changed while the job ran: /data/見積 (2) (the folder could not "
                                                     "be listed: No such file or directory)",
                                  FailureCause::ItemChanged)
            << QStringList{QStringLiteral("作成中に変わった項目: /data/見積 (2)")};
        JobOutcome nothing = JobOutcome::failed(JobPhase::Copying, "none of the items can go into the archive",
                                                FailureCause::NothingToArchive);
        // The system's answer follows the reason; the log's own English
        // does not. A name that reads right to left is kept to itself.
        nothing.report.leftOut = {
            {"/data/秘密.txt", LeftOutReason::CopyFailed, "No space left on device: " + work + "/秘密.txt"},
            {"/data/.DS_Store", LeftOutReason::ExcludedName, "a .DS_Store file: /data/.DS_Store"},
            {"/data/請求書\u202efdp.exe", LeftOutReason::Missing, "No such file or directory: /data/請求書\u202efdp.exe"}};
        QTest::newRow("each item and why")
            << nothing
            << QStringList{QStringLiteral("入れられなかった項目: 3 件"),
                           QStringLiteral("/data/秘密.txt — 作業用フォルダにコピーできませんでした（No space left on device: "
                                          "アーカイブ内の 秘密.txt）"),
                           QStringLiteral("/data/.DS_Store — 名前に「.DS_Store」を含むため、アーカイブには入りません\n"),
                           QStringLiteral("\u2068/data/請求書\u202efdp.exe\u2069 — 見つかりません（No such file")};
    }
    void resultSaysWhatHappened_data()
    {
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("remedy"); // a part of it
        QTest::newRow("delivered") << JobOutcome::delivered("/data/out/archive.zip", false)
                                   << QStringLiteral("archive.zip を作成しました") << QStringLiteral("保存先: /data/out");
        JobReport warned;
        warned.fileCount = 1;
        warned.warnings.push_back({"archive/長い名前.txt", WindowsWarning::PathTooLong, 270});
        QTest::newRow("delivered with a Windows warning only")
            << JobOutcome::delivered("/data/out/archive.zip", false, warned)
            << QStringLiteral("archive.zip を作成しました")
            << QStringLiteral("ファイル 1 個、フォルダ 0 個、1 個は Windows で元のとおりに展開できないおそれがあります、暗号化なし\n"
                              "Windows で展開できないおそれのある項目とその理由も「詳細」で確認できます。");
        QTest::newRow("a name written right to left")
            << JobOutcome::delivered("/data/דוח/דוח.zip", false)
            << QStringLiteral("\u2068דוח.zip\u2069 を作成しました")
            << QStringLiteral("保存先: \u2068/data/דוח\u2069");
        QTest::newRow("writer missing")
            << JobOutcome::failed(JobPhase::Writing, "php: command not found", FailureCause::WriterMissing)
            << QStringLiteral("アーカイブを作成するための PHP（php-cli と php-zip）が見つかりません")
            << QStringLiteral("php-cli と php-zip のパッケージをインストール");
        // A destination whose path is longer than the system takes is told
        // as such, with the way out, and not as a folder to look for.
        QTest::newRow("destination path too long")
            << JobOutcome::failed(JobPhase::Delivering, "File name too long: /data/深い/d/d",
                                  FailureCause::DestinationPathTooLong)
            << QStringLiteral("保存先のフォルダの場所（パス）が長すぎるため、作成しませんでした")
            << QStringLiteral("浅い場所にあるフォルダを選んで");
        QTest::newRow("archive larger than a FAT stick holds")
            << JobOutcome::failed(JobPhase::Delivering, "the archive (5000000000 bytes) is larger than ...",
                                  FailureCause::DestinationFileTooLarge)
            << QStringLiteral("保存先のディスクには 4 GB を超えるファイルを保存できません")
            << QStringLiteral("別のディスクのフォルダを選ぶか、項目を分けて");
        // The system's limit is no fault of the items, and says so.
        QTest::newRow("too many open files")
            << JobOutcome::failed(JobPhase::Copying, "Too many open files: /data/d1", FailureCause::SystemLimit)
            << QStringLiteral("同時に開けるファイルやプロセスの数、メモリなど、システムの上限に達したため、作成できませんでした")
            << QStringLiteral("項目に問題はありません。");
        QTest::newRow("nothing to archive")
            << JobOutcome::failed(JobPhase::Copying, "none of the items can go into the archive",
                                  FailureCause::NothingToArchive)
            << QStringLiteral("アーカイブに入れられる項目がありませんでした")
            << QStringLiteral("入れられなかった項目とその理由は「詳細」で確認できます。");
    }
    void resultSaysWhatHappened()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(QString, headline);
        QFETCH(QString, remedy);
        StandInWindow w;
        emit w.start().finished(outcome);
        QCOMPARE(w.status.headlineLabel->text(), headline);
        const QString said = w.status.remedyLabel->text();
        QVERIFY2(said.contains(remedy), qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("フォルダがあり")), qPrintable(said));
        // A screen reader reads both from the headline.
        QCOMPARE(w.status.headlineLabel->accessibleName(), headline + "\n" + said);
    }

    // 詳細 of a failure: the phase in Japanese, the system's words with the
    // work folder's inner paths taken out, what the job found; it wraps.
    void failureDetailIsJapaneseWithTheUsersPaths()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(QStringList, expected);
        StandInWindow w;
        emit w.start().finished(outcome);
        const QString details = w.status.detailsText->toPlainText();
        for (const QString& line : expected)
            QVERIFY2(details.contains(line), qPrintable(details));
        for (const char* english : {"none of the items", "a .DS_Store file", "changed while the job ran", "the writer",
                                    "expect was", "could not be moved", "read back", "readable", "encrypted:",
                                    "entries where", ".zip.part"})
            QVERIFY2(!details.contains(QLatin1String(english)), qPrintable(details));
        QVERIFY2(!details.contains(QStringLiteral(".quillmere/")), qPrintable(details));
        QVERIFY(!details.contains(QStringLiteral("phase")));
        QCOMPARE(w.status.detailsText->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(w.status.detailsButton->isVisibleTo(&w.view));
    }

    // A time a header cannot hold is clamped on this computer's clock, and
    // told on that clock: the line with its offset, so that a time just
    // outside the range never reads as inside it; a time no calendar shows
    // in seconds.
    void anOutOfRangeTimeIsToldOnTheSendersClock_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("shown");
        const qint64 first1980 = 315532800; // 1980-01-01T00:00:00Z
        QTest::newRow("New York") << QByteArray("America/New_York") << first1980
                                  << "dated 1979-12-31T19:00:00-05:00: " << QStringLiteral("日時（1979/12/31 19:00:00）");
        QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo") << qint64(0) << "dated 1970-01-01T09:00:00+09:00: "
                               << QStringLiteral("日時（1970/01/01 09:00:00）");
        QTest::newRow("UTC") << QByteArray("UTC") << qint64(4354819200) << "dated 2108-01-01T00:00:00+00:00: "
                             << QStringLiteral("日時（2108/01/01 00:00:00）");
        QTest::newRow("beyond any calendar") << QByteArray("UTC") << (qint64(1) << 62)
                                             << "dated 4611686018427387904 seconds after 1970-01-01T00:00:00Z: "
                                             << QStringLiteral("日時（1970 年から 4611686018427387904 秒）");
    }
    void anOutOfRangeTimeIsToldOnTheSendersClock()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, seconds);
        QFETCH(QString, line);
        QFETCH(QString, shown);
        const auto restoreZone = qScopeGuard([] { ::tzset(); });
        const auto zoneSet = scopedEnvironment("TZ", zone);
        ::tzset();
        const WarnedItem item{"archive/a.txt", WindowsWarning::DateOutOfRange, 13, std::time_t(seconds)};
        const QString detail = QString::fromStdString(ReportLines::warningDetail(item));
        QVERIFY2(detail.startsWith(line), qPrintable(detail));
        const QString sentence = JobReportText::warning(item);
        QVERIFY2(sentence.startsWith(shown), qPrintable(sentence));
    }

    // A failure whose result the next waiting job replaced at once stays in
    // view, as a delivered archive that lacks items would; the next job
    // after a result the user could read starts afresh.
    void aResultReplacedAtOnceStaysInView()
    {
        StandInWindow w;
        StandInJob& first = w.start("一");
        for (const char* item : {"/data/二", "/data/三"})
            w.jobs.enqueue({item}, "/data", SettingStatus());
        emit first.finished(JobOutcome::delivered("/data/archive.zip", false));
        QTRY_COMPARE(w.made.size(), std::size_t(2));
        QVERIFY(w.status.earlierLabel->isHidden());
        emit w.running().finished(JobOutcome::failed(JobPhase::Delivering, "Permission denied: /data",
                                                     FailureCause::DestinationNotWritable));
        QTRY_COMPARE(w.made.size(), std::size_t(3));
        const QString kept = QStringLiteral("先に終わったジョブ:\n・二: 保存先のフォルダに書き込めませんでした");
        QCOMPARE(w.status.earlierLabel->text(), kept);
        QCOMPARE(w.status.earlierLabel->accessibleName(), kept);
        QVERIFY(!w.status.earlierLabel->isHidden());
        // A folder chooser cancelled meanwhile shows nothing of its own.
        w.jobs.enqueue({"/data/五"}, "/data", SettingStatus());
        emit w.running().finished(JobOutcome::cancelled());
        QTRY_COMPARE(w.made.size(), std::size_t(4));
        emit w.running().finished(JobOutcome::delivered("/data/archive1.zip", false));
        QCOMPARE(w.status.headlineLabel->text(), QStringLiteral("archive1.zip を作成しました"));
        QCOMPARE(w.status.earlierLabel->text(), kept);
        w.start("四");
        QVERIFY(w.status.earlierLabel->isHidden());
    }

    // A missing php is reported as a failure to compress, which is where
    // php is needed, not as a failure to copy.
    void missingPhpFailsTheWriting()
    {
        const auto path = scopedEnvironment("PATH", "/nonexistent");
        m_home.writeFile("items/a.txt", "a");
        JobQueue jobs(JobQueue::archiveJobs({}));
        QSignalSpy finished(&jobs, &JobQueue::jobFinished);
        jobs.enqueue({m_home.path() + "/items/a.txt"}, m_home.path() + "/items", SettingStatus());
        QTRY_COMPARE(finished.count(), 1);
        const JobOutcome outcome = finished.at(0).at(0).value<JobOutcome>();
        QCOMPARE(outcome.cause, FailureCause::WriterMissing);
        QCOMPARE(outcome.failedIn, JobPhase::Writing);
    }

    // Cancelling from the window ends a real job: a stand-in php that would
    // write for a minute is ended, the staging folder goes, nothing is
    // delivered, and the window says so.
    void cancelEndsTheWriterAndDeliversNothing()
    {
        const QString pidFile = QFile::decodeName(QByteArray::fromStdString(m_home.path())) + "/php.pid";
        const QString fakes = QFileInfo(QFINDTESTDATA("fakes/php")).absolutePath();
        const auto path = scopedEnvironment("PATH", QFile::encodeName(fakes));
        const auto pidFileName = scopedEnvironment("QUILLMERE_TEST_PID_FILE", QFile::encodeName(pidFile));
        m_home.writeFile("cancelled/report.txt", "confidential");
        const std::string destination = m_home.path() + "/cancelled";

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

    void barCoversTheWholeJobAndNeverGoesBack_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("plain") << false;
        QTest::newRow("encrypted") << true;
    }
    // Each phase starts where the last one ended; a plain job delivers
    // twice (the move before the check, the name after it). Values told
    // late or out of order do not move the bar back. Each label's message
    // is its accessible name, its description says which message it is;
    // the buttons keep their names. (That each change is told to the
    // accessibility bus, and the result's and the phase's descriptions as
    // read there, are tested in tst_AccessibleWindow.)
    void barCoversTheWholeJobAndNeverGoesBack()
    {
        QFETCH(bool, encrypted);
        StandInWindow w;
        QCOMPARE(w.status.readyLabel->accessibleName(), JobStatusText::ready());
        QCOMPARE(w.status.readyLabel->accessibleDescription(), QStringLiteral("状況"));
        StandInJob& job = w.start();
        QSignalSpy bar(w.status.progressBar, &QProgressBar::valueChanged);
        const std::vector<JobPhase> phases = encrypted
            ? std::vector{JobPhase::Copying, JobPhase::Writing, JobPhase::Encrypting, JobPhase::Verifying, JobPhase::Delivering}
            : std::vector{JobPhase::Copying, JobPhase::Writing, JobPhase::Delivering, JobPhase::Verifying, JobPhase::Delivering};
        std::vector<int> atPhaseStart;
        for (JobPhase phase : phases) {
            job.enter(phase, encrypted);
            atPhaseStart.push_back(w.status.progressBar->value());
            QCOMPARE(w.status.phaseLabel->text(), JobStatusText::phase(phase));
            QCOMPARE(w.status.phaseLabel->accessibleName(), w.status.phaseLabel->text());
            const bool writing = phase == JobPhase::Writing;
            for (double fraction : {0.3, 0.2, 0.7, 1.0})
                job.tell(phase, fraction, encrypted, writing ? "資料/a:b.txt" : "");
            // While compressing the window names the item, by the user's own path.
            const QString item = writing ? QStringLiteral("圧縮中の項目: 資料/a:b.txt") : QString();
            QCOMPARE(w.status.itemLabel->accessibleName(), item);
            QCOMPARE(w.status.itemLabel->toolTip(), item);
            job.tell(JobPhase::Copying, 0.1, encrypted); // a late word from an earlier phase
        }
        QCOMPARE(w.status.cancelButton->accessibleName(), QStringLiteral("キャンセル"));
        const std::vector<int> values = barValues(bar);
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QVERIFY(std::is_sorted(atPhaseStart.begin(), atPhaseStart.end()));
        QCOMPARE(atPhaseStart[1], 3); // the copying, the first 3 %
        // Compressing is most of the work; the bar is nearly full at the end.
        QVERIFY2(atPhaseStart[2] - atPhaseStart[1] >= 50, qPrintable(QString::number(atPhaseStart[2])));
        QVERIFY(w.status.progressBar->value() >= 98);
        emit job.finished(JobOutcome::delivered("/data/archive.zip", encrypted));
        QCOMPARE(w.status.progressBar->value(), 100);
        w.start();
        w.start();
        QCOMPARE(w.status.waitingLabel->accessibleName(), QStringLiteral("待機中: 1 件"));
        QCOMPARE(w.status.waitingLabel->accessibleDescription(), QStringLiteral("待機中の件数"));
    }

    // An encrypted job whose archive mv copies onto another disk says it is
    // saving meanwhile; its bar goes on from the encrypting's place, not
    // from the saving's at the end, and the check after it is told as ever.
    void anEncryptedJobsCopyOutIsToldAsSaving()
    {
        StandInWindow w;
        StandInJob& job = w.start();
        for (JobPhase phase : {JobPhase::Copying, JobPhase::Writing, JobPhase::Encrypting})
            job.enter(phase, true);
        job.tell(JobPhase::Encrypting, 0.4, true);
        QCOMPARE(w.status.phaseLabel->text(), JobStatusText::phase(JobPhase::Encrypting));
        const int encrypting = w.status.progressBar->value();

        emit job.progressChanged({JobPhase::Encrypting, 0.6, {}, true, false, true});

        QCOMPARE(w.status.phaseLabel->text(), JobStatusText::phase(JobPhase::Delivering));
        QCOMPARE(w.status.phaseLabel->accessibleName(), w.status.phaseLabel->text());
        const int copying = w.status.progressBar->value();
        QVERIFY2(copying > encrypting && copying < 88, qPrintable(QString::number(copying)));
        job.enter(JobPhase::Verifying, true);
        QCOMPARE(w.status.phaseLabel->text(), JobStatusText::phase(JobPhase::Verifying));
        const int verifying = w.status.progressBar->value();
        QVERIFY2(verifying >= copying && verifying < 95, qPrintable(QString::number(verifying)));
    }

    // The time left appears once a few percent are done and two seconds
    // have passed, and follows the pace so far.
    void timeLeftFollowsThePace()
    {
        JobProgressMeter meter;
        const auto start = JobProgressMeter::Clock::time_point();
        meter.update({JobPhase::Copying, 0, {}, false}, start);
        meter.update({JobPhase::Writing, 0.5, {}, false}, start + 1s);
        QCOMPARE(meter.timeLeft(start + 1s), std::nullopt); // too early
        meter.update({JobPhase::Writing, 0.5, {}, false}, start + 10s);
        // The copying (3 %) and half the writing (46 %) done in 10 s: 10.4 s
        // more, shown as 11.
        const auto left = meter.timeLeft(start + 10s);
        QVERIFY(left.has_value());
        QCOMPARE(left->count(), 11);
        // A new job starts from nothing.
        meter.restart();
        QCOMPARE(meter.percent(), 0);
        QCOMPARE(meter.timeLeft(start + 20s), std::nullopt);
    }

    // A plain job's archive copied into another file system: the copy has
    // its share of the bar, and the time left follows it, where a rename
    // is over at once.
    void aCopyIntoAnotherFileSystemMovesTheBar()
    {
        JobProgressMeter meter;
        const auto start = JobProgressMeter::Clock::time_point();
        meter.update({JobPhase::Copying, 1, {}, false, true}, start);
        meter.update({JobPhase::Writing, 1, {}, false, true}, start + 10s);
        QVERIFY2(meter.percent() <= 60, qPrintable(QString::number(meter.percent())));
        meter.update({JobPhase::Delivering, 0.25, {}, false, true}, start + 15s);
        const int quarter = meter.percent();
        meter.update({JobPhase::Delivering, 0.75, {}, false, true}, start + 30s);
        QVERIFY2(meter.percent() - quarter >= 15, qPrintable(QString::number(meter.percent())));
        // The copy's pace since it began to tell (0.315 of the job in 15 s)
        // leaves 7.4 s for the rest (0.155), whatever the quick writing
        // made of the pace of the whole.
        const auto left = meter.timeLeft(start + 30s);
        QVERIFY(left.has_value());
        QCOMPARE(left->count(), 8);
    }

    void timeLeftIsRounded_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("a moment") << 4 << QStringLiteral("残りわずか");
        QTest::newRow("seconds") << 7 << QStringLiteral("残り約 7 秒");
        QTest::newRow("seconds, to tens") << 31 << QStringLiteral("残り約 40 秒");
        QTest::newRow("minutes, up") << 61 << QStringLiteral("残り約 2 分");
        QTest::newRow("hours") << 3 * 3600 + 5 * 60 << QStringLiteral("残り約 3 時間 5 分");
    }
    void timeLeftIsRounded()
    {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(JobProgressText::timeLeft(std::chrono::seconds(seconds)), text);
    }

    // Two waiting jobs of the same first item read apart: by the folder the
    // items are in, and by how many there are.
    void waitingJobsReadApart_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("entry");
        QTest::newRow("one item") << QStringList{"/data/h2/video.bin"} << QStringLiteral("video.bin（/data/h2）");
        QTest::newRow("three items") << QStringList{"/data/h2/video.bin", "/data/h2/a", "/data/b"}
                                     << QStringLiteral("video.bin ほか 2 項目（/data/h2）");
        QTest::newRow("a folder at the top") << QStringList{"/写真"} << QStringLiteral("写真（/）");
        QTest::newRow("the root folder") << QStringList{"/"} << QStringLiteral("/（/）");
        QTest::newRow("a name like a placeholder") << QStringList{"/d/%1 %2.txt", "/d/b"}
                                                   << QStringLiteral("%1 %2.txt ほか 1 項目（/d）");
    }
    void waitingJobsReadApart()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, entry);
        std::vector<std::string> bytes;
        for (const QString& path : paths)
            bytes.push_back(path.toStdString());
        QCOMPARE(JobStatusText::waitingEntry(bytes), entry);
    }

    // A real encrypted job of a few megabytes through php, zipcloak and the
    // check: the bar only grows, passes through every phase and ends full.
    void realEncryptedJobNeverGoesBack()
    {
        const std::string noise = randomBytes(6 << 20);
        for (int i = 0; i < 4; ++i)
            m_home.writeFile("real/資料/part" + std::to_string(i) + ".bin", noise.substr(i * 1024));
        m_home.writeFile("real/資料/a:b.txt", "renamed");
        JobQueue jobs(JobQueue::archiveJobs({}));
        ViewController window(jobs);
        QSignalSpy bar(window.jobStatusView->progressBar, &QProgressBar::valueChanged);
        QSignalSpy told(&jobs, &JobQueue::progressChanged);
        QSignalSpy finished(&jobs, &JobQueue::jobFinished);
        jobs.enqueue({m_home.path() + "/real/資料"}, m_home.path() + "/real", {true, "secret-24", false});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
        const JobOutcome outcome = finished.at(0).at(0).value<JobOutcome>();
        QVERIFY2(outcome.kind == JobOutcome::Kind::Delivered, outcome.description.c_str());

        const std::vector<int> values = barValues(bar);
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QCOMPARE(values.back(), 100);
        std::set<JobPhase> phases;
        for (const QList<QVariant>& progress : told) {
            const JobProgress step = progress.at(0).value<JobProgress>();
            QVERIFY(step.encrypted);
            QVERIFY(step.fraction >= 0 && step.fraction <= 1);
            // Items are told by the user's names.
            QVERIFY2(step.item.empty() || step.item.rfind("資料/", 0) == 0, step.item.c_str());
            phases.insert(step.phase);
        }
        QCOMPARE(phases, (std::set{JobPhase::Copying, JobPhase::Writing, JobPhase::Encrypting, JobPhase::Verifying,
                                   JobPhase::Delivering}));
        QVERIFY(window.jobStatusView->remedyLabel->text().contains(QStringLiteral("1 個の名前を変えました")));
    }
};

QTEST_MAIN(TestJobPresentation)
#include "tst_JobPresentation.moc"
