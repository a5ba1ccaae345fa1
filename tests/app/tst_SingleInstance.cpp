// One instance per user: a later start hands its paths, byte for byte and in
// order, to the running one over a private socket; a socket left by a crashed
// instance is replaced; malformed messages are refused.
#include "SingleInstance.h"
#include "StdoutCapture.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using Paths = std::vector<std::string>;
using Role = SingleInstance::Role;
namespace fs = std::filesystem;

namespace {

// A later start, in a thread of its own as another process would be, while
// this thread's event loop serves the running instance.
Role startElsewhere(const std::string& folder, const Paths& paths)
{
    Role role = Role::Alone;
    std::unique_ptr<QThread> thread(QThread::create([&] { role = SingleInstance(folder).claim(paths); }));
    QSignalSpy finished(thread.get(), &QThread::finished);
    thread->start();
    finished.wait(15000);
    thread->wait();
    return role;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir m_base;
    // Made by the first claim; each instance ends before the next test.
    const std::string m_folder = QFile::encodeName(m_base.filePath(QStringLiteral(".quillmere"))).toStdString();

private slots:
    void laterStartsHandTheirPathsToTheRunningInstance()
    {
        {
            SingleInstance ended(m_folder);
            QCOMPARE(ended.claim({}), Role::Primary);
            QVERIFY(fs::status(m_folder).permissions() == fs::perms::owner_all);
            QVERIFY((fs::status(ended.socketPath()).permissions() & (fs::perms::group_all | fs::perms::others_all))
                    == fs::perms::none);
        }
        // A crashed instance leaves its socket file, with nobody listening.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{AF_UNIX, {}};
        (m_folder + "/instance.sock").copy(address.sun_path, sizeof address.sun_path - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);

        SingleInstance running(m_folder);
        QCOMPARE(running.claim({}), Role::Primary);
        QSignalSpy received(&running, &SingleInstance::filesReceived);
        QSignalSpy front(&running, &SingleInstance::activationRequested);
        const Paths first{"/data/b.txt", "/data/a b.txt", "/データ/資料.txt"};
        const Paths second{"/data/\x82\xa0\xff.bin", std::string(4000, 'x')};
        QCOMPARE(startElsewhere(m_folder, first), Role::HandedOver);
        QCOMPARE(startElsewhere(m_folder, second), Role::HandedOver);
        // A start without paths only brings the window forward.
        QCOMPARE(startElsewhere(m_folder, {}), Role::HandedOver);
        QTRY_COMPARE(front.count(), 1);
        QCOMPARE(received.count(), 2);
        QCOMPARE(received.at(0).at(0).value<Paths>(), first);
        QCOMPARE(received.at(1).at(0).value<Paths>(), second);
    }

    void unusableFolderRunsAloneWithALogLine()
    {
        StdoutCapture log;
        // No folder can be made below a file.
        QCOMPARE(SingleInstance("/dev/null/.quillmere").claim({"/data/a.txt"}), Role::Alone);
        QVERIFY2(log.lines().size() == 1 && log.text().starts_with("single instance unavailable"), log.text().c_str());
    }

    // Counts and lengths are 32-bit big-endian numbers.
    void malformedMessagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("wrong greeting") << QByteArrayLiteral("HELO\0\0\0\1\0\0\0\3abc");
        QTest::newRow("path longer than Linux allows")
            << QByteArrayLiteral("QMR1\0\0\0\1\0\0\x13\x88") + QByteArray(5000, 'x');
        QTest::newRow("bytes after the last path") << QByteArrayLiteral("QMR1\0\0\0\1\0\0\0\3abcjunk");
    }
    void malformedMessagesAreRefused()
    {
        QFETCH(QByteArray, message);
        SingleInstance running(m_folder);
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
        QCOMPARE(startElsewhere(m_folder, {"/data/a.txt"}), Role::HandedOver);
        QCOMPARE(received.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
