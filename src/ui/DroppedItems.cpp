#include "DroppedItems.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>

namespace {

// A file URL names the machine the file is on: without a name, or by
// "localhost" or this machine's name, it is here. Qt takes any file URL
// for local, and its path would be looked up here, naming another file.
bool isHere(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString host = url.host();
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

} // namespace

bool DroppedItems::areLocalFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), isHere);
}

std::optional<std::vector<std::string>> DroppedItems::localPaths(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        if (!isHere(url))
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
