// The desktop services the window uses: the folder address handed to the
// file manager, and notifications without a system tray.
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "LogCapture.h"

#include <QDir>
#include <QFile>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class TestDesktopServices : public QObject {
    Q_OBJECT
private slots:
    void folderAddressKeepsTheBytes_data();
    void folderAddressKeepsTheBytes();
    void withoutTrayNotifySendIsUsed();
    void withoutAnyWayTheNotificationIsLogged();
};

void TestDesktopServices::folderAddressKeepsTheBytes_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::newRow("plain") << QByteArray("/home/user/out");
    QTest::newRow("space and hash") << QByteArray("/home/user/a b#c");
    QTest::newRow("Japanese") << QByteArray("/home/user/保存先");
    QTest::newRow("not UTF-8") << QByteArray("/home/user/\x82\xa0\xff");
}

void TestDesktopServices::folderAddressKeepsTheBytes()
{
    QFETCH(QByteArray, folder);
    const QUrl url = DesktopFolderOpener::urlFor(folder.toStdString());
    QVERIFY(url.isValid());
    QVERIFY(url.isLocalFile());
    QCOMPARE(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()), folder);
}

void TestDesktopServices::withoutTrayNotifySendIsUsed()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    // A stand-in notify-send that writes its arguments, one per line.
    QTemporaryDir bin;
    const QString record = bin.filePath(QStringLiteral("arguments"));
    QFile script(bin.filePath(QStringLiteral("notify-send")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > " + QFile::encodeName(record) + ".part\n/bin/mv "
                 + QFile::encodeName(record) + ".part " + QFile::encodeName(record) + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));

    DesktopNotifier notifier(QIcon{});
    notifier.notify(QStringLiteral("Quillmere"), QStringLiteral("-作成しました: archive.zip"));
    qputenv("PATH", savedPath);

    QTRY_VERIFY(QFile::exists(record));
    QFile written(record);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QStringList arguments = QString::fromUtf8(written.readAll()).split('\n', Qt::SkipEmptyParts);
    // The text can never be taken for an option: it comes after "--".
    QCOMPARE(arguments.mid(arguments.indexOf(QStringLiteral("--"))),
             QStringList({"--", "Quillmere", "-作成しました: archive.zip"}));
}

void TestDesktopServices::withoutAnyWayTheNotificationIsLogged()
{
    QTemporaryDir empty;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(empty.path()));
    LogCapture log;
    DesktopNotifier notifier(QIcon{});
    notifier.notify(QStringLiteral("Quillmere"), QStringLiteral("作成しました: archive.zip"));
    const QByteArray written = log.take();
    qputenv("PATH", savedPath);
    QCOMPARE(written, QByteArray("no desktop notification could be shown: 作成しました: archive.zip\n"));
}

QTEST_MAIN(TestDesktopServices)
#include "tst_DesktopServices.moc"
