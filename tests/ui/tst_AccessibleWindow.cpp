// The window as a screen reader reads it over the accessibility bus
// (AT-SPI), from another process: the phase while a job runs, and the
// result with its counts and its folder. Run by run-with-accessibility-bus,
// which gives it a private session bus, the accessibility bus and an X
// server; the reader is atspi-reader.py.
#include "JobQueue.h"
#include "JobStatusText.h"
#include "JobStatusView.h"
#include "StandInJob.h"
#include "TestHome.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QAccessible>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QScopeGuard>

#include <csignal>

namespace {

// The accessibility events sent while it lives, by kind, with the widget
// they were sent for.
class AccessibilityEvents {
public:
    // While it lives the events go here instead of to the bus.
    AccessibilityEvents()
    {
        s_events = &m_events;
        m_previous = QAccessible::installUpdateHandler(&record);
    }
    ~AccessibilityEvents()
    {
        QAccessible::installUpdateHandler(m_previous);
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
    QAccessible::UpdateHandler m_previous = nullptr;
};

// An accessible object as the reader saw it.
struct Seen {
    QString role;
    QString name;
    QString description;
};

} // namespace

class TestAccessibleWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

    // The reader runs while this process goes on answering its questions:
    // waiting on it any other way would leave them unanswered.
    void runReader(QProcess& reader, const QStringList& arguments)
    {
        // Debian's own python, which has the introspection bindings.
        reader.setProgram(QStringLiteral("/usr/bin/python3"));
        reader.setArguments(QStringList{QFINDTESTDATA("atspi-reader.py")} + arguments);
        reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reader.start();
        QVERIFY(reader.waitForStarted());
    }

    // Everything of this application on the accessibility bus.
    void readTree(std::vector<Seen>& seen)
    {
        QProcess reader;
        runReader(reader, {QStringLiteral("tree"), QString::number(QCoreApplication::applicationPid())});
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 60000);
        QCOMPARE(reader.exitCode(), 0);
        for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
            const QJsonObject node = QJsonDocument::fromJson(line).object();
            if (!node.isEmpty())
                seen.push_back({node["role"].toString(), node["name"].toString(), node["description"].toString()});
        }
        QVERIFY(!seen.empty());
    }

    // The one object whose description (the label's role in the window) is
    // given.
    static Seen labelled(const std::vector<Seen>& seen, const QString& description)
    {
        const auto found = std::find_if(seen.begin(), seen.end(),
                                        [&](const Seen& node) { return node.description == description; });
        return found == seen.end() ? Seen{} : *found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"),
                 "run this test through run-with-accessibility-bus");
    }

    // After a job that renamed two items the result reads, over the bus,
    // with the count and the destination folder; while the job ran the
    // phase label's name changed with the phase.
    void resultAndPhaseAreRead()
    {
        StandInWindow w;
        w.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.view));
        QTRY_VERIFY(QAccessible::isActive());
        StandInJob& job = w.start("/data/送付");

        job.enter(JobPhase::Writing, true);
        std::vector<Seen> writing;
        readTree(writing);
        if (QTest::currentTestFailed())
            return;
        // The time left may follow the phase.
        const QString whileWriting = labelled(writing, QStringLiteral("処理の段階")).name;
        QVERIFY2(whileWriting.startsWith(QStringLiteral("圧縮中")), qPrintable(whileWriting));
        job.enter(JobPhase::Encrypting, true);
        std::vector<Seen> encrypting;
        readTree(encrypting);
        if (QTest::currentTestFailed())
            return;
        const QString whileEncrypting = labelled(encrypting, QStringLiteral("処理の段階")).name;
        QVERIFY2(whileEncrypting.startsWith(QStringLiteral("暗号化中")), qPrintable(whileEncrypting));

        JobReport report;
        report.fileCount = 4;
        report.folderCount = 1;
        report.renamed = {{"資料/a:b.txt", "資料/a_b.txt", true}, {"資料/c?.txt", "資料/c_.txt", true}};
        emit job.finished(JobOutcome::delivered("/data/送付/archive.zip", true, report));
        std::vector<Seen> result;
        readTree(result);
        if (QTest::currentTestFailed())
            return;
        const Seen headline = labelled(result, QStringLiteral("結果"));
        QVERIFY2(headline.name.contains(QStringLiteral("2 個の名前を変えました")), qPrintable(headline.name));
        QVERIFY2(headline.name.contains(QStringLiteral("/data/送付")), qPrintable(headline.name));
        QVERIFY(headline.name.contains(QStringLiteral("archive.zip を作成しました")));
        // An alert, which screen readers read out when it is shown.
        QCOMPARE(headline.role, QStringLiteral("alert"));
        QVERIFY(labelled(result, QStringLiteral("結果の説明")).name.contains(QStringLiteral("ファイル 4 個、フォルダ 1 個")));
        // The buttons keep the names users ask for.
        QVERIFY(std::any_of(result.begin(), result.end(), [](const Seen& node) {
            return node.role == QStringLiteral("push button") && node.name == QStringLiteral("ファイルマネージャで表示");
        }));
        // A screen reader finds the window by its role and reads its title;
        // the line between the parts is a separator, not a nameless frame.
        const auto has = [&](const QString& role, const QString& name) {
            return std::any_of(result.begin(), result.end(),
                               [&](const Seen& node) { return node.role == role && node.name == name; });
        };
        QVERIFY(has(QStringLiteral("frame"), QStringLiteral("Quillmere")));
        QVERIFY(!has(QStringLiteral("frame"), QString()));
        QVERIFY(!has(QStringLiteral("filler"), QStringLiteral("Quillmere")));
        QVERIFY(std::any_of(result.begin(), result.end(),
                            [](const Seen& node) { return node.role == QStringLiteral("separator"); }));
    }

    // Every change of a message is told: the labels' names, the bar's
    // value, and the result as an alert when it appears.
    void everyChangeIsTold()
    {
        StandInWindow w;
        w.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.view));
        QTRY_VERIFY(QAccessible::isActive());
        AccessibilityEvents events;
        StandInJob& job = w.start("/data/送付");
        job.enter(JobPhase::Writing, true);
        emit job.progressChanged({JobPhase::Writing, 0.5, "資料/a.txt", true});
        QVERIFY(events.count(QAccessible::NameChanged, w.status.phaseLabel) >= 1);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.itemLabel) >= 1);
        QVERIFY(events.count(QAccessible::ValueChanged, w.status.progressBar) >= 1);
        const int named = events.count(QAccessible::NameChanged, w.status.phaseLabel);
        job.enter(JobPhase::Encrypting, true);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.phaseLabel) > named);
        emit job.finished(JobOutcome::delivered("/data/送付/archive.zip", true));
        QVERIFY(events.count(QAccessible::NameChanged, w.status.headlineLabel) >= 1);
        QVERIFY(events.count(QAccessible::NameChanged, w.status.remedyLabel) >= 1);
        QCOMPARE(events.count(QAccessible::Alert, w.status.headlineLabel), 1);
        QVERIFY(events.count(QAccessible::ObjectShow, w.status.headlineLabel) >= 1);
    }

    // A screen reader that listens hears the phase label's name change.
    void phaseChangeIsSignalled()
    {
        StandInWindow w;
        w.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.view));
        StandInJob& job = w.start("/data/送付");
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
        w.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.view));
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

    // A start whose files the running window does not take (here: it is
    // stopped) says so in a window of its own, as a file manager's start
    // has nowhere else to say it, and ends with its line and status 1.
    void aStartTheRunningWindowIgnoresSaysSo()
    {
        const QString program = qEnvironmentVariable("QUILLMERE_BUILD_DIR") + QStringLiteral("/quillmere");
        const QString item = QString::fromStdString(m_home.makeFolder("items") + "/見積書.txt");
        QFile(item).open(QIODevice::WriteOnly);
        QProcess first;
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(program, {});
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
        later.start(program, {item});
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
        later.terminate();
        QVERIFY(later.waitForFinished(30000));
        QCOMPARE(later.exitCode(), 1);
        QVERIFY(later.readAllStandardOutput().contains("the running Quillmere did not confirm the files: "));
    }
};

QTEST_MAIN(TestAccessibleWindow)
#include "tst_AccessibleWindow.moc"
