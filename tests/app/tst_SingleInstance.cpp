// One instance per user: a later start hands its paths, byte for byte and in
// order, to the running one over a private socket; a socket left by a crashed
// instance is replaced; malformed messages are refused.
#include "LogCapture.h"
#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

using Paths = std::vector<std::string>;

std::string bytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

mode_t modeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

// Leaves a socket file that nobody listens on, as a crashed instance would.
bool leaveStaleSocket(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

QByteArray number(quint32 value)
{
    char buffer[4];
    qToBigEndian(value, buffer);
    return QByteArray(buffer, 4);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void laterStartsHandTheirPathsOverInOrder();
    void startWithoutPathsAsksForTheFront();
    void folderAndSocketArePrivate();
    void staleSocketOfACrashedInstanceIsReplaced();
    void nextStartTakesOverOnceTheInstanceHasEnded();
    void unusableFolderRunsAlone();
    void malformedMessagesAreRefused_data();
    void malformedMessagesAreRefused();

private:
    // Runs a later start in a thread of its own, as another process would,
    // while this thread serves the running instance.
    void startElsewhere(const Paths& paths, SingleInstance::Role& role);

    std::unique_ptr<QTemporaryDir> m_base;
    std::string m_folder;
};

void TestSingleInstance::initTestCase()
{
    qRegisterMetaType<std::vector<std::string>>();
}

void TestSingleInstance::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    QVERIFY(m_base->isValid());
    m_folder = bytes(m_base->filePath(QStringLiteral(".quillmere")));
}

void TestSingleInstance::startElsewhere(const Paths& paths, SingleInstance::Role& role)
{
    const std::string folder = m_folder;
    std::unique_ptr<QThread> thread(QThread::create([folder, paths, &role] {
        SingleInstance later(folder);
        role = later.claim(paths);
    }));
    QSignalSpy finished(thread.get(), &QThread::finished);
    thread->start();
    QVERIFY(finished.wait(15000));
    thread->wait();
}

void TestSingleInstance::laterStartsHandTheirPathsOverInOrder()
{
    SingleInstance running(m_folder);
    QCOMPARE(running.claim({}), SingleInstance::Role::Primary);
    QSignalSpy received(&running, &SingleInstance::filesReceived);

    const Paths first{"/data/b.txt", "/data/a b.txt", "/データ/資料.txt"};
    const Paths second{"/data/\x82\xa0\xff.bin", std::string(4000, 'x')};
    SingleInstance::Role role{};
    startElsewhere(first, role);
    QCOMPARE(role, SingleInstance::Role::HandedOver);
    startElsewhere(second, role);
    QCOMPARE(role, SingleInstance::Role::HandedOver);

    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.at(0).at(0).value<Paths>(), first);
    QCOMPARE(received.at(1).at(0).value<Paths>(), second);
}

void TestSingleInstance::startWithoutPathsAsksForTheFront()
{
    SingleInstance running(m_folder);
    QCOMPARE(running.claim({}), SingleInstance::Role::Primary);
    QSignalSpy received(&running, &SingleInstance::filesReceived);
    QSignalSpy front(&running, &SingleInstance::activationRequested);
    SingleInstance::Role role{};
    startElsewhere({}, role);
    QCOMPARE(role, SingleInstance::Role::HandedOver);
    QTRY_COMPARE(front.count(), 1);
    QCOMPARE(received.count(), 0);
}

void TestSingleInstance::folderAndSocketArePrivate()
{
    QVERIFY(!QFile::exists(QFile::decodeName(QByteArray::fromStdString(m_folder))));
    SingleInstance running(m_folder);
    QCOMPARE(running.claim({}), SingleInstance::Role::Primary);
    QCOMPARE(modeOf(m_folder), mode_t(0700));
    QCOMPARE(running.socketPath(), m_folder + "/instance.sock");
    QCOMPARE(modeOf(running.socketPath()) & 077, mode_t(0));
}

void TestSingleInstance::staleSocketOfACrashedInstanceIsReplaced()
{
    QVERIFY(QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(m_folder))));
    SingleInstance running(m_folder);
    QVERIFY(leaveStaleSocket(running.socketPath()));
    QCOMPARE(running.claim({}), SingleInstance::Role::Primary);

    QSignalSpy received(&running, &SingleInstance::filesReceived);
    SingleInstance::Role role{};
    startElsewhere({"/data/a.txt"}, role);
    QCOMPARE(role, SingleInstance::Role::HandedOver);
    QTRY_COMPARE(received.count(), 1);
}

void TestSingleInstance::nextStartTakesOverOnceTheInstanceHasEnded()
{
    auto running = std::make_unique<SingleInstance>(m_folder);
    QCOMPARE(running->claim({}), SingleInstance::Role::Primary);
    const std::string socket = running->socketPath();
    running.reset();
    QVERIFY(!QFile::exists(QFile::decodeName(QByteArray::fromStdString(socket))));

    SingleInstance next(m_folder);
    QCOMPARE(next.claim({"/data/a.txt"}), SingleInstance::Role::Primary);
}

void TestSingleInstance::unusableFolderRunsAlone()
{
    QFile blocker(m_base->filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SingleInstance instance(bytes(blocker.fileName()) + "/.quillmere");
    LogCapture log;
    QCOMPARE(instance.claim({"/data/a.txt"}), SingleInstance::Role::Alone);
    const QByteArray written = log.take();
    QVERIFY2(written.startsWith("single instance unavailable") && written.endsWith("\n")
                 && written.count('\n') == 1,
             written.constData());
}

void TestSingleInstance::malformedMessagesAreRefused_data()
{
    const QByteArray header = QByteArrayLiteral("QMR1");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("wrong greeting") << QByteArray("HELO") + number(1) + number(3) + "abc";
    QTest::newRow("empty path") << header + number(1) + number(0);
    QTest::newRow("path longer than Linux allows") << header + number(1) + number(5000) + QByteArray(5000, 'x');
    QTest::newRow("bytes after the last path") << header + number(1) + number(3) + "abc" + "junk";
}

void TestSingleInstance::malformedMessagesAreRefused()
{
    QFETCH(QByteArray, message);
    SingleInstance running(m_folder);
    QCOMPARE(running.claim({}), SingleInstance::Role::Primary);
    QSignalSpy received(&running, &SingleInstance::filesReceived);
    QSignalSpy front(&running, &SingleInstance::activationRequested);

    LogCapture log;
    QLocalSocket peer;
    peer.connectToServer(QFile::decodeName(QByteArray::fromStdString(running.socketPath())));
    QVERIFY(peer.waitForConnected(5000));
    QSignalSpy closed(&peer, &QLocalSocket::disconnected);
    peer.write(message);
    QVERIFY(closed.wait(5000));
    QCOMPARE(peer.bytesAvailable(), qint64(0));
    QCOMPARE(log.take(), QByteArray::fromStdString("ignored a malformed message on " + running.socketPath() + "\n"));
    QCOMPARE(received.count() + front.count(), 0);

    // The instance still serves well-formed starts.
    SingleInstance::Role role{};
    startElsewhere({"/data/a.txt"}, role);
    QCOMPARE(role, SingleInstance::Role::HandedOver);
    QTRY_COMPARE(received.count(), 1);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
