#include "AppDelegate.h"
#include "ConverterPath.h"
#include "DesktopFolderOpener.h"
#include "DesktopNotifier.h"
#include "DialogFolderChooser.h"
#include "JapaneseQtTexts.h"
#include "JobQueue.h"
#include "QuitOnSignal.h"
#include "QuitQuestion.h"
#include "ShowInFileManager.h"
#include "SingleInstance.h"
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

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // glibc reads the converter configuration once, at the first use of
    // iconv, which Qt may make while it starts: the module's folder goes
    // into GCONV_PATH before that.
    ConverterPath::install(ConverterPath::executableFolder());
    QApplication application(argc, argv);
    // Made before everything it must end, so that it goes after them: a
    // second signal must not cut the ending short.
    QuitOnSignal quitOnSignal;
    QApplication::setOrganizationName("Quillmere");
    QApplication::setApplicationName("Quillmere");
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));
    QTranslator qtTexts;
    JapaneseQtTexts::install(application, qtTexts);

    const std::vector<std::string> paths = AppDelegate::pathsFromArguments(argc, argv);
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

    // What jobs of an earlier run left behind when they were killed goes,
    // off the window's thread.
    QFuture<void> leftovers = QtConcurrent::run([] {
        const WorkFolders folders = WorkFolders::ofCurrentUser();
        if (!folders.makePrivate())
            WorkJournal::removeLeftovers(folders);
    });

    // The desktop services, each a plain function, are all chosen here.
    QNetworkAccessManager network;
    UpdateCheck updateCheck(network, [](const QString& message) { return UpdateNoticeDialog::ask(message); },
                            [](const QUrl& url) { return QDesktopServices::openUrl(url); });
    ShowInFileManager fileManager(QDBusConnection::sessionBus(), &DesktopFolderOpener::openFolder);
    DesktopNotifier notifier(QDBusConnection::sessionBus());

    DialogFolderChooser chooser;
    JobQueue jobs(JobQueue::archiveJobs([&chooser](FolderChosen done) { chooser.chooseFolder(std::move(done)); }));
    AppDelegate delegate(jobs);

    ViewServices services;
    services.checkForUpdate = [&updateCheck] { updateCheck.fetchAppInfo(); };
    services.showInFileManager = [&fileManager](const std::string& archive) { fileManager.showItem(archive); };
    services.notify = [&notifier](const Notification& notification) { notifier.notify(notification); };
    services.confirmQuit = &QuitQuestion::ask;
    ViewController window(jobs, services);
    chooser.setParentWindow(&window);

    QObject::connect(&instance, &SingleInstance::filesReceived, &delegate, &AppDelegate::openFiles);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, &ViewController::bringToFront);
    QObject::connect(&window, &ViewController::quitConfirmed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.show();
    delegate.openFiles(paths);
    const int status = application.exec();
    leftovers.waitForFinished();
    return status;
}
