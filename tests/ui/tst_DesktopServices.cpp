// The desktop services the window is given by main, where the desktop offers
// no D-Bus services: the archive's folder is opened instead of the file
// manager selecting it, and notifications go through notify-send.
#include "DesktopNotifier.h"
#include "ScopedEnvironment.h"
#include "ShowInFileManager.h"
#include "StdoutCapture.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using Paths = std::vector<std::string>;

namespace {

// A connection to nothing, as without a session bus.
QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("no bus"));
}

} // namespace

class TestDesktopServices : public QObject {
    Q_OBJECT

private slots:
    void showItemFallsBackToOpeningItsFolder()
    {
        Paths opened;
        ShowInFileManager shower(noBus(), [&opened](const std::string& folder) {
            opened.push_back(folder);
            return true;
        });
        QSignalSpy shown(&shower, &ShowInFileManager::shown);
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture log;
            shower.showItem("/data/out 資/archive.zip");
        }
        QCOMPARE(opened, Paths{"/data/out 資"});
        QCOMPARE(shown.size(), 1);
    }

    void notificationIsHandedToNotifySend()
    {
        // The stand-in prints its arguments, one a line.
        const QString fakes = QFileInfo(QFINDTESTDATA("fakes/notify-send")).absolutePath();
        ScopedEnvironment path("PATH", QFile::encodeName(fakes));
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
};

QTEST_MAIN(TestDesktopServices)
#include "tst_DesktopServices.moc"
