// What the window says about the jobs: the phase of the running one, how many
// wait, how the last one ended, and the way to the delivered archive.
#include "JobQueue.h"
#include "JobStatusView.h"
#include "RecordingFolderOpener.h"
#include "RecordingZipAction.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

Q_DECLARE_METATYPE(JobPhase)
Q_DECLARE_METATYPE(JobOutcome)

class TestJobStatusView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void idleSaysReady();
    void eachPhaseIsNamed_data();
    void eachPhaseIsNamed();
    void waitingJobsAreCounted();
    void lastResultIsShown_data();
    void lastResultIsShown();
    void openFolderButtonOpensTheArchivesFolder();
    void cancelledChooserLeavesTheLastResult();

private:
    void start(const std::string& item);
    RecordingZipAction* job(size_t index) const { return m_made.at(index).data(); }

    RecordingZipAction::Made m_made;
    std::unique_ptr<JobQueue> m_jobs;
    RecordingFolderOpener m_opener;
    std::unique_ptr<JobStatusView> m_view;
};

void TestJobStatusView::init()
{
    m_made.clear();
    m_opener.opened.clear();
    m_jobs = std::make_unique<JobQueue>(RecordingZipAction::factory(m_made));
    m_view = std::make_unique<JobStatusView>(*m_jobs, m_opener);
    m_view->show();
}

void TestJobStatusView::cleanup()
{
    m_view.reset();
    m_jobs.reset();
    for (const QPointer<RecordingZipAction>& job : m_made)
        delete job.data();
}

void TestJobStatusView::start(const std::string& item)
{
    m_jobs->enqueue({"/data/" + item}, "/data", SettingStatus());
}

void TestJobStatusView::idleSaysReady()
{
    QCOMPARE(m_view->phaseLabel->text(), QStringLiteral("準備完了"));
    QVERIFY(m_view->busyIndicator->isHidden());
    QVERIFY(m_view->waitingLabel->isHidden());
    QVERIFY(m_view->resultLabel->isHidden());
    QVERIFY(m_view->openFolderButton->isHidden());
}

void TestJobStatusView::eachPhaseIsNamed_data()
{
    QTest::addColumn<JobPhase>("phase");
    QTest::addColumn<QString>("text");
    QTest::newRow("choosing") << JobPhase::ChoosingFolder << QStringLiteral("保存先を選択しています…");
    QTest::newRow("copying") << JobPhase::Copying << QStringLiteral("コピーしています…");
    QTest::newRow("writing") << JobPhase::Writing << QStringLiteral("アーカイブを作成しています…");
    QTest::newRow("encrypting") << JobPhase::Encrypting << QStringLiteral("暗号化しています…");
}

void TestJobStatusView::eachPhaseIsNamed()
{
    QFETCH(JobPhase, phase);
    QFETCH(QString, text);
    start("a.txt");
    QVERIFY(m_view->busyIndicator->isVisible());
    job(0)->enterPhase(phase);
    QCOMPARE(m_view->phaseLabel->text(), text);
    job(0)->finishWith(JobOutcome::delivered("/data/archive.zip", false));
    QCOMPARE(m_view->phaseLabel->text(), QStringLiteral("準備完了"));
    QVERIFY(m_view->busyIndicator->isHidden());
}

void TestJobStatusView::waitingJobsAreCounted()
{
    start("a.txt");
    QVERIFY(m_view->waitingLabel->isHidden());
    start("b.txt");
    start("c.txt");
    QVERIFY(m_view->waitingLabel->isVisible());
    QCOMPARE(m_view->waitingLabel->text(), QStringLiteral("待機中: 2 件"));

    job(0)->finishWith(JobOutcome::delivered("/data/archive.zip", false));
    QCOMPARE(m_view->waitingLabel->text(), QStringLiteral("待機中: 1 件"));
    // The next job starts at once and shows its own phase.
    job(1)->enterPhase(JobPhase::Copying);
    QCOMPARE(m_view->phaseLabel->text(), QStringLiteral("コピーしています…"));

    job(1)->finishWith(JobOutcome::delivered("/data/archive1.zip", false));
    QVERIFY(m_view->waitingLabel->isHidden());
    QVERIFY(m_jobs->isBusy());
    job(2)->finishWith(JobOutcome::delivered("/data/archive2.zip", false));
    QVERIFY(!m_jobs->isBusy());
}

void TestJobStatusView::lastResultIsShown_data()
{
    QTest::addColumn<JobOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("canOpen");
    QTest::newRow("delivered")
        << JobOutcome::delivered("/data/archive.zip", false) << QStringLiteral("作成しました: archive.zip") << true;
    QTest::newRow("delivered encrypted") << JobOutcome::delivered("/data/out/archive3.zip", true)
                                         << QStringLiteral("作成しました: archive3.zip（暗号化済み）") << true;
    QTest::newRow("failed") << JobOutcome::failed(JobPhase::Delivering, "Permission denied: /data/archive.zip")
                            << QStringLiteral("アーカイブを保存先に移動できませんでした（"
                                              "Permission denied: /data/archive.zip）")
                            << false;
}

void TestJobStatusView::lastResultIsShown()
{
    QFETCH(JobOutcome, outcome);
    QFETCH(QString, text);
    QFETCH(bool, canOpen);
    start("a.txt");
    job(0)->finishWith(outcome);
    QVERIFY(m_view->resultLabel->isVisible());
    QCOMPARE(m_view->resultLabel->text(), text);
    QCOMPARE(m_view->openFolderButton->isVisible(), canOpen);
}

void TestJobStatusView::openFolderButtonOpensTheArchivesFolder()
{
    start("a.txt");
    job(0)->finishWith(JobOutcome::delivered("/data/out/\xff/archive.zip", false));
    QTest::mouseClick(m_view->openFolderButton, Qt::LeftButton);
    QCOMPARE(m_opener.opened, std::vector<std::string>{"/data/out/\xff"});

    // A later failure takes the button away with the result it belonged to.
    start("b.txt");
    job(1)->finishWith(JobOutcome::failed(JobPhase::Writing, "exit status 255"));
    QVERIFY(m_view->openFolderButton->isHidden());
}

void TestJobStatusView::cancelledChooserLeavesTheLastResult()
{
    start("a.txt");
    job(0)->finishWith(JobOutcome::delivered("/data/archive.zip", false));
    start("b.txt");
    job(1)->enterPhase(JobPhase::ChoosingFolder);
    job(1)->finishWith(JobOutcome::cancelled());
    QCOMPARE(m_view->resultLabel->text(), QStringLiteral("作成しました: archive.zip"));
    QVERIFY(m_view->openFolderButton->isVisible());
    QCOMPARE(m_view->phaseLabel->text(), QStringLiteral("準備完了"));
}

QTEST_MAIN(TestJobStatusView)
#include "tst_JobStatusView.moc"
