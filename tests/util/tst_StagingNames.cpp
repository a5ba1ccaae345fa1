// The staging name rules on real folders: which name each file gets in the
// archive as Windows shows it, and why. Names that need no change keep
// them; changed ones give way; stand-ins come before "_"; every name is
// one Windows can create, and twins by Windows' rules end apart.
#include "ArchiveContent.h"
#include "Cp932Name.h"
#include "TestHome.h"
#include "Util.h"
#include "WorkFolders.h"

#include <QtTest>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A rename as "original → shown flags": r prohibited characters replaced,
// s stand-ins put in, w made a name Windows can create, t transliterated by
// the conversion, n numbered.
QString describe(const RenamedItem& item)
{
    QString flags;
    flags += item.replacedCharacters ? "r" : "";
    flags += item.substituted ? "s" : "";
    flags += item.madeCreatable ? "w" : "";
    flags += item.transliterated ? "t" : "";
    flags += item.numbered ? "n" : "";
    return QString::fromStdString(item.original).section('/', 1) + " → "
        + QString::fromStdString(item.inArchive).section('/', 2) + " " + flags;
}

QString composed(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C);
}

// text through a converter of iconv's own; "refused" when it refuses.
std::string throughIconv(const char* to, const char* from, std::string text)
{
    const iconv_t converter = iconv_open(to, from);
    if (converter == iconv_t(-1))
        return "no converter";
    std::string output(text.size() * 4 + 16, '\0');
    char* in = text.data();
    char* out = output.data();
    size_t inLeft = text.size(), outLeft = output.size();
    const bool done = iconv(converter, &in, &inLeft, &out, &outLeft) != size_t(-1)
        && iconv(converter, nullptr, nullptr, &out, &outLeft) != size_t(-1);
    iconv_close(converter);
    return done ? std::string(output.data(), out) : "refused";
}

} // namespace

class TestStagingNames : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;

    std::string source(const QString& relative) const { return m_home->path() + "/src/" + relative.toStdString(); }

    // Each name a file in the folder "d", its content its own name; a
    // name ending in "/" a folder.
    StagedContent stage(const QStringList& names, const QStringList& extra = {}) const
    {
        for (const QString& name : names + extra) {
            if (name.endsWith('/'))
                fs::create_directories(source("d/" + name));
            else
                m_home->writeFile("src/d/" + name.toStdString(), name.toStdString());
        }
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        return Util::fixProhibitedCharacters(folders, {source("d")}, [] { return false; });
    }

    // The archive's entries as Windows shows them, below "archive/d/".
    static QStringList shownEntries(const StagedContent& content)
    {
        QStringList names;
        for (const std::string& entry : content.expectedEntries)
            names << ArchiveContent::shownOnWindows(entry).section('/', 2);
        names.sort();
        return names;
    }

private slots:
    void init() { m_home.emplace(); }

    // Plain ASCII names skip the converter: the writer's converter must
    // give every such name back as it is, both ways.
    void asciiNamesConvertAsTheWriterConverts()
    {
        const Cp932Name names;
        QVERIFY(names.isAvailable());
        for (int c = 1; c < 0x80; ++c) {
            const std::string name = std::string("a") + char(c) + "z";
            const QByteArray where = "byte " + QByteArray::number(c, 16);
            QVERIFY2(names.fromFileName(name) == throughIconv("CP932//TRANSLIT", "UTF-8-MAC", name), where);
            QVERIFY2(names.toUtf8(name) == throughIconv("UTF-8", "CP932", name), where);
        }
        // Anything else still goes through it.
        QCOMPARE(names.fromFileName("cafe\u0301"), std::optional<std::string>("cafe"));
    }

    void namesEachFile_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("renamed");
        const auto row = [](const char* title, const QStringList& names, const QStringList& renamed) {
            QTest::newRow(title) << names << renamed;
        };
        // An unchanged name never gets a number, whichever the folder lists
        // first.
        row("prohibited character meets a name", {"a*b.txt", "a_b.txt"}, {"a*b.txt → a_b (2).txt rn"});
        row("prohibited character meets two", {"a*b.txt", "a_b.txt", "a_b (2).txt"}, {"a*b.txt → a_b (3).txt rn"});
        row("prohibited character at the end", {"x?.txt", "x_.txt"}, {"x?.txt → x_ (2).txt rn"});
        row("wave dash meets full-width tilde", {"10〜12月.txt", "10～12月.txt"}, {"10〜12月.txt → 10～12月 (2).txt tn"});
        row("double vertical line meets parallel", {"‖.txt", "∥.txt"}, {"‖.txt → ∥ (2).txt tn"});
        row("em dash meets horizontal bar", {"A—B.txt", "A―B.txt"}, {"A—B.txt → A―B (2).txt tn"});
        row("accents meet the plain name", {"résumé.txt", "resume.txt"}, {"résumé.txt → resume (2).txt tn"});
        row("decomposed accents meet the plain name", {"re\u0301sume\u0301.txt", "resume.txt"},
            {"re\u0301sume\u0301.txt → resume (2).txt tn"});
        row("two changed names meet", {"a*b.txt", "a?b.txt"}, {"a*b.txt → a_b.txt r", "a?b.txt → a_b (2).txt rn"});
        row("stand-in meets a name", {"ß.txt", "ss.txt"}, {"ß.txt → ss (2).txt sn"});

        // Stand-ins, one row each; decomposed kana as a Mac writes them.
        row("vu, decomposed", {"\u3046\u3099.txt"}, {"\u3046\u3099.txt → う゛.txt s"});
        row("vu, composed", {"\u3094.txt"}, {"\u3094.txt → う゛.txt s"});
        row("va", {"\u30F7.txt"}, {"\u30F7.txt → ワ゛.txt s"});
        row("va, decomposed", {"\u30EF\u3099.txt"}, {"\u30EF\u3099.txt → ワ゛.txt s"});
        row("vi", {"\u30F8.txt"}, {"\u30F8.txt → ヰ゛.txt s"});
        row("ve", {"\u30F9.txt"}, {"\u30F9.txt → ヱ゛.txt s"});
        row("vo", {"\u30FA.txt"}, {"\u30FA.txt → ヲ゛.txt s"});
        row("ka with semi-voiced mark", {"\u304B\u309A.txt"}, {"\u304B\u309A.txt → か゜.txt s"});
        row("micro sign", {"\u00B5m.txt"}, {"\u00B5m.txt → μm.txt s"});
        row("en dash", {"1\u20132.txt"}, {"1\u20132.txt → 1-2.txt s"});
        row("figure dash", {"1\u20122.txt"}, {"1\u20122.txt → 1-2.txt s"});
        row("sharp s", {"Straße.txt"}, {"Straße.txt → Strasse.txt s"});
        row("OE", {"Œuvre.txt"}, {"Œuvre.txt → OEuvre.txt s"});
        row("oe", {"cœur.txt"}, {"cœur.txt → coeur.txt s"});
        row("AE", {"Æsop.txt"}, {"Æsop.txt → AEsop.txt s"});
        row("O with stroke", {"Øre.txt"}, {"Øre.txt → Ore.txt s"});
        row("L with stroke", {"Łódź.txt"}, {"Łódź.txt → Lodz.txt st"});
        row("copyright", {"©2024.txt"}, {"©2024.txt → (C)2024.txt s"});
        row("registered", {"X®.txt"}, {"X®.txt → X(R).txt s"});
        row("trade mark", {"X™.txt"}, {"X™.txt → XTM.txt s"});
        row("kichi", {"𠮷野.txt"}, {"𠮷野.txt → 吉野.txt s"});
        row("kamome", {"森鷗外.txt"}, {"森鷗外.txt → 森鴎外.txt s"});
        row("hagu", {"剝.txt"}, {"剝.txt → 剥.txt s"});
        row("shikaru", {"𠮟.txt"}, {"𠮟.txt → 叱.txt s"});
        row("tsunagu", {"繫.txt"}, {"繫.txt → 繋.txt s"});
        row("hoho", {"頰.txt"}, {"頰.txt → 頬.txt s"});
        row("tsukamu", {"摑.txt"}, {"摑.txt → 掴.txt s"});
        row("uso", {"噓.txt"}, {"噓.txt → 嘘.txt s"});
        // What the converter composes itself, or holds, is no change.
        row("ga, decomposed", {"\u304B\u3099.txt"}, {});
        row("pa, decomposed", {"\u306F\u309A.txt"}, {});
        row("katakana vu, decomposed", {"\u30A6\u3099.txt"}, {});
        row("still unconvertible", {"寿司🍣.txt"}, {"寿司🍣.txt → 寿司_.txt t"});
        row("stand-in and unconvertible", {"ß🍣.txt"}, {"ß🍣.txt → ss_.txt st"});

        // Names Windows cannot create.
        row("device name with extension", {"CON.txt"}, {"CON.txt → CON_.txt w"});
        row("device name alone, lower case", {"nul"}, {"nul → nul_ w"});
        row("device names of every kind", {"prn.doc", "Aux", "COM1.tar.gz", "lpt9", "con .txt"},
            {"Aux → Aux_ w", "COM1.tar.gz → COM1_.tar.gz w", "con .txt → con _.txt w", "lpt9 → lpt9_ w",
             "prn.doc → prn_.doc w"});
        row("names that only look like devices", {"COM0.txt", "LPT10", "CONSOLE.txt", "xCON"}, {});
        row("trailing dot", {"memo."}, {"memo. → memo_ w"});
        row("trailing blank", {"memo "}, {"memo  → memo_ w"});
        row("dots alone", {"..."}, {"... → _ w"});
        row("windows twins by trailing dots", {"memo.", "memo..", "memo"},
            {"memo. → memo_ w", "memo.. → memo__ w"});
        row("windows twins by case", {"memo.", "MEMO_"}, {"memo. → memo_ (2) wn"});
        row("device name meets its renamed form", {"con.txt", "CON_.txt"}, {"con.txt → con_ (2).txt wn"});
        // The conversion itself can make a name Windows refuses.
        row("device name once transliterated", {"CÖN.txt", "nül"}, {"CÖN.txt → CON_.txt wt", "nül → nul_ wt"});
        row("forbidden character once transliterated", {"a≮b.txt", "x≯y.txt", "x_y.txt"},
            {"a≮b.txt → a_b.txt rt", "x≯y.txt → x_y (2).txt rtn"});
        // Tag characters convert to nothing; the file must still have a name.
        row("nothing left once converted", {"\U000E0001", "sub/\U000E0001"},
            {"\U000E0001 → _ wt", "sub/\U000E0001 → sub/_ wt"});
        row("trailing no-break space, a blank once converted", {"memo\u00A0"}, {"memo\u00A0 → memo_ wt"});
        // What shows nothing goes, and other spaces are spaces: the name
        // reads as the sender sees it.
        row("invisible characters", {"見積\u200B書.txt", "葛\U000E0100飾区.txt", "平成\u00A030年.txt"},
            {"見積\u200B書.txt → 見積書.txt t", "葛\U000E0100飾区.txt → 葛飾区.txt t",
             "平成\u00A030年.txt → 平成 30年.txt t"});
    }

    void namesEachFile()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, renamed);
        const StagedContent content = stage(names);
        QStringList reported;
        for (const RenamedItem& item : content.report.renamed)
            reported << describe(item);
        reported.sort();
        renamed.sort();
        QCOMPARE(reported, renamed);
        // The report tells the truth: each name not reported is in the
        // archive as it is, and each reported one under its new name.
        QStringList expected;
        for (const QString& name : names) {
            const auto found = std::find_if(renamed.begin(), renamed.end(),
                                            [&](const QString& line) { return line.startsWith(name + " → "); });
            expected << (found == renamed.end() ? composed(name) : found->section(" → ", 1).section(' ', 0, -2));
        }
        expected.sort();
        QCOMPARE(shownEntries(content), expected);
        QVERIFY(content.report.warnings.empty());
    }

    // A folder whose name holds ".DS_Store" keeps the writer's result: its
    // files stay out, and only a folder with no visible name in it gets an
    // entry of its own.
    void foldersHoldingDsStore_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("with files") << QStringList{"ok", "x.DS_Store/f.txt", "x.DS_Store/g.txt"} << QStringList{"ok"};
        QTest::newRow("with a hidden file only")
            << QStringList{"ok", "x.DS_Store/.hidden"} << QStringList{"ok", "x.DS_Store/"};
        QTest::newRow("empty") << QStringList{"ok", "x.DS_Store/"} << QStringList{"ok", "x.DS_Store/"};
        QTest::newRow("a file alone in its folder")
            << QStringList{"ok", "sub/x.DS_Store.txt"} << QStringList{"ok"};
        // A zero-width space converts to nothing: the name then reads
        // ".DS_Store", and stays out.
        QTest::newRow("once converted") << QStringList{".DS\u200B_Store", "sub/.DS\u200B_Store", "sub/k.txt"}
                                        << QStringList{"sub/k.txt"};
    }
    void foldersHoldingDsStore()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, entries);
        const StagedContent content = stage(names);
        QCOMPARE(shownEntries(content), entries);
    }

    // The path, below a 60-character folder, reaches Windows' 260: warned
    // with its length. One character less is no warning.
    void longPathsAreWarned_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<QChar>("folderCharacter");
        // "archive/d/" and the path below "d": 10 + 190 + 60 = 260.
        QTest::newRow("reaches 260") << 190 << true << QChar(0x6587);
        QTest::newRow("259") << 189 << false << QChar(0x6587);
        QTest::newRow("far beyond") << 240 << true << QChar(0x6587);
        QTest::newRow("ASCII only, reaches 260") << 190 << true << QChar('k');
        QTest::newRow("ASCII only, 259") << 189 << false << QChar('k');
    }
    void longPathsAreWarned()
    {
        QFETCH(int, nameLength);
        QFETCH(bool, warned);
        QFETCH(QChar, folderCharacter);
        // Characters, not bytes, count: a folder of 80 kanji (240 bytes)
        // and a file of ASCII.
        const QString name = QString(80, folderCharacter) + "/" + QString(nameLength - 81, 'x');
        const StagedContent content = stage({name});
        QCOMPARE(content.report.warnings.size(), size_t(warned ? 1 : 0));
        if (warned) {
            QCOMPARE(content.report.warnings.front().warning, WindowsWarning::PathTooLong);
            QCOMPARE(content.report.warnings.front().length, 10 + nameLength);
            QCOMPARE(QString::fromStdString(content.report.warnings.front().inArchive), "archive/d/" + name);
        }
    }
};

QTEST_GUILESS_MAIN(TestStagingNames)
#include "tst_StagingNames.moc"
