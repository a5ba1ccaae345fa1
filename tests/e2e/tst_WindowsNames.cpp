// A whole job on a folder of names a Japanese office user really has, and
// its archive extracted the way Windows extracts it: names read as code
// page 932, letter case folded, trailing dots and blanks dropped, device
// names and the characters it forbids refused, paths held to 260
// characters below a 60-character folder.
// Every file must arrive at a path of its own, with its own bytes.
#include "ArchiveContent.h"
#include "JobChecks.h"
#include "ReportJson.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "ZipReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Where Windows puts the entry below a 60-character folder; empty when it
// refuses to. Written apart from the application's rules, from how Windows
// behaves.
QString extractedPath(const QString& entry, QString& why)
{
    static const QRegularExpression device("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$"),
        forbidden("[\\\\:*?\"<>|]"), trailingDotsAndBlanks("[. ]+\\z");
    QStringList kept;
    for (const QString& component : entry.split('/', Qt::SkipEmptyParts)) {
        const QString stripped = QString(component).remove(trailingDotsAndBlanks);
        if (stripped.isEmpty() || stripped.section('.', 0, 0).trimmed().toUpper().contains(device)
            || stripped.contains(forbidden)) {
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
    // archived by a real job into "dest" from the given folders (below the
    // user's): the job, and the entries' names in order.
    std::pair<JobRun, std::vector<std::string>> archived(const std::vector<std::string>& names,
                                                         const QStringList& given = {"names"}) const
    {
        for (const std::string& name : names)
            writeFile(user("names/") + name, name);
        const std::string dest = user("dest");
        fs::create_directories(dest);
        std::vector<std::string> items;
        for (const QString& item : given)
            items.push_back(user(item));
        JobRun job = JobRun::of(items, dest);
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
        std::vector<std::string> names;
        for (const QString& name : QStringList{
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
                 QString(70, QChar(0x6587)) + "/" + QString(100, 'x') + ".txt"})
            names.push_back(name.toStdString());

        const auto [job, entries] = archived(names);

        QVERIFY(job.delivered());
        QCOMPARE(QDir(QString::fromStdString(user("dest"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"archive.zip"});
        std::map<QString, QString> extracted; // Windows' path, the entry's
        for (const std::string& entry : entries) {
            const QString shown = ArchiveContent::shownOnWindows(entry);
            QString why;
            const QString path = extractedPath(shown, why);
            QVERIFY2(!path.isEmpty(), qPrintable(shown + ": " + why));
            if (shown.endsWith('/'))
                continue;
            const auto [at, isNew] = extracted.emplace(path, shown);
            QVERIFY2(isNew, qPrintable(shown + " lands where " + at->second + " does"));
        }
        QCOMPARE(int(extracted.size()), int(names.size()));
        std::map<FileDigest, int> wanted;
        for (const std::string& name : names)
            ++wanted[ArchiveContent::ofFile(user("names/") + name)];
        QVERIFY(ArchiveContent::digestCounts(user("dest/archive.zip")) == wanted);
        // Nothing in it calls for a warning: every name was made one that
        // Windows creates, and no path reaches the limit.
        QCOMPARE(linesStarting(job, "windows warning: "), 0);
    }

    // A path that reaches 260 characters below the 60-character folder is
    // warned with its length in characters. What the report calls an item
    // in the archive is the entry's path, as unzip lists it, and a warning's
    // length is that path's: a script can find each entry the report names,
    // and add the folder it extracts into.
    void theReportNamesEntriesAsTheArchiveHoldsThem()
    {
        const QString folder = QString(80, QChar(0x6587)), file = QString(109, 'x') + ".txt";
        const auto [job, names] = archived({(folder + "/" + file).toStdString(), "why?.txt",
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
        QCOMPARE(warned, "archive/names/" + folder + "/" + file);
        QVERIFY2(entries.contains(warned), qPrintable(warned));
        // "archive/names/" and the path: 14 + 194 = 208, and 60 more reach 268.
        QCOMPARE(warning["length"].toInt(), 208);
        const std::string line = "windows warning: " + warned.toStdString()
            + " (208 characters: reaches 260 characters below a 60-character extraction folder)";
        QVERIFY2(std::ranges::count(job.lines, line) == 1, line.c_str());

        QStringList renamed;
        for (const QJsonValue& item : report["renamed"].toArray()) {
            const QString inArchive = item.toObject()["inArchive"].toString();
            // A renamed folder has no entry of its own: its files name it.
            QVERIFY2(std::ranges::any_of(entries, [&](const QString& entry) { return entry.startsWith(inArchive); }),
                     qPrintable(inArchive));
            renamed << item.toObject()["original"].toString() + " -> " + inArchive;
        }
        renamed.sort();
        QCOMPARE(renamed, (QStringList{"names/why?.txt -> archive/names/why_.txt",
                                       "names/" + folder + "/ask? -> archive/names/" + folder + "/ask_"}));
        QVERIFY(job.logged("renamed: names/why?.txt -> archive/names/why_.txt"));
    }

    // Given items of one name arrive apart; the one renamed is told by the
    // path it was given by, so that it is known which of them it is. What
    // is inside it keeps its path from the given folder's name on.
    void aRenamedGivenItemIsToldByItsPath()
    {
        const auto [job, names] = archived({"c1/same/a.txt", "c2/same/b?.txt"}, {"names/c1/same", "names/c2/same"});

        QVERIFY(job.delivered());
        QCOMPARE(names, (std::vector<std::string>{"archive/same (2)/b_.txt", "archive/same/a.txt"}));
        QStringList renamed;
        for (const RenamedItem& item : job.outcome.report.renamed)
            renamed << QString::fromStdString(item.original + " -> " + item.inArchive);
        renamed.sort();
        const QString given = QString::fromStdString(user("names/c2/same"));
        QCOMPARE(renamed, (QStringList{given + " -> archive/same (2)", "same/b?.txt -> archive/same (2)/b_.txt"}));
        QVERIFY(job.logged("renamed: " + given.toStdString() + " -> archive/same (2)"));
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
