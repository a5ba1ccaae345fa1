#include "AppStart.h"

#include "BackgroundTask.h"
#include "Util.h"
#include "WorkFolders.h"
#include "WorkJournal.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

void AppStart::keepStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        // open gives the lowest free number: the closed one. Standard
        // output stays one that cannot be written: the lines are lost all
        // the same, and the text or report a caller asked for fails, with
        // its status, instead of seeming to have been written.
        const int mode = fd == STDOUT_FILENO ? O_RDONLY : O_RDWR;
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", mode) != fd)
            break;
    }
    ::signal(SIGPIPE, SIG_IGN);
}

void AppStart::nameApplication(const char* version)
{
    QCoreApplication::setOrganizationName("Quillmere");
    QCoreApplication::setApplicationName("Quillmere");
    QCoreApplication::setApplicationVersion(QString::fromUtf8(version));
}

QFuture<void> AppStart::removeLeftovers()
{
    return BackgroundTask::run([] {
        const WorkFolders folders = WorkFolders::ofCurrentUser();
        if (!folders.makePrivate())
            WorkJournal::removeLeftovers(folders);
    });
}

bool AppStart::storedOptionsEncrypt()
{
    std::string unreadable;
    const SettingStatus stored = Util::loadSettingStatusChecked(unreadable);
    return unreadable.empty() && stored.isEncrypt;
}
