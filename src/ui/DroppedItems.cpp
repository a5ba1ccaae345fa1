#include "DroppedItems.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

bool DroppedItems::areLocalFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

std::optional<std::vector<std::string>> DroppedItems::localPaths(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return std::nullopt;
        paths.push_back(pathBytes(url));
    }
    return paths;
}

std::string DroppedItems::pathBytes(const QUrl& url)
{
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    return QByteArray::fromPercentEncoding(encoded).toStdString();
}
