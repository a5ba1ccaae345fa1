// The real program, started four times under a private home folder: later
// starts hand their files to the first and end at once with status 0, and
// the first makes their archives in the order they were started.
#include "TestHome.h"
#include "ZipReader.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <filesystem>

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

class TestSecondStart : public QObject {
    Q_OBJECT
    TestHome m_home;
    // The first instance; QProcess kills it when the test object goes.
    QProcess m_first;

    void start(QProcess& process, const std::string& folder, const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QFile::decodeName(m_home.makeFolder(".config").c_str()));
        // The program has to find its name converter on its own.
        environment.remove(QStringLiteral("GCONV_PATH"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QFile::decodeName(folder.c_str()));
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(QUILLMERE_BINARY), arguments);
    }
    void runToEnd(const std::string& folder, const QStringList& arguments)
    {
        QProcess later;
        start(later, folder, arguments);
        QVERIFY(later.waitForFinished(15000));
        QVERIFY(later.exitStatus() == QProcess::NormalExit && later.exitCode() == 0);
    }

private slots:
    void laterStartsReachTheFirstInstanceInOrder()
    {
        // Items in the home folder: the archive is renamed into place on one
        // file system, so it is complete as soon as it can be seen.
        m_home.writeFile("items/first.txt", "first\n");
        m_home.writeFile("items/second.txt", "second\n");
        const std::string items = m_home.path() + "/items";
        start(m_first, m_home.path(), {});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(m_home.path() + "/.quillmere/instance.sock"), 10000);
        // Relative paths, from two different working folders.
        runToEnd(items, {QStringLiteral("first.txt")});
        runToEnd(m_home.path(), {QStringLiteral("items/second.txt")});
        // Without files the window only comes to the front.
        runToEnd(m_home.path(), {});

        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(items + "/archive1.zip"), 20000);
        QCOMPARE(ZipReader(items + "/archive.zip").names(), Names{"archive/first.txt"});
        QCOMPARE(ZipReader(items + "/archive1.zip").names(), Names{"archive/second.txt"});
        QCOMPARE(m_first.state(), QProcess::Running);
        QVERIFY(!fs::exists(items + "/archive2.zip"));
    }
};

QTEST_GUILESS_MAIN(TestSecondStart)
#include "tst_SecondStart.moc"
