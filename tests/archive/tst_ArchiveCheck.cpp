// Reading back archives made by Info-ZIP's zip and then spoiled one way at a
// time: the check of a finished archive, and the clearing of the UTF-8 flag
// (bit 11) that php sets on names whose code page 932 bytes look like UTF-8.
#include "ArchiveCheck.h"
#include "DosTime.h"
#include "TestFiles.h"
#include "ZipEntryFlags.h"
#include "ZipReader.h"

#include <QtTest>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

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

// Changes the uncompressed size the central directory gives entry by delta.
void changeCentralSize(std::string& bytes, const ZipReader::Entry& entry, int delta)
{
    const uint64_t at = entry.centralFlagsAt + 16;
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i)
        size = size << 8 | static_cast<uint8_t>(bytes.at(at + i));
    size += static_cast<uint32_t>(delta);
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(size >> (8 * i));
}

} // namespace

class TestArchiveCheck : public QObject {
    Q_OBJECT
    QTemporaryDir m_scratch;
    const std::string m_folder = QFile::encodeName(m_scratch.path()).toStdString();
    int m_rows = 0;

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
        const std::string source = m_folder + "/" + QTest::currentDataTag();
        std::vector<std::string> expected = {"archive/a.txt", "archive/sub/b.txt", "archive/\xc3\xa9.txt"};
        for (const std::string& entry : expected) { // a few lines, enough for deflate to shrink
            std::string lines;
            for (int line = 0; line < 20; ++line)
                lines += "line " + std::to_string(line) + " of " + entry + "\n";
            writeFile(source + "/" + entry, lines);
        }
        std::vector<std::string> large;
        for (int i = 0; spoil.startsWith("large") && i < 6; ++i) {
            expected.push_back("archive/large" + std::to_string(i) + ".bin");
            large.push_back(std::string(3 << 20, '\0'));
            std::ifstream("/dev/urandom", std::ios::binary).read(large.back().data(), 3 << 20);
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
        QProcess zip;
        zip.setWorkingDirectory(QString::fromStdString(source));
        zip.start("zip", QStringList{"-q", "-D", "-r"} + zipOptions << QString::fromStdString(archive) << "archive");
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
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
        if (spoil.endsWith("size -1") || spoil.endsWith("size +1"))
            changeCentralSize(data, *target, spoil.endsWith("-1") ? -1 : 1);
        if (spoil.endsWith("missing"))
            expected.push_back("archive/c.txt");
        if (spoil == "utf8")
            data[ZipReader(archive).entries.at(0).centralFlagsAt + 1] |= 0x08;
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
        const std::string source = m_folder + "/" + QTest::currentDataTag();
        writeFile(source + "/archive/a.txt", "a");
        writeFile(source + "/archive/b.txt", "b");
        const std::string archive = source + ".zip";
        QProcess zip;
        zip.setWorkingDirectory(QString::fromStdString(source));
        zip.start("zip", QStringList{"-q", "-X", "-r", QString::fromStdString(archive), "archive"});
        QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
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
        const std::string base = m_folder + "/changed" + std::to_string(++m_rows);
        const std::string user = base + "/user/a file.txt", output = base + "/output";
        writeFile(user, "data");
        writeFile(output + "/archive/other.txt", "other");
        std::filesystem::create_directories(output + "/archive/d");
        const std::string staged = output + "/archive/d/a.txt";
        QCOMPARE(symbolic ? ::symlink(user.c_str(), staged.c_str()) : ::link(user.c_str(), staged.c_str()), 0);
        std::vector<StagedFile> files;
        for (const auto& [path, isLink] : {std::pair("archive/other.txt", false), std::pair("archive/d/a.txt", symbolic)}) {
            struct stat info {};
            QCOMPARE(::stat((output + "/" + path).c_str(), &info), 0);
            files.push_back({path, files.size(), info.st_dev, info.st_ino, info.st_size, info.st_mode, info.st_mtim, isLink});
        }
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
        const std::atomic_bool running = false;

        const Failure failure = ArchiveCheck::changedItem(output, files, running);

        QCOMPARE(failure.has_value(), !found.isEmpty());
        if (!failure)
            return;
        QVERIFY2(failure->ends_with(found.toStdString()), failure->c_str());
        QVERIFY(ArchiveCheck::isChangedItem(*failure));
        QVERIFY(failure->find(symbolic ? user + " (" : std::string("archive/d/a.txt (")) != std::string::npos);
        QVERIFY(!ArchiveCheck::isChangedItem("the archive holds 1 entries where 2 were expected"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveCheck)
#include "tst_ArchiveCheck.moc"
