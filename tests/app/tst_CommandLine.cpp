// The command line as read, without starting anything: what each option,
// each combination and each mistake asks for.
#include "BatchJob.h"
#include "CommandLine.h"

#include <QTest>

using Action = CommandLine::Action;
using Bytes = QList<QByteArray>;

namespace {

std::vector<std::string> strings(const Bytes& list)
{
    std::vector<std::string> out;
    for (const QByteArray& item : list)
        out.push_back(item.toStdString());
    return out;
}

CommandLine::Context context(CommandLine::Language language = CommandLine::Language::English,
                             bool passwordVariableSet = false)
{
    CommandLine::Context result;
    result.language = language;
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
        QTest::addColumn<int>("action");
        QTest::addColumn<Bytes>("items");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("encrypt"); // -1: the stored option stays
        QTest::addColumn<bool>("passwordFromStdin");
        QTest::addColumn<bool>("json");
        QTest::addColumn<QByteArray>("textHas");

        const int window = int(Action::Window), batch = int(Action::Batch), error = int(Action::Error);
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        row("nothing") << Bytes{} << false << window << Bytes{} << QByteArray() << -1 << false << false << QByteArray();
        row("files for the window") << Bytes{"a.txt", "b c"} << false << window << Bytes{"a.txt", "b c"} << QByteArray() << -1 << false << false << QByteArray();
        row("an empty argument is no item") << Bytes{"", "a"} << false << window << Bytes{"a"} << QByteArray() << -1 << false << false << QByteArray();
        row("a name that is not UTF-8") << Bytes{"-b", "\xff\xfe.txt"} << false << batch << Bytes{"\xff\xfe.txt"} << QByteArray() << -1 << false << false << QByteArray();
        row("-h") << Bytes{"-h"} << false << int(Action::Help) << Bytes{} << QByteArray() << -1 << false << false << QByteArray("--password-stdin");
        row("--help after a file") << Bytes{"a", "--help"} << false << int(Action::Help) << Bytes{} << QByteArray() << -1 << false << false << QByteArray("Usage: quillmere");
        row("-v") << Bytes{"-v"} << false << int(Action::Version) << Bytes{} << QByteArray() << -1 << false << false << QByteArray("quillmere 1.2.3\n");
        row("--version with --batch") << Bytes{"--batch", "--version"} << false << int(Action::Version) << Bytes{} << QByteArray() << -1 << false << false << QByteArray("no request");
        row("-b") << Bytes{"-b", "a", "b"} << false << batch << Bytes{"a", "b"} << QByteArray() << -1 << false << false << QByteArray();
        row("--batch after the files") << Bytes{"a", "--batch"} << false << batch << Bytes{"a"} << QByteArray() << -1 << false << false << QByteArray();
        row("--output DIR") << Bytes{"--batch", "--output", "/d", "a"} << false << batch << Bytes{"a"} << QByteArray("/d") << -1 << false << false << QByteArray();
        row("--output=DIR") << Bytes{"-b", "--output=out dir", "a"} << false << batch << Bytes{"a"} << QByteArray("out dir") << -1 << false << false << QByteArray();
        row("--encrypt with the variable") << Bytes{"-b", "--encrypt", "a"} << true << batch << Bytes{"a"} << QByteArray() << 1 << false << false << QByteArray();
        row("--encrypt --password-stdin") << Bytes{"-b", "--encrypt", "--password-stdin", "a"} << false << batch << Bytes{"a"} << QByteArray() << 1 << true << false << QByteArray();
        row("--no-encrypt") << Bytes{"-b", "--no-encrypt", "a"} << true << batch << Bytes{"a"} << QByteArray() << 0 << false << false << QByteArray();
        row("--json") << Bytes{"-b", "--json", "a"} << false << batch << Bytes{"a"} << QByteArray() << -1 << false << true << QByteArray();
        row("everything at once") << Bytes{"--json", "-b", "--encrypt", "--output", "o", "--password-stdin", "a", "b"} << false << batch << Bytes{"a", "b"} << QByteArray("o") << 1 << true << true << QByteArray();
        row("-- then --help is a file") << Bytes{"--", "--help"} << false << window << Bytes{"--help"} << QByteArray() << -1 << false << false << QByteArray();
        row("-b -- --help is a file") << Bytes{"-b", "--", "--help", "-v"} << false << batch << Bytes{"--help", "-v"} << QByteArray() << -1 << false << false << QByteArray();
        row("-- then -b is a file") << Bytes{"--", "-b"} << false << window << Bytes{"-b"} << QByteArray() << -1 << false << false << QByteArray();

        auto mistake = [&](const char* name, const Bytes& arguments, bool variable, const char* text) {
            QTest::newRow(name) << arguments << variable << error << Bytes{} << QByteArray() << -1 << false << false << QByteArray(text);
        };
        mistake("unknown long option", {"--bogus", "a"}, false, "quillmere: unknown option '--bogus'\nTry 'quillmere --help'");
        mistake("unknown short option", {"-x", "a"}, false, "unknown option '-x'");
        mistake("unknown option in a batch", {"-b", "a", "--name-after-item"}, false, "unknown option '--name-after-item'");
        mistake("--output without its folder", {"-b", "a", "--output"}, false, "missing value after '--output'");
        mistake("--output with an empty folder", {"-b", "--output", "", "a"}, false, "--output names no folder");
        mistake("a password as an argument", {"-b", "--encrypt=secret", "a"}, true, "no value is taken after '--encrypt'");
        mistake("--encrypt without a password", {"-b", "--encrypt", "a"}, false, "QUILLMERE_PASSWORD");
        mistake("--encrypt with --no-encrypt", {"-b", "--encrypt", "--no-encrypt", "a"}, true, "exclude each other");
        mistake("both namings", {"-b", "--name-after-items", "--no-name-after-items", "a"}, false, "--name-after-items and --no-name-after-items exclude each other");
        mistake("--name-after-items without --batch", {"--name-after-items", "a"}, false, "--name-after-items needs --batch");
        mistake("--password-stdin alone", {"-b", "--password-stdin", "a"}, false, "--password-stdin needs --encrypt");
        mistake("--output without --batch", {"--output", "/d", "a"}, false, "--output needs --batch");
        mistake("--json without --batch", {"--json", "a"}, false, "--json needs --batch");
        mistake("--encrypt without --batch", {"--encrypt", "a"}, true, "--encrypt needs --batch");
        mistake("--batch without items", {"--batch"}, false, "--batch needs at least one FILE");
        mistake("--batch with an empty item", {"--batch", ""}, false, "--batch needs at least one FILE");
        mistake("--batch with only --", {"--batch", "--"}, false, "--batch needs at least one FILE");
    }
    void readsTheArguments()
    {
        QFETCH(Bytes, arguments);
        QFETCH(bool, passwordVariable);
        QFETCH(int, action);
        QFETCH(Bytes, items);
        QFETCH(QByteArray, output);
        QFETCH(int, encrypt);
        QFETCH(bool, passwordFromStdin);
        QFETCH(bool, json);
        QFETCH(QByteArray, textHas);

        const CommandLine line = CommandLine::parse(strings(arguments), context(CommandLine::Language::English, passwordVariable));
        QCOMPARE(int(line.action), action);
        QCOMPARE(line.items, strings(items));
        QCOMPARE(line.outputFolder, output.toStdString());
        QCOMPARE(line.encrypt ? int(*line.encrypt) : -1, encrypt);
        QCOMPARE(line.passwordFromStdin, passwordFromStdin);
        QCOMPARE(line.json, json);
        QVERIFY2(QByteArray::fromStdString(line.text).contains(textHas), line.text.c_str());
        if (action == int(Action::Error))
            QVERIFY(line.text.ends_with("Try 'quillmere --help' for more information.\n"));
        if (action == int(Action::Window) || action == int(Action::Batch))
            QCOMPARE(line.text, std::string());
    }

    void readsTheNamingOption_data()
    {
        QTest::addColumn<Bytes>("arguments");
        QTest::addColumn<int>("nameAfterItems"); // -1: the stored option stays
        QTest::newRow("not given") << Bytes{"-b", "a"} << -1;
        QTest::newRow("--name-after-items") << Bytes{"-b", "--name-after-items", "a"} << 1;
        QTest::newRow("--no-name-after-items") << Bytes{"a", "--no-name-after-items", "-b"} << 0;
    }
    void readsTheNamingOption()
    {
        QFETCH(Bytes, arguments);
        QFETCH(int, nameAfterItems);
        const CommandLine line = CommandLine::parse(strings(arguments), context(CommandLine::Language::English, false));
        QCOMPARE(int(line.action), int(Action::Batch));
        QCOMPARE(line.nameAfterItems ? int(*line.nameAfterItems) : -1, nameAfterItems);
    }

    void speaksTheUsersLanguage_data()
    {
        QTest::addColumn<Bytes>("arguments");
        QTest::addColumn<bool>("japanese");
        QTest::addColumn<QString>("textHas");
        QTest::newRow("help, English") << Bytes{"-h"} << false << "Usage: quillmere";
        QTest::newRow("help, Japanese") << Bytes{"-h"} << true << "使い方: quillmere";
        QTest::newRow("error, English") << Bytes{"--bogus"} << false << "unknown option '--bogus'";
        QTest::newRow("error, Japanese") << Bytes{"--bogus"} << true << "不明なオプション '--bogus'";
        QTest::newRow("hint, Japanese") << Bytes{"-b"} << true << "'quillmere --help'";
        QTest::newRow("unknown non-ASCII option") << Bytes{"--ヘルプ"} << true << "'--ヘルプ'";
        QTest::newRow("version, Japanese") << Bytes{"-v"} << true << "行いません";
    }
    void speaksTheUsersLanguage()
    {
        QFETCH(Bytes, arguments);
        QFETCH(bool, japanese);
        QFETCH(QString, textHas);
        const auto language = japanese ? CommandLine::Language::Japanese : CommandLine::Language::English;
        const CommandLine line = CommandLine::parse(strings(arguments), context(language));
        QVERIFY2(QString::fromStdString(line.text).contains(textHas), line.text.c_str());
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
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
