#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string>

class QByteArray;

// The update service's answer: the newest build and what the notice offers.
struct AppInfo
{
    qint64 versionCode = 0;
    QString versionName;
    QString message;
    QString url;

    // Decodes the JSON answer. All four keys are required and keys beyond them
    // are ignored. On failure `problem` names the first key that did not fit,
    // in field order, so a log line can point at the service's mistake.
    static std::optional<AppInfo> fromJson(const QByteArray& body, std::string& problem);

    friend bool operator==(const AppInfo&, const AppInfo&) = default;
};
