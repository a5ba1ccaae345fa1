// The window as a user meets it: drops turned into jobs with the options the
// controls show, refused passwords, options stored as they change, progress
// and results, waiting jobs, the quit question and accessible names.
// Cancelling is tested on a real job in tst_CancelRealJob.
#include "FileDragDropTopLayerView.h"
#include "JobProgressMeter.h"
#include "JobQueue.h"
#include "JobStatusView.h"
#include "TestHome.h"
#include "Util.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(JobOutcome)
Q_DECLARE_METATYPE(Paths)

namespace {

// A job that records how it was started; the test drives its progress and end.
struct FakeJob : ZipAction {
    using Call = std::tuple<Paths, std::string, SettingStatus>;
    void createZip(const Paths& p, const std::string& to, bool e, const std::string& pw) override
    {
        calls.push_back({p, to, {e, pw, false}});
    }
    void selectDirAndCreateZip(const Paths& p, const std::string& to, bool e, const std::string& pw) override
    {
        calls.push_back({p, to, {e, pw, true}});
    }
    std::vector<Call> calls;
};

// A window whose jobs are FakeJobs, owned by the queue, whose quit question
// answers with quit and counts how often it was asked, and whose update
// check notes whether a job was running when it was asked.
struct Window {
    int asked = 0;
    bool quit = false;
    std::vector<bool> busyAtUpdateCheck;
    std::vector<FakeJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new FakeJob); }};
    ViewController view{jobs, services()};
    JobStatusView& status = *view.jobStatusView;

    ViewServices services()
    {
        ViewServices services;
        services.confirmQuit = [this](QWidget*) { ++asked; return quit; };
        services.checkForUpdate = [this] { busyAtUpdateCheck.push_back(jobs.isBusy()); };
        return services;
    }

    void start(const std::string& item) { jobs.enqueue({"/data/" + item}, "/data", SettingStatus()); }
    FakeJob& running() { return *made.back(); }
};

// One step of a drag as Qt delivers it. The action taken, or IgnoreAction when refused.
template <typename Event>
Qt::DropAction send(QWidget* target, const QMimeData& data)
{
    Event event(target->rect().center(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    QApplication::sendEvent(target, &event);
    return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    void dropOfLocalFilesStartsOneJob_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<Paths>("job"); // empty when refused
        // The archive goes beside the first item; names are bytes, not always UTF-8.
        const Paths files{"/to/a b#1.txt", "/other/\x82\xa0\xff"};
        QList<QUrl> urls;
        for (const std::string& path : files)
            urls << QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
        QTest::newRow("files from two folders") << urls << files;
        QTest::newRow("text only") << QList<QUrl>() << Paths();
        QTest::newRow("a web address among files")
            << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.txt"), QUrl("https://example.org/b")} << Paths();
    }
    void dropOfLocalFilesStartsOneJob()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(Paths, job);
        Window w;
        w.view.encryptCheckBox->click();
        w.view.passwordTextField->setText(QStringLiteral("typed"));
        QMimeData data;
        data.setText(QStringLiteral("/tmp/a.txt"));
        if (!urls.isEmpty())
            data.setUrls(urls);
        const Qt::DropAction taken = job.empty() ? Qt::IgnoreAction : Qt::CopyAction;
        QCOMPARE(send<QDragEnterEvent>(w.view.fileDragDropTopLayerView, data), taken);
        QCOMPARE(send<QDropEvent>(w.view.fileDragDropTopLayerView, data), taken);
        QCOMPARE(w.made.size(), size_t(job.empty() ? 0 : 1));
        if (!job.empty())
            QCOMPARE(w.running().calls, (std::vector<FakeJob::Call>{{job, "/to", {true, "typed", false}}}));
    }

    // Files given at the start are handed over right after the window is
    // built: their job starts before the update question is sent.
    void updateCheckFollowsTheJobGivenAtTheStart()
    {
        Window w;
        w.start("a.txt");
        QTRY_COMPARE(w.busyAtUpdateCheck.size(), size_t(1));
        QVERIFY(w.busyAtUpdateCheck.front());
    }

    void refusedPasswordIsExplainedAndNothingStarts()
    {
        Window w;
        w.view.encryptCheckBox->click();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/data/a.txt")});
        w.view.onDrop(&data);
        QCOMPARE(w.made.size(), size_t(0));
        QCOMPARE(w.status.headlineLabel->text(), QStringLiteral("このパスワードでは暗号化できないため、作成しませんでした"));
        QCOMPARE(w.status.remedyLabel->text(), QStringLiteral("パスワードが空です。入力するか「自動生成」を押してください。"));
    }

    void passwordNoteSaysWhatTheReceiverTypes_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("refused");
        QTest::newRow("ASCII: nothing to say") << "secret-1" << QString() << false;
        QTest::newRow("Japanese: typed as it is on Japanese Windows")
            << "パスワード表" << QStringLiteral("日本語の文字が入っています。受け取る人は日本語版 Windows で、"
                                            "このとおりの文字を入力して開きます（Mac や他の言語の Windows では"
                                            "開けないことがあります）。")
            << false;
        QTest::newRow("emoji: refused") << "パスワード😀"
                                        << QStringLiteral("パスワードに Windows の日本語（シフト JIS）にない文字"
                                                          "（絵文字など）が入っています。その文字を取り除くか、"
                                                          "別の文字にしてください。")
                                        << true;
        QTest::newRow("41 Japanese characters: too long")
            << QString(41, QChar(0x8868))
            << QStringLiteral("パスワードが長すぎます。半角 80 文字（日本語はおよそ 40 文字）までにしてください。") << true;
    }
    // As the password is typed, the note under it says what the receiver
    // types, or why it cannot be used; a refused one starts no job.
    void passwordNoteSaysWhatTheReceiverTypes()
    {
        QFETCH(QString, password);
        QFETCH(QString, note);
        QFETCH(bool, refused);
        Window w;
        w.view.encryptCheckBox->click();
        w.view.passwordTextField->setText(password);
        QCOMPARE(w.view.passwordNoteLabel->text(), note);
        QCOMPARE(w.view.passwordNoteLabel->styleSheet().contains("#b3261e"), refused); // red for a refusal
        if (!refused)
            return;
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/data/a.txt")});
        w.view.onDrop(&data);
        QCOMPARE(w.made.size(), size_t(0));
        QCOMPARE(w.status.remedyLabel->text(), note);
    }

    void optionsAreStoredAtOnce()
    {
        Window w;
        w.view.encryptCheckBox->click();
        QCOMPARE(Util::loadSettingStatus().isEncrypt, true);
        QTest::keyClicks(w.view.passwordTextField, QStringLiteral("abc"));
        QCOMPARE(Util::loadSettingStatus().password, std::string("abc"));
        // A window made later starts with them.
        Window later;
        QCOMPARE(later.view.currentSettingStatus(), w.view.currentSettingStatus());
    }

    void runningJobShowsProgressAndOutcome_data()
    {
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<QString>("headline");
        QTest::newRow("delivered") << JobOutcome::delivered("/data/out/archive.zip", false)
                                   << QStringLiteral("archive.zip を作成しました");
        QTest::newRow("writer missing")
            << JobOutcome::failed(JobPhase::Writing, "php: command not found", FailureCause::WriterMissing)
            << QStringLiteral("アーカイブを作成するための PHP（php-cli と php-zip）が見つかりません");
    }
    void runningJobShowsProgressAndOutcome()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(QString, headline);
        Window w;
        w.start("a.txt");
        emit w.running().progressChanged({JobPhase::Copying, 1, {}, false});
        QCOMPARE(w.status.progressBar->value(), int(JobProgressMeter::share(false, 0) * 100));
        emit w.running().finished(outcome);
        QCOMPARE(w.status.headlineLabel->text(), headline);
    }

    void waitingJobCanBeRemoved()
    {
        Window w;
        w.start("a.txt");
        w.start("b.txt");
        w.start("c.txt");
        w.status.waitingList->setCurrentRow(1);
        w.status.removeWaitingButton->click();
        QCOMPARE(w.jobs.waitingNames(), Paths{"b.txt"});
        QCOMPARE(w.status.waitingList->count(), 1);
    }

    void quitAsksOnlyWhileJobsRun_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("quit");
        QTest::newRow("idle") << false << false;
        QTest::newRow("busy, user stays") << true << false;
        QTest::newRow("busy, user quits") << true << true;
    }
    void quitAsksOnlyWhileJobsRun()
    {
        QFETCH(bool, busy);
        QFETCH(bool, quit);
        Window w;
        w.view.show();
        w.quit = quit;
        QSignalSpy quitConfirmed(&w.view, &ViewController::quitConfirmed);
        if (busy)
            w.start("a.txt");
        w.view.close();
        QCOMPARE(w.view.isHidden(), !busy || quit);
        QCOMPARE(w.asked, busy ? 1 : 0);
        QCOMPARE(quitConfirmed.count(), busy && quit ? 1 : 0);
    }

    void everyControlHasAJapaneseName()
    {
        Window w;
        const QRegularExpression japanese(QStringLiteral("[\\p{Hiragana}\\p{Katakana}\\p{Han}]"));
        QStringList unnamed;
        for (QWidget* control : w.view.findChildren<QWidget*>()) {
            const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control)
                || qobject_cast<QProgressBar*>(control) || qobject_cast<QAbstractItemView*>(control)
                || qobject_cast<QPlainTextEdit*>(control);
            if (isControl && !control->accessibleName().contains(japanese))
                unnamed << control->metaObject()->className() + QStringLiteral(" ") + control->accessibleName();
        }
        QCOMPARE(unnamed, QStringList());
        // Screen readers find the controls users ask for by these words.
        QVERIFY(w.view.encryptCheckBox->accessibleName().contains(QStringLiteral("暗号化")));
        QCOMPARE(w.view.passwordTextField->accessibleName(), QStringLiteral("パスワード"));
        QCOMPARE(w.status.cancelButton->accessibleName(), QStringLiteral("キャンセル"));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_Window.moc"
