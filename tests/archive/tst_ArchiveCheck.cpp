// Reading back archives: made by Info-ZIP's zip and then spoiled one way at
// a time, the check of a finished archive, and the clearing of the UTF-8
// flag (bit 11) that php sets on names whose code page 932 bytes look like
// UTF-8. And reading an archive while it is written: a writer of the test's
// own writes step by step as php's archive library does (a temporary name,
// each local header first as a placeholder, then the data, then the header
// again), and the follower must take only what is finished and sound, and
// the read-back must use what it took only for the very file and the very
// entries. The real zipcloak's copy is followed as it arrives, a few
// kilobytes at a time.
#include "ArchiveCheck.h"
#include "ArchiveFollower.h"
#include "DosTime.h"
#include "SyscallRefusal.h"
#include "EncryptScript.h"
#include "TestFiles.h"
#include "ZipDirectory.h"
#include "ZipEntryFlags.h"
#include "ZipReader.h"

#include <QtTest>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// bytes with bit 11 set in every central and local header.
std::string withUtf8Bits(std::string bytes, const ZipReader& reader)
{
    for (const ZipReader::Entry& entry : reader.entries)
        for (const uint64_t at : {entry.centralFlagsAt + 1, entry.localFlagsAt + 1})
            bytes[at] |= 0x08;
    return bytes;
}

// Where the data of entry begins: after its local header, name and extra field.
uint64_t dataAt(const std::string& bytes, const ZipReader::Entry& entry)
{
    auto le16 = [&](uint64_t at) { return static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1)) << 8; };
    const uint64_t header = entry.localFlagsAt - 6;
    return header + 30 + le16(header + 26) + le16(header + 28);
}

// Packs folder/archive into archive with Info-ZIP's zip and options.
bool zipUp(const std::string& folder, const QStringList& options, const std::string& archive)
{
    QProcess zip;
    zip.setWorkingDirectory(QString::fromStdString(folder));
    zip.start("zip", QStringList{"-q", "-r"} + options << QString::fromStdString(archive) << "archive");
    return zip.waitForFinished() && zip.exitCode() == 0;
}


// value as its bytes bytes, least significant first.
std::string le(uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

// Writes as php's archive library writes, one step at a time.
class StepWriter {
public:
    StepWriter(const std::string& folder, const std::string& name)
        : m_temporary(folder + "/" + name + ".Xy12Z9")
        , m_final(folder + "/" + name)
        , m_fd(::open(m_temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600))
    {
    }
    ~StepWriter() { ::close(m_fd); }

    // The placeholder header and the data; damage spoils one byte of it.
    void begin(const std::string& name, const std::string& content, bool damage = false)
    {
        // Raw deflate: zlib's stream without its two-byte header and its checksum.
        uLongf size = compressBound(content.size());
        std::string data(size, '\0');
        compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                  content.size(), 6);
        m_entries.push_back({name, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                               static_cast<uInt>(content.size()))),
                             data.substr(2, size - 6), content.size(), m_end});
        names.push_back(name);
        data = m_entries.back().data;
        if (damage)
            data[data.size() / 2] ^= 0x55;
        append(localHeader(m_entries.back(), true) + data);
    }
    void finish() { writeAt(localHeader(m_entries.back(), false), m_entries.back().at); }
    // The central directory, and the archive under its own name.
    void close()
    {
        std::string directory;
        for (const Entry& entry : m_entries) // no comment, disk 0, no attributes
            directory += le(0x02014b50, 4) + le(20, 2) + localHeader(entry, false).substr(4, 26) + std::string(10, '\0')
                + le(entry.at, 4) + entry.name;
        const uint64_t directoryAt = m_end;
        append(directory + le(0x06054b50, 4) + le(0, 4) + le(m_entries.size(), 2) + le(m_entries.size(), 2)
               + le(directory.size(), 4) + le(directoryAt, 4) + le(0, 2));
        QCOMPARE(::rename(m_temporary.c_str(), m_final.c_str()), 0);
    }
    uint64_t dataAt(size_t entry) const { return m_entries[entry].at + 30 + m_entries[entry].name.size(); }
    uint32_t crcOf(size_t entry) const { return m_entries[entry].crc; }

    std::vector<std::string> names;

private:
    struct Entry {
        std::string name;
        uint32_t crc;
        std::string data;
        uint64_t size;
        uint64_t at;
    };
    // The placeholder names no method and holds no checksum or sizes. No
    // flags, a time of 0:00 on 1980-01-01, no extra field.
    static std::string localHeader(const Entry& entry, bool placeholder)
    {
        return le(0x04034b50, 4) + le(placeholder ? 10 : 20, 2) + le(0, 2) + le(placeholder ? 0xFFFF : 8, 2)
            + le(0x21 << 16, 4) + le(placeholder ? 0 : entry.crc, 4) + le(placeholder ? 0 : entry.data.size(), 4)
            + le(entry.size, 4) + le(entry.name.size(), 4) + entry.name;
    }
    void append(const std::string& bytes)
    {
        writeAt(bytes, m_end);
        m_end += bytes.size();
    }
    void writeAt(const std::string& bytes, uint64_t at)
    {
        QCOMPARE(::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(at)), static_cast<ssize_t>(bytes.size()));
    }

    std::string m_temporary;
    std::string m_final;
    int m_fd;
    std::vector<Entry> m_entries;
    uint64_t m_end = 0;
};

// Some lines of text, more the larger entry is.
std::string textOf(int entry)
{
    std::string text;
    for (int line = 0; line < 40 + entry; ++line)
        text += "line " + std::to_string(line) + " of entry " + std::to_string(entry) + "\n";
    return text;
}

const std::shared_ptr<std::atomic_bool> kRunning = std::make_shared<std::atomic_bool>(false);
const StagedContent nothing;

// How many descriptors of this process are open on path.
int descriptorsOn(const std::string& path)
{
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error) == path)
            ++count;
    }
    return count;
}

// Runs expect with script, the password in its environment as the
// application passes it.
void runExpect(QProcess& expect, const std::string& script, const std::string& password)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(EncryptScript::kPasswordVariable, QString::fromStdString(EncryptScript::hexOf(password)));
    expect.setProcessEnvironment(environment);
    expect.start("/usr/bin/expect", {"-c", QString::fromStdString(script)});
}

// A folder "archive" of text files and an empty folder, packed by zip into
// folder/plain.zip.
std::vector<std::string> packSamples(const std::string& folder)
{
    std::vector<std::string> names = {"archive/", "archive/empty/"};
    for (int i = 0; i < 12; ++i) {
        names.push_back("archive/" + std::to_string(i) + ".txt");
        writeFile(folder + "/" + names.back(), textOf(i * 40));
    }
    std::filesystem::create_directories(folder + "/archive/empty");
    return zipUp(folder, {}, folder + "/plain.zip") ? names : std::vector<std::string>{};
}

// The archive's entries, in the order of their offsets.
std::vector<ZipDirectory::Entry> entriesOf(const std::string& archive)
{
    const UniqueFd file(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    std::vector<ZipDirectory::Entry> entries;
    ZipDirectory::read(file.get(), archive, entries);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.localHeaderAt < b.localHeaderAt; });
    return entries;
}

// What staging records of the file at folder/path, the entry-th expected.
StagedFile stagedFileOf(const std::string& folder, const std::string& path, size_t entry, bool symbolic)
{
    struct stat info {};
    ::stat((folder + "/" + path).c_str(), &info);
    return {path, entry, info.st_dev, info.st_ino, info.st_size, info.st_mode, info.st_mtim, symbolic};
}

} // namespace

class TestArchiveCheck : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    int m_rows = 0;

    std::string newFolder()
    {
        const std::string folder = QFile::encodeName(m_scratch.path()).toStdString() + "/" + std::to_string(++m_rows);
        std::filesystem::create_directories(folder);
        return folder;
    }

private slots:
    void verify_data()
    {
        QTest::addColumn<QStringList>("zipOptions");
        QTest::addColumn<QString>("password"); // asked for; "" for none
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<bool>("accepted");
        const QStringList stored{"-0"};
        QTest::newRow("stored") << stored << "" << "" << true;
        QTest::newRow("deflated") << QStringList{"-9"} << "" << "" << true;
        QTest::newRow("ZIP64") << QStringList{"-fz"} << "" << "" << true;
        // Large files, read in several runs at once.
        QTest::newRow("encrypted, large") << QStringList{"-P", "secret"} << "secret" << "large" << true;
        QTest::newRow("data changed in a later run") << stored << "" << "large, changed" << false;
        // Small entries inflate in one call, one larger than a few
        // megabytes in pieces: each way must see damage and wrong sizes.
        const QStringList deflated{"-9"};
        QTest::newRow("deflated data damaged") << deflated << "" << "damaged" << false;
        QTest::newRow("deflated, directory says one byte less") << deflated << "" << "size -1" << false;
        QTest::newRow("deflated, directory says one byte more") << deflated << "" << "size +1" << false;
        QTest::newRow("deflated in pieces") << deflated << "" << "text" << true;
        QTest::newRow("deflated in pieces, damaged") << deflated << "" << "text, damaged" << false;
        QTest::newRow("deflated in pieces, one byte less") << deflated << "" << "text, size -1" << false;
        // Small encrypted entries are decrypted side by side.
        const QStringList encrypted{"-9", "-P", "secret"};
        QTest::newRow("encrypted, many") << encrypted << "secret" << "many" << true;
        QTest::newRow("encrypted, many, one damaged") << encrypted << "secret" << "many, damaged" << false;
        QTest::newRow("encrypted, many, one byte less") << encrypted << "secret" << "many, size -1" << false;
        QTest::newRow("encrypted, stored") << QStringList{"-0", "-P", "secret"} << "secret" << "many" << true;
        QTest::newRow("encrypted, stored, damaged") << QStringList{"-0", "-P", "secret"} << "secret" << "many, damaged" << false;
        QTest::newRow("encrypted, deflated in pieces") << QStringList{"-9", "-P", "secret"} << "secret" << "text" << true;
        QTest::newRow("an entry missing") << stored << "" << "missing" << false;
        QTest::newRow("an entry missing, data changed too") << stored << "" << "large, changed, missing" << false;
        QTest::newRow("a name marked as UTF-8") << stored << "" << "utf8" << false;
        QTest::newRow("directory past the end") << stored << "" << "directory" << false;
        QTest::newRow("not encrypted though asked") << stored << "secret" << "" << false;
        QTest::newRow("encrypted with another password") << QStringList{"-P", "other"} << "secret" << "" << false;
        // A stopped job does not wait for its check: a sound archive read
        // after the job ended is not taken for checked.
        QTest::newRow("large, the job stopped") << stored << "" << "large, stopped" << false;
    }
    // An archive of archive/a.txt, archive/sub/b.txt and a name whose bytes
    // lie above 0x7F (two half-width katakana in code page 932), and for
    // "large" incompressible files enough for several runs, for "text" a
    // text too large to inflate in one call. Clearing bit 11
    // set in every header gives a sound one back byte for byte; a broken one
    // is reported and left alone.
    void verify()
    {
        QFETCH(QStringList, zipOptions);
        QFETCH(QString, password);
        QFETCH(QString, spoil);
        QFETCH(bool, accepted);
        const std::string source = newFolder();
        std::vector<std::string> expected = {"archive/a.txt", "archive/sub/b.txt", "archive/\xc3\xa9.txt"};
        for (const std::string& entry : expected) // a few lines, enough for deflate to shrink
            writeFile(source + "/" + entry, textOf(static_cast<int>(entry.size())));
        std::vector<std::string> large;
        for (int i = 0; spoil.startsWith("large") && i < 6; ++i) {
            expected.push_back("archive/large" + std::to_string(i) + ".bin");
            large.push_back(randomBytes(3 << 20));
            writeFile(source + "/" + expected.back(), large.back());
        }
        for (int i = 0; spoil.startsWith("many") && i < 40; ++i) {
            expected.push_back("archive/many/" + std::to_string(i) + ".txt");
            writeFile(source + "/" + expected.back(), std::string(static_cast<size_t>(i * 97), 'a' + i % 26) + "\n");
        }
        if (spoil.startsWith("text")) { // 6 MB that deflate to far less
            expected.push_back("archive/text.txt");
            std::string text;
            for (int line = 0; text.size() < (6u << 20); ++line)
                text += "line " + std::to_string(line * 7919 % 100003) + " of a long text\n";
            writeFile(source + "/" + expected.back(), text);
        }
        const std::string archive = source + ".zip";
        QVERIFY(zipUp(source, QStringList{"-D"} + zipOptions, archive));
        QCOMPARE(ZipReader(archive).zip64, zipOptions.contains("-fz"));
        if (accepted) {
            const std::string original = readFile(archive);
            writeFile(archive, withUtf8Bits(original, ZipReader(archive)));
            const Failure cleared = ZipEntryFlags::clearUtf8Names(archive);
            QVERIFY2(!cleared, cleared.value_or("").c_str());
            QVERIFY(readFile(archive) == original);
        }
        std::string data = readFile(archive);
        if (spoil.startsWith("large, changed")) { // in the middle of the data stored last
            uint64_t last = 0;
            for (const std::string& content : large)
                last = std::max<uint64_t>(last, data.find(content.substr(1 << 20, 64)));
            data.at(last) ^= 0x55;
        }
        const ZipReader spoiled(archive);
        const std::string targetName = spoil.startsWith("text") ? "archive/text.txt"
            : spoil.startsWith("many")                          ? "archive/many/20.txt"
                                                                : "archive/a.txt";
        const auto target = std::find_if(spoiled.entries.begin(), spoiled.entries.end(),
                                         [&](const ZipReader::Entry& entry) { return entry.name == targetName; });
        QVERIFY(target != spoiled.entries.end());
        if (spoil.endsWith("damaged"))
            data.at(dataAt(data, *target) + (spoil.startsWith("text") ? 50000 : 2)) ^= 0x55;
        if (spoil.contains("size")) // the uncompressed size the central directory gives
            for (int i = 0; i < 4; ++i)
                data.at(target->centralFlagsAt + 16 + i) = static_cast<char>((target->size + (spoil.endsWith("-1") ? -1 : 1)) >> (8 * i));
        if (spoil.endsWith("missing"))
            expected.push_back("archive/c.txt");
        if (spoil == "utf8")
            data[spoiled.entries.at(0).centralFlagsAt + 1] |= 0x08;
        if (spoil == "directory") // the top byte of its offset
            data[data.size() - 3] = 0x7F;
        writeFile(archive, data);
        if (spoil == "directory") {
            QVERIFY(ZipEntryFlags::clearUtf8Names(archive).has_value());
            QVERIFY(readFile(archive) == data);
        }
        const auto abandoned = std::make_shared<std::atomic_bool>(spoil.endsWith("stopped"));
        const Failure failure = ArchiveCheck::verify(
            archive, expected, password.isEmpty() ? std::nullopt : std::optional(password.toStdString()), abandoned);
        QVERIFY2(failure.has_value() != accepted, failure.value_or("accepted").c_str());
        // The names are compared beside the data; a wrong one is what is told.
        if (spoil.endsWith("missing"))
            QVERIFY2(failure->find("were expected") != std::string::npos, failure->c_str());
    }

    void comparesWholeNamesOfEntriesFarApart_data()
    {
        QTest::addColumn<int>("nameSize");
        QTest::addColumn<bool>("spoilLastByte"); // of the name in the first local header
        QTest::addColumn<bool>("accepted");
        QTest::newRow("short name") << 20 << false << true;
        QTest::newRow("short name, spoiled") << 20 << true << false;
        // Longer than a header's read where the next header lies far off.
        QTest::newRow("long name") << 5000 << false << true;
        QTest::newRow("long name, spoiled at its end") << 5000 << true << false;
    }
    // The local header of an entry whose data is large is read apart from
    // that data; its whole name is still compared with the directory's.
    void comparesWholeNamesOfEntriesFarApart()
    {
        QFETCH(int, nameSize);
        QFETCH(bool, spoilLastByte);
        QFETCH(bool, accepted);
        const std::string folder = newFolder();
        const std::string longName = "archive/" + std::string(static_cast<size_t>(nameSize), 'n');
        StepWriter writer(folder, "archive.zip");
        writer.begin(longName, randomBytes(200 << 10));
        writer.finish();
        writer.begin("archive/b", textOf(2));
        writer.finish();
        writer.close();
        const std::string archive = folder + "/archive.zip";
        if (spoilLastByte) {
            std::string bytes = readFile(archive);
            bytes.at(30 + longName.size() - 1) = 'x';
            writeFile(archive, bytes);
        }

        const Failure failure = ArchiveCheck::verify(archive, writer.names, std::nullopt, kRunning);

        QVERIFY2(failure.has_value() != accepted, failure.value_or("accepted").c_str());
        if (failure)
            QVERIFY2(failure->find("local header under another name") != std::string::npos, failure->c_str());
    }

    // The end record's 16-bit count is all ones at 65,535 entries, and
    // php's library writes no ZIP64 record for that many: the archive is
    // sound, and it is counted as any other.
    void countsAsManyEntriesAsTheEndRecordHolds_data()
    {
        QTest::addColumn<int>("entries");
        QTest::newRow("65,534") << 65534;
        QTest::newRow("65,535: the count all ones, no ZIP64 record") << 65535;
    }
    void countsAsManyEntriesAsTheEndRecordHolds()
    {
        QFETCH(int, entries);
        const std::string folder = newFolder();
        StepWriter writer(folder, "archive.zip");
        for (int i = 0; i < entries; ++i) {
            writer.begin("archive/" + std::to_string(i), "");
            writer.finish();
        }
        writer.close();
        const std::string archive = folder + "/archive.zip";
        QCOMPARE(ZipReader(archive).entries.size(), static_cast<size_t>(entries));

        const Failure failure = ArchiveCheck::verify(archive, writer.names, std::nullopt, kRunning);

        QVERIFY2(!failure, failure.value_or("").c_str());
        std::vector<std::string> oneMore = writer.names;
        oneMore.push_back("archive/missing");
        QVERIFY(ArchiveCheck::verify(archive, oneMore, std::nullopt, kRunning).has_value());
    }

    // Where the system gives no more threads (a limit on the user's
    // processes or address space), the check reads every part itself and
    // still finds what is wrong, rather than end the program.
    void checksWithoutMoreThreads()
    {
        const std::string folder = newFolder();
        StepWriter writer(folder, "archive.zip");
        // Enough to be read in parts, one to a thread.
        for (int i = 0; i < 16; ++i) {
            writer.begin("archive/" + std::to_string(i), randomBytes(size_t(1) << 20));
            writer.finish();
        }
        writer.close();
        const std::string archive = folder + "/archive.zip";
        std::vector<std::string> oneMore = writer.names;
        oneMore.push_back("archive/missing");
        const std::optional<std::string> answer =
            SyscallRefusal::runWithoutNewThreads([&]() -> std::string {
                const Failure whole = ArchiveCheck::verify(archive, writer.names, std::nullopt, kRunning);
                const Failure short1 = ArchiveCheck::verify(archive, oneMore, std::nullopt, kRunning);
                return std::string(whole ? "failed: " + *whole : "passed") + (short1 ? ", then failed" : ", then passed");
            });
        QVERIFY(answer);
        QCOMPARE(*answer, std::string("passed, then failed"));
    }

    void clampsTimesAHeaderCannotHold_data()
    {
        QTest::addColumn<QString>("local"); // the file's time, local
        QTest::addColumn<QString>("stored"); // "" when the writer's own stays
        QTest::addColumn<bool>("utf8Bits"); // set in every header before the pass
        QTest::newRow("2110, wrapped to 1982 by the writer") << "2110-01-01 00:00:00" << "2107-12-31 23:59:58" << false;
        QTest::newRow("the first second after 2107") << "2108-01-01 00:00:00" << "2107-12-31 23:59:58" << false;
        QTest::newRow("the last second of 2107") << "2107-12-31 23:59:59" << "" << false;
        QTest::newRow("1970") << "1970-06-15 12:00:00" << "1980-01-01 00:00:00" << false;
        QTest::newRow("the last second before 1980") << "1979-12-31 23:59:59" << "1980-01-01 00:00:00" << false;
        QTest::newRow("the first second of 1980") << "1980-01-01 00:00:00" << "" << false;
        QTest::newRow("before 1900") << "1850-03-01 08:00:00" << "1980-01-01 00:00:00" << false;
        QTest::newRow("2110, with names marked as UTF-8") << "2110-01-01 00:00:00" << "2107-12-31 23:59:58" << true;
    }
    // Only a time outside 1980 to 2107 is clamped, to the nearest the
    // header can hold, in the central and the local header of its entry
    // alone, in the pass that clears bit 11; every other byte stays, and
    // the archive still tests sound.
    void clampsTimesAHeaderCannotHold()
    {
        QFETCH(QString, local);
        QFETCH(QString, stored);
        QFETCH(bool, utf8Bits);
        const QDateTime when = QDateTime::fromString(local, "yyyy-MM-dd HH:mm:ss");
        QVERIFY(when.isValid());
        const std::optional<DosTime> clamped = DosTime::clampedIfOutside(when.toSecsSinceEpoch());
        QCOMPARE(clamped.has_value(), !stored.isEmpty());
        if (!clamped)
            return;
        const std::string source = newFolder();
        writeFile(source + "/archive/a.txt", "a");
        writeFile(source + "/archive/b.txt", "b");
        const std::string archive = source + ".zip";
        QVERIFY(zipUp(source, {"-X"}, archive));
        const std::string original = readFile(archive);
        const ZipReader before(archive);
        if (utf8Bits)
            writeFile(archive, withUtf8Bits(original, before));

        const Failure failure = ZipEntryFlags::clearUtf8Names(archive, {{"archive/a.txt", *clamped, std::nullopt}});

        QVERIFY2(!failure, failure.value_or("").c_str());
        const ZipReader after(archive);
        QCOMPARE(after.entries.size(), before.entries.size());
        std::string unchanged = readFile(archive);
        for (size_t i = 0; i < after.entries.size(); ++i) {
            const ZipReader::Entry& entry = after.entries[i];
            const bool retimed = entry.name == "archive/a.txt";
            QCOMPARE(entry.modified(), retimed ? stored.toStdString() : before.entries[i].modified());
            QCOMPARE(entry.localTime, entry.time);
            QCOMPARE(entry.localDate, entry.date);
            QCOMPARE((entry.flags | entry.localFlags) & 0x0800, 0);
            if (retimed) // put back the time and date written before, to compare the rest
                for (const uint64_t at : {entry.centralFlagsAt + 4, entry.localFlagsAt + 4})
                    unchanged.replace(at, 4, original, at, 4);
        }
        QVERIFY(unchanged == original);
        QCOMPARE(QProcess::execute("unzip", {"-qq", "-t", QString::fromStdString(archive)}), 0);
    }
    void changedItem_data()
    {
        QTest::addColumn<bool>("symbolic"); // staged as a symbolic link, else a hard link
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("found"); // "" when the file is as staged
        for (const bool symbolic : {true, false}) {
            const char* kind = symbolic ? "symbolic link: " : "hard link: ";
            const auto row = [&](const char* name, const QString& change, const QString& found) {
                QTest::newRow((kind + std::string(name)).c_str()) << symbolic << change << found;
            };
            row("as staged", "", "");
            row("read, and given the same time again", "same", "");
            row("appended to", "append", "(its size changed from 4 to 9 bytes)");
            row("rewritten with as many bytes", "rewrite", "(modified)");
            row("made unreadable", "chmod", "(its permissions changed)");
        }
        // A hard link keeps the file the user gave, whatever happens to its
        // name; a symbolic link leads to whatever the name is now.
        QTest::newRow("symbolic link: removed") << true << "remove" << "(gone or renamed)";
        QTest::newRow("symbolic link: renamed") << true << "rename" << "(gone or renamed)";
        QTest::newRow("symbolic link: another file in its place") << true << "replace" << "(another file in its place)";
        QTest::newRow("hard link: removed") << false << "remove" << "";
        QTest::newRow("hard link: renamed") << false << "rename" << "";
        QTest::newRow("hard link: another file in its place") << false << "replace" << "";
    }
    // A file staged as a link is read by the writer later: what became of
    // the user's file in between decides whether the archive holds it. The
    // failure names the user's path (the archive's name for a hard link)
    // and what changed, and is known for what it is.
    void changedItem()
    {
        QFETCH(bool, symbolic);
        QFETCH(QString, change);
        QFETCH(QString, found);
        const std::string base = newFolder();
        const std::string user = base + "/user/a file.txt", output = base + "/output";
        writeFile(user, "data");
        writeFile(output + "/archive/other.txt", "other");
        std::filesystem::create_directories(output + "/archive/d");
        const std::string staged = output + "/archive/d/a.txt";
        QCOMPARE(symbolic ? ::symlink(user.c_str(), staged.c_str()) : ::link(user.c_str(), staged.c_str()), 0);
        const std::vector<StagedFile> files
            = {stagedFileOf(output, "archive/other.txt", 0, false), stagedFileOf(output, "archive/d/a.txt", 1, symbolic)};
        const struct timespec times[2] = {files.back().modified, files.back().modified};
        if (change == "same")
            QVERIFY(readFile(user) == "data" && ::utimensat(AT_FDCWD, user.c_str(), times, 0) == 0);
        if (change == "append")
            std::ofstream(user, std::ios::app) << "12345";
        if (change == "rewrite") {
            std::ofstream(user, std::ios::in | std::ios::out) << "DATA";
            const struct timespec later[2] = {times[0], {times[1].tv_sec + 1, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, user.c_str(), later, 0), 0);
        }
        if (change == "chmod")
            QCOMPARE(::chmod(user.c_str(), 0), 0);
        if (change == "remove")
            QCOMPARE(::unlink(user.c_str()), 0);
        if (change == "rename")
            QCOMPARE(::rename(user.c_str(), (user + ".old").c_str()), 0);
        if (change == "replace") { // a new file of the same size and time
            writeFile(user + ".new", "atad");
            QCOMPARE(::utimensat(AT_FDCWD, (user + ".new").c_str(), times, 0), 0);
            QCOMPARE(::rename((user + ".new").c_str(), user.c_str()), 0);
        }
        const Failure failure = ArchiveCheck::changedItem(output, files, *kRunning);

        QCOMPARE(failure.has_value(), !found.isEmpty());
        if (!failure)
            return;
        QVERIFY2(failure->ends_with(found.toStdString()), failure->c_str());
        QVERIFY(ArchiveCheck::isChangedItem(*failure));
        QVERIFY(failure->find(symbolic ? user + " (" : std::string("archive/d/a.txt (")) != std::string::npos);
        QVERIFY(!ArchiveCheck::isChangedItem("the archive holds 1 entries where 2 were expected"));
    }
    void takesOnlyWhatItCanTrust_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QList<int>>("taken"); // the entries taken, by number
        QTest::addColumn<bool>("accepted");    // by the read-back of the archive that arrives
        QTest::newRow("sound") << "" << QList<int>{0, 1, 2} << true;
        QTest::newRow("a file changed before php read it") << "changed" << QList<int>{0, 1, 2} << true;
        // A damaged entry, and whatever follows it, is left to the read-back.
        QTest::newRow("data damaged") << "damaged" << QList<int>{0} << false;
        // Too large to hold: passed over once finished, and the read-back
        // reads it.
        QTest::newRow("an entry larger than the buffer") << "large" << QList<int>{0, 2} << true;
        // Larger than the first look reads, but within the buffer: taken.
        QTest::newRow("an entry of a few hundred kilobytes") << "middling" << QList<int>{0, 1, 2} << true;
        // What arrives is not the file followed: everything is read again.
        QTest::newRow("another file arrives, damaged") << "copied, damaged" << QList<int>{0, 1, 2} << false;
        // The directory says otherwise than the header that was read.
        QTest::newRow("the directory disagrees") << "directory" << QList<int>{0, 1, 2} << false;
    }
    // An entry is taken once its finished header is followed by the next
    // header: not while it is a placeholder, not while its header may
    // still be rewritten. What it took is used by the read-back only for
    // the very file and the very entries. Each entry is of a staged file,
    // asked about once php has read it, and only then: one changed before
    // is told, one changed after is what the archive holds.
    void takesOnlyWhatItCanTrust()
    {
        QFETCH(QString, spoil);
        QFETCH(QList<int>, taken);
        QFETCH(bool, accepted);
        const std::string folder = newFolder();
        StagedContent content;
        std::vector<StagedFile>& files = content.linkedFiles;
        for (int i = 0; i < 3; ++i) {
            const size_t random = i != 1 ? 0 : spoil == "large" ? 1536 << 10 : spoil == "middling" ? 200 << 10 : 0;
            const std::string path = "archive/" + std::to_string(i);
            writeFile(folder + "/" + path, random ? randomBytes(random) : textOf(i));
            content.expectedEntries.push_back(path);
            files.push_back(stagedFileOf(folder, path, files.size(), false));
        }
        ArchiveFollower follower(folder, "archive.zip", content, kRunning);
        QVERIFY(!follower.readMore()); // php has not begun
        StepWriter writer(folder, "archive.zip");
        for (const StagedFile& file : files) {
            if (spoil == "changed" && file.entry == 1)
                std::ofstream(folder + "/" + file.path, std::ios::app) << "12345";
            writer.begin(file.path, readFile(folder + "/" + file.path), spoil == "damaged" && file.entry == 1);
            if (spoil != "damaged") {
                QVERIFY(!follower.readMore());
                writer.finish();
                QVERIFY(!follower.readMore());
            } else {
                writer.finish();
                follower.readMore();
            }
        }
        writer.close();
        const bool reached = follower.readMore(); // the central directory
        if (spoil != "damaged")
            QVERIFY(reached);
        // After php has read it, a change no longer matters.
        std::ofstream(folder + "/archive/0", std::ios::app) << "later";

        const std::shared_ptr<const FollowedArchive> followed = follower.finish();

        QCOMPARE(follower.finish(), followed); // the same to every caller
        QList<int> took;
        for (const FollowedArchive::ReadEntry& entry : followed->entries)
            for (int i = 0; i < 3; ++i)
                if (entry.dataAt == writer.dataAt(static_cast<size_t>(i))) {
                    took.push_back(i);
                    QCOMPARE(entry.crc, writer.crcOf(static_cast<size_t>(i)));
                }
        QCOMPARE(took, taken);
        const std::string change = "archive/1 (its size changed from " + std::to_string(textOf(1).size()) + " to "
            + std::to_string(textOf(1).size() + 5) + " bytes)";
        QCOMPARE(followed->change.has_value(), spoil == "changed");
        if (followed->change)
            QVERIFY2(followed->change->ends_with(change), followed->change->c_str());
        if (spoil.isEmpty())
            QCOMPARE(followed->asked, std::vector<bool>(3, true));
        QCOMPARE(ArchiveCheck::changedItem(folder, files, *kRunning, &followed->asked).has_value(), spoil == "changed");

        std::string archive = folder + "/archive.zip";
        if (spoil == "copied, damaged") {
            std::string bytes = readFile(archive);
            bytes[writer.dataAt(1) + 4] ^= 0x55;
            archive = folder + "/copy.zip";
            writeFile(archive, bytes);
        }
        if (spoil == "directory") { // the last entry's checksum, in its header and the directory
            std::string bytes = readFile(archive);
            const std::string right = le(writer.crcOf(2), 4), wrong = le(writer.crcOf(2) ^ 1, 4);
            for (size_t at = bytes.find(right); at != std::string::npos; at = bytes.find(right, at + 1))
                bytes.replace(at, 4, wrong);
            // In place: the file followed is the file read back.
            const UniqueFd file(::open(archive.c_str(), O_WRONLY | O_CLOEXEC));
            QCOMPARE(::pwrite(file.get(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        }
        const Failure failure = ArchiveCheck::verify(archive, writer.names, std::nullopt, kRunning, followed.get());
        QVERIFY2(failure.has_value() != accepted, failure.value_or("accepted").c_str());
    }

    // A job given up may have removed php's file: the follower lets go of
    // it at once, so that its space is free again.
    void letsGoOfTheFileWhenGivenUp()
    {
        const std::string folder = newFolder();
        StepWriter writer(folder, "archive.zip");
        writer.begin("archive/a", textOf(1));
        const std::string temporary = folder + "/archive.zip.Xy12Z9";
        QCOMPARE(descriptorsOn(temporary), 1); // the writer's
        const auto abandoned = std::make_shared<std::atomic_bool>(false);
        ArchiveFollower follower(folder, "archive.zip", nothing, abandoned);
        follower.start();
        QTRY_COMPARE(descriptorsOn(temporary), 2);

        abandoned->store(true);

        QTRY_COMPARE(descriptorsOn(temporary), 1);
        QVERIFY(follower.finish()->entries.empty());
    }

    // zipcloak's copy of the archive, replayed as zipcloak writes it (a few
    // kilobytes at a time, under its temporary name), is followed with the
    // job's password: each entry is taken once whole and sound.
    void followsZipcloaksCopy_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<int>("taken"); // how many entries, from the first; -1: as the row tells
        QTest::addColumn<bool>("accepted");
        QTest::newRow("the job's password") << "" << 14 << true;
        // Nothing decrypts: only folders at the start, which hold no data,
        // are taken, and the read-back reads the rest.
        QTest::newRow("another password") << "password" << -1 << true;
        QTest::newRow("data damaged") << "damaged" << -1 << false;
        // What zipcloak did not encrypt is not what is followed here.
        QTest::newRow("not encrypted") << "plain" << 0 << true;
    }
    void followsZipcloaksCopy()
    {
        QFETCH(QString, spoil);
        QFETCH(int, taken);
        QFETCH(bool, accepted);
        const std::string folder = newFolder();
        const std::vector<std::string> names = packSamples(folder);
        QVERIFY(!names.empty());
        const std::string password = "s3cr\xe9t";
        std::string copy = readFile(folder + "/plain.zip");
        if (spoil != "plain") {
            QProcess expect;
            runExpect(expect, EncryptScript::text(folder + "/plain.zip", folder + "/encrypted.zip"), password);
            QVERIFY(expect.waitForFinished(30000) && expect.exitCode() == 0);
            copy = readFile(folder + "/encrypted.zip");
        }
        const std::vector<ZipDirectory::Entry> entries
            = entriesOf(folder + (spoil == "plain" ? "/plain.zip" : "/encrypted.zip"));
        QCOMPARE(entries.size(), names.size());
        if (spoil == "damaged") { // the largest file's data, past its encryption header
            const auto damaged = std::find_if(entries.begin(), entries.end(),
                                              [](const auto& entry) { return entry.name == "archive/11.txt"; });
            QVERIFY(damaged != entries.end());
            taken = static_cast<int>(damaged - entries.begin());
            const auto* header = reinterpret_cast<const uint8_t*>(copy.data()) + damaged->localHeaderAt;
            copy[damaged->localHeaderAt + 30 + ZipDirectory::le16(header + 26) + ZipDirectory::le16(header + 28) + 12
                 + damaged->compressedSize / 2] ^= 0x55;
        }
        if (spoil == "password")
            taken = static_cast<int>(std::find_if(entries.begin(), entries.end(),
                                                  [](const auto& entry) { return entry.size > 0; })
                                     - entries.begin());
        ArchiveFollower follower(folder, "archive.zip", nothing, kRunning,
                                 spoil == "password" ? "another" : password);
        const std::string temporary = folder + "/zi3kQ9aB";
        size_t doneAt = copy.size(); // how much was written when there was nothing more to follow
        {
            const UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            for (size_t at = 0; at < copy.size(); at += 512) {
                const std::string piece = copy.substr(at, 512);
                QCOMPARE(::write(file.get(), piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
                if (follower.readMore())
                    doneAt = std::min(doneAt, at + piece.size());
            }
        }
        QCOMPARE(::rename(temporary.c_str(), (folder + "/archive.zip").c_str()), 0);
        // What zipcloak wrote does not change: an entry that failed is not
        // looked at again, long before the directory comes.
        const auto* end = reinterpret_cast<const uint8_t*>(copy.data()) + copy.size() - 22;
        QVERIFY(doneAt < copy.size());
        if (spoil == "password")
            QVERIFY(doneAt <= ZipDirectory::le32(end + 16));

        const std::shared_ptr<const FollowedArchive> followed = follower.finish();

        QCOMPARE(followed->entries.size(), size_t(taken));
        for (size_t i = 0; i < followed->entries.size(); ++i)
            QCOMPARE(followed->entries[i].headerAt, entries[i].localHeaderAt);
        const Failure failure = ArchiveCheck::verify(folder + "/archive.zip", names,
                                                     spoil == "plain" ? std::nullopt : std::optional(password),
                                                     kRunning, followed.get());
        QVERIFY2(failure.has_value() != accepted, failure.value_or("accepted").c_str());
    }

    // The copy is found under the name the installed zipcloak gives it: it
    // is there, beside the archive, while zipcloak waits for the password.
    void findsZipcloaksCopy()
    {
        const std::string folder = newFolder();
        QVERIFY(!packSamples(folder).empty());
        QCOMPARE(::rename((folder + "/plain.zip").c_str(), (folder + "/archive.zip").c_str()), 0);
        QProcess expect;
        runExpect(expect,
                  "set timeout 30; spawn zipcloak " + folder + "/archive.zip; expect \"Enter password:\"; exec touch "
                      + folder + "/prompted; expect eof",
                  "unused");
        QTRY_VERIFY(std::filesystem::exists(folder + "/prompted"));
        std::vector<std::string> copies;
        for (const auto& item : std::filesystem::directory_iterator(folder))
            if (item.path().filename().string().starts_with("zi"))
                copies.push_back(item.path().string());
        QCOMPARE(copies.size(), size_t(1));
        ArchiveFollower follower(folder, "archive.zip", nothing, kRunning, "unused");

        follower.readMore();

        QCOMPARE(descriptorsOn(copies.front()), 1);
        expect.kill();
        expect.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestArchiveCheck)
#include "tst_ArchiveCheck.moc"
