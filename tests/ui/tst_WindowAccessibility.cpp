// What a screen reader hears from the window: message labels carry their
// text as accessible name, and every change of it is announced. Runs on a
// real display with Qt's accessibility bridge switched on, so that Qt sends
// its update events at all (see tests/ui/CMakeLists.txt).
#include "JobQueue.h"
#include "JobStatusView.h"
#include "StandInJob.h"
#include "ScopedEnvironment.h"
#include "TestHome.h"
#include "ViewController.h"
#include "ZipAction.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace {

// The accessibility events Qt sends while it lives: what changed, on which object.
class EventLog {
public:
    EventLog()
    {
        s_events = &m_events;
        QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            s_events->push_back({event->object(), event->type()});
        });
    }
    ~EventLog() { QAccessible::installUpdateHandler(nullptr); }

    int count(QObject* object, QAccessible::Event type) const
    {
        return int(std::count(m_events.begin(), m_events.end(), std::make_pair(object, type)));
    }

private:
    static inline std::vector<std::pair<QObject*, QAccessible::Event>>* s_events = nullptr;
    std::vector<std::pair<QObject*, QAccessible::Event>> m_events;
};

} // namespace

class TestWindowAccessibility : public QObject {
    Q_OBJECT
    TestHome m_home;

private slots:
    void initTestCase()
    {
        QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName());
        QTRY_VERIFY2(QAccessible::isActive(), "Qt's accessibility is off: no events are sent");
    }

    void passwordNotesAreAnnounced()
    {
        JobQueue jobs([] { return new StandInJob; });
        ViewController view(jobs);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.encryptCheckBox->click();
        EventLog log;
        view.passwordTextField->setText(QStringLiteral("パスワード😀"));
        QVERIFY(view.passwordNoteLabel->accessibleName().contains(QStringLiteral("絵文字")));
        QCOMPARE(log.count(view.passwordNoteLabel, QAccessible::NameChanged), 1);
        QCOMPARE(log.count(view.passwordStorageLabel, QAccessible::NameChanged), 1);
        view.passwordTextField->setText(QStringLiteral("secret-1"));
        QCOMPARE(log.count(view.passwordNoteLabel, QAccessible::NameChanged), 2);
        // The same text again is no news.
        view.passwordTextField->setText(QStringLiteral("secret-2"));
        QCOMPARE(log.count(view.passwordNoteLabel, QAccessible::NameChanged), 2);
        // A problem is read out as it appears, while the focus stays in the
        // field; no problem is nothing to read out.
        QCOMPARE(QAccessible::queryAccessibleInterface(view.passwordNoteLabel)->role(), QAccessible::AlertMessage);
        QCOMPARE(log.count(view.passwordNoteLabel, QAccessible::Alert), 1);
        view.passwordTextField->clear();
        QVERIFY(view.passwordNoteLabel->accessibleName().contains(QStringLiteral("空")));
        QCOMPARE(log.count(view.passwordNoteLabel, QAccessible::Alert), 2);
    }

    // Without php the status says what to install, and says it aloud.
    void missingWriterIsAnnounced()
    {
        ScopedEnvironment path("PATH", "/nonexistent");
        JobQueue jobs([] { return new StandInJob; });
        EventLog log;
        ViewController view(jobs);
        QLabel* status = view.jobStatusView->readyLabel;
        QTRY_VERIFY(status->text().contains(QStringLiteral("php-zip")));
        QCOMPARE(status->accessibleName(), status->text());
        QVERIFY(log.count(status, QAccessible::NameChanged) >= 1);
        // Read out wherever the focus is.
        QCOMPARE(log.count(status, QAccessible::Alert), 1);
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->role(), QAccessible::AlertMessage);
    }

    void copyIsAnnounced()
    {
        JobQueue jobs([] { return new StandInJob; });
        ViewController view(jobs);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.passwordTextField->setText(QStringLiteral("secret-1"));
        EventLog log;
        view.copyPasswordButton->click();
        QVERIFY(log.count(view.copyPasswordButton, QAccessible::NameChanged) >= 1);
        QVERIFY(view.copyPasswordButton->accessibleName().contains(QStringLiteral("コピーしました")));
        // And again when the button is back to what it was.
        const int announced = log.count(view.copyPasswordButton, QAccessible::NameChanged);
        QTRY_VERIFY_WITH_TIMEOUT(log.count(view.copyPasswordButton, QAccessible::NameChanged) > announced, 10000);
        QCOMPARE(view.copyPasswordButton->accessibleName(), QStringLiteral("パスワードをコピー"));
    }
};

QTEST_MAIN(TestWindowAccessibility)
#include "tst_WindowAccessibility.moc"
