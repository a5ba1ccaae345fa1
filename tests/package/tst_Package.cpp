// The Debian package as a user gets it: unpacked into a temporary root with
// dpkg -x (nothing is installed on the machine), its binary run from there
// without any help from the environment, and its desktop files read as the
// desktop reads them.
#include "TestFiles.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
};

// Runs a program to its end; its error output goes to the test's.
Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput()};
}

QString qs(const std::string& bytes) { return QFile::decodeName(bytes.c_str()); }

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

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY2(QFile::exists(QUILLMERE_PACKAGE_FILE), "the package fixture did not write " QUILLMERE_PACKAGE_FILE);
        QCOMPARE(run("dpkg-deb", {"-x", QUILLMERE_PACKAGE_FILE, m_root.path()}).exitCode, 0);
        m_home.makeFolder(".config");
        fs::permissions(m_home.makeFolder("runtime"), fs::perms::owner_all);

        m_instance.setProcessEnvironment(sessionEnvironment());
        // Its output is read by a test: it must hold no line of an update check.
        m_instance.setProcessChannelMode(QProcess::MergedChannels);
        m_instance.start(qs(root() + "/usr/bin/quillmere"), {});
        // The running instance listens in the private runtime folder.
        const QDir channel(qs(m_home.path() + "/runtime/quillmere"));
        QTRY_VERIFY_WITH_TIMEOUT(!channel.entryList({"*.sock"}, QDir::System).isEmpty(), 10000);
    }

    void cleanupTestCase()
    {
        m_instance.kill();
        m_instance.waitForFinished();
    }

    // Warnings too: a private library placed where the package would run
    // ldconfig for it is one.
    void lintianFindsNoErrorOrWarning()
    {
        QCOMPARE(run("lintian", {"--fail-on", "error,warning", QUILLMERE_PACKAGE_FILE}).exitCode, 0);
    }

    // The installed binary, started as a file manager starts it, finds the
    // packaged converter module by itself: decomposed names come out
    // composed, in code page 932.
    void archivesJapaneseNamesWithThePackagedConverter()
    {
        const std::string items = m_home.makeFolder("converter");
        const std::string folder = items + "/\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8"; // 見積書
        // が and ぱ decomposed, as macOS writes them: か + U+3099, は + U+309A.
        writeFile(folder + "/\xE3\x81\x8B\xE3\x82\x99\xE3\x81\xAF\xE3\x82\x9A\xE3\x81\xAE\xE8\xB3\x87\xE6\x96\x99.txt", "a\n");

        const Run later = run(qs(root() + "/usr/bin/quillmere"), {qs(folder)}, sessionEnvironment());
        QCOMPARE(later.exitCode, 0);
        // The archive is renamed into place, so it is complete once it can be seen.
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive.zip"), 30000);
        const std::string entry = "archive/\x8C\xA9\x90\xCF\x8F\x91/\x82\xAA\x82\xCF\x82\xCC\x8E\x91\x97\xBF.txt";
        QCOMPARE(ZipReader(items + "/archive.zip").names(), std::vector<std::string>{entry});
    }

    // The package checks for no update: its version says so, and the
    // window, started at the beginning and used since, asked no one (a
    // request would have printed its "error:" line by now, as name lookups
    // fail here or the address does not exist).
    void makesNoUpdateRequest()
    {
        const Run version = run(qs(root() + "/usr/bin/quillmere"), {"--version"}, sessionEnvironment());
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.contains("update check: none in this build"), version.out.constData());
        const QByteArray output = m_instance.readAllStandardOutput();
        QVERIFY2(!output.contains("\nerror:") && !output.startsWith("error:") && !output.contains("update check"),
                 output.constData());
    }

    // bash completes the options from the packaged completion, and a
    // directory after --output.
    void bashCompletesTheOptions_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("completions");
        QTest::newRow("an option") << "quillmere --pass" << "--password-stdin";
        QTest::newRow("two options") << "quillmere --no" << "--no-encrypt --no-name-after-items";
        QTest::newRow("a folder after --output") << "quillmere --output " << "folder";
        QTest::newRow("a file after --") << "quillmere -- --h" << "--help";
    }
    void bashCompletesTheOptions()
    {
        QFETCH(QString, line);
        QFETCH(QString, completions);
        const std::string folder = m_home.makeFolder("completion");
        m_home.makeFolder("completion/folder");
        m_home.writeFile("completion/--help", "a file\n");
        const QString script = "source /usr/share/bash-completion/bash_completion\n"
                               "source \"$1\"\n"
                               "cd \"$2\"\n"
                               "COMP_LINE=$3; COMP_POINT=${#COMP_LINE}\n"
                               "read -ra COMP_WORDS <<<\"$COMP_LINE\"\n"
                               "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                               "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                               "_quillmere quillmere \"${COMP_WORDS[-1]}\" \"${COMP_WORDS[-2]}\"\n"
                               "printf '%s' \"${COMPREPLY[*]}\"\n";
        const Run completed = run("bash", {"-c", script, "bash", qs(share() + "/bash-completion/completions/quillmere"),
                                           qs(folder), line});
        QCOMPARE(completed.exitCode, 0);
        QCOMPARE(QString::fromUtf8(completed.out), completions);
    }

    // Installing never changes which application opens a folder or a
    // document: an entry that lists a type becomes its default where no
    // other application takes it.
    void noDefaultIsTaken_data()
    {
        QTest::addColumn<QString>("mimeType");
        QTest::newRow("folder") << "inode/directory";
        QTest::newRow("document") << "application/pdf";
    }
    void noDefaultIsTaken()
    {
        QFETCH(QString, mimeType);
        // dpkg's trigger runs update-desktop-database on installation.
        QCOMPARE(run("update-desktop-database", {qs(share() + "/applications")}).exitCode, 0);
        QProcessEnvironment environment = sessionEnvironment();
        environment.insert("XDG_DATA_HOME", qs(m_home.path() + "/.local/share"));
        environment.insert("XDG_CONFIG_DIRS", qs(m_home.path() + "/etc-xdg"));
        environment.insert("XDG_DATA_DIRS", qs(share()));
        QCOMPARE(run("xdg-mime", {"query", "default", mimeType}, environment).out.trimmed(), QByteArray());
    }

    // The menu entry and every file manager's action run the installed
    // program with all selected items (%F: one argument each, however many).
    void actionsRunTheProgramWithTheSelection()
    {
        for (const char* file : {"applications/quillmere.desktop", "kio/servicemenus/quillmere-zip.desktop",
                                 "file-manager/actions/quillmere-zip.desktop", "nemo/actions/quillmere-zip.nemo_action",
                                 "Thunar/sendto/quillmere-zip.desktop", "quillmere/thunar/uca.xml"}) {
            std::ifstream stream(share() + "/" + file);
            QStringList commands;
            for (std::string line; std::getline(stream, line);) {
                const QString text = QString::fromStdString(line).trimmed();
                if (text.startsWith("Exec="))
                    commands << text.mid(5);
                else if (text.startsWith("<command>"))
                    commands << text.section('>', 1).section('<', 0, 0);
            }
            QVERIFY2(commands.size() == 1, file);
            const QStringList words = commands.front().split(' ', Qt::SkipEmptyParts);
            QVERIFY2(words.front() == "quillmere", file);
            QVERIFY2(words.contains("%F"), file);
        }
    }

    // A batch job that the stored options encrypt asks the keyring through
    // the session bus's library, which the installed binary finds in the
    // package: with no session bus here it is refused for the keyring, and
    // no line says the library is missing. (Its own home: the running
    // window's options stay as they are.)
    void theInstalledBinaryFindsTheSessionBusLibrary()
    {
        const std::string home = m_home.makeFolder("stored-encrypt");
        writeFile(home + "/.config/Quillmere/Quillmere.conf", "[settings]\nisEncrypt=true\n");
        writeFile(home + "/items/a.txt", "a\n");
        QProcessEnvironment environment = sessionEnvironment();
        environment.insert("HOME", qs(home));
        environment.insert("XDG_CONFIG_HOME", qs(home + "/.config"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", qs("unix:path=" + home + "/no-bus-here"));
        const Run job = run(qs(root() + "/usr/bin/quillmere"), {"--batch", qs(home + "/items/a.txt")}, environment);
        QCOMPARE(job.exitCode, 1);
        QVERIFY2(job.out.contains("the keyring where the password is kept could not be reached"), job.out.constData());
        QVERIFY2(!job.out.contains("load desktop library error:"), job.out.constData());
        QVERIFY(!fs::exists(home + "/items/archive.zip"));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_Package.moc"
