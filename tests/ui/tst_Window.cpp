// The window as a user meets it: options loaded at start and stored as they
// change, the password controls and their notes, drops and chosen files
// turned into jobs with the options the controls show, the pictures and log
// lines of a drag, progress, waiting jobs, results in plain Japanese with
// their details, notifications, shortcuts and accessible names. Cancelling is
// tested on a real job in tst_CancelRealJob.
#include "FileDragDropTopLayerView.h"
#include "JobQueue.h"
#include "JobStatusText.h"
#include "JobStatusView.h"
#include "PictureView.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "Util.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QFileDialog>
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
#include <QStackedWidget>
#include <QTest>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(SettingStatus)
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
struct Window {
    std::vector<std::string> shownInFileManager;
    std::vector<Notification> notes;
    int asked = 0;
    bool quit = false;
    std::vector<FakeJob*> made;
    JobQueue jobs{[this] { return made.emplace_back(new FakeJob); }};
    ViewController view{jobs, services()};
    JobStatusView& status = *view.jobStatusView;

    ViewServices services()
    {
        ViewServices s;
        s.showInFileManager = [this](const std::string& archive) { shownInFileManager.push_back(archive); };
        s.notify = [this](const Notification& note) { notes.push_back(note); };
        s.confirmQuit = [this](QWidget*) { ++asked; return quit; };
        return s;
    }
    void start(const std::string& item) { jobs.enqueue({"/data/" + item}, "/data", SettingStatus()); }
    // A drop of the items, taken with the options the window shows.
    void drop(const Paths& items)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& item : items)
            urls << QUrl::fromLocalFile(QString::fromStdString(item));
        data.setUrls(urls);
        view.onDrop(&data);
    }
    bool detailsShown() const { return status.detailsText->isVisibleTo(status.window()); }
    void showInFront()
    {
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
    }
    FakeJob& running() { return *made.back(); }
    QString page() const { return status.pages->currentWidget()->findChild<QLabel*>()->accessibleName(); }
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

JobReport reportWithEverything()
{
    JobReport report;
    report.fileCount = 12;
    report.folderCount = 3;
    report.renamed = {{"資料/a:b.txt", "資料/a_b.txt", true, false, false},
                      {"写真🍣.jpg", "写真_ (2).jpg", false, true, true}};
    report.leftOut = {{"/data/secret.txt", LeftOutReason::Unreadable, "Permission denied"}};
    report.warnings = {{"CON.txt", WindowsWarning::DeviceName}};
    return report;
}

// Qt Test writes Qt's own warnings to standard output as well; outside
// tests they go to standard error.
std::string withoutQtWarnings(const std::string& text)
{
    QString lines = QString::fromStdString(text);
    lines.remove(QRegularExpression(QStringLiteral("^QWARN  : [^\\n]*\\n"), QRegularExpression::MultilineOption));
    return lines.toStdString();
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    void storedOptionsAreLoaded_data()
    {
        QTest::addColumn<SettingStatus>("stored");
        QTest::newRow("encryption off, password kept") << SettingStatus{false, "secret", false};
        QTest::newRow("all on, Japanese password") << SettingStatus{true, "パスワード", true};
    }
    void storedOptionsAreLoaded()
    {
        QFETCH(SettingStatus, stored);
        QVERIFY(Util::saveSettingStatus(stored));
        Window w;
        QCOMPARE(w.view.currentSettingStatus(), stored);
        QCOMPARE(w.view.passwordTextField->isEnabled(), stored.isEncrypt);
    }

    void everyChangeIsStoredAtOnce_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("encryption") << "encrypt";
        QTest::newRow("folder chooser") << "selectDir";
        QTest::newRow("typed password") << "type";
    }
    void everyChangeIsStoredAtOnce()
    {
        QFETCH(QString, control);
        Window w;
        w.view.show();
        if (control == "encrypt") // on the box itself, at the left end
            QTest::mouseClick(w.view.encryptCheckBox, Qt::LeftButton, {}, QPoint(8, w.view.encryptCheckBox->height() / 2));
        if (control == "selectDir")
            QTest::keyClick(w.view.selectDirCheckBox, Qt::Key_Space);
        if (control == "type") {
            w.view.encryptCheckBox->click();
            QTest::keyClicks(w.view.passwordTextField, QStringLiteral("abc"));
        }
        QVERIFY(w.view.currentSettingStatus() != SettingStatus());
        // Still shown: an open-files request now takes what the window shows.
        QVERIFY(w.view.isVisible());
        QCOMPARE(Util::loadSettingStatus(), w.view.currentSettingStatus());
    }

    void passwordControls()
    {
        Window w;
        w.view.encryptCheckBox->click();
        QCOMPARE(w.view.passwordTextField->echoMode(), QLineEdit::Password);
        w.view.showPasswordButton->click();
        QCOMPARE(w.view.passwordTextField->echoMode(), QLineEdit::Normal);
        // The letters drawn and their spread are tested with Util::randomPassword.
        w.view.randomButton->click();
        QCOMPARE(w.view.passwordTextField->text().size(), 16);
        w.view.copyPasswordButton->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), w.view.passwordTextField->text());
    }

    void passwordNotesAppearAsItIsTyped_data()
    {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("note");
        const QString empty = QStringLiteral("パスワードが空です。入力するか「自動生成」を押してください。");
        const QString tooLong = QStringLiteral("パスワードが長すぎます。半角 80 文字（日本語はおよそ 26 文字）までにしてください。");
        const QString windows = QStringLiteral("半角英数字と記号以外の文字が入っています。Windows の標準機能では開けないことがあります。");
        QTest::newRow("encryption off, empty") << false << QString() << QString();
        QTest::newRow("empty") << true << QString() << empty;
        QTest::newRow("81 characters") << true << QString(81, 'a') << tooLong;
        QTest::newRow("Japanese") << true << QStringLiteral("パスワード") << windows;
    }
    void passwordNotesAppearAsItIsTyped()
    {
        QFETCH(bool, encrypt);
        QFETCH(QString, password);
        QFETCH(QString, note);
        Window w;
        w.view.encryptCheckBox->setChecked(encrypt);
        w.view.passwordTextField->setText(password);
        QCOMPARE(w.view.passwordNoteLabel->text(), note);
    }

    void refusedPasswordIsExplainedAndNothingStarts_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("window in front") << true;
        QTest::newRow("window hidden") << false;
    }
    void refusedPasswordIsExplainedAndNothingStarts()
    {
        QFETCH(bool, shown);
        Window w;
        if (shown)
            w.showInFront();
        w.view.encryptCheckBox->click();
        w.drop({"/data/a.txt"});
        const QString headline = QStringLiteral("このパスワードでは暗号化できないため、作成しませんでした");
        QCOMPARE(w.made.size(), size_t(0));
        QCOMPARE(w.status.headlineLabel->text(), headline);
        QCOMPARE(w.status.remedyLabel->text(), QStringLiteral("パスワードが空です。入力するか「自動生成」を押してください。"));
        QCOMPARE(w.notes.size(), size_t(shown ? 0 : 1));
        if (!shown)
            QCOMPARE(w.notes.front().title, headline);
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
        Window w;
        w.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.view));
        StdoutCapture out;
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
        QCOMPARE(withoutQtWarnings(out.text()), log + "picture not found: missing\n");
        QCOMPARE(w.made.size(), size_t(job.empty() ? 0 : 1));
        QVERIFY(job.empty() || (w.made[0]->calls == std::vector<FakeJob::Call>{{job, "/to", {true, "typed", true}}}));
    }

    void chosenFilesStartAJobLikeADrop_data()
    {
        QTest::addColumn<QString>("how"); // the button, or the shortcut
        QTest::newRow("file button") << "files";
        QTest::newRow("Ctrl+O") << "Ctrl+O";
        QTest::newRow("folder button") << "folder";
    }
    void chosenFilesStartAJobLikeADrop()
    {
        QFETCH(QString, how);
        const std::string folder = m_home.makeFolder("items/資料");
        m_home.writeFile("items/a.txt", "a");
        Window w;
        w.showInFront();
        if (how == "files")
            w.view.chooseFilesButton->click();
        if (how == "folder")
            w.view.chooseFolderButton->click();
        if (how == "Ctrl+O")
            QTest::keyClick(&w.view, Qt::Key_O, Qt::ControlModifier);
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(chooser);
        const std::string item = how == "folder" ? folder : m_home.path() + "/items/a.txt";
        chooser->selectFile(QFile::decodeName(QByteArray::fromStdString(item)));
        QMetaObject::invokeMethod(chooser, "accept");
        QCOMPARE(w.made.size(), size_t(1));
        QCOMPARE(w.running().calls, (std::vector<FakeJob::Call>{{{item}, m_home.path() + "/items", SettingStatus()}}));
    }

    void progressRisesAndStartsOverForTheNextJob()
    {
        Window w;
        w.start("a.txt");
        QCOMPARE(w.page(), QStringLiteral("処理の段階"));
        emit w.running().phaseChanged(JobPhase::Writing);
        emit w.running().progressChanged(40);
        QCOMPARE(w.status.phaseLabel->text(), JobStatusText::phase(JobPhase::Writing));
        QCOMPARE(w.status.progressBar->value(), 40);
        emit w.running().finished(JobOutcome::delivered("/data/out/archive.zip", false));
        QCOMPARE(w.status.progressBar->value(), 100);
        QCOMPARE(w.page(), QStringLiteral("結果"));
        // The next job starts from nothing and the old result goes.
        w.start("b.txt");
        QCOMPARE(w.page(), QStringLiteral("処理の段階"));
        QCOMPARE(w.status.progressBar->value(), 0);
    }

    void resultButtonsFindTheArchive()
    {
        Window w;
        w.start("a.txt");
        const std::string archive = "/data/out \xe8\xb3\x87/archive.zip";
        emit w.running().finished(JobOutcome::delivered(archive, true, reportWithEverything()));
        w.status.showButton->click();
        QCOMPARE(w.shownInFileManager, Paths{archive});
        w.status.copyPathButton->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/data/out 資/archive.zip"));
        QVERIFY(!w.detailsShown());
        w.status.detailsButton->click();
        QVERIFY(w.detailsShown());
        // Every item left out, renamed or at risk is listed with its reason.
        w.status.copyDetailsButton->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("入れられなかった項目: 1 件\n"
                                "  /data/secret.txt — 読み取りが許されていません（Permission denied）\n\n"
                                "名前を変えた項目: 2 件\n"
                                "  資料/a:b.txt → 資料/a_b.txt（Windows で使えない文字を「_」に置き換え）\n"
                                "  写真🍣.jpg → 写真_ (2).jpg（Windows の文字コードにない文字を置き換え、同じ名前と区別するため番号を追加）\n\n"
                                "Windows で展開できないおそれのある名前: 1 件\n"
                                "  CON.txt — CON や NUL など、Windows が予約している名前です"));
    }

    void outcomesAreWordedInPlainJapanese_data()
    {
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("remedy");
        QTest::addColumn<bool>("archiveButtons");
        const auto failed = [](const char* name, FailureCause cause, const char* headline, const char* remedy) {
            QTest::newRow(name) << JobOutcome::failed(JobPhase::Writing, "php: command not found", cause)
                                << QString(headline) << QString(remedy) << false;
        };
        failed("writer missing", FailureCause::WriterMissing,
               "アーカイブを作成するための PHP（php-cli と php-zip）が見つかりません",
               "php-cli と php-zip のパッケージをインストールしてから、もう一度お試しください。");
        failed("destination not writable", FailureCause::DestinationNotWritable, "保存先のフォルダに書き込めませんでした",
               "保存先のフォルダがあり、書き込みが許されているかを確かめるか、「保存先を選択する」で別のフォルダを選んでください。");
        failed("other, while writing", FailureCause::Other, "アーカイブを作成できませんでした",
               "もう一度お試しください。繰り返すときは「詳細」の内容を管理者に伝えてください。");
        QTest::newRow("delivered, not counted") << JobOutcome::delivered("/data/archive.zip", false)
                                                << "archive.zip を作成しました" << "保存先: /data" << true;
        QTest::newRow("stopped") << JobOutcome::stopped(JobPhase::Encrypting) << "キャンセルしました"
                                 << "アーカイブは保存していません。" << false;
        JobOutcome lost = JobOutcome::delivered("/data/archive.zip", true, reportWithEverything());
        QTest::newRow("delivered, one item left out") << lost << "archive.zip を作成しましたが、1 個の項目を入れられませんでした"
            << "保存先: /data\nファイル 12 個、フォルダ 3 個、パスワードで暗号化済み\n入れられなかった項目は「詳細」で確認できます。"
            << true;
    }
    void outcomesAreWordedInPlainJapanese()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(QString, headline);
        QFETCH(QString, remedy);
        QFETCH(bool, archiveButtons);
        Window w;
        w.start("a.txt");
        emit w.running().finished(outcome);
        QCOMPARE(w.status.headlineLabel->text(), headline);
        QCOMPARE(w.status.remedyLabel->text(), remedy);
        QCOMPARE(w.status.showButton->isHidden(), !archiveButtons);
    }

    void failureDetailIsTechnicalAndTucked()
    {
        Window w;
        w.start("a.txt");
        emit w.running().finished(JobOutcome::failed(JobPhase::Writing, "php: command not found",
                                                     FailureCause::WriterMissing));
        QCOMPARE(w.status.detailsText->toPlainText(), QStringLiteral("phase: writing\nphp: command not found"));
        QVERIFY(!w.detailsShown());
    }

    void waitingJobsAreListedAndRemovable_data()
    {
        QTest::addColumn<bool>("withDelete");
        QTest::newRow("remove button") << false;
        QTest::newRow("Delete key") << true;
    }
    void waitingJobsAreListedAndRemovable()
    {
        QFETCH(bool, withDelete);
        Window w;
        w.showInFront();
        w.start("a.txt");
        w.start("b.txt");
        w.start("c.txt");
        QCOMPARE(w.status.waitingLabel->text(), QStringLiteral("待機中: 2 件"));
        QCOMPARE(w.status.waitingList->item(0)->text(), QStringLiteral("b.txt"));
        // The second waiting job is chosen and removed; the first then runs.
        w.status.waitingList->setFocus();
        w.status.waitingList->setCurrentRow(1);
        if (withDelete)
            QTest::keyClick(w.status.waitingList, Qt::Key_Delete);
        else
            w.status.removeWaitingButton->click();
        QCOMPARE(w.jobs.waitingNames(), Paths{"b.txt"});
        emit w.running().finished(JobOutcome::delivered("/data/archive.zip", false));
        QCOMPARE(w.running().calls, (std::vector<FakeJob::Call>{{{"/data/b.txt"}, "/data", SettingStatus()}}));
        QVERIFY(w.status.waitingList->parentWidget()->isHidden());
    }

    void cancelledFolderChooserSaysNothing()
    {
        Window w;
        w.start("a.txt");
        emit w.running().finished(JobOutcome::cancelled());
        QCOMPARE(w.page(), QStringLiteral("状況"));
        QCOMPARE(w.notes.size(), size_t(0));
    }

    void notificationNamesTheArchiveAndShowsIt()
    {
        Window w; // never shown: the notification tells
        w.start("a.txt");
        emit w.running().finished(JobOutcome::delivered("/data/out/archive.zip", false, JobReport{.fileCount = 1, .folderCount = 0, .renamed = {}, .leftOut = {}, .warnings = {}}));
        QCOMPARE(w.notes.size(), size_t(1));
        QCOMPARE(w.notes[0].title, QStringLiteral("archive.zip を作成しました"));
        QCOMPARE(w.notes[0].text, QStringLiteral("保存先: /data/out\nファイル 1 個、フォルダ 0 個"));
        w.notes[0].action();
        QCOMPARE(w.shownInFileManager, Paths{"/data/out/archive.zip"});
    }

    void quitAsksOnlyWhileJobsRun_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("quit");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<int>("asked");
        QTest::newRow("idle") << false << false << true << 0;
        QTest::newRow("busy, user stays") << true << false << false << 1;
        QTest::newRow("busy, user quits") << true << true << true << 1;
    }
    void quitAsksOnlyWhileJobsRun()
    {
        QFETCH(bool, busy);
        QFETCH(bool, quit);
        QFETCH(bool, closed);
        QFETCH(int, asked);
        Window w;
        w.showInFront();
        w.quit = quit;
        QSignalSpy quitConfirmed(&w.view, &ViewController::quitConfirmed);
        if (busy)
            w.start("a.txt");
        QTest::keyClick(&w.view, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(w.view.isHidden(), closed);
        QCOMPARE(w.asked, asked);
        QCOMPARE(quitConfirmed.count(), busy && quit ? 1 : 0);
    }

    void everyControlIsNamedAndReachableByKeyboard()
    {
        Window w;
        QStringList unnamed;
        QStringList unreachable;
        const QList<QWidget*> controls = w.view.findChildren<QWidget*>();
        for (QWidget* control : controls) {
            const bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control)
                || qobject_cast<QProgressBar*>(control) || qobject_cast<QAbstractItemView*>(control)
                || qobject_cast<QPlainTextEdit*>(control);
            if (!isControl)
                continue;
            if (control->accessibleName().isEmpty())
                unnamed << control->metaObject()->className();
            if (!qobject_cast<QProgressBar*>(control) && !(control->focusPolicy() & Qt::TabFocus))
                unreachable << control->accessibleName();
        }
        QCOMPARE(unnamed, QStringList());
        QCOMPARE(unreachable, QStringList());
        // Screen readers find the controls users ask for by these words.
        QVERIFY(w.view.encryptCheckBox->accessibleName().contains(QStringLiteral("暗号化")));
        QCOMPARE(w.view.passwordTextField->accessibleName(), QStringLiteral("パスワード"));
        QCOMPARE(w.status.cancelButton->accessibleName(), QStringLiteral("キャンセル"));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_Window.moc"
