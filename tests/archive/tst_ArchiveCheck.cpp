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

} // namespace

class TestArchiveCheck : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();
    const std::vector<std::string> m_entries = {"archive/", "archive/a.txt", "archive/sub/b.txt"};

    // An archive of archive/a.txt and archive/sub/b.txt, stored without
    // compression so that its data can be found and spoiled.
    std::string makeArchive(const std::string& name, const QStringList& zipOptions = {})
    {
        const std::string source = m_folder + "/" + name + "-source";
        writeFile(source + "/archive/a.txt", "first file's data\n");
        writeFile(source + "/archive/sub/b.txt", "second file's data\n");
        const std::string archive = m_folder + "/" + name + ".zip";
        QProcess zip;
        zip.setWorkingDirectory(QString::fromStdString(source));
        zip.start("zip", QStringList{"-q", "-0", "-D", "-r"} + zipOptions
                             + QStringList{QString::fromStdString(archive), "archive"});
        zip.waitForFinished();
        return archive;
    }

private slots:
    void acceptsWhatWasExpected()
    {
        const std::string archive = makeArchive("good");
        QCOMPARE(ArchiveCheck::verify(archive, {"archive/a.txt", "archive/sub/b.txt"}, std::nullopt), std::nullopt);
    }

    void acceptsAnEncryptedArchiveWithItsPassword()
    {
        const std::string archive = makeArchive("encrypted", {"-P", "secret"});
        QCOMPARE(ArchiveCheck::verify(archive, {"archive/a.txt", "archive/sub/b.txt"}, std::string("secret")),
                 std::nullopt);
    }

    void refuses_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QString>("password");
        QTest::newRow("data changed after writing") << "data" << "";
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
        const std::string archive = spoil == "other password" ? makeArchive(name, {"-P", "other"}) : makeArchive(name);
        std::vector<std::string> expected = {"archive/a.txt", "archive/sub/b.txt"};
        if (spoil == "data")
            patchByte(archive, offsetOf(archive, "first file's data"), 'F');
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
