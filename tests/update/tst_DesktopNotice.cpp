#include "DesktopUrlOpener.h"
#include "MessageBoxUpdateNotice.h"
#include "RecordingUrlHandler.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class TestDesktopNotice : public QObject
{
    Q_OBJECT

private slots:
    void messageBoxAnswers_data();
    void messageBoxAnswers();
    void openerHandsAddressToDesktop();
};

void TestDesktopNotice::messageBoxAnswers_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("confirmed");

    QTest::newRow("first button") << "confirm" << true;
    QTest::newRow("second button") << "close" << false;
    QTest::newRow("Return takes the default") << "return" << true;
    QTest::newRow("Escape closes") << "escape" << false;
}

void TestDesktopNotice::messageBoxAnswers()
{
    QFETCH(QString, action);
    QFETCH(bool, confirmed);

    // What the box looked like, read while it is open.
    QString text, informative, defaultLabel, escapeLabel;
    QStringList labels;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool applicationModal = false;

    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        text = box->text();
        informative = box->informativeText();
        icon = box->icon();
        applicationModal = box->windowModality() == Qt::ApplicationModal;
        for (QAbstractButton* button : box->buttons())
            labels.append(button->text());
        defaultLabel = box->defaultButton() ? box->defaultButton()->text() : QString();
        escapeLabel = box->escapeButton() ? box->escapeButton()->text() : QString();
        if (action == QLatin1String("confirm") || action == QLatin1String("close")) {
            const QString wanted = action == QLatin1String("confirm") ? QStringLiteral("確認する")
                                                                       : QStringLiteral("閉じる");
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == wanted)
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        } else {
            QTest::keyClick(box, action == QLatin1String("return") ? Qt::Key_Return : Qt::Key_Escape);
        }
    });
    poll.start();

    MessageBoxUpdateNotice notice;
    const bool answer = notice.confirm(QStringLiteral("更新があります"), QStringLiteral("版 2 が出ました"),
                                       QStringLiteral("確認する"), QStringLiteral("閉じる"));

    QCOMPARE(answer, confirmed);
    QCOMPARE(text, QStringLiteral("更新があります"));
    QCOMPARE(informative, QStringLiteral("版 2 が出ました"));
    QCOMPARE(icon, QMessageBox::Information);
    QVERIFY(applicationModal);
    labels.sort();
    QCOMPARE(labels, (QStringList{QStringLiteral("確認する"), QStringLiteral("閉じる")}));
    QCOMPARE(defaultLabel, QStringLiteral("確認する"));
    QCOMPARE(escapeLabel, QStringLiteral("閉じる"));
}

void TestDesktopNotice::openerHandsAddressToDesktop()
{
    RecordingUrlHandler browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "handle");
    DesktopUrlOpener opener;
    const QUrl page(QStringLiteral("https://quillmere.test/download?v=2"));
    const bool opened = opener.open(page);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QVERIFY(opened);
    QCOMPARE(browser.received, QList<QUrl>{page});
}

QTEST_MAIN(TestDesktopNotice)
#include "tst_DesktopNotice.moc"
