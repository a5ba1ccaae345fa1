#include "BuildNumber.h"

#include <QTest>

#include <limits>
#include <optional>
#include <string>

class TestBuildNumber : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestBuildNumber::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<qint64>("value");

    const qint64 max = std::numeric_limits<qint64>::max();
    const qint64 min = std::numeric_limits<qint64>::min();
    QTest::newRow("plain") << QByteArray("12") << true << qint64(12);
    QTest::newRow("plus sign") << QByteArray("+12") << true << qint64(12);
    QTest::newRow("minus sign") << QByteArray("-3") << true << qint64(-3);
    QTest::newRow("leading zeros") << QByteArray("007") << true << qint64(7);
    QTest::newRow("zero") << QByteArray("0") << true << qint64(0);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << true << max;
    QTest::newRow("one past largest") << QByteArray("9223372036854775808") << false << qint64(0);
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << true << min;
    QTest::newRow("one past smallest") << QByteArray("-9223372036854775809") << false << qint64(0);
    QTest::newRow("huge") << QByteArray("123456789012345678901234567890") << false << qint64(0);
    QTest::newRow("point") << QByteArray("1.2") << false << qint64(0);
    QTest::newRow("leading space") << QByteArray(" 12") << false << qint64(0);
    QTest::newRow("trailing space") << QByteArray("12 ") << false << qint64(0);
    QTest::newRow("trailing newline") << QByteArray("12\n") << false << qint64(0);
    QTest::newRow("empty") << QByteArray("") << false << qint64(0);
    QTest::newRow("lone plus") << QByteArray("+") << false << qint64(0);
    QTest::newRow("lone minus") << QByteArray("-") << false << qint64(0);
    QTest::newRow("two signs") << QByteArray("+-3") << false << qint64(0);
    QTest::newRow("minus plus") << QByteArray("-+3") << false << qint64(0);
    QTest::newRow("letter") << QByteArray("12a") << false << qint64(0);
    QTest::newRow("hexadecimal") << QByteArray("0x1A") << false << qint64(0);
    QTest::newRow("embedded NUL") << QByteArray("1\0002", 3) << false << qint64(0);
    QTest::newRow("Arabic-Indic digits") << QByteArray("\xd9\xa1\xd9\xa2") << false << qint64(0);
    QTest::newRow("full-width digits") << QByteArray("\xef\xbc\x91\xef\xbc\x92") << false
                                       << qint64(0);
}

void TestBuildNumber::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isNumber);
    QFETCH(qint64, value);

    const std::optional<qint64> parsed = BuildNumber::parse(std::string(text.constData(), size_t(text.size())));
    QCOMPARE(parsed.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(*parsed, value);
}

QTEST_APPLESS_MAIN(TestBuildNumber)
#include "tst_BuildNumber.moc"
