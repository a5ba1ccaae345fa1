#include "AppStart.h"
#include "BackgroundTask.h"
#include "BatchJob.h"
#include "CommandLine.h"
#include "ConverterPath.h"
#include "DesktopModule.h"
#include "JobQueue.h"
#include "Log.h"
#include "LogPrefix.h"
#include "OptionStore.h"
#include "QuitOnSignal.h"
#include "StdoutDivert.h"
#include "UniqueFd.h"
#include "UpdateAddress.h"
#include "WindowModule.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The variable's value, taken out of the environment. Its bytes in the
// block the process started with are cleared as well: that block is what
// /proc/PID/environ (and so `ps e`) shows of this process and of every
// process it forks, whatever the environment holds later.
std::string takeVariable(const char* name)
{
    char* value = std::getenv(name);
    if (!value)
        return {};
    std::string taken = value;
    std::memset(value, 0, taken.size());
    qunsetenv(name);
    return taken;
}

CommandLine parseArguments(int argc, char* argv[])
{
    const char* const passwordVariable = "QUILLMERE_PASSWORD";
    CommandLine::Context context;
    context.language = CommandLine::languageOfLocale();
    context.version = QUILLMERE_VERSION;
    context.updateEndpoint = UpdateAddress::configured();
    context.passwordVariableSet = qEnvironmentVariableIsSet(passwordVariable);
    CommandLine line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), context);
    line.passwordVariable = takeVariable(passwordVariable);
    return line;
}

// One job without a window, the single-instance channel or the update
// check; the process ends when the job has. Everything the job made is
// gone on return.
QuitOnSignal::Ending runBatch(const std::string& executableFolder, char* argv[], const CommandLine& line)
{
    // The arguments are ours: Qt must not take a file named like one of its
    // own options.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    // Made before the job, so that it goes after it.
    QuitOnSignal quitOnSignal;
    std::optional<StdoutDivert> divert;
    if (line.json)
        divert.emplace();
    QFuture<void> leftovers = AppStart::removeLeftovers();
    // The stored password comes from the keyring; a password moved there
    // from the settings file is written before the process ends. Only a job
    // that goes by stored options that encrypt uses it: for any other (the
    // command line says whether to encrypt, or the options do not) the
    // keyring is not asked, which a locked one would make wait, nor is the
    // session bus connected or its library loaded.
    std::unique_ptr<DesktopServices> desktop;
    OptionStore::Keyring keyring;
    if (!line.encrypt && AppStart::storedOptionsEncrypt()) {
        // The session bus's library waits for a thread of its own, for ever
        // where none can be started.
        if (!BackgroundTask::threadStartFailure())
            desktop = DesktopModule::load(executableFolder);
        keyring = desktop ? desktop->keyring(AppStart::kKeyringWriteLimit) : DesktopModule::unreachableKeyring();
    }
    OptionStore options(std::move(keyring));

    JobQueue jobs(JobQueue::archiveJobs({}));
    BatchJob::WriteJson writeJson;
    if (divert)
        writeJson = [&divert](const std::string& json) { return divert->writeOriginal(json); };
    BatchJob batch(jobs, writeJson);
    // Queued, and the loop always runs: a job refused at once ends inside
    // start(), and exit() outside the loop would end every later wait at
    // once, the keyring's before the process ends among them.
    QObject::connect(
        &batch, &BatchJob::ended, &application, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    batch.start(line, options, [&quitOnSignal](int fd) { return quitOnSignal.waitForInput(fd); });
    application.exec();
    // A signal ended the loop: the job ends as cancelling it does, and the
    // queue, going, waits for its programs and removes what it made.
    if (!batch.hasEnded())
        batch.stop();
    if (desktop)
        desktop->finishKeyring(AppStart::kKeyringWriteLimit);
    leftovers.waitForFinished();
    return {batch.exitStatus(), quitOnSignal.endingSignal()};
}

// --help's or --version's text; 1 when it did not arrive (a full disk
// behind ">"), as for any program whose output is its work.
int printAsked(const std::string& text)
{
    if (UniqueFd::writeAll(STDOUT_FILENO, text.data(), text.size()))
        return 0;
    const std::string error = std::string("quillmere: standard output: ") + std::strerror(errno) + "\n";
    UniqueFd::writeAll(STDERR_FILENO, error.data(), error.size());
    return 1;
}

// The window needs threads of its own (the display's events, the session
// bus): without them it would wait for ever, unseen.
int tellNoThreadForWindow(const std::string& failure)
{
    Log::line(std::string(LogPrefix::kWindowModule) + "no thread could be started (" + failure + ")");
    const std::string sentence = CommandLine::languageOfLocale() == CommandLine::Language::Japanese
        ? "quillmere: プロセスの数やメモリの上限に達したため、ウィンドウを開けません。ほかのプログラムを閉じてから、"
          "もう一度開いてください。\n"
        : "quillmere: the limit on processes or memory was reached, so the window cannot open; close other "
          "programs, then start it again.\n";
    UniqueFd::writeAll(STDERR_FILENO, sentence.data(), sentence.size());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    AppStart::keepStandardStreams();
    // glibc reads the converter configuration once, at the first use of
    // iconv, which Qt may make while it starts: the module's folder goes
    // into GCONV_PATH before that.
    const std::string executableFolder = ConverterPath::executableFolder();
    ConverterPath::install(executableFolder);
    const CommandLine line = parseArguments(argc, argv);
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        return printAsked(line.text);
    case CommandLine::Action::Error:
        UniqueFd::writeAll(STDERR_FILENO, line.text.data(), line.text.size());
        return CommandLine::kUsageStatus;
    case CommandLine::Action::Batch:
    case CommandLine::Action::Window:
        break;
    }
    // Qt keeps the names for the application object either start makes.
    AppStart::nameApplication(QUILLMERE_VERSION);
    if (line.action == CommandLine::Action::Batch)
        return QuitOnSignal::end(runBatch(executableFolder, argv, line));
    if (const std::optional<std::string> failure = BackgroundTask::threadStartFailure())
        return tellNoThreadForWindow(*failure);
    return WindowModule::run(executableFolder, argv, line.items);
}
