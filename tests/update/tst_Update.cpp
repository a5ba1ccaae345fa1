// The update check end to end: a loopback HTTP server answers, the real
// notice is confirmed, and a recording function stands in for the browser.

#include "StdoutCapture.h"
#include "UpdateCheck.h"
#include "UpdateNoticeDialog.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

const QString kPage = QStringLiteral("https://quillmere.test/dl?a=1&b=2");
const QString kMessage = QStringLiteral("新しい版が出ました");

QByteArray body(const QByteArray& versionCode, const QString& url = kPage)
{
    return R"({"versionCode": )" + versionCode + R"(, "versionName": "9.9", "message": ")" + kMessage.toUtf8()
        + R"(", "url": ")" + url.toUtf8() + "\"}";
}

// A message of hundreds of lines.
QString longMessage()
{
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("更新の内容 %1").arg(i);
    return lines.join(QLatin1Char('\n'));
}

// Status 0: takes the request and never answers.
constexpr int kSilent = 0;

// Answers every request on 127.0.0.1 with one canned reply; headers, when
// given, are added to it, each ending in CR LF.
struct LocalServer {
    LocalServer(int status, const QByteArray& reply, const QByteArray& headers = {})
    {
        QObject::connect(&tcp, &QTcpServer::pendingConnectionAvailable, &tcp, [=, this] {
            while (QTcpSocket* socket = tcp.nextPendingConnection()) {
                const auto serve = [=] {
                    if (status == kSilent || !socket->peek(64 * 1024).contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\n" + headers + "Content-Length: "
                                  + QByteArray::number(reply.size()) + "\r\nConnection: close\r\n\r\n" + reply);
                    socket->disconnectFromHost();
                };
                QObject::connect(socket, &QTcpSocket::readyRead, socket, serve);
                serve();
            }
        });
        tcp.listen(QHostAddress::LocalHost, 0);
        url = QStringLiteral("http://127.0.0.1:%1/appinfo").arg(tcp.serverPort());
    }

    QTcpServer tcp;
    QUrl url;
};

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    // A message of hundreds of lines scrolls: the notice and its buttons
    // stay on the screen.
    void aLongMessageLeavesTheButtonsOnTheScreen()
    {
        UpdateNoticeDialog dialog(longMessage());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QRect screen = dialog.screen()->availableGeometry();
        QVERIFY2(dialog.frameGeometry().height() <= screen.height(), qPrintable(QString::number(dialog.height())));
        for (QPushButton* button : {dialog.confirmButton, dialog.closeButton}) {
            QVERIFY(button->isVisible());
            QVERIFY(dialog.rect().contains(QRect(button->mapTo(&dialog, QPoint()), button->size())));
        }
        QCOMPARE(dialog.messageLabel->text(), longMessage());
    }

    // Without a mouse: the notice opens on "確認する", Tab goes on to
    // "閉じる" and then to the message, which the keyboard scrolls to its end.
    void theKeyboardReadsALongMessageToItsEnd()
    {
        UpdateNoticeDialog dialog(longMessage());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(dialog.accessibleName().contains(QStringLiteral("更新のお知らせ")));
        QTRY_COMPARE(QApplication::focusWidget(), dialog.confirmButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), dialog.closeButton);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        auto* area = qobject_cast<QScrollArea*>(QApplication::focusWidget());
        QVERIFY(area);
        QVERIFY(area->isAncestorOf(dialog.messageLabel));
        QScrollBar* bar = area->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(area, Qt::Key_PageDown);
        QVERIFY(bar->value() > 0);
        while (bar->value() < bar->maximum()) {
            const int before = bar->value();
            QTest::keyClick(area, Qt::Key_PageDown);
            QVERIFY(bar->value() > before);
        }
        QTest::keyClick(area, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), dialog.confirmButton);
    }

    void check_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<QString>("opened"); // handed to the browser once the notice is confirmed
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<bool>("browserOpens");
        QTest::addColumn<QString>("told"); // the sentence the window shows when no page opened
        QTest::addColumn<QByteArray>("headers");
        QByteArray oversized = body("2");
        oversized.insert(oversized.size() - 1, QByteArray(UpdateCheck::kMaxAnswerBytes, ' '));
        QTest::newRow("newer") << 200 << body("2") << true << kPage << QByteArray() << true << QString() << QByteArray();
        QTest::newRow("same") << 200 << body("1") << false << QString() << QByteArray() << true << QString() << QByteArray();
        QTest::newRow("failed") << 500 << body("2") << false << QString()
                                << QByteArray("update check: unexpected HTTP status 500\n") << true << QString() << QByteArray();
        QTest::newRow("oversized") << 200 << oversized << false << QString()
                                   << QByteArray("error:the answer is larger than 65536 bytes\n") << true << QString() << QByteArray();
        QTest::newRow("malformed") << 200 << body("\"2\"") << false << QString()
            << QByteArray("update check: the answer does not decode: \"versionCode\" is missing or not an integer\n")
            << true << QString() << QByteArray();
        // The answer comes from the network: only web pages are handed to the browser.
        QTest::newRow("local file address") << 200 << body("2", "file:///etc/passwd") << true << QString()
            << QByteArray("update check: cannot open the address \"file:///etc/passwd\"\n") << true
            << QStringLiteral("更新のページを開けませんでした。|お知らせにあったアドレスはウェブページのものではないため、開きませんでした: file:///etc/passwd") << QByteArray();
        // No browser: the user is told, with the address to open by hand.
        QTest::newRow("no browser") << 200 << body("2") << true << kPage
            << QByteArray("update check: the browser did not open " + kPage.toUtf8() + "\n") << false
            << QStringLiteral("ブラウザで更新のページを開けませんでした。|次のアドレスをブラウザで開いてください: ") + kPage << QByteArray();
        // Told as what happened, not as the last status or a cancellation.
        QTest::newRow("silent") << kSilent << QByteArray() << false << QString()
                                << QByteArray("error:the service sent nothing for 2 s\n") << true << QString() << QByteArray();
        QTest::newRow("redirected in a loop")
            << 302 << QByteArray() << false << QString()
            << QByteArray("error:the service redirected too many times\n") << true << QString()
            << QByteArray("Location: /appinfo\r\n");
    }
    void check()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, notice);
        QFETCH(QString, opened);
        QFETCH(QByteArray, log);
        QFETCH(bool, browserOpens);
        QFETCH(QString, told);
        QFETCH(QByteArray, headers);
        // Nothing is read from a reply that was given up.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QIODevice")));
        LocalServer server(status, reply, headers);

        // Confirms the real notice once it is open, keeping the message it
        // shows as a screen reader reads it.
        QStringList seen, read;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&seen, &read] {
            auto* dialog = qobject_cast<UpdateNoticeDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            seen << dialog->messageLabel->text();
            read << QAccessible::queryAccessibleInterface(dialog->messageLabel)->text(QAccessible::Name);
            QTest::mouseClick(dialog->confirmButton, Qt::LeftButton);
        });
        poll.start(10);

        QNetworkAccessManager network;
        QList<QUrl> handed;
        const auto openUrl = [&handed, browserOpens](const QUrl& address) {
            handed.append(address);
            return browserOpens;
        };
        QStringList tellings;
        const auto tell = [&tellings](const QString& sentence, const QString& advice) {
            tellings << sentence + QLatin1Char('|') + advice;
        };
        UpdateCheck check(network, [](const QString& text) { return UpdateNoticeDialog::ask(text); }, openUrl, tell,
                          server.url, QStringLiteral("1"));
        check.setTransferTimeout(2000);
        QSignalSpy finished(&check, &UpdateCheck::finished);
        QString output;
        {
            // Nothing is asserted while standard output is captured: the message would vanish.
            StdoutCapture capture;
            check.fetchAppInfo();
            (void)QTest::qWaitFor([&finished] { return !finished.isEmpty(); }, 20000);
            output = QString::fromStdString(capture.text());
        }
        // Qt Test prints Qt's own warnings (the offscreen platform warns when a
        // box is shown) on standard output too; outside tests they go to standard error.
        output.remove(QRegularExpression(QStringLiteral("^QWARN  : [^\\n]*\\n"), QRegularExpression::MultilineOption));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(output.toUtf8(), log);
        QCOMPARE(seen, notice ? QStringList{kMessage} : QStringList());
        QCOMPARE(read, seen);
        QCOMPARE(handed, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
        QCOMPARE(tellings, told.isEmpty() ? QStringList() : QStringList{told});
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_Update.moc"
