// The real program under a private home, runtime and configuration folder.
// The home's path is long and holds blanks and quotes: the single-instance
// socket once lived below it and could not be reached from such a path.
#include "ZipReader.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const int kStartMilliseconds = 20000;
const int kJobMilliseconds = 30000;

QString qs(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// Alive, and not merely waiting for init to reap it.
bool isRunning(const std::string& pid)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    const std::string text{std::istreambuf_iterator<char>(stat), {}};
    return !text.empty() && text.find(") Z ") == std::string::npos;
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
    // True once the running instance listens in the private runtime folder.
    bool channelIsOpen() const
    {
        return !QDir(qs(path("run/quillmere"))).entryList({"*.sock"}, QDir::System).isEmpty();
    }

    // Starts the program in folder, with standIns searched before $PATH.
    QProcess& start(const std::string& folder, const Names& arguments, const QString& standIns = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", qs(home()));
        environment.insert("XDG_RUNTIME_DIR", qs(path("run")));
        environment.insert("XDG_CONFIG_HOME", qs(path("config")));
        environment.insert("QUILLMERE_TEST_MARKS", qs(path("marks")));
        // The program has to find its name converter on its own.
        environment.remove("GCONV_PATH");
        if (!standIns.isEmpty())
            environment.insert("PATH", standIns + ':' + environment.value("PATH"));
        QStringList qtArguments;
        for (const std::string& argument : arguments)
            qtArguments << qs(argument);
        QProcess& process = *m_processes.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
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
    }
    // Ended in the middle of a job, the program ends as quitting does: every
    // program of the job ended, even one in a session of its own, the
    // staging folder gone and nothing delivered.
    void aSignalEndsTheJobAndItsPrograms()
    {
        QFETCH(int, signalNumber);
        Session session;
        const std::string items = session.path("items");
        std::ofstream(items + "/report.txt") << "report\n";
        QProcess& app = session.start(items, {items + "/report.txt"}, QUILLMERE_STANDINS);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(session.path("marks/writing")), kStartMilliseconds);
        std::string writer, helper;
        std::ifstream(session.path("marks/writing")) >> helper >> writer;
        QVERIFY(isRunning(writer));
        QVERIFY(isRunning(helper));

        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        QVERIFY(app.waitForFinished(kJobMilliseconds));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QTRY_VERIFY(!isRunning(writer));
        QTRY_VERIFY(!isRunning(helper));
        QVERIFY(!fs::exists(items + "/archive.zip"));
        const QDir work(qs(session.home() + "/.quillmere"));
        QCOMPARE(work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 QStringList{"instance.lock"});
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_Application.moc"
