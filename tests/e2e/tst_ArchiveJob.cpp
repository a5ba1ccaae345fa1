// Whole jobs with the real php, expect, zipcloak and mv, on real folders
// under a temporary home, checked with an independent reader of the
// archive's raw bytes, with unzip, and by content against the source.
#include "ArchiveContent.h"
#include "JobRun.h"
#include "Privileges.h"
#include "ShellWord.h"
#include "TestHome.h"
#include "WorkFolders.h"
#include "ZipReader.h"

#include <QUuid>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/mount.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(FailureCause)

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string randomBytes(size_t size)
{
    std::string data(size, '\0');
    std::ifstream("/dev/urandom", std::ios::binary).read(data.data(), static_cast<std::streamsize>(size));
    return data;
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

bool unzipTestPasses(const std::string& archive, const std::string& password)
{
    QStringList arguments{"-qq"};
    // "-P" shares its word with the password, which may start with "-".
    if (!password.empty())
        arguments << "-P" + QString::fromStdString(password);
    arguments << "-t" << QString::fromStdString(archive);
    return QProcess::execute("unzip", arguments) == 0;
}

// Each path below root with its type, mode, size, link target and content:
// what a job must leave as it was.
QByteArray userFiles(const std::string& root)
{
    return shell("cd " + ShellWord::quoteIfNeeded(root)
                 + " && find . ! -name 'archive*.zip' -printf '%p %y %m %s %l\\n' -type f -exec md5sum {} + | sort");
}

// The command lines of every process of the machine.
std::string allCommandLines()
{
    std::string all;
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        // Processes come and go while they are read.
        QFile file(QString::fromStdString(it->path().string() + "/cmdline"));
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll().toStdString();
    }
    return all;
}

std::string stagingFolder()
{
    return WorkFolders(qgetenv("HOME").toStdString()).stagingFolder();
}

// A small file system of its own, to see a destination fill up.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder) : m_folder(folder)
    {
        fs::create_directories(folder);
        m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(m_folder.c_str());
    }
    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

} // namespace

class TestArchiveJob : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;

    std::string user(const std::string& relative = {}) const
    {
        return m_home->path() + "/user" + (relative.empty() ? "" : "/" + relative);
    }

    // Every delivered archive passes unzip's test (with its password only),
    // has no name marked as UTF-8, and leaves no staging folder behind.
    void checkDelivered(const JobRun& job, const std::string& archive, const std::string& password = {})
    {
        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        QCOMPARE(job.outcome.archivePath, archive);
        QVERIFY(unzipTestPasses(archive, password));
        if (!password.empty())
            QVERIFY(!unzipTestPasses(archive, password + "x"));
        for (const ZipReader::Entry& entry : ZipReader(archive).entries)
            QCOMPARE((entry.flags | entry.localFlags) & 0x0800, 0);
        QVERIFY(!fs::exists(stagingFolder()));
    }

private slots:
    void initTestCase()
    {
        if (!fs::exists(qgetenv("QUILLMERE_BUILD_DIR").toStdString() + "/gconv/gconv-modules"))
            QSKIP("the converter module is not built: php cannot give names in code page 932");
        // As a normal user would: files without read permission stay unread.
        QVERIFY(Privileges::dropFileOverride());
        qRegisterMetaType<FailureCause>();
    }
    void init() { m_home.emplace(); }
    void cleanup()
    {
        shell("chmod -R u+rwx " + ShellWord::quoteIfNeeded(m_home->path()));
        std::error_code error;
        fs::remove_all(m_home->path(), error);
        QVERIFY2(!error, error.message().c_str());
    }

    void archiveHasTheLayout()
    {
        // Path below one/, content, and entry name below archive/.
        const std::vector<std::array<std::string, 3>> files = {
            {"itemA/b.txt", "bee", "itemA/b.txt"},
            {"itemA/sub/deeper/d.txt", std::string(70000, 'd'), "itemA/sub/deeper/d.txt"},
            {"itemA/onlyhidden/.hidden", "hidden", "itemA/onlyhidden/.hidden"},
            {"itemA/a?b.txt", "prohibited", "itemA/a_b.txt"},
            {"target.txt", "target", "target.txt"},
            {"file1.txt", "file one", "file1.txt"},
            {"../two/file1.txt", "second file one", "file1 (2).txt"},
            // Decomposed as on a Mac; trail bytes 0x5C that must not split
            // the name; full-width look-alikes of prohibited characters.
            {"itemA/jp/\xe3\x81\x8b\xe3\x82\x99.txt", "ka", "itemA/jp/\x82\xaa.txt"},
            {"itemA/jp/\xef\xbe\x83\xef\xbd\xbd.txt", "kana", "itemA/jp/\xc3\xbd.txt"},
            {"itemA/jp/\xe3\x82\xbd\xe8\xa1\xa8\xe8\x83\xbd.txt", "so", "itemA/jp/\x83\x5c\x95\x5c\x94\x5c.txt"},
        };
        std::map<std::string, FileDigest> expected;
        for (const auto& [path, content, entry] : files) {
            writeFile(user("one/" + path), content);
            expected["archive/" + entry] = {0, 0};
        }
        writeFile(user("one/itemA/dsdir/.DS_Store"), "ds");
        fs::create_directories(user("one/itemA/empty"));
        fs::create_symlink("b.txt", user("one/itemA/relLink"));
        const QByteArray before = userFiles(user());

        const JobRun job = JobRun::of({user("one/itemA"), user("one/target.txt"), user("one/file1.txt"),
                                       user("two/file1.txt")},
                                      user("one"));

        checkDelivered(job, user("one/archive.zip"));
        QCOMPARE(userFiles(user()), before);
        const std::vector<std::string> names = ZipReader(user("one/archive.zip")).names();
        const std::set<std::string> got(names.begin(), names.end());
        for (const auto& [name, digest] : expected)
            QVERIFY2(got.count(name), name.c_str());
        for (const char* folder : {"archive/itemA/empty/", "archive/itemA/dsdir/", "archive/itemA/onlyhidden/"})
            QVERIFY2(got.count(folder), folder);
        QVERIFY(got.count("archive/itemA/relLink"));
        QCOMPARE(got.size(), expected.size() + 4);
    }

    // Names that meet on Windows: every file's bytes are in exactly one
    // entry, no two entries are one file to Windows, and the report names
    // every renamed item.
    void everyFileOnceUnderDistinctNames()
    {
        const std::vector<std::string> names = {"写真🍣.jpg", "写真🍜.jpg", "写真_.jpg", "a:b.txt", "a_b.txt", "q?.txt",
                                                "q*.txt", "〜.txt", "～.txt", "café.txt", "cafe.txt", "Report.txt",
                                                "report.TXT", "한.txt", "글.txt", "か\xe3\x82\x99.txt", "が.txt"};
        std::map<FileDigest, int> wanted;
        for (const std::string& name : names) {
            writeFile(user("photos/" + name), randomBytes(100));
            ++wanted[ArchiveContent::ofFile(user("photos/" + name))];
        }
        writeFile(user("photos/sub:dir/inner.txt"), randomBytes(50));
        writeFile(user("photos/sub_dir/inner.txt"), randomBytes(60));
        for (const char* inner : {"photos/sub:dir/inner.txt", "photos/sub_dir/inner.txt"})
            ++wanted[ArchiveContent::ofFile(user(inner))];

        const JobRun job = JobRun::of({user("photos")}, user());

        checkDelivered(job, user("archive.zip"));
        QCOMPARE(ArchiveContent::digestCounts(user("archive.zip")), wanted);
        const ZipReader archive(user("archive.zip"));
        std::set<QString> windowsNames;
        for (const std::string& entry : archive.names())
            windowsNames.insert(ArchiveContent::shownOnWindows(entry).toUpper());
        QCOMPARE(windowsNames.size(), archive.names().size());
        QVERIFY(job.outcome.report.renamed.size() >= 10);
        QVERIFY(job.logged("renamed: photos/"));
    }

    // A file the user cannot read, an unreadable folder, a dangling link
    // and a link loop stay out; everything else is archived and the report
    // says what is missing.
    void unreadableItemsAreReportedNotFatal()
    {
        writeFile(user("items/ok.txt"), "ok");
        writeFile(user("items/secret.txt"), "secret");
        writeFile(user("items/locked/inner.txt"), "inner");
        writeFile(user("items/open/x.txt"), "x");
        fs::permissions(user("items/secret.txt"), fs::perms::none);
        fs::permissions(user("items/locked"), fs::perms::none);
        fs::create_symlink("nowhere", user("items/dangling"));
        fs::create_symlink(".", user("items/loop"));

        const JobRun job = JobRun::of({user("items")}, user());

        checkDelivered(job, user("archive.zip"));
        QCOMPARE(ZipReader(user("archive.zip")).names().size(), size_t(2));
        QCOMPARE(job.outcome.report.leftOut.size(), size_t(4));
        QVERIFY(job.outcome.lostSomething());
        QVERIFY(job.logged("left out: " + user("items/secret.txt")));
    }

    void droppedRelativeLinkIsArchivedAsItsFile()
    {
        writeFile(user("items/real.txt"), "real data");
        fs::create_symlink("real.txt", user("items/link.txt"));
        const JobRun job = JobRun::of({user("items/link.txt")}, user("items"));
        checkDelivered(job, user("items/archive.zip"));
        QCOMPARE(ArchiveContent::entries(user("items/archive.zip")).at("archive/link.txt"),
                 ArchiveContent::ofFile(user("items/real.txt")));
    }

    // Earlier archives stay, and a gap is filled first.
    void nextJobsTakeTheNextFreeNames()
    {
        writeFile(user("items/a.txt"), "a");
        for (const std::string name : {"archive.zip", "archive1.zip", "archive2.zip", "archive1.zip"}) {
            if (fs::exists(user("items/archive2.zip")))
                fs::remove(user("items/archive1.zip"));
            checkDelivered(JobRun::of({user("items/a.txt")}, user("items")), user("items/" + name));
        }
    }

    void encryptedArchiveOpensWithItsPasswordOnly_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("destName");
        QTest::addColumn<QByteArray>("homeName");
        QTest::addColumn<int>("megabytes");
        QTest::newRow("Tcl and shell characters") << QByteArray("a\"b\\c$d[e]f{g}h;i 'j") << QByteArray("d e;f[g$h\"i'j")
                                                  << QByteArray("home") << 0;
        QTest::newRow("leading dash") << QByteArray("-x y") << QByteArray("-dash") << QByteArray("home") << 0;
        QTest::newRow("command, home of 120 characters with quotes")
            << QByteArray("[exec touch MARKER]") << QByteArray("dest")
            << QByteArray("h o\"m$e;'x:y[z]{w}\\v ") + QByteArray(100, 'h') << 0;
        QTest::newRow("non-ASCII") << QByteArray("パスé") << QByteArray("日本") << QByteArray("home") << 0;
        // Encrypting takes longer than any of the script's waits for prompts.
        QTest::newRow("large archive") << QByteArray("large secret") << QByteArray("dest") << QByteArray("home") << 120;
    }
    // Also: during encryption no process's command line holds the password.
    void encryptedArchiveOpensWithItsPasswordOnly()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, destName);
        QFETCH(QByteArray, homeName);
        QFETCH(int, megabytes);
        const std::string marker = user("marker");
        // Unique to this run: other test runs on the machine may use the
        // same rows.
        const std::string typed = password.replace("MARKER", marker.c_str()).toStdString() + " "
            + QUuid::createUuid().toString(QUuid::Id128).left(8).toStdString();
        qputenv("HOME", (m_home->path() + "/" + homeName.toStdString()).c_str()); // TestHome restores it
        fs::create_directories(qgetenv("HOME").toStdString());
        writeFile(user("items/folder/a.txt"), "alpha");
        writeFile(user("items/folder/\xef\xbe\x83\xef\xbd\xbd.txt"), "kana");
        fs::create_directories(user("items/folder/empty"));
        writeFile(user("items/b.txt"), randomBytes(megabytes ? size_t(megabytes) << 20 : 20000));
        const std::string dest = user(destName.toStdString());
        fs::create_directories(dest);
        bool passwordSeen = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] { passwordSeen |= allCommandLines().find(typed) != std::string::npos; });

        const JobRun job = JobRun::of({user("items/folder"), user("items/b.txt")}, dest, typed, [&](JobPhase phase) {
            if (phase == JobPhase::Encrypting)
                watch.start(10);
        });

        checkDelivered(job, dest + "/archive.zip", typed);
        QVERIFY(!passwordSeen);
        QVERIFY(!fs::exists(marker));
        const std::vector<std::string> names = ZipReader(dest + "/archive.zip").names();
        QCOMPARE(std::set<std::string>(names.begin(), names.end()),
                 (std::set<std::string>{"archive/b.txt", "archive/folder/a.txt", "archive/folder/\xc3\xbd.txt",
                                        "archive/folder/empty/"}));
    }

    // A file that takes the archive's name while the job runs is never
    // replaced, read-only or not: the archive takes the next free name.
    void fileAppearingUnderTheNameIsKept_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("plain") << false << false;
        QTest::newRow("encrypted, writable file") << true << false;
        QTest::newRow("encrypted, read-only file") << true << true;
    }
    void fileAppearingUnderTheNameIsKept()
    {
        QFETCH(bool, encrypted);
        QFETCH(bool, readOnly);
        writeFile(user("items/a.txt"), "a");
        const std::string own = user("items/archive.zip");
        const JobRun job = JobRun::of({user("items/a.txt")}, user("items"),
                                      encrypted ? std::optional<std::string>("pw") : std::nullopt, [&](JobPhase phase) {
                                          if (phase == JobPhase::Writing) {
                                              writeFile(own, "the user's own file");
                                              if (readOnly)
                                                  fs::permissions(own, fs::perms::owner_read);
                                          }
                                      });
        checkDelivered(job, user("items/archive1.zip"), encrypted ? "pw" : "");
        std::ifstream in(own);
        QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), std::string("the user's own file"));
    }

    void failedJobDeliversNothing_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<FailureCause>("expected");
        QTest::newRow("zipcloak missing") << "zipcloak" << FailureCause::EncryptorMissing;
        QTest::newRow("php missing") << "php" << FailureCause::WriterMissing;
        QTest::newRow("destination gone while encrypting") << "gone" << FailureCause::DestinationNotWritable;
        QTest::newRow("destination fills up, plain") << "full" << FailureCause::DestinationFull;
        QTest::newRow("destination fills up, encrypted") << "full encrypted" << FailureCause::DestinationFull;
    }
    // Nothing is delivered, nothing partial is left in the destination,
    // the staging folder is gone and nothing the job started runs on.
    void failedJobDeliversNothing()
    {
        QFETCH(QString, cause);
        QFETCH(FailureCause, expected);
        writeFile(user("items/a.txt"), randomBytes(3 << 20));
        const std::string dest = user("dest");
        std::optional<SmallDisk> disk;
        if (cause.startsWith("full") && !disk.emplace(dest).mounted())
            QSKIP("no permission to mount a small file system");
        fs::create_directories(dest);
        fs::create_directories(user("bin"));
        for (const char* tool : {"php", "mv", "sh"})
            if (cause != tool)
                fs::create_symlink(QStandardPaths::findExecutable(tool).toStdString(), user("bin/" + std::string(tool)));
        const QByteArray savedPath = qgetenv("PATH");
        if (cause == "zipcloak" || cause == "php")
            qputenv("PATH", QByteArray::fromStdString(user("bin")));
        const bool encrypted = cause == "zipcloak" || cause == "gone" || cause == "full encrypted";
        const JobRun job = JobRun::of({user("items")}, dest, encrypted ? std::optional<std::string>("pw") : std::nullopt,
                                      [&](JobPhase phase) {
                                          if (phase == JobPhase::Encrypting && cause == "gone")
                                              fs::remove_all(dest);
                                      });
        qputenv("PATH", savedPath);
        QVERIFY(job.ended);
        QCOMPARE(job.outcome.kind, JobOutcome::Kind::Failed);
        QCOMPARE(job.outcome.cause, expected);
        QVERIFY(!fs::exists(dest) || fs::is_empty(dest));
        QVERIFY(!fs::exists(stagingFolder()));
        QCOMPARE(shell("pgrep -f -- " + stagingFolder() + " || true"), QByteArray());
    }

    // The work folder is the user's alone: an existing one open to others
    // is closed, and one that is a link is refused.
    void workFolderIsPrivate()
    {
        writeFile(user("items/a.txt"), "a");
        const std::string root = qgetenv("HOME").toStdString() + "/.quillmere";
        fs::create_directories(root);
        fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                  | fs::perms::others_read | fs::perms::others_exec);
        checkDelivered(JobRun::of({user("items/a.txt")}, user("items")), user("items/archive.zip"));
        QCOMPARE(fs::status(root).permissions() & fs::perms::all, fs::perms::owner_all);
    }

    void workFolderThatIsALinkIsRefused()
    {
        writeFile(user("items/a.txt"), "a");
        const std::string elsewhere = m_home->makeFolder("elsewhere");
        fs::create_directory_symlink(elsewhere, qgetenv("HOME").toStdString() + "/.quillmere");
        const JobRun job = JobRun::of({user("items/a.txt")}, user("items"));
        QCOMPARE(job.outcome.cause, FailureCause::WorkFolderRefused);
        QVERIFY(fs::is_empty(elsewhere));
        QVERIFY(!fs::exists(user("items/archive.zip")));
    }
};

QTEST_GUILESS_MAIN(TestArchiveJob)
#include "tst_ArchiveJob.moc"
