// The window as a screen reader meets it: what Qt tells the accessibility
// bus as messages change, and what another process reads (AT-SPI) and does
// over the bus, in this process's window and in the real program's. Run by
// run-with-accessibility-bus, which gives it a private session bus, the
// accessibility bus and an X server, so that Qt's bridge is on and sends its
// update events at all; the reader is atspi-reader.py.
#include "DialogFolderChooser.h"
#include "ScopedEnvironment.h"
#include "StandInJob.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QAbstractButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <filesystem>

namespace {

// The accessibility events sent while it lives, by kind, with the widget
// they were sent for.
class AccessibilityEvents {
public:
    // While it lives the events go here instead of to the bus.
    AccessibilityEvents()
    {
        s_events = &m_events;
        QAccessible::installUpdateHandler(&record);
    }
    // Back to the bus: a window made while it lived passes its events on
    // to this handler, and the next window made learns there is none.
    ~AccessibilityEvents()
    {
        QAccessible::installUpdateHandler(nullptr);
        s_events = nullptr;
    }
    int count(QAccessible::Event type, QObject* object) const
    {
        return static_cast<int>(std::count(m_events.begin(), m_events.end(), std::pair(type, object)));
    }

private:
    static void record(QAccessibleEvent* event) { s_events->emplace_back(event->type(), event->object()); }
    static inline std::vector<std::pair<QAccessible::Event, QObject*>>* s_events = nullptr;
    std::vector<std::pair<QAccessible::Event, QObject*>> m_events;
};

// An accessible object as the reader saw it.
struct Seen {
    QString role;
    QString name;
    QString description;
};

// The reader runs while this process goes on answering its questions:
// waiting on it any other way would leave them unanswered.
void runReader(QProcess& reader, const QStringList& arguments)
{
    // Debian's own python, which has the introspection bindings.
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    reader.start(QStringLiteral("/usr/bin/python3"), QStringList{QFINDTESTDATA("atspi-reader.py")} + arguments);
    QVERIFY(reader.waitForStarted());
}

// Everything of the application with process id pid on the accessibility
// bus (this one's by default); nothing when the reader failed, which it
// says on standard error.
std::vector<Seen> readTree(qint64 pid = QCoreApplication::applicationPid())
{
    QProcess reader;
    runReader(reader, {QStringLiteral("tree"), QString::number(pid)});
    std::vector<Seen> seen;
    if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 60000) || reader.exitCode() != 0)
        return seen;
    for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
        const QJsonObject node = QJsonDocument::fromJson(line).object();
        if (!node.isEmpty())
            seen.push_back({node["role"].toString(), node["name"].toString(), node["description"].toString()});
    }
    return seen;
}

// The one object whose description (the label's role in the window) is
// given.
Seen labelled(const std::vector<Seen>& seen, const QString& description)
{
    const auto found = std::find_if(seen.begin(), seen.end(),
                                    [&](const Seen& node) { return node.description == description; });
    return found == seen.end() ? Seen{} : *found;
}

// Acts on a control of the real program's window, as a screen reader's
// user does (atspi-reader.py's "act").
void drive(qint64 pid, const QString& role, const QString& name, const QString& action, const QString& text = {})
{
    QProcess driver;
    runReader(driver, {QStringLiteral("act"), QString::number(pid), role, name, action, text});
    QTRY_COMPARE_WITH_TIMEOUT(driver.state(), QProcess::NotRunning, 60000);
    QCOMPARE(driver.readAllStandardOutput().trimmed(), QByteArray("done"));
}

// Starts the real program's window, turns encryption on with the check
// box's toggle action and types password, all over the bus.
void startEncrypting(QProcess& window, const QString& password)
{
    window.start(QStringLiteral(QUILLMERE_BINARY), {});
    QVERIFY(window.waitForStarted());
    drive(window.processId(), QStringLiteral("check box"), QStringLiteral("暗号化"), QStringLiteral("toggle"));
    drive(window.processId(), QStringLiteral("password text"), QStringLiteral("パスワード"), QStringLiteral("type"),
          password);
}

// A window over stand-in jobs whose options the services keep, for the
// note on where the password goes.
struct StorageNoteWindow {
    JobQueue jobs{[] { return new StandInJob; }};
    ViewController view;
    QLabel* note = view.passwordStorageLabel;

    explicit StorageNoteWindow(const ViewServices& services)
        : view(jobs, services)
    {
    }
    bool shown()
    {
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }
    // Turns encryption on and types a first password.
    void typeAPassword()
    {
        view.encryptCheckBox->click();
        view.passwordTextField->setText(QStringLiteral("secret-1"));
    }
};

} // namespace

class TestAccessibleWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"),
                 "run this test through run-with-accessibility-bus");
        QTRY_VERIFY2(QAccessible::isActive(), "Qt's accessibility is off: no events are sent");
    }
    // Each window starts from no stored options: encryption off.
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    // While a job runs and when it ends, every change of a message is told
    // (the labels' names, the bar's value, the result as an alert when it
    // appears), and the window reads over the bus: the phase label's name
    // with the phase, and after a job that renamed two items the result
    // with the count and the destination folder.
    void changesAreToldAndRead()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        AccessibilityEvents events;
        StandInJob& job = w.start("資料", "/data/送付");
        job.enter(JobPhase::Writing, true);
        emit job.progressChanged({JobPhase::Writing, 0.5, "資料/a.txt", true});
        QVERIFY(events.count(QAccessible::NameChanged, w.status.phaseLabel) >= 1);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.itemLabel) >= 1);
        QVERIFY(events.count(QAccessible::ValueChanged, w.status.progressBar) >= 1);
        // The time left may follow the phase.
        const QString whileWriting = labelled(readTree(), QStringLiteral("処理の段階")).name;
        QVERIFY2(whileWriting.startsWith(QStringLiteral("圧縮中")), qPrintable(whileWriting));
        const int named = events.count(QAccessible::NameChanged, w.status.phaseLabel);
        job.enter(JobPhase::Encrypting, true);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.phaseLabel) > named);
        const QString whileEncrypting = labelled(readTree(), QStringLiteral("処理の段階")).name;
        QVERIFY2(whileEncrypting.startsWith(QStringLiteral("暗号化中")), qPrintable(whileEncrypting));

        JobReport report;
        report.fileCount = 4;
        report.folderCount = 1;
        report.renamed = {{"資料/a:b.txt", "資料/a_b.txt", true}, {"資料/c?.txt", "資料/c_.txt", true}};
        emit job.finished(JobOutcome::delivered("/data/送付/archive.zip", true, report));
        QVERIFY(events.count(QAccessible::NameChanged, w.status.headlineLabel) >= 1);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.remedyLabel) >= 1);
        QCOMPARE(events.count(QAccessible::Alert, w.status.headlineLabel), 1);
        QVERIFY(events.count(QAccessible::ObjectShow, w.status.headlineLabel) >= 1);
        const std::vector<Seen> result = readTree();
        const Seen headline = labelled(result, QStringLiteral("結果"));
        QVERIFY2(headline.name.contains(QStringLiteral("2 個の名前を変えました")), qPrintable(headline.name));
        QVERIFY2(headline.name.contains(QStringLiteral("/data/送付")), qPrintable(headline.name));
        QVERIFY(headline.name.contains(QStringLiteral("archive.zip を作成しました")));
        // An alert, which screen readers read out when it is shown.
        QCOMPARE(headline.role, QStringLiteral("alert"));
        QVERIFY(labelled(result, QStringLiteral("結果の説明")).name.contains(QStringLiteral("ファイル 4 個、フォルダ 1 個")));
        // A screen reader finds the window by its role and reads its title,
        // and the buttons by the names users ask for; the line between the
        // parts is a separator, not a nameless frame.
        const auto has = [&](const QString& role, const QString& name) {
            return std::any_of(result.begin(), result.end(), [&](const Seen& node) {
                return node.role == role && (name.isNull() || node.name == name);
            });
        };
        QVERIFY(has(QStringLiteral("push button"), QStringLiteral("ファイルマネージャで表示")));
        QVERIFY(has(QStringLiteral("frame"), QStringLiteral("Quillmere")));
        QVERIFY(!has(QStringLiteral("frame"), QStringLiteral("")));
        QVERIFY(!has(QStringLiteral("filler"), QStringLiteral("Quillmere")));
        QVERIFY(has(QStringLiteral("separator"), QString()));
    }

    void passwordNotesAreAnnounced()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        w.view.encryptCheckBox->click();
        AccessibilityEvents events;
        QLabel* note = w.view.passwordNoteLabel;
        w.view.passwordTextField->setText(QStringLiteral("パスワード😀"));
        QVERIFY(note->accessibleName().contains(QStringLiteral("絵文字")));
        QCOMPARE(events.count(QAccessible::NameChanged, note), 1);
        QCOMPARE(events.count(QAccessible::NameChanged, w.view.passwordStorageLabel), 1);
        w.view.passwordTextField->setText(QStringLiteral("secret-1"));
        QVERIFY(w.view.passwordStorageLabel->accessibleName().contains(QStringLiteral("記憶されます")));
        // Where a kept password goes is read where the user looks, not
        // read out over the typing.
        QCOMPARE(QAccessible::queryAccessibleInterface(w.view.passwordStorageLabel)->role(), QAccessible::StaticText);
        QCOMPARE(events.count(QAccessible::NameChanged, note), 2);
        // The same text again is no news.
        w.view.passwordTextField->setText(QStringLiteral("secret-2"));
        QCOMPARE(events.count(QAccessible::NameChanged, note), 2);
        // A problem is read out as it appears, while the focus stays in the
        // field; no problem is nothing to read out.
        QCOMPARE(QAccessible::queryAccessibleInterface(note)->role(), QAccessible::AlertMessage);
        QCOMPARE(events.count(QAccessible::Alert, note), 1);
        w.view.passwordTextField->clear();
        QVERIFY(note->accessibleName().contains(QStringLiteral("空")));
        QCOMPARE(events.count(QAccessible::Alert, note), 2);
    }

    // A password the settings cannot keep is said aloud once, as an alert a
    // screen reader reads, and so is the options' own note; a save that
    // works again is no alarm.
    void aPasswordThatIsNotKeptIsAnnounced()
    {
        bool writable = false;
        bool lastWritten = true;
        ViewServices services;
        services.saveOptions = [&](const SettingStatus&) { return lastWritten = writable; };
        services.passwordPlace = [&](const SettingStatus& options) {
            if (options.password.empty())
                return PasswordPlace::NotStored;
            return lastWritten ? PasswordPlace::SettingsFile : PasswordPlace::Unsaved;
        };
        StorageNoteWindow w(services);
        QVERIFY(w.shown());
        ViewController& view = w.view;
        QLabel* note = w.note;
        AccessibilityEvents events;
        w.typeAPassword();
        QCOMPARE(events.count(QAccessible::Alert, note), 1);
        view.passwordTextField->setText(QStringLiteral("secret-2"));
        view.savePendingOptions();
        QCOMPARE(events.count(QAccessible::Alert, note), 1);
        // So is the note that the options themselves were not kept.
        QCOMPARE(events.count(QAccessible::Alert, view.optionsNoteLabel), 1);
        const std::vector<Seen> unsaved = readTree();
        const Seen read = labelled(unsaved, QStringLiteral("パスワードの保存先"));
        QCOMPARE(read.role, QStringLiteral("alert"));
        QVERIFY2(read.name.contains(QStringLiteral("記憶されません")), qPrintable(read.name));
        const Seen options = labelled(unsaved, QStringLiteral("設定の保存"));
        QCOMPARE(options.role, QStringLiteral("alert"));
        QVERIFY2(options.name.contains(QStringLiteral("設定を保存できませんでした")), qPrintable(options.name));
        writable = true;
        view.selectDirCheckBox->click();
        QVERIFY(note->accessibleName().contains(QStringLiteral("記憶されます")));
        QCOMPARE(events.count(QAccessible::Alert, note), 1);
        const std::vector<Seen> saved = readTree();
        QCOMPARE(labelled(saved, QStringLiteral("パスワードの保存先")).role, QStringLiteral("label"));
        QVERIFY(!labelled(saved, QStringLiteral("設定の保存")).name.contains(QStringLiteral("できませんでした")));
    }

    // The note gave the password to the keyring, which then refused it: it
    // is in the settings file after all, and that is read out once; more
    // typing, kept in the file as well, is no news.
    void aKeyringsRefusalIsAnnounced()
    {
        PasswordPlace place = PasswordPlace::Keyring;
        ViewServices services;
        services.passwordPlace = [&](const SettingStatus& options) {
            return options.password.empty() ? PasswordPlace::NotStored : place;
        };
        StorageNoteWindow w(services);
        QVERIFY(w.shown());
        AccessibilityEvents events;
        w.typeAPassword();
        QVERIFY(w.note->accessibleName().contains(QStringLiteral("キーリングに保存")));
        QCOMPARE(events.count(QAccessible::Alert, w.note), 0);
        place = PasswordPlace::SettingsFile;
        w.view.updatePasswordNotes();
        QVERIFY(w.note->accessibleName().contains(QStringLiteral("設定ファイルに保存")));
        QCOMPARE(events.count(QAccessible::Alert, w.note), 1);
        w.view.passwordTextField->setText(QStringLiteral("secret-2"));
        QCOMPARE(events.count(QAccessible::Alert, w.note), 1);
        QCOMPARE(labelled(readTree(), QStringLiteral("パスワードの保存先")).role, QStringLiteral("label"));
    }

    // Without php the window does not claim to be ready: it says what is
    // missing and what to install, and says it aloud wherever the focus is.
    void missingWriterIsAnnounced_data()
    {
        QTest::addColumn<QString>("php"); // the stand-in put on PATH, or none
        QTest::addColumn<QString>("missing");
        QTest::newRow("no php") << QString() << QStringLiteral("PHP がインストールされていない");
        QTest::newRow("php without zip") << QStringLiteral("exit 3") << QStringLiteral("php-zip");
    }
    void missingWriterIsAnnounced()
    {
        QFETCH(QString, php);
        QFETCH(QString, missing);
        QTemporaryDir bin;
        if (!php.isEmpty()) {
            writeFile(bin.filePath("php").toStdString(), "#!/bin/sh\n" + php.toStdString() + "\n");
            QVERIFY(QFile::setPermissions(bin.filePath("php"), QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto path = scopedEnvironment("PATH", QFile::encodeName(bin.path()));
        AccessibilityEvents events;
        StandInWindow w;
        QLabel* status = w.status.readyLabel;
        // "Ready" is no alarm, read out each time the page comes back.
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->role(), QAccessible::StaticText);
        QTRY_VERIFY(status->text().contains(missing));
        QVERIFY(status->text().contains(QStringLiteral("sudo apt install php-cli php-zip")));
        QVERIFY(!status->text().contains(QStringLiteral("準備完了")));
        QCOMPARE(status->accessibleName(), status->text());
        QVERIFY(events.count(QAccessible::NameChanged, status) >= 1);
        QCOMPARE(events.count(QAccessible::Alert, status), 1);
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->role(), QAccessible::AlertMessage);
    }

    // Every button and check box of the window says what it is and what it
    // does: a screen reader reads both.
    void everyControlHasANameAndADescription()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        const QList<QAbstractButton*> controls = w.view.findChildren<QAbstractButton*>();
        QVERIFY(controls.size() >= 10);
        QStringList undescribed;
        for (QAbstractButton* control : controls) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY(accessible);
            const QString name = accessible->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(control->text()));
            if (accessible->text(QAccessible::Description).isEmpty())
                undescribed << name;
        }
        QVERIFY2(undescribed.isEmpty(), qPrintable(undescribed.join(QStringLiteral("、"))));
    }

    // The copy and generate buttons say that they did it, and are back
    // after a while; both changes of their names are told. The generated
    // password goes into a hidden field: without this, nothing is heard.
    // Made while encryption is off, in a greyed-out field, it is said to
    // protect nothing yet.
    void buttonsSayTheyDidIt_data()
    {
        QTest::addColumn<bool>("copy");
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<QString>("done"); // in the name, after the name and "："
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::newRow("copy") << true << true << QStringLiteral("コピーしました") << QStringLiteral("コピー")
                              << QStringLiteral("パスワードをコピー");
        QTest::newRow("generate") << false << true << QStringLiteral("生成しました") << QStringLiteral("自動生成")
                                  << QStringLiteral("パスワードを自動生成");
        QTest::newRow("generate, encryption off")
            << false << false << QStringLiteral("生成しました（暗号化はオフです。オンにするまで使われません）")
            << QStringLiteral("自動生成") << QStringLiteral("パスワードを自動生成");
    }
    void buttonsSayTheyDidIt()
    {
        QFETCH(bool, copy);
        QFETCH(bool, encrypt);
        QFETCH(QString, done);
        QFETCH(QString, text);
        QFETCH(QString, name);
        StandInWindow w;
        QVERIFY(w.shown());
        if (w.view.encryptCheckBox->isChecked() != encrypt)
            w.view.encryptCheckBox->click();
        QPushButton* button = copy ? w.view.copyPasswordButton : w.view.randomButton;
        w.view.passwordTextField->setText(QStringLiteral("secret-1"));
        AccessibilityEvents events;
        button->click();
        if (copy)
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("secret-1"));
        else
            QCOMPARE(w.view.passwordTextField->text().size(), 16);
        QCOMPARE(button->text(), done.left(done.indexOf(QStringLiteral("（")))); // -1: all of it
        QCOMPARE(button->accessibleName(), name + QStringLiteral("：") + done);
        const int announced = events.count(QAccessible::NameChanged, button);
        QVERIFY(announced >= 1);
        QTRY_COMPARE_WITH_TIMEOUT(button->text(), text, 10000);
        QCOMPARE(button->accessibleName(), name);
        QVERIFY(events.count(QAccessible::NameChanged, button) > announced);
    }

    // The show button is a toggle: its name says what it does when on,
    // and its state whether the password is shown; a name that turned to
    // "hide" would be read as "hide, on" while the password is shown. Its
    // label stays in its name, for voice control.
    void theShowButtonTellsItsStateNotANewName()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        w.view.encryptCheckBox->click();
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(w.view.showPasswordButton);
        for (const bool shown : {true, false, true}) {
            w.view.showPasswordButton->click();
            QCOMPARE(w.view.passwordTextField->echoMode() == QLineEdit::Normal, shown);
            QCOMPARE(button->text(QAccessible::Name), QStringLiteral("パスワードを表示"));
            QVERIFY(button->text(QAccessible::Name).contains(w.view.showPasswordButton->text()));
            QVERIFY(button->state().checkable);
            QCOMPARE(bool(button->state().checked), shown);
        }
    }

    // A job queued while the focus is on another control leaves it there,
    // and no focus event says otherwise; tabbed into, the list takes Delete
    // for its current job, and the button takes the first one, which is
    // the one shown selected.
    void queuedJobsLeaveTheFocusWhereItIs()
    {
        StandInWindow w;
        QVERIFY(w.active());
        using Names = std::vector<std::string>;
        QListWidget* list = w.status.waitingList;
        w.view.nameAfterItemsCheckBox->setFocus(Qt::TabFocusReason);
        w.start("first.txt");
        AccessibilityEvents events;
        for (const char* item : {"/data/second.txt", "/data/third.txt", "/data/fourth.txt", "/data/fifth.txt"})
            w.jobs.enqueue({item}, "/data", SettingStatus());
        QCOMPARE(events.count(QAccessible::Focus, list), 0);
        QCOMPARE(QApplication::focusWidget(), w.view.nameAfterItemsCheckBox);
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().first()->text(), QStringLiteral("second.txt（/data）"));
        QLabel* count = w.status.waitingLabel;
        QCOMPARE(QAccessible::queryAccessibleInterface(count)->role(), QAccessible::StaticText);
        w.status.removeWaitingButton->click();
        QCOMPARE(w.jobs.waitingNames(), (Names{"third.txt", "fourth.txt", "fifth.txt"}));
        // Said aloud, the job that went and how many are left.
        QCOMPARE(count->accessibleName(), QStringLiteral("待機から外しました: second.txt（/data）。待機中は残り 3 件です"));
        QCOMPARE(QAccessible::queryAccessibleInterface(count)->role(), QAccessible::AlertMessage);
        QCOMPARE(events.count(QAccessible::Alert, count), 1);

        w.status.removeWaitingButton->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w.status.removeWaitingButton, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), list);
        QVERIFY(events.count(QAccessible::Focus, list) >= 1);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(w.jobs.waitingNames(), (Names{"third.txt", "fifth.txt"}));
        // The next one takes its place, for the next Delete.
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(w.jobs.waitingNames(), Names{"third.txt"});
    }

    // However the status' page changes under the focus, the focus goes to
    // a control the user sees and a screen reader names, never to a page:
    // back to the result the user was on when a cancelled folder chooser
    // brings it back, unchanged; to the control the job started from when
    // the new page has none.
    void theFocusStaysOnAVisibleControl_data()
    {
        QTest::addColumn<bool>("chooserCancelled"); // else the job is stopped with its button
        QTest::newRow("folder chooser cancelled") << true;
        QTest::newRow("job stopped") << false;
    }
    void theFocusStaysOnAVisibleControl()
    {
        QFETCH(bool, chooserCancelled);
        StandInWindow w;
        QVERIFY(w.active());
        emit w.start("first.txt").finished(JobOutcome::delivered("/data/送付/archive.zip", false));
        const QString result = w.status.headlineLabel->accessibleName();
        QWidget* const started = chooserCancelled ? static_cast<QWidget*>(w.status.copyPathButton)
                                                  : w.view.nameAfterItemsCheckBox;
        started->setFocus(Qt::TabFocusReason);
        AccessibilityEvents events;
        StandInJob& job = w.start("second.txt");
        if (chooserCancelled) {
            DialogFolderChooser chooser(&w.view);
            chooser.chooseFolderIn("/data", [&job](bool chosen, const std::string&) {
                if (!chosen)
                    emit job.finished(JobOutcome::cancelled());
            });
            const QPointer<QFileDialog> dialog = w.view.findChild<QFileDialog*>(QStringLiteral("folderChooser"));
            QVERIFY(dialog);
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
            QTRY_VERIFY(!dialog);
            // As a window manager does when the dialog has gone.
            w.view.activateWindow();
        } else {
            w.status.cancelButton->setFocus(Qt::TabFocusReason);
            // The stand-in stops as a job does: finished, as stopped.
            QTest::keyClick(w.status.cancelButton, Qt::Key_Space);
        }
        QTRY_COMPARE(QApplication::focusWidget(), started);
        for (QWidget* page : w.status.pages->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QCOMPARE(events.count(QAccessible::Focus, page), 0);
        QCOMPARE(events.count(QAccessible::Focus, w.status.pages), 0);
        if (!chooserCancelled)
            return;
        QCOMPARE(w.status.pages->currentWidget(), w.status.headlineLabel->parentWidget());
        QCOMPARE(w.status.headlineLabel->accessibleName(), result);
        QTest::keyClick(w.status.copyPathButton, Qt::Key_Space);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/data/送付/archive.zip"));
    }

    // A part of the window that hides under the focus (the details of a
    // result as a new job starts, the waiting list as its last job starts)
    // hands it to the running job's control, never to a control elsewhere
    // in the window.
    void theFocusLeavesAPartThatHides_data()
    {
        QTest::addColumn<bool>("inDetails"); // else in the waiting list
        QTest::newRow("details, as a new job starts") << true;
        QTest::newRow("waiting list, as its last job starts") << false;
    }
    void theFocusLeavesAPartThatHides()
    {
        QFETCH(bool, inDetails);
        StandInWindow w;
        QVERIFY(w.active());
        if (inDetails) {
            emit w.start("first.txt").finished(
                JobOutcome::failed(JobPhase::Writing, "php ended with status 255", FailureCause::Other));
            QTest::keyClick(w.status.detailsButton, Qt::Key_Space);
            QVERIFY(w.status.copyDetailsButton->isVisible());
            w.status.copyDetailsButton->setFocus(Qt::TabFocusReason);
            w.start("second.txt");
        } else {
            StandInJob& first = w.start("first.txt");
            w.jobs.enqueue({"/data/second.txt"}, "/data", SettingStatus());
            w.status.waitingList->setFocus(Qt::TabFocusReason);
            QCOMPARE(QApplication::focusWidget(), w.status.waitingList);
            emit first.finished(JobOutcome::delivered("/data/archive.zip", false));
            QTRY_VERIFY(!w.status.waitingList->isVisible());
        }
        QVERIFY(w.status.pages->currentWidget()->isAncestorOf(w.status.cancelButton));
        QTRY_COMPARE(QApplication::focusWidget(), w.status.cancelButton);
    }

    // A screen reader that listens hears the phase label's name change.
    void phaseChangeIsSignalled()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        StandInJob& job = w.start("資料", "/data/送付");
        job.enter(JobPhase::Writing, true);
        QProcess watcher;
        runReader(watcher, {QStringLiteral("watch"), QString::number(QCoreApplication::applicationPid()),
                            QStringLiteral("30")});
        QByteArray heard;
        connect(&watcher, &QProcess::readyReadStandardOutput, this, [&] { heard += watcher.readAllStandardOutput(); });
        QTRY_VERIFY_WITH_TIMEOUT(heard.startsWith("ready\n"), 30000);
        // The bridge learns of the new listener from the registry a moment
        // later: the phase changes until a change has been heard.
        bool encrypting = false;
        QTimer phases;
        connect(&phases, &QTimer::timeout, this, [&] {
            encrypting = !encrypting;
            job.enter(encrypting ? JobPhase::Encrypting : JobPhase::Writing, true);
        });
        phases.start(200);
        QTRY_VERIFY_WITH_TIMEOUT(heard.contains(QStringLiteral("\"description\": \"処理の段階\"").toUtf8()), 25000);
        phases.stop();
        watcher.kill();
        watcher.waitForFinished();
        QVERIFY(heard.contains(QStringLiteral("暗号化中").toUtf8()) || heard.contains(QStringLiteral("圧縮中").toUtf8()));
    }

    // A key typed into the hidden password field reaches the bus as the
    // field shows it; once the user shows the password, as typed.
    void typedPasswordStaysHidden()
    {
        StandInWindow w;
        QVERIFY(w.shown());
        w.view.encryptCheckBox->setChecked(true);
        w.view.passwordTextField->setFocus();
        QProcess watcher;
        runReader(watcher, {QStringLiteral("watch"), QString::number(QCoreApplication::applicationPid()),
                            QStringLiteral("40"), QStringLiteral("object:text-changed")});
        QList<QJsonObject> heard;
        QByteArray pending;
        connect(&watcher, &QProcess::readyReadStandardOutput, this, [&] {
            pending += watcher.readAllStandardOutput();
            for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
                const QJsonObject event = QJsonDocument::fromJson(pending.left(end)).object();
                if (event[QStringLiteral("name")].toString() == QStringLiteral("パスワード"))
                    heard.append(event);
                pending.remove(0, end + 1);
            }
        });
        const auto insertedText = [&](const QString& text) {
            return std::any_of(heard.begin(), heard.end(), [&](const QJsonObject& event) {
                return event[QStringLiteral("event")].toString().startsWith(QStringLiteral("object:text-changed:insert"))
                    && event[QStringLiteral("text")].toString() == text;
            });
        };
        // Shown, a key is told as typed: this is how a leak would be heard.
        // The bridge learns of the new listener a moment later, so keys go
        // on until one is heard.
        w.view.showPasswordButton->setChecked(true);
        QTimer keys;
        connect(&keys, &QTimer::timeout, this, [&] { QTest::keyClick(w.view.passwordTextField, Qt::Key_Z); });
        keys.start(200);
        QTRY_VERIFY_WITH_TIMEOUT(insertedText(QStringLiteral("z")), 30000);
        keys.stop();
        w.view.showPasswordButton->setChecked(false);
        const QChar mask(w.view.passwordTextField->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                                                     w.view.passwordTextField));
        QTest::keyClick(w.view.passwordTextField, Qt::Key_Q);
        // As an input method commits a character no key names.
        w.view.passwordTextField->insert(QStringLiteral("秘"));
        w.view.passwordTextField->clear();
        QTRY_VERIFY_WITH_TIMEOUT(insertedText(QString(mask)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(heard.begin(), heard.end(), [&](const QJsonObject& event) {
            return event[QStringLiteral("event")].toString().startsWith(QStringLiteral("object:text-changed:delete"))
                && event[QStringLiteral("text")].toString().startsWith(QString(2, mask));
        }), 10000);
        watcher.kill();
        watcher.waitForFinished();
        for (const QJsonObject& event : heard) {
            const QString text = event[QStringLiteral("text")].toString();
            QVERIFY2(!text.contains(QLatin1Char('q')) && !text.contains(QStringLiteral("秘")),
                     qPrintable(QJsonDocument(event).toJson(QJsonDocument::Compact)));
        }
    }

    // Encryption turned on in the real program's window with the check
    // box's toggle action, a password typed, and at once a file opened
    // with the program: the archive takes that password, not one stored
    // before.
    void anOpenedFileTakesThePasswordTheWindowShows()
    {
        const std::string folder = m_home.makeFolder("user");
        writeFile(folder + "/memo.txt", "memo");
        QProcess window;
        window.setProcessChannelMode(QProcess::ForwardedChannels);
        startEncrypting(window, QStringLiteral("typed-just-now"));
        if (QTest::currentTestFailed())
            return;
        QProcess opened;
        opened.setProcessChannelMode(QProcess::ForwardedChannels);
        opened.start(QStringLiteral(QUILLMERE_BINARY), {QString::fromStdString(folder + "/memo.txt")});
        QVERIFY(opened.waitForFinished(30000));
        QCOMPARE(opened.exitCode(), 0);

        const std::string archive = folder + "/archive.zip";
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(archive), 60000);
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"),
                                              QStringLiteral("typed-just-now"), QString::fromStdString(archive)});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAll().constData());

        window.terminate();
        QVERIFY(window.waitForFinished(30000));
    }

    // Where the keyring refuses the password (a session whose keyring has
    // no collection to keep it in), the note under the real program's field
    // says at once that the settings file keeps it, as the program's line
    // does.
    void theStorageNoteFollowsTheKeyringsRefusal()
    {
        QProcess window;
        window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startEncrypting(window, QStringLiteral("kept-somewhere"));
        if (QTest::currentTestFailed())
            return;
        QByteArray said;
        const auto refused = [&] {
            said += window.readAllStandardOutput();
            return said.contains("password kept in the settings file: the keyring did not store it");
        };
        // Stored once typing pauses; the keyring answers after that.
        const QDeadlineTimer answered(20000);
        while (!refused() && !answered.hasExpired())
            window.waitForReadyRead(200);
        if (!refused()) {
            window.terminate();
            window.waitForFinished(30000);
            QSKIP("this session's keyring kept the password: nothing refused to show");
        }
        const auto noteNamesTheFile = [&] {
            const std::vector<Seen> seen = readTree(window.processId());
            return std::any_of(seen.begin(), seen.end(),
                               [](const Seen& node) { return node.name.contains(QStringLiteral("設定ファイルに保存")); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(noteNamesTheFile(), 10000);
        window.terminate();
        QVERIFY(window.waitForFinished(30000));
    }

    // A start whose files the running window does not take (here: it is
    // stopped) says so in a window of its own, as a file manager's start
    // has nowhere else to say it, and ends with its line and status 1.
    void aStartTheRunningWindowIgnoresSaysSo()
    {
        const QString item = QString::fromStdString(m_home.makeFolder("items") + "/見積書.txt");
        QFile(item).open(QIODevice::WriteOnly);
        QProcess first;
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(QStringLiteral(QUILLMERE_BINARY), {});
        QVERIFY(first.waitForStarted());
        const auto cleanUp = qScopeGuard([&] {
            ::kill(pid_t(first.processId()), SIGCONT);
            first.kill();
            first.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString(m_home.path() + "/.quillmere/instance.channel")),
                                 30000);
        QCOMPARE(::kill(pid_t(first.processId()), SIGSTOP), 0);

        QProcess later;
        later.start(QStringLiteral(QUILLMERE_BINARY), {item});
        QVERIFY(later.waitForStarted());
        QProcess reader;
        runReader(reader, {QStringLiteral("find"), QString::number(later.processId()), QStringLiteral("label"),
                           QStringLiteral("起動中の Quillmere")});
        // The running window is given its time to confirm before the box.
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 60000);
        QCOMPARE(reader.exitCode(), 0);
        QVERIFY(QJsonDocument::fromJson(reader.readAllStandardOutput())
                    .object()[QStringLiteral("name")]
                    .toString()
                    .contains(QStringLiteral("ファイル")));
        QCOMPARE(later.state(), QProcess::Running);
        // Ended by the signal, as any start the signal stops.
        later.terminate();
        QVERIFY(later.waitForFinished(30000));
        QCOMPARE(later.exitStatus(), QProcess::CrashExit);
        QCOMPARE(later.exitCode(), SIGTERM);
        QVERIFY(later.readAllStandardOutput().contains("the running Quillmere did not confirm the files: "));
    }
};

QTEST_MAIN(TestAccessibleWindow)
#include "tst_AccessibleWindow.moc"
