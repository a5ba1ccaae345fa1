// The desktop services the window is given by main, where the desktop offers
// no D-Bus services: the archive's folder is opened instead of the file
// manager selecting it (and where that fails, the user is told, in the
// window), and notifications go through notify-send; and
// notifications where a notification service runs on the bus. The
// destination chooser starts where the items are.
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "NotificationService.h"
#include "PrivateBus.h"
#include "ProblemBox.h"
#include "ScopedEnvironment.h"
#include "ShowInFileManager.h"
#include "StdoutCapture.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using Paths = std::vector<std::string>;

namespace {

// A named connection to a test's bus, closed with the object: each test
// row has a bus of its own.
struct Connection {
    Connection(const QString& address, const QString& role)
        : name(role + " " + QTest::currentDataTag())
        , bus(QDBusConnection::connectToBus(address, name))
    {
    }
    ~Connection() { QDBusConnection::disconnectFromBus(name); }
    QString name;
    QDBusConnection bus;
};

// A connection to nothing, as without a session bus.
QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("no bus"));
}

} // namespace

class TestDesktopServices : public QObject {
    Q_OBJECT

private slots:
    void showItemFallsBackToOpeningItsFolder_data()
    {
        QTest::addColumn<bool>("opens"); // whether the folder opens
        QTest::newRow("the folder opens") << true;
        QTest::newRow("nothing opens it") << false;
    }
    // Without a file manager on the bus the folder is opened instead; where
    // that fails too, a box over the window says so and gives the folder to
    // open by hand, and closing it puts the focus back on the button.
    void showItemFallsBackToOpeningItsFolder()
    {
        QFETCH(bool, opens);
        QWidget window;
        auto* button = new QPushButton(QStringLiteral("ファイルマネージャで表示"), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        button->setFocus();
        Paths opened;
        ShowInFileManager shower(
            noBus(),
            [&opened, opens](const std::string& folder, const std::function<void(bool)>& done) {
                opened.push_back(folder);
                QTimer::singleShot(0, [done, opens] { done(opens); });
            },
            [&window](const QString& sentence, const QString& advice) {
                ProblemBox::showOver(&window, sentence, advice);
            });
        QSignalSpy shown(&shower, &ShowInFileManager::shown);
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            shower.showItem("/data/out 資/archive.zip");
            (void)QTest::qWaitFor([&shown] { return !shown.isEmpty(); }, 5000);
        }
        QCOMPARE(opened, Paths{"/data/out 資"});
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).at(1).toBool(), opens);
        const QPointer<QMessageBox> box = window.findChild<QMessageBox*>(QStringLiteral("problemBox"));
        QCOMPARE(!box, opens);
        if (opens)
            return;
        QVERIFY(QTest::qWaitForWindowActive(box));
        QCOMPARE(box->text(), QStringLiteral("アーカイブをファイルマネージャで表示できませんでした。"));
        QCOMPARE(box->accessibleName(), box->text());
        QVERIFY(box->informativeText().split(u'\n').contains(QStringLiteral("/data/out 資")));
        QTRY_VERIFY(box->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!box);
        QTRY_COMPARE(QApplication::focusWidget(), button);
    }

    void openingTheFolderTakesTheLaunchersAnswer_data()
    {
        QTest::addColumn<QString>("launcher"); // the stand-in xdg-open's script; none on PATH if empty
        QTest::addColumn<bool>("opens");
        QTest::newRow("it opens the folder") << QStringLiteral("exit 0") << true;
        QTest::newRow("it finds no way to open it")
            << QStringLiteral("echo 'xdg-open: no method available' >&2\nexit 3") << false;
        QTest::newRow("it stays with the file manager")
            << QStringLiteral("while [ ! -e \"$here/closed\" ]; do /bin/sleep 0.05; done\n: > \"$here/ended\"")
            << true;
        QTest::newRow("there is no launcher") << QString() << false;
    }
    // The launcher's own end decides whether the folder opened: a launcher
    // that starts and then fails says so in the window and in the log line,
    // as a missing one does. It is handed the folder's URL, built from its
    // bytes.
    void openingTheFolderTakesTheLaunchersAnswer()
    {
        QFETCH(QString, launcher);
        QFETCH(bool, opens);
        QTemporaryDir bin;
        const QString here = bin.path();
        if (!launcher.isEmpty()) {
            QFile script(bin.filePath("xdg-open"));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\nhere='%1'\nprintf '%s\\n' \"$1\" > \"$here/called\"\n%2\n")
                             .arg(here, launcher)
                             .toUtf8());
            script.close();
            QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto path = scopedEnvironment("PATH", QFile::encodeName(here));
        const bool staying = launcher.contains(QStringLiteral("closed"));
        QStringList told;
        ShowInFileManager shower(
            noBus(),
            [staying](const std::string& folder, const std::function<void(bool)>& done) {
                if (staying)
                    DesktopFolderOpener::openFolderWithin(folder, 200, done);
                else
                    DesktopFolderOpener::openFolder(folder, done);
            },
            [&told](const QString& sentence, const QString& advice) { told << sentence << advice; });
        QSignalSpy shown(&shower, &ShowInFileManager::shown);
        Paths written;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            shower.showItem("/data/out 資/archive.zip");
            (void)QTest::qWaitFor([&shown] { return !shown.isEmpty(); }, 10000);
            written = log.lines();
        }
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).at(1).toBool(), opens);
        QCOMPARE(told.isEmpty(), opens);
        const bool logged = std::count(written.begin(), written.end(), "could not open the folder: /data/out 資") == 1;
        QCOMPARE(logged, !opens);
        if (launcher.isEmpty())
            return;
        QFile called(bin.filePath("called"));
        QVERIFY(called.open(QIODevice::ReadOnly));
        QCOMPARE(called.readAll(), QByteArray("file:///data/out%20%E8%B3%87\n"));
        if (!staying)
            return;
        // The file manager closes, and the launcher with it.
        QFile(bin.filePath("closed")).open(QIODevice::WriteOnly);
        QTRY_VERIFY(QFile::exists(bin.filePath("ended")));
    }

    void notificationIsHandedToNotifySend()
    {
        // The stand-in prints its arguments, one a line.
        const QString fakes = QFileInfo(QFINDTESTDATA("fakes/notify-send")).absolutePath();
        const auto path = scopedEnvironment("PATH", QFile::encodeName(fakes));
        DesktopNotifier notifier(noBus());
        QSignalSpy handed(&notifier, &DesktopNotifier::handed);
        Paths written;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            // The text can never be taken for an option: it comes after "--".
            notifier.notify({QStringLiteral("-作成しました"), QStringLiteral("保存先: /data"), QString(), {}});
            (void)QTest::qWaitFor([&log] { return log.lines().size() >= 5; }, 5000);
            written = log.lines();
        }
        QCOMPARE(handed.size(), 1);
        QCOMPARE(written, (Paths{"--app-name=Quillmere", "--icon=quillmere", "--", "-作成しました", "保存先: /data"}));
    }

    void notificationGoesToTheService_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body"); // as the service gets it
        QTest::addColumn<bool>("withAction");
        QTest::newRow("plain text, no actions") << QStringList{} << QString("保存先: <a&b>") << false;
        QTest::newRow("markup and actions") << QStringList{"body-markup", "actions"}
                                            << QString("保存先: &lt;a&amp;b&gt;") << true;
    }
    // The body is escaped only where the service reads markup; the action
    // is offered only where it shows actions, and runs when it is chosen.
    void notificationGoesToTheService()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QFETCH(bool, withAction);
        QTemporaryDir folder;
        const PrivateBus bus(folder.path());
        QVERIFY2(!bus.address().isEmpty(), "dbus-daemon did not start (scripts/setup installs it)");
        const Connection service(bus.address(), "service");
        NotificationService notices(capabilities);
        QVERIFY(notices.registerOn(service.bus));
        const Connection window(bus.address(), "window");
        int chosen = 0;
        DesktopNotifier notifier(window.bus);
        QSignalSpy handed(&notifier, &DesktopNotifier::handed);
        notifier.notify({QStringLiteral("作成しました"), QStringLiteral("保存先: <a&b>"), QStringLiteral("表示"),
                         [&chosen] { ++chosen; }});
        QTRY_COMPARE(handed.size(), 1);
        QCOMPARE(handed.at(0).at(0).toString(), QString("server"));
        QCOMPARE(notices.received.size(), 1u);
        QCOMPARE(notices.received[0].summary, QString("作成しました"));
        QCOMPARE(notices.received[0].body, body);
        QCOMPARE(notices.received[0].actions.contains("表示"), withAction);
        QDBusMessage choice = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "ActionInvoked");
        choice << uint(1) << QString("show");
        QVERIFY(service.bus.send(choice));
        // A round trip behind the signal: once its answer is in, so is the
        // signal.
        const QDBusPendingCall ping = window.bus.asyncCall(QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
            "GetCapabilities"));
        QTRY_VERIFY(ping.isFinished());
        QCoreApplication::processEvents();
        QCOMPARE(chosen, withAction ? 1 : 0);
    }

    void destinationChooserStartsInTheItemsFolder_data()
    {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("the items' folder") << true;
        QTest::newRow("a folder that is gone: home") << false;
    }
    void destinationChooserStartsInTheItemsFolder()
    {
        QFETCH(bool, folderExists);
        QTemporaryDir items;
        const QString folder = folderExists ? items.filePath(QStringLiteral("資料 1")) : items.filePath("gone");
        if (folderExists)
            QVERIFY(QDir().mkpath(folder));
        QWidget window;
        DialogFolderChooser chooser(&window);
        int answers = 0;
        chooser.chooseFolderIn(QFile::encodeName(folder).toStdString(), [&answers](bool, const std::string&) { ++answers; });
        auto* dialog = window.findChild<QFileDialog*>(QStringLiteral("folderChooser"));
        QVERIFY(dialog);
        QCOMPARE(dialog->directory().absolutePath(), folderExists ? folder : QDir::homePath());
        dialog->reject();
        QCOMPARE(answers, 1);
    }
};

QTEST_MAIN(TestDesktopServices)
#include "tst_DesktopServices.moc"
