// The window as a user meets it: drops turned into jobs with the options the
// controls show, refused passwords, options stored as they change, progress
// and results, waiting jobs, the quit question and accessible names.
// Cancelling is tested on a real job in tst_JobPresentation; what the window
// tells screen readers as it changes, in tst_AccessibleWindow.
#include "JobPresenter.h"
#include "JobStatusText.h"
#include "OptionStore.h"
#include "PictureView.h"
#include "Privileges.h"
#include "ProblemBox.h"
#include "QuitQuestion.h"
#include "StandInJob.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "Util.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QDialog>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

#include <filesystem>
#include <memory>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(Paths)

namespace {

// Turns a check box as a user does: "click", "space key", or else a screen
// reader's toggle action. False when the box offers no such action.
bool turnAsAUser(QCheckBox* box, const QString& how)
{
    if (how == "click") {
        box->click();
    } else if (how == "space key") {
        QTest::keyClick(box, Qt::Key_Space);
    } else {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
        QAccessibleActionInterface* actions = accessible ? accessible->actionInterface() : nullptr;
        if (!actions)
            return false;
        actions->doAction(QAccessibleActionInterface::toggleAction());
    }
    return true;
}

// A window whose options go to a settings file that, like its folder, is
// read-only, where no keyring answers (as main sets the window up). Root's
// way past file permissions is given up for good; makeWritable() undoes the
// rest, as does the end of the window.
struct UnsavableWindow {
    static bool makeSettingsUnwritable()
    {
        namespace fs = std::filesystem;
        fs::create_directories(settingsFile().parent_path());
        if (!Util::saveSettingStatus({false, "", false, false}) || !Privileges::dropFileOverride())
            return false;
        fs::permissions(settingsFile(), fs::perms::owner_read);
        fs::permissions(settingsFile().parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        return true;
    }
    static void makeWritable()
    {
        namespace fs = std::filesystem;
        fs::permissions(settingsFile().parent_path(), fs::perms::owner_all);
        fs::permissions(settingsFile(), fs::perms::owner_read | fs::perms::owner_write);
    }
    static std::filesystem::path settingsFile()
    {
        return QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName().toStdString();
    }
    ViewServices services()
    {
        ViewServices services;
        services.loadOptions = [this] { return options.load(); };
        services.saveOptions = [this](const SettingStatus& status) { return options.save(status); };
        services.passwordPlace = [this](const SettingStatus& status) { return options.passwordPlace(status); };
        return services;
    }

    const bool unwritable = makeSettingsUnwritable();
    OptionStore options;
    JobQueue jobs{[] { return new StandInJob; }};
    ViewController view{jobs, services()};

    ~UnsavableWindow()
    {
        if (unwritable)
            makeWritable();
    }
};

// A note that tells a failure: shown with text, in red, and read out as an
// alert under that text.
void checkFailureNote(QLabel* note, const QString& text)
{
    QCOMPARE(note->text(), text);
    QVERIFY(!note->isHidden());
    QCOMPARE(note->accessibleName(), text);
    QVERIFY(note->styleSheet().contains("#b3261e"));
    QCOMPARE(QAccessible::queryAccessibleInterface(note)->role(), QAccessible::AlertMessage);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    void dropStartsOneJob_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<Paths>("job"); // empty when refused
        QTest::addColumn<int>("target"); // where it is dropped, in the list the test makes
        // The archive goes beside the first item; names are bytes, not always UTF-8.
        const Paths files{"/to/a b#1.txt", "/other/\x82\xa0\xff"};
        QList<QUrl> urls;
        for (const std::string& path : files)
            urls << QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
        QTest::newRow("files from two folders") << urls << files << 0;
        QTest::newRow("text only") << QList<QUrl>() << Paths() << 0;
        QTest::newRow("a web address among files")
            << QList<QUrl>{QUrl::fromLocalFile("/tmp/a.txt"), QUrl("https://example.org/b")} << Paths() << 0;
        // A file URL names its machine: only this one's files are here.
        QTest::newRow("a file of this machine by name")
            << QList<QUrl>{QUrl("file://localhost/to/a.txt"), QUrl("file://" + QSysInfo::machineHostName() + "/to/b.txt")}
            << Paths{"/to/a.txt", "/to/b.txt"} << 0;
        QTest::newRow("a file of another machine")
            << QList<QUrl>{QUrl::fromLocalFile("/to/a.txt"), QUrl("file://otherhost.example/to/b.txt")} << Paths() << 0;
        // The items a drop names are those the same addresses name on the
        // command line: no escaped NUL byte or "/" (a NUL would cut the
        // name short and name another file), "." and ".." resolved.
        QTest::newRow("an escaped NUL byte")
            << QList<QUrl>{QUrl::fromEncoded("file:///to/private%00/report.txt")} << Paths() << 0;
        QTest::newRow("an escaped slash") << QList<QUrl>{QUrl::fromEncoded("file:///to/sub%2Fx.txt")} << Paths() << 0;
        QTest::newRow("a folder by . and ..")
            << QList<QUrl>{QUrl::fromEncoded("file:///usr/share/.."), QUrl::fromEncoded("file:///tmp/.")}
            << Paths{"/usr", "/tmp"} << 0;
        // Qt delivers a drag over a widget that takes none to the nearest
        // one up that does; the window routes it to the drop layer.
        const QList<QUrl> one{QUrl::fromLocalFile("/data/見積書.txt")};
        QTest::newRow("on the random button") << one << Paths{"/data/見積書.txt"} << 1;
        QTest::newRow("on the password field") << one << Paths{"/data/見積書.txt"} << 2;
        QTest::newRow("on the about button") << one << Paths{"/data/見積書.txt"} << 3;
        QTest::newRow("on the status") << one << Paths{"/data/見積書.txt"} << 4;
    }
    // A drop anywhere on the window starts one job with the options the
    // controls show, with its log lines, or is refused.
    void dropStartsOneJob()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(Paths, job);
        QFETCH(int, target);
        StandInWindow w;
        w.view.encryptCheckBox->click();
        w.view.passwordTextField->setText(QStringLiteral("typed"));
        QVERIFY(w.shown());
        QWidget* over = QList<QWidget*>{w.view.imageView, w.view.randomButton, w.view.passwordTextField,
                                        w.view.aboutButton, w.view.jobStatusView}[target];
        w.view.scrollArea->ensureWidgetVisible(over);
        const QPoint at = over->mapTo(&w.view, over->rect().center());
        QMimeData data;
        data.setText(QStringLiteral("/tmp/a.txt"));
        if (!urls.isEmpty())
            data.setUrls(urls);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        drop.ignore();
        Paths lines;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            QApplication::sendEvent(w.view.windowHandle(), &enter);
            // Qt hands a drop only to the widget that took the drag: a
            // refused drag's drop never arrives, whoever it is sent to.
            if (enter.isAccepted())
                QApplication::sendEvent(w.view.windowHandle(), &drop);
            lines = log.lines();
        }
        const Qt::DropAction taken = job.empty() ? Qt::IgnoreAction : Qt::CopyAction;
        QCOMPARE(enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction, taken);
        if (!job.empty())
            QCOMPARE(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction, taken);
        QCOMPARE(std::count(lines.begin(), lines.end(), "on drag before drop"), job.empty() ? 0 : 1);
        QCOMPARE(w.made.size(), size_t(job.empty() ? 0 : 1));
        if (!job.empty())
            QCOMPARE(w.running().calls, (std::vector<StandInJob::Call>{
                                            {job, std::filesystem::path(job.front()).parent_path(), {true, "typed", false}}}));
        QCOMPARE(w.view.passwordTextField->text(), QStringLiteral("typed")); // not typed into the field
    }

    // A drop whose data is not what the drag showed (its source freed it,
    // say) starts nothing, and the window takes its idle look back, as when
    // the drag leaves.
    void aDropWhoseDataWentGivesTheIdleLookBack()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        const QPoint at = w.view.imageView->mapTo(&w.view, w.view.imageView->rect().center());
        QMimeData shown;
        shown.setUrls({QUrl::fromLocalFile("/data/a.txt")});
        const QMimeData gone;
        QDragEnterEvent enter(at, Qt::CopyAction, &shown, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction, &gone, Qt::LeftButton, Qt::NoModifier);
        Paths lines;
        {
            StdoutCapture log;
            QApplication::sendEvent(w.view.windowHandle(), &enter);
            QApplication::sendEvent(w.view.windowHandle(), &drop);
            lines = log.lines();
        }
        QVERIFY(enter.isAccepted());
        QCOMPARE(lines, (Paths{"on drag before drop", "off drag before drop"}));
        QVERIFY(w.made.empty());
    }

    void updateCheckFollowsTheFirstJobOrTwoSeconds_data()
    {
        QTest::addColumn<QString>("job"); // how the first job comes, if one does
        // Files given at the start are handed over right after the window is
        // built: their job starts before the update question is sent.
        QTest::newRow("given at the start") << "start";
        QTest::newRow("dropped") << "drop";
        QTest::newRow("none") << QString();
    }
    // The update question goes out once, after the first job has started
    // or two seconds after the start, never on a job's way.
    void updateCheckFollowsTheFirstJobOrTwoSeconds()
    {
        QFETCH(QString, job);
        QElapsedTimer clock;
        clock.start();
        StandInWindow w;
        if (job == "start")
            w.start("a.txt");
        else if (job == "drop")
            w.drop("/data/a.txt");
        else
            QCoreApplication::processEvents();
        QCOMPARE(w.busyAtUpdateCheck.size(), size_t(0)); // not inside the drop, not at once
        QTRY_COMPARE_WITH_TIMEOUT(w.busyAtUpdateCheck.size(), size_t(1), 10000);
        QCOMPARE(w.busyAtUpdateCheck.front(), !job.isEmpty());
        // A coarse timer may fire up to 5 % early.
        if (job.isEmpty())
            QVERIFY(clock.elapsed() >= JobPresenter::kUpdateCheckDelayMs * 95 / 100);
        else
            emit w.running().finished(JobOutcome::delivered("/data/archive.zip", false));
        w.start("b.txt");
        QCoreApplication::processEvents();
        QCOMPARE(w.busyAtUpdateCheck.size(), size_t(1));
    }

    void passwordNoteSaysWhatTheReceiverTypes_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("refused");
        QTest::newRow("ASCII: nothing to say") << "secret-1" << QString() << false;
        QTest::newRow("empty: refused") << QString()
                                        << QStringLiteral("パスワードが空です。入力するか「自動生成」を押してください。")
                                        << true;
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
    // types, or why it cannot be used; a screen reader reads it as the
    // note's name, and its role as its description. A refused one starts
    // no job, and the refusal goes once the password is put right.
    void passwordNoteSaysWhatTheReceiverTypes()
    {
        QFETCH(QString, password);
        QFETCH(QString, note);
        QFETCH(bool, refused);
        StandInWindow w;
        w.view.encryptCheckBox->click();
        w.view.passwordTextField->setText(password);
        const QLabel* label = w.view.passwordNoteLabel;
        QCOMPARE(label->text(), note);
        QCOMPARE(label->isHidden(), note.isEmpty());
        QCOMPARE(label->styleSheet().contains("#b3261e"), refused); // red for a refusal
        const QString role = QStringLiteral("パスワードについての注意");
        QCOMPARE(label->accessibleName(), note.isEmpty() ? role : note);
        QCOMPARE(label->accessibleDescription(), role);
        if (!refused)
            return;
        w.drop("/data/a.txt");
        QCOMPARE(w.made.size(), size_t(0));
        QCOMPARE(w.status.headlineLabel->text(), QStringLiteral("このパスワードでは暗号化できないため、作成しませんでした"));
        QCOMPARE(w.status.remedyLabel->text(), note);
        QCOMPARE(w.status.pages->currentWidget(), w.status.headlineLabel->parentWidget());
        w.view.passwordTextField->setText(password + QStringLiteral("😀")); // still refused
        QCOMPARE(w.status.pages->currentWidget(), w.status.headlineLabel->parentWidget());
        w.view.passwordTextField->setText(QStringLiteral("secret-1"));
        QCOMPARE(w.status.pages->currentWidget(), w.status.readyLabel->parentWidget());
    }

    // The notes under the password keep their room while hidden: typing
    // does not move the rows under them.
    void theRowsUnderThePasswordStayAsItIsTyped()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        w.view.encryptCheckBox->click();
        const QWidget* below = w.view.selectDirCheckBox;
        const auto top = [below] {
            QCoreApplication::processEvents();
            return below->mapTo(below->window(), QPoint()).y();
        };
        w.view.passwordTextField->setText(QStringLiteral("secret-1"));
        const int kept = top();
        for (const QString& typed : {QString(), QStringLiteral("secret-1x"), QStringLiteral("パスワード"), QString()}) {
            w.view.passwordTextField->setText(typed);
            QCOMPARE(top(), kept);
        }
        QVERIFY(!w.view.passwordNoteLabel->isHidden());
        QVERIFY(w.view.passwordStorageLabel->isHidden());
    }

    // A check box is stored when clicked; the password once typing pauses,
    // at once when editing ends, and when the window goes; never per key.
    void optionsAreStoredAsTheyChange()
    {
        StandInWindow w;
        w.view.show();
        w.view.encryptCheckBox->click();
        QCOMPARE(Util::loadSettingStatus().isEncrypt, true);
        QTest::keyClicks(w.view.passwordTextField, QStringLiteral("abc"));
        QCOMPARE(Util::loadSettingStatus().password, std::string());
        QTRY_COMPARE(Util::loadSettingStatus().password, std::string("abc"));
        QTest::keyClicks(w.view.passwordTextField, QStringLiteral("d"));
        QTest::keyClick(w.view.passwordTextField, Qt::Key_Return);
        QCOMPARE(Util::loadSettingStatus().password, std::string("abcd"));
        QTest::keyClicks(w.view.passwordTextField, QStringLiteral("e"));
        w.view.hide();
        QCOMPARE(Util::loadSettingStatus().password, std::string("abcde"));
        // A window made later starts with them.
        StandInWindow later;
        QCOMPARE(later.view.currentSettingStatus(), w.view.currentSettingStatus());
    }

    // Where the options are kept is main's choice: the window reads and
    // writes them through its services, and says where the password is.
    void optionsGoThroughTheServices_data()
    {
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("note");
        QTest::newRow("keyring") << int(PasswordPlace::Keyring)
                                 << QStringLiteral("パスワードは記憶されます（デスクトップのキーリングに保存）");
        QTest::newRow("settings file") << int(PasswordPlace::SettingsFile)
                                       << QStringLiteral("パスワードは記憶されます（キーリングが使えないため、"
                                                         "あなただけが読める設定ファイルに保存）");
        QTest::newRow("not stored") << int(PasswordPlace::NotStored)
                                    << QStringLiteral("このパスワードは使えないため、記憶されません");
    }
    void optionsGoThroughTheServices()
    {
        QFETCH(int, place);
        QFETCH(QString, note);
        std::vector<SettingStatus> saved;
        JobQueue jobs{[] { return new StandInJob; }};
        ViewServices services;
        services.loadOptions = [] { return SettingStatus{true, "stored", false, true}; };
        services.saveOptions = [&saved](const SettingStatus& options) { saved.push_back(options); return true; };
        services.passwordPlace = [place](const SettingStatus&) { return PasswordPlace(place); };
        ViewController view(jobs, services);
        QCOMPARE(view.currentSettingStatus(), (SettingStatus{true, "stored", false, true}));
        QCOMPARE(view.passwordStorageLabel->text(), note);
        QCOMPARE(view.passwordStorageLabel->accessibleName(), note);
        view.selectDirCheckBox->click();
        QCOMPARE(saved, (std::vector<SettingStatus>{{true, "stored", true, true}}));
        QVERIFY(Util::loadSettingStatus() == SettingStatus()); // the settings file is not touched
        // Nothing typed: nothing said about keeping it.
        view.passwordTextField->clear();
        QCOMPARE(view.passwordStorageLabel->text(), QString());
        QVERIFY(view.passwordStorageLabel->isHidden());
        // Typed a moment before the program ends (a signal, before the pause
        // in typing that saves it), the password is kept all the same.
        saved.clear();
        view.passwordTextField->setText(QStringLiteral("typed-late"));
        QVERIFY(saved.empty());
        view.savePendingOptions();
        QCOMPARE(saved.size(), size_t(1));
        QCOMPARE(saved.back().password, "typed-late");
        view.savePendingOptions();
        QCOMPARE(saved.size(), size_t(1));
    }

    void waitingJobCanBeRemoved()
    {
        StandInWindow w;
        w.start("a.txt");
        w.start("b.txt");
        w.start("c.txt");
        w.status.waitingList->setCurrentRow(1);
        w.status.removeWaitingButton->click();
        QCOMPARE(w.jobs.waitingNames(), Paths{"b.txt"});
        QCOMPARE(w.status.waitingList->count(), 1);
    }

    // Three waiting names are seen whole; a fourth scrolls.
    void threeWaitingNamesAreSeenWhole()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        for (const char* name : {"a.txt", "見積書.xlsx", "請求書.pdf", "資料.zip", "写真.jpg"})
            w.start(name);
        const QListWidget* list = w.status.waitingList;
        QCOMPARE(list->count(), 4);
        QTRY_VERIFY(list->isVisible());
        const QRect seen = list->viewport()->rect();
        for (int row = 0; row < 3; ++row)
            QVERIFY2(seen.contains(list->visualItemRect(list->item(row))), qPrintable(list->item(row)->text()));
        QVERIFY(!seen.contains(list->visualItemRect(list->item(3))));
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
        StandInWindow w;
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

    // The job ends while the quit question is up: it asked about work that
    // is no longer there, and goes unanswered; the window stays, with the
    // job's result.
    void theQuitQuestionGoesWhenTheJobsEnd()
    {
        std::vector<StandInJob*> made;
        JobQueue jobs{[&] { return made.emplace_back(new StandInJob); }};
        ViewServices services;
        services.confirmQuit = &QuitQuestion::ask;
        ViewController view(jobs, services);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        jobs.enqueue({"/data/a.txt"}, "/data", SettingStatus());
        QSignalSpy quitConfirmed(&view, &ViewController::quitConfirmed);
        bool askedWhileBusy = false;
        QString spokenQuestion;
        QTimer::singleShot(0, &view, [&] {
            auto* question = view.findChild<QMessageBox*>(QuitQuestion::kObjectName);
            askedWhileBusy = question && jobs.isBusy();
            // What a screen reader says as the question opens.
            if (question)
                spokenQuestion = QAccessible::queryAccessibleInterface(question)->text(QAccessible::Name);
            emit made.back()->finished(JobOutcome::delivered("/data/archive.zip", false));
        });
        // Should the question stay, this answers it, so that the test ends.
        QTimer stuck;
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, &view, [&] {
            if (auto* question = view.findChild<QMessageBox*>(QuitQuestion::kObjectName))
                question->findChild<QPushButton*>(QStringLiteral("stay"))->click();
        });
        stuck.start(10000);
        view.close();
        QVERIFY(stuck.isActive());
        QVERIFY(askedWhileBusy);
        QCOMPARE(spokenQuestion, QStringLiteral("アーカイブを作成しています。終了しますか？"));
        QVERIFY(!view.isHidden());
        QCOMPARE(quitConfirmed.count(), 0);
        QVERIFY(!view.findChild<QMessageBox*>(QuitQuestion::kObjectName));
        // Now nothing is asked.
        view.close();
        QVERIFY(view.isHidden());
    }

    void enterPressesTheFocusedButton()
    {
        StandInWindow w;
        w.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        w.view.randomButton->setFocus();
        QTest::keyClick(w.view.randomButton, Qt::Key_Return);
        QTRY_COMPARE(w.view.passwordTextField->text().size(), 16);
        w.view.showPasswordButton->setFocus();
        QTest::keyClick(w.view.showPasswordButton, Qt::Key_Enter);
        QTRY_VERIFY(w.view.showPasswordButton->isChecked());
    }

    // However encryption is turned on, the password can be typed: with the
    // mouse, the keyboard, or a screen reader's action. The receiver's way
    // in is told only while the archive is encrypted.
    void passwordOpensWithEncryption_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("click") << "click";
        QTest::newRow("space key") << "space key";
        QTest::newRow("accessible toggle") << "accessible toggle";
    }

    void passwordOpensWithEncryption()
    {
        QFETCH(QString, how);
        StandInWindow w;
        QCheckBox* box = w.view.encryptCheckBox;
        QLabel* hint = w.view.receiverHintLabel;
        QVERIFY(!w.view.passwordTextField->isEnabled());
        QVERIFY(hint->isHidden());
        QVERIFY(turnAsAUser(box, how));
        QVERIFY(box->isChecked());
        QVERIFY(w.view.passwordTextField->isEnabled());
        QVERIFY(!hint->isHidden());
        QVERIFY(hint->text().contains(QStringLiteral("別の方法")));
        QVERIFY(hint->accessibleName().contains(QStringLiteral("エクスプローラー")));
        QVERIFY(turnAsAUser(box, how));
        QVERIFY(!box->isChecked());
        QVERIFY(!w.view.passwordTextField->isEnabled());
        QVERIFY(hint->isHidden());
    }

    // Stored options that could not be read leave the window not knowing
    // whether to encrypt: the box shows neither, nothing is archived (a file
    // opened from the file manager included) and nothing is written over the
    // settings file, until the user turns encryption on or off.
    void anUnreadableEncryptionChoiceHoldsJobsBack_data() { passwordOpensWithEncryption_data(); }
    void anUnreadableEncryptionChoiceHoldsJobsBack()
    {
        QFETCH(QString, how);
        std::vector<SettingStatus> saved;
        std::vector<StandInJob*> made;
        JobQueue jobs{[&made] { return made.emplace_back(new StandInJob); }};
        ViewServices services;
        SettingStatus stored{false, "stored-pw", false, false};
        stored.encryptUnknown = true;
        services.loadOptions = [stored] { return stored; };
        services.saveOptions = [&saved](const SettingStatus& options) { saved.push_back(options); return true; };
        ViewController view(jobs, services);
        QCheckBox* box = view.encryptCheckBox;
        QCOMPARE(box->checkState(), Qt::PartiallyChecked);
        QVERIFY(!view.passwordTextField->isEnabled());
        QVERIFY(view.currentSettingStatus().encryptUnknown);
        QVERIFY(!view.passwordNoteLabel->isHidden());
        QCOMPARE(view.passwordNoteLabel->text(), JobStatusText::encryptionUnknown());

        std::vector<std::string> lines;
        {
            StdoutCapture log;
            jobs.enqueue({"/data/a.txt"}, "/data", view.currentSettingStatus());
            view.selectDirCheckBox->click();
            view.hide();
            lines = log.lines();
        }
        QVERIFY(made.empty());
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY2(lines.front().starts_with("job refused:") && lines.front().find("whether to encrypt") != std::string::npos,
                 lines.front().c_str());
        QCOMPARE(view.jobStatusView->headlineLabel->text(),
                 QStringLiteral("保存されている設定を読み込めないため、暗号化するかどうかが分からず、作成しませんでした"));
        QVERIFY(saved.empty());

        QVERIFY(turnAsAUser(box, how));
        QVERIFY(box->checkState() != Qt::PartiallyChecked);
        QVERIFY(!box->isTristate());
        const bool on = box->checkState() == Qt::Checked;
        QCOMPARE(view.passwordTextField->isEnabled(), on);
        QVERIFY(view.passwordNoteLabel->isHidden());
        QCOMPARE(saved.size(), size_t(1));
        QCOMPARE(saved.back(), (SettingStatus{on, "stored-pw", true, false}));
        // The refusal no longer holds, and the choice is never "unknown" again.
        QCOMPARE(view.jobStatusView->pages->currentWidget(), view.jobStatusView->readyLabel->parentWidget());
        box->click();
        box->click();
        QCOMPARE(box->checkState(), on ? Qt::Checked : Qt::Unchecked);
        jobs.enqueue({"/data/a.txt"}, "/data", view.currentSettingStatus());
        QCOMPARE(made.size(), size_t(1));
    }

    // Brought to the front (a second start, the file manager) while a dialog
    // is open over it, the window gives the keys to the dialog: the blocked
    // window itself would take none.
    void aDialogOverTheWindowComesToTheFrontWithIt()
    {
        StandInWindow w;
        QVERIFY(w.active());
        QDialog dialog(&w.view);
        dialog.setWindowModality(Qt::WindowModal);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        w.view.bringToFront();
        QTRY_VERIFY(dialog.isActiveWindow());
    }

    // A failure while the window is out of sight is told by the desktop,
    // naming the item, with a way back to the window's details.
    void failureNotificationNamesTheItem()
    {
        StandInWindow w;
        w.drop("/data/見積書.txt");
        w.start("提案書.txt"); // waits
        // Refused at once for its password, while the first job runs.
        w.view.encryptCheckBox->click();
        w.drop("/data/契約書.txt");
        emit w.running().finished(
            JobOutcome::failed(JobPhase::Writing, "php: command not found", FailureCause::WriterMissing));
        emit w.running().finished(JobOutcome::failed(JobPhase::Copying, "no space", FailureCause::WorkFolderFull));
        QCOMPARE(w.notified.size(), size_t(3));
        QVERIFY(w.notified[0].text.contains(QStringLiteral("契約書.txt")));
        QVERIFY(w.notified[1].text.contains(QStringLiteral("見積書.txt")));
        QVERIFY(w.notified[2].text.contains(QStringLiteral("提案書.txt")));
        QCOMPARE(w.notified[2].actionLabel, QStringLiteral("詳細"));
        w.notified[2].action();
        QVERIFY(w.view.isVisible());
        QVERIFY(w.status.detailsButton->isChecked());
        // A job the file manager handed over, not the window, is named too.
        w.view.hide();
        w.jobs.enqueue({"/data/報告書.txt"}, "/data", {});
        emit w.running().finished(JobOutcome::failed(JobPhase::Writing, "broken", FailureCause::Other));
        QCOMPARE(w.notified.size(), size_t(4));
        QVERIFY(w.notified[3].text.contains(QStringLiteral("報告書.txt")));
    }

    // The file choosers start where the last items came from.
    void itemChooserStartsInTheItemsFolder()
    {
        QTemporaryDir items;
        StandInWindow w;
        w.drop(items.filePath(QStringLiteral("a.txt")));
        w.view.chooseFilesButton->click();
        auto* chooser = w.view.findChild<QFileDialog*>(QStringLiteral("fileChooser"));
        QVERIFY(chooser);
        QCOMPARE(chooser->directory().absolutePath(), QDir(items.path()).absolutePath());
        chooser->reject();
    }

    void everyControlHasAJapaneseName()
    {
        StandInWindow w;
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
    }

    // A problem told in a box of its own may hold an address to open by
    // hand: the keyboard alone reaches both texts and copies them. The
    // address may come from the network: it stays plain text, markup and all.
    void aProblemBoxIsCopiedWithTheKeyboard()
    {
        const QString sentence = QStringLiteral("ブラウザで更新のページを開けませんでした。");
        const QString advice = QStringLiteral("次のアドレスをブラウザで開いてください: https://quillmere.test/dl?<b>x</b><img src=\"/dev/zero\">");
        const std::unique_ptr<QMessageBox> box(ProblemBox::make(sentence, advice));
        box->show();
        box->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(box.get()));
        QTRY_VERIFY(qobject_cast<QAbstractButton*>(QApplication::focusWidget()));
        QStringList reached;
        for (int tab = 0; tab < 3; ++tab) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (auto* label = qobject_cast<QLabel*>(QApplication::focusWidget()))
                reached << label->text();
        }
        QVERIFY2(reached.contains(sentence) && reached.contains(advice), qPrintable(reached.join(" / ")));
        for (QLabel* label : box->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                QCOMPARE(label->textFormat(), Qt::PlainText);
        const auto onAdvice = [&advice] {
            auto* label = qobject_cast<QLabel*>(QApplication::focusWidget());
            return label && label->text() == advice;
        };
        for (int tab = 0; tab < 3 && !onAdvice(); ++tab)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(onAdvice());
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), advice);
    }

    // Options that cannot be stored are told in the window, in red and as
    // an alert, password or not: the next start would bring back the old
    // ones. A save that works again takes the note away. (Last but one:
    // root's way past file permissions is given up for good.)
    void optionsThatCannotBeSavedAreTold()
    {
        UnsavableWindow w;
        QVERIFY(w.unwritable);
        ViewController& view = w.view;
        QLabel* note = view.optionsNoteLabel;
        QVERIFY(note->isHidden());
        Paths lines;
        {
            StdoutCapture log;
            view.selectDirCheckBox->click();
            lines = log.lines();
        }
        QCOMPARE(lines, Paths(1, "save options error:the settings file could not be written"));
        const QString unsaved = QStringLiteral("設定を保存できませんでした。変更した設定は、"
                                               "次に起動したときには元に戻ります。");
        checkFailureNote(note, unsaved);
        QVERIFY(!QTest::currentTestFailed());
        // No password is involved: its note has nothing to say.
        QVERIFY(view.passwordStorageLabel->isHidden());

        UnsavableWindow::makeWritable();
        view.nameAfterItemsCheckBox->click();
        QVERIFY(note->isHidden());
        QVERIFY(note->text().isEmpty());
        const SettingStatus stored = Util::loadSettingStatus();
        QVERIFY(stored.isSelectDir);
        QVERIFY(stored.nameAfterItems);
    }

    // Settings that cannot be written keep no new password: the note under
    // the field says so, in red and as an alert, instead of promising it;
    // each failed save is one line. Once a save works again, the usual note
    // is back. (Last: root's way past file permissions is given up for good.)
    void aPasswordThatCannotBeSavedIsNotPromised()
    {
        UnsavableWindow w;
        QVERIFY(w.unwritable);
        ViewController& view = w.view;
        QLabel* note = view.passwordStorageLabel;
        Paths lines;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            view.encryptCheckBox->click();
            view.randomButton->click();
            view.savePendingOptions(); // as the pause in typing would
            lines = log.lines();
        }
        QCOMPARE(lines, Paths(2, "save options error:the settings file could not be written"));
        const QString lost = QStringLiteral("設定を保存できなかったため、このパスワードは記憶されません。"
                                            "忘れないよう、控えておいてください。");
        checkFailureNote(note, lost);
        QVERIFY(!QTest::currentTestFailed());

        UnsavableWindow::makeWritable();
        view.nameAfterItemsCheckBox->click();
        QCOMPARE(note->text(), QStringLiteral("パスワードは記憶されます（キーリングが使えないため、"
                                              "あなただけが読める設定ファイルに保存）"));
        QVERIFY(!note->styleSheet().contains("#b3261e"));
        QCOMPARE(QAccessible::queryAccessibleInterface(note)->role(), QAccessible::StaticText);
        QCOMPARE(QString::fromStdString(Util::loadSettingStatus().password), view.passwordTextField->text());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_Window.moc"
