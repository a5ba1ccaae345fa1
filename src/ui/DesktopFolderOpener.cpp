#include "DesktopFolderOpener.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QUrl>

bool DesktopFolderOpener::openFolder(const std::string& folder)
{
    return QDesktopServices::openUrl(urlFor(folder));
}

QUrl DesktopFolderOpener::urlFor(const std::string& folder)
{
    const QByteArray encoded = QByteArray::fromStdString(folder).toPercentEncoding("/");
    return QUrl::fromEncoded("file://" + encoded, QUrl::StrictMode);
}
