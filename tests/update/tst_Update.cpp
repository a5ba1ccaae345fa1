// The update check end to end: a loopback HTTP(S) server answers, the real
// notice is clicked, and a recording function stands in for the browser.

#include "BuildNumber.h"
#include "StdoutCapture.h"
#include "UpdateCheck.h"
#include "UpdateNoticeDialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kPage = QStringLiteral("https://quillmere.test/dl?a=1&b=2");
const QString kFailing = QStringLiteral("https://quillmere.test/failing");
const QString kMessage = QStringLiteral("新しい版が出ました");
const QString kRichMessage = QStringLiteral("<b>新版</b> <a href=\"file:///etc/passwd\">ここ</a>");

QByteArray body(const QByteArray& versionCode, const QString& url = kPage, const QString& message = kMessage)
{
    QByteArray quotedMessage = message.toUtf8();
    quotedMessage.replace("\"", "\\\"");
    return R"({"versionCode": )" + versionCode + R"(, "versionName": "9.9", "message": ")" + quotedMessage
        + R"(", "url": ")" + url.toUtf8() + "\"}";
}

// A valid answer made exactly size bytes long with blanks JSON ignores.
QByteArray paddedTo(qsizetype size)
{
    QByteArray answer = body("2");
    answer.insert(answer.size() - 1, QByteArray(size - answer.size(), ' '));
    return answer;
}

// Answers every request on 127.0.0.1 with one canned reply and keeps the
// request heads.
struct LocalServer {
    // Without sized, the answer carries no length and ends with the connection.
    LocalServer(const QSslConfiguration* tls, int status, const QByteArray& reply, bool sized = true)
        : tcp(tls ? new QSslServer : new QTcpServer)
    {
        if (tls)
            static_cast<QSslServer*>(tcp.get())->setSslConfiguration(*tls);
        QObject::connect(tcp.get(), &QTcpServer::pendingConnectionAvailable, tcp.get(), [=, this] {
            while (QTcpSocket* socket = tcp->nextPendingConnection()) {
                const auto serve = [=, this] {
                    const qsizetype end = socket->peek(64 * 1024).indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    heads.append(socket->read(end + 4));
                    const QByteArray length = sized ? "Content-Length: " + QByteArray::number(reply.size()) + "\r\n" : "";
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + length
                                  + "Connection: close\r\n\r\n" + reply);
                    socket->disconnectFromHost();
                };
                QObject::connect(socket, &QTcpSocket::readyRead, socket, serve);
                serve();
            }
        });
        tcp->listen(QHostAddress::LocalHost, 0);
        url = QStringLiteral("%1://127.0.0.1:%2/appinfo").arg(tls ? "https" : "http").arg(tcp->serverPort());
    }

    std::unique_ptr<QTcpServer> tcp;
    QUrl url;
    QList<QByteArray> heads;
};

// A throw-away self-signed certificate for subjectAltName, made by openssl,
// which writes the key and then the certificate to standard output.
QSslConfiguration serverTls(const QString& subjectAltName)
{
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-nodes", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-keyout", "/dev/stdout", "-out", "/dev/stdout", "-days", "2", "-subj", "/CN=Quillmere test",
                              "-addext", "subjectAltName=" + subjectAltName});
    openssl.waitForFinished(30000);
    const QByteArray pem = openssl.readAllStandardOutput();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(pem));
    tls.setPrivateKey(QSslKey(pem, QSsl::Ec));
    return tls;
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void parsesBuildNumber_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("value"); // printed back, "-" when refused
        QTest::newRow("smallest") << QByteArray("-9223372036854775808") << QByteArray("-9223372036854775808");
        QTest::newRow("one past largest") << QByteArray("9223372036854775808") << QByteArray("-");
        for (const char* refused : {" 12", "", "+-3"}) // tagged percent-encoded
            QTest::addRow("refused '%s'", QByteArray(refused).toPercentEncoding().constData()) << QByteArray(refused) << QByteArray("-");
        QTest::newRow("embedded NUL") << QByteArray("1\0002", 3) << QByteArray("-");
    }
    void parsesBuildNumber()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, value);
        const std::optional<qint64> parsed = BuildNumber::parse(std::string_view(text.constData(), size_t(text.size())));
        QCOMPARE(parsed ? QByteArray::number(*parsed) : QByteArray("-"), value);
    }

    void check_data();
    void check();
};

void TestUpdate::check_data()
{
    QTest::addColumn<QString>("server"); // "http", "http without length", "closed", "https" or "https trusted"
    QTest::addColumn<QString>("running");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("click"); // the notice's button
    QTest::addColumn<QString>("opened"); // the address handed to the browser; "-" when no notice is shown
    QTest::addColumn<QByteArray>("log"); // without a line end: the start of Qt's own error text
    QTest::addColumn<QString>("message"); // as the notice shows it
    const auto row = [](const char* name, const char* server, const char* running, int status, const QByteArray& reply,
                        const char* click, const QString& opened, const QByteArray& log = {},
                        const QString& message = kMessage) {
        QTest::newRow(name) << QString(server) << QString(running) << status << reply << QString(click) << opened << log
                            << message;
    };
    const QByteArray tooLarge = "error:the answer is larger than 65536 bytes\n";
    const QByteArray undecodable = "update check: the answer does not decode: ";
    const QByteArray notInteger = undecodable + "\"versionCode\" is missing or not an integer\n";
    const QByteArray refused = "update check: cannot open the address \"";
    const char* yes = "確認する";

    row("newer", "http", "1", 200, body("2"), yes, kPage);
    row("equal", "http", "1", 200, body("1"), yes, "-");
    row("older", "http", "5", 200, body("4"), yes, "-");
    row("top of range", "http", "+9223372036854775806", 200, body("9223372036854775807"), yes, kPage);
    row("extra keys", "http", "1", 200, R"({"channel": {"a": [1]}, )" + body("2").mid(1), yes, kPage);
    row("url missing", "http", "1", 200, R"({"versionCode": 2, "versionName": "2", "message": "m"})", yes, "-",
        undecodable + "\"url\" is missing or not a string\n");
    row("versionCode as string", "http", "1", 200, body("\"2\""), yes, "-", notInteger);
    row("versionCode with fraction", "http", "2", 200, body("2.5"), yes, "-", notInteger);
    row("versionCode above 64 bits", "http", "1", 200, body("9223372036854775808"), yes, "-", notInteger);
    row("not an object", "http", "1", 200, "[2]", yes, "-", undecodable + "not a JSON object\n");
    row("cut short", "http", "1", 200, body("2").chopped(2), yes, "-", undecodable + "not JSON (");
    // Markup and links stay text: nothing in the message can be clicked.
    row("rich text with a link", "http", "1", 200, body("2", kPage, kRichMessage), yes, kPage, {}, kRichMessage);
    row("64 KB exactly", "http", "1", 200, paddedTo(64 * 1024), yes, kPage);
    row("one byte over 64 KB", "http", "1", 200, paddedTo(64 * 1024 + 1), yes, "-", tooLarge);
    row("10 MB without a length", "http without length", "1", 200, paddedTo(10 * 1024 * 1024), yes, "-", tooLarge);
    // Qt reports this status as a transfer error too; the log names the status.
    row("status 500", "http", "1", 500, body("2"), yes, "-", "update check: unexpected HTTP status 500\n");
    // A success Qt reports no error for, but not the service's answer.
    row("status 201", "http", "1", 201, body("2"), yes, "-", "update check: unexpected HTTP status 201\n");
    row("running build not a number", "http", "1.2", 200, body("2"), yes, "-",
        "update check: the running build number \"1.2\" is not an integer\n");
    row("unreachable", "closed", "1", 200, body("2"), yes, "-", "error:");
    row("self-signed certificate", "https", "1", 200, body("2"), yes, "-", "error:");
    // Without this row, the refusal above could pass for a broken server.
    row("trusted certificate", "https trusted", "1", 200, body("2"), yes, kPage);
    row("second button opens nothing", "http", "1", 200, body("2"), "閉じる", {});
    row("plain http page", "http", "1", 200, body("2", "http://quillmere.test/"), yes, "http://quillmere.test/");
    row("local file", "http", "1", 200, body("2", "file:///etc/passwd"), yes, {}, refused + "file:///etc/passwd\"\n");
    // The browser is stubbed to fail for this address.
    row("browser fails", "http", "1", 200, body("2", kFailing), yes, kFailing,
        "update check: the browser did not open " + kFailing.toUtf8() + "\n");
}

void TestUpdate::check()
{
    QFETCH(QString, server);
    QFETCH(QString, running);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, click);
    QFETCH(QString, opened);
    QFETCH(QByteArray, log);
    QFETCH(QString, message);

    // The certificates trusted here are throw-away ones, made for one row each.
    const bool https = server.startsWith("https");
    const QSslConfiguration tls = https ? serverTls("IP:127.0.0.1") : QSslConfiguration();
    QVERIFY2(!https || (!tls.privateKey().isNull() && !tls.localCertificate().isNull()), "openssl made no certificate");
    // The trust given to one row's certificate ends with the row, also when a check fails.
    struct DefaultTlsRestored {
        QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        ~DefaultTlsRestored() { QSslConfiguration::setDefaultConfiguration(saved); }
    } restored;
    if (server.contains("trusted")) {
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(tls.localCertificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    auto local = std::make_unique<LocalServer>(https ? &tls : nullptr, status, reply, server != "http without length");
    const QUrl url = local->url;
    if (server == "closed")
        local.reset(); // the port, free a moment ago, refuses the connection

    // Answers the real notice once it is open.
    QStringList seen;
    QList<Qt::TextFormat> formats;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* notice = qobject_cast<UpdateNoticeDialog*>(QApplication::activeModalWidget());
        if (!notice || !notice->isVisible())
            return;
        seen << notice->headingLabel->text() << notice->messageLabel->text();
        formats << notice->messageLabel->textFormat();
        for (QPushButton* button : {notice->confirmButton, notice->closeButton})
            if (button->text() == click)
                return QTest::mouseClick(button, Qt::LeftButton);
        seen << "no button " + click;
        notice->reject();
    });
    poll.start(10);

    QNetworkAccessManager network;
    QList<QUrl> handed;
    const auto openUrl = [&handed](const QUrl& address) {
        handed.append(address);
        return address != QUrl(kFailing); // the browser is stubbed to fail for this one
    };
    UpdateCheck check(network, [](const QString& text) { return UpdateNoticeDialog::ask(text); }, openUrl, url,
                      running);
    QSignalSpy finished(&check, &UpdateCheck::finished);
    QString output;
    bool answered = false;
    {
        // Nothing is asserted while standard output is captured: the message would vanish.
        StdoutCapture capture;
        check.fetchAppInfo();
        // fetchAppInfo hands the request over and returns without waiting.
        answered = finished.isEmpty() && QTest::qWaitFor([&] { return !finished.isEmpty(); }, 20000);
        QCoreApplication::processEvents();
        output = QString::fromStdString(capture.text());
    }
    // Qt Test prints Qt's own warnings (the offscreen platform warns when a
    // box is shown) on standard output too; outside tests they go to standard error.
    output.remove(QRegularExpression(QStringLiteral("^QWARN  : [^\\n]*\\n"), QRegularExpression::MultilineOption));
    QVERIFY2(answered, "fetchAppInfo waited for the answer, or the check never finished");
    QCOMPARE(finished.size(), 1);
    if (log.isEmpty() || log.endsWith('\n'))
        QCOMPARE(output.toUtf8(), log);
    else
        QVERIFY2(output.startsWith(log) && output.endsWith('\n') && output.count('\n') == 1, qPrintable(output));
    const bool noticeShown = opened != "-";
    QCOMPARE(seen, (noticeShown ? QStringList{"更新があります", message} : QStringList()));
    QCOMPARE(formats, (noticeShown ? QList<Qt::TextFormat>{Qt::PlainText} : QList<Qt::TextFormat>()));
    QCOMPARE(handed, opened.isEmpty() || opened == "-" ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    // Nothing goes over a connection the client does not trust; otherwise
    // one plain GET of /appinfo whose only added header is the content type.
    const QList<QByteArray> heads = local ? local->heads : QList<QByteArray>();
    QCOMPARE(heads.size(), log == "error:" ? 0 : 1);
    if (heads.isEmpty())
        return;
    const QByteArray head = heads.constFirst();
    QVERIFY2(head.startsWith("GET /appinfo HTTP/1.1\r\n"), head.constData());
    QVERIFY2(head.contains("\r\nContent-Type: text/plain\r\n"), head.constData());
    QCOMPARE(head.toLower().count("content-type:"), 1);
    QVERIFY2(!head.toLower().contains("content-length:"), head.constData());
}

QTEST_MAIN(TestUpdate)
#include "tst_Update.moc"
