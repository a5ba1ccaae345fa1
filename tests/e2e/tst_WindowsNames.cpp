// A whole job on a folder of names a Japanese office user really has, and
// its archive extracted the way Windows extracts it: names read as code
// page 932, letter case folded, trailing dots and blanks dropped, device
// names and the characters it forbids refused, paths held to 260
// characters below a 60-character folder.
// Every file must arrive at a path of its own, with its own bytes.
#include "ArchiveContent.h"
#include "JobRun.h"
#include "ReportJson.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Written apart from the application's rules, from how Windows behaves.
bool isDevice(QString component)
{
    component = component.section('.', 0, 0).trimmed().toUpper();
    static const QStringList plain{"CON", "PRN", "AUX", "NUL"};
    if (plain.contains(component))
        return true;
    return component.size() == 4 && (component.startsWith("COM") || component.startsWith("LPT"))
        && component[3] >= QChar('1') && component[3] <= QChar('9');
}

bool hasForbiddenCharacter(const QString& component)
{
    const QString forbidden = QStringLiteral("\\:*?\"<>|");
    return std::any_of(component.begin(), component.end(), [&](QChar c) { return forbidden.contains(c); });
}

QString withoutTrailingDotsAndBlanks(QString component)
{
    while (component.endsWith('.') || component.endsWith(' '))
        component.chop(1);
    return component;
}

// Where Windows puts the entry below a 60-character folder; empty when it
// refuses to.
QString extractedPath(const QString& entry, QString& why)
{
    QStringList kept;
    for (const QString& component : entry.split('/', Qt::SkipEmptyParts)) {
        const QString stripped = withoutTrailingDotsAndBlanks(component);
        if (stripped.isEmpty() || isDevice(stripped) || hasForbiddenCharacter(stripped)) {
            why = "refused name: " + component;
            return {};
        }
        kept << stripped;
    }
    const QString path = QString(59, 'p') + "\\" + kept.join('\\');
    if (path.size() >= 260) {
        why = QString("path of %1 characters").arg(path.size());
        return {};
    }
    return path.toCaseFolded();
}

} // namespace

class TestWindowsNames : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;

    std::string user(const QString& relative) const { return m_home->path() + "/user/" + relative.toStdString(); }

    // Files by these names (bytes) below "names", each holding its name,
    // archived by a real job into "dest": the job, and the entries' names
    // in order.
    std::pair<JobRun, std::vector<std::string>> archived(const std::vector<std::string>& names) const
    {
        for (const std::string& name : names)
            writeFile(user("names/") + name, name);
        const std::string dest = user("dest");
        fs::create_directories(dest);
        JobRun job = JobRun::of({user("names")}, dest);
        std::vector<std::string> entries = ZipReader(dest + "/archive.zip").names();
        std::sort(entries.begin(), entries.end());
        return {std::move(job), std::move(entries)};
    }

private slots:
    void initTestCase()
    {
        if (!fs::exists(qgetenv("QUILLMERE_BUILD_DIR").toStdString() + "/gconv/gconv-modules"))
            QSKIP("the converter module is not built: php cannot give names in code page 932");
    }
    void init() { m_home.emplace(); }

    void everyFileArrivesApart()
    {
        const QStringList names{
            // Changed names meeting names that need no change.
            "a*b.txt", "a_b.txt", "x?.txt", "x_.txt", "10〜12月.txt", "10～12月.txt", "‖.txt", "∥.txt",
            "A—B.txt", "A―B.txt", "résumé.txt", "re\u0301sume\u0301.txt", "resume.txt",
            // Stand-ins, composed and decomposed.
            "\u3046\u3099.txt", "\u3094 2.txt", "\u30F7.txt", "\u30EF\u3099 2.txt", "\u304B\u309A.txt", "か゜.txt",
            "\u00B5m.txt", "μm.txt", "1\u20132.txt", "1\u20122.txt", "1-2.txt", "Straße.txt", "Œ.txt", "œ.txt",
            "Æ.txt", "Ø.txt", "Ł.txt", "©.txt", "®.txt", "™.txt", "𠮷野.txt", "吉野.txt", "鷗.txt", "剝.txt", "𠮟.txt",
            "繫.txt", "頰.txt", "摑.txt", "噓.txt", "寿司🍣.txt", "寿司🍜.txt", "寿司_.txt",
            // What shows nothing meets the name without it.
            "見積\u200B書.txt", "見積書.txt", "葛\U000E0100飾.txt", "葛飾.txt", "平成\u00A030年.txt", "平成 30年.txt",
            // What Windows cannot create, and its twins.
            "CON.txt", "con_.txt", "nul", "Aux/inside.txt", "COM1", "lpt9.log", "PRN.tar.gz", "memo.", "memo..",
            "memo", "memo ", "MEMO_", "...", "....", "CÖN.log", "nül", "1≮2.txt", "1≯2.txt", "Report.txt", "report.TXT", "ａ.txt", "Ａ.txt",
            // Kanji with trail bytes 0x5C and 0x7C, half-width kana, NEC and IBM characters.
            "表ソ能.txt", "ﾊﾝｶｸ.txt", "①②Ⅰ.txt", "髙﨑.txt",
            // Deep enough to come near the limit, short enough to fit it.
            QString(70, QChar(0x6587)) + "/" + QString(100, 'x') + ".txt"};
        std::map<FileDigest, int> wanted;
        int index = 0;
        for (const QString& name : names) {
            const std::string path = user("names/" + name);
            writeFile(path, name.toStdString() + "#" + std::to_string(++index));
            ++wanted[ArchiveContent::ofFile(path)];
        }
        const std::string dest = user("dest");
        fs::create_directories(dest);

        const JobRun job = JobRun::of({user("names")}, dest);

        QVERIFY(job.delivered());
        QCOMPARE(int(std::distance(fs::directory_iterator(dest), fs::directory_iterator())), 1);
        const std::string archive = fs::directory_iterator(dest)->path().string();
        const ZipReader reader(archive);
        QCOMPARE(QString::fromStdString(reader.error), QString());
        std::map<QString, QString> extracted; // Windows' path, the entry's
        std::map<FileDigest, int> found;
        for (const ZipReader::Entry& entry : reader.entries) {
            const QString shown = ArchiveContent::shownOnWindows(entry.name);
            QString why;
            const QString path = extractedPath(shown, why);
            QVERIFY2(!path.isEmpty(), qPrintable(shown + ": " + why));
            if (shown.endsWith('/'))
                continue;
            const auto [at, isNew] = extracted.emplace(path, shown);
            QVERIFY2(isNew, qPrintable(shown + " lands where " + at->second + " does"));
            ++found[{entry.crc32, entry.size}];
        }
        QCOMPARE(int(extracted.size()), int(names.size()));
        QVERIFY(found == wanted);
        // Nothing in it calls for a warning: every name was made one that
        // Windows creates, and no path reaches the limit.
        QVERIFY(std::none_of(job.lines.begin(), job.lines.end(),
                             [](const std::string& line) { return line.starts_with("windows warning: "); }));
    }

    // A path that reaches 260 characters below the 60-character folder is
    // named, with its length, in the job's output.
    void aLongPathIsWarnedWithItsLength()
    {
        const QString path = QString(80, QChar(0x6587)) + "/" + QString(109, 'x') + ".txt"; // 80 + 1 + 113
        writeFile(user("long/" + path), "long");
        const std::string dest = user("dest");
        fs::create_directories(dest);

        const JobRun job = JobRun::of({user("long")}, dest);

        QVERIFY(job.delivered());
        // "archive/long/" and the path: 13 + 194 = 207, and 60 more reach 267.
        const std::string expected = "windows warning: archive/long/" + path.toStdString()
            + " (207 characters: reaches 260 characters below a 60-character extraction folder)";
        QVERIFY2(std::find(job.lines.begin(), job.lines.end(), expected) != job.lines.end(),
                 qPrintable(QString::fromStdString(expected)));
    }

    // What the report calls an item in the archive is the entry's path, as
    // unzip lists it, and a warning's length is that path's: a script can
    // find each entry the report names, and add the folder it extracts into.
    void theReportNamesEntriesAsTheArchiveHoldsThem()
    {
        const QString folder = QString(90, 'a');
        const auto [job, names] = archived({(folder + "/" + folder + "/file.txt").toStdString(), "why?.txt",
                                            (folder + "/ask?/x.txt").toStdString()});
        QVERIFY(job.delivered());
        QStringList entries;
        for (const std::string& name : names)
            entries << ArchiveContent::shownOnWindows(name);
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson::of(job.outcome))).object();

        QCOMPARE(report["warnings"].toArray().size(), 1);
        const QJsonObject warning = report["warnings"][0].toObject();
        const QString warned = warning["inArchive"].toString();
        QCOMPARE(warned, "archive/names/" + folder + "/" + folder + "/file.txt");
        QVERIFY2(entries.contains(warned), qPrintable(warned));
        QCOMPARE(warning["length"].toInt(), int(warned.size()));

        QStringList renamed;
        for (const QJsonValue& item : report["renamed"].toArray()) {
            const QString inArchive = item.toObject()["inArchive"].toString();
            // A renamed folder has no entry of its own: its files name it.
            QVERIFY2(std::ranges::any_of(entries, [&](const QString& entry) { return entry.startsWith(inArchive); }),
                     qPrintable(inArchive));
            renamed << item.toObject()["original"].toString() + " -> " + inArchive;
        }
        renamed.sort();
        QCOMPARE(renamed, (QStringList{"names/" + folder + "/ask? -> archive/names/" + folder + "/ask_",
                                       "names/why?.txt -> archive/names/why_.txt"}));
        QVERIFY(job.logged("renamed: names/why?.txt -> archive/names/why_.txt"));
    }

    // Given items of one name arrive apart; the one renamed is told by the
    // path it was given by, so that it is known which of them it is. What
    // is inside it keeps its path from the given folder's name on.
    void aRenamedGivenItemIsToldByItsPath()
    {
        writeFile(user("c1/same/a.txt"), "first");
        writeFile(user("c2/same/b?.txt"), "second");
        const std::string dest = user("dest");
        fs::create_directories(dest);

        const JobRun job = JobRun::of({user("c1/same"), user("c2/same")}, dest);

        QVERIFY(job.delivered());
        std::vector<std::string> names = ZipReader(dest + "/archive.zip").names();
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (std::vector<std::string>{"archive/same (2)/b_.txt", "archive/same/a.txt"}));
        QStringList renamed;
        for (const RenamedItem& item : job.outcome.report.renamed)
            renamed << QString::fromStdString(item.original + " -> " + item.inArchive);
        renamed.sort();
        const QString given = QString::fromStdString(user("c2/same"));
        QCOMPARE(renamed, (QStringList{given + " -> archive/same (2)", "same/b?.txt -> archive/same (2)/b_.txt"}));
        QVERIFY(job.logged("renamed: " + user("c2/same") + " -> archive/same (2)"));
        const QJsonArray inJson = QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson::of(job.outcome)))
                                      .object()["renamed"].toArray();
        QVERIFY(std::ranges::any_of(inJson, [&](const QJsonValue& item) {
            return item.toObject()["original"].toString() == given
                && item.toObject()["inArchive"].toString() == "archive/same (2)";
        }));
    }

    // Linux names are bytes. One that ends inside a character, or holds
    // bytes that are none, still arrives in code page 932, in its own
    // folder, with "_" for what is no character, and is reported renamed.
    void bytesThatAreNoTextArriveInCodePage932()
    {
        const std::string folder = "\xe8\xb3\x87\xe6\x96\x99"; // 資料
        const auto [job, names] =
            archived({folder + "/a\xe9", folder + "/ok.txt", "D\xe9/f.txt", "b\xe9x.txt", "\xe6\x96"});
        QVERIFY(job.delivered());
        const std::string inCp932 = "archive/names/\x8e\x91\x97\xbf/";
        QCOMPARE(names, (std::vector<std::string>{"archive/names/D_/f.txt", "archive/names/_",
                                                  "archive/names/b_x.txt", inCp932 + "a_", inCp932 + "ok.txt"}));
        QCOMPARE(int(job.outcome.report.renamed.size()), 4);
    }

    // A name that reads ".DS_Store" only once converted stays out as the
    // others do; php's archive agrees with what the job expects of it.
    void aNameThatReadsDsStoreOnceConvertedStaysOut()
    {
        const auto [job, names] = archived({"d/.DS\u200B_Store", "d/k.txt", "e/.DS\u200B_Store"});
        QVERIFY(job.delivered());
        QCOMPARE(names, (std::vector<std::string>{"archive/names/d/k.txt", "archive/names/e/"}));
        QCOMPARE(int(job.outcome.report.leftOut.size()), 2);
    }
};

QTEST_GUILESS_MAIN(TestWindowsNames)
#include "tst_WindowsNames.moc"
