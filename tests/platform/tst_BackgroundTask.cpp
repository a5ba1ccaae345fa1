// A piece of work ends, and tells its end, whether or not a thread can be
// started for it; what it held is gone by then.
#include "BackgroundTask.h"
#include "SyscallRefusal.h"

#include <QFutureWatcher>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string threadName(std::thread::id id)
{
    std::ostringstream text;
    text << id;
    return text.str();
}

// Where the work ran ("here" or "beside"), then what the watcher saw.
std::string runOnce()
{
    auto held = std::make_shared<int>(1);
    const std::weak_ptr<int> heldSeen = held;
    QFutureWatcher<std::string> watcher;
    QSignalSpy ended(&watcher, &QFutureWatcher<std::string>::finished);
    watcher.setFuture(BackgroundTask::run([held = std::move(held)] { return threadName(std::this_thread::get_id()); }));
    if (!ended.wait(10000))
        return "no end told";
    std::string answer = watcher.result() == threadName(std::this_thread::get_id()) ? "here" : "beside";
    if (!heldSeen.expired())
        answer += ", what the work held is kept";
    int ran = 0;
    BackgroundTask::run([&ran] { ++ran; }).waitForFinished();
    if (ran != 1)
        answer += ", work without a result ran " + std::to_string(ran) + " times";
    return answer;
}

} // namespace

class TestBackgroundTask : public QObject {
    Q_OBJECT

private slots:
    void workEndsWithOrWithoutAThread_data()
    {
        QTest::addColumn<bool>("withoutThreads");
        QTest::addColumn<QString>("answer");
        QTest::newRow("a thread of its own") << false << "beside";
        // At the user's process limit: the caller runs it.
        QTest::newRow("no thread to be had") << true << "here";
    }
    void workEndsWithOrWithoutAThread()
    {
        QFETCH(bool, withoutThreads);
        QFETCH(QString, answer);
        const std::optional<std::string> got = withoutThreads ? SyscallRefusal::runWithoutNewThreads(runOnce) : runOnce();
        QVERIFY(got);
        QCOMPARE(QString::fromStdString(*got), answer);
    }
};

QTEST_GUILESS_MAIN(TestBackgroundTask)
#include "tst_BackgroundTask.moc"
