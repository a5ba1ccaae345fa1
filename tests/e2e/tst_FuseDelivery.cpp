// The real program delivering into a destination on a FUSE file system
// that has neither RENAME_NOREPLACE nor hard links, as a USB stick with
// exFAT through exfat-fuse and most libfuse 2 file systems: the file system
// is mounted in a mount namespace of the test's own, where the program runs.
#include "TestFiles.h"
#include "TestHome.h"
#include "WorkRoot.h"
#include "ZipReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs in the new mount namespace: mounts the file system, puts someone
// else's archive.zip there when asked, runs the program, and copies out
// what the destination then holds before it unmounts.
const char* const kScript = R"(set -u
mnt=$1 out=$2 kind=$3 source=$4 items=$5 taken=$6 program=$7 passthrough=$8
: > "$out/started"
if [ "$kind" = exfat ]; then
    mount.exfat-fuse "$source" "$mnt" 2> "$out/mount.err" || { head -n 1 "$out/mount.err" > "$out/skip"; exit 0; }
else
    mkfifo "$out/ready"
    /usr/bin/python3 "$passthrough" "$source" "$mnt" > "$out/ready" 2> "$out/mount.err" &
    echo $! > "$out/server"
    read -r mounted < "$out/ready" || { wait; head -n 1 "$out/mount.err" > "$out/skip"; exit 0; }
fi
if [ "$taken" = yes ]; then printf theirs > "$mnt/archive.zip"; fi
"$program" --batch --json --output "$mnt" "$items" > "$out/report.json" 2> "$out/lines"
ls -A "$mnt" > "$out/listing"
mkdir "$out/seen" && cp "$mnt"/*.zip "$out/seen/" 2> /dev/null
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

} // namespace

class TestFuseDelivery : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;
    QString m_loopDevice;

private slots:
    void init() { m_home.emplace(); }
    void cleanup()
    {
        if (!m_loopDevice.isEmpty())
            run("losetup", {"-d", m_loopDevice});
        m_loopDevice.clear();
        m_home.reset();
    }

    void archiveTakesTheFirstFreeName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("taken"); // someone else's archive.zip is there
        QTest::newRow("libfuse 2 file system without link(), empty") << "passthrough" << false;
        QTest::newRow("libfuse 2 file system without link(), archive.zip taken") << "passthrough" << true;
        QTest::newRow("exFAT through exfat-fuse, archive.zip taken") << "exfat" << true;
    }
    // The job delivers under the first free name, leaves the file that was
    // there as it was, and leaves nothing else behind: no part file, no
    // placeholder, nothing in the work folder.
    void archiveTakesTheFirstFreeName()
    {
        QFETCH(QString, kind);
        QFETCH(bool, taken);
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
                                        << QStringLiteral(QUILLMERE_FUSE_PASSTHROUGH));
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
        QCOMPARE(report["archive"].toString(), QString::fromStdString(mnt) + "/" + expected);
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
    }
};

QTEST_GUILESS_MAIN(TestFuseDelivery)
#include "tst_FuseDelivery.moc"
