#include "ShellWord.h"

#include <QProcess>
#include <QtTest>

namespace {

// What /bin/sh makes of word as the argument of printf. The script goes in
// on standard input, so every byte reaches the shell as it is.
QByteArray shellReads(const std::string& word)
{
    QProcess sh;
    sh.start("/bin/sh", {"-s"});
    sh.write(QByteArray::fromStdString("printf %s " + word + "\n"));
    sh.closeWriteChannel();
    sh.waitForFinished(10000);
    return sh.readAllStandardOutput();
}

} // namespace

class TestShellWord : public QObject {
    Q_OBJECT
private slots:
    void harmlessWordsStayAsTheyAre_data();
    void harmlessWordsStayAsTheyAre();
    void shellReadsEveryWordBack_data();
    void shellReadsEveryWordBack();
};

void TestShellWord::harmlessWordsStayAsTheyAre_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::newRow("path") << QByteArray("/home/user/.quillmere");
    QTest::newRow("every harmless character") << QByteArray("/a.b_c-d+e,f@g%h=i:j/XYZ019");
}

void TestShellWord::harmlessWordsStayAsTheyAre()
{
    QFETCH(QByteArray, word);
    QCOMPARE(ShellWord::quoteIfNeeded(word.toStdString()), word.toStdString());
}

void TestShellWord::shellReadsEveryWordBack_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<bool>("quoted");
    QTest::newRow("plain") << QByteArray("/home/user") << false;
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("blank") << QByteArray("/home/my user") << true;
    QTest::newRow("double quote") << QByteArray("/a\"b") << true;
    QTest::newRow("single quote") << QByteArray("/o'brien") << true;
    QTest::newRow("only quotes") << QByteArray("''\"'") << true;
    QTest::newRow("dollar and command") << QByteArray("/$HOME$(touch x)`id`") << true;
    QTest::newRow("semicolon and ampersand") << QByteArray("/a;b&c|d") << true;
    QTest::newRow("glob") << QByteArray("/*?[a]") << true;
    QTest::newRow("tilde") << QByteArray("~root") << true;
    QTest::newRow("backslash") << QByteArray("/a\\b\\") << true;
    QTest::newRow("line feed and tab") << QByteArray("/a\nb\tc") << true;
    QTest::newRow("braces and hash") << QByteArray("{a,b}#c") << true;
    QTest::newRow("non-ASCII") << QByteArray("/\xe3\x83\xa6\xe3\x83\xbc\xe3\x82\xb6") << true;
    QTest::newRow("not UTF-8") << QByteArray("/caf\xe9") << true;
    QTest::newRow("leading dash") << QByteArray("-n") << false;
}

void TestShellWord::shellReadsEveryWordBack()
{
    QFETCH(QByteArray, word);
    QFETCH(bool, quoted);
    const std::string result = ShellWord::quoteIfNeeded(word.toStdString());
    QCOMPARE(result != word.toStdString(), quoted);
    QCOMPARE(shellReads(result), word);
}

QTEST_GUILESS_MAIN(TestShellWord)
#include "tst_ShellWord.moc"
