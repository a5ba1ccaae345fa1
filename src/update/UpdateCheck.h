#pragma once

#include "AppInfo.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class UpdateNotice;
class UrlOpener;

// Asks the update service once for the newest build and, when it is newer
// than the running one, offers the update page. Lives on the GUI thread, like
// the network manager it is given, so the answer and the notice arrive there.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    // The endpoint and the running build number default to the values the
    // build was configured with; tests give a loopback server and chosen builds.
    UpdateCheck(QNetworkAccessManager& network, UpdateNotice& notice, UrlOpener& opener,
                QUrl endpoint = defaultEndpoint(), QString buildNumber = defaultBuildNumber(),
                QObject* parent = nullptr);
    ~UpdateCheck() override;

    static QUrl defaultEndpoint();
    static QString defaultBuildNumber();

    // The request as sent: a GET with only "Content-Type: text/plain" added.
    static QNetworkRequest makeRequest(const QUrl& endpoint);

    // Sends the request and returns at once; the answer is handled when it
    // arrives, and finished() follows.
    void fetchAppInfo();

    // Shows the notice and, if the user confirms, opens the record's address.
    void showUpdateAlert(const AppInfo& info);

signals:
    // Once per fetchAppInfo(), when its answer has been dealt with, whatever
    // the outcome (after the notice was closed, if one was shown).
    void finished();

private:
    void onReplyFinished(QNetworkReply* reply);
    std::optional<AppInfo> appInfoFrom(QNetworkReply& reply) const;
    bool isNewerThanRunning(const AppInfo& info) const;
    void openPage(const QString& address);

    QNetworkAccessManager& m_network;
    UpdateNotice& m_notice;
    UrlOpener& m_opener;
    QUrl m_endpoint;
    QString m_buildNumber;
    QList<QPointer<QNetworkReply>> m_pending;
};
