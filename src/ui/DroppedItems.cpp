#include "DroppedItems.h"

#include "PathText.h"

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

// The path a file URL of this machine names, decoded by the rules an
// address given on the command line follows: an escaped NUL byte or "/"
// names nothing.
std::optional<std::string> pathOf(const QUrl& url)
{
    if (!isHere(url))
        return std::nullopt;
    return PathText::fromFileAddress("file:" + url.path(QUrl::FullyEncoded).toStdString());
}

} // namespace

bool DroppedItems::areLocalFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return !urls.isEmpty()
        && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return pathOf(url).has_value(); });
}

std::optional<std::vector<std::string>> DroppedItems::localPaths(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        const std::optional<std::string> path = pathOf(url);
        if (!path)
            return std::nullopt;
        // "." and ".." as the kernel resolves them, as on the command line:
        // once, at the drop, not at every move of the drag.
        paths.push_back(PathText::absoluteItem(*path));
    }
    return paths;
}
