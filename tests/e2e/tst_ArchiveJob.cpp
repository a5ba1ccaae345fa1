// Whole jobs with the real php, expect, zipcloak and mv, on real folders
// under a temporary home, checked with an independent reader of the
// archive's raw bytes, with unzip, and by content against the source, and
// extracted the way Japanese Windows extracts an archive.
#include "ArchiveContent.h"
#include "Failure.h"
#include "JobRun.h"
#include "LogPrefix.h"
#include "ReportJson.h"
#include "ReportLines.h"
#include "Privileges.h"
#include "ProcessIdentity.h"
#include "ShellWord.h"
#include "StdoutCapture.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TmpfsMounts.h"
#include "WorkFolders.h"
#include "WorkRoot.h"
#include "ZipAction.h"
#include "ZipReader.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(FailureCause)
Q_DECLARE_METATYPE(JobPhase)

namespace {

// The work folders of the home folder a job sees now.
WorkFolders workFolders()
{
    return WorkFolders(qgetenv("HOME").toStdString());
}

QStringList leftInWorkRoot()
{
    return ::leftInWorkRoot(workFolders().tmpDirectory());
}

long linesStarting(const JobRun& job, const std::string& start)
{
    return std::ranges::count_if(job.lines, [&](const std::string& line) { return line.starts_with(start); });
}

// The SHA-256 of every file entry's data, sorted, as python's zipfile reads
// it: a reader that shares nothing with the job. The password (UTF-8) is
// given as its bytes in encoding, as a receiver's system would give them,
// and goes on standard input, not on a command line. One line saying why
// when any entry cannot be read, a wrong password's too.
QList<QByteArray> entryDigests(const std::string& archive, const std::optional<std::string>& password = {},
                               const char* encoding = "cp932")
{
    QProcess python;
    python.start("python3", {"-c",
                             "import hashlib, sys, unicodedata, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "typed = sys.stdin.buffer.read().decode('utf-8')\n"
                             "try:\n"
                             "    key = typed.encode(sys.argv[2])\n"
                             "except UnicodeEncodeError:\n"
                             "    key = unicodedata.normalize('NFC', typed).encode(sys.argv[2])\n"
                             "for info in z.infolist():\n"
                             "    if not info.is_dir():\n"
                             "        print(hashlib.sha256(z.read(info, key or None)).hexdigest())\n",
                             QString::fromStdString(archive), QString::fromLatin1(encoding)});
    python.write(QByteArray::fromStdString(password.value_or("")));
    python.closeWriteChannel();
    if (!python.waitForFinished(120000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {"unreadable: " + python.readAllStandardError()};
    QList<QByteArray> digests = python.readAllStandardOutput().trimmed().split('\n');
    std::sort(digests.begin(), digests.end());
    return digests;
}

bool opensWithPasswordAs(const std::string& archive, const std::string& password, const char* encoding)
{
    return !entryDigests(archive, password, encoding).value(0).startsWith("unreadable: ");
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

// The processes whose command line or working folder names root: a
// program the job started, even one that was started in the work folder and
// whose arguments name nothing.
QStringList runningIn(const std::string& root)
{
    QStringList found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string commandLine;
        try {
            commandLine.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } catch (const std::ios_base::failure&) {
            continue; // it ended meanwhile
        }
        std::error_code unreadable;
        const std::string folder = fs::read_symlink(entry.path() / "cwd", unreadable).string();
        if (commandLine.find(root) != std::string::npos || folder.starts_with(root))
            found << QString::fromStdString(pid + " " + commandLine.substr(0, commandLine.find('\0')));
    }
    return found;
}

// "-P" shares its word with the password, which may start with "-".
bool unzipTestPasses(const std::string& archive, const std::optional<std::string>& password)
{
    const QStringList pass = password ? QStringList{"-P" + QString::fromStdString(*password)} : QStringList{};
    return QProcess::execute("unzip", QStringList{"-qq", "-t"} + pass << QString::fromStdString(archive)) == 0;
}

// Each path below root with its type, mode, size, link target and content:
// what a job must leave as it was.
QByteArray userFiles(const std::string& root)
{
    return shell("cd " + ShellWord::quoteIfNeeded(root)
                 + " && find . ! -name 'archive*.zip' -printf '%p %y %m %s %l\\n' -type f -exec md5sum {} + | sort");
}

// The command lines of every process of the machine.
QByteArray allCommandLines()
{
    QByteArray all;
    for (const QString& process : QDir("/proc").entryList(QDir::Dirs)) {
        QFile file("/proc/" + process + "/cmdline"); // processes come and go while they are read
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    return all;
}

// A folder below base whose path is length bytes long, made through
// descriptors, and a descriptor of it (-1 on failure).
int makeFolderOfPathLength(const std::string& base, size_t length, std::string& path)
{
    fs::create_directories(base);
    path = base;
    int at = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (at >= 0 && path.size() < length) {
        const std::string name(std::min<size_t>(200, length - path.size() - 1), 'd');
        const int below = ::mkdirat(at, name.c_str(), 0700) == 0
            ? ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        ::close(at);
        at = below;
        path += "/" + name;
    }
    return at;
}

// Everything in the folder, hidden or not.
QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// Sets a file's or folder's times to a local time "yyyy-MM-dd HH:mm:ss".
bool setTimes(const std::string& path, const QString& time)
{
    const qint64 when = QDateTime::fromString(time, "yyyy-MM-dd HH:mm:ss").toSecsSinceEpoch();
    const timespec both[2] = {{when, 0}, {when, 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), both, 0) == 0;
}

// A process that has gone: its id names no one now.
qint64 endedProcess()
{
    QProcess ended;
    ended.start("/bin/true");
    ended.waitForFinished();
    return ended.processId();
}

// Where Windows puts the entry (read as code page 932) below a
// 60-character folder: letter case folded, trailing dots and blanks
// dropped; empty when it refuses to, for a device name, a character it
// forbids or a path of 260 characters. Written apart from the
// application's rules, from how Windows behaves.
QString extractedPath(const QString& entry, QString& why)
{
    static const QRegularExpression device("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"),
        forbidden("[\\\\:*?\"<>|]"), trailingDotsAndBlanks("[. ]+\\z");
    QStringList kept;
    for (const QString& component : entry.split('/', Qt::SkipEmptyParts)) {
        const QString stripped = QString(component).remove(trailingDotsAndBlanks);
        if (stripped.isEmpty() || stripped.section('.', 0, 0).trimmed().toUpper().contains(device)
            || stripped.contains(forbidden)) {
            why = "refused name: " + component;
            return {};
        }
        kept << stripped;
    }
    const QString path = QString(59, 'p') + "\\" + kept.join('\\');
    if (path.size() >= 260) {
        why = QString("path of %1 characters").arg(path.size());
        return {};
    }
    return path.toCaseFolded();
}

// Runs in the new mount namespace: mounts the file system, puts someone
// else's archive.zip there when asked, runs the program, and copies out
// what the destination then holds before it unmounts.
const char* const kScript = R"(set -u
mnt=$1 out=$2 kind=$3 source=$4 items=$5 taken=$6 program=$7 passthrough=$8 homeThere=$9
: > "$out/started"
if [ "$kind" = exfat ]; then
    mount.exfat-fuse "$source" "$mnt" 2> "$out/mount.err" || { head -n 1 "$out/mount.err" > "$out/skip"; exit 0; }
else
    mkfifo "$out/ready"
    /usr/bin/python3 "$passthrough" "$source" "$mnt" > "$out/ready" 2> "$out/mount.err" &
    echo $! > "$out/server"
    read -r mounted < "$out/ready" || { wait; head -n 1 "$out/mount.err" > "$out/skip"; exit 0; }
fi
dest=$mnt
if [ "$homeThere" = yes ]; then
    export HOME="$mnt/home"; mkdir -p "$HOME"; dest="$out/dest"; mkdir -p "$dest"
fi
if [ "$taken" = yes ]; then printf theirs > "$dest/archive.zip"; fi
umask 022
"$program" --batch --json --output "$dest" "$items" > "$out/report.json" 2> "$out/lines"
ls -A "$dest" > "$out/listing"
stat -c %a "$dest"/archive*.zip > "$out/modes"
find "$HOME/.quillmere" -mindepth 1 -not -path "$HOME/.quillmere/journal" > "$out/left"
mkdir "$out/seen" && cp "$dest"/*.zip "$out/seen/" 2> /dev/null
umount "$mnt"
wait
)";

// What program wrote, when it succeeded.
std::optional<QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAll()).trimmed();
}

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

class TestArchiveJob : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;
    TmpfsMounts m_mounts; // small disks of the test's own
    QString m_loopDevice; // of an exFAT image
    std::optional<QByteArray> m_savedRuntime; // XDG_RUNTIME_DIR

    std::string user(const std::string& relative) const { return m_home->path() + "/user/" + relative; }

    // Files by these names (bytes) below "names", each holding its name,
    // archived by a real job into "dest" from the given folders (below the
    // user's): the job, and the entries' names in order.
    std::pair<JobRun, std::vector<std::string>> archived(const std::vector<std::string>& names,
                                                         const std::vector<std::string>& given = {"names"}) const
    {
        for (const std::string& name : names)
            writeFile(user("names/") + name, name);
        const std::string dest = user("dest");
        fs::create_directories(dest);
        std::vector<std::string> items;
        for (const std::string& item : given)
            items.push_back(user(item));
        JobRun job = JobRun::of(items, dest);
        std::vector<std::string> entries = ZipReader(dest + "/archive.zip").names();
        std::sort(entries.begin(), entries.end());
        return {std::move(job), std::move(entries)};
    }

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
        // As a normal user would: files without read permission stay unread.
        QVERIFY(Privileges::dropFileOverride());
    }
    void init()
    {
        m_home.emplace();
        m_savedRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") ? std::optional(qgetenv("XDG_RUNTIME_DIR"))
                                                                      : std::nullopt;
    }
    void cleanup()
    {
        m_mounts.unmountAll();
        if (!m_loopDevice.isEmpty())
            run("losetup", {"-d", m_loopDevice});
        m_loopDevice.clear();
        shell("chmod -R u+rwx " + ShellWord::quoteIfNeeded(m_home->path()));
        m_home.reset();
        if (m_savedRuntime)
            qputenv("XDG_RUNTIME_DIR", *m_savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

    void archiveHoldsEveryFileOnceUnderDistinctWindowsNames_data()
    {
        QTest::addColumn<QByteArray>("password"); // none for a plain archive
        QTest::addColumn<QByteArray>("destName");
        QTest::addColumn<QByteArray>("homeName"); // none for the test's home
        QTest::addColumn<int>("megabytes");       // of an incompressible file besides
        QTest::newRow("plain") << QByteArray() << QByteArray("one") << QByteArray() << 0;
        // Tcl would fail on "[e]" and "$d", were the password ever read as a
        // script.
        QTest::newRow("encrypted: Tcl and shell characters, non-ASCII, a long home")
            << QByteArray("-a\"b\\c$d[e]f{g}h;i 'j パス表") << QByteArray("d e;f[g$h\"i'j 日本")
            << QByteArray("h o\"m$e;'x:y[z]{w}\\v ") + QByteArray(100, 'h') << 0;
        // Encrypting takes longer than any of the script's waits for prompts.
        QTest::newRow("encrypted: large") << QByteArray("large secret") << QByteArray("dest") << QByteArray("home")
                                          << 120;
    }
    // Items dropped from two places: every file's bytes are in exactly one
    // entry, named in code page 932, no two entries are one file to Windows,
    // the user's files stay as they were, what cannot be read is reported.
    // A work folder open to others is closed, a read-only file that takes
    // the archive's name is kept, an encrypted archive opens with its
    // password only, which no process's command line holds.
    void archiveHoldsEveryFileOnceUnderDistinctWindowsNames()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, destName);
        QFETCH(QByteArray, homeName);
        QFETCH(int, megabytes);
        if (!homeName.isEmpty()) // TestHome restores it
            qputenv("HOME", QByteArray::fromStdString(m_home->makeFolder(homeName.toStdString())));
        // Unique to this run: other runs on the machine may use the same rows.
        const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(8);
        const std::optional<std::string> typed =
            password.isEmpty() ? std::nullopt : std::optional((password + " " + unique.toUtf8()).toStdString());
        // Path below the user's folder, and the entry where it is certain.
        const std::vector<std::pair<std::string, std::string>> files = {
            {"one/itemA/sub/deeper/d.txt", "archive/itemA/sub/deeper/d.txt"},
            {"one/itemA/onlyhidden/.hidden", "archive/itemA/onlyhidden/.hidden"},
            {"one/itemA/a?b.txt", "archive/itemA/a_b.txt"},
            {"one/file1.txt", "archive/file1.txt"},
            {"two/file1.txt", "archive/file1 (2).txt"},
            // Decomposed as on a Mac; half-width katakana; trail bytes 0x5C
            // that must not split the name.
            {"one/itemA/jp/\xe3\x81\x8b\xe3\x82\x99.txt", "archive/itemA/jp/\x82\xaa.txt"},
            {"one/itemA/jp/\xef\xbe\x83\xef\xbd\xbd.txt", "archive/itemA/jp/\xc3\xbd.txt"},
            {"one/itemA/jp/\xe3\x82\xbd\xe8\xa1\xa8\xe8\x83\xbd.txt", "archive/itemA/jp/\x83\x5c\x95\x5c\x94\x5c.txt"},
            // Pairs that meet on Windows: which one is numbered depends on
            // the order the file system lists them in.
            {"one/itemA/meet/写真🍣.jpg", ""}, {"one/itemA/meet/写真_.jpg", ""},
            {"one/itemA/meet/Report.txt", ""}, {"one/itemA/meet/report.TXT", ""},
            {"one/itemA/meet/sub:dir/x.txt", ""}, {"one/itemA/meet/sub_dir/x.txt", ""},
            {"one/itemA/large.bin", ""},
        };
        std::map<FileDigest, int> wanted;
        for (const auto& [path, entry] : files) {
            writeFile(user(path), randomBytes(path.ends_with("large.bin") ? size_t(megabytes) << 20
                                              : path.ends_with("d.txt") ? 70000 : 100));
            ++wanted[ArchiveContent::ofFile(user(path))];
        }
        writeFile(user("one/itemA/dsdir/.DS_Store"), "ds");
        fs::create_directories(user("one/itemA/empty"));
        writeFile(user("one/itemA/secret.txt"), "secret");
        writeFile(user("one/itemA/locked/inner.txt"), "inner");
        fs::permissions(user("one/itemA/secret.txt"), fs::perms::none);
        fs::permissions(user("one/itemA/locked"), fs::perms::none);
        fs::create_symlink("nowhere", user("one/itemA/dangling"));
        fs::create_symlink(".", user("one/itemA/loop"));
        const std::string work = workFolders().tmpDirectory();
        fs::create_directories(work);
        fs::permissions(work, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all);
        const std::string dest = user(destName.toStdString());
        fs::create_directories(dest);
        const QByteArray before = userFiles(user(""));
        bool passwordSeen = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] { passwordSeen |= allCommandLines().contains(typed->c_str()); });

        const JobRun job = JobRun::of({user("one/itemA"), user("one/file1.txt"), user("two/file1.txt")}, dest, typed,
                                      [&](JobPhase phase) {
                                          if (phase == JobPhase::Writing) {
                                              writeFile(dest + "/archive.zip", "the user's own file");
                                              fs::permissions(dest + "/archive.zip", fs::perms::owner_read);
                                          }
                                          if (phase == JobPhase::Encrypting)
                                              watch.start(10);
                                      });

        // Delivered under the next free name, it passes unzip's test with
        // its password only, has no name marked as UTF-8, and leaves no
        // staging folder behind.
        const std::string archive = dest + "/archive1.zip";
        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        QCOMPARE(job.outcome.archivePath, archive);
        // An ASCII password is the same bytes in every encoding: unzip, which
        // reads large archives much faster than python's zipfile, checks it.
        const bool ascii = typed && std::all_of(typed->begin(), typed->end(), [](char c) { return c > 0; });
        QVERIFY(typed && !ascii ? opensWithPasswordAs(archive, *typed, "cp932") : unzipTestPasses(archive, typed));
        QVERIFY(!typed || !opensWithPasswordAs(archive, *typed + "x", "cp932"));
        for (const ZipReader::Entry& entry : ZipReader(archive).entries)
            QCOMPARE((entry.flags | entry.localFlags) & 0x0800, 0);
        QCOMPARE(leftInWorkRoot(), QStringList());
        QVERIFY(!passwordSeen);
        QCOMPARE(readFile(dest + "/archive.zip"), std::string("the user's own file"));
        QCOMPARE(userFiles(user("")), before);
        QCOMPARE(fs::status(work).permissions() & fs::perms::all, fs::perms::owner_all);
        QCOMPARE(ArchiveContent::digestCounts(archive), wanted);
        const std::vector<std::string> names = ZipReader(archive).names();
        const std::set<std::string> got(names.begin(), names.end());
        for (const auto& [path, entry] : files)
            QVERIFY2(entry.empty() || got.count(entry), entry.c_str());
        for (const char* folder : {"archive/itemA/empty/", "archive/itemA/dsdir/", "archive/itemA/onlyhidden/"})
            QVERIFY2(got.count(folder), folder);
        std::set<QString> windowsNames;
        for (const std::string& name : names)
            windowsNames.insert(ArchiveContent::shownOnWindows(name).toUpper());
        QCOMPARE(windowsNames.size(), names.size());
        QVERIFY(job.logged("renamed: itemA/meet/"));
        QCOMPARE(job.outcome.report.leftOut.size(), size_t(4));
        QVERIFY(job.logged("left out: " + user("one/itemA/secret.txt")));
    }

    void passwordIsGivenAsJapaneseWindowsTypesIt_data()
    {
        QTest::addColumn<QByteArray>("password"); // as typed, UTF-8
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("refusal"); // the line of a refused job
        const QString notCp932 = "job refused: the password cannot be used: the password holds a character that "
                                 "code page 932 cannot hold";
        const QString tooLong = "job refused: the password cannot be used: the password is longer than 80 bytes in "
                                "code page 932";
        QTest::newRow("Japanese, 0x5C trail byte") << QByteArray("パスワード表") << true << QString();
        QTest::newRow("ASCII unchanged") << QByteArray("-plain\\secret$") << true << QString();
        // 120 bytes in UTF-8, 80 in code page 932: zipcloak takes them.
        QTest::newRow("40 Japanese characters") << QString(40, QChar(0x8868)).toUtf8() << true << QString();
        QTest::newRow("41 Japanese characters") << QString(41, QChar(0x8868)).toUtf8() << false << tooLong;
        QTest::newRow("emoji") << QByteArray("パスワード😀") << false << notCp932;
        QTest::newRow("accented Latin") << QByteArray("résumé") << false << notCp932;
        // Kana as a Mac writes them: the receiver types "が".
        QTest::newRow("decomposed kana") << QByteArray("\xe3\x81\x8b\xe3\x82\x99") << true << QString();
    }
    // The archive opens with the code page 932 bytes of the password, which
    // Japanese Windows gives when the receiver types it, and not with its
    // UTF-8 bytes; a password with no code page 932 form is refused before
    // anything is copied, with a line on standard output. What expect and
    // zipcloak say reaches standard output as the job's own lines: no
    // control character of a name, no carriage return, and the names as the
    // user reads them, not as code page 932 bytes.
    void passwordIsGivenAsJapaneseWindowsTypesIt()
    {
        QFETCH(QByteArray, password);
        QFETCH(bool, delivered);
        QFETCH(QString, refusal);
        const std::string items = user("items"), dest = user("dest");
        writeFile(items + "/a.txt", randomBytes(5000));
        writeFile(items + "/表.txt", "b");
        writeFile(items + "/red\x1b[31mX.txt", "c");
        fs::create_directories(dest);

        const JobRun job = JobRun::of({items}, dest, password.toStdString());

        QVERIFY(job.ended);
        QCOMPARE(job.delivered(), delivered);
        const std::string archive = dest + "/archive.zip";
        if (!delivered) {
            QVERIFY(job.logged(refusal.toStdString()));
            QCOMPARE(job.outcome.cause, FailureCause::PasswordRefused);
            QCOMPARE(namesIn(QString::fromStdString(dest)), QStringList());
            // Refused before any work: no work folder was even made.
            QVERIFY(!fs::exists(workFolders().tmpDirectory()));
            return;
        }
        QVERIFY(!job.logged("job refused: "));
        QVERIFY(opensWithPasswordAs(archive, password.toStdString(), "cp932"));
        const bool ascii = std::ranges::all_of(password, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        QCOMPARE(opensWithPasswordAs(archive, password.toStdString(), "utf-8"), ascii);
        QVERIFY(!opensWithPasswordAs(archive, password.toStdString() + "x", "cp932"));
        for (const ZipReader::Entry& entry : ZipReader(archive).entries)
            QVERIFY(entry.name.ends_with('/') || ((entry.flags & 1) && (entry.localFlags & 1))); // encrypted
        for (const std::string& line : job.lines)
            QVERIFY2(std::ranges::none_of(line, [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                     line.c_str());
        QVERIFY(job.logged("encrypting: archive/items/表.txt"));
        QVERIFY(job.logged("encrypting: archive/items/red\\x1b[31mX.txt"));
    }

    void timesAndFolderModesReachTheHeaders_data()
    {
        QTest::addColumn<QByteArray>("password"); // none for a plain archive
        QTest::newRow("plain") << QByteArray();
        QTest::newRow("encrypted") << QByteArray("secret");
    }
    // Whether zipcloak rewrites the archive or not: a file or folder dated
    // after 2107 is stored as the last time a header holds, one dated before
    // 1980 as the first, in both headers, and warned once with its own time;
    // others keep their own time. A folder that gets an entry of its own
    // (nothing in it, or nothing but hidden items) is opened as the user's
    // folder was, with the DOS folder attribute; the folder all items are
    // in, when it has an entry, is opened to no one else's writing. Unzip on
    // Linux gives the folders back as they were.
    void timesAndFolderModesReachTheHeaders()
    {
        QFETCH(QByteArray, password);
        const std::optional<std::string> pass =
            password.isEmpty() ? std::nullopt : std::optional(password.toStdString());
        const std::string items = user("items"), dest = user("dest");
        const std::vector<std::tuple<std::string, mode_t, QString, std::string>> all = {
            // path below items, entry's name (with "/" and a mode for a folder),
            // local time of the item, as the headers must hold it
            {"late.txt", 0, "2110-01-01 00:00:00", "2107-12-31 23:59:58"},
            {"early.txt", 0, "1970-01-01 09:00:00", "1980-01-01 00:00:00"},
            {"日本 表.txt", 0, "1975-07-20 10:00:00", "1980-01-01 00:00:00"},
            {"usual.txt", 0, "2020-05-06 07:08:10", "2020-05-06 07:08:10"},
            {"private/", 0700, "1975-01-01 12:00:00", "1980-01-01 00:00:00"},
            {"hidden only/", 0750, "2001-02-03 04:05:06", "2001-02-03 04:05:06"},
            {"open/", 0755, "2020-05-06 07:08:11", "2020-05-06 07:08:10"},
        };
        writeFile(items + "/full/seen.txt", "seen");
        writeFile(items + "/hidden only/.profile", "hidden");
        for (const auto& [name, mode, time, stored] : all) {
            if (mode)
                fs::create_directories(items + "/" + name);
            else
                writeFile(items + "/" + name, name);
            QVERIFY(setTimes(items + "/" + name, time));
            QVERIFY(!mode || ::chmod((items + "/" + name).c_str(), mode) == 0);
        }
        writeFile(user("solo/.hidden"), "only a hidden file");
        fs::create_directories(dest + "/solo");

        const JobRun job = JobRun::of({items}, dest, pass);
        const JobRun solo = JobRun::of({user("solo/.hidden")}, dest + "/solo", pass);

        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        QVERIFY2(solo.delivered(), solo.outcome.description.c_str());
        const ZipReader archive(dest + "/archive.zip");
        QVERIFY2(archive.error.empty(), archive.error.c_str());
        QStringList folderEntries;
        for (const ZipReader::Entry& entry : archive.entries)
            if (entry.name.ends_with('/'))
                folderEntries << QString::fromStdString(entry.name);
        folderEntries.sort();
        QCOMPARE(folderEntries, (QStringList{"archive/items/hidden only/", "archive/items/open/", "archive/items/private/"}));
        for (const auto& [name, mode, time, stored] : all) {
            // The file's name in code page 932.
            const std::string entryName = name == "日本 表.txt" ? "\x93\xfa\x96\x7b \x95\x5c.txt" : name;
            const auto entry = std::ranges::find(archive.entries, "archive/items/" + entryName, &ZipReader::Entry::name);
            QVERIFY2(entry != archive.entries.end(), name.c_str());
            QCOMPARE(entry->modified(), stored);
            QCOMPARE(entry->localTime, entry->time);
            QCOMPARE(entry->localDate, entry->date);
            if (mode) {
                QCOMPARE(entry->madeBy >> 8, 3);
                QCOMPARE(entry->attributes, uint32_t(S_IFDIR | mode) << 16 | 0x10);
            }
        }
        const ZipReader soloArchive(dest + "/solo/archive.zip");
        const auto top = std::ranges::find(soloArchive.entries, "archive/", &ZipReader::Entry::name);
        QVERIFY(top != soloArchive.entries.end());
        QCOMPARE(top->attributes, uint32_t(S_IFDIR | 0755) << 16 | 0x10);
        QVERIFY(solo.outcome.report.warnings.empty());

        // Named as the entry is, which a script can look up in the archive,
        // with its length in UTF-16 characters.
        QStringList warned;
        for (const WarnedItem& item : job.outcome.report.warnings) {
            QCOMPARE(item.warning, WindowsWarning::DateOutOfRange);
            QCOMPARE(item.length, int(QString::fromStdString(item.inArchive).size()));
            warned << QString::fromStdString(item.inArchive) + " "
                    + QDateTime::fromSecsSinceEpoch(item.modified).toString("yyyy-MM-dd HH:mm:ss");
        }
        warned.sort();
        QCOMPARE(warned, (QStringList{"archive/items/early.txt 1970-01-01 09:00:00",
                                      "archive/items/late.txt 2110-01-01 00:00:00",
                                      "archive/items/private/ 1975-01-01 12:00:00",
                                      "archive/items/日本 表.txt 1975-07-20 10:00:00"}));
        // On the clock the headers hold, with its offset: what is warned of
        // is what the line shows.
        const QDateTime earlyLocal = QDateTime::fromString("1970-01-01 09:00:00", "yyyy-MM-dd HH:mm:ss");
        const int offset = earlyLocal.offsetFromUtc();
        const QString early = earlyLocal.toString("yyyy-MM-ddTHH:mm:ss")
            + QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600, std::abs(offset) % 3600 / 60);
        QVERIFY(job.logged("windows warning: archive/items/early.txt (dated " + early.toStdString() + ": "));
        const QJsonArray inJson = QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson::of(job.outcome)))
                                      .object()["warnings"].toArray();
        QCOMPARE(inJson.size(), 4);
        const auto earlyInJson = std::ranges::find_if(inJson, [](const QJsonValue& warning) {
            return warning.toObject()["inArchive"].toString() == "archive/items/early.txt";
        });
        QVERIFY(earlyInJson != inJson.end());
        // A script reads it in UTC, as the manual says.
        QCOMPARE((*earlyInJson).toObject()["date"].toString(), earlyLocal.toUTC().toString(Qt::ISODate));
        QCOMPARE((*earlyInJson).toObject()["length"].toInt(), int(std::string("archive/items/early.txt").size()));

        // Every entry's data is checked as it is extracted.
        const std::string extracted = user("extracted");
        fs::create_directories(extracted);
        const QStringList passWord = pass ? QStringList{"-P" + password} : QStringList{};
        QCOMPARE(QProcess::execute("unzip", QStringList{"-qq"} + passWord
                                                << QString::fromStdString(dest + "/archive.zip") << "-d"
                                                << QString::fromStdString(extracted)),
                 0);
        // unzip gives no mode to a folder it made for a file before the
        // folder's own entry came: php writes "hidden only/" after its file.
        for (const auto& [name, mode, time, stored] : all) {
            struct stat info {};
            if (!mode || name == "hidden only/")
                continue;
            QVERIFY(::stat((extracted + "/archive/items/" + name).c_str(), &info) == 0);
            QCOMPARE(info.st_mode & 07777, mode);
        }
    }

    void aJobTakesOnlyWhatIsMeantAndFailsCleanly_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("line"); // a line of the output holds it; none: not checked
        QTest::addColumn<FailureCause>("cause"); // of a job not delivered
        const FailureCause none = FailureCause::Other;
        QTest::newRow("a link to / inside a folder") << "root link" << true
                                                     << "left out: %1items/sysroot (link to a folder)" << none;
        QTest::newRow("a path deeper than the writer can open") << "deep" << true << "(path too long)" << none;
        QTest::newRow("a name that holds control characters") << "line break" << true
                                                               << "forged\\narchive delivered: FAKE\\x01.zip" << none;
        // How small an archive compresses is known once it is written: the
        // job runs, and its one line names the disk that filled.
        QTest::newRow("the work folder's disk too small for the archive of files on another disk")
            << "full, copies" << false << "and wrote no archive; no space left in " << FailureCause::WorkFolderFull;
        QTest::newRow("the work folder's disk too small for the archive")
            << "full, archive" << false << "and wrote no archive; no space left in " << FailureCause::WorkFolderFull;
        // No follower holds php's unfinished file open: its room is free
        // again when the failure is told.
        QTest::newRow("the work folder's disk too small for the archive, encrypted")
            << "full, archive encrypted" << false << "and wrote no archive; no space left in "
            << FailureCause::WorkFolderFull;
        QTest::newRow("files that compress into the work folder's little room") << "full, zeros" << true
                                                                                << "archive delivered: " << none;
        QTest::newRow("files that compress into the destination's little room")
            << "destination full, zeros" << true << "archive delivered: " << none;
        // A file system that tells no size (statvfs gives no blocks) takes
        // files all the same.
        QTest::newRow("a destination that tells no size") << "ramfs" << true << "archive delivered: " << none;
        // Refused up front only when even the archive's headers cannot fit.
        QTest::newRow("a destination without room for the archive's headers")
            << "tiny destination" << false
            << "job refused: no space in the destination folder: not enough free space: at least "
            << FailureCause::DestinationFull;
        QTest::newRow("/dev/null alone") << "system" << false << "job refused: nothing to archive: "
                                         << FailureCause::NothingToArchive;
        // The writer leaves the file out and, the folder not being empty,
        // gives it no entry either: it would write no archive at all.
        QTest::newRow("a folder whose only file the writer leaves out")
            << "only left out" << false << "job refused: nothing to archive: " << FailureCause::NothingToArchive;
        // Its folder, where the archive would go, is gone with it: the item
        // is what is missing.
        QTest::newRow("an item gone with its folder") << "item gone" << false
                                                      << "job refused: nothing to archive: "
                                                      << FailureCause::NothingToArchive;
        QTest::newRow("a destination that cannot be written")
            << "read-only" << false << "job refused: the destination folder cannot be written: "
            << FailureCause::DestinationNotWritable;
        // What is there goes at the next start.
        QTest::newRow("a destination in the work folder")
            << "work folder" << false << "job refused: the destination is in the work folder: the work folder"
            << FailureCause::DestinationInWorkFolder;
        QTest::newRow("php missing") << "php" << false << "" << FailureCause::WriterMissing;
        // php runs but writes nothing and knows no ZipArchive: asked off the
        // window's thread once the writer has failed, and named in the line.
        QTest::newRow("php without its zip extension")
            << "php without zip" << false << "and wrote no archive; php or its zip extension is missing"
            << FailureCause::WriterMissing;
        // php that never answers (killed, as by the memory limit, or not
        // started under the user's process limit) is not said to be missing.
        QTest::newRow("php that cannot answer")
            << "php killed" << false << "the writer was killed by signal 9 and wrote no archive"
            << FailureCause::Other;
        // As php under a tight memory limit (ulimit -v) answers.
        QTest::newRow("php out of memory")
            << "php out of memory" << false << "the writer exited with status 255 and wrote no archive"
            << FailureCause::Other;
        QTest::newRow("destination fills up, plain") << "destination full" << false << ""
                                                     << FailureCause::DestinationFull;
        QTest::newRow("destination fills up, encrypted") << "destination full encrypted" << false << ""
                                                         << FailureCause::DestinationFull;
        // Full as surely when no file can be made there, whatever its bytes.
        QTest::newRow("a destination without a free inode") << "destination full of files" << false << ""
                                                             << FailureCause::DestinationFull;
        QTest::newRow("a destination without a free inode, encrypted")
            << "destination full of files, encrypted" << false << "; no space left in " << FailureCause::DestinationFull;
        // zipcloak writes its copy beside php's archive.
        QTest::newRow("work folder fills up while zipcloak works")
            << "work full encrypted" << false
            << "grant password error:zipcloak failed to encrypt the archive; no space left in "
            << FailureCause::WorkFolderFull;
        QTest::newRow("destination removed while php works") << "gone" << false << ""
                                                             << FailureCause::DestinationNotWritable;
        QTest::newRow("destination removed while zipcloak works") << "gone encrypted" << false << ""
                                                                  << FailureCause::DestinationNotWritable;
        QTest::newRow("destination closed while php works") << "closed" << false
                                                            << "copy file or directories error:"
                                                            << FailureCause::DestinationNotWritable;
    }
    // Hostile trees, full disks, a missing writer and a destination that
    // goes: the job takes only what the user meant, fails with the cause
    // that is really there, prints one line for a refusal, delivers nothing
    // partial, leaves nothing in the work folder and nothing it started
    // running, the user's files stay as they were, and the next job works.
    void aJobTakesOnlyWhatIsMeantAndFailsCleanly()
    {
        QFETCH(QString, edge);
        QFETCH(bool, delivered);
        QFETCH(QString, line);
        QFETCH(FailureCause, cause);
        const std::string items = user("items");
        const std::string dest = edge == "work folder" ? workFolders().tmpDirectory() + "/journal"
            : edge == "item gone"                      ? user("gone")
                                                       : user("dest");
        writeFile(items + "/ok.txt", "ok");
        writeFile(items + "/big.bin", randomBytes(3 << 20));
        std::vector<std::string> given{items};
        if (edge == "item gone")
            given = {dest + "/a.txt"};
        else
            fs::create_directories(dest);
        if (edge == "root link") {
            // As a prefix of another system links its drive to "/": here a
            // root of the test's own, which would show in the archive.
            writeFile(m_home->path() + "/root/etc/passwd", "root:x:0:0");
            fs::create_symlink(m_home->path() + "/root", items + "/sysroot");
        }
        if (edge == "deep")
            QVERIFY(makeDeepTree(items, std::string(200, 'd'), 21)); // 4,200 bytes
        if (edge == "line break")
            writeFile(items + "/forged\narchive delivered: FAKE\x01.zip", "x");
        // A small file system of its own, to see the destination fill up.
        const bool fullOfFiles = edge.startsWith("destination full of files");
        if ((edge.startsWith("destination full") || edge == "tiny destination")
            && !m_mounts.mount(dest, edge == "tiny destination" ? "size=4k" : fullOfFiles ? "size=16m,nr_inodes=2" : "size=1m"))
            QSKIP("no permission to mount a small file system");
        if (fullOfFiles)
            writeFile(dest + "/last inode", "x");
        if (edge == "ramfs" && !m_mounts.mountOfType(dest, "ramfs"))
            QSKIP("no permission to mount a file system");
        if (edge.endsWith("zeros")) // 3 MB that compress to 3 KB
            writeFile(items + "/big.bin", std::string(3 << 20, '\0'));
        if (edge == "tiny destination") // 40 entries, whose headers take 12 KB
            for (int i = 0; i < 40; ++i)
                writeFile(items + "/" + std::to_string(100 + i) + std::string(97, 'n'), "x");
        const std::string small = m_home->makeFolder("small");
        if (edge.startsWith("full") || edge.startsWith("work full")) {
            // A home of its own on a small disk. The items lie elsewhere
            // (linked symbolically) or on that disk too (hard-linked): no
            // room to write the archive either way; or room for the
            // archive, not for zipcloak's copy.
            if (!m_mounts.mount(small, edge.startsWith("full") ? "size=1m" : "size=12m"))
                QSKIP("no permission to mount a small file system");
            qputenv("HOME", QByteArray::fromStdString(small));
            if (edge.startsWith("full, archive")) {
                writeFile(small + "/mine/big.bin", randomBytes(700 << 10));
                given = {small + "/mine"};
            }
        }
        if (edge == "system")
            given = {"/dev/null"};
        if (edge == "only left out") {
            writeFile(user("mine/.DS_Store"), "n");
            given = {user("mine/.DS_Store")};
        }
        if (edge == "read-only")
            fs::permissions(dest, fs::perms::owner_read | fs::perms::owner_exec);
        const QByteArray before = userFiles(items);
        const QByteArray savedPath = qgetenv("PATH");
        if (edge == "php") // a search path that holds no php
            qputenv("PATH", QByteArray::fromStdString(m_home->makeFolder("bin")));
        if (edge == "php without zip" || edge == "php killed" || edge == "php out of memory") {
            const char* php = edge == "php killed"      ? "#!/bin/sh\nkill -KILL $$\n"
                : edge == "php out of memory" ? "#!/bin/sh\necho 'Fatal error: Out of memory' >&2\nexit 255\n"
                                              : "#!/bin/sh\nexit 3\n";
            writeFile(m_home->path() + "/bin/php", php);
            fs::permissions(m_home->path() + "/bin/php", fs::perms::owner_all);
            qputenv("PATH", QByteArray::fromStdString(m_home->path() + "/bin:") + savedPath);
        }

        const JobRun job = JobRun::of(given, dest,
                                      edge.endsWith("encrypted") ? std::optional<std::string>("pw") : std::nullopt,
                                      [&](JobPhase phase) {
                                          if (edge.startsWith("gone")
                                              && phase == (edge == "gone" ? JobPhase::Writing : JobPhase::Encrypting))
                                              fs::remove(dest);
                                          if (edge == "closed" && phase == JobPhase::Writing)
                                              fs::permissions(dest, fs::perms::owner_read | fs::perms::owner_exec);
                                          // Another program takes all but 1 MB.
                                          if (edge.startsWith("work full") && phase == JobPhase::Encrypting)
                                              writeFile(small + "/other.bin",
                                                        std::string(fs::space(small).available - (1 << 20), 'o'));
                                      });

        qputenv("PATH", savedPath);
        if (edge == "closed")
            fs::permissions(dest, fs::perms::owner_all);
        QVERIFY(job.ended);
        QCOMPARE(job.delivered(), delivered);
        if (!line.isEmpty()) {
            const std::string expected
                = (line.contains("%1") ? line.arg(QString::fromStdString(user(""))) : line).toStdString();
            QVERIFY2(std::ranges::any_of(job.lines, [&](const std::string& l) { return l.find(expected) != l.npos; }),
                     expected.c_str());
            QCOMPARE(linesStarting(job, "job refused: "), line.startsWith("job refused: ") ? 1 : 0);
        }
        // One line is one event: no name starts a line of its own.
        QVERIFY(!job.logged("archive delivered: FAKE"));
        QCOMPARE(linesStarting(job, "archive delivered: "), delivered ? 1 : 0);
        if (delivered) {
            QVERIFY(unzipTestPasses(dest + "/archive.zip", std::nullopt));
            const std::vector<std::string> names = ZipReader(dest + "/archive.zip").names();
            QVERIFY(std::ranges::count(names, "archive/items/ok.txt") == 1);
            QVERIFY(std::ranges::none_of(names, [](const std::string& name) {
                return name.starts_with("archive/items/sysroot");
            }));
        } else {
            QCOMPARE(job.outcome.kind, JobOutcome::Kind::Failed);
            QCOMPARE(job.outcome.cause, cause);
            QCOMPARE(namesIn(QString::fromStdString(dest)), fullOfFiles ? QStringList{"last inode"} : QStringList());
        }
        if (edge == "php killed" || edge == "php out of memory")
            QVERIFY(std::ranges::none_of(job.lines, [](const std::string& l) {
                return l.find("php or its zip extension is missing") != l.npos;
            }));
        if (edge == "system")
            QVERIFY(job.logged("left out: /dev/null (part of the running system)"));
        if (edge == "only left out")
            QVERIFY(job.logged("left out: " + user("mine/.DS_Store") + " (name holds .DS_Store)"));
        if (edge == "item gone")
            QVERIFY(job.logged("left out: " + dest + "/a.txt (missing)"));
        if (edge.startsWith("full") && !delivered)
            QCOMPARE(job.outcome.spaceFolder, workFolders().tmpDirectory());
        if (edge == "tiny destination")
            QVERIFY(job.outcome.bytesMissing > 0);
        if (edge.startsWith("gone")) {
            // Told by what is missing, not by the archive, which was there.
            QCOMPARE(job.outcome.description, describeErrno(ENOENT, dest));
            QVERIFY(!fs::exists(dest));
        }
        // The refusal is the destination's: the archive's own path in the
        // work folder would send the user to look there.
        if (edge == "closed") {
            QVERIFY2(job.outcome.description.ends_with(": " + dest), job.outcome.description.c_str());
            QVERIFY(std::ranges::none_of(job.lines, [&](const std::string& l) {
                return l.starts_with("copy file or directories error:")
                    && l.find(workFolders().tmpDirectory()) != l.npos;
            }));
        }
        QCOMPARE(userFiles(items), before);
        QCOMPARE(leftInWorkRoot(), QStringList());
        QCOMPARE(runningIn(workFolders().tmpDirectory()), QStringList());
        // Nothing of this job stands in the next one's way.
        if (edge == "read-only")
            fs::permissions(dest, fs::perms::owner_all);
        writeFile(user("next/n.txt"), "n");
        QVERIFY(JobRun::of({user("next/n.txt")}, user("next")).delivered());
    }

    void aDestinationDeeperThanTheSystemTakes_data()
    {
        QTest::addColumn<int>("length"); // of the destination's path, in bytes
        QTest::addColumn<bool>("nameAfterItems");
        QTest::newRow("a path longer than the system takes") << 4300 << false;
        QTest::newRow("no room below it for the archive's hidden name") << 4080 << false;
        QTest::newRow("no room for an archive named after a long item") << 3993 << true;
    }
    // Refused before anything is written for what is there, a path too
    // long, and not as a folder that seems to be missing or closed.
    void aDestinationDeeperThanTheSystemTakes()
    {
        QFETCH(int, length);
        QFETCH(bool, nameAfterItems);
        const std::string item = user("items/" + std::string(150, 'n'));
        writeFile(item + "/a.txt", "a");
        std::string dest;
        const int folder = makeFolderOfPathLength(user("dest"), size_t(length), dest);
        QVERIFY(folder >= 0);
        QCOMPARE(dest.size(), size_t(length));

        const JobRun job = JobRun::of({item}, dest, {}, {}, nameAfterItems);
        const QStringList left = namesIn(QString("/proc/self/fd/%1").arg(folder)); // too long a path to open
        ::close(folder);
        shell("rm -rf " + ShellWord::quoteIfNeeded(user("dest")));

        QVERIFY(job.ended);
        QCOMPARE(job.outcome.kind, JobOutcome::Kind::Failed);
        QCOMPARE(job.outcome.cause, FailureCause::DestinationPathTooLong);
        QCOMPARE(job.outcome.description, describeErrno(ENAMETOOLONG, dest));
        QCOMPARE(linesStarting(job, "job refused: "), 1);
        QCOMPARE(std::ranges::count(job.lines, "job refused: the destination path is too long: File name too long: " + dest), 1);
        QCOMPARE(left, QStringList());
        QCOMPARE(leftInWorkRoot(), QStringList());
    }

    void aWorkFolderThatCannotBeMadeOrFills_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<FailureCause>("cause");
        QTest::addColumn<QString>("told"); // exactly one line of the output matches it
        const QString refused = "^job refused: ";
        QTest::newRow("no inode left") << "size=1m,nr_inodes=2" << FailureCause::WorkFolderFull << refused;
        QTest::newRow("read-only") << "ro,size=1m" << FailureCause::WorkFolderFailed << refused;
        QTest::newRow("a link in its place") << "link" << FailureCause::WorkFolderRefused << refused;
        QTest::newRow("another user's, closed to us") << "other user" << FailureCause::WorkFolderRefused << refused;
        // It runs out of inodes while the content is staged, which the space
        // check before staging cannot see: one line tells of it however many
        // stagers met it.
        QTest::newRow("fills while staging") << "size=4m,nr_inodes=90" << FailureCause::WorkFolderFull
                                             << "No space left on device";
        // Out of inodes, not of bytes, at each step that makes a file: the
        // cause is the disk that is full, and the one line says so. (A
        // tmpfs's own folder takes the first inode, the job's lock in the
        // journal one more.)
        QTest::newRow("no inode for the job's folder") << "size=4m,nr_inodes=4" << FailureCause::WorkFolderFull
                                                       << "No space left on device";
        // The record of the job's folder is not brought up to date either:
        // that costs nothing, and is not told beside the failure.
        QTest::newRow("no inode for the output folder") << "size=4m,nr_inodes=5" << FailureCause::WorkFolderFull
                                                        << "No space left on device";
        QTest::newRow("no inode for the content folder") << "size=4m,nr_inodes=7" << FailureCause::WorkFolderFull
                                                         << "^create dir error:No space left on device: .*/archive$";
        QTest::newRow("no inode for php's archive") << "size=4m,nr_inodes=9" << FailureCause::WorkFolderFull
                                                    << "and wrote no archive; no space left in ";
        QTest::newRow("no inode for the record of the delivery") << "size=4m,nr_inodes=10"
                                                                 << FailureCause::WorkFolderFull
                                                                 << "^work journal error:No space left on device";
    }
    // The work folder cannot be made in the home folder, or fills up: the
    // job names the cause that is there, not an unsafe folder where none
    // is, and nothing stays.
    void aWorkFolderThatCannotBeMadeOrFills()
    {
        QFETCH(QString, home);
        QFETCH(FailureCause, cause);
        QFETCH(QString, told);
        const std::string small = m_home->makeFolder("small");
        if (home == "link") {
            fs::create_directory_symlink(m_home->makeFolder("elsewhere"), small + "/.quillmere");
        } else if (home == "other user") {
            fs::create_directory(small + "/.quillmere", fs::path(small));
            fs::permissions(small + "/.quillmere", fs::perms::owner_all);
            if (::chown((small + "/.quillmere").c_str(), 65534, 65534) != 0)
                QSKIP("no permission to give a folder to another user");
        } else {
            if (!m_mounts.mount(small, home.toStdString()))
                QSKIP("no permission to mount a small file system");
            if (home.contains("nr_inodes=2"))
                writeFile(small + "/last-inode", "x");
        }
        qputenv("HOME", QByteArray::fromStdString(small));
        writeFile(user("items/ok.txt"), "ok");
        std::string items = user("items");
        if (home.contains("nr_inodes=90")) {
            // The files are hard-linked and take no inode; each folder takes one.
            for (int i = 0; i < 30; ++i)
                writeFile(small + "/mine/d" + std::to_string(i) + "/f.txt", "f");
            items = small + "/mine";
        }

        const JobRun job = JobRun::of({items}, user("items"));

        QVERIFY(job.ended);
        QVERIFY(!job.delivered());
        QCOMPARE(job.outcome.cause, cause);
        QCOMPARE(std::ranges::count_if(job.lines, [&](const std::string& line) {
                     return QString::fromStdString(line).contains(QRegularExpression(told));
                 }),
                 1);
        QCOMPARE(leftInWorkRoot(), QStringList());
    }

    // A job's first record is written under a new name and then renamed:
    // another job's start, clearing what killed jobs left, leaves it to its
    // writer while the writer may still be at it, and removes one cut short.
    // A killed job's record that was renamed names its staging folder and
    // hidden part file: they go too, and only what that job made.
    void whatKilledJobsLeftIsRemovedNotWhatRuns_data()
    {
        QTest::addColumn<QString>("owner"); // who the record names: "live", "gone", "killed", or none yet
        QTest::addColumn<bool>("old");
        QTest::addColumn<bool>("kept");
        QTest::newRow("a running job's") << "live" << false << true;
        QTest::newRow("a running job's, long ago") << "live" << true << true;
        QTest::newRow("a job's that has gone") << "gone" << false << false;
        QTest::newRow("empty, just opened") << "" << false << true;
        QTest::newRow("empty, cut short long ago") << "" << true << false;
        QTest::newRow("a killed job's, renamed") << "killed" << false << false;
        // Killed, and not yet reaped by a parent that is not waiting for it:
        // a zombie runs nothing.
        QTest::newRow("a killed job's, its process not reaped") << "unreaped" << false << false;
        // Its process in another pid namespace, or on another machine that
        // shares the home folder: its pid tells nothing, its lock does.
        QTest::newRow("a running job's that the pid does not tell") << "elsewhere" << false << true;
    }
    void whatKilledJobsLeftIsRemovedNotWhatRuns()
    {
        QFETCH(QString, owner);
        QFETCH(bool, old);
        QFETCH(bool, kept);
        QProcess live;
        live.start("sleep", {"60"});
        QVERIFY(live.waitForStarted());
        // A child that ends when told, and is then left unreaped.
        std::optional<ProcessIdentity> unreaped;
        int tell[2] = {-1, -1};
        QCOMPARE(::pipe2(tell, O_CLOEXEC), 0);
        const pid_t child = owner == "unreaped" ? ::fork() : -1;
        if (child == 0) {
            ::close(tell[1]);
            char byte = 0;
            ::_exit(int(::read(tell[0], &byte, 1)));
        }
        const auto reapChild = qScopeGuard([&] {
            ::close(tell[0]);
            ::close(tell[1]);
            if (child > 0)
                ::waitpid(child, nullptr, 0);
        });
        if (child > 0) {
            unreaped = ProcessIdentity::of(child);
            QVERIFY(unreaped);
            ::close(tell[1]);
            tell[1] = -1;
            QTRY_VERIFY(readFile("/proc/" + std::to_string(child) + "/stat").find(") Z ") != std::string::npos);
        }
        const WorkFolders other = workFolders().forNewJob();
        const std::string dest = user("dest"), part = dest + "/.archive-killedjob1234.zip.part";
        std::string text, record = other.journalFolder() + "/" + other.job() + ".new";
        if (owner == "live") {
            const std::optional<ProcessIdentity> running = ProcessIdentity::of(static_cast<pid_t>(live.processId()));
            QVERIFY(running);
            text = "owner " + std::to_string(running->pid) + " " + std::to_string(running->startTime) + "\n";
        } else if (owner == "gone") {
            text = "owner " + std::to_string(endedProcess()) + " 1\n";
        } else if (owner == "killed" || owner == "elsewhere" || owner == "unreaped") {
            record = other.journalFolder() + "/" + other.job();
            writeFile(part, "the dead job's part");
            writeFile(dest + "/.archive-usersown.zip.part", "the user's own file");
            writeFile(other.contentFolder() + "/half.txt", "half staged");
            struct stat partInfo {};
            QCOMPARE(::stat(part.c_str(), &partInfo), 0);
            const auto hex = [](const std::string& path) { return QByteArray::fromStdString(path).toHex().toStdString(); };
            const std::string ownerLine = unreaped
                ? std::to_string(unreaped->pid) + " " + std::to_string(unreaped->startTime)
                : std::to_string(endedProcess()) + " 1";
            text = "owner " + ownerLine + "\nstaging " + hex(other.stagingFolder()) + " 0 0\npart "
                + hex(part) + " " + std::to_string(partInfo.st_dev) + " " + std::to_string(partInfo.st_ino) + "\n";
        }
        writeFile(record, text);
        if (old)
            fs::last_write_time(record, fs::file_time_type::clock::now() - std::chrono::hours(2));
        const std::string lock = other.journalFolder() + "/" + other.job() + ".lock";
        const int held = owner == "elsewhere" ? ::open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600) : -1;
        QVERIFY(owner != "elsewhere" || ::flock(held, LOCK_EX) == 0);
        writeFile(user("items/a.txt"), "a");
        fs::create_directories(dest);

        const bool delivered = JobRun::of({user("items")}, dest).delivered();
        const bool left = fs::exists(record);
        const bool itsOwnLeft = fs::exists(other.stagingFolder()) && fs::exists(part);
        fs::remove(record);
        if (held >= 0) {
            ::close(held);
            fs::remove(lock);
            fs::remove_all(other.stagingFolder());
            fs::remove(part);
        }
        live.kill();
        live.waitForFinished();
        QVERIFY(delivered);
        QCOMPARE(left, kept);
        QCOMPARE(leftInWorkRoot(), QStringList());
        QCOMPARE(itsOwnLeft, owner == "elsewhere");
        if (owner == "killed" || owner == "unreaped") {
            QVERIFY(!fs::exists(other.stagingFolder()));
            QVERIFY(!fs::exists(part));
            QCOMPARE(readFile(dest + "/.archive-usersown.zip.part"), std::string("the user's own file"));
        }
    }

    // Only the user's own files in the journal folder are records: a link
    // there could name another's record, and a FIFO would wait for ever.
    void theJournalReadsOnlyItsOwnRecords_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("a link to a record elsewhere") << "link";
        QTest::newRow("a FIFO") << "fifo";
    }
    void theJournalReadsOnlyItsOwnRecords()
    {
        QFETCH(QString, planted);
        const WorkFolders folders = workFolders();
        const std::string dest = user("dest"), usersFile = dest + "/.archive-usersown1234.zip.part";
        writeFile(usersFile, "the user's own file");
        const std::string elsewhere = user("elsewhere/record"), entry = folders.journalFolder() + "/abcdefgh";
        writeFile(elsewhere, "owner " + std::to_string(endedProcess()) + " 1\npart "
                                 + QByteArray::fromStdString(usersFile).toHex().toStdString() + " 0 0\n");
        fs::create_directories(folders.journalFolder());
        fs::permissions(folders.journalFolder(), fs::perms::owner_all);
        if (planted == "link")
            fs::create_symlink(elsewhere, entry);
        else
            QCOMPARE(::mkfifo(entry.c_str(), 0600), 0);
        writeFile(user("items/a.txt"), "a");

        const JobRun job = JobRun::of({user("items")}, dest);

        QVERIFY(job.delivered());
        QCOMPARE(readFile(usersFile), std::string("the user's own file"));
        QVERIFY(fs::exists(elsewhere));
        QVERIFY(!fs::exists(fs::symlink_status(entry)));
        QCOMPARE(leftInWorkRoot(), QStringList());
    }

    // A whole job on a folder of names a Japanese office user really has,
    // and its archive extracted the way Windows extracts it: every file must
    // arrive at a path of its own, with its own bytes.
    void everyFileArrivesApart()
    {
        std::vector<std::string> names;
        for (const QString& name : QStringList{
                 // Changed names meeting names that need no change.
                 "a*b.txt", "a_b.txt", "x?.txt", "x_.txt", "10〜12月.txt", "10～12月.txt", "‖.txt", "∥.txt",
                 "A—B.txt", "A―B.txt", "résumé.txt", "re\u0301sume\u0301.txt", "resume.txt",
                 // Stand-ins, composed and decomposed.
                 "\u3046\u3099.txt", "\u3094 2.txt", "\u30F7.txt", "\u30EF\u3099 2.txt", "\u304B\u309A.txt", "か゜.txt",
                 "\u00B5m.txt", "μm.txt", "1\u20132.txt", "1\u20122.txt", "1-2.txt", "Straße.txt", "Œ.txt", "œ.txt",
                 "Æ.txt", "Ø.txt", "Ł.txt", "©.txt", "®.txt", "™.txt", "𠮷野.txt", "吉野.txt", "鷗.txt", "剝.txt", "𠮟.txt",
                 "繫.txt", "頰.txt", "摑.txt", "噓.txt", "寿司🍣.txt", "寿司🍜.txt", "寿司_.txt",
                 // Accents that form no letter go, and what is left is named as Windows reads it.
                 "\u0301.txt", "\u0300.txt", " (2).txt", "q\u0301.txt", "q.txt",
                 // What shows nothing meets the name without it.
                 "見積\u200B書.txt", "見積書.txt", "葛\U000E0100飾.txt", "葛飾.txt", "平成\u00A030年.txt", "平成 30年.txt",
                 // What Windows cannot create, and its twins.
                 "CON.txt", "con_.txt", "nul", "Aux/inside.txt", "COM1", "lpt9.log", "PRN.tar.gz", "memo.", "memo..",
                 "memo", "memo ", "MEMO_", "...", "....", "CÖN.log", "nül", "1≮2.txt", "1≯2.txt", "Report.txt", "report.TXT", "ａ.txt", "Ａ.txt",
                 // Kanji with trail bytes 0x5C and 0x7C, half-width kana, NEC and IBM characters.
                 "表ソ能.txt", "ﾊﾝｶｸ.txt", "①②Ⅰ.txt", "髙﨑.txt",
                 // Deep enough to come near the limit, short enough to fit it.
                 QString(70, QChar(0x6587)) + "/" + QString(100, 'x') + ".txt"})
            names.push_back(name.toStdString());

        const auto [job, entries] = archived(names);

        QVERIFY(job.delivered());
        QCOMPARE(namesIn(QString::fromStdString(user("dest"))), QStringList{"archive.zip"});
        std::map<QString, QString> extracted; // Windows' path, the entry's
        for (const std::string& entry : entries) {
            const QString shown = ArchiveContent::shownOnWindows(entry);
            QString why;
            const QString path = extractedPath(shown, why);
            QVERIFY2(!path.isEmpty(), qPrintable(shown + ": " + why));
            if (shown.endsWith('/'))
                continue;
            const auto [at, isNew] = extracted.emplace(path, shown);
            QVERIFY2(isNew, qPrintable(shown + " lands where " + at->second + " does"));
        }
        QCOMPARE(int(extracted.size()), int(names.size()));
        std::map<FileDigest, int> wanted;
        for (const std::string& name : names)
            ++wanted[ArchiveContent::ofFile(user("names/") + name)];
        QVERIFY(ArchiveContent::digestCounts(user("dest/archive.zip")) == wanted);
        // Nothing in it calls for a warning: every name was made one that
        // Windows creates, and no path reaches the limit.
        QCOMPARE(linesStarting(job, "windows warning: "), 0);
    }

    // A path that reaches 260 characters below the 60-character folder is
    // warned with its length in characters. What the report calls an item
    // in the archive is the entry's path, as unzip lists it, and a warning's
    // length is that path's: a script can find each entry the report names,
    // and add the folder it extracts into.
    void theReportNamesEntriesAsTheArchiveHoldsThem()
    {
        const QString folder = QString(80, QChar(0x6587)), file = QString(109, 'x') + ".txt";
        const auto [job, names] = archived({(folder + "/" + file).toStdString(), "why?.txt",
                                            (folder + "/ask?/x.txt").toStdString()});
        QVERIFY(job.delivered());
        QStringList entries;
        for (const std::string& name : names)
            entries << ArchiveContent::shownOnWindows(name);
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson::of(job.outcome))).object();

        QCOMPARE(report["warnings"].toArray().size(), 1);
        const QJsonObject warning = report["warnings"][0].toObject();
        const QString warned = warning["inArchive"].toString();
        QCOMPARE(warned, "archive/names/" + folder + "/" + file);
        QVERIFY2(entries.contains(warned), qPrintable(warned));
        // "archive/names/" and the path: 14 + 194 = 208, and 60 more reach 268.
        QCOMPARE(warning["length"].toInt(), 208);
        const std::string line = "windows warning: " + warned.toStdString()
            + " (208 characters: reaches 260 characters below a 60-character extraction folder)";
        QVERIFY2(std::ranges::count(job.lines, line) == 1, line.c_str());

        QStringList renamed;
        for (const QJsonValue& item : report["renamed"].toArray()) {
            const QString inArchive = item.toObject()["inArchive"].toString();
            // A renamed folder has no entry of its own: its files name it.
            QVERIFY2(std::ranges::any_of(entries, [&](const QString& entry) { return entry.startsWith(inArchive); }),
                     qPrintable(inArchive));
            renamed << item.toObject()["original"].toString() + " -> " + inArchive;
        }
        renamed.sort();
        QCOMPARE(renamed, (QStringList{"names/why?.txt -> archive/names/why_.txt",
                                       "names/" + folder + "/ask? -> archive/names/" + folder + "/ask_"}));
        QVERIFY(job.logged("renamed: names/why?.txt -> archive/names/why_.txt"));
    }

    // Given items of one name arrive apart; the one renamed is told by the
    // path it was given by, so that it is known which of them it is. What
    // is inside it keeps its path from the given folder's name on.
    void aRenamedGivenItemIsToldByItsPath()
    {
        const auto [job, names] = archived({"c1/same/a.txt", "c2/same/b?.txt"}, {"names/c1/same", "names/c2/same"});

        QVERIFY(job.delivered());
        QCOMPARE(names, (std::vector<std::string>{"archive/same (2)/b_.txt", "archive/same/a.txt"}));
        QStringList renamed;
        for (const RenamedItem& item : job.outcome.report.renamed)
            renamed << QString::fromStdString(item.original + " -> " + item.inArchive);
        renamed.sort();
        const QString given = QString::fromStdString(user("names/c2/same"));
        QCOMPARE(renamed, (QStringList{given + " -> archive/same (2)", "same/b?.txt -> archive/same (2)/b_.txt"}));
        QVERIFY(job.logged("renamed: " + given.toStdString() + " -> archive/same (2)"));
        const QJsonArray inJson = QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson::of(job.outcome)))
                                      .object()["renamed"].toArray();
        QVERIFY(std::ranges::any_of(inJson, [&](const QJsonValue& item) {
            return item.toObject()["original"].toString() == given
                && item.toObject()["inArchive"].toString() == "archive/same (2)";
        }));
    }

    // Linux names are bytes. One that ends inside a character, or holds
    // bytes that are none, still arrives in code page 932, in its own
    // folder, with "_" for what is no character, and is reported renamed.
    // One in code page 932 already, as unpacked from Windows, arrives as
    // it is, told as read so (its folder and its file).
    void bytesThatAreNoTextArriveInCodePage932()
    {
        const std::string folder = "\xe8\xb3\x87\xe6\x96\x99"; // 資料
        const std::string fromWindows = "\x8c\xa9\x90\xcf/\x90\xbf.txt"; // 見積/請.txt
        const auto [job, names] = archived(
            {folder + "/a\xe9", folder + "/ok.txt", "D\xe9/f.txt", "b\xe9x.txt", "\xe6\x96", fromWindows});
        QVERIFY(job.delivered());
        const std::string inCp932 = "archive/names/\x8e\x91\x97\xbf/";
        QCOMPARE(names, (std::vector<std::string>{"archive/names/D_/f.txt", "archive/names/_", "archive/names/b_x.txt",
                                                  "archive/names/" + fromWindows, inCp932 + "a_", inCp932 + "ok.txt"}));
        QCOMPARE(int(job.outcome.report.renamed.size()), 6);
    }

    // Only the system's own ".DS_Store" stays out. A name of the user's
    // that holds it, or reads so once converted, arrives with "_" for its
    // dot, and php's archive agrees with what the job expects of it.
    void namesHoldingDsStoreArriveRenamed()
    {
        const auto [job, names] = archived({"d/.DS\u200B_Store", "d/k.txt", "d/.DS_Store", "e/.DS\u200B_Store",
                                            "x.DS_Store/f.txt", "notes.DS_Store.txt"});
        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        QCOMPARE(names, (std::vector<std::string>{"archive/names/d/_DS_Store", "archive/names/d/k.txt",
                                                  "archive/names/e/_DS_Store", "archive/names/notes_DS_Store.txt",
                                                  "archive/names/x_DS_Store/f.txt"}));
        QVERIFY(job.outcome.report.leftOut.empty());
        QCOMPARE(int(job.outcome.report.renamed.size()), 4);
        QVERIFY(job.logged("renamed: names/x.DS_Store -> archive/names/x_DS_Store"));
    }

    void foldersWithBracketsArriveWhole_data()
    {
        QTest::addColumn<QStringList>("files");        // below "names", each holding its name
        QTest::addColumn<QStringList>("emptyFolders"); // below "names"
        QTest::addColumn<QStringList>("entries");      // below "archive/names/"
        QTest::addColumn<QString>("lost"); // an empty folder the writer takes for a full one
        QTest::addColumn<int>("folders");  // the folders the report counts, "names" included
        // The writer asks glob() whether a folder holds visible names, and
        // glob() reads "[...]" as a class of characters: it looks into other
        // folders, or into none, and gives folders with files an entry too.
        QTest::newRow("year") << QStringList{"Photos [2023]/a.jpg"} << QStringList{}
                              << QStringList{"Photos [2023]/", "Photos [2023]/a.jpg"} << QString() << 2;
        QTest::newRow("in a parent") << QStringList{"v[1]/sub/a.txt"} << QStringList{"v[1]/empty"}
                                     << QStringList{"v[1]/", "v[1]/empty/", "v[1]/sub/", "v[1]/sub/a.txt"}
                                     << QString() << 4;
        QTest::newRow("class names an empty sibling")
            << QStringList{"[c]/in.txt"} << QStringList{"c"} << QStringList{"[c]/", "[c]/in.txt", "c/"} << QString() << 3;
        QTest::newRow("class names a sibling with files")
            << QStringList{"x/file.txt"} << QStringList{"[x]"} << QStringList{"x/file.txt"} << QString("[x]") << 2;
        QTest::newRow("both empty") << QStringList{} << QStringList{"[ab]", "a", "b["}
                                    << QStringList{"[ab]/", "a/", "b[/"} << QString() << 4;
        QTest::newRow("an unclosed class") << QStringList{"a[b/k.txt"} << QStringList{"a[c"}
                                           << QStringList{"a[b/k.txt", "a[c/"} << QString() << 3;
    }
    // Whatever glob() makes of a name, the job expects what the writer
    // writes: the archive is delivered, every file arrives, every folder
    // entry opens as a folder on Windows, and an empty folder the writer
    // passes over is reported, not counted.
    void foldersWithBracketsArriveWhole()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, emptyFolders);
        QFETCH(QStringList, entries);
        QFETCH(QString, lost);
        QFETCH(int, folders);
        for (const QString& folder : emptyFolders)
            fs::create_directories(user("names/") + folder.toStdString());
        std::vector<std::string> names;
        for (const QString& file : files)
            names.push_back(file.toStdString());
        const auto [job, inArchive] = archived(names);
        QVERIFY2(job.delivered(), job.outcome.description.c_str());
        QStringList got;
        for (const std::string& name : inArchive)
            got << QString::fromStdString(name).remove(0, int(std::string("archive/names/").size()));
        entries.sort();
        QCOMPARE(got, entries);
        const ZipReader archive(user("dest/archive.zip"));
        for (const ZipReader::Entry& entry : archive.entries)
            if (entry.name.ends_with('/') && entry.name != "archive/names/")
                QVERIFY2(entry.attributes & 0x10, entry.name.c_str());
        const std::vector<LeftOutItem>& leftOut = job.outcome.report.leftOut;
        QCOMPARE(int(leftOut.size()), lost.isEmpty() ? 0 : 1);
        if (!lost.isEmpty()) {
            QCOMPARE(leftOut[0].path, user("names/") + lost.toStdString());
            QCOMPARE(leftOut[0].reason, LeftOutReason::EmptyFolderTakenForPattern);
        }
        QCOMPARE(job.outcome.report.folderCount, folders);
        QVERIFY(job.outcome.report.warnings.empty());
        QCOMPARE(QProcess::execute("unzip", {"-tqq", QString::fromStdString(user("dest/archive.zip"))}), 0);
    }

    void aFuseDestinationTakesTheFirstFreeName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("taken"); // someone else's archive.zip is there
        QTest::addColumn<bool>("homeThere"); // the home folder on it, the destination on the test's disk
        QTest::newRow("libfuse 2 file system without link(), empty") << "passthrough" << false << false;
        QTest::newRow("libfuse 2 file system without link(), archive.zip taken") << "passthrough" << true << false;
        QTest::newRow("exFAT through exfat-fuse, archive.zip taken") << "exfat" << true << false;
        // exFAT shows every file as 0777: the archive arrives with the mode
        // a new file of the user's gets all the same.
        QTest::newRow("a home folder on exFAT") << "exfat" << false << true;
    }
    // The real program delivering into a destination on a FUSE file system
    // that has neither RENAME_NOREPLACE nor hard links, as a USB stick with
    // exFAT through exfat-fuse and most libfuse 2 file systems: the file
    // system is mounted in a mount namespace of the test's own, where the
    // program runs. It delivers under the first free name, leaves the file
    // that was there as it was, and leaves nothing else behind: no part
    // file, no placeholder, nothing in the work folder.
    void aFuseDestinationTakesTheFirstFreeName()
    {
        QFETCH(QString, kind);
        QFETCH(bool, taken);
        QFETCH(bool, homeThere);
        const std::string root = m_home->path();
        const std::string mnt = m_home->makeFolder("mnt"), out = m_home->makeFolder("out");
        writeFile(root + "/items/資料/見積書.txt", "estimate");
        std::string source = m_home->makeFolder("backing");
        if (kind == "exfat") {
            if (::geteuid() != 0)
                QSKIP("a loop device for the exFAT image needs root");
            source = root + "/exfat.img";
            writeFile(source, "");
            fs::resize_file(source, 32 << 20);
            if (!run("mkfs.exfat", {QString::fromStdString(source)}))
                QSKIP("mkfs.exfat (exfatprogs) cannot make the exFAT image");
            m_loopDevice = run("losetup", {"-f", "--show", QString::fromStdString(source)}).value_or(QString());
            if (m_loopDevice.isEmpty())
                QSKIP("no loop device is available for the exFAT image");
            source = m_loopDevice.toStdString();
        } else if (!run("/usr/bin/python3", {"-c", "import fusepy"})) {
            QSKIP("python3-fusepy is not installed");
        }

        QProcess namespaced;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", QString::fromStdString(root));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(m_home->makeFolder("runtime")));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(m_home->makeFolder("config")));
        namespaced.setProcessEnvironment(environment);
        namespaced.setProcessChannelMode(QProcess::MergedChannels);
        // Root mounts in a mount namespace alone; anyone else in a user
        // namespace of their own as well, where the kernel allows FUSE.
        namespaced.start("unshare", QStringList{::geteuid() == 0 ? "-m" : "-rm", "sh", "-c", kScript, "sh"}
                                        << QString::fromStdString(mnt) << QString::fromStdString(out) << kind
                                        << QString::fromStdString(source) << QString::fromStdString(root + "/items")
                                        << (taken ? "yes" : "no")
                                        << QString::fromLocal8Bit(qgetenv("QUILLMERE_BUILD_DIR") + "/quillmere")
                                        << QStringLiteral(QUILLMERE_FUSE_PASSTHROUGH) << (homeThere ? "yes" : "no"));
        const bool ended = namespaced.waitForFinished(120000);
        if (!ended) {
            // The file system's server would keep the namespace alive.
            namespaced.kill();
            namespaced.waitForFinished();
            if (const std::string server = readFile(out + "/server"); !server.empty())
                ::kill(static_cast<pid_t>(std::stol(server)), SIGKILL);
        }
        QVERIFY2(ended, namespaced.readAll().constData());
        const QByteArray said = namespaced.readAll();
        if (!fs::exists(out + "/started"))
            QSKIP(qPrintable("no mount namespace of our own: " + said));
        if (fs::exists(out + "/skip"))
            QSKIP(qPrintable("this machine does not let the test mount a FUSE file system: "
                             + QString::fromStdString(readFile(out + "/skip"))));
        QVERIFY2(namespaced.exitCode() == 0, said.constData());

        const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(readFile(out + "/report.json"))).object();
        const QString expected = taken ? "archive1.zip" : "archive.zip";
        QVERIFY2(report["result"] == "delivered", readFile(out + "/report.json").c_str());
        const std::string destination = homeThere ? out + "/dest" : mnt;
        QCOMPARE(report["archive"].toString(), QString::fromStdString(destination) + "/" + expected);
        QStringList listing = QString::fromStdString(readFile(out + "/listing")).split('\n', Qt::SkipEmptyParts);
        listing.sort();
        const QStringList delivered = taken ? QStringList{"archive.zip", "archive1.zip"} : QStringList{"archive.zip"};
        QCOMPARE(listing, delivered);
        if (taken)
            QCOMPARE(readFile(out + "/seen/archive.zip"), std::string("theirs"));
        const std::string archive = out + "/seen/" + expected.toStdString();
        QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", QString::fromStdString(archive)}), 0);
        const std::vector<std::string> names = ZipReader(archive).names();
        QVERIFY(std::ranges::count(names, "archive/items/\x8e\x91\x97\xbf/\x8c\xa9\x90\xcf\x8f\x91.txt") == 1);
        QCOMPARE(leftInWorkRoot(root + "/.quillmere"), QStringList());
        QCOMPARE(readFile(out + "/left"), std::string());
        if (homeThere)
            QCOMPARE(readFile(out + "/modes"), std::string("644\n"));
    }

    void aStoppedJobEndsItsWriterWhereverItIs_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<JobPhase>("phase");
        // Before the job has started php: none may start after.
        QTest::newRow("as staging begins") << "at once" << JobPhase::Copying;
        // php is started while the items are staged, and waits for its
        // program.
        QTest::newRow("php waiting for its program") << "php waits" << JobPhase::Copying;
        QTest::newRow("php writing") << "php writes" << JobPhase::Writing;
    }
    // Stopped in each phase where the writer may run, the job ends at once
    // and takes php with it: nothing of it runs on, nothing stays in the
    // work folder, nothing is delivered.
    void aStoppedJobEndsItsWriterWhereverItIs()
    {
        QFETCH(QString, when);
        QFETCH(JobPhase, phase);
        // Enough files that staging and writing each take a while.
        for (int folder = 0; folder < 40; ++folder)
            for (int file = 0; file < 100; ++file)
                writeFile(user("items/" + std::to_string(folder) + "/" + std::to_string(file) + ".txt"),
                          randomBytes(when == "php writes" ? 20000 : 16));
        fs::create_directories(user("dest"));
        const std::string root = workFolders().tmpDirectory();
        std::optional<JobOutcome> outcome;
        std::optional<JobPhase> stoppedIn;
        bool wentPromptly = false;
        std::vector<std::string> lines;
        {
            StdoutCapture capture;
            QPointer<ZipAction> job = new ZipAction;
            const auto noJobLeft = qScopeGuard([&] { delete job.data(); });
            JobPhase current = JobPhase::Copying;
            connect(job, &ZipAction::phaseChanged, job, [&](JobPhase entered) {
                current = entered;
                if (when == "at once" && entered == JobPhase::Copying && !stoppedIn) {
                    stoppedIn = entered;
                    job->stop();
                }
            });
            connect(job, &ZipAction::finished, job, [&](const JobOutcome& ended) { outcome = ended; });
            job->createZip({user("items")}, user("dest"), false, "");
            if (when != "at once"
                && QTest::qWaitFor([&] { return outcome || (current == phase && !runningIn(root).isEmpty()); }, 30000)
                && !outcome) {
                stoppedIn = current;
                job->stop();
            }
            wentPromptly = QTest::qWaitFor([&] { return job.isNull(); }, 5000);
            lines = capture.lines();
        }

        QVERIFY(stoppedIn);
        if (*stoppedIn != phase)
            QSKIP("the job went past the phase before the test saw php in it");
        QVERIFY(outcome);
        QCOMPARE(outcome->kind, JobOutcome::Kind::Stopped);
        QCOMPARE(outcome->failedIn, phase);
        QVERIFY(wentPromptly);
        QCOMPARE(runningIn(root), QStringList());
        QCOMPARE(leftInWorkRoot(), QStringList());
        QCOMPARE(namesIn(QString::fromStdString(user("dest"))), QStringList());
        QCOMPARE(std::ranges::count(lines, std::string("job stopped")), 1);
    }

    void aSlowCopyIntoTheDestinationCanBeStopped_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<bool>("pulledOut"); // the destination fails writes past 256 KiB
        QTest::addColumn<bool>("homeFills"); // the home disk fills up once the copy has begun
        QTest::newRow("plain: the job copies") << false << false << false;
        QTest::newRow("encrypted: mv copies, after zipcloak") << true << false << false;
        QTest::newRow("plain: the stick is pulled out") << false << true << false;
        QTest::newRow("encrypted: the stick is pulled out") << true << true << false;
        // The work folder holds the encrypted archive, and needs no more
        // room while mv copies it: its disk is not what failed.
        QTest::newRow("encrypted: the stick is pulled out, the home disk full") << true << true << true;
    }
    // A destination on a slow file system, as a USB stick or a network share
    // can be: the archive's copy there goes on while the job still tells
    // how far it is, and stopping the job meanwhile ends it at once; the
    // half-made copy goes with it, and nothing is left in the destination
    // or the work folder. An encrypted job's copy is mv's, the second half
    // of its encrypting: zipcloak has read the archive once, mv reads it
    // again; the job tells it as saving all the same. A copy that fails
    // midway fails the saving, not the encrypting done before it, and leaves
    // nothing behind either.
    void aSlowCopyIntoTheDestinationCanBeStopped()
    {
        QFETCH(bool, encrypted);
        QFETCH(bool, pulledOut);
        QFETCH(bool, homeFills);
        if (!run("/usr/bin/python3", {"-c", "import fusepy"}))
            QSKIP("python3-fusepy is not installed");
        const std::string smallHome = homeFills ? m_home->makeFolder("small") : std::string();
        if (homeFills) {
            if (!m_mounts.mount(smallHome, "size=8m"))
                QSKIP("no permission to mount a small file system");
            qputenv("HOME", QByteArray::fromStdString(smallHome));
        }
        const std::string backing = m_home->makeFolder("backing"), mnt = m_home->makeFolder("mnt");
        writeFile(user("items/photo.jpg"), randomBytes(2 << 20));
        // Every write of 4 KiB waits 50 ms: the whole archive would take
        // half a minute to arrive.
        QProcess server;
        server.start("/usr/bin/python3", QStringList{QUILLMERE_FUSE_PASSTHROUGH, QString::fromStdString(backing),
                                                     QString::fromStdString(mnt), "0.05"}
                                             + (pulledOut ? QStringList{"262144"} : QStringList{}));
        const auto unmount = qScopeGuard([&] {
            ::umount2(mnt.c_str(), MNT_DETACH);
            server.kill();
            server.waitForFinished();
        });
        if (!server.waitForReadyRead(10000))
            QSKIP(qPrintable("this machine does not let the test mount a FUSE file system: "
                             + server.readAllStandardError()));
        // What the destination holds, seen past the slow file system.
        const auto partBytes = [&]() -> qint64 {
            for (const QString& name : namesIn(QString::fromStdString(backing)))
                if (name.startsWith(".archive-") && name.endsWith(".zip.part"))
                    return QFileInfo(QString::fromStdString(backing) + "/" + name).size();
            return -1;
        };
        const JobPhase copying = encrypted ? JobPhase::Encrypting : JobPhase::Delivering;

        std::optional<JobOutcome> outcome;
        double told = 0; // the most of the phase the job told while the copy had begun
        qint64 partWhenTold = -1;
        JobPhase shownWhenTold = JobPhase::Copying;
        bool toldWhileCopying = false, endedAtOnce = false, wentPromptly = false, toldAsCopied = false;
        std::vector<std::string> lines;
        {
            StdoutCapture capture;
            QPointer<ZipAction> job = new ZipAction;
            const auto noJobLeft = qScopeGuard([&] { delete job.data(); });
            connect(job, &ZipAction::progressChanged, job, [&](const JobProgress& progress) {
                // A job that copies says so from the writing on: the window
                // gives the copy its share of the bar.
                if (progress.phase == JobPhase::Writing)
                    toldAsCopied = progress.copiedAcross;
                if (progress.phase != copying || progress.fraction <= told)
                    return;
                const qint64 part = partBytes();
                if (part > 0) {
                    told = progress.fraction;
                    partWhenTold = part;
                    shownWhenTold = progress.shownPhase();
                }
                // Another program takes all but 1 MB of the home disk.
                if (homeFills && part > 0 && !fs::exists(smallHome + "/other.bin"))
                    writeFile(smallHome + "/other.bin", std::string(fs::space(smallHome).available - (1 << 20), 'o'));
            });
            connect(job, &ZipAction::finished, job, [&](const JobOutcome& ended) { outcome = ended; });
            job->createZip({user("items")}, mnt, encrypted, encrypted ? "secret-1" : "");
            toldWhileCopying = QTest::qWaitFor([&] { return told > 0 && partWhenTold >= 0; }, 10000);
            if (pulledOut) {
                wentPromptly = QTest::qWaitFor([&] { return job.isNull(); }, 30000);
            } else if (toldWhileCopying && !outcome) {
                job->stop();
                endedAtOnce = outcome.has_value();
                // The copy stops at its next piece, long before it could end.
                wentPromptly = QTest::qWaitFor([&] { return job.isNull(); }, 5000);
            }
            lines = capture.lines();
        }

        QVERIFY2(toldWhileCopying, "the job told nothing while the archive was copied");
        QCOMPARE(toldAsCopied, !encrypted);
        QVERIFY(partWhenTold < (2 << 20));
        // Half the encrypting is the copy's: begun, it is past the half
        // and far from the end.
        if (encrypted)
            QVERIFY2(told > 0.5 && told < 0.8, qPrintable(QString::number(told)));
        // The window tells either copy as saving.
        QCOMPARE(shownWhenTold, JobPhase::Delivering);
        if (pulledOut) {
            QVERIFY(wentPromptly);
            QVERIFY(outcome.has_value());
            QCOMPARE(outcome->kind, JobOutcome::Kind::Failed);
            QCOMPARE(outcome->failedIn, JobPhase::Delivering);
            QCOMPARE(outcome->cause, FailureCause::Other);
            // One line tells the failure: the copy's, or the encrypting step's.
            const std::string failureLine = encrypted ? LogPrefix::kEncrypt : LogPrefix::kCopy;
            QCOMPARE(std::ranges::count_if(lines, [&](const std::string& line) { return line.starts_with(failureLine); }),
                     1);
        } else {
            QVERIFY(endedAtOnce);
            QCOMPARE(outcome->kind, JobOutcome::Kind::Stopped);
            QCOMPARE(outcome->failedIn, copying);
            QVERIFY(wentPromptly);
            // Told as any stop is: no failure of the copy besides.
            QCOMPARE(std::ranges::count(lines, std::string("job stopped")), 1);
            QVERIFY(std::ranges::none_of(lines, [](const std::string& line) { return line.starts_with("copy file"); }));
        }
        QCOMPARE(namesIn(QString::fromStdString(backing)), QStringList());
        QCOMPARE(leftInWorkRoot(), QStringList());
    }

    // Whole jobs on trees that lie on another file system than the home
    // folder (a tmpfs of the test's own, as a USB stick would be): the files
    // are staged as links, not copies, every byte reaches the archive, and a
    // file removed, renamed, replaced or changed while the job runs fails the
    // job instead of leaving a gap or other data in it. The links go to a
    // folder in memory where the session's runtime folder is a tmpfs, and to
    // the disk where it is not or where memory runs out; memory the test
    // does not own is never used.
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
        // php's open waits on a FIFO for a writer that never comes.
        QTest::newRow("a FIFO in its place while the writer works") << "fifo while writing" << true << plain
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
        if (root.empty() || runtime(inMemory ? "size=4m" : "").empty())
            QSKIP("no permission to mount a file system");
        const std::string items = root + "/items", target = items + "/sub/b.txt";
        writeFile(items + "/a.txt", randomBytes(1000));
        const std::string original = randomBytes(2000);
        writeFile(target, original);
        const std::string dest = user("dest");
        fs::create_directories(dest);
        const QByteArray savedPath = qgetenv("PATH");
        if (change.endsWith("while writing")) {
            qputenv("PATH", QByteArray(QUILLMERE_STANDINS ":") + savedPath);
            qputenv("QUILLMERE_TEST_REMOVE", QByteArray::fromStdString(target));
            if (change.startsWith("fifo"))
                qputenv("QUILLMERE_TEST_FIFO", "1");
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
        qunsetenv("QUILLMERE_TEST_FIFO");
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

QTEST_GUILESS_MAIN(TestArchiveJob)
#include "tst_ArchiveJob.moc"

