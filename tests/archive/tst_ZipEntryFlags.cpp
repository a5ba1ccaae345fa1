#include "ZipEntryFlags.h"
#include "ZipReader.h"

#include <QtTest>

#include <cstdlib>
#include <fstream>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// bytes with bit 11 set (or cleared) in every central and local header.
std::string withUtf8Bits(std::string bytes, const ZipReader& reader, bool set)
{
    for (const ZipReader::Entry& entry : reader.entries) {
        for (const uint64_t at : {entry.centralFlagsAt + 1, entry.localFlagsAt + 1})
            bytes[at] = static_cast<char>(set ? bytes[at] | 0x08 : bytes[at] & ~0x08);
    }
    return bytes;
}

} // namespace

class TestZipEntryFlags : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_zip = QFile::encodeName(m_scratch.path()).toStdString() + "/z.zip";

private slots:
    void clearsOnlyBit11_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("zip64");
        QTest::addColumn<int>("damage");
        QTest::newRow("php, as the writer") << "php -r '$z = new ZipArchive(); $z->open(\"z.zip\", ZIPARCHIVE::CREATE); foreach "
                                               "(glob(\"f/{,sub/}*\", GLOB_BRACE) as $f) if (is_file($f)) $z->addFile($f); $z->close();'" << false << 0;
        QTest::newRow("zip") << "zip -q -r z.zip f" << false << 0;
        QTest::newRow("ZIP64") << "zip -q -r -fz z.zip f" << true << 0;
        QTest::newRow("encrypted") << "zip -q -r -P secret z.zip f" << false << 0;
        QTest::newRow("broken: end record cut short") << "zip -q -r z.zip f" << false << 1;
        QTest::newRow("broken: central directory past the end") << "zip -q -r z.zip f" << false << 2;
    }
    // An archive of UTF-8 names (one of them half-width katakana, whose
    // code page 932 bytes look like UTF-8) with bit 11 set in every header:
    // clearing gives it back with these bits clear and every other byte as
    // it was. A broken one is reported and left alone.
    void clearsOnlyBit11()
    {
        QFETCH(QString, command);
        QFETCH(bool, zip64);
        QFETCH(int, damage);
        QCOMPARE(std::system(("cd " + m_scratch.path() + " && rm -rf f z.zip && mkdir -p f/sub && printf summer > 'f/\xc3\xa9t\xc3\xa9.txt'"
                              " && head -c 5000 /dev/zero > f/plain && printf kana > 'f/sub/\xef\xbe\x83\xef\xbd\xbd.txt' && " + command)
                                 .toUtf8().constData()), 0);
        const std::string original = readFile(m_zip);
        const ZipReader reader(m_zip);
        QVERIFY2(reader.error.empty(), reader.error.c_str());
        QCOMPARE(reader.zip64, zip64);
        QVERIFY(reader.entries.size() >= 3);
        std::string marked = withUtf8Bits(original, reader, true);
        marked.resize(marked.size() - (damage == 1 ? 5 : 0));
        marked[marked.size() - 3] |= static_cast<char>(damage == 2 ? 0x7F : 0); // the top byte of the directory's offset
        std::ofstream(m_zip, std::ios::binary) << marked;
        const Failure error = ZipEntryFlags::clearUtf8Names(m_zip);
        QVERIFY2(damage ? error && error->find(m_zip) != std::string::npos : !error, error.value_or("").c_str());
        QVERIFY(readFile(m_zip) == (damage ? marked : withUtf8Bits(original, reader, false)));
    }
};

QTEST_GUILESS_MAIN(TestZipEntryFlags)
#include "tst_ZipEntryFlags.moc"
