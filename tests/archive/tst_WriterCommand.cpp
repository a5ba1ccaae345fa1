#include "WorkFolders.h"
#include "WriterCommand.h"
#include "ZipAction.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

// The two literal pieces of the writer command around the archive name,
// character for character; the home folder path and the archive name are
// the only variable parts.
const std::string kPieceA =
    "/17A83E501F804A8551D27619DA0CF23C04474FC6946073962B915FFE86421A56; php -r 'function isDirEmpty($dir) { if (!is_readable($dir)) return NULL; return (count(glob($dir . \"/*\"))); } $za = new ZipArchive(); $za->open(\"";
const std::string kPieceB =
    "\", ZIPARCHIVE::CREATE); $iterator = new RecursiveDirectoryIterator(\"archive\"); $iterator = new RecursiveIteratorIterator($iterator); $list = array(); foreach ($iterator as $fileinfo) { if ($fileinfo->isFile()) { if (strpos($fileinfo->getPathname(),\".DS_Store\") === false) { $za->addFile($fileinfo->getPathname(), iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", $fileinfo->getPathname())); } } else { if (substr($fileinfo->getPathname(), -3) == \"/..\") { $dirName = substr($fileinfo->getPathname() , 0, strlen($fileinfo->getPathname()) - 2); if (isDirEmpty($dirName) == 0) { $za->addEmptyDir(iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", $dirName)); }} } } $za->close();'";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What /bin/sh makes of word: the text printf receives as one argument.
std::string shellReads(const std::string& word)
{
    QProcess sh;
    sh.start("/bin/sh", {"-c", QString::fromStdString("printf %s " + word)});
    sh.waitForFinished(10000);
    return sh.readAllStandardOutput().toStdString();
}

} // namespace

class TestWriterCommand : public QObject {
    Q_OBJECT
private slots:
    void piecesHaveTheirLengths();
    void ordinaryHomeGivesTheLiteralText_data();
    void ordinaryHomeGivesTheLiteralText();
    void unusualHomeIsOneQuotedWord_data();
    void unusualHomeIsOneQuotedWord();
    void shellRunsPhpInTheOutputFolder_data();
    void shellRunsPhpInTheOutputFolder();
    void archiveNameIsTheFirstFreeOne_data();
    void archiveNameIsTheFirstFreeOne();
};

void TestWriterCommand::piecesHaveTheirLengths()
{
    // Guards the copies above against a lost or added character.
    QCOMPARE(kPieceA.size(), size_t(212));
    QCOMPARE(kPieceB.size(), size_t(651));
    QVERIFY(kPieceA.starts_with(std::string("/") + WorkFolders::OUTPUT_DIR_NAME + ";"));
}

void TestWriterCommand::ordinaryHomeGivesTheLiteralText_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("archiveName");
    QTest::newRow("plain") << "/home/user" << "archive.zip";
    QTest::newRow("numbered") << "/home/user" << "archive1.zip";
    QTest::newRow("two digits") << "/home/user" << "archive12.zip";
    QTest::newRow("every harmless character") << "/srv/a.b_c-d+e,f@g%h=i:j/K9" << "archive.zip";
}

void TestWriterCommand::ordinaryHomeGivesTheLiteralText()
{
    QFETCH(QString, home);
    QFETCH(QString, archiveName);
    const std::string tmpDirectory = WorkFolders::tmpDirectory(home.toStdString());
    const std::string expected = "cd " + tmpDirectory + "/" + WorkFolders::STAGING_DIR_NAME + kPieceA
        + archiveName.toStdString() + kPieceB;
    QCOMPARE(WriterCommand::text(tmpDirectory, archiveName.toStdString()), expected);
}

void TestWriterCommand::unusualHomeIsOneQuotedWord_data()
{
    QTest::addColumn<QByteArray>("home");
    QTest::newRow("blank") << QByteArray("/home/my user");
    QTest::newRow("double quote") << QByteArray("/home/a\"b");
    QTest::newRow("dollar") << QByteArray("/home/$HOME$(id)");
    QTest::newRow("semicolon") << QByteArray("/home/a;touch b");
    QTest::newRow("single quote") << QByteArray("/home/o'brien");
    QTest::newRow("all of them") << QByteArray("/home/a b\"c$d;e'f");
    QTest::newRow("backslash and glob") << QByteArray("/home/a\\b*c?");
    QTest::newRow("tilde and hash") << QByteArray("/home/~x#y");
    QTest::newRow("line feed") << QByteArray("/home/a\nb");
    QTest::newRow("non-ASCII") << QByteArray("/home/\xe3\x83\xa6\xe3\x83\xbc\xe3\x82\xb6");
}

void TestWriterCommand::unusualHomeIsOneQuotedWord()
{
    QFETCH(QByteArray, home);
    const std::string tmpDirectory = WorkFolders::tmpDirectory(home.toStdString());
    const std::string command = WriterCommand::text(tmpDirectory, "archive.zip");
    const std::string tail = std::string("/") + WorkFolders::STAGING_DIR_NAME + kPieceA + "archive.zip" + kPieceB;
    QVERIFY2(command.starts_with("cd '"), command.c_str());
    QVERIFY2(command.ends_with(tail), command.c_str());
    const std::string word = command.substr(3, command.size() - 3 - tail.size());
    QVERIFY2(word.ends_with("'"), word.c_str());
    QCOMPARE(shellReads(word), tmpDirectory);
}

void TestWriterCommand::shellRunsPhpInTheOutputFolder_data()
{
    QTest::addColumn<QByteArray>("homeName");
    QTest::newRow("plain") << QByteArray("user");
    QTest::newRow("blank") << QByteArray("my user");
    QTest::newRow("double quote") << QByteArray("a\"b");
    QTest::newRow("dollar") << QByteArray("$HOME");
    QTest::newRow("semicolon") << QByteArray("a;b");
    QTest::newRow("single quote") << QByteArray("o'brien");
    QTest::newRow("all of them") << QByteArray("a b\"c$d;e'f");
}

// The command runs for real under /bin/sh with a stand-in php that records
// where it runs and what it was given: the shell must see exactly "cd" into
// the output folder and php with "-r" and the whole program as one word.
void TestWriterCommand::shellRunsPhpInTheOutputFolder()
{
    QFETCH(QByteArray, homeName);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const std::string root = QFile::encodeName(scratch.path()).toStdString();
    const std::string home = root + "/" + homeName.toStdString();
    const std::string tmpDirectory = WorkFolders::tmpDirectory(home);
    const std::string output = WorkFolders::outputFolder(tmpDirectory, WorkFolders::OUTPUT_DIR_NAME);
    std::filesystem::create_directories(output);
    const std::string bin = root + "/bin";
    std::filesystem::create_directories(bin);
    {
        std::ofstream php(bin + "/php");
        php << "#!/bin/sh\npwd -P > \"$RECORD/cwd\"\nprintf %s \"$#\" > \"$RECORD/count\"\n"
               "printf %s \"$1\" > \"$RECORD/option\"\nprintf %s \"$2\" > \"$RECORD/program\"\n";
    }
    std::filesystem::permissions(bin + "/php", std::filesystem::perms::owner_all);

    QProcess sh;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFile::decodeName(bin.c_str()));
    environment.insert("RECORD", QFile::decodeName(root.c_str()));
    sh.setProcessEnvironment(environment);
    sh.start("/bin/sh", {"-c", QString::fromStdString(WriterCommand::text(tmpDirectory, "archive3.zip"))});
    QVERIFY(sh.waitForFinished(10000));
    QCOMPARE(sh.exitCode(), 0);

    QCOMPARE(readFile(root + "/cwd"), std::filesystem::canonical(output).string() + "\n");
    QCOMPARE(readFile(root + "/count"), std::string("2"));
    QCOMPARE(readFile(root + "/option"), std::string("-r"));
    const std::string quoteOpen = "php -r '";
    const std::string expectedProgram = kPieceA.substr(kPieceA.find(quoteOpen) + quoteOpen.size()) + "archive3.zip"
        + kPieceB.substr(0, kPieceB.size() - 1);
    QCOMPARE(readFile(root + "/program"), expectedProgram);
}

void TestWriterCommand::archiveNameIsTheFirstFreeOne_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty folder") << QStringList {} << "archive.zip";
    QTest::newRow("archive.zip taken") << QStringList {"archive.zip"} << "archive1.zip";
    QTest::newRow("two taken") << QStringList {"archive.zip", "archive1.zip"} << "archive2.zip";
    QTest::newRow("only archive1.zip") << QStringList {"archive1.zip"} << "archive.zip";
    QTest::newRow("gap") << QStringList {"archive.zip", "archive1.zip", "archive3.zip"} << "archive2.zip";
    QTest::newRow("folder counts") << QStringList {"archive.zip/"} << "archive1.zip";
    QTest::newRow("dangling link counts") << QStringList {"archive.zip@"} << "archive1.zip";
    QTest::newRow("other names ignored") << QStringList {"archive0.zip", "Archive.zip", "archive.ZIP"}
                                         << "archive.zip";
}

void TestWriterCommand::archiveNameIsTheFirstFreeOne()
{
    QFETCH(QStringList, present);
    QFETCH(QString, expected);
    QTemporaryDir dest;
    const std::string folder = QFile::encodeName(dest.path()).toStdString();
    for (const QString& entry : present) {
        std::string name = entry.toStdString();
        if (name.ends_with("/")) {
            std::filesystem::create_directory(folder + "/" + name);
        } else if (name.ends_with("@")) {
            name.pop_back();
            std::filesystem::create_symlink(folder + "/missing", folder + "/" + name);
        } else {
            std::ofstream(folder + "/" + name) << "x";
        }
    }
    QCOMPARE(ZipAction::freeArchiveName(folder), expected.toStdString());
}

QTEST_GUILESS_MAIN(TestWriterCommand)
#include "tst_WriterCommand.moc"
