// The UTF-8-MAC converter module through glibc's real iconv_open/iconv, with
// GCONV_PATH pointing at the build's gconv folder.

#include "IconvDescriptor.h"

#include <QChar>
#include <QCoreApplication>
#include <QTest>

#include <cerrno>

namespace {

constexpr const char* kFrom = "UTF-8-MAC";
constexpr const char* kTo = "CP932//TRANSLIT";

QByteArray utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toUtf8();
}

// Rows shared by the whole-input and the piecewise tests: UTF-8 input, the
// code page 932 bytes expected (hex) and how many characters had to be
// replaced by a base letter or "_".
void addNameRows()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expectedHex");
    QTest::addColumn<int>("replaced");

    QTest::newRow("ka + voiced mark") << QByteArray("\u304B\u3099") << QByteArray("82aa") << 0;
    QTest::newRow("composed ga") << QByteArray("\u304C") << QByteArray("82aa") << 0;
    QTest::newRow("katakana ha + semi-voiced mark") << QByteArray("\u30CF\u309A") << QByteArray("8370") << 0;
    QTest::newRow("hiragana ha + semi-voiced mark") << QByteArray("\u306F\u309A") << QByteArray("82cf") << 0;
    QTest::newRow("u + voiced mark is vu") << QByteArray("\u30A6\u3099") << QByteArray("8394") << 0;
    QTest::newRow("decomposed name with extension")
        << QByteArray("\u30C6\u3099\u30FC\u30BF.txt") << QByteArray("8366815b835e2e747874") << 0;
    QTest::newRow("half-width katakana name") << QByteArray("\uFF83\uFF7D.txt") << QByteArray("c3bd2e747874") << 0;
    QTest::newRow("half-width voiced mark is its own letter") << QByteArray("\uFF76\uFF9E") << QByteArray("b6de") << 0;
    QTest::newRow("0x5C trail bytes") << QByteArray("\u30BD\u8868\u80FD") << QByteArray("835c955c945c") << 0;
    QTest::newRow("0x5C trail byte in a path") << QByteArray("\u30BD/\u80FD.txt") << QByteArray("835c2f945c2e747874") << 0;
    QTest::newRow("circled digit one") << QByteArray("\u2460") << QByteArray("8740") << 0;
    QTest::newRow("wave dash") << QByteArray("\u301C") << QByteArray("8160") << 0;
    QTest::newRow("fullwidth tilde") << QByteArray("\uFF5E") << QByteArray("8160") << 0;
    QTest::newRow("minus sign") << QByteArray("\u2212") << QByteArray("817c") << 0;
    QTest::newRow("cyrillic ie + diaeresis") << QByteArray("\u0435\u0308") << QByteArray("8476") << 0;
    QTest::newRow("decomposed e acute") << QByteArray("cafe\u0301") << QByteArray("63616665") << 1;
    QTest::newRow("composed e acute") << QByteArray("caf\u00E9") << QByteArray("63616665") << 1;
    QTest::newRow("u + diaeresis + macron") << QByteArray("u\u0308\u0304") << QByteArray("75") << 1;
    QTest::newRow("A + ring is not the angstrom sign") << QByteArray("A\u030A") << QByteArray("41") << 1;
    QTest::newRow("angstrom sign stays") << QByteArray("\u212B") << QByteArray("81f0") << 0;
    QTest::newRow("compatibility ideograph stays") << QByteArray("\uF929") << QByteArray("fae0") << 0;
    QTest::newRow("compatibility ideograph code page 932 lacks") << QByteArray("\uF900") << QByteArray("e6af") << 1;
    QTest::newRow("emoji") << QByteArray("a\U0001F600b") << QByteArray("615f62") << 1;
    QTest::newRow("hangul syllable") << QByteArray("\uD55C") << QByteArray("5f") << 1;
    QTest::newRow("hangul jamo make one syllable") << QByteArray("\u1112\u1161\u11AB") << QByteArray("5f") << 1;
    QTest::newRow("lone combining mark first") << QByteArray("\u0301abc") << QByteArray("5f616263") << 1;
    QTest::newRow("lone voiced mark first") << QByteArray("\u3099\u304B") << QByteArray("5f82a9") << 1;
    QTest::newRow("second voiced mark stays a mark") << QByteArray("\u304B\u3099\u3099") << QByteArray("82aa5f") << 1;
    QTest::newRow("marks out of canonical order") << QByteArray("\u304B\u0301\u3099") << QByteArray("82aa5f") << 1;
    // The macron waits as a mark of its own until the dot below arrives:
    // L with dot below and macron is one character.
    QTest::newRow("mark composes once a lower one arrives") << QByteArray("L\u0304\u0323") << QByteArray("4c") << 1;
    QTest::newRow("full segment still composes")
        << QByteArray("L\u0304\u0306\u0307\u0308\u0323") << QByteArray("4c5f5f5f") << 4;
    QTest::newRow("more marks than a segment keeps")
        << QByteArray("a\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301") << QByteArray("615f5f5f5f5f5f5f") << 8;
    QTest::newRow("question mark never used") << QByteArray("?\u4E02") << QByteArray("3f5f") << 1;
    QTest::newRow("tag characters dropped as glibc drops them")
        << QByteArray("\U0001F3F4\U000E0067\U000E007Fx") << QByteArray("5f78") << 1;
    QTest::newRow("invalid byte") << QByteArray("a\xFF" "b") << QByteArray("615f62") << 1;
    QTest::newRow("latin-1 byte inside a name") << QByteArray("caf\xE9.txt") << QByteArray("6361665f2e747874") << 1;
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << QByteArray("5f5f") << 2;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QByteArray("5f5f5f") << 3;
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QByteArray("5f5f5f5f") << 4;
    QTest::newRow("sequence broken off") << QByteArray("\xE3\x81" "A") << QByteArray("5f5f41") << 2;
    QTest::newRow("invalid byte between base and mark")
        << QByteArray("e\xFF\u0301") << QByteArray("655f5f") << 2;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QByteArray("610062") << 0;
    QTest::newRow("empty") << QByteArray() << QByteArray() << 0;
}

} // namespace

class tst_GconvConversion : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void opens_data();
    void opens();
    void convertsNames_data();
    void convertsNames();
    void piecewiseMatchesWhole_data();
    void piecewiseMatchesWhole();
    void equivalentFormsAgree_data();
    void equivalentFormsAgree();
    void cutInsideSequence_data();
    void cutInsideSequence();
    void flushWritesPendingCharacter();
    void flushResumesAfterFullOutput();
    void resetDropsPendingCharacter();
    void refusesToFeedFurtherSteps();
    void mapsEveryCodePointAsGlibc();
};

void tst_GconvConversion::initTestCase()
{
    IconvDescriptor cd(kTo, kFrom);
    QVERIFY2(cd.isOpen(), "iconv_open(\"CP932//TRANSLIT\", \"UTF-8-MAC\") failed: is GCONV_PATH the build's gconv folder?");
}

void tst_GconvConversion::opens_data()
{
    QTest::addColumn<QByteArray>("to");
    QTest::newRow("CP932//TRANSLIT") << QByteArray("CP932//TRANSLIT");
    QTest::newRow("CP932") << QByteArray("CP932");
    QTest::newRow("lower case") << QByteArray("cp932");
    QTest::newRow("glibc's alias WINDOWS-31J") << QByteArray("WINDOWS-31J");
}

void tst_GconvConversion::opens()
{
    QFETCH(QByteArray, to);
    IconvDescriptor cd(to.constData(), kFrom);
    QVERIFY(cd.isOpen());
    QCOMPARE(cd.convert("\u304B\u3099").output.toHex(), QByteArray("82aa"));
}

void tst_GconvConversion::convertsNames_data()
{
    addNameRows();
}

void tst_GconvConversion::convertsNames()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expectedHex);
    QFETCH(int, replaced);
    IconvDescriptor cd(kTo, kFrom);
    const IconvDescriptor::Result result = cd.convert(input);
    QCOMPARE(result.error, 0);
    QCOMPARE(result.output.toHex(), expectedHex);
    QCOMPARE(result.replaced, size_t(replaced));
}

void tst_GconvConversion::piecewiseMatchesWhole_data()
{
    addNameRows();
}

// Input cut at every byte (so UTF-8 sequences and composition sequences are
// split across calls) and output room handed out one byte at a time (so E2BIG
// strikes at every point, the flush included) change nothing.
void tst_GconvConversion::piecewiseMatchesWhole()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expectedHex);
    for (qsizetype pieceSize : {1, 2, 3}) {
        for (bool growingRoom : {false, true}) {
            IconvDescriptor cd(kTo, kFrom);
            const IconvDescriptor::Result result = cd.convertInPieces(input, pieceSize, growingRoom);
            const QByteArray where = "pieces of " + QByteArray::number(pieceSize) + (growingRoom ? ", room +1" : "");
            QVERIFY2(!result.overran, where.constData());
            QVERIFY2(result.error == 0, where.constData());
            QVERIFY2(result.output.toHex() == expectedHex, (where + ": " + result.output.toHex()).constData());
        }
    }
}

void tst_GconvConversion::equivalentFormsAgree_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::newRow("ga") << QByteArray("\u304C") << QByteArray("\u304B\u3099");
    QTest::newRow("pa") << QByteArray("\u30D1") << QByteArray("\u30CF\u309A");
    QTest::newRow("e acute") << QByteArray("\u00E9") << QByteArray("e\u0301");
    QTest::newRow("u diaeresis macron") << QByteArray("\u01D6") << QByteArray("u\u0308\u0304");
    QTest::newRow("u diaeresis + macron") << QByteArray("\u00FC\u0304") << QByteArray("u\u0308\u0304");
    QTest::newRow("e circumflex dot below") << QByteArray("\u1EC7") << QByteArray("e\u0323\u0302");
    QTest::newRow("composed + mark of lower class") << QByteArray("\u00EA\u0323") << QByteArray("e\u0323\u0302");
    QTest::newRow("marks in either order") << QByteArray("e\u0302\u0323") << QByteArray("e\u0323\u0302");
    QTest::newRow("L dot below macron") << QByteArray("\u1E38") << QByteArray("L\u0304\u0323");
    QTest::newRow("L dot below macron, more marks")
        << QByteArray("\u1E38\u0306\u0307\u0308") << QByteArray("L\u0304\u0306\u0307\u0308\u0323");
    QTest::newRow("o horn hook") << QByteArray("\u1EDF") << QByteArray("o\u031B\u0309");
    QTest::newRow("e acute + dot below") << QByteArray("\u00E9\u0323") << QByteArray("e\u0323\u0301");
    QTest::newRow("cyrillic io") << QByteArray("\u0451") << QByteArray("\u0435\u0308");
    QTest::newRow("cyrillic short i") << QByteArray("\u0419") << QByteArray("\u0418\u0306");
    QTest::newRow("tone mark stands for acute") << QByteArray("\u00E1") << QByteArray("a\u0341");
    QTest::newRow("hangul") << QByteArray("\uD55C") << QByteArray("\u1112\u1161\u11AB");
}

void tst_GconvConversion::equivalentFormsAgree()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    IconvDescriptor cd(kTo, kFrom);
    const IconvDescriptor::Result a = cd.convert(first);
    const IconvDescriptor::Result b = cd.convert(second);
    QCOMPARE(a.error, 0);
    QCOMPARE(b.error, 0);
    QCOMPARE(a.output.toHex(), b.output.toHex());
    QCOMPARE(a.replaced, b.replaced);
}

void tst_GconvConversion::cutInsideSequence_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("unread");
    QTest::addColumn<QByteArray>("writtenHex"); // before the cut, by iconv
    QTest::addColumn<QByteArray>("flushedHex"); // by the flush after it
    QTest::newRow("three-byte sequence, one byte") << QByteArray("ab\xE3") << 1 << QByteArray("61") << QByteArray("62");
    QTest::newRow("three-byte sequence, two bytes")
        << QByteArray("\u304B\xE3\x82") << 2 << QByteArray() << QByteArray("82a9");
    QTest::newRow("emoji, three bytes") << QByteArray("x\xF0\x9F\x98") << 3 << QByteArray() << QByteArray("78");
    QTest::newRow("two-byte mark, one byte") << QByteArray("e\xCC") << 1 << QByteArray() << QByteArray("65");
}

void tst_GconvConversion::cutInsideSequence()
{
    QFETCH(QByteArray, input);
    QFETCH(int, unread);
    QFETCH(QByteArray, writtenHex);
    QFETCH(QByteArray, flushedHex);
    IconvDescriptor cd(kTo, kFrom);
    const IconvDescriptor::Result result = cd.convert(input);
    QCOMPARE(result.error, EINVAL);
    QCOMPARE(result.unread, qsizetype(unread));
    QCOMPARE(result.output.toHex(), writtenHex);
    QVERIFY(!result.overran);
    // The characters before the cut are whole, so the flush writes them.
    char buffer[8];
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    QCOMPARE(iconv(cd.handle(), nullptr, nullptr, &out, &outLeft), size_t(0));
    QCOMPARE(QByteArray(buffer, out - buffer).toHex(), flushedHex);
}

// A base character waits for marks that may follow; the end of one call is
// not the end of the name, the flush is.
void tst_GconvConversion::flushWritesPendingCharacter()
{
    IconvDescriptor cd(kTo, kFrom);
    QByteArray input("\u304B");
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[8];
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    QCOMPARE(iconv(cd.handle(), &in, &inLeft, &out, &outLeft), size_t(0));
    QCOMPARE(inLeft, size_t(0));
    QCOMPARE(out, buffer);

    QByteArray mark("\u3099");
    in = mark.data();
    inLeft = mark.size();
    QCOMPARE(iconv(cd.handle(), &in, &inLeft, &out, &outLeft), size_t(0));
    QCOMPARE(out, buffer);
    QCOMPARE(iconv(cd.handle(), nullptr, nullptr, &out, &outLeft), size_t(0));
    QCOMPARE(QByteArray(buffer, out - buffer).toHex(), QByteArray("82aa"));
    // Nothing is left for a second flush.
    QCOMPARE(iconv(cd.handle(), nullptr, nullptr, &out, &outLeft), size_t(0));
    QCOMPARE(out - buffer, 2);
}

void tst_GconvConversion::flushResumesAfterFullOutput()
{
    IconvDescriptor cd(kTo, kFrom);
    // a (hiragana) and two acute accents that compose with nothing.
    QByteArray input("\u3042\u0301\u0301");
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[8] = {};
    char* out = buffer;
    size_t outLeft = 0;
    QCOMPARE(iconv(cd.handle(), &in, &inLeft, &out, &outLeft), size_t(0));

    const auto flushWithRoom = [&](size_t room) {
        outLeft = room;
        errno = 0;
        return iconv(cd.handle(), nullptr, nullptr, &out, &outLeft);
    };
    QCOMPARE(flushWithRoom(1), size_t(-1)); // the kana takes two bytes
    QCOMPARE(errno, E2BIG);
    QCOMPARE(out, buffer);
    QCOMPARE(flushWithRoom(2), size_t(-1)); // the kana, then no room for "_"
    QCOMPARE(errno, E2BIG);
    QCOMPARE(flushWithRoom(1), size_t(-1));
    QCOMPARE(errno, E2BIG);
    QCOMPARE(flushWithRoom(1), size_t(1)); // the last "_"
    QCOMPARE(QByteArray(buffer, out - buffer).toHex(), QByteArray("82a05f5f"));
    QCOMPARE(outLeft, size_t(0));
    QCOMPARE(buffer[4], '\0');
}

void tst_GconvConversion::resetDropsPendingCharacter()
{
    IconvDescriptor cd(kTo, kFrom);
    QByteArray input("\u304B");
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[8];
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    QCOMPARE(iconv(cd.handle(), &in, &inLeft, &out, &outLeft), size_t(0));
    cd.reset();
    const IconvDescriptor::Result result = cd.convert("b");
    QCOMPARE(result.output, QByteArray("b"));
}

// glibc can chain this module in front of its own (UTF-8-MAC to CP932 to
// UTF-8); such a descriptor must fail loudly rather than write nothing.
void tst_GconvConversion::refusesToFeedFurtherSteps()
{
    IconvDescriptor cd("UTF-8", kFrom);
    if (!cd.isOpen())
        return; // glibc found no chain: nothing can go wrong
    const IconvDescriptor::Result result = cd.convert("abc");
    QCOMPARE(result.error, EBADF);
    QVERIFY(result.output.isEmpty());
}

// Every code point glibc's own converter maps comes out the same; every
// other one comes out as the base letter of its canonical decomposition
// (by Qt's Unicode tables, not the module's) or "_".
void tst_GconvConversion::mapsEveryCodePointAsGlibc()
{
    IconvDescriptor glibc("CP932", "UTF-8");
    IconvDescriptor module(kTo, kFrom);
    QVERIFY(glibc.isOpen());
    const auto glibcBytes = [&](char32_t c, QByteArray& bytes) {
        glibc.reset();
        const IconvDescriptor::Result result = glibc.convert(utf8(c));
        bytes = result.output;
        return result.error == 0;
    };
    int mapped = 0;
    int transliterated = 0;
    for (char32_t c = 0; c < 0x110000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const IconvDescriptor::Result ours = module.convert(utf8(c));
        const QByteArray where = "U+" + QByteArray::number(uint(c), 16).toUpper();
        QVERIFY2(ours.error == 0, where.constData());
        QByteArray expected;
        if (glibcBytes(c, expected)) {
            QVERIFY2(ours.output == expected, (where + ": " + ours.output.toHex() + " not " + expected.toHex()).constData());
            QVERIFY2(ours.replaced == 0, where.constData());
            ++mapped;
            continue;
        }
        QVERIFY2(ours.replaced == 1, where.constData());
        if (ours.output == "_")
            continue;
        QVERIFY2(QChar::unicodeVersion(c) != QChar::Unicode_Unassigned, where.constData());
        char32_t base = c;
        while (QChar::decompositionTag(base) == QChar::Canonical)
            base = QChar::decomposition(base).toUcs4().front();
        QVERIFY2(base != c && glibcBytes(base, expected) && ours.output == expected,
                 (where + ": " + ours.output.toHex()).constData());
        ++transliterated;
    }
    // glibc's CP932 holds some 9,000 characters; a sweep that found far
    // fewer compared the wrong thing.
    QVERIFY2(mapped > 9000, QByteArray::number(mapped).constData());
    QVERIFY2(transliterated > 500, QByteArray::number(transliterated).constData());
}

int main(int argc, char** argv)
{
    // glibc reads GCONV_PATH once, at the first iconv_open, and Qt may call
    // it while starting: set it before anything else runs.
    if (qEnvironmentVariableIsEmpty("GCONV_PATH"))
        qputenv("GCONV_PATH", QUILLMERE_GCONV_DIR);
    QCoreApplication app(argc, argv);
    tst_GconvConversion test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_GconvConversion.moc"
