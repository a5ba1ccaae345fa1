#include "LocalHttpServer.h"
#include "RecordingUpdateNotice.h"
#include "RecordingUrlOpener.h"
#include "StdoutCapture.h"
#include "TestCertificate.h"
#include "UpdateCheck.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace {

// Long enough for a slow machine, short enough that a hang is seen quickly.
constexpr int answerWaitMs = 20000;

QByteArray answerBody(qint64 versionCode, const QByteArray& url = "https://quillmere.test/download")
{
    return R"({"versionCode": )" + QByteArray::number(versionCode)
        + R"(, "versionName": "9.9", "message": "新しい版が出ました", "url": ")" + url + "\"}";
}

QStringList noticeShown(const QString& informativeText)
{
    return {QStringLiteral("更新があります"), informativeText, QStringLiteral("確認する"),
            QStringLiteral("閉じる")};
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newerBuildShowsNotice_data();
    void newerBuildShowsNotice();
    void answerIsDecoded_data();
    void answerIsDecoded();
    void statusOtherThan200ShowsNothing_data();
    void statusOtherThan200ShowsNothing();
    void unparsableRunningBuildShowsNothing();
    void unreachableServerWritesOneErrorLine();
    void requestIsPlainGetWithContentType();
    void certificateIsChecked_data();
    void certificateIsChecked();
    void noticeAnswer_data();
    void noticeAnswer();
    void destroyedWhileWaitingIsQuiet();

private:
    // Runs one whole check against `url` and returns what it wrote.
    QByteArray runCheck(const QUrl& url, const QString& buildNumber);

    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<RecordingUpdateNotice> m_notice;
    std::unique_ptr<RecordingUrlOpener> m_opener;
    QSslConfiguration m_savedTlsDefaults;
};

void TestUpdateCheck::init()
{
    // A fresh manager per test so no connection or TLS session is reused.
    m_network = std::make_unique<QNetworkAccessManager>();
    m_notice = std::make_unique<RecordingUpdateNotice>(true);
    m_opener = std::make_unique<RecordingUrlOpener>();
    m_savedTlsDefaults = QSslConfiguration::defaultConfiguration();
}

void TestUpdateCheck::cleanup()
{
    QSslConfiguration::setDefaultConfiguration(m_savedTlsDefaults);
    m_network.reset();
}

QByteArray TestUpdateCheck::runCheck(const QUrl& url, const QString& buildNumber)
{
    UpdateCheck check(*m_network, *m_notice, *m_opener, url, buildNumber);
    QSignalSpy finished(&check, &UpdateCheck::finished);
    QByteArray output;
    {
        // Nothing may be asserted while standard output is captured: the
        // failure message would vanish into the capture.
        StdoutCapture capture;
        check.fetchAppInfo();
        // The check must hand the request over and return without waiting.
        if (!finished.isEmpty() || !m_notice->shown.isEmpty())
            return "(fetchAppInfo waited for the answer)";
        if (!QTest::qWaitFor([&] { return !finished.isEmpty(); }, answerWaitMs))
            return "(the check never finished)";
        output = QByteArray::fromStdString(capture.text());
    }
    QCoreApplication::processEvents();
    if (finished.size() != 1)
        return "(finished was emitted " + QByteArray::number(finished.size()) + " times)";
    return output;
}

void TestUpdateCheck::newerBuildShowsNotice_data()
{
    QTest::addColumn<QString>("running");
    QTest::addColumn<qint64>("newest");
    QTest::addColumn<bool>("notice");

    QTest::newRow("one newer") << "1" << qint64(2) << true;
    QTest::newRow("equal") << "1" << qint64(1) << false;
    QTest::newRow("older") << "5" << qint64(4) << false;
    QTest::newRow("plus sign, newer") << "+12" << qint64(13) << true;
    QTest::newRow("plus sign, equal") << "+12" << qint64(12) << false;
    QTest::newRow("negative running") << "-3" << qint64(-2) << true;
    QTest::newRow("negative newest") << "0" << qint64(-1) << false;
    QTest::newRow("top of range") << "9223372036854775806" << Q_INT64_C(9223372036854775807) << true;
    QTest::newRow("beyond 32 bits") << "4294967296" << Q_INT64_C(4294967297) << true;
}

void TestUpdateCheck::newerBuildShowsNotice()
{
    QFETCH(QString, running);
    QFETCH(qint64, newest);
    QFETCH(bool, notice);

    LocalHttpServer server;
    QVERIFY(server.listen());
    server.answer(200, answerBody(newest));

    QCOMPARE(runCheck(server.appInfoUrl(), running), QByteArray());
    QCOMPARE(server.requestHeads().size(), 1);
    if (notice) {
        QCOMPARE(m_notice->shown, QList<QStringList>{noticeShown(QStringLiteral("新しい版が出ました"))});
        QCOMPARE(m_opener->opened, QList<QUrl>{QUrl(QStringLiteral("https://quillmere.test/download"))});
    } else {
        QVERIFY(m_notice->shown.isEmpty());
        QVERIFY(m_opener->opened.isEmpty());
    }
}

void TestUpdateCheck::answerIsDecoded_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("extra keys")
        << QByteArray(R"({"versionCode": 2, "versionName": "2.0", "message": "m", "url": "https://q.test/",
                        "channel": "stable", "notes": {"a": [1, 2]}})")
        << true << QByteArray();
    QTest::newRow("versionName missing")
        << QByteArray(R"({"versionCode": 2, "message": "m", "url": "https://q.test/"})") << false
        << QByteArray("update check: the answer does not decode: \"versionName\" is missing or not a string\n");
    QTest::newRow("versionCode as string")
        << QByteArray(R"({"versionCode": "2", "versionName": "2.0", "message": "m", "url": "https://q.test/"})")
        << false
        << QByteArray("update check: the answer does not decode: \"versionCode\" is missing or not an integer\n");
}

void TestUpdateCheck::answerIsDecoded()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, notice);
    QFETCH(QByteArray, output);

    LocalHttpServer server;
    QVERIFY(server.listen());
    server.answer(200, body);

    QCOMPARE(runCheck(server.appInfoUrl(), QStringLiteral("1")), output);
    QCOMPARE(m_notice->shown.size(), notice ? 1 : 0);
}

void TestUpdateCheck::statusOtherThan200ShowsNothing_data()
{
    QTest::addColumn<int>("status");

    QTest::newRow("server error") << 500;
    QTest::newRow("not found") << 404;
    // Success, but not the answer the service gives; Qt reports no error here.
    QTest::newRow("created") << 201;
}

void TestUpdateCheck::statusOtherThan200ShowsNothing()
{
    QFETCH(int, status);

    LocalHttpServer server;
    QVERIFY(server.listen());
    // A body that would show the notice, had the status been 200.
    server.answer(status, answerBody(1000));

    QCOMPARE(runCheck(server.appInfoUrl(), QStringLiteral("1")),
             "update check: unexpected HTTP status " + QByteArray::number(status) + "\n");
    QVERIFY(m_notice->shown.isEmpty());
}

void TestUpdateCheck::unparsableRunningBuildShowsNothing()
{
    LocalHttpServer server;
    QVERIFY(server.listen());
    server.answer(200, answerBody(Q_INT64_C(9223372036854775807)));

    QCOMPARE(runCheck(server.appInfoUrl(), QStringLiteral("1.2")),
             QByteArray("update check: the running build number \"1.2\" is not an integer\n"));
    QVERIFY(m_notice->shown.isEmpty());
}

void TestUpdateCheck::unreachableServerWritesOneErrorLine()
{
    // A port that was just free and is closed again refuses the connection.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    QUrl url(QStringLiteral("http://127.0.0.1/appinfo"));
    url.setPort(probe.serverPort());
    probe.close();

    const QByteArray output = runCheck(url, QStringLiteral("1"));
    // "error:" then Qt's description, directly, as the only line.
    QVERIFY2(QRegularExpression(QStringLiteral("^error:\\S[^\\n]*\\n\\z")).match(QString::fromUtf8(output)).hasMatch(),
             output.constData());
    QVERIFY(m_notice->shown.isEmpty());
}

void TestUpdateCheck::requestIsPlainGetWithContentType()
{
    const QNetworkRequest request = UpdateCheck::makeRequest(QUrl(QStringLiteral("https://q.test/appinfo")));
    QCOMPARE(request.rawHeaderList(), QList<QByteArray>{"Content-Type"});
    QCOMPARE(request.transferTimeout(), 60000);
    // The defaults are the values the build was configured with, untouched.
    QCOMPARE(UpdateCheck::defaultEndpoint(), QUrl(QStringLiteral(CONFIGURED_QUILLMERE_UPDATE_URL)));
    QCOMPARE(UpdateCheck::defaultEndpoint().scheme(), QStringLiteral("https"));
    QCOMPARE(UpdateCheck::defaultBuildNumber(), QStringLiteral(CONFIGURED_QUILLMERE_BUILD_NUMBER));

    LocalHttpServer server;
    QVERIFY(server.listen());
    server.answer(200, answerBody(1));
    QCOMPARE(runCheck(server.appInfoUrl(), QStringLiteral("1")), QByteArray());

    QCOMPARE(server.requestHeads().size(), 1);
    const QList<QByteArray> lines = server.requestHeads().constFirst().split('\n');
    QCOMPARE(lines.constFirst(), QByteArray("GET /appinfo HTTP/1.1\r"));
    qsizetype contentTypes = 0;
    for (const QByteArray& line : lines) {
        const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
        if (name == "content-type") {
            ++contentTypes;
            QCOMPARE(line, QByteArray("Content-Type: text/plain\r"));
        }
        // A GET with no body announces none.
        QVERIFY2(name != "content-length" && name != "transfer-encoding", line.constData());
    }
    QCOMPARE(contentTypes, 1);
}

void TestUpdateCheck::certificateIsChecked_data()
{
    QTest::addColumn<QString>("subjectAltName");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("self-signed, not trusted") << "IP:127.0.0.1" << false << false;
    QTest::newRow("trusted, for another host") << "DNS:other.quillmere.test" << true << false;
    // The same server with a trusted, matching certificate must work, or the
    // rows above would pass for the wrong reason.
    QTest::newRow("trusted and matching") << "IP:127.0.0.1" << true << true;
}

void TestUpdateCheck::certificateIsChecked()
{
    QFETCH(QString, subjectAltName);
    QFETCH(bool, trusted);
    QFETCH(bool, accepted);

    const TestCertificate certificate(subjectAltName);
    QVERIFY2(certificate.isValid(), qPrintable(certificate.problem()));
    if (trusted) {
        QSslConfiguration defaults = QSslConfiguration::defaultConfiguration();
        defaults.addCaCertificate(certificate.certificate());
        QSslConfiguration::setDefaultConfiguration(defaults);
    }
    LocalHttpServer server(certificate.serverConfiguration());
    QVERIFY(server.listen());
    server.answer(200, answerBody(2));

    const QByteArray output = runCheck(server.appInfoUrl(), QStringLiteral("1"));
    QVERIFY(server.handshakesStarted() >= 1);
    if (accepted) {
        QCOMPARE(output, QByteArray());
        QCOMPARE(m_notice->shown.size(), 1);
        QCOMPARE(server.requestHeads().size(), 1);
    } else {
        QVERIFY2(output.startsWith("error:") && output.count('\n') == 1 && output.endsWith('\n'),
                 output.constData());
        QVERIFY(m_notice->shown.isEmpty());
        // Nothing was sent over a connection the client did not trust.
        QVERIFY(server.requestHeads().isEmpty());
    }
}

void TestUpdateCheck::noticeAnswer_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("openerSucceeds");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::addColumn<QByteArray>("output");

    const QString page = QStringLiteral("https://quillmere.test/download?from=9&to=10");
    QTest::newRow("first button opens the page")
        << true << page << true << QList<QUrl>{QUrl(page)} << QByteArray();
    QTest::newRow("second button opens nothing") << false << page << true << QList<QUrl>{} << QByteArray();
    QTest::newRow("plain http page") << true << QStringLiteral("http://quillmere.test/") << true
                                     << QList<QUrl>{QUrl(QStringLiteral("http://quillmere.test/"))}
                                     << QByteArray();
    QTest::newRow("not an address") << true << QStringLiteral("ht tp://bad url") << true << QList<QUrl>{}
                                    << QByteArray("update check: cannot open the address \"ht tp://bad url\"\n");
    QTest::newRow("empty address") << true << QString() << true << QList<QUrl>{}
                                   << QByteArray("update check: cannot open the address \"\"\n");
    QTest::newRow("relative address") << true << QStringLiteral("download/new") << true << QList<QUrl>{}
                                      << QByteArray("update check: cannot open the address \"download/new\"\n");
    QTest::newRow("local file") << true << QStringLiteral("file:///etc/passwd") << true << QList<QUrl>{}
                                << QByteArray("update check: cannot open the address \"file:///etc/passwd\"\n");
    QTest::newRow("browser fails") << true << page << false << QList<QUrl>{QUrl(page)}
                                   << "update check: the browser did not open " + page.toUtf8() + "\n";
}

void TestUpdateCheck::noticeAnswer()
{
    QFETCH(bool, confirm);
    QFETCH(QString, url);
    QFETCH(bool, openerSucceeds);
    QFETCH(QList<QUrl>, opened);
    QFETCH(QByteArray, output);

    RecordingUpdateNotice notice(confirm);
    RecordingUrlOpener opener(openerSucceeds);
    UpdateCheck check(*m_network, notice, opener, QUrl(), QStringLiteral("1"));
    const AppInfo info{2, QStringLiteral("2.0"), QStringLiteral("お知らせ"), url};

    QByteArray written;
    {
        StdoutCapture capture;
        check.showUpdateAlert(info);
        written = QByteArray::fromStdString(capture.text());
    }
    QCOMPARE(written, output);
    QCOMPARE(notice.shown, QList<QStringList>{noticeShown(QStringLiteral("お知らせ"))});
    QCOMPARE(opener.opened, opened);
}

void TestUpdateCheck::destroyedWhileWaitingIsQuiet()
{
    LocalHttpServer server;
    QVERIFY(server.listen());
    server.holdAnswers();

    QByteArray written;
    bool asked = false;
    bool closed = false;
    {
        StdoutCapture capture;
        {
            UpdateCheck check(*m_network, *m_notice, *m_opener, server.appInfoUrl(), QStringLiteral("1"));
            check.fetchAppInfo();
            asked = QTest::qWaitFor([&] { return !server.requestHeads().isEmpty(); }, answerWaitMs);
        }
        // The abandoned request is given up rather than left running.
        closed = QTest::qWaitFor([&] { return server.connectionsClosed() == 1; }, answerWaitMs);
        written = QByteArray::fromStdString(capture.text());
    }
    QVERIFY(asked);
    QCOMPARE(server.requestHeads().size(), 1);
    QVERIFY(closed);
    QCOMPARE(written, QByteArray());
    QVERIFY(m_notice->shown.isEmpty());
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_UpdateCheck.moc"
