// The UTF-8-MAC converter module as the programs that use it see it: php's
// iconv() (the way the archive writer calls it) and the iconv command.

#include "TestHome.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

namespace {

struct Outcome {
    QByteArray output;
    QByteArray errors;
    int exitCode = -1;
};

QString gconvFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("GCONV_PATH");
    return fromEnvironment.isEmpty() ? QStringLiteral(QUILLMERE_GCONV_DIR) : fromEnvironment;
}

Outcome run(const QString& program, const QStringList& arguments, const QByteArray& input, bool withModule)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (withModule)
        environment.insert("GCONV_PATH", gconvFolder());
    else
        environment.remove("GCONV_PATH");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForStarted())
        return outcome;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return outcome;
    outcome.output = process.readAllStandardOutput();
    outcome.errors = process.readAllStandardError();
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

// The name as a PHP double-quoted string, every byte escaped, so that any
// byte (invalid UTF-8 included) reaches iconv() unchanged.
QByteArray phpString(const QByteArray& bytes)
{
    QByteArray literal = "\"";
    for (char byte : bytes)
        literal += "\\x" + QByteArray(1, byte).toHex();
    return literal + "\"";
}

Outcome runPhp(const QByteArray& name, bool withModule)
{
    const QByteArray code = "echo bin2hex(iconv(\"UTF-8-MAC\", \"CP932//TRANSLIT\", " + phpString(name) + "));";
    return run("php", {"-r", QString::fromLatin1(code)}, {}, withModule);
}

void addNameRows()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("expectedHex");
    QTest::newRow("decomposed kana") << QByteArray("\u30C6\u3099\u30FC\u30BF.txt") << QByteArray("8366815b835e2e747874");
    QTest::newRow("path with 0x5C trail bytes")
        << QByteArray("archive/\u30BD\u30D5\u30C8/\u8868.xlsx") << QByteArray("617263686976652f835c837483672f955c2e786c7378");
    QTest::newRow("half-width katakana") << QByteArray("\uFF83\uFF7D.txt") << QByteArray("c3bd2e747874");
    QTest::newRow("wave dash and minus") << QByteArray("\u301C\u2212\u2460") << QByteArray("8160817c8740");
    QTest::newRow("decomposed accent") << QByteArray("cafe\u0301.txt") << QByteArray("636166652e747874");
    QTest::newRow("emoji and invalid byte") << QByteArray("a\U0001F600\xFF.txt") << QByteArray("615f5f2e747874");
    QTest::newRow("last character composed") << QByteArray("\u304B\u3099") << QByteArray("82aa");
}

} // namespace

class tst_GconvPrograms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void phpConverts_data();
    void phpConverts();
    void phpWithoutModuleKnowsNoUtf8Mac();
    void iconvCommandConverts_data();
    void iconvCommandConverts();
    void iconvCommandReportsCutInput();

private:
    TestHome m_home;
};

void tst_GconvPrograms::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable("php").isEmpty(), "php is not installed (Debian's php-cli)");
    QVERIFY2(!QStandardPaths::findExecutable("iconv").isEmpty(), "the iconv command is not installed (libc-bin)");
}

void tst_GconvPrograms::phpConverts_data()
{
    addNameRows();
}

void tst_GconvPrograms::phpConverts()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expectedHex);
    const Outcome outcome = runPhp(name, true);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.errors, QByteArray());
    QCOMPARE(outcome.output, expectedHex);
}

// Without the module glibc has no "UTF-8-MAC": proof that the module is what
// the other cases exercise.
void tst_GconvPrograms::phpWithoutModuleKnowsNoUtf8Mac()
{
    const Outcome outcome = runPhp("abc", false);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.output, QByteArray());
    QVERIFY2(!outcome.errors.isEmpty(), "php's iconv() should have complained");
}

void tst_GconvPrograms::iconvCommandConverts_data()
{
    addNameRows();
}

void tst_GconvPrograms::iconvCommandConverts()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expectedHex);
    const Outcome outcome = run("iconv", {"-f", "UTF-8-MAC", "-t", "CP932//TRANSLIT"}, name, true);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.output.toHex(), expectedHex);
}

void tst_GconvPrograms::iconvCommandReportsCutInput()
{
    const Outcome outcome = run("iconv", {"-f", "UTF-8-MAC", "-t", "CP932"}, "ab\xE3\x81", true);
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.errors.contains("incomplete character"), outcome.errors.constData());
}

QTEST_GUILESS_MAIN(tst_GconvPrograms)
#include "tst_GconvPrograms.moc"
