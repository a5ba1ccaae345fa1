#include "ShellWord.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "WorkFolders.h"
#include "ZipAction.h"
#include "ZipReader.h"

#include <QtTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <zlib.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(JobPhase)

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

uint32_t crc(const std::string& data) { return static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))); }

// Each entry's raw name and the CRC-32 of its content.
std::map<std::string, uint32_t> contents(const std::string& archive)
{
    std::map<std::string, uint32_t> result;
    for (const ZipReader::Entry& entry : ZipReader(archive).entries)
        result[entry.name] = entry.crc32;
    return result;
}

// The output of a shell command given on standard input, so that no byte
// of a name is lost on the way.
QByteArray shell(const std::string& command)
{
    QProcess sh;
    sh.start("/bin/sh", {"-s"});
    sh.write(QByteArray::fromStdString(command + "\n"));
    sh.closeWriteChannel();
    sh.waitForFinished(300000);
    return sh.readAllStandardOutput();
}

// unzip's test; "-P" shares its word with a password that may start with "-".
bool unzipTestPasses(const std::string& archive, const std::string& password)
{
    const std::string option = password.empty() ? "" : ShellWord::quoteIfNeeded("-P" + password);
    return shell("unzip -qq " + option + " -t " + ShellWord::quoteIfNeeded(archive) + " >/dev/null 2>&1 && echo passed") == "passed\n";
}

// Each path below root but archives with its type, mode, size, link target
// and content, and the time of all but folders (which change as archives
// arrive): what a job must leave as it was.
QByteArray userFiles(const std::string& root)
{
    return shell("cd " + ShellWord::quoteIfNeeded(root) + " && find . -type d -printf '%p %m\\n' -o ! -name archive.zip "
                 "-printf '%p %y %m %s %T@ %l\\n' -type f -exec md5sum {} + | sort");
}

std::string stagingFolder() { return WorkFolders::stagingFolder(qgetenv("HOME").toStdString() + "/.quillmere"); }

// One real job (a new ZipAction) run to its end with standard output
// captured; encrypted when a password is given.
struct Job {
    Job(const std::vector<std::string>& paths, const std::string& destDir, const std::optional<std::string>& password = {},
        const std::function<void(JobPhase)>& onPhase = [](JobPhase) {})
    {
        StdoutCapture capture;
        QPointer<ZipAction> job = new ZipAction;
        QObject::connect(job, &ZipAction::phaseChanged, job, onPhase, Qt::DirectConnection);
        QObject::connect(job, &ZipAction::finished, job, [this](const JobOutcome& result) { outcome = result; });
        job->createZip(paths, destDir, password.has_value(), password.value_or(""));
        ended = QTest::qWaitFor([&] { return job.isNull(); }, 120000);
        delete job.data(); // a job that never ends must not run on into the next test
        // The job's own lines, less the poll's line pairs, expect's transcript
        // (lines ending in "\r") and the name rules' lines for items copied
        // with their folder.
        const std::vector<std::string> lines = capture.lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == "in scheduledTimer" && i + 1 < lines.size() && lines[i + 1].ends_with(".zip"))
                ++i;
            else if (!lines[i].ends_with("\r") && !lines[i].starts_with("on fixProhibitedCharacters error:File exists: "))
                log += lines[i] + "\n";
        }
    }
    bool ended = false; // and the job deleted itself
    JobOutcome outcome;
    QByteArray log;
};

} // namespace

class TestArchiveJob : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;

    std::string user(const std::string& relative = {}) const { return m_home->path() + "/user" + (relative.empty() ? "" : "/" + relative); }
    // Every job's first line.
    static QByteArray tmpLine() { return "tmpDirectory: " + qgetenv("HOME") + "/.quillmere\n"; }

    // What every delivered job shows: the archive where it said, passing
    // unzip's test (with its password, and failing with another), without
    // the UTF-8 flag, encrypted when asked for; and its log lines.
    void checkDelivered(const Job& job, const std::string& archive, const std::string& password = {}, const std::string& log = {})
    {
        QVERIFY2(job.ended && job.outcome.kind == JobOutcome::Kind::Delivered, job.log.constData());
        QCOMPARE(job.outcome.archivePath, archive);
        QCOMPARE(job.log, tmpLine() + log.c_str());
        QVERIFY(unzipTestPasses(archive, password));
        for (const ZipReader::Entry& entry : ZipReader(archive).entries) // folders' entries need no encryption
            QVERIFY2(!((entry.flags | entry.localFlags) & 0x0800) && (entry.flags & 1 ? !password.empty() : password.empty() || entry.name.ends_with("/")),
                     entry.name.c_str());
        QVERIFY(password.empty() || (!unzipTestPasses(archive, password + "x") && !fs::exists(stagingFolder())));
    }

private slots:
    void initTestCase()
    {
        if (!fs::exists(qgetenv("QUILLMERE_BUILD_DIR").toStdString() + "/gconv/gconv-modules"))
            QSKIP("the UTF-8-MAC converter module is not built: php cannot give names in code page 932");
    }
    void init() { m_home.emplace(); }
    // std::filesystem removes names that are not UTF-8 too; QTemporaryDir cannot.
    void cleanup() { fs::remove_all(m_home->path()); }

    // Also: a missing item and a second item of the same name are logged
    // and left out.
    void archiveHasTheLayout()
    {
        // Path below one/, content and entry name (none when left out).
        const std::vector<std::array<std::string, 3>> files = {
            {"itemA/b.txt", "bee", "itemA/b.txt"}, {"itemA/sub/deeper/d.txt", std::string(70000, 'd'), "itemA/sub/deeper/d.txt"},
            {"itemA/onlyhidden/.hidden", "hidden", "itemA/onlyhidden/.hidden"}, {"itemA/a?b.txt", "prohibited", "itemA/a_b.txt"},
            {"itemA/dsdir/.DS_Store", "ds", ""}, {"itemA/x.DS_Store.txt", "x", ""}, {"itemA/y.DS_Store/z.txt", "z", ""},
            {"target.txt", "target", ""}, {"file1.txt", "file one", "file1.txt"}, {"../two/itemC/c1.txt", "c one", "itemC/c1.txt"},
            {"../two/file1.txt", "second file one", ""},
            // Code page 932: decomposed as on a Mac, trail bytes 0x5C that
            // must not split the name, full-width look-alikes of prohibited
            // characters that stay.
            {"itemA/jp/\xe3\x81\x8b\xe3\x82\x99.txt", "ka", "itemA/jp/\x82\xaa.txt"},
            {"itemA/jp/\xef\xbe\x83\xef\xbd\xbd.txt", "kana", "itemA/jp/\xc3\xbd.txt"}, // C3 BD looks like UTF-8
            {"itemA/jp/\xe3\x82\xbd\xe8\xa1\xa8\xe8\x83\xbd.txt", "so", "itemA/jp/\x83\x5c\x95\x5c\x94\x5c.txt"},
            {"itemA/jp/\xef\xbd\x86\xef\xbc\xbc\xef\xbc\x9f\xef\xbf\xa5\xef\xbc\x8a", "wide", "itemA/jp/\x82\x86\x81\x5f\x81\x48\x81\x8f\x81\x96"},
        };
        std::map<std::string, uint32_t> expected = {{"archive/itemA/linkToFile", crc("target")}, {"archive/itemA/relLink", crc("bee")},
            {"archive/itemA/empty/", 0}, {"archive/itemA/onlyhidden/", 0}, {"archive/itemA/dsdir/", 0}, {"archive/itemC/emptyC/", 0},
            {"archive/itemA/jp/\x8b\xf3/", 0}};
        for (const auto& [path, content, entry] : files) {
            writeFile(user("one/" + path), content);
            expected.insert({"archive/" + entry, crc(content)});
        }
        expected.erase("archive/");
        for (const char* folder : {"one/itemA/empty", "two/itemC/emptyC", "one/itemA/jp/\xe7\xa9\xba"})
            fs::create_directories(user(folder));
        QCOMPARE(shell("cd " + ShellWord::quoteIfNeeded(user("one/itemA")) + " && ln -s \"$PWD/../target.txt\" linkToFile && ln -s b.txt relLink"
                       " && ln -s \"$PWD/sub\" linkToFolder && ln -s ../../nowhere dangling && mkfifo fifo && chmod 440 ../file1.txt && echo made"), "made\n");
        const QByteArray before = userFiles(user());

        const Job job({user("one/itemA"), user("one/missing"), user("one/file1.txt"), user("two/itemC"), user("two/file1.txt")}, user("one"));

        checkDelivered(job, user("one/archive.zip"), {}, "copy file or directories error:No such file or directory: " + user("one/missing")
                       + ", error file Path: " + user("one/missing") + "\ncopy file or directories error:File exists: " + stagingFolder()
                       + "/file1.txt, error file Path: " + user("two/file1.txt") + "\n");
        QCOMPARE(userFiles(user()), before);
        QVERIFY(contents(user("one/archive.zip")) == expected);
    }

    // Leftovers of an earlier job never reach the archive; earlier
    // archives stay, and a gap is filled first.
    void nextJobsTakeTheNextFreeNames()
    {
        for (const std::string& leftover : {std::string("/old.txt"), "/" + std::string(WorkFolders::OUTPUT_DIR_NAME) + "/archive/stale.txt",
                                            "/" + std::string(WorkFolders::OUTPUT_DIR_NAME) + "/archive.zip"})
            writeFile(stagingFolder() + leftover, "left over");
        writeFile(user("items/a.txt"), "a");
        for (const std::string name : {"archive.zip", "archive1.zip", "archive2.zip", "archive1.zip"}) {
            if (fs::exists(user("items/archive2.zip")))
                fs::remove(user("items/archive1.zip"));
            checkDelivered(Job({user("items/a.txt")}, user("items")), user("items/" + name));
            QVERIFY(ZipReader(user("items/" + name)).names() == std::vector<std::string>{"archive/a.txt"});
        }
    }

    void encryptedArchiveOpensWithItsPasswordOnly_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("destName");
        QTest::addColumn<QByteArray>("homeName");
        QTest::addColumn<int>("megabytes"); // of incompressible data
        QTest::newRow("Tcl and shell characters") << QByteArray("a\"b\\c$d[e]f{g}h;i 'j") << QByteArray("d e;f[g$h\"i'j") << QByteArray("home") << 0;
        QTest::newRow("leading dash") << QByteArray("-x y") << QByteArray("-dash") << QByteArray("home") << 0;
        QTest::newRow("command, home with special characters") << QByteArray("[exec touch MARKER]") << QByteArray("dest") << QByteArray("h o\"m$e;'x:y[z]{w}\\v") << 0;
        QTest::newRow("quote breakout, destination not UTF-8") << QByteArray("\"; exec touch MARKER; \"") << QByteArray("caf\xe9") << QByteArray("home") << 0;
        QTest::newRow("non-ASCII") << QByteArray("\xe3\x83\x91\xe3\x82\xb9\xc3\xa9") << QByteArray("\xe6\x97\xa5\xe6\x9c\xac") << QByteArray("home") << 0;
        // Encrypting it takes longer than any of the script's waits for
        // prompts: it must still be delivered whole, encrypted.
        QTest::newRow("large archive") << QByteArray("large secret") << QByteArray("dest") << QByteArray("home") << 200;
    }
    void encryptedArchiveOpensWithItsPasswordOnly()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, destName);
        QFETCH(QByteArray, homeName);
        QFETCH(int, megabytes);
        const std::string marker = user("marker"), typed = password.replace("MARKER", marker.c_str()).toStdString();
        qputenv("HOME", (m_home->path() + "/" + homeName.toStdString()).c_str()); // TestHome restores it
        fs::create_directories(qgetenv("HOME").toStdString());
        writeFile(user("items/folder/a.txt"), "alpha");
        writeFile(user("items/folder/\xef\xbe\x83\xef\xbd\xbd.txt"), "kana"); // half-width katakana, C3 BD in code page 932
        fs::create_directories(user("items/folder/empty"));
        std::string bulk(megabytes ? size_t(megabytes) << 20 : 20000, 'b');
        if (megabytes)
            std::ifstream("/dev/urandom", std::ios::binary).read(bulk.data(), static_cast<std::streamsize>(bulk.size()));
        writeFile(user("items/b.txt"), bulk);
        const std::string dest = user(destName.toStdString());
        fs::create_directories(dest);
        const QByteArray before = userFiles(user());

        const Job job({user("items/folder"), user("items/b.txt")}, dest, typed);

        checkDelivered(job, dest + "/archive.zip", typed);
        QVERIFY2(!fs::exists(marker), "the password was run as a command");
        QCOMPARE(userFiles(user()), before);
        // zipcloak rewrites the archive: the raw names must come through.
        QVERIFY(contents(dest + "/archive.zip") == (std::map<std::string, uint32_t>{{"archive/b.txt", crc(bulk)},
            {"archive/folder/a.txt", crc("alpha")}, {"archive/folder/\xc3\xbd.txt", crc("kana")}, {"archive/folder/empty/", 0}}));
    }

    void failedJobDeliversNothing_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<JobPhase>("phase");
        QTest::addColumn<QString>("line");
        QTest::newRow("writer adds nothing") << "ds" << JobPhase::Writing << "convert charset and create zip error:the writer ended with exit status 0 ";
        QTest::newRow("file appears under the name") << "appears" << JobPhase::Delivering
                                                     << "copy file or directories error:File exists: DEST/archive.zip, error file Path: DEST\n";
        QTest::newRow("empty password") << "empty" << JobPhase::Encrypting << "grant password error:";
        // zipcloak asks again for a password longer than it takes.
        QTest::newRow("password too long") << "long" << JobPhase::Encrypting << "grant password error:";
        QTest::newRow("destination gone") << "gone" << JobPhase::Encrypting << "grant password error:";
        QTest::newRow("zipcloak missing") << "zipcloak" << JobPhase::Encrypting << "grant password error:";
    }
    // The job ends, saying where it failed in its one line. Nothing
    // unencrypted is delivered or left in the staging folder, and a file
    // that appears under the chosen name meanwhile is the user's: it stays.
    void failedJobDeliversNothing()
    {
        QFETCH(QString, cause);
        QFETCH(JobPhase, phase);
        QFETCH(QString, line);
        writeFile(user(cause == "ds" ? "items/x.DS_Store.txt" : "items/a.txt"), "a");
        const std::string dest = user("dest");
        for (const std::string& folder : {dest, user("bin")})
            fs::create_directories(folder);
        for (const char* tool : {"php", "mv"})
            fs::create_symlink(QStandardPaths::findExecutable(tool).toStdString(), user("bin/" + std::string(tool)));
        const QByteArray before = userFiles(user("items"));
        const QByteArray saved = qgetenv("PATH");
        qputenv("PATH", cause == "zipcloak" ? QByteArray::fromStdString(user("bin")) : saved);
        const bool encrypted = phase == JobPhase::Encrypting;
        const Job job({user("items")}, dest, encrypted ? std::optional(cause == "empty" ? std::string() : std::string(cause == "long" ? 81 : 6, 'p')) : std::nullopt,
                      [&](JobPhase now) {
                          if (now == JobPhase::Encrypting && cause == "gone")
                              fs::remove(dest);
                          if (now == JobPhase::Writing && cause == "appears")
                              writeFile(dest + "/archive.zip", "the user's own file");
                      });
        qputenv("PATH", saved);
        QVERIFY2(job.ended && job.outcome.kind == JobOutcome::Kind::Failed && job.outcome.failedIn == phase, job.log.constData());
        QVERIFY2(job.log.startsWith(tmpLine() + line.replace("DEST", QString::fromStdString(dest)).toUtf8()) && job.log.count('\n') == 2,
                 job.log.constData());
        QCOMPARE(shell("cat " + dest + "/archive.zip"), QByteArray(cause == "appears" ? "the user's own file" : ""));
        QVERIFY(!encrypted || !fs::exists(stagingFolder()));
        QCOMPARE(userFiles(user("items")), before);
        // Nothing the job started is left running (zipcloak ignores hangups).
        QCOMPARE(shell("pgrep -f -- " + stagingFolder() + " || true"), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestArchiveJob)
#include "tst_ArchiveJob.moc"
