// The desktop services the window is given by main, where the desktop offers
// no D-Bus services: the archive's folder is opened instead of the file
// manager selecting it, and notifications go through notify-send. The
// destination chooser starts where the items are.
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "ScopedEnvironment.h"
#include "ShowInFileManager.h"
#include "StdoutCapture.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
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
