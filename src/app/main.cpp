#include "AppDelegate.h"
#include "ConverterPath.h"
#include "DesktopUrlOpener.h"
#include "DialogFolderChooser.h"
#include "JobQueue.h"
#include "MessageBoxUpdateNotice.h"
#include "QuitOnSignal.h"
#include "SingleInstance.h"
#include "UpdateCheck.h"
#include "ViewController.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QNetworkAccessManager>

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Made before everything it must end, so that it goes after them: a
    // second signal must not cut the ending short.
    QuitOnSignal quitOnSignal;
    QApplication::setOrganizationName("Quillmere");
    QApplication::setApplicationName("Quillmere");
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    ConverterPath::install(QFile::encodeName(QApplication::applicationDirPath()).toStdString());
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));

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

    QNetworkAccessManager network;
    MessageBoxUpdateNotice updateNotice;
    DesktopUrlOpener urlOpener;
    UpdateCheck updateCheck(network, updateNotice, urlOpener);

    DialogFolderChooser chooser;
    JobQueue jobs(JobQueue::archiveJobs([&chooser](FolderChosen done) { chooser.chooseFolder(std::move(done)); }));
    AppDelegate delegate(jobs);

    ViewServices services;
    services.updateCheck = &updateCheck;
    ViewController window(jobs, services);
    chooser.setParentWindow(&window);

    QObject::connect(&instance, &SingleInstance::filesReceived, &delegate, &AppDelegate::openFiles);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, &ViewController::bringToFront);
    QObject::connect(&window, &ViewController::quitConfirmed, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.show();
    delegate.openFiles(paths);
    return application.exec();
}
