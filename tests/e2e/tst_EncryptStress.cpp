// Encrypted jobs back to back while busy loops take every processor: the
// script types each password only once zipcloak reads it, however late
// zipcloak gets to run. Every archive must open with its own password and
// no other, and no job may hang. Long: it runs with the full tests only
// (QUILLMERE_FULL_TESTS=1, as scripts/test --full sets it).
#include "ArchiveContent.h"
#include "JobRun.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace {

const int kJobs = 200;

// パスワード表 as the user types it (UTF-8) and as zipcloak is given it
// (code page 932; 表 ends in 0x5C).
const std::string kJapanese = "\xe3\x83\x91\xe3\x82\xb9\xe3\x83\xaf\xe3\x83\xbc\xe3\x83\x89\xe8\xa1\xa8";
const std::string kJapaneseCp932 = "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x95\x5c";
const std::string kAscii = "-a\"b\\c$d[e]f{g};h";

struct Password {
    std::string typed; // what the job is given
    std::string bytes; // what opens the archive
};

// Every job its own password, every second one with code page 932 bytes.
Password passwordOf(int job)
{
    const std::string suffix = " " + std::to_string(job);
    if (job % 2 == 0)
        return {kJapanese + suffix, kJapaneseCp932 + suffix};
    return {kAscii + suffix, kAscii + suffix};
}

// unzip's test of every entry with password's bytes: its status. The bytes
// go through standard input, as an argument given as text would not keep
// those that are no UTF-8; "-P" shares its word with the password, which
// may start with "-".
int unzipTest(const std::string& archive, const std::string& password)
{
    QProcess sh;
    sh.start("/bin/sh", {"-c", "exec unzip -qq -t -P\"$(cat)\" \"$1\" >/dev/null 2>&1", "sh",
                         QString::fromStdString(archive)});
    sh.write(QByteArray::fromStdString(password));
    sh.closeWriteChannel();
    if (!sh.waitForFinished(60000) || sh.exitStatus() != QProcess::NormalExit)
        return -1;
    return sh.exitCode();
}

} // namespace

class TestEncryptStress : public QObject {
    Q_OBJECT
    std::vector<std::unique_ptr<QProcess>> m_hogs;

private slots:
    void initTestCase()
    {
        if (qgetenv("QUILLMERE_FULL_TESTS") != "1")
            QSKIP("long: runs with the full tests only (QUILLMERE_FULL_TESTS=1)");
        if (!fs::exists(qgetenv("QUILLMERE_BUILD_DIR").toStdString() + "/gconv/gconv-modules"))
            QSKIP("the converter module is not built: php cannot give names in code page 932");
        // A busy loop on every processor, at the jobs' own priority.
        for (int core = 0; core < QThread::idealThreadCount(); ++core) {
            auto hog = std::make_unique<QProcess>();
            hog->setStandardOutputFile(QProcess::nullDevice());
            hog->start("/bin/sh", {"-c", "while :; do :; done"});
            QVERIFY(hog->waitForStarted());
            m_hogs.push_back(std::move(hog));
        }
    }
    void cleanupTestCase()
    {
        for (const auto& hog : m_hogs) {
            hog->kill();
            hog->waitForFinished();
        }
    }

    void everyArchiveOpensWithItsOwnPassword()
    {
        const TestHome home;
        const std::string items = home.makeFolder("items"), dest = home.makeFolder("dest");
        // Small enough for zipcloak to be done at once: the prompts, not the
        // work, are what is under test.
        writeFile(items + "/a.txt", std::string(3000, 'a'));
        writeFile(items + "/sub/b.bin", std::string(20000, '\x5c'));
        writeFile(items + "/sub/表.txt", kJapanese);
        const std::map<FileDigest, int> wanted = {{ArchiveContent::ofFile(items + "/a.txt"), 1},
                                                  {ArchiveContent::ofFile(items + "/sub/b.bin"), 1},
                                                  {ArchiveContent::ofFile(items + "/sub/表.txt"), 1}};
        const std::string archive = dest + "/archive.zip";
        QElapsedTimer clock;
        clock.start();
        for (int job = 0; job < kJobs; ++job) {
            const Password password = passwordOf(job);
            const std::string which = "job " + std::to_string(job);

            const JobRun run = JobRun::of({items}, dest, password.typed);

            QVERIFY2(run.ended, (which + " hangs").c_str());
            QVERIFY2(run.delivered(), (which + ": " + run.outcome.description).c_str());
            const ZipReader reader(archive);
            QVERIFY2(reader.error.empty(), (which + ": " + reader.error).c_str());
            for (const ZipReader::Entry& entry : reader.entries)
                QVERIFY2(entry.name.ends_with('/') || ((entry.flags & 1) && (entry.localFlags & 1)),
                         (which + ": not encrypted: " + entry.name).c_str());
            QCOMPARE(ArchiveContent::digestCounts(archive), wanted);
            // Every entry decrypts to its bytes with the password, and the
            // next job's password opens nothing.
            QVERIFY2(unzipTest(archive, password.bytes) == 0, which.c_str());
            QVERIFY2(unzipTest(archive, passwordOf(job + 1).bytes) != 0, which.c_str());
            // Typed at a terminal that echoes, it would be in the transcript.
            for (const std::string& line : run.lines)
                QVERIFY2(line.find(password.bytes) == std::string::npos
                             && line.find(password.typed) == std::string::npos,
                         (which + ": the password stands in the output").c_str());
            fs::remove(archive);
        }
        qInfo("%d encrypted jobs under load in %.1f s", kJobs, double(clock.elapsed()) / 1000);
    }
};

QTEST_GUILESS_MAIN(TestEncryptStress)
#include "tst_EncryptStress.moc"
