// The command line as read, without starting anything: what each option,
// each combination and each mistake asks for; and how a run ends, by its
// status or by a signal.
#include "BatchJob.h"
#include "CommandLine.h"
#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using Action = CommandLine::Action;
using Bytes = QList<QByteArray>;

namespace {

// What a command line should come out as; -1: the stored option stays.
struct Request {
    Action action = Action::Window;
    Bytes items = {};
    QByteArray output = {};
    int encrypt = -1;
    bool passwordFromStdin = false;
    bool json = false;
    int nameAfterItems = -1;
};

std::vector<std::string> strings(const Bytes& list)
{
    std::vector<std::string> out;
    for (const QByteArray& item : list)
        out.push_back(item.toStdString());
    return out;
}

CommandLine::Context context(bool japanese = false, bool passwordVariableSet = false)
{
    CommandLine::Context result;
    result.language = japanese ? CommandLine::Language::Japanese : CommandLine::Language::English;
    result.version = "1.2.3";
    result.passwordVariableSet = passwordVariableSet;
    return result;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void readsTheArguments_data()
    {
        QTest::addColumn<Bytes>("arguments");
        QTest::addColumn<bool>("passwordVariable");
        QTest::addColumn<bool>("japanese");
        QTest::addColumn<Request>("request");
        QTest::addColumn<QString>("textHas");

        const auto row = [](const char* name, const Bytes& arguments, const Request& request,
                            const QString& textHas = {}, bool variable = false, bool japanese = false) {
            QTest::newRow(name) << arguments << variable << japanese << request << textHas;
        };
        const Action batch = Action::Batch;
        row("nothing", {}, {});
        row("files for the window", {"a.txt", "b c"}, {.items = {"a.txt", "b c"}});
        row("an empty argument is no item", {"", "a"}, {.items = {"a"}});
        row("a name that is not UTF-8", {"-b", "\xff\xfe.txt"}, {batch, {"\xff\xfe.txt"}});
        row("-h", {"-h"}, {Action::Help}, "--password-stdin");
        row("--help after a file", {"a", "--help"}, {Action::Help}, "Usage: quillmere");
        row("help, Japanese", {"-h"}, {Action::Help}, "使い方: quillmere", false, true);
        row("-v", {"-v"}, {Action::Version}, "quillmere 1.2.3\n");
        row("--version with --batch", {"--batch", "--version"}, {Action::Version}, "no request");
        row("version, Japanese", {"-v"}, {Action::Version}, "行いません", false, true);
        row("-b", {"-b", "a", "b"}, {batch, {"a", "b"}});
        row("--batch after the files", {"a", "--batch"}, {batch, {"a"}});
        row("--output DIR", {"--batch", "--output", "/d", "a"}, {batch, {"a"}, "/d"});
        row("--output=DIR", {"-b", "--output=out dir", "a"}, {batch, {"a"}, "out dir"});
        row("--encrypt with the variable", {"-b", "--encrypt", "a"}, {batch, {"a"}, {}, 1}, {}, true);
        row("--encrypt --password-stdin", {"-b", "--encrypt", "--password-stdin", "a"}, {batch, {"a"}, {}, 1, true});
        row("--no-encrypt", {"-b", "--no-encrypt", "a"}, {batch, {"a"}, {}, 0}, {}, true);
        row("the variable for the window", {"a"}, {.items = {"a"}}, {}, true);
        row("--json", {"-b", "--json", "a"}, {.action = batch, .items = {"a"}, .json = true});
        row("--name-after-items", {"-b", "--name-after-items", "a"}, {.action = batch, .items = {"a"}, .nameAfterItems = 1});
        row("--no-name-after-items", {"a", "--no-name-after-items", "-b"}, {.action = batch, .items = {"a"}, .nameAfterItems = 0});
        row("everything at once", {"--json", "-b", "--encrypt", "--output", "o", "--password-stdin", "a", "b"},
            {batch, {"a", "b"}, "o", 1, true, true});
        row("-- then --help is a file", {"--", "--help"}, {.items = {"--help"}});
        row("-b -- --help is a file", {"-b", "--", "--help", "-v"}, {batch, {"--help", "-v"}});
        row("-- then -b is a file", {"--", "-b"}, {.items = {"-b"}});

        const auto mistake = [&row](const char* name, const Bytes& arguments, bool variable, const QString& text,
                                    bool japanese = false) {
            row(name, arguments, {Action::Error}, text, variable, japanese);
        };
        mistake("unknown long option", {"--bogus", "a"}, false, "quillmere: unknown option '--bogus'\nTry 'quillmere --help'");
        mistake("unknown long option, Japanese", {"--bogus"}, false, "不明なオプション '--bogus'", true);
        mistake("hint, Japanese", {"-b"}, false, "'quillmere --help'", true);
        mistake("unknown non-ASCII option", {"--ヘルプ"}, false, "'--ヘルプ'", true);
        mistake("unknown short option", {"-x", "a"}, false, "unknown option '-x'");
        mistake("unknown option in a batch", {"-b", "a", "--name-after-item"}, false, "unknown option '--name-after-item'");
        mistake("--output without its folder", {"-b", "a", "--output"}, false, "missing value after '--output'");
        mistake("--output with an empty folder", {"-b", "--output", "", "a"}, false, "--output names no folder");
        mistake("an empty item in a batch", {"-b", "", "a"}, false, "a FILE argument is empty");
        mistake("an address on another host", {"-b", "a", "file://server/share/x"}, false,
                "names no file on this computer (an address of another host, or a broken one): file://server/share/x");
        mistake("a broken address, for the window", {"FILE:///tmp/100%"}, false, "FILE:///tmp/100%");
        mistake("--output on another host", {"-b", "--output", "file://server/x", "a"}, false,
                "names no file on this computer (an address of another host, or a broken one): file://server/x");
        mistake("an empty item in a batch, Japanese", {"-b", "a", ""}, false, "空のファイル名", true);
        mistake("a password as an argument", {"-b", "--encrypt=secret", "a"}, true, "no value is taken after '--encrypt'");
        mistake("--encrypt without a password", {"-b", "--encrypt", "a"}, false, "QUILLMERE_PASSWORD");
        mistake("the variable without --encrypt", {"-b", "a"}, true, "QUILLMERE_PASSWORD is set, but without --encrypt");
        mistake("the variable without --encrypt, Japanese", {"-b", "--json", "a"}, true, "--encrypt がないと使われません", true);
        mistake("--encrypt with --no-encrypt", {"-b", "--encrypt", "--no-encrypt", "a"}, true, "exclude each other");
        mistake("both namings", {"-b", "--name-after-items", "--no-name-after-items", "a"}, false, "--name-after-items and --no-name-after-items exclude each other");
        mistake("--name-after-items without --batch", {"--name-after-items", "a"}, false, "--name-after-items needs --batch");
        mistake("--password-stdin alone", {"-b", "--password-stdin", "a"}, false, "--password-stdin needs --encrypt");
        mistake("--output without --batch", {"--output", "/d", "a"}, false, "--output needs --batch");
        mistake("--json without --batch", {"--json", "a"}, false, "--json needs --batch");
        mistake("--encrypt without --batch", {"--encrypt", "a"}, true, "--encrypt needs --batch");
        mistake("--batch without items", {"--batch"}, false, "--batch needs at least one FILE");
        mistake("--batch with an empty item", {"--batch", ""}, false, "a FILE argument is empty");
        mistake("--batch with only --", {"--batch", "--"}, false, "--batch needs at least one FILE");
    }
    void readsTheArguments()
    {
        QFETCH(Bytes, arguments);
        QFETCH(bool, passwordVariable);
        QFETCH(bool, japanese);
        QFETCH(Request, request);
        QFETCH(QString, textHas);

        const CommandLine line = CommandLine::parse(strings(arguments), context(japanese, passwordVariable));
        QCOMPARE(int(line.action), int(request.action));
        QCOMPARE(line.items, strings(request.items));
        QCOMPARE(line.outputFolder, request.output.toStdString());
        QCOMPARE(line.encrypt ? int(*line.encrypt) : -1, request.encrypt);
        QCOMPARE(line.passwordFromStdin, request.passwordFromStdin);
        QCOMPARE(line.json, request.json);
        QCOMPARE(line.nameAfterItems ? int(*line.nameAfterItems) : -1, request.nameAfterItems);
        QVERIFY2(QString::fromStdString(line.text).contains(textHas), line.text.c_str());
        if (request.action == Action::Error && !japanese)
            QVERIFY(line.text.ends_with("Try 'quillmere --help' for more information.\n"));
        if (request.action == Action::Window || request.action == Action::Batch)
            QCOMPARE(line.text, std::string());
    }

    // --version tells whether the build asks an update service at all.
    void versionTellsTheUpdateAddress()
    {
        CommandLine::Context withAddress = context();
        withAddress.updateEndpoint = "https://updates.example.invalid/appinfo";
        QCOMPARE(CommandLine::parse({"--version"}, withAddress).text,
                 std::string("quillmere 1.2.3\nupdate check: https://updates.example.invalid/appinfo\n"));
        QCOMPARE(CommandLine::parse({"--version"}, context()).text,
                 std::string("quillmere 1.2.3\nupdate check: none in this build (no request is ever made)\n"));
    }

    void exitStatusTellsWhatWasDelivered_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("changes"); // 0 none, 1 renamed, 2 left out, 3 warned
        QTest::addColumn<int>("status");
        const int delivered = int(JobOutcome::Kind::Delivered);
        QTest::newRow("delivered as given") << delivered << 0 << 0;
        QTest::newRow("delivered, renamed") << delivered << 1 << BatchJob::kDeliveredWithChanges;
        QTest::newRow("delivered, left out") << delivered << 2 << BatchJob::kDeliveredWithChanges;
        QTest::newRow("delivered, warned") << delivered << 3 << BatchJob::kDeliveredWithChanges;
        QTest::newRow("failed") << int(JobOutcome::Kind::Failed) << 0 << BatchJob::kNothingDelivered;
        QTest::newRow("failed after renaming") << int(JobOutcome::Kind::Failed) << 1 << BatchJob::kNothingDelivered;
        QTest::newRow("stopped") << int(JobOutcome::Kind::Stopped) << 0 << BatchJob::kNothingDelivered;
    }
    void exitStatusTellsWhatWasDelivered()
    {
        QFETCH(int, kind);
        QFETCH(int, changes);
        QFETCH(int, status);
        JobOutcome outcome;
        outcome.kind = JobOutcome::Kind(kind);
        outcome.report.fileCount = 2;
        if (changes == 1)
            outcome.report.renamed.push_back({"a?", "a_"});
        if (changes == 2)
            outcome.report.leftOut.push_back({"/x", LeftOutReason::Missing, "gone"});
        if (changes == 3)
            outcome.report.warnings.push_back({"a\x01", WindowsWarning::ControlCharacter});
        QCOMPARE(BatchJob::exitStatusOf(outcome), status);
    }

    // A signal that comes after the ending was asked, while the rest of the
    // application goes, ends the process by it when the handling goes.
    void aSignalWhileTheApplicationGoesIsNotLost_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("none") << 0;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalWhileTheApplicationGoesIsNotLost()
    {
        QFETCH(int, signalNumber);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            int argc = 1;
            char name[] = "child";
            char* argv[] = {name, nullptr};
            QCoreApplication application(argc, argv);
            {
                QuitOnSignal quitOnSignal;
                if (quitOnSignal.endingSignal() != 0)
                    ::_exit(2);
                if (signalNumber != 0)
                    ::raise(signalNumber);
            }
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        if (signalNumber == 0) {
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        } else {
            QVERIFY(WIFSIGNALED(status));
            QCOMPARE(WTERMSIG(status), signalNumber);
        }
    }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
