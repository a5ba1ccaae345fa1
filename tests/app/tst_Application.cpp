// The real program under a private home, runtime and configuration folder.
// The home's path is long and holds blanks and quotes: the single-instance
// socket once lived below it and could not be reached from such a path.
#include "NotificationService.h"
#include "PrivateBus.h"
#include "SyscallRefusal.h"
#include "TestFiles.h"
#include "TmpfsMounts.h"
#include "WorkRoot.h"
#include "ZipReader.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <optional>
#include <set>
#include <fcntl.h>
#include <unistd.h>

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const int kStartMilliseconds = 20000;
const int kJobMilliseconds = 30000;
const int kEncryptingMilliseconds = 40000;
// How long the programs of a job may outlive the application.
const int kOrphanMilliseconds = 2000;
// Incompressible, so that zipcloak has a while to work on it.
const size_t kLargeFileBytes = 300'000'000;
// Large enough that encrypting it is seen running.
const size_t kMediumFileBytes = 40'000'000;
// A child's status when it could not be kept from starting threads.
const int kNoRefusal = 125;

QString qs(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// A file of /proc, read without iostreams: a process that ends while it is
// read makes an empty text, not an exception.
QByteArray procFile(const std::string& pid, const char* name)
{
    QFile file(qs("/proc/" + pid + "/" + name));
    return !pid.empty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Alive, and not merely waiting for init to reap it.
bool isRunning(const std::string& pid)
{
    const QByteArray text = procFile(pid, "stat");
    return !text.isEmpty() && !text.contains(") Z ");
}

std::string parentOf(const std::string& pid)
{
    const QByteArray text = procFile(pid, "stat");
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields[1].toStdString() : std::string();
}

// The running processes of the given programs (by the name they were
// started with) that run with home as $HOME: the session's own. (expect's
// command line holds the home's path only as Tcl text.)
std::set<std::string> processesOf(const std::set<QByteArray>& programs, const std::string& home)
{
    std::set<std::string> found;
    const QByteArray homeEntry = QByteArray::fromStdString("HOME=" + home);
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string pid = entry.toStdString();
        const QByteArray commandLine = procFile(pid, "cmdline");
        const QByteArray program = commandLine.left(commandLine.indexOf('\0'));
        if (programs.count(program.mid(program.lastIndexOf('/') + 1))
            && procFile(pid, "environ").split('\0').contains(homeEntry) && isRunning(pid))
            found.insert(pid);
    }
    return found;
}

// The processes whose command line, which every user of the machine can
// read, shows text, or whose environment does (but for the program's own,
// which holds it until the program clears it).
std::set<std::string> processesShowing(const QByteArray& text, qint64 program)
{
    std::set<std::string> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray commandLine = procFile(entry.toStdString(), "cmdline");
        const bool inEnvironment = entry != QString::number(program)
            && procFile(entry.toStdString(), "environ").contains(text);
        if (commandLine.contains(text) || inEnvironment)
            found.insert(entry.toStdString() + " " + QByteArray(commandLine).replace('\0', ' ').toStdString());
    }
    return found;
}

// A run's end: its status (-1 when it did not end by itself), the signal
// that ended it (0 when none did) and what it wrote where.
struct BatchRun {
    int status = -1;
    int signalNumber = 0;
    QByteArray out;
    QByteArray err;
};

BatchRun finished(QProcess& process)
{
    BatchRun run;
    process.waitForFinished(kJobMilliseconds);
    if (process.state() != QProcess::NotRunning)
        return run;
    if (process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    else
        run.signalNumber = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArrayList linesStartingWith(const QByteArray& output, const QByteArray& prefix)
{
    QByteArrayList found;
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith(prefix))
            found << line;
    return found;
}

Names sortedNames(const std::string& archive)
{
    Names names = ZipReader(archive).names();
    std::sort(names.begin(), names.end());
    return names;
}

// A folder of two files in two folders, and optionally a third file whose
// name Windows refuses.
void makeTree(const std::string& tree, bool withRefusedName)
{
    writeFile(tree + "/a.txt", "a\n");
    writeFile(tree + "/sub/b.txt", "b\n");
    if (withRefusedName)
        writeFile(tree + "/sub/why?.txt", "c\n");
}

// The stand-in writer's process and its helper's, as it names them.
struct Writer {
    std::string writer, helper;
};

// Folders for the program below one temporary folder, and the programs
// started in them, killed if they still run when it goes.
class Session {
public:
    Session()
    {
        for (const char* folder : {"run", "config", "items", "marks"})
            fs::create_directories(path(folder));
        fs::create_directories(home());
        fs::permissions(path("run"), fs::perms::owner_all);
    }
    ~Session()
    {
        for (const auto& process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

    std::string path(const std::string& name) const
    {
        return QFile::encodeName(m_base.path()).toStdString() + "/" + name;
    }
    std::string home() const { return path("home with \"quotes\" and 'apostrophes' " + std::string(80, 'x')); }
    QStringList leftInWorkFolder() const { return leftInWorkRoot(home() + "/.quillmere"); }
    // True once a job's content folder holds something.
    bool isStaging() const
    {
        const QDir work(qs(home() + "/.quillmere"));
        for (const QString& staging : work.entryList({"34a928*"}, QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QDir content(work.filePath(staging) + "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56/archive");
            if (!content.isEmpty())
                return true;
        }
        return false;
    }
    // True once the running instance listens in the private runtime folder.
    bool channelIsOpen() const
    {
        return !QDir(qs(path("run/quillmere"))).entryList({"*.sock"}, QDir::System).isEmpty();
    }
    // Once the stand-in writer runs (see standins/php).
    std::optional<Writer> writing() const
    {
        if (!QTest::qWaitFor([this] { return fs::exists(path("marks/writing")); }, kStartMilliseconds))
            return std::nullopt;
        Writer job;
        std::ifstream(path("marks/writing")) >> job.helper >> job.writer;
        return job;
    }

    // The session's folders, with standIns searched before $PATH.
    QProcessEnvironment environment(const QString& standIns = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", qs(home()));
        environment.insert("XDG_RUNTIME_DIR", qs(path("run")));
        environment.insert("XDG_CONFIG_HOME", qs(path("config")));
        environment.insert("QUILLMERE_TEST_MARKS", qs(path("marks")));
        environment.remove("QUILLMERE_PASSWORD");
        // The program has to find its name converter on its own.
        environment.remove("GCONV_PATH");
        if (!standIns.isEmpty())
            environment.insert("PATH", standIns + ':' + environment.value("PATH"));
        return environment;
    }

    // Starts the program in folder, in the session's environment unless
    // given another; inChild runs in the child before the program.
    QProcess& start(const std::string& folder, const Names& arguments, const QProcessEnvironment& environment = {},
                    const std::function<void()>& inChild = {}, const QString& program = QUILLMERE_BINARY)
    {
        QStringList qtArguments;
        for (const std::string& argument : arguments)
            qtArguments << qs(argument);
        QProcess& process = *m_processes.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(environment.isEmpty() ? this->environment() : environment);
        process.setWorkingDirectory(qs(folder));
        if (inChild)
            process.setChildProcessModifier(inChild);
        process.start(program, qtArguments);
        return process;
    }

private:
    QTemporaryDir m_base;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Standard output on a full disk, or closed ("quillmere ... >&-").
void lostOutputRows()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("on a full disk") << false;
    QTest::newRow("closed") << true;
}
void loseOutput(bool closed)
{
    if (closed) {
        ::close(STDOUT_FILENO);
        return;
    }
    const int full = ::open("/dev/full", O_WRONLY);
    ::dup2(full, STDOUT_FILENO);
}
QByteArray lostOutputError(bool closed)
{
    return closed ? "Bad file descriptor" : "No space left on device";
}

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    // A later start, given a path relative to its own working folder as a
    // file manager gives it, hands it over and ends with status 0; the
    // running instance makes the archive. A batch job is no second start:
    // beside the window it makes the archive itself and the window is not
    // told. A batch job starts without the window's libraries, whose
    // loading would be most of its start; a window start loads them.
    void aSecondStartHandsItsPathsToTheRunningInstance()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        writeFile(items + "/first.txt", "first\n");
        QProcessEnvironment loaderLogs = session.environment();
        // The loader writes what it loads to a file per process.
        loaderLogs.insert("LD_DEBUG", "files");
        loaderLogs.insert("LD_DEBUG_OUTPUT", qs(session.path("loaded")));
        QProcess& first = session.start(session.home(), {}, loaderLogs);
        QTRY_VERIFY_WITH_TIMEOUT(session.channelIsOpen(), kStartMilliseconds);

        QProcess& batch = session.start(items, {"-b", "tree/a.txt"}, loaderLogs);
        QVERIFY(batch.waitForStarted());
        const qint64 batchId = batch.processId();
        const BatchRun run = finished(batch);
        QCOMPARE(run.status, 0);
        QCOMPARE(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + items + "/tree/archive.zip")).size(), 1);
        QCOMPARE(ZipReader(items + "/tree/archive.zip").names(), Names{"archive/a.txt"});
        for (const qint64 process : {first.processId(), batchId}) {
            const std::string loaded = readFile(session.path("loaded." + std::to_string(process)));
            QVERIFY(loaded.find("libQt6Core.so") != std::string::npos);
            for (const char* library : {"quillmere-window.so", "libQt6Widgets.so", "libQt6Gui.so", "libQt6Network.so"})
                QVERIFY2((loaded.find(library) != std::string::npos) == (process != batchId), library);
        }

        QProcess& later = session.start(items, {"first.txt"});
        QVERIFY(later.waitForFinished(kStartMilliseconds));
        QCOMPARE(later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(later.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/archive.zip").names(), Names{"archive/first.txt"});
        // Had the window been told of the batch job, it would have made
        // that job's archive before this one.
        QCOMPARE(QDir(qs(items + "/tree")).entryList({"*.zip"}), QStringList{"archive.zip"});
        // From a terminal that names no display (over ssh, in tmux), the
        // files are handed over all the same.
        QProcessEnvironment noDisplay = session.environment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            noDisplay.remove(variable);
        const BatchRun handed = finished(session.start(items, {"tree/sub"}, noDisplay));
        QVERIFY2(handed.status == 0, handed.err.constData());
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/tree/archive1.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/tree/archive1.zip").names(), Names{"archive/sub/b.txt"});
        // Nor does a display that is named but gone (a terminal multiplexer
        // outliving its desktop session) keep them from the window.
        QProcessEnvironment staleDisplay = noDisplay;
        staleDisplay.insert("DISPLAY", ":7391");
        staleDisplay.insert("QT_QPA_PLATFORM", "xcb");
        const BatchRun stale = finished(session.start(items, {"tree/a.txt"}, staleDisplay));
        QVERIFY2(stale.status == 0, stale.err.constData());
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/tree/archive2.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/tree/archive2.zip").names(), Names{"archive/a.txt"});
        QCOMPARE(first.state(), QProcess::Running);
    }

    // Settings that cannot be read do not say whether to encrypt: a file
    // opened with the window is refused, not archived without the password
    // the user stored, and the settings file keeps what they wrote.
    void aWindowStartWithUnreadableOptionsArchivesNothing()
    {
        Session session;
        const std::string items = session.path("items");
        writeFile(items + "/first.txt", "first\n");
        const std::string settings = session.path("config") + "/Quillmere/Quillmere.conf";
        fs::create_directories(fs::path(settings).parent_path());
        const std::string written = "[settings]\nisEncrypt=1\npassword=secret123\n";
        writeFile(settings, written);
        QProcess& window = session.start(items, {"first.txt"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += window.readAllStandardOutput()).contains("job refused:"), kJobMilliseconds);
        QCOMPARE(linesStartingWith(out, "read options error:").size(), 1);
        const QByteArrayList refused = linesStartingWith(out, "job refused:");
        QCOMPARE(refused.size(), 1);
        QVERIFY2(refused.front().contains("whether to encrypt"), refused.front().constData());
        QVERIFY(!fs::exists(items + "/archive.zip"));
        ::kill(window.processId(), SIGTERM);
        QVERIFY(window.waitForFinished(kStartMilliseconds));
        QCOMPARE(readFile(settings), written);
        QCOMPARE(QDir(qs(items)).entryList(QDir::Files), QStringList{"first.txt"});
    }

    // Two desktop sessions of one user share the home folder, not the
    // display. A window start in the second session tells its own user that
    // Quillmere runs on the other display, and keeps its files: the running
    // window would make the archive, and ask for its folder, out of sight.
    // A start on the running display, written another way, hands over, and
    // so does one whose display is gone.
    void aStartOnAnotherDisplayKeepsItsFiles()
    {
        Session session;
        const std::string items = session.path("items");
        writeFile(items + "/b.txt", "b\n");
        writeFile(items + "/c.txt", "c\n");
        // Offscreen, as every test: the starts see only their environment's
        // names for the display, which is what tells the sessions apart.
        const auto onDisplay = [&session](const QString& display, const std::string& runtime) {
            QProcessEnvironment environment = session.environment();
            environment.remove("WAYLAND_DISPLAY");
            environment.insert("DISPLAY", display);
            environment.insert("XDG_RUNTIME_DIR", qs(runtime));
            return environment;
        };
        QProcess& first = session.start(session.home(), {}, onDisplay(":76", session.path("run")));
        QTRY_VERIFY_WITH_TIMEOUT(session.channelIsOpen(), kStartMilliseconds);

        const std::string otherRun = session.path("run-b");
        fs::create_directories(otherRun);
        fs::permissions(otherRun, fs::perms::owner_all);
        QProcess& other = session.start(items, {"b.txt"}, onDisplay(":77", otherRun));
        QByteArray out;
        const auto toldOrEnded = [&out, &other] {
            out += other.readAllStandardOutput();
            return out.contains('\n') || other.state() == QProcess::NotRunning;
        };
        QTRY_VERIFY_WITH_TIMEOUT(toldOrEnded(), kStartMilliseconds);
        QCOMPARE(out, QByteArray("the running Quillmere shows its window on another display: DISPLAY :76 "
                                 "(this start: DISPLAY :77)\n"));
        // Its message box waits for its user.
        QCOMPARE(other.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(other.processId()), SIGTERM);
        QVERIFY(other.waitForFinished(kJobMilliseconds));

        const BatchRun same = finished(session.start(items, {"c.txt"}, onDisplay(":76.0", session.path("run"))));
        QVERIFY2(same.status == 0, same.out.constData());
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive.zip"), kJobMilliseconds);
        // Had the files of the start on :77 gone over, their archive would
        // have been made first.
        QCOMPARE(ZipReader(items + "/archive.zip").names(), Names{"archive/c.txt"});
        QCOMPARE(QDir(qs(items)).entryList({"*.zip"}), QStringList{"archive.zip"});
        // A display that is gone leaves the start no window of its own: it
        // hands its files over, as one from a terminal without a display.
        QProcessEnvironment gone = onDisplay(":7391", otherRun);
        gone.insert("QT_QPA_PLATFORM", "xcb");
        const BatchRun stale = finished(session.start(items, {"b.txt"}, gone));
        QVERIFY2(stale.status == 0, stale.out.constData());
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive1.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/archive1.zip").names(), Names{"archive/b.txt"});
        QCOMPARE(first.state(), QProcess::Running);
    }

    void aSignalEndsTheJobAndItsPrograms_data()
    {
        QTest::addColumn<bool>("batch");
        QTest::addColumn<int>("ignored"); // since the start; 0: none
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("withoutThreads"); // none can be started, as at the user's process limit
        QTest::newRow("SIGTERM") << false << 0 << int(SIGTERM) << false;
        QTest::newRow("SIGHUP") << false << 0 << int(SIGHUP) << false;
        QTest::newRow("SIGQUIT") << false << 0 << int(SIGQUIT) << false;
        QTest::newRow("SIGKILL") << false << 0 << int(SIGKILL) << false;
        QTest::newRow("batch, SIGINT") << true << 0 << int(SIGINT) << false;
        // Sent by kill -USR1, or a CPU time limit (ulimit -t) running out.
        QTest::newRow("batch, SIGUSR1") << true << 0 << int(SIGUSR1) << false;
        QTest::newRow("batch, SIGXCPU") << true << 0 << int(SIGXCPU) << false;
        QTest::newRow("batch, SIGIO") << true << 0 << int(SIGIO) << false;
        QTest::newRow("batch, SIGHUP ignored (nohup)") << true << int(SIGHUP) << int(SIGTERM) << false;
        QTest::newRow("batch, SIGINT ignored (a job started in the background)")
            << true << int(SIGINT) << int(SIGTERM) << false;
        QTest::newRow("batch, SIGTERM, no thread to be had") << true << 0 << int(SIGTERM) << true;
    }
    // Ended in the middle of a job, the program ends as quitting does (a
    // batch job as cancelling does): every program of the job ended, even
    // one in a session of its own, and nothing delivered or left behind.
    // In a window the running job and the one handed over meanwhile each
    // end with their line. Killed outright, the program cannot end its
    // job; the job's programs end all the same. A signal the program was
    // started to ignore does not end the job; the others are still handled.
    void aSignalEndsTheJobAndItsPrograms()
    {
        QFETCH(bool, batch);
        QFETCH(int, ignored);
        QFETCH(int, signalNumber);
        QFETCH(bool, withoutThreads);
        Session session;
        const std::string items = session.path("items");
        writeFile(items + "/report.txt", "report\n");
        writeFile(items + "/later.txt", "later\n");
        QProcess& app = session.start(items, batch ? Names{"-b", "report.txt"} : Names{items + "/report.txt"},
                                      session.environment(QUILLMERE_STANDINS), [ignored, withoutThreads] {
                                          if (ignored)
                                              ::signal(ignored, SIG_IGN);
                                          if (withoutThreads && !SyscallRefusal::refuseNewThreads())
                                              ::_exit(kNoRefusal);
                                      });
        const std::optional<Writer> job = session.writing();
        QVERIFY(job);
        const std::string shell = parentOf(job->writer);
        QVERIFY(isRunning(job->writer));
        QVERIFY(isRunning(job->helper));
        QVERIFY(isRunning(shell));
        QCOMPARE(QByteArray(procFile(shell, "cmdline").left(7)), QByteArray("/bin/sh"));
        if (!batch && signalNumber != SIGKILL) {
            QProcess& later = session.start(items, {"later.txt"});
            QVERIFY(later.waitForFinished(kStartMilliseconds));
            QCOMPARE(later.exitCode(), 0);
        }

        // Signals are taken in the order sent: were the first one caught,
        // its number would be the one the program ends on.
        if (ignored)
            ::kill(static_cast<pid_t>(app.processId()), ignored);
        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        if (signalNumber == SIGKILL) {
            QTRY_VERIFY_WITH_TIMEOUT(!isRunning(job->writer) && !isRunning(shell) && !isRunning(job->helper),
                                     kOrphanMilliseconds);
            return;
        }
        // Once it has cleaned up, it ends by the signal, so that a shell
        // loop around it stops as well.
        const BatchRun run = finished(app);
        QCOMPARE(run.signalNumber, signalNumber);
        // A batch job ends only once its programs have.
        if (batch)
            QVERIFY(!isRunning(job->writer) && !isRunning(job->helper));
        const QByteArrayList lines = run.out.split('\n');
        QVERIFY2(lines.count("job stopped") == 1, run.out.constData());
        QCOMPARE(linesStartingWith(run.out, "ending on signal ").size(), 1);
        QCOMPARE(linesStartingWith(run.out, "ending on signal " + QByteArray::number(signalNumber) + " ").size(), 1);
        QCOMPARE(lines.count(QByteArray::fromStdString("job not started: " + items + "/later.txt")), batch ? 0 : 1);
        QTRY_VERIFY(!isRunning(job->writer));
        QTRY_VERIFY(!isRunning(job->helper));
        QCOMPARE(QDir(qs(items)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{"later.txt", "report.txt"}));
        QCOMPARE(session.leftInWorkFolder(), batch ? QStringList() : QStringList{"instance.lock"});
    }

    // A job killed on its way left its hidden part file beside the user's
    // items and its staging folder; the next start takes both away, and
    // nothing that only looks like them.
    void theNextStartRemovesWhatAKilledJobLeft()
    {
        Session session;
        const std::string items = session.path("items");
        const std::string part = items + "/.archive-killedjob123.zip.part";
        const std::string users = items + "/.archive-usersown.zip.part";
        writeFile(part, "the dead job's part");
        writeFile(users, "the user's own file");
        const std::string work = session.home() + "/.quillmere";
        const std::string staging = work + "/34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225-killedjb";
        fs::create_directories(staging + "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56/archive");
        fs::permissions(work, fs::perms::owner_all);
        QProcess gone; // its process id names no one now
        gone.start("/bin/true");
        QVERIFY(gone.waitForFinished());
        const auto hex = [](const std::string& path) { return QByteArray::fromStdString(path).toHex().toStdString(); };
        writeFile(work + "/journal/killedjb", "owner " + std::to_string(gone.processId()) + " 1\nstaging " + hex(staging)
                                                  + " 0 0\npart " + hex(part) + " 0 0\n");

        QProcess& app = session.start(items, {});
        QTRY_VERIFY_WITH_TIMEOUT(!fs::exists(part) && !fs::exists(staging), kStartMilliseconds);
        QCOMPARE(session.leftInWorkFolder(), (QStringList{"instance.channel", "instance.lock"}));
        QVERIFY(fs::exists(users));
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
    }

    // A signal while a huge tree is being staged (a link the user gave to
    // a system folder) ends the program: the stagers stop between two files
    // (tested with the staging itself), and what they staged goes.
    void aSignalEndsStagingAtOnce()
    {
        Session session;
        const std::string items = session.path("items");
        fs::create_directory_symlink("/usr/share", items + "/shared");
        QProcess& app = session.start(items, {items + "/shared"});
        QTRY_VERIFY_WITH_TIMEOUT(session.isStaging(), kStartMilliseconds);

        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
        QCOMPARE(app.exitStatus(), QProcess::CrashExit);
        QCOMPARE(app.exitCode(), SIGTERM);
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
    }

    // Items on another file system than the home folder are staged as links
    // in memory when the runtime folder is a tmpfs. Killed outright, the job
    // leaves them there; the next start removes them, and only them.
    void aKilledJobsLinksInMemoryGoAtTheNextStart()
    {
        Session session;
        const std::string stick = session.path("stick"), run = session.path("run");
        fs::create_directories(stick);
        TmpfsMounts mounts;
        if (!mounts.mount(stick, "size=8m") || !mounts.mount(run, "size=8m,mode=0700"))
            QSKIP("no permission to mount a file system");
        writeFile(stick + "/report.txt", "report\n");
        writeFile(run + "/other", "not the job's\n");
        QProcess& app = session.start(stick, {stick + "/report.txt"}, session.environment(QUILLMERE_STANDINS));
        QVERIFY(session.writing());
        const QDir memory(qs(run + "/quillmere"));
        const QStringList staged = memory.entryList({"34a928*"}, QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(staged.size(), qsizetype(1));
        QVERIFY(fs::is_symlink(run + "/quillmere/" + staged.front().toStdString() + "/archive/report.txt"));
        app.kill();
        QVERIFY(app.waitForFinished(kJobMilliseconds));

        writeFile(stick + "/next.txt", "next\n");
        QProcess& next = session.start(stick, {stick + "/next.txt"});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(stick + "/archive.zip"), kJobMilliseconds);
        ::kill(static_cast<pid_t>(next.processId()), SIGTERM);
        QVERIFY(next.waitForFinished(kJobMilliseconds));
        QCOMPARE(ZipReader(stick + "/archive.zip").names(), Names{"archive/next.txt"});
        QCOMPARE(memory.entryList({"34a928*"}, QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(fs::exists(run + "/other"));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
    }

    // Killed outright in the middle of encrypting a large archive, the
    // program's expect and zipcloak, which expect starts in a session of
    // its own, end all the same.
    void killingTheProgramEndsTheEncryption()
    {
        Session session;
        // The options a job takes from the settings file, as the window
        // would have stored them.
        writeFile(session.path("config/Quillmere/Quillmere.conf"),
                  "[settings]\nisEncrypt=true\npassword=some-password\nisSelectDir=false\n");
        const std::string items = session.path("items");
        writeFile(items + "/large.bin", randomBytes(kLargeFileBytes));
        QProcess& app = session.start(items, {items + "/large.bin"});
        std::set<std::string> zipcloak;
        QTRY_VERIFY_WITH_TIMEOUT(!(zipcloak = processesOf({"zipcloak"}, session.home())).empty(),
                                 kEncryptingMilliseconds);
        QCOMPARE(zipcloak.size(), size_t(1));
        const std::string& encryptor = *zipcloak.begin();
        QVERIFY(procFile(encryptor, "cmdline").contains(QByteArray::fromStdString(session.home())));
        // No other expect runs for the session. expect forks for stty too:
        // for a moment a child of it has its name, the more often the busier
        // the machine.
        const std::string expect = parentOf(encryptor);
        QVERIFY(processesOf({"expect"}, session.home()).count(expect));
        for (const std::string& pid : processesOf({"expect"}, session.home()))
            QVERIFY2(pid == expect || parentOf(pid) == expect || !isRunning(pid), pid.c_str());

        app.kill();
        QTRY_VERIFY_WITH_TIMEOUT(processesOf({"expect", "zipcloak"}, session.home()).empty(), kOrphanMilliseconds);

        // The next start's job is untouched by what the killed one left, and
        // what that one left is gone.
        writeFile(items + "/next.txt", "next\n");
        QProcess& next = session.start(items, {items + "/next.txt"});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/archive.zip").names(), Names{"archive/next.txt"});
        QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", "-Psome-password", qs(items + "/archive.zip")}), 0);
        QVERIFY(QProcess::execute("unzip", {"-qq", "-t", "-Pwrong", qs(items + "/archive.zip")}) != 0);
        ::kill(static_cast<pid_t>(next.processId()), SIGTERM);
        QVERIFY(next.waitForFinished(kJobMilliseconds));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
        QCOMPARE(QDir(qs(items)).entryList(QDir::Files | QDir::Hidden), (QStringList{"archive.zip", "large.bin", "next.txt"}));
    }

    // Run from a folder removed since, a destination relative to it is
    // refused before anything is copied, by the path it had; one reached
    // through ".." is still there, and takes the archive.
    void batchInARemovedWorkingFolder_data()
    {
        QTest::addColumn<std::string>("output");
        QTest::newRow("the removed folder itself") << std::string(".");
        QTest::newRow("a folder beside it") << std::string("../out");
    }
    void batchInARemovedWorkingFolder()
    {
        QFETCH(std::string, output);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        fs::create_directories(session.path("out"));
        const std::string gone = session.path("gone");
        fs::create_directories(gone);
        const BatchRun run = finished(session.start(gone, {"-b", "--output", output, items + "/tree"}, {}, [&gone] {
            if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0)
                ::_exit(99);
        }));
        if (output == ".") {
            QCOMPARE(run.status, 1);
            const std::string refused
                = "job refused: the destination folder cannot be written: No such file or directory: ";
            QVERIFY2(linesStartingWith(run.out, QByteArray::fromStdString(refused + gone + " (")).size() == 1,
                     run.out.constData());
            QVERIFY2(!run.out.contains("tmpDirectory: "), run.out.constData());
        } else {
            QCOMPARE(run.status, 0);
            QVERIFY2(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + session.path("out")
                                                                          + "/archive.zip "))
                             .size()
                         == 1,
                     run.out.constData());
        }
    }

    void batchArchivesWhatItIsGiven_data()
    {
        QTest::addColumn<std::string>("folder"); // the working folder, below items
        QTest::addColumn<Names>("arguments");
        QTest::addColumn<bool>("withWriter");
        QTest::addColumn<int>("status");
        QTest::addColumn<Names>("archives"); // below the session's folder, one a run; none anywhere else
        QTest::addColumn<Names>("names");
        QTest::addColumn<QByteArrayList>("lines"); // starts of lines that come once each, {items} for its path
        const std::string items;
        const Names tree{"archive/tree/a.txt", "archive/tree/sub/b.txt"}, here{"items/archive.zip"};
        const auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        row("as given") << items << Names{"--batch", "tree"} << true << 0 << here << tree << QByteArrayList();
        row("renamed") << items << Names{"--batch", "named"} << true << 3 << here
                       << Names{"archive/named/a.txt", "archive/named/sub/b.txt", "archive/named/sub/why_.txt"}
                       << QByteArrayList{"renamed: named/sub/why?.txt -> archive/named/sub/why_.txt"};
        // A relative --output is taken from the working folder.
        row("--output") << items << Names{"-b", "--output", "../out/", "tree/a.txt"} << true << 0
                        << Names{"out/archive.zip"} << Names{"archive/a.txt"} << QByteArrayList();
        // An item comes by its own name, and the archive goes beside it.
        row("the working folder") << std::string("tree") << Names{"-b", "."} << true << 0 << here << tree
                                  << QByteArrayList();
        row("the folder above") << std::string("tree/sub") << Names{"-b", ".."} << true << 0 << here << tree
                                << QByteArrayList();
        row("dots and slashes on the way") << items << Names{"-b", "./tree//sub/../sub/."} << true << 0
                                           << Names{"items/tree/archive.zip"} << Names{"archive/sub/b.txt"}
                                           << QByteArrayList();
        // "link/.." is where the link's target lies, as for the shell's ls.
        row("above a link") << items << Names{"-b", "link/.."} << true << 0 << here << tree << QByteArrayList();
        // An address copied from a browser or a file manager names its file.
        row("a file address") << items << Names{"-b", "file://{items}/tr%65e"} << true << 0 << here << tree
                              << QByteArrayList();
        row("a file address on this host") << items << Names{"-b", "file://localhost{items}/tree/sub"} << true << 0
                                           << Names{"items/tree/archive.zip"} << Names{"archive/sub/b.txt"}
                                           << QByteArrayList();
        // One on another host names no file here: a usage error.
        row("a file address on another host") << items << Names{"-b", "file://elsewhere{items}/tree"} << true << 2
                                              << Names{} << Names{} << QByteArrayList();
        // The kernel refuses these paths: the job does too, and never takes
        // the working folder or the file for them.
        for (const char* given : {"typo/..", "a.txt/.", "a.txt/", "a.txt/../a.txt"})
            row(given) << std::string("tree") << Names{"-b", given} << true << 1 << Names{} << Names{}
                       << QByteArrayList{"job refused: "};
        // Without php the job is refused at once, with its cause.
        row("without the writer") << items << Names{"-b", "tree"} << false << 1 << Names{} << Names{}
                                  << QByteArrayList{"job refused: php or its zip extension is missing: "};
        // The archive takes the items' name, with the same first-free-name
        // rule; what is inside does not change. (見積書 in code page 932.)
        const std::string quote = "\x8c\xa9\x90\xcf\x8f\x91.xlsx";
        const auto named = [&row](const char* name, const Names& given, const std::string& archive, int status,
                                  const Names& names, const QByteArrayList& lines = {}) {
            Names arguments{"-b", "--name-after-items"};
            arguments.insert(arguments.end(), given.begin(), given.end());
            row(name) << std::string() << arguments << true << status
                      << Names{"items/quote/" + archive + ".zip", "items/quote/" + archive + "1.zip"} << names << lines;
        };
        named("a file loses its extension", {"quote/見積書.xlsx"}, "見積書", 0, {"archive/" + quote});
        named("a folder keeps its name", {"quote/sub"}, "sub", 0, {"archive/sub/b.txt"});
        named("several: the folder that holds them", {"quote/a.txt", "quote/見積書.xlsx"}, "quote", 0,
              {"archive/a.txt", "archive/" + quote});
        named("a name Windows refuses", {"quote/why?.txt"}, "why_", 3, {"archive/why_.txt"},
              {"renamed: {items}/quote/why?.txt -> archive/why_.txt"});
        named("a name a shell would read", {"quote/it's $HOME `id`.txt"}, "it's $HOME `id`", 0,
              {"archive/it's $HOME `id`.txt"});
    }
    // --batch makes the archive itself and ends with it: no window's
    // channel, nothing left in the work folder.
    void batchArchivesWhatItIsGiven()
    {
        QFETCH(std::string, folder);
        QFETCH(Names, arguments);
        QFETCH(bool, withWriter);
        QFETCH(int, status);
        QFETCH(Names, archives);
        QFETCH(Names, names);
        QFETCH(QByteArrayList, lines);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        makeTree(items + "/named", true);
        makeTree(items + "/quote", false);
        for (const char* name : {"見積書.xlsx", "why?.txt", "it's $HOME `id`.txt"})
            writeFile(items + "/quote/" + name, name);
        fs::create_directory_symlink("tree/sub", items + "/link");
        fs::create_directories(session.path("out"));
        fs::create_directories(session.path("bin"));
        QProcessEnvironment environment = session.environment();
        if (!withWriter)
            environment.insert("PATH", qs(session.path("bin")));
        for (std::string& argument : arguments)
            if (const size_t at = argument.find("{items}"); at != std::string::npos)
                argument.replace(at, 7, items);
        for (size_t made = 0; made < std::max<size_t>(archives.size(), 1); ++made) {
            const BatchRun run = finished(session.start(items + "/" + folder, arguments, environment));
            QVERIFY2(run.status == status, run.out.constData());
            QByteArrayList expected;
            for (const QByteArray& line : lines)
                expected << QByteArray(line).replace("{items}", QByteArray::fromStdString(items));
            if (made < archives.size())
                expected << QByteArray::fromStdString("archive delivered: " + session.path(archives[made]) + " (");
            for (const QByteArray& line : expected)
                QVERIFY2(linesStartingWith(run.out, line).size() == 1, run.out.constData());
            QCOMPARE(linesStartingWith(run.out, "renamed: ").size(), linesStartingWith(lines.join('\n'), "renamed: ").size());
            if (made < archives.size())
                QCOMPARE(sortedNames(session.path(archives[made])), names);
        }
        Names made;
        for (const char* place : {"items", "out"})
            for (const auto& file : fs::recursive_directory_iterator(session.path(place)))
                if (file.path().extension() == ".zip")
                    made.push_back(file.path().string().substr(session.path("").size()));
        std::sort(made.begin(), made.end());
        std::sort(archives.begin(), archives.end());
        QCOMPARE(made, archives);
        QVERIFY(!session.channelIsOpen());
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }
    void aStartWithoutThreadsEnds_data()
    {
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("encryption"); // the batch job's option; empty: the stored options
        QTest::addColumn<bool>("storedEncrypt");
        QTest::addColumn<QByteArray>("failure"); // the line's start; empty: delivered
        QTest::addColumn<QString>("cause");      // the report's, for a batch job that failed
        QTest::newRow("plain") << false << "--no-encrypt" << false << QByteArray() << QString();
        // expect aborts where it cannot start its thread.
        QTest::newRow("encrypted") << false << "--encrypt" << false << QByteArray("grant password error:")
                                   << "the system's limits were reached";
        // The keyring is reached through the session bus, whose library
        // waits for a thread.
        QTest::newRow("the stored options encrypt")
            << false << QString() << true
            << QByteArray("job refused: the stored options cannot be read: the keyring where the password is kept could "
                          "not be reached")
            << "the stored options cannot be read";
        // So does the window's display connection.
        QTest::newRow("the window") << true << QString() << false
                                    << QByteArray("load window error:no thread could be started (") << QString();
    }
    // At the user's limit on processes no thread can be started. A batch
    // job then does its work on the threads it has, or fails with its line
    // where a program needs one; the window says it cannot open. Nothing
    // waits for ever, and nothing is left behind.
    void aStartWithoutThreadsEnds()
    {
        QFETCH(bool, window);
        QFETCH(QString, encryption);
        QFETCH(bool, storedEncrypt);
        QFETCH(QByteArray, failure);
        QFETCH(QString, cause);
        Session session;
        const std::string items = session.path("items");
        Names expected;
        for (int file = 0; file < 300; ++file) {
            const std::string name = "tree/" + std::to_string(file % 7) + "/" + std::to_string(file) + ".txt";
            writeFile(items + "/" + name, name);
            expected.push_back("archive/" + name);
        }
        writeFile(items + "/tree/large.bin", randomBytes(kMediumFileBytes));
        expected.push_back("archive/tree/large.bin");
        std::sort(expected.begin(), expected.end());
        if (storedEncrypt)
            writeFile(session.path("config/Quillmere/Quillmere.conf"), "[settings]\nisEncrypt=true\n");
        QProcessEnvironment environment = session.environment();
        environment.insert("LANG", "ja_JP.UTF-8");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        Names arguments{"tree"};
        if (!window)
            arguments.insert(arguments.begin(), {"-b", "--json"});
        if (!encryption.isEmpty()) {
            arguments.insert(arguments.begin() + 1, encryption.toStdString());
            environment.insert("QUILLMERE_PASSWORD", "plain-Pass 1");
        }
        const BatchRun run = finished(session.start(items, arguments, environment, [] {
            if (!SyscallRefusal::refuseNewThreads())
                ::_exit(kNoRefusal);
        }));
        QVERIFY2(run.status != kNoRefusal, "no filter");
        QVERIFY2(run.status == (failure.isEmpty() ? 0 : 1), run.err.constData());
        // With --json the lines go to standard error.
        const QByteArray& lines = window ? run.out : run.err;
        if (failure.isEmpty()) {
            QCOMPARE(sortedNames(items + "/archive.zip"), expected);
            QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", qs(items + "/archive.zip")}), 0);
        } else {
            QVERIFY2(linesStartingWith(lines, failure).size() == 1, lines.constData());
            QVERIFY(!fs::exists(items + "/archive.zip"));
        }
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        if (!window)
            QCOMPARE(report["failure"]["cause"].toString(), cause);
        else
            QVERIFY2(QString::fromUtf8(run.err).contains("上限に達したため、ウィンドウを開けません"), run.err.constData());
        QCOMPARE(session.leftInWorkFolder(), QStringList());
        QVERIFY(!session.channelIsOpen());
    }

    // At the limit on processes php cannot be started: the job blames the
    // limit, not a missing php, and leaves nothing behind.
    void aWriterThatCannotBeStartedBlamesTheLimit()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        const BatchRun run = finished(session.start(items, {"-b", "--no-encrypt", "--json", "tree"}, session.environment(), [] {
            if (!SyscallRefusal::refuseNewProcesses())
                ::_exit(kNoRefusal);
        }));
        QVERIFY2(run.status == 1, run.err.constData());
        QVERIFY2(linesStartingWith(run.err, "convert charset and create zip error:the writer could not be started (fork: ")
                         .size()
                     == 1,
                 run.err.constData());
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(report["failure"]["cause"].toString(), QString("the system's limits were reached"));
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }

    // A window start that cannot open says so in one line and ends, in the
    // user's language, with no crash and nothing begun: over ssh, say, with
    // no display, or in an installation that lost the window's library.
    // Started from a menu, the user sees the desktop's notice of the latter,
    // given through the session bus's library: without that one too, a
    // second line says so.
    void aWindowStartThatCannotOpenSaysSo_data()
    {
        QTest::addColumn<bool>("withLibrary"); // else without a display
        QTest::addColumn<bool>("desktop");
        QTest::addColumn<QString>("display"); // named but unreachable; empty: none named
        QTest::addColumn<bool>("desktopLibrary");
        QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM, when set
        QTest::newRow("no display") << true << false << QString() << true << QString();
        QTest::newRow("a display that is gone") << true << false << QString(":7391") << true << QString("xcb");
        // The line names what the user chose, not a display never named.
        QTest::newRow("a platform that is not there") << true << false << QString() << true << QString("bogus");
        QTest::newRow("no library, no session bus") << false << false << QString() << true << QString();
        QTest::newRow("no library, a notification service") << false << true << QString() << true << QString();
        QTest::newRow("neither library, a notification service")
            << false << true << QString() << false << QString();
    }
    void aWindowStartThatCannotOpenSaysSo()
    {
        QFETCH(bool, withLibrary);
        QFETCH(bool, desktop);
        QFETCH(QString, display);
        QFETCH(bool, desktopLibrary);
        QFETCH(QString, platform);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        QProcessEnvironment environment = session.environment();
        QString program = QUILLMERE_BINARY;
        QStringList named;
        if (!platform.isEmpty())
            named << "QT_QPA_PLATFORM " + platform;
        if (!display.isEmpty())
            named << "DISPLAY " + display;
        QByteArray line = "load window error:no display could be reached ("
            + (named.isEmpty() ? QByteArray("DISPLAY unset") : named.join(", ").toUtf8()) + ")";
        if (withLibrary) {
            for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES"})
                environment.remove(variable);
            environment.insert("LANG", "ja_JP.UTF-8");
            if (!display.isEmpty())
                environment.insert("DISPLAY", display);
            if (!platform.isEmpty())
                environment.insert("QT_QPA_PLATFORM", platform);
        } else {
            const std::string alone = session.path("alone");
            fs::create_directories(alone);
            fs::copy_file(QUILLMERE_BINARY, alone + "/quillmere");
            if (desktopLibrary)
                fs::copy_file(fs::path(QUILLMERE_BINARY).parent_path() / "quillmere-desktop.so",
                              alone + "/quillmere-desktop.so");
            program = qs(alone + "/quillmere");
            line = "load window error:quillmere-window.so is neither in " + QByteArray::fromStdString(alone) + " nor in ";
        }
        std::optional<PrivateBus> bus;
        NotificationService notices;
        if (desktop) {
            bus.emplace(qs(session.path("bus")));
            QVERIFY2(!bus->address().isEmpty(), "dbus-daemon did not start (scripts/setup installs it)");
            QVERIFY(notices.registerOn(QDBusConnection::connectToBus(bus->address(), "notices")));
            environment.insert("DBUS_SESSION_BUS_ADDRESS", bus->address());
        }
        QProcess& app = session.start(items, {"tree"}, environment, {}, program);
        // The notice is answered while the program waits.
        QTRY_COMPARE_WITH_TIMEOUT(app.state(), QProcess::NotRunning, kJobMilliseconds);
        QDBusConnection::disconnectFromBus("notices");
        const BatchRun run = finished(app);
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.out, line).size(), 1);
        QCOMPARE(linesStartingWith(run.out, "load desktop library error:quillmere-desktop.so is neither in ").size(),
                 desktopLibrary ? 0 : 1);
        QCOMPARE(run.out.count('\n'), desktopLibrary ? 1 : 2);
        if (withLibrary)
            QVERIFY2(QString::fromUtf8(run.err).contains("画面に接続できないため、ウィンドウを開けません"), run.err.constData());
        QVERIFY(!session.channelIsOpen());
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(notices.received.size(), desktop && desktopLibrary ? 1u : 0u);
        if (desktop && desktopLibrary) {
            QCOMPARE(notices.received[0].summary, QString("Quillmere を開けません"));
            QVERIFY2(notices.received[0].body.contains("quillmere-window.so") && notices.received[0].body.contains("入れ直して"),
                     qPrintable(notices.received[0].body));
        }
    }

    void batchOutputClosedOrNotRead_data()
    {
        QTest::addColumn<bool>("closedAtStart");
        QTest::newRow("closed before the start") << true;
        QTest::newRow("no one reads it") << false;
    }
    // A script may close standard output, or stop reading it (| head): the
    // job still delivers and leaves nothing behind, and standard error gets
    // text only (with standard output closed, a descriptor of the event
    // loop once took its number, and its counters went to standard error).
    // The report --json asked for was not written: the status says so.
    void batchOutputClosedOrNotRead()
    {
        QFETCH(bool, closedAtStart);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        // With --json the lines go to standard error: only the closed
        // stream is given it, so that the other meets the lines.
        QProcess& app = session.start(items, closedAtStart ? Names{"-b", "--json", "tree"} : Names{"-b", "tree"}, {},
                                      [closedAtStart] {
                                          int ends[2] = {-1, -1};
                                          if (!closedAtStart && ::pipe(ends) == 0)
                                              ::dup2(ends[1], STDOUT_FILENO);
                                          for (const int end : ends)
                                              ::close(end);
                                          if (closedAtStart)
                                              ::close(STDOUT_FILENO);
                                      });
        const BatchRun run = finished(app);
        QCOMPARE(run.status, closedAtStart ? 1 : 0);
        QVERIFY2(!run.err.contains('\0'), run.err.constData());
        QCOMPARE(sortedNames(items + "/archive.zip"), (Names{"archive/tree/a.txt", "archive/tree/sub/b.txt"}));
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }

    void batchEncryptsWithAPasswordNoOneSees_data()
    {
        QTest::addColumn<bool>("fromStdin");
        QTest::addColumn<bool>("variableSet");
        QTest::newRow("QUILLMERE_PASSWORD") << false << true;
        QTest::newRow("--password-stdin") << true << false;
        QTest::newRow("--password-stdin, QUILLMERE_PASSWORD unused") << true << true;
    }
    // The password reaches zipcloak, and no command line or environment of
    // the job's programs shows it while the job runs, not even the variable's
    // when the password comes from standard input; nothing is stored, and
    // --encrypt overrides that.
    void batchEncryptsWithAPasswordNoOneSees()
    {
        QFETCH(bool, fromStdin);
        QFETCH(bool, variableSet);
        Session session;
        const QByteArray password = "Pw-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + (fromStdin ? "-in" : "-env");
        const std::string items = session.path("items");
        writeFile(items + "/large.bin", randomBytes(kMediumFileBytes));
        QProcessEnvironment environment = session.environment();
        Names arguments{"-b", "--encrypt", "large.bin"};
        if (fromStdin)
            arguments.insert(arguments.begin() + 2, "--password-stdin");
        // Unused, the variable's value shares the password's start, which is
        // what is looked for.
        if (variableSet)
            environment.insert("QUILLMERE_PASSWORD", QString::fromLatin1(password + (fromStdin ? "-unused" : "")));
        QProcess& app = session.start(items, arguments, environment);
        QVERIFY(app.waitForStarted(kStartMilliseconds));
        if (fromStdin) {
            app.write(password + "\n");
            app.closeWriteChannel();
        }
        std::set<std::string> holders;
        bool sawEncryptor = false;
        const QByteArray shared = password.left(password.lastIndexOf('-'));
        const std::string program = std::to_string(app.processId());
        while (app.state() != QProcess::NotRunning) {
            const std::set<std::string> now = processesShowing(shared, app.processId());
            holders.insert(now.begin(), now.end());
            // The program's own environment, once the job runs.
            if (sawEncryptor && procFile(program, "environ").contains(shared))
                holders.insert(program + " (the program)");
            sawEncryptor = sawEncryptor || !processesOf({"zipcloak"}, session.home()).empty();
            app.waitForFinished(10);
        }
        for (const std::string& holder : holders)
            qWarning("holds the password: %s", holder.c_str());
        QVERIFY(holders.empty());
        QVERIFY(sawEncryptor);
        QCOMPARE(app.exitCode(), 0);
        const QString archive = qs(items + "/archive.zip");
        QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", "-P" + QString::fromLatin1(password), archive}), 0);
        QVERIFY(QProcess::execute("unzip", {"-qq", "-t", "-Pwrong", archive}) != 0);
    }

    void batchTellsAPasswordForJapaneseWindows_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("noted");
        QTest::addColumn<QString>("typed"); // what opens the archive, where it is ASCII
        QTest::newRow("ASCII") << "plain-Pass 1" << false << "plain-Pass 1";
        QTest::newRow("Japanese") << QStringLiteral("ひみつ-1") << true << QString();
        QTest::newRow("full-width digits") << QStringLiteral("１２３４") << true << QString();
        // As a password file saved by Notepad begins: nothing is typed for it.
        QTest::newRow("a byte-order mark before ASCII") << QStringLiteral("\uFEFFplain-2") << false << "plain-2";
    }
    // As the window does beside the field, the report tells the sender that
    // only Japanese Windows types such a password as given: once, after the
    // delivery, without making the job one that changed something.
    void batchTellsAPasswordForJapaneseWindows()
    {
        QFETCH(QString, password);
        QFETCH(bool, noted);
        QFETCH(QString, typed);
        Session session;
        const std::string items = session.path("items");
        writeFile(items + "/a.txt", "a");
        QProcessEnvironment environment = session.environment();
        environment.insert("QUILLMERE_PASSWORD", password);
        const BatchRun run = finished(session.start(items, {"-b", "--encrypt", "a.txt"}, environment));
        QCOMPARE(run.status, 0);
        const QByteArrayList lines = run.out.trimmed().split('\n');
        QCOMPARE(linesStartingWith(run.out, "archive delivered: ").size(), 1);
        QCOMPARE(linesStartingWith(run.out, "password note: ").size(), noted ? 1 : 0);
        if (noted)
            QVERIFY2(lines.back().startsWith("password note: the password holds characters beyond ASCII"),
                     run.out.constData());
        const QString archive = qs(items + "/archive.zip");
        QVERIFY(QProcess::execute("unzip", {"-qq", "-t", "-Pwrong", archive}) != 0);
        if (!noted)
            QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", "-P" + typed, archive}), 0);
    }

    void aPasswordThatCannotBeReadSaysWhy_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("why");
        QTest::newRow("a folder") << "/" << QByteArray("standard input cannot be read: Is a directory: standard input");
        QTest::newRow("nothing at all") << "/dev/null" << QByteArray("standard input ended before any line");
    }
    // Standard input that cannot be read (a folder), or that holds nothing
    // at all, is told as such, not as an empty password.
    void aPasswordThatCannotBeReadSaysWhy()
    {
        QFETCH(QString, input);
        QFETCH(QByteArray, why);
        Session session;
        const std::string items = session.path("items");
        writeFile(items + "/a.txt", "a");
        const QByteArray inputPath = input.toLocal8Bit();
        QProcess& app = session.start(items, {"-b", "--encrypt", "--password-stdin", "a.txt"}, {}, [inputPath] {
            const int fd = ::open(inputPath.constData(), O_RDONLY);
            ::dup2(fd, STDIN_FILENO);
        });
        const BatchRun run = finished(app);
        QCOMPARE(run.status, 1);
        // One line, with the cause: nothing was typed, so nothing is empty.
        QCOMPARE(run.out, "job refused: the password cannot be used: " + why + "\n");
        QVERIFY(!fs::exists(items + "/archive.zip"));
    }

    void aPasswordPromptHoldsAtTheTerminal_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("then"); // what the user does at the prompt, as expect does it
        QTest::addColumn<int>("status");   // 80: ended by the interrupt itself
        QTest::addColumn<QString>("password"); // of the archive made; none: none made
        const QString ctrlC = QStringLiteral(
            "send \"\\003\"\n"
            "expect eof {} timeout {exit 91}\n"
            "set ended [wait]\n"
            "if {[lindex $ended 4] eq \"CHILDKILLED\" && [lindex $ended 5] eq \"SIGINT\"} {exit 80}\n"
            "exit [lindex $ended 3]\n");
        // Ctrl+Z and fg: the shell hands the terminal back showing what is
        // typed. 70: the password showed.
        const QString stopAndGoOn = QStringLiteral(
            "exec kill -STOP [exp_pid]\n"
            "stty echo < $spawn_out(slave,name)\n"
            "exec kill -CONT [exp_pid]\n"
            "expect {Password: } {} timeout {exit 92}\n"
            "send \"typed-after-fg\\r\"\n"
            "expect typed-after-fg {exit 70} eof {} timeout {exit 93}\n"
            "exit [lindex [wait] 3]\n");
        QTest::newRow("Ctrl+C, English") << "C.UTF-8" << "Password: " << ctrlC << 80 << QString();
        QTest::newRow("Ctrl+C, Japanese") << "ja_JP.UTF-8" << "パスワード: " << ctrlC << 80 << QString();
        QTest::newRow("stopped and brought back") << "C.UTF-8" << "Password: " << stopAndGoOn << 0
                                                  << "typed-after-fg";
    }
    // The prompt is in the user's language and never shows what is typed,
    // not after Ctrl+Z and fg either: the program hides it again and asks
    // again. Ctrl+C at it ends the program there, as at any prompt of a
    // terminal.
    void aPasswordPromptHoldsAtTheTerminal()
    {
        QFETCH(QString, language);
        QFETCH(QString, prompt);
        QFETCH(QString, then);
        QFETCH(int, status);
        QFETCH(QString, password);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        const QString script = QStringLiteral(
            "set timeout 20\n"
            "spawn -noecho {%1} -b --encrypt --password-stdin tree\n"
            "expect {%2} {} timeout {exit 90}\n").arg(QUILLMERE_BINARY, prompt) + then;
        QProcessEnvironment environment = session.environment();
        environment.insert("LC_ALL", language);
        const BatchRun run = finished(session.start(items, {"-c", script.toStdString()}, environment, {}, "expect"));
        QVERIFY2(run.status == status, run.out.constData());
        if (password.isEmpty()) {
            QVERIFY2(run.out.contains("job stopped"), run.out.constData());
            QVERIFY(!fs::exists(items + "/archive.zip"));
        } else {
            QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", "-P" + password, qs(items + "/archive.zip")}), 0);
        }
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }

    // A report that cannot be written is told on standard error, where the
    // other lines go, and the status tells a script not to read it; the
    // archive is there all the same.
    void batchJsonThatCannotBeWrittenIsTold_data() { lostOutputRows(); }
    void batchJsonThatCannotBeWrittenIsTold()
    {
        QFETCH(bool, closed);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        const BatchRun run = finished(session.start(items, {"-b", "--json", "tree"}, {}, [closed] {
            loseOutput(closed);
        }));
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.err, "write report error:"),
                 QByteArrayList{"write report error:" + lostOutputError(closed) + ": standard output"});
        QCOMPARE(sortedNames(items + "/archive.zip"), (Names{"archive/tree/a.txt", "archive/tree/sub/b.txt"}));
    }

    // --help and --version, their text lost, say so, as a program whose
    // output is its work does.
    void textThatCannotBeWrittenFails_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("closed");
        for (const char* option : {"--help", "--version"}) {
            QTest::addRow("%s, on a full disk", option) << QString(option) << false;
            QTest::addRow("%s, closed", option) << QString(option) << true;
        }
    }
    void textThatCannotBeWrittenFails()
    {
        QFETCH(QString, option);
        QFETCH(bool, closed);
        Session session;
        const BatchRun run = finished(session.start(session.path("items"), {option.toStdString()}, {}, [closed] {
            loseOutput(closed);
        }));
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "quillmere: standard output: " + lostOutputError(closed) + "\n");
    }

    void batchJsonHoldsTheReport_data()
    {
        QTest::addColumn<bool>("withWriter");
        QTest::newRow("delivered") << true;
        QTest::newRow("failed") << false;
    }
    // With --json standard output holds nothing but the JSON object, and
    // it says what the lines on standard error say.
    void batchJsonHoldsTheReport()
    {
        QFETCH(bool, withWriter);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", true);
        QProcessEnvironment environment = session.environment();
        fs::create_directories(session.path("bin"));
        if (!withWriter)
            environment.insert("PATH", qs(session.path("bin")));
        const BatchRun run = finished(session.start(items, {"--batch", "--json", "tree"}, environment));
        QCOMPARE(run.status, withWriter ? 3 : 1);
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(run.out, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + ": " + run.out));
        QVERIFY(run.out.endsWith("}\n") && run.out.count('\n') == 1);
        if (!withWriter) {
            QCOMPARE(report["result"].toString(), "failed");
            QCOMPARE(report["archive"].isNull(), true);
            QCOMPARE(report["failure"]["cause"].toString(), "php or its zip extension is missing");
            QCOMPARE(linesStartingWith(run.err, "job refused: php or its zip extension is missing").size(), 1);
            return;
        }
        const QByteArrayList delivered = linesStartingWith(run.err, "archive delivered: ");
        QCOMPARE(delivered.size(), 1);
        QCOMPARE(report["result"].toString(), "delivered");
        const QString counts = QString(" (%1 files, %2 folders)").arg(report["files"].toInt()).arg(report["folders"].toInt());
        QCOMPARE(QString::fromUtf8(delivered.front()), "archive delivered: " + report["archive"].toString() + counts);
        QCOMPARE(report["archive"].toString(), qs(items + "/archive.zip"));
        QCOMPARE(report["renamed"].toArray().size(), linesStartingWith(run.err, "renamed: ").size());
        QCOMPARE(report["renamed"][0]["inArchive"].toString(), "archive/tree/sub/why_.txt");
        QCOMPARE(report["leftOut"].toArray().size(), 0);
        QVERIFY(report["failure"].isNull());
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_Application.moc"
