// The encryption script, run by the real expect against stand-ins for
// zipcloak and mv, and its transcript as the program shows it.
#include "Cp932Name.h"
#include "EncryptScript.h"
#include "EncryptStep.h"
#include "TestFiles.h"

#include <QtTest>

#include <filesystem>

namespace fs = std::filesystem;

class TestScripts : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();

    // A search path of its own, in folder, with the zipcloak stand-in and
    // the tools the script and the stand-in run, but not program.
    static QString searchPathWithout(const char* program, const std::string& folder)
    {
        fs::create_directories(folder);
        fs::create_symlink(QFINDTESTDATA("standins/zipcloak").toStdString(), folder + "/zipcloak");
        // The system's own: a tool on the search path may be a wrapper that
        // needs more of it.
        for (const char* tool : {"mv", "sleep", "stty", "python3"}) {
            const std::string found = std::string("/usr/bin/") + tool;
            if (std::string(tool) != program)
                fs::create_symlink(found, folder + "/" + tool);
        }
        return QString::fromStdString(folder);
    }

private slots:
    void scriptEndsAsItsChildrenDid_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("status");
        const QByteArray hostile("-a\"b\\c$d[e]f{g}h;i j# ");
        // パスワード表 in code page 932: bytes above 127, and 表 ends in 0x5C.
        const QByteArray cp932("\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x95\x5c");
        QTest::newRow("hostile password, code page 932, UTF-8 locale") << hostile + cp932 << "C.UTF-8" << "ok" << 0;
        QTest::newRow("hostile password, code page 932, C locale") << hostile + cp932 << "C" << "ok" << 0;
        const QByteArray pw("s3cr3t");
        QTest::newRow("zipcloak fails") << pw << "C.UTF-8" << "fail" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak killed") << pw << "C.UTF-8" << "killed" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak closes its output early") << pw << "C.UTF-8" << "quiet" << 0;
        QTest::newRow("mv fails") << pw << "C.UTF-8" << "mv" << EncryptScript::kMoveFailed;
        // expect itself would end with 0, as if all went well.
        QTest::newRow("no mv to run") << pw << "C.UTF-8" << "no mv" << EncryptScript::kScriptFailed;
        QTest::newRow("target taken") << pw << "C.UTF-8" << "taken" << 0;
        // Neither is answered: the script gives up after its time-out.
        QTest::newRow("zipcloak never turns echo off") << pw << "C.UTF-8" << "echoing"
                                                       << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak never prompts") << pw << "C.UTF-8" << "mute" << EncryptScript::kZipcloakFailed;
    }
    // Both answers arrive as the exact bytes, taken from the environment,
    // whatever the locale's encoding, each typed only once zipcloak has
    // prompted and turned echo off (the stand-in discards what comes
    // before), so the password never stands in the transcript; the archive
    // moves only after zipcloak has succeeded; each failure has its status.
    // mv never replaces what is at the target: the archive stays where it
    // was. Paths holding Tcl's and the shell's own characters, a command
    // and control characters reach the programs unchanged and run nothing.
    void scriptEndsAsItsChildrenDid()
    {
        QFETCH(QByteArray, password);
        QFETCH(QString, locale);
        QFETCH(QString, mode);
        QFETCH(int, status);
        const std::string folder = m_folder + "/" + QTest::currentDataTag();
        const std::string archive = folder + "/out \"put\" [exec touch marker] {1};#/archive.zip";
        const std::string target = folder + "/dest $x\\y\n\t\x01 写真/.archive-part";
        const bool taken = mode == "taken";
        writeFile(archive, "zip data");
        fs::create_directories(fs::path(target).parent_path());
        if (taken)
            writeFile(target, "someone else's");
        // expect runs the script with the stand-ins first in its search path.
        QProcess expect;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", QFINDTESTDATA("standins") + ":" + environment.value("PATH"));
        if (mode == "no mv")
            environment.insert("PATH", searchPathWithout("mv", folder + "/bin"));
        environment.insert("MODE", mode);
        environment.insert("RECORD", QString::fromStdString(folder + "/answers"));
        environment.insert("LC_ALL", locale);
        environment.insert(EncryptScript::kPasswordVariable,
                           QString::fromStdString(EncryptScript::hexOf(password.toStdString())));
        expect.setProcessEnvironment(environment);
        expect.setWorkingDirectory(QString::fromStdString(folder));
        expect.start("/usr/bin/expect", {"-c", QString::fromStdString(EncryptScript::text(archive, target))});
        QVERIFY(expect.waitForFinished(30000) && expect.exitStatus() == QProcess::NormalExit);
        QCOMPARE(expect.exitCode(), status);
        const bool answered = mode != "echoing" && mode != "mute";
        QCOMPARE(QByteArray::fromStdString(readFile(folder + "/answers")),
                 answered ? password + "\n" + password : QByteArray());
        const QByteArray transcript = expect.readAllStandardOutput();
        QVERIFY(!transcript.contains(password));
        // What stopped the script is told.
        QCOMPARE(transcript.contains("couldn't execute \"mv\""), mode == "no mv");
        QCOMPARE(fs::exists(archive), status != 0 || taken);
        QCOMPARE(readFile(target), std::string(taken ? "someone else's" : status == 0 ? "zip data encrypted" : ""));
        QVERIFY(!fs::exists(folder + "/marker"));
    }

    // expect repeats zipcloak's bytes as characters U+0000 to U+00FF: the
    // names in its entry lines come back as code page 932 reads them; any
    // other line is UTF-8 text and stays as it is.
    void transcriptLinesReadAsWritten_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        // 日本.txt in code page 932 (93 FA 96 7B), each byte as a character.
        const QByteArray entry = QString::fromLatin1("encrypting: archive/\x93\xfa\x96\x7b.txt").toUtf8();
        QTest::newRow("an entry's name") << entry << QStringLiteral("encrypting: archive/日本.txt");
        const QByteArray spawn("spawn -ignore HUP mv -n /home/jos\xc3\xa9/a.zip /home/jos\xc3\xa9/Bureau/");
        QTest::newRow("expect's own line, UTF-8") << spawn << QString::fromUtf8(spawn);
        const QByteArray message("zip error: Could not create /home/ren\xc3\xa9" "e/zikxB2Uf");
        QTest::newRow("a message with a path") << message << QString::fromUtf8(message);
    }
    void transcriptLinesReadAsWritten()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        const Cp932Name converter;
        QCOMPARE(QString::fromStdString(EncryptStep::readable(line.toStdString(), converter)), shown);
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_Scripts.moc"
