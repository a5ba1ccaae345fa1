// The read-back check of a finished archive, on archives made by Info-ZIP's
// zip and then spoiled one way at a time.
#include "ArchiveCheck.h"
#include "ZipReader.h"

#include <QtTest>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

void patchByte(const std::string& path, uint64_t at, char value)
{
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(at));
    file.put(value);
}

uint64_t offsetOf(const std::string& path, const std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return data.find(text);
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

unsigned le16At(const std::string& data, uint64_t at)
{
    return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8;
}

// Where the named entry's data starts: after its local header, name and
// extra field.
uint64_t dataOffset(const std::string& archive, const std::string& name)
{
    const std::string data = readAll(archive);
    for (const ZipReader::Entry& entry : ZipReader(archive).entries)
        if (entry.name == name) {
            const uint64_t header = entry.localFlagsAt - 6;
            return header + 30 + le16At(data, header + 26) + le16At(data, header + 28);
        }
    return 0;
}

std::string lastLargeEntry(const std::string& archive)
{
    const ZipReader::Entry* last = nullptr;
    for (const ZipReader::Entry& entry : ZipReader(archive).entries)
        if (entry.name.ends_with(".bin") && (!last || entry.localFlagsAt > last->localFlagsAt))
            last = &entry;
    return last ? last->name : std::string();
}

void flipByte(const std::string& path, uint64_t at)
{
    const std::string data = readAll(path);
    patchByte(path, at, static_cast<char>(data.at(at) ^ 0x55));
}

} // namespace

class TestArchiveCheck : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();

    // An archive of archive/a.txt, archive/sub/b.txt and a name whose
    // bytes lie above 0x7F (two half-width katakana in code page 932), by default stored
    // without compression so that its data can be found and spoiled;
    // largeFiles adds incompressible files enough to be read in several
    // runs at once.
    std::string makeArchive(const std::string& name, const QStringList& zipOptions = {"-0"}, int largeFiles = 0)
    {
        const std::string source = m_folder + "/" + name + "-source";
        writeFile(source + "/archive/a.txt", "first file's data\n");
        writeFile(source + "/archive/sub/b.txt", "second file's data\n");
        writeFile(source + "/archive/\xc3\xa9.txt", "a name in code page 932\n");
        for (int i = 0; i < largeFiles; ++i) {
            QByteArray data(3 << 20, Qt::Uninitialized);
            for (char& c : data)
                c = static_cast<char>(QRandomGenerator::global()->bounded(256));
            writeFile(source + "/archive/large" + std::to_string(i) + ".bin", data.toStdString());
        }
        const std::string archive = m_folder + "/" + name + ".zip";
        QProcess zip;
        zip.setWorkingDirectory(QString::fromStdString(source));
        zip.start("zip", QStringList{"-q", "-D", "-r"} + zipOptions + QStringList{QString::fromStdString(archive), "archive"});
        zip.waitForFinished();
        return archive;
    }

    static std::vector<std::string> entriesWith(int largeFiles)
    {
        std::vector<std::string> entries = {"archive/a.txt", "archive/sub/b.txt", "archive/\xc3\xa9.txt"};
        for (int i = 0; i < largeFiles; ++i)
            entries.push_back("archive/large" + std::to_string(i) + ".bin");
        return entries;
    }

private slots:
    void accepts_data()
    {
        QTest::addColumn<QStringList>("zipOptions");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("largeFiles");
        QTest::newRow("stored") << QStringList{"-0"} << "" << 0;
        QTest::newRow("deflated") << QStringList{"-9"} << "" << 0;
        QTest::newRow("stored, encrypted") << QStringList{"-0", "-P", "secret"} << "secret" << 0;
        QTest::newRow("deflated, encrypted") << QStringList{"-P", "secret"} << "secret" << 0;
        QTest::newRow("ZIP64") << QStringList{"-fz"} << "" << 0;
        QTest::newRow("read in several runs") << QStringList{} << "" << 6;
        QTest::newRow("read in several runs, encrypted") << QStringList{"-P", "secret"} << "secret" << 6;
    }
    void accepts()
    {
        QFETCH(QStringList, zipOptions);
        QFETCH(QString, password);
        QFETCH(int, largeFiles);
        const std::string archive = makeArchive(QTest::currentDataTag(), zipOptions, largeFiles);
        const std::optional<std::string> asked = password.isEmpty() ? std::nullopt : std::optional(password.toStdString());
        const Failure failure = ArchiveCheck::verify(archive, entriesWith(largeFiles), asked);
        QVERIFY2(!failure, failure.value_or("").c_str());
    }

    void refuses_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QString>("password");
        QTest::newRow("data changed after writing") << "data" << "";
        QTest::newRow("deflated data changed after writing") << "deflated data" << "";
        QTest::newRow("data changed in a later run") << "large data" << "";
        QTest::newRow("an entry missing") << "missing" << "";
        QTest::newRow("an entry too many") << "extra" << "";
        QTest::newRow("a name marked as UTF-8") << "utf8" << "";
        QTest::newRow("cut short") << "truncated" << "";
        QTest::newRow("not encrypted though asked") << "" << "secret";
        QTest::newRow("encrypted with another password") << "other password" << "secret";
    }
    void refuses()
    {
        QFETCH(QString, spoil);
        QFETCH(QString, password);
        const std::string name = QTest::currentDataTag();
        const int largeFiles = spoil == "large data" ? 6 : 0;
        const QStringList zipOptions = spoil == "other password" ? QStringList{"-0", "-P", "other"}
            : spoil == "deflated data"                          ? QStringList{"-9"}
                                                                : QStringList{"-0"};
        const std::string archive = makeArchive(name, zipOptions, largeFiles);
        std::vector<std::string> expected = entriesWith(largeFiles);
        if (spoil == "data")
            patchByte(archive, offsetOf(archive, "first file's data"), 'F');
        if (spoil == "deflated data")
            flipByte(archive, dataOffset(archive, "archive/a.txt") + 2);
        if (spoil == "large data") // in the middle of the data read last
            flipByte(archive, dataOffset(archive, lastLargeEntry(archive)) + (1 << 20));
        if (spoil == "missing")
            expected.push_back("archive/c.txt");
        if (spoil == "extra")
            expected.pop_back();
        if (spoil == "utf8")
            patchByte(archive, ZipReader(archive).entries.at(0).centralFlagsAt + 1, 0x08);
        if (spoil == "truncated")
            fs::resize_file(archive, fs::file_size(archive) - 30);
        const std::optional<std::string> asked = password.isEmpty() ? std::nullopt : std::optional(password.toStdString());
        QVERIFY(ArchiveCheck::verify(archive, expected, asked).has_value());
    }
};

QTEST_GUILESS_MAIN(TestArchiveCheck)
#include "tst_ArchiveCheck.moc"
