// Reading an archive while it is written: a writer of the test's own writes
// step by step as php's archive library does (a temporary name, each local
// header first as a placeholder, then the data, then the header again), and
// the follower must take only what is finished and sound, and the read-back
// must use what it took only for the very file and the very entries. The
// real zipcloak's copy is followed as it arrives, a few kilobytes at a time.
#include "ArchiveCheck.h"
#include "ArchiveFollower.h"
#include "EncryptScript.h"
#include "TestFiles.h"
#include "ZipDirectory.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

void put16(std::string& out, uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

void put32(std::string& out, uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::string deflated(const std::string& data)
{
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
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
        Entry entry{name, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                      static_cast<uInt>(content.size()))),
                    deflated(content), static_cast<uint32_t>(content.size()), m_end};
        const std::string placeholder = localHeader(entry, true);
        std::string data = entry.data;
        if (damage)
            data[data.size() / 2] ^= 0x55;
        append(placeholder + data);
        m_entries.push_back(entry);
    }
    void finish() { writeAt(localHeader(m_entries.back(), false), m_entries.back().at); }
    // The central directory, and the archive under its own name.
    void close()
    {
        std::string directory;
        for (const Entry& entry : m_entries) {
            put32(directory, 0x02014b50);
            put16(directory, 20);
            directory += localHeader(entry, false).substr(4, 26);
            put16(directory, 0);
            put16(directory, 0);
            put16(directory, 0);
            put32(directory, 0);
            put32(directory, static_cast<uint32_t>(entry.at));
            directory += entry.name;
        }
        const uint64_t directoryAt = m_end;
        append(directory);
        std::string end;
        put32(end, 0x06054b50);
        put32(end, 0);
        put16(end, static_cast<uint32_t>(m_entries.size()));
        put16(end, static_cast<uint32_t>(m_entries.size()));
        put32(end, static_cast<uint32_t>(directory.size()));
        put32(end, static_cast<uint32_t>(directoryAt));
        put16(end, 0);
        append(end);
        QCOMPARE(::rename(m_temporary.c_str(), m_final.c_str()), 0);
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const Entry& entry : m_entries)
            names.push_back(entry.name);
        return names;
    }
    uint64_t dataAt(size_t entry) const { return m_entries[entry].at + 30 + m_entries[entry].name.size(); }
    uint32_t crcOf(size_t entry) const { return m_entries[entry].crc; }

private:
    struct Entry {
        std::string name;
        uint32_t crc;
        std::string data;
        uint32_t size;
        uint64_t at;
    };
    // The placeholder names no method and holds no checksum or sizes.
    static std::string localHeader(const Entry& entry, bool placeholder)
    {
        std::string header;
        put32(header, 0x04034b50);
        put16(header, placeholder ? 10 : 20);
        put16(header, 0);
        put16(header, placeholder ? 0xFFFF : 8);
        put16(header, 0);
        put16(header, 0x21);
        put32(header, placeholder ? 0 : entry.crc);
        put32(header, placeholder ? 0 : static_cast<uint32_t>(entry.data.size()));
        put32(header, entry.size);
        put16(header, static_cast<uint32_t>(entry.name.size()));
        put16(header, 0);
        return header + entry.name;
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

std::string textOf(int entry)
{
    std::string text;
    for (int line = 0; line < 40 + entry; ++line)
        text += "line " + std::to_string(line) + " of entry " + std::to_string(entry) + "\n";
    return text;
}

const std::shared_ptr<std::atomic_bool> kRunning = std::make_shared<std::atomic_bool>(false);

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
    QProcess zip;
    zip.setWorkingDirectory(QString::fromStdString(folder));
    zip.start("zip", {"-q", "-r", "plain.zip", "archive"});
    zip.waitForFinished();
    return zip.exitCode() == 0 ? names : std::vector<std::string>{};
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

} // namespace

class TestArchiveFollower : public QObject {
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
    // An entry is taken once its finished header is followed by the next
    // header: not while it is a placeholder, not while its header may
    // still be rewritten.
    void takesOnlyFinishedEntries()
    {
        const std::string folder = newFolder();
        const StagedContent nothing;
        ArchiveFollower follower(folder, "archive.zip", nothing, kRunning);
        QVERIFY(!follower.readMore()); // php has not begun
        StepWriter writer(folder, "archive.zip");
        writer.begin("archive/a.txt", textOf(1));
        writer.finish();
        QVERIFY(!follower.readMore());
        writer.begin("archive/b.txt", textOf(2));
        QVERIFY(!follower.readMore());
        writer.finish();
        writer.begin("archive/c.txt", textOf(3));
        writer.finish();
        writer.close();
        QVERIFY(follower.readMore()); // the central directory is reached

        const std::shared_ptr<const FollowedArchive> followed = follower.finish();

        QCOMPARE(followed->entries.size(), size_t(3));
        for (size_t i = 0; i < 3; ++i) {
            QCOMPARE(followed->entries[i].dataAt, writer.dataAt(i));
            QCOMPARE(followed->entries[i].crc, writer.crcOf(i));
        }
        QCOMPARE(follower.finish(), followed); // the same to every caller
        const Failure failure
            = ArchiveCheck::verify(folder + "/archive.zip", writer.names(), std::nullopt, kRunning, followed.get());
        QVERIFY2(!failure, failure->c_str());
    }

    void leavesWhatItCannotTrust_data()
    {
        QTest::addColumn<QString>("spoil");
        QTest::addColumn<QList<int>>("taken"); // the entries taken, by number
        QTest::addColumn<bool>("accepted");    // by the read-back of the archive that arrives
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
    void leavesWhatItCannotTrust()
    {
        QFETCH(QString, spoil);
        QFETCH(QList<int>, taken);
        QFETCH(bool, accepted);
        const std::string folder = newFolder();
        const StagedContent nothing;
        ArchiveFollower follower(folder, "archive.zip", nothing, kRunning);
        StepWriter writer(folder, "archive.zip");
        for (int i = 0; i < 3; ++i) {
            const size_t random = i != 1 ? 0 : spoil == "large" ? 1536 << 10 : spoil == "middling" ? 200 << 10 : 0;
            writer.begin("archive/" + std::to_string(i), random ? randomBytes(random) : textOf(i),
                         spoil == "damaged" && i == 1);
            writer.finish();
            follower.readMore();
        }
        writer.close();
        follower.readMore();
        const std::shared_ptr<const FollowedArchive> followed = follower.finish();
        QList<int> took;
        for (const FollowedArchive::ReadEntry& entry : followed->entries)
            for (int i = 0; i < 3; ++i)
                if (entry.dataAt == writer.dataAt(static_cast<size_t>(i)))
                    took.push_back(i);
        QCOMPARE(took, taken);

        std::string archive = folder + "/archive.zip";
        if (spoil == "copied, damaged") {
            std::string bytes = readFile(archive);
            bytes[writer.dataAt(1) + 4] ^= 0x55;
            archive = folder + "/copy.zip";
            writeFile(archive, bytes);
        }
        if (spoil == "directory") { // the last entry's checksum, in its header and the directory
            std::string bytes = readFile(archive);
            std::string right, wrong;
            put32(right, writer.crcOf(2));
            put32(wrong, writer.crcOf(2) ^ 1);
            for (size_t at = bytes.find(right); at != std::string::npos; at = bytes.find(right, at + 1))
                bytes.replace(at, 4, wrong);
            // In place: the file followed is the file read back.
            const UniqueFd file(::open(archive.c_str(), O_WRONLY | O_CLOEXEC));
            QCOMPARE(::pwrite(file.get(), bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        }
        const Failure failure = ArchiveCheck::verify(archive, writer.names(), std::nullopt, kRunning, followed.get());
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
        const StagedContent nothing;
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
        const StagedContent nothing;
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
        const StagedContent nothing;
        ArchiveFollower follower(folder, "archive.zip", nothing, kRunning, "unused");

        follower.readMore();

        QCOMPARE(descriptorsOn(copies.front()), 1);
        expect.kill();
        expect.waitForFinished();
    }

    // A staged file is asked about once php has read it, and only then: one
    // changed before is told, one changed after is what the archive holds.
    void asksAboutFilesAsTheyAreRead_data()
    {
        QTest::addColumn<int>("changedBefore"); // the entry whose file changes before php reads it, or -1
        QTest::addColumn<QString>("found");
        QTest::newRow("none changed") << -1 << "";
        QTest::newRow("the second changed before it was read") << 1 << "archive/1 (its size changed from 8 to 13 bytes)";
    }
    void asksAboutFilesAsTheyAreRead()
    {
        QFETCH(int, changedBefore);
        QFETCH(QString, found);
        const std::string folder = newFolder();
        StagedContent content;
        std::vector<StagedFile>& files = content.linkedFiles;
        for (int i = 0; i < 3; ++i) {
            const std::string path = "archive/" + std::to_string(i);
            writeFile(folder + "/" + path, "content" + std::to_string(i));
            struct stat info {};
            QCOMPARE(::stat((folder + "/" + path).c_str(), &info), 0);
            content.expectedEntries.push_back(path);
            files.push_back({path, files.size(), info.st_dev, info.st_ino, info.st_size, info.st_mode, info.st_mtim, false});
        }
        ArchiveFollower follower(folder, "archive.zip", content, kRunning);
        StepWriter writer(folder, "archive.zip");
        for (int i = 0; i < 3; ++i) {
            if (i == changedBefore)
                std::ofstream(folder + "/" + files[static_cast<size_t>(i)].path, std::ios::app) << "12345";
            writer.begin(files[static_cast<size_t>(i)].path, readFile(folder + "/" + files[static_cast<size_t>(i)].path));
            writer.finish();
            follower.readMore();
        }
        writer.close();
        follower.readMore();
        // After php has read it, a change no longer matters.
        std::ofstream(folder + "/archive/0", std::ios::app) << "later";

        const std::shared_ptr<const FollowedArchive> followed = follower.finish();

        QCOMPARE(followed->change.has_value(), !found.isEmpty());
        if (followed->change)
            QVERIFY2(followed->change->ends_with(found.toStdString()), followed->change->c_str());
        else
            QCOMPARE(followed->asked, std::vector<bool>(3, true));
        const std::atomic_bool running = false;
        QCOMPARE(ArchiveCheck::changedItem(folder, files, running, &followed->asked).has_value(), changedBefore != -1);
    }
};

QTEST_GUILESS_MAIN(TestArchiveFollower)
#include "tst_ArchiveFollower.moc"
