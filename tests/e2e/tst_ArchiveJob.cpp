#include "ArchiveJobTest.h"
#include "ArchiveTools.h"
#include "FileManager.h"
#include "FolderChooser.h"
#include "JobLog.h"
#include "UserTreeSnapshot.h"
#include "WorkFolders.h"

#include <QtTest>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// A chooser that answers at once with a folder, or cancels.
class AnsweringChooser : public FolderChooser {
public:
    AnsweringChooser(bool accept, std::string folder) : m_accept(accept), m_folder(std::move(folder)) {}
    void chooseFolder(Done done) override { done(m_accept, m_folder); }

private:
    bool m_accept;
    std::string m_folder;
};

// Replaces PATH while it lives: the job's child processes inherit it.
class PathOverride {
public:
    explicit PathOverride(const std::string& path) : m_saved(qgetenv("PATH")) { qputenv("PATH", path.c_str()); }
    ~PathOverride() { qputenv("PATH", m_saved); }

private:
    QByteArray m_saved;
};

// Sets HOME while it lives (inside a TestHome, which restores the rest).
class HomeOverride {
public:
    explicit HomeOverride(const std::string& home) : m_saved(qgetenv("HOME")) { qputenv("HOME", home.c_str()); }
    ~HomeOverride() { qputenv("HOME", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace

class TestArchiveJob : public ArchiveJobTest {
    Q_OBJECT
private slots:
    void init() { makeHome(); }
    void cleanup() { dropHome(); }

    void threeItemsFromTwoFoldersGiveTheLayout();
    void nextJobsTakeTheNextFreeNames();
    void missingItemIsLoggedAndSkipped();
    void secondItemOfTheSameNameIsLeftOut();
    void prohibitedCharactersAreReplaced();
    void namesAreCodePage932();
    void leftoverStagingNeverReachesTheArchive();
    void fileAppearingUnderTheNameIsNotReplaced();
    void unusualHomeFolderWorks_data();
    void unusualHomeFolderWorks();
    void writerWithoutArchiveEndsTheJob_data();
    void writerWithoutArchiveEndsTheJob();
    void chosenFolderReceivesTheArchive();

private:
    // The checks every delivered plain job passes.
    void checkDelivered(const JobRun& run, const std::string& expectedPath);
    void checkEntries(const ZipReader& reader);
};

void TestArchiveJob::checkDelivered(const JobRun& run, const std::string& expectedPath)
{
    QVERIFY2(run.finished, run.report().c_str());
    QCOMPARE(run.finishedCount, 1);
    QVERIFY2(run.deleted, "the job did not delete itself");
    QVERIFY2(run.outcome.kind == JobOutcome::Kind::Delivered, run.report().c_str());
    QCOMPARE(run.outcome.archivePath, expectedPath);
    QVERIFY(!run.outcome.encrypted);
    QVERIFY(fs::is_regular_file(expectedPath));
    const ArchiveTools::Result test = ArchiveTools::unzipTest(expectedPath);
    QVERIFY2(test.status == 0, test.output.c_str());
}

void TestArchiveJob::checkEntries(const ZipReader& reader)
{
    QVERIFY2(reader.error().empty(), reader.error().c_str());
    for (const ZipReader::Entry& entry : reader.entries()) {
        QVERIFY2(entry.localNameMatches, entry.name.c_str());
        QVERIFY2(!(entry.flags & 0x0800) && !(entry.localFlags & 0x0800), entry.name.c_str());
        QVERIFY2(!entry.encrypted(), entry.name.c_str());
    }
}

void TestArchiveJob::threeItemsFromTwoFoldersGiveTheLayout()
{
    using AT = ArchiveTools;
    AT::writeFile(user("one/itemA/b.txt"), "bee");
    AT::writeFile(user("one/itemA/sub/c.txt"), "sea");
    AT::writeFile(user("one/itemA/sub/deeper/d.txt"), std::string(70000, 'd'));
    fs::create_directories(user("one/itemA/empty"));
    AT::writeFile(user("one/itemA/onlyhidden/.hidden"), "hidden");
    AT::writeFile(user("one/itemA/dsdir/.DS_Store"), "ds");
    AT::writeFile(user("one/itemA/x.DS_Store.txt"), "left out");
    AT::writeFile(user("one/itemA/y.DS_Store/z.txt"), "left out too");
    AT::writeFile(user("one/target.txt"), "target of a link");
    fs::create_symlink(user("one/target.txt"), user("one/itemA/linkToFile"));
    fs::create_symlink("b.txt", user("one/itemA/relLink"));
    fs::create_symlink(user("one/itemA/sub"), user("one/itemA/linkToFolder"));
    fs::create_symlink(user("nowhere"), user("one/itemA/dangling"));
    QCOMPARE(::mkfifo(user("one/itemA/fifo").c_str(), 0644), 0);
    AT::writeFile(user("one/file1.txt"), "file one");
    AT::writeFile(user("two/itemC/c1.txt"), "c one");
    fs::create_directories(user("two/itemC/emptyC"));
    ::chmod(user("one/file1.txt").c_str(), 0444);
    const UserTreeSnapshot before(user());

    const std::vector<std::string> items = {user("one/itemA"), user("one/file1.txt"), user("two/itemC")};
    const JobRun run = runJob(items, user("one"));

    checkDelivered(run, user("one/archive.zip"));
    const UserTreeSnapshot after = UserTreeSnapshot(user()).without(user("one/archive.zip"));
    QVERIFY2(after == before.without(user("one/archive.zip")), before.differences(after).c_str());

    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.firstLine, "tmpDirectory: " + tmpDirectory());
    QVERIFY2(sorted(log.staging) == expectedStagingLines(items),
             lineDifferences(log.staging, expectedStagingLines(items)).c_str());
    QVERIFY2(log.problem.empty(), log.problem.c_str());
    QVERIFY(log.pollPairs >= 1);
    QCOMPARE(log.after, std::vector<std::string> {});
    QCOMPARE(run.phases, (std::vector<JobPhase> {JobPhase::Copying, JobPhase::Writing}));
    // Without encryption the staging folder stays until the next job.
    QVERIFY(run.stagingExistedAtFinish);

    const ZipReader reader(user("one/archive.zip"));
    checkEntries(reader);
    const std::map<std::string, std::string> files = {
        {"archive/itemA/b.txt", "bee"},
        {"archive/itemA/sub/c.txt", "sea"},
        {"archive/itemA/sub/deeper/d.txt", std::string(70000, 'd')},
        {"archive/itemA/onlyhidden/.hidden", "hidden"},
        {"archive/itemA/linkToFile", "target of a link"},
        {"archive/itemA/relLink", "bee"},
        {"archive/file1.txt", "file one"},
        {"archive/itemC/c1.txt", "c one"},
    };
    const std::vector<std::string> folders = {"archive/itemA/empty/", "archive/itemA/onlyhidden/",
                                              "archive/itemA/dsdir/", "archive/itemC/emptyC/"};
    for (const auto& [name, content] : files) {
        const ZipReader::Entry* entry = reader.find(name);
        QVERIFY2(entry, ("missing entry " + name + "\n" + joined(reader.names())).c_str());
        QCOMPARE(entry->size, uint64_t(content.size()));
        QCOMPARE(entry->crc32, ZipReader::crc32(content));
    }
    // The order is that of the writer's walk through the content folder,
    // which stays in the staging folder after a plain job.
    std::vector<std::string> order = AT::writerEntryOrder(contentFolder());
    if (!AT::converterModuleBuilt()) {
        // Without the converter php cannot name folder entries at all;
        // file entries fall back to their unconverted path names.
        std::erase_if(order, [](const std::string& name) { return name.ends_with("/"); });
        QCOMPARE(reader.names(), order);
        QCOMPARE(reader.entries().size(), files.size());
        QSKIP(AT::converterModuleMissingReason().c_str());
    }
    QCOMPARE(reader.names(), order);
    QCOMPARE(reader.entries().size(), files.size() + folders.size());
    for (const std::string& folder : folders)
        QVERIFY2(reader.find(folder), ("missing folder entry " + folder).c_str());
}

void TestArchiveJob::nextJobsTakeTheNextFreeNames()
{
    ArchiveTools::writeFile(user("items/a.txt"), "a");
    const std::string dest = user("items");
    for (const char* name : {"archive.zip", "archive1.zip", "archive2.zip"}) {
        const UserTreeSnapshot before(user());
        const JobRun run = runJob({user("items/a.txt")}, dest);
        checkDelivered(run, dest + "/" + name);
        const UserTreeSnapshot after = UserTreeSnapshot(user()).without(dest + "/" + name);
        // The earlier archives are the user's files now: left alone.
        QVERIFY2(after == before.without(dest + "/" + name), before.differences(after).c_str());
        const JobLog log(run.applicationLines(), run.outputFolder + "/" + name);
        QCOMPARE(log.staging, std::vector<std::string> {});
        QCOMPARE(log.after, std::vector<std::string> {});
        QCOMPARE(ZipReader(dest + "/" + name).names(), std::vector<std::string> {"archive/a.txt"});
    }
    // A gap is filled first.
    fs::remove(dest + "/archive1.zip");
    checkDelivered(runJob({user("items/a.txt")}, dest), dest + "/archive1.zip");
    QVERIFY(!fs::exists(dest + "/archive3.zip"));
}

void TestArchiveJob::missingItemIsLoggedAndSkipped()
{
    ArchiveTools::writeFile(user("one/a.txt"), "a");
    ArchiveTools::writeFile(user("two/b.txt"), "b");
    const std::string missing = user("one/missing.txt");
    const UserTreeSnapshot before(user());
    const JobRun run = runJob({user("one/a.txt"), missing, user("two/b.txt")}, user("one"));
    checkDelivered(run, user("one/archive.zip"));
    QVERIFY(UserTreeSnapshot(user()).without(user("one/archive.zip")) == before.without(user("one/archive.zip")));
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.staging, (std::vector<std::string> {"copy file or directories error:No such file or directory: "
                                                     + missing + ", error file Path: " + missing}));
    QCOMPARE(log.after, std::vector<std::string> {});
    QCOMPARE(sorted(ZipReader(user("one/archive.zip")).names()),
             (std::vector<std::string> {"archive/a.txt", "archive/b.txt"}));
}

void TestArchiveJob::secondItemOfTheSameNameIsLeftOut()
{
    ArchiveTools::writeFile(user("one/same/x.txt"), "first");
    ArchiveTools::writeFile(user("two/same/y.txt"), "second");
    const UserTreeSnapshot before(user());
    const JobRun run = runJob({user("one/same"), user("two/same")}, user("one"));
    checkDelivered(run, user("one/archive.zip"));
    QVERIFY(UserTreeSnapshot(user()).without(user("one/archive.zip")) == before.without(user("one/archive.zip")));
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    const std::string copyFailure = "copy file or directories error:File exists: " + run.stagingFolder
        + "/same, error file Path: " + user("two/same");
    QCOMPARE(sorted(log.staging), expectedStagingLines({user("one/same")}, {copyFailure}));
    const ZipReader reader(user("one/archive.zip"));
    QCOMPARE(reader.names(), std::vector<std::string> {"archive/same/x.txt"});
    QCOMPARE(reader.entries()[0].crc32, ZipReader::crc32("first"));
}

void TestArchiveJob::prohibitedCharactersAreReplaced()
{
    using AT = ArchiveTools;
    const std::string yen = "\xc2\xa5";
    AT::writeFile(user("pro/names/a\\b<c>d:e*f?g\"h" + yen + "i|j.txt"), "every one");
    AT::writeFile(user("pro/names/x??y**||.txt"), "several");
    AT::writeFile(user("pro/names/_a_?_.txt"), "with low lines");
    AT::writeFile(user("pro/names/plain_name.txt"), "plain");
    AT::writeFile(user("pro/names/sub?dir/f.txt"), "in a folder");
    AT::writeFile(user("pro/names/sub?dir/g*.txt"), "both");
    AT::writeFile(user("pro/dir:x|y/in*side.txt"), "inside");
    AT::writeFile(user("pro/dir:x|y/plain.txt"), "plain inside");
    AT::writeFile(user("pro/top?.txt"), "top");
    const UserTreeSnapshot before(user());
    const std::vector<std::string> items = {user("pro/names"), user("pro/dir:x|y"), user("pro/top?.txt")};
    const JobRun run = runJob(items, user("pro"));
    checkDelivered(run, user("pro/archive.zip"));
    QVERIFY(UserTreeSnapshot(user()).without(user("pro/archive.zip")) == before.without(user("pro/archive.zip")));

    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(sorted(log.staging), expectedStagingLines(items));
    QCOMPARE(log.after, std::vector<std::string> {});
    const std::map<std::string, std::string> expected = {
        {"archive/names/a_b_c_d_e_f_g_h_i_j.txt", "every one"},
        {"archive/names/x__y____.txt", "several"},
        {"archive/names/_a___.txt", "with low lines"},
        {"archive/names/plain_name.txt", "plain"},
        {"archive/names/sub_dir/f.txt", "in a folder"},
        {"archive/names/sub_dir/g_.txt", "both"},
        {"archive/dir_x_y/in_side.txt", "inside"},
        {"archive/dir_x_y/plain.txt", "plain inside"},
        {"archive/top_.txt", "top"},
    };
    const ZipReader reader(user("pro/archive.zip"));
    checkEntries(reader);
    QCOMPARE(reader.entries().size(), expected.size());
    for (const auto& [name, content] : expected) {
        const ZipReader::Entry* entry = reader.find(name);
        QVERIFY2(entry, ("missing " + name + "\n" + joined(reader.names())).c_str());
        QCOMPARE(entry->crc32, ZipReader::crc32(content));
    }
}

// Names reach the archive as code page 932 bytes: decomposed forms are
// composed, full-width look-alikes of prohibited characters stay.
void TestArchiveJob::namesAreCodePage932()
{
    if (!ArchiveTools::converterModuleBuilt())
        QSKIP(ArchiveTools::converterModuleMissingReason().c_str());
    using AT = ArchiveTools;
    const std::vector<std::pair<std::string, std::string>> names = {
        // name on disk (UTF-8), name it should have (UTF-8) before conversion
        {"\xe3\x81\x8b\xe3\x82\x99.txt", "\xe3\x81\x8c.txt"},                        // ka + voiced mark
        {"\xe3\x83\x8f\xe3\x82\x9a\xe3\x82\xb9.txt", "\xe3\x83\x91\xe3\x82\xb9.txt"}, // ha + semi-voiced
        {"\xef\xbe\x83\xef\xbd\xbd.txt", "\xef\xbe\x83\xef\xbd\xbd.txt"},             // half-width katakana
        {"\xe3\x82\xbd\xe8\xa1\xa8\xe8\x83\xbd.txt", "\xe3\x82\xbd\xe8\xa1\xa8\xe8\x83\xbd.txt"}, // 0x5C trail
        {"\xe2\x91\xa0.txt", "\xe2\x91\xa0.txt"},                                     // circled one
        {"\xef\xbd\x86\xef\xbc\xbc\xef\xbc\x9f\xef\xbf\xa5\xef\xbc\x8a.txt",
         "\xef\xbd\x86\xef\xbc\xbc\xef\xbc\x9f\xef\xbf\xa5\xef\xbc\x8a.txt"},         // full-width look-alikes
    };
    for (const auto& [onDisk, wanted] : names)
        AT::writeFile(user("jp/names/" + onDisk), wanted);
    AT::writeFile(user("jp/names/e\xcc\x81t\xc3\xa9.txt"), "accents");      // both forms of e-acute
    AT::writeFile(user("jp/names/caf\xe9.txt"), "not UTF-8");              // a Latin-1 byte
    fs::create_directories(user("jp/names/\xe7\xa9\xba"));                  // an empty folder
    const UserTreeSnapshot before(user());
    const JobRun run = runJob({user("jp/names")}, user("jp"));
    checkDelivered(run, user("jp/archive.zip"));
    QVERIFY(UserTreeSnapshot(user()).without(user("jp/archive.zip")) == before.without(user("jp/archive.zip")));

    const ZipReader reader(user("jp/archive.zip"));
    checkEntries(reader);
    const std::string prefix = "archive/names/";
    for (const auto& [onDisk, wanted] : names) {
        const std::string raw = prefix + AT::cp932(wanted);
        const ZipReader::Entry* entry = reader.find(raw);
        QVERIFY2(entry, ("no entry with the code page 932 name of " + wanted + "\n" + joined(reader.names())).c_str());
        QCOMPARE(entry->crc32, ZipReader::crc32(wanted));
    }
    // Characters the code page lacks become their base letter; bytes that
    // are no UTF-8 at all become "_".
    QVERIFY2(reader.find(prefix + "ete.txt"), joined(reader.names()).c_str());
    QVERIFY2(reader.find(prefix + "caf_.txt"), joined(reader.names()).c_str());
    QVERIFY2(reader.find(prefix + AT::cp932("\xe7\xa9\xba") + "/"), joined(reader.names()).c_str());
    QCOMPARE(reader.entries().size(), names.size() + 3);
}

void TestArchiveJob::leftoverStagingNeverReachesTheArchive()
{
    const std::string staging = WorkFolders::stagingFolder(tmpDirectory());
    const std::string output = WorkFolders::outputFolder(tmpDirectory(), WorkFolders::OUTPUT_DIR_NAME);
    ArchiveTools::writeFile(staging + "/old.txt", "old");
    ArchiveTools::writeFile(output + "/archive/stale.txt", "stale");
    ArchiveTools::writeFile(output + "/archive.zip", "not a zip file");
    ArchiveTools::writeFile(user("new/n.txt"), "new");
    const JobRun run = runJob({user("new/n.txt")}, user("new"));
    checkDelivered(run, user("new/archive.zip"));
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.staging, std::vector<std::string> {});
    QCOMPARE(ZipReader(user("new/archive.zip")).names(), std::vector<std::string> {"archive/n.txt"});
    QVERIFY(!fs::exists(staging + "/old.txt"));
}

// The name was free when the job chose it; the user's file that appears
// there meanwhile is kept and the job ends as failed.
void TestArchiveJob::fileAppearingUnderTheNameIsNotReplaced()
{
    ArchiveTools::writeFile(user("items/a.txt"), "a");
    const std::string dest = user("dest");
    fs::create_directories(dest);
    const UserTreeSnapshot before(user("items"));
    JobRun::Request request;
    request.paths = {user("items/a.txt")};
    request.destDir = dest;
    request.onPhase = [&](JobPhase phase) {
        if (phase == JobPhase::Writing)
            ArchiveTools::writeFile(dest + "/archive.zip", "the user's own file");
    };
    const JobRun run(request);
    QVERIFY2(run.finished && run.deleted, run.report().c_str());
    QVERIFY2(run.outcome.kind == JobOutcome::Kind::Failed, run.report().c_str());
    QCOMPARE(run.outcome.failedIn, JobPhase::Delivering);
    QVERIFY(!run.outcome.description.empty());
    QCOMPARE(ArchiveTools::readFile(dest + "/archive.zip"), std::string("the user's own file"));
    QCOMPARE(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 1);
    QVERIFY(UserTreeSnapshot(user("items")) == before);
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.after, (std::vector<std::string> {"copy file or directories error:File exists: " + dest
                                                   + "/archive.zip, error file Path: " + dest}));
    // The archive waits in the output folder until the next job.
    QVERIFY(fs::is_regular_file(run.outputFolder + "/archive.zip"));
}

void TestArchiveJob::unusualHomeFolderWorks_data()
{
    QTest::addColumn<QByteArray>("homeName");
    QTest::newRow("blank") << QByteArray("my home");
    QTest::newRow("double quote") << QByteArray("a\"b");
    QTest::newRow("dollar") << QByteArray("$HOME");
    QTest::newRow("semicolon") << QByteArray("a;b");
    QTest::newRow("single quote") << QByteArray("o'brien");
    QTest::newRow("colon") << QByteArray("a:b");
    QTest::newRow("all together") << QByteArray("h o\"m$e;'x:y");
}

// The writer's "cd" must reach the output folder and the name rules must
// not take the home folder's own name for a prohibited character.
void TestArchiveJob::unusualHomeFolderWorks()
{
    QFETCH(QByteArray, homeName);
    const std::string home = m_home->path() + "/" + homeName.toStdString();
    fs::create_directories(home);
    const HomeOverride homeOverride(home);
    ArchiveTools::writeFile(user("items/folder/a.txt"), "a");
    ArchiveTools::writeFile(user("items/b.txt"), "b");
    const UserTreeSnapshot before(user());
    const std::vector<std::string> items = {user("items/folder"), user("items/b.txt")};
    const JobRun run = runJob(items, user("items"));
    checkDelivered(run, user("items/archive.zip"));
    QVERIFY(UserTreeSnapshot(user()).without(user("items/archive.zip")) == before.without(user("items/archive.zip")));
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.firstLine, "tmpDirectory: " + home + "/.quillmere");
    QCOMPARE(sorted(log.staging), expectedStagingLines(items));
    QCOMPARE(log.after, std::vector<std::string> {});
    QCOMPARE(sorted(ZipReader(user("items/archive.zip")).names()),
             (std::vector<std::string> {"archive/b.txt", "archive/folder/a.txt"}));
}

void TestArchiveJob::writerWithoutArchiveEndsTheJob_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("status");
    QTest::newRow("only a .DS_Store file") << "ds" << "exit status 0";
    QTest::newRow("php missing") << "nophp" << "exit status 127";
}

// php writes no archive when it adds nothing, and none at all when it
// cannot be found: the poll must end the job instead of waiting forever.
void TestArchiveJob::writerWithoutArchiveEndsTheJob()
{
    QFETCH(QString, cause);
    QFETCH(QString, status);
    ArchiveTools::writeFile(user("items/folder/x.DS_Store.txt"), "left out");
    const std::string emptyBin = user("bin");
    fs::create_directories(emptyBin);
    const UserTreeSnapshot before(user());
    std::optional<PathOverride> path;
    if (cause == "nophp")
        path.emplace(emptyBin);
    JobRun::Request request;
    request.paths = {user("items/folder")};
    request.destDir = user("items");
    request.timeoutMs = 30000;
    const JobRun run(request);
    path.reset();

    QVERIFY2(run.finished && run.deleted, run.report().c_str());
    QVERIFY2(run.outcome.kind == JobOutcome::Kind::Failed, run.report().c_str());
    QCOMPARE(run.outcome.failedIn, JobPhase::Writing);
    QVERIFY2(run.outcome.description.find(status.toStdString()) != std::string::npos, run.report().c_str());
    QVERIFY(UserTreeSnapshot(user()) == before);
    const JobLog log(run.applicationLines(), run.outputFolder + "/archive.zip");
    QCOMPARE(log.after.size(), size_t(1));
    QVERIFY2(log.after[0].starts_with("convert charset and create zip error:"), log.after[0].c_str());
    QVERIFY2(log.after[0].find(status.toStdString()) != std::string::npos, log.after[0].c_str());
    QVERIFY(log.pollPairs >= 1);
}

void TestArchiveJob::chosenFolderReceivesTheArchive()
{
    ArchiveTools::writeFile(user("items/a.txt"), "a");
    fs::create_directories(user("chosen"));
    for (const std::string& answer : {user("chosen"), std::string()}) {
        AnsweringChooser chooser(true, answer);
        JobRun::Request request;
        request.paths = {user("items/a.txt")};
        request.destDir = user("items");
        request.selectDir = true;
        request.chooser = &chooser;
        const JobRun run(request);
        // A confirmed chooser without a folder keeps the folder passed in.
        checkDelivered(run, (answer.empty() ? user("items") : answer) + "/archive.zip");
        QCOMPARE(run.phases.front(), JobPhase::ChoosingFolder);
    }
}

QTEST_GUILESS_MAIN(TestArchiveJob)
#include "tst_ArchiveJob.moc"
