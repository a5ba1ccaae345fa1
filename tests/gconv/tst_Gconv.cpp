// The UTF-8-MAC converter module through glibc's real iconv_open/iconv, and
// as php's iconv() (the way the archive writer calls it) and the iconv
// command see it. GCONV_PATH must name the build's gconv folder (CTest sets it).

#include "IconvRun.h"

#include <QChar>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

namespace {

std::string utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toStdString();
}

QByteArray hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex();
}

QByteArray run(const QString& program, const QStringList& arguments, const std::string& input)
{
    QProcess process;
    process.start(program, arguments);
    process.write(input.data(), qint64(input.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "(" + program.toUtf8() + " failed: " + process.errorString().toUtf8() + process.readAllStandardError() + ")";
    return process.readAllStandardOutput();
}

} // namespace

class TestGconv : public QObject
{
    Q_OBJECT

private slots:
    void convertsNames_data();
    void convertsNames();
    void mapsEveryCodePointAsGlibcAndPrograms();
};

void TestGconv::convertsNames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expectedHex");
    QTest::addColumn<int>("replaced"); // characters written as a base letter or "_"
    QTest::addColumn<int>("unread");   // bytes of a sequence cut at the end (EINVAL)
    const auto row = [](const char* name, const QByteArray& input, const char* hex, int replaced, int unread = 0) {
        QTest::newRow(name) << input << QByteArray(hex) << replaced << unread;
    };
    row("ka + voiced mark", "\u304B\u3099", "82aa", 0);
    row("katakana ha + semi-voiced mark", "\u30CF\u309A", "8370", 0);
    row("u + voiced mark is vu", "\u30A6\u3099", "8394", 0);
    row("half-width voiced mark is its own letter", "\uFF76\uFF9E", "b6de", 0);
    row("0x5C trail bytes in a path", "\u30BD\u8868/\u80FD", "835c955c2f945c", 0);
    row("circled one, wave dash, full-width tilde, minus", "\u2460\u301C\uFF5E\u2212", "874081608160817c", 0);
    row("cyrillic e + diaeresis", "\u0435\u0308", "8476", 0);
    row("e + acute", "cafe\u0301", "63616665", 1);
    row("u + diaeresis + macron", "u\u0308\u0304", "75", 1);
    row("marks out of canonical order", "e\u0302\u0323", "65", 1);
    row("mark composes once a lower one arrives", "L\u0304\u0323", "4c", 1);
    row("full segment still composes", "L\u0304\u0306\u0307\u0308\u0323", "4c5f5f5f", 4);
    row("more marks than a segment keeps", "a\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301", "615f5f5f5f5f5f5f", 8);
    row("A + ring is not the angstrom sign", "A\u030A", "41", 1);
    row("emoji", "a\U0001F600b", "615f62", 1);
    row("hangul jamo", "\u1112\u1161\u11AB", "5f", 1);
    row("question mark never used", "?\u4E02", "3f5f", 1);
    row("lone combining mark first", "\u0301abc", "5f616263", 1);
    row("second voiced mark stays a mark", "\u304B\u3099\u3099", "82aa5f", 1);
    row("invalid byte", "a\xFF" "b", "615f62", 1);
    row("overlong slash", "\xC0\xAF", "5f5f", 2);
    row("surrogate", "\xED\xA0\x80", "5f5f5f", 3);
    row("past U+10FFFF", "\xF4\x90\x80\x80", "5f5f5f5f", 4);
    row("sequence broken off", "\xE3\x81" "A", "5f5f41", 2);
    row("invalid byte between base and mark", "e\xFF\u0301", "655f5f", 2);
    row("cut three-byte sequence", "ab\xE3", "6162", 0, 1);
    row("cut after a kana", "\u304B\xE3\x82", "82a9", 0, 2);
    row("cut emoji", "x\xF0\x9F\x98", "78", 0, 3);
    row("cut two-byte mark", "e\xCC", "65", 0, 1);
}

void TestGconv::convertsNames()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expectedHex);
    QFETCH(int, replaced);
    QFETCH(int, unread);
    const iconv_t module = iconv_open("CP932//TRANSLIT", "UTF-8-MAC");
    QVERIFY2(module != iconv_t(-1), "no UTF-8-MAC: is GCONV_PATH the build's gconv folder?");
    const auto close = qScopeGuard([module] { iconv_close(module); });

    const IconvRun whole = convertWhole(module, input.toStdString());
    QCOMPARE(hex(whole.output), expectedHex);
    QCOMPARE(whole.replaced, size_t(replaced));
    QCOMPARE(whole.error, unread ? EINVAL : 0);
    QCOMPARE(whole.unread, size_t(unread));
    // Cut at every byte, through sequences and compositions, with output room
    // for one byte per call (E2BIG everywhere, the flush included) or plenty.
    for (size_t room : {1, 64}) {
        const IconvRun pieces = iconvRun(module, input.toStdString(), 1, room);
        QVERIFY(!pieces.overran);
        QCOMPARE(hex(pieces.output), expectedHex);
        QCOMPARE(pieces.error, whole.error);
        QCOMPARE(pieces.unread, whole.unread);
    }
}

// Every code point glibc's own CP932 converter maps comes out the same; any
// other comes out as the base letter of its canonical decomposition (by Qt's
// Unicode tables, not the module's) or "_". php and the iconv command, which
// load the module through GCONV_PATH and feed it in their own buffer sizes,
// give the same bytes for all of them, each as a name after "/".
void TestGconv::mapsEveryCodePointAsGlibcAndPrograms()
{
    const iconv_t module = iconv_open("CP932//TRANSLIT", "UTF-8-MAC");
    const iconv_t glibc = iconv_open("CP932", "UTF-8");
    QVERIFY2(module != iconv_t(-1) && glibc != iconv_t(-1), "no UTF-8-MAC: is GCONV_PATH the build's gconv folder?");
    const auto close = qScopeGuard([=] {
        iconv_close(module);
        iconv_close(glibc);
    });
    int mapped = 0;
    int transliterated = 0;
    std::string names;
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        names += "/" + utf8(c);
        const IconvRun ours = convertWhole(module, utf8(c));
        const IconvRun theirs = convertWhole(glibc, utf8(c));
        const QByteArray where = "U+" + QByteArray::number(uint(c), 16) + " gave " + hex(ours.output);
        QVERIFY2(ours.error == 0 && ours.replaced == (theirs.error ? 1u : 0u), where.constData());
        if (theirs.error == 0) {
            QVERIFY2(ours.output == theirs.output, where.constData());
            ++mapped;
        } else if (ours.output != "_") {
            char32_t base = c;
            while (QChar::decompositionTag(base) == QChar::Canonical)
                base = QChar::decomposition(base).toUcs4().front();
            QVERIFY2(base != c && ours.output == convertWhole(glibc, utf8(base)).output, where.constData());
            ++transliterated;
        }
    }
    // glibc's CP932 holds some 9,000 characters; far fewer means the sweep compared the wrong thing.
    QVERIFY2(mapped > 9000 && transliterated > 500, QByteArray::number(mapped).constData());

    const QByteArray expected = hex(convertWhole(module, names).output);
    const QString php = "echo bin2hex(iconv('UTF-8-MAC', 'CP932//TRANSLIT', stream_get_contents(STDIN)));";
    QCOMPARE(run("php", {"-r", php}, names), expected);
    QCOMPARE(run("iconv", {"-f", "UTF-8-MAC", "-t", "CP932//TRANSLIT"}, names).toHex(), expected);
}

QTEST_GUILESS_MAIN(TestGconv)
#include "tst_Gconv.moc"
