// The UTF-8-MAC converter module through glibc's real iconv_open/iconv.
// GCONV_PATH must name the build's gconv folder (CTest sets it).

#include "IconvRun.h"

#include <QChar>
#include <QScopeGuard>
#include <QTest>

#include <fstream>
#include <map>
#include <set>

namespace {

std::string utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toStdString();
}

QByteArray hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex();
}

} // namespace

class TestGconv : public QObject {
    Q_OBJECT

private slots:
    void convertsNames_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expectedHex");
        QTest::addColumn<int>("replaced"); // characters written as a base letter or "_"
        QTest::addColumn<int>("unread");   // bytes of a sequence cut at the end (EINVAL)
        const auto row = [](const char* name, const QByteArray& input, const char* hex, int replaced, int unread = 0) {
            QTest::newRow(name) << input << QByteArray(hex) << replaced << unread;
        };
        row("ka + voiced mark", "\u304B\u3099", "82aa", 0);
        row("half-width voiced mark is its own letter", "\uFF76\uFF9E", "b6de", 0);
        row("0x5C trail bytes in a path", "\u30BD\u8868/\u80FD", "835c955c2f945c", 0);
        row("e + acute", "cafe\u0301", "63616665", 1);
        row("marks out of canonical order", "e\u0302\u0323", "65", 1);
        // An accent that forms no letter goes, as the accent of one would.
        row("more marks than a segment keeps", "a" + QByteArray("\u0301").repeated(8), "61", 8);
        row("q + acute", "q\u0301.txt", "712e747874", 1);
        row("a mark with no letter before it", "\u0301a", "61", 1);
        // Code page 932 has the letter as the angstrom sign, its canonical twin.
        row("A + ring", "\u00C5sa", "81f07361", 1);
        row("A + ring, decomposed", "A\u030Asa", "81f07361", 1);
        row("hangul jamo", "\u1112\u1161\u11AB", "5f", 1);
        row("second voiced mark goes", "\u304B\u3099\u3099", "82aa", 1);
        row("invalid byte", "a\xFF" "b", "615f62", 1);
        row("overlong, surrogate, past U+10FFFF", "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80", "5f5f5f5f5f5f5f5f5f", 9);
        row("invalid byte between base and mark", "e\xFF\u0301", "655f", 2);
        // What shows nothing goes; a space of another width is a space.
        row("zero-width space", "a\u200Bb", "6162", 1);
        row("a kanji's variant selector", "\u845B\U000E0100\u98FE", "8a8b8ffc", 1);
        row("an emoji's look selector", "\u2605\uFE0F", "819a", 1);
        row("no-break space", "a\u00A0b", "612062", 1);
        row("em space", "a\u2003b", "612062", 1);
        row("cut three-byte sequence", "ab\xE3", "6162", 0, 1);
        row("cut after a kana", "\u304B\xE3\x82", "82a9", 0, 2);
    }
    void convertsNames()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expectedHex);
        QFETCH(int, replaced);
        QFETCH(int, unread);
        const iconv_t module = iconv_open("CP932//TRANSLIT", "UTF-8-MAC");
        QVERIFY2(module != iconv_t(-1), "no UTF-8-MAC: is GCONV_PATH the build's gconv folder?");
        const auto close = qScopeGuard([module] { iconv_close(module); });

        const IconvRun whole = convertWhole(module, input.toStdString());
        QCOMPARE(whole.replaced, size_t(replaced));
        // Whole, and cut at every byte, through sequences and compositions,
        // with output room for one byte per call (E2BIG everywhere, the flush
        // included) or plenty.
        for (const IconvRun& run : {whole, iconvRun(module, input.toStdString(), 1, 1),
                                    iconvRun(module, input.toStdString(), 1, 64)}) {
            QVERIFY(!run.overran);
            QCOMPARE(hex(run.output), expectedHex);
            QCOMPARE(run.error, unread ? EINVAL : 0);
            QCOMPARE(run.unread, size_t(unread));
        }
    }

    // Every code point glibc's own CP932 converter maps comes out the same;
    // any other comes out as the code point glibc maps that is canonically
    // the same, else as the base letter of its canonical decomposition (by
    // Qt's Unicode tables, not the module's), as nothing when it shows
    // nothing or is a mark that formed no letter, as " " when it is a space,
    // or "_".
    void mapsEveryCodePointAsGlibc()
    {
        std::set<char32_t> ignorable;
        std::ifstream properties("/usr/share/unicode/DerivedCoreProperties.txt");
        for (std::string line; std::getline(properties, line);) {
            const QString text = QString::fromStdString(line).section('#', 0, 0);
            if (text.section(';', 1).trimmed() != QStringLiteral("Default_Ignorable_Code_Point"))
                continue;
            const QString range = text.section(';', 0, 0).trimmed();
            const uint first = range.section("..", 0, 0).toUInt(nullptr, 16);
            const uint last = range.contains("..") ? range.section("..", 1).toUInt(nullptr, 16) : first;
            for (uint c = first; c <= last; ++c)
                ignorable.insert(c);
        }
        QVERIFY(ignorable.count(0x200B) && ignorable.count(0xFE0F));
        // Marks by the character database the module was made from: Qt's
        // own tables may be of an older Unicode.
        std::set<char32_t> marks;
        std::ifstream data("/usr/share/unicode/UnicodeData.txt");
        for (std::string line; std::getline(data, line);) {
            const QStringList fields = QString::fromStdString(line).split(';');
            if (fields.size() > 3 && fields[3] != QStringLiteral("0"))
                marks.insert(fields[0].toUInt(nullptr, 16));
        }
        QVERIFY(marks.count(0x0301) && marks.count(0x3099) && !marks.count('a'));
        const iconv_t module = iconv_open("CP932//TRANSLIT", "UTF-8-MAC");
        const iconv_t glibc = iconv_open("CP932", "UTF-8");
        QVERIFY2(module != iconv_t(-1) && glibc != iconv_t(-1), "no UTF-8-MAC: is GCONV_PATH the gconv folder?");
        const auto close = qScopeGuard([=] {
            iconv_close(module);
            iconv_close(glibc);
        });
        const auto decomposed = [](char32_t c) { return QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_D); };
        std::map<char32_t, std::string> theirs;
        std::map<QString, std::string> byDecomposition; // of the characters glibc maps that decompose
        for (char32_t c = 0; c < 0x110000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const IconvRun run = convertWhole(glibc, utf8(c));
            if (run.error != 0)
                continue;
            theirs[c] = run.output;
            if (QChar::decompositionTag(c) == QChar::Canonical)
                byDecomposition.emplace(decomposed(c), run.output);
        }
        QVERIFY(byDecomposition.count(decomposed(0x212B)));
        int mapped = 0;
        for (char32_t c = 0; c < 0x110000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const IconvRun ours = convertWhole(module, utf8(c));
            const auto direct = theirs.find(c);
            const QByteArray where = "U+" + QByteArray::number(uint(c), 16) + " gave " + hex(ours.output);
            QVERIFY2(ours.error == 0 && ours.replaced == (direct == theirs.end() ? 1u : 0u), where.constData());
            if (direct != theirs.end()) {
                QVERIFY2(ours.output == direct->second, where.constData());
                ++mapped;
                continue;
            }
            char32_t base = c;
            while (QChar::decompositionTag(base) == QChar::Canonical)
                base = QChar::decomposition(base).toUcs4().front();
            const auto twin = byDecomposition.find(decomposed(c));
            const auto ofBase = theirs.find(base);
            const std::string expected = twin != byDecomposition.end() ? twin->second
                : base != c && ofBase != theirs.end()                  ? ofBase->second
                : ignorable.count(c) || marks.count(c)                 ? ""
                : QChar::category(c) == QChar::Separator_Space         ? " "
                                                                       : "_";
            QVERIFY2(ours.output == expected, where.constData());
        }
        // glibc's CP932 holds some 9,000 characters: far fewer means a sweep gone wrong.
        QVERIFY2(mapped > 9000, QByteArray::number(mapped).constData());
    }
};

QTEST_GUILESS_MAIN(TestGconv)
#include "tst_Gconv.moc"
