#include "AppDelegate.h"
#include "BatchJob.h"
#include "CommandLine.h"
#include "ConverterPath.h"
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "JapaneseQtTexts.h"
#include "JobQueue.h"
#include "OptionStore.h"
#include "QuitOnSignal.h"
#include "QuitQuestion.h"
#include "SecretStore.h"
#include "ShowInFileManager.h"
#include "SingleInstance.h"
#include "StdoutDivert.h"
#include "UniqueFd.h"
#include "UpdateCheck.h"
#include "UpdateNoticeDialog.h"
#include "ViewController.h"
#include "WorkFolders.h"
#include "WorkJournal.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QTranslator>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void nameApplication()
{
    QCoreApplication::setOrganizationName("Quillmere");
    QCoreApplication::setApplicationName("Quillmere");
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
}

// What jobs of an earlier run left behind when they were killed goes, off
// the main thread.
QFuture<void> removeLeftovers()
{
    return QtConcurrent::run([] {
        const WorkFolders folders = WorkFolders::ofCurrentUser();
        if (!folders.makePrivate())
            WorkJournal::removeLeftovers(folders);
    });
}

using namespace std::chrono_literals;

// How long the start waits for the keyring's answer before the password
// goes to the settings file for this run, and how long the end waits for
// password writes still running.
constexpr auto kKeyringReadLimit = 1500ms;
constexpr auto kKeyringWriteLimit = 2000ms;

OptionStore::Keyring keyringOf(SecretStore& secrets)
{
    OptionStore::Keyring keyring;
    keyring.read = [&secrets] { return secrets.read(kKeyringReadLimit); };
    keyring.write = [&secrets](const std::optional<std::string>& password, std::function<void(bool)> done) {
        secrets.write(password, std::move(done));
    };
    return keyring;
}

CommandLine parseArguments(int argc, char* argv[])
{
    CommandLine::Context context;
    context.language = CommandLine::languageOfLocale();
    context.version = QUILLMERE_VERSION;
    context.updateEndpoint = UpdateCheck::defaultEndpoint().toString().toStdString();
    context.passwordVariableSet = qEnvironmentVariableIsSet("QUILLMERE_PASSWORD");
    return CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), context);
}

// One job without a window, the single-instance channel or the update
// check; the process ends when the job has.
int runBatch(char* argv[], const CommandLine& line)
{
    // The arguments are ours: Qt must not take a file named like one of its
    // own options.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    // Made before the job, so that it goes after it.
    QuitOnSignal quitOnSignal;
    nameApplication();
    std::optional<StdoutDivert> divert;
    if (line.json)
        divert.emplace();
    QFuture<void> leftovers = removeLeftovers();
    // The stored password comes from the keyring; a password moved there
    // from the settings file is written before the process ends. A command
    // line that says whether to encrypt needs no stored password: the
    // keyring is not asked, which a locked one would make wait.
    // Nor is the session bus then connected.
    std::optional<SecretStore> secrets;
    if (!line.encrypt)
        secrets.emplace("Quillmere", "password", QDBusConnection::sessionBus(), kKeyringWriteLimit);
    OptionStore options(secrets ? keyringOf(*secrets) : OptionStore::Keyring{});

    JobQueue jobs(JobQueue::archiveJobs({}));
    BatchJob::WriteJson writeJson;
    if (divert)
        writeJson = [&divert](const std::string& json) { divert->writeOriginal(json); };
    BatchJob batch(jobs, writeJson);
    QObject::connect(&batch, &BatchJob::ended, &application, [](int status) { QCoreApplication::exit(status); });
    batch.start(line, options.load());
    if (!batch.hasEnded())
        application.exec();
    // A signal ended the loop: the job ends as cancelling it does, and the
    // queue, going, waits for its programs and removes what it made.
    if (!batch.hasEnded())
        batch.stop();
    if (secrets)
        secrets->finish(kKeyringWriteLimit);
    leftovers.waitForFinished();
    return batch.exitStatus();
}

int runWindow(char* argv[], const CommandLine& line)
{
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    // Made before everything it must end, so that it goes after them: a
    // second signal must not cut the ending short.
    QuitOnSignal quitOnSignal;
    nameApplication();
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));
    QTranslator qtTexts;
    JapaneseQtTexts::install(application, qtTexts);

    const std::vector<std::string> paths = AppDelegate::absolutePaths(line.items);
    SingleInstance instance(SingleInstance::defaultFolder(), SingleInstance::defaultChannelFolders());
    switch (instance.claim(paths, [&quitOnSignal] { return quitOnSignal.hasSignalled(); })) {
    case SingleInstance::Role::HandedOver:
        return 0;
    case SingleInstance::Role::Failed:
        return 1;
    case SingleInstance::Role::Primary:
    case SingleInstance::Role::Alone:
        break;
    }
    QFuture<void> leftovers = removeLeftovers();

    // The desktop services, each a plain function, are all chosen here.
    QNetworkAccessManager network;
    UpdateCheck updateCheck(network, [](const QString& message) { return UpdateNoticeDialog::ask(message); },
                            [](const QUrl& url) { return QDesktopServices::openUrl(url); });
    ShowInFileManager fileManager(QDBusConnection::sessionBus(), &DesktopFolderOpener::openFolder);
    DesktopNotifier notifier(QDBusConnection::sessionBus());

    DialogFolderChooser chooser;
    JobQueue jobs(JobQueue::archiveJobs([&chooser](const std::string& startFolder, FolderChosen done) {
        chooser.chooseFolderIn(startFolder, std::move(done));
    }));
    // The window and the files opened with the application share one store
    // of the options, which keeps the password in the keyring. A keyring
    // write still running when the loop ends gets a bounded time to finish
    // (below, and again when the store goes, for a save made by the window
    // as it goes).
    SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus(), kKeyringWriteLimit);
    OptionStore options(keyringOf(secrets));
    AppDelegate delegate(jobs, [&options] { return options.load(); });
    // Read here, before the window and the channel's handlers exist.
    options.load();

    ViewServices services;
    // A build without an update address never asks anyone.
    if (!UpdateCheck::defaultEndpoint().isEmpty())
        services.checkForUpdate = [&updateCheck] { updateCheck.fetchAppInfo(); };
    services.showInFileManager = [&fileManager](const std::string& archive) { fileManager.showItem(archive); };
    services.notify = [&notifier](const Notification& notification) { notifier.notify(notification); };
    services.confirmQuit = &QuitQuestion::ask;
    services.loadOptions = [&options] { return options.load(); };
    services.saveOptions = [&options](const SettingStatus& status) { return options.save(status); };
    services.passwordPlace = [&options](const SettingStatus& status) { return options.passwordPlace(status); };
    ViewController window(jobs, services);
    chooser.setParentWindow(&window);

    QObject::connect(&instance, &SingleInstance::filesReceived, &delegate, &AppDelegate::openFiles);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, &ViewController::bringToFront);
    QObject::connect(&window, &ViewController::quitConfirmed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.show();
    delegate.openFiles(paths);
    const int status = application.exec();
    secrets.finish(kKeyringWriteLimit);
    leftovers.waitForFinished();
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    // glibc reads the converter configuration once, at the first use of
    // iconv, which Qt may make while it starts: the module's folder goes
    // into GCONV_PATH before that.
    ConverterPath::install(ConverterPath::executableFolder());
    const CommandLine line = parseArguments(argc, argv);
    switch (line.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        UniqueFd::writeAll(STDOUT_FILENO, line.text.data(), line.text.size());
        return 0;
    case CommandLine::Action::Error:
        UniqueFd::writeAll(STDERR_FILENO, line.text.data(), line.text.size());
        return CommandLine::kUsageStatus;
    case CommandLine::Action::Batch:
        return runBatch(argv, line);
    case CommandLine::Action::Window:
        break;
    }
    return runWindow(argv, line);
}
