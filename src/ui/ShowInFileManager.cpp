#include "ShowInFileManager.h"

#include "DesktopFolderOpener.h"
#include "FileManager.h"
#include "JobStatusText.h"
#include "PathText.h"
#include "Log.h"
#include "LogPrefix.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");
const int kCallTimeoutMs = 5000;

} // namespace

ShowInFileManager::ShowInFileManager(QDBusConnection bus, OpenFolder openFolder, TellProblem tellProblem,
                                     QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_openFolder(std::move(openFolder))
    , m_tellProblem(std::move(tellProblem))
{
}

void ShowInFileManager::showItem(const std::string& path)
{
    if (!m_bus.isConnected()) {
        fallBack(path, QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("ShowItems"));
    // The file's URL from its bytes, as for folders; the empty startup id
    // lets the file manager come forward on its own.
    const QString uri = QString::fromLatin1(DesktopFolderOpener::urlFor(path).toEncoded());
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        const QDBusPendingReply<> reply = *watcher;
        if (reply.isError()) {
            fallBack(path, reply.error().message());
            return;
        }
        emit shown(true, false);
    });
}

void ShowInFileManager::fallBack(const std::string& path, const QString& why)
{
    Log::line(LogPrefix::kShowInFileManager + why.toStdString() + LogPrefix::kErrorFilePath + path);
    const std::string folder = PathText::parentFolder(path);
    if (!m_openFolder) {
        folderOpened(folder, false);
        return;
    }
    m_openFolder(folder, [self = QPointer<ShowInFileManager>(this), folder](bool opened) {
        if (self)
            self->folderOpened(folder, opened);
    });
}

void ShowInFileManager::folderOpened(const std::string& folder, bool opened)
{
    if (!opened) {
        Log::line(LogPrefix::kOpenFolder + folder);
        // The button did nothing the user can see: the folder's path, on
        // a line of its own, can be selected and opened by hand.
        if (m_tellProblem)
            m_tellProblem(QStringLiteral("アーカイブをファイルマネージャで表示できませんでした。"),
                          QStringLiteral("ファイルマネージャを開いて、次のフォルダを表示してください。\n%1")
                              .arg(JobStatusText::path(folder)));
    }
    emit shown(false, opened);
}
