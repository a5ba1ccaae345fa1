#pragma once

#include "AppInfo.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// Asks the update service once for the newest build and, when it is newer
// than the running one, offers the update page. Lives on the GUI thread, like
// the network manager it is given, so the answer and the notice arrive there.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    // Shows the notice with the service's message and returns once it is
    // closed: true when the user chose to open the page.
    using AskToOpen = std::function<bool(const QString& message)>;
    // Hands a web address to the browser; false when it could not.
    using OpenUrl = std::function<bool(const QUrl& url)>;
    // Tells the user, in a sentence and a piece of advice, that the page
    // they asked for did not open.
    using TellProblem = std::function<void(const QString& sentence, const QString& advice)>;

    // The largest answer read; a longer one is refused unread.
    static constexpr qint64 kMaxAnswerBytes = 64 * 1024;

    // The endpoint and the running build number default to the values the
    // build was configured with; tests give a loopback server and chosen builds.
    UpdateCheck(QNetworkAccessManager& network, AskToOpen askToOpen, OpenUrl openUrl, TellProblem tellProblem,
                QUrl endpoint = defaultEndpoint(), QString buildNumber = defaultBuildNumber(),
                QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Empty when the build was configured without an update address.
    static QUrl defaultEndpoint();
    static QString defaultBuildNumber();

    // How long a transfer may stay silent before it is given up.
    static constexpr int kTransferTimeoutMs = 60 * 1000;

    // The request as sent: a GET with only "Content-Type: text/plain" added.
    static QNetworkRequest makeRequest(const QUrl& endpoint, int transferTimeoutMs = kTransferTimeoutMs);

    // Tests wait less than a minute for a silent server.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

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
    // What has arrived of one answer.
    struct Answer {
        QPointer<QNetworkReply> reply;
        QByteArray body;
        bool tooLarge = false;
    };

    void onReplyFinished(QNetworkReply* reply);
    // Takes what arrived, or aborts the reply once it is over the limit.
    void collect(QNetworkReply* reply);
    void refuseIfLarger(QNetworkReply* reply, qint64 size);
    std::optional<AppInfo> appInfoFrom(QNetworkReply& reply, const Answer& answer) const;
    bool isNewerThanRunning(const AppInfo& info) const;
    void openPage(const QString& address);
    void tell(const QString& sentence, const QString& advice);

    QNetworkAccessManager& m_network;
    AskToOpen m_askToOpen;
    OpenUrl m_openUrl;
    TellProblem m_tellProblem;
    QUrl m_endpoint;
    QString m_buildNumber;
    int m_transferTimeoutMs = kTransferTimeoutMs;
    QHash<QNetworkReply*, Answer> m_pending;
};
