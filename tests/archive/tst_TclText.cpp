#include "TclText.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

namespace {

// tclsh comes with expect; the name without a version is an extra package.
QString tclsh()
{
    for (const char* name : {"tclsh", "tclsh8.6"}) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

// The bytes Tcl hands on to a program it starts, in hexadecimal, for a word
// read from the script: script is put between "set s " and the conversion.
QByteArray tclReads(const QString& interpreter, const std::string& word, const std::string& scriptFile)
{
    {
        std::ofstream out(scriptFile, std::ios::binary);
        out << "set s " << word << "\n"
            << "puts -nonewline [binary encode hex [encoding convertto [encoding system] $s]]\n";
    }
    QProcess tcl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8"); // as on a desktop: UTF-8 names
    tcl.setProcessEnvironment(environment);
    tcl.start(interpreter, {QFile::decodeName(scriptFile.c_str())});
    tcl.waitForFinished(10000);
    return tcl.readAllStandardOutput() + tcl.readAllStandardError();
}

} // namespace

class TestTclText : public QObject {
    Q_OBJECT
private slots:
    void escapesAsDescribed_data();
    void escapesAsDescribed();
    void tclReadsTheTextBack_data();
    void tclReadsTheTextBack();
};

void TestTclText::escapesAsDescribed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("escaped");
    QTest::newRow("letters and digits") << QByteArray("abcXYZ019") << QByteArray("abcXYZ019");
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
    QTest::newRow("punctuation") << QByteArray("\"\\$[]{}; #!")
                                 << QByteArray("\\\"\\\\\\$\\[\\]\\{\\}\\;\\ \\#\\!");
    QTest::newRow("path characters") << QByteArray("/a.b_c-d+e,f@g%h=i:j") << QByteArray("/a.b_c-d+e,f@g%h=i:j");
    QTest::newRow("bytes above 127") << QByteArray("\xe3\x83\x91\xc3\xa9") << QByteArray("\xe3\x83\x91\xc3\xa9");
    QTest::newRow("control characters") << QByteArray("a\nb\tc\x7f\x01") << QByteArray("a\\012b\\011c\\177\\001");
    QTest::newRow("octal before a digit") << QByteArray("\n7") << QByteArray("\\0127");
}

void TestTclText::escapesAsDescribed()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, escaped);
    QCOMPARE(QByteArray::fromStdString(TclText::escape(text.toStdString())), escaped);
}

void TestTclText::tclReadsTheTextBack_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("plain") << QByteArray("secret42");
    QTest::newRow("quote") << QByteArray("a\"b\"");
    QTest::newRow("backslash") << QByteArray("a\\b\\");
    QTest::newRow("dollar") << QByteArray("$env(HOME)$s");
    QTest::newRow("brackets") << QByteArray("[exec touch MARKER]");
    QTest::newRow("braces") << QByteArray("{a}}{");
    QTest::newRow("semicolon") << QByteArray("a;b;");
    QTest::newRow("blanks") << QByteArray("  a  b ");
    QTest::newRow("breakout") << QByteArray("\"; exec touch MARKER; \"");
    QTest::newRow("hash") << QByteArray("#a #b");
    QTest::newRow("leading dash") << QByteArray("-nonewline");
    QTest::newRow("backslash escapes") << QByteArray("\\n\\x41\\u0041\\101");
    QTest::newRow("control characters") << QByteArray("a\nb\rc\td\x01\x1b\x7f");
    QTest::newRow("non-ASCII") << QByteArray("\xe3\x83\x91\xe3\x82\xb9 \xc3\xa9\xf0\x9f\x98\x80");
    QTest::newRow("path") << QByteArray("/home/a b\"c$d;e'f[g]/.quillmere/x/archive.zip");
}

// The escaped text stands in the script both between double quotes (as the
// password does) and as a bare word (as the paths do); either way Tcl must
// hand on exactly the original bytes and run nothing in it.
void TestTclText::tclReadsTheTextBack()
{
    const QString interpreter = tclsh();
    if (interpreter.isEmpty())
        QSKIP("no tclsh on this machine (package tcl8.6)");
    QFETCH(QByteArray, text);
    QTemporaryDir scratch;
    const std::string folder = QFile::encodeName(scratch.path()).toStdString();
    const std::string marker = folder + "/marker";
    const std::string original = text.replace("MARKER", QByteArray::fromStdString(marker)).toStdString();
    const std::string escaped = TclText::escape(original);
    const QByteArray expected = QByteArray::fromStdString(original).toHex();

    QCOMPARE(tclReads(interpreter, "\"" + escaped + "\"", folder + "/quoted.tcl"), expected);
    QCOMPARE(tclReads(interpreter, escaped, folder + "/bare.tcl"), expected);
    QVERIFY(!std::filesystem::exists(marker));
}

QTEST_GUILESS_MAIN(TestTclText)
#include "tst_TclText.moc"
