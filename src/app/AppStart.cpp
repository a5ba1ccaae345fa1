#include "AppStart.h"

#include "SecretStore.h"
#include "WorkFolders.h"
#include "WorkJournal.h"

#include <QCoreApplication>
#include <QtConcurrent/QtConcurrentRun>

#include <optional>
#include <string>

void AppStart::nameApplication(const char* version)
{
    QCoreApplication::setOrganizationName("Quillmere");
    QCoreApplication::setApplicationName("Quillmere");
    QCoreApplication::setApplicationVersion(QString::fromUtf8(version));
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
