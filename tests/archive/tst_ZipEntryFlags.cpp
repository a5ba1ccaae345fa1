#include "ZipEntryFlags.h"
#include "ZipReader.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// Runs a program in folder; returns its exit status and output together.
std::pair<int, QByteArray> run(const std::string& folder, const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(QFile::decodeName(folder.c_str()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {-1, "did not finish"};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll()};
}

const std::string kNonAscii = "\xc3\xa9t\xc3\xa9.txt";        // été.txt
const std::string kKatakana = "\xef\xbe\x83\xef\xbd\xbd.txt"; // half-width katakana

// Files for the zip command: a name in UTF-8, a plain one and a folder.
void makeFiles(const std::string& folder)
{
    writeFile(folder + "/" + kNonAscii, "summer\n");
    writeFile(folder + "/plain.txt", std::string(5000, 'p'));
    std::filesystem::create_directories(folder + "/sub");
    writeFile(folder + "/sub/" + kKatakana, "kana");
}

// The same bytes with bit 11 set in every central and local header.
std::string withUtf8Bits(const std::string& bytes, const ZipReader& reader)
{
    std::string result = bytes;
    for (const ZipReader::Entry& entry : reader.entries()) {
        result[entry.centralFlagsAt + 1] = static_cast<char>(result[entry.centralFlagsAt + 1] | 0x08);
        result[entry.localFlagsAt + 1] = static_cast<char>(result[entry.localFlagsAt + 1] | 0x08);
    }
    return result;
}

} // namespace

class TestZipEntryFlags : public QObject {
    Q_OBJECT
private slots:
    void init();
    void phpArchiveLosesOnlyTheUtf8Bits();
    void zipArchiveWithoutTheBitIsLeftAlone();
    void setBitsAreClearedAndNothingElse_data();
    void setBitsAreClearedAndNothingElse();
    void brokenFilesAreReportedAndLeftAlone_data();
    void brokenFilesAreReportedAndLeftAlone();

private:
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::string m_folder;
};

void TestZipEntryFlags::init()
{
    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    m_folder = QFile::encodeName(m_scratch->path()).toStdString();
}

// php (as the writer uses it) marks names that look like UTF-8.
void TestZipEntryFlags::phpArchiveLosesOnlyTheUtf8Bits()
{
    const auto [status, output] = run(m_folder, "php",
        {"-r", QString::fromStdString("$z = new ZipArchive(); $z->open(\"a.zip\", ZIPARCHIVE::CREATE); "
                                      "$z->addFromString(\"" + kNonAscii + "\", \"summer\"); "
                                      "$z->addFromString(\"archive/plain.txt\", str_repeat(\"x\", 3000)); "
                                      "$z->addFromString(\"archive/" + kKatakana + "\", \"kana\"); "
                                      "$z->addEmptyDir(\"archive/\xe7\xa9\xba/\"); $z->close();")});
    QVERIFY2(status == 0, output.constData());
    const std::string path = m_folder + "/a.zip";
    const std::string before = readFile(path);
    const ZipReader original(path);
    QVERIFY2(original.error().empty(), original.error().c_str());
    int marked = 0;
    for (const ZipReader::Entry& entry : original.entries())
        marked += entry.utf8Name() ? 1 : 0;
    QVERIFY2(marked >= 2, "php no longer marks UTF-8 names; this test needs another source of marked archives");

    QCOMPARE(ZipEntryFlags::clearUtf8Names(path), FileManager::Error {});

    const std::string after = readFile(path);
    QCOMPARE(after.size(), before.size());
    const ZipReader cleared(path);
    QVERIFY2(cleared.error().empty(), cleared.error().c_str());
    QCOMPARE(cleared.names(), original.names());
    for (size_t i = 0; i < cleared.entries().size(); ++i) {
        const ZipReader::Entry& entry = cleared.entries()[i];
        QCOMPARE(entry.flags, uint16_t(original.entries()[i].flags & ~0x0800));
        QCOMPARE(entry.localFlags, uint16_t(original.entries()[i].localFlags & ~0x0800));
    }
    for (size_t at = 0; at < before.size(); ++at) {
        if (before[at] != after[at]) {
            QVERIFY2((before[at] ^ after[at]) == 0x08, qPrintable(QString("byte %1 changed").arg(at)));
            QVERIFY(before[at] & 0x08);
        }
    }
    const auto [unzipStatus, unzipOutput] = run(m_folder, "unzip", {"-t", "a.zip"});
    QVERIFY2(unzipStatus == 0, unzipOutput.constData());
}

void TestZipEntryFlags::zipArchiveWithoutTheBitIsLeftAlone()
{
    makeFiles(m_folder);
    const auto [status, output] = run(m_folder, "zip", {"-q", "-r", "z.zip", QString::fromStdString(kNonAscii),
                                                        "plain.txt", "sub"});
    QVERIFY2(status == 0, output.constData());
    const std::string before = readFile(m_folder + "/z.zip");
    QCOMPARE(ZipEntryFlags::clearUtf8Names(m_folder + "/z.zip"), FileManager::Error {});
    QVERIFY(readFile(m_folder + "/z.zip") == before);
}

void TestZipEntryFlags::setBitsAreClearedAndNothingElse_data()
{
    QTest::addColumn<QStringList>("zipOptions");
    QTest::addColumn<bool>("zip64");
    QTest::newRow("plain") << QStringList {} << false;
    QTest::newRow("ZIP64") << QStringList {"-fz"} << true;
    QTest::newRow("encrypted") << QStringList {"-P", "secret"} << false;
    QTest::newRow("stored") << QStringList {"-0"} << false;
    QTest::newRow("ZIP64 encrypted") << QStringList {"-fz", "-P", "secret"} << true;
}

// Sets bit 11 in every header of an archive made by zip and expects the
// clearing to give back the original file byte for byte: other flags
// (encryption, data descriptors), ZIP64 records and data stay untouched.
void TestZipEntryFlags::setBitsAreClearedAndNothingElse()
{
    QFETCH(QStringList, zipOptions);
    QFETCH(bool, zip64);
    makeFiles(m_folder);
    const auto [status, output] = run(m_folder, "zip", QStringList {"-q", "-r"} + zipOptions
                                          + QStringList {"z.zip", QString::fromStdString(kNonAscii), "plain.txt", "sub"});
    QVERIFY2(status == 0, output.constData());
    const std::string path = m_folder + "/z.zip";
    const std::string original = readFile(path);
    const ZipReader reader(path);
    QVERIFY2(reader.error().empty(), reader.error().c_str());
    QCOMPARE(reader.isZip64(), zip64);
    QCOMPARE(reader.entries().size(), size_t(4));
    for (const ZipReader::Entry& entry : reader.entries())
        QVERIFY(entry.localNameMatches);
    writeFile(path, withUtf8Bits(original, reader));
    QVERIFY(readFile(path) != original);

    QCOMPARE(ZipEntryFlags::clearUtf8Names(path), FileManager::Error {});

    QVERIFY(readFile(path) == original);
    const QStringList test = zipOptions.contains("-P") ? QStringList {"-P", "secret", "-t", "z.zip"}
                                                       : QStringList {"-t", "z.zip"};
    const auto [unzipStatus, unzipOutput] = run(m_folder, "unzip", test);
    QVERIFY2(unzipStatus == 0, unzipOutput.constData());
}

void TestZipEntryFlags::brokenFilesAreReportedAndLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty") << "empty";
    QTest::newRow("text") << "text";
    QTest::newRow("end record cut short") << "cut";
    QTest::newRow("directory past the end") << "past";
    QTest::newRow("missing") << "missing";
}

void TestZipEntryFlags::brokenFilesAreReportedAndLeftAlone()
{
    QFETCH(QString, kind);
    const std::string path = m_folder + "/broken.zip";
    if (kind == "empty") {
        writeFile(path, "");
    } else if (kind == "text") {
        writeFile(path, std::string(100, 'x') + "PK not really");
    } else if (kind == "cut" || kind == "past") {
        makeFiles(m_folder);
        QCOMPARE(run(m_folder, "zip", {"-q", "-r", "z.zip", "plain.txt", "sub"}).first, 0);
        const std::string whole = readFile(m_folder + "/z.zip");
        const ZipReader reader(m_folder + "/z.zip");
        QVERIFY(reader.error().empty());
        // Marked headers, so that a clearing that goes ahead would show.
        std::string broken = withUtf8Bits(whole, reader);
        if (kind == "cut")
            broken.resize(broken.size() - 5);
        else
            broken[broken.size() - 22 + 19] = static_cast<char>(0x7F); // directory offset's top byte
        writeFile(path, broken);
    }
    const std::string before = readFile(path);
    const FileManager::Error error = ZipEntryFlags::clearUtf8Names(path);
    QVERIFY2(error.has_value(), "a broken file was taken for an archive");
    QVERIFY2(error->find(path) != std::string::npos, error->c_str());
    QCOMPARE(std::filesystem::exists(path), kind != "missing");
    QVERIFY(readFile(path) == before);
}

QTEST_GUILESS_MAIN(TestZipEntryFlags)
#include "tst_ZipEntryFlags.moc"
