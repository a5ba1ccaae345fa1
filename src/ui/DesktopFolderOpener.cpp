#include "DesktopFolderOpener.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

void DesktopFolderOpener::openFolder(const std::string& folder, Done done)
{
    openFolderWithin(folder, kLauncherPatienceMs, std::move(done));
}

void DesktopFolderOpener::openFolderWithin(const std::string& folder, int patienceMs, Done done)
{
    // The launcher goes with its own end, also when that comes after the
    // answer; a launcher still running when the application quits is left
    // to finish, as a launch from a file manager would be.
    auto* launcher = new QProcess;
    // What it prints is not the application's: its complaints go to
    // standard error as they are, the rest nowhere.
    launcher->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    launcher->setStandardOutputFile(QProcess::nullDevice());
    auto pending = std::make_shared<Done>(std::move(done));
    const auto answer = [pending](bool opened) {
        if (!*pending)
            return;
        const Done once = std::exchange(*pending, nullptr);
        once(opened);
    };
    auto* patience = new QTimer(launcher);
    patience->setSingleShot(true);
    QObject::connect(patience, &QTimer::timeout, launcher, [answer] { answer(true); });
    QObject::connect(launcher, &QProcess::finished, launcher,
                     [launcher, answer](int code, QProcess::ExitStatus status) {
                         answer(status == QProcess::NormalExit && code == 0);
                         launcher->deleteLater();
                     });
    QObject::connect(launcher, &QProcess::errorOccurred, launcher, [launcher, answer](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        answer(false);
        launcher->deleteLater();
    });
    patience->start(patienceMs);
    // A URL, never a bare path: it cannot be taken for an option.
    launcher->start(QStringLiteral("xdg-open"), {QString::fromLatin1(urlFor(folder).toEncoded())});
}

QUrl DesktopFolderOpener::urlFor(const std::string& folder)
{
    const QByteArray encoded = QByteArray::fromStdString(folder).toPercentEncoding("/");
    return QUrl::fromEncoded("file://" + encoded, QUrl::StrictMode);
}
