// The real program, started three times under a private home folder: the
// later starts with files hand them to the first and end at once with status
// 0, and the first makes their archives in the order they were started.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#ifndef QUILLMERE_BINARY
#error "QUILLMERE_BINARY must name the application to start"
#endif

namespace {

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Entry names of an archive as its central directory holds them, read by
// unzip rather than by anything of ours.
QStringList entryNames(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    if (!unzip.waitForFinished(10000) || unzip.exitCode() != 0)
        return {QStringLiteral("<unreadable>")};
    return QString::fromLatin1(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestSecondStart : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void laterStartsReachTheFirstInstanceInOrder();

private:
    // Starts the application in folder with arguments; the process runs on.
    void launch(QProcess& process, const QString& folder, const QStringList& arguments);
    void runToEnd(const QString& folder, const QStringList& arguments);

    QTemporaryDir m_base;
    QProcessEnvironment m_environment;
    QProcess m_first;
};

void TestSecondStart::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(QUILLMERE_BINARY)));
    QVERIFY(m_base.isValid());
    // Home and items on one file system: an archive is renamed into place,
    // so it is complete as soon as it can be seen.
    QVERIFY(QDir(m_base.path()).mkpath(QStringLiteral("home/.config")));
    QVERIFY(QDir(m_base.path()).mkpath(QStringLiteral("items")));
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_base.filePath(QStringLiteral("home")));
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_base.filePath(QStringLiteral("home/.config")));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

void TestSecondStart::cleanupTestCase()
{
    if (m_first.state() != QProcess::NotRunning) {
        m_first.terminate();
        m_first.waitForFinished(10000);
    }
}

void TestSecondStart::launch(QProcess& process, const QString& folder, const QStringList& arguments)
{
    process.setProcessEnvironment(m_environment);
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral(QUILLMERE_BINARY), arguments);
    QVERIFY(process.waitForStarted(10000));
}

void TestSecondStart::runToEnd(const QString& folder, const QStringList& arguments)
{
    QProcess later;
    launch(later, folder, arguments);
    QVERIFY(later.waitForFinished(15000));
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
}

void TestSecondStart::laterStartsReachTheFirstInstanceInOrder()
{
    const QString items = m_base.filePath(QStringLiteral("items"));
    QVERIFY(writeFile(items + "/first.txt", "first\n"));
    QVERIFY(writeFile(items + "/second.txt", "second\n"));

    launch(m_first, m_base.path(), {});
    const QString socket = m_base.filePath(QStringLiteral("home/.quillmere/instance.sock"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 10000);

    // Relative paths, from two different working folders.
    runToEnd(items, {QStringLiteral("first.txt")});
    runToEnd(m_base.path(), {QStringLiteral("items/second.txt")});
    // Without files the window is only brought to the front.
    runToEnd(m_base.path(), {});

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(items + "/archive1.zip"), 20000);
    QCOMPARE(entryNames(items + "/archive.zip"), QStringList({"archive/first.txt"}));
    QCOMPARE(entryNames(items + "/archive1.zip"), QStringList({"archive/second.txt"}));
    QCOMPARE(m_first.state(), QProcess::Running);
    QVERIFY(!QFile::exists(items + "/archive2.zip"));
}

QTEST_GUILESS_MAIN(TestSecondStart)
#include "tst_SecondStart.moc"
