// The desktop services the window is given by main: the archive shown in
// the file manager over D-Bus and its fallback, notifications with their
// "show" action and the notify-send fallback, the quit question, and Qt's
// own texts in Japanese. D-Bus services are fakes on a private bus.
#include "DesktopNotifier.h"
#include "FakeDesktop.h"
#include "JapaneseQtTexts.h"
#include "PrivateBus.h"
#include "QuitQuestion.h"
#include "ScopedEnvironment.h"
#include "ShowInFileManager.h"
#include "StdoutCapture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>

using Paths = std::vector<std::string>;
Q_DECLARE_METATYPE(Paths)

namespace {

const std::string kArchive = "/data/out 資/a#b/archive.zip";

// A connection to nothing, for the cases without a session bus.
QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("no bus"));
}

} // namespace

class TestDesktopServices : public QObject {
    Q_OBJECT
    PrivateBus m_bus;

private slots:
    void initTestCase() { QVERIFY2(m_bus.isRunning(), "dbus-daemon did not start"); }

    void showItemSelectsTheArchiveOrOpensItsFolder_data()
    {
        QTest::addColumn<QString>("desktop"); // "file manager", "nothing" or "no bus"
        QTest::addColumn<bool>("selected");
        QTest::addColumn<Paths>("openedFolders");
        QTest::newRow("file manager answers") << "file manager" << true << Paths();
        QTest::newRow("no file manager on the bus") << "nothing" << false << Paths{"/data/out 資/a#b"};
        QTest::newRow("no session bus") << "no bus" << false << Paths{"/data/out 資/a#b"};
    }
    void showItemSelectsTheArchiveOrOpensItsFolder()
    {
        QFETCH(QString, desktop);
        QFETCH(bool, selected);
        QFETCH(Paths, openedFolders);
        FakeFileManager fileManager;
        if (desktop == "file manager")
            QVERIFY(fileManager.registerOn(m_bus.connect(QStringLiteral("service"))));
        Paths opened;
        ShowInFileManager shower(desktop == "no bus" ? noBus() : m_bus.connect(QStringLiteral("client")),
                                 [&opened](const std::string& folder) { opened.push_back(folder); return true; });
        QSignalSpy shown(&shower, &ShowInFileManager::shown);
        std::size_t lines = 0;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            shower.showItem(kArchive);
            (void)QTest::qWaitFor([&shown] { return !shown.isEmpty(); }, 5000);
            lines = log.lines().size();
        }
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().toBool(), selected);
        QCOMPARE(opened, openedFolders);
        const QList<QStringList> asked = selected ? QList<QStringList>{{"file:///data/out%20%E8%B3%87/a%23b/archive.zip"}}
                                                  : QList<QStringList>();
        QCOMPARE(fileManager.shown, asked);
        QCOMPARE(lines, size_t(selected ? 0 : 1));
        QDBusConnection(QStringLiteral("service")).unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    }

    void notificationsOfferShowWhereTheServerHasActions_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("body");
        const QStringList show{"default", "表示", "show", "表示"};
        QTest::newRow("actions") << QStringList{"actions", "body"} << show << "保存先: /data/<a&b>";
        QTest::newRow("no actions") << QStringList{"body"} << QStringList() << "保存先: /data/<a&b>";
        QTest::newRow("markup is escaped") << QStringList{"actions", "body-markup"} << show
                                           << "保存先: /data/&lt;a&amp;b&gt;";
    }
    void notificationsOfferShowWhereTheServerHasActions()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QStringList, actions);
        QFETCH(QString, body);
        FakeNotificationServer server(capabilities);
        QVERIFY(server.registerOn(m_bus.connect(QStringLiteral("service"))));
        DesktopNotifier notifier(m_bus.connect(QStringLiteral("client")));
        QSignalSpy handed(&notifier, &DesktopNotifier::handed);
        int shown = 0;
        notifier.notify({QStringLiteral("archive.zip を作成しました"), QStringLiteral("保存先: /data/<a&b>"),
                         QStringLiteral("表示"), [&shown] { ++shown; }});
        QVERIFY(handed.wait(5000));
        QCOMPARE(handed.first().first().toString(), QStringLiteral("server"));
        QCOMPARE(server.received.size(), 1);
        QCOMPARE(server.received[0].summary, QStringLiteral("archive.zip を作成しました"));
        QCOMPARE(server.received[0].body, body);
        QCOMPARE(server.received[0].actions, actions);
        server.chooseAction(QStringLiteral("show"));
        QTRY_COMPARE(shown, actions.isEmpty() ? 0 : 1);
        QDBusConnection(QStringLiteral("service")).unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    }

    void withoutServerNotifySendOrALogLineTellsTheUser_data()
    {
        QTest::addColumn<bool>("notifySend"); // the stand-in is on $PATH
        QTest::addColumn<QString>("how");
        QTest::addColumn<Paths>("lines");
        QTest::newRow("notify-send") << true << "notify-send"
            << Paths{"--app-name=Quillmere", "--icon=quillmere", "--", "-作成しました", "保存先: /data"};
        QTest::newRow("nothing") << false << "none"
            << Paths{"no desktop notification could be shown: -作成しました 保存先: /data"};
    }
    void withoutServerNotifySendOrALogLineTellsTheUser()
    {
        QFETCH(bool, notifySend);
        QFETCH(QString, how);
        QFETCH(Paths, lines);
        const QString fakes = QFileInfo(QFINDTESTDATA("fakes/notify-send")).absolutePath();
        ScopedEnvironment path("PATH", QFile::encodeName(notifySend ? fakes : QStringLiteral("/nonexistent")));
        DesktopNotifier notifier(m_bus.connect(QStringLiteral("client")));
        QSignalSpy handed(&notifier, &DesktopNotifier::handed);
        Paths written;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            // The text can never be taken for an option: it comes after "--".
            notifier.notify({QStringLiteral("-作成しました"), QStringLiteral("保存先: /data"), QString(), {}});
            (void)QTest::qWaitFor([&] { return !handed.isEmpty() && log.lines().size() >= lines.size(); }, 5000);
            written = log.lines();
        }
        QCOMPARE(handed.size(), 1);
        QCOMPARE(handed.first().first().toString(), how);
        QCOMPARE(written, lines);
    }

    void quitQuestionAnswersWithTheButtonChosen_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("quit");
        QTest::newRow("quit") << "終了する" << true;
        QTest::newRow("keep going") << "作成を続ける" << false;
        QTest::newRow("Escape") << "Escape" << false;
    }
    void quitQuestionAnswersWithTheButtonChosen()
    {
        QFETCH(QString, button);
        QFETCH(bool, quit);
        QTimer::singleShot(0, this, [button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (button == "Escape")
                return QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton* candidate : box->buttons())
                if (candidate->text() == button)
                    candidate->click();
        });
        QCOMPARE(QuitQuestion::ask(nullptr), quit);
    }

    void qtOwnTextsAreJapanese()
    {
        QTranslator translator;
        QVERIFY(JapaneseQtTexts::install(*QCoreApplication::instance(), translator));
        const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(cancel, QStringLiteral("キャンセル"));
    }
};

QTEST_MAIN(TestDesktopServices)
#include "tst_DesktopServices.moc"
