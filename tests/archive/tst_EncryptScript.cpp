#include "EncryptScript.h"
#include "WorkFolders.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace {

// The literal pieces of the script around the password, as the step
// describes them (the quotation marks belong to the text).
const std::string kPieceC = "; expect \"Enter password:\"; sleep 1; send \"";
const std::string kPieceD = "\"; expect \"Verify password:\"; sleep 1; send \"";
const std::string kPieceE = "\"; sleep 1; spawn mv ";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// A stand-in for zipcloak: prompts like it, records both answers and then
// behaves as $MODE says: "ok", "slow" (finishes after more than expect's
// 10-second limit), "fail" (exit status 3), "killed" (ends by SIGKILL) or
// "quiet" (closes its output, then works on for a second). As it ends
// successfully it marks the archive, so a test can tell whether mv took the
// archive before or after zipcloak had finished.
const char* const kFakeZipcloak = "#!/bin/sh\n"
    "printf 'Enter password: '\n"
    "IFS= read -r first\n"
    "printf '\\nVerify password: '\n"
    "IFS= read -r second\n"
    "printf %s \"$first\" > \"$RECORD/first\"\n"
    "printf %s \"$second\" > \"$RECORD/second\"\n"
    "printf '\\nencrypting: archive/a.txt\\n'\n"
    "case \"$MODE\" in\n"
    "slow) sleep 11 ;;\n"
    "fail) exit 3 ;;\n"
    "killed) kill -9 $$ ;;\n"
    "quiet) exec </dev/null >/dev/null 2>&1; sleep 1 ;;\n"
    "esac\n"
    "printf ' encrypted' >> \"$1\"\n"
    "exit 0\n";

// A stand-in for mv that fails the way mv does, closing its output streams
// as it ends (coreutils closes them at exit), only with a wider gap before
// the process is gone.
const char* const kFakeFailingMv = "#!/bin/sh\n"
    "echo 'mv: cannot move' >&2\n"
    "exec </dev/null >/dev/null 2>&1\n"
    "sleep 1\n"
    "exit 1\n";

struct Scenario {
    std::string password;
    std::string mode = "ok";
    int expectedStatus = 0;
    std::string bin = "bin";
};

// One run of the script under /usr/bin/expect with the stand-in, in a
// folder of its own: home/.quillmere/<staging>/<output>/archive.zip and a
// destination folder.
struct Run {
    Scenario scenario;
    std::string root;
    std::string archivePath;
    std::string destination;
    std::unique_ptr<QProcess> process;
};

} // namespace

class TestEncryptScript : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void ordinaryValuesFollowTheDescribedText_data();
    void ordinaryValuesFollowTheDescribedText();
    void leadingDashIsTypedNotTakenForAnOption();
    void scriptTypesAndDelivers_data();
    void scriptTypesAndDelivers();

private:
    void startRun(const QString& name, const Scenario& scenario);

    QTemporaryDir m_scratch;
    std::map<QString, Run> m_runs;
};

// Every run is started here at once: each waits for its prompts and sleeps
// about two seconds, one waits for a slow stand-in on purpose.
void TestEncryptScript::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QVERIFY(QFile::exists("/usr/bin/expect"));
    // Two folders for PATH: the stand-in zipcloak with the real mv, and
    // the stand-in zipcloak with a failing mv.
    const std::string scratch = QFile::encodeName(m_scratch.path()).toStdString();
    for (const std::string bin : {"bin", "bin-mv"}) {
        std::filesystem::create_directories(scratch + "/" + bin);
        writeFile(scratch + "/" + bin + "/zipcloak", kFakeZipcloak);
        if (bin == "bin-mv")
            writeFile(scratch + "/" + bin + "/mv", kFakeFailingMv);
        for (const char* tool : {"mv", "sh", "sleep", "kill"}) {
            const QString path = QStandardPaths::findExecutable(tool);
            if (!path.isEmpty() && !std::filesystem::exists(scratch + "/" + bin + "/" + tool))
                std::filesystem::create_symlink(QFile::encodeName(path).toStdString(), scratch + "/" + bin + "/" + tool);
        }
        for (const auto& entry : std::filesystem::directory_iterator(scratch + "/" + bin))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add);
    }

    const std::map<QString, Scenario> scenarios = {
        {"letters and digits", {"abc123XYZ"}},
        {"double quote", {"a\"b"}},
        {"backslash", {"a\\b\\"}},
        {"dollar", {"$HOME$x"}},
        {"brackets", {"[exec touch MARKER]"}},
        {"braces", {"{a}}b{"}},
        {"semicolon", {"a;b;"}},
        {"blanks", {" a  b "}},
        {"breakout", {"\"; exec touch MARKER; \""}},
        {"leading dash", {"-abc"}},
        {"only a dash", {"-"}},
        {"double dash", {"--"}},
        {"non-ASCII", {"\xe3\x83\x91\xe3\x82\xb9\xe3\x83\xaf\xe3\x83\xbc\xe3\x83\x89\xc3\xa9"}},
        {"everything", {"a\"b\\c$d[e]f{g}h;i j-k"}},
        {"slow zipcloak", {"pw", "slow"}},
        {"zipcloak fails", {"pw", "fail", EncryptScript::kZipcloakFailed}},
        {"zipcloak killed", {"pw", "killed", EncryptScript::kZipcloakFailed}},
        {"mv fails closing its output first", {"pw", "ok", EncryptScript::kMoveFailed, "bin-mv"}},
        {"zipcloak closes its output before it ends", {"pw", "quiet"}},
    };
    for (const auto& [name, scenario] : scenarios)
        startRun(name, scenario);
}

void TestEncryptScript::cleanupTestCase()
{
    for (auto& [name, run] : m_runs) {
        if (run.process->state() != QProcess::NotRunning) {
            run.process->kill();
            run.process->waitForFinished(5000);
        }
    }
}

void TestEncryptScript::startRun(const QString& name, const Scenario& scenario)
{
    Run& run = m_runs[name];
    run.scenario = scenario;
    run.root = QFile::encodeName(m_scratch.path()).toStdString() + "/" + std::to_string(m_runs.size());
    const std::string home = run.root + "/home dir";
    const std::string tmpDirectory = WorkFolders::tmpDirectory(home);
    std::filesystem::create_directories(WorkFolders::outputFolder(tmpDirectory, WorkFolders::OUTPUT_DIR_NAME));
    run.archivePath = WorkFolders::archivePath(tmpDirectory, WorkFolders::OUTPUT_DIR_NAME, "archive.zip");
    writeFile(run.archivePath, "zip data");
    run.destination = run.root + "/dest dir";
    std::filesystem::create_directories(run.destination);
    size_t marker = 0;
    std::string password = scenario.password;
    while ((marker = password.find("MARKER")) != std::string::npos)
        password.replace(marker, 6, run.root + "/marker");
    run.scenario.password = password;

    const std::string script = EncryptScript::text(run.destination, password, tmpDirectory, "archive.zip",
                                                   WorkFolders::OUTPUT_DIR_NAME);
    run.process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", m_scratch.path() + "/" + QString::fromStdString(scenario.bin));
    environment.insert("MODE", QString::fromStdString(scenario.mode));
    environment.insert("RECORD", QFile::decodeName(run.root.c_str()));
    run.process->setProcessEnvironment(environment);
    run.process->start("/usr/bin/expect", {"-c", QString::fromStdString(script)});
}

void TestEncryptScript::ordinaryValuesFollowTheDescribedText_data()
{
    QTest::addColumn<QString>("destDir");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("archiveName");
    QTest::newRow("desktop") << "/home/user/Desktop" << "abc123" << "/home/user" << "archive.zip";
    QTest::newRow("random") << "/srv/out" << "q8x0v3m2k9s7d1f4" << "/home/u2" << "archive7.zip";
    QTest::newRow("upper case") << "/tmp" << "ABCdef" << "/root" << "archive12.zip";
}

// Up to the second answer the script is the described text, but for the
// children ignoring the hangup expect sends them; after it the script waits
// for zipcloak and for mv and tells their failures apart, where the
// described text slept for fixed times.
void TestEncryptScript::ordinaryValuesFollowTheDescribedText()
{
    QFETCH(QString, destDir);
    QFETCH(QString, password);
    QFETCH(QString, home);
    QFETCH(QString, archiveName);
    const std::string tmpDirectory = home.toStdString() + "/.quillmere";
    const std::string archivePath = tmpDirectory + "/" + WorkFolders::STAGING_DIR_NAME + "/"
        + WorkFolders::OUTPUT_DIR_NAME + "/" + archiveName.toStdString();
    const std::string pw = password.toStdString();
    const std::string described = "set timeout 10; spawn -ignore HUP zipcloak " + archivePath + kPieceC + pw + "\n" + kPieceD
        + pw + "\n" + kPieceE + archivePath + " " + destDir.toStdString() + "/; sleep 3; exit 0;";
    const std::string script = EncryptScript::text(destDir.toStdString(), pw, tmpDirectory,
                                                   archiveName.toStdString(), WorkFolders::OUTPUT_DIR_NAME);

    const size_t sameUpTo = described.find(kPieceE) + 3; // through the closing quote and "; "
    QVERIFY2(script.substr(0, sameUpTo) == described.substr(0, sameUpTo),
             ("script:\n" + script + "\ndescribed:\n" + described).c_str());
    const std::string tail = script.substr(sameUpTo);
    const std::string move = "spawn -ignore HUP mv " + archivePath + " " + destDir.toStdString() + "/;";
    QVERIFY2(tail.find(move) != std::string::npos, tail.c_str());
    QVERIFY2(tail.ends_with("exit 0;"), tail.c_str());
}

void TestEncryptScript::leadingDashIsTypedNotTakenForAnOption()
{
    const std::string script = EncryptScript::text("/d", "-abc", "/h/.quillmere", "archive.zip",
                                                   WorkFolders::OUTPUT_DIR_NAME);
    const std::string send = "send -- \"-abc\n\"";
    const size_t first = script.find(send);
    QVERIFY2(first != std::string::npos, script.c_str());
    QVERIFY2(script.find(send, first + 1) != std::string::npos, script.c_str());
}

void TestEncryptScript::scriptTypesAndDelivers_data()
{
    QTest::addColumn<QString>("name");
    for (const auto& [name, run] : m_runs)
        QTest::newRow(name.toUtf8().constData()) << name;
}

void TestEncryptScript::scriptTypesAndDelivers()
{
    QFETCH(QString, name);
    Run& run = m_runs.at(name);
    QVERIFY2(run.process->waitForFinished(60000), "expect did not end");
    const QByteArray transcript = run.process->readAll();
    QVERIFY2(run.process->exitStatus() == QProcess::NormalExit, transcript.constData());
    QVERIFY2(run.process->exitCode() == run.scenario.expectedStatus,
             (QByteArray::number(run.process->exitCode()) + " " + transcript).constData());

    const std::string delivered = run.destination + "/archive.zip";
    if (run.scenario.expectedStatus == 0) {
        QVERIFY(!std::filesystem::exists(run.archivePath));
        // The mark zipcloak leaves as it ends is in the delivered file: mv
        // ran only after zipcloak had finished.
        QCOMPARE(readFile(delivered), std::string("zip data encrypted"));
    } else {
        QVERIFY(std::filesystem::exists(run.archivePath));
        QVERIFY(!std::filesystem::exists(delivered));
    }
    QCOMPARE(readFile(run.root + "/first"), run.scenario.password);
    QCOMPARE(readFile(run.root + "/second"), run.scenario.password);
    QVERIFY(!std::filesystem::exists(run.root + "/marker"));
}

QTEST_GUILESS_MAIN(TestEncryptScript)
#include "tst_EncryptScript.moc"
