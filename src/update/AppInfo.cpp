#include "AppInfo.h"

#include <QByteArray>
#include <QCborValue>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

// QJsonValue keeps every number as "double"; the CBOR view tells whether the
// parser read an integer. A fractional build number is a broken answer, not
// something to round.
std::optional<qint64> integerMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const QCborValue number = QCborValue::fromJsonValue(value);
    if (!number.isInteger())
        return std::nullopt;
    return number.toInteger();
}

std::optional<QString> stringMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::string missing(const char* key, const char* kind)
{
    return std::string("\"") + key + "\" is missing or not " + kind;
}

} // namespace

std::optional<AppInfo> AppInfo::fromJson(const QByteArray& body, std::string& problem)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        problem = "not JSON (" + parseError.errorString().toStdString() + ")";
        return std::nullopt;
    }
    if (!document.isObject()) {
        problem = "not a JSON object";
        return std::nullopt;
    }
    const QJsonObject object = document.object();

    const std::optional<qint64> versionCode = integerMember(object, QStringLiteral("versionCode"));
    if (!versionCode) {
        problem = missing("versionCode", "an integer");
        return std::nullopt;
    }
    const std::optional<QString> versionName = stringMember(object, QStringLiteral("versionName"));
    if (!versionName) {
        problem = missing("versionName", "a string");
        return std::nullopt;
    }
    const std::optional<QString> message = stringMember(object, QStringLiteral("message"));
    if (!message) {
        problem = missing("message", "a string");
        return std::nullopt;
    }
    const std::optional<QString> url = stringMember(object, QStringLiteral("url"));
    if (!url) {
        problem = missing("url", "a string");
        return std::nullopt;
    }
    return AppInfo{*versionCode, *versionName, *message, *url};
}
