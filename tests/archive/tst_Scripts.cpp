// The encryption script, run by the real expect against stand-ins for
// zipcloak and mv.
#include "EncryptScript.h"
#include "TestFiles.h"

#include <QtTest>

#include <filesystem>

namespace fs = std::filesystem;

class TestScripts : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();

private slots:
    void scriptEndsAsItsChildrenDid_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("status");
        QTest::newRow("hostile password") << "-a\"b\\c$d[e]f{g}h;i j# パスワード" << "ok" << 0;
        QTest::newRow("zipcloak fails") << "pw" << "fail" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak killed") << "pw" << "killed" << EncryptScript::kZipcloakFailed;
        QTest::newRow("zipcloak closes its output early") << "pw" << "quiet" << 0;
        QTest::newRow("mv fails") << "pw" << "mv" << EncryptScript::kMoveFailed;
        QTest::newRow("target taken") << "pw" << "taken" << 0;
    }
    // Both answers arrive as typed, taken from the environment; the archive
    // moves only after zipcloak has succeeded; each failure has its status.
    // mv never replaces what is at the target: the archive stays where it
    // was. Paths holding Tcl's and the shell's own characters, a command
    // and control characters reach the programs unchanged and run nothing.
    void scriptEndsAsItsChildrenDid()
    {
        QFETCH(QString, password);
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
        environment.insert("MODE", mode);
        environment.insert("RECORD", QString::fromStdString(folder + "/answers"));
        environment.insert(EncryptScript::kPasswordVariable, password);
        expect.setProcessEnvironment(environment);
        expect.setWorkingDirectory(QString::fromStdString(folder));
        expect.start("/usr/bin/expect", {"-c", QString::fromStdString(EncryptScript::text(archive, target))});
        QVERIFY(expect.waitForFinished(30000) && expect.exitStatus() == QProcess::NormalExit);
        QCOMPARE(expect.exitCode(), status);
        QCOMPARE(readFile(folder + "/answers"), password.toStdString() + "\n" + password.toStdString());
        QCOMPARE(fs::exists(archive), status != 0 || taken);
        QCOMPARE(readFile(target), std::string(taken ? "someone else's" : status == 0 ? "zip data encrypted" : ""));
        QVERIFY(!fs::exists(folder + "/marker"));
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_Scripts.moc"
