#include "AppDelegate.h"
#include "ConverterPath.h"
#include "DesktopUrlOpener.h"
#include "DialogFolderChooser.h"
#include "JobQueue.h"
#include "MessageBoxUpdateNotice.h"
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
    // glibc reads the converter configuration once, at the first use of
    // iconv, which Qt may make while it starts: the module's folder goes
    // into GCONV_PATH before that.
    ConverterPath::install(ConverterPath::executableFolder());
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Quillmere");
    QApplication::setApplicationName("Quillmere");
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));

    const std::vector<std::string> paths = AppDelegate::pathsFromArguments(argc, argv);
    SingleInstance instance(SingleInstance::defaultFolder());
    switch (instance.claim(paths)) {
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
