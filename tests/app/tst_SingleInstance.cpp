// One instance per work folder: a later start hands its paths, byte for byte
// and in order, to the running one over a socket in a private folder with a
// short path, chosen and checked here; it waits for an instance that is
// still starting; a socket left by a crashed instance is replaced; malformed
// messages are refused. (Long home paths, and a start that cannot reach the
// instance, are tested with the real program.)
#include "SingleInstance.h"
#include "StdoutCapture.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using Paths = std::vector<std::string>;
using Folders = std::vector<std::string>;
using Role = SingleInstance::Role;
namespace fs = std::filesystem;

namespace {

// A later start, in a thread of its own as another process would be, while
// this thread's event loop serves the running instance.
Role startElsewhere(const std::string& workFolder, const Folders& channels, const Paths& paths)
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

// A socket file with nobody listening, as a crashed instance leaves it.
void leaveDeadSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
}

// The lock an instance holds, taken by the test itself: an instance that is
// starting or cannot listen. Released when it goes.
struct HeldLock {
    explicit HeldLock(const std::string& workFolder)
    {
        fs::create_directories(workFolder);
        fd = ::open((workFolder + "/instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ::flock(fd, LOCK_EX);
    }
    ~HeldLock() { ::close(fd); }
    int fd = -1;
};

// Puts what the row names where a private folder goes below parent;
// returns the folder's path, empty when the entry cannot be made.
std::string placeEntry(const QString& entry, const std::string& parent, const std::string& elsewhere)
{
    const std::string channel = parent + "/quillmere";
    if (entry == "open folder") {
        fs::create_directory(channel);
        fs::permissions(channel, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    } else if (entry == "link") {
        fs::create_directory_symlink(elsewhere, channel);
    } else if (entry == "file") {
        std::ofstream(channel) << "";
    } else if (entry == "foreign folder") {
        fs::create_directory(channel);
        if (::geteuid() != 0 || ::chown(channel.c_str(), 65534, 65534) != 0)
            return {};
    } else if (entry == "long path") {
        const std::string longChannel = parent + "/" + std::string(100, 'r');
        fs::create_directory(longChannel);
        return longChannel;
    }
    return channel;
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

    // The socket path an instance for work chooses: claimed and given up.
    std::string socketPathFor(const std::string& work) const
    {
        SingleInstance probe(work, m_channels);
        probe.claim({});
        return probe.socketPath();
    }

private slots:
    void initTestCase() { QVERIFY(fs::create_directory(base("run"))); }

    void laterStartsHandTheirPathsToTheRunningInstance()
    {
        const std::string socket = socketPathFor(m_work);
        leaveDeadSocket(socket);

        SingleInstance running(m_work, m_channels);
        QCOMPARE(running.claim({}), Role::Primary);
        QCOMPARE(running.socketPath(), socket);
        QSignalSpy received(&running, &SingleInstance::filesReceived);
        QSignalSpy front(&running, &SingleInstance::activationRequested);
        const Paths first{"/data/b.txt", "/data/a b.txt", "/データ/資料.txt"};
        const Paths second{"/data/\x82\xa0\xff.bin", std::string(4000, 'x')};
        QCOMPARE(startElsewhere(m_work, m_channels, first), Role::HandedOver);
        QCOMPARE(startElsewhere(m_work, m_channels, second), Role::HandedOver);
        // A start without paths only brings the window forward.
        QCOMPARE(startElsewhere(m_work, m_channels, {}), Role::HandedOver);
        QTRY_COMPARE(front.count(), 1);
        QCOMPARE(received.count(), 2);
        QCOMPARE(received.at(0).at(0).value<Paths>(), first);
        QCOMPARE(received.at(1).at(0).value<Paths>(), second);
    }

    // Each work folder has its own instance, even in one channel folder.
    void anotherWorkFolderHasAnInstanceOfItsOwn()
    {
        const std::string otherWork = base("other-home-quillmere");
        SingleInstance running(m_work, m_channels);
        QCOMPARE(running.claim({}), Role::Primary);
        SingleInstance other(otherWork, m_channels);
        QCOMPARE(other.claim({}), Role::Primary);
        QVERIFY(other.socketPath() != running.socketPath());
    }

    void channelGoesToTheFirstUsableFolder_data()
    {
        QTest::addColumn<QString>("runtimeEntry");
        QTest::addColumn<int>("chosen");
        // (the runtime entry is what stands at run/quillmere beforehand)
        QTest::newRow("nothing yet") << "none" << 0;
        QTest::newRow("a folder open to others") << "open folder" << 0;
        QTest::newRow("a symbolic link to a folder") << "link" << 1;
        QTest::newRow("a file") << "file" << 1;
        QTest::newRow("a folder of another user") << "foreign folder" << 1;
        QTest::newRow("a path too long for a socket address") << "long path" << 1;
    }
    void channelGoesToTheFirstUsableFolder()
    {
        QFETCH(QString, runtimeEntry);
        QFETCH(int, chosen);
        const QTemporaryDir runtime;
        const std::string elsewhere = base("elsewhere");
        fs::create_directories(elsewhere);
        const std::string channel
            = placeEntry(runtimeEntry, QFile::encodeName(runtime.path()).toStdString(), elsewhere);
        if (channel.empty())
            QSKIP("only root can make a folder for another user");
        const Folders channels{channel, base("fallback")};

        StdoutCapture log;
        SingleInstance running(m_work, channels);
        QCOMPARE(running.claim({}), Role::Primary);
        QCOMPARE(fs::path(running.socketPath()).parent_path().string(), channels.at(chosen));
        QCOMPARE(fs::status(channels.at(chosen)).permissions(), fs::perms::owner_all);
        // A folder passed over is named in one line.
        QCOMPARE(log.lines().size(), size_t(chosen));
        // Nothing was put where the link led.
        QVERIFY(fs::is_empty(elsewhere));
    }

    void aStartWaitsForAnInstanceThatIsStillStarting()
    {
        const std::string socket = socketPathFor(m_work);
        const HeldLock starting(m_work);
        // The instance listens only a while after the later start began.
        QLocalServer server;
        QTimer::singleShot(500, &server, [&] { server.listen(QFile::decodeName(socket.c_str())); });
        connect(&server, &QLocalServer::newConnection, &server, [&] {
            QLocalSocket* peer = server.nextPendingConnection();
            connect(peer, &QLocalSocket::readyRead, peer, [peer] { peer->write("\x01", 1); });
        });
        QCOMPARE(startElsewhere(m_work, m_channels, {"/data/a.txt"}), Role::HandedOver);
    }

    // The work folder is checked as the channel folders are: another user
    // could read what is staged there, or hold the lock.
    void aWorkFolderThatIsALinkIsRefused()
    {
        const QTemporaryDir home;
        const std::string elsewhere = base("elsewhere-work");
        fs::create_directories(elsewhere);
        const std::string work = placeEntry("link", QFile::encodeName(home.path()).toStdString(), elsewhere);
        const StdoutCapture log;
        QCOMPARE(SingleInstance(work, m_channels).claim({}), Role::Alone);
        // Refusing the folder is the one line written.
        QCOMPARE(log.lines().size(), size_t(1));
        QVERIFY(fs::is_empty(elsewhere));
    }

    void withoutAPrivateChannelFolderTheInstanceStillHoldsTheLock()
    {
        const StdoutCapture log;
        SingleInstance running(m_work, {"/dev/null/quillmere"});
        QCOMPARE(running.claim({}), Role::Primary);
        QCOMPARE(running.socketPath(), std::string());
        const int fd = ::open((m_work + "/instance.lock").c_str(), O_RDWR | O_CLOEXEC);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), -1);
        ::close(fd);
    }

    // A start ended by a signal while it waits stops waiting.
    void aWaitingStartStopsWhenToldTo()
    {
        const HeldLock unreachable(m_work);
        StdoutCapture log;
        QCOMPARE(SingleInstance(m_work, m_channels).claim({"/data/a.txt"}, [] { return true; }), Role::Failed);
        QCOMPARE(log.text(), "stopped waiting for the running Quillmere: " + m_work + "\n");
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
