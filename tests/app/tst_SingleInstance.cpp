// The single-instance channel: its socket goes into a private folder, never
// through a link or into a folder of another user, and a malformed message
// is refused without breaking the channel. (Handing paths over is tested with
// the real program.)
#include "SingleInstance.h"
#include "StdoutCapture.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <filesystem>
#include <unistd.h>

using Folders = std::vector<std::string>;
using Role = SingleInstance::Role;
namespace fs = std::filesystem;

namespace {

// A later start, in a thread of its own as another process would be, while
// this thread's event loop serves the running instance.
Role startElsewhere(const std::string& workFolder, const Folders& channels, const std::vector<std::string>& paths)
{
    Role role = Role::Alone;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { role = SingleInstance(workFolder, channels).claim(paths); }));
    QSignalSpy finished(thread.get(), &QThread::finished);
    thread->start();
    finished.wait(30000);
    thread->wait();
    return role;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir m_base;

    std::string base(const std::string& name) const
    {
        return QFile::encodeName(m_base.filePath(QString::fromStdString(name))).toStdString();
    }
    // Each test's instances end before the next test.
    const std::string m_work = base(".quillmere");
    const Folders m_channels{base("run/quillmere"), base("fallback")};

private slots:
    void initTestCase() { QVERIFY(fs::create_directory(base("run"))); }

    // What stands where the first channel folder goes makes it unusable:
    // the socket goes to the next folder, and one line names the refused one.
    void anUnsafeChannelFolderIsPassedOver_data()
    {
        QTest::addColumn<bool>("isLink"); // else a folder of another user
        QTest::newRow("a symbolic link to a folder") << true;
        QTest::newRow("a folder of another user") << false;
    }
    void anUnsafeChannelFolderIsPassedOver()
    {
        QFETCH(bool, isLink);
        const QTemporaryDir runtime;
        const std::string channel = QFile::encodeName(runtime.path()).toStdString() + "/quillmere";
        const std::string elsewhere = base("elsewhere");
        fs::create_directories(elsewhere);
        if (isLink) {
            fs::create_directory_symlink(elsewhere, channel);
        } else {
            fs::create_directory(channel);
            if (::geteuid() != 0 || ::chown(channel.c_str(), 65534, 65534) != 0)
                QSKIP("only root can make a folder for another user");
        }
        const Folders channels{channel, base("fallback")};

        const StdoutCapture log;
        SingleInstance running(m_work, channels);
        QCOMPARE(running.claim({}), Role::Primary);
        QCOMPARE(fs::path(running.socketPath()).parent_path().string(), base("fallback"));
        QCOMPARE(fs::status(base("fallback")).permissions(), fs::perms::owner_all);
        QCOMPARE(log.lines().size(), size_t(1));
        // Nothing was put where the link led.
        QVERIFY(fs::is_empty(elsewhere));
    }

    // Counts and lengths are 32-bit big-endian numbers.
    void malformedMessagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("wrong greeting") << QByteArrayLiteral("HELO\0\0\0\1\0\0\0\3abc");
        QTest::newRow("path longer than Linux allows")
            << QByteArrayLiteral("QMR1\0\0\0\1\0\0\x13\x88") + QByteArray(5000, 'x');
    }
    void malformedMessagesAreRefused()
    {
        QFETCH(QByteArray, message);
        SingleInstance running(m_work, m_channels);
        QCOMPARE(running.claim({}), Role::Primary);
        QSignalSpy received(&running, &SingleInstance::filesReceived);
        StdoutCapture log;
        QLocalSocket peer;
        peer.connectToServer(QFile::decodeName(QByteArray::fromStdString(running.socketPath())));
        QVERIFY(peer.waitForConnected(5000));
        QSignalSpy closed(&peer, &QLocalSocket::disconnected);
        peer.write(message);
        QVERIFY(closed.wait(5000));
        // No confirmation: the sender must not take the message for delivered.
        QCOMPARE(peer.bytesAvailable(), qint64(0));
        QCOMPARE(log.text(), "ignored a malformed message on " + running.socketPath() + "\n");
        // The instance still serves well-formed starts.
        QCOMPARE(startElsewhere(m_work, m_channels, {"/data/a.txt"}), Role::HandedOver);
        QCOMPARE(received.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
