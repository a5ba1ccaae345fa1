#include "AppInfo.h"

#include <QTest>

#include <optional>
#include <string>

class TestAppInfo : public QObject
{
    Q_OBJECT

private slots:
    void decodesAllFourFields();
    void rejects_data();
    void rejects();
};

void TestAppInfo::decodesAllFourFields()
{
    // Extra keys, in any place, are the service's business and are ignored.
    const QByteArray body = R"({"extra": [1, {"x": null}], "url": "https://example.test/new?a=1&b=2",
        "message": "新しい版 \"2.0\"\n改行つき", "versionName": "2.0", "versionCode": 9223372036854775807,
        "versionCodeText": "x"})";
    std::string problem;
    const std::optional<AppInfo> info = AppInfo::fromJson(body, problem);
    QVERIFY2(info.has_value(), problem.c_str());
    QCOMPARE(info->versionCode, Q_INT64_C(9223372036854775807));
    QCOMPARE(info->versionName, QStringLiteral("2.0"));
    QCOMPARE(info->message, QStringLiteral("新しい版 \"2.0\"\n改行つき"));
    QCOMPARE(info->url, QStringLiteral("https://example.test/new?a=1&b=2"));
}

void TestAppInfo::rejects_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("problem");
    // Syntax errors carry Qt's own description after "not JSON", which is
    // not ours to pin down; only the start is compared for those.
    QTest::addColumn<bool>("prefixOnly");

    const QByteArray rest = R"("versionName": "2", "message": "m", "url": "https://x.test/")";
    QTest::newRow("versionCode missing") << "{" + rest + "}"
                                         << QByteArray(R"("versionCode" is missing or not an integer)") << false;
    QTest::newRow("versionCode as string") << R"({"versionCode": "3", )" + rest + "}"
                                           << QByteArray(R"("versionCode" is missing or not an integer)") << false;
    QTest::newRow("versionCode with fraction") << R"({"versionCode": 2.5, )" + rest + "}"
                                               << QByteArray(R"("versionCode" is missing or not an integer)") << false;
    QTest::newRow("versionCode above 64 bits") << R"({"versionCode": 9223372036854775808, )" + rest + "}"
                                               << QByteArray(R"("versionCode" is missing or not an integer)") << false;
    QTest::newRow("versionCode null") << R"({"versionCode": null, )" + rest + "}"
                                      << QByteArray(R"("versionCode" is missing or not an integer)") << false;
    QTest::newRow("versionName missing")
        << QByteArray(R"({"versionCode": 3, "message": "m", "url": "https://x.test/"})")
        << QByteArray(R"("versionName" is missing or not a string)") << false;
    QTest::newRow("message as number")
        << QByteArray(R"({"versionCode": 3, "versionName": "2", "message": 5, "url": "https://x.test/"})")
        << QByteArray(R"("message" is missing or not a string)") << false;
    QTest::newRow("url null")
        << QByteArray(R"({"versionCode": 3, "versionName": "2", "message": "m", "url": null})")
        << QByteArray(R"("url" is missing or not a string)") << false;
    // The first failing key in field order is the one reported.
    QTest::newRow("several wrong") << QByteArray(R"({"versionCode": 3, "message": 1})")
                                   << QByteArray(R"("versionName" is missing or not a string)") << false;
    QTest::newRow("array") << QByteArray("[]") << QByteArray("not a JSON object") << false;
    QTest::newRow("bare number") << QByteArray("3") << QByteArray("not JSON (") << true;
    QTest::newRow("empty body") << QByteArray() << QByteArray("not JSON (") << true;
    QTest::newRow("cut short") << QByteArray(R"({"versionCode": 3, "versionName": "2")")
                               << QByteArray("not JSON (") << true;
    QTest::newRow("garbage after object")
        << QByteArray(R"({"versionCode": 3, "versionName": "2", "message": "m", "url": "u"} x)")
        << QByteArray("not JSON (") << true;
}

void TestAppInfo::rejects()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, problem);
    QFETCH(bool, prefixOnly);

    std::string found;
    QVERIFY(!AppInfo::fromJson(body, found).has_value());
    const QByteArray reported = QByteArray::fromStdString(found);
    if (prefixOnly)
        QVERIFY2(reported.startsWith(problem) && reported.endsWith(')'), reported.constData());
    else
        QCOMPARE(reported, problem);
}

QTEST_APPLESS_MAIN(TestAppInfo)
#include "tst_AppInfo.moc"
