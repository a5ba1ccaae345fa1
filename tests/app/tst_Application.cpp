// The real program under a private home, runtime and configuration folder.
// The home's path is long and holds blanks and quotes: the single-instance
// socket once lived below it and could not be reached from such a path.
#include "NotificationService.h"
#include "PrivateBus.h"
#include "TestFiles.h"
#include "TmpfsMounts.h"
#include "WorkRoot.h"
#include "ZipReader.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const int kStartMilliseconds = 20000;
const int kJobMilliseconds = 30000;
const int kEncryptingMilliseconds = 40000;
// How long the programs of a job may outlive the application.
const int kOrphanMilliseconds = 2000;
// How long the program may take to end on a signal while it stages.
const int kStagingEndMilliseconds = 1000;
// Incompressible, so that zipcloak has a while to work on it.
const qint64 kLargeFileBytes = 300'000'000;
// Large enough that encrypting it is seen running.
const qint64 kMediumFileBytes = 40'000'000;

QString qs(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// A file of /proc, read without iostreams: a process that ends while it is
// read makes an empty text, not an exception.
QByteArray procFile(const std::string& pid, const char* name)
{
    QFile file(qs("/proc/" + pid + "/" + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const std::string pid = entry.toStdString();
        const QByteArray commandLine = procFile(pid, "cmdline");
        const QByteArray program = commandLine.left(commandLine.indexOf('\0'));
        if (programs.count(program.mid(program.lastIndexOf('/') + 1))
            && procFile(pid, "environ").split('\0').contains(homeEntry) && isRunning(pid))
            found.insert(pid);
    }
    return found;
}

bool writeRandomFile(const std::string& path, qint64 size)
{
    QFile random("/dev/urandom");
    QFile file(qs(path));
    if (!random.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 written = 0; written < size;) {
        const QByteArray block = random.read(std::min<qint64>(size - written, 1 << 20));
        if (block.isEmpty() || file.write(block) != block.size())
            return false;
        written += block.size();
    }
    return true;
}

// A batch run's end: its status and what it wrote where.
struct BatchRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

BatchRun finished(QProcess& process)
{
    BatchRun run;
    if (!process.waitForFinished(kJobMilliseconds) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
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

// A folder of two files in two folders, and optionally a third file whose
// name Windows refuses.
void makeTree(const std::string& tree, bool withRefusedName)
{
    fs::create_directories(tree + "/sub");
    std::ofstream(tree + "/a.txt") << "a\n";
    std::ofstream(tree + "/sub/b.txt") << "b\n";
    if (withRefusedName)
        std::ofstream(tree + "/sub/why?.txt") << "c\n";
}

// Processes whose command line, which every user of the machine can read,
// holds text.
// The processes whose command line shows text, or whose environment does
// (but for the program's own, which holds it until the program clears it).
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
    // The options a job takes from the settings file, as the window would
    // have stored them.
    void storeEncryption(const std::string& password) const
    {
        fs::create_directories(path("config/Quillmere"));
        std::ofstream(path("config/Quillmere/Quillmere.conf"))
            << "[settings]\nisEncrypt=true\npassword=" << password << "\nisSelectDir=false\n";
    }
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

    // Starts the program in folder, with standIns searched before $PATH.
    QProcess& start(const std::string& folder, const Names& arguments, const QString& standIns = {})
    {
        return start(folder, arguments, environment(standIns), QProcess::ForwardedChannels);
    }
    QProcess& start(const std::string& folder, const Names& arguments, const QProcessEnvironment& environment,
                    QProcess::ProcessChannelMode channels)
    {
        QStringList qtArguments;
        for (const std::string& argument : arguments)
            qtArguments << qs(argument);
        QProcess& process = *m_processes.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(channels);
        process.setWorkingDirectory(qs(folder));
        process.start(QUILLMERE_BINARY, qtArguments);
        return process;
    }

private:
    QTemporaryDir m_base;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    // A later start, given a path relative to its own working folder as a
    // file manager gives it, hands it over and ends with status 0; the
    // running instance makes the archive.
    void aSecondStartHandsItsPathsToTheRunningInstance()
    {
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/first.txt") << "first\n";
        QProcess& first = session.start(session.home(), {});
        QTRY_VERIFY_WITH_TIMEOUT(session.channelIsOpen(), kStartMilliseconds);

        QProcess& later = session.start(items, {"first.txt"});
        QVERIFY(later.waitForFinished(kStartMilliseconds));
        QCOMPARE(later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(later.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive.zip"), kJobMilliseconds);
        QCOMPARE(ZipReader(items + "/archive.zip").names(), Names{"archive/first.txt"});
        QCOMPARE(first.state(), QProcess::Running);
    }

    void aSignalEndsTheJobAndItsPrograms_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGQUIT") << int(SIGQUIT);
    }
    // Ended in the middle of a job, the program ends as quitting does: every
    // program of the job ended, even one in a session of its own, the
    // staging folder gone and nothing delivered. The running job and the
    // one handed over meanwhile each end with their line.
    void aSignalEndsTheJobAndItsPrograms()
    {
        QFETCH(int, signalNumber);
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/report.txt") << "report\n";
        std::ofstream(items + "/later.txt") << "later\n";
        QProcess& app = session.start(items, {items + "/report.txt"}, session.environment(QUILLMERE_STANDINS),
                                      QProcess::SeparateChannels);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        std::string writer, helper;
        std::ifstream(session.path("marks/writing")) >> helper >> writer;
        QVERIFY(isRunning(writer));
        QVERIFY(isRunning(helper));
        QProcess& later = session.start(items, {"later.txt"});
        QVERIFY(later.waitForFinished(kStartMilliseconds));
        QCOMPARE(later.exitCode(), 0);

        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        const QByteArray output = app.readAllStandardOutput();
        QVERIFY2(output.contains("\njob stopped\n"), output.constData());
        QVERIFY2(output.contains(("\njob not started: " + items + "/later.txt\n").c_str()), output.constData());
        QTRY_VERIFY(!isRunning(writer));
        QTRY_VERIFY(!isRunning(helper));
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
    }

    void aSignalIgnoredAtStartStaysIgnored_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGHUP (nohup)") << int(SIGHUP);
        QTest::newRow("SIGINT (a job started in the background)") << int(SIGINT);
    }
    // A signal the program was started to ignore does not end the job; the
    // ones it was not are still handled.
    void aSignalIgnoredAtStartStaysIgnored()
    {
        QFETCH(int, signalNumber);
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/report.txt") << "report\n";
        QProcess app;
        app.setProcessEnvironment(session.environment(QUILLMERE_STANDINS));
        app.setWorkingDirectory(qs(items));
        app.setChildProcessModifier([signalNumber] { ::signal(signalNumber, SIG_IGN); });
        app.start(QUILLMERE_BINARY, {"-b", "report.txt"});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        // Signals are taken in the order sent: were the first one caught,
        // its number would be the one the program ends on.
        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
        const QByteArray output = app.readAllStandardOutput();
        QVERIFY2(output.contains("ending on signal " + QByteArray::number(SIGTERM) + " "), output.constData());
        QVERIFY2(!output.contains("ending on signal " + QByteArray::number(signalNumber) + " "), output.constData());
        QVERIFY(!fs::exists(items + "/archive.zip"));
    }

    // A signal while a huge tree is being staged (a link the user gave to
    // a system folder) ends the program at once: the stagers stop between
    // two files, and what they staged goes.
    // A job killed on its way left its hidden part file beside the user's
    // items and its staging folder; the next start takes both away, and
    // nothing that only looks like them.
    void theNextStartRemovesWhatAKilledJobLeft()
    {
        Session session;
        const std::string items = session.path("items");
        const std::string part = items + "/.archive-killedjob123.zip.part";
        const std::string users = items + "/.archive-usersown.zip.part";
        std::ofstream(part) << "the dead job's part";
        std::ofstream(users) << "the user's own file";
        const std::string work = session.home() + "/.quillmere";
        const std::string staging = work + "/34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225-killedjb";
        fs::create_directories(staging + "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56/archive");
        fs::permissions(work, fs::perms::owner_all);
        QProcess gone; // its process id names no one now
        gone.start("/bin/true");
        QVERIFY(gone.waitForFinished());
        const auto hex = [](const std::string& path) { return QByteArray::fromStdString(path).toHex().toStdString(); };
        fs::create_directories(work + "/journal");
        std::ofstream(work + "/journal/killedjb") << "owner " << gone.processId() << " 1\nstaging " << hex(staging)
                                                  << " 0 0\npart " << hex(part) << " 0 0\n";

        QProcess& app = session.start(items, {});
        QTRY_VERIFY_WITH_TIMEOUT(!fs::exists(part) && !fs::exists(staging), kStartMilliseconds);
        QCOMPARE(session.leftInWorkFolder(), (QStringList{"instance.channel", "instance.lock"}));
        QVERIFY(fs::exists(users));
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
    }

    void aSignalEndsStagingAtOnce()
    {
        Session session;
        const std::string items = session.path("items");
        fs::create_directory_symlink("/usr/share", items + "/shared");
        QProcess& app = session.start(items, {items + "/shared"});
        QTRY_VERIFY_WITH_TIMEOUT(session.isStaging(), kStartMilliseconds);

        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        QElapsedTimer ending;
        ending.start();
        QVERIFY(app.waitForFinished(kJobMilliseconds));
        qInfo("ended %lld ms after the signal", ending.elapsed());
        QVERIFY(ending.elapsed() < kStagingEndMilliseconds);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
    }

    // Killed outright, the program cannot end its job; the job's programs,
    // even the helper in a session of its own, end all the same.
    void killingTheProgramEndsTheWriter()
    {
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/report.txt") << "report\n";
        QProcess& app = session.start(items, {items + "/report.txt"}, QUILLMERE_STANDINS);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        std::string writer, helper;
        std::ifstream(session.path("marks/writing")) >> helper >> writer;
        const std::string shell = parentOf(writer);
        QVERIFY(isRunning(writer));
        QVERIFY(isRunning(helper));
        QVERIFY(isRunning(shell));
        QCOMPARE(QByteArray(procFile(shell, "cmdline").left(7)), QByteArray("/bin/sh"));

        app.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(writer) && !isRunning(shell) && !isRunning(helper), kOrphanMilliseconds);
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
        std::ofstream(stick + "/report.txt") << "report\n";
        std::ofstream(run + "/other") << "not the job's\n";
        QProcess& app = session.start(stick, {stick + "/report.txt"}, QUILLMERE_STANDINS);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        const QDir memory(qs(run + "/quillmere"));
        const QStringList staged = memory.entryList({"34a928*"}, QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(staged.size(), qsizetype(1));
        QVERIFY(fs::is_symlink(run + "/quillmere/" + staged.front().toStdString() + "/archive/report.txt"));
        app.kill();
        QVERIFY(app.waitForFinished(kJobMilliseconds));

        std::ofstream(stick + "/next.txt") << "next\n";
        QProcess& next = session.start(stick, {stick + "/next.txt"});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(stick + "/archive.zip"), kJobMilliseconds);
        ::kill(static_cast<pid_t>(next.processId()), SIGTERM);
        QVERIFY(next.waitForFinished(kJobMilliseconds));
        QCOMPARE(ZipReader(stick + "/archive.zip").names(), Names{"archive/next.txt"});
        QCOMPARE(memory.entryList({"34a928*"}, QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(fs::exists(run + "/other"));
        QCOMPARE(session.leftInWorkFolder(), QStringList{"instance.lock"});
    }

    // The same with expect and zipcloak, which expect starts in a session of
    // its own, in the middle of encrypting a large archive.
    void killingTheProgramEndsTheEncryption()
    {
        Session session;
        session.storeEncryption("some-password");
        const std::string items = session.path("items");
        QVERIFY(writeRandomFile(items + "/large.bin", kLargeFileBytes));
        QProcess& app = session.start(items, {items + "/large.bin"});
        std::set<std::string> zipcloak;
        QTRY_VERIFY_WITH_TIMEOUT(!(zipcloak = processesOf({"zipcloak"}, session.home())).empty(),
                                 kEncryptingMilliseconds);
        QCOMPARE(zipcloak.size(), size_t(1));
        const std::string& encryptor = *zipcloak.begin();
        QVERIFY(procFile(encryptor, "cmdline").contains(QByteArray::fromStdString(session.home())));
        QCOMPARE(processesOf({"expect"}, session.home()), std::set<std::string>{parentOf(encryptor)});

        app.kill();
        QTRY_VERIFY_WITH_TIMEOUT(processesOf({"expect", "zipcloak"}, session.home()).empty(), kOrphanMilliseconds);

        // The next start's job is untouched by what the killed one left, and
        // what that one left is gone.
        std::ofstream(items + "/next.txt") << "next\n";
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

    void batchArchivesAndTellsWhatChanged_data()
    {
        QTest::addColumn<bool>("withRefusedName");
        QTest::addColumn<int>("status");
        QTest::addColumn<Names>("names");
        const Names plain{"archive/tree/a.txt", "archive/tree/sub/b.txt"};
        Names renamed = plain;
        renamed.push_back("archive/tree/sub/why_.txt");
        QTest::newRow("as given") << false << 0 << plain;
        QTest::newRow("renamed") << true << 3 << renamed;
    }
    // --batch makes the archive itself, beside the first item, and ends
    // with it: no window's channel, nothing left in the work folder.
    void batchArchivesAndTellsWhatChanged()
    {
        QFETCH(bool, withRefusedName);
        QFETCH(int, status);
        QFETCH(Names, names);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", withRefusedName);
        const BatchRun run = finished(session.start(items, {"--batch", "tree"}, session.environment(), QProcess::SeparateChannels));
        QCOMPARE(run.status, status);
        Names found = ZipReader(items + "/archive.zip").names();
        std::sort(found.begin(), found.end());
        QCOMPARE(found, names);
        QCOMPARE(linesStartingWith(run.out, "archive delivered: ").size(), 1);
        QCOMPARE(linesStartingWith(run.out, "renamed: tree/sub/why?.txt -> archive/tree/sub/why_.txt").size(), withRefusedName ? 1 : 0);
        QVERIFY(!session.channelIsOpen());
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }

    void batchTakesTheItemAPathLeadsTo_data()
    {
        QTest::addColumn<std::string>("folder"); // the working folder, below items
        QTest::addColumn<std::string>("given");
        QTest::addColumn<std::string>("archive"); // below items
        QTest::addColumn<Names>("names");
        const Names tree{"archive/tree/a.txt", "archive/tree/sub/b.txt"};
        QTest::newRow("the working folder") << std::string("tree") << std::string(".") << std::string("archive.zip")
                                            << tree;
        QTest::newRow("the folder above") << std::string("tree/sub") << std::string("..")
                                          << std::string("archive.zip") << tree;
        QTest::newRow("dots and slashes on the way") << std::string("") << std::string("./tree//sub/../sub/.")
                                                     << std::string("tree/archive.zip") << Names{"archive/sub/b.txt"};
        // "link/.." is where the link's target lies, as for the shell's ls.
        QTest::newRow("above a link") << std::string("") << std::string("link/..") << std::string("archive.zip")
                                      << tree;
    }
    // An item comes by its own name, and the archive goes beside it.
    void batchTakesTheItemAPathLeadsTo()
    {
        QFETCH(std::string, folder);
        QFETCH(std::string, given);
        QFETCH(std::string, archive);
        QFETCH(Names, names);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        fs::create_directory_symlink("tree/sub", items + "/link");
        const BatchRun run = finished(
            session.start(items + "/" + folder, {"-b", given}, session.environment(), QProcess::SeparateChannels));
        QVERIFY2(run.status == 0, run.out.constData());
        QCOMPARE(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + items + "/" + archive + " ("))
                     .size(),
                 1);
        Names found = ZipReader(items + "/" + archive).names();
        std::sort(found.begin(), found.end());
        QCOMPARE(found, names);
    }

    void batchTakesNoItemAPathDoesNotLeadTo_data()
    {
        QTest::addColumn<std::string>("given");
        QTest::newRow("above a folder that is not there") << std::string("typo/..");
        QTest::newRow("a file taken for a folder") << std::string("a.txt/.");
        QTest::newRow("a file with a slash") << std::string("a.txt/");
        QTest::newRow("through a file") << std::string("a.txt/../a.txt");
    }
    // The kernel refuses these paths: the job does too, and never takes the
    // working folder or the file for them.
    void batchTakesNoItemAPathDoesNotLeadTo()
    {
        QFETCH(std::string, given);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        const BatchRun run = finished(
            session.start(items + "/tree", {"-b", given}, session.environment(), QProcess::SeparateChannels));
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.out, "job refused: ").size(), 1);
        QVERIFY(!fs::exists(items + "/archive.zip") && !fs::exists(items + "/tree/archive.zip"));
    }

    void batchNamesTheArchiveAfterTheItems_data()
    {
        QTest::addColumn<Names>("given");
        QTest::addColumn<QStringList>("archives"); // after two runs, in order
        QTest::addColumn<Names>("entries"); // raw bytes: 見積書 in code page 932
        const std::string quote = "\x8c\xa9\x90\xcf\x8f\x91.xlsx";
        QTest::newRow("a file loses its extension") << Names{"tree/見積書.xlsx"}
            << QStringList{"見積書.zip", "見積書1.zip"} << Names{"archive/" + quote};
        QTest::newRow("a folder keeps its name") << Names{"tree/sub"}
            << QStringList{"sub.zip", "sub1.zip"} << Names{"archive/sub/b.txt"};
        QTest::newRow("several: the folder that holds them") << Names{"tree/a.txt", "tree/見積書.xlsx"}
            << QStringList{"tree.zip", "tree1.zip"} << Names{"archive/a.txt", "archive/" + quote};
        QTest::newRow("a name Windows refuses") << Names{"tree/why?.txt"}
            << QStringList{"why_.zip", "why_1.zip"} << Names{"archive/why_.txt"};
        QTest::newRow("a name a shell would read") << Names{"tree/it's $HOME `id`.txt"}
            << QStringList{"it's $HOME `id`.zip", "it's $HOME `id`1.zip"} << Names{"archive/it's $HOME `id`.txt"};
    }
    // The archive takes the items' name, with the same first-free-name rule;
    // what is inside does not change.
    void batchNamesTheArchiveAfterTheItems()
    {
        QFETCH(Names, given);
        QFETCH(QStringList, archives);
        QFETCH(Names, entries);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        writeFile(items + "/tree/見積書.xlsx", "quote");
        writeFile(items + "/tree/why?.txt", "why");
        writeFile(items + "/tree/it's $HOME `id`.txt", "shell");
        Names arguments{"-b", "--name-after-items"};
        arguments.insert(arguments.end(), given.begin(), given.end());
        for (const QString& archive : archives) {
            const BatchRun run = finished(session.start(items, arguments, session.environment(), QProcess::SeparateChannels));
            QVERIFY2(run.status == 0 || run.status == 3, run.out.constData());
            const std::string path = items + "/tree/" + archive.toStdString();
            QCOMPARE(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + path + " (")).size(), 1);
            Names found = ZipReader(path).names();
            std::sort(found.begin(), found.end());
            QCOMPARE(found, entries);
        }
        QVERIFY(!fs::exists(items + "/tree/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }

    // A batch job is no second start: with a window running, it makes the
    // archive itself and the window is not told.
    void aBatchJobBesideTheWindowRunsOnItsOwn()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        QProcess& window = session.start(session.home(), {});
        QTRY_VERIFY_WITH_TIMEOUT(session.channelIsOpen(), kStartMilliseconds);
        const BatchRun run = finished(session.start(items, {"-b", "tree/a.txt"}, session.environment(), QProcess::SeparateChannels));
        QCOMPARE(run.status, 0);
        QCOMPARE(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + items + "/tree/archive.zip")).size(), 1);
        QCOMPARE(ZipReader(items + "/tree/archive.zip").names(), Names{"archive/a.txt"});
        QCOMPARE(window.state(), QProcess::Running);
    }

    // A batch job starts without the window's libraries, whose loading
    // would be most of its start; a window start loads them.
    void onlyAWindowLoadsTheWindowsLibraries_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("batch job") << false;
        QTest::newRow("window") << true;
    }

    void onlyAWindowLoadsTheWindowsLibraries()
    {
        QFETCH(bool, window);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        QProcessEnvironment environment = session.environment();
        // The loader writes what it loads to a file per process.
        environment.insert("LD_DEBUG", "files");
        environment.insert("LD_DEBUG_OUTPUT", qs(session.path("loaded")));
        QProcess& app = session.start(items, window ? Names{} : Names{"-b", "tree/a.txt"}, environment,
                                      QProcess::SeparateChannels);
        QVERIFY(app.waitForStarted());
        const std::string loadedFile = session.path("loaded." + std::to_string(app.processId()));
        if (window) {
            QTRY_VERIFY_WITH_TIMEOUT(session.channelIsOpen(), kStartMilliseconds);
        } else {
            QCOMPARE(finished(app).status, 0);
            QCOMPARE(ZipReader(items + "/tree/archive.zip").names(), Names{"archive/a.txt"});
        }
        std::stringstream loaded;
        loaded << std::ifstream(loadedFile).rdbuf();
        QVERIFY2(loaded.str().find("libQt6Core.so") != std::string::npos, loadedFile.c_str());
        for (const char* library : {"quillmere-window.so", "libQt6Widgets.so", "libQt6Gui.so", "libQt6Network.so"})
            QVERIFY2((loaded.str().find(library) != std::string::npos) == window, library);
    }

    // An installation that lost the window's library says so in one line
    // and ends; a batch job does not need it.
    void aWindowStartWithoutItsLibrarySaysSo_data()
    {
        QTest::addColumn<bool>("desktop");
        QTest::newRow("no session bus") << false;
        QTest::newRow("a notification service") << true;
    }
    // Started from a menu, the user sees the desktop's notice; a terminal
    // shows the line.
    void aWindowStartWithoutItsLibrarySaysSo()
    {
        QFETCH(bool, desktop);
        Session session;
        const std::string alone = session.path("alone");
        fs::create_directories(alone);
        fs::copy_file(QUILLMERE_BINARY, alone + "/quillmere");
        QProcessEnvironment environment = session.environment();
        std::optional<PrivateBus> bus;
        NotificationService notices;
        if (desktop) {
            bus.emplace(qs(session.path("bus")));
            QVERIFY2(!bus->address().isEmpty(), "dbus-daemon did not start (scripts/setup installs it)");
            QDBusConnection service = QDBusConnection::connectToBus(bus->address(), "notices");
            QVERIFY(notices.registerOn(service));
            environment.insert("DBUS_SESSION_BUS_ADDRESS", bus->address());
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(qs(alone + "/quillmere"), {});
        // The notice is answered while the program waits.
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, kJobMilliseconds);
        QDBusConnection::disconnectFromBus("notices");
        QCOMPARE(program.exitCode(), 1);
        const QByteArray out = program.readAllStandardOutput();
        QCOMPARE(linesStartingWith(out, "load window error:quillmere-window.so is neither in " + QFile::encodeName(qs(alone)) + " nor in ").size(), 1);
        QCOMPARE(out.count('\n'), 1);
        QVERIFY(!session.channelIsOpen());
        if (!desktop)
            return;
        QCOMPARE(notices.received.size(), 1u);
        QCOMPARE(notices.received[0].summary, QString("Quillmere を開けません"));
        QVERIFY2(notices.received[0].body.contains("quillmere-window.so") && notices.received[0].body.contains("入れ直して"),
                 qPrintable(notices.received[0].body));
    }

    // Over ssh, say: the user is told in their language why no window
    // opens and what works instead; no crash, nothing begun.
    void aWindowStartWithoutADisplaySaysSo()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        QProcessEnvironment environment = session.environment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES"})
            environment.remove(variable);
        environment.insert("LANG", "ja_JP.UTF-8");
        const BatchRun run = finished(session.start(items, {"tree"}, environment, QProcess::SeparateChannels));
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.out, "load window error:no display could be reached (DISPLAY unset)").size(), 1);
        QCOMPARE(run.out.count('\n'), 1);
        QVERIFY2(QString::fromUtf8(run.err).contains("画面に接続できないため、ウィンドウを開けません"), run.err.constData());
        QVERIFY(!session.channelIsOpen());
        QVERIFY(!fs::exists(items + "/archive.zip"));
    }

    // Without php the job is refused at once, with its cause.
    void batchWithoutTheWriterFails()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        fs::create_directories(session.path("bin"));
        QProcessEnvironment environment = session.environment();
        environment.insert("PATH", qs(session.path("bin")));
        const BatchRun run = finished(session.start(items, {"-b", "tree"}, environment, QProcess::SeparateChannels));
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.out, "job refused: php or its zip extension is missing: ").size(), 1);
        QVERIFY(!fs::exists(items + "/archive.zip"));
    }

    // A relative --output is taken from the working folder.
    void batchPutsTheArchiveIntoTheOutputFolder()
    {
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        fs::create_directories(session.path("out"));
        const BatchRun run = finished(session.start(items, {"-b", "--output", "../out/", "tree/a.txt"}, session.environment(), QProcess::SeparateChannels));
        QCOMPARE(run.status, 0);
        QCOMPARE(ZipReader(session.path("out/archive.zip")).names(), Names{"archive/a.txt"});
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(linesStartingWith(run.out, QByteArray::fromStdString("archive delivered: " + session.path("out/archive.zip") + " (")).size(), 1);
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
    void batchOutputClosedOrNotRead()
    {
        QFETCH(bool, closedAtStart);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        QProcess process;
        process.setProcessEnvironment(session.environment());
        process.setWorkingDirectory(qs(items));
        process.setChildProcessModifier([closedAtStart] {
            int ends[2] = {-1, -1};
            if (!closedAtStart && ::pipe(ends) == 0)
                ::dup2(ends[1], STDOUT_FILENO);
            for (const int end : ends)
                ::close(end);
            if (closedAtStart)
                ::close(STDOUT_FILENO);
        });
        // With --json the lines go to standard error: only the closed
        // stream is given it, so that the other meets the lines.
        process.start(QUILLMERE_BINARY, closedAtStart ? QStringList{"-b", "--json", "tree"} : QStringList{"-b", "tree"});
        const BatchRun run = finished(process);
        QCOMPARE(run.status, 0);
        QVERIFY2(!run.err.contains('\0'), run.err.constData());
        Names names = ZipReader(items + "/archive.zip").names();
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (Names{"archive/tree/a.txt", "archive/tree/sub/b.txt"}));
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
        QVERIFY(writeRandomFile(items + "/large.bin", kMediumFileBytes));
        QProcessEnvironment environment = session.environment();
        Names arguments{"-b", "--encrypt", "large.bin"};
        if (fromStdin)
            arguments.insert(arguments.begin() + 2, "--password-stdin");
        // Unused, the variable's value shares the password's start, which is
        // what is looked for.
        if (variableSet)
            environment.insert("QUILLMERE_PASSWORD", QString::fromLatin1(password + (fromStdin ? "-unused" : "")));
        QProcess& app = session.start(items, arguments, environment, QProcess::SeparateChannels);
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

    void aPasswordPromptEndsOnCtrlC_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("English") << "C.UTF-8" << "Password: ";
        QTest::newRow("Japanese") << "ja_JP.UTF-8" << "パスワード: ";
    }
    // The prompt is in the user's language; Ctrl+C at it ends the program
    // there, as at any prompt of a terminal.
    void aPasswordPromptEndsOnCtrlC()
    {
        QFETCH(QString, language);
        QFETCH(QString, prompt);
        Session session;
        const std::string items = session.path("items");
        makeTree(items + "/tree", false);
        const QString script = QStringLiteral(
            "set timeout 20\n"
            "spawn -noecho {%1} -b --encrypt --password-stdin tree\n"
            "expect {%2} {} timeout {exit 90}\n"
            "send \"\\003\"\n"
            "expect eof {} timeout {exit 91}\n"
            "exit [lindex [wait] 3]\n").arg(QUILLMERE_BINARY, prompt);
        QProcess expect;
        QProcessEnvironment environment = session.environment();
        environment.insert("LC_ALL", language);
        expect.setProcessEnvironment(environment);
        expect.setWorkingDirectory(qs(items));
        expect.start("expect", {"-c", script});
        QVERIFY(expect.waitForFinished(kJobMilliseconds));
        const QByteArray shown = expect.readAllStandardOutput();
        QCOMPARE(expect.exitCode(), 1);
        QVERIFY2(shown.contains("job stopped"), shown.constData());
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(session.leftInWorkFolder(), QStringList());
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
        const BatchRun run = finished(session.start(items, {"--batch", "--json", "tree"}, environment, QProcess::SeparateChannels));
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

    // Ctrl+C in the middle of a batch job ends it as cancelling does:
    // nothing delivered, no program left, nothing left in the work folder.
    void interruptingABatchJobLeavesNothing()
    {
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/report.txt") << "report\n";
        QProcess& app = session.start(items, {"-b", "report.txt"}, session.environment(QUILLMERE_STANDINS), QProcess::SeparateChannels);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        std::string writer, helper;
        std::ifstream(session.path("marks/writing")) >> helper >> writer;
        QVERIFY(isRunning(writer));

        ::kill(static_cast<pid_t>(app.processId()), SIGINT);
        const BatchRun run = finished(app);
        QCOMPARE(run.status, 1);
        QCOMPARE(linesStartingWith(run.out, "job stopped").size(), 1);
        QVERIFY(!isRunning(writer));
        QVERIFY(!isRunning(helper));
        QVERIFY(!fs::exists(items + "/archive.zip"));
        QCOMPARE(QDir(qs(items)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"report.txt"});
        QCOMPARE(session.leftInWorkFolder(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_Application.moc"
