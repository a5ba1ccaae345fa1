// Whole jobs with the real php on trees that lie on another file system
// than the home folder (a tmpfs of the test's own, as a USB stick would
// be): the files are staged as links, not copies, every byte reaches the
// archive, and a file removed, renamed, replaced or changed while the job
// runs fails the job instead of leaving a gap or other data in it. The
// links go to a folder in memory where the session's runtime folder is a
// tmpfs, and to the disk where it is not or where memory runs out.
#include "JobChecks.h"
#include "ReportLines.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TmpfsMounts.h"
#include "ZipReader.h"

#include <QCryptographicHash>
#include <QtTest>

#include <sys/stat.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(JobPhase)

namespace {

QByteArray sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// What the staging folders of the work folder take on disk, and whether
// any of them holds a file with data (a copy).
struct StagedDisk {
    uint64_t bytes = 0;
    int filesWithData = 0;
};

// The symbolic links in the content folders below the memory root.
int linksInMemory(const std::string& memoryRoot)
{
    int links = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(memoryRoot))
        links += entry.is_symlink() && entry.path().string().find("/archive/") != std::string::npos ? 1 : 0;
    return links;
}

StagedDisk stagedDisk()
{
    StagedDisk disk;
    const std::string root = workFolders().tmpDirectory();
    for (const fs::directory_entry& top : fs::directory_iterator(root)) {
        if (!top.path().filename().string().starts_with(WorkFolders::STAGING_DIR_NAME))
            continue;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top.path())) {
            struct stat info {};
            if (::lstat(entry.path().c_str(), &info) != 0)
                continue;
            disk.bytes += static_cast<uint64_t>(info.st_blocks) * 512;
            if (S_ISREG(info.st_mode) && info.st_size > 0 && entry.path().extension() != ".zip")
                ++disk.filesWithData;
        }
    }
    return disk;
}

} // namespace

class TestLinkedStaging : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;
    TmpfsMounts m_mounts;
    std::optional<QByteArray> m_savedRuntime;

    std::string user(const std::string& relative) const { return m_home->path() + "/user/" + relative; }

    // A file system of the test's own on a folder below the home folder;
    // empty when none can be mounted.
    std::string mounted(const std::string& name, const std::string& options)
    {
        const std::string folder = m_home->makeFolder(name);
        return m_mounts.mount(folder, options) ? folder : std::string();
    }
    // The session's runtime folder, of the user alone: a tmpfs with
    // options, or a folder on the home folder's disk for none. Empty when
    // no tmpfs can be mounted.
    std::string runtime(const std::string& options)
    {
        std::string folder = m_home->makeFolder("runtime");
        if (!options.empty())
            folder = mounted("runtime", options + ",mode=0700");
        else
            fs::permissions(folder, fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder));
        return folder;
    }

private slots:
    void initTestCase()
    {
        if (!fs::exists(qgetenv("QUILLMERE_BUILD_DIR").toStdString() + "/gconv/gconv-modules"))
            QSKIP("the converter module is not built: php cannot give names in code page 932");
    }
    void init()
    {
        m_home.emplace();
        m_savedRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") ? std::optional(qgetenv("XDG_RUNTIME_DIR"))
                                                                      : std::nullopt;
        // Memory the test does not own is never used.
        runtime({});
    }
    void cleanup()
    {
        m_mounts.unmountAll();
        m_home.reset();
        if (m_savedRuntime)
            qputenv("XDG_RUNTIME_DIR", *m_savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

    void treeOnAnotherFileSystemIsArchivedWithoutCopies_data()
    {
        QTest::addColumn<QByteArray>("password"); // none for a plain archive
        QTest::addColumn<QString>("memory"); // the runtime folder's tmpfs options; none: on disk
        QTest::addColumn<bool>("linkedInMemory");
        QTest::newRow("plain, links in memory") << QByteArray() << "size=4m" << true;
        QTest::newRow("encrypted, links in memory") << QByteArray("secret") << "size=4m" << true;
        QTest::newRow("plain, runtime folder on disk") << QByteArray() << "" << false;
        // Too few inodes for the tree: it is staged again, on disk.
        QTest::newRow("plain, memory runs out") << QByteArray() << "nr_inodes=60" << false;
    }
    // Every file's bytes reach the archive, under its Windows-safe name,
    // while the work folder holds links and folders only: its extra disk
    // is a small part of the tree's size.
    void treeOnAnotherFileSystemIsArchivedWithoutCopies()
    {
        QFETCH(QByteArray, password);
        QFETCH(QString, memory);
        QFETCH(bool, linkedInMemory);
        const std::optional<std::string> typed =
            password.isEmpty() ? std::nullopt : std::optional(password.toStdString());
        const std::string root = mounted("stick", "size=64m");
        const std::string runtimeFolder = runtime(memory.toStdString());
        if (root.empty() || runtimeFolder.empty())
            QSKIP("no permission to mount a file system");
        const std::string memoryRoot = runtimeFolder + "/quillmere";
        const std::string tree = root + "/tree";
        QList<QByteArray> wanted;
        std::vector<std::string> sources;
        uint64_t treeBytes = 0;
        const auto add = [&](const std::string& path, size_t size) {
            const std::string data = randomBytes(size);
            writeFile(tree + "/" + path, data);
            sources.push_back(tree + "/" + path);
            wanted << sha256(QByteArray::fromStdString(data));
            treeBytes += size;
        };
        for (int i = 0; i < 300; ++i)
            add("d" + std::to_string(i % 12) + "/f" + std::to_string(i) + ".txt", 100 + size_t(i) * 37 % 3000);
        add("big/one.bin", 6 << 20);
        add("q?/x*.txt", 10);
        add("表/日本語.txt", 20);
        writeFile(tree + "/d0/.DS_Store", "ds");
        fs::create_directories(tree + "/empty");
        std::sort(wanted.begin(), wanted.end());
        const std::string dest = user("dest");
        fs::create_directories(dest);
        StagedDisk disk;
        int inMemory = -1;

        // When the writer starts, the content is complete and still there.
        const JobRun job = JobRun::of({tree}, dest, typed, [&](JobPhase phase) {
            if (phase != JobPhase::Writing)
                return;
            disk = stagedDisk();
            inMemory = fs::exists(memoryRoot) ? linksInMemory(memoryRoot) : 0;
        });

        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        const std::string archive = dest + "/archive.zip";
        QCOMPARE(entryDigests(archive, typed), wanted);
        const std::vector<std::string> names = ZipReader(archive).names();
        for (const char* name : {"archive/tree/q_/x_.txt", "archive/tree/\x95\x5c/\x93\xfa\x96\x7b\x8c\xea.txt",
                                 "archive/tree/empty/", "archive/tree/big/one.bin"})
            QVERIFY2(std::ranges::count(names, name) == 1, name);
        QVERIFY(std::ranges::none_of(names, [](const std::string& name) { return name.ends_with(".DS_Store"); }));
        QCOMPARE(job.outcome.report.fileCount, 303);
        QCOMPARE(disk.filesWithData, 0);
        qInfo("tree %llu bytes, staged %llu bytes on disk", static_cast<unsigned long long>(treeBytes),
              static_cast<unsigned long long>(disk.bytes));
        QVERIFY(disk.bytes > 0 && disk.bytes < treeBytes / 8);
        QCOMPARE(inMemory, linkedInMemory ? 303 : 0);
        // Memory that ran out is told in one line, and nothing else is.
        const bool ranOut = memory.startsWith("nr_inodes");
        QCOMPARE(linesStarting(job, "on fixProhibitedCharacters error:"), ranOut ? 1 : 0);
        QCOMPARE(std::ranges::count_if(job.lines, [](const std::string& line) {
                     return line.ends_with(": staging again on disk");
                 }),
                 ranOut ? 1 : 0);
        // The links were removed, never what they lead to.
        QCOMPARE(leftInWorkRoot(), QStringList());
        if (fs::exists(memoryRoot))
            QVERIFY(fs::is_empty(memoryRoot));
        QList<QByteArray> after;
        for (const std::string& source : sources)
            after << sha256(QByteArray::fromStdString(readFile(source)));
        std::sort(after.begin(), after.end());
        QCOMPARE(after, wanted);
    }

    void aFileThatChangesWhileTheJobRunsFailsIt_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("elsewhere"); // the tree lies on another file system
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<JobPhase>("failedIn"); // Delivering when it is delivered
        QTest::addColumn<bool>("inMemory");   // the runtime folder is a tmpfs
        const QByteArray plain;
        // Gone before the writer lists its folder: php would leave it out.
        QTest::newRow("removed") << "remove" << true << plain << JobPhase::Verifying << false;
        QTest::newRow("renamed") << "rename" << true << plain << JobPhase::Verifying << false;
        QTest::newRow("removed, encrypted") << "remove" << true << QByteArray("pw") << JobPhase::Verifying << false;
        // php would archive the other file's data, or the new data.
        QTest::newRow("another file in its place") << "replace" << true << plain << JobPhase::Verifying << false;
        QTest::newRow("appended to") << "append" << true << plain << JobPhase::Verifying << false;
        // Gone after php listed it, before it read it: the writer fails.
        QTest::newRow("removed while the writer works") << "remove while writing" << true << plain
                                                        << JobPhase::Writing << false;
        QTest::newRow("removed, links in memory") << "remove" << true << plain << JobPhase::Verifying << true;
        QTest::newRow("renamed, links in memory") << "rename" << true << plain << JobPhase::Verifying << true;
        // On the home folder's file system the staged hard link keeps the
        // file the user gave: the archive holds it.
        QTest::newRow("renamed, hard-linked") << "rename" << false << plain << JobPhase::Delivering << false;
    }
    // The job fails with its own cause and one line that names the file and
    // what became of it; nothing is delivered and nothing is left behind.
    void aFileThatChangesWhileTheJobRunsFailsIt()
    {
        QFETCH(QString, change);
        QFETCH(bool, elsewhere);
        QFETCH(QByteArray, password);
        QFETCH(JobPhase, failedIn);
        QFETCH(bool, inMemory);
        const std::string root = elsewhere ? mounted("stick", "size=64m") : m_home->makeFolder("disk");
        if (root.empty() || (inMemory && runtime("size=4m").empty()))
            QSKIP("no permission to mount a file system");
        const std::string items = root + "/items", target = items + "/sub/b.txt";
        writeFile(items + "/a.txt", randomBytes(1000));
        const std::string original = randomBytes(2000);
        writeFile(target, original);
        const std::string dest = user("dest");
        fs::create_directories(dest);
        const QByteArray savedPath = qgetenv("PATH");
        if (change == "remove while writing") {
            qputenv("PATH", QByteArray(QUILLMERE_STANDINS ":") + savedPath);
            qputenv("QUILLMERE_TEST_REMOVE", QByteArray::fromStdString(target));
        }

        const JobRun job = JobRun::of(
            {items}, dest, password.isEmpty() ? std::nullopt : std::optional(password.toStdString()),
            [&](JobPhase phase) {
                if (phase != JobPhase::Writing)
                    return;
                if (change == "remove")
                    fs::remove(target);
                if (change == "rename")
                    fs::rename(target, target + ".old");
                if (change == "replace") {
                    writeFile(target + ".new", randomBytes(2000));
                    fs::rename(target + ".new", target);
                }
                if (change == "append")
                    std::ofstream(target, std::ios::app) << "more";
            });

        qputenv("PATH", savedPath);
        qunsetenv("QUILLMERE_TEST_REMOVE");
        QVERIFY(job.ended);
        QCOMPARE(leftInWorkRoot(), QStringList());
        if (failedIn == JobPhase::Delivering) {
            QVERIFY2(job.delivered(), job.outcome.description.c_str());
            QVERIFY(entryDigests(dest + "/archive.zip").contains(sha256(QByteArray::fromStdString(original))));
            return;
        }
        QCOMPARE(job.outcome.kind, JobOutcome::Kind::Failed);
        QCOMPARE(job.outcome.cause, FailureCause::ItemChanged);
        QCOMPARE(job.outcome.failedIn, failedIn);
        const std::string changed = "changed while the job ran: " + target + " (";
        QVERIFY2(job.outcome.description.starts_with(changed), job.outcome.description.c_str());
        QCOMPARE(std::ranges::count_if(job.lines, [&](const std::string& line) { return line.find(changed) != line.npos; }),
                 1);
        // Nor does the writer's failure add a line of its own.
        QCOMPARE(linesStarting(job, "convert charset and create zip error:"), failedIn == JobPhase::Writing ? 1 : 0);
        QVERIFY(fs::is_empty(dest));
        QCOMPARE(std::string(ReportLines::causeText(job.outcome.cause)), std::string("an item changed while the job ran"));
    }
};

QTEST_GUILESS_MAIN(TestLinkedStaging)
#include "tst_LinkedStaging.moc"
