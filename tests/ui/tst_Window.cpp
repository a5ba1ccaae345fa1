// The window as a user meets it: options loaded at start and saved when it
// closes, the password controls, drops turned into jobs with the options the
// controls show, the pictures and log lines of a drag, the job status and
// its notification, the folder chooser, the quit question, and the desktop
// services behind them.
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "FileDragDropTopLayerView.h"
#include "JobQueue.h"
#include "JobStatusView.h"
#include "PictureView.h"
#include "QuitConfirmation.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "Util.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(SettingStatus)
Q_DECLARE_METATYPE(JobPhase)
Q_DECLARE_METATYPE(JobOutcome)
Q_DECLARE_METATYPE(Paths)
Q_DECLARE_METATYPE(std::string)

namespace {

// A job that records how it was started; the test drives its phases and end.
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

// A window whose jobs are FakeJobs, owned by the queue, and whose desktop
// services record instead of acting.
struct Window : FolderOpener, Notifier, QuitConfirmation {
    bool openFolder(const std::string& folder) override { opened.push_back(folder); return true; }
    void notify(const QString& title, const QString& text) override { notes << title + ": " + text; }
    bool confirmQuit() override { ++asked; return quit; }
    std::vector<std::string> opened;
    QStringList notes;
    int asked = 0;
    bool quit = false;
    std::vector<FakeJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new FakeJob); }};
    ViewController view{jobs, {.folderOpener = this, .notifier = this, .quitConfirmation = this}};
    JobStatusView& status = *view.jobStatusView;

    void start(const std::string& item) { jobs.enqueue({"/data/" + item}, "/data", SettingStatus()); }
};

// One step of a drag as Qt delivers it: the source offers copy and move and
// proposes a move. The action taken, or IgnoreAction when refused.
template <typename Event>
Qt::DropAction send(QWidget* target, const QMimeData& data)
{
    Event event(target->rect().center(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.setDropAction(Qt::MoveAction);
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

    void optionsAreLoadedAndSavedWhenTheWindowCloses_data()
    {
        QTest::addColumn<SettingStatus>("stored");
        QTest::addColumn<bool>("busy"); // a job runs: closing asks first
        QTest::addColumn<bool>("quit");
        QTest::newRow("first run, idle") << SettingStatus() << false << false;
        QTest::newRow("encryption off, password kept, idle") << SettingStatus{false, "secret", false} << false << false;
        QTest::newRow("all on, Japanese password, busy, user stays") << SettingStatus{true, "パスワード", true} << true << false;
        QTest::newRow("all on, busy, user quits") << SettingStatus{true, "パスワード", true} << true << true;
    }
    void optionsAreLoadedAndSavedWhenTheWindowCloses()
    {
        QFETCH(SettingStatus, stored);
        QFETCH(bool, busy);
        QFETCH(bool, quit);
        if (stored != SettingStatus())
            QVERIFY(Util::saveSettingStatus(stored));
        Window w;
        QCOMPARE(w.view.currentSettingStatus(), stored);
        w.view.show();
        w.view.encryptCheckBox->click();
        w.view.selectDirCheckBox->click();
        // The checkbox switches the field and leaves the password alone.
        QCOMPARE(w.view.passwordTextField->isEnabled(), !stored.isEncrypt);
        QCOMPARE(w.view.currentSettingStatus().password, stored.password);
        // The random button fills the field, even while it is disabled.
        w.view.randomButton->click();
        const QString random = w.view.passwordTextField->text();
        QVERIFY2(QRegularExpression(QStringLiteral("^[a-z0-9]{16}$")).match(random).hasMatch(), qPrintable(random));
        w.view.randomButton->click();
        const std::string password = w.view.passwordTextField->text().toStdString();
        QVERIFY(QString::fromStdString(password) != random);
        // Clicks write nothing; closing does, unless the user stays.
        QCOMPARE(Util::loadSettingStatus(), stored);
        w.quit = quit;
        QSignalSpy quitConfirmed(&w.view, &ViewController::quitConfirmed);
        if (busy)
            w.start("a.txt");
        QCOMPARE(w.view.close(), !busy || quit);
        QCOMPARE(w.asked, busy ? 1 : 0);
        QCOMPARE(quitConfirmed.count(), busy && quit ? 1 : 0);
        const SettingStatus shown{!stored.isEncrypt, password, !stored.isSelectDir};
        QCOMPARE(Window().view.currentSettingStatus(), !busy || quit ? shown : stored);
    }

    void dragsOfLocalFilesStartOneJobAndAllOthersAreRefused_data()
    {
        QTest::addColumn<bool>("hasUrls");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<Paths>("job"); // empty when refused
        QTest::addColumn<std::string>("log");
        // Only the first item is in /to: the others, from another folder,
        // must not move the destination nor be reordered. Names are bytes,
        // not always UTF-8; file managers send them percent-encoded.
        const Paths files{"/to/a b%20#1?.txt", "/other/資料", "/other/\x82\xa0\xff"};
        QList<QUrl> urls;
        for (const std::string& path : files)
            urls << QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"), QUrl::StrictMode);
        QTest::newRow("files from two folders") << true << urls << files
            << std::string("on drag before drop\noff drag before drop\non drag before drop\non drag before drop\n");
        const std::string missing = "dropped files do not exist.\n";
        QTest::newRow("text only") << false << QList<QUrl>() << Paths() << missing;
        QTest::newRow("a web address among files") << true << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.txt"),
            QUrl("https://example.org/b")} << Paths() << missing;
        QTest::newRow("empty url list") << true << QList<QUrl>() << Paths() << std::string();
    }
    void dragsOfLocalFilesStartOneJobAndAllOthersAreRefused()
    {
        QFETCH(bool, hasUrls);
        QFETCH(QList<QUrl>, urls);
        QFETCH(Paths, job);
        QFETCH(std::string, log);
        StdoutCapture out;
        Window w;
        w.view.show();
        // Drops on the picture reach the drop layer lying on top of it.
        QWidget* target = w.view.fileDragDropTopLayerView;
        QCOMPARE(w.view.childAt(w.view.imageView->mapTo(&w.view, w.view.imageView->rect().center())), target);
        w.view.encryptCheckBox->click();
        w.view.selectDirCheckBox->click();
        w.view.passwordTextField->setText(QStringLiteral("typed"));
        QMimeData data;
        data.setText(QStringLiteral("/tmp/a.txt"));
        if (hasUrls)
            data.setUrls(urls);
        // The items stay where they are: every step is taken as a copy.
        QCOMPARE(send<QDragEnterEvent>(target, data), job.empty() ? Qt::IgnoreAction : Qt::CopyAction);
        QCOMPARE(w.view.imageView->imageName(), job.empty() ? "drop" : "drop_active");
        // Qt sends a leave even for a refused drag: nothing to undo, no line.
        QDragLeaveEvent leave;
        QApplication::sendEvent(target, &leave);
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop"));
        if (job.empty()) { // handed to the window all the same, the data starts nothing
            w.view.onDragBeforeDrop();
            w.view.onDrop(&data);
        } else {
            QCOMPARE(send<QDragEnterEvent>(target, data), Qt::CopyAction);
            QCOMPARE(send<QDragMoveEvent>(target, data), Qt::CopyAction);
            QCOMPARE(send<QDropEvent>(target, data), Qt::CopyAction);
        }
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop"));
        w.view.imageView->setImageNamed(QStringLiteral("missing"));
        // No "off" after a drop; both pictures loaded, or they had a line too.
        QCOMPARE(out.text(), log + "picture not found: missing\n");
        QCOMPARE(w.made.size(), size_t(job.empty() ? 0 : 1));
        QVERIFY(job.empty() || (w.made[0]->calls == std::vector<FakeJob::Call>{{job, "/to", {true, "typed", true}}}));
    }

    void cancelledFolderChooserStartsNothing()
    {
        DialogFolderChooser chooser;
        JobQueue jobs(JobQueue::archiveJobs([&chooser](FolderChosen done) { chooser.chooseFolder(std::move(done)); }));
        jobs.enqueue({m_home.path() + "/kept.txt"}, m_home.path(), {false, "", true});
        // enqueue has returned while the chooser is up: it does not block.
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        // Qt's own dialog: a native one would offer to make folders.
        QVERIFY(dialog->options().testFlags(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly
                                            | QFileDialog::DontUseNativeDialog));
        dialog->reject();
        QVERIFY(!jobs.isBusy());
        QVERIFY(!QDir::home().exists(QStringLiteral(".quillmere")));
    }

    void jobEndsAreWordedAndNotified_data()
    {
        QTest::addColumn<JobPhase>("phase");
        QTest::addColumn<QString>("doing");
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<bool>("inFront");
        QTest::addColumn<QString>("result");
        const auto failed = [](const char* name, JobPhase phase, const char* doing, const QString& failure) {
            QTest::newRow(name) << phase << QString(doing) << JobOutcome::failed(phase, "exit status 1") << false
                                << failure + QStringLiteral("（exit status 1）");
        };
        failed("choosing", JobPhase::ChoosingFolder, "保存先を選択しています…", "保存先を選べませんでした");
        failed("copying", JobPhase::Copying, "コピーしています…", "ファイルをコピーできませんでした");
        failed("writing", JobPhase::Writing, "アーカイブを作成しています…", "アーカイブを作成できませんでした");
        failed("encrypting", JobPhase::Encrypting, "暗号化しています…",
               "暗号化できませんでした。暗号化されていないアーカイブは保存していません");
        failed("delivering", JobPhase::Delivering, "保存しています…", "アーカイブを保存先に移動できませんでした");
        const std::string archive = "/data/out/\xff/archive.zip";
        QTest::newRow("delivered, window out of sight") << JobPhase::Delivering << "保存しています…"
            << JobOutcome::delivered(archive, false) << false << "作成しました: archive.zip";
        QTest::newRow("delivered encrypted, window in front") << JobPhase::Delivering << "保存しています…"
            << JobOutcome::delivered(archive, true) << true << "作成しました: archive.zip（暗号化済み）";
    }
    void jobEndsAreWordedAndNotified()
    {
        QFETCH(JobPhase, phase);
        QFETCH(QString, doing);
        QFETCH(JobOutcome, outcome);
        QFETCH(bool, inFront);
        QFETCH(QString, result);
        Window w;
        if (inFront) {
            w.view.show();
            w.view.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.view));
        }
        const QStringList notes = inFront ? QStringList() : QStringList(QStringLiteral("Quillmere: ") + result);
        w.start("a.txt");
        w.start("b.txt");
        QCOMPARE(w.status.waitingLabel->text(), QStringLiteral("待機中: 1 件"));
        emit w.made[0]->phaseChanged(phase);
        QCOMPARE(w.status.phaseLabel->text(), doing);
        emit w.made[0]->finished(outcome);
        QVERIFY(w.status.waitingLabel->isHidden());
        QCOMPARE(w.status.resultLabel->text(), result);
        QCOMPARE(w.notes, notes);
        const bool delivered = outcome.kind == JobOutcome::Kind::Delivered;
        QCOMPARE(w.status.openFolderButton->isHidden(), !delivered);
        if (delivered)
            w.status.openFolderButton->click();
        QCOMPARE(w.opened, delivered ? Paths{"/data/out/\xff"} : Paths());
        // A cancelled chooser leaves the result as it was, unannounced.
        emit w.made[1]->finished(JobOutcome::cancelled());
        QCOMPARE(w.status.phaseLabel->text(), QStringLiteral("準備完了"));
        QCOMPARE(w.status.resultLabel->text(), result);
        QCOMPARE(w.notes, notes);
    }

    void folderAddressKeepsTheBytes()
    {
        const QByteArray folder("/home/a b#c%41/保存先/\x82\xa0\xff");
        const QUrl url = DesktopFolderOpener::urlFor(folder.toStdString());
        QVERIFY(url.isLocalFile());
        QCOMPARE(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()), folder);
    }

    void withoutTrayNotifySendOrALogLineTellsTheUser()
    {
        const QByteArray path = qgetenv("PATH");
        const QString bin = QFile::decodeName(m_home.makeFolder("bin").c_str());
        qputenv("PATH", QFile::encodeName(bin));
        StdoutCapture log;
        DesktopNotifier(QIcon()).notify(QStringLiteral("Quillmere"), QStringLiteral("作成しました"));
        // A stand-in notify-send that prints its arguments, one a line.
        m_home.writeFile("bin/notify-send", "#!/bin/sh\nprintf '%s\\n' \"$@\"\n");
        QVERIFY(QFile::setPermissions(bin + "/notify-send", QFile::ReadOwner | QFile::ExeOwner));
        DesktopNotifier(QIcon()).notify(QStringLiteral("Quillmere"), QStringLiteral("-作成しました"));
        qputenv("PATH", path);
        // The text can never be taken for an option: it comes after "--".
        QTRY_COMPARE(log.lines(), (std::vector<std::string>{"no desktop notification could be shown: 作成しました",
                                                            "--app-name=Quillmere", "--icon=quillmere", "--",
                                                            "Quillmere", "-作成しました"}));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_Window.moc"
