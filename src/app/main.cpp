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

#include <filesystem>
#include <string>
#include <vector>

namespace {

// The files and folders named on the command line, made absolute here: a
// running instance that takes them over has a working folder of its own.
std::vector<std::string> commandLinePaths(int argc, char* argv[])
{
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        // An empty argument would otherwise stand for the working folder.
        if (argument.empty())
            continue;
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(argument, error);
        paths.push_back(error ? argument : absolute.string());
    }
    return paths;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Quillmere");
    QApplication::setApplicationName("Quillmere");
    ConverterPath::install(QFile::encodeName(QApplication::applicationDirPath()).toStdString());
    QGuiApplication::setDesktopFileName("quillmere");
    QApplication::setWindowIcon(QIcon(":/icons/quillmere.svg"));

    const std::vector<std::string> paths = commandLinePaths(argc, argv);
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
    JobQueue jobs(&chooser);
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
