#include "EncryptScript.h"
#include "TclText.h"
#include "WorkFolders.h"
#include "WriterCommand.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The writer command's literal text after the home folder and around the
// archive name, character for character.
const std::string kFolders = "/34a928f190f714d60756129ad55f14f51de0867b22344d7bf3d6f77805b31225"
                             "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56; ";
const std::string kProgramA =
    "php -r 'function isDirEmpty($dir) { if (!is_readable($dir)) return NULL; return (count(glob($dir . \"/*\"))); } $za = new ZipArchive(); $za->open(\"";
const std::string kProgramB =
    "\", ZIPARCHIVE::CREATE); $iterator = new RecursiveDirectoryIterator(\"archive\"); $iterator = new RecursiveIteratorIterator($iterator); $list = array(); "
    "foreach ($iterator as $fileinfo) { if ($fileinfo->isFile()) { if (strpos($fileinfo->getPathname(),\".DS_Store\") === false) { $za->addFile($fileinfo->getPathname(), iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", $fileinfo->getPathname())); } } "
    "else { if (substr($fileinfo->getPathname(), -3) == \"/..\") { $dirName = substr($fileinfo->getPathname() , 0, strlen($fileinfo->getPathname()) - 2); if (isDirEmpty($dirName) == 0) { $za->addEmptyDir(iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", $dirName)); }} } } $za->close();'";

// A stand-in for zipcloak: prompts like it, records both answers, then
// behaves as $MODE says: "fail" (exit status 3), "killed" (SIGKILL),
// "quiet" (closes its output, then works on for a second), anything else
// succeeds. As it ends successfully it marks the archive, so a test can
// tell whether mv took the archive before or after zipcloak had finished.
const char* const kZipcloak = "#!/bin/sh\nprintf 'Enter password: '; IFS= read -r first\n"
                              "printf '\\nVerify password: '; IFS= read -r second; printf '%s\\n%s' \"$first\" \"$second\" > \"$RECORD\"\n"
                              "case \"$MODE\" in fail) exit 3 ;; killed) kill -9 $$ ;; quiet) exec </dev/null >/dev/null 2>&1; sleep 1 ;; esac\n"
                              "printf ' encrypted' >> \"$1\"\n";
// A failing mv that closes its output before it is gone, as mv does at exit.
const char* const kFailingMv = "#!/bin/sh\necho 'mv: cannot move' >&2; exec </dev/null >/dev/null 2>&1; sleep 1; exit 1\n";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

class TestScripts : public QObject {
    Q_OBJECT
    struct Run {
        const char* name;
        std::string password;
        QString mode; // "mv": zipcloak succeeds, mv fails
        int status;
        std::unique_ptr<QProcess> expect = std::make_unique<QProcess>();
    };
    Run m_runs[5] = {{"hostile password with a leading dash", "-a\"b\\c$d[e]f{g}h;i j#", "ok", 0},
                     {"zipcloak fails", "pw", "fail", EncryptScript::kZipcloakFailed},
                     {"zipcloak killed", "pw", "killed", EncryptScript::kZipcloakFailed},
                     {"zipcloak closes its output early", "pw", "quiet", 0},
                     {"mv fails", "pw", "mv", EncryptScript::kMoveFailed}};
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();

    // Home and destination need escaping too: Tcl reads paths as bare words.
    std::string home(const Run& run) const { return m_folder + "/" + run.name + "/h o\"m$e;'[x]{y}/.quillmere"; }
    std::string dest(const Run& run) const { return m_folder + "/" + run.name + "/d e;s[t]$"; }
    std::string archive(const Run& run) const { return WorkFolders::archivePath(home(run), WorkFolders::OUTPUT_DIR_NAME, "archive.zip"); }

private slots:
    // Every script run starts here at once: each sleeps two seconds.
    void initTestCase()
    {
        for (const auto& [program, text] : {std::pair{"/bin/zipcloak", kZipcloak}, {"/bin-mv/mv", kFailingMv}}) {
            fs::create_directories(fs::path(m_folder + program).parent_path());
            std::ofstream(m_folder + program) << text;
            fs::permissions(m_folder + program, fs::perms::owner_all);
        }
        for (Run& run : m_runs) {
            fs::create_directories(fs::path(archive(run)).parent_path());
            fs::create_directories(dest(run));
            std::ofstream(archive(run)) << "zip data";
            const std::string bins = (run.mode == "mv" ? m_folder + "/bin-mv:" : "") + m_folder + "/bin:" + qgetenv("PATH").toStdString();
            const std::string script = EncryptScript::text(dest(run), run.password, home(run), "archive.zip", WorkFolders::OUTPUT_DIR_NAME);
            run.expect->start("/usr/bin/env", {QString::fromStdString("PATH=" + bins), "MODE=" + run.mode,
                                               QString::fromStdString("RECORD=" + m_folder + "/" + run.name + "/answers"),
                                               "/usr/bin/expect", "-c", QString::fromStdString(script)});
        }
    }

    void writerCommandIsTheDescribedText_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("shellWord");
        QTest::newRow("plain") << "/home/user" << "/home/user/.quillmere";
        QTest::newRow("blank, quotes, $ and ;") << "/home/a b\"c$d;e'f" << "'/home/a b\"c$d;e'\\''f/.quillmere'";
    }
    // The home folder is one shell word, in single quotes where it needs
    // them; the rest is literal.
    void writerCommandIsTheDescribedText()
    {
        QFETCH(QString, home);
        QFETCH(QString, shellWord);
        QCOMPARE(QString::fromStdString(WriterCommand::text(home.toStdString() + "/.quillmere", "archive12.zip")),
                 "cd " + shellWord + QString::fromStdString(kFolders + kProgramA + "archive12.zip" + kProgramB));
    }

    // Up to the second answer the script is the described text; after it,
    // it waits for zipcloak and then for mv, telling their failures apart.
    void encryptScriptIsTheDescribedText()
    {
        const std::string archive = WorkFolders::archivePath("/home/user/.quillmere", WorkFolders::OUTPUT_DIR_NAME, "archive12.zip");
        const std::string script = EncryptScript::text("/home/user/Desktop", "q8x0v3m2k9s7d1f4", "/home/user/.quillmere",
                                                       "archive12.zip", WorkFolders::OUTPUT_DIR_NAME);
        const std::string head = "set timeout 10; spawn -ignore HUP zipcloak " + archive + "; expect \"Enter password:\"; "
            "sleep 1; send \"q8x0v3m2k9s7d1f4\n\"; expect \"Verify password:\"; sleep 1; send \"q8x0v3m2k9s7d1f4\n\"; ";
        QVERIFY2(script.starts_with(head), script.c_str());
        QVERIFY2(script.find("spawn -ignore HUP mv " + archive + " /home/user/Desktop/;") != std::string::npos, script.c_str());
    }

    void tclReadsTheTextBack_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("quote and backslash") << QByteArray("a\"b\\c\\");
        QTest::newRow("dollar") << QByteArray("$env(HOME)$s");
        QTest::newRow("brackets") << QByteArray("[exec touch MARKER]");
        QTest::newRow("braces") << QByteArray("{a}}{");
        QTest::newRow("semicolon, blanks, hash") << QByteArray(" a;b  #c ");
        QTest::newRow("quote breakout") << QByteArray("\"; exec touch MARKER; \"");
        QTest::newRow("leading dash") << QByteArray("-nonewline");
        QTest::newRow("backslash escapes") << QByteArray("\\n\\x41\\u0041\\101");
        QTest::newRow("control characters before digits") << QByteArray("a\n7\r\tb\x01\x1b\x7f" "1");
        QTest::newRow("non-ASCII") << QByteArray("\xe3\x83\x91\xe3\x82\xb9 \xc3\xa9\xf0\x9f\x98\x80");
    }
    // The escaped text stands between double quotes (the password) and as a
    // bare word (the paths); either way Tcl must hand on exactly the
    // original bytes and run nothing in it.
    void tclReadsTheTextBack()
    {
        QFETCH(QByteArray, text);
        const std::string marker = m_folder + "/marker";
        const std::string escaped = TclText::escape(text.replace("MARKER", marker.c_str()).toStdString());
        std::ofstream(m_folder + "/read.tcl", std::ios::binary)
            << "set q \"" << escaped << "\"\nset b " << escaped << "\nputs -nonewline "
            << "[binary encode hex [encoding convertto [encoding system] $q]]/[binary encode hex [encoding convertto [encoding system] $b]]";
        QProcess tclsh; // tclsh8.6 comes with expect; in a UTF-8 locale, as on a desktop
        tclsh.start("/usr/bin/env", {"LC_ALL=C.UTF-8", "tclsh8.6", QString::fromStdString(m_folder + "/read.tcl")});
        QVERIFY(tclsh.waitForFinished(10000));
        QCOMPARE(tclsh.readAllStandardOutput() + tclsh.readAllStandardError(), text.toHex() + "/" + text.toHex());
        QVERIFY(!fs::exists(marker));
    }

    void scriptEndsAsItsChildrenDid_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(m_runs)); ++i)
            QTest::newRow(m_runs[i].name) << i;
    }
    // With a stand-in zipcloak: both answers arrive as typed, the archive is
    // moved only after zipcloak has finished successfully, and each failure
    // ends the script with its own status, the archive left in place.
    void scriptEndsAsItsChildrenDid()
    {
        QFETCH(int, index);
        Run& run = m_runs[index];
        QVERIFY2(run.expect->waitForFinished(30000), "expect did not end");
        QVERIFY2(run.expect->exitStatus() == QProcess::NormalExit && run.expect->exitCode() == run.status,
                 (QByteArray::number(run.expect->exitCode()) + " " + run.expect->readAll()).constData());
        QCOMPARE(readFile(m_folder + "/" + run.name + "/answers"), run.password + "\n" + run.password);
        QCOMPARE(fs::exists(archive(run)), run.status != 0);
        QCOMPARE(readFile(dest(run) + "/archive.zip"), std::string(run.status == 0 ? "zip data encrypted" : ""));
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_Scripts.moc"
