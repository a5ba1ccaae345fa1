// Which configuration php starts the writer with: only the writer's two
// extensions once php has been seen to start cleanly so, the system's
// otherwise. The real php, and stand-ins for a php that does not.
#include "PhpStartup.h"
#include "WorkFolders.h"
#include "WriterCommand.h"
#include "WriterStep.h"
#include "ZipReader.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <optional>

class TestPhpStartup : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    QByteArray m_savedPath;
    QString m_realPhp;

    QString path(const QString& relative) const { return m_scratch.filePath(relative); }

    static QByteArray readAll(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    // php gives a folder's entry the time it adds it: two runs can fall in
    // different two-second steps of the ZIP format. Those times are blanked
    // in both headers; everything else stays as written.
    QByteArray withoutFolderTimes(QByteArray archive) const
    {
        QFile file(path("compared.zip"));
        if (!file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size())
            return {};
        file.close();
        const ZipReader reader(QFile::encodeName(file.fileName()).toStdString());
        if (!reader.error.empty())
            return {};
        // The time and date follow the flags in either header.
        constexpr int kTimeAfterFlags = 4;
        for (const ZipReader::Entry& entry : reader.entries)
            if (entry.name.ends_with('/'))
                for (const uint64_t flagsAt : {entry.centralFlagsAt, entry.localFlagsAt})
                    archive.replace(qsizetype(flagsAt + kTimeAfterFlags), 4, QByteArray(4, '\0'));
        return archive;
    }

    // A php of the test's own, first on the PATH: it notes every start and
    // the configuration folder it was given, then does as body says.
    QString installPhp(const QString& folder, const QByteArray& body) const
    {
        QDir().mkpath(folder);
        const QString php = folder + "/php";
        QFile script(php);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write("#!/bin/sh\necho \"start ${PHP_INI_SCAN_DIR:-system}\" >> \"" + QFile::encodeName(folder)
                     + "/starts\"\n" + body + "\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(folder) + ":" + m_savedPath);
        return php;
    }

    static int startsOf(const QString& folder) { return readAll(folder + "/starts").count("start "); }

    // The writer's own command on a staged tree, as the application runs it.
    static QByteArray writeArchive(const std::string& home, const std::vector<std::string>& environment)
    {
        const WorkFolders folders(home, "job");
        QFile::remove(QString::fromStdString(folders.archiveInOutput("archive.zip")));
        QProcess shell;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const std::string& entry : environment) {
            const size_t equals = entry.find('=');
            variables.insert(QString::fromStdString(entry.substr(0, equals)), QString::fromStdString(entry.substr(equals + 1)));
        }
        shell.setProcessEnvironment(variables);
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start("/bin/sh", {"-c", QString::fromStdString(WriterCommand::text(folders))});
        shell.write(QByteArray::fromStdString(WriterCommand::program("archive.zip")));
        shell.closeWriteChannel();
        if (!shell.waitForFinished(60000) || shell.exitCode() != 0) {
            qWarning() << "writer:" << shell.readAll();
            return {};
        }
        const QByteArray said = shell.readAll();
        if (!said.isEmpty())
            qWarning() << "writer said:" << said;
        return readAll(QString::fromStdString(folders.archiveInOutput("archive.zip")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        m_savedPath = qgetenv("PATH");
        m_realPhp = QStandardPaths::findExecutable("php");
        QVERIFY2(!m_realPhp.isEmpty(), "php is needed: scripts/setup installs it");
    }

    void cleanup() { qputenv("PATH", m_savedPath); }

    // By bytes: a name that is no UTF-8 stays otherwise.
    void cleanupTestCase() { std::filesystem::remove_all(QFile::encodeName(m_scratch.path()).toStdString()); }

    // Checked once, with the folder it will then be given; every later job
    // takes the answer without starting php again.
    void theRealPhpIsCheckedOnceThenStartedWithTheWritersExtensions()
    {
        const QString bin = path("real/bin");
        installPhp(bin, "exec \"" + QFile::encodeName(m_realPhp) + "\" \"$@\"");
        const PhpStartup php(QFile::encodeName(path("real/config")).toStdString());
        QCOMPARE(php.environmentEntry(), std::nullopt);
        QVERIFY(php.checkIfNew());
        QVERIFY(php.checkIfNew());
        QCOMPARE(startsOf(bin), 1);
        QCOMPARE(readAll(bin + "/starts"), "start " + QFile::encodeName(path("real/config")) + "\n");
        QCOMPARE(php.environmentEntry(), std::optional<std::string>("PHP_INI_SCAN_DIR=" + php.folder()));
        const QByteArray settings = readAll(path("real/config/") + PhpStartup::kSettingsName);
        QVERIFY(settings.contains("\nextension=zip\n"));
        QVERIFY(settings.contains("\nextension=iconv\n"));
    }

    void aPhpThatDoesNotStartCleanlyKeepsTheSystemsConfiguration_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("clean");
        QTest::addColumn<int>("starts");
        QTest::newRow("silent, status 0") << QByteArray("exit 0") << true << 1;
        QTest::newRow("a warning on standard error")
            << QByteArray("echo 'PHP Warning:  Module \"iconv\" is already loaded in Unknown on line 0' >&2; exit 0")
            << false << 1;
        QTest::newRow("a word on standard output") << QByteArray("echo notice; exit 0") << false << 1;
        QTest::newRow("an extension missing") << QByteArray("exit 3") << false << 1;
        // No answer, as when Ctrl+C in the terminal reaches the check too:
        // nothing is kept, and the next job asks again.
        QTest::newRow("killed") << QByteArray("kill -INT $$; sleep 1") << false << 2;
    }
    // An answer is kept, whatever it is: a php that failed the check is not
    // started again for it at every job.
    void aPhpThatDoesNotStartCleanlyKeepsTheSystemsConfiguration()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, clean);
        QFETCH(int, starts);
        const QString bin = path(QStringLiteral("standin-%1/bin").arg(QTest::currentDataTag()));
        installPhp(bin, body);
        const PhpStartup php(QFile::encodeName(path(QStringLiteral("standin-%1/config").arg(QTest::currentDataTag())))
                                 .toStdString());
        QCOMPARE(php.checkIfNew(), clean);
        QCOMPARE(php.checkIfNew(), clean);
        QCOMPARE(startsOf(bin), starts);
        QCOMPARE(php.environmentEntry().has_value(), clean);
    }

    void whatChangedSinceTheCheckIsCheckedAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("another php in its place (an update)") << "php";
        QTest::newRow("the settings changed by hand") << "settings";
        QTest::newRow("the record damaged") << "record";
    }
    // The old answer is not taken for what changed since: the settings are
    // written anew and php checked again. What a check killed while it
    // wrote left goes then.
    void whatChangedSinceTheCheckIsCheckedAgain()
    {
        QFETCH(QString, change);
        const QString bin = path(change + "/bin");
        const QString config = path(change + "/config");
        const QString standin = installPhp(bin, "exit 0");
        const PhpStartup php(QFile::encodeName(config).toStdString());
        QVERIFY(php.checkIfNew());
        const QByteArray settings = readAll(config + "/" + PhpStartup::kSettingsName);
        QFile changed(change == "settings" ? config + "/" + PhpStartup::kSettingsName : config + "/" + PhpStartup::kCheckName);
        if (change == "php") {
            QFile::remove(standin);
            installPhp(bin, "exit 0 # updated");
        } else {
            QVERIFY(changed.open(change == "settings" ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate));
            changed.write(change == "settings" ? "zend_extension=xdebug\n" : "clean\n");
            changed.close();
        }
        QFile unfinished(config + "/checked.4242-4243.new");
        QVERIFY(unfinished.open(QIODevice::WriteOnly));
        unfinished.close();
        QCOMPARE(php.environmentEntry(), std::nullopt);
        QVERIFY(php.checkIfNew());
        QCOMPARE(startsOf(bin), 2);
        QVERIFY(php.environmentEntry());
        QCOMPARE(readAll(config + "/" + PhpStartup::kSettingsName), settings);
        QCOMPARE(QDir(config).entryList(QDir::Files, QDir::Name), QStringList({"checked", "quillmere.ini"}));
    }

    // A folder where the settings were (made by hand, or by a tool gone
    // wrong) is not read as settings, and php starts as configured.
    void aFolderInTheSettingsPlaceIsNoSettings()
    {
        const QString bin = path("folder/bin");
        const QString config = path("folder/config");
        installPhp(bin, "exit 0");
        const PhpStartup php(QFile::encodeName(config).toStdString());
        QVERIFY(php.checkIfNew());
        QVERIFY(QFile::remove(config + "/" + PhpStartup::kSettingsName));
        QVERIFY(QDir(config).mkdir(PhpStartup::kSettingsName));
        QCOMPARE(php.environmentEntry(), std::nullopt);
        QVERIFY(!php.checkIfNew());
        QCOMPARE(php.environmentEntry(), std::nullopt);
    }

    // The folder is the user's cache folder, as the base directory rules
    // have it, in the home's own bytes; nothing is made where there is no
    // home folder.
    void theFolderIsInTheUsersCacheFolder_data()
    {
        QTest::addColumn<QByteArray>("cache");
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray root = QFile::encodeName(path("cache-rows"));
        QTest::newRow("XDG_CACHE_HOME") << root + "/xdg/" << root + "/home" << root + "/xdg/quillmere/php";
        QTest::newRow("XDG_CACHE_HOME relative: ignored") << QByteArray("relative") << root + "/home"
                                                          << root + "/home/.cache/quillmere/php";
        QTest::newRow("no XDG_CACHE_HOME") << QByteArray() << root + "/home" << root + "/home/.cache/quillmere/php";
        QTest::newRow("a home that is not there") << QByteArray() << root + "/missing" << QByteArray();
        // Its name would not reach php as the writer gets it: not used.
        QTest::newRow("a home that is no UTF-8") << QByteArray() << root + "/ho\xffme" << root + "/ho\xffme/.cache/quillmere/php";
    }
    void theFolderIsInTheUsersCacheFolder()
    {
        QFETCH(QByteArray, cache);
        QFETCH(QByteArray, home);
        QFETCH(QByteArray, expected);
        const QString bin = path(QStringLiteral("cache-bin-%1").arg(QTest::currentDataTag()));
        installPhp(bin, "exit 0");
        if (!home.endsWith("missing"))
            std::filesystem::create_directories(home.toStdString());
        const QByteArray savedHome = qgetenv("HOME");
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("HOME", home);
        if (cache.isEmpty())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", cache);
        const PhpStartup php = PhpStartup::ofCurrentUser();
        const bool checked = php.checkIfNew();
        qputenv("HOME", savedHome);
        qputenv("XDG_CACHE_HOME", savedCache);
        QCOMPARE(QByteArray::fromStdString(php.folder()), expected);
        const bool used = !expected.isEmpty() && !expected.contains('\xff');
        QCOMPARE(checked, used);
        QCOMPARE(php.environmentEntry().has_value(), used);
        QCOMPARE(std::filesystem::is_regular_file((expected + "/" + PhpStartup::kCheckName).toStdString()), used);
        if (!used)
            QVERIFY(!std::filesystem::exists((home + "/.cache").toStdString()));
        QVERIFY(!QFileInfo::exists("relative"));
    }

    // The writer gets the folder only once php was found to start cleanly
    // with it; a writer that then fails takes the verdict with it, and the
    // next writer starts as configured, its php checked anew.
    void theWriterStartsWithTheFolderOnlyAfterACleanCheck()
    {
        const QString bin = path("wiring/bin");
        // The writer is told by its program, which comes on standard input;
        // the flag file makes a writer given the folder fail.
        installPhp(bin, "if [ $# -eq 0 ]; then role=writer; else role=probe; fi\n"
                        "echo \"$role ${PHP_INI_SCAN_DIR:-system}\" >> \"" + QFile::encodeName(bin) + "/roles\"\n"
                        "if [ $role = writer ] && [ -n \"$PHP_INI_SCAN_DIR\" ] && [ -e \"" + QFile::encodeName(bin)
                        + "/fail\" ]; then exit 1; fi\n"
                        "exec \"" + QFile::encodeName(m_realPhp) + "\" \"$@\"");
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path("wiring/cache")));
        const std::string folder = PhpStartup::ofCurrentUser().folder();
        const WorkFolders folders(QFile::encodeName(path("wiring/home")).toStdString(), "job");
        QVERIFY(QDir().mkpath(QString::fromStdString(folders.contentFolder()) + "/資料"));
        QFile note(QString::fromStdString(folders.contentFolder()) + "/資料/メモ.txt");
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.write("a note\n");
        note.close();
        const auto runWriter = [&folders] {
            QFile::remove(QString::fromStdString(folders.archiveInOutput("archive.zip")));
            WriterStep writer(folders);
            QSignalSpy succeeded(&writer, &WriterStep::succeeded);
            QSignalSpy failed(&writer, &WriterStep::failed);
            writer.start("archive.zip", 7, {});
            [&] { QTRY_VERIFY_WITH_TIMEOUT(succeeded.count() + failed.count() == 1, 30000); }();
            // The check beside the writer counts as the step's program: the
            // job waits for it before it goes.
            [&] { QTRY_VERIFY_WITH_TIMEOUT(!writer.isProgramRunning(), 20000); }();
            return succeeded.count() == 1;
        };
        const QByteArray folderBytes = QByteArray::fromStdString(folder);
        // What php was started for in each run, in any order: the check runs
        // beside the writer.
        qsizetype seen = 0;
        const auto startedSince = [&] {
            QList<QByteArray> roles = readAll(bin + "/roles").split('\n');
            roles.removeLast();
            QList<QByteArray> latest = roles.mid(seen);
            seen = roles.size();
            std::sort(latest.begin(), latest.end());
            return latest;
        };
        QVERIFY(runWriter());
        QCOMPARE(startedSince(), QList<QByteArray>({"probe " + folderBytes, "writer system"}));
        QVERIFY(runWriter());
        QCOMPARE(startedSince(), QList<QByteArray>({"writer " + folderBytes}));
        QFile flag(bin + "/fail");
        QVERIFY(flag.open(QIODevice::WriteOnly));
        flag.close();
        QVERIFY(!runWriter());
        // The writer's failure asks whether php can write archives at all.
        QCOMPARE(startedSince(), QList<QByteArray>({"probe system", "writer " + folderBytes}));
        QVERIFY(!QFileInfo::exists(QFile::decodeName(folderBytes + "/" + PhpStartup::kCheckName)));
        QVERIFY(runWriter());
        QCOMPARE(startedSince(), QList<QByteArray>({"probe " + folderBytes, "writer system"}));
        qputenv("XDG_CACHE_HOME", savedCache);
    }

    // The check beside a job's writer belongs to the job: once the writer
    // has ended the step still runs until php has answered, and then says
    // so, so that the job is not taken down (waiting for php on the
    // window's thread) while the check runs.
    void theCheckBesideTheWriterKeepsTheStepRunning()
    {
        const QString bin = path("held/bin");
        const QByteArray answer = QFile::encodeName(bin) + "/answer";
        installPhp(bin, "if [ $# -ne 0 ]; then while [ ! -e \"" + answer + "\" ]; do sleep 0.05; done; fi\n"
                        "exec \"" + QFile::encodeName(m_realPhp) + "\" \"$@\"");
        qputenv("PATH", QFile::encodeName(bin) + ":" + m_savedPath);
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path("held/cache")));
        const WorkFolders folders(QFile::encodeName(path("held/home")).toStdString(), "job");
        QVERIFY(QDir().mkpath(QString::fromStdString(folders.contentFolder())));
        QFile note(QString::fromStdString(folders.contentFolder()) + "/note.txt");
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.write("a note\n");
        note.close();
        {
            WriterStep writer(folders);
            QSignalSpy succeeded(&writer, &WriterStep::succeeded);
            QSignalSpy ended(&writer, &WriterStep::programEnded);
            writer.start("archive.zip", 8, {});
            QTRY_COMPARE_WITH_TIMEOUT(succeeded.count(), 1, 30000);
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
            QVERIFY(writer.isProgramRunning());
            QFile(QFile::decodeName(answer)).open(QIODevice::WriteOnly);
            QTRY_VERIFY_WITH_TIMEOUT(!writer.isProgramRunning(), 20000);
            QTRY_COMPARE(ended.count(), 2);
        }
        qputenv("XDG_CACHE_HOME", savedCache);
    }

    void withoutPhpNothingIsWritten()
    {
        qputenv("PATH", QFile::encodeName(path("empty")));
        const PhpStartup php(QFile::encodeName(path("none/config")).toStdString());
        QVERIFY(!php.checkIfNew());
        QCOMPARE(php.environmentEntry(), std::nullopt);
        QVERIFY(!QFileInfo::exists(path("none")));
    }

    // The writer with only its two extensions makes the very archive it
    // makes with all of the system's: names converted alike (decomposed
    // Japanese composed, a circled digit), ".DS_Store" left out,
    // the empty folder kept.
    void theArchiveIsTheSameEitherWay()
    {
        QVERIFY2(qEnvironmentVariableIsSet("GCONV_PATH"), "the converter module's folder comes from CTest");
        const std::string home = QFile::encodeName(path("writer-home")).toStdString();
        const WorkFolders folders(home, "job");
        const QString content = QString::fromStdString(folders.contentFolder());
        for (const QString& file : {QStringLiteral("資料/見積書.txt"), QStringLiteral("資料/ク\u3099ラフ.csv"),
                                    QStringLiteral("①メモ.txt"), QStringLiteral("資料/.DS_Store")}) {
            QDir().mkpath(QFileInfo(content + "/" + file).path());
            QFile out(content + "/" + file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QByteArray(3000, 'x') + file.toUtf8());
        }
        QVERIFY(QDir().mkpath(content + "/空のフォルダ"));
        const PhpStartup php(QFile::encodeName(path("writer-config")).toStdString());
        QVERIFY(php.checkIfNew());
        // The folder is in effect: php has fewer extensions with it.
        const auto extensionCount = [](const QProcessEnvironment& environment) {
            QProcess count;
            count.setProcessEnvironment(environment);
            count.start("php", {"-r", "echo count(get_loaded_extensions());"});
            return count.waitForFinished(10000) ? count.readAllStandardOutput().toInt() : -1;
        };
        QProcessEnvironment fewerExtensions = QProcessEnvironment::systemEnvironment();
        fewerExtensions.insert(PhpStartup::kVariable, QString::fromStdString(php.folder()));
        const int configured = extensionCount(QProcessEnvironment::systemEnvironment());
        QVERIFY2(extensionCount(fewerExtensions) < configured, "the system's configuration adds no extension here");
        const QByteArray usual = writeArchive(home, WriterStep::environment(std::nullopt));
        const QByteArray fewer = writeArchive(home, WriterStep::environment(php.environmentEntry()));
        QVERIFY(usual.contains("\x8c\xa9\x90\xcf\x8f\x91.txt")); // 見積書 in code page 932
        QVERIFY(usual.contains("\x83\x4f\x83\x89\x83\x74.csv")); // グラフ, composed
        QVERIFY(!usual.contains(".DS_Store"));
        QCOMPARE(fewer.size(), usual.size());
        const QByteArray comparable = withoutFolderTimes(usual);
        QCOMPARE(comparable.size(), usual.size());
        QVERIFY(withoutFolderTimes(fewer) == comparable);
    }
};

QTEST_GUILESS_MAIN(TestPhpStartup)
#include "tst_PhpStartup.moc"
