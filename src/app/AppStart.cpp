#include "AppStart.h"

#include "SecretStore.h"
#include "Util.h"
#include "WorkFolders.h"
#include "WorkJournal.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

void AppStart::keepStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        // open gives the lowest free number: the closed one.
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd)
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

void AppStart::widenThreadPool()
{
    const int kThreadsPerProcessor = 2;
    const int kFewestThreads = 4;
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(std::max(kFewestThreads, QThread::idealThreadCount() * kThreadsPerProcessor));
}

QFuture<void> AppStart::removeLeftovers()
{
    return QtConcurrent::run([] {
        const WorkFolders folders = WorkFolders::ofCurrentUser();
        if (!folders.makePrivate())
            WorkJournal::removeLeftovers(folders);
    });
}

OptionStore::Keyring AppStart::keyringOf(SecretStore& secrets)
{
    OptionStore::Keyring keyring;
    keyring.read = [&secrets] { return secrets.read(kKeyringReadLimit); };
    keyring.write = [&secrets](const std::optional<std::string>& password, std::function<void(bool)> done) {
        secrets.write(password, std::move(done));
    };
    return keyring;
}

bool AppStart::storedOptionsEncrypt()
{
    std::string unreadable;
    const SettingStatus stored = Util::loadSettingStatusChecked(unreadable);
    return unreadable.empty() && stored.isEncrypt;
}
