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
#include <QToolButton>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(SettingStatus)
Q_DECLARE_METATYPE(JobPhase)

namespace {

// A job that records how it was started; the test drives its phases and end.
class FakeJob : public ZipAction {
public:
    using Call = std::tuple<Paths, std::string, SettingStatus>;
    void createZip(const Paths& items, const std::string& to, bool encrypt, const std::string& pw) override
    {
        calls.push_back({items, to, {encrypt, pw, false}});
    }
    void selectDirAndCreateZip(const Paths& items, const std::string& to, bool encrypt, const std::string& pw) override
    {
        calls.push_back({items, to, {encrypt, pw, true}});
    }
    std::vector<Call> calls;
};

// The window's desktop services, recording instead of acting.
struct Services : FolderOpener, Notifier, QuitConfirmation {
    bool openFolder(const std::string& folder) override { opened.push_back(folder); return true; }
    void notify(const QString& title, const QString& text) override { notes << title + ": " + text; }
    bool confirmQuit() override { ++asked; return quit; }
    std::vector<std::string> opened;
    QStringList notes;
    int asked = 0;
    bool quit = false;
};

// A window whose jobs are FakeJobs, owned by the queue.
struct Window {
    std::vector<FakeJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new FakeJob); }};
    Services services;
    ViewController view{jobs, {.folderOpener = &services, .notifier = &services, .quitConfirmation = &services}};
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

void leave(QWidget* target)
{
    QDragLeaveEvent event;
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    void firstRunStartsEmptyAndClosingStoresTheOptionsForTheNextWindow()
    {
        std::string password;
        {
            Window w;
            QCOMPARE(w.view.currentSettingStatus(), SettingStatus());
            w.view.show();
            // Drops on the picture reach the drop layer lying on top of it.
            QVERIFY(w.view.childAt(w.view.imageView->mapTo(&w.view, w.view.imageView->rect().center()))
                    == w.view.fileDragDropTopLayerView);
            // The random button fills the field even while it is disabled.
            w.view.randomButton->click();
            const QString first = w.view.passwordTextField->text();
            QVERIFY2(QRegularExpression(QStringLiteral("^[a-z0-9]{16}$")).match(first).hasMatch(), qPrintable(first));
            QVERIFY(!w.view.passwordTextField->isEnabled());
            w.view.randomButton->click();
            password = w.view.passwordTextField->text().toStdString();
            QVERIFY(QString::fromStdString(password) != first);
            QCOMPARE(w.view.currentSettingStatus(), (SettingStatus{false, password, false}));
            w.view.encryptCheckBox->click();
            w.view.selectDirCheckBox->click();
            // Clicks write nothing; closing does.
            QCOMPARE(Util::loadSettingStatus(), SettingStatus());
            QVERIFY(w.view.close());
        }
        Window next;
        QCOMPARE(next.view.currentSettingStatus(), (SettingStatus{true, password, true}));
    }

    void storedOptionsFillTheControls_data()
    {
        QTest::addColumn<SettingStatus>("stored");
        QTest::newRow("encryption off, password kept") << SettingStatus{false, "secret", false};
        QTest::newRow("encryption on, no password") << SettingStatus{true, "", false};
        QTest::newRow("all on, Japanese password") << SettingStatus{true, "パスワード", true};
    }
    void storedOptionsFillTheControls()
    {
        QFETCH(SettingStatus, stored);
        QVERIFY(Util::saveSettingStatus(stored));
        Window w;
        QCOMPARE(w.view.currentSettingStatus(), stored);
        QCOMPARE(w.view.passwordTextField->isEnabled(), stored.isEncrypt);
        // The checkbox switches the field and leaves the password alone.
        w.view.encryptCheckBox->click();
        QCOMPARE(w.view.passwordTextField->isEnabled(), !stored.isEncrypt);
        QCOMPARE(w.view.passwordTextField->text().toStdString(), stored.password);
    }

    void dragSwitchesThePicturesAndItsDropStartsOneJob()
    {
        StdoutCapture log;
        QVERIFY(Util::saveSettingStatus({false, "stored", false}));
        Window w;
        w.view.encryptCheckBox->click();
        w.view.selectDirCheckBox->click();
        w.view.passwordTextField->setText(QStringLiteral("typed"));
        // Only the first item is in /to: the others, from another folder,
        // must not move the destination nor be reordered. Names are bytes,
        // not always UTF-8.
        const QList<QByteArray> paths{"/to/a b%20#1?.txt", "/other/資料", "/other/\x82\xa0\xff"};
        // File URLs as file managers send them: the bytes, percent-encoded.
        QList<QUrl> urls;
        for (const QByteArray& path : paths)
            urls << QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode);
        QMimeData data;
        data.setUrls(urls);
        QWidget* target = w.view.fileDragDropTopLayerView;
        // The items stay where they are: every step is taken as a copy.
        QCOMPARE(send<QDragEnterEvent>(target, data), Qt::CopyAction);
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop_active"));
        leave(target);
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop"));
        QCOMPARE(send<QDragEnterEvent>(target, data), Qt::CopyAction);
        QCOMPARE(send<QDragMoveEvent>(target, data), Qt::CopyAction);
        QCOMPARE(send<QDropEvent>(target, data), Qt::CopyAction);
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop"));
        w.view.imageView->setImageNamed(QStringLiteral("missing"));
        // No "off" after a drop; both pictures loaded, or they had a line too.
        QCOMPARE(log.text(), std::string("on drag before drop\noff drag before drop\non drag before drop\n"
                                         "on drag before drop\npicture not found: missing\n"));
        QCOMPARE(w.made.size(), size_t(1));
        const Paths sent{paths[0].toStdString(), paths[1].toStdString(), paths[2].toStdString()};
        QVERIFY((w.made[0]->calls == std::vector<FakeJob::Call>{{sent, "/to", {true, "typed", true}}}));
    }

    void dragsOfAnythingButLocalFilesAreRefused_data()
    {
        QTest::addColumn<bool>("hasUrls");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("dropLine");
        QTest::newRow("text only") << false << QList<QUrl>() << "dropped files do not exist.\n";
        QTest::newRow("a web address among files")
            << true << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.txt"), QUrl("https://example.org/b")}
            << "dropped files do not exist.\n";
        QTest::newRow("empty url list") << true << QList<QUrl>() << "";
    }
    void dragsOfAnythingButLocalFilesAreRefused()
    {
        QFETCH(bool, hasUrls);
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, dropLine);
        Window w;
        QMimeData data;
        data.setText(QStringLiteral("/tmp/a.txt"));
        if (hasUrls)
            data.setUrls(urls);
        StdoutCapture log;
        QCOMPARE(send<QDragEnterEvent>(w.view.fileDragDropTopLayerView, data), Qt::IgnoreAction);
        // Qt sends a leave even for a refused drag; it has nothing to undo
        // and no line to write.
        leave(w.view.fileDragDropTopLayerView);
        // Handed to the window all the same, the data starts nothing.
        w.view.onDragBeforeDrop();
        w.view.onDrop(&data);
        QCOMPARE(QString::fromStdString(log.text()), dropLine);
        QCOMPARE(w.view.imageView->imageName(), QStringLiteral("drop"));
        QVERIFY(w.made.empty());
    }

    void cancelledFolderChooserStartsNothing()
    {
        m_home.writeFile("items/kept.txt", "kept");
        DialogFolderChooser chooser;
        JobQueue jobs(&chooser);
        jobs.enqueue({m_home.path() + "/items/kept.txt"}, m_home.path() + "/items", {false, "", true});
        // enqueue has returned while the chooser is up: it does not block.
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        // Qt's own dialog: a native one would offer to make folders.
        QVERIFY(dialog->options().testFlags(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly
                                            | QFileDialog::DontUseNativeDialog));
        auto* newFolder = dialog->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
        QVERIFY(newFolder && newFolder->isHidden());
        dialog->reject();
        QVERIFY(!jobs.isBusy());
        QVERIFY(!QDir::home().exists(QStringLiteral(".quillmere")));
        QCOMPARE(QDir(QDir::homePath() + "/items").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList(QStringLiteral("kept.txt")));
    }

    void closingWhileAJobRunsAsksFirst_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("quit");
        QTest::addColumn<bool>("closed");
        QTest::newRow("idle: closes without asking") << false << false << true;
        QTest::newRow("busy, user stays") << true << false << false;
        QTest::newRow("busy, user quits") << true << true << true;
    }
    void closingWhileAJobRunsAsksFirst()
    {
        QFETCH(bool, busy);
        QFETCH(bool, quit);
        QFETCH(bool, closed);
        Window w;
        w.services.quit = quit;
        QSignalSpy quitConfirmed(&w.view, &ViewController::quitConfirmed);
        w.view.show();
        w.view.encryptCheckBox->click();
        if (busy)
            w.start("a.txt");
        QCOMPARE(w.view.close(), closed);
        QCOMPARE(w.services.asked, busy ? 1 : 0);
        QCOMPARE(quitConfirmed.count(), busy && quit ? 1 : 0);
        // A refused close is no disappearance: nothing is written.
        QCOMPARE(Util::loadSettingStatus().isEncrypt, closed);
    }

    void phasesAndFailuresAreWordedAndNotified_data()
    {
        QTest::addColumn<JobPhase>("phase");
        QTest::addColumn<QString>("doing");
        QTest::addColumn<QString>("failure");
        QTest::newRow("choosing") << JobPhase::ChoosingFolder << "保存先を選択しています…"
                                  << "保存先を選べませんでした";
        QTest::newRow("copying") << JobPhase::Copying << "コピーしています…" << "ファイルをコピーできませんでした";
        QTest::newRow("writing") << JobPhase::Writing << "アーカイブを作成しています…"
                                 << "アーカイブを作成できませんでした";
        QTest::newRow("encrypting") << JobPhase::Encrypting << "暗号化しています…"
                                    << "暗号化できませんでした。暗号化されていないアーカイブは保存していません";
        QTest::newRow("delivering") << JobPhase::Delivering << "保存しています…"
                                    << "アーカイブを保存先に移動できませんでした";
    }
    void phasesAndFailuresAreWordedAndNotified()
    {
        QFETCH(JobPhase, phase);
        QFETCH(QString, doing);
        QFETCH(QString, failure);
        Window w; // never shown: the end is notified
        w.start("a.txt");
        emit w.made[0]->phaseChanged(phase);
        QCOMPARE(w.status.phaseLabel->text(), doing);
        emit w.made[0]->finished(JobOutcome::failed(phase, "exit status 1"));
        const QString said = failure + QStringLiteral("（exit status 1）");
        QCOMPARE(w.status.resultLabel->text(), said);
        QVERIFY(!w.status.resultLabel->isHidden() && w.status.openFolderButton->isHidden());
        QCOMPARE(w.services.notes, QStringList(QStringLiteral("Quillmere: ") + said));
        QCOMPARE(w.status.phaseLabel->text(), QStringLiteral("準備完了"));
    }

    void deliveredArchiveIsShownAndWaitingJobsCounted_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<bool>("inFront");
        QTest::addColumn<QString>("text");
        QTest::newRow("window out of sight") << false << false << "作成しました: archive.zip";
        QTest::newRow("encrypted, window in front") << true << true << "作成しました: archive.zip（暗号化済み）";
    }
    void deliveredArchiveIsShownAndWaitingJobsCounted()
    {
        QFETCH(bool, encrypted);
        QFETCH(bool, inFront);
        QFETCH(QString, text);
        Window w;
        if (inFront) {
            w.view.show();
            w.view.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w.view));
        }
        const QStringList notes = inFront ? QStringList() : QStringList(QStringLiteral("Quillmere: ") + text);
        for (const char* item : {"a.txt", "b.txt", "c.txt"})
            w.start(item);
        QCOMPARE(w.status.waitingLabel->text(), QStringLiteral("待機中: 2 件"));
        QVERIFY(!w.status.waitingLabel->isHidden());
        emit w.made[0]->finished(JobOutcome::delivered("/data/out/\xff/archive.zip", encrypted));
        QCOMPARE(w.status.waitingLabel->text(), QStringLiteral("待機中: 1 件"));
        QCOMPARE(w.status.resultLabel->text(), text);
        QCOMPARE(w.services.notes, notes);
        w.status.openFolderButton->click();
        QCOMPARE(w.services.opened, Paths{"/data/out/\xff"});
        // A cancelled chooser leaves the result as it was, unannounced.
        emit w.made[1]->finished(JobOutcome::cancelled());
        QVERIFY(w.status.waitingLabel->isHidden());
        QCOMPARE(w.status.resultLabel->text(), text);
        QVERIFY(!w.status.openFolderButton->isHidden());
        QCOMPARE(w.services.notes, notes);
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
