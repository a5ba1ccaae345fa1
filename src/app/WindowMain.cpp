// The entry of the window's library (see WindowModule.h): the window, the
// single-instance channel, the update check and the desktop services.

#include "AppDelegate.h"
#include "AppStart.h"
#include "CommandLine.h"
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "JapaneseQtTexts.h"
#include "JobQueue.h"
#include "Log.h"
#include "LogPrefix.h"
#include "OptionStore.h"
#include "ProblemBox.h"
#include "ProcessText.h"
#include "QuitOnSignal.h"
#include "QuitQuestion.h"
#include "SecretKeyring.h"
#include "SecretStore.h"
#include "SessionDisplay.h"
#include "ShowInFileManager.h"
#include "SingleInstance.h"
#include "UpdateCheck.h"
#include "UniqueFd.h"
#include "UpdateNoticeDialog.h"
#include "ViewController.h"
#include "WindowModule.h"

#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QTranslator>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// Set for the second start of a process whose named display could not be
// reached: which display that was ("DISPLAY :1").
constexpr const char* kUnreachedDisplay = "QUILLMERE_UNREACHED_DISPLAY";

// Said when no window can be opened: the user is told why, and how to
// archive from a terminal.
void tellNoDisplay()
{
    const char* unreached = std::getenv(kUnreachedDisplay);
    const char* display = std::getenv("DISPLAY");
    const std::string named = unreached && *unreached ? std::string(unreached)
                                                      : "DISPLAY " + std::string(display && *display ? display : "unset");
    Log::line(std::string(LogPrefix::kWindowModule) + "no display could be reached (" + named + ")");
    const std::string sentence = CommandLine::languageOfLocale() == CommandLine::Language::Japanese
        ? "quillmere: 画面に接続できないため、ウィンドウを開けません。端末からは quillmere --batch で圧縮できます。\n"
        : "quillmere: no display to open the window on; from a terminal, use quillmere --batch.\n";
    UniqueFd::writeAll(STDERR_FILENO, sentence.data(), sentence.size());
}

// What chose the display that could not be reached: a platform plugin the
// user named, and the session's variables that are set.
std::string unreachedDisplay()
{
    std::string named;
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            named += (named.empty() ? "" : ", ") + std::string(variable) + " " + value;
    }
    return named.empty() ? "no DISPLAY or WAYLAND_DISPLAY" : named;
}

// The program again, with the same arguments, as if no display were named:
// it then hands its files to the window that runs on the desktop, or says
// that none does. Returns only when it cannot start again.
void startAgainWithoutDisplay()
{
    std::string all;
    {
        // Closed before the new start, which would otherwise inherit it.
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        all.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> arguments;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\0', start);
        arguments.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    if (arguments.empty())
        return;
    ::setenv(kUnreachedDisplay, unreachedDisplay().c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    std::vector<char*> argv = ProcessText::pointersTo(arguments);
    ::execv("/proc/self/exe", argv.data());
}

// Qt ends the process when it reaches no display: started over ssh, or in a
// terminal multiplexer whose DISPLAY names a session that has ended. Nothing
// has begun yet: the program starts again without the display, once, and
// otherwise ends with status 1 instead of a core dump.
void endWithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        const std::string text = qFormatLogMessage(type, context, message).toStdString() + "\n";
        UniqueFd::writeAll(STDERR_FILENO, text.data(), text.size());
        return;
    }
    if (!std::getenv(kUnreachedDisplay))
        startAgainWithoutDisplay();
    tellNoDisplay();
    std::_Exit(1);
}

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether Qt may find somewhere to show a window. Over ssh without X
// forwarding, or in a terminal multiplexer started outside the desktop,
// nothing names a display; a platform other than X11 and Wayland (offscreen,
// a frame buffer) needs none.
bool displayNamed()
{
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return true;
    const QStringList platforms = qEnvironmentVariable("QT_QPA_PLATFORM").split(u';', Qt::SkipEmptyParts);
    return std::any_of(platforms.begin(), platforms.end(), [](const QString& platform) {
        const QString name = platform.section(u':', 0, 0).trimmed();
        return !name.isEmpty() && name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland"));
    });
}

// A sentence and what to do about it, for a start that did not get going;
// English beside it for a terminal whose language is not Japanese.
struct StartSentence {
    QString sentence;
    QString advice;
    const char* english;
};
using Tell = std::function<void(const StartSentence& told)>;

// In a window, since a file manager's start has nowhere else to say it.
void tellInWindow(const StartSentence& told)
{
    ProblemBox::tell(told.sentence, told.advice);
}

// Without a window to show it in, the sentence goes to standard error.
void tellOnTerminal(const StartSentence& told)
{
    const std::string text = CommandLine::languageOfLocale() == CommandLine::Language::Japanese
        ? (told.sentence + told.advice).toStdString()
        : std::string(told.english);
    const std::string line = "quillmere: " + text + "\n";
    UniqueFd::writeAll(STDERR_FILENO, line.data(), line.size());
}

// The running window did not take the files (or, for a start without
// files, did not say it came to the front). Not after a signal, which
// asked for the end.
void tellHandOverFailed(const SingleInstance& instance, bool withFiles, const Tell& tell)
{
    const QString notAnswering = QStringLiteral("起動中の Quillmere が応答していません。そのウィンドウを閉じるか、"
                                                "少し待ってから、もう一度開いてください。");
    switch (instance.shortfall()) {
    case SingleInstance::Shortfall::GivenUp:
        return;
    case SingleInstance::Shortfall::OtherDisplay: {
        // Its window, and every question a job asks there, are out of this
        // user's sight; one window stays the rule, since all jobs stage in
        // one work folder.
        const std::string display = instance.runningDisplay().shownName();
        const std::string english = "Quillmere is already running on another display (" + display
            + "); close its window there, then start it again.";
        tell({QStringLiteral("Quillmere はすでに別の画面（ディスプレイ %1）で動いています。")
                  .arg(QString::fromStdString(display)),
              withFiles ? QStringLiteral("ファイルはそちらに渡していません。そちらのウィンドウを閉じてから、"
                                         "もう一度開いてください。")
                        : QStringLiteral("そちらのウィンドウを閉じてから、もう一度開いてください。"),
              english.c_str()});
        return;
    }
    case SingleInstance::Shortfall::NotConfirmed:
        if (withFiles)
            tell({QStringLiteral("起動中の Quillmere がファイルを受け取ったか確かめられませんでした。"),
                  QStringLiteral("起動中の Quillmere のウィンドウで、アーカイブの作成が始まっているか確かめてください。"
                                 "始まっていなければ、もう一度開いてください。"),
                  "the running Quillmere did not confirm that it took the files; look in its window whether "
                  "the archive is being made, and if not, open them again."});
        else
            tell({QStringLiteral("起動中の Quillmere のウィンドウを前に出せたか確かめられませんでした。"), notAnswering,
                  "the running Quillmere did not confirm that it came to the front; close its window, or wait "
                  "a moment, and start it again."});
        return;
    case SingleInstance::Shortfall::NotReached:
        tell({withFiles ? QStringLiteral("起動中の Quillmere にファイルを渡せませんでした。")
                        : QStringLiteral("起動中の Quillmere に届きませんでした。"),
              notAnswering,
              "the running Quillmere does not answer; close its window, or wait a moment, and start it again."});
        return;
    }
}

// A start with no display can still hand its files to the window that runs
// on the desktop; when none runs, there is nothing it can do.
QuitOnSignal::Ending handOverWithoutDisplay(char* argv[], const std::vector<std::string>& paths)
{
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    QuitOnSignal quitOnSignal;
    SingleInstance instance(SingleInstance::defaultFolder(), SingleInstance::defaultChannelFolders());
    const SingleInstance::Role role = instance.claim(
        paths, [&quitOnSignal] { return quitOnSignal.hasSignalled(); }, SingleInstance::Claim::HandOverOnly);
    int status = 1;
    switch (role) {
    case SingleInstance::Role::HandedOver:
        status = 0;
        break;
    case SingleInstance::Role::Failed:
        tellHandOverFailed(instance, !paths.empty(), &tellOnTerminal);
        break;
    case SingleInstance::Role::NotRunning:
    case SingleInstance::Role::Primary:
    case SingleInstance::Role::Alone:
        tellNoDisplay();
        break;
    }
    return {status, quitOnSignal.endingSignal()};
}

// The window, or the hand-over to the one that runs, until the application
// ends; everything made here is gone on return.
QuitOnSignal::Ending runWindow(char* argv[], const std::vector<std::string>& items)
{
    const std::vector<std::string> paths = AppDelegate::absolutePaths(items);
    if (!displayNamed())
        return handOverWithoutDisplay(argv, paths);
    // The arguments are ours: Qt must not take a file named like one of its
    // own options.
    int qtArgc = 1;
    qInstallMessageHandler(endWithoutDisplay);
    QApplication application(qtArgc, argv);
    qInstallMessageHandler(nullptr);
    // Made before everything it must end, so that it goes after them: a
    // second signal must not cut the ending short.
    QuitOnSignal quitOnSignal;
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));
    QTranslator qtTexts;
    JapaneseQtTexts::install(application, qtTexts);

    // This start reached its display: where its window would go is what
    // the running instance records, or is compared with the one it did.
    SingleInstance instance(SingleInstance::defaultFolder(), SingleInstance::defaultChannelFolders(),
                            SessionDisplay::current());
    switch (instance.claim(paths, [&quitOnSignal] { return quitOnSignal.hasSignalled(); })) {
    case SingleInstance::Role::HandedOver:
        return {0, quitOnSignal.endingSignal()};
    case SingleInstance::Role::Failed:
        tellHandOverFailed(instance, !paths.empty(), &tellInWindow);
        return {1, quitOnSignal.endingSignal()};
    case SingleInstance::Role::Primary:
    case SingleInstance::Role::Alone:
    case SingleInstance::Role::NotRunning:
        break;
    }
    QFuture<void> leftovers = AppStart::removeLeftovers();

    // The desktop services, each a plain function, are all chosen here.
    QNetworkAccessManager network;
    UpdateCheck updateCheck(network, [](const QString& message) { return UpdateNoticeDialog::ask(message); },
                            [](const QUrl& url) { return QDesktopServices::openUrl(url); }, &ProblemBox::tell);
    // Told over the window, which is made below; on their own before that.
    QPointer<QWidget> problemsOver;
    ShowInFileManager fileManager(QDBusConnection::sessionBus(), &DesktopFolderOpener::openFolder,
                                  [&problemsOver](const QString& sentence, const QString& advice) {
                                      ProblemBox::showOver(problemsOver, sentence, advice);
                                  });
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
    SecretStore secrets("Quillmere", "password", QDBusConnection::sessionBus(), AppStart::kKeyringWriteLimit);
    OptionStore options(SecretKeyring::of(secrets, AppStart::kKeyringReadLimit));
    // Read here, before the window and the channel's handlers exist.
    options.load();

    ViewServices services;
    // A build without an update address never asks anyone.
    if (!UpdateCheck::defaultEndpoint().isEmpty())
        services.checkForUpdate = [&updateCheck] { updateCheck.fetchAppInfo(); };
    services.showInFileManager = [&fileManager](const std::string& archive) { fileManager.showItem(archive); };
    services.notify = [&notifier](const Notification& notification) { notifier.notify(notification); };
    services.confirmQuit = &QuitQuestion::ask;
    services.loadOptions = [&options] {
        SettingStatus stored = options.load();
        stored.encryptUnknown = !options.unreadable().empty();
        return stored;
    };
    services.saveOptions = [&options](const SettingStatus& status) { return options.save(status); };
    services.passwordPlace = [&options](const SettingStatus& status) { return options.passwordPlace(status); };
    ViewController window(jobs, services);
    chooser.setParentWindow(&window);
    problemsOver = &window;
    // Files opened with the application take the options the window shows,
    // as a drop does: a password typed a moment ago is not stored yet.
    AppDelegate delegate(jobs, [&window] { return window.currentSettingStatus(); });
    // A keyring's refusal may come while the window goes, or after.
    options.whenPasswordPlaceChanges([shown = QPointer<ViewController>(&window)] {
        if (shown)
            shown->updatePasswordNotes();
    });

    QObject::connect(&instance, &SingleInstance::filesReceived, &delegate, &AppDelegate::openFiles);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, &ViewController::bringToFront);
    QObject::connect(&window, &ViewController::quitConfirmed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.show();
    delegate.openFiles(paths);
    const int status = application.exec();
    // Quit or ended by a signal, every job that will not finish says so,
    // and a password typed a moment ago is kept, in time for the keyring.
    jobs.endAll();
    window.savePendingOptions();
    secrets.finish(AppStart::kKeyringWriteLimit);
    leftovers.waitForFinished();
    return {status, quitOnSignal.endingSignal()};
}

} // namespace

extern "C" __attribute__((visibility("default"))) int quillmere_run_window(char* argv[],
                                                                             const std::vector<std::string>& items)
{
    return QuitOnSignal::end(runWindow(argv, items));
}

// The entry's type is the loader's.
static_assert(std::is_same_v<decltype(&quillmere_run_window), WindowModule::Entry>);
