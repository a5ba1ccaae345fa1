// Util's shared rules on real trees: the content folder built with the names
// the archive will show on Windows, which name each file gets and why, what
// is left out and why, and the names and passwords Windows and zipcloak
// accept.
#include "../gconv/IconvRun.h"
#include "ArchiveContent.h"
#include "ArchiveName.h"
#include "Cp932Name.h"
#include "FileManager.h"
#include "PasswordRule.h"
#include "SpaceCheck.h"
#include "SyscallRefusal.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TmpfsMounts.h"
#include "Utf8Sequence.h"
#include "Util.h"
#include "WorkFolders.h"

#include <QtTest>

#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <numeric>
#include <sys/stat.h>

namespace fs = std::filesystem;

using Names = std::vector<std::string>;
using Reasons = std::vector<LeftOutReason>;
Q_DECLARE_METATYPE(Names)
Q_DECLARE_METATYPE(Reasons)
Q_DECLARE_METATYPE(PasswordRule::Problem)

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
    return Utf8Sequence::decoded(item.original).section('/', 1) + " → "
        + Utf8Sequence::decoded(item.inArchive).section('/', 2) + " " + flags;
}

// The archive's entries as Windows shows them, composed and sorted; upper,
// in upper case, as Windows compares names.
QStringList shown(const StagedContent& content, bool upper = false)
{
    QStringList names;
    for (const std::string& entry : content.expectedEntries) {
        const QString name = ArchiveContent::shownOnWindows(entry).normalized(QString::NormalizationForm_C);
        names << (upper ? name.toUpper() : name);
    }
    names.sort();
    return names;
}

} // namespace

class TestUtil : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home; // where the trees are built, one for each test
    TmpfsMounts m_mounts;           // file systems of the test's own

    std::string source(const QString& relative) const { return m_home->path() + "/src/" + relative.toStdString(); }

    // "path=content" makes a file, "path/" a folder, "path->target" a link.
    void makeTree(const QStringList& items) const
    {
        for (const QString& item : items) {
            if (item.contains("->")) {
                fs::create_directories(fs::path(source(item.section("->", 0, 0))).parent_path());
                fs::create_symlink(item.section("->", 1).toStdString(), source(item.section("->", 0, 0)));
            } else if (item.endsWith('/')) {
                fs::create_directories(source(item));
            } else {
                m_home->writeFile("src/" + item.section('=', 0, 0).toStdString(), item.section('=', 1).toStdString());
            }
        }
    }

    // dropped: paths below the tree's folder, or absolute.
    StagedContent build(const QStringList& dropped) const
    {
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        std::vector<std::string> items;
        for (const QString& item : dropped)
            items.push_back(item.startsWith('/') ? item.toStdString() : source(item));
        return Util::fixProhibitedCharacters(folders, items, [] { return false; });
    }

    // The folder "d" given, holding each name as a file with its own name
    // as content, or as a folder when it ends in "/".
    StagedContent stage(const QStringList& names) const
    {
        QStringList tree;
        for (const QString& name : names)
            tree << "d/" + name + (name.endsWith('/') ? QString() : "=" + name);
        makeTree(tree);
        return build({"d"});
    }

    // A file system of the test's own below the home, where no hard link
    // from the home reaches; empty when none can be mounted.
    std::string otherFileSystem()
    {
        const std::string folder = m_home->path() + "/other";
        fs::create_directories(folder);
        return m_mounts.mount(folder, "size=16m") ? folder : std::string();
    }

private slots:
    void init() { m_home.emplace(); }
    void cleanup() { m_mounts.unmountAll(); }

    void replacesProhibitedCharacters_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("fixed");
        QTest::newRow("all nine, slash kept") << QByteArray("a/\\<>:*?\"¥|") << QByteArray("a/_________");
        // Full-width look-alikes; "ュ", "å", "Â" and U+00A0 hold the bytes A5
        // or C2 without being "¥".
        QTest::newRow("other characters kept") << QByteArray("＼＜＞：＊？＂￥｜ュåÂ\xC2\xA0")
                                               << QByteArray("＼＜＞：＊？＂￥｜ュåÂ\xC2\xA0");
        QTest::newRow("invalid UTF-8 kept")
            << QByteArray("\xff\xfe?\x80 x\xA5y x\xC2") << QByteArray("\xff\xfe_\x80 x\xA5y x\xC2");
    }
    void replacesProhibitedCharacters()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fixed);
        QCOMPARE(QByteArray::fromStdString(Util::replaceProhibitedCharacters(name.toStdString())), fixed);
    }


    void passwordRule_data()
    {
        using P = PasswordRule::Problem;
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<P>("problem");
        QTest::addColumn<QByteArray>("windowsBytes"); // null: none
        QTest::addColumn<bool>("needsJapaneseWindows");
        const auto row = [](const char* name, const QByteArray& password, P problem, const QByteArray& bytes,
                            bool japanese) { QTest::newRow(name) << password << problem << bytes << japanese; };
        const QByteArray none;
        row("empty", QByteArray(), P::Empty, "", false);
        row("delete", "a\x7f", P::ControlCharacter, "a\x7f", false);
        row("ASCII unchanged", "-a\"b\\c$ ~", P::None, "-a\"b\\c$ ~", false);
        // 表 ends in 0x5C; half-width kana are one byte.
        row("Japanese as code page 932", "パスワード表ｱ", P::None,
            "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68\x95\x5c\xb1", true);
        row("NEC extension", "①㈱", P::None, "\x87\x40\x87\x8a", true);
        row("emoji", "パスワード😀", P::OutsideCp932, none, true);
        row("Korean", "비밀", P::OutsideCp932, none, true);
        row("not UTF-8", "\x83\x70", P::NotUtf8, none, true);
        row("not UTF-8 after ASCII", "caf\xe9", P::NotUtf8, none, true);
        // As a Mac writes kana: the receiver types the one character.
        row("decomposed kana", "\xe3\x81\x8b\xe3\x82\x99", P::None, "\x82\xaa", true);
        row("accent, composed or not", "cafe\xcc\x81", P::OutsideCp932, none, true);
        // Code page 932 holds them as they are; composed, they would change.
        row("compatibility kanji", "\xef\xa8\x90x", P::None, "\xfa\x9cx", true);
        row("angstrom sign", "\xe2\x84\xabx", P::None, "\x81\xf0x", true);
        // A file saved by Notepad starts with one; nothing is typed for it.
        // nor is a note given: the receiver types plain ASCII.
        row("byte-order mark", "\xef\xbb\xbfpw", P::None, "pw", false);
        row("tag characters alone", "\xf3\xa0\x81\x81", P::OutsideCp932, "", false);
        // Code page 932's 0x5C: elsewhere a backslash.
        row("yen sign", "\xc2\xa5pw", P::None, "\x5cpw", true);
        // zipcloak counts bytes: 39 Japanese characters are 78 of them in
        // code page 932 (117 in UTF-8).
        const QByteArray japanese = QString(39, QChar(0x79D8)).toUtf8();
        const QByteArray japaneseBytes = QByteArray("\x94\xe9").repeated(39);
        row("80 bytes, Japanese", japanese + "ab", P::None, japaneseBytes + "ab", true);
        row("81 bytes, Japanese", japanese + "abc", P::TooLong, japaneseBytes + "abc", true);
        row("80 bytes, ASCII", QByteArray(80, 'x'), P::None, QByteArray(80, 'x'), false);
        row("81 bytes, ASCII", QByteArray(81, 'x'), P::TooLong, QByteArray(81, 'x'), false);
    }
    // The rule judges the bytes Japanese Windows types, not the UTF-8.
    void passwordRule()
    {
        QFETCH(QByteArray, password);
        QFETCH(PasswordRule::Problem, problem);
        QFETCH(QByteArray, windowsBytes);
        QFETCH(bool, needsJapaneseWindows);
        QCOMPARE(PasswordRule::check(password.toStdString()), problem);
        const std::optional<std::string> bytes = PasswordRule::windowsBytes(password.toStdString());
        QCOMPARE(bytes.has_value(), !windowsBytes.isNull());
        if (bytes)
            QCOMPARE(QByteArray::fromStdString(*bytes), windowsBytes);
        QCOMPARE(PasswordRule::needsJapaneseWindows(password.toStdString()), needsJapaneseWindows);
    }

    // Length as asked, a-z and 0-9 only, every pair of neighbours equally
    // likely. Chi-square with 1295 degrees of freedom exceeds 1600 with
    // probability about 1e-8; a missing character, a doubled weight, a biased
    // position or a repeated draw gives thousands.
    void randomPasswordIsUniform()
    {
        const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
        double pairs[36 * 36] {};
        double expected = 0;
        for (int i = 0; i < 9000; ++i) {
            const std::string password = Util::randomPassword(1 + i % 31);
            QCOMPARE(password.size(), size_t(1 + i % 31));
            QVERIFY2(password.find_first_not_of(alphabet) == std::string::npos, password.c_str());
            for (size_t at = 1; at < password.size(); ++at, expected += 1 / 1296.0)
                ++pairs[36 * alphabet.find(password[at - 1]) + alphabet.find(password[at])];
        }
        const double chiSquare = std::accumulate(std::begin(pairs), std::end(pairs), 0.0, [&](double sum, double n) {
            return sum + (n - expected) * (n - expected) / expected;
        });
        QVERIFY2(chiSquare < 1600, qPrintable(QString("chi-square %1").arg(chiSquare)));
    }


    // The archive's own name, fitted for Windows.
    void fitsTheArchiveNameForWindows_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("fitted");
        auto row = [](const char* label, const char* name, const char* fitted) {
            QTest::newRow(label) << QByteArray(name) << QByteArray(fitted);
        };
        row("plain", "見積書", "見積書");
        row("the nine characters", "a<b>c:d\"e|f?g*h\\i", "a_b_c_d_e_f_g_h_i");
        row("a device name", "CON", "CON_");
        row("a device name in another case", "lpt1", "lpt1_");
        row("a port with a superscript digit", "COM\u00b9", "COM\u00b9_");
        row("a printer with a superscript digit", "lpt\u00b3", "lpt\u00b3_");
        row("other superscripts name no device", "COM\u2074", "COM\u2074");
        row("trailing dots and blanks go", "report. . ", "report");
        row("leading dots would hide it", "..config", "config");
        row("leading blanks", "  memo", "memo");
        row("nothing but dots", "...", "archive");
        row("empty", "", "archive");
        row("the root folder", "/", "archive");
        row("a control character", "a\tb\x7f" "c", "a_b_c");
        row("a C1 control character", "a\xc2\x85" "b", "a_b");
        row("bytes that are no UTF-8", "caf\xe9" "-\xff", "caf_-_");
        row("a truncated sequence", "ab\xe8\xa6", "ab__");
        row("an overlong sequence", "a\xc0\xaf\xff" "b", "a___b");
        // Names from Windows, unpacked as they were: Windows reads them so.
        row("code page 932", "\x8c\xa9\x90\xcf\x8f\x91", "見積書");
        row("code page 932 with a prohibited character", "\x8c\xa9\x90\xcf?", "見積_");
        // What shows nothing goes, as it goes from the names inside: an
        // override would show "請求書piz.exe.pdf" on Windows.
        row("a right-to-left override", "請求書\u202e" "fdp.exe", "請求書fdp.exe");
        row("a zero-width space and a byte order mark", "zw\u200bsp\ufeff", "zwsp");
        row("a variation selector", "葛\U000E0100飾", "葛飾");
        row("nothing but invisible characters", "\u200b\u2060", "archive");
        row("decomposed, as from a Mac", "\u30c6\u3099\u30fc\u30bf", "\u30c7\u30fc\u30bf");
        row("invisible beside bytes that are no UTF-8", "a\xff\u200d" "b", "a_b");
        // Blanks of other widths are blanks, and go at either end.
        row("no-break spaces", "\u00a0a\u00a0b\u00a0", "a b");
        row("a line separator", "a\u2028" "b", "a b");
        row("nothing but separators", "\u2029\u00a0", "archive");
        row("ideographic spaces at the ends, kept inside", "\u3000見積書\u3000最終\u3000", "見積書\u3000最終");
        row("nothing but ideographic spaces", "\u3000\u3000", "archive");
        row("a dot behind a blank would still hide it", " .\u3000.config", "config");
        // An accent before any letter forms none.
        row("an accent first", "\u0301a", "a");
        row("nothing but an accent", "\u0301", "archive");
    }
    void fitsTheArchiveNameForWindows()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fitted);
        QCOMPARE(QByteArray::fromStdString(ArchiveName::fitted(name.toStdString())), fitted);
    }

    // Long names are cut at a character's end, with room left for a number
    // and ".zip" within the 255 bytes a name may have.
    void cutsLongArchiveNamesAtACharacter()
    {
        std::string name;
        for (int i = 0; i < 100; ++i)
            name += "見";
        const std::string fitted = ArchiveName::fitted(name);
        QVERIFY(fitted.size() <= 200);
        QCOMPARE(fitted.size() % 3, std::size_t(0));
        QVERIFY(fitted.size() + std::string("99999.zip").size() <= 255);
        QVERIFY(name.starts_with(fitted));
    }

    void namesTheArchiveAfterTheItems_data()
    {
        QTest::addColumn<Names>("items"); // below the test folder, or absolute
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("a file without its extension") << Names{"見積書フォルダ/見積書.xlsx"} << QByteArray("見積書");
        QTest::newRow("only the last extension") << Names{"見積書フォルダ/data.tar.gz"} << QByteArray("data.tar");
        QTest::newRow("a file without extension") << Names{"見積書フォルダ/README"} << QByteArray("README");
        QTest::newRow("a hidden file") << Names{"見積書フォルダ/.profile"} << QByteArray("profile");
        QTest::newRow("a folder keeps its dots") << Names{"見積書フォルダ/v1.2"} << QByteArray("v1.2");
        QTest::newRow("a folder given with a slash") << Names{"見積書フォルダ/v1.2/"} << QByteArray("v1.2");
        QTest::newRow("several: the first one's folder") << Names{"見積書フォルダ/見積書.xlsx", "other/b.txt"} << QByteArray("見積書フォルダ");
        QTest::newRow("a missing file is named all the same") << Names{"見積書フォルダ/gone.txt"} << QByteArray("gone");
        // Read whole as Windows' Japanese, as its entry is, before the
        // extension goes: "ソ" alone would not read so.
        QTest::newRow("a name from Windows") << Names{"見積書フォルダ/\x83\x5c.\x83\x65\x83\x58\x83\x67"}
                                             << QByteArray("ソ");
        QTest::newRow("the root folder gives no name") << Names{"/etc", "/usr"} << QByteArray("archive");
        QTest::newRow("nothing") << Names{} << QByteArray("archive");
    }
    void namesTheArchiveAfterTheItems()
    {
        QFETCH(Names, items);
        QFETCH(QByteArray, name);
        makeTree({"見積書フォルダ/見積書.xlsx=x", "見積書フォルダ/data.tar.gz=x", "見積書フォルダ/README=x",
                  "見積書フォルダ/.profile=x", "見積書フォルダ/v1.2/inside.txt=x", "other/b.txt=x"});
        for (std::string& item : items) // bytes as they are
            item = item.starts_with('/') ? item : source({}) + item;
        QCOMPARE(QByteArray::fromStdString(ArchiveName::forItems(items)), name);
    }

    // Plain ASCII names skip the converter: the writer's converter must
    // give every such name back as it is, both ways.
    void asciiNamesConvertAsTheWriterConverts()
    {
        const Cp932Name names;
        QVERIFY(names.isAvailable());
        const iconv_t toCp932 = iconv_open("CP932//TRANSLIT", "UTF-8-MAC");
        const iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
        QVERIFY(toCp932 != iconv_t(-1) && toUtf8 != iconv_t(-1));
        const auto close = qScopeGuard([=] {
            iconv_close(toCp932);
            iconv_close(toUtf8);
        });
        for (int c = 1; c < 0x80; ++c) {
            const std::string name = std::string("a") + char(c) + "z";
            const IconvRun cp932 = convertWhole(toCp932, name), utf8 = convertWhole(toUtf8, name);
            const QByteArray where = "byte " + QByteArray::number(c, 16);
            QVERIFY2(cp932.error == 0 && names.fromFileName(name) == cp932.output, where);
            QVERIFY2(utf8.error == 0 && names.toUtf8(name) == utf8.output, where);
        }
        // Anything else still goes through it.
        QCOMPARE(names.fromFileName("cafe\u0301"), std::optional<std::string>("cafe"));
    }

    // Of names Windows takes for one, which keeps it does not hang on
    // the order the file system lists the folder in (on ext4, a hash of
    // the names): a composed name first, then the byte order. Four pairs
    // in one folder: a listing order that decided would get each right
    // only by chance.
    void theSameTwinKeepsItsNameOnEveryDisk_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("renamed");
        QTest::newRow("letter case")
            << QStringList{"Report.txt", "report.TXT", "MEMO", "memo", "X.txt", "x.TXT", "Ｂ.txt", "ｂ.txt"}
            << QStringList{"report.TXT → report (2).TXT n", "memo → memo (2) n", "x.TXT → x (2).TXT n",
                           "ｂ.txt → ｂ (2).txt n"};
        const QString ga = QString("か") + QChar(0x3099), pa = QString("ハ") + QChar(0x309A);
        QTest::newRow("composed and decomposed")
            << QStringList{"が.txt", ga + ".txt", "パ", pa, "ぱ.md", QString("は") + QChar(0x309A) + ".md"}
            << QStringList{ga + ".txt → が (2).txt n", pa + " → パ (2) n",
                           QString("は") + QChar(0x309A) + ".md → ぱ (2).md n"};
        QTest::newRow("folders and files") << QStringList{"Data/", "data", "data.csv", "DATA.CSV"}
                                           << QStringList{"data → data (2) n", "data.csv → data (2).csv n"};
    }
    void theSameTwinKeepsItsNameOnEveryDisk()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, renamed);
        QStringList reported;
        for (const RenamedItem& item : stage(names).report.renamed)
            reported << describe(item);
        reported.sort();
        renamed.sort();
        QCOMPARE(reported, renamed);
    }

    // Which name each file in a folder gets, and why. Names that need no
    // change keep them; changed ones give way; stand-ins come before "_";
    // every name is one Windows can create, and twins by Windows' rules end
    // apart.
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
        const char* standIns[][2] = {
            {"\u3046\u3099", "う゛"}, {"\u3094", "う゛"}, {"\u30F7", "ワ゛"}, {"\u30EF\u3099", "ワ゛"},
            {"\u30F8", "ヰ゛"}, {"\u30F9", "ヱ゛"}, {"\u30FA", "ヲ゛"}, {"\u304B\u309A", "か゜"}, {"\u00B5m", "μm"},
            {"1\u20132", "1-2"}, {"1\u20122", "1-2"}, {"Straße", "Strasse"}, {"Œuvre", "OEuvre"}, {"cœur", "coeur"},
            {"Æsop", "AEsop"}, {"Øre", "Ore"}, {"©2024", "(C)2024"}, {"X®", "X(R)"}, {"X™", "XTM"}, {"𠮷野", "吉野"},
            {"森鷗外", "森鴎外"}, {"剝", "剥"}, {"𠮟", "叱"}, {"繫", "繋"}, {"頰", "頬"}, {"摑", "掴"}, {"噓", "嘘"},
            {"H₂O", "H2O"}, {"10m²", "10m2"}, {"x⁹", "x9"}, {"ﬁle", "file"}, {"Ⅻ月", "XII月"}, {"ⅿ", "m"},
            {"A·B", "A・B"}};
        for (const auto& [from, to] : standIns)
            row(from, {QString(from) + ".txt"}, {QString(from) + ".txt → " + to + ".txt s"});
        row("L with stroke", {"Łódź.txt"}, {"Łódź.txt → Lodz.txt st"});
        row("middle dot and accent", {"Café·Bar.txt"}, {"Café·Bar.txt → Cafe・Bar.txt st"});
        // Code page 932 holds the letter as the angstrom sign: no change.
        row("A with ring", {"Åsa様.txt", "A\u030Ango.txt"}, {});
        row("an accent that forms no letter", {"q\u0301.txt"}, {"q\u0301.txt → q.txt t"});
        // What the converter composes itself, or holds, is no change.
        row("ga, pa and katakana vu, decomposed", {"\u304B\u3099.txt", "\u306F\u309A.txt", "\u30A6\u3099.txt"}, {});
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
        // A byte-order mark is such a character, first in the name too.
        // (QString from a narrow literal drops a leading one.)
        row("a byte-order mark first", {QStringLiteral("\uFEFF"), "sub/\uFEFF", QStringLiteral("\uFEFFab.txt")},
            {QStringLiteral("\uFEFF → _ wt"), "sub/\uFEFF → sub/_ wt", QStringLiteral("\uFEFFab.txt → ab.txt t")});
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
            expected << "archive/d/"
                    + (found == renamed.end() ? name.normalized(QString::NormalizationForm_C)
                                              : found->section(" → ", 1).section(' ', 0, -2));
        }
        expected.sort();
        QCOMPARE(shown(content), expected);
        QVERIFY(content.report.warnings.empty());
    }

    // A name that is no UTF-8 but whole code page 932 came from Windows
    // (an archive unpacked with its names as they were): Windows reads it
    // as that text again, unchanged. Other bytes that are no character
    // become "_".
    void readsNamesWindowsWrote_data()
    {
        QTest::addColumn<QByteArray>("name"); // below the given folder "d"
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("renamed");
        QTest::newRow("a folder and a file") << QByteArray("\x8c\xa9\x90\xcf\x8f\x91/\x90\xbf\x8b\x81\x8f\x91.txt")
                                             << "archive/d/見積書/請求書.txt" << 2;
        // 0x5C, the backslash, is the second byte of ソ and 表; "一覧" reads
        // as a character of UTF-8 by chance.
        QTest::newRow("second bytes in ASCII")
            << QByteArray("\x83\x5c\x83\x74\x83\x67\x88\xea\x97\x97\x95\x5c.txt") << "archive/d/ソフト一覧表.txt" << 1;
        QTest::newRow("ソ alone") << QByteArray("\x83\x5c.txt") << "archive/d/ソ.txt" << 1;
        QTest::newRow("表 between letters") << QByteArray("a\x95\x5c" "b.txt") << "archive/d/a表b.txt" << 1;
        QTest::newRow("a rarer kanji with a backslash") << QByteArray("\xe0\x5c.txt") << "archive/d/濬.txt" << 1;
        QTest::newRow("katakana alone") << QByteArray("\x83\x66\x81\x5b\x83\x5e.txt") << "archive/d/データ.txt" << 1;
        // Parts of them read as characters of UTF-8 no name holds.
        QTest::newRow("一覧") << QByteArray("\x88\xea\x97\x97.txt") << "archive/d/一覧.txt" << 1;
        QTest::newRow("報告書") << QByteArray("\x95\xf1\x8d\x90\x8f\x91.docx") << "archive/d/報告書.docx" << 1;
        QTest::newRow("写真") << QByteArray("\x8e\xca\x90\x5e") << "archive/d/写真" << 1;
        QTest::newRow("half-width katakana") << QByteArray("\xc3\xbd\xc4\x8e\x91\x97\xbf.txt") << "archive/d/ﾃｽﾄ資料.txt"
                                             << 1;
        QTest::newRow("half-width katakana alone") << QByteArray("\xb6\xc0\xb6\xc5.txt") << "archive/d/ｶﾀｶﾅ.txt" << 1;
        QTest::newRow("two half-width katakana") << QByteArray("\xd2\xd3.txt") << "archive/d/ﾒﾓ.txt" << 1;
        QTest::newRow("half-width katakana and digits") << QByteArray("\xb6\xc0\xdb\xb8\xde" "2024.pdf")
                                                        << "archive/d/ｶﾀﾛｸﾞ2024.pdf" << 1;
        // One character of UTF-8 by chance, beside a stray byte or before a
        // last byte that starts another.
        QTest::newRow("画像") << QByteArray("\x89\xe6\x91\x9c.jpg") << "archive/d/画像.jpg" << 1;
        QTest::newRow("秘密") << QByteArray("\x94\xe9\x96\xa7.txt") << "archive/d/秘密.txt" << 1;
        QTest::newRow("大西") << QByteArray("\x91\xe5\x90\xbc") << "archive/d/大西" << 1;
        QTest::newRow("蜆搭") << QByteArray("\xe5\x84\x93\x8b") << "archive/d/蜆搭" << 1;
        QTest::newRow("羸寅") << QByteArray("\xe3\xbe\x93\xd0") << "archive/d/羸寅" << 1;
        // Names from older Linux and Unix systems, in EUC-JP.
        QTest::newRow("EUC-JP katakana") << QByteArray("\xa5\xc6\xa5\xb9\xa5\xc8.txt") << "archive/d/テスト.txt" << 1;
        QTest::newRow("EUC-JP kanji") << QByteArray("\xc6\xfc\xcb\xdc\xb8\xec.txt") << "archive/d/日本語.txt" << 1;
        QTest::newRow("EUC-JP hiragana and ASCII") << QByteArray("memo_\xa4\xe1\xa4\xe2.txt")
                                                   << "archive/d/memo_めも.txt" << 1;
        QTest::newRow("beside a prohibited character") << QByteArray("\x8c\xa9\x90\xcf*.txt")
                                                       << "archive/d/見積_.txt" << 1;
        // Otherwise each byte that is no UTF-8 becomes "_", as it always has:
        // Latin-1 and the Western code pages, whose accented letters could
        // read as rarer kanji or half-width katakana; text that is UTF-8 but
        // for a stray byte; a UTF-8 name cut short at its end.
        QTest::newRow("one half-width katakana") << QByteArray("\xb1.txt") << "archive/d/_.txt" << 1;
        QTest::newRow("Latin-1 letters apart") << QByteArray("\xc9t\xe9 \xc0 Z\xfcrich.txt")
                                               << "archive/d/_t_ _ Z_rich.txt" << 1;
        QTest::newRow("Latin-1 that pairs up as EUC-JP") << QByteArray("informa\xe7\xe3o.txt")
                                                        << "archive/d/informa__o.txt" << 1;
        QTest::newRow("Latin-1 that reads as a kanji") << QByteArray("b\xe9x.txt") << "archive/d/b_x.txt" << 1;
        QTest::newRow("a DOS Western name") << QByteArray("M\x81ller.txt") << "archive/d/M_ller.txt" << 1;
        QTest::newRow("Windows' Western quote") << QByteArray("Don\x92t.txt") << "archive/d/Don_t.txt" << 1;
        QTest::newRow("UTF-8 and a stray byte") << QByteArray("見積書\x92t.txt") << "archive/d/見積書_t.txt" << 1;
        QTest::newRow("UTF-8 of two characters and a stray byte") << QByteArray("見積\x92.txt")
                                                                  << "archive/d/見積_.txt" << 1;
        QTest::newRow("UTF-8 of one character cut short") << QByteArray("見\xe7\xa9") << "archive/d/見_" << 1;
        QTest::newRow("UTF-8 cut short at its end") << QByteArray("abc\xe3\x81") << "archive/d/abc_" << 1;
        // A reading too long to be staged (a kanji takes three bytes in
        // UTF-8, two here) is cut at the end of its stem, between
        // characters: it still reads as what the sender wrote.
        QTest::newRow("too long once read") << QByteArray("\x8c\xa9").repeated(86) + ".txt"
                                            << "archive/d/" + QString(83, QChar(0x898B)) + ".txt" << 1;
        QTest::newRow("too long once read, no extension") << QByteArray("\x83\x65").repeated(127) + "x"
                                                          << "archive/d/" + QString(85, QChar(0x30C6)) << 1;
    }
    void readsNamesWindowsWrote()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, entry);
        QFETCH(int, renamed);
        m_home->writeFile("src/d/" + name.toStdString(), "content");

        const StagedContent content = build({"d"});

        QCOMPARE(shown(content).filter(QRegularExpression("[^/]$")), QStringList{entry});
        // Told, as any other change Windows will show.
        QCOMPARE(int(content.report.renamed.size()), renamed);
        QVERIFY(content.report.warnings.empty());
    }

    // A name cut to fit says so, beside what made it grow; one that fits
    // with its stand-ins is not called cut.
    void grownNamesSayTheyWereCut_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("shortened");
        QTest::addColumn<bool>("substituted");
        QTest::addColumn<bool>("readAsJapanese");
        QTest::newRow("stand-ins") << QString(125, QChar(0xA9)).toUtf8() + ".txt" << true << true << false;
        QTest::newRow("stand-ins that fit") << QString(80, QChar(0xA9)).toUtf8() + ".txt" << false << true << false;
        QTest::newRow("a long reading") << QByteArray("\x8c\xa9").repeated(86) + ".txt" << true << false << true;
        QTest::newRow("a reading that fits") << QByteArray("\x8c\xa9").repeated(83) + ".txt" << false << false << true;
    }
    void grownNamesSayTheyWereCut()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, shortened);
        QFETCH(bool, substituted);
        QFETCH(bool, readAsJapanese);
        m_home->writeFile("src/d/" + name.toStdString(), "content");

        const StagedContent content = build({"d"});

        QCOMPARE(content.report.renamed.size(), size_t(1));
        const RenamedItem& item = content.report.renamed.front();
        QCOMPARE(item.shortened, shortened);
        QCOMPARE(item.substituted, substituted);
        QCOMPARE(item.readAsJapanese, readAsJapanese);
        QVERIFY(content.report.leftOut.empty());
        // The staged name, one path component of the entry, fits.
        const std::string inArchive = item.inArchive;
        QVERIFY(inArchive.size() - inArchive.rfind('/') - 1 <= 255);
    }

    // The writer leaves out every file whose path holds ".DS_Store"; only
    // the system's own file of that name is meant. Other names holding it,
    // folders' too, arrive with "_" for its dot, and are told as renamed.
    void namesHoldingDsStore_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("renamed");
        QTest::newRow("a folder with files") << QStringList{"ok", "x.DS_Store/f.txt", "x.DS_Store/g.txt"}
                                             << QStringList{"ok", "x_DS_Store/f.txt", "x_DS_Store/g.txt"} << 1;
        QTest::newRow("a folder with a hidden file only") << QStringList{"ok", "x.DS_Store/.hidden"}
                                                          << QStringList{"ok", "x_DS_Store/", "x_DS_Store/.hidden"} << 1;
        QTest::newRow("an empty folder") << QStringList{"ok", "x.DS_Store/"} << QStringList{"ok", "x_DS_Store/"} << 1;
        QTest::newRow("a folder of that very name") << QStringList{".DS_Store/k.txt"} << QStringList{"_DS_Store/k.txt"}
                                                    << 1;
        QTest::newRow("twice in one name") << QStringList{"a.DS_Store.DS_Store.txt"}
                                           << QStringList{"a_DS_Store_DS_Store.txt"} << 1;
        QTest::newRow("the system's file stays out") << QStringList{"ok", "sub/.DS_Store", "sub/.DS_Store.txt"}
                                                     << QStringList{"ok", "sub/_DS_Store.txt"} << 1;
        // Renamed, it meets a name of its own: numbered apart.
        QTest::newRow("meets the name it becomes") << QStringList{"x.DS_Store.txt", "x_DS_Store.txt"}
                                                   << QStringList{"x_DS_Store (2).txt", "x_DS_Store.txt"} << 1;
        // A zero-width space converts to nothing: the name then reads
        // ".DS_Store", and is cleared of it all the same.
        QTest::newRow("once converted") << QStringList{"sub/.DS\u200B_Store", "sub/k.txt"}
                                        << QStringList{"sub/_DS_Store", "sub/k.txt"} << 1;
    }
    void namesHoldingDsStore()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, entries);
        QFETCH(int, renamed);
        const StagedContent content = stage(names);
        for (QString& entry : entries)
            entry.prepend("archive/d/");
        QCOMPARE(shown(content), entries);
        QVERIFY(content.report.leftOut.empty());
        QCOMPARE(int(content.report.renamed.size()), renamed);
        for (const RenamedItem& item : content.report.renamed)
            QVERIFY2(item.keptFromExclusion, item.inArchive.c_str());
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

    // The entries as Windows shows them, how many items were renamed and
    // why items were left out.
    void stagesTheTree_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("renamed");
        QTest::addColumn<Reasons>("leftOut");
        const auto row = [](const char* name, const QStringList& tree, const QStringList& dropped,
                            const QStringList& entries, int renamed, const Reasons& leftOut = {}) {
            QTest::newRow(name) << tree << dropped << entries << renamed << leftOut;
        };
        row("characters outside code page 932", {"d/写真🍣.jpg=1", "d/写真🍜.jpg=2", "d/写真_.jpg=3"}, {"d"},
            {"ARCHIVE/D/写真_ (2).JPG", "ARCHIVE/D/写真_ (3).JPG", "ARCHIVE/D/写真_.JPG"}, 2);
        row("prohibited characters meet a name", {"a:b.txt=1", "a_b.txt=2"}, {"a:b.txt", "a_b.txt"},
            {"ARCHIVE/A_B (2).TXT", "ARCHIVE/A_B.TXT"}, 1);
        row("letter case, full-width too", {"d/Report.txt=1", "d/report.TXT=2", "d/ａ.txt=3", "d/Ａ.txt=4"}, {"d"},
            {"ARCHIVE/D/REPORT (2).TXT", "ARCHIVE/D/REPORT.TXT", "ARCHIVE/D/Ａ (2).TXT", "ARCHIVE/D/Ａ.TXT"}, 2);
        row("composed and decomposed", {"d/が.txt=1", QString("d/か") + QChar(0x3099) + ".txt=2"}, {"d"},
            {"ARCHIVE/D/が (2).TXT", "ARCHIVE/D/が.TXT"}, 1);
        row("folders and files meet at two depths", {"t/s?/x?=1", "t/s?/x*=2", "t/s*/x?=3", "t/s*/x*=4"}, {"t"},
            {"ARCHIVE/T/S_ (2)/X_", "ARCHIVE/T/S_ (2)/X_ (2)", "ARCHIVE/T/S_/X_", "ARCHIVE/T/S_/X_ (2)"}, 6);
        // A link to a file is its content; a link to a folder inside a
        // given folder brings nothing (a link to "/" would bring the whole
        // system); a link the user gave is followed once.
        row("links archived as what they lead to",
            {"d/real.txt=data", "d/link.txt->real.txt", "outside/o.txt=o", "d/out->../outside"}, {"d"},
            {"ARCHIVE/D/LINK.TXT", "ARCHIVE/D/REAL.TXT"}, 0, {LeftOutReason::LinkToFolder});
        row("link to the root folder", {"d/ok=1", "d/sysroot->/"}, {"d"}, {"ARCHIVE/D/OK"}, 0,
            {LeftOutReason::LinkToFolder});
        row("a given link to a folder is followed once", {"outside/o.txt=o", "outside/again->.", "given->outside"},
            {"given"}, {"ARCHIVE/GIVEN/O.TXT"}, 0, {LeftOutReason::LinkToFolder});
        row("dangling link", {"d/ok=1", "d/gone->nowhere"}, {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::DanglingLink});
        // A path on through a file leads nowhere either: not "unreadable".
        row("through a file", {"d/ok=1", "d/through->ok/x"}, {"d", "d/ok/x"}, {"ARCHIVE/D/OK"}, 0,
            {LeftOutReason::Missing, LeftOutReason::DanglingLink});
        row("link loop", {"d/ok=1", "d/loop->."}, {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::LinkToFolder});
        row("the running system's items", {"ok=1"}, {"ok", "/dev/null", "/proc/self", "/sys/kernel"}, {"ARCHIVE/OK"},
            0, {LeftOutReason::SystemItem, LeftOutReason::SystemItem, LeftOutReason::SystemItem});
        // The root folder holds the whole system, the user's files a part of it.
        row("the root folder given, or a given link to it", {"ok=1", "rootlink->/"}, {"ok", "/", "rootlink"},
            {"ARCHIVE/OK"}, 0, {LeftOutReason::SystemItem, LeftOutReason::SystemItem});
        // Inside a folder too: /proc's files tell about their reader, and
        // some never end.
        row("links into the running system", {"d/ok=1", "d/status->/proc/self/status", "d/version->/proc/version"},
            {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::SystemItem, LeftOutReason::SystemItem});
        row("missing item", {}, {"nothing"}, {"ARCHIVE/"}, 0, {LeftOutReason::Missing});
        row("path holding .DS_Store", {"d/ok=1", "d/x.DS_Store.txt=2", "d/.DS_Store=3"}, {"d"},
            {"ARCHIVE/D/OK", "ARCHIVE/D/X_DS_STORE.TXT"}, 1);
        row("a .DS_Store given", {"ok=1", ".DS_Store=2"}, {"ok", ".DS_Store"}, {"ARCHIVE/OK"}, 0,
            {LeftOutReason::ExcludedName});
        row("same item given twice", {"ok=1", "d/"}, {"ok", "d/../ok", "ok"}, {"ARCHIVE/OK"}, 0,
            {LeftOutReason::SameItem, LeftOutReason::SameItem});
        row("same path given four times", {"ok=1"}, {"ok", "ok", "ok", "ok"}, {"ARCHIVE/OK"}, 0,
            {LeftOutReason::SameItem});
        row("one file by several names", {"a.txt=1", "b.txt->a.txt", "d/a.txt->../a.txt"}, {"a.txt", "b.txt", "d/a.txt"},
            {"ARCHIVE/A (2).TXT", "ARCHIVE/A.TXT", "ARCHIVE/B.TXT"}, 1);
        // Given by a link or not, the work root and what is in it (the
        // records of running jobs) stay out.
        row("the program's own work folders",
            {"ok=1", "work->../.quillmere", "inside->../.quillmere/" + QString(WorkFolders::STAGING_DIR_NAME)},
            {"ok", "work", "inside"}, {"ARCHIVE/OK"}, 0, {LeftOutReason::WorkFolder, LeftOutReason::WorkFolder});
        // A job's hidden part file, being written or left by a killed job,
        // is the program's; a name only like it, or a link, is the user's.
        row("a job's part file",
            {"d/ok=1", "d/.archive-k3v9x0q2m7ab.zip.part=2", "d/.archive-ABCDEFGHIJKL.zip.part=3",
             "d/.archive-short.zip.part=4", "d/.archive-aaaaaaaaaaaa.zip.part->ok"},
            {"d", "d/.archive-k3v9x0q2m7ab.zip.part"},
            {"ARCHIVE/D/.ARCHIVE-AAAAAAAAAAAA.ZIP.PART", "ARCHIVE/D/.ARCHIVE-ABCDEFGHIJKL.ZIP.PART",
             "ARCHIVE/D/.ARCHIVE-SHORT.ZIP.PART", "ARCHIVE/D/OK"},
            0, {LeftOutReason::PartFile, LeftOutReason::PartFile});
        // Names that fit, grown past 255 bytes by stand-ins ("©" is
        // "(C)", "ゔ" is "う゛"), give up the end of their stem, never half a
        // character or half its stand-in ("う" alone reads otherwise), nor
        // a decomposed letter's mark, and keep their extension; so does a
        // twin that a number
        // would push past the limit. A device name that needs its "_" where
        // there is no room ("CON" and an extension of 251 bytes) gives up a
        // letter as well.
        row("names grown too long",
            {"d/ok=1", "d/" + QString(125, QChar(0xA9)) + ".txt=2", "d/" + QString(83, QChar(0x3094)) + "/f=3",
             "d/" + QString(251, 'A') + ".txt=4", "d/" + QString(251, 'a') + ".txt=5",
             "d/" + QString(83, QChar(0x6587)) + ".txt=6", "d/" + QString(83, QChar(0x6587)) + ".TXT=7",
             "d/CON." + QString(251, 'x') + "=8",
             "d/" + QString::fromUtf8("\u30c6\u3099\u00a9").repeated(28) + ".txt=9"},
            {"d"},
            {"ARCHIVE/D/" + QString("(C)").repeated(83) + ".TXT", "ARCHIVE/D/" + QString(247, 'A') + " (2).TXT",
             "ARCHIVE/D/" + QString(251, 'A') + ".TXT",
             "ARCHIVE/D/CO." + QString(251, 'X'), "ARCHIVE/D/OK",
             "ARCHIVE/D/" + QString::fromUtf8("う゛").repeated(42) + "/F",
             "ARCHIVE/D/" + QString::fromUtf8("デ(C)").repeated(27) + QString::fromUtf8("デ") + ".TXT",
             "ARCHIVE/D/" + QString(82, QChar(0x6587)) + " (2).TXT", "ARCHIVE/D/" + QString(83, QChar(0x6587)) + ".TXT"},
            6, {});
    }

    void stagesTheTree()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, entries);
        QFETCH(int, renamed);
        QFETCH(Reasons, leftOut);
        makeTree(tree);
        const StagedContent content = build(dropped);
        QCOMPARE(shown(content, true), entries);
        QCOMPARE(int(content.report.renamed.size()), renamed);
        Reasons reasons;
        for (const LeftOutItem& item : content.report.leftOut)
            reasons.push_back(item.reason);
        QVERIFY(reasons == leftOut);
    }

    // Where the system gives no more threads (a limit on the user's
    // processes or address space), the staging does all its work on the
    // thread it has, rather than end the program.
    void stagingWithoutMoreThreadsStagesAll()
    {
        QStringList tree;
        for (int folder = 0; folder < 30; ++folder)
            tree << QString("d/f%1/a.txt=%1").arg(folder) << QString("d/f%1/b?.txt=b").arg(folder);
        makeTree(tree);
        const auto staged = [this] {
            const StagedContent content = build({"d"});
            return (shown(content).join('\n') + QString("\nrenamed %1").arg(content.report.renamed.size())).toStdString();
        };
        const std::optional<std::string> refused = SyscallRefusal::runWithoutNewThreads(staged);
        QVERIFY(refused);
        fs::remove_all(WorkFolders(m_home->path()).stagingFolder());
        const std::string withThreads = staged();
        QCOMPARE(*refused, withThreads);
        QVERIFY2(withThreads.find("archive/d/f29/b_.txt") != std::string::npos, withThreads.c_str());
    }

    // Out of open files the staging blames the system, never the user's
    // items: nothing is left out as unreadable, nothing called changed, and
    // the job fails with the limit's own error (or, given room enough,
    // stages the whole tree).
    void theOpenFileLimitFailsTheJobNotTheItems_data()
    {
        QTest::addColumn<int>("spare"); // descriptors left above those open
        for (int spare : {0, 1, 2, 3, 4, 5, 8})
            QTest::addRow("%d spare", spare) << spare;
    }
    void theOpenFileLimitFailsTheJobNotTheItems()
    {
        QFETCH(int, spare);
        QString deep = "d";
        for (int level = 0; level < 40; ++level)
            deep += QString("/l%1").arg(level);
        makeTree({deep + "/f.txt=1", "d/a/b/c/g.txt=2"});
        const std::optional<std::string> answer = SyscallRefusal::run({}, [&]() -> std::string {
            int highest = 0;
            for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
                highest = std::max(highest, std::stoi(entry.path().filename().string()));
            // The gaps below the highest are filled: spare is all there is.
            for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0 && fd < highest; fd = ::open("/dev/null", O_RDONLY))
                highest = std::max(highest, fd);
            const rlim_t limit = rlim_t(highest + 1 + spare);
            const rlimit low {limit, limit};
            if (::setrlimit(RLIMIT_NOFILE, &low) != 0)
                return "no limit";
            const StagedContent content = build({"d"});
            std::string said = content.workFolderError == EMFILE ? "too many open files"
                : content.workFolderError == 0 && content.report.fileCount == 2 ? "staged whole"
                                                                                : "error " + std::to_string(content.workFolderError);
            for (const LeftOutItem& item : content.report.leftOut)
                said += ", left out " + item.path;
            if (!content.changedItem.empty())
                said += ", " + content.changedItem;
            return said;
        });
        QVERIFY(answer);
        // With room enough the job simply runs.
        const QString said = QString::fromStdString(*answer);
        QVERIFY2(said == "too many open files" || (spare > 0 && said == "staged whole"), qPrintable(said));
    }

    // Asked to stop, the stagers stop between two files, however large the
    // tree: a signal that ends the program must not wait for a whole
    // system folder to be staged.
    void stagingStopsBetweenTwoFiles()
    {
        QStringList tree;
        for (int folder = 0; folder < 20; ++folder)
            for (int file = 0; file < 50; ++file)
                tree << QString("big/d%1/f%2=x").arg(folder).arg(file);
        makeTree(tree);
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        // The stagers ask from their own threads.
        std::atomic<int> asked {0};
        Util::fixProhibitedCharacters(folders, {source("big")}, [&asked] { return ++asked > 40; });
        int staged = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folders.contentFolder()))
            staged += entry.is_regular_file() ? 1 : 0;
        QVERIFY2(staged <= 60, qPrintable(QString("%1 of 1000 files staged").arg(staged)));
    }

    // Items listed a moment before and removed while the tree is staged
    // (files cleared out, folders moved away) fail the job as changed: left
    // out as "missing", they would be a gap the user never made, in an
    // archive that looks whole.
    void itemsGoneWhileStagedFailTheJob_data()
    {
        QTest::addColumn<int>("folders");
        QTest::addColumn<int>("files"); // in each folder
        QTest::addColumn<int>("askedBefore"); // the stagers ask once for each name they list, and each they stage
        QTest::newRow("files of the folder being listed") << 1 << 1000 << 30;
        QTest::newRow("folders") << 20 << 5 << 3;
    }
    void itemsGoneWhileStagedFailTheJob()
    {
        QFETCH(int, folders);
        QFETCH(int, files);
        QFETCH(int, askedBefore);
        QStringList tree;
        for (int folder = 0; folder < folders; ++folder)
            for (int file = 0; file < files; ++file)
                tree << QString("big/d%1/f%2=x").arg(folder).arg(file);
        makeTree(tree);
        const WorkFolders work(m_home->path());
        fs::create_directories(work.stagingFolder());
        std::atomic<int> asked {0};
        const auto removeOnce = [&] {
            if (++asked != askedBefore)
                return false;
            for (int folder = 0; folder < folders; ++folder) {
                const std::string path = source(QString("big/d%1").arg(folder));
                if (folders > 1)
                    fs::remove_all(path);
                else
                    for (int file = 0; file < files; ++file)
                        fs::remove(path + "/f" + std::to_string(file));
            }
            return false;
        };
        const StagedContent content = Util::fixProhibitedCharacters(work, {source("big")}, removeOnce);
        QVERIFY2(content.changedItem.starts_with(std::string(kChangedWhileRunning) + source("big/d")),
                 content.changedItem.c_str());
        QVERIFY2(content.changedItem.ends_with("(gone before it was staged: No such file or directory)"),
                 content.changedItem.c_str());
        QVERIFY(std::ranges::none_of(content.report.leftOut,
                                     [](const LeftOutItem& item) { return item.reason == LeftOutReason::Missing; }));
    }

    // The running system's own file systems mounted inside the user's
    // tree (/proc bound into a container's root), or one of their files
    // bound there, are not the user's: left out, a folder not archived
    // empty, a file not handed to php, which cannot read some of them.
    void aSystemMountInsideATreeStaysOut_data()
    {
        QTest::addColumn<QString>("type"); // or the file bound
        QTest::newRow("proc") << "proc";
        QTest::newRow("sysfs") << "sysfs";
        QTest::newRow("a file of proc") << "/proc/self/mountinfo";
        QTest::newRow("a file of sysfs") << "/sys/kernel/mm/transparent_hugepage/enabled";
    }
    void aSystemMountInsideATreeStaysOut()
    {
        QFETCH(QString, type);
        const bool file = type.startsWith('/');
        makeTree({"d/ok=1", file ? "d/mounted=" : "d/mounted/"});
        const bool mounted = file ? ::mount(type.toLocal8Bit().constData(), source("d/mounted").c_str(), nullptr,
                                            MS_BIND, nullptr) == 0
                                  : m_mounts.mountOfType(source("d/mounted"), type.toStdString());
        if (!mounted)
            QSKIP("no privilege to mount, or nothing there to bind");
        const auto unbind = qScopeGuard([&] {
            if (file)
                ::umount(source("d/mounted").c_str());
        });

        const StagedContent content = build({"d"});

        QCOMPARE(shown(content), (QStringList{"archive/d/ok"}));
        QCOMPARE(content.report.folderCount, 1);
        QCOMPARE(content.report.leftOut.size(), size_t(1));
        QCOMPARE(content.report.leftOut.front().reason, LeftOutReason::SystemItem);
    }

    // Many folders, filled by several stagers at once: every file and
    // folder is counted once, each folder's pair of names that meet is
    // kept apart, and the report lists come out in the order of their
    // paths whichever stager met them.
    void manyFoldersFilledSideBySide()
    {
        QStringList tree;
        const int folders = 60;
        for (int i = 0; i < folders; ++i) {
            const QString folder = QString("d/f%1/g/").arg(i, 2, 10, QChar('0'));
            tree << folder + "a.txt=1" << folder + "A.TXT=2" << folder + "b.txt=3" << folder + "gone->nowhere";
        }
        makeTree(tree);
        const StagedContent content = build({"d"});
        QCOMPARE(content.report.fileCount, 3 * folders);
        QCOMPARE(content.report.folderCount, 1 + 2 * folders);
        const QStringList names = shown(content, true);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        QCOMPARE(int(content.report.renamed.size()), folders);
        QCOMPARE(int(content.report.leftOut.size()), folders);
        QVERIFY(std::ranges::is_sorted(content.report.renamed, {}, &RenamedItem::original));
        QVERIFY(std::ranges::is_sorted(content.report.leftOut, {}, &LeftOutItem::path));
        // Each linked file still knows its entry once the stagers' lists are one.
        QCOMPARE(int(content.linkedFiles.size()), 3 * folders);
        for (const StagedFile& file : content.linkedFiles)
            QCOMPARE(content.expectedEntries.at(file.entry), file.path);
    }

    // The writer opens each file by its absolute path: one that fits PATH_MAX
    // with its terminating null is staged, one a byte longer is left out.
    void pathsUpToTheWritersLimit_data()
    {
        QTest::addColumn<int>("beyond"); // bytes beyond the longest path the writer opens
        QTest::addColumn<bool>("staged");
        QTest::newRow("the longest") << 0 << true;
        QTest::newRow("a byte longer") << 1 << false;
    }
    void pathsUpToTheWritersLimit()
    {
        QFETCH(int, beyond);
        QFETCH(bool, staged);
        // "<output folder>/archive/d/<rest>" is PATH_MAX - 1 bytes long, and
        // beyond more; rest is folders of 200 bytes with their slash, then
        // the file. The source path, below the shorter "<home>/src/d/", is
        // one the system takes.
        const WorkFolders folders(m_home->path());
        size_t rest = PATH_MAX - 1 + static_cast<size_t>(beyond) - folders.outputFolder().size()
            - std::string("/archive/d/").size();
        QString below = "d/";
        for (; rest > 200; rest -= 200)
            below += QString(199, 'n') + "/";
        makeTree({below + QString(int(rest), 'f') + "="});

        const StagedContent content = build({"d"});

        QCOMPARE(content.report.fileCount, staged ? 1 : 0);
        QCOMPARE(content.report.leftOut.size(), size_t(staged ? 0 : 1));
    }

    // A path in the archive longer than the writer can open: that item is
    // left out and reported, and the rest of the tree is staged.
    void deepPathsAreLeftOut()
    {
        makeTree({"d/shallow.txt=s"});
        const std::string name(250, 'n');
        QVERIFY(makeDeepTree(source("d"), name, 17)); // about 4,250 bytes

        const StagedContent content = build({"d"});
        QCOMPARE(content.report.fileCount, 1);
        QCOMPARE(int(content.report.leftOut.size()), 1);
        QCOMPARE(content.report.leftOut.front().reason, LeftOutReason::PathTooLong);
        QVERIFY(content.report.leftOut.front().path.ends_with(name));
        // Longer than any path: only a removal that never forms one can
        // take it away.
        QCOMPARE(FileManager::removeItem(source("d")), Failure());
    }

    // Staging that fills the work folder's disk fails as a whole, with the
    // disk's own error: the user's file is not to blame, and an archive
    // of what happened to fit would be a partial one. Links take no data
    // but each takes an inode: a disk with few of them fills.
    void aFullWorkFolderFailsTheStaging()
    {
        const std::string small = m_home->path() + "/small";
        fs::create_directories(small);
        if (!m_mounts.mount(small, "size=256k,nr_inodes=32"))
            QSKIP("no permission to mount a small file system");
        QStringList tree;
        for (int i = 0; i < 60; ++i)
            tree << QString("d/f%1.txt=x").arg(i);
        makeTree(tree);
        const WorkFolders folders(small);
        fs::create_directories(folders.stagingFolder());

        const StagedContent content = Util::fixProhibitedCharacters(folders, {source("d")}, [] { return false; });
        m_mounts.unmountAll();
        QCOMPARE(content.workFolderError, ENOSPC);
        QVERIFY(content.workFolderFailure.find(folders.contentFolder()) != std::string::npos);
        QVERIFY(content.report.leftOut.empty());
    }

    // A folder that goes between being staged and being listed would be an
    // empty folder in the archive, standing for files it never gave: the
    // staging says the item changed instead.
    void aFolderThatGoesWhileStagedIsAChange()
    {
        makeTree({"d/keep.txt=k", "d/victim/f.txt=f"});
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        const std::string stagedVictim = folders.contentFolder() + "/d/victim";
        bool moved = false;
        // Asked before each folder is listed: the victim's staged folder is
        // there, its own listing still to come.
        const auto moveItAway = [&] {
            if (!moved && fs::exists(stagedVictim)) {
                fs::rename(source("d/victim"), source("moved"));
                moved = true;
            }
            return false;
        };
        const StagedContent content = Util::fixProhibitedCharacters(folders, {source("d")}, moveItAway);
        QVERIFY(moved);
        QCOMPARE(content.changedItem, "changed while the job ran: " + source("d/victim")
                                          + " (the folder could not be listed: No such file or directory)");
    }

    void linksStandForTheUsersFiles_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("on the work folder's file system: hard links") << false;
        QTest::newRow("on another file system: symbolic links") << true;
    }
    // Every file is staged as a link to the user's file, never as a copy:
    // the file itself, or across file systems a symbolic link to its
    // absolute path as reached. Folders are made under their final names.
    // The content keeps each file as it was, for the check after the writer,
    // and the space check counts nothing to copy.
    void linksStandForTheUsersFiles()
    {
        QFETCH(bool, elsewhere);
        const std::string root = elsewhere ? otherFileSystem() : m_home->path() + "/src";
        if (root.empty())
            QSKIP("no permission to mount a file system");
        writeFile(root + "/d/a?.txt", "a");
        writeFile(root + "/d/s:b/b.txt", "bb");
        fs::create_symlink("a?.txt", root + "/d/link.txt");
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());

        const StagedContent content = Util::fixProhibitedCharacters(folders, {root + "/d"}, [] { return false; });

        const std::string staged = folders.contentFolder() + "/d";
        QVERIFY(fs::is_directory(fs::symlink_status(staged + "/s_b")));
        const std::map<std::string, std::string> files = {
            {"a_.txt", root + "/d/a?.txt"}, {"s_b/b.txt", root + "/d/s:b/b.txt"}, {"link.txt", root + "/d/link.txt"}};
        for (const auto& [name, source] : files) {
            struct stat link {}, file {};
            QCOMPARE(::lstat((staged + "/" + name).c_str(), &link), 0);
            QCOMPARE(::stat(source.c_str(), &file), 0);
            if (elsewhere) {
                // Through the link to its folder: shorter than the path.
                QVERIFY2(S_ISLNK(link.st_mode), name.c_str());
                const std::string text = fs::read_symlink(staged + "/" + name).string();
                QVERIFY2(text.starts_with("../../") && text.find("/.links/") != text.npos && text.size() < source.size(),
                         text.c_str());
                QCOMPARE(fs::canonical(staged + "/" + name), fs::canonical(source));
                QCOMPARE(fs::read_symlink(fs::path(staged + "/" + name).parent_path() / fs::path(text).parent_path()),
                         fs::path(source).parent_path());
            } else {
                QVERIFY2(S_ISREG(link.st_mode), name.c_str());
                QCOMPARE(link.st_ino, file.st_ino);
            }
        }
        QCOMPARE(content.report.fileCount, 3);
        QCOMPARE(content.linkedFiles.size(), size_t(3));
        for (const StagedFile& file : content.linkedFiles) {
            QCOMPARE(file.symbolic, elsewhere);
            QVERIFY(file.path.starts_with("archive/d/"));
            struct stat info {};
            QCOMPARE(::stat((folders.outputFolder() + "/" + file.path).c_str(), &info), 0);
            QCOMPARE(std::pair(info.st_ino, info.st_size), std::pair(file.inode, file.size));
        }
        QCOMPARE(SpaceCheck::bytesToCopy({root + "/d"}, SpaceCheck::linksIn(folders.tmpDirectory()), [] { return false; }),
                 uint64_t(0));
        // The probe leaves nothing behind.
        QCOMPARE(QDir(QString::fromStdString(folders.tmpDirectory())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QString::fromLatin1(WorkFolders::STAGING_DIR_NAME)});
    }

    // A file whose whole path is longer than a symbolic link can hold is
    // linked all the same, through the link to its folder: nothing is
    // copied, and the space check counts nothing. Only a work folder that
    // took no links at all would have every file copied, and counted.
    void aLongPathIsLinkedThroughItsFolder()
    {
        const std::string root = otherFileSystem();
        if (root.empty())
            QSKIP("no permission to mount a file system");
        const std::string name(200, 'n');
        QVERIFY(makeDeepTree(root + "/g", name, 19));
        std::string given = root + "/g";
        for (int depth = 0; depth < 19; ++depth)
            given += "/" + name;
        const std::string longName(250, 'l');
        QVERIFY(given.size() < PATH_MAX && given.size() + 1 + longName.size() >= PATH_MAX);
        const int folder = ::open(given.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        const int file = ::openat(folder, longName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ::close(folder);
        QVERIFY(file >= 0);
        const std::string data(1000, 'x');
        QCOMPARE(::write(file, data.data(), data.size()), ssize_t(data.size()));
        ::close(file);
        writeFile(given + "/short.txt", "short");
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        const auto never = [] { return false; };
        SpaceCheck::WorkLinks links = SpaceCheck::linksIn(folders.tmpDirectory());
        QVERIFY(links.hard && links.symbolic);

        QCOMPARE(SpaceCheck::bytesToCopy({given}, links, never), uint64_t(0));
        const StagedContent content = Util::fixProhibitedCharacters(folders, {given}, never);

        QCOMPARE(content.report.fileCount, 3); // with the tree's own deep.txt
        QCOMPARE(content.linkedFiles.size(), size_t(3));
        const std::string staged = folders.contentFolder() + "/" + name;
        for (const std::string& file : {longName, std::string("short.txt")})
            QVERIFY(fs::is_symlink(fs::symlink_status(staged + "/" + file)));
        QCOMPARE(readFile(staged + "/" + longName), data);
        QCOMPARE(readFile(staged + "/short.txt"), std::string("short"));
        links.hard = links.symbolic = false;
        QCOMPARE(SpaceCheck::bytesToCopy({given}, links, never), uint64_t(1000 + 5));
    }

    // The home folder given whole holds the work folder, where the content
    // is built, and here the runtime folder, which holds the folder in
    // memory: both stay out, or the tree would copy itself.
    void theProgramsOwnFoldersStayOut()
    {
        const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(QString::fromStdString(source("run"))));
        makeTree({"note.txt=n", "run/quillmere/earlier-job/x.txt=x"});
        const StagedContent content = build({QString::fromStdString(m_home->path())});
        qputenv("XDG_RUNTIME_DIR", before);
        QCOMPARE(content.report.fileCount, 1);
        const QString home = "ARCHIVE/" + QFileInfo(QString::fromStdString(m_home->path())).fileName().toUpper();
        QCOMPARE(shown(content, true), (QStringList{home + "/SRC/NOTE.TXT", home + "/SRC/RUN/"}));
    }
};

QTEST_GUILESS_MAIN(TestUtil)
#include "tst_Util.moc"
