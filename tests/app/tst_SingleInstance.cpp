// The single-instance channel: its socket goes into a private folder, never
// through a link or into a folder of another user; whatever someone else put
// at the shared fallback, a later start still reaches the running instance,
// and hands paths to nobody else; a malformed message is refused without
// breaking the channel; a start with a window of its own on another display
// than the running instance's keeps its paths. (Handing paths over between
// two processes is tested with the real program.)
#include "SingleInstance.h"
#include "StdoutCapture.h"
#include "TestFiles.h"
#include "TmpfsMounts.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using Folders = std::vector<std::string>;
using Paths = std::vector<std::string>;
using Role = SingleInstance::Role;
using Shortfall = SingleInstance::Shortfall;
namespace fs = std::filesystem;

namespace {

// A later start, in a thread of its own as another process would be, while
// this thread's event loop serves the running instance.
Role startElsewhere(const std::string& workFolder, const Folders& channels, const Paths& paths,
                    const std::function<bool()>& giveUp = {}, const SessionDisplay& display = {})
{
    Role role = Role::Alone;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { role = SingleInstance(workFolder, channels, display).claim(paths, giveUp); }));
    QSignalSpy finished(thread.get(), &QThread::finished);
    thread->start();
    finished.wait(30000);
    thread->wait();
    return role;
}

// The lines action writes to standard output. Assertions stay outside,
// where their messages are not captured along with them.
template <typename Action>
std::vector<std::string> linesOf(Action&& action)
{
    const StdoutCapture log;
    action();
    return log.lines();
}

std::string bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool skipUnlessRoot()
{
    if (::geteuid() == 0)
        return false;
    QTest::qSkip("only root can act as another user", __FILE__, __LINE__);
    return true;
}

// What someone else may have put where the fallback channel folder goes
// before this user's first start.
enum class Squatter { ForeignFolder, File, LinkToFolder, DanglingLink, OwnFolderOpenToAll };

bool squat(Squatter squatter, const std::string& path, const std::string& elsewhere)
{
    switch (squatter) {
    case Squatter::ForeignFolder:
        return fs::create_directory(path) && ::chown(path.c_str(), 65534, 65534) == 0;
    case Squatter::File:
        return bool(std::ofstream(path) << "squatted\n");
    case Squatter::LinkToFolder:
        fs::create_directory_symlink(elsewhere, path);
        return true;
    case Squatter::DanglingLink:
        fs::create_directory_symlink(elsewhere + "/later", path);
        return true;
    case Squatter::OwnFolderOpenToAll:
        fs::create_directory(path);
        fs::permissions(path, fs::perms::all);
        return true;
    }
    return false;
}

// A process listening at socketPath as user uid (root binds the socket,
// then becomes that user before it listens, which is whose the connection
// is). Through a pipe it says when it listens, then, after one connection,
// how many bytes came on it.
class Listener {
public:
    Listener(const std::string& socketPath, uid_t uid)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        m_report = ends[0];
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ends[0]);
            serve(socketPath, uid, ends[1]);
        }
        ::close(ends[1]);
    }
    ~Listener()
    {
        // Never -1, which would stand for every process.
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_report >= 0)
            ::close(m_report);
    }
    // Waits until it listens; false when it cannot.
    bool isListening() const
    {
        char ready = 0;
        return ::read(m_report, &ready, 1) == 1;
    }
    // Waits for the first connection to end: the bytes it brought, or
    // nothing when the listener could not serve.
    std::optional<long> bytesReceived() const
    {
        long count = 0;
        if (::read(m_report, &count, sizeof(count)) != ssize_t(sizeof(count)))
            return std::nullopt;
        return count;
    }

private:
    // Only system calls in the child of a threaded process.
    [[noreturn]] static void serve(const std::string& socketPath, uid_t uid, int report)
    {
        ::alarm(30);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
            || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0
            || ::listen(server, 8) != 0 || ::write(report, "r", 1) != 1)
            ::_exit(1);
        const int connection = ::accept(server, nullptr, nullptr);
        long count = 0;
        char buffer[4096];
        for (ssize_t got; (got = ::read(connection, buffer, sizeof(buffer))) > 0;)
            count += got;
        (void)!::write(report, &count, sizeof(count));
        ::_exit(0);
    }

    pid_t m_pid = -1;
    int m_report = -1;
};

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

    void anUnsafeChannelFolderIsPassedOver_data()
    {
        QTest::addColumn<bool>("inRuntime"); // else at the fallback, with no runtime folder
        QTest::addColumn<int>("squatter");
        QTest::addColumn<bool>("fresh"); // the socket goes to a fresh folder beside the fallback
        QTest::newRow("runtime: a symbolic link to a folder") << true << int(Squatter::LinkToFolder) << false;
        QTest::newRow("runtime: a folder of another user") << true << int(Squatter::ForeignFolder) << false;
        QTest::newRow("fallback: a folder of another user") << false << int(Squatter::ForeignFolder) << true;
        QTest::newRow("fallback: a file") << false << int(Squatter::File) << true;
        QTest::newRow("fallback: a symbolic link to a folder") << false << int(Squatter::LinkToFolder) << true;
        QTest::newRow("fallback: a dangling symbolic link") << false << int(Squatter::DanglingLink) << true;
        QTest::newRow("fallback: a folder of ours open to all") << false << int(Squatter::OwnFolderOpenToAll) << false;
    }
    // What stands where the runtime channel folder goes makes it unusable:
    // the socket goes to the fallback, and one line names the refused one.
    // A first start with no runtime folder to use ($XDG_RUNTIME_DIR names a
    // missing one) that finds the fallback taken by someone else listens in
    // a fresh folder beside it. A later start, which can predict no such
    // name, finds it through the record and hands its paths over. A folder
    // of this user's own, only too open, is made private and used.
    void anUnsafeChannelFolderIsPassedOver()
    {
        QFETCH(bool, inRuntime);
        QFETCH(int, squatter);
        QFETCH(bool, fresh);
        if (Squatter(squatter) == Squatter::ForeignFolder && skipUnlessRoot())
            return;
        // Stands in for /tmp, and is as open.
        const QTemporaryDir tmp;
        fs::permissions(bytes(tmp.path()), fs::perms::all | fs::perms::sticky_bit);
        const std::string runtime = bytes(tmp.path()) + "/runtime";
        const std::string fallback = bytes(tmp.path()) + "/quillmere-" + std::to_string(::geteuid());
        const std::string elsewhere = bytes(tmp.path()) + "/elsewhere";
        fs::create_directory(elsewhere);
        if (inRuntime) {
            fs::create_directory(runtime);
            fs::permissions(runtime, fs::perms::owner_all);
        }
        QVERIFY(squat(Squatter(squatter), inRuntime ? runtime + "/quillmere" : fallback, elsewhere));
        const Folders channels{runtime + "/quillmere", fallback};
        const std::string work = bytes(tmp.path()) + "/.quillmere";

        std::optional<SingleInstance> running(std::in_place, work, channels);
        QSignalSpy received(&*running, &SingleInstance::filesReceived);
        Role role = Role::Alone;
        // One line for the runtime folder, one for the fallback.
        QCOMPARE(linesOf([&] { role = running->claim({}); }).size(), size_t(fresh ? 2 : 1));
        QCOMPARE(role, Role::Primary);
        const std::string folder = fs::path(running->socketPath()).parent_path().string();
        if (fresh) {
            QVERIFY(folder.starts_with(fallback + "-"));
            QCOMPARE(folder.size(), fallback.size() + 7);
        } else {
            QCOMPARE(folder, fallback);
        }
        QCOMPARE(fs::symlink_status(folder).type(), fs::file_type::directory);
        QCOMPARE(fs::status(folder).permissions(), fs::perms::owner_all);
        // Nothing was put where a link led.
        QVERIFY(fs::is_empty(elsewhere));

        QCOMPARE(linesOf([&] { role = startElsewhere(work, channels, {"/data/a b.txt", "/data/c"}); }),
                 std::vector<std::string>{});
        QCOMPARE(role, Role::HandedOver);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).value<Paths>(), Paths({"/data/a b.txt", "/data/c"}));

        // The fresh folder and the record go with the instance.
        QCOMPARE(linesOf([&] { running.reset(); }), std::vector<std::string>{});
        QCOMPARE(fs::exists(folder), !fresh);
        QCOMPARE(QDir(QString::fromStdString(work)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"instance.lock"});
    }

    void aLaterStartReachesTheRunningInstance_data()
    {
        QTest::addColumn<bool>("recordLeftBehind");
        QTest::addColumn<bool>("otherEnvironment");
        QTest::addColumn<Paths>("paths");
        std::string deep = "/data";
        while (deep.size() <= 5000)
            deep += "/" + std::string(40, 'd');
        QTest::newRow("a record left by an instance that died") << true << false << Paths{};
        QTest::newRow("no runtime folder where the later start runs") << false << true << Paths{"/data/a.txt"};
        QTest::newRow("a path longer than PATH_MAX") << false << false << Paths{deep + "/a.txt"};
    }
    // A later start goes where the running instance says it listens (a
    // record left behind is replaced), not where its own environment would
    // put the channel, and makes no folder. A start in a folder nested past
    // PATH_MAX hands its path over all the same: the running window's job
    // then says what is wrong with it. A start without paths asks the
    // running instance to come forward.
    void aLaterStartReachesTheRunningInstance()
    {
        QFETCH(bool, recordLeftBehind);
        QFETCH(bool, otherEnvironment);
        QFETCH(Paths, paths);
        if (recordLeftBehind)
            writeFile(m_work + "/instance.channel", base("gone/instance.sock"));
        SingleInstance running(m_work, m_channels);
        QSignalSpy received(&running, &SingleInstance::filesReceived);
        QSignalSpy activated(&running, &SingleInstance::activationRequested);
        QCOMPARE(running.claim({}), Role::Primary);
        QCOMPARE(readFile(m_work + "/instance.channel"), running.socketPath());

        // As if $XDG_RUNTIME_DIR were unset where the later start runs.
        const std::string elsewhere = base("other-tmp");
        fs::create_directories(elsewhere);
        const Folders channels = otherEnvironment ? Folders{elsewhere + "/quillmere-0"} : m_channels;
        QCOMPARE(startElsewhere(m_work, channels, paths), Role::HandedOver);
        QTRY_COMPARE(received.count() + activated.count(), 1);
        QCOMPARE(activated.count(), paths.empty() ? 1 : 0);
        if (!paths.empty())
            QCOMPARE(received.first().first().value<Paths>(), paths);
        QVERIFY(fs::is_empty(elsewhere));
    }

    // The runtime channel folder is there, left by an earlier start, but
    // its file system has no room for one more file (or is read-only): the
    // socket cannot be made in it. The instance listens in the fallback
    // instead, says once why it passed the runtime folder over, and a later
    // start hands its paths over rather than being told that no one answers.
    void aFullRuntimeFolderGivesWayToTheFallback()
    {
        const QTemporaryDir tmp;
        const std::string runtime = bytes(tmp.path()) + "/runtime";
        const std::string fallback = bytes(tmp.path()) + "/fallback";
        fs::create_directory(runtime);
        TmpfsMounts mounts;
        if (!mounts.mount(runtime, "size=64k,nr_inodes=4,mode=0700"))
            QSKIP("mounting a tmpfs needs privileges this run does not have");
        QVERIFY(fs::create_directory(runtime + "/quillmere"));
        fs::permissions(runtime + "/quillmere", fs::perms::owner_all);
        // Every inode left goes to files of someone else's.
        for (int index = 0; std::ofstream(runtime + "/filler" + std::to_string(index)); ++index)
            QVERIFY(index < 16);
        const Folders channels{runtime + "/quillmere", fallback};
        const std::string work = bytes(tmp.path()) + "/.quillmere";

        std::optional<SingleInstance> running(std::in_place, work, channels);
        QSignalSpy received(&*running, &SingleInstance::filesReceived);
        Role role = Role::Alone;
        const std::vector<std::string> lines = linesOf([&] { role = running->claim({}); });
        QCOMPARE(role, Role::Primary);
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY2(lines.front().starts_with("single instance channel not used, cannot listen at " + runtime
                                           + "/quillmere/"),
                 lines.front().c_str());
        QCOMPARE(fs::path(running->socketPath()).parent_path().string(), fallback);
        QCOMPARE(readFile(work + "/instance.channel"), running->socketPath());

        QCOMPARE(startElsewhere(work, channels, {"/data/a.txt"}), Role::HandedOver);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().value<Paths>(), Paths({"/data/a.txt"}));
        running.reset();
    }

    // Where the record leads must still be a private folder of this user,
    // and whoever answers there must be this user: else no path is sent.
    void pathsGoToNoOtherUser_data()
    {
        QTest::addColumn<bool>("folderIsForeign"); // else the listener is
        QTest::newRow("our listener in a folder now another user's") << true;
        QTest::newRow("another user's listener in our folder") << false;
    }
    void pathsGoToNoOtherUser()
    {
        QFETCH(bool, folderIsForeign);
        if (skipUnlessRoot())
            return;
        const QTemporaryDir tmp;
        const std::string folder = bytes(tmp.path()) + "/channel";
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all);
        const std::string socketPath = folder + "/instance.sock";
        const Listener listener(socketPath, folderIsForeign ? ::geteuid() : 65534);
        QVERIFY(listener.isListening());
        if (folderIsForeign)
            QVERIFY(::chown(folder.c_str(), 65534, 65534) == 0);

        SingleInstance running(m_work, m_channels);
        QCOMPARE(running.claim({}), Role::Primary);
        std::ofstream(m_work + "/instance.channel") << socketPath;
        int attempts = 0;
        Role role = Role::Alone;
        QCOMPARE(linesOf([&] {
                     role = startElsewhere(m_work, m_channels, {"/data/secret.txt"},
                                           [&attempts] { return ++attempts == 3; });
                 }),
                 std::vector<std::string>{"stopped waiting for the running Quillmere: " + m_work});
        QCOMPARE(role, Role::Failed);
        // The listener's first connection was the later start's, or else
        // this one, which finds it still waiting when the later start never
        // came: either way it was told nothing.
        QLocalSocket probe;
        probe.connectToServer(QFile::decodeName(QByteArray::fromStdString(socketPath)));
        probe.waitForConnected(5000);
        probe.abort();
        QCOMPARE(listener.bytesReceived(), std::optional<long>(0));
    }

    // An instance that takes the message and never answers (one stopped
    // with SIGSTOP): a signal ends the wait for its answer, and the start
    // says it stopped waiting, not that the files went unconfirmed.
    void aSignalEndsTheWaitForAnAnswer()
    {
        const QTemporaryDir tmp;
        const std::string folder = bytes(tmp.path()) + "/channel";
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all);
        const Listener listener(folder + "/instance.sock", ::geteuid());
        QVERIFY(listener.isListening());
        SingleInstance running(m_work, m_channels);
        QCOMPARE(running.claim({}), Role::Primary);
        std::ofstream(m_work + "/instance.channel") << folder + "/instance.sock";
        int asked = 0;
        Role role = Role::Alone;
        QCOMPARE(linesOf([&] {
                     role = startElsewhere(m_work, m_channels, {"/data/a.txt"}, [&asked] { return ++asked == 3; });
                 }),
                 std::vector<std::string>{"stopped waiting for the running Quillmere: " + m_work});
        QCOMPARE(role, Role::Failed);
        QVERIFY(listener.bytesReceived().value_or(0) > 0);
    }

    void aStartOnAnotherDisplayKeepsItsPaths_data()
    {
        // Each display as $DISPLAY, $WAYLAND_DISPLAY and $XDG_RUNTIME_DIR.
        QTest::addColumn<QStringList>("running");
        QTest::addColumn<QStringList>("later");
        QTest::addColumn<QString>("refusedFor"); // the running display as told; empty: handed over
        const auto x11 = [](const char* display) { return QStringList{display, "", "/run/a"}; };
        const QStringList session{":0", "wayland-0", "/run/a"};
        QTest::newRow("another X display") << x11(":76") << QStringList{":77", "", "/run/b"} << ":76";
        QTest::newRow("another screen of the same X display") << x11(":76") << x11(":76.0") << "";
        QTest::newRow("the local X display by its host") << x11(":76.1") << x11("unix:76") << "";
        QTest::newRow("another host's X display") << x11("localhost:10.0") << x11(":10") << "localhost:10";
        QTest::newRow("wayland-0 of another session") << QStringList{"", "wayland-0", "/run/a"}
                                                      << QStringList{"", "wayland-0", "/run/b/"} << "wayland-0";
        QTest::newRow("a Wayland socket by its path") << QStringList{"", "wayland-0", "/run/a/"}
                                                      << QStringList{"", "/run/a/wayland-0", "/run/b"} << "";
        QTest::newRow("another session with X under Wayland")
            << session << QStringList{":1", "wayland-1", "/run/a"} << ":0";
        QTest::newRow("the same session, Wayland not named here") << session << x11(":0") << "";
        // Nothing tells these apart: the start goes on as it always has.
        QTest::newRow("X there, Wayland here") << x11(":0") << QStringList{"", "wayland-0", "/run/a"} << "";
        QTest::newRow("no display recorded (an earlier version)") << QStringList{"", "", ""} << x11(":77") << "";
        QTest::newRow("a start without a display") << x11(":76") << QStringList{"", "", "/run/b"} << "";
    }
    // A start whose window would be on another display than the running
    // instance's sends it nothing and says where that one runs: its archive,
    // and a destination chooser, would come up out of its user's sight. The
    // same display, however written, takes the paths as ever.
    void aStartOnAnotherDisplayKeepsItsPaths()
    {
        QFETCH(QStringList, running);
        QFETCH(QStringList, later);
        QFETCH(QString, refusedFor);
        const auto display = [](const QStringList& values) {
            return SessionDisplay(bytes(values[0]), bytes(values[1]), bytes(values[2]));
        };
        SingleInstance instance(m_work, m_channels, display(running));
        QSignalSpy received(&instance, &SingleInstance::filesReceived);
        QCOMPARE(instance.claim({}), Role::Primary);

        Role role = Role::Alone;
        std::optional<SingleInstance> start;
        const std::vector<std::string> lines = linesOf([&] {
            std::unique_ptr<QThread> thread(QThread::create([&] {
                start.emplace(m_work, m_channels, display(later));
                role = start->claim({"/data/b.txt"});
            }));
            QSignalSpy finished(thread.get(), &QThread::finished);
            thread->start();
            finished.wait(30000);
            thread->wait();
        });
        if (refusedFor.isEmpty()) {
            QCOMPARE(role, Role::HandedOver);
            QCOMPARE(lines, std::vector<std::string>{});
            QTRY_COMPARE(received.count(), 1);
            return;
        }
        QCOMPARE(role, Role::Failed);
        QCOMPARE(start->shortfall(), Shortfall::OtherDisplay);
        QCOMPARE(start->runningDisplay().shownName(), bytes(refusedFor));
        const std::string told = "the running Quillmere shows its window on another display: ";
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY2(lines[0].starts_with(told) && lines[0].find(bytes(refusedFor), told.size()) != std::string::npos,
                 lines[0].c_str());
        // The channel still serves a start on the running display, and only
        // its paths arrive.
        QCOMPARE(startElsewhere(m_work, m_channels, {"/data/a.txt"}, {}, display(running)), Role::HandedOver);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().value<Paths>(), Paths{"/data/a.txt"});
    }

    // Counts and lengths are 32-bit big-endian numbers.
    void malformedMessagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("wrong greeting") << QByteArrayLiteral("HELO\0\0\0\1\0\0\0\3abc");
        QTest::newRow("path longer than any start sends")
            << QByteArrayLiteral("QMR1\0\0\0\1\0\1\0\1") + QByteArray(65537, 'x');
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
