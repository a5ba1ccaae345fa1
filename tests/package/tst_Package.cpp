// The Debian package as a user gets it: unpacked into a temporary root with
// dpkg -x (nothing is installed on the machine), its binary run from there
// without any help from the environment, its desktop files checked by the
// tools that read them, and the file managers' actions run as the file
// managers run them.
#include "TestHome.h"
#include "ZipReader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        result.err = "timed out";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString qs(const std::string& bytes) { return QFile::decodeName(bytes.c_str()); }

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT
    TestHome m_home;
    QTemporaryDir m_root;
    QProcess m_instance;

    std::string root() const { return QFile::encodeName(m_root.path()).toStdString(); }
    std::string share() const { return root() + "/usr/share"; }

    // What a desktop session gives the application, and nothing of the
    // build: the converter module has to be found from the binary's place.
    QProcessEnvironment sessionEnvironment() const
    {
        QProcessEnvironment environment;
        environment.insert("PATH", qs(root() + "/usr/bin") + ":/usr/bin:/bin");
        environment.insert("HOME", qs(m_home.path()));
        environment.insert("XDG_CONFIG_HOME", qs(m_home.path() + "/.config"));
        environment.insert("XDG_RUNTIME_DIR", qs(m_home.path() + "/runtime"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("LANG", "C.UTF-8");
        return environment;
    }

    // Starts the unpacked binary with paths, as a file manager would, and
    // expects it to hand them to the running instance.
    void handOver(const QStringList& command)
    {
        QVERIFY(!command.isEmpty());
        const QString program = QStandardPaths::findExecutable(command.front(),
            sessionEnvironment().value("PATH").split(':'));
        QCOMPARE(program, qs(root() + "/usr/bin/quillmere"));
        const Run started = run(program, command.mid(1), sessionEnvironment());
        QVERIFY2(started.exitCode == 0, started.err.constData());
    }

    void expectArchive(const std::string& folder, const std::vector<std::string>& names)
    {
        const std::string archive = folder + "/archive.zip";
        // The archive is renamed into place on the same file system, so it
        // is complete once it can be seen.
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(archive), 30000);
        std::vector<std::string> inside = ZipReader(archive).names();
        std::sort(inside.begin(), inside.end());
        QCOMPARE(inside, names);
    }

    // The default application for a type, as xdg-mime and as GIO (which the
    // GTK file managers use) see it, with the given data folders only.
    QString defaultFor(const QString& tool, const QString& mimeType, const QStringList& dataDirs) const
    {
        // GIO passes over entries whose program it cannot find: the
        // installed binary is in PATH as it would be in /usr/bin.
        QProcessEnvironment environment = sessionEnvironment();
        environment.insert("XDG_DATA_HOME", qs(m_home.path() + "/.local/share"));
        environment.insert("XDG_CONFIG_DIRS", qs(m_home.path() + "/etc-xdg"));
        environment.insert("XDG_DATA_DIRS", dataDirs.join(':'));
        if (tool == "xdg-mime")
            return QString::fromUtf8(run("xdg-mime", {"query", "default", mimeType}, environment).out).trimmed();
        // "Default application for “TYPE”: ENTRY" on the first line, or none.
        const QString firstLine = QString::fromUtf8(run("gio", {"mime", mimeType}, environment).out).section('\n', 0, 0);
        return firstLine.startsWith("Default application") ? firstLine.section(": ", 1).trimmed() : QString();
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("dpkg-deb").isEmpty())
            QSKIP("dpkg-deb is missing: not a Debian machine");
        QVERIFY(m_root.isValid());
        QVERIFY2(QFile::exists(QUILLMERE_PACKAGE_FILE), "the package fixture did not write " QUILLMERE_PACKAGE_FILE);
        const Run unpack = run("dpkg-deb", {"-x", QUILLMERE_PACKAGE_FILE, m_root.path()});
        QVERIFY2(unpack.exitCode == 0, unpack.err.constData());
        fs::create_directories(m_home.path() + "/.config");
        fs::create_directories(m_home.path() + "/runtime");
        fs::permissions(m_home.path() + "/runtime", fs::perms::owner_all);

        m_instance.setProcessEnvironment(sessionEnvironment());
        m_instance.setProcessChannelMode(QProcess::ForwardedChannels);
        m_instance.start(qs(root() + "/usr/bin/quillmere"), {});
        // The running instance listens in the private runtime folder.
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(qs(m_home.path() + "/runtime/quillmere")).entryList({"*.sock"}, QDir::System).isEmpty(),
                                 10000);
    }

    void cleanupTestCase()
    {
        m_instance.kill();
        m_instance.waitForFinished();
    }

    // The tools that read the package and its desktop files find no error.
    void toolsFindNoError_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("silent"); // warnings count too
        QTest::newRow("lintian") << "lintian" << QStringList{"--fail-on", "error", QUILLMERE_PACKAGE_FILE} << false;
        for (const char* entry : {"applications/quillmere.desktop", "Thunar/sendto/quillmere-zip.desktop"})
            QTest::newRow(entry) << "desktop-file-validate" << QStringList{qs(share()) + "/" + entry} << true;
        QTest::newRow("appstreamcli") << "appstreamcli" << QStringList{"validate", "--no-net",
            qs(share()) + "/metainfo/org.quillmere.quillmere.metainfo.xml"} << false;
    }
    void toolsFindNoError()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, silent);
        const Run tool = run(program, arguments);
        QVERIFY2(tool.exitCode == 0 && (!silent || tool.out.isEmpty()), tool.out.constData());
    }

    // The installed binary finds the packaged converter module by itself:
    // decomposed names come out composed, in code page 932. (The actions'
    // archives below hold composed Japanese names and a name with a space.)
    void archivesJapaneseNamesWithThePackagedConverter()
    {
        const std::string items = m_home.makeFolder("converter");
        const std::string folder = items + "/\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8"; // 見積書
        // が and ぱ decomposed, as macOS writes them: か + U+3099, は + U+309A.
        writeFile(folder + "/\xE3\x81\x8B\xE3\x82\x99\xE3\x81\xAF\xE3\x82\x9A\xE3\x81\xAE\xE8\xB3\x87\xE6\x96\x99.txt", "a\n");

        handOver({"quillmere", qs(folder)});
        expectArchive(items, {"archive/\x8C\xA9\x90\xCF\x8F\x91/\x82\xAA\x82\xCF\x82\xCC\x8E\x91\x97\xBF.txt"});
    }

    // Installing never changes which application opens a folder (here a
    // stand-in file manager's) or a document (none yet), as xdg-mime and GIO
    // see it: the package's data folder comes first, so a claim would win.
    void noDefaultIsTaken_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("mimeType");
        QTest::addColumn<QString>("owner");
        for (const char* tool : {"xdg-mime", "gio"}) {
            QTest::addRow("%s folder", tool) << tool << "inode/directory" << "standin-files.desktop";
            for (const char* type : {"application/pdf", "text/plain", "application/octet-stream"})
                QTest::addRow("%s %s", tool, type) << tool << type << "";
        }
    }
    void noDefaultIsTaken()
    {
        QFETCH(QString, tool);
        QFETCH(QString, mimeType);
        QFETCH(QString, owner);
        // dpkg's trigger runs update-desktop-database on installation; it
        // is run here on the unpacked tree and on the desktop's own folder.
        const std::string desktop = m_home.makeFolder("desktop/share/applications");
        fs::copy_file(QUILLMERE_STANDIN_FILE_MANAGER, desktop + "/standin-files.desktop",
                      fs::copy_options::overwrite_existing);
        QCOMPARE(run("update-desktop-database", {qs(desktop)}).exitCode, 0);
        QCOMPARE(run("update-desktop-database", {qs(share() + "/applications")}).exitCode, 0);
        QCOMPARE(defaultFor(tool, mimeType, {qs(share()), qs(m_home.path() + "/desktop/share")}), owner);
    }

    // Each file manager's action, read as its file manager reads it, hands
    // the selected items to the running instance through the installed binary.
    void actionsArchiveTheSelection_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("file");
        QTest::newRow("Dolphin") << "kio" << "kio/servicemenus/quillmere-zip.desktop";
        QTest::newRow("Caja, PCManFM-Qt") << "file-manager" << "file-manager/actions/quillmere-zip.desktop";
        QTest::newRow("Nemo") << "nemo" << "nemo/actions/quillmere-zip.nemo_action";
        QTest::newRow("Nautilus") << "nautilus" << "nautilus-python/extensions/quillmere-zip.py";
        QTest::newRow("Thunar Send To") << "desktop" << "Thunar/sendto/quillmere-zip.desktop";
        QTest::newRow("Thunar custom action") << "thunar-uca" << "quillmere/thunar/uca.xml";
    }
    void actionsArchiveTheSelection()
    {
        QFETCH(QString, format);
        QFETCH(QString, file);
        // A folder and a file whose name has a space and an apostrophe, in a
        // folder of their own so each action's archive is told apart.
        const std::string items = m_home.makeFolder("actions/" + format.toStdString());
        writeFile(items + "/\xE5\x86\x99\xE7\x9C\x9F/a.txt", "a\n");               // 写真/a.txt
        writeFile(items + "/O'Neil \xE6\xA7\x98.txt", "b\n");                        // O'Neil 様.txt
        const QStringList selection{qs(items + "/\xE5\x86\x99\xE7\x9C\x9F"), qs(items + "/O'Neil \xE6\xA7\x98.txt")};

        const Run read = run("/usr/bin/python3", QStringList{QUILLMERE_ACTION_COMMAND, format, qs(share()) + "/" + file} + selection);
        QVERIFY2(read.exitCode == 0, read.err.constData());
        QStringList command;
        for (const auto& word : QJsonDocument::fromJson(read.out).array())
            command << word.toString();
        QCOMPARE(command.mid(1), selection);

        handOver(command);
        expectArchive(items, {"archive/O'Neil \x97\x6C.txt", "archive/\x8E\xCA\x90\x5E/a.txt"});
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_Package.moc"
