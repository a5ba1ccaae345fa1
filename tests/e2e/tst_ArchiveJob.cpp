#include "ShellWord.h"
#include "StdoutCapture.h"
#include "TestHome.h"
#include "WorkFolders.h"
#include "ZipAction.h"
#include "ZipReader.h"

#include <QtTest>

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <zlib.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(JobPhase)

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

uint32_t crc(const std::string& data)
{
    return static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

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

std::string stagingFolder()
{
    return WorkFolders::stagingFolder(qgetenv("HOME").toStdString() + "/.quillmere");
}

// The entry names php's walk gives for a folder, in its order: each folder
// as the file system lists it, "." and ".." included; a folder entry where
// ".." of a folder without visible names comes; files and links to files
// unless ".DS_Store" is in the path; nothing for links to folders.
void walk(const std::string& folder, const std::string& name, std::vector<std::string>& out)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = ::readdir(dir))
        names.push_back(entry->d_name);
    ::closedir(dir);
    const bool noVisible = std::all_of(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; });
    for (const std::string& n : names) {
        const fs::directory_entry entry(folder + "/" + n);
        if (n == ".." && noVisible)
            out.push_back(name + "/");
        else if (n != "." && n != ".." && entry.is_directory() && !entry.is_symlink())
            walk(entry.path(), name + "/" + n, out);
        else if (entry.is_regular_file() && (name + "/" + n).find(".DS_Store") == std::string::npos)
            out.push_back(name + "/" + n);
    }
}

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
        const ZipReader reader(archive);
        QVERIFY2(reader.error.empty(), reader.error.c_str());
        for (const ZipReader::Entry& entry : reader.entries) {
            QVERIFY2(!((entry.flags | entry.localFlags) & 0x0800), entry.name.c_str());
            QVERIFY2(entry.flags & 1 ? !password.empty() : password.empty() || entry.name.ends_with("/"), entry.name.c_str());
        }
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
        std::map<std::string, std::string> cp932 = {{"archive/itemA/jp/\xe7\xa9\xba/", "archive/itemA/jp/\x8b\xf3/"}};
        for (const auto& [path, content, entry] : files) {
            writeFile(user("one/" + path), content);
            expected.insert({"archive/" + entry, crc(content)});
            cp932["archive/" + path] = "archive/" + entry;
        }
        expected.erase("archive/");
        for (const char* folder : {"one/itemA/empty", "two/itemC/emptyC", "one/itemA/jp/\xe7\xa9\xba"})
            fs::create_directories(user(folder));
        fs::create_symlink(user("one/target.txt"), user("one/itemA/linkToFile"));
        fs::create_symlink("b.txt", user("one/itemA/relLink"));
        fs::create_symlink(user("one/itemA/sub"), user("one/itemA/linkToFolder"));
        fs::create_symlink(user("nowhere"), user("one/itemA/dangling"));
        QCOMPARE(::mkfifo(user("one/itemA/fifo").c_str(), 0644), 0);
        fs::permissions(user("one/file1.txt"), fs::perms::owner_read | fs::perms::group_read);
        const QByteArray before = userFiles(user());

        const Job job({user("one/itemA"), user("one/missing"), user("one/file1.txt"), user("two/itemC"), user("two/file1.txt")}, user("one"));

        checkDelivered(job, user("one/archive.zip"), {}, "copy file or directories error:No such file or directory: " + user("one/missing")
                       + ", error file Path: " + user("one/missing") + "\ncopy file or directories error:File exists: " + stagingFolder()
                       + "/file1.txt, error file Path: " + user("two/file1.txt") + "\n");
        QCOMPARE(userFiles(user()), before);
        QVERIFY(contents(user("one/archive.zip")) == expected);
        // The order is that of php's walk through the content folder, which
        // stays in the staging folder after a plain job.
        std::vector<std::string> order;
        walk(stagingFolder() + "/" + WorkFolders::OUTPUT_DIR_NAME + "/archive", "archive", order);
        for (std::string& name : order)
            name = cp932.contains(name) ? cp932[name] : name;
        QVERIFY(ZipReader(user("one/archive.zip")).names() == order);
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
        QTest::newRow("Tcl and shell characters") << QByteArray("a\"b\\c$d[e]f{g}h;i 'j") << QByteArray("d e;f[g$h\"i'j") << QByteArray("home");
        QTest::newRow("leading dash") << QByteArray("-x y") << QByteArray("-dash") << QByteArray("home");
        QTest::newRow("command, home with special characters") << QByteArray("[exec touch MARKER]") << QByteArray("dest")
                                                               << QByteArray("h o\"m$e;'x:y[z]{w}\\v");
        QTest::newRow("quote breakout, destination not UTF-8") << QByteArray("\"; exec touch MARKER; \"") << QByteArray("caf\xe9") << QByteArray("home");
        QTest::newRow("non-ASCII") << QByteArray("\xe3\x83\x91\xe3\x82\xb9\xc3\xa9") << QByteArray("\xe6\x97\xa5\xe6\x9c\xac") << QByteArray("home");
    }
    void encryptedArchiveOpensWithItsPasswordOnly()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, destName);
        QFETCH(QByteArray, homeName);
        const std::string marker = user("marker");
        const std::string typed = password.replace("MARKER", marker.c_str()).toStdString();
        qputenv("HOME", (m_home->path() + "/" + homeName.toStdString()).c_str()); // TestHome restores it
        fs::create_directories(qgetenv("HOME").toStdString());
        writeFile(user("items/folder/a.txt"), "alpha");
        writeFile(user("items/folder/\xef\xbe\x83\xef\xbd\xbd.txt"), "kana"); // half-width katakana, C3 BD in code page 932
        fs::create_directories(user("items/folder/empty"));
        writeFile(user("items/b.txt"), std::string(20000, 'b'));
        const std::string dest = user(destName.toStdString());
        fs::create_directories(dest);
        const QByteArray before = userFiles(user());

        const Job job({user("items/folder"), user("items/b.txt")}, dest, typed);

        checkDelivered(job, dest + "/archive.zip", typed);
        QVERIFY2(!fs::exists(marker), "the password was run as a command");
        QCOMPARE(userFiles(user()), before);
        // zipcloak rewrites the archive: the raw names must come through.
        QVERIFY(contents(dest + "/archive.zip") == (std::map<std::string, uint32_t>{{"archive/b.txt", crc(std::string(20000, 'b'))},
            {"archive/folder/a.txt", crc("alpha")}, {"archive/folder/\xc3\xbd.txt", crc("kana")}, {"archive/folder/empty/", 0}}));
    }

    void failedJobDeliversNothing_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<JobPhase>("phase");
        QTest::addColumn<QString>("line");
        QTest::newRow("writer adds nothing") << "ds" << JobPhase::Writing << "convert charset and create zip error:the writer ended with exit status 0 ";
        QTest::newRow("php missing") << "php" << JobPhase::Writing << "convert charset and create zip error:the writer ended with exit status 127 ";
        QTest::newRow("file appears under the name") << "appears" << JobPhase::Delivering
                                                     << "copy file or directories error:File exists: DEST/archive.zip, error file Path: DEST\n";
        QTest::newRow("empty password") << "empty" << JobPhase::Encrypting << "grant password error:";
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
        fs::create_directories(dest);
        fs::create_directories(user("bin"));
        for (const char* tool : {"php", "mv"})
            fs::create_symlink(QStandardPaths::findExecutable(tool).toStdString(), user("bin/" + std::string(tool)));
        const QByteArray before = userFiles(user("items"));
        const QByteArray saved = qgetenv("PATH");
        qputenv("PATH", cause == "zipcloak" ? QByteArray::fromStdString(user("bin")) : cause == "php" ? "/nonexistent" : saved);
        const bool encrypted = phase == JobPhase::Encrypting;
        const Job job({user("items")}, dest, encrypted ? std::optional(std::string(cause == "empty" ? "" : "secret")) : std::nullopt,
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
        QCOMPARE(fs::exists(dest), cause != "gone");
        QVERIFY(!encrypted || !fs::exists(stagingFolder()));
        QCOMPARE(userFiles(user("items")), before);
    }

    // Encrypting a large archive takes longer than any of the script's
    // waits for prompts: it must be delivered whole, encrypted.
    void largeArchiveIsWhollyEncrypted()
    {
        std::string block(1 << 20, '\0');
        std::ifstream("/dev/urandom", std::ios::binary).read(block.data(), static_cast<std::streamsize>(block.size()));
        fs::create_directories(user("big"));
        for (int mb = 0; mb < 200; ++mb)
            std::ofstream(user(mb < 100 ? "big/one.bin" : "big/two.bin"), std::ios::binary | std::ios::app) << block;
        const Job job({user("big")}, user(), "large secret");
        checkDelivered(job, user("archive.zip"), "large secret");
        QCOMPARE(contents(user("archive.zip")).size(), size_t(2));
    }
};

QTEST_GUILESS_MAIN(TestArchiveJob)
#include "tst_ArchiveJob.moc"
