// The two command texts the job hands to other programs: the writer command
// for /bin/sh, byte for byte, and the encryption script, run by the real
// expect against stand-ins for zipcloak and mv.
#include "EncryptScript.h"
#include "TclText.h"
#include "WorkFolders.h"
#include "WriterCommand.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kOutput = "/34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225"
                            "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56";
const std::string kProgramA = "; php -r 'function isDirEmpty($dir) { if (!is_readable($dir)) return NULL; return "
                              "(count(glob($dir . \"/*\"))); } $za = new ZipArchive(); $za->open(\"";
const std::string kProgramB =
    "\", ZIPARCHIVE::CREATE); $iterator = new RecursiveDirectoryIterator(\"archive\"); $iterator = new "
    "RecursiveIteratorIterator($iterator); $list = array(); foreach ($iterator as $fileinfo) { if ($fileinfo->isFile()) "
    "{ if (strpos($fileinfo->getPathname(),\".DS_Store\") === false) { $za->addFile($fileinfo->getPathname(), "
    "iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", $fileinfo->getPathname())); } } else { if "
    "(substr($fileinfo->getPathname(), -3) == \"/..\") { $dirName = substr($fileinfo->getPathname() , 0, "
    "strlen($fileinfo->getPathname()) - 2); if (isDirEmpty($dirName) == 0) { $za->addEmptyDir(iconv(\"UTF-8-MAC\", "
    "\"CP932//TRANSLIT\", $dirName)); }} } } $za->close();'";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

class TestScripts : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();
    const std::string m_standins = QFINDTESTDATA("standins").toStdString();

    // expect runs the script with the stand-ins first in its search path.
    int runScript(const std::string& archive, const std::string& target, const std::string& password,
                  const QString& mode, const std::string& record)
    {
        QProcess expect;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", QString::fromStdString(m_standins) + ":" + environment.value("PATH"));
        environment.insert("MODE", mode);
        environment.insert("RECORD", QString::fromStdString(record));
        environment.insert(EncryptScript::kPasswordVariable, QString::fromStdString(password));
        expect.setProcessEnvironment(environment);
        expect.start("/usr/bin/expect", {"-c", QString::fromStdString(EncryptScript::text(archive, target))});
        if (!expect.waitForFinished(30000) || expect.exitStatus() != QProcess::NormalExit)
            return -1;
        return expect.exitCode();
    }

private slots:
    void writerCommandIsTheDescribedText_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QString>("cdTarget");
        QTest::newRow("plain home") << "/home/user" << "archive.zip" << "/home/user/.quillmere" + QString::fromStdString(kOutput);
        QTest::newRow("numbered archive") << "/home/u-1.x" << "archive12.zip" << "/home/u-1.x/.quillmere" + QString::fromStdString(kOutput);
        // A home the shell would split or expand is quoted as one word.
        QTest::newRow("home with a blank and a quote") << "/home/a b'c" << "archive.zip"
                                                       << "'/home/a b'\\''c/.quillmere" + QString::fromStdString(kOutput) + "'";
    }
    void writerCommandIsTheDescribedText()
    {
        QFETCH(QString, home);
        QFETCH(QString, archiveName);
        QFETCH(QString, cdTarget);
        const std::string expected = "cd " + cdTarget.toStdString() + kProgramA + archiveName.toStdString() + kProgramB;
        QCOMPARE(WriterCommand::text(WorkFolders(home.toStdString()), archiveName.toStdString()), expected);
    }

    void tclReadsTheTextBack_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain path") << QByteArray("/home/user/archive.zip");
        QTest::newRow("Tcl's own characters") << QByteArray("a\"b\\c$d[e]f{g}h;i j#k");
        QTest::newRow("command substitution") << QByteArray("[exec touch MARKER]");
        QTest::newRow("control characters") << QByteArray("line\nfeed\ttab\rreturn\x01");
        QTest::newRow("Japanese") << QByteArray("写真 パス");
    }
    // What TclText escapes reads back unchanged, bare or quoted, and runs
    // nothing.
    void tclReadsTheTextBack()
    {
        QFETCH(QByteArray, text);
        const std::string marker = m_folder + "/marker";
        const std::string escaped = TclText::escape(text.replace("MARKER", marker.c_str()).toStdString());
        writeFile(m_folder + "/read.tcl", "set q \"" + escaped + "\"\nset b " + escaped
                                              + "\nputs -nonewline [binary encode hex [encoding convertto [encoding system] $q]]"
                                                "/[binary encode hex [encoding convertto [encoding system] $b]]");
        QProcess tclsh;
        tclsh.start("/usr/bin/env", {"LC_ALL=C.UTF-8", "tclsh8.6", QString::fromStdString(m_folder + "/read.tcl")});
        QVERIFY(tclsh.waitForFinished(10000));
        QCOMPARE(tclsh.readAllStandardOutput(), text.toHex() + "/" + text.toHex());
        QVERIFY(!fs::exists(marker));
    }

    void scriptEndsAsItsChildrenDid_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("status");
        QTest::newRow("hostile password") << "-a\"b\\c$d[e]f{g}h;i j#" << "ok" << 0;
        QTest::newRow("Japanese password") << "パスワード 秘密" << "ok" << 0;
        QTest::newRow("zipcloak fails") << "pw" << "fail" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak killed") << "pw" << "killed" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak closes its output early") << "pw" << "quiet" << 0;
        QTest::newRow("mv fails") << "pw" << "mv" << EncryptScript::kMoveFailed;
    }
    // Both answers arrive as typed, taken from the environment; the archive
    // moves only after zipcloak has succeeded; each failure has its status.
    void scriptEndsAsItsChildrenDid()
    {
        QFETCH(QString, password);
        QFETCH(QString, mode);
        QFETCH(int, status);
        const std::string folder = m_folder + "/" + QTest::currentDataTag();
        const std::string archive = folder + "/out put[1]/archive.zip";
        const std::string target = folder + "/dest $x/.archive-part";
        const std::string record = folder + "/answers";
        writeFile(archive, "zip data");
        fs::create_directories(fs::path(target).parent_path());
        QCOMPARE(runScript(archive, target, password.toStdString(), mode, record), status);
        QCOMPARE(readFile(record), password.toStdString() + "\n" + password.toStdString());
        QCOMPARE(fs::exists(archive), status != 0);
        QCOMPARE(readFile(target), std::string(status == 0 ? "zip data encrypted" : ""));
    }

    // mv never replaces what is at the target: the script ends, the archive
    // stays where it was, and the other file keeps its content.
    void scriptNeverReplacesTheTarget()
    {
        const std::string folder = m_folder + "/taken";
        const std::string archive = folder + "/archive.zip";
        const std::string target = folder + "/dest/.archive-part";
        writeFile(archive, "zip data");
        writeFile(target, "someone else's");
        QCOMPARE(runScript(archive, target, "pw", "ok", folder + "/answers"), 0);
        QCOMPARE(readFile(target), std::string("someone else's"));
        QVERIFY(fs::exists(archive));
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_Scripts.moc"
