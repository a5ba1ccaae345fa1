#include "AppDelegate.h"
#include "ConverterPath.h"
#include "JobQueue.h"

#include <QApplication>
#include <QFile>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Quillmere");
    QApplication::setApplicationName("Quillmere");
    ConverterPath::install(QFile::encodeName(QApplication::applicationDirPath()).toStdString());

    JobQueue jobs(nullptr);
    AppDelegate delegate(jobs);

    QLabel window("Quillmere");
    window.show();

    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i)
        paths.emplace_back(argv[i]);
    delegate.openFiles(paths);
    return application.exec();
}
