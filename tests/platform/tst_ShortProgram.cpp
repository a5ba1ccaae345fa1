// A short program run to its end: its status and all it wrote, or nothing
// when it could not start, was killed or took too long; never a wait for
// what it left behind.
#include "ShortProgram.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

std::vector<std::string> shell(const std::string& script)
{
    return {"sh", "-c", script};
}

QString describe(const std::optional<ShortProgram::Ended>& ended)
{
    if (!ended)
        return QStringLiteral("nothing");
    return QStringLiteral("status %1: %2").arg(ended->status).arg(QString::fromStdString(ended->said));
}

} // namespace

class TestShortProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        ::setenv("SHORT_PROGRAM_OWN", "ours", 1);
        ::setenv("SHORT_PROGRAM_REPLACED", "ours", 1);
    }

    void endsAsTheProgramDid_data()
    {
        QTest::addColumn<std::vector<std::string>>("arguments");
        QTest::addColumn<std::vector<std::string>>("environment");
        QTest::addColumn<QString>("expected");

        const std::vector<std::string> none;
        QTest::newRow("status, output and errors in order")
            << shell("echo out; echo err >&2; echo out again; exit 3") << none
            << "status 3: out\nerr\nout again\n";
        QTest::newRow("the environment given in place of ours")
            << shell("echo $SHORT_PROGRAM_OWN $SHORT_PROGRAM_REPLACED $SHORT_PROGRAM_NEW")
            << std::vector<std::string>{"SHORT_PROGRAM_REPLACED=given", "SHORT_PROGRAM_NEW=new"}
            << "status 0: ours given new\n";
        QTest::newRow("found on the PATH, arguments as they are")
            << std::vector<std::string>{"printf", "%s|", "a b", "$HOME", "*"} << none << "status 0: a b|$HOME|*|";
        QTest::newRow("nothing to read") << shell("cat; echo read") << none << "status 0: read\n";
        QTest::newRow("more than a pipe holds")
            << shell("head -c 200000 /dev/zero | tr '\\0' x | wc -c") << none << "status 0: 200000\n";
        QTest::newRow("no such program") << std::vector<std::string>{"no-such-program-here"} << none << "nothing";
        QTest::newRow("killed by a signal") << shell("echo going; kill -KILL $$") << none << "nothing";
    }
    void endsAsTheProgramDid()
    {
        QFETCH(std::vector<std::string>, arguments);
        QFETCH(std::vector<std::string>, environment);
        QFETCH(QString, expected);
        QCOMPARE(describe(ShortProgram::run(arguments, environment, 10000)), expected);
    }

    // What this process blocks or ignores, the program does not: asked to
    // end, it ends.
    void startsWithTheDefaultSignals()
    {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        sigset_t before;
        QCOMPARE(::pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
        const auto previous = std::signal(SIGINT, SIG_IGN);

        const auto terminated = ShortProgram::run(shell("kill -TERM $$; echo lived"), {}, 10000);
        const auto interrupted = ShortProgram::run(shell("kill -INT $$; echo lived"), {}, 10000);

        std::signal(SIGINT, previous);
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
        QCOMPARE(describe(terminated), QStringLiteral("nothing"));
        QCOMPARE(describe(interrupted), QStringLiteral("nothing"));
    }

    // A program still running at the limit is killed; one that has ended is
    // done, whatever it left holding its output.
    void waitsForTheProgramOnly()
    {
        QElapsedTimer clock;
        clock.start();
        const auto slow = ShortProgram::run(shell("echo started; exec sleep 30"), {}, 300);
        const qint64 slowTook = clock.restart();
        const auto leaving = ShortProgram::run(shell("sleep 30 & echo $!"), {}, 10000);
        const qint64 leavingTook = clock.elapsed();
        const pid_t left = leaving ? std::atoi(leaving->said.c_str()) : 0;
        if (left > 0)
            ::kill(left, SIGKILL);

        QCOMPARE(describe(slow), QStringLiteral("nothing"));
        QVERIFY2(slowTook < 5000, qPrintable(QString::number(slowTook)));
        QVERIFY2(leaving && leaving->status == 0 && left > 0, qPrintable(describe(leaving)));
        QVERIFY2(leavingTook < 5000, qPrintable(QString::number(leavingTook)));
    }
};

QTEST_GUILESS_MAIN(TestShortProgram)
#include "tst_ShortProgram.moc"
